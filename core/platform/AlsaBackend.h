#pragma once
// Sound cards through ALSA. Desktop sound servers hold the cards, so ALSA's
// "default" PCM is listed too and is the default output when it opens; each
// card's playback PCM devices follow, probed for channels, rates and period
// sizes (defaults when a card is busy), with their transport from sysfs. UIDs
// are stable across reboots: built from the card's id string, or for USB cards
// in the "AppleUSBAudioEngine:<vendor>:<model>:<location>:<device>" form the
// device layer reads USB locations from. A watcher on /dev/snd turns the burst
// of events one plug makes into one device-list notification.
#include "platform/AudioBackend.h"
#include "platform/ListenerSet.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace zelvo {

class AlsaBackend final : public AudioBackend {
public:
    struct Options {
        bool probeDefault = true; // list "default" when it opens
        bool scanCards = true;    // list every card's playback devices
        bool watch = true;        // follow /dev/snd
        // Further PCMs by ALSA name, listed after the cards (tests use "null").
        struct Pcm {
            std::string pcm;
            std::string name;
            std::uint32_t transport = 0;
        };
        std::vector<Pcm> extraPcms;
    };

    AlsaBackend();
    explicit AlsaBackend(Options options);
    ~AlsaBackend() override;

    // Forgets the probed devices; the next read scans again. Any thread.
    void rescan();

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

    // One probed PCM device.
    struct Device {
        std::string pcm;  // ALSA name used to open it
        std::string uid;
        std::string name;
        int outputChannels = 2;
        int inputChannels = 0;
        double rate = 48000;
        double minFrames = 32, maxFrames = 4096;
        std::uint32_t transport = 0;
        std::uint32_t bufferSize = 512;    // requested period size
        std::uint32_t latencyFrames = 0;   // buffer minus one period, once opened
    };

private:
    void scanLocked();
    Device* findLocked(AudioObjectId id);
    void watchLoop();

    Options options_;
    std::mutex mutex_;
    bool scanned_ = false;
    std::vector<AudioObjectId> order_;
    std::map<AudioObjectId, Device> devices_;
    std::map<std::string, AudioObjectId> ids_; // stable per UID for the process
    std::map<std::string, std::uint32_t> requestedSizes_;
    AudioObjectId nextId_ = 2;
    std::optional<AudioObjectId> default_;
    ListenerSet listeners_;

    int stopFd_ = -1;
    std::thread watcher_;
};

} // namespace zelvo
