#pragma once
// Timed automatic mixes between deck 1 and deck 2 (indices 0 and 1). Asked to
// mix to one of them (the incoming deck), it starts that deck in step with the
// other (the outgoing deck), waits for the outgoing deck's next phrase boundary,
// then for `bars` bars drives the crossfader, the channels' low bands, the
// colour effect and the beat effect along the curve of the chosen style, and at
// the end leaves the incoming deck as tempo master with the crossfader on its
// side, putting back the mixer state it changed.
//
// Progress is measured on the transition clock, a deck's playhead, not on wall
// time: the automation follows the music. A loop, seek or beat jump back on the
// deck that drives the clock moves it back with the music (progress falls back,
// clamped at 0; a mix completes only when the clock reaches its start plus its
// length), and a beat jump before the downbeat moves the wait with it. The one
// jump the clock does not follow is a take swapped in under a deck: the swap's
// own offset is added back, so progress runs on across it. When the deck that
// drives the clock stops and the other takes over, the clock carries on from
// where it stood.
//
// An incoming deck that stops mid-mix (a hand pauses it, a record is loaded
// over it, it plays out or does not start again) while the outgoing deck plays
// calls the mix off at once: the outgoing record is back on air at full level
// (the crossfader at its end, the mixer as before the mix), rather than faded
// down to a deck that stands. A record loaded over the incoming deck before the
// mix has started it calls the mix off the same way: the start the mix asked
// for (in phase, or the take's drop) is taken back as the load begins, so it
// never starts the new record, which stands on the deck as loaded.
//
// A downbeat that lies beyond the end of the outgoing record's music would
// never come: in the record's last four bars such a mix begins (at the last bar
// line that leaves four bars, or at once when that has passed). Every mix is
// cut to the outgoing music left when it begins (none when the outgoing record
// has played out: the incoming deck comes up at once), so the incoming deck is
// up when the outgoing one ends.
//
// A 1/60 s frame timer runs only while a mix is in progress.
//
// The style and the length persist in the user defaults ("mix.style",
// "mix.bars"). Short status notes ("YOU TOOK OVER") show for 3 s.
//
// Main thread only.
#include "audio/BeatFX.h"
#include "audio/ColorFX.h"
#include "audio/DeckState.h"
#include "models/TransitionStyle.h"
#include "platform/Scheduler.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUuid>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class DeckModel;
class DeckVoice;
class DirectOutsSource;
class DropWorkflow;
class MixerModel;
class MixerParams;
class UserDefaults;

class TransitionModel final : public QObject {
    Q_OBJECT

public:
    // Where a transition stands. `to` is the incoming deck (0 or 1); `value` is
    // the downbeat time on the transition clock while waiting for it, and the
    // progress 0…1 while mixing.
    struct Phase {
        enum class Kind { idle, starting, waitingDownbeat, mixing };
        Kind kind = Kind::idle;
        int to = 0;
        double value = 0.0;

        static Phase idle() { return {}; }
        static Phase starting(int to) { return {Kind::starting, to, 0.0}; }
        static Phase waitingDownbeat(int to, double at) { return {Kind::waitingDownbeat, to, at}; }
        static Phase mixing(int to, double progress) { return {Kind::mixing, to, progress}; }

        friend bool operator==(const Phase& a, const Phase& b)
        {
            return a.kind == b.kind && (a.kind == Kind::idle || (a.to == b.to && a.value == b.value));
        }
    };

    // Why the last mix ended: it completed, the user called it off (a second
    // `mix`), a hand moved the crossfader, a deck stopped before the downbeat,
    // the incoming deck could not be started, flow ended a mix no deck played
    // any more, or the incoming deck stopped mid-mix while the outgoing one
    // played on. Set before the phase returns to idle.
    enum class Ending { none, completed, calledOff, tookOver, deckStopped, couldNotStart, stalled, incomingStopped };

    // A mix waiting for its downbeat, read on the transition clock: where the
    // clock stands, when the mix begins and whether that is the phrase downbeat
    // (false when the record ends first and the mix begins before it).
    struct Wait {
        double clock = 0.0;
        double begins = 0.0;
        bool onPhrase = true;
    };

    // What the state root hands the model: decks 1 and 2, the mixer, the drop
    // of the generation workflow, the output setup, and where a hand on the
    // crossfader is reported.
    struct Links {
        std::array<DeckModel*, 2> decks{nullptr, nullptr};
        MixerModel* mixer = nullptr;
        DropWorkflow* outpaint = nullptr;
        const DirectOutsSource* audio = nullptr;
        std::function<void()> handsOn;
    };

    static constexpr double kFrameInterval = 1.0 / 60.0;
    static constexpr double kNoteLife = 3.0;
    // A crossfader further than this from where the model left it means the user took over.
    static constexpr double kHandTolerance = 0.02;
    static constexpr double kShortestMix = 0.1;
    static constexpr std::int64_t kDefaultBars = 32;
    static constexpr std::int64_t kLongestPhrase = 16;
    // A deck this close to the end of its audio has played out: it cannot be
    // started, and its playhead moves no more.
    static constexpr double kPlayedOut = 0.05;
    // Bars of the outgoing record's music within which a mix whose downbeat
    // lies beyond its end begins anyway.
    static constexpr double kLastBars = 4.0;
    // Bars an incoming deck may stay stopped past when it should have started
    // before the mix starts it in phase itself, and as many again before the
    // mix ends.
    static constexpr double kStartGraceBars = 2.0;
    // The bars a mix waits for a record loading onto its incoming deck.
    static constexpr double kLandingWaitBars = 8.0;

    // Reads the style and length from `defaults` (and writes them back). Main thread.
    TransitionModel(UserDefaults& defaults, Scheduler& scheduler, QObject* parent = nullptr);
    ~TransitionModel() override;

    // Hands the model what it acts on; without links every operation does nothing.
    // Main thread.
    void setLinks(Links links);
    void clearLinks();

    // The curve family; every assignment is written to "mix.style". Main thread.
    TransitionStyle style() const { return style_; }
    void setStyle(TransitionStyle style);
    // Length of the mixing phase in bars; every assignment is written to "mix.bars".
    std::int64_t bars() const { return bars_; }
    void setBars(std::int64_t bars);

    const Phase& phase() const { return phase_; }
    // The last status note, shown until `noteExpires`.
    const std::optional<QString>& note() const { return note_; }
    const QDateTime& noteExpires() const { return noteExpires_; }
    Ending lastEnding() const { return ending_; }
    // While waiting for the downbeat, the wait as the next frame reads it;
    // nothing in any other phase.
    std::optional<Wait> waiting() const;

    // The deck the crossfader favours: 1 when it leans to deck 2, else 0. Main thread.
    int liveDeck() const;
    // Starts a mix to deck `to` (0 or 1), or calls off the running one. Main thread.
    void mix(int to);
    // A mix that no deck plays stands still for good: its clock moves no more.
    // Ends one in its mixing phase while neither deck plays: onto the incoming
    // deck (crossfader at its end, tempo master) when the outgoing record has
    // played out or its deck holds nothing, else called off where it stands;
    // either way the saved mixer state is put back. One still starting, its
    // incoming deck never started, is called off. Returns whether it ended a
    // mix. Main thread.
    bool endStalled();

signals:
    void styleChanged();
    void barsChanged();
    void phaseChanged();
    void noteChanged();

private:
    struct Saved {
        std::array<double, 4> lows{};
        std::array<double, 4> colorFX{};
        ColorFXKind colorKind = ColorFXKind::filter;
        BeatFXKind fxKind = BeatFXKind::echo;
        int fxTarget = 0;
        int fxBeats = 2;
        bool fxOn = false;
        double fxLevel = 0.6;
    };

    void tick();
    // Deck `deck` began loading or took a record: a mix still starting that
    // deck takes back its start at once when the record is not the mix's.
    void incomingChanging(int deck);
    // The incoming deck holds, or is loading, a record other than the one it
    // held or was loading when the mix began.
    bool loadedOver(int to) const;
    void stepStarting(int to);
    void stepWaiting(int to, double at);
    void stepMixing(int to);
    void apply(int to, double p);
    void finish(bool restore, std::optional<int> snapTo, Ending why);
    // Asks the engine to start the incoming deck: deck 2's take by its drop
    // while deck 1 plays and the take may drop in, else in phase.
    void askStart(int to);
    void startTimer();
    void stopTimer();
    void setPhase(const Phase& phase);
    void setNote(std::optional<QString> note);

    bool deckPlaying(int deck) const;
    // The incoming deck, stopped beside a settled outgoing deck, should be
    // playing by now: no armed drop still waits for deck 1 to reach its point.
    bool startDue(int to) const;
    // Whether the deck reads as stopped: not playing, not loading.
    bool deckStopped(int deck) const;
    // Whether the deck stands at the end of its audio (see kPlayedOut).
    bool deckPlayedOut(int deck) const;
    double deckPosition(int deck) const;
    DeckState::Timeline deckTimeline(int deck) const;
    bool outgoingDrivesClock(int to) const;
    // The transition clock, in seconds: the outgoing deck's playhead while that
    // deck has a grid and plays, else the incoming deck's, followed through
    // every move (loops, seeks, jumps back) but a swap, whose offset it adds
    // back; on a change of source it carries on from where it stood.
    double clock(int to);
    // Starts the clock on its source's playhead and returns that time.
    double resetClock(int to);
    // The clock as `clock` would read it now, without moving it.
    double clockReading(int to) const;
    // Whether deck `deck`'s `voice`, read as `t`, has published its position
    // since it took its track.
    bool voicePublished(int deck, const std::shared_ptr<DeckVoice>& voice, const DeckState::Timeline& t) const;
    // Seconds of music left on the outgoing deck's playhead when it drives the
    // clock; nothing otherwise.
    std::optional<double> outgoingMusicLeft(int to) const;
    // Seconds of music left on the outgoing deck's playhead, playing or not;
    // without a voice, no end is known (infinity).
    double musicLeftOutgoing(int to) const;
    // The music left on `deck`'s voice, to the record's music end.
    double musicLeftOn(int deck) const;
    // The music left on the incoming deck when it is a short record the mix
    // must leave room to be heard: infinity for a deck that does not play,
    // loops, holds a take, or has less than eight bars left.
    double shortIncomingLeft(int to) const;
    // Four bars of the incoming deck's grid: what a short incoming record is
    // left at full level at the least.
    double incomingMargin(int to) const;
    // The downbeat `at`, or the outgoing deck's next bar line when waiting for
    // `at` would leave a short incoming record less music than the mix and
    // four bars (then `startTime_` and `movedToBar_` say so).
    double downbeatForShortIncoming(int to, double at, double now);
    // The clock time of the outgoing deck's next bar line; `now` on a bar
    // line, or when the clock does not follow the outgoing deck's grid.
    double nextBarLine(int to, double now) const;
    // When the downbeat `at` lies beyond the outgoing record's music: the clock
    // time at which the mix begins instead (see the rule above), `now` at the
    // latest. Nothing when the downbeat comes while the record still plays.
    std::optional<double> beginsBeforeTheEnd(int to, double at, double now) const;

    UserDefaults& defaults_;
    Scheduler& scheduler_;
    std::optional<Links> links_;

    TransitionStyle style_ = TransitionStyle::bassSwap;
    std::int64_t bars_ = kDefaultBars;
    Phase phase_;
    std::optional<QString> note_;
    QDateTime noteExpires_;
    Scheduler::TimerId timer_ = 0;
    double startTime_ = 0.0;
    double lengthSeconds_ = 0.0;
    double xfStart_ = 0.0;
    double lastXF_ = 0.0;
    std::optional<Saved> saved_;
    Ending ending_ = Ending::none;

    // Which deck played when the incoming deck was found playing: only a deck
    // that was playing then can stop and call the mix off.
    std::array<bool, 2> playedAtStart_{false, false};
    // The downbeat was moved from the phrase to a bar line for a short incoming
    // record.
    bool movedToBar_ = false;
    // Since when (scheduler uptime) the incoming deck has been due to play and
    // does not; none while it is not due (see startDue).
    std::optional<double> overdueSince_;
    // The mix has started its late incoming deck in phase itself.
    bool startedInPhase_ = false;
    // The incoming deck's record when the mix began, and the one then loading
    // onto it: the records the mix may start.
    std::optional<QUuid> startsRecord_;
    std::optional<QUuid> startsLoading_;
    // A load over the incoming deck began while the mix was starting it.
    bool loadedOverSeen_ = false;
    // The mix began while another record was loading onto its stopped
    // incoming deck: that record is the one it brings in, started in phase
    // once it lands, and nothing is asked of the engine before. Should the
    // load fail or be called off, the deck's record is started as below.
    bool startOnLanding_ = false;
    // How long the mix has waited for that record while the output ran,
    // and the frame it last did; it ends past kLandingWaitBars.
    double landingWaited_ = 0.0;
    std::optional<double> landingSeen_;
    // The mix is starting its incoming deck itself: a record that start puts
    // on the deck (a ready fork) is not a load over it.
    bool startingItself_ = false;
    // The decks' load and record signals, while linked.
    std::vector<QMetaObject::Connection> deckWatch_;
    // The mixer's cells when the mix began: a new output since (a restart)
    // leaves decks between two states for a while, which holds the start
    // rather than ending it.
    std::weak_ptr<MixerParams> startedOn_;
    // The clock's current source (true: the outgoing deck), that source's
    // playhead plus swap shift at the last reading, and the clock's value.
    bool clockFromOutgoing_ = false;
    // The voice the clock reads, compared by owner: never mistaken for a new one.
    std::weak_ptr<DeckVoice> clockVoice_;
    double clockLast_ = 0.0;
    double clockValue_ = 0.0;
    // Each deck's voice as the clock last found it loaded, and the timeline
    // writes from which it has published a position since its track came.
    struct VoiceSeen {
        std::weak_ptr<DeckVoice> voice;
        std::int64_t settledAt = 0;
    };
    std::array<VoiceSeen, 2> voicesSeen_{};
};

} // namespace zelvo
