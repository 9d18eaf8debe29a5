#pragma once
// Writes a two-channel WAV file through libsndfile: 16-bit integer or 32-bit
// float samples, with clipping on, so samples beyond full scale clip instead of
// wrapping around. Statuses are libsndfile error numbers (0 = success).
#include <cstdint>
#include <string>

struct sf_private_tag;

namespace zelvo {

class WavFileWriter {
public:
    WavFileWriter() = default;
    ~WavFileWriter();
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;

    // Creates (or truncates) the file at `path` (UTF-8) with the given rate and
    // sample format. Returns the status; `isOpen` tells whether a handle exists.
    // Any thread; one writer is used by one thread.
    int create(const std::string& path, int sampleRate, bool sixteenBit);
    bool isOpen() const { return file_ != nullptr; }
    // Writes `frames` interleaved stereo frames. Returns the status.
    int write(const float* interleaved, std::int64_t frames);
    // Rewrites the header to cover every frame written so far, so the file is a
    // valid WAV even if it is never closed. Returns the status.
    int updateHeader();
    // Finishes the header and closes the file. Returns the status.
    int close();

private:
    sf_private_tag* file_ = nullptr;
};

} // namespace zelvo
