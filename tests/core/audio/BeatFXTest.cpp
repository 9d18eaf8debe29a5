#include "audio/BeatFX.h"

#include "audio/FlushDenormals.h"
#include "audio/GainLaws.h"

#include "MixSignalSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace zelvo {
namespace {

using test::sampleRates;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Feeds `input(i)` for `count` samples and returns the left outputs.
template <typename Input>
std::vector<double> run(BeatFX& fx, int count, BeatFXKind kind, bool on, double beats, double bpm, double level,
                        Input&& input)
{
    std::vector<double> out;
    out.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        double l = input(i), r = l;
        fx.tick(l, r, kind, on, beats, bpm, level);
        out.push_back(l);
    }
    return out;
}

std::vector<int> peaksAbove(const std::vector<double>& v, double threshold)
{
    std::vector<int> at;
    for (std::size_t i = 0; i < v.size(); ++i)
        if (std::abs(v[i]) > threshold && (at.empty() || int(i) > at.back() + 2))
            at.push_back(int(i));
    return at;
}

TEST(BeatFXTest, EchoRepeatsEveryEffectLengthAndKeepsDecayingWhenOff)
{
    for (double rate : sampleRates) {
        for (double beats : {0.5, 1.0}) {
            BeatFX fx(rate);
            const int spacing = int(std::lround(0.5 * beats * rate)); // 120 BPM
            const int count = 3 * spacing + 10;
            // An impulse with the effect on and level 1, then off after the first repeat.
            std::vector<double> out;
            for (int i = 0; i < count; ++i) {
                double l = i == 0 ? 1.0 : 0.0, r = l;
                fx.tick(l, r, BeatFXKind::echo, i < spacing + 5, beats, 120.0, 1.0);
                out.push_back(l);
            }
            const auto at = peaksAbove(out, 0.01);
            ASSERT_EQ(at.size(), 4u) << rate;
            for (int k = 1; k < 4; ++k)
                EXPECT_NEAR(at[std::size_t(k)], k * spacing, 1) << rate << " repeat " << k;
            // Each repeat is 0.62 of the one before (interpolation spreads a repeat
            // over two samples, so compare their sums).
            auto energy = [&](int i) { return std::abs(out[std::size_t(i)]) + std::abs(out[std::size_t(i) + 1]); };
            EXPECT_NEAR(energy(at[1]), 1.0, 1e-9);
            EXPECT_NEAR(energy(at[2]), 0.62, 1e-9);
            EXPECT_NEAR(energy(at[3]), 0.62 * 0.62, 1e-9);
        }
    }
    // Without a tempo the beat is 1.5 s.
    BeatFX slow(1000.0);
    const auto out = run(slow, 2000, BeatFXKind::echo, true, 1.0, 0.0, 1.0, [](int i) { return i == 0 ? 1.0 : 0.0; });
    EXPECT_EQ(peaksAbove(out, 0.5), (std::vector<int>{0, 1500}));
}

TEST(BeatFXTest, NonFiniteTempoAndBadLengthsStayFinite)
{
    // NaN or infinite tempos and NaN, infinite, zero or negative lengths fall
    // back to the slowest beat and the shortest length instead of NaN times and
    // undefined indices.
    for (BeatFXKind kind : allBeatFXKinds) {
        for (double bpm : {nan, inf, -inf, 1e300}) {
            for (double beats : {nan, inf, -1.0, 0.0, 1e300}) {
                BeatFX fx(48000.0);
                const auto out = run(fx, 5000, kind, true, beats, bpm, 1.0,
                                     [](int i) { return test::sine(440.0, 48000.0, std::size_t(i), 0.5); });
                for (double y : out)
                    ASSERT_TRUE(std::isfinite(y)) << int(kind) << " " << bpm << " " << beats;
                EXPECT_TRUE(fx.phase >= 0.0 && fx.phase < 1.0);
                EXPECT_LE(fx.rollLength, fx.rollL.size());
            }
        }
    }
    EXPECT_EQ(beatSecondsFor(nan), 1.5);
    EXPECT_EQ(beatSecondsFor(inf), 1.5);
    EXPECT_EQ(beatSecondsFor(30.0), 1.5);
    // A NaN length echoes after the shortest length: 1/8 of the 1.5 s beat.
    BeatFX fx(1000.0);
    const auto out = run(fx, 500, BeatFXKind::echo, true, nan, nan, 1.0, [](int i) { return i == 0 ? 1.0 : 0.0; });
    const auto at = peaksAbove(out, 0.1);
    ASSERT_GE(at.size(), 2u);
    EXPECT_EQ(at[1], 187);
}

TEST(BeatFXTest, RollCapturesOneLengthThenLoopsItAndStopsAtOnce)
{
    for (double rate : sampleRates) {
        BeatFX fx(rate);
        const int length = int(0.25 * rate); // half a beat at 120 BPM
        auto ramp = [](int i) { return double(i) * 1e-6; };
        // Capture: the samples pass dry.
        const auto capture = run(fx, length, BeatFXKind::roll, true, 0.5, 120.0, 1.0, ramp);
        for (int i = 0; i < length; ++i)
            ASSERT_EQ(capture[std::size_t(i)], ramp(i));
        EXPECT_TRUE(fx.rollCaptured);
        EXPECT_EQ(fx.rollLength, std::size_t(length));
        // Playing: after the wet level settles, the output loops the capture.
        const auto play = run(fx, 3 * length, BeatFXKind::roll, true, 0.5, 120.0, 1.0,
                              [&](int i) { return ramp(length + i); });
        for (int i = 2 * length; i < 3 * length; ++i)
            // The single-precision wet level settles within about 1e-4 of full.
            ASSERT_NEAR(play[std::size_t(i)], ramp(i % length), 1e-4 * ramp(length + i)) << rate;
        // Off: the very next sample is dry, and a new start captures afresh.
        double l = 0.25, r = 0.25;
        fx.tick(l, r, BeatFXKind::roll, false, 0.5, 120.0, 1.0);
        EXPECT_EQ(l, 0.25);
        EXPECT_FALSE(fx.rollCaptured);
        EXPECT_EQ(fx.rollWrite, 0u);
    }
    // A length under 64 samples captures 64.
    BeatFX tiny(1000.0);
    run(tiny, 64, BeatFXKind::roll, true, 0.125, 200.0, 1.0, [](int) { return 0.1; });
    EXPECT_TRUE(tiny.rollCaptured);
    EXPECT_EQ(tiny.rollLength, 64u);
}

TEST(BeatFXTest, RollCaptureEndsWhenTheLengthShrinksBelowWhatWasCaptured)
{
    BeatFX fx(48000.0);
    // Start capturing a long roll (16 beats at 41 BPM fill the 8 s buffer) ...
    run(fx, 48000, BeatFXKind::roll, true, 16.0, 41.0, 1.0, [](int) { return 0.3; });
    EXPECT_FALSE(fx.rollCaptured);
    EXPECT_EQ(fx.rollWrite, 48000u);
    // ... then the tempo jumps so that the length is far below the write position:
    // the capture ends at once instead of writing on past the buffer.
    run(fx, 10 * 48000, BeatFXKind::roll, true, 0.125, 200.0, 1.0, [](int) { return 0.3; });
    EXPECT_TRUE(fx.rollCaptured);
    EXPECT_LE(fx.rollLength, fx.rollL.size());
    EXPECT_EQ(fx.rollLength, std::size_t(0.3 * 0.125 * 48000));

    // A rate too low for any roll buffer passes the signal and never indexes it.
    BeatFX none(0.05);
    ASSERT_TRUE(none.rollL.empty());
    const auto out = run(none, 200, BeatFXKind::roll, true, 1.0, 120.0, 1.0, [](int) { return 0.7; });
    for (double y : out)
        EXPECT_EQ(y, 0.7);
}

TEST(BeatFXTest, FlangerSweepsOncePerFourLengthsAndFadesOutWhenOff)
{
    for (double rate : sampleRates) {
        BeatFX fx(rate);
        // 120 BPM, one beat: a period of 2 s.
        const int period = int(2.0 * rate);
        double minPhase = 1.0;
        for (int i = 0; i < period; ++i) {
            double l = 0.0, r = 0.0;
            fx.tick(l, r, BeatFXKind::flanger, true, 1.0, 120.0, 1.0);
            if (i > period / 2 && i < period - 2)
                minPhase = std::min(minPhase, fx.phase);
        }
        // One full cycle: the phase wrapped once, back near 0.
        EXPECT_LT(std::min(fx.phase, 1.0 - fx.phase), 2.0 / rate) << rate;
        EXPECT_GT(minPhase, 0.4) << rate;

        // Switched off, the wet level falls with its 30 ms time constant.
        const float before = fx.wet.value;
        for (int i = 0; i < int(0.03 * rate); ++i) {
            double l = 0.0, r = 0.0;
            fx.tick(l, r, BeatFXKind::flanger, false, 1.0, 120.0, 1.0);
        }
        EXPECT_NEAR(fx.wet.value / before, std::exp(-1.0), 0.01) << rate;
    }
}

TEST(BeatFXTest, AnEffectSwitchedOffRestsOnlyWhenATickWouldChangeNothing)
{
    // The engine leaves a resting effect's ticks out, so resting must mean a
    // tick is an identity: an echo only once every slot of its lines is exact
    // zero (its tail flushed away, as on the audio thread), a roll only with
    // nothing captured and its wet level back at zero, a flanger never.
    const FlushDenormals flush;
    constexpr double rate = 8000.0;
    BeatFX fx(rate);
    EXPECT_TRUE(fx.atRest(BeatFXKind::echo, false));
    EXPECT_FALSE(fx.atRest(BeatFXKind::echo, true));
    EXPECT_FALSE(fx.atRest(BeatFXKind::flanger, false));
    EXPECT_TRUE(fx.atRest(BeatFXKind::roll, false));

    run(fx, 1, BeatFXKind::echo, true, 0.5, 120.0, 1.0, [](int) { return 0.9; });
    int ticks = 0;
    while (!fx.atRest(BeatFXKind::echo, false) && ticks < 8'000'000) {
        double l = 0.0, r = 0.0;
        fx.tick(l, r, BeatFXKind::echo, false, 0.5, 120.0, 1.0);
        ++ticks;
    }
    ASSERT_TRUE(fx.atRest(BeatFXKind::echo, false));
    // Still ringing for more than a thousand repeats of 0.25 s, then a full pass.
    EXPECT_GT(ticks, 1000 * 2000);
    // At rest, whatever passes comes out as it went in and the lines stay silent.
    for (int i = 0; i < 3000; ++i) {
        double l = std::sin(0.01 * i), r = -l;
        const double inL = l, inR = r;
        fx.tick(l, r, BeatFXKind::echo, false, 0.5, 120.0, 1.0);
        ASSERT_EQ(l, inL);
        ASSERT_EQ(r, inR);
    }
    EXPECT_TRUE(fx.atRest(BeatFXKind::echo, false));

    // A roll that played rests once it is off and its wet level has faded out
    // (to exactly zero).
    run(fx, 3000, BeatFXKind::roll, true, 0.125, 120.0, 1.0, [](int i) { return std::sin(0.02 * i); });
    EXPECT_FALSE(fx.atRest(BeatFXKind::roll, false));
    int fade = 0;
    while (!fx.atRest(BeatFXKind::roll, false) && fade < 100'000) {
        double l = 0.3, r = 0.3;
        fx.tick(l, r, BeatFXKind::roll, false, 0.125, 120.0, 1.0);
        ++fade;
    }
    EXPECT_TRUE(fx.atRest(BeatFXKind::roll, false));
    EXPECT_GT(fade, 0);
}

} // namespace
} // namespace zelvo
