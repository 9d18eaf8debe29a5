#include "library/TrackAnalyzer.h"
#include "library/WaveformData.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace zelvo {
namespace {

std::vector<float> sine(double freq, double rate, double seconds, double amplitude = 1.0)
{
    std::vector<float> s(std::size_t(seconds * rate));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = float(amplitude * std::sin(2.0 * std::numbers::pi * freq * double(i) / rate));
    return s;
}

// Mean byte of a band over its second half (past the filters' settling).
double settledMean(const std::vector<std::uint8_t>& band)
{
    double sum = 0;
    for (std::size_t i = band.size() / 2; i < band.size(); ++i)
        sum += band[i];
    return sum / double(band.size() - band.size() / 2);
}

WaveformData bands(std::vector<std::uint8_t> low, std::vector<std::uint8_t> mid, std::vector<std::uint8_t> high)
{
    WaveformData w;
    w.low = std::move(low);
    w.mid = std::move(mid);
    w.high = std::move(high);
    return w;
}

TEST(WaveformDataTest, PointCountsFollowTheWholeHops)
{
    const std::vector<float> oneSecond(22050, 0.0f);
    auto w = TrackAnalyzer::computeWaveform(oneSecond, 22050, 150);
    EXPECT_EQ(w.pointsPerSecond, 150.0);
    EXPECT_EQ(w.count(), 150);
    EXPECT_EQ(w.mid.size(), 150u);
    EXPECT_EQ(w.high.size(), 150u);

    // A trailing partial hop is not used.
    w = TrackAnalyzer::computeWaveform(std::vector<float>(147 * 150 + 146, 0.0f), 22050, 150);
    EXPECT_EQ(w.count(), 150);
    w = TrackAnalyzer::computeWaveform(std::vector<float>(147 * 150 + 147, 0.0f), 22050, 150);
    EXPECT_EQ(w.count(), 151);

    // 44.1 kHz: hop 294, still exactly 150 points per second.
    w = TrackAnalyzer::computeWaveform(std::vector<float>(44100 * 2, 0.0f), 44100, 150);
    EXPECT_EQ(w.pointsPerSecond, 150.0);
    EXPECT_EQ(w.count(), 300);

    // A rate that does not divide: the true rate of the points is reported.
    w = TrackAnalyzer::computeWaveform(std::vector<float>(44100, 0.0f), 44100, 160);
    EXPECT_DOUBLE_EQ(w.pointsPerSecond, 44100.0 / 275.0);
    EXPECT_EQ(w.count(), 44100 / 275);
}

TEST(WaveformDataTest, FewerSamplesThanOneHopGiveNoPoints)
{
    for (std::size_t n : {0u, 1u, 146u}) {
        const auto w = TrackAnalyzer::computeWaveform(std::vector<float>(n, 0.5f), 22050, 150);
        EXPECT_EQ(w.count(), 0);
        EXPECT_TRUE(w.mid.empty());
        EXPECT_TRUE(w.high.empty());
        EXPECT_EQ(w.pointsPerSecond, 150.0);
    }
}

TEST(WaveformDataTest, OddRequestsStayHarmless)
{
    const std::vector<float> s(1000, 0.25f);
    // More points per second than samples: one point per sample.
    auto w = TrackAnalyzer::computeWaveform(s, 22050, 1e9);
    EXPECT_EQ(w.count(), 1000);
    EXPECT_EQ(w.pointsPerSecond, 22050.0);
    // Zero points per second: the hop is endless, so there are no points.
    w = TrackAnalyzer::computeWaveform(s, 22050, 0);
    EXPECT_EQ(w.count(), 0);
    w = TrackAnalyzer::computeWaveform(s, 22050, std::nan(""));
    EXPECT_EQ(w.count(), 1000);
    // A rate that designs no usable filters yields silence, not garbage.
    w = TrackAnalyzer::computeWaveform(s, 0, 150);
    EXPECT_EQ(w.count(), 1000);
    EXPECT_TRUE(std::all_of(w.low.begin(), w.low.end(), [](auto v) { return v == 0; }));
}

TEST(WaveformDataTest, SilenceIsAllZero)
{
    const auto w = TrackAnalyzer::computeWaveform(std::vector<float>(22050 * 2, 0.0f), 22050, 150);
    for (const auto* band : {&w.low, &w.mid, &w.high})
        EXPECT_TRUE(std::all_of(band->begin(), band->end(), [](auto v) { return v == 0; }));
}

TEST(WaveformDataTest, EachSineLandsInItsOwnBand)
{
    for (double rate : {22050.0, 44100.0, 48000.0}) {
        SCOPED_TRACE(rate);
        // Low: the 60 Hz sine fills the low band; the mid keeps a trace (about 14).
        auto w = TrackAnalyzer::computeWaveform(sine(60, rate, 2), rate, 150);
        EXPECT_GE(*std::min_element(w.low.begin() + 20, w.low.end()), 250);
        EXPECT_NEAR(settledMean(w.mid), 14, 3);
        EXPECT_LT(settledMean(w.high), 3);

        w = TrackAnalyzer::computeWaveform(sine(790, rate, 2), rate, 150);
        EXPECT_GT(settledMean(w.mid), 235);
        EXPECT_LT(settledMean(w.low), 160);
        EXPECT_LT(settledMean(w.high), 160);

        w = TrackAnalyzer::computeWaveform(sine(8000, rate, 2), rate, 150);
        EXPECT_GT(settledMean(w.high), 235);
        EXPECT_LT(settledMean(w.low), 5);
        EXPECT_LT(settledMean(w.mid), 120);
    }
}

TEST(WaveformDataTest, BandsShareOneReferenceAndLevelsAreSquareRoots)
{
    // A full-scale 60 Hz sine with an 8 kHz sine at a quarter of its level: the
    // high band reads sqrt(0.25) × 255 against the low band's 255.
    auto lowSine = sine(60, 22050, 2);
    const auto highSine = sine(8000, 22050, 2, 0.25);
    for (std::size_t i = 0; i < lowSine.size(); ++i)
        lowSine[i] = lowSine[i] * 0.75f + highSine[i];
    const auto w = TrackAnalyzer::computeWaveform(lowSine, 22050, 150);
    EXPECT_NEAR(settledMean(w.low), 255 * std::sqrt(0.75 / 0.75), 4);
    EXPECT_NEAR(settledMean(w.high), 255 * std::sqrt(0.25 / 0.75), 4);

    // Quieter passages are lifted by the square root: a sixteenth of the level
    // reads a quarter of the bytes.
    auto stepped = sine(60, 22050, 2);
    for (std::size_t i = stepped.size() / 2; i < stepped.size(); ++i)
        stepped[i] *= 1.0f / 16.0f;
    const auto s = TrackAnalyzer::computeWaveform(stepped, 22050, 150);
    EXPECT_NEAR(s.low[s.count() - 1], 255 / 4, 2);
    EXPECT_EQ(*std::max_element(s.low.begin(), s.low.end()), 255);
}

TEST(WaveformDataTest, AppendingCutsThisWaveformAndAddsTheOther)
{
    auto a = bands({1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12});
    a.pointsPerSecond = 2;
    auto b = bands({20, 21}, {22, 23}, {24, 25});
    b.pointsPerSecond = 150;

    auto r = a.appending(b, 1.0); // two points kept
    EXPECT_EQ(r.pointsPerSecond, 2.0);
    EXPECT_EQ(r.low, (std::vector<std::uint8_t>{1, 2, 20, 21}));
    EXPECT_EQ(r.mid, (std::vector<std::uint8_t>{5, 6, 22, 23}));
    EXPECT_EQ(r.high, (std::vector<std::uint8_t>{9, 10, 24, 25}));

    r = a.appending(b, 1.4); // trunc(2.8) = 2
    EXPECT_EQ(r.low, (std::vector<std::uint8_t>{1, 2, 20, 21}));

    r = a.appending(b, 0.0);
    EXPECT_EQ(r.low, b.low);
    EXPECT_EQ(r.high, b.high);
    EXPECT_EQ(r.pointsPerSecond, 2.0);

    r = a.appending(b, 100.0);
    EXPECT_EQ(r.low, (std::vector<std::uint8_t>{1, 2, 3, 4, 20, 21}));

    // Outside the contract but must not fail: negative, non-number and endless
    // times, and bands shorter than the cut.
    EXPECT_EQ(a.appending(b, -3.0).low, b.low);
    EXPECT_EQ(a.appending(b, std::nan("")).low, b.low);
    EXPECT_EQ(a.appending(b, INFINITY).low.size(), 6u);
    auto ragged = bands({1, 2, 3, 4}, {5}, {});
    ragged.pointsPerSecond = 2;
    r = ragged.appending(b, 1.5);
    EXPECT_EQ(r.low, (std::vector<std::uint8_t>{1, 2, 3, 20, 21}));
    EXPECT_EQ(r.mid, (std::vector<std::uint8_t>{5, 22, 23}));
    EXPECT_EQ(r.high, (std::vector<std::uint8_t>{24, 25}));
}

TEST(WaveformDataTest, JsonRoundTripAndRejection)
{
    auto w = bands({0, 128, 255}, {1, 2, 3}, {4, 5, 6});
    w.pointsPerSecond = 150;
    const QJsonObject json = w.toJson();
    EXPECT_EQ(json.value("low").toArray().at(2).toInt(), 255);
    EXPECT_EQ(WaveformData::fromJson(json), w);

    for (const char* key : {"pointsPerSecond", "low", "mid", "high"}) {
        QJsonObject missing = json;
        missing.remove(key);
        EXPECT_FALSE(WaveformData::fromJson(missing)) << key;
    }
    QJsonObject outOfRange = json;
    outOfRange.insert("mid", QJsonArray{1, 256});
    EXPECT_FALSE(WaveformData::fromJson(outOfRange));
    outOfRange.insert("mid", QJsonArray{1, -1});
    EXPECT_FALSE(WaveformData::fromJson(outOfRange));
    outOfRange.insert("mid", QJsonArray{1.5});
    EXPECT_FALSE(WaveformData::fromJson(outOfRange));
}

} // namespace
} // namespace zelvo
