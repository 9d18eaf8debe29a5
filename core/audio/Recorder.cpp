#include "audio/Recorder.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvo {

namespace {
constexpr auto pollInterval = std::chrono::milliseconds(10);
constexpr auto closeGrace = std::chrono::seconds(1);

std::int64_t ringFramesFor(double sampleRate, double seconds)
{
    const double frames = std::max(seconds, 4.0) * sampleRate;
    if (!(frames >= 4096.0))
        return 4096;
    return std::int64_t(std::min(frames, 1e9));
}
} // namespace

Recorder::Shared::Shared(std::int64_t frames, std::int64_t segmentCount)
    : capacity(frames)
    , ring(new float[std::size_t(frames) * 2]())
    , segments(segmentCount)
{
}

Recorder::Recorder(double sampleRate, double ringSeconds)
{
    const std::int64_t frames = ringFramesFor(sampleRate, ringSeconds);
    // A slice is rarely under 32 frames, so this many segments cover the ring;
    // running out of either counts as an overflow.
    shared_ = std::make_shared<Shared>(frames, frames / 32 + 64);
    writer_ = std::thread(writerLoop, shared_);
}

Recorder::~Recorder()
{
    // The audio thread no longer calls, so everything it handed over is already
    // in the queue: the writer drains it, closes every file and exits.
    const auto deadline = std::chrono::steady_clock::now() + closeGrace;
    stop();
    std::unique_lock lock(shared_->mutex);
    shared_->quit = true;
    shared_->wake.notify_all();
    const bool exited = shared_->closed.wait_until(lock, deadline, [&] { return shared_->exited; });
    lock.unlock();
    // A writer stuck on a hung disk is let go after the second; it owns its half
    // of the state.
    if (exited)
        writer_.join();
    else
        writer_.detach();
}

std::int64_t Recorder::start(std::unique_ptr<RecordingFile> file)
{
    stop();
    const std::int64_t id = slot_.load(std::memory_order_relaxed) + 1;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->files[id].file = std::move(file);
    }
    lastId_ = id;
    // Published only once the writer can find the file.
    slot_.store(id, std::memory_order_release);
    return id;
}

void Recorder::stop()
{
    const std::int64_t id = slot_.load(std::memory_order_relaxed);
    if ((id & 1) == 0)
        return;
    slot_.store(id + 1, std::memory_order_release);
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->files.find(id);
    if (it != shared_->files.end()) {
        it->second.stopping = true;
        it->second.stopDeadline = std::chrono::steady_clock::now() + closeGrace;
    }
    shared_->wake.notify_all();
}

Recorder::Status Recorder::status(std::int64_t id) const
{
    Status st;
    {
        std::lock_guard lock(shared_->mutex);
        if (auto it = shared_->failures.find(id); it != shared_->failures.end())
            st = it->second;
    }
    if (id != 0 && overflowId_.load(std::memory_order_acquire) == id) {
        st.droppedFrames = overflowFrames_.load(std::memory_order_relaxed);
        if (!st.failed) {
            st.failed = true;
            st.step = "recording overflow";
        }
    }
    return st;
}

bool Recorder::waitUntilClosed(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(shared_->mutex);
    shared_->wake.notify_all();
    return shared_->closed.wait_for(lock, timeout, [&] {
        for (const auto& [id, f] : shared_->files)
            if (f.stopping || id != slot_.load(std::memory_order_relaxed))
                return false;
        return true;
    });
}

int Recorder::openFiles() const
{
    std::lock_guard lock(shared_->mutex);
    return int(shared_->files.size());
}

std::int64_t Recorder::record(std::int64_t frames, const float* left, const float* right) noexcept
{
    Shared& s = *shared_;
    const std::int64_t id = slot_.load(std::memory_order_acquire);
    std::int64_t taken = 0;
    if ((id & 1) == 0) {
        audioId_ = 0;
    } else if (frames > 0) {
        if (id != audioId_) {
            audioId_ = id;
            audioStopped_ = false;
        }
        if (!audioStopped_ && s.writeFailed.load(std::memory_order_relaxed) == id)
            audioStopped_ = true;
        if (!audioStopped_) {
            const std::int64_t free = s.capacity - (tail_ - s.head.load(std::memory_order_acquire));
            bool ok = frames <= free;
            if (ok) {
                std::int64_t slot = tail_ % s.capacity;
                float* ring = s.ring.get();
                for (std::int64_t i = 0; i < frames; ++i) {
                    ring[2 * slot] = left[i];
                    ring[2 * slot + 1] = right[i];
                    if (++slot == s.capacity)
                        slot = 0;
                }
                ok = s.segments.push(Segment{id, frames});
            }
            if (ok) {
                tail_ += frames;
                taken = frames;
            } else {
                // The writer fell behind: this recording takes nothing more, so
                // its file has no gap, and the loss is counted from here on.
                audioStopped_ = true;
                overflowFrames_.store(frames, std::memory_order_relaxed);
                overflowId_.store(id, std::memory_order_release);
            }
        } else if (overflowId_.load(std::memory_order_relaxed) == id) {
            overflowFrames_.store(overflowFrames_.load(std::memory_order_relaxed) + frames,
                                  std::memory_order_relaxed);
        }
    }
    // After every segment of this slice was pushed: the writer may close a
    // stopped file once it sees a number from after the stop.
    s.acked.store(id, std::memory_order_release);
    return taken;
}

void Recorder::drain(Shared& s, std::unique_lock<std::mutex>& lock)
{
    std::vector<std::int64_t> written;
    while (auto seg = s.segments.pop()) {
        const std::int64_t head = s.head.load(std::memory_order_relaxed);
        RecordingFile* file = nullptr;
        if (auto it = s.files.find(seg->id); it != s.files.end() && it->second.file
            && s.writeFailed.load(std::memory_order_relaxed) != seg->id)
            file = it->second.file.get();
        if (file) {
            // The file's entry is only ever removed by this thread, so it stays
            // valid while the lock is let go for the disk.
            lock.unlock();
            const std::int64_t start = head % s.capacity;
            const std::int64_t first = std::min(seg->frames, s.capacity - start);
            bool ok = file->write(s.ring.get() + 2 * start, first);
            if (ok && first < seg->frames)
                ok = file->write(s.ring.get(), seg->frames - first);
            lock.lock();
            if (ok) {
                if (std::find(written.begin(), written.end(), seg->id) == written.end())
                    written.push_back(seg->id);
            } else {
                s.failures[seg->id] = Status{true, 0, "write recording", file->lastStatus()};
                s.writeFailed.store(seg->id, std::memory_order_relaxed);
            }
        }
        s.head.store(head + seg->frames, std::memory_order_release);
    }
    for (std::int64_t id : written) {
        auto it = s.files.find(id);
        if (it == s.files.end() || s.writeFailed.load(std::memory_order_relaxed) == id)
            continue;
        RecordingFile* file = it->second.file.get();
        lock.unlock();
        const bool ok = file->updateHeader();
        lock.lock();
        if (!ok) {
            s.failures[id] = Status{true, 0, "write recording", file->lastStatus()};
            s.writeFailed.store(id, std::memory_order_relaxed);
        }
    }
}

void Recorder::closeFinished(Shared& s, std::unique_lock<std::mutex>& lock)
{
    const auto now = std::chrono::steady_clock::now();
    // Acquire pairs with the audio thread's release after its last push: once it
    // acknowledged a number past the stop, every segment of the stopped
    // recording is in the queue, and one more drain writes them all.
    const std::int64_t acked = s.acked.load(std::memory_order_acquire);
    std::vector<std::int64_t> done;
    for (auto& [id, f] : s.files)
        if (f.stopping && (acked > id || now >= f.stopDeadline))
            done.push_back(id);
    if (done.empty())
        return;
    drain(s, lock);
    for (std::int64_t id : done) {
        auto it = s.files.find(id);
        std::unique_ptr<RecordingFile> file = std::move(it->second.file);
        s.files.erase(it);
        if (!file)
            continue;
        lock.unlock();
        const bool ok = file->close();
        const int code = file->lastStatus();
        file.reset();
        lock.lock();
        if (!ok && !s.failures[id].failed) {
            s.failures[id] = Status{true, 0, "write recording", code};
            s.writeFailed.store(id, std::memory_order_relaxed);
        }
    }
    s.closed.notify_all();
}

void Recorder::writerLoop(std::shared_ptr<Shared> shared)
{
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    while (!s.quit) {
        drain(s, lock);
        closeFinished(s, lock);
        s.wake.wait_for(lock, pollInterval);
    }
    // Quitting: whatever is left is written and every file closed.
    drain(s, lock);
    for (auto& [id, f] : s.files) {
        f.stopping = true;
        f.stopDeadline = std::chrono::steady_clock::now();
    }
    closeFinished(s, lock);
    s.exited = true;
    s.closed.notify_all();
}

} // namespace zelvo
