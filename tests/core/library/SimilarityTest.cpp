#include "library/Similarity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo {
namespace {

MusicalKey camelot(int number, bool minor)
{
    // Find the key with this Camelot number and mode.
    for (int pc = 0; pc < 12; ++pc)
        if (MusicalKey(pc, minor).camelotNumber() == number)
            return MusicalKey(pc, minor);
    ADD_FAILURE() << "no key " << number;
    return MusicalKey(0, minor);
}

TEST(SimilarityTest, TempoFoldsHalfAndDoubleTimeAndIsMeasuredAgainstTheSecond)
{
    EXPECT_DOUBLE_EQ(Similarity::tempo(128, 128), 1.0);
    EXPECT_DOUBLE_EQ(Similarity::tempo(128, 64), 1.0);
    EXPECT_DOUBLE_EQ(Similarity::tempo(64, 128), 1.0);
    EXPECT_DOUBLE_EQ(Similarity::tempo(256, 64), 1.0);
    // Asymmetric: r = 1.05 against r = 0.952.
    EXPECT_NEAR(Similarity::tempo(126, 120), 0.375, 1e-12);
    EXPECT_NEAR(Similarity::tempo(120, 126), 1.0 - (1.0 - 120.0 / 126.0) / 0.08, 1e-12);
    EXPECT_NEAR(Similarity::tempo(120, 126), 0.405, 1e-3);
    EXPECT_DOUBLE_EQ(Similarity::tempo(108, 100), 0.0); // exactly 8 % apart
    EXPECT_DOUBLE_EQ(Similarity::tempo(130, 100), 0.0);
    // 142 against 100 stays at r = 1.42 (not halved): far from 1.
    EXPECT_DOUBLE_EQ(Similarity::tempo(142, 100), 0.0);
}

TEST(SimilarityTest, TempoWithoutUsableValuesIsZero)
{
    EXPECT_EQ(Similarity::tempo(100, 0), 0.0);
    EXPECT_EQ(Similarity::tempo(0, 100), 0.0);
    EXPECT_EQ(Similarity::tempo(-120, -120), 0.0);
    EXPECT_EQ(Similarity::tempo(std::nullopt, 120), 0.0);
    EXPECT_EQ(Similarity::tempo(120, std::nullopt), 0.0);
    EXPECT_EQ(Similarity::tempo(std::nan(""), 120), 0.0);
    // Ratios no halving or doubling can bring into range end at once instead of
    // folding forever.
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Similarity::tempo(inf, 120), 0.0);
    EXPECT_EQ(Similarity::tempo(120, inf), 0.0);
    EXPECT_EQ(Similarity::tempo(1e300, 1e-300), 0.0);
    EXPECT_EQ(Similarity::tempo(1e-300, 1e300), 0.0);
}

TEST(SimilarityTest, KeyScoresFollowTheWheel)
{
    const auto k8A = camelot(8, true);
    EXPECT_EQ(Similarity::key(k8A, k8A), 1.0);
    EXPECT_EQ(Similarity::key(k8A, camelot(8, false)), 0.85);
    EXPECT_EQ(Similarity::key(k8A, camelot(9, true)), 0.8);
    EXPECT_EQ(Similarity::key(k8A, camelot(7, true)), 0.8);
    EXPECT_EQ(Similarity::key(k8A, camelot(10, true)), 0.45);
    EXPECT_EQ(Similarity::key(k8A, camelot(9, false)), 0.4);
    EXPECT_EQ(Similarity::key(k8A, camelot(7, false)), 0.4);
    EXPECT_EQ(Similarity::key(k8A, camelot(10, false)), 0.0);
    EXPECT_EQ(Similarity::key(k8A, camelot(11, true)), 0.0);
    EXPECT_EQ(Similarity::key(camelot(12, true), camelot(1, true)), 0.8);
    EXPECT_EQ(Similarity::key(camelot(11, false), camelot(1, false)), 0.45);
    EXPECT_EQ(Similarity::key(std::nullopt, k8A), 0.0);
    EXPECT_EQ(Similarity::key(k8A, std::nullopt), 0.0);
    // Symmetric over every pair.
    for (int a = 0; a < 24; ++a)
        for (int b = 0; b < 24; ++b) {
            const MusicalKey x(a % 12, a >= 12), y(b % 12, b >= 12);
            EXPECT_EQ(Similarity::key(x, y), Similarity::key(y, x));
        }
}

TEST(SimilarityTest, KeysStoredOutsideTheOctaveCompareAsTheKeysTheyName)
{
    MusicalKey stored(9, true);
    stored.pitchClass = 21; // as a stored file may hold it
    EXPECT_EQ(Similarity::key(stored, MusicalKey(9, true)), 1.0);
    EXPECT_EQ(Similarity::key(stored, MusicalKey(0, false)), 0.85);
}

TEST(SimilarityTest, IntensityWeighsEnergyOverBrightness)
{
    const TrackMetrics a{0.5, 0.4, 0.1};
    EXPECT_DOUBLE_EQ(Similarity::intensity(a, a), 1.0);
    EXPECT_NEAR(Similarity::intensity(a, TrackMetrics{0.85, 0.4, 0.9}), 0.25, 1e-12);
    EXPECT_NEAR(Similarity::intensity(a, TrackMetrics{0.5, 0.8, 0.1}), 0.75, 1e-12);
    EXPECT_NEAR(Similarity::intensity(a, TrackMetrics{0.6, 0.5, 0.1}), 0.75 * (1 - 0.1 / 0.35) + 0.25 * (1 - 0.1 / 0.4),
                1e-12);
    EXPECT_DOUBLE_EQ(Similarity::intensity(a, TrackMetrics{1.0, 1.0, 0.0}), 0.0);
    EXPECT_EQ(Similarity::intensity(std::nullopt, a), 0.0);
    EXPECT_EQ(Similarity::intensity(a, std::nullopt), 0.0);
}

TEST(SimilarityTest, OverallWeighsTheThreeAndMissingValuesZeroTheirTerm)
{
    const MusicalKey k(9, true);
    const TrackMetrics m{0.6, 0.5, 0.3};
    EXPECT_DOUBLE_EQ(Similarity::overall(124, 124, k, k, m, m), 1.0);
    EXPECT_DOUBLE_EQ(Similarity::overall(124, 124, std::nullopt, std::nullopt, m, m), 0.6);
    EXPECT_DOUBLE_EQ(Similarity::overall(std::nullopt, 124, k, k, m, m), 0.65);
    EXPECT_DOUBLE_EQ(Similarity::overall(124, 124, k, k, std::nullopt, m), 0.75);
    // Asymmetric through the tempo term only.
    const double ab = Similarity::overall(126, 120, k, MusicalKey(0, false), m, m);
    const double ba = Similarity::overall(120, 126, MusicalKey(0, false), k, m, m);
    EXPECT_NEAR(ab, 0.4 * 0.85 + 0.35 * 0.375 + 0.25, 1e-12);
    EXPECT_GT(ba, ab);
}

} // namespace
} // namespace zelvo
