#pragma once
// The four-channel mixer and render engine. The output unit's render callback
// calls `render` on the audio thread; the engine drains the cross-deck requests
// and tempo sync, renders the four deck voices, runs each channel strip (trim,
// isolator, colour effect, beat effect, fader, crossfader), sums the master, cue
// and effect-send buses, runs the master section (beat effect or reverb, master
// level, peak limiter, clipping), publishes meters, feeds the master tap and the
// recorder and fills the output buffers. In direct-outs mode decks 1 and 2 go
// unmixed to the two output pairs instead.
//
// Everything the audio thread uses is made in the constructor. The main thread
// reaches the engine only through the voices' commands and cells, the mixer
// cells (`params`), the published `state`, the master tap, recording and
// `releaseRetiredBuffers`.
#include "audio/AheadPacing.h"
#include "audio/AudioRenderer.h"
#include "audio/BeatFX.h"
#include "audio/ColorFX.h"
#include "audio/DeckVoice.h"
#include "audio/HostedUnit.h"
#include "audio/Isolator.h"
#include "audio/MasterTap.h"
#include "audio/MixerParams.h"
#include "audio/MixerState.h"
#include "audio/Recorder.h"
#include "audio/Smoothed.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <semaphore.h>

namespace zelvo {

class MixEngine final : public AudioRenderer {
public:
    static constexpr int deckCount = 4;
    // Seconds of master the tap keeps for forks of the mix.
    static constexpr double tapSeconds = 75.0;

    // How key-locked decks get their time-pitch work done: on the audio thread
    // (`off`), ahead on the engine's real-time worker thread (`thread`), or ahead
    // with the worker's rounds run by hand through `serviceAhead` (`manual`, for
    // tests that need every round in a known place).
    enum class RenderAhead { off, thread, manual };

    // Builds the voices, cells, DSP state, hosted limiter and reverb (each left out
    // when its unit cannot be made), the master tap and the recorder, for slices of
    // at most `maxFrames` at `sampleRate`, and starts the render-ahead worker
    // (without it, when it cannot be started, everything renders on the audio
    // thread). Main thread.
    MixEngine(double sampleRate, int maxFrames = AudioRenderer::kMaxFrames, RenderAhead ahead = RenderAhead::thread);
    // Stops the worker, stops any recording (its file is finished within a
    // second) and releases every buffer the voices hold. Main thread, once the
    // audio thread is done.
    ~MixEngine() override;
    MixEngine(const MixEngine&) = delete;
    MixEngine& operator=(const MixEngine&) = delete;

    // Renders `frames` frames into the output buffers: 0/1 the master pair, 2/3
    // the headphone pair (or, in direct-outs mode, deck 1 and deck 2). Fewer than
    // two buffers, or null data, get nothing; two buffers get the master only.
    // Longer calls are rendered in slices of maxFrames, with subnormal values
    // flushed to zero (the caller's floating-point mode is back on return).
    // Audio thread only.
    void render(int frames, float* const* buffers, int bufferCount) noexcept;
    // The output unit's form: four buffers. Audio thread only.
    void render(int frames, float* const* channels) noexcept override { render(frames, channels, kChannels); }
    // Whether a headphone pair is routed; the output unit sets it when it opens.
    // Not on the audio thread.
    void setCueEnabled(bool enabled) override { cueEnabled_.store(enabled); }
    // The output unit's teardown: the audio thread has stopped for good.
    void releaseBuffers() override { releaseRetiredBuffers(); }
    // Marks the four voices as rendered by a running output, or no longer.
    void setRendered(bool rendered) override
    {
        for (const auto& voice : decks_)
            voice->setRendered(rendered);
    }

    double sampleRate() const noexcept { return sampleRate_; }
    int maxFrames() const noexcept { return maxFrames_; }
    // Deck `i` (0…3). Held weakly by the deck models. Any thread for the pointer.
    const std::shared_ptr<DeckVoice>& deck(int i) const noexcept { return decks_[std::size_t(i)]; }
    // The mixer cells, written by the main thread. Held weakly by the models.
    const std::shared_ptr<MixerParams>& params() const noexcept { return params_; }
    // Meters and live readings, written by the audio thread.
    const std::shared_ptr<MixerState>& state() const noexcept { return state_; }
    // The last 75 s of the master.
    const std::shared_ptr<MasterTap>& masterTap() const noexcept { return masterTap_; }
    // Set by the output unit when it opened a headphone pair.
    AtomicBool& cueEnabled() noexcept { return cueEnabled_; }

    // Records the master into a new 32-bit float WAV at `path` (replacing a file
    // there), after stopping a recording in progress. Throws AudioFileError with
    // the step "recording format", "create recording" or "prime recorder"; then
    // `state().recording` stays false. Main thread.
    void startRecording(const std::filesystem::path& path);
    // Stops recording; the file is finished once every slice rendered before is
    // written. Nothing when idle. Main thread.
    void stopRecording();
    // How the current (or last) recording fared: a write failure or frames lost
    // because the disk fell behind mark it failed; `recording` stays as the main
    // thread set it until it calls stopRecording. Main thread.
    Recorder::Status recordingStatus() const;
    // Waits at most `timeout` until every stopped recording file is closed; true
    // when they are. Main thread.
    bool waitForRecordingFiles(std::chrono::milliseconds timeout) { return recorder_.waitUntilClosed(timeout); }

    // Releases the buffers the voices retired (and so lets a voice holding back a
    // buffer command go on); returns how many. Any thread but the audio thread,
    // one at a time.
    int releaseRetiredBuffers();

    // Turns render-ahead off (every deck's time-pitch work back on the audio
    // thread, in its work phase) or on again in `mode`. Main thread, before the
    // first render or while nothing renders.
    void setRenderAhead(RenderAhead mode);
    RenderAhead renderAhead() const noexcept { return ahead_; }
    // One round of the worker over every deck, in `manual` mode. The test's
    // thread, between renders.
    void serviceAhead();
    // Renders, summed over the decks, whose time-pitch output was not ready in
    // full. Any thread.
    std::int64_t aheadDryBlocks() const;
    // Times the audio thread woke the worker: to rouse it from parking, at the
    // first slice of a new unit run, or when a voice had nothing ready for its
    // next render. Any thread.
    std::int64_t aheadWorkerWakes() const noexcept { return workerWakes_.load(); }
    // The worker thread's id while it runs (for reading its CPU clock).
    std::thread::native_handle_type aheadWorker() { return worker_.native_handle(); }

    // A channel strip is left out of a slice while its deck stands still (wrote
    // exact silence: no track, or stopped with its fade ended) and the strip is
    // at rest (isolator and colour effect state exactly zero, no colour effect
    // that sounds on its own, not the beat effect's channel): what it would add
    // is exact silence. Its smoothers jump to their targets meanwhile and its
    // meter falls. On by default; off runs every strip, to compare. Main thread,
    // while nothing renders.
    void setSkipStillStrips(bool skip) noexcept { skipStill_ = skip; }
    // Slices in which channel `i`'s strip ran. The rendering thread, or another
    // between renders.
    std::int64_t stripSlices(int i) const noexcept { return stripSlices_[std::size_t(i)]; }

    // Where the last render's time went, per stage, in nanoseconds of the
    // monotonic clock (summed over its slices): what names a slow block. One
    // clock read per stage boundary, into this fixed record; nothing else.
    struct StageTimes {
        std::int64_t sync = 0;                      // drop-in, aligned start, tempo sync
        std::array<std::int64_t, deckCount> decks{}; // each voice's render
        std::int64_t wake = 0;                      // waking the render-ahead worker
        std::array<std::int64_t, deckCount> strips{}; // each channel strip (with the beat effect on its channel)
        std::int64_t beatFX = 0;  // the beat effect on the master, or the reverb send
        std::int64_t reverb = 0;  // the reverb on the send bus, added to the master
        std::int64_t master = 0;  // master level
        std::int64_t limiter = 0; // peak limiter
        std::int64_t meters = 0;  // clipping and master meters
        std::int64_t tap = 0;     // master tap
        std::int64_t phones = 0;  // headphone mix and its meter
        std::int64_t record = 0;  // recorder
        std::int64_t output = 0;  // copies to the output buffers
        std::int64_t total = 0;   // the whole render
        int beatChannel = -1;     // the channel whose strip ran the beat effect; -1: none or the master
        // The sum of the decks' or the strips' stages.
        std::int64_t allDecks() const noexcept;
        std::int64_t allStrips() const noexcept;
    };
    // The stage times of the last render. The rendering thread, or another
    // between renders.
    const StageTimes& lastStageTimes() const noexcept { return stages_; }

    // Whether the hosted limiter and reverb exist. Any thread.
    bool hasLimiter() const noexcept { return limiter_ != nullptr; }
    bool hasReverb() const noexcept { return reverb_ != nullptr; }

private:
    struct ChannelDsp {
        explicit ChannelDsp(double sampleRate);
        Isolator isoL, isoR;
        ColorFX colorFX;
        Smoothed trim, fader, xf;
        Smoothed eq[3]; // high, mid, low
        Smoothed cfx;
    };
    struct SliceControls;
    struct StripTargets;

    void renderSlice(int n) noexcept;
    void runRequests() noexcept;
    void dropIn() noexcept;
    void alignedStart() noexcept;
    void updateSync() noexcept;
    void holdLock() noexcept;
    void directOutsSlice(int n) noexcept;
    StripTargets stripTargets(int i, const SliceControls& c) const noexcept;
    // Whether channel `i`'s strip turns silence into silence and moves no state.
    bool stripAtRest(int i, const SliceControls& c, const StripTargets& t) const noexcept;
    // A slice of channel `i` left out: smoothers at their targets, meter falling.
    void restStrip(int i, const StripTargets& t) noexcept;
    void channelStrip(int i, int n, const SliceControls& c, const StripTargets& t) noexcept;
    void record(int n, const float* left, const float* right) noexcept;
    // Charges the time since the last lap to `stage`.
    void lap(std::int64_t& stage) noexcept;
    void startWorker();
    void stopWorker();
    void workerLoop();
    // The worker's round: every deck's queued renders, one deck's render at a time.
    void serveDecks();
    // Runs that started in the same slice and still hold before their music
    // go on in the same render, once every one is ready for a slice of `n`.
    // Audio thread, before the voices render.
    void releaseStartsTogether(int n) noexcept;

    const double sampleRate_;
    const int maxFrames_;
    std::array<std::shared_ptr<DeckVoice>, deckCount> decks_;
    std::shared_ptr<MixerParams> params_;
    std::shared_ptr<MixerState> state_;
    AtomicBool cueEnabled_{false};

    // Per deck and side, what the voice rendered this slice.
    std::array<std::vector<float>, deckCount> deckL_, deckR_;
    std::vector<float> mixL_, mixR_, cueL_, cueR_, sendL_, sendR_;

    std::vector<ChannelDsp> channels_;
    bool skipStill_ = true;
    std::array<std::int64_t, deckCount> stripSlices_{};
    StageTimes stages_;
    std::int64_t lapAt_ = 0;
    BeatFX beatFX_;
    Smoothed masterSmooth_;
    std::unique_ptr<HostedUnit> limiter_;
    std::unique_ptr<HostedUnit> reverb_;
    float reverbDecay_ = -1.0f;

    // Tempo sync, audio thread only.
    int masterIndex_ = -1;
    std::array<double, deckCount> effectiveTempo_{1.0, 1.0, 1.0, 1.0};

    std::shared_ptr<MasterTap> masterTap_;
    Recorder recorder_;
    // Audio thread only: frames handed to the recording `recordingId_`.
    std::int64_t recordedFrames_ = 0;
    std::int64_t recordingId_ = 0;

    // Render-ahead: the mode and the worker. The audio thread notes how the
    // device calls it (`bursts_`), counts the slices in which a deck rendered
    // ahead and publishes the newest one's length and when the device should
    // ask again; the worker, paced by its own timer from these (AheadPacing), looks
    // for new ones. A wake is a system call into the scheduler (a remote run
    // queue, often an interrupt to another core), so the audio thread makes one
    // only to rouse a worker that parked because nothing rendered ahead for a
    // while, at the first slice of a new unit run, and when a voice has nothing
    // ready for its next render.
    RenderAhead ahead_ = RenderAhead::off;
    std::thread worker_;
    sem_t wake_{};
    std::atomic<bool> stopWorker_{false};
    std::atomic<std::uint64_t> aheadSlices_{0};
    SliceBursts bursts_; // audio thread
    // The decks whose unit runs started in the same slice and still hold
    // (a bit each), and each one's run. Audio thread.
    unsigned startedTogether_ = 0;
    std::array<std::uint32_t, deckCount> startedTogetherRun_{};
    std::atomic<std::int64_t> aheadNextAt_{0};  // monotonic ns: when the device should ask for the next slice
    std::atomic<std::int64_t> aheadSliceNs_{0}; // the last counted slice's length of audio
    std::atomic<bool> workerParked_{false};
    std::atomic<std::int64_t> workerWakes_{0};
};

} // namespace zelvo
