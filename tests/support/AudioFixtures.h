#pragma once
// Audio files made by the tests themselves: generated signals written as WAV,
// AIFF and CAF through libsndfile and as FLAC, MP3, AAC and ALAC through
// FFmpeg's encoders, plus broken files (no frames, cut short, not audio).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelvo::test {

// Planar audio: one vector of samples per channel, all the same length.
struct Audio {
    std::vector<std::vector<float>> channels;
    double sampleRate = 44100.0;

    std::int64_t frames() const { return channels.empty() ? 0 : std::int64_t(channels[0].size()); }
};

// A sample value for a channel and frame.
using Generator = std::function<float(int channel, std::int64_t frame)>;

// Fills `channels` channels of `frames` frames from a generator.
Audio generate(int channels, std::int64_t frames, double sampleRate, const Generator& signal);

// A sine of `frequency` Hz, the same on every channel.
Generator sine(double frequency, double sampleRate, float amplitude = 0.5f);
// A ramp whose value tells the frame (modulo 65536): (frame mod 65536 − 32768) / 32768.
// Every value is exact in 16-bit, 24-bit and float files.
Generator ramp();
float rampValue(std::int64_t frame);
// The frame (modulo 65536) a ramp value stands for.
std::int64_t rampFrame(float value);
// Silence with `amplitude` at each listed frame.
Generator impulses(std::vector<std::int64_t> frames, float amplitude = 1.0f);

enum class AudioFormat {
    wav16,    // WAV, 16-bit integer (libsndfile)
    wav24,    // WAV, 24-bit integer (libsndfile)
    wavFloat, // WAV, 32-bit float (libsndfile)
    aiff16,   // AIFF, 16-bit integer (libsndfile)
    caf,      // CAF holding ALAC, 16-bit (libsndfile)
    flac,     // FLAC, 16-bit (FFmpeg)
    mp3,      // MP3 from LAME at 192 kbit/s with its delay and padding header (FFmpeg)
    m4a,      // AAC in an MPEG-4 file at 192 kbit/s (FFmpeg)
    adts,     // raw AAC (ADTS) as .aac files hold it (FFmpeg)
    alac,     // ALAC in an MPEG-4 file (FFmpeg)
};

// Tags written into the file (ID3, MP4 or Vorbis tags, or the WAV/AIFF/CAF text
// chunks); empty fields are left out.
struct Tags {
    std::string title;
    std::string artist;
    std::string album;
};

// Writes the audio in the given format. Throws std::runtime_error on failure.
void writeAudioFile(const std::filesystem::path& path, AudioFormat format, const Audio& audio,
                    const Tags& tags = {});
// A valid 16-bit stereo WAV file with no frames.
void writeEmptyWav(const std::filesystem::path& path, double sampleRate = 44100.0);
// Copies the first `keepFraction` of a file's bytes to `to`.
void writeTruncatedCopy(const std::filesystem::path& from, const std::filesystem::path& to, double keepFraction);
// A plain text file (for example one named .mp3 that is not audio).
void writeTextFile(const std::filesystem::path& path, const std::string& text);

// The bytes of a 16-bit PCM WAV file whose header states whatever a test asks,
// however implausible: any rate and channel count, and a data chunk that says it
// holds `statedBytes` (default: the body's size) followed by `bodyBytes` bytes
// of a quiet ramp.
std::string wavBytes(std::uint32_t rate, std::uint16_t channels, std::uint64_t bodyBytes,
                     std::optional<std::uint32_t> statedBytes = std::nullopt);
// The bytes of a CAF file of 16-bit big-endian PCM whose description states any
// rate and channel count, with `bodyBytes` bytes of data.
std::string cafBytes(double rate, std::uint32_t channels, std::uint64_t bodyBytes);

// Signal measures for comparing decoded audio with what was encoded.
double rms(const float* samples, std::int64_t frames);
// Normalised cross-correlation of two signals at zero lag (1 = same shape).
double correlation(const float* a, const float* b, std::int64_t frames);

} // namespace zelvo::test
