// The libusb-1.0 backend of the USB host layer.
#include "platform/UsbHost.h"

#include <libusb.h>

#include <thread>

namespace zelvo {

namespace {

// One context for the whole process, made on first use and never torn down:
// a handshake may run on any thread at any time, and libusb contexts are cheap
// to keep. Null when libusb cannot start (no USB bus, a sandbox).
libusb_context* processContext()
{
    static libusb_context* const context = [] {
        libusb_context* c = nullptr;
        return libusb_init(&c) == LIBUSB_SUCCESS ? c : nullptr;
    }();
    return context;
}

class LibUsbBackend final : public UsbBackend {
public:
    Opened openFirst(std::uint16_t vendor, std::uint16_t product) override
    {
        auto* context = processContext();
        if (!context)
            return {OpenStatus::absent, 0};
        // Walk the bus ourselves rather than open by identifiers: libusb's
        // open-by-id reports a device this user may not open as a missing one.
        libusb_device** devices = nullptr;
        const ssize_t count = libusb_get_device_list(context, &devices);
        if (count < 0)
            return {OpenStatus::absent, 0};
        Opened result{OpenStatus::absent, 0};
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(devices[i], &descriptor) != LIBUSB_SUCCESS
                || descriptor.idVendor != vendor || descriptor.idProduct != product)
                continue;
            // The first match only. Vendor requests need no claimed interface
            // and no detached kernel driver, so the sound and MIDI drivers
            // keep the device.
            libusb_device_handle* handle = nullptr;
            const int opened = libusb_open(devices[i], &handle);
            if (opened == LIBUSB_SUCCESS)
                result = {OpenStatus::opened, reinterpret_cast<Handle>(handle)};
            else
                result.status = opened == LIBUSB_ERROR_ACCESS ? OpenStatus::denied : OpenStatus::absent;
            break;
        }
        // The open handle holds its own reference to the device.
        libusb_free_device_list(devices, 1);
        return result;
    }

    int controlTransfer(Handle handle, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                        std::uint16_t index, std::uint8_t* data, std::uint16_t length) override
    {
        return libusb_control_transfer(reinterpret_cast<libusb_device_handle*>(handle), requestType, request, value,
                                       index, data, length, 1000);
    }

    void close(Handle handle) override { libusb_close(reinterpret_cast<libusb_device_handle*>(handle)); }

    void sleep(std::chrono::microseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace

std::shared_ptr<UsbBackend> UsbBackends::makeLibUsbBackend()
{
    return std::make_shared<LibUsbBackend>();
}

} // namespace zelvo
