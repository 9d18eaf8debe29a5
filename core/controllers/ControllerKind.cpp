#include "controllers/ControllerKind.h"

#include "controllers/DeviceNameMatch.h"
#include "platform/UsbHost.h"

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

std::string_view model(ControllerKind kind)
{
    return kind == ControllerKind::flx10 ? "DDJ-FLX10" : "DDJ-FLX4";
}

std::string_view label(ControllerKind kind)
{
    return kind == ControllerKind::flx10 ? "FLX10" : "FLX4";
}

int deckCount(ControllerKind kind)
{
    return kind == ControllerKind::flx10 ? 4 : 2;
}

int jogTicksPerTurn(ControllerKind kind)
{
    return kind == ControllerKind::flx10 ? 5760 : 720;
}

const std::array<std::uint8_t, 12>& keepAlive(ControllerKind kind)
{
    static constexpr std::array<std::uint8_t, 12> flx4{0xF0, 0x00, 0x40, 0x05, 0x00, 0x00,
                                                       0x04, 0x05, 0x00, 0x50, 0x02, 0xF7};
    static constexpr std::array<std::uint8_t, 12> flx10{0xF0, 0x00, 0x40, 0x05, 0x00, 0x00,
                                                        0x04, 0x01, 0x00, 0x50, 0x00, 0xF7};
    return kind == ControllerKind::flx10 ? flx10 : flx4;
}

UsbVendorOut hostHandshake(ControllerKind kind)
{
    if (kind != ControllerKind::flx10)
        return {0, UsbBackend::OpenStatus::opened};
    // Vendor 0x2B73, product 0x0041: request 3 with these value/index pairs, in order.
    static constexpr std::uint16_t values[7] = {0x0100, 0x0000, 0x0200, 0x0000, 0x0100, 0x0000, 0x0100};
    static constexpr std::uint16_t indexes[7] = {0xC028, 0xC029, 0xC013, 0xC02B, 0xC026, 0xC01D, 0xC027};
    return usbVendorOut(0x2B73, 0x0041, 3, values, indexes, 7);
}

int sendHostHandshake(ControllerKind kind)
{
    return hostHandshake(kind).accepted;
}

} // namespace zelvo::ControllerKinds
