#include "audio/CoreAudioHAL.h"
#include "platform/FakeAudioBackend.h"
#include "platform/UsbLocation.h"
#include "support/ScopedBackend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace zelvo;
using Fake = FakeAudioBackend;

namespace {

Fake::Device card(std::string uid, std::string name, std::vector<int> outputs = {2})
{
    Fake::Device d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    d.outputStreams = std::move(outputs);
    return d;
}

} // namespace

TEST(CoreAudioHAL, ListsDevicesWithTwoOrMoreOutputsInSystemOrder)
{
    test::ScopedBackend<Fake> fake;
    const auto multi = fake->addDevice(card("multi", "Multi", {2, 2, 4}));
    const auto mono = fake->addDevice(card("mono", "Mono", {1}));
    fake->addDevice(card("input-only", "Mic", {}));
    const auto stereo = fake->addDevice(card("stereo", "Stereo"));

    const auto devices = CoreAudioHAL::outputDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, multi);
    EXPECT_EQ(devices[0].outputChannels, 8);
    EXPECT_EQ(devices[1].id, stereo);

    // A mono device is a device, just not an output choice.
    ASSERT_TRUE(CoreAudioHAL::device(mono).has_value());
    EXPECT_EQ(CoreAudioHAL::device(mono)->outputChannels, 1);
    EXPECT_FALSE(CoreAudioHAL::device(12345).has_value());

    fake->setDeviceListReadable(false);
    EXPECT_TRUE(CoreAudioHAL::outputDevices().empty());
}

TEST(CoreAudioHAL, UnreadablePropertiesFallBackToDefaults)
{
    test::ScopedBackend<Fake> fake;
    Fake::Device d;
    d.uid.reset();
    d.name.reset();
    d.nominalSampleRate.reset();
    d.bufferSizeRange.reset();
    d.transport.reset();
    d.bufferSizeReadable = false;
    d.latency.reset();
    d.safetyOffset.reset();
    d.inputStreams.reset();
    const auto id = fake->addDevice(d);

    const auto read = CoreAudioHAL::device(id);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->uid, "");
    EXPECT_EQ(read->name, "");
    EXPECT_EQ(read->nominalSampleRate, 48000.0);
    EXPECT_EQ(read->bufferSizeRange, (AudioDevice::BufferRange{32, 4096}));
    EXPECT_EQ(read->transport, "EXT");
    EXPECT_EQ(CoreAudioHAL::bufferSize(id), 512);
    EXPECT_EQ(CoreAudioHAL::inputChannelCount(id), 0);
    EXPECT_DOUBLE_EQ(CoreAudioHAL::outputLatency(id), 512.0 / 48000.0);
    EXPECT_EQ(CoreAudioHAL::defaultOutputDevice(), 0u);
}

TEST(CoreAudioHAL, ReadsRangesRatesTransportsAndLatency)
{
    test::ScopedBackend<Fake> fake;
    Fake::Device d = card("usb", "Card");
    d.bufferSizeRange = std::pair(64.9, 32.0); // a maximum below the minimum
    d.nominalSampleRate = 44100.0;
    d.latency = 100u;
    d.safetyOffset = 20u;
    d.bufferSize = 256;
    const auto id = fake->addDevice(d);
    fake->setDefaultOutput(id);

    const auto read = CoreAudioHAL::device(id);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->bufferSizeRange, (AudioDevice::BufferRange{64, 64}));
    EXPECT_EQ(read->transport, "USB");
    EXPECT_EQ(CoreAudioHAL::defaultOutputDevice(), id);
    EXPECT_DOUBLE_EQ(CoreAudioHAL::outputLatency(id), (100.0 + 20.0 + 256.0) / 44100.0);

    // Frame counts that do not fit 32 bits unsigned are clamped, never wrapped.
    fake->device(id).bufferSizeRange = std::pair(0.0, 1e12);
    CoreAudioHAL::setBufferSize(id, -5);
    CoreAudioHAL::setBufferSize(id, std::int64_t(1) << 40);
    const auto requests = fake->bufferRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].second, 0u);
    EXPECT_EQ(requests[1].second, 0xFFFFFFFFu);

    const std::pair<std::uint32_t, const char*> labels[] = {
        {transport::builtIn, "BUILT-IN"}, {transport::usb, "USB"},        {transport::thunderbolt, "TB"},
        {transport::hdmi, "HDMI"},        {transport::displayPort, "DP"}, {transport::airPlay, "AIRPLAY"},
        {transport::bluetooth, "BT"},     {transport::bluetoothLE, "BT"}, {transport::aggregate, "AGG"},
        {transport::virtualDevice, "VIRT"}, {fourCC("pci "), "EXT"}};
    for (auto [code, label] : labels)
        EXPECT_EQ(CoreAudioHAL::transportLabel(code), label);
}

TEST(CoreAudioHAL, ChannelPairs)
{
    auto pairs = [](int channels) {
        AudioDevice d;
        d.outputChannels = channels;
        return d.channelPairs();
    };
    EXPECT_EQ(pairs(2), (std::vector<int>{0}));
    EXPECT_EQ(pairs(8), (std::vector<int>{0, 2, 4, 6}));
    EXPECT_EQ(pairs(5), (std::vector<int>{0, 2}));
    EXPECT_EQ(pairs(1), (std::vector<int>{0}));
    EXPECT_EQ(pairs(0), (std::vector<int>{0}));
}

TEST(CoreAudioHAL, UsbLocationFromUid)
{
    EXPECT_EQ(CoreAudioHAL::usbLocation("AppleUSBAudioEngine:Vendor:Model:14200000:1,2"), 337641472);
    EXPECT_EQ(CoreAudioHAL::usbLocation("AppleUSBAudioEngine:Vendor:Model:0x14200000:1"), 337641472);
    EXPECT_EQ(CoreAudioHAL::usbLocation("AppleUSBAudioEngine:Vendor:Model:abc:1"), std::nullopt);
    EXPECT_EQ(CoreAudioHAL::usbLocation("alsa:PCH:0"), std::nullopt);
    EXPECT_EQ(CoreAudioHAL::usbLocation("AppleUSBAudioEngine:Vendor:Model"), std::nullopt);
    // Empty pieces are dropped before counting; later pieces are tried in order.
    EXPECT_EQ(CoreAudioHAL::usbLocation("AppleUSBAudioEngine::Vendor:Model:xyz:00abcdef"), 0xabcdef);
    // Not hexadecimal, or too large for a signed 64-bit number: no answer.
    EXPECT_EQ(CoreAudioHAL::usbLocation("AppleUSBAudioEngine:V:M:12345g"), std::nullopt);
    EXPECT_EQ(CoreAudioHAL::usbLocation("AppleUSBAudioEngine:V:M:ffffffffffffffffff"), std::nullopt);
}

TEST(CoreAudioHAL, UsbLocationHelperRoundTripsThroughCardUids)
{
    EXPECT_EQ(usbLocationFor(1, "2.1"), 0x01210000u);
    EXPECT_EQ(usbLocationFor(3, "4"), 0x03400000u);
    EXPECT_EQ(usbLocationFor(1, "1.2.3.4.5.6"), 0x01123456u);
    EXPECT_EQ(usbLocationFor(1, "1.2.3.4.5.6.7"), std::nullopt);
    EXPECT_EQ(usbLocationFor(256, "1"), std::nullopt);
    EXPECT_EQ(usbLocationFor(1, "16"), std::nullopt);
    EXPECT_EQ(usbLocationFor(1, "2..1"), std::nullopt);
    EXPECT_EQ(usbLocationHex(0x01210000u), "01210000");
    // The sound card's UID carries the location the MIDI side computes.
    const auto location = *usbLocationFor(2, "3.1");
    const std::string uid = "AppleUSBAudioEngine:snd-usb-audio:CDJ-3000X:" + usbLocationHex(location) + ":0";
    EXPECT_EQ(CoreAudioHAL::usbLocation(uid), std::int64_t(location));
}

TEST(CoreAudioHAL, AggregatesJoinDevicesAndGoAway)
{
    test::ScopedBackend<Fake> fake;
    fake->addDevice(card("a", "A", {2}));
    Fake::Device b = card("b", "B", {4});
    b.nominalSampleRate = 44100.0;
    fake->addDevice(b);

    EXPECT_EQ(CoreAudioHAL::createAggregate("agg", "agg.empty", {}), std::nullopt);
    EXPECT_EQ(CoreAudioHAL::createAggregate("agg", "agg.missing", {"a", "nope"}), std::nullopt);

    const auto id = CoreAudioHAL::createAggregate("kavri zelvo players", "com.kavri.zelvo.players.1.1", {"a", "b"});
    ASSERT_TRUE(id);
    const auto aggregate = CoreAudioHAL::device(*id);
    ASSERT_TRUE(aggregate);
    EXPECT_EQ(aggregate->outputChannels, 6);
    EXPECT_EQ(aggregate->transport, "AGG");
    EXPECT_EQ(aggregate->name, "kavri zelvo players");
    EXPECT_EQ(aggregate->nominalSampleRate, 48000.0); // the clock master's
    EXPECT_EQ(CoreAudioHAL::outputDevices().back().uid, "com.kavri.zelvo.players.1.1");
    // The same UID cannot be taken twice.
    EXPECT_EQ(CoreAudioHAL::createAggregate("again", "com.kavri.zelvo.players.1.1", {"a"}), std::nullopt);

    EXPECT_TRUE(CoreAudioHAL::destroyAggregate(*id));
    EXPECT_FALSE(CoreAudioHAL::device(*id).has_value());
    EXPECT_FALSE(CoreAudioHAL::destroyAggregate(*id));

    fake->setAggregatesFail(true);
    EXPECT_EQ(CoreAudioHAL::createAggregate("agg", "agg.2", {"a", "b"}), std::nullopt);
}

TEST(CoreAudioHALListener, HandlersRunOnTheListenerQueueUntilRemoved)
{
    test::ScopedBackend<Fake> fake;
    const auto id = fake->addDevice(card("a", "A"));
    CoreAudioHAL::Listener listener;

    std::atomic<int> listCalls{0}, rateCalls{0};
    std::promise<std::thread::id> where;
    auto whereFuture = where.get_future();
    std::atomic<bool> first{true};
    listener.watch(kAudioSystemObject, kPropertyDevices, [&] {
        if (first.exchange(false))
            where.set_value(std::this_thread::get_id());
        ++listCalls;
    });
    listener.watch(id, kPropertyNominalSampleRate, [&] { ++rateCalls; });
    EXPECT_EQ(listener.count(), 2u);

    fake->notify(kAudioSystemObject, kPropertyDevices);
    fake->notify(id, kPropertyNominalSampleRate);
    fake->notify(id, kPropertyDevices); // not watched on the device
    fake->flushNotifications();
    ASSERT_EQ(whereFuture.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(whereFuture.get(), std::this_thread::get_id());

    // Wait for the queue: a sentinel watch fired after the others runs after them.
    std::promise<void> drained;
    listener.watch(kAudioSystemObject, fourCC("test"), [&] { drained.set_value(); });
    fake->notify(kAudioSystemObject, fourCC("test"));
    fake->flushNotifications();
    ASSERT_EQ(drained.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(listCalls.load(), 1);
    EXPECT_EQ(rateCalls.load(), 1);

    listener.removeAll();
    EXPECT_EQ(listener.count(), 0u);
    EXPECT_EQ(fake->listenerCount(), 0u);
    fake->notify(kAudioSystemObject, kPropertyDevices);
    fake->flushNotifications();
    EXPECT_EQ(listCalls.load(), 1);

    // A registration the backend refuses is forgotten.
    fake->setListenerRegistrationFails(true);
    listener.watch(kAudioSystemObject, kPropertyDevices, [] {});
    EXPECT_EQ(listener.count(), 0u);
}
