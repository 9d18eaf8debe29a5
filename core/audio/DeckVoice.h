#pragma once
// One deck on the real-time audio thread: owns the playing track buffer, the
// transport, cues, hot cues, loops, slip, jog and sync state, and a time-pitch
// unit for key shift and key lock. The main thread talks to it only through
// `send` (a command ring drained at the start of each render), the `tempo` and
// `keyShift` cells, and the published `state`. Replaced buffers come back through
// a ring of retired buffers that the main thread empties; the audio thread never
// frees memory, never drops the last reference to a buffer, and never waits.
#include "audio/AheadRing.h"
#include "audio/AtomicCells.h"
#include "audio/DeckCommand.h"
#include "audio/DeckState.h"
#include "audio/HostedUnit.h"
#include "audio/HostedUnitSource.h"
#include "audio/SPSCQueue.h"
#include "library/BeatGrid.h"
#include "library/TrackBuffer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

// The transport of a deck on the audio thread, as one value: position, play,
// cues, hot cues, loop, modes, jog, grid. Positions are in frames of the
// engine's rate; −1 marks an empty hot cue or an unset loop point. A copy of
// the deck takes it whole, so a field added here is never left behind; one
// that holds frames is also scaled in `scaled`.
struct DeckTransport {
    // The same transport with every position (frames) multiplied by
    // `factor`, the empty marks kept: 1 / rate gives it in seconds, free of
    // any rate, and a rate gives it back in frames of that rate.
    DeckTransport scaled(double factor) const;
    // What a deck that stands instead of playing on keeps: no play, and no
    // control held (a preview, a pad, the platter).
    void stand();

    BeatGrid grid_{120.0, 0.0, 4};
    bool hasGrid_ = false;
    double pos_ = 0.0;
    // Frames by which swaps and take-overs moved pos_ back from the music
    // heard, summed (published as `swapShift`).
    double swapShift_ = 0.0;
    double slipPos_ = 0.0;
    bool playing_ = false;
    bool cueing_ = false;
    bool cueLatch_ = false;
    int hotCueHeld_ = -1;
    double cuePoint_ = 0.0;
    std::array<double, DeckState::kHotCues> hotCues_{-1, -1, -1, -1, -1, -1, -1, -1};
    double loopStart_ = -1.0;
    double loopEnd_ = -1.0;
    bool loopActive_ = false;
    bool slip_ = false;
    bool reverse_ = false;
    bool quantize_ = true;
    bool keyLock_ = true;
    bool vinyl_ = true;
    bool jogTouched_ = false;
    double scrubTarget_ = 0.0;
    double scrubSpeed_ = 0.0;
    double bend_ = 0.0;
    // Counts the cue changes the deck made itself (the CUE button, an empty
    // hot cue pad, a swap).
    std::int64_t cueRevision_ = 0;
};

class DeckVoice final : public HostedUnitSource, private DeckTransport {
public:
    static constexpr int kCommandCapacity = 512;
    static constexpr int kRetiredCapacity = 64;

    // Builds the voice and its time-pitch unit (without one, key shift and key
    // lock have no effect). Main thread.
    DeckVoice(double sampleRate, int maxFrames);
    // Releases the playing buffer, the buffers still carried by queued commands
    // and every retired buffer. Never on the audio thread; the audio thread must
    // have stopped using the voice.
    ~DeckVoice();
    DeckVoice(const DeckVoice&) = delete;
    DeckVoice& operator=(const DeckVoice&) = delete;

    // Queues a command for the next render. False when the ring is full: the
    // command is lost, and a buffer it carried is released here. Main thread only
    // (the ring has one producer).
    bool send(const DeckCommand& command);
    struct Asked {
        bool loaded = false;
        bool playing = false;
        double position = 0.0; // seconds
    };
    // The transport the deck was last asked for: the published state with the
    // play, pause, load, swap, take-over, seek and cue commands sent since,
    // and not yet carried out, applied in order (the last 64 commands sent
    // are looked at). A reading ahead of the render: the state may already
    // be newer than the commands counted as waiting. Once the voice no
    // longer renders, `askedOnceStopped` is exact. Main thread.
    Asked asked() const;
    // The transport the deck was last asked for, exactly, once nothing renders
    // the voice again (its output stopped and its audio thread joined): the
    // state of the last render with every command sent since carried out in
    // order, by the voice's own command handling, on a copy of its transport.
    // The commands move from the ring to that copy, so later calls go on
    // from there. Main thread, and only once no thread renders the voice; the
    // voice is never rendered after. A voice a running output still renders
    // is refused (an assertion in a debug build): the reading ahead,
    // `asked()`, with no command taken.
    Asked askedOnceStopped();
    // Whether a running output renders this voice: set by its engine when
    // the output starts and cleared once it stopped and its I/O thread was
    // joined. Not on the audio thread.
    void setRendered(bool rendered) { rendered_.store(rendered); }
    // The whole transport on that copy as `askedOnceStopped` last left it,
    // in seconds (`DeckTransport::scaled`): what a voice that takes over the
    // deck is handed. The reverse flag stays behind: a new voice plays
    // forward. The default transport before the first call. Main thread.
    DeckTransport handoverOnceStopped() const;
    // Hands this voice the transport of the voice it replaces (in seconds),
    // carried out after every command sent before it (the buffer the record
    // is installed with among them), then `since` and the commands kept
    // while it awaited the handover (`awaitHandover`), in the order they
    // were sent. The deck's own counts (its cue changes, the swaps' shift)
    // stay the voice's. False when the handover could not be queued: the
    // kept commands are sent all the same. Main thread.
    bool handOver(const DeckTransport& seconds, const std::vector<DeckCommand>& since = {});
    // The voice holds no record of the deck's yet (it decodes again): from
    // now until a buffer-carrying command, each command sent is carried out
    // as usual and also kept, to be carried out again after the handover.
    // Main thread.
    void awaitHandover();
    bool awaitingHandover() const { return awaiting_; }
    // Ends the wait without a handover; returns the commands kept. Main
    // thread.
    std::vector<DeckCommand> stopAwaiting();
    // Releases the buffers the audio thread retired; returns how many. Main thread
    // only (the retired ring has one consumer).
    int releaseRetiredBuffers();
    // How many commands were sent so far (the voice's `commandsTaken` reaches
    // it once it has carried them all out). Main thread.
    std::int64_t commandsSent() const { return sent_; }

    // Published state. Any thread reads.
    const DeckState& state() const { return state_; }
    // Tempo ratio the user set (1.0 = the track's own tempo). Written by the main
    // thread, read by the audio thread.
    AtomicDouble& tempo() { return tempo_; }
    // Key shift in semitones. Written by the main thread, read by the audio thread.
    AtomicDouble& keyShift() { return keyShift_; }

    // Renders exactly `frames` (≤ maxFrames) of the deck's pre-fader output into
    // `left` and `right`, after carrying out the queued commands. Audio thread.
    void render(int frames, float* left, float* right);

    // Park at `seconds`, stopped. Audio thread (the mix engine), before render.
    void rtCue(double seconds);
    // Jump to `seconds` and play (when a buffer is present). Audio thread.
    void rtDropIn(double seconds);
    // Start playing, at the point of the deck's nearest bar that matches
    // `barFraction` of a bar, or in place without one (or without a grid). Audio
    // thread.
    void rtStartAligned(std::optional<double> barFraction);
    // Speed factor from tempo sync (1.0 = none). Audio thread.
    void setSyncCorrection(double factor) { syncCorrection_ = factor; }

    // Readings for the mix engine. Audio thread only: they read plain fields.
    double liveBPM() const { return hasGrid_ ? grid_.bpm * tempo_.load() : 0.0; }
    std::optional<BeatGrid> gridSnapshot() const { return hasGrid_ ? std::optional<BeatGrid>(grid_) : std::nullopt; }
    const BeatGrid& grid() const { return grid_; }
    bool hasGrid() const { return hasGrid_; }
    double positionFrames() const { return pos_; }
    double positionSeconds() const { return pos_ / sampleRate_; }
    // The position heard next: the read head less what the time-pitch unit holds
    // and its latency (what `state().position` publishes after each render).
    double heardFrames() const;
    double heardSeconds() const { return heardFrames() / sampleRate_; }
    // Playing (a deck on the time-pitch unit playing out its track's end included).
    bool isPlaying() const { return playing_; }
    bool isLoaded() const { return buffer_ != nullptr; }
    double syncCorrection() const { return syncCorrection_; }

    double sampleRate() const { return sampleRate_; }
    int maxFrames() const { return maxFrames_; }
    // The time-pitch unit's latency in frames (0 without a unit). Any thread.
    double timePitchLatencyFrames() const { return timePitchLatencyFrames_; }
    bool hasTimePitch() const { return timePitch_ != nullptr; }
    // The slice parity (0 or 1) in which the time-pitch unit does its heavy work:
    // after rendering such a slice it gets the next slice's output ready, so the
    // slice between costs almost nothing. −1: the unit works only when its output
    // runs out. The mix engine gives neighbouring decks different parities, so
    // their stretchers' bursts never meet in one slice. Main thread, before the
    // first render.
    void setWorkPhase(int phase) { workPhase_ = phase == 0 || phase == 1 ? phase : -1; }
    int workPhase() const { return workPhase_; }

    // HostedUnitSource: the time-pitch unit's input. Audio thread, inside render.
    void provide(int frames, float* left, float* right) override;

    // Render-ahead. The time-pitch unit moves to a worker thread for good: the
    // audio thread reads the unit's input itself, queues it in a ring with
    // requests for the output two renders ahead, and takes the unit's output from
    // a second ring that the worker (`serviceAhead`) keeps filled ahead of it; the
    // worker makes the unit calls a render on the audio thread would, so the
    // sound is the same. Transport and commands stay on the audio thread and
    // take effect at the next render as before. The input queued at the start of
    // a unit run carries a lead (`aheadLeadFrames`) so the worker can run ahead;
    // a render whose output is not ready plays silence for what is missing,
    // counts it (`aheadDryBlocks`) and skips that much output later, so the deck
    // stays on time. Main thread, before the first render (or while nothing
    // renders); false, and nothing changes, without a unit that can be fed.
    bool enableRenderAhead();
    // Takes the unit back for the audio thread. Main thread, while nothing
    // renders and no worker services the voice.
    void disableRenderAhead();
    bool rendersAhead() const { return ahead_ != nullptr; }
    // Runs the unit over the queued input into the output ring, as far as both
    // allow, finishing at most `renders` of the queued renders (so a worker
    // serving several voices can give each its next render before any its
    // later ones); true when it did anything. The worker thread (one at a
    // time), or a test's thread between renders.
    bool serviceAhead(int renders = std::numeric_limits<int>::max());
    // The most frames the device asked for back to back lately (a burst of
    // slices; 0 or the slice length for a device that asks once per period):
    // the worker is asked for output at least two of these ahead
    // (`aheadHorizonFrames`), and a new unit run's start pad lasts at least
    // one. `burst`: the frames of the device's burst under way, this slice's
    // included (0: not known, the span stands for it): how long the worker
    // can be kept from the voice's work without having stalled. Audio thread
    // (the mix engine), before render.
    void setAheadSpan(int frames, int burst = 0);
    // `runs` unit runs began in the slice just rendered (this voice's among
    // them): the worker makes all their first output in the same time, so a
    // run's start pad grows with their number (`aheadStartPadFrames`). Audio
    // thread (the mix engine), after render.
    void shareAheadStart(int runs);
    // The unit run the voice is in on the render-ahead path (a new number for
    // each run). Audio thread.
    std::uint32_t aheadRun() const { return aheadGeneration_; }
    // Whether the run holds before its music: its start pad is over (or ends
    // in a render of `frames`) and it still waits for the worker or for the
    // runs that started with it. Audio thread.
    bool aheadStartHeld() const { return ahead_ && !run_.restart && run_.holding; }
    // Whether a render of `frames` now would end the hold by itself: the
    // output of the render, and of the device's recent burst, is ready, and
    // the start shared with other runs has passed (or the hold has lasted
    // `kAheadMaxHoldSeconds`). Audio thread (the mix engine), before render.
    bool aheadStartReady(int frames) const;
    // Runs that started in the same slice begin their music in the same
    // render, once every one of them is ready: while `wait` is set the run
    // holds even when its own output is ready (`kAheadMaxHoldSeconds` at
    // most). Audio thread (the mix engine), before render.
    // `stalled`: the worker has stalled on one of them (`aheadStartStalled`):
    // the time they hold passes for all of them as for output missed, so
    // they come back on time and in step.
    void waitForPartners(bool wait, bool stalled = false)
    {
        run_.partnersWait = wait;
        run_.partnersStalled = wait && stalled;
    }
    // Whether a render of `frames` now would find the worker stalled on the
    // held run: it has made no more of the run's output for a horizon, and
    // not all of what the render wants. Audio thread (the mix engine),
    // before render.
    bool aheadStartStalled(int frames) const;
    // Renders after a unit run's start pad whose output was not ready in full,
    // and the frames they missed. Any thread.
    std::int64_t aheadDryBlocks() const;
    std::int64_t aheadDryFrames() const;
    // Frames unit runs held in silence after their pads, waiting for the
    // worker's first output (`kAheadMaxHoldSeconds` at most per run): they
    // start that much later, unless the worker stalled meanwhile (that time
    // passes as for output missed). Any thread.
    std::int64_t aheadLateFrames() const;
    // Render requests queued for the worker so far. Any thread.
    std::int64_t aheadRequests() const;
    // What the last render did on the render-ahead path, for tracing a slow
    // slice: whether it started a unit run, the input frames it read from the
    // track into the worker's ring, the render requests it queued and the
    // frames it had to play as silence. Audio thread.
    struct AheadTrace {
        bool newRun = false;
        int inputFrames = 0;
        int requests = 0;
        int dryFrames = 0;
    };
    const AheadTrace& lastAheadTrace() const { return aheadTrace_; }
    // Whether the last render ran the time-pitch unit ahead, so the worker has
    // work: a deck standing still, or playing on the direct path, gives it none.
    // Audio thread.
    bool askedAhead() const { return aheadAsked_; }
    // Whether the last render left nothing ready for the next one (after the
    // start pad): the worker should work now. Audio thread.
    bool aheadBehind() const { return aheadBehind_; }
    // Whether the last render wrote exact silence because the deck stands still:
    // no track, a track too short to read, or stopped, not scratching, with its
    // fade ended. Audio thread.
    bool renderedStill() const { return renderedStill_; }
    // Output frames the worker is asked for past a render, for slices or bursts
    // of `span` frames: two of them, or more to make at least 10.5 ms of audio.
    static int aheadHorizonFrames(int span, double sampleRate);
    // Input frames queued ahead of a render of `frames` at `rate`, at a steady
    // length: the input for the horizon above plus the most the stretcher wants
    // before it makes the next render's output (its window, which grows with
    // the unit's latency at high sample rates). What is heard of a jump that
    // does not start a new unit run comes at most this much later than on the
    // audio thread. Any thread.
    int aheadLeadFrames(int frames, double rate) const;
    // The silence a new unit run starts with when the render-ahead path serves
    // it: whole slices (`span`, the run's longest slice) making at least 5 ms,
    // and 4 ms more for each further run starting in the same slice (`runs`;
    // three or more get at least two slices), so the worker has time for the
    // runs' first output whatever the slice length. The unit's own output
    // starts near silent for about its latency, so a pad of one run's slices
    // within that loses nothing; a longer one (a long period) cuts into it,
    // and the sound then fades in over `kAheadFadeFrames` instead of starting
    // with a step. What runs starting together add is not cut: those runs
    // start that much later, all at once. So is a run whose first output is
    // not ready after its pad (a device's burst, a slow worker): it plays
    // silence and starts late rather than cutting into the music, until the
    // output of its next render and of the device's recent burst is ready
    // (at most `kAheadMaxHoldSeconds`). A worker that makes no more of it
    // for a horizon of that burst has stalled: that costs silence, not time.
    static int aheadStartPadFrames(int span, double sampleRate, int runs = 1);
    static constexpr int kAheadFadeFrames = 256;
    static constexpr double kAheadMaxHoldSeconds = 0.25;
    // The longest start pad that stays inside the unit's near-silent start;
    // a longer one fades the sound in. Any thread.
    int aheadQuietFrames() const;

private:
    // A voice without a time-pitch unit, for `askedOnceStopped`'s copy.
    struct Bare {};
    DeckVoice(double sampleRate, int maxFrames, Bare);
    void copyTransportOf(const DeckVoice& from);
    // Takes over the handed transport (in seconds) queued in `handovers_`.
    // Audio thread, in the command's turn.
    void takeHandover();
    void drain();
    bool apply(const DeckCommand& command);
    void applyCommand(const DeckCommand& command);
    bool replaceBuffer(TrackBuffer* next);
    void publishBufferFacts();
    void cueButton(bool down);
    void hotCuePad(int index, bool down);
    bool diversionActive() const;
    void slipBookkeeping(bool divertedBefore);
    void resetTimePitch();
    // The input the time-pitch unit holds in steady play once it has made a
    // render's output (besides its latency), by the rate it plays at and the
    // length of its renders. It depends on both: the unit makes its output in
    // hops, mostly of a power of two frames, and how renders fall across
    // them (told by the render length's largest power-of-two factor) changes
    // what it holds; it works one way slower than the track's own speed and
    // another faster, so the two sides are never interpolated across.
    // Measured at a few rates and for power-of-two factors of 64 to 1024
    // frames (a smaller one counts as 64, a larger one as 1024), once per
    // sample rate. At each rate the input the unit takes per hop (its hops
    // being 256 to 2048 frames, or 320 and 640) falls well between whole
    // frames: where it is whole or nearly so, the unit's hops fall into step
    // with its input, and it holds another amount than at the rates around,
    // or drifts too slowly for a short run to show its mean.
    static constexpr std::array<float, 5> kHoldRates{0.78f, 0.932f, 1.057f, 1.218f, 1.443f};
    static constexpr int kHoldShortest = 64;
    static constexpr int kHoldLengths = 5; // kHoldShortest, doubling to 1024
    using UnitHolds = std::array<std::array<double, kHoldLengths>, kHoldRates.size()>;
    // At each of kHoldRates, on runs of the unit's own (which leave it
    // reset): measured once per sample rate and kind of unit. Main thread,
    // while nothing renders.
    UnitHolds unitHoldsAtSetUp();
    // What the unit holds at `rate` for each render length, from one run.
    std::array<double, kHoldLengths> measureUnitHolds(float rate);
    // What the audio thread's unit would hold in steady play at `rate`, in
    // renders as long as the voice's longest: the worker's own reckoning once
    // it has seen steady play, else the set-up measurements. Audio thread.
    double steadyUnitHold(float rate) const;
    void start();
    // Stops the deck where the sound is (pause, play pressed while playing):
    // the read head moves back to what was heard, and the time-pitch unit's
    // run, made from the read head ahead of it, is left.
    void stopWhereHeard();
    // A deck stopped or moved off the unit's path: what the unit holds is not
    // heard, and the position heard is the read head from now on. Without
    // `resetUnit` the audio thread's unit is reset only when the deck goes
    // back on it (a scratch, which renders on the direct path meanwhile).
    void leaveUnitRun(bool resetUnit = true);
    // Leaves the unit's run with the read head moved back to what was heard
    // (a playing deck): the next render starts a fresh run from there.
    void leaveRunWhereHeard(bool resetUnit = true);
    // Whether a jump now would be heard later than in steady play: the
    // render-ahead run has more output queued than one slice's horizon
    // (a device's recent burst), so a fresh run from the jump is heard sooner.
    bool freshRunForJump() const;

    // `feedingUnit`: the time-pitch unit's input (on the audio thread or queued
    // for the render-ahead worker). The track's end does not stop the deck
    // there: the input past it reads as a deck stopped at its end would (the
    // sound fading out, the read head standing), while the deck plays on until
    // the unit's output of the end is heard.
    void readSource(int frames, float* left, float* right, double tempoRatio, bool scratching,
                    std::optional<double> speedOverride, bool feedingUnit = false);
    // Reads `frames` of the unit's input, counting what it holds and noting
    // the track's end. Audio thread.
    void readUnitInput(int frames, float* left, float* right);
    // The read head moved off the track's end while the unit played out its
    // lead (a beat jump, a hot cue, a seek, a loop): the run goes on from
    // there, and the unit's output made from the input read past the end is
    // dropped when it comes (`unitDrops_`), so the music heard runs straight
    // into the move, as it does mid-track. At the start of a render on the
    // unit, after its rate is set. Audio thread.
    void leaveEndForMove();
    // Renders `frames` of the unit's output on the audio thread, dropping
    // the stretches due in them; returns the input the output heard stands
    // for.
    double renderUnit(int frames, float* left, float* right);
    // One render call of the audio thread's unit: the input its `frames` of
    // output stand for, at the rates they were made at.
    double renderUnitPart(int frames, float* left, float* right);
    // Output frames of the run that may be taken before the next stretch to
    // drop (all of `most` when none is pending).
    std::int64_t untilDrop(std::int64_t most) const;
    // Whether the stream stands at a stretch to drop.
    bool atDrop() const;
    // Notes `frames` of the run's output stream taken (heard, skipped or
    // dropped); a dropped stretch done leaves the queue.
    void tookOutput(std::int64_t frames, bool dropped);
    // Whether the output so far carries the track's last frame, read by the
    // unit while the deck plays: the deck stops there (`stopAtEnd`).
    bool endHeard() const;
    void stopAtEnd();
    int startPadFor(int runs) const;
    // A render that holds its run past the pad: the frames it holds, the
    // device's burst it counts with, the run's output made so far, how much
    // of it is ready past what is owed, and how much the render wants ready.
    struct HeldRender {
        std::int64_t rest = 0;
        int span = 1;
        // The burst the worker may be kept waiting through: the span, or
        // when the device's calls are known the burst under way or just
        // played.
        int pace = 1;
        std::int64_t made = 0;
        std::int64_t ready = 0;
        std::int64_t want = 0;
        // The run has held as long as any may; the render ends the hold by
        // itself (the output it wants is ready and the start shared with
        // other runs has passed, or the limit is reached).
        bool atLimit = false;
        bool ends = false;
    };
    // The hold a render of `frames` would find before it renders; none when
    // the run does not hold past its pad in it. The engine asks it before the
    // render and the render itself reads it: one reckoning. Audio thread.
    std::optional<HeldRender> heldRender(int frames) const;
    // Whether such a render finds the worker stalled on the held run. Audio
    // thread.
    bool holdFindsStall(const HeldRender& held) const;
    void publish(float peakL, float peakR);
    void renderAhead(int frames, float* left, float* right, float rate, float pitch);
    // The run's reckoning of the lead the worker holds: the input queued
    // for it, the input its render requests asked for (frames by the rate
    // each was asked at), and the top-up for a worker that ran short. With
    // what the worker reports of the output it made, they measure the lead
    // (`aheadLeadShort`). A render works out the next one from the last and
    // commits it whole once its input and requests are queued, so a render
    // that queues nothing leaves it as it was.
    struct AheadLead {
        double queued = 0.0;
        double asked = 0.0;
        // The worker's count of rounds in this run it stopped for input not
        // queued yet, as last seen, and the input the lead gets on top for
        // it: a unit slowed a long way holds more input than the plain lead
        // allows for. The fastest rate the worker ran short at, as it
        // reports it (each shortfall put down to the slowest rate asked
        // from the render it stopped in on): the top-up is part of the lead
        // only while the deck is slower than twice that.
        std::uint32_t shortSeen = 0;
        std::int64_t topUp = 0;
        float shortRate = 0.0f;
    };
    // The input to queue for the worker at a render asking it for `due`
    // more output frames at `rate` (a new run's first: `start`): the lead
    // this rate needs less the lead the worker holds, measured, never below
    // 0. `plain`: the same without the top-up for a worker that ran short.
    // `next`: the run's reckoning once the render has queued its requests
    // (`queued` still without the input it queues). Audio thread.
    struct LeadShort {
        double all = 0.0;
        double plain = 0.0;
        AheadLead next;
    };
    LeadShort aheadLeadShort(std::int64_t due, float rate, bool start) const;
    // Leaves the current unit run: the worker drops its queued input and requests.
    void dropAheadRun();
    // The worker fell far behind: the current run is left for a new one that
    // starts, without holding, from the point heard. Audio thread.
    void restartBehindWorker();
    // A render while the worker's rings are full: silence, the deck moving on
    // in time. Audio thread.
    // `behind`: this render started a run again behind the worker, which
    // goes on.
    void goOnWithoutWorker(int frames, float* left, float* right, float rate, bool behind);
    // A run started again behind the worker begins the part of a unit
    // latency the point heard has waited out (`waited`, input frames) past
    // it, and with `withHold` also the input the worker's unit holds in
    // steady play (a deck going on without the worker turns after both, as
    // the audio thread's would). Audio thread.
    void leadBehindRun(float rate, bool withHold, double waited);
    // The part of the unit's latency at `rate` the current run's point heard
    // has waited out: all of it once its output has passed that long (the
    // point heard moves), less for a run started moments ago. Audio thread.
    double latencyWaited(float rate) const;
    // Whether a turn of the deck is still to be heard: the point heard lies
    // on the far side of the turn. Audio thread.
    bool turnToHear(float rate) const;

    double beatFrames() const;
    double beatLengthSeconds() const;
    double beatIndex(double frames) const;
    bool quantized() const { return quantize_ && hasGrid_; }
    double clampToBuffer(double frames) const;
    std::int64_t frameCount() const { return buffer_ ? buffer_->frames : 0; }

    DeckState state_;
    SPSCQueue<DeckCommand> commands_{kCommandCapacity};
    // The main thread's copy of the transport commands it sent last, each with
    // its number in the order of sending, for `asked`; more than the ring can
    // hold pending are never waiting at once in practice. Main thread.
    static constexpr std::size_t kSentKept = 64;
    struct SentTransport {
        std::int64_t number = -1;
        DeckCommand::Kind kind = DeckCommand::Kind::pause;
        double a = 0.0;
        bool flag = false;
        bool buffer = false;
    };
    std::array<SentTransport, kSentKept> sentTransport_{};
    std::int64_t sent_ = 0; // commands queued so far; main thread
    // Handed transports, in seconds, each taken by its `handOver` command.
    static constexpr int kHandovers = 4;
    SPSCQueue<DeckTransport> handovers_{kHandovers};
    // The commands kept while awaiting a handover, and whether a buffer has
    // closed the list. Main thread.
    std::vector<DeckCommand> awaited_;
    bool awaiting_ = false;
    bool awaitClosed_ = false;
    // The copy of the transport `askedOnceStopped` carries the waiting
    // commands out on. Main thread, once nothing renders the voice.
    std::unique_ptr<DeckVoice> stopped_;
    std::atomic<bool> rendered_{false}; // see setRendered
    std::int64_t taken_ = 0; // commands carried out so far; audio thread
    SPSCQueue<TrackBuffer*> retired_{kRetiredCapacity};
    AtomicDouble tempo_{1.0};
    AtomicDouble keyShift_{0.0};
    double sampleRate_;
    int maxFrames_;

    // The playing buffer; the pointer carries the strong reference its command
    // brought, handed back through `retired_` when it is replaced.
    TrackBuffer* buffer_ = nullptr;
    // A buffer-carrying command waiting for a free retirement slot; carried out
    // first at the next drain, so commands keep their order.
    std::optional<DeckCommand> held_;

    // The transport (`DeckTransport`) is the base; what follows renders it.
    float gain_ = 0.0f;
    double syncCorrection_ = 1.0;
    double currentSpeed_ = 1.0;
    std::int64_t publishedCueRevision_ = 0;

    std::unique_ptr<HostedUnit> timePitch_;
    double timePitchLatencyFrames_ = 0.0;
    // Input a new render-ahead run queues beyond its first renders' own: the
    // stretcher's window at this sample rate (0 without a unit).
    int aheadHopLead_ = 0;
    float lastRate_ = -1.0f;
    float lastPitch_ = -99.0f;
    bool usedTimePitch_ = false;
    // A key-locked deck slowed below what the unit stretches to reads its
    // track directly; it goes back to the unit only well above that rate.
    bool belowStretch_ = false;
    // Tempo read once per render, for the unit's input callback.
    double blockTempo_ = 1.0;
    int workPhase_ = -1;
    // Renders so far; its parity picks the slices the unit works in.
    std::uint64_t slices_ = 0;
    static constexpr std::size_t kLoopWraps = 64;
    // The read head's latest jumps back into a loop, each at the count of
    // source frames read before it (see `UnitRun::wraps`).
    struct LoopWrap {
        double takenAt = 0.0;
        double length = 0.0;
    };
    // A stretch of a unit run's output to drop, from output frame `at`.
    struct Drop {
        std::int64_t at = 0;
        std::int64_t frames = 0;
    };
    static constexpr std::size_t kDrops = 8;
    // What tells the point heard from the read head in a run of the
    // time-pitch unit. A run the render-ahead path starts again behind its
    // worker goes on from the one before (`restartBehindWorker`), so it
    // keeps this part. Audio thread.
    struct RunHeard {
        // Input frames the unit has taken since its reset, less the input its
        // output so far stands for: what it holds, made ahead or still to
        // process.
        double backlog = 0.0;
        // Source frames the unit has read since its reset, and the count when
        // the deck last changed direction.
        double taken = 0.0;
        double takenAtTurn = 0.0;
        // While the input after a wrap is still to be heard, the sound plays
        // the music before the jump. Newest at wrapCount - 1.
        std::array<LoopWrap, kLoopWraps> wraps{};
        std::size_t wrapCount = 0;
        // The unit read the track's end, but what it holds of the music
        // before the end (made ahead, or inside its latency) is still to be
        // heard: the deck plays on until the output carrying the end's frame
        // (either path). The controls act on it as on a playing deck; the
        // read head stands at the end (`endAt`) and the input read past it
        // (`pastEnd` frames) moves it no further. A deck moved off the end
        // goes on playing.
        bool ending = false;
        double endAt = 0.0;
        std::int64_t pastEnd = 0;
        // The latest stretch of input read while the read head, played
        // backwards, stood at the track's start: all of it at `standAt`
        // source frames read, `standFrames` frames long.
        double standAt = 0.0;
        std::int64_t standFrames = 0;
        // Render-ahead: the fraction of an input frame carried to the next
        // render.
        double carry = 0.0;
    };
    // The unit's output made but not yet taken, oldest first, by the rate it
    // was made at. A unit slowed far makes its output in long stretches, and
    // what it made before a rate change stands for that rate's input however
    // late it is taken. Owned by the thread that runs the unit.
    struct MadeOutput {
        struct Stretch {
            std::int64_t frames = 0;
            double rate = 1.0;
        };
        static constexpr std::size_t kStretches = 16;
        std::array<Stretch, kStretches> stretches{};
        std::size_t first = 0;
        std::size_t count = 0;
        std::int64_t frames = 0;

        void clear() { first = count = 0, frames = 0; }
        // `n` frames made at `rate`, after those noted before (when all the
        // stretches are in use, the newest takes them at their mean rate).
        void made(std::int64_t n, double rate);
        // The input the oldest `n` frames stand for; frames beyond those
        // noted count at `rate`.
        double take(std::int64_t n, double rate);
        // Matches the unit's own count of output ready: output made since
        // the last note was made at `rate`.
        void keep(std::int64_t ready, double rate);
    };
    // One run of the time-pitch unit, from its reset: what tells the point
    // heard from the read head, and on the render-ahead path the run's pacing,
    // pad and hold. A new run starts from a fresh one, assigned whole. Audio
    // thread.
    struct UnitRun : RunHeard {
        // Output frames of the run taken so far (heard, skipped or dropped),
        // and the stretches of it to drop, oldest first: each one the output
        // of the input read past the track's end before a move off it, which
        // nobody is to hear. Their input is not counted in `backlog` or
        // `taken`, nor their output when it goes. A move with the queue full
        // plays its stretch as silence.
        std::array<Drop, kDrops> drops{};
        std::size_t dropFirst = 0;
        std::size_t dropCount = 0;
        std::int64_t out = 0;

        // Render-ahead. Whether the next time-pitch render starts a new run;
        // `restartBehind`: the restart is the voice's own, the worker having
        // fallen behind (no command asked for it), and the new run does not
        // hold for the worker.
        bool restart = true;
        bool restartBehind = false;
        // This run is such a restart: its start pad's time passes as missed
        // output does.
        bool behind = false;
        // Output frames to skip (the start pad's, and those missed while the
        // ring was dry).
        std::int64_t owed = 0;
        // Of those, the output missed while the ring was dry: the music it
        // stands for has passed.
        std::int64_t missed = 0;
        // The input that output stands for, at the speeds it was asked at (a
        // tempo moved meanwhile does not move what has passed).
        double missedInput = 0.0;
        // Output frames rendered in this run, and asked of the worker.
        std::int64_t rendered = 0;
        std::int64_t requested = 0;
        // The frames of the start pad still to play, the pad in all, the span
        // it was counted for, and the frames of fade-in still to apply after
        // it (a pad longer than the unit's quiet start) or after a dry render.
        std::int64_t pad = 0;
        std::int64_t padTotal = 0;
        int padSpan = 1;
        int fade = 0;
        // After its pad the run holds (silence, nothing skipped) until the
        // output of its next render and the device's recent burst is
        // ready, for at least `holdLeast` frames (runs starting together);
        // `held` frames so far.
        bool holding = false;
        std::int64_t holdLeast = 0;
        std::int64_t held = 0;
        // Of those, the frames passed as missed output: the worker stalled.
        std::int64_t passed = 0;
        // The run's output the worker had made at the last held render, and
        // the frames held since it last made more.
        std::int64_t madeHeld = 0;
        std::int64_t idle = 0;
        // The worker stalled during the hold: the rest of the hold, while it
        // catches up, passes too.
        bool stalled = false;
        // Runs started in the same slice are not all ready yet: hold on;
        // the worker stalled on one of them.
        bool partnersWait = false;
        bool partnersStalled = false;
        // The lead the worker holds, as the run reckons it.
        AheadLead lead;
        // The audio thread's unit: its output ready for the next render.
        MadeOutput made;
    };
    UnitRun run_;
    void noteWrap(double takenAt, double length);
    // Moves the read head back into the active loop, keeping its place in the
    // loop's cycle, and notes the jump as a wrap. Audio thread.
    void wrapIntoLoop();

    // Render-ahead: the rings and the worker's state (null while off).
    struct Ahead;
    std::unique_ptr<Ahead> ahead_;
    // The newest unit run started on the render-ahead path (the worker skips
    // older runs' work), the longest render so far (whatever the run), and
    // the device's longest recent burst.
    std::uint32_t aheadGeneration_ = 0;
    int aheadLongest_ = 1;
    int aheadSpan_ = 0;
    // The device's burst under way (0: not known) and the one before it.
    int aheadBurst_ = 0;
    int aheadBurstBefore_ = 0;
    // Frames rendered on the unit since the worker last took one of the
    // voice's render requests while some were waiting, whatever run they
    // were for (it stalled when this passes a horizon), and the free
    // request slots after the last render.
    std::int64_t workerQuiet_ = 0;
    int requestsFreeSeen_ = 0;
    // Notes what the worker did with the voice's requests over the render
    // just made. Audio thread, after each render on the unit.
    void noteWorkerQuiet(int frames);
    // The burst a held run's worker may be kept waiting through (see
    // `HeldRender::pace`). Audio thread.
    int stallPace(int frames) const;
    // Where dropped output goes on the audio thread's path.
    std::vector<float> dropLeft_, dropRight_;
    // The last render ran the unit ahead, and what it did.
    bool aheadAsked_ = false;
    bool aheadBehind_ = false;
    bool renderedStill_ = false;
    // Set by readSource: it wrote exact silence for a deck standing still; the
    // frame at which it reached the end (and stopped the deck, unless feeding
    // the worker; −1: it did not).
    bool readStill_ = false;
    int readEndedAt_ = -1;
    // Of the frames read, those at the end of the read during which the read
    // head, played backwards, stood at the track's start.
    int readStandFrames_ = 0;
    AheadTrace aheadTrace_;
};

} // namespace zelvo
