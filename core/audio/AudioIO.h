#pragma once
// One output device playing one engine: opens an output unit on the device,
// builds the engine at the device's rate, routes the engine's four channels
// (master left/right, cue left/right) onto the device's channels through a
// channel map, and lets the device's I/O thread pull the engine.
#include "audio/AudioDevice.h"
#include "audio/AudioRenderer.h"

#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zelvo {

class MixEngine;
class OutputUnit;

class AudioIO {
public:
    // Opens `device`: asks for `bufferFrames` (clamped into the device's range),
    // fits the pairs (a negative master pair counts as 0, a negative cue pair as
    // none, a cue pair equal to the master pair or past the last channel as none),
    // initialises the unit at the device's current rate and then builds the mix
    // engine at that rate for 4096-frame slices: a device that cannot be opened
    // costs no engine. Throws the failed step's error ("find AUHAL", "open
    // AUHAL", "select device", "client format", "render callback", "initialize
    // AUHAL"); whatever was opened is closed again. Never on the audio thread;
    // may block on a busy device.
    AudioIO(const AudioDevice& device, std::int64_t bufferFrames, int masterPair, std::optional<int> cuePair);
    // The same with a stand-in made by `makeRenderer` in place of the mix engine
    // (device-layer tests and benchmarks); `engine()` must not be called then.
    AudioIO(const AudioDevice& device, std::int64_t bufferFrames, int masterPair, std::optional<int> cuePair,
            RendererFactory makeRenderer);
    // Stops the device and joins its I/O thread, then releases on this thread
    // every buffer the engine still holds (retired ones and the decks' own), then
    // drops the engine. Never on the audio thread.
    ~AudioIO();
    AudioIO(const AudioIO&) = delete;
    AudioIO& operator=(const AudioIO&) = delete;

    // Starts output; does nothing when running. An output whose I/O ended by
    // itself is stopped and started again. Throws "start output", also for a
    // unit that cannot make its I/O thread; a start that fails leaves the
    // engine's voices unmarked as rendered. Any thread but the audio thread;
    // start and stop never overlap.
    void start();
    // Stops output and joins the I/O thread; does nothing when stopped. A stop
    // before the first start closes the output: a start handed to another
    // thread that lands after it starts nothing, so once this returns nothing
    // renders the engine. Any thread but the audio thread.
    void stop();

    // Seconds of output latency, read from the device now.
    double latency() const;
    // The device's current I/O buffer size; 512 when it cannot be read.
    int bufferFrames() const;
    // Slices the device played late or short since opening. Any thread.
    int underruns() const;

    // The mix engine this output plays; lives as long as this object. Any thread.
    MixEngine& engine() const { return *engine_; }
    // What the I/O thread renders: the engine, or the stand-in. Any thread.
    AudioRenderer& renderer() const { return *renderer_; }
    const AudioDevice& device() const { return device_; }
    int masterPair() const { return masterPair_; }
    std::optional<int> cuePair() const { return cuePair_; }
    // Whether output is started and its I/O still renders: false once the
    // device's I/O ended by itself (the device went away). Any thread;
    // lock-free.
    bool running() const;
    // Whether output was started and its I/O has since ended by itself. Any
    // thread; lock-free.
    bool ended() const;
    // Whether output was started and the I/O of any device it plays through
    // has since ended by itself, ended() included: one card of a rig can go
    // quiet while the clock master plays on and running() stays true. Any
    // thread; lock-free.
    bool partEnded() const;
    double sampleRate() const { return sampleRate_; }
    // One entry per device output channel: the engine channel feeding it, -1 for silence.
    const std::vector<int>& channelMap() const { return channelMap_; }

    // Mix engines built by outputs in this process so far. Any thread.
    static std::int64_t enginesBuiltSoFar();

    // The channel map for a device of `channels` outputs: entries masterPair and
    // masterPair + 1 get 0 and 1 when both exist, cuePair and cuePair + 1 get 2
    // and 3 when a cue pair is given. Pure.
    static std::vector<int> makeChannelMap(int channels, int masterPair, std::optional<int> cuePair);

private:
    void open(std::int64_t bufferFrames, std::optional<int> cuePair, const RendererFactory& makeRenderer);
    static void renderThunk(void* context, float* const* channels, int channelCount, int frames);
    void teardown() noexcept;

    AudioDevice device_;
    int masterPair_ = 0;
    std::optional<int> cuePair_;
    double sampleRate_ = 48000;
    std::vector<int> channelMap_;
    std::unique_ptr<AudioRenderer> renderer_; // the engine or a stand-in
    MixEngine* engine_ = nullptr;             // the engine inside renderer_, if it is one
    std::unique_ptr<OutputUnit> unit_;
    std::mutex control_; // start, stop and teardown, one at a time
    std::atomic<bool> running_{false};
    bool started_ = false; // under control_: start() has run the unit once
    bool closed_ = false;  // under control_: stopped before it ever started
};

} // namespace zelvo
