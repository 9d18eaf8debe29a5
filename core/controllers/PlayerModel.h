#pragma once
// The CDJ player models the program drives in software control.
#include <optional>
#include <string>
#include <string_view>

namespace zelvo {

enum class PlayerModel { cdj3000x, cdj3000 };

namespace PlayerModels {
// The raw text: "cdj3000x" or "cdj3000". Any thread.
std::string_view rawText(PlayerModel model);
// The model with this raw text; none for any other text. Any thread.
std::optional<PlayerModel> fromRawText(std::string_view text);
// The model a device name belongs to: the name in upper case with every space
// removed containing "CDJ-3000X" or "CDJ3000X" is a cdj3000x, else containing
// "CDJ-3000" or "CDJ3000" a cdj3000; none otherwise. Any thread.
std::optional<PlayerModel> match(std::string_view deviceName);
// "CDJ-3000X" / "CDJ-3000". Any thread.
std::string_view model(PlayerModel m);
} // namespace PlayerModels

} // namespace zelvo
