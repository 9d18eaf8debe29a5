#pragma once
// Real-time safety harness: counts memory allocations, frees, mutex locks and
// wakes of other threads made on threads marked as the audio thread, including calls from inside shared
// libraries (the stretcher, the C++ runtime). Calls on other threads are not
// counted, so a test can set up and tear down freely around the marked part.
//
//     RealtimeProbe probe;
//     {
//         AudioThreadScope audio;
//         voice.render(256, left, right);
//     }
//     EXPECT_TRUE(probe.clean());
//
// A debugger can stop at `zelvo_realtime_violation` to see the offending call.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

namespace zelvo::test {

struct RealtimeCounts {
    std::int64_t allocations = 0;
    std::int64_t frees = 0;
    std::int64_t locks = 0;
    // Wakes of another thread (semaphore posts, condition signals): each a
    // system call into the scheduler when someone waits. Counted apart: the
    // audio thread may rouse a parked worker now and then, but not every slice.
    std::int64_t wakes = 0;
    std::int64_t total() const { return allocations + frees + locks; }
};

// Marks the current thread as the audio thread while alive. Nests.
class AudioThreadScope {
public:
    AudioThreadScope();
    ~AudioThreadScope();
    AudioThreadScope(const AudioThreadScope&) = delete;
    AudioThreadScope& operator=(const AudioThreadScope&) = delete;
};

// Records the largest single allocation made on the current thread while alive
// (inside shared libraries too), so a test can bound what a call reserves. Nests.
class LargestAllocationScope {
public:
    LargestAllocationScope();
    ~LargestAllocationScope();
    LargestAllocationScope(const LargestAllocationScope&) = delete;
    LargestAllocationScope& operator=(const LargestAllocationScope&) = delete;
    // Bytes of the largest allocation so far.
    std::size_t largest() const { return largest_; }

private:
    std::size_t largest_ = 0;
    std::size_t* outer_;
};

// Calls `action(context)` at the first allocation of at least `bytes` bytes
// made on the current thread while alive (the allocation goes ahead), so a test
// can act at a point inside a call that only a large allocation marks, and
// counts those allocations. Does not nest.
struct LargeAllocationHook {
    LargeAllocationHook(std::size_t bytes, void (*action)(void*), void* context);
    ~LargeAllocationHook();
    LargeAllocationHook(const LargeAllocationHook&) = delete;
    LargeAllocationHook& operator=(const LargeAllocationHook&) = delete;

    std::size_t bytes;
    void (*action)(void*);
    void* context;
    int seen = 0; // allocations of at least `bytes`, the first included
};

// Whether the current thread is marked as the audio thread.
bool onAudioThread();

// Counts what marked threads did from its construction on. Any thread.
class RealtimeProbe {
public:
    RealtimeProbe();
    // Counts since construction.
    RealtimeCounts counts() const;
    // Success when nothing was counted; otherwise a message with the counts.
    ::testing::AssertionResult clean() const;

private:
    RealtimeCounts start_;
};

// Counts since the process started (for the probe and the harness's own tests).
RealtimeCounts realtimeTotals();

} // namespace zelvo::test
