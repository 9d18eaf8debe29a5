#pragma once
// A scripted sound system for tests: devices whose every property can be
// unreadable, output-unit steps that fail with a chosen status, an initialise
// that hangs until released, aggregates, listeners fired from a thread of the
// backend's own, device clocks that run slightly fast or slow, and devices
// that fail or go away under a playing unit.
//
// Units never start threads: `pump` plays every started unit on the caller's
// thread in simulated time, each at its own device's clock, so an hour of
// playback takes seconds and nothing depends on the machine's load.
#include "platform/AggregateDevices.h"
#include "platform/AudioBackend.h"
#include "platform/ListenerSet.h"
#include "platform/SerialQueue.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace zelvo {

class FakeAudioBackend final : public AudioBackend {
public:
    // One scripted device. nullopt fields read as unreadable.
    struct Device {
        std::optional<std::string> uid = std::string("fake.device");
        std::optional<std::string> name = std::string("Fake Device");
        std::optional<std::vector<int>> outputStreams = std::vector<int>{2};
        std::optional<std::vector<int>> inputStreams = std::vector<int>{};
        std::optional<double> nominalSampleRate = 48000.0;
        std::optional<std::pair<double, double>> bufferSizeRange = std::pair(32.0, 4096.0);
        std::optional<std::uint32_t> transport = transport::usb;
        // Current 'fsiz'; setBufferSize stores the request here (clamped to the
        // range) unless `bufferSizeReadable` is false.
        std::uint32_t bufferSize = 512;
        bool bufferSizeReadable = true;
        std::optional<std::uint32_t> latency = 0u;
        std::optional<std::uint32_t> safetyOffset = 0u;
        // Clock error in parts per million: the device plays
        // nominalSampleRate * (1 + ppm / 1e6) frames per simulated second.
        double clockPPM = 0.0;
        // Unit steps that fail on this device: "select device", "client format",
        // "render callback", "initialize", "start" -> status.
        std::map<std::string, OSStatus> failSteps;
        // initialize() blocks until releaseHangs().
        bool hangOnInitialize = false;
        // start() throws, as making a thread does when the system has none.
        bool startThrows = false;
    };

    // What a unit was told and what it played; shared with the test.
    struct UnitRecord {
        AudioObjectId device = 0;
        double sampleRate = 0;
        int clientChannels = 0;
        std::vector<int> channelMap;
        int maxFrames = 0;
        bool initialized = false;
        bool running = false;
        bool destroyed = false;
        // Its I/O ended by itself while started (endIO, vanishDevice).
        bool ended = false;
        std::int64_t framesPlayed = 0;
        std::int64_t callbacks = 0;
        // The first `captureLimit` frames played, per device channel.
        std::int64_t captureLimit = 0;
        std::vector<std::vector<float>> captured;
        // Largest jump between consecutive samples of any device channel (a click
        // detector over the whole run).
        float maxStep = 0.0f;
    };

    FakeAudioBackend();
    ~FakeAudioBackend() override;

    // Script. Main (test) thread.
    AudioObjectId addDevice(Device device);
    void removeDevice(AudioObjectId id);
    // The device fails under a playing unit, as a sound card does when its
    // writes fail for good: the I/O of every started unit on it ends by
    // itself (ended() reads true, it plays no more slices). The device stays
    // listed, and a unit started on it again plays.
    void endIO(AudioObjectId id);
    // The device is pulled out mid-play: endIO, then removeDevice. Units on it
    // cannot start again. The device-list notification is the test's to send
    // (the system's comes separately, and later).
    void vanishDevice(AudioObjectId id);
    Device& device(AudioObjectId id);
    void setDefaultOutput(std::optional<AudioObjectId> id) { defaultOutput_ = id; }
    void setDeviceListReadable(bool readable) { deviceListReadable_ = readable; }
    void setHasOutputComponent(bool has) { hasComponent_ = has; }
    // The next unit creations fail with this status ("open AUHAL"); 0 to stop.
    void setNewUnitStatus(OSStatus status) { newUnitStatus_ = status; }
    void setAggregatesFail(bool fail) { aggregatesFail_ = fail; }
    void setListenerRegistrationFails(bool fail) { listenersFail_ = fail; }
    // Capture the first `frames` frames of every unit made from now on.
    void setCaptureLimit(std::int64_t frames) { captureLimit_ = frames; }

    // Fires the listeners of (object, selector) on the backend's notification
    // thread. Any thread.
    void notify(AudioObjectId object, std::uint32_t selector);
    // Waits until every notification posted so far has been delivered.
    void flushNotifications();
    // Wakes every initialize() held by hangOnInitialize.
    void releaseHangs();
    // Number of initialize() calls now blocked.
    int hungCount() const;

    // Plays every started unit for `seconds` of simulated time.
    void pump(double seconds);
    // Every unit made so far, oldest first.
    std::vector<std::shared_ptr<UnitRecord>> units() const;
    // Listener registrations alive.
    std::size_t listenerCount() const { return listeners_.size(); }
    // Calls to setBufferSize so far, as (device, frames).
    std::vector<std::pair<AudioObjectId, std::uint32_t>> bufferRequests() const;

    // AudioBackend
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
    bool hasOutputComponent() override { return hasComponent_; }
    // Units play only when `pump` says so, on simulated time.
    bool clocked() const override { return false; }
    OSStatus newOutputUnit(std::unique_ptr<OutputUnit>& unit) override;

private:
    class Unit;
    friend class Unit;
    const Device* find(AudioObjectId id) const;
    OSStatus makeDeviceUnit(AudioObjectId id, std::unique_ptr<OutputUnit>& unit);
    void waitWhileHung();

    mutable std::mutex mutex_;
    std::map<AudioObjectId, Device> devices_;
    std::vector<AudioObjectId> order_;
    AudioObjectId nextId_ = 100;
    std::optional<AudioObjectId> defaultOutput_;
    bool deviceListReadable_ = true;
    bool hasComponent_ = true;
    OSStatus newUnitStatus_ = 0;
    bool aggregatesFail_ = false;
    bool listenersFail_ = false;
    std::int64_t captureLimit_ = 0;
    double simTime_ = 0.0; // simulated seconds played by pump()
    std::vector<std::pair<AudioObjectId, std::uint32_t>> bufferRequests_;

    std::vector<Unit*> live_; // units not yet destroyed, guarded by mutex_
    std::vector<std::shared_ptr<UnitRecord>> records_;

    mutable std::mutex hangMutex_;
    std::condition_variable hangWake_;
    std::uint64_t hangGeneration_ = 0;
    int hung_ = 0;

    ListenerSet listeners_;
    AggregateDevices aggregates_;
    SerialQueue notifier_{"fake.notify"};
};

} // namespace zelvo
