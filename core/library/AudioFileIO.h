#pragma once
// Audio files to buffers and buffers to WAV files. All operations are
// synchronous, keep no shared state, may be called from any thread except the
// audio thread, and throw AudioFileError.
#include "library/AudioFileError.h"
#include "library/TrackBuffer.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace zelvo::AudioFileIO {

// A closed interval of seconds in a file.
struct Range {
    double lower = 0.0;
    double upper = 0.0;
};

// Decodes a file (MP3, WAV, AIFF, FLAC, AAC/M4A/MP4, ALAC, CAF, ...) to two
// planar float channels at `sampleRate`. Mono reaches both channels at full
// level; more channels are mixed down. With a range, decoding starts at file
// frame ⌊max(lower, 0) × file rate⌋ and delivers at most
// ⌊(upper − max(lower, 0)) × sampleRate⌋ frames; an inverted or empty range, or
// a file without audio, throws `empty`. With a `stop` that can be requested,
// the file is read in steps of at most `kStopStep` frames and the request is
// looked at before each: once made, what was read is freed and the decode
// throws with status `kStopped` ("decode <name>"). A read the file system
// never answers is not cut short. A file whose container states its exact
// length (PCM WAV and AIFF, FLAC with a sample count) and that ends clearly
// before it was cut: the decode throws with status `kCutShort` ("decode <name>
// (it ends at <s> s of the <s> s its header states)") and returns nothing.
// Any thread but the audio thread.
TrackBufferRef decode(const std::filesystem::path& url, double sampleRate,
                      std::optional<Range> range = std::nullopt, std::stop_token stop = {});

// Output frames read between two looks at a decode's stop request: about 1.4 s
// at 48 kHz, a few milliseconds of work for any codec.
constexpr std::int64_t kStopStep = 65536;
// The status of a decode given up at its stop request (ECANCELED, as FFmpeg
// returns it).
constexpr std::int32_t kStopped = -125;
// The status of a file cut short (AVERROR_INVALIDDATA, as FFmpeg returns it for
// damaged input).
constexpr std::int32_t kCutShort = -1094995529;

// Writes `frames` frames of two planar channels at `sampleRate` into a stereo
// WAV file at `fileSampleRate`: 16-bit integer when `bitDepth` is 16, else
// 32-bit float; samples beyond full scale clip. The file starts at the first
// frame and holds round(frames × fileSampleRate / sampleRate) frames. An
// existing file is replaced. Any thread but the audio thread.
void writeWAV(const std::filesystem::path& url, const float* left, const float* right, std::int64_t frames,
              double sampleRate, double fileSampleRate, int bitDepth);

// The same for a buffer; the file's rate defaults to the buffer's own.
void writeWAV(const std::filesystem::path& url, const TrackBuffer& buffer,
              std::optional<double> fileSampleRate = std::nullopt, int bitDepth = 32);

} // namespace zelvo::AudioFileIO
