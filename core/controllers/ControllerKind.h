#pragma once
// The DDJ controller models the program works with.
#include "platform/UsbHost.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvo {

enum class ControllerKind { flx4, flx10 };

namespace ControllerKinds {
// The raw text: "flx4" or "flx10". Any thread.
std::string_view rawText(ControllerKind kind);
// The kind with this raw text; none for any other text. Any thread.
std::optional<ControllerKind> fromRawText(std::string_view text);
// The kind a device (sound card, MIDI port) name belongs to: the name in upper
// case containing "FLX10" or "FLX-10" is a flx10, else containing "FLX4" or
// "FLX-4" a flx4; none otherwise. Any thread.
std::optional<ControllerKind> match(std::string_view deviceName);

// "DDJ-FLX4" / "DDJ-FLX10". Any thread.
std::string_view model(ControllerKind kind);
// "FLX4" / "FLX10". Any thread.
std::string_view label(ControllerKind kind);
// 2 / 4. Any thread.
int deckCount(ControllerKind kind);
// Platter ticks in one turn of the jog wheel: 720 / 5760. Any thread.
int jogTicksPerTurn(ControllerKind kind);
// The SysEx that keeps the controller in host mode, sent on connection and
// then every 0.2 s. Any thread.
const std::array<std::uint8_t, 12>& keepAlive(ControllerKind kind);

// Switches an FLX10 into host mode over USB: seven vendor requests, about 5 ms
// each. Returns how many the device accepted, or -1 when it cannot be reached;
// an FLX4 needs nothing and gets 0 without any USB call. Blocks: any thread
// but the main and audio threads.
int sendHostHandshake(ControllerKind kind);
// The same handshake, also saying why an FLX10 was not reached: absent from
// the bus, or there but not to be opened by this user. An FLX4 gets
// {0, opened}. Same threads.
UsbVendorOut hostHandshake(ControllerKind kind);
} // namespace ControllerKinds

} // namespace zelvo
