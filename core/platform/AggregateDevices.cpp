#include "platform/AggregateDevices.h"

#include "platform/ConfiguredOutputUnit.h"
#include "platform/DriftCompensator.h"

#include <algorithm>
#include <numeric>

namespace zelvo {

namespace {

class AggregateUnit final : public ConfiguredOutputUnit {
public:
    AggregateUnit(AudioBackend& owner, std::vector<AudioObjectId> subs) : owner_(owner)
    {
        for (auto id : subs) {
            auto sub = std::make_unique<Sub>();
            sub->id = id;
            sub->self = this;
            int channels = 0;
            if (auto streams = owner.streamChannels(id, Scope::output))
                channels = std::accumulate(streams->begin(), streams->end(), 0);
            sub->channels = channels;
            subs_.push_back(std::move(sub));
        }
    }

    ~AggregateUnit() override
    {
        stop();
        for (auto& sub : subs_)
            sub->unit.reset(); // joins each device's thread before the links go
    }

    OSStatus selectDevice(AudioObjectId) override { return kStatusNotReady; }

    OSStatus initialize() override
    {
        if (initialized_)
            return 0;
        if (!configured() || subs_.empty())
            return kStatusNotReady;
        const int masterBlock = int(owner_.bufferSize(subs_[0]->id).value_or(512));
        int offset = 0;
        for (std::size_t i = 0; i < subs_.size(); ++i) {
            Sub& sub = *subs_[i];
            std::vector<int> slice(std::size_t(sub.channels), -1);
            for (int c = 0; c < sub.channels; ++c) {
                const std::size_t at = std::size_t(offset + c);
                if (at < map_.size())
                    slice[std::size_t(c)] = map_[at];
            }
            offset += sub.channels;
            const double subRate = i == 0 ? rate_ : owner_.nominalSampleRate(sub.id).value_or(rate_);
            OSStatus status = owner_.newOutputUnit(sub.unit);
            if (status == 0 && !sub.unit)
                status = kStatusUnspecified;
            if (status == 0)
                status = sub.unit->selectDevice(sub.id);
            if (status == 0)
                status = sub.unit->setClientFormat(subRate, clientChannels_);
            if (status == 0) {
                sub.unit->setChannelMap(slice);
                sub.unit->setMaxFramesPerSlice(maxFrames_);
                if (i == 0) {
                    status = sub.unit->setRenderCallback(&AggregateUnit::renderMaster, this);
                } else {
                    sub.link = std::make_unique<DriftCompensator>();
                    const int block = int(owner_.bufferSize(sub.id).value_or(512));
                    sub.link->prepare(clientChannels_, rate_, subRate, masterBlock, block);
                    status = sub.unit->setRenderCallback(&AggregateUnit::renderFollower, &sub);
                }
            }
            if (status == 0)
                status = sub.unit->initialize();
            if (status != 0) {
                for (auto& s : subs_)
                    s->unit.reset();
                return status;
            }
        }
        initialized_ = true;
        return 0;
    }

    OSStatus start() override
    {
        if (!initialized_)
            return kStatusNotReady;
        if (running_) {
            if (!ended())
                return 0;
            stop(); // the master's I/O ended by itself: stop all, then try again
        }
        for (auto& sub : subs_) {
            if (sub->link)
                sub->link->reset();
        }
        // Followers first: they play silence until the master has filled their ring.
        for (std::size_t i = subs_.size(); i-- > 0;) {
            if (OSStatus status = subs_[i]->unit->start(); status != 0) {
                for (std::size_t j = i + 1; j < subs_.size(); ++j)
                    subs_[j]->unit->stop();
                return status;
            }
        }
        running_ = true;
        return 0;
    }

    OSStatus stop() override
    {
        if (!running_)
            return 0;
        for (auto& sub : subs_)
            sub->unit->stop();
        running_ = false;
        return 0;
    }

    int underruns() const override
    {
        int total = 0;
        for (const auto& sub : subs_) {
            if (sub->unit)
                total += sub->unit->underruns();
            if (sub->link)
                total += sub->link->underruns() + sub->link->overruns();
        }
        return total;
    }

    // The clock master's I/O drives the whole aggregate: when it has ended
    // nothing renders. A follower that went away leaves the master playing;
    // the device-list change that follows rebuilds the rig, and one that
    // stays listed reads in partEnded().
    bool ended() const override { return !subs_.empty() && subs_[0]->unit && subs_[0]->unit->ended(); }
    bool partEnded() const override
    {
        return std::any_of(subs_.begin(), subs_.end(), [](const auto& sub) { return sub->unit && sub->unit->ended(); });
    }

private:
    struct Sub {
        AudioObjectId id = 0;
        int channels = 0;
        std::unique_ptr<OutputUnit> unit;
        std::unique_ptr<DriftCompensator> link; // null for the clock master
        AggregateUnit* self = nullptr;
    };

    // The master's render thread renders the client channels once and hands
    // them to every follower.
    static void renderMaster(void* context, float* const* channels, int, int frames)
    {
        auto* self = static_cast<AggregateUnit*>(context);
        self->renderClient(channels, frames);
        for (std::size_t i = 1; i < self->subs_.size(); ++i)
            self->subs_[i]->link->push(channels, frames);
    }

    static void renderFollower(void* context, float* const* channels, int, int frames)
    {
        static_cast<Sub*>(context)->link->pull(channels, frames);
    }

    AudioBackend& owner_;
    std::vector<std::unique_ptr<Sub>> subs_;
    bool running_ = false;
};

} // namespace

AggregateDevices::AggregateDevices(AudioBackend& owner, std::function<AudioObjectId()> allocateId)
    : owner_(owner), allocateId_(std::move(allocateId))
{
}

std::optional<AudioObjectId> AggregateDevices::create(const AggregateDescription& description)
{
    if (description.subDevices.empty() || description.uid.empty())
        return std::nullopt;
    if (find(description.uid))
        return std::nullopt;
    auto list = owner_.deviceList();
    if (!list)
        return std::nullopt;
    std::vector<AudioObjectId> subs;
    for (const auto& sub : description.subDevices) {
        std::optional<AudioObjectId> found;
        for (auto id : *list) {
            if (contains(id))
                continue; // no aggregates of aggregates
            if (owner_.deviceUID(id) == sub.uid) {
                found = id;
                break;
            }
        }
        if (!found)
            return std::nullopt;
        auto streams = owner_.streamChannels(*found, Scope::output);
        if (!streams || std::accumulate(streams->begin(), streams->end(), 0) < 1)
            return std::nullopt;
        subs.push_back(*found);
    }
    // The first sub-device is the clock master (the description names it again).
    const AudioObjectId id = allocateId_();
    std::lock_guard lock(mutex_);
    aggregates_.emplace(id, Aggregate{description, std::move(subs)});
    return id;
}

OSStatus AggregateDevices::destroy(AudioObjectId id)
{
    std::lock_guard lock(mutex_);
    return aggregates_.erase(id) ? 0 : kStatusBadObject;
}

bool AggregateDevices::contains(AudioObjectId id) const
{
    std::lock_guard lock(mutex_);
    return aggregates_.count(id) != 0;
}

std::vector<AudioObjectId> AggregateDevices::ids() const
{
    std::lock_guard lock(mutex_);
    std::vector<AudioObjectId> out;
    for (const auto& [id, aggregate] : aggregates_)
        out.push_back(id);
    return out;
}

std::optional<AudioObjectId> AggregateDevices::find(const std::string& uid) const
{
    std::lock_guard lock(mutex_);
    for (const auto& [id, aggregate] : aggregates_) {
        if (aggregate.description.uid == uid)
            return id;
    }
    return std::nullopt;
}

std::optional<AggregateDevices::Aggregate> AggregateDevices::get(AudioObjectId id) const
{
    std::lock_guard lock(mutex_);
    auto it = aggregates_.find(id);
    if (it == aggregates_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::vector<int>> AggregateDevices::streamChannels(AudioObjectId id, Scope scope)
{
    auto aggregate = get(id);
    if (!aggregate)
        return std::nullopt;
    std::vector<int> streams;
    for (auto sub : aggregate->subs) {
        if (auto s = owner_.streamChannels(sub, scope))
            streams.insert(streams.end(), s->begin(), s->end());
    }
    return streams;
}

std::optional<std::string> AggregateDevices::uid(AudioObjectId id) const
{
    auto aggregate = get(id);
    return aggregate ? std::optional(aggregate->description.uid) : std::nullopt;
}

std::optional<std::string> AggregateDevices::name(AudioObjectId id) const
{
    auto aggregate = get(id);
    return aggregate ? std::optional(aggregate->description.name) : std::nullopt;
}

std::optional<double> AggregateDevices::nominalSampleRate(AudioObjectId id)
{
    auto aggregate = get(id);
    return aggregate ? owner_.nominalSampleRate(aggregate->subs.front()) : std::nullopt;
}

std::optional<std::pair<double, double>> AggregateDevices::bufferSizeRange(AudioObjectId id)
{
    auto aggregate = get(id);
    return aggregate ? owner_.bufferSizeRange(aggregate->subs.front()) : std::nullopt;
}

std::optional<std::uint32_t> AggregateDevices::bufferSize(AudioObjectId id)
{
    auto aggregate = get(id);
    return aggregate ? owner_.bufferSize(aggregate->subs.front()) : std::nullopt;
}

OSStatus AggregateDevices::setBufferSize(AudioObjectId id, std::uint32_t frames)
{
    auto aggregate = get(id);
    if (!aggregate)
        return kStatusBadObject;
    OSStatus first = 0;
    for (auto sub : aggregate->subs) {
        const OSStatus status = owner_.setBufferSize(sub, frames);
        if (first == 0)
            first = status;
    }
    return first;
}

std::optional<std::uint32_t> AggregateDevices::outputLatency(AudioObjectId id)
{
    auto aggregate = get(id);
    return aggregate ? owner_.outputLatency(aggregate->subs.front()) : std::nullopt;
}

std::optional<std::uint32_t> AggregateDevices::safetyOffset(AudioObjectId id)
{
    auto aggregate = get(id);
    return aggregate ? owner_.safetyOffset(aggregate->subs.front()) : std::nullopt;
}

std::unique_ptr<OutputUnit> AggregateDevices::makeUnit(AudioObjectId id)
{
    auto aggregate = get(id);
    if (!aggregate)
        return nullptr;
    return std::make_unique<AggregateUnit>(owner_, aggregate->subs);
}

OSStatus DeferredUnit::selectDevice(AudioObjectId device)
{
    if (inner_)
        return kStatusNotReady; // a unit plays on one device for its whole life
    OSStatus status = make_(device, inner_);
    if (status == 0 && !inner_)
        status = kStatusBadObject;
    if (status != 0)
        inner_.reset();
    return status;
}

OSStatus DeferredUnit::setClientFormat(double sampleRate, int channels)
{
    return inner_ ? inner_->setClientFormat(sampleRate, channels) : kStatusNotReady;
}
OSStatus DeferredUnit::setChannelMap(std::span<const int> map)
{
    return inner_ ? inner_->setChannelMap(map) : kStatusNotReady;
}
OSStatus DeferredUnit::setMaxFramesPerSlice(int frames)
{
    return inner_ ? inner_->setMaxFramesPerSlice(frames) : kStatusNotReady;
}
OSStatus DeferredUnit::setRenderCallback(RenderFunction render, void* context)
{
    return inner_ ? inner_->setRenderCallback(render, context) : kStatusNotReady;
}
OSStatus DeferredUnit::initialize()
{
    return inner_ ? inner_->initialize() : kStatusNotReady;
}
OSStatus DeferredUnit::start()
{
    return inner_ ? inner_->start() : kStatusNotReady;
}
OSStatus DeferredUnit::stop()
{
    return inner_ ? inner_->stop() : 0;
}
int DeferredUnit::underruns() const
{
    return inner_ ? inner_->underruns() : 0;
}
bool DeferredUnit::ended() const
{
    return inner_ && inner_->ended();
}
bool DeferredUnit::partEnded() const
{
    return inner_ && inner_->partEnded();
}

} // namespace zelvo
