#pragma once
// Turns the MIDI messages of a CDJ player in software control into CDJEvents.
// Stateless and allocation-free; any thread.
#include "controllers/CDJEvent.h"

#include <cstdint>
#include <optional>

namespace zelvo::CDJDecoder {

// One channel message. The channel is ignored: each player has a port of its
// own. Note on (velocity 0 a release), note off and control change decode;
// every other message gives nothing.
std::optional<CDJEvent> decode(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

// Platter speed from its controller value: 0 at 64, up to +4 at 127, down to
// -4 at 0.
double platterSpeed(std::uint8_t value);
// Jog-side speed: 0 at 64, +0.5 to +4 from 65 to 127, -0.5 to -4 from 63 to 0.
double sideSpeed(std::uint8_t value);
// The loop length in beats of a beat-loop note; none for other notes.
std::optional<double> loopSize(int note);

} // namespace zelvo::CDJDecoder
