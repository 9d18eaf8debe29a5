#include "audio/Smoothed.h"

#include "audio/FlushDenormals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <utility>

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

TEST(SmoothedTest, AGlideEndsExactlyOnItsTargetWithOrWithoutSubnormals)
{
    // What rests downstream (a beat effect's wet level, a strip left out) asks
    // for exact values: a glide must not stall a rounding step short, nor, with
    // subnormals flushed as on the audio thread, on a tiny value whose step
    // flushes to zero.
    for (bool flushed : {false, true}) {
        SCOPED_TRACE(flushed);
        std::optional<FlushDenormals> flush;
        if (flushed)
            flush.emplace();
        for (auto [from, to] : {std::pair{1.0f, 0.0f}, {0.0f, 1.0f}, {0.3f, -0.7f}}) {
            Smoothed s(from, 30.0f, 48000.0f);
            int calls = 0;
            while (s.value != to && calls < 2'000'000) {
                s.next(to);
                ++calls;
            }
            EXPECT_EQ(s.value, to) << from << " -> " << to;
            EXPECT_GT(calls, 1440); // still a glide, not a jump
            EXPECT_EQ(s.next(to), to);
        }
    }
}

} // namespace
} // namespace zelvo
