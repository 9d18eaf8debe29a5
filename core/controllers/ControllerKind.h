#pragma once
// The DDJ controller models the program works with.
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
} // namespace ControllerKinds

} // namespace zelvo
