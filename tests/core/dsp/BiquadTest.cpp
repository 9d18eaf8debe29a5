#include "dsp/Biquad.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zelvo {
namespace {

// Steady-state gain of a section for a sine at `freq`: the peak output over the
// last second after two seconds of settling.
double measuredGain(Biquad f, double freq, double sampleRate)
{
    const int settle = int(2 * sampleRate);
    const int measure = int(sampleRate);
    double peak = 0.0;
    for (int i = 0; i < settle + measure; ++i) {
        const double y = f.tick(std::sin(2.0 * std::numbers::pi * freq * i / sampleRate));
        if (i >= settle)
            peak = std::max(peak, std::fabs(y));
    }
    return peak;
}

// Second-order Butterworth magnitudes, from the analogue prototype warped the way
// the bilinear transform warps it.
double butterworth(double freq, double cutoff, double sampleRate, bool lowpass)
{
    const double w = std::tan(std::numbers::pi * freq / sampleRate) / std::tan(std::numbers::pi * cutoff / sampleRate);
    const double r = lowpass ? w : 1.0 / w;
    return 1.0 / std::sqrt(1.0 + r * r * r * r);
}

TEST(BiquadTest, DefaultSectionPassesInputThrough)
{
    Biquad f;
    for (double x : {0.0, 1.0, -0.5, 0.25, 3.0})
        EXPECT_EQ(f.tick(x), x);
}

TEST(BiquadTest, ButterworthDesignsFollowTheirMagnitudeResponse)
{
    for (double rate : {22050.0, 44100.0, 48000.0, 96000.0}) {
        for (double cutoff : {250.0, 2500.0}) {
            const auto lp = Biquad::lowpass(cutoff, rate, 0.70710678);
            const auto hp = Biquad::highpass(cutoff, rate, 0.70710678);
            for (double freq : {cutoff / 8, cutoff / 2, cutoff, cutoff * 2, cutoff * 4}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz, cutoff " << cutoff << ", sine " << freq);
                EXPECT_NEAR(measuredGain(lp, freq, rate), butterworth(freq, cutoff, rate, true), 2e-3);
                EXPECT_NEAR(measuredGain(hp, freq, rate), butterworth(freq, cutoff, rate, false), 2e-3);
            }
            // At the cutoff both sides are 3 dB down.
            EXPECT_NEAR(measuredGain(lp, cutoff, rate), std::sqrt(0.5), 2e-3);
        }
    }
}

TEST(BiquadTest, LowpassPassesDcAndHighpassBlocksIt)
{
    auto lp = Biquad::lowpass(250, 44100, 0.70710678);
    auto hp = Biquad::highpass(250, 44100, 0.70710678);
    double l = 0, h = 0;
    for (int i = 0; i < 44100; ++i) {
        l = lp.tick(1.0);
        h = hp.tick(1.0);
    }
    EXPECT_NEAR(l, 1.0, 1e-9);
    EXPECT_NEAR(h, 0.0, 1e-9);
}

TEST(BiquadTest, ResonanceRaisesTheGainAtTheCutoff)
{
    // q sets the peak at the cutoff: the gain there equals q for both designs.
    for (double q : {0.5, 2.0, 5.0}) {
        EXPECT_NEAR(measuredGain(Biquad::lowpass(1000, 48000, q), 1000, 48000), q, 5e-3 * q);
        EXPECT_NEAR(measuredGain(Biquad::highpass(1000, 48000, q), 1000, 48000), q, 5e-3 * q);
    }
}

TEST(BiquadTest, DesignsStartWithZeroState)
{
    const auto lp = Biquad::lowpass(250, 22050, 0.70710678);
    EXPECT_EQ(lp.z1, 0.0);
    EXPECT_EQ(lp.z2, 0.0);
    auto copy = lp;
    copy.tick(1.0);
    EXPECT_NE(copy, lp);
}

} // namespace
} // namespace zelvo
