#include "platform/FakeAudioBackend.h"

#include "platform/ConfiguredOutputUnit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>
#include <system_error>

namespace zelvo {

class FakeAudioBackend::Unit final : public ConfiguredOutputUnit {
public:
    Unit(FakeAudioBackend& backend, AudioObjectId device, std::shared_ptr<UnitRecord> record)
        : backend_(backend), device_(device), record_(std::move(record))
    {
    }

    ~Unit() override
    {
        std::lock_guard lock(backend_.mutex_);
        record_->running = false;
        record_->destroyed = true;
        std::erase(backend_.live_, this);
    }

    OSStatus selectDevice(AudioObjectId) override { return kStatusNotReady; }

    OSStatus setClientFormat(double sampleRate, int channels) override
    {
        if (auto s = failure("client format"))
            return s;
        return ConfiguredOutputUnit::setClientFormat(sampleRate, channels);
    }
    OSStatus setRenderCallback(RenderFunction render, void* context) override
    {
        if (auto s = failure("render callback"))
            return s;
        return ConfiguredOutputUnit::setRenderCallback(render, context);
    }

    OSStatus initialize() override
    {
        bool hang = false;
        {
            std::lock_guard lock(backend_.mutex_);
            if (const Device* d = backend_.find(device_))
                hang = d->hangOnInitialize;
        }
        if (hang)
            backend_.waitWhileHung();
        if (auto s = failure("initialize"))
            return s;
        if (!configured())
            return kStatusNotReady;
        std::lock_guard lock(backend_.mutex_);
        const Device* d = backend_.find(device_);
        if (!d)
            return kStatusBadObject;
        deviceChannels_ = 2;
        if (d->outputStreams)
            deviceChannels_ = std::max(1, std::accumulate(d->outputStreams->begin(), d->outputStreams->end(), 0));
        block_ = int(std::clamp<std::uint32_t>(d->bufferSize, 1, std::uint32_t(maxFrames_)));
        const double nominal = d->nominalSampleRate.value_or(48000.0);
        clockRate_ = nominal * (1.0 + d->clockPPM * 1e-6);
        client_.assign(std::size_t(clientChannels_), std::vector<float>(std::size_t(block_)));
        deviceBuffers_.assign(std::size_t(deviceChannels_), std::vector<float>(std::size_t(block_)));
        for (auto& c : client_)
            clientPointers_.push_back(c.data());
        for (auto& c : deviceBuffers_)
            devicePointers_.push_back(c.data());
        last_.assign(std::size_t(deviceChannels_), 0.0f);
        initialized_ = true;
        record_->sampleRate = rate_;
        record_->clientChannels = clientChannels_;
        record_->channelMap = map_;
        record_->maxFrames = maxFrames_;
        record_->initialized = true;
        record_->captured.assign(std::size_t(deviceChannels_), {});
        return 0;
    }

    OSStatus start() override
    {
        if (auto s = failure("start"))
            return s;
        if (!initialized_)
            return kStatusNotReady;
        std::lock_guard lock(backend_.mutex_);
        if (const Device* d = backend_.find(device_); d && d->startThrows)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        if (!record_->running || ended_.load()) {
            record_->running = true;
            ended_.store(false);
            nextTime_ = backend_simTime();
        }
        return 0;
    }

    OSStatus stop() override
    {
        std::lock_guard lock(backend_.mutex_);
        record_->running = false;
        ended_.store(false);
        return 0;
    }

    int underruns() const override { return 0; }
    bool ended() const override { return ended_.load(); }

    // Ends a started unit's I/O as its device would. Under the backend's mutex.
    void endIO()
    {
        if (!record_->running)
            return;
        ended_.store(true);
        record_->ended = true;
    }

    AudioObjectId deviceId() const { return device_; }
    // Whether `pump` plays it. Under the backend's mutex.
    bool running() const { return record_->running && !ended_.load(); }
    double nextTime() const { return nextTime_; }

    // One device slice: render, map to the device's channels, keep statistics.
    void tick()
    {
        const int n = block_;
        renderClient(clientPointers_.data(), n);
        applyChannelMap(map_, clientPointers_.data(), clientChannels_, devicePointers_.data(), deviceChannels_, n);
        UnitRecord& r = *record_;
        for (int c = 0; c < deviceChannels_; ++c) {
            const float* x = devicePointers_[std::size_t(c)];
            float prev = last_[std::size_t(c)];
            float step = r.maxStep;
            for (int i = 0; i < n; ++i) {
                step = std::max(step, std::fabs(x[i] - prev));
                prev = x[i];
            }
            r.maxStep = step;
            last_[std::size_t(c)] = prev;
            auto& cap = r.captured[std::size_t(c)];
            const std::int64_t room = r.captureLimit - std::int64_t(cap.size());
            if (room > 0)
                cap.insert(cap.end(), x, x + std::min<std::int64_t>(room, n));
        }
        r.framesPlayed += n;
        r.callbacks += 1;
        nextTime_ += double(n) / clockRate_;
    }

private:
    OSStatus failure(const std::string& step)
    {
        std::lock_guard lock(backend_.mutex_);
        const Device* d = backend_.find(device_);
        if (!d)
            return kStatusBadObject;
        auto it = d->failSteps.find(step);
        return it == d->failSteps.end() ? 0 : it->second;
    }
    double backend_simTime() const { return backend_.simTime_; }

    FakeAudioBackend& backend_;
    AudioObjectId device_;
    std::shared_ptr<UnitRecord> record_;
    int deviceChannels_ = 0;
    int block_ = 0;
    double clockRate_ = 48000;
    double nextTime_ = 0;
    std::vector<std::vector<float>> client_;
    std::vector<std::vector<float>> deviceBuffers_;
    std::vector<float*> clientPointers_;
    std::vector<float*> devicePointers_;
    std::vector<float> last_;
    std::atomic<bool> ended_{false};
};

FakeAudioBackend::FakeAudioBackend() : aggregates_(*this, [this] {
    std::lock_guard lock(mutex_);
    return nextId_++;
})
{
}

FakeAudioBackend::~FakeAudioBackend()
{
    releaseHangs();
    notifier_.sync();
}

AudioObjectId FakeAudioBackend::addDevice(Device device)
{
    std::lock_guard lock(mutex_);
    const AudioObjectId id = nextId_++;
    devices_.emplace(id, std::move(device));
    order_.push_back(id);
    return id;
}

void FakeAudioBackend::removeDevice(AudioObjectId id)
{
    std::lock_guard lock(mutex_);
    devices_.erase(id);
    std::erase(order_, id);
}

void FakeAudioBackend::endIO(AudioObjectId id)
{
    std::lock_guard lock(mutex_);
    for (Unit* unit : live_) {
        if (unit->deviceId() == id)
            unit->endIO();
    }
}

void FakeAudioBackend::vanishDevice(AudioObjectId id)
{
    endIO(id);
    removeDevice(id);
}

FakeAudioBackend::Device& FakeAudioBackend::device(AudioObjectId id)
{
    std::lock_guard lock(mutex_);
    return devices_.at(id);
}

const FakeAudioBackend::Device* FakeAudioBackend::find(AudioObjectId id) const
{
    auto it = devices_.find(id);
    return it == devices_.end() ? nullptr : &it->second;
}

void FakeAudioBackend::notify(AudioObjectId object, std::uint32_t selector)
{
    notifier_.post([this, object, selector] { listeners_.fire(object, selector); });
}

void FakeAudioBackend::flushNotifications()
{
    notifier_.sync();
}

void FakeAudioBackend::waitWhileHung()
{
    std::unique_lock lock(hangMutex_);
    const auto generation = hangGeneration_;
    ++hung_;
    hangWake_.notify_all();
    hangWake_.wait(lock, [&] { return hangGeneration_ != generation; });
    --hung_;
}

void FakeAudioBackend::releaseHangs()
{
    {
        std::lock_guard lock(hangMutex_);
        ++hangGeneration_;
    }
    hangWake_.notify_all();
}

int FakeAudioBackend::hungCount() const
{
    std::lock_guard lock(hangMutex_);
    return hung_;
}

void FakeAudioBackend::pump(double seconds)
{
    const double end = simTime_ + seconds;
    for (;;) {
        Unit* next = nullptr;
        {
            std::lock_guard lock(mutex_);
            double best = end;
            for (Unit* unit : live_) {
                if (unit->running() && unit->nextTime() < best) {
                    best = unit->nextTime();
                    next = unit;
                }
            }
            if (next)
                simTime_ = best;
        }
        if (!next)
            break;
        next->tick();
    }
    simTime_ = end;
}

std::vector<std::shared_ptr<FakeAudioBackend::UnitRecord>> FakeAudioBackend::units() const
{
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::pair<AudioObjectId, std::uint32_t>> FakeAudioBackend::bufferRequests() const
{
    std::lock_guard lock(mutex_);
    return bufferRequests_;
}

std::optional<std::vector<AudioObjectId>> FakeAudioBackend::deviceList()
{
    std::vector<AudioObjectId> list;
    {
        std::lock_guard lock(mutex_);
        if (!deviceListReadable_)
            return std::nullopt;
        list = order_;
    }
    for (auto id : aggregates_.ids())
        list.push_back(id);
    return list;
}

std::optional<AudioObjectId> FakeAudioBackend::defaultOutputDevice()
{
    std::lock_guard lock(mutex_);
    return defaultOutput_;
}

#define FAKE_READ(expr, aggregateRead)                 \
    if (aggregates_.contains(device))                  \
        return aggregateRead;                          \
    std::lock_guard lock(mutex_);                      \
    const Device* d = find(device);                    \
    if (!d)                                            \
        return std::nullopt;                           \
    return expr;

std::optional<std::vector<int>> FakeAudioBackend::streamChannels(AudioObjectId device, Scope scope)
{
    FAKE_READ(scope == Scope::output ? d->outputStreams : d->inputStreams, aggregates_.streamChannels(device, scope))
}
std::optional<std::string> FakeAudioBackend::deviceUID(AudioObjectId device)
{
    FAKE_READ(d->uid, aggregates_.uid(device))
}
std::optional<std::string> FakeAudioBackend::deviceName(AudioObjectId device)
{
    FAKE_READ(d->name, aggregates_.name(device))
}
std::optional<double> FakeAudioBackend::nominalSampleRate(AudioObjectId device)
{
    FAKE_READ(d->nominalSampleRate, aggregates_.nominalSampleRate(device))
}
std::optional<std::pair<double, double>> FakeAudioBackend::bufferSizeRange(AudioObjectId device)
{
    FAKE_READ(d->bufferSizeRange, aggregates_.bufferSizeRange(device))
}
std::optional<std::uint32_t> FakeAudioBackend::transportType(AudioObjectId device)
{
    FAKE_READ(d->transport, std::optional<std::uint32_t>(transport::aggregate))
}
std::optional<std::uint32_t> FakeAudioBackend::bufferSize(AudioObjectId device)
{
    FAKE_READ(d->bufferSizeReadable ? std::optional(d->bufferSize) : std::nullopt, aggregates_.bufferSize(device))
}
std::optional<std::uint32_t> FakeAudioBackend::outputLatency(AudioObjectId device)
{
    FAKE_READ(d->latency, aggregates_.outputLatency(device))
}
std::optional<std::uint32_t> FakeAudioBackend::safetyOffset(AudioObjectId device)
{
    FAKE_READ(d->safetyOffset, aggregates_.safetyOffset(device))
}
#undef FAKE_READ

OSStatus FakeAudioBackend::setBufferSize(AudioObjectId device, std::uint32_t frames)
{
    if (aggregates_.contains(device))
        return aggregates_.setBufferSize(device, frames);
    std::lock_guard lock(mutex_);
    bufferRequests_.emplace_back(device, frames);
    auto it = devices_.find(device);
    if (it == devices_.end())
        return kStatusBadObject;
    Device& d = it->second;
    if (!d.bufferSizeReadable)
        return kStatusUnspecified;
    const auto range = d.bufferSizeRange.value_or(std::pair(32.0, 4096.0));
    d.bufferSize = std::uint32_t(std::clamp<double>(frames, range.first, std::max(range.first, range.second)));
    return 0;
}

std::optional<AudioObjectId> FakeAudioBackend::createAggregate(const AggregateDescription& description)
{
    if (aggregatesFail_)
        return std::nullopt;
    return aggregates_.create(description);
}

OSStatus FakeAudioBackend::destroyAggregate(AudioObjectId device)
{
    return aggregates_.destroy(device);
}

AudioBackend::ListenerId FakeAudioBackend::addListener(AudioObjectId object, std::uint32_t selector,
                                                       std::function<void()> changed)
{
    if (listenersFail_)
        return 0;
    return listeners_.add(object, selector, std::move(changed));
}

void FakeAudioBackend::removeListener(ListenerId id)
{
    listeners_.remove(id);
}

OSStatus FakeAudioBackend::newOutputUnit(std::unique_ptr<OutputUnit>& unit)
{
    if (newUnitStatus_ != 0)
        return newUnitStatus_;
    unit = std::make_unique<DeferredUnit>(
        [this](AudioObjectId id, std::unique_ptr<OutputUnit>& out) { return makeDeviceUnit(id, out); });
    return 0;
}

OSStatus FakeAudioBackend::makeDeviceUnit(AudioObjectId id, std::unique_ptr<OutputUnit>& out)
{
    if (aggregates_.contains(id)) {
        out = aggregates_.makeUnit(id);
        return out ? 0 : kStatusBadObject;
    }
    std::lock_guard lock(mutex_);
    const Device* d = find(id);
    if (!d)
        return kStatusBadObject;
    if (auto it = d->failSteps.find("select device"); it != d->failSteps.end())
        return it->second;
    auto record = std::make_shared<UnitRecord>();
    record->device = id;
    record->captureLimit = captureLimit_;
    records_.push_back(record);
    auto made = std::make_unique<Unit>(*this, id, record);
    live_.push_back(made.get());
    out = std::move(made);
    return 0;
}

} // namespace zelvo
