#pragma once
// Stand-ins and readers for the recording tests.
#include "platform/RecordingFile.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelvo::test {

// What a fake recording file saw; shared with the test after the recorder took
// the file.
struct FakeFileLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<float> samples; // interleaved
    bool closed = false;
    int headerUpdates = 0;
    // Writes fail once this many frames were taken (negative: never).
    std::int64_t failAfterFrames = -1;
    bool failClose = false;
    // While true, write() waits (a disk that has stalled).
    bool stalled = false;

    std::int64_t frames()
    {
        std::lock_guard lock(mutex);
        return std::int64_t(samples.size() / 2);
    }
};

class FakeRecordingFile final : public RecordingFile {
public:
    explicit FakeRecordingFile(std::shared_ptr<FakeFileLog> log) : log_(std::move(log)) {}
    bool write(const float* interleaved, std::int64_t frames) override
    {
        std::unique_lock lock(log_->mutex);
        log_->changed.wait(lock, [&] { return !log_->stalled; });
        if (log_->failAfterFrames >= 0 && std::int64_t(log_->samples.size() / 2) + frames > log_->failAfterFrames) {
            status_ = 28; // no space left
            return false;
        }
        log_->samples.insert(log_->samples.end(), interleaved, interleaved + 2 * frames);
        log_->changed.notify_all();
        return true;
    }
    bool updateHeader() override
    {
        std::lock_guard lock(log_->mutex);
        ++log_->headerUpdates;
        return true;
    }
    bool close() override
    {
        std::lock_guard lock(log_->mutex);
        log_->closed = true;
        log_->changed.notify_all();
        if (log_->failClose) {
            status_ = 5;
            return false;
        }
        return true;
    }
    int lastStatus() const override { return status_; }

private:
    std::shared_ptr<FakeFileLog> log_;
    int status_ = 0;
};

// Polls `done` until it holds or `limit` passes (waiting on another thread's
// progress, not on time).
inline bool eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// A stereo WAV read back: interleaved samples, rate and format.
struct WavContents {
    bool ok = false;
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> samples;
};
WavContents readWav(const std::string& path);

} // namespace zelvo::test
