#include "platform/UsbHost.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

// The test machines have no USB bus and no such device: the real backend must
// report "absent" cleanly, whether or not libusb can start here.
TEST(UsbHost, TheLibUsbBackendFindsNoDeviceAndSaysSo)
{
    auto real = UsbBackends::makeLibUsbBackend();
    auto previous = UsbBackends::install(real);
    const std::uint16_t values[2] = {0x0100, 0x0000}, indexes[2] = {0xC028, 0xC029};
    // Vendor 0xFFFF, product 0xFFFE: reserved, never a real device.
    EXPECT_EQ(usbinit_vendor_out(0xFFFF, 0xFFFE, 3, values, indexes, 2), -1);
    EXPECT_EQ(real->openFirst(0xFFFF, 0xFFFE).status, UsbBackend::OpenStatus::absent);
    UsbBackends::install(previous);
}

} // namespace
} // namespace zelvo
