// The context and track files written for the model server.
#include "generation/OutpaintComposer.h"
#include "library/AudioFileIO.h"

#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

namespace fs = std::filesystem;

struct WavInfo {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int format = 0;
    std::int64_t frames = -1;
};

// Reads a RIFF/WAVE file's "fmt " and "data" chunks.
WavInfo readWavInfo(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
    auto u16 = [&](std::size_t at) { return int(b[at] | (b[at + 1] << 8)); };
    auto u32 = [&](std::size_t at) {
        return std::uint32_t(b[at]) | (std::uint32_t(b[at + 1]) << 8) | (std::uint32_t(b[at + 2]) << 16)
            | (std::uint32_t(b[at + 3]) << 24);
    };
    WavInfo info;
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return info;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = u32(at + 4);
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0) {
            info.format = u16(at + 8);
            info.channels = u16(at + 10);
            info.rate = int(u32(at + 12));
            info.bits = u16(at + 22);
        } else if (std::memcmp(b.data() + at, "data", 4) == 0 && info.channels > 0) {
            info.frames = std::int64_t(size) / (info.channels * info.bits / 8);
        }
        at += 8 + size + (size & 1);
    }
    return info;
}

void expectModelFormat(const WavInfo& info)
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

    const WavInfo info = readWavInfo(ctx);
    expectModelFormat(info);
    // 3 s plus 2,048 frames at 48 kHz, converted to 44.1 kHz.
    EXPECT_EQ(info.frames, std::llround((144000 + 2048) * 44100.0 / 48000.0));

    const auto back = AudioFileIO::decode(ctx, 44100);
    ASSERT_EQ(back->frames, info.frames);
    EXPECT_NEAR(double(loudestFrame(*back)), 22050.0, 2.0) << "the click stays 0.5 s into the file";
    EXPECT_GT(back->left[loudestFrame(*back)], 0.3f);
    EXPECT_LT(back->right[loudestFrame(*back)], -0.3f);
}

TEST_F(ComposerFilesTest, ContextWindowIsCutToTheFramesThatExist)
{
    const auto source = clicked(48000 * 5, 1000);
    const fs::path ctx = file("ctx-end.wav");
    OutpaintComposer::writeContext(*source, ForkPlan{7.0, 3.0, 4.0, 10.0}, ctx);
    EXPECT_EQ(readWavInfo(ctx).frames, 88200) << "2 s were left after the start";

    // A start before the buffer's beginning counts from frame 0.
    const fs::path early = file("ctx-early.wav");
    OutpaintComposer::writeContext(*source, ForkPlan{1.0, -1.0, 2.0, 10.0}, early);
    EXPECT_EQ(readWavInfo(early).frames, std::llround((96000 + 2048) * 44100.0 / 48000.0));
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
    const WavInfo info = readWavInfo(track);
    expectModelFormat(info);
    EXPECT_EQ(info.frames, std::llround((48000 * 3 + 17) * 44100.0 / 48000.0));
    const auto back = AudioFileIO::decode(track, 44100);
    EXPECT_NEAR(double(loudestFrame(*back)), 44100.0, 2.0);

    const fs::path empty = file("track-empty.wav");
    OutpaintComposer::writeTrack(*TrackBufferRef(0, 48000), empty);
    const WavInfo none = readWavInfo(empty);
    expectModelFormat(none);
    EXPECT_EQ(none.frames, 0);
}

TEST_F(ComposerFilesTest, LoudSamplesClipInsteadOfWrapping)
{
    TrackBufferRef hot(44100, 44100);
    for (std::int64_t i = 0; i < hot->frames; ++i) {
        hot->left[i] = 1.7f;
        hot->right[i] = -2.5f;
    }
    const fs::path track = file("track-hot.wav");
    OutpaintComposer::writeTrack(*hot, track);
    const auto back = AudioFileIO::decode(track, 44100);
    ASSERT_EQ(back->frames, 44100);
    EXPECT_GT(back->left[20000], 0.99f);
    EXPECT_LT(back->right[20000], -0.99f);
}

} // namespace
} // namespace zelvo
