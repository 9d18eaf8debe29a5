#pragma once
// Reads one audio file (any format FFmpeg opens) as two-channel planar float at
// a chosen rate. Mono reaches both channels at full level; more channels are
// mixed down to two. Encoder delay and padding recorded in the file are trimmed,
// so a file decodes to the length of the audio that was encoded.
//
// Every call returns a status: 0 (or a frame count) on success, a negative
// FFmpeg error code on failure. The caller names the step.
#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

class AudioFileReader {
public:
    // Status of `readFormat` for a file that opens but has no audio stream.
    static constexpr int kNoAudio = 1;

    AudioFileReader();
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    // Opens the file (UTF-8 path). Any thread; one reader is used by one thread.
    int open(const std::string& path);
    // Finds the audio stream and its format; kNoAudio when there is none.
    int readFormat();
    // Sample rate of the file's audio, in frames per second.
    double fileRate() const;
    // Channels of the file's audio.
    int channels() const;
    // Length in file frames as the container states it (an estimate for some
    // formats); 0 when unknown.
    std::int64_t lengthFrames() const;
    // Sets up the decoder and the conversion to two planar float channels at
    // `sampleRate`.
    int setOutputRate(double sampleRate);
    // Positions the reader so the next output starts at file frame `fileFrame`
    // (sample-accurate). Before the first `read` only.
    int seek(std::int64_t fileFrame);
    // Reads up to `frames` output frames into the two channels; returns the
    // frames read, 0 at the end of the file, or a negative status.
    std::int64_t read(float* left, float* right, std::int64_t frames);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace zelvo
