#pragma once
// Reads one audio file (any format FFmpeg opens) as two-channel planar float at
// a chosen rate. Mono reaches both channels at full level; more channels are
// mixed down to two: by their speaker positions where the file's order is one
// FFmpeg knows, else by pairs (the first of each pair to the left, the second
// to the right, an unpaired last one to both, each side's channels weighted
// equally so full scale stays full scale). Encoder delay and padding recorded
// in the file are trimmed, so a file decodes to the length of the audio that
// was encoded.
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
    // The formats music files come in. A stream or a decoded frame outside them
    // is damaged or hostile: a rate of a few hertz turns each input frame into
    // tens of thousands of output frames, and the resampler takes at most 64
    // channels.
    static constexpr int kLowestRate = 1000;
    static constexpr int kHighestRate = 1'536'000;
    static constexpr int kMostChannels = 64;
    // Status of `read` when a decoded frame leaves those bounds.
    static constexpr int kFormatOutOfRange = -34; // ERANGE

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
    // Length in file frames where the container states it exactly: the data
    // chunk of a PCM WAV file, the frame count of a PCM AIFF file, the sample
    // count in a FLAC stream's header. 0 where the file states none, or only an
    // estimate (MP3, most others), or a WAV data size that streaming writers
    // leave as a placeholder. A file that decodes clearly short of it was cut.
    std::int64_t statedFrames() const;
    // The most file frames the file's bytes can hold: exact for codecs with a
    // fixed number of bits per sample (PCM, ADPCM), else the file's size times a
    // ratio no codec's compression reaches. The maximum of int64 when the size
    // is unknown.
    std::int64_t mostFileFrames() const;
    // Whether `mostFileFrames` is exact (a codec with a fixed number of bits
    // per sample): the frames it counts are in the file's bytes.
    bool mostFileFramesExact() const;
    // Sets up the decoder and the conversion to two planar float channels at
    // `sampleRate`.
    int setOutputRate(double sampleRate);
    // Positions the reader so the next output starts at file frame `fileFrame`
    // (sample-accurate). Before the first `read` only.
    int seek(std::int64_t fileFrame);
    // Whether decoding runs on a thread of its own beside the conversion (the
    // default) or on the reading thread. A reader whose thread may use only one
    // CPU decodes on that thread either way. Before the first `read` only.
    void setDecodeAhead(bool on);
    // Reads up to `frames` output frames into the two channels; returns the
    // frames read, 0 at the end of the file, or a negative status. Each decoded
    // frame is resampled in pieces, so what the reader holds stays within a few
    // of its chunks however much one packet expands.
    std::int64_t read(float* left, float* right, std::int64_t frames);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace zelvo
