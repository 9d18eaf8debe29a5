#pragma once
// The last stretch (75 s in the engine) of what the master output played, kept
// as 16-bit stereo so a fork of the whole mix can send what was just heard.
// One writer (the audio thread) and any number of readers.
#include "library/TrackBuffer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace zelvo {

class MasterTap {
public:
    // A recent copy of the master and where it ends.
    struct Snapshot {
        TrackBufferRef buffer;
        // The master frame, in the count of frames written, just after the last
        // copied frame.
        std::int64_t endFrame;
    };

    // Room for `seconds` at `sampleRate` (at least one frame), silent. `seconds`
    // must be finite. Allocates: main thread.
    MasterTap(double sampleRate, double seconds);
    MasterTap(const MasterTap&) = delete;
    MasterTap& operator=(const MasterTap&) = delete;

    // Appends `frames` frames, each sample clipped to −1…1 and stored as
    // trunc(x·32767) (NaN as 32767). Audio thread only (the one writer).
    void write(std::int64_t frames, const float* left, const float* right) noexcept;

    // Seconds of audio held: min(seconds, written / sampleRate). Any thread.
    double available() const noexcept;
    // Up to `seconds` of the most recent audio, ending one maximum engine slice
    // (4096 frames) behind the writer; none when fewer than 4097 frames were
    // written or the request is under one frame. Should the writer lap the copy
    // while it is taken, the oldest frames it may have overwritten are left out.
    // Any thread but the writer's; allocates the returned buffer.
    std::optional<Snapshot> snapshot(double seconds) const;

    // Frames written since construction. Any thread.
    std::int64_t written() const noexcept { return written_.load(std::memory_order_acquire); }
    // Ring length in frames. Any thread.
    std::int64_t capacity() const noexcept { return capacity_; }
    double sampleRate() const noexcept { return sampleRate_; }
    double seconds() const noexcept { return seconds_; }

    // The 16-bit code of a float sample. Any thread.
    static std::int16_t encode(float x) noexcept;
    // The largest slice the writer adds at once; the copy stays this far behind.
    static constexpr std::int64_t writerLead = 4096;

private:
    const double sampleRate_;
    const double seconds_;
    const std::int64_t capacity_;
    // Samples are relaxed atomics: a reader may race the writer over a slot it is
    // about to overwrite, and such a frame is detected and dropped (see claimed_).
    std::unique_ptr<std::atomic<std::int16_t>[]> left_;
    std::unique_ptr<std::atomic<std::int16_t>[]> right_;
    // Frames published: stored with release ordering after the samples.
    std::atomic<std::int64_t> written_{0};
    // Frames the writer has started to store: raised before the samples (behind a
    // release fence), so a reader that saw any new sample also sees this grow.
    std::atomic<std::int64_t> claimed_{0};
};

} // namespace zelvo
