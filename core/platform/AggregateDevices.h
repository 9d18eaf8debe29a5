#pragma once
// Aggregate output devices built by the program itself over any backend's
// devices: the first sub-device is the clock master and its render thread drives
// the whole aggregate; every other sub-device plays through a DriftCompensator
// that follows the master's clock. A backend that offers aggregates owns one of
// these and hands it the aggregate ids' property reads and units.
#include "platform/AudioBackend.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace zelvo {

class AggregateDevices {
public:
    // `owner` is the backend whose devices become sub-devices (read and opened
    // through it); `allocateId` hands out fresh object ids in the owner's space.
    AggregateDevices(AudioBackend& owner, std::function<AudioObjectId()> allocateId);

    // Builds an aggregate. Fails (nullopt) without sub-devices, without a UID,
    // when a UID is already taken, or when a sub-device is missing or has no
    // output channel. Any thread but the audio thread (as every member here).
    std::optional<AudioObjectId> create(const AggregateDescription& description);
    // Forgets an aggregate; units already open on it keep playing until destroyed.
    OSStatus destroy(AudioObjectId id);
    // Whether `id` is one of ours.
    bool contains(AudioObjectId id) const;
    // Our aggregates' ids, oldest first.
    std::vector<AudioObjectId> ids() const;
    // The id of the aggregate with this UID, if any.
    std::optional<AudioObjectId> find(const std::string& uid) const;

    // Properties of an aggregate (nullopt for ids that are not ours).
    std::optional<std::vector<int>> streamChannels(AudioObjectId id, Scope scope);
    std::optional<std::string> uid(AudioObjectId id) const;
    std::optional<std::string> name(AudioObjectId id) const;
    std::optional<double> nominalSampleRate(AudioObjectId id);
    std::optional<std::pair<double, double>> bufferSizeRange(AudioObjectId id);
    std::optional<std::uint32_t> bufferSize(AudioObjectId id);
    OSStatus setBufferSize(AudioObjectId id, std::uint32_t frames);
    std::optional<std::uint32_t> outputLatency(AudioObjectId id);
    std::optional<std::uint32_t> safetyOffset(AudioObjectId id);

    // A unit playing on aggregate `id` (already selected); nullptr when unknown.
    std::unique_ptr<OutputUnit> makeUnit(AudioObjectId id);

private:
    struct Aggregate {
        AggregateDescription description;
        std::vector<AudioObjectId> subs; // resolved at creation, master first
    };
    std::optional<Aggregate> get(AudioObjectId id) const;

    AudioBackend& owner_;
    std::function<AudioObjectId()> allocateId_;
    mutable std::mutex mutex_;
    std::map<AudioObjectId, Aggregate> aggregates_;
};

// An output unit that exists before its device is known: every call before
// `selectDevice` fails with kStatusNotReady; `selectDevice` asks `make` for the
// real unit of that device and forwards everything after. Backends that merge
// several kinds of device (members, aggregates) hand these out.
class DeferredUnit final : public OutputUnit {
public:
    using Factory = std::function<OSStatus(AudioObjectId, std::unique_ptr<OutputUnit>&)>;
    explicit DeferredUnit(Factory make) : make_(std::move(make)) {}

    OSStatus selectDevice(AudioObjectId device) override;
    OSStatus setClientFormat(double sampleRate, int channels) override;
    OSStatus setChannelMap(std::span<const int> map) override;
    OSStatus setMaxFramesPerSlice(int frames) override;
    OSStatus setRenderCallback(RenderFunction render, void* context) override;
    OSStatus initialize() override;
    OSStatus start() override;
    OSStatus stop() override;
    int underruns() const override;
    bool ended() const override;
    bool partEnded() const override;

private:
    Factory make_;
    std::unique_ptr<OutputUnit> inner_;
};

} // namespace zelvo
