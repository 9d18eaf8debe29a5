#include "platform/UsbHost.h"

#include <mutex>
#include <utility>

namespace zelvo {

namespace {
std::mutex backendMutex;
std::shared_ptr<UsbBackend> installed;
} // namespace

namespace UsbBackends {

std::shared_ptr<UsbBackend> current()
{
    std::lock_guard lock(backendMutex);
    if (!installed)
        installed = makeLibUsbBackend();
    return installed;
}

std::shared_ptr<UsbBackend> install(std::shared_ptr<UsbBackend> backend)
{
    std::lock_guard lock(backendMutex);
    return std::exchange(installed, std::move(backend));
}

} // namespace UsbBackends

UsbVendorOut usbVendorOut(std::int32_t vendor, std::int32_t product, std::uint8_t request,
                          const std::uint16_t* values, const std::uint16_t* indexes, std::int32_t count)
{
    // USB identifiers are 16-bit; anything else names no device.
    if (vendor < 0 || vendor > 0xFFFF || product < 0 || product > 0xFFFF)
        return {};
    auto backend = UsbBackends::current();
    const auto opened = backend->openFirst(std::uint16_t(vendor), std::uint16_t(product));
    if (opened.status != UsbBackend::OpenStatus::opened)
        return {-1, opened.status};
    std::int32_t accepted = 0;
    if (values && indexes) {
        for (std::int32_t i = 0; i < count; ++i) {
            constexpr std::uint8_t vendorOut = 0x40; // host to device, vendor type, device recipient
            if (backend->controlTransfer(opened.handle, vendorOut, request, values[i], indexes[i], nullptr, 0) >= 0)
                ++accepted;
            backend->sleep(std::chrono::microseconds(5000));
        }
    }
    backend->close(opened.handle);
    return {accepted, UsbBackend::OpenStatus::opened};
}

std::int32_t usbinit_vendor_out(std::int32_t vendor, std::int32_t product, std::uint8_t request,
                                const std::uint16_t* values, const std::uint16_t* indexes, std::int32_t count)
{
    return usbVendorOut(vendor, product, request, values, indexes, count).accepted;
}

} // namespace zelvo
