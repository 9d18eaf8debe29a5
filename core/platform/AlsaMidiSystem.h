#pragma once
// The MIDI system on the ALSA sequencer: client "kavri zelvo" with the ports
// "kavri zelvo in" and "kavri zelvo out". Sources are the ports others can
// read, destinations the ports others can write, our own client, the system
// client and unexported ports excepted, in client then port order. Setup
// changes come from the system announce port. A receive thread turns channel
// events into MIDI 1.0 universal-packet words; SysEx and system messages are
// never delivered. Endpoint references are never reused, though the kernel
// reuses client numbers.
//
// The pure parts (event conversion, naming, order, USB location, unique id)
// are exposed for tests; a machine without a sequencer can run them.
#include "platform/MidiSystem.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zelvo {

class LogSink;

namespace AlsaMidi {

// A sequencer channel event in plain terms.
struct ChannelEvent {
    enum class Type { noteOn, noteOff, keyPressure, controller, control14, programChange, channelPressure, pitchBend };
    Type type = Type::noteOn;
    int channel = 0;
    int param = 0; // note or controller number
    int value = 0; // velocity, pressure, controller value, program, or pitch bend -8192...8191
};

// The universal-packet words of one event (message type 2, group 0): one word,
// or two for a 14-bit controller below 32 (MSB then LSB). Note on with
// velocity 0 stays a note on. Returns the number of words written. Any thread.
int toWords(const ChannelEvent& event, std::uint32_t out[2]);

// An endpoint's display name: the port name when it contains the client name,
// else the client name, a space and the port name. Any thread.
std::string displayName(std::string_view clientName, std::string_view portName);

// Sequencer address of a port.
struct Address {
    int client = 0;
    int port = 0;
    bool operator==(const Address&) const = default;
    // Endpoint order: client, then port.
    bool operator<(const Address& other) const
    {
        return client != other.client ? client < other.client : port < other.port;
    }
};

// The USB location of sound card `card` from sysfs (`sysfsRoot`/class/sound/
// card<N>/device), in the sound cards' UID encoding; none when the card is not
// on USB or is negative. Any thread but the audio thread.
std::optional<std::uint32_t> usbLocationOfCard(int card, const std::string& sysfsRoot = "/sys");

// A stable, non-zero 32-bit hash of the client and port names. Any thread.
std::uint32_t uniqueId(std::string_view clientName, std::string_view portName);

// Opens the sequencer; null with `error` set when it cannot be opened. `log`
// (may be null) hears about input overruns, on the main thread. Main thread.
std::shared_ptr<MidiSystem> open(LogSink* log, std::string* error = nullptr);

} // namespace AlsaMidi

} // namespace zelvo
