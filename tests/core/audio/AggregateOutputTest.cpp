#include "audio/AudioIO.h"
#include "audio/CoreAudioHAL.h"
#include "platform/DriftCompensator.h"
#include "platform/FakeAudioBackend.h"
#include "support/RealtimeGuard.h"
#include "support/ScopedBackend.h"
#include "support/TestRenderers.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zelvo;
using Fake = FakeAudioBackend;

namespace {

Fake::Device fakeCard(std::string uid, double ppm, std::uint32_t block)
{
    Fake::Device d;
    d.uid = uid;
    d.name = uid;
    d.outputStreams = std::vector<int>{2};
    d.clockPPM = ppm;
    d.bufferSize = block;
    return d;
}

RendererFactory sine(test::SineRenderer*& out)
{
    return [&out](double rate, int) {
        auto r = std::make_unique<test::SineRenderer>(rate, 440.0, 0.5f);
        out = r.get();
        return r;
    };
}

// Largest sample-to-sample step of a 440 Hz sine of amplitude 0.5 at 48 kHz,
// with room for the resampler's interpolation error. A dropped or repeated
// stretch of audio jumps by far more.
constexpr float kSmoothStep = 0.5f * 2.0f * 3.1416f * 440.0f / 48000.0f * 1.05f;

} // namespace

// Two cards whose crystals are 100 ppm fast and 100 ppm slow play for an hour:
// the follower neither starves nor overflows, and its audio stays continuous.
TEST(AggregateOutput, FollowerTracksTheMasterClockForAnHour)
{
    test::ScopedBackend<Fake> fake;
    fake->addDevice(fakeCard("master", +100.0, 256));
    fake->addDevice(fakeCard("follower", -100.0, 512));
    const auto id = CoreAudioHAL::createAggregate("kavri zelvo players", "agg.drift", {"master", "follower"});
    ASSERT_TRUE(id);

    test::SineRenderer* renderer = nullptr;
    AudioIO io(*CoreAudioHAL::device(*id), 256, 0, 2, sine(renderer));
    EXPECT_EQ(io.channelMap(), (std::vector<int>{0, 1, 2, 3}));
    io.start();
    for (int minute = 0; minute < 60; ++minute) {
        fake->pump(60.0);
        ASSERT_EQ(io.underruns(), 0) << "minute " << minute;
    }
    const auto units = fake->units();
    ASSERT_EQ(units.size(), 2u);
    const double hour = 3600.0 * 48000.0;
    EXPECT_NEAR(double(units[0]->framesPlayed), hour * (1 + 100e-6), 512);
    EXPECT_NEAR(double(units[1]->framesPlayed), hour * (1 - 100e-6), 1024);
    EXPECT_LT(units[0]->maxStep, kSmoothStep);
    EXPECT_LT(units[1]->maxStep, kSmoothStep);
}

// The same card twice is two instances of it, each with its own unit.
TEST(AggregateOutput, ASubDeviceListedTwiceOpensTwice)
{
    test::ScopedBackend<Fake> fake;
    fake->setCaptureLimit(48000);
    fake->addDevice(fakeCard("card", 0.0, 256));
    const auto id = CoreAudioHAL::createAggregate("twice", "agg.twice", {"card", "card"});
    ASSERT_TRUE(id);
    EXPECT_EQ(CoreAudioHAL::device(*id)->outputChannels, 4);

    test::SineRenderer* renderer = nullptr;
    AudioIO io(*CoreAudioHAL::device(*id), 256, 0, 2, sine(renderer));
    io.start();
    fake->pump(1.0);
    EXPECT_EQ(io.underruns(), 0);
    const auto units = fake->units();
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0]->device, units[1]->device);
    EXPECT_GT(units[1]->framesPlayed, 40000);
    // The follower plays the cue pair once its ring is primed.
    float peak = 0;
    for (float v : units[1]->captured[0])
        peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 0.5f, 0.01f);
}

// Both sides of the link run on device threads: priming, steady play, a
// starvation and an overrun neither allocate nor lock, nor does the channel map
// the units apply after each render.
TEST(AggregateOutput, StoppingTheMasterStarvesTheFollowerOnceAndItRecovers)
{
    DriftCompensator link;
    link.prepare(1, 48000, 48000, 256, 256);
    std::vector<float> in(256, 0.25f), out(256), device(2 * 256);
    float* inPtr = in.data();
    float* outPtr = out.data();
    float* devicePtrs[2] = {device.data(), device.data() + 256};
    const std::vector<int> map{-1, 0};
    test::RealtimeProbe probe;
    auto onDeviceThread = [](auto work) {
        test::AudioThreadScope audio;
        work();
    };

    // Silence until primed.
    onDeviceThread([&] { link.pull(&outPtr, 256); });
    EXPECT_EQ(out[0], 0.0f);
    onDeviceThread([&] {
        while (double(link.fill()) < link.target())
            link.push(&inPtr, 256);
        for (int i = 0; i < 20; ++i) {
            link.pull(&outPtr, 256);
            link.push(&inPtr, 256);
        }
    });
    EXPECT_FLOAT_EQ(out[255], 0.25f);
    EXPECT_EQ(link.underruns(), 0);
    // The producer stops: one starvation, then silence, not stale audio.
    onDeviceThread([&] {
        for (int i = 0; i < 20; ++i)
            link.pull(&outPtr, 256);
    });
    EXPECT_EQ(link.underruns(), 1);
    EXPECT_EQ(out[255], 0.0f);
    // Too much at once: the excess is dropped and counted.
    onDeviceThread([&] {
        for (int i = 0; i < 1000; ++i)
            link.push(&inPtr, 256);
        applyChannelMap(map, &inPtr, 1, devicePtrs, 2, 256);
    });
    EXPECT_GT(link.overruns(), 0);
    EXPECT_EQ(device[0], 0.0f);
    EXPECT_EQ(device[256], 0.25f);
    EXPECT_TRUE(probe.clean());
}

// The clock master drives the aggregate: a follower's card going away leaves
// the output running (and reads as a part that ended), the master's ends it.
TEST(AggregateOutput, OnlyTheMastersCardGoingAwayEndsTheOutput)
{
    test::ScopedBackend<Fake> fake;
    const auto master = fake->addDevice(fakeCard("master", 0.0, 256));
    const auto follower = fake->addDevice(fakeCard("follower", 0.0, 256));
    const auto id = CoreAudioHAL::createAggregate("kavri zelvo players", "agg.loss", {"master", "follower"});
    test::SineRenderer* renderer = nullptr;
    AudioIO io(*CoreAudioHAL::device(*id), 256, 0, 2, sine(renderer));
    io.start();
    EXPECT_FALSE(io.partEnded());
    fake->vanishDevice(follower);
    EXPECT_TRUE(io.running());
    EXPECT_FALSE(io.ended());
    EXPECT_TRUE(io.partEnded());
    fake->vanishDevice(master);
    EXPECT_FALSE(io.running());
    EXPECT_TRUE(io.ended());
}
