#pragma once
// The page of a deck's eight performance pads.
#include <string>
#include <vector>

namespace zelvo {

// Order matters: screens and controllers step through the pages in this order.
enum class PadMode { hotCue, padFX, beatJump, ai, key, beatLoop };

// The pad page named by the argument after the first "--pad-mode" in `arguments`
// (case-insensitive); hotCue when absent, last, or unknown. Any thread.
PadMode padModeFromArguments(const std::vector<std::string>& arguments);

} // namespace zelvo
