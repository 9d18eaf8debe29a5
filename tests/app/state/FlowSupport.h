#pragma once
// The rigs of flow's tests: a booted state root over a fixture library, with
// decks whose published cells the test sets by hand (the engine renders only
// when pumped); decoders held or slowed on the set's clock; and whole sets of
// drum records on the fake device, frame by frame.
#include "AppTestSupport.h"
#include "audio/DeckState.h"
#include "support/LibraryFixtures.h"
#include "models/DeckModel.h"
#include "models/TransitionModel.h"
#include "state/ModelKeyLink.h"

#include <QSet>
#include <QStringList>
#include <QUuid>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {
class OutpaintModel;
}

namespace zelvo::test {

struct FlowRig : AppRig {
    // Writes the collection, builds the state root, boots it with an output
    // and links the model key's step to the world.
    explicit FlowRig(const std::vector<TrackRecord>& records, QStringList arguments = {});
    // Puts the record on the deck (a short silent buffer).
    void put(int deck, const TrackRecord& record);
    // The deck's published cells.
    DeckState& cells(int deck);
    // Sets what the deck's voice publishes.
    void publish(int deck, bool playing, double position, double duration);
    // Advances the clock by `seconds` and runs one tick.
    void after(double seconds);
    // Lines the supervisor was given, without their prefix.
    QStringList notes() const;

    AppModel& model;
    FakeAIStep aiStep{world};
};

// A deck decoder that decodes as the program does but holds the decode of
// chosen files until released, as a very slow disk would: hand `decoder()` to
// a deck.
class HeldDecode {
public:
    explicit HeldDecode(QString path);
    explicit HeldDecode(QStringList paths);
    // Lets every decode go, now and later, so no worker waits past the test.
    ~HeldDecode();
    DeckModel::Decoder decoder() const;
    // True while a decode of a held file waits to be released. Any thread.
    bool holding() const;
    // Lets the decodes waiting now go; later decodes of the files wait again.
    void release();

private:
    struct State;
    std::shared_ptr<State> state_;
};

// A disk on the set's clock: each decode through `decoder()` waits until the
// set has played for a delay `delay()` draws when the disk first sees the
// decode, as a slow disk or a long file would keep it.
class SlowDisk {
public:
    explicit SlowDisk(std::function<double()> delay);
    // Lets every decode go, now and later, so no worker waits past the test.
    ~SlowDisk();
    DeckModel::Decoder decoder() const;
    // At set time `now`: gives each decode that has begun since the last call
    // its time to land, and lets go those whose time has come. Main thread.
    void advance(double now);
    // Decodes waiting on the disk. Any thread.
    int waiting() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// --- Whole sets on the fake device, frame by frame.

// The device and the records play at a low rate: flow works in seconds and
// beats, whatever the rate, and minutes of set then render in a fraction of
// the time a real device's rate takes on a sanitized build.
constexpr double kSetRate = 16000.0;

// A file named "<title>@<bpm>.wav" has a grid at that tempo, else 120 bpm.
LibraryStore::AnalysisOutcome fixedGrid(const QString& path);

// The deck's voice reports playing.
bool playing(AppModel& app, int deck);

// Plays one frame of 1/60 s. A render in flight or a deck decoding (but for a
// decode `held` holds) is waited for with the clock held: the program plays on
// meanwhile, so a loaded machine must not make either look slow.
void playFrame(AppRig& rig, AppModel& app, OutpaintModel* outpaint = nullptr, const HeldDecode* held = nullptr);

// Lines the supervisor was given, without their prefix.
QStringList notesOf(const AppRig& rig);

// One completed or abandoned timed mix.
struct Mix {
    int to = 0;
    bool ended = false;
    bool completed = false; // ended at the incoming deck's side, without a note
    double last = 0.0;
    bool monotonic = true;
    std::optional<TrackRecord> incoming; // what the incoming deck held at the end
};

// Follows every timed mix: where it was going, its progress, how it ended.
void watchMixes(AppModel& app, std::vector<Mix>& mixes);

// How a set's drum records are written: in stereo, each beat drawn; or in
// mono, one bar drawn and laid end to end, which minutes of records need.
enum class Drums { drawn, barByBar };

// Writes a mono drum record of `seconds` at `bpm`, its first bar laid end to
// end (each bar starts on its own frame, so the grid holds to the end).
void writeBarByBar(const QString& path, double bpm, double seconds, double sampleRate);

// Writes drum records named "<title>@<bpm>" (`seconds` long) into the music
// folder, imports them and waits for their grids.
std::vector<TrackRecord> importRecords(AppRig& rig, AppModel& app, const std::vector<QString>& names,
                                       const std::vector<double>& seconds, Drums drums = Drums::drawn);

AppModel& bootOnTheFakeDevice(AppRig& rig);
// The same, the records' grids read from their names.
AppModel& bootWithGrids(AppRig& rig);

// Loads the record and waits until it has landed.
void loadAndWait(AppModel& app, int deck, const TrackRecord& record);

// A model key whose long press calls the render off, as the program's does.
class CancellingKey final : public ModelKeyLink {
public:
    explicit CancellingKey(FakeWorld& world) : world_(world) {}
    void cancel() override;

private:
    FakeWorld& world_;
};

// A booted program with its records imported, every mix followed and the
// master's silence measured; decks start through their voices, so no hand is
// on a control.
struct SetRig {
    SetRig(const std::vector<QString>& names, const std::vector<double>& seconds, std::int64_t bars,
           Drums drums = Drums::drawn);

    const TrackRecord& operator[](std::size_t i) const { return records.at(i); }

    // The master's peak over the last render; 0 while the output is restarted.
    double masterPeak() const;

    // One frame; the master below -60 dBFS counts as silence. With a `disk`
    // set, decodes take its set time and each frame waits only until every
    // decode has reached it or landed.
    void frame(const HeldDecode* held = nullptr);

    // Plays `seconds` and returns the longest silence that began in them.
    double longestSilenceOver(double seconds);

    // Plays until `done` holds (true) or `seconds` have passed (false).
    bool playUntil(const std::function<bool()>& done, double seconds, const HeldDecode* held = nullptr);

    // A mix onto the record has completed.
    bool mixedIn(const TrackRecord& record) const;
    // What each mix that ended left on its incoming deck.
    std::vector<QUuid> incoming() const;

    QStringList notes() const { return notesOf(rig); }
    std::string log() const { return notes().join(QLatin1Char('\n')).toStdString(); }

    // The first record on deck 1 and the second on deck 2, both landed.
    void loadBoth();
    // Both records landed, the third queued, deck 1 playing from 20 s and flow
    // on for 2 s.
    void flowFromTwentySeconds();
    // The first record loaded on deck 1 and played from its start, the second
    // and third queued, flow on: plays until the transition's phase is
    // `phase` onto deck `to`, for at most `seconds`.
    bool flowUntilMixPhase(TransitionModel::Phase::Kind phase, int to, double seconds);
    // Starts the deck through its voice (from `from` seconds): no hand.
    void play(int deck, double from = 0.0);

    // Every deck decodes through a disk on the set's clock, each decode taking
    // `delay()` seconds of set time.
    void useSlowDisk(std::function<double()> delay);
    // Moves the output to a card at another rate (44.1 against 48 kHz) and
    // waits until the new output runs; the decks reload for its rate.
    void moveToTheOtherRate();
    // No load has landed on the deck since the output's last render: its
    // published cells describe the record it shows.
    bool readable(int deck) const { return !landed_[std::size_t(deck)]; }

    // Key-locked decks render ahead with the worker's rounds run after each
    // render, as on the user's machine but in a known place.
    void renderAheadByHand();

    AppRig rig;
    AppModel& app;
    std::vector<TrackRecord> records;
    std::vector<Mix> mixes;
    double played = 0.0;
    double silentFor = 0.0;
    // Decodes on the set's clock, when set (every deck's decoder).
    std::shared_ptr<SlowDisk> disk;
    // Frames the output leaves unrendered from the next one on, as a late
    // render does; the time is rendered at once after.
    int renderLate = 0;

private:
    std::array<bool, 4> landed_{};
    bool aheadByHand_ = false;
    const void* aheadEngine_ = nullptr;
    double owed_ = 0.0;
};

} // namespace zelvo::test
