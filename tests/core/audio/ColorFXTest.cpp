#include "audio/ColorFX.h"

#include "MixSignalSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace zelvo {
namespace {

using test::dB;
using test::sampleRates;

// Steady-state gain of a sine through the colour effect (left side).
double colorGain(double freq, double rate, ColorFXKind kind, double amount, double parameter = 0.0)
{
    ColorFX fx(rate);
    return test::sineGain(freq, rate, [&](double x) {
        double l = x, r = x;
        fx.tick(l, r, kind, amount, parameter);
        return l;
    });
}

TEST(ColorFXTest, BelowTheDeadZoneNothingMoves)
{
    for (ColorFXKind kind : allColorFXKinds) {
        for (double amount : {0.019, -0.019, 0.0}) {
            ColorFX fx(48000.0);
            for (int i = 0; i < 2000; ++i) {
                double l = test::sine(440.0, 48000.0, i), r = -l;
                const double inL = l, inR = r;
                fx.tick(l, r, kind, amount, 0.5);
                ASSERT_EQ(l, inL);
                ASSERT_EQ(r, inR);
            }
            EXPECT_EQ(fx.lastCutoff, -1.0);
            EXPECT_EQ(fx.holdCount, 0.0);
            EXPECT_EQ(fx.noiseSeed, 0x9E3779B9u);
            EXPECT_EQ(fx.spaceL.read(0.001), 0.0);
        }
    }
    // At 0.02 the effect engages.
    ColorFX fx(48000.0);
    double l = 0.5, r = 0.5;
    fx.tick(l, r, ColorFXKind::filter, 0.02, 0.0);
    EXPECT_NE(fx.lastCutoff, -1.0);
}

TEST(ColorFXTest, FilterSweepsFromFiftyHertzLowPassToTwelveKilohertzHighPass)
{
    for (double rate : sampleRates) {
        // Full left: a 50 Hz low-pass (q 0.707 at parameter 0): −3 dB at 50 Hz,
        // deep cut a decade up, bass passes.
        EXPECT_NEAR(dB(colorGain(50.0, rate, ColorFXKind::filter, -1.0)), -3.0, 0.2) << rate;
        EXPECT_LT(dB(colorGain(500.0, rate, ColorFXKind::filter, -1.0)), -38.0) << rate;
        EXPECT_NEAR(dB(colorGain(10.0, rate, ColorFXKind::filter, -1.0)), 0.0, 0.3) << rate;
        // Full right: a 12 kHz high-pass.
        EXPECT_NEAR(dB(colorGain(12000.0, rate, ColorFXKind::filter, 1.0)), -3.0, 0.3) << rate;
        EXPECT_LT(dB(colorGain(1200.0, rate, ColorFXKind::filter, 1.0)), -38.0) << rate;
        // Halfway left the cutoff is 20000·0.0025^0.5 = 1000 Hz.
        EXPECT_NEAR(dB(colorGain(1000.0, rate, ColorFXKind::filter, -0.5)), -3.0, 0.2) << rate;
    }
    // The parameter raises the resonance: a peak at the cutoff instead of −3 dB.
    EXPECT_GT(dB(colorGain(1000.0, 48000.0, ColorFXKind::filter, -0.5, 1.0)), 10.0);
    // A 12 kHz cutoff above 0.49 of a 22.05 kHz rate is clamped and stays stable.
    const double g = colorGain(1000.0, 22050.0, ColorFXKind::filter, 1.0);
    EXPECT_TRUE(std::isfinite(g));
    EXPECT_LT(dB(g), -30.0);
}

TEST(ColorFXTest, CrushHoldsAndRequantises)
{
    for (double rate : sampleRates) {
        ColorFX fx(rate);
        std::set<double> distinct;
        double previous = 2.0;
        int run = 0, longestRun = 0, changes = 0;
        for (int i = 0; i < 41 * 200; ++i) {
            double l = test::sine(97.0, rate, i, 0.9), r = l;
            fx.tick(l, r, ColorFXKind::crush, -1.0, 0.0);
            // Three bits: every output is a multiple of 1/8.
            ASSERT_EQ(l * 8.0, std::round(l * 8.0));
            distinct.insert(l);
            if (l != previous) {
                ++changes;
                longestRun = std::max(longestRun, run);
                run = 1;
                previous = l;
            } else {
                ++run;
            }
        }
        // The hold lasts 41 samples at full amount (a held value may repeat).
        EXPECT_LE(changes, 201) << rate;
        EXPECT_GE(longestRun, 41) << rate;
        EXPECT_LE(distinct.size(), 17u);
    }
    // A light touch keeps almost every sample and fine resolution.
    ColorFX light(48000.0);
    double l = 0.0, r = 0.0;
    light.tick(l, r, ColorFXKind::crush, 0.1, 0.0); // holds every second sample at 0.1
    l = 0.123456, r = -0.5;
    light.tick(l, r, ColorFXKind::crush, 0.1, 0.0);
    const double levels = std::exp2(16.0 - 1.3);
    EXPECT_DOUBLE_EQ(l, std::round(0.123456 * levels) / levels);
    EXPECT_DOUBLE_EQ(r, std::round(-0.5 * levels) / levels);
}

TEST(ColorFXTest, NoiseLevelFollowsTheKnobAndItsColourTheSide)
{
    for (double rate : sampleRates) {
        auto noiseOf = [rate](double amount) {
            ColorFX fx(rate);
            std::vector<double> out;
            for (int i = 0; i < int(rate); ++i) {
                double l = 0.0, r = 0.0;
                fx.tick(l, r, ColorFXKind::noise, amount, 0.0);
                EXPECT_EQ(l, r);
                out.push_back(l);
            }
            return out;
        };
        auto crossings = [](const std::vector<double>& v) {
            int n = 0;
            for (std::size_t i = 1; i < v.size(); ++i)
                n += (v[i - 1] < 0) != (v[i] < 0);
            return n;
        };
        const auto full = noiseOf(1.0), half = noiseOf(0.5), dark = noiseOf(-1.0);
        // White noise has an RMS of 1/√3; through the band it is a fraction of that,
        // scaled by the amount and 0.35.
        EXPECT_GT(test::rms(full), 0.02) << rate;
        EXPECT_LT(test::rms(full), 0.35) << rate;
        EXPECT_LT(test::rms(half), test::rms(full)) << rate;
        // Right of centre is high-passed noise (9 kHz), left low-passed (270 Hz).
        EXPECT_GT(crossings(full), 10 * crossings(dark)) << rate;
    }
}

TEST(ColorFXTest, SpaceEchoesAfterItsDelayAndCrossFeeds)
{
    for (double rate : sampleRates) {
        for (double amount : {-1.0, 1.0}) {
            ColorFX fx(rate);
            const double t = amount < 0 ? 0.023 : 0.073;
            const int dl = int(std::lround(t * rate));
            const int dr = int(std::lround(1.37 * t * rate));
            int firstL = -1, firstR = -1;
            for (int i = 0; i < int(0.2 * rate); ++i) {
                double l = i == 0 ? 1.0 : 0.0, r = l;
                fx.tick(l, r, ColorFXKind::space, amount, 0.0);
                if (i == 0) {
                    EXPECT_DOUBLE_EQ(l, 0.6); // dry scaled by 1 − 0.4
                    continue;
                }
                if (firstL < 0 && std::abs(l) > 0.05)
                    firstL = i;
                if (firstR < 0 && std::abs(r) > 0.05)
                    firstR = i;
            }
            EXPECT_NEAR(firstL, dl, 1) << rate << " " << amount;
            EXPECT_NEAR(firstR, dr, 1) << rate << " " << amount;
        }
    }
}

} // namespace
} // namespace zelvo
