#include "library/AudioFileError.h"
#include "library/TrackAnalyzer.h"
#include "library/TrackBuffer.h"
#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <numbers>

namespace zelvo {
namespace {

TrackBufferRef bufferOf(const std::vector<float>& left, const std::vector<float>& right, double rate)
{
    TrackBufferRef b(std::int64_t(left.size()), rate);
    std::copy(left.begin(), left.end(), b->left);
    std::copy(right.begin(), right.end(), b->right);
    return b;
}

TEST(TrackAnalyzerTest, ZeroFramesGiveTheDefaults)
{
    TrackBufferRef b(0, 22050);
    const TrackAnalysis a = TrackAnalyzer::analyze(*b);
    EXPECT_EQ(a.duration, 0.0);
    EXPECT_EQ(a.waveform.count(), 0);
    EXPECT_EQ(a.waveform.pointsPerSecond, 150.0);
    EXPECT_EQ(a.grid, BeatGrid(120, 0, 4));
    EXPECT_FALSE(a.key);
    EXPECT_FALSE(a.metrics);
    EXPECT_NEAR(a.loudnessDB, -120.0, 1e-5);
}

TEST(TrackAnalyzerTest, OppositeChannelsCancelInTheMonoMix)
{
    const auto music = test::progression(test::cadence(60, true), 1.0, 3, 22050);
    std::vector<float> inverted(music.size());
    for (std::size_t i = 0; i < music.size(); ++i)
        inverted[i] = -music[i];
    const auto b = bufferOf(music, inverted, 22050);
    const TrackAnalysis a = TrackAnalyzer::analyze(*b);
    EXPECT_FALSE(a.key);
    EXPECT_NEAR(a.loudnessDB, -120.0, 1e-5);
    EXPECT_NEAR(a.duration, 12.0, 1e-9);
    // Same material in both channels is analysed normally.
    const TrackAnalysis same = TrackAnalyzer::analyze(*bufferOf(music, music, 22050));
    ASSERT_TRUE(same.key);
    EXPECT_EQ(*same.key, MusicalKey(0, true));
}

TEST(TrackAnalyzerTest, LoudnessIsTheMeanSquareOfTheMonoMix)
{
    // Full-scale sine in both channels: mean square 0.5, about −3.01 dB.
    std::vector<float> s(22050 * 3);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = float(std::sin(2 * std::numbers::pi * 441.0 * double(i) / 22050));
    EXPECT_NEAR(TrackAnalyzer::analyze(*bufferOf(s, s, 22050)).loudnessDB, 10 * std::log10(0.5), 1e-4);
    // One channel alone is half the amplitude: 6 dB lower.
    std::vector<float> silent(s.size(), 0.0f);
    EXPECT_NEAR(TrackAnalyzer::analyze(*bufferOf(s, silent, 22050)).loudnessDB, 10 * std::log10(0.125), 1e-4);
    // A constant over minutes stays exact in single precision.
    std::vector<float> dc(22050 * 300, 0.25f);
    EXPECT_NEAR(TrackAnalyzer::loudnessDB(dc), 10 * std::log10(0.0625), 1e-4);
    EXPECT_NEAR(TrackAnalyzer::loudnessDB({}), -120.0, 1e-5);
    EXPECT_EQ(TrackAnalyzer::loudnessDB(std::vector<float>(100, 1e-7f)), TrackAnalyzer::loudnessDB({}));
}

TEST(TrackAnalyzerTest, RatesFollowTheBuffer)
{
    for (double rate : {22050.0, 44100.0}) {
        auto drums = test::drumLoop(126, 0.25, 20, rate);
        const TrackAnalysis a = TrackAnalyzer::analyze(*bufferOf(drums, drums, rate));
        EXPECT_DOUBLE_EQ(a.duration, 20.0);
        EXPECT_EQ(a.waveform.pointsPerSecond, 150.0);
        EXPECT_EQ(a.waveform.count(), 3000);
        EXPECT_EQ(a.grid.bpm, 126.0) << rate;
        EXPECT_EQ(a.grid.beatsPerBar, 4);
        ASSERT_TRUE(a.metrics);
        EXPECT_EQ(a.metrics, TrackMetrics::from(a.waveform));
    }
    // One second at the analysis rate: 150 points.
    const std::vector<float> second(22050, 0.1f);
    EXPECT_EQ(TrackAnalyzer::analyze(*bufferOf(second, second, 22050)).waveform.count(), 150);
}

TEST(TrackAnalyzerTest, AnalysisDoesNotChangeTheBuffer)
{
    auto drums = test::drumLoop(120, 0.0, 6, 22050);
    auto b = bufferOf(drums, drums, 22050);
    TrackAnalyzer::analyze(*b);
    EXPECT_TRUE(std::equal(drums.begin(), drums.end(), b->left));
    EXPECT_TRUE(std::equal(drums.begin(), drums.end(), b->right));
}

TEST(TrackAnalyzerTest, FilesAreDecodedAtTheAnalysisRate)
{
    test::TempHome home;
    const std::filesystem::path dir = home.path().toStdString();
    // Drums at 44.1 kHz in a FLAC file: analysed at 22.05 kHz after decoding.
    const auto drums = test::drumLoop(124, 0.5, 12, 44100);
    test::Audio audio;
    audio.sampleRate = 44100;
    audio.channels = {drums, drums};
    writeAudioFile(dir / "drums.flac", test::AudioFormat::flac, audio);
    const TrackAnalysis a = TrackAnalyzer::analyze(dir / "drums.flac");
    EXPECT_NEAR(a.duration, 12.0, 1e-3);
    EXPECT_EQ(a.waveform.pointsPerSecond, 150.0);
    EXPECT_EQ(a.grid.bpm, 124.0);

    // Decoding failures pass through unchanged.
    test::writeTextFile(dir / "notes.mp3", "not audio");
    EXPECT_THROW(TrackAnalyzer::analyze(dir / "notes.mp3"), AudioFileError);
    test::writeEmptyWav(dir / "empty.wav");
    EXPECT_THROW(TrackAnalyzer::analyze(dir / "empty.wav"), AudioFileError);
    EXPECT_THROW(TrackAnalyzer::analyze(dir / "missing.wav"), AudioFileError);
}

TEST(TrackAnalyzerTest, ParallelAnalysesAgreeWithASerialOne)
{
    auto drums = test::drumLoop(132, 0.1, 10, 22050);
    test::mixInto(drums, test::progression(test::cadence(62, false), 1.25, 2, 22050), 0.5f);
    const auto b = bufferOf(drums, drums, 22050);
    const TrackAnalysis serial = TrackAnalyzer::analyze(*b);
    std::vector<TrackAnalysis> results(4);
    std::vector<std::thread> workers;
    for (auto& r : results)
        workers.emplace_back([&r, &b] { r = TrackAnalyzer::analyze(*b); });
    for (auto& w : workers)
        w.join();
    for (const auto& r : results)
        EXPECT_EQ(r, serial);
}

TEST(TrackAnalyzerTest, AnalysisJsonKeepsOptionalFieldsOptional)
{
    TrackAnalysis a;
    a.duration = 12.5;
    a.grid = BeatGrid(126, 0.25, 4);
    a.loudnessDB = -9.5;
    a.waveform.low = a.waveform.mid = a.waveform.high = {1, 2, 3};
    QJsonObject json = a.toJson();
    EXPECT_FALSE(json.contains("key"));
    EXPECT_FALSE(json.contains("metrics"));
    EXPECT_EQ(TrackAnalysis::fromJson(json), a);

    a.key = MusicalKey(9, true);
    a.metrics = TrackMetrics{0.5, 0.25, 0.75};
    json = a.toJson();
    EXPECT_EQ(TrackAnalysis::fromJson(json), a);

    for (const char* key : {"duration", "grid", "loudnessDB", "waveform"}) {
        QJsonObject missing = json;
        missing.remove(key);
        EXPECT_FALSE(TrackAnalysis::fromJson(missing)) << key;
    }
    json.insert("metrics", QJsonObject{{"energy", 1}});
    EXPECT_FALSE(TrackAnalysis::fromJson(json));
}

} // namespace
} // namespace zelvo
