#include "audio/PeakLimiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace zelvo;

namespace {

// Runs `input` through a limiter in blocks of random length (1 … maxBlock).
std::vector<float> limit(PeakLimiter& limiter, std::vector<float> input, int maxBlock, unsigned seed)
{
    std::vector<float> right = input;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> block(1, maxBlock);
    for (std::size_t at = 0; at < input.size();) {
        const int n = std::min<int>(block(rng), int(input.size() - at));
        limiter.process(input.data() + at, right.data() + at, n);
        at += std::size_t(n);
    }
    return input;
}

PeakLimiter made(double sampleRate)
{
    PeakLimiter l;
    l.prepare(sampleRate);
    l.setAttack(0.002);
    l.setDecay(0.06);
    l.setPreGainDb(0.0);
    return l;
}

} // namespace

TEST(PeakLimiter, NoOutputSampleEverExceedsTheCeiling)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (int maxBlock : {1, 64, 4096}) {
            PeakLimiter limiter = made(rate);
            std::mt19937 rng(unsigned(rate) + unsigned(maxBlock));
            std::normal_distribution<float> noise(0.0f, 0.8f);
            std::vector<float> x(static_cast<std::size_t>(rate));
            for (std::size_t i = 0; i < x.size(); ++i) {
                x[i] = noise(rng) * (1.0f + 2.0f * std::sin(float(i) * 0.0003f));
                if (i % 997 == 0)
                    x[i] = (i % 2 ? -1.0f : 1.0f) * 80.0f; // isolated spikes
            }
            x[1000] = std::nanf("");
            x[2000] = INFINITY;
            const std::vector<float> y = limit(limiter, x, maxBlock, 7);
            for (std::size_t i = 0; i < y.size(); ++i)
                ASSERT_LE(std::fabs(y[i]), PeakLimiter::kCeiling) << "rate " << rate << " frame " << i;
        }
    }
    // Pre-gain pushes a moderate signal over the ceiling; still held.
    PeakLimiter hot = made(48000.0);
    hot.setPreGainDb(24.0);
    std::vector<float> x(48000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = 0.9f * std::sin(float(i) * 0.031f);
    for (float v : limit(hot, x, 256, 3))
        ASSERT_LE(std::fabs(v), 1.0f);
}

TEST(PeakLimiter, QuietSignalPassesUnchangedBehindTheLookAhead)
{
    PeakLimiter limiter = made(48000.0);
    const int delay = limiter.latencyFrames();
    EXPECT_EQ(delay, 95) << "2 ms at 48 kHz, less the current frame";
    std::vector<float> x(20000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = 0.99f * std::sin(float(i) * 0.013f);
    const std::vector<float> y = limit(limiter, x, 333, 11);
    for (std::size_t i = 0; i < std::size_t(delay); ++i)
        ASSERT_EQ(y[i], 0.0f);
    for (std::size_t i = std::size_t(delay); i < y.size(); ++i)
        ASSERT_EQ(y[i], x[i - std::size_t(delay)]) << i;
}

TEST(PeakLimiter, GainFallsAheadOfAPeakAndRecoversWithTheDecay)
{
    const double rate = 48000.0;
    PeakLimiter limiter = made(rate);
    const int delay = limiter.latencyFrames();
    std::vector<float> x(static_cast<std::size_t>(rate), 0.5f);
    const std::size_t spike = 10000;
    x[spike] = 2.0f;
    const std::vector<float> y = limit(limiter, x, 128, 5);
    const std::size_t out = spike + std::size_t(delay);
    EXPECT_FLOAT_EQ(y[out], 1.0f) << "the peak lands exactly on the ceiling";
    EXPECT_LT(y[out - std::size_t(delay) / 2], 0.5f) << "the gain is already down before the peak";
    EXPECT_FLOAT_EQ(y[out - std::size_t(delay) - 2], 0.5f) << "nothing before the look-ahead";
    // Recovery: 50 % of the way back at about ln 2 × 60 ms after the peak leaves.
    const std::size_t half = out + std::size_t(delay) + std::size_t(std::lround(std::log(2.0) * 0.06 * rate));
    EXPECT_NEAR(y[half], 0.375f, 0.02f);
    EXPECT_NEAR(y[out + std::size_t(0.6 * rate)], 0.5f, 0.001f);
}
