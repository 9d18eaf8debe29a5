#include "platform/CompositeAudioBackend.h"

namespace zelvo {

CompositeAudioBackend::CompositeAudioBackend(std::vector<std::shared_ptr<AudioBackend>> members)
    : members_(std::move(members)), aggregates_(*this, [this] { return allocate(); })
{
}

CompositeAudioBackend::~CompositeAudioBackend()
{
    std::map<ListenerId, std::vector<std::pair<AudioBackend*, ListenerId>>> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners.swap(listeners_);
    }
    for (auto& [id, parts] : listeners) {
        for (auto& [member, memberId] : parts)
            member->removeListener(memberId);
    }
}

AudioObjectId CompositeAudioBackend::allocate()
{
    std::lock_guard lock(mutex_);
    return next_++;
}

AudioObjectId CompositeAudioBackend::globalId(std::size_t member, AudioObjectId local)
{
    std::lock_guard lock(mutex_);
    auto key = std::pair(member, local);
    if (auto it = toGlobal_.find(key); it != toGlobal_.end())
        return it->second;
    const AudioObjectId id = next_++;
    toGlobal_.emplace(key, id);
    toLocal_.emplace(id, key);
    return id;
}

std::optional<CompositeAudioBackend::Local> CompositeAudioBackend::resolve(AudioObjectId id) const
{
    std::lock_guard lock(mutex_);
    auto it = toLocal_.find(id);
    if (it == toLocal_.end())
        return std::nullopt;
    return Local{members_[it->second.first].get(), it->second.second};
}

std::optional<std::vector<AudioObjectId>> CompositeAudioBackend::deviceList()
{
    std::vector<AudioObjectId> list;
    bool any = false;
    for (std::size_t m = 0; m < members_.size(); ++m) {
        auto local = members_[m]->deviceList();
        if (!local)
            continue;
        any = true;
        for (auto id : *local)
            list.push_back(globalId(m, id));
    }
    for (auto id : aggregates_.ids())
        list.push_back(id);
    if (!any && list.empty())
        return std::nullopt;
    return list;
}

std::optional<AudioObjectId> CompositeAudioBackend::defaultOutputDevice()
{
    for (std::size_t m = 0; m < members_.size(); ++m) {
        if (auto local = members_[m]->defaultOutputDevice())
            return globalId(m, *local);
    }
    return std::nullopt;
}

#define COMPOSITE_FORWARD(call, aggregateCall)   \
    if (aggregates_.contains(device))            \
        return aggregates_.aggregateCall;        \
    auto local = resolve(device);                \
    if (!local)                                  \
        return {};                               \
    return local->member->call;

std::optional<std::vector<int>> CompositeAudioBackend::streamChannels(AudioObjectId device, Scope scope)
{
    COMPOSITE_FORWARD(streamChannels(local->id, scope), streamChannels(device, scope))
}
std::optional<std::string> CompositeAudioBackend::deviceUID(AudioObjectId device)
{
    COMPOSITE_FORWARD(deviceUID(local->id), uid(device))
}
std::optional<std::string> CompositeAudioBackend::deviceName(AudioObjectId device)
{
    COMPOSITE_FORWARD(deviceName(local->id), name(device))
}
std::optional<double> CompositeAudioBackend::nominalSampleRate(AudioObjectId device)
{
    COMPOSITE_FORWARD(nominalSampleRate(local->id), nominalSampleRate(device))
}
std::optional<std::pair<double, double>> CompositeAudioBackend::bufferSizeRange(AudioObjectId device)
{
    COMPOSITE_FORWARD(bufferSizeRange(local->id), bufferSizeRange(device))
}
std::optional<std::uint32_t> CompositeAudioBackend::transportType(AudioObjectId device)
{
    if (aggregates_.contains(device))
        return transport::aggregate;
    auto local = resolve(device);
    if (!local)
        return std::nullopt;
    return local->member->transportType(local->id);
}
std::optional<std::uint32_t> CompositeAudioBackend::bufferSize(AudioObjectId device)
{
    COMPOSITE_FORWARD(bufferSize(local->id), bufferSize(device))
}
std::optional<std::uint32_t> CompositeAudioBackend::outputLatency(AudioObjectId device)
{
    COMPOSITE_FORWARD(outputLatency(local->id), outputLatency(device))
}
std::optional<std::uint32_t> CompositeAudioBackend::safetyOffset(AudioObjectId device)
{
    COMPOSITE_FORWARD(safetyOffset(local->id), safetyOffset(device))
}
#undef COMPOSITE_FORWARD

OSStatus CompositeAudioBackend::setBufferSize(AudioObjectId device, std::uint32_t frames)
{
    if (aggregates_.contains(device))
        return aggregates_.setBufferSize(device, frames);
    auto local = resolve(device);
    if (!local)
        return kStatusBadObject;
    return local->member->setBufferSize(local->id, frames);
}

std::optional<AudioObjectId> CompositeAudioBackend::createAggregate(const AggregateDescription& description)
{
    return aggregates_.create(description);
}

OSStatus CompositeAudioBackend::destroyAggregate(AudioObjectId device)
{
    return aggregates_.destroy(device);
}

AudioBackend::ListenerId CompositeAudioBackend::addListener(AudioObjectId object, std::uint32_t selector,
                                                            std::function<void()> changed)
{
    std::vector<std::pair<AudioBackend*, ListenerId>> parts;
    if (object == kAudioSystemObject) {
        for (auto& member : members_) {
            if (auto id = member->addListener(kAudioSystemObject, selector, changed))
                parts.emplace_back(member.get(), id);
        }
        if (parts.empty())
            return 0;
    } else if (auto local = resolve(object)) {
        auto id = local->member->addListener(local->id, selector, std::move(changed));
        if (id == 0)
            return 0;
        parts.emplace_back(local->member, id);
    } else if (!aggregates_.contains(object)) {
        return 0;
    }
    // An aggregate's own properties never change after creation: its
    // registration is kept but never fires.
    std::lock_guard lock(mutex_);
    const ListenerId id = nextListener_++;
    listeners_.emplace(id, std::move(parts));
    return id;
}

void CompositeAudioBackend::removeListener(ListenerId id)
{
    std::vector<std::pair<AudioBackend*, ListenerId>> parts;
    {
        std::lock_guard lock(mutex_);
        auto it = listeners_.find(id);
        if (it == listeners_.end())
            return;
        parts = std::move(it->second);
        listeners_.erase(it);
    }
    for (auto& [member, memberId] : parts)
        member->removeListener(memberId);
}

OSStatus CompositeAudioBackend::newOutputUnit(std::unique_ptr<OutputUnit>& unit)
{
    unit = std::make_unique<DeferredUnit>([this](AudioObjectId device, std::unique_ptr<OutputUnit>& out) -> OSStatus {
        if (aggregates_.contains(device)) {
            out = aggregates_.makeUnit(device);
            return out ? 0 : kStatusBadObject;
        }
        auto local = resolve(device);
        if (!local)
            return kStatusBadObject;
        if (!local->member->hasOutputComponent())
            return kStatusBadObject;
        if (OSStatus s = local->member->newOutputUnit(out); s != 0)
            return s;
        if (!out)
            return kStatusUnspecified;
        return out->selectDevice(local->id);
    });
    return 0;
}

} // namespace zelvo
