// The context and track files written for the model server.
#include "generation/OutpaintComposer.h"
#include "library/AudioFileIO.h"
#include "WavFileSupport.h"

#include <QTemporaryDir>

#include <cmath>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

namespace fs = std::filesystem;

// The header fields of a file the composer wrote; fails the test when the file
// is not a WAV file.
test::WavFile readWavInfo(const fs::path& path)
{
    const auto wav = test::readWav(QString::fromStdString(path.string()));
    EXPECT_TRUE(wav.has_value()) << path;
    return wav.value_or(test::WavFile{});
}

void expectModelFormat(const test::WavFile& info)
{
    EXPECT_EQ(info.format, 1) << "linear PCM";
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.rate, 44100);
    EXPECT_EQ(info.bits, 16);
}

// A 48 kHz buffer, silent but for a short click starting at `clickFrame`.
TrackBufferRef clicked(std::int64_t frames, std::int64_t clickFrame)
{
    TrackBufferRef b(frames, 48000);
    for (int k = 0; k < 3; ++k) {
        b->left[clickFrame + k] = 0.8f;
        b->right[clickFrame + k] = -0.8f;
    }
    return b;
}

std::int64_t loudestFrame(const TrackBuffer& b)
{
    std::int64_t best = 0;
    for (std::int64_t i = 1; i < b.frames; ++i) {
        if (std::fabs(b.left[i]) > std::fabs(b.left[best]))
            best = i;
    }
    return best;
}

class ComposerFilesTest : public ::testing::Test {
protected:
    fs::path file(const char* name) const { return fs::path(dir.path().toStdString()) / name; }
    QTemporaryDir dir;
};

TEST_F(ComposerFilesTest, ContextFromA48kBufferStartsAtTheContextAt44k)
{
    // A click at 2.5 s; the context starts at 2.0 s and lasts 3.0 s.
    const auto source = clicked(48000 * 10, 120000);
    const ForkPlan plan{5.0, 2.0, 3.0, 10.0};
    const fs::path ctx = file("ctx-12345678.wav");
    OutpaintComposer::writeContext(*source, plan, ctx);

    const test::WavFile info = readWavInfo(ctx);
    expectModelFormat(info);
    // 3 s plus 2,048 frames at 48 kHz, converted to 44.1 kHz.
    EXPECT_EQ(info.frames(), std::llround((144000 + 2048) * 44100.0 / 48000.0));

    const auto back = AudioFileIO::decode(ctx, 44100);
    ASSERT_EQ(back->frames, info.frames());
    EXPECT_NEAR(double(loudestFrame(*back)), 22050.0, 2.0) << "the click stays 0.5 s into the file";
    EXPECT_GT(back->left[loudestFrame(*back)], 0.3f);
    EXPECT_LT(back->right[loudestFrame(*back)], -0.3f);
}

TEST_F(ComposerFilesTest, ContextWindowIsCutToTheFramesThatExist)
{
    const auto source = clicked(48000 * 5, 1000);
    const fs::path ctx = file("ctx-end.wav");
    OutpaintComposer::writeContext(*source, ForkPlan{7.0, 3.0, 4.0, 10.0}, ctx);
    EXPECT_EQ(readWavInfo(ctx).frames(), 88200) << "2 s were left after the start";

    // A start before the buffer's beginning counts from frame 0.
    const fs::path early = file("ctx-early.wav");
    OutpaintComposer::writeContext(*source, ForkPlan{1.0, -1.0, 2.0, 10.0}, early);
    EXPECT_EQ(readWavInfo(early).frames(), std::llround((96000 + 2048) * 44100.0 / 48000.0));
}

TEST_F(ComposerFilesTest, AContextPastTheEndThrowsEmptyAndWritesNothing)
{
    const auto source = clicked(48000 * 5, 1000);
    const fs::path ctx = file("ctx-past.wav");
    try {
        OutpaintComposer::writeContext(*source, ForkPlan{12.0, 6.0, 6.0, 10.0}, ctx);
        FAIL() << "no error";
    } catch (const AudioFileError& e) {
        EXPECT_EQ(e.kind(), AudioFileError::Kind::empty);
        EXPECT_EQ(e.description(), "ctx-past.wav holds no audio");
    }
    EXPECT_FALSE(fs::exists(ctx));
}

TEST_F(ComposerFilesTest, TrackFilesKeepTheDurationAndReplaceOldFiles)
{
    const auto source = clicked(48000 * 3 + 17, 48000);
    const fs::path track = file("track-abcdef01.wav");
    OutpaintComposer::writeTrack(*clicked(4800, 0), track); // an older, shorter file
    OutpaintComposer::writeTrack(*source, track);
    const test::WavFile info = readWavInfo(track);
    expectModelFormat(info);
    EXPECT_EQ(info.frames(), std::llround((48000 * 3 + 17) * 44100.0 / 48000.0));
    const auto back = AudioFileIO::decode(track, 44100);
    EXPECT_NEAR(double(loudestFrame(*back)), 44100.0, 2.0);

    const fs::path empty = file("track-empty.wav");
    OutpaintComposer::writeTrack(*TrackBufferRef(0, 48000), empty);
    const test::WavFile none = readWavInfo(empty);
    expectModelFormat(none);
    EXPECT_EQ(none.frames(), 0);
}

} // namespace
} // namespace zelvo
