#include "library/TrackAnalyzer.h"
#include "support/GeneratedMusic.h"

#include <gtest/gtest.h>

#include <QString>

#include <array>
#include <vector>

namespace zelvo {
namespace {

constexpr std::array<double, 12> kMajor = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr std::array<double, 12> kMinor = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17};

std::array<double, 12> rotatedTo(const std::array<double, 12>& profile, int tonic, double scale)
{
    std::array<double, 12> chroma{};
    for (int k = 0; k < 12; ++k)
        chroma[(tonic + k) % 12] = profile[k] * scale;
    return chroma;
}

TEST(KeyDetectionTest, ChromagramsShapedLikeAProfileGiveItsKey)
{
    auto k = TrackAnalyzer::keyFromChroma(rotatedTo(kMinor, 9, 0.1));
    EXPECT_EQ(k, MusicalKey(9, true));
    EXPECT_EQ(k.camelot(), "8A");
    EXPECT_EQ(TrackAnalyzer::keyFromChroma(rotatedTo(kMajor, 0, 3.0)), MusicalKey(0, false));
    for (int tonic = 0; tonic < 12; ++tonic) {
        EXPECT_EQ(TrackAnalyzer::keyFromChroma(rotatedTo(kMajor, tonic, 1.0)), MusicalKey(tonic, false));
        EXPECT_EQ(TrackAnalyzer::keyFromChroma(rotatedTo(kMinor, tonic, 1.0)), MusicalKey(tonic, true));
    }
}

TEST(KeyDetectionTest, FlatChromagramKeepsTheFirstCandidate)
{
    // Every correlation is 0; only a strictly better later candidate could win.
    std::array<double, 12> flat;
    flat.fill(0.5);
    EXPECT_EQ(TrackAnalyzer::keyFromChroma(flat), MusicalKey(0, false));
}

TEST(KeyDetectionTest, TooLittleOrSilentAudioHasNoKey)
{
    const auto a = test::progression(test::cadence(60, false), 1.0, 4, 22050);
    EXPECT_FALSE(TrackAnalyzer::detectKey(std::span(a).first(16384), 22050));
    EXPECT_FALSE(TrackAnalyzer::detectKey({}, 22050));
    EXPECT_FALSE(TrackAnalyzer::detectKey(std::vector<float>(22050 * 5, 0.0f), 22050));
    EXPECT_FALSE(TrackAnalyzer::detectKey(a, 0));
    EXPECT_FALSE(TrackAnalyzer::detectKey(a, std::nan("")));
}

TEST(KeyDetectionTest, FramesNeedASampleAfterTheirEnd)
{
    // Tone in the first frames, silence after: which frames count is told by
    // whether a key comes out at all. 16385 samples: frames at 0 and 8192.
    std::vector<float> s(24577, 0.0f);
    auto tone = test::chord(test::triad(57, true), 1.0, 22050);
    // Tone only in the third frame (16384 ... 24575): used only when one more
    // sample follows.
    for (std::size_t i = 16384; i < 24576; ++i)
        s[i] = tone[i - 16384];
    EXPECT_FALSE(TrackAnalyzer::detectKey(std::span(s).first(24576), 22050));
    EXPECT_TRUE(TrackAnalyzer::detectKey(s, 22050));
    // Tone only in the second frame: 16385 samples already use it.
    std::vector<float> t(16385, 0.0f);
    for (std::size_t i = 8192; i < 16384; ++i)
        t[i] = tone[i - 8192];
    EXPECT_TRUE(TrackAnalyzer::detectKey(t, 22050));
}

TEST(KeyDetectionTest, MinorTriadsGiveTheirKey)
{
    for (double rate : {22050.0, 44100.0}) {
        for (int root = 0; root < 12; ++root) {
            const auto s = test::chord(test::triad(57 + root, true), 6.0, rate);
            const auto key = TrackAnalyzer::detectKey(s, rate);
            ASSERT_TRUE(key);
            EXPECT_EQ(*key, MusicalKey(9 + root, true)) << rate << " Hz, root " << root << ": " << key->name().toStdString();
        }
    }
}

TEST(KeyDetectionTest, CadencesGiveTonicAndMode)
{
    for (double rate : {22050.0, 44100.0}) {
        for (int tonic = 0; tonic < 12; ++tonic) {
            for (bool minor : {false, true}) {
                const auto s = test::progression(test::cadence(60 + tonic, minor), 1.5, 2, rate);
                const auto key = TrackAnalyzer::detectKey(s, rate);
                ASSERT_TRUE(key);
                EXPECT_EQ(*key, MusicalKey(tonic, minor))
                    << rate << " Hz, tonic " << tonic << (minor ? " minor" : " major") << ": "
                    << key->name().toStdString();
            }
        }
    }
}

} // namespace
} // namespace zelvo
