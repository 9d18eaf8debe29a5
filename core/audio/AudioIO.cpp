#include "audio/AudioIO.h"

#include "audio/CoreAudioHAL.h"
#include "audio/MixEngine.h"
#include "library/AudioFileError.h"
#include "platform/AudioBackend.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <system_error>

namespace zelvo {

namespace {

std::atomic<std::int64_t> enginesBuilt{0};

// The one place that turns a failed step into the thrown error.
[[noreturn]] void failStep(const char* step, OSStatus status)
{
    throw AudioFileError::os(step, status);
}

} // namespace

std::int64_t AudioIO::enginesBuiltSoFar()
{
    return enginesBuilt.load();
}

std::vector<int> AudioIO::makeChannelMap(int channels, int masterPair, std::optional<int> cuePair)
{
    std::vector<int> map(std::size_t(std::max(channels, 0)), -1);
    // Written as "pair < channels - 1" so a huge pair cannot overflow pair + 1.
    if (masterPair >= 0 && masterPair < channels - 1) {
        map[std::size_t(masterPair)] = 0;
        map[std::size_t(masterPair) + 1] = 1;
    }
    if (cuePair && *cuePair >= 0 && *cuePair < channels - 1) {
        map[std::size_t(*cuePair)] = 2;
        map[std::size_t(*cuePair) + 1] = 3;
    }
    return map;
}

AudioIO::AudioIO(const AudioDevice& device, std::int64_t bufferFrames, int masterPair, std::optional<int> cuePair)
    : device_(device)
    , masterPair_(std::max(masterPair, 0))
{
    open(bufferFrames, cuePair, nullptr);
}

AudioIO::AudioIO(const AudioDevice& device, std::int64_t bufferFrames, int masterPair, std::optional<int> cuePair,
                 RendererFactory makeRenderer)
    : device_(device)
    , masterPair_(std::max(masterPair, 0))
{
    open(bufferFrames, cuePair, makeRenderer ? makeRenderer : RendererFactory([](double, int) {
        return std::unique_ptr<AudioRenderer>();
    }));
}

void AudioIO::open(std::int64_t bufferFrames, std::optional<int> cuePair, const RendererFactory& makeRenderer)
{
    const auto& device = device_;
    try {
        auto backend = CoreAudioHAL::backend();

        // 1. Buffer size. A stored setting can be anything; the device only ever
        // hears a size within its range.
        const auto range = device.bufferSizeRange;
        const int lower = std::max(range.lower, 1);
        const int upper = std::max(range.upper, lower);
        CoreAudioHAL::setBufferSize(device.id, std::clamp<std::int64_t>(bufferFrames, lower, upper));

        // 2. The rate the device runs at now.
        const auto now = CoreAudioHAL::device(device.id);
        sampleRate_ = now ? now->nominalSampleRate : device.nominalSampleRate;

        // 3. The cue pair.
        const int channels = device.outputChannels;
        if (cuePair && *cuePair >= 0 && *cuePair != masterPair_ && *cuePair < channels - 1)
            cuePair_ = *cuePair;
        channelMap_ = makeChannelMap(channels, masterPair_, cuePair_);

        // 5, 6. The output unit.
        if (!backend->hasOutputComponent())
            failStep("find AUHAL", -1);
        if (OSStatus s = backend->newOutputUnit(unit_); s != 0 || !unit_)
            failStep("open AUHAL", s != 0 ? s : kStatusUnspecified);
        // 7 (enabling output, disabling input) has no counterpart: units only play.
        if (OSStatus s = unit_->selectDevice(device.id); s != 0)
            failStep("select device", s);
        if (OSStatus s = unit_->setClientFormat(sampleRate_, AudioRenderer::kChannels); s != 0)
            failStep("client format", s);
        unit_->setChannelMap(channelMap_);
        unit_->setMaxFramesPerSlice(AudioRenderer::kMaxFrames);
        // The callback reaches the renderer through this object: the renderer
        // is made only once the device has opened, and nothing renders before
        // start().
        if (OSStatus s = unit_->setRenderCallback(&AudioIO::renderThunk, this); s != 0)
            failStep("render callback", s);
        if (OSStatus s = unit_->initialize(); s != 0)
            failStep("initialize AUHAL", s);

        // 8. The engine, built only for a device that opened: a device that
        // keeps refusing costs each try no more than the try itself.
        if (makeRenderer) {
            renderer_ = makeRenderer(sampleRate_, AudioRenderer::kMaxFrames);
        } else {
            // Time-pitch work is rendered ahead on the engine's worker, paced
            // by the wall clock; a unit on simulated time gets it on its own
            // render, so it plays the same however fast it is driven.
            auto engine = std::make_unique<MixEngine>(
                sampleRate_, AudioRenderer::kMaxFrames,
                backend->clocked() ? MixEngine::RenderAhead::thread : MixEngine::RenderAhead::off);
            enginesBuilt.fetch_add(1);
            engine_ = engine.get();
            renderer_ = std::move(engine);
        }
        if (!renderer_)
            failStep("make engine", kStatusUnspecified);
        renderer_->setCueEnabled(cuePair_.has_value());
    } catch (...) {
        teardown();
        throw;
    }
}

AudioIO::~AudioIO()
{
    teardown();
}

void AudioIO::teardown() noexcept
{
    std::lock_guard lock(control_);
    if (unit_) {
        if (running_)
            unit_->stop();
        running_ = false;
        // Destroying the unit joins its I/O thread: from here on nothing renders.
        unit_.reset();
    }
    // Retired buffers first, then the engine itself, whose decks let go of the
    // tracks they still hold: all on this thread.
    if (renderer_) {
        renderer_->setRendered(false);
        renderer_->releaseBuffers();
        engine_ = nullptr;
        renderer_.reset();
    }
}

void AudioIO::start()
{
    std::lock_guard lock(control_);
    if (!unit_ || closed_)
        return;
    if (running_) {
        if (!unit_->ended())
            return;
        unit_->stop(); // the I/O ended by itself: join what is left, then try again
        running_ = false;
    }
    // Marked before the I/O thread can render, cleared once it is joined,
    // and on every way out but a start: a voice left marked could never be
    // asked what it was last told.
    renderer_->setRendered(true);
    OSStatus s = 0;
    try {
        s = unit_->start();
    } catch (const std::system_error& e) {
        // A unit whose I/O thread could not be made: the step failed.
        s = e.code().value() != 0 ? -e.code().value() : kStatusUnspecified;
    } catch (...) {
        renderer_->setRendered(false);
        throw;
    }
    if (s != 0) {
        renderer_->setRendered(false);
        failStep("start output", s);
    }
    running_ = true;
    started_ = true;
}

void AudioIO::stop()
{
    std::lock_guard lock(control_);
    if (!started_)
        closed_ = true; // a start still on its way finds the output closed
    if (!unit_ || !running_)
        return;
    unit_->stop();
    running_ = false;
    renderer_->setRendered(false);
}

bool AudioIO::running() const
{
    return running_.load() && !(unit_ && unit_->ended());
}

bool AudioIO::ended() const
{
    // The unit is made before this object is shared and kept until it goes.
    return running_.load() && unit_ && unit_->ended();
}

bool AudioIO::partEnded() const
{
    return running_.load() && unit_ && unit_->partEnded();
}

double AudioIO::latency() const
{
    return CoreAudioHAL::outputLatency(device_.id);
}

int AudioIO::bufferFrames() const
{
    return CoreAudioHAL::bufferSize(device_.id);
}

int AudioIO::underruns() const
{
    return unit_ ? unit_->underruns() : 0;
}

void AudioIO::renderThunk(void* context, float* const* channels, int channelCount, int frames)
{
    if (!channels || !context || channelCount < AudioRenderer::kChannels)
        return;
    // Made before start() and kept until the unit is gone: set whenever this runs.
    auto* engine = static_cast<AudioIO*>(context)->renderer_.get();
    // Units promise at most kMaxFrames; slice longer requests all the same.
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, AudioRenderer::kMaxFrames);
        float* slice[AudioRenderer::kChannels];
        for (int c = 0; c < AudioRenderer::kChannels; ++c)
            slice[c] = channels[c] + done;
        engine->render(n, slice);
        done += n;
    }
}

} // namespace zelvo
