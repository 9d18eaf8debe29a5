#include "controllers/PadMode.h"

#include <algorithm>
#include <cctype>

namespace zelvo {

PadMode padModeFromArguments(const std::vector<std::string>& arguments)
{
    const auto flag = std::find(arguments.begin(), arguments.end(), "--pad-mode");
    if (flag == arguments.end() || std::next(flag) == arguments.end())
        return PadMode::hotCue;
    std::string name = *std::next(flag);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name == "key")
        return PadMode::key;
    if (name == "ai")
        return PadMode::ai;
    if (name == "padfx" || name == "fx")
        return PadMode::padFX;
    if (name == "jump" || name == "beatjump")
        return PadMode::beatJump;
    if (name == "loop" || name == "beatloop")
        return PadMode::beatLoop;
    return PadMode::hotCue;
}

} // namespace zelvo
