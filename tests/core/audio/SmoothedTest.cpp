#include "audio/Smoothed.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zelvo {
namespace {

TEST(SmoothedTest, CoefficientIsComputedInSinglePrecision)
{
    const Smoothed s(0.0f, 30.0f, 48000.0f);
    EXPECT_EQ(s.coeff(), 0.00069421530f);
    EXPECT_EQ(s.value, 0.0f);
}

TEST(SmoothedTest, CoversSixtyThreePercentOfAStepInOneTimeConstant)
{
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        Smoothed s(0.0f, 30.0f, rate);
        const int calls = int(std::lround(0.030f * rate));
        for (int i = 0; i < calls; ++i)
            s.next(1.0f);
        EXPECT_NEAR(s.value, 1.0f - std::exp(-1.0f), 2e-3f) << rate;
    }
    // Downward steps glide the same way.
    Smoothed down(1.0f, 10.0f, 48000.0f);
    for (int i = 0; i < 480; ++i)
        down.next(0.0f);
    EXPECT_NEAR(down.value, std::exp(-1.0f), 2e-3f);
}

TEST(SmoothedTest, ZeroTimeJumpsAndValueCanBeSet)
{
    Smoothed s(0.2f, 0.0f, 48000.0f);
    EXPECT_EQ(s.coeff(), 1.0f);
    EXPECT_EQ(s.next(0.75f), 0.75f);
    EXPECT_EQ(s.value, 0.75f);

    Smoothed t(0.0f, 5.0f, 48000.0f);
    t.value = 0.5f;
    EXPECT_EQ(t.next(0.5f), 0.5f); // at the target it stays put
}

} // namespace
} // namespace zelvo
