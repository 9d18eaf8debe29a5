#include "platform/VirtualMidiSystem.h"

#include <algorithm>

namespace zelvo {

VirtualMidiSystem::VirtualMidiSystem() = default;

VirtualMidiSystem::~VirtualMidiSystem()
{
    disposeClient();
    queue_.sync();
}

void VirtualMidiSystem::notifyChange()
{
    if (mode_ == NotifyMode::coalesce) {
        held_ = true;
        return;
    }
    const NotifyMode mode = mode_;
    queue_.post([this, mode] {
        std::lock_guard callbacks(callbackMutex_);
        if (!notify_)
            return;
        if (mode == NotifyMode::stray)
            notify_(2);
        notify_(setupChanged);
        if (mode == NotifyMode::duplicate)
            notify_(setupChanged);
        if (mode == NotifyMode::stray)
            notify_(7);
    });
}

void VirtualMidiSystem::releaseNotifications()
{
    std::lock_guard lock(mutex_);
    if (!held_)
        return;
    held_ = false;
    queue_.post([this] {
        std::lock_guard callbacks(callbackMutex_);
        if (notify_)
            notify_(setupChanged);
    });
}

void VirtualMidiSystem::setNotifyMode(NotifyMode mode)
{
    std::lock_guard lock(mutex_);
    mode_ = mode;
}

void VirtualMidiSystem::place(DeviceState& d, std::optional<std::size_t> position)
{
    auto insert = [&](std::vector<Endpoint>& list, Endpoint e) {
        const std::size_t at = std::min(position.value_or(list.size()), list.size());
        list.insert(list.begin() + std::ptrdiff_t(at), e);
    };
    if (d.config.source) {
        if (!d.source)
            d.source = nextEndpoint_++;
        insert(sources_, d.source);
    }
    if (d.config.destination) {
        if (!d.destination)
            d.destination = nextEndpoint_++;
        insert(destinations_, d.destination);
    }
    d.present = true;
}

void VirtualMidiSystem::unplace(DeviceState& d)
{
    std::erase(sources_, d.source);
    std::erase(destinations_, d.destination);
    connections_.erase(d.source);
    d.present = false;
}

VirtualMidiSystem::DeviceId VirtualMidiSystem::addDevice(Device device, std::optional<std::size_t> position)
{
    std::lock_guard lock(mutex_);
    const DeviceId id = nextDevice_++;
    auto& d = devices_[id];
    d.config = std::move(device);
    place(d, position);
    notifyChange();
    return id;
}

void VirtualMidiSystem::removeDevice(DeviceId id)
{
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it == devices_.end() || !it->second.present)
        return;
    unplace(it->second);
    notifyChange();
}

void VirtualMidiSystem::renameDevice(DeviceId id, std::optional<std::string> sourceName,
                                     std::optional<std::string> destinationName)
{
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it == devices_.end())
        return;
    if (it->second.config.source)
        it->second.config.source->name = std::move(sourceName);
    if (it->second.config.destination)
        it->second.config.destination->name = std::move(destinationName);
    notifyChange();
}

void VirtualMidiSystem::readdDevice(DeviceId id, bool sameReferences)
{
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it == devices_.end() || it->second.present)
        return;
    if (!sameReferences) {
        it->second.source = 0;
        it->second.destination = 0;
    }
    place(it->second, std::nullopt);
    notifyChange();
}

MidiSystem::Endpoint VirtualMidiSystem::sourceOf(DeviceId id) const
{
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second.source;
}

MidiSystem::Endpoint VirtualMidiSystem::destinationOf(DeviceId id) const
{
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    return it == devices_.end() ? 0 : it->second.destination;
}

const VirtualMidiSystem::DeviceState* VirtualMidiSystem::deviceOf(Endpoint endpoint, bool& isSource) const
{
    for (const auto& [id, d] : devices_) {
        if (!d.present || endpoint == 0)
            continue;
        if (d.config.source && d.source == endpoint) {
            isSource = true;
            return &d;
        }
        if (d.config.destination && d.destination == endpoint) {
            isSource = false;
            return &d;
        }
    }
    return nullptr;
}

void VirtualMidiSystem::injectPackets(Endpoint source, std::vector<std::vector<std::uint32_t>> packets,
                                      std::vector<std::uint32_t> claimedWordCounts)
{
    queue_.post([this, source, packets = std::move(packets), counts = std::move(claimedWordCounts)]() mutable {
        deliver(source, std::move(packets), std::move(counts));
    });
}

void VirtualMidiSystem::injectBytes(Endpoint source, std::span<const std::uint8_t> bytes)
{
    std::vector<std::vector<std::uint32_t>> packets(1);
    std::uint8_t status = 0;
    std::size_t i = 0;
    auto dataBytes = [](std::uint8_t s) { return (s >> 4) == 0xC || (s >> 4) == 0xD ? 1 : 2; };
    while (i < bytes.size()) {
        std::uint8_t b = bytes[i];
        if (b == 0xF0) {
            // Skip a SysEx to its end.
            while (i < bytes.size() && bytes[i] != 0xF7)
                ++i;
            ++i;
            status = 0;
            continue;
        }
        if (b >= 0xF0) {
            // System messages: real-time ones keep running status.
            if (b < 0xF8)
                status = 0;
            ++i;
            continue;
        }
        if (b & 0x80) {
            status = b;
            ++i;
        }
        if (!status) {
            ++i;
            continue;
        }
        const int n = dataBytes(status);
        if (i + std::size_t(n) > bytes.size())
            break;
        std::uint32_t word = 0x20000000u | (std::uint32_t(status) << 16);
        word |= std::uint32_t(bytes[i] & 0x7F) << 8;
        if (n == 2)
            word |= std::uint32_t(bytes[i + 1] & 0x7F);
        i += std::size_t(n);
        if (packets.back().size() == 64)
            packets.emplace_back();
        packets.back().push_back(word);
    }
    if (packets.front().empty())
        return;
    injectPackets(source, std::move(packets));
}

void VirtualMidiSystem::deliver(Endpoint source, std::vector<std::vector<std::uint32_t>> packets,
                                std::vector<std::uint32_t> counts)
{
    std::uint64_t ref = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = connections_.find(source);
        if (it == connections_.end())
            return;
        ref = it->second;
    }
    std::vector<MidiPacket> list;
    list.reserve(packets.size());
    for (std::size_t p = 0; p < packets.size(); ++p) {
        const auto count = p < counts.size() ? counts[p] : std::uint32_t(packets[p].size());
        // A claimed count beyond the words given is padded with zero words.
        if (packets[p].size() < count)
            packets[p].resize(count, 0);
        list.push_back({0, count, packets[p].data()});
    }
    std::lock_guard callbacks(callbackMutex_);
    if (!receive_)
        return;
    {
        std::lock_guard lock(mutex_);
        ++deliveries_;
    }
    const auto call = [&] { receive_(MidiEventList(list), ref); };
    if (wrapper_)
        wrapper_(call);
    else
        call();
}

void VirtualMidiSystem::flush()
{
    queue_.sync();
}

void VirtualMidiSystem::setDeliveryWrapper(std::function<void(const std::function<void()>&)> wrapper)
{
    std::lock_guard callbacks(callbackMutex_);
    wrapper_ = std::move(wrapper);
}

std::vector<VirtualMidiSystem::Sent> VirtualMidiSystem::sent(Endpoint destination) const
{
    std::lock_guard lock(mutex_);
    auto it = sent_.find(destination);
    return it == sent_.end() ? std::vector<Sent>{} : it->second;
}

std::map<MidiSystem::Endpoint, std::uint64_t> VirtualMidiSystem::connections() const
{
    std::lock_guard lock(mutex_);
    return connections_;
}

int VirtualMidiSystem::droppedSends() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

int VirtualMidiSystem::deliveries() const
{
    std::lock_guard lock(mutex_);
    return deliveries_;
}

bool VirtualMidiSystem::createClient(const std::string&, NotifyCallback notify)
{
    std::lock_guard callbacks(callbackMutex_);
    notify_ = std::move(notify);
    return true;
}

bool VirtualMidiSystem::createInputPort(const std::string&, ReceiveCallback receive)
{
    std::lock_guard callbacks(callbackMutex_);
    receive_ = std::move(receive);
    return true;
}

bool VirtualMidiSystem::createOutputPort(const std::string&)
{
    return true;
}

void VirtualMidiSystem::disposeClient()
{
    {
        std::lock_guard callbacks(callbackMutex_);
        notify_ = nullptr;
        receive_ = nullptr;
    }
    std::lock_guard lock(mutex_);
    connections_.clear();
}

std::vector<MidiSystem::Endpoint> VirtualMidiSystem::sources()
{
    std::lock_guard lock(mutex_);
    return sources_;
}

std::vector<MidiSystem::Endpoint> VirtualMidiSystem::destinations()
{
    std::lock_guard lock(mutex_);
    return destinations_;
}

std::optional<std::string> VirtualMidiSystem::displayName(Endpoint endpoint)
{
    std::lock_guard lock(mutex_);
    bool isSource = false;
    const auto* d = deviceOf(endpoint, isSource);
    if (!d)
        return std::nullopt;
    return isSource ? d->config.source->name : d->config.destination->name;
}

std::optional<std::uint32_t> VirtualMidiSystem::usbLocation(Endpoint endpoint)
{
    std::lock_guard lock(mutex_);
    bool isSource = false;
    const auto* d = deviceOf(endpoint, isSource);
    return d ? d->config.usbLocation : std::nullopt;
}

std::optional<std::uint32_t> VirtualMidiSystem::uniqueId(Endpoint endpoint)
{
    std::lock_guard lock(mutex_);
    bool isSource = false;
    const auto* d = deviceOf(endpoint, isSource);
    return d ? d->config.uniqueId : std::nullopt;
}

bool VirtualMidiSystem::connectSource(Endpoint source, std::uint64_t connectionRef)
{
    std::lock_guard lock(mutex_);
    bool isSource = false;
    if (!deviceOf(source, isSource) || !isSource)
        return false;
    connections_[source] = connectionRef;
    return true;
}

void VirtualMidiSystem::disconnectSource(Endpoint source)
{
    std::lock_guard lock(mutex_);
    connections_.erase(source);
}

void VirtualMidiSystem::send(Endpoint destination, std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    bool isSource = true;
    if (!deviceOf(destination, isSource) || isSource) {
        ++dropped_;
        return;
    }
    sent_[destination].push_back(
        {std::vector<std::uint8_t>(bytes.begin(), bytes.end()), std::chrono::steady_clock::now(),
         std::this_thread::get_id()});
}

} // namespace zelvo
