#include "controllers/ControllerKind.h"

#include "controllers/DeviceNameMatch.h"

namespace zelvo::ControllerKinds {

std::string_view rawText(ControllerKind kind)
{
    return kind == ControllerKind::flx10 ? "flx10" : "flx4";
}

std::optional<ControllerKind> fromRawText(std::string_view text)
{
    if (text == "flx4")
        return ControllerKind::flx4;
    if (text == "flx10")
        return ControllerKind::flx10;
    return std::nullopt;
}

std::optional<ControllerKind> match(std::string_view deviceName)
{
    if (upperNameContains(deviceName, {"FLX10", "FLX-10"}))
        return ControllerKind::flx10;
    if (upperNameContains(deviceName, {"FLX4", "FLX-4"}))
        return ControllerKind::flx4;
    return std::nullopt;
}

} // namespace zelvo::ControllerKinds
