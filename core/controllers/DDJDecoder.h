#pragma once
// Turns the MIDI messages of a DDJ-FLX4 or DDJ-FLX10 into DDJEvents.
#include "controllers/ControllerKind.h"
#include "controllers/DDJEvent.h"

#include <array>
#include <cstdint>
#include <optional>

namespace zelvo {

// One decoder per connected controller: it remembers the most significant
// half of each 14-bit control until its least significant half arrives, so a
// new controller gets a new decoder. Total and allocation-free: every message
// gives one event or none. Not thread-safe; the MIDI hub calls it under its
// lock on the receive thread.
class DDJDecoder {
public:
    explicit DDJDecoder(ControllerKind kind);

    ControllerKind kind() const { return kind_; }

    // One channel message (status, data 1, data 2). Data bytes are taken to
    // seven bits. A control's MSB is stored and gives nothing; its LSB gives
    // the event with (MSB * 128 + LSB) / 16383 when an MSB is stored for the
    // same channel and control, else nothing. The MSB is kept after use.
    std::optional<DDJEvent> decode(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

private:
    std::optional<DDJEvent> deckNote(int channel, int note, bool down) const;
    std::optional<DDJEvent> controlChange(int channel, int cc, int value);
    // Stores an MSB, or pairs an LSB with the stored MSB. Returns the 14-bit
    // value scaled to 0...1 when `cc` is the LSB of control `msbController` and
    // an MSB is stored.
    std::optional<double> fourteenBit(int channel, int cc, int msbController, int value);

    ControllerKind kind_;
    // Indexed by channel * 128 + MSB controller; bit 7 marks a stored MSB.
    static constexpr std::uint8_t stored = 0x80;
    std::array<std::uint8_t, 16 * 128> msb_{};
};

} // namespace zelvo
