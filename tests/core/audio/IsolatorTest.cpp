#include "audio/Isolator.h"

#include "audio/GainLaws.h"

#include "MixSignalSupport.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::dB;

double isolatorGainAt(double freq, double rate, double low, double mid, double high)
{
    Isolator iso(rate, 250.0, 2500.0);
    return test::sineGain(freq, rate, [&](double x) { return iso.tick(x, low, mid, high); });
}

TEST(IsolatorTest, AllBandsAtUnityPassEverySineUnchanged)
{
    for (double rate : test::sampleRates)
        for (double freq : {30.0, 120.0, 250.0, 700.0, 2500.0, 6000.0, 15000.0})
            EXPECT_NEAR(dB(isolatorGainAt(freq, rate, 1, 1, 1)), 0.0, 0.05) << rate << " " << freq;
}

TEST(IsolatorTest, EachBandOwnsItsRegionAndMeetsTheNextAtTheCrossover)
{
    for (double rate : test::sampleRates) {
        // Far inside a band, that band alone carries the signal.
        EXPECT_NEAR(dB(isolatorGainAt(40.0, rate, 1, 0, 0)), 0.0, 0.1) << rate;
        EXPECT_NEAR(dB(isolatorGainAt(790.0, rate, 0, 1, 0)), 0.0, 0.6) << rate;
        EXPECT_NEAR(dB(isolatorGainAt(12000.0, rate, 0, 0, 1)), 0.0, 0.1) << rate;
        // Fourth-order Linkwitz-Riley slopes: −6 dB at each crossover.
        EXPECT_NEAR(dB(isolatorGainAt(250.0, rate, 1, 0, 0)), -6.0, 0.3) << rate;
        EXPECT_NEAR(dB(isolatorGainAt(2500.0, rate, 0, 0, 1)), -6.0, 0.3) << rate;
        // Two octaves away from a crossover a band is down by about 48 dB.
        EXPECT_LT(dB(isolatorGainAt(1000.0, rate, 1, 0, 0)), -40.0) << rate;
        EXPECT_LT(dB(isolatorGainAt(625.0, rate, 0, 0, 1)), -40.0) << rate;
    }
}

TEST(IsolatorTest, KillsRemoveTheirBandAndBoostsLiftIt)
{
    for (double rate : test::sampleRates) {
        const double kill = isolatorGain(-1.0);
        ASSERT_EQ(kill, 0.0);
        // A low kill leaves a 50 Hz sine more than 40 dB down; mids and highs pass.
        EXPECT_LT(dB(isolatorGainAt(50.0, rate, kill, 1, 1)), -40.0) << rate;
        EXPECT_NEAR(dB(isolatorGainAt(8000.0, rate, kill, 1, 1)), 0.0, 0.1) << rate;
        // A mid kill notches 800 Hz deeply.
        EXPECT_LT(dB(isolatorGainAt(790.0, rate, 1, kill, 1)), -20.0) << rate;
        // Full boost is +6 dB in the band's own region.
        EXPECT_NEAR(dB(isolatorGainAt(40.0, rate, isolatorGain(1.0), 1, 1)), 6.0, 0.1) << rate;
    }
}

} // namespace
} // namespace zelvo
