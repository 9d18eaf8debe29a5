#pragma once
// Vendor control requests to a USB device, behind a small backend so tests can
// stand in for the device. The program's backend is libusb-1.0; tests install
// FakeUsbBackend.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace zelvo {

class UsbBackend {
public:
    // An opened device, as the backend numbers it.
    using Handle = std::uintptr_t;

    enum class OpenStatus { opened, absent, denied };
    struct Opened {
        OpenStatus status = OpenStatus::absent;
        Handle handle = 0; // meaningful when opened
    };

    virtual ~UsbBackend() = default;
    // Opens the first device with these identifiers. `denied` is a device that
    // is there but that this user may not open (no udev rule grants access);
    // `absent` covers no such device and a USB stack that cannot start.
    virtual Opened openFirst(std::uint16_t vendor, std::uint16_t product) = 0;
    // One control transfer on an opened device; a result of 0 or more means the
    // device accepted it (the byte count of the data stage).
    virtual int controlTransfer(Handle handle, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                std::uint16_t index, std::uint8_t* data, std::uint16_t length)
        = 0;
    virtual void close(Handle handle) = 0;
    // The pause between requests. Tests replace it with simulated time.
    virtual void sleep(std::chrono::microseconds duration) = 0;
};

namespace UsbBackends {
// The installed backend; libusb unless a test installed another. Any thread.
std::shared_ptr<UsbBackend> current();
// Installs `backend` and returns the previous one. Any thread.
std::shared_ptr<UsbBackend> install(std::shared_ptr<UsbBackend> backend);
// The libusb-1.0 backend: one context for the process, never torn down.
std::shared_ptr<UsbBackend> makeLibUsbBackend();
} // namespace UsbBackends

// What a series of vendor requests came to: how many the device accepted, or
// -1 when it was not reached; `reach` says why not (`opened` when it was).
struct UsbVendorOut {
    std::int32_t accepted = -1;
    UsbBackend::OpenStatus reach = UsbBackend::OpenStatus::absent;
    bool operator==(const UsbVendorOut&) const = default;
};

// Sends `count` vendor OUT control requests (request type 0x40, no data stage)
// to the first device with `vendor`/`product`: request `request` with the i-th
// value and index, pausing 5 ms after every request, the last included. A
// rejected request does not stop the series. Blocks for about 5 ms per
// request: any thread but the main and audio threads.
UsbVendorOut usbVendorOut(std::int32_t vendor, std::int32_t product, std::uint8_t request,
                          const std::uint16_t* values, const std::uint16_t* indexes, std::int32_t count);

// The same series, reporting only the count: how many were accepted, or -1
// when the device is absent or may not be opened.
std::int32_t usbinit_vendor_out(std::int32_t vendor, std::int32_t product, std::uint8_t request,
                                const std::uint16_t* values, const std::uint16_t* indexes, std::int32_t count);

} // namespace zelvo
