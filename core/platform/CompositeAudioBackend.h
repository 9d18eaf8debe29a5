#pragma once
// Several backends seen as one sound system: their devices side by side in one
// id space (the first member's first), the first member's default output that
// exists as the default, and aggregates over any of their devices.
#include "platform/AggregateDevices.h"
#include "platform/AudioBackend.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zelvo {

class CompositeAudioBackend final : public AudioBackend {
public:
    // Members in order of precedence. Any thread.
    explicit CompositeAudioBackend(std::vector<std::shared_ptr<AudioBackend>> members);
    ~CompositeAudioBackend() override;

    std::optional<std::vector<AudioObjectId>> deviceList() override;
    std::optional<AudioObjectId> defaultOutputDevice() override;
    std::optional<std::vector<int>> streamChannels(AudioObjectId device, Scope scope) override;
    std::optional<std::string> deviceUID(AudioObjectId device) override;
    std::optional<std::string> deviceName(AudioObjectId device) override;
    std::optional<double> nominalSampleRate(AudioObjectId device) override;
    std::optional<std::pair<double, double>> bufferSizeRange(AudioObjectId device) override;
    std::optional<std::uint32_t> transportType(AudioObjectId device) override;
    std::optional<std::uint32_t> bufferSize(AudioObjectId device) override;
    OSStatus setBufferSize(AudioObjectId device, std::uint32_t frames) override;
    std::optional<std::uint32_t> outputLatency(AudioObjectId device) override;
    std::optional<std::uint32_t> safetyOffset(AudioObjectId device) override;
    std::optional<AudioObjectId> createAggregate(const AggregateDescription& description) override;
    OSStatus destroyAggregate(AudioObjectId device) override;
    ListenerId addListener(AudioObjectId object, std::uint32_t selector, std::function<void()> changed) override;
    void removeListener(ListenerId id) override;
    bool hasOutputComponent() override { return true; }
    OSStatus newOutputUnit(std::unique_ptr<OutputUnit>& unit) override;

private:
    struct Local {
        AudioBackend* member;
        AudioObjectId id;
    };
    std::optional<Local> resolve(AudioObjectId id) const;
    AudioObjectId globalId(std::size_t member, AudioObjectId local);
    AudioObjectId allocate();

    std::vector<std::shared_ptr<AudioBackend>> members_;
    mutable std::mutex mutex_;
    AudioObjectId next_ = 2; // 1 is the system object
    std::map<std::pair<std::size_t, AudioObjectId>, AudioObjectId> toGlobal_;
    std::map<AudioObjectId, std::pair<std::size_t, AudioObjectId>> toLocal_;
    std::map<ListenerId, std::vector<std::pair<AudioBackend*, ListenerId>>> listeners_;
    ListenerId nextListener_ = 1;
    AggregateDevices aggregates_;
};

} // namespace zelvo
