#include "library/AudioFileIO.h"
#include "platform/AudioFileReader.h"
#include "support/AudioFixtures.h"
#include "support/RealtimeGuard.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using test::AudioFormat;

// A signal whose zero-lag correlation with itself falls apart when shifted:
// three unrelated partials.
test::Generator partials(double rate)
{
    return [rate](int channel, std::int64_t i) {
        const double t = double(i) / rate;
        const double phase = channel == 0 ? 0.0 : 1.0;
        return float(0.25 * std::sin(2 * std::numbers::pi * 220 * t + phase) + 0.15 * std::sin(2 * std::numbers::pi * 347 * t)
                     + 0.1 * std::sin(2 * std::numbers::pi * 1233 * t + phase));
    };
}

// Left carries the ramp, right the ramp 12345 frames ahead, so swapped or
// shifted channels show.
float rampAt(int channel, std::int64_t frame)
{
    return test::rampValue(frame + (channel == 0 ? 0 : 12345));
}

// Files made by one test, removed after it.
struct Files {
    QTemporaryDir dir;
    std::filesystem::path operator()(const std::string& name) const
    {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
};

const char* extensionOf(AudioFormat f)
{
    switch (f) {
    case AudioFormat::wav16: case AudioFormat::wav24: case AudioFormat::wavFloat: return ".wav";
    case AudioFormat::aiff16: return ".aiff";
    case AudioFormat::caf: return ".caf";
    case AudioFormat::flac: return ".flac";
    case AudioFormat::mp3: return ".mp3";
    case AudioFormat::m4a: return ".m4a";
    case AudioFormat::adts: return ".aac";
    case AudioFormat::alac: return ".m4a";
    }
    return "";
}

std::string formatName(AudioFormat f)
{
    static const char* const names[] = {"wav16", "wav24", "wavFloat", "aiff16", "caf",
                                        "flac",  "mp3",   "m4a",      "adts",   "alac"};
    return names[int(f)];
}

// Runs a call expected to throw an AudioFileError and returns it.
template <typename F>
AudioFileError thrown(F&& call)
{
    try {
        call();
    } catch (const AudioFileError& e) {
        return e;
    }
    ADD_FAILURE() << "no AudioFileError thrown";
    return AudioFileError::os("nothing thrown", 0);
}

// ---- lossless formats: exact length and exact samples ----------------------

struct LosslessCase {
    AudioFormat format;
    int channels;
    double rate;
};

void PrintTo(const LosslessCase& c, std::ostream* os)
{
    *os << formatName(c.format) << ", " << c.channels << " ch, " << c.rate << " Hz";
}

class LosslessDecodeTest : public ::testing::TestWithParam<LosslessCase> {};

TEST_P(LosslessDecodeTest, DecodesEveryFrameExactly)
{
    const auto [format, channels, rate] = GetParam();
    Files files;
    const auto path = files(std::string("ramp") + extensionOf(format));
    const std::int64_t frames = std::int64_t(rate * 1.5) + 7;
    test::writeAudioFile(path, format, test::generate(channels, frames, rate, rampAt));

    const auto buffer = AudioFileIO::decode(path, rate);
    ASSERT_EQ(buffer->frames, frames);
    EXPECT_EQ(buffer->sampleRate, rate);
    int mismatches = 0;
    for (std::int64_t i = 0; i < frames && mismatches < 5; ++i) {
        const float right = channels == 1 ? rampAt(0, i) : rampAt(1, i);
        if (buffer->left[i] != rampAt(0, i) || buffer->right[i] != right) {
            ADD_FAILURE() << "frame " << i << ": " << buffer->left[i] << ", " << buffer->right[i];
            ++mismatches;
        }
    }
}

TEST_P(LosslessDecodeTest, ConvertsRateWithExactLengthAndLevel)
{
    const auto [format, channels, rate] = GetParam();
    Files files;
    const auto path = files(std::string("tone") + extensionOf(format));
    const std::int64_t frames = std::int64_t(rate * 2);
    test::writeAudioFile(path, format, test::generate(channels, frames, rate, test::sine(1000, rate, 0.5f)));

    for (double target : {22050.0, 48000.0}) {
        const auto buffer = AudioFileIO::decode(path, target);
        EXPECT_NEAR(double(buffer->frames), double(frames) * target / rate, 1.0) << target;
        // A 1 kHz sine at 0.5 keeps its level on both channels, mono included.
        const std::int64_t mid = buffer->frames / 4;
        EXPECT_NEAR(test::rms(buffer->left + mid, buffer->frames / 2), 0.5 / std::sqrt(2.0), 0.01) << target;
        EXPECT_NEAR(test::rms(buffer->right + mid, buffer->frames / 2), 0.5 / std::sqrt(2.0), 0.01) << target;
    }
}

std::vector<LosslessCase> losslessCases()
{
    std::vector<LosslessCase> cases;
    for (auto format : {AudioFormat::wav16, AudioFormat::wav24, AudioFormat::wavFloat, AudioFormat::aiff16,
                        AudioFormat::caf, AudioFormat::flac, AudioFormat::alac})
        for (int channels : {1, 2})
            for (double rate : {8000.0, 22050.0, 44100.0, 48000.0, 192000.0})
                cases.push_back({format, channels, rate});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessDecodeTest, ::testing::ValuesIn(losslessCases()),
                         [](const auto& info) {
                             return formatName(info.param.format) + "_" + std::to_string(info.param.channels)
                                 + "ch_" + std::to_string(int(info.param.rate));
                         });

// ---- lossy formats: length within one codec frame, aligned content ---------

struct LossyCase {
    AudioFormat format;
    int channels;
    double rate;
    std::int64_t codecFrame;
};

void PrintTo(const LossyCase& c, std::ostream* os)
{
    *os << formatName(c.format) << ", " << c.channels << " ch, " << c.rate << " Hz";
}

class LossyDecodeTest : public ::testing::TestWithParam<LossyCase> {};

TEST_P(LossyDecodeTest, TrimsEncoderDelayAndPadding)
{
    const auto [format, channels, rate, codecFrame] = GetParam();
    Files files;
    const auto path = files(std::string("song") + extensionOf(format));
    const std::int64_t frames = std::int64_t(rate * 3) + 123;
    const auto source = test::generate(channels, frames, rate, partials(rate));
    test::writeAudioFile(path, format, source);

    const auto buffer = AudioFileIO::decode(path, rate);
    EXPECT_NEAR(double(buffer->frames), double(frames), double(codecFrame));
    // Priming left in place would shift the content and wreck the correlation.
    const std::int64_t n = std::min(buffer->frames, frames) - 2048;
    const float* right = source.channels[std::size_t(channels - 1)].data();
    EXPECT_GT(test::correlation(buffer->left + 1024, source.channels[0].data() + 1024, n), 0.98);
    EXPECT_GT(test::correlation(buffer->right + 1024, right + 1024, n), 0.98);
    EXPECT_NEAR(test::rms(buffer->left + 1024, n), test::rms(source.channels[0].data() + 1024, n), 0.02);

    // Resampled on the way, the length scales with the rate.
    const auto at48 = AudioFileIO::decode(path, 48000);
    EXPECT_NEAR(double(at48->frames), double(frames) * 48000 / rate, double(codecFrame) * 48000 / rate);
}

INSTANTIATE_TEST_SUITE_P(Formats, LossyDecodeTest,
                         ::testing::Values(LossyCase{AudioFormat::mp3, 2, 44100, 1152},
                                           LossyCase{AudioFormat::mp3, 1, 48000, 1152},
                                           LossyCase{AudioFormat::mp3, 2, 22050, 576},
                                           LossyCase{AudioFormat::m4a, 2, 44100, 1024},
                                           LossyCase{AudioFormat::m4a, 1, 48000, 1024},
                                           LossyCase{AudioFormat::m4a, 2, 22050, 1024}),
                         [](const auto& info) {
                             return formatName(info.param.format) + "_" + std::to_string(info.param.channels)
                                 + "ch_" + std::to_string(int(info.param.rate));
                         });

TEST(AudioFileIOTest, RawAacDecodesWithItsPrimingAtMostTwoFramesLong)
{
    // An ADTS stream cannot say how long its encoder delay is, so it is kept.
    Files files;
    const auto path = files("raw.aac");
    const std::int64_t frames = 44100 * 2;
    test::writeAudioFile(path, AudioFormat::adts, test::generate(2, frames, 44100, partials(44100)));
    const auto buffer = AudioFileIO::decode(path, 44100);
    EXPECT_GE(buffer->frames, frames);
    EXPECT_LE(buffer->frames, frames + 3 * 1024);
    EXPECT_NEAR(test::rms(buffer->left + 4096, 44100), 0.21, 0.03);
}

TEST(AudioFileIOTest, MixesMoreThanTwoChannelsDownToStereo)
{
    Files files;
    const auto path = files("surround.wav");
    // Front left and right carry different tones; the rest is silent.
    const auto audio = test::generate(6, 48000, 48000, [](int channel, std::int64_t i) {
        if (channel > 1)
            return 0.0f;
        return float(0.5 * std::sin(2 * std::numbers::pi * (channel == 0 ? 440 : 660) * double(i) / 48000));
    });
    test::writeAudioFile(path, AudioFormat::wavFloat, audio);
    const auto buffer = AudioFileIO::decode(path, 48000);
    ASSERT_EQ(buffer->frames, 48000);
    EXPECT_GT(test::correlation(buffer->left, audio.channels[0].data(), 48000), 0.99);
    EXPECT_GT(test::correlation(buffer->right, audio.channels[1].data(), 48000), 0.99);
    EXPECT_GT(test::rms(buffer->left, 48000), 0.1);
}

// Every channel count the decoder admits reaches two channels, at the file's
// rate and resampled. Counts with a known speaker order are mixed by it (front
// left to the left, front right to the right); the others by pairs, the first
// of each pair to the left and the second to the right, an unpaired last one to
// both, each side's channels weighted equally so full scale stays full scale.
// Each channel carries a full-scale tone of its own, a whole number of cycles
// in the measured window, so a projection tells each channel's weight per side.
TEST(AudioFileIOTest, EveryChannelCountUpToSixtyFourMixesDownToStereo)
{
    constexpr double kFileRate = 44100;
    const auto frequency = [](int channel) { return 200.0 + 20.0 * channel; };
    const auto tones = [&](int channel, std::int64_t i) {
        return float(std::sin(2 * std::numbers::pi * frequency(channel) * double(i) / kFileRate));
    };
    // The amplitude of one channel's tone in the 50 ms from 50 ms on.
    const auto weight = [&](const float* out, double rate, int channel) {
        const auto begin = std::int64_t(rate * 0.05), count = std::int64_t(rate * 0.05);
        double s = 0, c = 0;
        for (std::int64_t i = begin; i < begin + count; ++i) {
            const double phase = 2 * std::numbers::pi * frequency(channel) * double(i) / rate;
            s += out[i] * std::sin(phase);
            c += out[i] * std::cos(phase);
        }
        return 2.0 * std::hypot(s, c) / double(count);
    };
    Files files;
    for (int channels = 1; channels <= AudioFileReader::kMostChannels; ++channels) {
        std::vector<AudioFormat> formats = {AudioFormat::wavFloat};
        if (channels <= 8)
            formats.push_back(AudioFormat::flac);
        const auto audio = test::generate(channels, 8820, kFileRate, tones);
        for (AudioFormat format : formats) {
            const auto path = files(std::to_string(channels) + extensionOf(format));
            test::writeAudioFile(path, format, audio);
            for (double rate : {kFileRate, 48000.0}) {
                SCOPED_TRACE(formatName(format) + ", " + std::to_string(channels) + " ch at "
                             + std::to_string(int(rate)) + " Hz");
                const auto buffer = AudioFileIO::decode(path, rate);
                ASSERT_NEAR(double(buffer->frames), 0.2 * rate, 1.0);
                // Exact at the file's rate; the resampler's passband ripple allows a little.
                const double tolerance = rate == kFileRate ? 1e-3 : 0.01;
                const bool knownOrder = channels <= 8 || channels == 16 || channels == 24;
                if (channels == 1) {
                    EXPECT_NEAR(weight(buffer->left, rate, 0), 1.0, tolerance);
                    EXPECT_NEAR(weight(buffer->right, rate, 0), 1.0, tolerance);
                } else if (knownOrder) {
                    EXPECT_NEAR(weight(buffer->left, rate, 0), 1.0, tolerance);
                    EXPECT_NEAR(weight(buffer->right, rate, 0), 0.0, tolerance);
                    EXPECT_NEAR(weight(buffer->left, rate, 1), 0.0, tolerance);
                    EXPECT_NEAR(weight(buffer->right, rate, 1), 1.0, tolerance);
                } else {
                    const double share = 1.0 / ((channels + 1) / 2);
                    for (int c = 0; c < channels; ++c) {
                        const bool unpaired = channels % 2 == 1 && c == channels - 1;
                        EXPECT_NEAR(weight(buffer->left, rate, c), c % 2 == 0 || unpaired ? share : 0.0, tolerance)
                            << "channel " << c;
                        EXPECT_NEAR(weight(buffer->right, rate, c), c % 2 == 1 || unpaired ? share : 0.0, tolerance)
                            << "channel " << c;
                    }
                    float peak = 0;
                    for (std::int64_t i = 0; i < buffer->frames; ++i)
                        peak = std::max({peak, std::abs(buffer->left[i]), std::abs(buffer->right[i])});
                    EXPECT_LE(peak, 1.0f + 1e-4f);
                }
            }
        }
    }
}

// A file may name speakers the mixer cannot place: two channels said to be the
// low-frequency one and the top centre. They are mixed by pairs, not refused.
TEST(AudioFileIOTest, SpeakersTheMixerCannotPlaceAreMixedByPairs)
{
    const auto audio = test::generate(2, 4410, 44100, [](int channel, std::int64_t i) {
        return float(std::round(8000 * std::sin(2 * std::numbers::pi * (300 + 100 * channel) * double(i) / 44100)) / 32768);
    });
    // 16-bit WAVE_FORMAT_EXTENSIBLE with the speaker mask LFE | TOP_CENTER.
    std::string bytes;
    const auto put = [&bytes](std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes += char((value >> (8 * i)) & 0xFF);
    };
    const std::uint64_t dataBytes = 4410 * 4;
    bytes += "RIFF";
    put(4 + 8 + 40 + 8 + dataBytes, 4);
    bytes += "WAVEfmt ";
    put(40, 4);
    for (auto [value, size] : {std::pair{0xFFFEull, 2}, {2, 2}, {44100, 4}, {44100 * 4, 4}, {4, 2}, {16, 2}, {22, 2},
                               {16, 2}, {0x8 | 0x800, 4}, {1, 4}, {0x00100000, 4}, {0xAA000080, 4}, {0x719B3800, 4}})
        put(value, size);
    bytes += "data";
    put(dataBytes, 4);
    for (std::int64_t i = 0; i < 4410; ++i)
        for (int c = 0; c < 2; ++c)
            put(std::uint16_t(std::int16_t(std::lround(audio.channels[std::size_t(c)][std::size_t(i)] * 32768))), 2);
    Files files;
    const auto path = files("placeless.wav");
    test::writeTextFile(path, bytes);
    const auto buffer = AudioFileIO::decode(path, 44100);
    ASSERT_EQ(buffer->frames, 4410);
    for (std::int64_t i = 0; i < 4410; ++i) {
        ASSERT_FLOAT_EQ(buffer->left[i], audio.channels[0][std::size_t(i)]) << i;
        ASSERT_FLOAT_EQ(buffer->right[i], audio.channels[1][std::size_t(i)]) << i;
    }
}

// ---- ranges -----------------------------------------------------------------

class RangeTest : public ::testing::TestWithParam<AudioFormat> {
protected:
    void SetUp() override
    {
        path = files(std::string("long") + extensionOf(GetParam()));
        test::writeAudioFile(path, GetParam(), test::generate(2, kFrames, kRate, rampAt));
        whole = AudioFileIO::decode(path, kRate);
    }

    static constexpr double kRate = 44100;
    static constexpr std::int64_t kFrames = 44100 * 6;
    Files files;
    std::filesystem::path path;
    TrackBufferRef whole;
};

TEST_P(RangeTest, StartsAtTheExactFrameAndDeliversTheWantedLength)
{
    // Near the start (decoded through) and far in (sought).
    for (auto [lower, upper] : {std::pair{0.25, 0.75}, std::pair{3.3, 4.1}, std::pair{1.0 / kRate, 0.5}}) {
        const auto part = AudioFileIO::decode(path, kRate, AudioFileIO::Range{lower, upper});
        const auto first = std::int64_t(lower * kRate);
        ASSERT_EQ(part->frames, std::int64_t((upper - lower) * kRate)) << lower;
        for (std::int64_t i = 0; i < part->frames; i += 97) {
            ASSERT_EQ(part->left[i], whole->left[first + i]) << lower << " frame " << i;
            ASSERT_EQ(part->right[i], whole->right[first + i]) << lower << " frame " << i;
        }
    }
}

TEST_P(RangeTest, ClampsALowerBoundBelowZeroAndEndsAtTheFileEnd)
{
    const auto early = AudioFileIO::decode(path, kRate, AudioFileIO::Range{-2.0, 0.5});
    ASSERT_EQ(early->frames, 22050);
    EXPECT_EQ(early->left[0], whole->left[0]);
    EXPECT_EQ(early->left[22049], whole->left[22049]);

    const auto tail = AudioFileIO::decode(path, kRate, AudioFileIO::Range{5.5, 9.0});
    EXPECT_NEAR(double(tail->frames), double(whole->frames - 5.5 * kRate), 1.0);
    EXPECT_EQ(tail->left[tail->frames - 1], whole->left[whole->frames - 1]);

    // "To the end" bounds reserve only what the file holds.
    for (double upper : {1e300, std::numeric_limits<double>::infinity()}) {
        const auto rest = AudioFileIO::decode(path, kRate, AudioFileIO::Range{1.0, upper});
        EXPECT_EQ(rest->frames, whole->frames - 44100);
    }
}

TEST_P(RangeTest, EmptyOrOutsideRangesHoldNoAudio)
{
    const std::string name = path.filename().string();
    for (auto [lower, upper] : {std::pair{3.0, 2.0}, std::pair{2.0, 2.0}, std::pair{7.0, 8.0}}) {
        const auto error = thrown([&] { AudioFileIO::decode(path, kRate, AudioFileIO::Range{lower, upper}); });
        // Past the end a seek may fail instead; either names what went wrong.
        if (error.kind() == AudioFileError::Kind::empty)
            EXPECT_EQ(error.description(), name + " holds no audio");
        else
            EXPECT_EQ(error.step(), "seek");
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RangeTest,
                         ::testing::Values(AudioFormat::wavFloat, AudioFormat::wav16, AudioFormat::flac,
                                           AudioFormat::mp3, AudioFormat::m4a),
                         [](const auto& info) { return formatName(info.param); });

// A decode that may be stopped reads in steps: at another rate, where a
// decoded frame straddles each step's end, it still gives exactly the samples
// of a decode in one go. Asked to stop, it gives up with the stopped status.
TEST(AudioFileIOTest, AStoppableDecodeReadsTheSameSamplesAndEndsAtItsStop)
{
    Files files;
    for (const AudioFormat format : {AudioFormat::wav16, AudioFormat::mp3}) {
        SCOPED_TRACE(extensionOf(format));
        const auto path = files(std::string("steps") + extensionOf(format));
        test::writeAudioFile(path, format, test::generate(2, 44100 * 5, 44100, partials(44100)));
        const TrackBufferRef whole = AudioFileIO::decode(path, 48000);
        std::stop_source stop;
        const TrackBufferRef stepped = AudioFileIO::decode(path, 48000, std::nullopt, stop.get_token());
        ASSERT_GT(whole->frames, 3 * AudioFileIO::kStopStep);
        ASSERT_EQ(stepped->frames, whole->frames);
        EXPECT_TRUE(std::equal(whole->left, whole->left + whole->frames, stepped->left));
        EXPECT_TRUE(std::equal(whole->right, whole->right + whole->frames, stepped->right));

        stop.request_stop();
        const auto error = thrown([&] { AudioFileIO::decode(path, 48000, std::nullopt, stop.get_token()); });
        EXPECT_EQ(error.step(), "decode " + path.filename().string());
        EXPECT_EQ(error.status(), AudioFileIO::kStopped);
    }
}

TEST(AudioFileIOTest, RangeAtAnotherRateCountsFramesAtThatRate)
{
    Files files;
    const auto path = files("tone.flac");
    test::writeAudioFile(path, AudioFormat::flac, test::generate(2, 44100 * 4, 44100, test::sine(500, 44100)));
    const auto whole = AudioFileIO::decode(path, 48000);
    const auto part = AudioFileIO::decode(path, 48000, AudioFileIO::Range{2.0, 3.0});
    ASSERT_EQ(part->frames, 48000);
    // Past the resampler's start-up edge the range matches the whole decode.
    double worst = 0;
    for (std::int64_t i = 64; i < part->frames - 64; ++i)
        worst = std::max(worst, double(std::fabs(part->left[i] - whole->left[96000 + i])));
    EXPECT_LT(worst, 1e-3);
}

// ---- files that hold no audio or are broken ---------------------------------

TEST(AudioFileIOTest, BrokenFilesFailWithClearErrors)
{
    Files files;
    test::writeEmptyWav(files("silence.wav"));
    EXPECT_EQ(thrown([&] { AudioFileIO::decode(files("silence.wav"), 44100); }).description(),
              "silence.wav holds no audio");

    test::writeTextFile(files("notes.mp3"), "these are my set notes, not a song\n");
    const auto text = thrown([&] { AudioFileIO::decode(files("notes.mp3"), 44100); });
    EXPECT_EQ(text.kind(), AudioFileError::Kind::os);
    EXPECT_EQ(text.step(), "open notes.mp3");

    const auto missing = thrown([&] { AudioFileIO::decode(files("gone.flac"), 44100); });
    EXPECT_EQ(missing.description(), "open gone.flac failed (-2)");

    test::writeAudioFile(files("ok.wav"), AudioFormat::wav16, test::generate(2, 4410, 44100, rampAt));
    for (double rate : {0.0, -44100.0, std::nan("")}) {
        EXPECT_EQ(thrown([&] { AudioFileIO::decode(files("ok.wav"), rate); }).step(), "set client format");
    }
}

// A file cut in its bytes (a copy still under way, a broken download) is
// refused where its container states the whole length, at the file's rate and
// at another, and decodes what is there where the length is only an estimate.
TEST(AudioFileIOTest, AFileCutShortFailsWhereItsLengthIsStated)
{
    Files files;
    const std::int64_t frames = 44100 * 2;
    for (auto format : {AudioFormat::wav16, AudioFormat::wavFloat, AudioFormat::aiff16, AudioFormat::flac,
                        AudioFormat::mp3, AudioFormat::m4a}) {
        const auto full = files(formatName(format) + extensionOf(format));
        test::writeAudioFile(full, format, test::generate(2, frames, 44100, rampAt));
        for (double keep : {0.4, 0.9}) {
            SCOPED_TRACE(formatName(format) + " cut to " + std::to_string(keep));
            const auto cut = files("cut" + std::to_string(int(keep * 100)) + formatName(format) + extensionOf(format));
            test::writeTruncatedCopy(full, cut, keep);
            for (double rate : {44100.0, 48000.0}) {
                if (format == AudioFormat::mp3 || format == AudioFormat::m4a) {
                    try {
                        const auto buffer = AudioFileIO::decode(cut, rate);
                        EXPECT_GT(double(buffer->frames), frames * rate / 44100 * keep * 0.8);
                        EXPECT_LT(double(buffer->frames), frames * rate / 44100);
                    } catch (const AudioFileError& e) {
                        // A container whose index sits at the end may be
                        // unreadable; that is a clean failure, not a crash.
                        EXPECT_EQ(format, AudioFormat::m4a) << e.what();
                    }
                    continue;
                }
                const auto error = thrown([&] { AudioFileIO::decode(cut, rate); });
                EXPECT_EQ(error.status(), AudioFileIO::kCutShort);
                EXPECT_TRUE(error.step().starts_with("decode " + cut.filename().string() + " (it ends at ")
                            && error.step().ends_with(" of the 2.00 s its header states)"))
                    << error.description();
                // A range reaching into what was cut off fails the same way.
                EXPECT_EQ(thrown([&] { AudioFileIO::decode(cut, rate, AudioFileIO::Range{0.2, 1.9}); }).status(),
                          AudioFileIO::kCutShort);
            }
        }
    }
}

// Some writers put the bytes of one sample, not of a frame, in a WAV's block
// alignment; the decoder reads the whole file regardless, and so must the
// check of its length.
TEST(AudioFileIOTest, AWholeWavWithAWrongBlockAlignmentIsNotTakenForACutOne)
{
    Files files;
    for (std::uint16_t align : {1, 2, 8}) {
        SCOPED_TRACE(align);
        std::string bytes = test::wavBytes(44100, 2, 44100 * 4 * 3);
        bytes[32] = char(align);
        bytes[33] = 0;
        const auto path = files("align" + std::to_string(align) + ".wav");
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        EXPECT_EQ(AudioFileIO::decode(path, 44100)->frames, 44100 * 3);
    }
}

TEST(AudioFileIOTest, AHeaderClaimingHoursOfAudioDecodesWhatTheFileHolds)
{
    // An AIFF whose header claims 2^31 − 1 frames but holds half a second: the
    // claim alone must not decide how much memory the decode takes.
    Files files;
    const auto path = files("liar.aiff");
    test::writeAudioFile(path, AudioFormat::aiff16, test::generate(1, 4000, 8000, rampAt));
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t comm = bytes.find("COMM");
    ASSERT_NE(comm, std::string::npos);
    bytes.replace(comm + 10, 4, "\x7f\xff\xff\xff", 4); // numSampleFrames, big-endian
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

    test::LargestAllocationScope watch;
    const auto buffer = AudioFileIO::decode(path, 192000);
    EXPECT_EQ(buffer->frames, 4000 * 24);
    // What the bytes hold is reserved, not 20 minutes at 192 kHz.
    EXPECT_LT(watch.largest(), 2u << 20);
}

// ---- what no music file holds ---------------------------------------------

std::string readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Files whose headers state what no music file holds are refused before the
// decoder sets anything up for them; the largest allocation stays small.
TEST(AudioFileIOTest, ImplausibleFormatsAreRefusedBeforeAnythingIsAllocated)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::string description;
    };
    const std::vector<Case> cases = {
        // 12 KB that claim 6,000 frames at 1 Hz: "100 minutes", each frame
        // 48,000 frames at the deck's rate.
        {"hum.wav", test::wavBytes(1, 1, 12000), "check sample rate (1 Hz) failed (-34)"},
        {"low.wav", test::wavBytes(999, 1, 12000), "check sample rate (999 Hz) failed (-34)"},
        {"high.wav", test::wavBytes(1'536'001, 1, 12000), "check sample rate (1536001 Hz) failed (-34)"},
        {"wide.wav", test::wavBytes(44100, 65, 65 * 2 * 100), "check channels (65) failed (-34)"},
        {"crowd.caf", test::cafBytes(44100, 1'000'000, 12000), "check channels (1000000) failed (-34)"},
        {"mute.wav", test::wavBytes(44100, 0, 12000), "mute.wav holds no audio"},
    };
    Files files;
    for (const Case& c : cases) {
        const auto path = files(c.name);
        test::writeTextFile(path, c.bytes);
        test::LargestAllocationScope watch;
        const auto error = thrown([&] { AudioFileIO::decode(path, 48000); });
        EXPECT_EQ(error.description(), c.description);
        EXPECT_LT(watch.largest(), 4u << 20) << c.name;
    }

    // The bounds themselves are music rates.
    for (std::uint32_t rate : {1000u, 1'536'000u}) {
        const auto path = files("edge" + std::to_string(rate) + ".wav");
        test::writeTextFile(path, test::wavBytes(rate, 1, 12000));
        EXPECT_NEAR(double(AudioFileIO::decode(path, 48000)->frames), 6000.0 * 48000 / rate, 2.0) << rate;
    }
}

// The length cap holds at any rate, so a file just past four hours can be made
// small: silence at 1 kHz, decoded at 1 kHz.
class LengthCapTest : public ::testing::Test {
protected:
    static constexpr double kRate = 1000;
    static constexpr std::int64_t kCap = 4 * 3600 * 1000;

    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        write("under.flac", kCap - 60'000);
        write("over.flac", kCap + 60'000);
        // The same file with a header that claims one second: the cap holds
        // while decoding too.
        std::string bytes = readAll(path("over.flac"));
        const std::size_t info = bytes.find("fLaC") + 8; // STREAMINFO body
        ASSERT_LT(info + 18, bytes.size());
        // Total samples: the low 36 bits of bytes 13 to 17 of the block.
        bytes[info + 13] = char(bytes[info + 13] & 0xF0);
        bytes[info + 14] = 0;
        bytes[info + 15] = 0;
        bytes[info + 16] = char(0x03);
        bytes[info + 17] = char(0xE8);
        test::writeTextFile(path("understated.flac"), bytes);
    }
    static void TearDownTestSuite() { delete dir; }

    static std::filesystem::path path(const char* name) { return dir->filePath(name).toStdString(); }
    static void write(const char* name, std::int64_t frames)
    {
        test::writeAudioFile(path(name), AudioFormat::flac,
                             test::generate(1, frames, kRate, [](int, std::int64_t) { return 0.0f; }));
    }

    static QTemporaryDir* dir;
};

QTemporaryDir* LengthCapTest::dir = nullptr;

TEST_F(LengthCapTest, AFileUnderFourHoursDecodesWhole)
{
    EXPECT_EQ(AudioFileIO::decode(path("under.flac"), kRate)->frames, kCap - 60'000);
}

TEST_F(LengthCapTest, AFileOverFourHoursIsRefusedUpFrontOrAtTheCap)
{
    {
        // Its header says so: refused before the decoder reserves anything.
        test::LargestAllocationScope watch;
        const auto error = thrown([&] { AudioFileIO::decode(path("over.flac"), kRate); });
        EXPECT_EQ(error.description(), "check length (over 4 hours) failed (-34)");
        EXPECT_LT(watch.largest(), 4u << 20);
    }
    {
        // Its header lies: decoding stops at the cap, never holding much more.
        test::LargestAllocationScope watch;
        const auto error = thrown([&] { AudioFileIO::decode(path("understated.flac"), kRate); });
        EXPECT_EQ(error.description(), "check length (over 4 hours) failed (-34)");
        EXPECT_LE(watch.largest(), std::size_t(kCap + 16384) * sizeof(float));
        EXPECT_GE(watch.largest(), std::size_t(kCap) * sizeof(float)); // it did decode up to the cap
    }
    // A range inside such a file is fine.
    EXPECT_EQ(AudioFileIO::decode(path("over.flac"), kRate, AudioFileIO::Range{60, 120})->frames, 60'000);
}

TEST(AudioFileIOTest, AFileOfUnknownLengthDecodesEveryFrameAsItGrows)
{
    // A FLAC stream may leave its total length unknown (0 in its header): the
    // samples arrive without a size to reserve, through many grown arrays, and
    // must come out exactly as from the same file with its length stated.
    Files files;
    const std::int64_t frames = 44100 * 7 + 123;
    const auto stated = files("stated.flac");
    const auto unknown = files("unknown.flac");
    test::writeAudioFile(stated, AudioFormat::flac, test::generate(2, frames, 44100, rampAt));
    std::string bytes;
    {
        std::ifstream in(stated, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_EQ(bytes.compare(0, 4, "fLaC"), 0);
    // The stream information block starts at byte 8; its 36-bit sample count
    // takes the low half of byte 21 and bytes 22 to 25.
    bytes[21] = char(bytes[21] & 0xf0);
    bytes.replace(22, 4, 4, '\0');
    std::ofstream(unknown, std::ios::binary | std::ios::trunc) << bytes;

    for (double rate : {44100.0, 48000.0}) {
        const auto a = AudioFileIO::decode(stated, rate);
        const auto b = AudioFileIO::decode(unknown, rate);
        ASSERT_EQ(b->frames, a->frames) << rate;
        EXPECT_TRUE(std::equal(a->left, a->left + a->frames, b->left)) << rate;
        EXPECT_TRUE(std::equal(a->right, a->right + a->frames, b->right)) << rate;
        if (rate == 44100.0) {
            ASSERT_EQ(b->frames, frames);
            for (std::int64_t i = 0; i < frames; i += 997)
                ASSERT_EQ(b->right[i], rampAt(1, i)) << i;
        }
    }
}

// Growing copies everything decoded so far, which for an hour of audio takes
// longer than a stop may wait. A stop requested as a channel starts to grow is
// seen before the other channel grows, and nothing is kept.
TEST(AudioFileIOTest, AStopWhileTheArraysGrowIsSeenBeforeTheyGrowFurther)
{
    Files files;
    const auto path = files("unknown.flac");
    test::writeAudioFile(path, AudioFormat::flac,
                         test::generate(1, 44100 * 20, 44100, [](int, std::int64_t) { return 0.0f; }));
    // No length in the header: nothing is reserved ahead, the arrays grow.
    std::string bytes = readAll(path);
    bytes[21] = char(bytes[21] & 0xf0);
    bytes.replace(22, 4, 4, '\0');
    test::writeTextFile(path, bytes);

    for (std::size_t growth : {std::size_t(1) << 20, std::size_t(3) << 20}) {
        SCOPED_TRACE(growth);
        std::stop_source stop;
        test::LargeAllocationHook hook(
            growth, [](void* source) { static_cast<std::stop_source*>(source)->request_stop(); }, &stop);
        const auto error = thrown([&] { AudioFileIO::decode(path, 44100, std::nullopt, stop.get_token()); });
        EXPECT_EQ(error.status(), AudioFileIO::kStopped);
        EXPECT_EQ(hook.seen, 1); // the other channel never grew
    }
}

// ---- writing ----------------------------------------------------------------

struct WavInfo {
    SF_INFO info{};
    std::vector<float> samples; // interleaved
};

WavInfo readWav(const std::filesystem::path& path)
{
    WavInfo w;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &w.info);
    if (!f) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return w;
    }
    w.samples.resize(std::size_t(w.info.frames * w.info.channels));
    sf_readf_float(f, w.samples.data(), w.info.frames);
    sf_close(f);
    return w;
}

TEST(AudioFileIOTest, WritesSixteenBitOrFloatAndReadsBack)
{
    Files files;
    const auto audio = test::generate(2, 30000, 44100, rampAt);
    const float* l = audio.channels[0].data();
    const float* r = audio.channels[1].data();
    for (int depth : {16, 24, 32}) {
        const auto path = files("out" + std::to_string(depth) + ".wav");
        AudioFileIO::writeWAV(path, l, r, 30000, 44100, 44100, depth);
        const auto w = readWav(path);
        EXPECT_EQ(w.info.format, SF_FORMAT_WAV | (depth == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT)) << depth;
        ASSERT_EQ(w.info.frames, 30000);
        EXPECT_EQ(w.info.channels, 2);
        EXPECT_EQ(w.info.samplerate, 44100);
        const float tolerance = depth == 16 ? 1.0f / 32767 : 0.0f;
        for (std::int64_t i = 0; i < 30000; i += 31) {
            ASSERT_NEAR(w.samples[std::size_t(2 * i)], l[i], tolerance) << depth << " frame " << i;
            ASSERT_NEAR(w.samples[std::size_t(2 * i + 1)], r[i], tolerance) << depth << " frame " << i;
        }
        // What we write, we decode.
        EXPECT_EQ(AudioFileIO::decode(path, 44100)->frames, 30000);
    }
}

TEST(AudioFileIOTest, WriteConvertsRateWithExactLengthAndAlignment)
{
    Files files;
    struct Case { double rate, fileRate; std::int64_t frames; std::vector<std::int64_t> at; };
    for (const auto& c : {Case{48000, 44100, 48000 * 2 + 7, {0, 4800, 33600, 96000}},
                          Case{44100, 48000, 44100 * 2 + 3, {0, 4410, 30870, 88200}},
                          Case{44100, 22050, 44100 + 1, {0, 2000, 44100}},
                          Case{48000, 48000, 1000, {0, 500, 999}}}) {
        const auto path = files("converted.wav");
        const auto audio = test::generate(2, c.frames, c.rate, test::impulses(c.at, 0.8f));
        AudioFileIO::writeWAV(path, audio.channels[0].data(), audio.channels[1].data(), c.frames, c.rate,
                              c.fileRate, 32);
        const auto w = readWav(path);
        EXPECT_EQ(w.info.samplerate, int(c.fileRate));
        ASSERT_EQ(w.info.frames, std::llround(double(c.frames) * c.fileRate / c.rate)) << c.rate << "->" << c.fileRate;
        for (std::int64_t k : c.at) {
            const auto expected = std::llround(double(k) * c.fileRate / c.rate);
            if (expected >= w.info.frames)
                continue;
            // The impulse peaks where it belongs, not a filter delay later.
            std::int64_t peak = std::max<std::int64_t>(expected - 40, 0);
            for (std::int64_t i = peak; i < std::min<std::int64_t>(expected + 40, w.info.frames); ++i)
                if (std::fabs(w.samples[std::size_t(2 * i)]) > std::fabs(w.samples[std::size_t(2 * peak)]))
                    peak = i;
            EXPECT_EQ(peak, expected) << c.rate << "->" << c.fileRate << " impulse at " << k;
        }
    }
}

TEST(AudioFileIOTest, LoudSamplesClipInsteadOfWrapping)
{
    Files files;
    const float left[] = {1.5f, -1.5f, 3.0f, 0.25f};
    const float right[] = {-4.0f, 1.0f, -1.0f, 0.0f};
    AudioFileIO::writeWAV(files("hot16.wav"), left, right, 4, 48000, 48000, 16);
    const auto w = readWav(files("hot16.wav"));
    ASSERT_EQ(w.info.frames, 4);
    EXPECT_NEAR(w.samples[0], 1.0f, 1e-4);
    EXPECT_NEAR(w.samples[1], -1.0f, 1e-4);
    EXPECT_NEAR(w.samples[2], -1.0f, 1e-4);
    EXPECT_NEAR(w.samples[4], 1.0f, 1e-4);
    EXPECT_NEAR(w.samples[6], 0.25f, 1e-4);

    // A float file keeps the level as it is.
    AudioFileIO::writeWAV(files("hot32.wav"), left, right, 4, 48000, 48000, 32);
    EXPECT_EQ(readWav(files("hot32.wav")).samples[4], 3.0f);
}

TEST(AudioFileIOTest, WritesZeroFramesAsAValidEmptyFileAndReplacesOldOnes)
{
    Files files;
    const auto path = files("take.wav");
    const auto audio = test::generate(2, 10000, 48000, rampAt);
    AudioFileIO::writeWAV(path, audio.channels[0].data(), audio.channels[1].data(), 10000, 48000, 48000, 16);
    const float one = 0;
    AudioFileIO::writeWAV(path, &one, &one, 0, 48000, 44100, 32);
    const auto w = readWav(path);
    EXPECT_EQ(w.info.frames, 0);
    EXPECT_EQ(w.info.channels, 2);
    EXPECT_EQ(w.info.samplerate, 44100);
    EXPECT_EQ(thrown([&] { AudioFileIO::decode(path, 48000); }).description(), "take.wav holds no audio");
}

TEST(AudioFileIOTest, BufferFormWritesAtTheBuffersOwnRateByDefault)
{
    Files files;
    TrackBufferRef buffer(4800, 48000);
    buffer->left[100] = 0.5f;
    buffer->right[200] = -0.5f;
    AudioFileIO::writeWAV(files("take.wav"), *buffer);
    const auto w = readWav(files("take.wav"));
    EXPECT_EQ(w.info.samplerate, 48000);
    EXPECT_EQ(w.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(w.info.frames, 4800);
    EXPECT_EQ(w.samples[200], 0.5f);
    EXPECT_EQ(w.samples[401], -0.5f);

    AudioFileIO::writeWAV(files("take44.wav"), *buffer, 44100.0, 16);
    EXPECT_EQ(readWav(files("take44.wav")).info.frames, 4410);
}

TEST(AudioFileIOTest, CreateFailureThrowsAndNamesTheFile)
{
    Files files;
    // A regular file where a folder should be: fails even for root.
    test::writeTextFile(files("not-a-folder"), "x");
    const float one = 0.1f;
    const auto error = thrown([&] {
        AudioFileIO::writeWAV(files("not-a-folder") / "take.wav", &one, &one, 1, 48000, 48000, 16);
    });
    EXPECT_EQ(error.kind(), AudioFileError::Kind::os);
    EXPECT_EQ(error.step(), "create take.wav");
    EXPECT_NE(error.status(), 0);
    EXPECT_EQ(error.description().rfind("create take.wav failed (", 0), 0u);
}

} // namespace
} // namespace zelvo
