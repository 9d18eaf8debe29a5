#pragma once
// The 32-bit location number of a USB device, shared by the sound-card UIDs and
// the MIDI ports so that a player's card and its MIDI port pair up: the bus
// number in the top 8 bits, then one nibble per hub port of the path from the
// root (first port in bits 20-23), zero nibbles after the last port.
#include <cstdint>
#include <optional>
#include <string>

namespace zelvo {

// Location of the device at `portPath` ("2", "2.1.4", as in sysfs' devpath) on
// `bus`; none when the bus or a port does not fit (bus > 255, port > 15, more
// than 6 ports) or the path does not parse. Any thread.
std::optional<std::uint32_t> usbLocationFor(int bus, const std::string& portPath);
// The location printed as 8 lower-case hexadecimal digits. Any thread.
std::string usbLocationHex(std::uint32_t location);
// The location of the USB device a sysfs device folder belongs to (walks up to
// the folder holding "busnum" and "devpath"); none when it is not on USB. Any
// thread but the audio thread.
std::optional<std::uint32_t> usbLocationOfSysfsDevice(const std::string& sysfsPath);

} // namespace zelvo
