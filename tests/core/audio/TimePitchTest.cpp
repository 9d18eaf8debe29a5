// The deck's time-pitch stage as the engine hosts it (Rubber Band underneath).
#include "audio/HostedUnit.h"

#include "support/RealtimeGuard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace zelvo;

namespace {

struct Counting final : HostedUnitSource {
    std::int64_t provided = 0;
    double frequency = 0.0; // 0: a single impulse at the first frame
    double rate = 48000.0;
    void provide(int frames, float* left, float* right) override
    {
        for (int i = 0; i < frames; ++i) {
            const std::int64_t n = provided + i;
            float v;
            if (frequency > 0.0)
                v = 0.5f * float(std::sin(2.0 * M_PI * frequency * double(n) / rate));
            else
                v = n == 0 ? 1.0f : 0.0f;
            left[i] = right[i] = v;
        }
        provided += frames;
    }
};

HostedUnit timePitch(double rate, int maxFrames)
{
    return HostedUnit(units::kFormatConverter, units::kTimePitch, rate, maxFrames);
}

std::vector<float> renderBlocks(HostedUnit& unit, int total, int block)
{
    std::vector<float> left(static_cast<std::size_t>(total)), right(static_cast<std::size_t>(total));
    for (int at = 0; at < total; at += block) {
        const int n = std::min(block, total - at);
        EXPECT_EQ(unit.render(n, left.data() + at, right.data() + at), kUnitNoError);
    }
    return left;
}

// Frequency from the mean period between upward zero crossings.
double measuredFrequency(const std::vector<float>& x, std::size_t from, double rate)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = from + 1; i < x.size(); ++i)
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = double(i - 1) + double(x[i - 1]) / double(x[i - 1] - x[i]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    return crossings > 1 ? rate * double(crossings - 1) / (last - first) : 0.0;
}

} // namespace

TEST(TimePitch, ImpulseComesOutAfterTheReportedLatency)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        HostedUnit unit = timePitch(rate, 4096);
        const double latency = unit.latencySeconds();
        EXPECT_GT(latency, 0.0);
        EXPECT_LT(latency, 0.25);
        for (int round = 0; round < 2; ++round) {
            Counting source;
            unit.setSource(&source);
            const std::vector<float> out = renderBlocks(unit, int(rate * 0.5), 256);
            std::size_t peak = 0;
            for (std::size_t i = 1; i < out.size(); ++i)
                if (std::fabs(out[i]) > std::fabs(out[peak]))
                    peak = i;
            EXPECT_NEAR(double(peak), latency * rate, 3.0) << "rate " << rate << " round " << round;
            // A reset clears the history and primes the stretcher again: same delay.
            unit.reset();
            EXPECT_DOUBLE_EQ(unit.latencySeconds(), latency);
        }
    }
}

TEST(TimePitch, PitchShiftIsExactAndRateSetsTheInputSpeed)
{
    const double rate = 48000.0;
    HostedUnit unit = timePitch(rate, 1024);
    Counting source;
    source.frequency = 440.0;
    unit.setSource(&source);
    unit.set(units::kTimePitchPitch, 700.0f);
    const std::vector<float> shifted = renderBlocks(unit, int(rate * 2), 512);
    EXPECT_NEAR(measuredFrequency(shifted, std::size_t(rate / 2), rate), 440.0 * std::exp2(7.0 / 12.0), 0.5);

    // Rate 1.06 reads 6 % more input than it outputs; pitch unchanged.
    unit.set(units::kTimePitchPitch, 0.0f);
    unit.set(units::kTimePitchRate, 1.06f);
    const std::int64_t before = source.provided;
    const std::vector<float> faster = renderBlocks(unit, int(rate * 4), 256);
    const double ratio = double(source.provided - before) / (rate * 4);
    EXPECT_NEAR(ratio, 1.06, 0.01);
    EXPECT_NEAR(measuredFrequency(faster, std::size_t(rate), rate), 440.0, 0.5);
}

TEST(TimePitch, OutOfRangeParametersAreClampedAndRenderingAlwaysCompletes)
{
    HostedUnit unit = timePitch(48000.0, 512);
    Counting source;
    source.frequency = 1000.0;
    unit.setSource(&source);
    const float rates[] = {0.0f, -3.0f, std::nanf(""), INFINITY, 1e9f, 1e-9f};
    for (float r : rates) {
        unit.set(units::kTimePitchRate, r);
        const float set = unit.get(units::kTimePitchRate);
        EXPECT_TRUE(set >= 1.0f / 32.0f && set <= 32.0f) << r;
        std::vector<float> left(512, 9.0f), right(512, 9.0f);
        unit.render(512, left.data(), right.data());
        for (float v : left)
            ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 4.0f) << "rate " << r;
    }
    unit.set(units::kTimePitchPitch, 1e6f);
    EXPECT_EQ(unit.get(units::kTimePitchPitch), 2400.0f);
    unit.set(units::kTimePitchPitch, -1e6f);
    EXPECT_EQ(unit.get(units::kTimePitchPitch), -2400.0f);
    // At the fastest rate one render pulls 32 times its length: still bounded.
    unit.set(units::kTimePitchRate, 32.0f);
    const std::int64_t before = source.provided;
    std::vector<float> left(512), right(512);
    unit.render(512, left.data(), right.data());
    EXPECT_LE(source.provided - before, 512 * 34 + 16384 + 4 * 512);
}

TEST(TimePitch, RendersResetsAndParameterChangesAreRealtimeSafe)
{
    for (double rate : {44100.0, 48000.0}) {
        HostedUnit unit = timePitch(rate, 4096);
        Counting source;
        source.frequency = 220.0;
        source.rate = rate;
        unit.setSource(&source);
        std::vector<float> left(4096), right(4096);

        test::RealtimeProbe probe;
        {
            test::AudioThreadScope audio;
            for (int i = 0; i < 300; ++i) {
                unit.set(units::kTimePitchRate, 0.8f + 0.002f * float(i));
                // Whole semitones as the decks send them, and odd cents too.
                const float cents = (i % 3 == 0) ? float((i * 37) % 4800 - 2400) : float((i % 49 - 24) * 100);
                unit.set(units::kTimePitchPitch, cents);
                if (i % 50 == 0)
                    unit.reset();
                const int frames = (i % 7 == 0) ? 4096 : 64 + (i * 97) % 1000;
                unit.render(frames, left.data(), right.data());
            }
        }
        EXPECT_TRUE(probe.clean()) << "rate " << rate;
    }
}
