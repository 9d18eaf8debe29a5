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
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class DeckVoice final : public HostedUnitSource {
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
    // The transport the deck was last asked for: the published state with the
    // play, pause, load, swap, take-over, seek and cue commands sent since,
    // and not yet carried out, applied in order. Exact once the voice no
    // longer renders (an output that stopped); while it renders, the state
    // may already be newer than the commands counted as waiting. Main thread.
    struct Asked {
        bool loaded = false;
        bool playing = false;
        double position = 0.0; // seconds
    };
    Asked asked() const;
    // Releases the buffers the audio thread retired; returns how many. Main thread
    // only (the retired ring has one consumer).
    int releaseRetiredBuffers();

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
    // one. Audio thread (the mix engine), before render.
    void setAheadSpan(int frames) { aheadSpan_ = std::clamp(frames, 0, maxFrames_); }
    // `runs` unit runs began in the slice just rendered (this voice's among
    // them): the worker makes all their first output in the same time, so a
    // run's start pad grows with their number (`aheadStartPadFrames`). Audio
    // thread (the mix engine), after render.
    void shareAheadStart(int runs);
    // Renders after a unit run's start pad whose output was not ready in full,
    // and the frames they missed. Any thread.
    std::int64_t aheadDryBlocks() const;
    std::int64_t aheadDryFrames() const;
    // Frames by which unit runs started later than their pads, waiting for
    // the worker's first output (`kAheadMaxHoldSeconds` at most per run).
    // Any thread.
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
    // before it makes the next render's output. What is heard of a jump that
    // does not start a new unit run comes at most this much later than on the
    // audio thread.
    static int aheadLeadFrames(int frames, double rate, double sampleRate);
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
    // (at most `kAheadMaxHoldSeconds`).
    static int aheadStartPadFrames(int span, double sampleRate, int runs = 1);
    static constexpr int kAheadFadeFrames = 256;
    static constexpr double kAheadMaxHoldSeconds = 0.25;
    // The longest start pad that stays inside the unit's near-silent start;
    // a longer one fades the sound in. Any thread.
    int aheadQuietFrames() const;

private:
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
    void start();
    // Stops the deck where the sound is (pause, play pressed while playing):
    // the read head moves back to what was heard, and the time-pitch unit's
    // run, made from the read head ahead of it, is left.
    void stopWhereHeard();
    // A deck stopped or moved off the unit's path: what the unit holds is not
    // heard, and the position heard is the read head from now on.
    void leaveUnitRun();
    // Leaves the unit's run with the read head moved back to what was heard
    // (a playing deck): the next render starts a fresh run from there.
    void leaveRunWhereHeard();

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
    // the stretches due in them; returns the frames of output heard.
    int renderUnit(int frames, float* left, float* right);
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
    void publish(float peakL, float peakR);
    void renderAhead(int frames, float* left, float* right, float rate, float pitch);
    // Leaves the current unit run: the worker drops its queued input and requests.
    void dropAheadRun();

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

    BeatGrid grid_{120.0, 0.0, 4};
    bool hasGrid_ = false;
    double pos_ = 0.0;
    // Frames by which swaps moved pos_ back, summed (published as `swapShift`).
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
    float gain_ = 0.0f;
    double syncCorrection_ = 1.0;
    double currentSpeed_ = 1.0;
    std::int64_t cueRevision_ = 0;
    std::int64_t publishedCueRevision_ = 0;

    std::unique_ptr<HostedUnit> timePitch_;
    double timePitchLatencyFrames_ = 0.0;
    float lastRate_ = -1.0f;
    float lastPitch_ = -99.0f;
    bool usedTimePitch_ = false;
    // Tempo read once per render, for the unit's input callback.
    double blockTempo_ = 1.0;
    int workPhase_ = -1;
    // Renders so far; its parity picks the slices the unit works in.
    std::uint64_t slices_ = 0;
    // Input frames the unit has taken since its reset, less the input its output
    // so far stands for: what it holds, made ahead or still to process.
    double unitBacklog_ = 0.0;
    // Source frames the unit has read since its reset, and the count when the
    // deck last changed direction.
    double unitTaken_ = 0.0;
    double unitTakenAtTurn_ = 0.0;
    // The read head's latest jumps back into a loop, each at the count of
    // source frames read before it: while that input is still to be heard,
    // the sound plays the music before the jump. Newest at wrapCount_ - 1.
    struct LoopWrap {
        double takenAt = 0.0;
        double length = 0.0;
    };
    static constexpr std::size_t kLoopWraps = 64;
    std::array<LoopWrap, kLoopWraps> loopWraps_{};
    std::size_t wrapCount_ = 0;
    void noteWrap(double takenAt, double length);
    // Moves the read head back into the active loop, keeping its place in the
    // loop's cycle, and notes the jump as a wrap. Audio thread.
    void wrapIntoLoop();

    // Render-ahead: the rings and the worker's state (null while off).
    struct Ahead;
    std::unique_ptr<Ahead> ahead_;
    // Audio thread: the current unit run, whether the next time-pitch render
    // starts a new one, the fraction of an input frame carried to the next
    // render, and output frames to skip (missed while the ring was dry).
    std::uint32_t aheadGeneration_ = 0;
    bool aheadRestart_ = true;
    // The restart is the voice's own, the worker having fallen behind (no
    // command asked for it): the new run does not hold for the worker.
    bool aheadRestartBehind_ = false;
    double aheadCarry_ = 0.0;
    std::int64_t aheadOwed_ = 0;
    // Of those, the output missed while the ring was dry (the rest is the start
    // pad's): the music it stands for has passed.
    std::int64_t aheadMissed_ = 0;
    // Output frames rendered in this run, and asked of the worker.
    std::int64_t aheadRendered_ = 0;
    std::int64_t aheadRequested_ = 0;
    // The longest render so far (whatever the run), the device's longest recent burst,
    // and the frames of the run's start pad still to play.
    int aheadLongest_ = 1;
    int aheadSpan_ = 0;
    std::int64_t aheadPad_ = 0;
    // The run's start pad in all, the span it was counted for, and the frames
    // of fade-in still to apply after it (a pad longer than the unit's quiet
    // start).
    std::int64_t aheadPadTotal_ = 0;
    int aheadPadSpan_ = 1;
    int aheadFade_ = 0;
    // After its pad the run holds (silence, nothing skipped) until the output
    // of its next render and the device's recent burst (`aheadHoldSpan_`) is
    // ready, for at least `aheadHoldLeast_` frames (runs starting together);
    // `aheadHeld_` frames so far.
    bool aheadHolding_ = false;
    int aheadHoldSpan_ = 0;
    std::int64_t aheadHoldLeast_ = 0;
    std::int64_t aheadHeld_ = 0;
    // The unit read the track's end, but what it holds of the music before
    // the end (made ahead, or inside its latency) is still to be heard: the
    // deck plays on until the output carrying the end's frame (either path).
    // The controls act on it as on a playing deck; the read head stands at
    // the end (`unitEndAt_`) and the input read past it (`unitPastEnd_`
    // frames) moves it no further. A deck moved off the end goes on playing.
    bool unitEnding_ = false;
    double unitEndAt_ = 0.0;
    std::int64_t unitPastEnd_ = 0;
    // Output frames of the unit's run taken so far (heard, skipped or
    // dropped), and the stretches of it to drop, oldest first: each one the
    // output of the input read past the track's end before a move off it,
    // which nobody is to hear. Their input is not counted in `unitBacklog_`
    // or `unitTaken_`, nor their output when it goes. A move with the queue
    // full plays its stretch as silence.
    struct Drop {
        std::int64_t at = 0;
        std::int64_t frames = 0;
    };
    static constexpr std::size_t kDrops = 8;
    std::array<Drop, kDrops> unitDrops_{};
    std::size_t dropFirst_ = 0;
    std::size_t dropCount_ = 0;
    std::int64_t unitOut_ = 0;
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
    AheadTrace aheadTrace_;
};

} // namespace zelvo
