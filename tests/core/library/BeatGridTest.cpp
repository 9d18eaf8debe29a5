#include "library/BeatGrid.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>
#include <unordered_set>

namespace zelvo {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

TEST(BeatGridTest, BeatAndBarLinesWithTolerance)
{
    const BeatGrid g(120, 0.5, 4);
    EXPECT_DOUBLE_EQ(g.beatLength(), 0.5);
    EXPECT_DOUBLE_EQ(g.barLength(), 2.0);
    EXPECT_DOUBLE_EQ(g.beat(1.5), 2.0);
    EXPECT_DOUBLE_EQ(g.timeOfBeat(2), 1.5);
    EXPECT_DOUBLE_EQ(g.nextBeat(1.0), 1.5);
    EXPECT_DOUBLE_EQ(g.nextBeat(1.5), 2.0);      // on a beat: the following one
    EXPECT_DOUBLE_EQ(g.nextBeat(1.4999999), 2.0); // a hair before counts as on it
    EXPECT_DOUBLE_EQ(g.previousBeat(1.4999999), 1.5);
    EXPECT_DOUBLE_EQ(g.previousBeat(1.49), 1.0);
    EXPECT_DOUBLE_EQ(g.nextBar(0.5), 2.5);
    EXPECT_DOUBLE_EQ(g.nextBar(2.4999999), 4.5);
    EXPECT_DOUBLE_EQ(g.nearestBar(1.4), 0.5);
    EXPECT_DOUBLE_EQ(g.nearestBar(1.6), 2.5);
    EXPECT_NEAR(g.phase(1.6), 0.2, 1e-12);
    // Before the first beat the lines continue backwards.
    EXPECT_DOUBLE_EQ(g.previousBeat(0.2), 0.0);
    EXPECT_DOUBLE_EQ(g.nextBeat(-0.3), 0.0);
    EXPECT_DOUBLE_EQ(g.nextBar(-1.0), 0.5);
    EXPECT_DOUBLE_EQ(g.nearestBar(-1.0), -1.5);
    EXPECT_NEAR(g.phase(0.4), 0.8, 1e-12);
}

TEST(BeatGridTest, NearestBeatRoundsHalvesAwayFromTheFirstBeat)
{
    const BeatGrid g(60, 0);
    EXPECT_EQ(g.beatsPerBar, 4);
    EXPECT_DOUBLE_EQ(g.nearestBeat(2.5), 3.0);
    EXPECT_DOUBLE_EQ(g.nearestBeat(-2.5), -3.0);
    EXPECT_DOUBLE_EQ(g.nearestBeat(2.49), 2.0);
}

TEST(BeatGridTest, BeatInBarCountsBackwardsBeforeTheFirstBeat)
{
    const BeatGrid g(120, 0.5, 4);
    const double L = g.beatLength();
    EXPECT_EQ(g.beatInBar(0.5), 1);
    EXPECT_EQ(g.beatInBar(0.5 - L), 4);
    EXPECT_EQ(g.beatInBar(0.5 - 1e-7 * L), 1);
    const std::int64_t expected[] = {4, 3, 2, 1, 4, 3, 2, 1};
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(g.beatInBar(0.5 - k * L + 0.1), expected[k - 1]) << k;
    EXPECT_EQ(g.beatInBar(0.5 + 5 * L), 2);
    EXPECT_EQ(BeatGrid(120, 0, 3).beatInBar(3.2), 1); // beat 6 of a 3-beat grid
}

TEST(BeatGridTest, BeatInBarGuardsWhatHasNoIntegerAnswer)
{
    // Tempo 0 or NaN, bars without beats or with negative beats, beat indices past
    // the 64-bit range: a neutral 1, never a trap.
    EXPECT_EQ(BeatGrid(0, 0.5).beatInBar(3), 1);
    EXPECT_EQ(BeatGrid(kNaN, 0.5).beatInBar(3), 1);
    EXPECT_EQ(BeatGrid(120, kInf).beatInBar(3), 1);
    EXPECT_EQ(BeatGrid(120, 0).beatInBar(kNaN), 1);
    EXPECT_EQ(BeatGrid(120, 0, 0).beatInBar(3), 1);
    EXPECT_EQ(BeatGrid(120, 0, -4).beatInBar(3), 1);
    EXPECT_EQ(BeatGrid(120, 0, std::numeric_limits<std::int64_t>::min()).beatInBar(3), 1);
    EXPECT_EQ(BeatGrid(60, 0).beatInBar(1e300), 1);
    EXPECT_EQ(BeatGrid(60, 0).beatInBar(-1e300), 1);
    EXPECT_EQ(BeatGrid(60, 0, 3).beatInBar(9223372036854775808.0), 1); // 2^63: one past the range

    // The extremes of the range still count exactly: 2^62 ≡ 1 and -2^63 ≡ 1 (mod 3).
    EXPECT_EQ(BeatGrid(60, 0, 3).beatInBar(4611686018427387904.0), 2);
    EXPECT_EQ(BeatGrid(60, 0, 3).beatInBar(-9223372036854775808.0), 2);
    // A huge bar size must not overflow while lifting the remainder.
    EXPECT_EQ(BeatGrid(60, 0, kLargest).beatInBar(5), 6);
    EXPECT_EQ(BeatGrid(60, 0, kLargest).beatInBar(-1), kLargest);
}

TEST(BeatGridTest, NextPhraseCountsBarsFromTheFirstBeat)
{
    const BeatGrid g(120, 0.5, 4); // 8 bars = 32 beats = 16 s
    EXPECT_DOUBLE_EQ(g.nextPhrase(3.0, 8, 0), 16.5);
    // Landing exactly on a boundary, or a hair before, gives the one after it.
    EXPECT_DOUBLE_EQ(g.nextPhrase(14.5, 8, 2), 32.5);
    EXPECT_DOUBLE_EQ(g.nextPhrase(14.5 - 1e-6, 8, 2), 32.5);
    EXPECT_DOUBLE_EQ(g.nextPhrase(14.4, 8, 2), 16.5);
    EXPECT_DOUBLE_EQ(g.nextPhrase(14.0, 8, 2), 16.5);
    // Fewer than one bar counts as one bar.
    for (std::int64_t bars : {std::int64_t(0), std::int64_t(-3), std::numeric_limits<std::int64_t>::min()}) {
        EXPECT_DOUBLE_EQ(g.nextPhrase(1.0, bars, 0), g.nextBar(1.0)) << bars;
        EXPECT_DOUBLE_EQ(g.nextPhrase(2.5, bars, 0), 4.5) << bars;
    }
    EXPECT_DOUBLE_EQ(g.nextPhrase(-20.0, 2, 0), -19.5);
    EXPECT_DOUBLE_EQ(g.nextPhrase(-19.5, 2, 0), -15.5);
    // A phrase longer than 2^63 beats has no boundary to name.
    EXPECT_TRUE(std::isnan(g.nextPhrase(1.0, kLargest, 0)));
    EXPECT_TRUE(std::isnan(BeatGrid(120, 0, kLargest).nextPhrase(1.0, 2, 0)));
    EXPECT_TRUE(std::isnan(BeatGrid(120, 0, 0).nextPhrase(1.0, 2, 0)));
}

TEST(BeatGridTest, ZeroOrNaNTempoYieldsNonFiniteTimes)
{
    for (double bpm : {0.0, kNaN}) {
        const BeatGrid g(bpm, 0.5);
        EXPECT_FALSE(g.isValid());
        for (double t : {0.0, 0.5, 3.0, -2.0}) {
            EXPECT_FALSE(std::isfinite(g.timeOfBeat(1))) << bpm;
            EXPECT_FALSE(std::isfinite(g.nearestBeat(t))) << bpm << " " << t;
            EXPECT_FALSE(std::isfinite(g.previousBeat(t))) << bpm << " " << t;
            EXPECT_FALSE(std::isfinite(g.nextBeat(t))) << bpm << " " << t;
            EXPECT_FALSE(std::isfinite(g.nearestBar(t))) << bpm << " " << t;
            EXPECT_FALSE(std::isfinite(g.nextBar(t))) << bpm << " " << t;
            EXPECT_FALSE(std::isfinite(g.nextPhrase(t, 4, 1))) << bpm << " " << t;
        }
        EXPECT_FALSE(std::isfinite(g.shifted(1).firstBeat));
    }
}

TEST(BeatGridTest, PhaseErrorWrapsIntoHalfABeat)
{
    const BeatGrid g(60, 0);
    EXPECT_EQ(BeatGrid::phaseError(g, 3.3, g, 3.3), 0.0);
    EXPECT_NEAR(BeatGrid::phaseError(g, 0.9, g, 0.1), -0.2, 1e-12);
    EXPECT_NEAR(BeatGrid::phaseError(g, 0.1, g, 0.9), 0.2, 1e-12);
    EXPECT_EQ(BeatGrid::phaseError(g, 0.75, g, 0.25), 0.5);
    EXPECT_EQ(BeatGrid::phaseError(g, 0.25, g, 0.75), -0.5);
    // Different tempos and first beats; bars do not count.
    const BeatGrid master(120, 0.1, 4); // beats at 0.1 + k/2
    const BeatGrid slave(90, 0.0, 3);   // beats at 2k/3
    EXPECT_NEAR(BeatGrid::phaseError(slave, 2.5, master, 0.35), 0.25, 1e-9);  // 3.75 against 0.5
    EXPECT_NEAR(BeatGrid::phaseError(slave, 2.5, master, 0.55), -0.15, 1e-9); // 3.75 against 0.9
}

TEST(BeatGridTest, ShiftedWrapsTheFirstBeatIntoOneBar)
{
    const BeatGrid g(120, 1.0, 4);
    EXPECT_EQ(g.shifted(3.5), BeatGrid(120, 1.5, 4));
    EXPECT_EQ(g.shifted(-0.5), BeatGrid(120, 1.5, 4));
    EXPECT_EQ(g.shifted(1.0), BeatGrid(120, 0.0, 4));
    // Bar lines stay where they were on the old timeline.
    const BeatGrid h(128, 0.37, 3);
    const double d = 61.23;
    const BeatGrid s = h.shifted(d);
    EXPECT_GE(s.firstBeat, 0.0);
    EXPECT_LT(s.firstBeat, s.barLength());
    for (double t : {0.0, 1.7, 40.2})
        EXPECT_NEAR(s.nextBar(t), h.nextBar(t + d) - d, 1e-9) << t;
}

TEST(BeatGridTest, ValidTempoIsStrictlyBetween20And400)
{
    EXPECT_FALSE(BeatGrid(20, 0).isValid());
    EXPECT_TRUE(BeatGrid(20.000001, 0).isValid());
    EXPECT_TRUE(BeatGrid(399.999, 0).isValid());
    EXPECT_FALSE(BeatGrid(400, 0).isValid());
    for (double bpm : {0.0, -120.0, kInf, -kInf, kNaN})
        EXPECT_FALSE(BeatGrid(bpm, 0).isValid()) << bpm;
    // The first beat and bar size do not matter.
    EXPECT_TRUE(BeatGrid(120, kNaN, 0).isValid());
}

TEST(BeatGridTest, EqualGridsHashAlike)
{
    const std::hash<BeatGrid> hash;
    EXPECT_EQ(BeatGrid(120, 0.5), BeatGrid(120, 0.5, 4));
    EXPECT_NE(BeatGrid(120, 0.5, 4), BeatGrid(120, 0.5, 3));
    EXPECT_NE(BeatGrid(120, 0.5), BeatGrid(120, 0.25));
    EXPECT_NE(BeatGrid(121, 0.5), BeatGrid(120, 0.5));
    EXPECT_EQ(BeatGrid(120, -0.0), BeatGrid(120, 0.0));
    EXPECT_EQ(hash(BeatGrid(120, -0.0)), hash(BeatGrid(120, 0.0)));
    EXPECT_NE(BeatGrid(kNaN, 0), BeatGrid(kNaN, 0));

    std::unordered_set<BeatGrid> set{BeatGrid(120, 0.5), BeatGrid(120, 0.5, 4), BeatGrid(120, 0.5, 3)};
    EXPECT_EQ(set.size(), 2u);
}

TEST(BeatGridTest, JsonRoundTripAndRequiredKeys)
{
    const BeatGrid g(123.456, -0.0375, 7);
    const QJsonObject o = g.toJson();
    EXPECT_EQ(o.size(), 3);
    EXPECT_EQ(BeatGrid::fromJson(o), g);
    // Through text, as the library file stores it.
    const QByteArray text = QJsonDocument(o).toJson();
    EXPECT_EQ(BeatGrid::fromJson(QJsonDocument::fromJson(text).object()), g);
    // A bar size beyond 2^53 survives intact.
    const BeatGrid wide(120, 0, (std::int64_t(1) << 60) + 1);
    EXPECT_EQ(BeatGrid::fromJson(QJsonDocument::fromJson(QJsonDocument(wide.toJson()).toJson()).object()), wide);

    for (const char* key : {"bpm", "firstBeat", "beatsPerBar"}) {
        QJsonObject missing = o;
        missing.remove(QLatin1String(key));
        EXPECT_FALSE(BeatGrid::fromJson(missing).has_value()) << key;
        QJsonObject wrong = o;
        wrong.insert(QLatin1String(key), QStringLiteral("4"));
        EXPECT_FALSE(BeatGrid::fromJson(wrong).has_value()) << key;
        wrong.insert(QLatin1String(key), QJsonValue());
        EXPECT_FALSE(BeatGrid::fromJson(wrong).has_value()) << key;
    }
}

TEST(BeatGridTest, JsonBarSizeMustBeAWholeNumberThatFits)
{
    const auto parse = [](const char* text) {
        return BeatGrid::fromJson(QJsonDocument::fromJson(QByteArray(text)).object());
    };
    EXPECT_EQ(parse(R"({"bpm": 120, "firstBeat": 0, "beatsPerBar": 3})"), BeatGrid(120, 0, 3));
    EXPECT_EQ(parse(R"({"bpm": 120, "firstBeat": 0, "beatsPerBar": 3.0})"), BeatGrid(120, 0, 3));
    EXPECT_EQ(parse(R"({"bpm": 120, "firstBeat": 0, "beatsPerBar": -2})"), BeatGrid(120, 0, -2));
    EXPECT_FALSE(parse(R"({"bpm": 120, "firstBeat": 0, "beatsPerBar": 3.5})").has_value());
    EXPECT_FALSE(parse(R"({"bpm": 120, "firstBeat": 0, "beatsPerBar": 1e30})").has_value());
    EXPECT_FALSE(parse(R"({"bpm": 120, "firstBeat": 0, "beatsPerBar": true})").has_value());
}

TEST(BeatGridTest, BarOfFallsBackToTwoSecondsForEveryUnusableGrid)
{
    struct Case {
        std::optional<BeatGrid> grid;
        bool usable;
        double bar;
    };
    const Case cases[] = {
        {BeatGrid(120, 0, 4), true, 2.0},
        {BeatGrid(90, 3, 3), true, 2.0},
        {BeatGrid(174, 0, 1), true, 60.0 / 174.0},
        {BeatGrid(500, 0, 4), true, 0.48}, // outside isValid's range, still a bar
        {std::nullopt, false, 2.0},
        {BeatGrid(0, 0, 4), false, 2.0},
        {BeatGrid(-120, 0, 4), false, 2.0},
        {BeatGrid(kInf, 0, 4), false, 2.0},
        {BeatGrid(kNaN, 0, 4), false, 2.0},
        {BeatGrid(120, 0, 0), false, 2.0},
        {BeatGrid(120, 0, -4), false, 2.0},
        {BeatGrid(5e-324, 0, 4), false, 2.0}, // the bar itself overflows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.grid ? c.grid->bpm : -1.0);
        EXPECT_EQ(BeatGrid::usable(c.grid), c.usable);
        EXPECT_DOUBLE_EQ(BeatGrid::barOf(c.grid), c.bar);
    }
}

} // namespace
} // namespace zelvo
