#include "library/TrackAnalyzer.h"
#include "support/GeneratedMusic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zelvo {
namespace {

using test::drumLoop;

constexpr double kRate = 22050.0;

// Signed distance in seconds from the detected first beat to the accented hit,
// modulo one bar, in (−bar/2, bar/2]: positive when the grid is early.
double leadOverDownbeat(const BeatGrid& g, double downbeat)
{
    const double bar = 4 * 60.0 / g.bpm;
    double d = std::fmod(downbeat - g.firstBeat, bar);
    if (d > bar / 2)
        d -= bar;
    if (d <= -bar / 2)
        d += bar;
    return d;
}

TEST(TempoDetectionTest, IntegerTemposAcrossTheRangeWithTheirDownbeats)
{
    int checked = 0;
    for (int bpm = 78; bpm <= 155; ++bpm) {
        // First-beat offsets spread over the bar.
        const double bar = 4 * 60.0 / bpm;
        const double downbeat = std::fmod(0.137 * bpm, bar);
        const auto samples = drumLoop(bpm, downbeat, 30, kRate);
        const BeatGrid g = TrackAnalyzer::detectGrid(samples, kRate, 78, 156);
        SCOPED_TRACE(testing::Message() << bpm << " bpm, downbeat " << downbeat);
        EXPECT_EQ(g.bpm, double(bpm));
        EXPECT_EQ(g.beatsPerBar, 4);
        const double lead = leadOverDownbeat(g, downbeat);
        EXPECT_GE(lead, 0.0);
        EXPECT_LE(lead, 0.020);
        EXPECT_GE(g.firstBeat, 0.0);
        EXPECT_LT(g.firstBeat, bar);
        ++checked;
    }
    EXPECT_EQ(checked, 78);
}

TEST(TempoDetectionTest, TemposOutsideTheRangeFoldIntoIt)
{
    // Twice an in-range tempo halves; exactly the upper bound folds to the lower.
    for (auto [played, expected] : {std::pair{160, 80}, {176, 88}, {156, 78}, {148, 148}}) {
        const auto g = TrackAnalyzer::detectGrid(drumLoop(played, 0.3, 30, kRate), kRate, 78, 156);
        EXPECT_EQ(g.bpm, expected) << played;
    }
    // Another range: the same track doubles into it.
    EXPECT_EQ(TrackAnalyzer::detectGrid(drumLoop(96, 0.3, 30, kRate), kRate, 100, 200).bpm, 192.0);
}

TEST(TempoDetectionTest, RangesWithoutAFiniteUpperBoundLeaveTheTempoUnfolded)
{
    const auto samples = drumLoop(160, 0.3, 30, kRate);
    for (double hi : {0.0, -10.0, double(INFINITY), std::nan("")}) {
        const auto g = TrackAnalyzer::detectGrid(samples, kRate, 78, hi);
        EXPECT_EQ(g.bpm, 160.0) << hi;
    }
    // A lower bound that would double past every number keeps the measured tempo.
    EXPECT_EQ(TrackAnalyzer::detectGrid(samples, kRate, INFINITY, 156).bpm, 160.0);
}

TEST(TempoDetectionTest, NearIntegerTemposSnapOthersStay)
{
    EXPECT_EQ(TrackAnalyzer::detectGrid(drumLoop(127.96, 0.2, 60, kRate), kRate, 78, 156).bpm, 128.0);
    for (double played : {127.85, 128.5}) {
        const double bpm = TrackAnalyzer::detectGrid(drumLoop(played, 0.2, 60, kRate), kRate, 78, 156).bpm;
        EXPECT_NEAR(bpm, played, 0.03);
        EXPECT_NE(bpm, std::round(bpm));
    }
}

TEST(TempoDetectionTest, TooShortInputGivesTheDefaultGrid)
{
    const BeatGrid fallback{120.0, 0.0, 4};
    EXPECT_EQ(TrackAnalyzer::detectGrid({}, kRate, 78, 156), fallback);
    EXPECT_EQ(TrackAnalyzer::detectGrid(drumLoop(128, 0, 4096.0 / kRate, kRate), kRate, 78, 156), fallback);
    // 3.9 s of drums: under four seconds of onset frames.
    EXPECT_EQ(TrackAnalyzer::detectGrid(drumLoop(128, 0, 3.9, kRate), kRate, 78, 156), fallback);
    // Unusable rates.
    const auto drums = drumLoop(128, 0, 10, kRate);
    for (double rate : {0.0, -22050.0, double(INFINITY), std::nan("")})
        EXPECT_EQ(TrackAnalyzer::detectGrid(drums, rate, 78, 156), fallback) << rate;
}

TEST(TempoDetectionTest, SilenceTakesTheFirstLagAndNoPhase)
{
    // All-zero autocorrelation: the first lag of the search (26 frames) wins with a
    // zero score: 5167.97 / 26 = 198.77 bpm, halved into the range; nothing is
    // coherent, nothing snaps, and the first beat is the first frame's centre.
    const auto g = TrackAnalyzer::detectGrid(std::vector<float>(std::size_t(kRate * 6), 0.0f), kRate, 78, 156);
    EXPECT_NEAR(g.bpm, kRate / 256 * 60 / 26 / 2, 1e-9);
    EXPECT_NEAR(g.firstBeat, 512.0 / kRate, 1e-12);
    EXPECT_EQ(g.beatsPerBar, 4);
}

TEST(TempoDetectionTest, WithoutLowEndThePhaseComesFromTheFullBand)
{
    // Hats only (nothing below 160 Hz): beats still land on the hits.
    const auto hatsOnly = test::hatLoop(124, 0.41, 30, kRate);
    const BeatGrid g = TrackAnalyzer::detectGrid(hatsOnly, kRate, 78, 156);
    EXPECT_EQ(g.bpm, 124.0);
    const double beat = 60.0 / 124;
    double d = std::fmod(0.41 - g.firstBeat, beat);
    if (d > beat / 2)
        d -= beat;
    if (d < -beat / 2)
        d += beat;
    EXPECT_GE(d, 0.0);
    EXPECT_LE(d, 0.020);
}

TEST(TempoDetectionTest, OnsetEnvelopeShapeAndTiming)
{
    const auto e = TrackAnalyzer::onsetEnvelope(std::vector<float>(4097, 0.0f), kRate, 1024, 256);
    EXPECT_EQ(e.env.size(), (4097u - 1024u) / 256u);
    EXPECT_EQ(e.kick.size(), e.env.size());
    EXPECT_DOUBLE_EQ(e.fps, kRate / 256);
    EXPECT_DOUBLE_EQ(e.offset, 512 / kRate);

    const auto tooShort = TrackAnalyzer::onsetEnvelope(std::vector<float>(4096, 0.5f), kRate, 1024, 256);
    EXPECT_TRUE(tooShort.env.empty());
    EXPECT_EQ(tooShort.fps, 0.0);
    EXPECT_EQ(tooShort.offset, 0.0);
    // Frame lengths that are no power of two and empty hops cannot be transformed.
    EXPECT_TRUE(TrackAnalyzer::onsetEnvelope(std::vector<float>(10000, 0.5f), kRate, 1000, 256).env.empty());
    EXPECT_TRUE(TrackAnalyzer::onsetEnvelope(std::vector<float>(10000, 0.5f), kRate, 1024, 0).env.empty());

    // One click: the envelope rises in the frames that first hold it, about 10 ms
    // before the frame stamped with the click's time, and the detrended values are
    // never negative.
    std::vector<float> click(kRate * 2, 0.0f);
    const std::size_t at = std::size_t(kRate);
    click[at] = 1.0f;
    const auto c = TrackAnalyzer::onsetEnvelope(click, kRate, 1024, 256);
    std::size_t peak = 0;
    for (std::size_t i = 0; i < c.env.size(); ++i) {
        EXPECT_GE(c.env[i], 0.0f);
        if (c.env[i] > c.env[peak])
            peak = i;
    }
    const double peakTime = c.offset + double(peak) / c.fps;
    EXPECT_LT(peakTime, 1.0);
    EXPECT_GT(peakTime, 1.0 - 0.03);
}

} // namespace
} // namespace zelvo
