#include "audio/CoreAudioHAL.h"

#include "platform/AudioBackend.h"
#include "platform/SerialQueue.h"
#include "platform/SystemAudioBackend.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <numeric>
#include <thread>

namespace zelvo::CoreAudioHAL {

namespace {

std::mutex backendMutex;
std::shared_ptr<AudioBackend> installed;

int channelSum(const std::optional<std::vector<int>>& streams)
{
    if (!streams)
        return 0;
    std::int64_t sum = 0;
    for (int c : *streams)
        sum += std::max(c, 0);
    return int(std::min<std::int64_t>(sum, std::numeric_limits<int>::max()));
}

// Integer part of a frame count read as a double, kept within int range; NaN
// counts as unreadable.
std::optional<int> wholeFrames(double v)
{
    if (std::isnan(v))
        return std::nullopt;
    return int(std::clamp(std::trunc(v), 0.0, double(std::numeric_limits<int>::max())));
}

std::optional<AudioDevice> readDevice(AudioBackend& b, std::uint32_t id)
{
    AudioDevice d;
    d.id = id;
    d.outputChannels = channelSum(b.streamChannels(id, Scope::output));
    if (d.outputChannels < 1)
        return std::nullopt;
    if (auto range = b.bufferSizeRange(id)) {
        auto lower = wholeFrames(range->first);
        auto upper = wholeFrames(range->second);
        if (lower && upper)
            d.bufferSizeRange = {*lower, std::max(*upper, *lower)};
    }
    d.transport = transportLabel(b.transportType(id));
    d.uid = b.deviceUID(id).value_or("");
    d.name = b.deviceName(id).value_or("");
    const auto rate = b.nominalSampleRate(id);
    d.nominalSampleRate = rate && std::isfinite(*rate) && *rate > 0 ? *rate : 48000.0;
    return d;
}

bool isGone(AudioBackend& b, std::uint32_t id)
{
    return channelSum(b.streamChannels(id, Scope::output)) < 1;
}

} // namespace

std::shared_ptr<AudioBackend> backend()
{
    std::lock_guard lock(backendMutex);
    if (!installed)
        installed = makeSystemAudioBackend();
    return installed;
}

std::shared_ptr<AudioBackend> installBackend(std::shared_ptr<AudioBackend> backend)
{
    std::lock_guard lock(backendMutex);
    return std::exchange(installed, std::move(backend));
}

std::vector<AudioDevice> outputDevices()
{
    auto b = backend();
    std::vector<AudioDevice> out;
    auto list = b->deviceList();
    if (!list)
        return out;
    for (auto id : *list) {
        if (auto d = readDevice(*b, id); d && d->outputChannels >= 2)
            out.push_back(std::move(*d));
    }
    return out;
}

std::optional<AudioDevice> device(std::uint32_t id)
{
    return readDevice(*backend(), id);
}

std::uint32_t defaultOutputDevice()
{
    return backend()->defaultOutputDevice().value_or(0);
}

int outputChannelCount(std::uint32_t id)
{
    return channelSum(backend()->streamChannels(id, Scope::output));
}

int inputChannelCount(std::uint32_t id)
{
    return channelSum(backend()->streamChannels(id, Scope::input));
}

void setBufferSize(std::uint32_t id, std::int64_t frames)
{
    const auto clamped = std::clamp<std::int64_t>(frames, 0, std::numeric_limits<std::uint32_t>::max());
    backend()->setBufferSize(id, std::uint32_t(clamped));
}

int bufferSize(std::uint32_t id)
{
    const auto frames = backend()->bufferSize(id);
    return frames ? int(std::min<std::uint32_t>(*frames, std::numeric_limits<int>::max())) : 512;
}

double outputLatency(std::uint32_t id)
{
    auto b = backend();
    auto rate = b->nominalSampleRate(id);
    const double r = rate && std::isfinite(*rate) && *rate > 0 ? *rate : 48000.0;
    const double latency = b->outputLatency(id).value_or(0);
    const double safety = b->safetyOffset(id).value_or(0);
    const double buffer = b->bufferSize(id).value_or(512);
    return (latency + safety + buffer) / r;
}

std::optional<std::uint32_t> createAggregate(const std::string& name, const std::string& uid,
                                             const std::vector<std::string>& subDevices)
{
    if (subDevices.empty())
        return std::nullopt;
    AggregateDescription description;
    description.name = name;
    description.uid = uid;
    description.isPrivate = true;
    for (std::size_t i = 0; i < subDevices.size(); ++i)
        description.subDevices.push_back({subDevices[i], i != 0});
    description.master = subDevices.front();
    auto id = backend()->createAggregate(description);
    if (!id || *id == 0)
        return std::nullopt;
    return id;
}

bool destroyAggregate(std::uint32_t id)
{
    auto b = backend();
    if (b->destroyAggregate(id) != 0)
        return false;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (isGone(*b, id))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return isGone(*b, id);
}

std::optional<std::int64_t> usbLocation(const std::string& uid)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= uid.size()) {
        const auto end = std::min(uid.find(':', start), uid.size());
        if (end > start)
            pieces.push_back(uid.substr(start, end - start));
        start = end + 1;
    }
    if (pieces.size() < 4 || !pieces[0].starts_with("AppleUSBAudioEngine"))
        return std::nullopt;
    for (std::size_t i = 3; i < pieces.size(); ++i) {
        std::string piece = pieces[i];
        if (piece.starts_with("0x"))
            piece.erase(0, 2);
        if (piece.size() < 6)
            continue;
        // Hexadecimal digits only, and small enough for a signed 64-bit number.
        const auto first = piece.find_first_not_of('0');
        const std::size_t significant = first == std::string::npos ? 0 : piece.size() - first;
        const bool hex = std::all_of(piece.begin(), piece.end(), [](char c) { return std::isxdigit(unsigned(c)) != 0; });
        if (!hex || significant > 16 || (significant == 16 && piece[first] > '7'))
            continue;
        return std::int64_t(std::stoull(piece, nullptr, 16));
    }
    return std::nullopt;
}

std::string transportLabel(std::optional<std::uint32_t> type)
{
    if (!type)
        return "EXT";
    switch (*type) {
    case transport::builtIn: return "BUILT-IN";
    case transport::usb: return "USB";
    case transport::thunderbolt: return "TB";
    case transport::hdmi: return "HDMI";
    case transport::displayPort: return "DP";
    case transport::airPlay: return "AIRPLAY";
    case transport::bluetooth:
    case transport::bluetoothLE: return "BT";
    case transport::aggregate: return "AGG";
    case transport::virtualDevice: return "VIRT";
    default: return "EXT";
    }
}

Listener::Listener() : queue_(std::make_unique<SerialQueue>(kQueueLabel)) {}

Listener::~Listener()
{
    removeAll();
    queue_.reset(); // joins; handlers still queued see their registration gone
}

void Listener::watch(std::uint32_t object, std::uint32_t selector, std::function<void()> handler)
{
    auto b = backend();
    auto alive = std::make_shared<std::atomic<bool>>(true);
    SerialQueue* queue = queue_.get();
    auto shared = std::make_shared<std::function<void()>>(std::move(handler));
    const auto id = b->addListener(object, selector, [queue, alive, shared] {
        queue->post([alive, shared] {
            if (alive->load(std::memory_order_acquire))
                (*shared)();
        });
    });
    if (id == 0)
        return;
    std::lock_guard lock(mutex_);
    blocks_.push_back({std::move(b), id, object, selector, std::move(alive)});
}

void Listener::removeAll()
{
    std::vector<Block> blocks;
    {
        std::lock_guard lock(mutex_);
        blocks.swap(blocks_);
    }
    for (auto& block : blocks) {
        block.alive->store(false, std::memory_order_release);
        block.backend->removeListener(block.id);
    }
}

std::size_t Listener::count() const
{
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

} // namespace zelvo::CoreAudioHAL
