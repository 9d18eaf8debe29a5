#include "library/TrackMetrics.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelvo {
namespace {

WaveformData uniform(std::size_t n, std::uint8_t low, std::uint8_t mid, std::uint8_t high)
{
    WaveformData w;
    w.low.assign(n, low);
    w.mid.assign(n, mid);
    w.high.assign(n, high);
    return w;
}

WaveformData fromLevels(const std::vector<std::uint8_t>& levels)
{
    WaveformData w;
    w.low = w.mid = w.high = levels;
    return w;
}

TEST(TrackMetricsTest, NeedsNinePoints)
{
    EXPECT_FALSE(TrackMetrics::from(uniform(8, 255, 255, 255)));
    EXPECT_FALSE(TrackMetrics::from(WaveformData::empty()));
    EXPECT_TRUE(TrackMetrics::from(uniform(9, 255, 255, 255)));
}

TEST(TrackMetricsTest, FullAndSilentWaveforms)
{
    auto m = *TrackMetrics::from(uniform(9, 255, 255, 255));
    EXPECT_NEAR(m.energy, 0.85, 1e-12);
    EXPECT_DOUBLE_EQ(m.brightness, 0.5);
    EXPECT_DOUBLE_EQ(m.dynamics, 0.0);

    m = *TrackMetrics::from(uniform(40, 0, 0, 0));
    EXPECT_DOUBLE_EQ(m.energy, 0.0);
    EXPECT_DOUBLE_EQ(m.brightness, 0.5); // no material: neutral
    EXPECT_DOUBLE_EQ(m.dynamics, 0.0);
}

TEST(TrackMetricsTest, BrightnessWeighsHighsAndHalfTheMids)
{
    auto m = *TrackMetrics::from(uniform(10, 0, 0, 255));
    EXPECT_DOUBLE_EQ(m.brightness, 1.0);
    // Level 1/3 everywhere: energy 0.2/3 + 0.65/3, no flow.
    EXPECT_NEAR(m.energy, 0.85 / 3, 1e-12);

    m = *TrackMetrics::from(uniform(10, 255, 0, 0));
    EXPECT_DOUBLE_EQ(m.brightness, 0.0);
    m = *TrackMetrics::from(uniform(10, 0, 255, 0));
    EXPECT_DOUBLE_EQ(m.brightness, 0.5);
    m = *TrackMetrics::from(uniform(10, 255, 255, 0));
    EXPECT_DOUBLE_EQ(m.brightness, 0.25);
}

TEST(TrackMetricsTest, StepAndAlternationDriveDynamicsAndFlow)
{
    // Five silent points then five full ones: flux 1, flow 6/9, loudest quarter 1,
    // mean 0.5; p10 = 0, p90 = 1, so dynamics saturates.
    auto m = *TrackMetrics::from(fromLevels({0, 0, 0, 0, 0, 255, 255, 255, 255, 255}));
    EXPECT_NEAR(m.energy, 0.2 * 0.5 + 0.65 + 0.15 * (6.0 / 9.0), 1e-12);
    EXPECT_DOUBLE_EQ(m.dynamics, 1.0);

    // The same levels alternating: the flow saturates, the rest is unchanged.
    m = *TrackMetrics::from(fromLevels({0, 255, 0, 255, 0, 255, 0, 255, 0, 255}));
    EXPECT_NEAR(m.energy, 0.1 + 0.65 + 0.15, 1e-12);

    // Order matters for the flow only: a slow ramp has almost none.
    std::vector<std::uint8_t> ramp;
    for (int i = 0; i < 100; ++i)
        ramp.push_back(std::uint8_t(i));
    m = *TrackMetrics::from(fromLevels(ramp));
    const double flux = 99.0 / 255.0;
    const double top = (75.0 + 99.0) / 2.0 / 255.0;
    const double mean = 49.5 / 255.0;
    EXPECT_NEAR(m.energy, 0.2 * mean + 0.65 * top + 0.15 * (6.0 * flux / 99.0), 1e-12);
    // p10 = sorted[10], p90 = sorted[90]: 1.6 × 80 / 255.
    EXPECT_NEAR(m.dynamics, 1.6 * 80.0 / 255.0, 1e-12);
}

TEST(TrackMetricsTest, NinePointsUseTheThreeLoudestAndTheExtremes)
{
    // Levels 0..8 (as bytes × 30): top quarter from index 6 = {6, 7, 8}; p10 is the
    // smallest, p90 the largest.
    auto m = *TrackMetrics::from(fromLevels({240, 0, 210, 30, 180, 60, 150, 90, 120}));
    const double top = (180.0 + 210.0 + 240.0) / 3.0 / 255.0;
    EXPECT_NEAR(m.dynamics, std::min(1.6 * 240.0 / 255.0, 1.0), 1e-12);
    const double mean = 120.0 / 255.0;
    double flux = 0;
    const int order[] = {240, 0, 210, 30, 180, 60, 150, 90, 120};
    for (int i = 1; i < 9; ++i)
        flux += std::abs(order[i] - order[i - 1]) / 255.0;
    EXPECT_NEAR(m.energy, std::min(1.0, 0.2 * mean + 0.65 * top + 0.15 * std::min(6.0 * flux / 8.0, 1.0)), 1e-12);
}

TEST(TrackMetricsTest, RaggedBandsCountOnlyWholePoints)
{
    auto w = uniform(20, 255, 255, 255);
    w.mid.resize(5);
    EXPECT_FALSE(TrackMetrics::from(w));
    w.mid.assign(12, 0);
    const auto m = TrackMetrics::from(w);
    ASSERT_TRUE(m);
    EXPECT_DOUBLE_EQ(m->brightness, 0.5);
}

TEST(TrackMetricsTest, JsonRoundTripRequiresAllKeys)
{
    const TrackMetrics m{0.25, 0.5, 0.75};
    EXPECT_EQ(TrackMetrics::fromJson(m.toJson()), m);
    for (const char* key : {"energy", "brightness", "dynamics"}) {
        QJsonObject j = m.toJson();
        j.remove(key);
        EXPECT_FALSE(TrackMetrics::fromJson(j)) << key;
    }
    QJsonObject j = m.toJson();
    j.insert("energy", "high");
    EXPECT_FALSE(TrackMetrics::fromJson(j));
}

} // namespace
} // namespace zelvo
