#include "platform/VirtualOutputBackend.h"

#include "platform/ConfiguredOutputUnit.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <pthread.h>
#include <sched.h>
#include <thread>

namespace zelvo {

namespace {

using Clock = std::chrono::steady_clock;

// A slice that starts this many periods behind its deadline counts as lost: the
// schedule is anchored again instead of rendering a burst to catch up.
constexpr int kMaxLagPeriods = 8;

class VirtualUnit final : public ConfiguredOutputUnit {
public:
    VirtualUnit(int channels, std::shared_ptr<const std::atomic<std::uint32_t>> bufferSize)
        : deviceChannels_(channels), bufferSize_(std::move(bufferSize))
    {
    }

    ~VirtualUnit() override
    {
        stop();
        if (capture_)
            sf_close(capture_);
    }

    OSStatus selectDevice(AudioObjectId device) override
    {
        return device == VirtualOutputBackend::kDeviceId ? 0 : kStatusBadObject;
    }

    OSStatus initialize() override
    {
        if (initialized_)
            return 0;
        if (!configured())
            return kStatusNotReady;
        block_ = int(std::clamp<std::uint32_t>(bufferSize_->load(), 1, std::uint32_t(maxFrames_)));
        client_.assign(std::size_t(clientChannels_) * std::size_t(block_), 0.0f);
        device_.assign(std::size_t(deviceChannels_) * std::size_t(block_), 0.0f);
        interleaved_.assign(std::size_t(deviceChannels_) * std::size_t(block_), 0.0f);
        for (int c = 0; c < clientChannels_; ++c)
            clientPointers_.push_back(client_.data() + std::size_t(c) * std::size_t(block_));
        for (int c = 0; c < deviceChannels_; ++c)
            devicePointers_.push_back(device_.data() + std::size_t(c) * std::size_t(block_));
        if (const char* path = std::getenv("KAVRI_VIRTUAL_CAPTURE"); path && *path) {
            SF_INFO info{};
            info.samplerate = int(VirtualOutputBackend::kSampleRate);
            info.channels = deviceChannels_;
            info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            capture_ = sf_open(path, SFM_WRITE, &info);
            if (!capture_)
                return kStatusUnspecified;
        }
        initialized_ = true;
        return 0;
    }

    OSStatus start() override
    {
        if (!initialized_)
            return kStatusNotReady;
        if (thread_.joinable())
            return 0;
        {
            std::lock_guard lock(mutex_);
            stopping_ = false;
        }
        // The system may have no thread to give: the start fails, nothing
        // plays, and a later start tries again.
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error& e) {
            return e.code().value() != 0 ? OSStatus(-e.code().value()) : kStatusUnspecified;
        }
        return 0;
    }

    OSStatus stop() override
    {
        if (!thread_.joinable())
            return 0;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
        return 0;
    }

    int underruns() const override { return underruns_.load(std::memory_order_relaxed); }

private:
    // The device does not resample: the engine runs at the device's rate.
    OSStatus acceptsFormat(double sampleRate, int) override
    {
        return sampleRate == VirtualOutputBackend::kSampleRate ? 0 : kStatusUnsupportedFormat;
    }

    // The device's clock: slice k is asked for at start + k * period.
    void run()
    {
        pthread_setname_np(pthread_self(), "kavri.virtual");
        sched_param param{};
        param.sched_priority = std::max(sched_get_priority_min(SCHED_FIFO), 10);
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); // normal priority when refused

        const auto period = std::chrono::duration<double>(block_ / VirtualOutputBackend::kSampleRate);
        auto anchor = Clock::now();
        std::int64_t k = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            const auto deadline = anchor + std::chrono::duration_cast<Clock::duration>(period * double(k));
            if (wake_.wait_until(lock, deadline, [this] { return stopping_; }))
                return;
            lock.unlock();
            if (Clock::now() - deadline > period * double(kMaxLagPeriods)) {
                underruns_.fetch_add(1, std::memory_order_relaxed);
                anchor = Clock::now();
                k = 0;
            }
            renderClient(clientPointers_.data(), block_);
            applyChannelMap(map_, clientPointers_.data(), clientChannels_, devicePointers_.data(), deviceChannels_,
                            block_);
            if (capture_)
                writeCapture();
            ++k;
            lock.lock();
        }
    }

    // The device side, after the render callback has returned.
    void writeCapture()
    {
        for (int i = 0; i < block_; ++i) {
            for (int c = 0; c < deviceChannels_; ++c)
                interleaved_[std::size_t(i * deviceChannels_ + c)] = devicePointers_[std::size_t(c)][i];
        }
        sf_writef_float(capture_, interleaved_.data(), block_);
    }

    const int deviceChannels_;
    std::shared_ptr<const std::atomic<std::uint32_t>> bufferSize_;
    int block_ = 512;
    std::vector<float> client_, device_, interleaved_;
    std::vector<float*> clientPointers_, devicePointers_;
    SNDFILE* capture_ = nullptr;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
    std::atomic<int> underruns_{0};
};

} // namespace

VirtualOutputBackend::VirtualOutputBackend()
{
    if (const char* c = std::getenv("KAVRI_VIRTUAL_CHANNELS"); c && std::strcmp(c, "4") == 0)
        channels_ = 4;
}

std::optional<std::vector<AudioObjectId>> VirtualOutputBackend::deviceList()
{
    return std::vector<AudioObjectId>{kDeviceId};
}

std::optional<AudioObjectId> VirtualOutputBackend::defaultOutputDevice()
{
    return kDeviceId;
}

std::optional<std::vector<int>> VirtualOutputBackend::streamChannels(AudioObjectId device, Scope scope)
{
    if (device != kDeviceId)
        return std::nullopt;
    return scope == Scope::output ? std::vector<int>{channels_} : std::vector<int>{};
}

std::optional<std::string> VirtualOutputBackend::deviceUID(AudioObjectId device)
{
    return device == kDeviceId ? std::optional<std::string>(kUID) : std::nullopt;
}

std::optional<std::string> VirtualOutputBackend::deviceName(AudioObjectId device)
{
    return device == kDeviceId ? std::optional<std::string>(kName) : std::nullopt;
}

std::optional<double> VirtualOutputBackend::nominalSampleRate(AudioObjectId device)
{
    return device == kDeviceId ? std::optional(kSampleRate) : std::nullopt;
}

std::optional<std::pair<double, double>> VirtualOutputBackend::bufferSizeRange(AudioObjectId device)
{
    return device == kDeviceId ? std::optional(std::pair(32.0, 4096.0)) : std::nullopt;
}

std::optional<std::uint32_t> VirtualOutputBackend::transportType(AudioObjectId device)
{
    return device == kDeviceId ? std::optional(transport::virtualDevice) : std::nullopt;
}

std::optional<std::uint32_t> VirtualOutputBackend::bufferSize(AudioObjectId device)
{
    return device == kDeviceId ? std::optional(bufferSize_->load()) : std::nullopt;
}

OSStatus VirtualOutputBackend::setBufferSize(AudioObjectId device, std::uint32_t frames)
{
    if (device != kDeviceId)
        return kStatusBadObject;
    bufferSize_->store(std::clamp<std::uint32_t>(frames, 32, 4096));
    return 0;
}

std::optional<std::uint32_t> VirtualOutputBackend::outputLatency(AudioObjectId device)
{
    return device == kDeviceId ? std::optional(0u) : std::nullopt;
}

std::optional<std::uint32_t> VirtualOutputBackend::safetyOffset(AudioObjectId device)
{
    return device == kDeviceId ? std::optional(0u) : std::nullopt;
}

AudioBackend::ListenerId VirtualOutputBackend::addListener(AudioObjectId object, std::uint32_t selector,
                                                           std::function<void()> changed)
{
    return listeners_.add(object, selector, std::move(changed));
}

void VirtualOutputBackend::removeListener(ListenerId id)
{
    listeners_.remove(id);
}

OSStatus VirtualOutputBackend::newOutputUnit(std::unique_ptr<OutputUnit>& unit)
{
    unit = std::make_unique<VirtualUnit>(channels_, bufferSize_);
    return 0;
}

} // namespace zelvo
