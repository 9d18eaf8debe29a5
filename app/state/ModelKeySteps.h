#pragma once
// The model key's steps and texts, flow mode's status line and the mix page's
// guide as pure functions of one reading of the models they depend on. The
// state root takes the reading (`AppModel::stepInputs`) on every read, so
// every screen, the state dump and flow mode get the same answers.
//
// Any thread (the functions touch nothing but their arguments).
#include "state/AppLinks.h"
#include "state/ModelKeyLink.h"
#include "library/TrackRecord.h"
#include "models/DropWorkflow.h"
#include "models/TransitionModel.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace zelvo::keysteps {

// What one deck's voice publishes, with the deck's record.
struct DeckReading {
    std::optional<TrackRecord> track;
    // Whether the deck plays, as the room hears it (the deck's reading).
    bool playing = false;
    // The reading's position in seconds.
    double position = 0.0;
};

struct Inputs {
    QDateTime now;
    // The supervisor, the account and the download.
    BrainStatus status = BrainStatus::of(BrainStatus::Kind::checking);
    std::optional<BrainHealth> health;
    QString key;
    KavriAccount::Check check;
    ModelKeyLink::Download download;
    // The workflow.
    OutpaintPhase phase;
    bool readyMix = false;
    bool pendingIsExtension = false;
    std::optional<TrackRecord> bridging;
    std::int64_t stretchesWritten = 0;
    DropStatus drop = DropStatus::refused({});
    std::optional<QString> model = QStringLiteral("zelvo-0");
    // Decks 1 and 2 as their voices publish them, and deck 1's live snapshot.
    std::array<DeckReading, 2> decks;
    bool deckOneLivePlaying = false;
    // The transition.
    TransitionModel::Phase transition;
    // A mix waiting for its downbeat as the transition reads it on its own
    // clock; without it the guide counts from the outgoing deck's position.
    std::optional<TransitionModel::Wait> wait;
    std::optional<QString> note;
    QDateTime noteExpires;
    int liveDeck = 0;
    // The state root.
    bool directOuts = false;
    bool autoQueue = false;
    QDateTime handsOnAt;
    QDateTime liveSince;
    std::int64_t stretchesAtLive = 0;
    // The first queued record the library still holds, passing over records
    // on air, on the live deck or on a deck that plays.
    std::optional<TrackRecord> nextQueued;
    // Flow mode: the deck the set is on (`AppModel::setDeck`), whether its
    // record was heard and has stopped, and what
    // flow brings in next (the idle deck's record, the cue being loaded or the
    // next queued record).
    int setDeck = 0;
    bool liveEnded = false;
    std::optional<TrackRecord> comingIn;
    std::optional<QString> hint;
    QDateTime hintUntil;
};

// A computed number made whole toward zero: a non-finite value gives 0 and the
// result stays within the range of int.
int wholeOf(double value);
// Seconds as "m:ss", the fraction dropped; negative clocks count as 0.
QString clockText(double seconds);

AIStep step(const Inputs& in);

// What the key's tap does in the current step.
enum class Tap { nothing, openSettings, installBrain, wake, fork, dropMix, drop, mixToDeckTwo, extend };
Tap tapAction(const Inputs& in);
// What the long press (or Shift-tap) does, whatever the step.
enum class Press { nothing, cancel, reroll };
Press pressAction(const Inputs& in);

QString title(const Inputs& in);
QString detail(const Inputs& in);
QString modelStatus(const BrainStatus& status);
QString modelLine(const Inputs& in);
QString brainSize(const KavriAccount::Check& check);
QString downloadDetail(const Inputs& in);
std::optional<QString> installedModel(const std::optional<BrainHealth>& health, const QString& name);
QString flowLine(const Inputs& in);
QString guide(const Inputs& in);

} // namespace zelvo::keysteps
