#pragma once
// A MIDI system of virtual devices, for headless runs and tests. Devices come,
// go, are renamed and come back; every change notifies from the system's own
// thread (optionally twice, coalesced, or among stray ids). Messages injected
// into a source reach the client's input port on that thread, only while the
// source is connected. Every send is captured per destination.
#include "platform/MidiSystem.h"
#include "platform/SerialQueue.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace zelvo {

class VirtualMidiSystem final : public MidiSystem {
public:
    // A port of a device; an absent name cannot be read.
    struct Port {
        std::optional<std::string> name;
    };
    struct Device {
        std::optional<std::uint32_t> usbLocation; // absent, 0 or a location
        std::optional<std::uint32_t> uniqueId;
        std::optional<Port> source;
        std::optional<Port> destination;
    };
    using DeviceId = int;

    enum class NotifyMode {
        once,      // one notification per change
        duplicate, // every notification twice
        coalesce,  // held until releaseNotifications(), then one
        stray,     // ids 2 and 7 around every notification
    };

    struct Sent {
        std::vector<std::uint8_t> bytes;
        std::chrono::steady_clock::time_point at;
        std::thread::id thread;
    };

    VirtualMidiSystem();
    ~VirtualMidiSystem() override;

    // --- The registry. Any thread but the system's own. ---
    // Adds a device; its source and destination go at `position` in their
    // lists (the end when absent or past it).
    DeviceId addDevice(Device device, std::optional<std::size_t> position = std::nullopt);
    void removeDevice(DeviceId id);
    // Renames the device's ports (absent: unreadable).
    void renameDevice(DeviceId id, std::optional<std::string> sourceName, std::optional<std::string> destinationName);
    // Brings a removed device back, with new endpoints or with its old ones (as
    // a system that reuses references would). Connections died with removal.
    void readdDevice(DeviceId id, bool sameReferences);
    Endpoint sourceOf(DeviceId id) const;
    Endpoint destinationOf(DeviceId id) const;
    void setNotifyMode(NotifyMode mode);
    // In coalesce mode: one notification for every change held so far.
    void releaseNotifications();

    // --- Traffic. Any thread but the system's own. ---
    // Delivers packets of universal-packet words, as given (word counts
    // included), to the input port when `source` is connected.
    void injectPackets(Endpoint source, std::vector<std::vector<std::uint32_t>> packets,
                       std::vector<std::uint32_t> claimedWordCounts = {});
    // Delivers MIDI 1.0 bytes as channel-voice words, up to 64 per packet.
    // Running status is followed; SysEx and system messages are dropped, as
    // the sequencer backend drops them.
    void injectBytes(Endpoint source, std::span<const std::uint8_t> bytes);
    // Waits until everything injected or notified so far has been delivered.
    void flush();
    // Runs every delivery inside `wrapper` (tests mark the receive thread with
    // it). Set before traffic.
    void setDeliveryWrapper(std::function<void(const std::function<void()>&)> wrapper);

    // --- Introspection. Any thread. ---
    std::vector<Sent> sent(Endpoint destination) const;
    // Connected sources and their connection references.
    std::map<Endpoint, std::uint64_t> connections() const;
    // Sends to a destination that no longer exists.
    int droppedSends() const;
    // Deliveries made to the input port.
    int deliveries() const;

    // --- MidiSystem ---
    std::string name() const override { return "virtual MIDI"; }
    bool createClient(const std::string& name, NotifyCallback notify) override;
    bool createInputPort(const std::string& name, ReceiveCallback receive) override;
    bool createOutputPort(const std::string& name) override;
    void disposeClient() override;
    std::vector<Endpoint> sources() override;
    std::vector<Endpoint> destinations() override;
    std::optional<std::string> displayName(Endpoint endpoint) override;
    std::optional<std::uint32_t> usbLocation(Endpoint endpoint) override;
    std::optional<std::uint32_t> uniqueId(Endpoint endpoint) override;
    bool connectSource(Endpoint source, std::uint64_t connectionRef) override;
    void disconnectSource(Endpoint source) override;
    void send(Endpoint destination, std::span<const std::uint8_t> bytes) override;

private:
    struct DeviceState {
        Device config;
        Endpoint source = 0;
        Endpoint destination = 0;
        bool present = false;
        std::size_t position = 0;
    };
    void notifyChange(); // under mutex_
    void place(DeviceState& d, std::optional<std::size_t> position); // under mutex_
    void unplace(DeviceState& d);                                    // under mutex_
    const DeviceState* deviceOf(Endpoint endpoint, bool& isSource) const; // under mutex_
    void deliver(Endpoint source, std::vector<std::vector<std::uint32_t>> packets,
                 std::vector<std::uint32_t> counts);

    mutable std::mutex mutex_;
    std::map<DeviceId, DeviceState> devices_;
    std::vector<Endpoint> sources_;
    std::vector<Endpoint> destinations_;
    std::map<Endpoint, std::uint64_t> connections_;
    std::map<Endpoint, std::vector<Sent>> sent_;
    DeviceId nextDevice_ = 1;
    Endpoint nextEndpoint_ = 1;
    NotifyMode mode_ = NotifyMode::once;
    bool held_ = false;
    int dropped_ = 0;
    int deliveries_ = 0;

    // Held while a callback runs, so disposeClient waits for it.
    std::mutex callbackMutex_;
    NotifyCallback notify_;
    ReceiveCallback receive_;
    std::function<void(const std::function<void()>&)> wrapper_;

    SerialQueue queue_{"kavri.midi.virt"};
};

} // namespace zelvo
