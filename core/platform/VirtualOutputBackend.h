#pragma once
// The virtual output device: always present, 48 kHz, two channels (four with
// KAVRI_VIRTUAL_CHANNELS=4), buffer sizes 32 ... 4096. A thread of its own asks
// for each slice at its absolute deadline, as a sound card's clock would, so the
// whole program runs in real time on machines without sound hardware. With
// KAVRI_VIRTUAL_CAPTURE=<path> it writes what it plays to that WAV file (32-bit
// float, rewritten at every initialise).
#include "platform/AudioBackend.h"
#include "platform/ListenerSet.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace zelvo {

class VirtualOutputBackend final : public AudioBackend {
public:
    static constexpr AudioObjectId kDeviceId = 2;
    static constexpr const char* kUID = "kavri.virtual.output";
    static constexpr const char* kName = "Virtual Output";
    static constexpr double kSampleRate = 48000.0;

    // Reads KAVRI_VIRTUAL_CHANNELS now; the capture path is read at each initialise.
    VirtualOutputBackend();

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
    std::optional<AudioObjectId> createAggregate(const AggregateDescription&) override { return std::nullopt; }
    OSStatus destroyAggregate(AudioObjectId) override { return kStatusBadObject; }
    ListenerId addListener(AudioObjectId object, std::uint32_t selector, std::function<void()> changed) override;
    void removeListener(ListenerId id) override;
    bool hasOutputComponent() override { return true; }
    OSStatus newOutputUnit(std::unique_ptr<OutputUnit>& unit) override;

    int channels() const { return channels_; }

private:
    int channels_ = 2;
    std::shared_ptr<std::atomic<std::uint32_t>> bufferSize_ = std::make_shared<std::atomic<std::uint32_t>>(512);
    ListenerSet listeners_; // the device never changes; kept so registrations succeed
};

} // namespace zelvo
