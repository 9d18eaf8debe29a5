#include "controllers/ControllerKind.h"
#include "platform/FakeUsbBackend.h"

#include <gtest/gtest.h>

#include <thread>

namespace zelvo {
namespace {

// Installs a fake USB device for one test.
struct ScopedUsb {
    std::shared_ptr<FakeUsbBackend> fake = std::make_shared<FakeUsbBackend>();
    std::shared_ptr<UsbBackend> previous = UsbBackends::install(fake);
    ~ScopedUsb() { UsbBackends::install(previous); }
};

struct Request {
    std::uint16_t value, index;
};
constexpr Request series[7] = {{0x0100, 0xC028}, {0x0000, 0xC029}, {0x0200, 0xC013}, {0x0000, 0xC02B},
                               {0x0100, 0xC026}, {0x0000, 0xC01D}, {0x0100, 0xC027}};

TEST(HostHandshake, AnFlx4NeverTouchesUsb)
{
    ScopedUsb usb;
    EXPECT_EQ(ControllerKinds::sendHostHandshake(ControllerKind::flx4), 0);
    EXPECT_EQ(usb.fake->enumerations(), 0);
    EXPECT_TRUE(usb.fake->transfers().empty());
}

TEST(HostHandshake, AnFlx10GetsTheSevenRequestsInOrderFiveMillisecondsApart)
{
    ScopedUsb usb;
    int result = 0;
    std::thread worker([&] { result = ControllerKinds::sendHostHandshake(ControllerKind::flx10); });
    const auto workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(result, 7);
    EXPECT_EQ(usb.fake->enumerations(), 1);
    EXPECT_EQ(usb.fake->opens(), 1);
    EXPECT_EQ(usb.fake->closes(), 1);
    const auto sent = usb.fake->transfers();
    ASSERT_EQ(sent.size(), 7u);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].requestType, 0x40) << i;
        EXPECT_EQ(sent[i].request, 3) << i;
        EXPECT_EQ(sent[i].value, series[i].value) << i;
        EXPECT_EQ(sent[i].index, series[i].index) << i;
        EXPECT_EQ(sent[i].length, 0) << i;
        EXPECT_EQ(sent[i].data, nullptr) << i;
        EXPECT_EQ(sent[i].at, std::chrono::microseconds(5000 * i)) << i;
        EXPECT_EQ(sent[i].thread, workerId) << i;
    }
    // The pause follows the last request too.
    EXPECT_EQ(usb.fake->now(), std::chrono::microseconds(35000));
}

TEST(HostHandshake, RefusedRequestsAreNotCountedAndTheSeriesGoesOn)
{
    struct Case {
        const char* what;
        std::set<int> rejected;
        int vanishAt;
        int want;
    };
    const Case cases[] = {
        {"first and fifth refused", {0, 4}, -1, 5},
        {"all refused", {0, 1, 2, 3, 4, 5, 6}, -1, 0},
        {"gone from the third on", {}, 2, 2},
        {"gone from the start", {}, 0, 0},
    };
    for (const auto& c : cases) {
        ScopedUsb usb;
        usb.fake->rejected = c.rejected;
        usb.fake->vanishAt = c.vanishAt;
        EXPECT_EQ(ControllerKinds::sendHostHandshake(ControllerKind::flx10), c.want) << c.what;
        EXPECT_EQ(usb.fake->transfers().size(), 7u) << c.what;
        EXPECT_EQ(usb.fake->closes(), 1) << c.what;
    }
}

TEST(HostHandshake, AnAbsentOrDeniedDeviceGivesMinusOne)
{
    {
        ScopedUsb usb;
        usb.fake->present = false;
        EXPECT_EQ(ControllerKinds::sendHostHandshake(ControllerKind::flx10), -1);
        EXPECT_EQ(ControllerKinds::hostHandshake(ControllerKind::flx10),
                  (UsbVendorOut{-1, UsbBackend::OpenStatus::absent}));
        EXPECT_EQ(usb.fake->enumerations(), 2);
        EXPECT_EQ(usb.fake->opens(), 0);
    }
    {
        // There, but this user may not open it: the same count, another reason.
        ScopedUsb usb;
        usb.fake->denyOpen = true;
        EXPECT_EQ(ControllerKinds::sendHostHandshake(ControllerKind::flx10), -1);
        EXPECT_EQ(ControllerKinds::hostHandshake(ControllerKind::flx10),
                  (UsbVendorOut{-1, UsbBackend::OpenStatus::denied}));
        EXPECT_TRUE(usb.fake->transfers().empty());
        EXPECT_EQ(usb.fake->closes(), 0);
    }
    {
        ScopedUsb usb;
        EXPECT_EQ(ControllerKinds::hostHandshake(ControllerKind::flx10),
                  (UsbVendorOut{7, UsbBackend::OpenStatus::opened}));
        EXPECT_EQ(ControllerKinds::hostHandshake(ControllerKind::flx4),
                  (UsbVendorOut{0, UsbBackend::OpenStatus::opened}));
    }
    {
        // Another product of the same maker is not the controller.
        ScopedUsb usb;
        usb.fake->product = 0x0042;
        EXPECT_EQ(ControllerKinds::sendHostHandshake(ControllerKind::flx10), -1);
    }
    {
        ScopedUsb usb;
        const std::uint16_t v[1] = {1}, i[1] = {2};
        EXPECT_EQ(usbinit_vendor_out(0x2B73, 0x0041, 3, v, i, 0), 0);
        EXPECT_EQ(usbinit_vendor_out(0x2B73, 0x0041, 3, v, i, -3), 0);
        EXPECT_EQ(usbinit_vendor_out(0x12B73, 0x0041, 3, v, i, 1), -1);
        EXPECT_TRUE(usb.fake->transfers().empty());
    }
}

} // namespace
} // namespace zelvo
