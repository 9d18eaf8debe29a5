#pragma once
// Records the master into a file without the audio thread ever touching the
// disk: the audio thread copies each slice into a preallocated ring and a writer
// thread drains the ring into the open file.
//
// Recordings are numbered. The main thread publishes the current number through
// one cell (odd while a file is open, even while idle); the audio thread tags
// every slice it hands over with it and acknowledges, after each slice, the
// number it acted on. A stopped file is closed by the writer once the audio
// thread has acknowledged a number from after the stop, that is once every slice
// handed over before the stop is in the ring and written, or after one second
// when the audio thread has stopped calling.
//
// Failures never pass silently: a slice that finds the ring full (the disk or
// the writer too slow) ends the recording's intake and counts the frames it
// lost, and a failed write ends it too; either marks that recording failed. The
// file stays a valid WAV of what was written before.
#include "audio/SPSCQueue.h"
#include "platform/RecordingFile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zelvo {

class Recorder {
public:
    // How a recording fared, as far as the writer and the ring can tell.
    struct Status {
        bool failed = false;
        std::int64_t droppedFrames = 0; // frames lost to a full ring
        std::string step;               // "write recording" or "recording overflow" when failed
        int code = 0;                   // the write's status, or 0
    };

    // A ring of at least `ringSeconds` (4 s at the least) of stereo float at
    // `sampleRate`, and the writer thread. Main thread.
    Recorder(double sampleRate, double ringSeconds = 8.0);
    // Stops any recording, writes what the audio thread handed over, closes the
    // files and ends the writer, waiting at most one second. Main thread, once the
    // audio thread no longer calls.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Hands `file` (ready to write) over and starts feeding it; a recording in
    // progress is stopped first. Returns the new recording's number. Main thread.
    std::int64_t start(std::unique_ptr<RecordingFile> file);
    // Stops feeding the current file; the writer closes it once everything the
    // audio thread handed over before is written. Nothing when idle. Main thread.
    void stop();
    // True while a recording is being fed. Main thread.
    bool active() const noexcept { return (slot_.load(std::memory_order_relaxed) & 1) != 0; }
    // The number of the current or last recording, 0 before the first. Main thread.
    std::int64_t currentId() const noexcept { return lastId_; }
    // How recording `id` fared. Any thread but the audio thread.
    Status status(std::int64_t id) const;
    // Waits until every stopped file is closed, at most `timeout`; true when
    // they are. Main thread (for quitting and tests).
    bool waitUntilClosed(std::chrono::milliseconds timeout);
    // Number of files open (being written or waiting to be closed). Any thread.
    int openFiles() const;

    // Hands a slice to the current recording; returns the frames taken (0 when
    // idle, after an overflow or after a write failure of this recording).
    // Audio thread only; never blocks or allocates.
    std::int64_t record(std::int64_t frames, const float* left, const float* right) noexcept;

    // The recording the last record() call fed (0 when it found none). Audio
    // thread only.
    std::int64_t lastRecordedId() const noexcept { return audioId_; }

    // The ring's length in frames. Any thread.
    std::int64_t ringFrames() const noexcept { return shared_->capacity; }

private:
    struct Segment {
        std::int64_t id;
        std::int64_t frames;
    };
    struct OpenFile {
        std::unique_ptr<RecordingFile> file;
        bool stopping = false;
        std::chrono::steady_clock::time_point stopDeadline;
        bool dirty = false;
    };
    // Everything the writer thread touches lives here, so a writer stuck on a
    // hung disk past the one-second wait can be let go without dangling.
    struct Shared {
        Shared(std::int64_t frames, std::int64_t segments);
        const std::int64_t capacity; // frames
        std::unique_ptr<float[]> ring; // interleaved stereo
        SPSCQueue<Segment> segments;
        std::atomic<std::int64_t> head{0};     // frames drained; the writer's
        std::atomic<std::int64_t> acked{0};    // the slot value the audio thread last acted on
        std::atomic<std::int64_t> writeFailed{0}; // number of the last recording whose write failed

        mutable std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable closed;
        std::map<std::int64_t, OpenFile> files;
        std::map<std::int64_t, Status> failures;
        bool quit = false;
        bool exited = false;
    };

    static void writerLoop(std::shared_ptr<Shared> shared);
    static void drain(Shared& s, std::unique_lock<std::mutex>& lock);
    static void closeFinished(Shared& s, std::unique_lock<std::mutex>& lock);

    std::shared_ptr<Shared> shared_;
    std::thread writer_;
    // The current recording number, odd while a file is open. Main thread writes.
    std::atomic<std::int64_t> slot_{0};
    std::int64_t lastId_ = 0;

    // Audio thread only.
    std::int64_t tail_ = 0;
    std::int64_t audioId_ = 0;
    bool audioStopped_ = false;
    // Written by the audio thread: the recording that overflowed and the frames
    // it lost since.
    std::atomic<std::int64_t> overflowId_{0};
    std::atomic<std::int64_t> overflowFrames_{0};
};

} // namespace zelvo
