#include "platform/AudioFileReader.h"

#include "support/AudioFixtures.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

struct Reading {
    std::vector<float> left, right;
    std::vector<std::int64_t> statuses; // what each read returned
};

// Reads `path` at 48 kHz from file frame `from`, in chunks of `chunk`, until the
// end, a failure, or `most` frames.
Reading readAll(const std::filesystem::path& path, bool ahead, std::int64_t from, std::int64_t chunk,
                std::int64_t most)
{
    Reading out;
    AudioFileReader reader;
    EXPECT_EQ(reader.open(path.string()), 0);
    EXPECT_EQ(reader.readFormat(), 0);
    EXPECT_EQ(reader.setOutputRate(48000.0), 0);
    reader.setDecodeAhead(ahead);
    EXPECT_EQ(reader.seek(from), 0);
    std::vector<float> l(static_cast<std::size_t>(chunk)), r(static_cast<std::size_t>(chunk));
    while (std::int64_t(out.left.size()) < most) {
        const std::int64_t got = reader.read(l.data(), r.data(), chunk);
        out.statuses.push_back(got);
        if (got <= 0)
            break;
        out.left.insert(out.left.end(), l.begin(), l.begin() + got);
        out.right.insert(out.right.end(), r.begin(), r.begin() + got);
    }
    return out;
}

bool sameSamples(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

// Decoding on a thread of its own beside the conversion hands out exactly what
// decoding on the reading thread does: the same samples to the bit, the same
// read results at the end or at a failure, from the start or from a seek, in
// mono, stereo and eight channels, whole or stopped early (the reader then closes with its
// decoding thread still holding frames). Reads too short for the resampler's
// output to go straight into the caller's arrays (a few frames each, so every
// frame passes through the reader's own) give the same samples as long ones.
TEST(AudioFileReader, DecodingAheadGivesTheSameFramesAndStatusesAsOneThread)
{
    TempHome home;
    const std::filesystem::path dir = home.path().toStdString();
    const Audio stereo = generate(2, 44100 * 6, 44100.0, ramp());
    const Audio mono = generate(1, 44100 * 6, 44100.0, sine(330.0, 44100.0));
    writeAudioFile(dir / "s.mp3", AudioFormat::mp3, stereo);
    writeAudioFile(dir / "s.flac", AudioFormat::flac, stereo);
    writeAudioFile(dir / "m.flac", AudioFormat::flac, mono);
    writeAudioFile(dir / "m.wav", AudioFormat::wav16, mono);
    writeAudioFile(dir / "s.m4a", AudioFormat::m4a, stereo);
    // FLAC's long frames fill the decoding thread's queue by bytes before they
    // fill it by count; eight channels all the more.
    writeAudioFile(dir / "wide.flac", AudioFormat::flac, generate(8, 44100 * 4, 44100.0, ramp()));
    writeTruncatedCopy(dir / "s.mp3", dir / "cut.mp3", 0.5);
    writeTruncatedCopy(dir / "s.flac", dir / "cut.flac", 0.5);

    constexpr std::int64_t all = 1 << 30;
    const struct {
        const char* file;
        std::int64_t from, chunk, most;
    } cases[] = {
        {"s.mp3", 0, 16384, all},      {"s.mp3", 100000, 1000, all}, {"s.flac", 0, 4096, all},
        {"s.flac", 150001, 16384, all}, {"m.flac", 0, 777, all},      {"m.wav", 50000, 16384, all},
        {"s.m4a", 0, 16384, all},      {"cut.mp3", 0, 16384, all},    {"cut.flac", 0, 3000, all},
        {"s.mp3", 0, 512, 1024},       {"s.flac", 44100, 256, 256},  {"wide.flac", 0, 5000, all},
        {"wide.flac", 70000, 16384, 20000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " from " + std::to_string(c.from) + " most " + std::to_string(c.most));
        const Reading one = readAll(dir / c.file, false, c.from, c.chunk, c.most);
        const Reading ahead = readAll(dir / c.file, true, c.from, c.chunk, c.most);
        EXPECT_FALSE(one.left.empty());
        EXPECT_TRUE(sameSamples(one.left, ahead.left));
        EXPECT_TRUE(sameSamples(one.right, ahead.right));
        EXPECT_EQ(one.statuses, ahead.statuses);
        if (c.most == all) {
            EXPECT_EQ(one.statuses.back(), 0);
        }
        Reading piecemeal = readAll(dir / c.file, true, c.from, 5, std::int64_t(one.left.size()));
        if (c.most != all) {
            piecemeal.left.resize(std::min(piecemeal.left.size(), one.left.size()));
            piecemeal.right.resize(piecemeal.left.size());
        }
        EXPECT_TRUE(sameSamples(piecemeal.left, one.left));
        EXPECT_TRUE(sameSamples(piecemeal.right, one.right));
        EXPECT_EQ(piecemeal.statuses.back() < 0, one.statuses.back() < 0);
    }
}
