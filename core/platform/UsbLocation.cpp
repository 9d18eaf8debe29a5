#include "platform/UsbLocation.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace zelvo {

std::optional<std::uint32_t> usbLocationFor(int bus, const std::string& portPath)
{
    if (bus < 0 || bus > 255 || portPath.empty())
        return std::nullopt;
    std::uint32_t location = std::uint32_t(bus) << 24;
    int shift = 20;
    std::size_t start = 0;
    while (start <= portPath.size()) {
        const auto end = std::min(portPath.find('.', start), portPath.size());
        const std::string piece = portPath.substr(start, end - start);
        if (piece.empty() || piece.size() > 2 || shift < 0)
            return std::nullopt;
        int port = 0;
        for (char c : piece) {
            if (c < '0' || c > '9')
                return std::nullopt;
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 15)
            return std::nullopt;
        location |= std::uint32_t(port) << shift;
        shift -= 4;
        start = end + 1;
    }
    return location;
}

std::string usbLocationHex(std::uint32_t location)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", location);
    return text;
}

std::optional<std::uint32_t> usbLocationOfSysfsDevice(const std::string& sysfsPath)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path dir = fs::canonical(sysfsPath, ec);
    if (ec)
        return std::nullopt;
    for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "busnum", ec) || !fs::exists(dir / "devpath", ec))
            continue;
        int bus = -1;
        std::string devpath;
        std::ifstream(dir / "busnum") >> bus;
        std::ifstream(dir / "devpath") >> devpath;
        return usbLocationFor(bus, devpath);
    }
    return std::nullopt;
}

} // namespace zelvo
