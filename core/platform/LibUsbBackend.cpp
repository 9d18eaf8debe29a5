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
        // Vendor requests to the device need no claimed interface and no
        // detached kernel driver, so the sound and MIDI drivers keep the device.
        // libusb reports a device it may not open the same way as a missing one.
        auto* handle = libusb_open_device_with_vid_pid(context, vendor, product);
        if (!handle)
            return {OpenStatus::absent, 0};
        return {OpenStatus::opened, reinterpret_cast<Handle>(handle)};
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
