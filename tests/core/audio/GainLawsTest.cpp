#include "audio/GainLaws.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo {
namespace {

TEST(GainLawsTest, TrimAndIsolatorLawsAtTheirLandmarks)
{
    EXPECT_EQ(trimGain(-0.995), 0.0);
    EXPECT_EQ(trimGain(-1.5), 0.0);
    EXPECT_NEAR(trimGain(-0.99), 0.0327, 1e-4);
    EXPECT_EQ(trimGain(0.0), 1.0);
    EXPECT_NEAR(trimGain(1.0), 2.818, 1e-3);

    EXPECT_EQ(isolatorGain(-0.985), 0.0);
    EXPECT_EQ(isolatorGain(-1.0), 0.0);
    EXPECT_NEAR(isolatorGain(-0.98), 0.0522, 1e-4);
    EXPECT_EQ(isolatorGain(0.0), 1.0);
    EXPECT_NEAR(isolatorGain(1.0), 1.995, 1e-3);
    EXPECT_DOUBLE_EQ(isolatorGain(-0.5), 0.99 * std::pow(10.0, -13.0 / 20.0));
}

TEST(GainLawsTest, FaderClampsAndFollowsItsPowerCurve)
{
    EXPECT_NEAR(faderGain(0.8), 0.684, 1e-3);
    EXPECT_EQ(faderGain(1.7), 1.0);
    EXPECT_EQ(faderGain(-0.3), 0.0);
}

TEST(GainLawsTest, CrossfaderConstantPowerSharpCutAndThru)
{
    // Thru ignores position and curve.
    for (double pos : {-1.0, -0.3, 0.0, 0.7, 1.0})
        for (double curve : {0.0, 0.5, 1.0})
            EXPECT_EQ(crossfaderGain(0, pos, curve), 1.0);

    // Constant power: both sides at 0.7071 in the centre, and the powers sum to 1.
    EXPECT_NEAR(crossfaderGain(-1, 0.0, 0.0), std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(crossfaderGain(1, 0.0, 0.0), std::sqrt(0.5), 1e-12);
    for (double pos = -1.0; pos <= 1.0; pos += 0.125) {
        const double a = crossfaderGain(-1, pos, 0.0), b = crossfaderGain(1, pos, 0.0);
        EXPECT_NEAR(a * a + b * b, 1.0, 1e-12) << pos;
    }
    EXPECT_EQ(crossfaderGain(-1, -1.0, 0.0), 1.0);
    EXPECT_NEAR(crossfaderGain(-1, 1.0, 0.0), 0.0, 1e-15);

    // Sharp cut: full level until the last 3 % of travel (d exactly 0.97 still plays).
    EXPECT_EQ(crossfaderGain(-1, 0.94, 1.0), 1.0);
    EXPECT_EQ(crossfaderGain(-1, 0.95, 1.0), 0.0);
    EXPECT_EQ(crossfaderGain(1, -0.95, 1.0), 0.0);
    EXPECT_EQ(crossfaderGain(1, 0.9, 1.0), 1.0);
    // Positions beyond the ends are clamped.
    EXPECT_EQ(crossfaderGain(-1, -4.0, 0.0), crossfaderGain(-1, -1.0, 0.0));

    // By channel: channel 0 on side A, every other on side B.
    EXPECT_EQ(crossfaderGainForChannel(0, 0.95, 1.0), 0.0);
    EXPECT_EQ(crossfaderGainForChannel(2, 0.95, 1.0), 1.0);
    EXPECT_EQ(crossfaderGainForChannel(1, -0.95, 1.0), 0.0);
}

TEST(GainLawsTest, BeatFractionTableAndLabels)
{
    const double expected[] = {0.125, 0.25, 0.5, 0.75, 1, 2, 4, 8, 16};
    ASSERT_EQ(beatFractions.size(), 9u);
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(beatFractions[i], expected[i]);
    EXPECT_EQ(beatFractions[2], 0.5);

    const char* labels[] = {"1/8", "1/4", "1/2", "3/4", "1", "2", "4", "8", "16"};
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(beatFractionLabel(beatFractions[i]), labels[i]);
    EXPECT_EQ(beatFractionLabel(1.5), "1");
    EXPECT_EQ(beatFractionLabel(std::numeric_limits<double>::quiet_NaN()), "0");
    EXPECT_EQ(beatFractionLabel(std::numeric_limits<double>::infinity()), "0");
}

} // namespace
} // namespace zelvo
