#pragma once
// A scripted USB device for tests: present or absent, refusing to open,
// rejecting chosen requests or vanishing part-way through a series. It records
// every transfer with its simulated time and thread. Its pause advances a
// simulated clock instead of sleeping.
#include "platform/UsbHost.h"

#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace zelvo {

class FakeUsbBackend final : public UsbBackend {
public:
    struct Transfer {
        std::uint8_t requestType = 0;
        std::uint8_t request = 0;
        std::uint16_t value = 0;
        std::uint16_t index = 0;
        std::uint16_t length = 0;
        const std::uint8_t* data = nullptr;
        std::chrono::microseconds at{0}; // simulated time when sent
        std::thread::id thread;
    };

    // The device's identifiers; opening anything else finds nothing.
    std::uint16_t vendor = 0x2B73;
    std::uint16_t product = 0x0041;
    bool present = true;
    bool denyOpen = false;
    // Transfers, counted from 0 over the backend's life, that the device refuses.
    std::set<int> rejected;
    // From this transfer on the device is gone: every transfer fails.
    int vanishAt = -1;

    Opened openFirst(std::uint16_t vendor, std::uint16_t product) override;
    int controlTransfer(Handle handle, std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                        std::uint16_t index, std::uint8_t* data, std::uint16_t length) override;
    void close(Handle handle) override;
    void sleep(std::chrono::microseconds duration) override;

    std::vector<Transfer> transfers() const;
    int enumerations() const;
    int opens() const;
    int closes() const;
    // Simulated time: the sum of every pause so far.
    std::chrono::microseconds now() const;

private:
    mutable std::mutex mutex_;
    std::vector<Transfer> transfers_;
    int enumerations_ = 0;
    int opens_ = 0;
    int closes_ = 0;
    std::chrono::microseconds now_{0};
};

} // namespace zelvo
