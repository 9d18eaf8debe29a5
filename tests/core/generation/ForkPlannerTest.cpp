#include "generation/ForkPlanner.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace zelvo {
namespace {

namespace FP = ForkPlanner;
constexpr double kLatent = 4096.0 / 44100.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double latents(double seconds)
{
    return seconds / kLatent;
}

// What every plan promises, whatever the inputs.
void expectWellFormed(const ForkPlan& p)
{
    EXPECT_NEAR(latents(p.contextSeconds), std::round(latents(p.contextSeconds)), 1e-9);
    EXPECT_NEAR(latents(p.generateSeconds), std::round(latents(p.generateSeconds)), 1e-9);
    EXPECT_GE(p.contextSeconds, 4.0);
    EXPECT_GE(p.generateSeconds, 8 * kLatent - 1e-12);
    EXPECT_LE(p.totalSeconds(), 190.0 + 1e-9);
    EXPECT_DOUBLE_EQ(p.contextStart, p.seam - p.contextSeconds);
}

TEST(ForkPlannerTest, LatentAlignmentFollowsEachRoundingRule)
{
    using R = FP::Rounding;
    // 2.5 latents: the two nearest rules differ on the half.
    const double half = 2.5 * kLatent;
    EXPECT_NEAR(FP::latentAligned(half, R::toNearestOrEven), 2 * kLatent, 1e-12);
    EXPECT_NEAR(FP::latentAligned(half, R::toNearestOrAwayFromZero), 3 * kLatent, 1e-12);
    EXPECT_NEAR(FP::latentAligned(-half, R::toNearestOrAwayFromZero), -3 * kLatent, 1e-12);
    EXPECT_NEAR(FP::latentAligned(2.2 * kLatent, R::up), 3 * kLatent, 1e-12);
    EXPECT_NEAR(FP::latentAligned(-2.2 * kLatent, R::up), -2 * kLatent, 1e-12);
    EXPECT_NEAR(FP::latentAligned(2.8 * kLatent, R::down), 2 * kLatent, 1e-12);
    EXPECT_NEAR(FP::latentAligned(-2.8 * kLatent, R::towardZero), -2 * kLatent, 1e-12);
    EXPECT_NEAR(FP::latentAligned(-2.2 * kLatent, R::awayFromZero), -3 * kLatent, 1e-12);
    EXPECT_EQ(ForkPlan({10, 6, 32.0435, 1}).contextLatents(), 345);
}

TEST(ForkPlannerTest, ForkWithoutAGridLeadsByTwoSecondBars)
{
    const auto p = FP::fork(std::nullopt, 10, 300, ForkSettings{}, 5);
    ASSERT_TRUE(p);
    EXPECT_DOUBLE_EQ(p->seam, 26.0);
    // 345 latents of context do not fit before the seam: 279 do.
    EXPECT_EQ(p->contextLatents(), 279);
    EXPECT_NEAR(p->contextSeconds, 25.9135, 1e-4);
    EXPECT_NEAR(p->contextStart, 0.0865, 1e-4);
    EXPECT_NEAR(latents(p->generateSeconds), 690, 1e-9);
    EXPECT_NEAR(p->generateSeconds, 64.0871, 1e-4);
    expectWellFormed(*p);

    // A longer minimum lead wins over aheadBars; near the end the seam is the end.
    EXPECT_DOUBLE_EQ(FP::fork(std::nullopt, 10, 300, ForkSettings{}, 30)->seam, 40.0);
    EXPECT_DOUBLE_EQ(FP::fork(std::nullopt, 290, 300, ForkSettings{}, 5)->seam, 300.0);
    // A 3 s track cannot give 4 s of context.
    EXPECT_FALSE(FP::fork(std::nullopt, 0, 3, ForkSettings{}, 5));
}

TEST(ForkPlannerTest, ForkOnAGridPutsTheSeamOnABarLine)
{
    const BeatGrid grid(120, 0.5, 4);
    const auto p = FP::fork(grid, 30, 300, ForkSettings{}, 10);
    ASSERT_TRUE(p);
    EXPECT_DOUBLE_EQ(p->seam, 46.5);
    EXPECT_EQ(p->contextLatents(), 345);
    EXPECT_NEAR(p->contextSeconds, 32.0435, 1e-4);
    EXPECT_NEAR(p->contextStart, 14.4565, 1e-4);
    EXPECT_NEAR(p->generateSeconds, 64.0871, 1e-4);
    expectWellFormed(*p);

    // The nearest bar line falls short of the minimum lead: the next one after it.
    ForkSettings noAhead;
    noAhead.aheadBars = 0;
    EXPECT_DOUBLE_EQ(FP::fork(grid, 30, 300, noAhead, 3)->seam, 34.5);
    // A bar line exactly at playhead + lead is kept.
    EXPECT_DOUBLE_EQ(FP::fork(grid, 30.5, 300, noAhead, 2)->seam, 32.5);

    // Late in the track the seam may be planned with generation past the end.
    const auto late = FP::fork(grid, 280, 300, ForkSettings{}, 10);
    ASSERT_TRUE(late);
    EXPECT_DOUBLE_EQ(late->seam, 296.5);
    EXPECT_NEAR(late->generateSeconds, 64.0871, 1e-4);
    // Past the end margin the seam falls back to the last bar line in the track,
    // even when that is closer to the playhead than the minimum lead.
    EXPECT_DOUBLE_EQ(FP::fork(grid, 295, 300, ForkSettings{}, 10)->seam, 298.5);

    // Three beats to the bar at 90 BPM.
    const auto waltz = FP::fork(BeatGrid(90, 0.2, 3), 60, 400, ForkSettings{}, 0);
    ASSERT_TRUE(waltz);
    const double bar = 60.0 / 90 * 3;
    EXPECT_NEAR(std::fmod(waltz->seam - 0.2, bar), 0.0, 1e-9);
    EXPECT_NEAR(waltz->seam, 60 + 8 * bar, bar / 2 + 1e-9);
    expectWellFormed(*waltz);
}

TEST(ForkPlannerTest, LongWindowsAreCutToTheTotalLimit)
{
    ForkSettings s;
    s.contextBars = 64;
    s.lengthBars = 64;
    const auto p = FP::fork(BeatGrid(120, 0.5, 4), 150, 400, s, 10);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->contextLatents(), 1378);
    EXPECT_NEAR(p->contextSeconds, 127.9884, 1e-4);
    EXPECT_NEAR(latents(p->generateSeconds), 667, 1e-9);
    EXPECT_NEAR(p->generateSeconds, 61.9508, 1e-4);
    expectWellFormed(*p);

    // A context that leaves fewer than 8 latents to generate gives no plan.
    // Half-second bars: 379 of them are 2040 latents (189.47 s), leaving 5.
    s.contextBars = 379;
    EXPECT_FALSE(FP::fork(BeatGrid(120, 0.5, 1), 250, 400, s, 10));
    s.contextBars = 378; // 2035 latents, leaving 10
    const auto tight = FP::fork(BeatGrid(120, 0.5, 1), 250, 400, s, 10);
    ASSERT_TRUE(tight);
    EXPECT_NEAR(latents(tight->generateSeconds), 10, 1e-9);
}

TEST(ForkPlannerTest, UnusableGridsCountAsNoGrid)
{
    const auto plain = FP::fork(std::nullopt, 10, 300, ForkSettings{}, 5);
    for (const BeatGrid g : {BeatGrid(0, 0.5, 4), BeatGrid(-120, 0.5, 4), BeatGrid(kNaN, 0.5, 4),
                             BeatGrid(kInf, 0.5, 4), BeatGrid(120, 0.5, 0), BeatGrid(120, 0.5, -4)}) {
        EXPECT_EQ(FP::fork(g, 10, 300, ForkSettings{}, 5), plain) << g.bpm << " " << g.beatsPerBar;
        EXPECT_EQ(FP::extend(90, g, ForkSettings{}), FP::extend(90, std::nullopt, ForkSettings{}));
    }
}

TEST(ForkPlannerTest, NonFiniteInputsGiveNoPlan)
{
    const BeatGrid grid(120, 0.5, 4);
    EXPECT_FALSE(FP::fork(grid, kNaN, 300, ForkSettings{}, 10));
    EXPECT_FALSE(FP::fork(std::nullopt, kNaN, 300, ForkSettings{}, 10));
    EXPECT_FALSE(FP::fork(BeatGrid(120, kNaN, 4), 30, 300, ForkSettings{}, 10));
    EXPECT_FALSE(FP::fork(grid, kInf, kInf, ForkSettings{}, 10));
    EXPECT_FALSE(FP::extend(kNaN, grid, ForkSettings{}));
    EXPECT_FALSE(FP::extend(kInf, grid, ForkSettings{}));
    EXPECT_FALSE(FP::reroll(kNaN, 32, grid, ForkSettings{}));
    EXPECT_FALSE(FP::reroll(14, kNaN, grid, ForkSettings{}));
    ForkSettings none;
    none.lengthBars = 0;
    EXPECT_FALSE(FP::fork(grid, 30, 300, none, 10));
    none = ForkSettings{};
    none.contextBars = -4;
    EXPECT_FALSE(FP::fork(grid, 30, 300, none, 10));
}

TEST(ForkPlannerTest, ExtensionContinuesFromTheTakesLastWholeLatent)
{
    const auto p = FP::extend(90, BeatGrid(120, 7.3, 4), ForkSettings{});
    ASSERT_TRUE(p);
    EXPECT_NEAR(latents(p->seam), 968, 1e-9);
    EXPECT_NEAR(p->seam, 89.9077, 1e-4);
    EXPECT_NEAR(p->contextSeconds, 32.0435, 1e-4);
    EXPECT_NEAR(p->generateSeconds, 64.0871, 1e-4);
    expectWellFormed(*p);
    EXPECT_FALSE(FP::extend(3.9, std::nullopt, ForkSettings{}));
    // A short take keeps every whole latent it has as context.
    const auto shortTake = FP::extend(10, std::nullopt, ForkSettings{});
    ASSERT_TRUE(shortTake);
    EXPECT_LT(shortTake->contextStart, kLatent + 1e-9);
}

TEST(ForkPlannerTest, RerollRendersTheSameContextAgain)
{
    const auto p = FP::reroll(14, 32.0435, BeatGrid(120, 0.5, 4), ForkSettings{});
    ASSERT_TRUE(p);
    EXPECT_NEAR(p->contextSeconds, 32.0435, 1e-4);
    EXPECT_NEAR(p->seam, 46.0435, 1e-4);
    EXPECT_DOUBLE_EQ(p->contextStart, 14.0);
    EXPECT_NEAR(p->generateSeconds, 64.0871, 1e-4);
    expectWellFormed(*p);
    ForkSettings wide;
    wide.contextBars = 1; // plays no part in a re-roll
    EXPECT_EQ(FP::reroll(14, 32.0435, BeatGrid(120, 0.5, 4), wide), p);
    EXPECT_FALSE(FP::reroll(14, 3.9, std::nullopt, ForkSettings{}));
}

TEST(ForkPlannerTest, PlansStayWellFormedAcrossGridsAndPlayheads)
{
    for (double bpm : {70.0, 98.5, 124.0, 128.0, 174.0}) {
        for (std::int64_t perBar : {3, 4, 7}) {
            for (double playhead : {0.0, 4.0, 33.3, 120.0, 250.0}) {
                for (double lead : {0.0, 6.0, 25.0}) {
                    const BeatGrid grid(bpm, 0.37, perBar);
                    const auto p = FP::fork(grid, playhead, 260, ForkSettings{}, lead);
                    ASSERT_TRUE(p) << bpm << " " << perBar << " " << playhead << " " << lead;
                    expectWellFormed(*p);
                    const double bar = 60.0 / bpm * double(perBar);
                    const double bars = (p->seam - 0.37) / bar;
                    EXPECT_NEAR(bars, std::round(bars), 1e-6) << bpm << " " << playhead;
                    EXPECT_LE(p->seam, 260.0);
                    EXPECT_GE(p->seam, std::min(playhead + lead, 260.0 - bar));
                }
            }
        }
    }
}

TEST(ForkPlannerTest, ExpectedRenderAndRoomOrigin)
{
    EXPECT_DOUBLE_EQ(FP::expectedRender(90, std::nullopt), 67.0);
    EXPECT_DOUBLE_EQ(FP::expectedRender(90, 0.5), 49.0);
    EXPECT_DOUBLE_EQ(FP::roomOrigin(46.5, 32.0), 14.5);
}

} // namespace
} // namespace zelvo
