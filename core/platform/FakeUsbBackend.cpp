#include "platform/FakeUsbBackend.h"

namespace zelvo {

namespace {
constexpr UsbBackend::Handle fakeHandle = 0x5B;
constexpr int errorPipe = -9;    // the device stalled the request
constexpr int errorNoDevice = -4; // the device went away
} // namespace

UsbBackend::Opened FakeUsbBackend::openFirst(std::uint16_t v, std::uint16_t p)
{
    std::lock_guard lock(mutex_);
    ++enumerations_;
    if (!present || v != vendor || p != product)
        return {OpenStatus::absent, 0};
    if (denyOpen)
        return {OpenStatus::denied, 0};
    ++opens_;
    return {OpenStatus::opened, fakeHandle};
}

int FakeUsbBackend::controlTransfer(Handle handle, std::uint8_t requestType, std::uint8_t request,
                                    std::uint16_t value, std::uint16_t index, std::uint8_t* data,
                                    std::uint16_t length)
{
    std::lock_guard lock(mutex_);
    const int number = int(transfers_.size());
    transfers_.push_back({requestType, request, value, index, length, data, now_, std::this_thread::get_id()});
    if (handle != fakeHandle || (vanishAt >= 0 && number >= vanishAt))
        return errorNoDevice;
    if (rejected.contains(number))
        return errorPipe;
    return length;
}

void FakeUsbBackend::close(Handle)
{
    std::lock_guard lock(mutex_);
    ++closes_;
}

void FakeUsbBackend::sleep(std::chrono::microseconds duration)
{
    std::lock_guard lock(mutex_);
    now_ += duration;
}

std::vector<FakeUsbBackend::Transfer> FakeUsbBackend::transfers() const
{
    std::lock_guard lock(mutex_);
    return transfers_;
}

int FakeUsbBackend::enumerations() const
{
    std::lock_guard lock(mutex_);
    return enumerations_;
}

int FakeUsbBackend::opens() const
{
    std::lock_guard lock(mutex_);
    return opens_;
}

int FakeUsbBackend::closes() const
{
    std::lock_guard lock(mutex_);
    return closes_;
}

std::chrono::microseconds FakeUsbBackend::now() const
{
    std::lock_guard lock(mutex_);
    return now_;
}

} // namespace zelvo
