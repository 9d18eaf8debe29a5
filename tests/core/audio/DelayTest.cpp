#include "audio/Delay.h"
#include "audio/SVF.h"

#include "MixSignalSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace zelvo {
namespace {

TEST(DelayTest, ReadsWholeAndFractionalDelaysClampedToTheLine)
{
    Delay d(0.01, 1000.0); // 10 + 4 slots
    ASSERT_EQ(d.count(), 14u);
    // Write a ramp whose values tell their position: sample k holds k.
    for (int k = 1; k <= 20; ++k)
        d.write(double(k));
    // The last write was 20: one sample back is the most recent write.
    EXPECT_DOUBLE_EQ(d.read(0.0), 20.0);
    EXPECT_DOUBLE_EQ(d.read(0.001), 20.0);
    EXPECT_DOUBLE_EQ(d.read(0.003), 18.0);
    EXPECT_DOUBLE_EQ(d.read(0.0025), 18.5);
    // More than the line holds reads count − 2 samples back.
    EXPECT_DOUBLE_EQ(d.read(5.0), 20.0 - 11.0);
    // Negative and non-finite times read the shortest delay instead of an
    // undefined index.
    EXPECT_DOUBLE_EQ(d.read(-1.0), 20.0);
    EXPECT_DOUBLE_EQ(d.read(std::numeric_limits<double>::quiet_NaN()), 20.0);
    EXPECT_DOUBLE_EQ(d.read(std::numeric_limits<double>::infinity()), 20.0);

    d.clear();
    EXPECT_EQ(d.read(0.005), 0.0);
    // A span that is not a number gets only the guard slots.
    EXPECT_EQ(Delay(std::numeric_limits<double>::quiet_NaN(), 48000.0).count(), 4u);
}

TEST(DelayTest, APositionRoundingUpToTheEndWrapsToTheFirstSlot)
{
    // 0.073 s at 48 kHz is 3504.0000000000005 samples: index − d is a hair below
    // zero, and adding the count back rounds to exactly the count.
    Delay d(0.2, 48000.0);
    for (int i = 0; i < 3504; ++i) {
        d.write(i == 0 ? 1.0 : 0.0);
    }
    for (int i = 3504; i < 9604; ++i)
        d.write(0.0);
    d.write(1.0); // slot 0 again, index now 1
    for (int i = 1; i < 3504; ++i)
        d.write(0.0);
    EXPECT_NEAR(d.read(0.023 + 0.05), 1.0, 1e-9);
}

TEST(SVFTest, LowAndHighOutputsMeetAtTheCutoffAndSeparateAwayFromIt)
{
    for (double rate : test::sampleRates) {
        SVF svf;
        svf.set(1000.0, 0.7071067811865476, rate);
        const double lowAtCut = test::sineGain(1000.0, rate, [&](double x) { return svf.tick(x).low; });
        svf.reset();
        const double highAtCut = test::sineGain(1000.0, rate, [&](double x) { return svf.tick(x).high; });
        EXPECT_NEAR(test::dB(lowAtCut), -3.01, 0.1) << rate;
        EXPECT_NEAR(test::dB(highAtCut), -3.01, 0.1) << rate;
        svf.reset();
        // Second order: 12 dB per octave, so about −40 dB a decade away.
        EXPECT_LT(test::dB(test::sineGain(10000.0, rate, [&](double x) { return svf.tick(x).low; })), -38.0);
        svf.reset();
        EXPECT_LT(test::dB(test::sineGain(100.0, rate, [&](double x) { return svf.tick(x).high; })), -38.0);
    }
}

} // namespace
} // namespace zelvo
