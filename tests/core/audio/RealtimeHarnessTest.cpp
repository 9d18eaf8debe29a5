// The harness must see what it is meant to catch, or every real-time test built
// on it proves nothing.
#include "support/RealtimeGuard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

using namespace zelvo::test;

namespace {

// Keeps the optimiser from removing a new/delete pair.
void* volatile gSink;

} // namespace

TEST(RealtimeHarness, CountsAllocationsAndFreesOnTheAudioThread)
{
    RealtimeProbe probe;
    {
        AudioThreadScope audio;
        void* p = std::malloc(64);
        gSink = p;
        std::free(p);
        // operator new lives in the C++ runtime library: this counts only when
        // calls made inside shared libraries are seen.
        auto* s = new std::string(200, 'x');
        gSink = s;
        delete s;
    }
    const RealtimeCounts c = probe.counts();
    EXPECT_GE(c.allocations, 2);
    EXPECT_GE(c.frees, 2);
    EXPECT_FALSE(probe.clean());
}

TEST(RealtimeHarness, CountsMutexLocksIncludingThroughDynamicLookup)
{
    std::mutex m;
    pthread_mutex_t raw = PTHREAD_MUTEX_INITIALIZER;
    // What a shared library calls: the symbol as the dynamic linker resolves it.
    using LockFn = int (*)(pthread_mutex_t*);
    auto lockViaLinker = reinterpret_cast<LockFn>(dlsym(RTLD_DEFAULT, "pthread_mutex_lock"));
    ASSERT_NE(lockViaLinker, nullptr);

    RealtimeProbe probe;
    {
        AudioThreadScope audio;
        m.lock();
        m.unlock();
        lockViaLinker(&raw);
        pthread_mutex_unlock(&raw);
    }
    EXPECT_EQ(probe.counts().locks, 2);
}

TEST(RealtimeHarness, IgnoresUnmarkedThreadsAndEndsWithTheScope)
{
    RealtimeProbe probe;
    std::thread other([] {
        void* p = std::malloc(128);
        gSink = p;
        std::free(p);
        std::mutex m;
        std::lock_guard lock(m);
    });
    other.join();
    {
        AudioThreadScope audio;
        EXPECT_TRUE(onAudioThread());
    }
    EXPECT_FALSE(onAudioThread());
    auto* s = new std::string(300, 'y');
    gSink = s;
    delete s;
    EXPECT_TRUE(probe.clean());
}
