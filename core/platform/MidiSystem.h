#pragma once
// The MIDI system as the controller hub sees it: one client with a setup-change
// notification, an input port whose receive callback runs on the system's own
// thread, an output port, and the sources and destinations of the setup. The
// program uses the ALSA sequencer; without one (every test and CI machine) it
// runs on VirtualMidiSystem's virtual ports.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zelvo {

// One packet of MIDI 1.0 universal-packet words. `wordCount` is what the packet
// says it holds; `words` points at that many words.
struct MidiPacket {
    std::uint64_t timeStamp = 0;
    std::uint32_t wordCount = 0;
    const std::uint32_t* words = nullptr;
};

// The packets of one delivery, in order.
using MidiEventList = std::span<const MidiPacket>;

class MidiSystem {
public:
    // A source or destination. References are never reused within a process,
    // so a port that goes away and comes back is a new endpoint. 0 is none.
    using Endpoint = std::uint64_t;
    // The setup changed (devices or ports came, went or were renamed).
    static constexpr int setupChanged = 1;

    // Any thread; `id` 1 means the setup changed, other ids are ignored by the hub.
    using NotifyCallback = std::function<void(int id)>;
    // The system's receive thread: one delivery of one source, with the
    // reference given when the source was connected.
    using ReceiveCallback = std::function<void(MidiEventList events, std::uint64_t connectionRef)>;

    virtual ~MidiSystem() = default;

    // Which system this is, for the log: "ALSA sequencer", "virtual MIDI".
    virtual std::string name() const = 0;

    // The client, its input port and its output port. Main thread. Each returns
    // false when the system refuses; a second call replaces the callback.
    virtual bool createClient(const std::string& name, NotifyCallback notify) = 0;
    virtual bool createInputPort(const std::string& name, ReceiveCallback receive) = 0;
    virtual bool createOutputPort(const std::string& name) = 0;
    // Stops every callback of the client: after it returns no callback runs or
    // will run, and every source is disconnected. Main thread.
    virtual void disposeClient() = 0;

    // Sources (ports that send to us) and destinations (ports we send to), in
    // a stable order. Main thread.
    virtual std::vector<Endpoint> sources() = 0;
    virtual std::vector<Endpoint> destinations() = 0;
    // Properties of an endpoint; absent when they cannot be read. Main thread.
    virtual std::optional<std::string> displayName(Endpoint endpoint) = 0;
    virtual std::optional<std::uint32_t> usbLocation(Endpoint endpoint) = 0;
    virtual std::optional<std::uint32_t> uniqueId(Endpoint endpoint) = 0;

    // Delivers `source`'s messages to the input port with `connectionRef`.
    // Main thread.
    virtual bool connectSource(Endpoint source, std::uint64_t connectionRef) = 0;
    virtual void disconnectSource(Endpoint source) = 0;
    // Sends complete MIDI messages (a SysEx included) to `destination`; a
    // destination that is gone drops them. Main thread.
    virtual void send(Endpoint destination, std::span<const std::uint8_t> bytes) = 0;
};

} // namespace zelvo
