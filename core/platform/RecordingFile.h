#pragma once
// A stereo 32-bit float WAV file written as it grows, for recordings of the
// master. Its header is rewritten after every batch, so the file on disk is a
// valid WAV of everything written so far, even if the program stops without
// closing it. One thread writes a file at a time (the recorder's writer thread).
#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

class RecordingFile {
public:
    virtual ~RecordingFile() = default;

    // Appends `frames` interleaved stereo frames; false when the write failed
    // (for example a full disk). The writing thread.
    virtual bool write(const float* interleaved, std::int64_t frames) = 0;
    // Brings the header up to the frames written so far; false on failure. The
    // writing thread.
    virtual bool updateHeader() = 0;
    // Writes the final header and closes; false on failure. Later calls do
    // nothing. The writing thread.
    virtual bool close() = 0;
    // The status of the last failure (a libsndfile error number), 0 when none.
    // The writing thread.
    virtual int lastStatus() const = 0;
};

// Why a recording file could not be made: the step that failed and its status.
struct RecordingFileFailure {
    std::string step; // "recording format", "create recording" or "prime recorder"
    int status;
};

// Creates (replacing any file at `path`) a two-channel 32-bit float WAV at
// `sampleRate`, ready to write. On failure returns null and fills `failure`.
// Any thread but the audio thread.
std::unique_ptr<RecordingFile> createWavRecording(const std::string& path, double sampleRate,
                                                  RecordingFileFailure& failure);

} // namespace zelvo
