// The position and swap shift a deck publishes are read as one pair.
#include "audio/DeckState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace zelvo {
namespace {

// A writer publishing pairs that always sum to the same value, lingering
// between its two stores now and then (an audio thread preempted mid-write),
// and a reader checking every pair it reads: it must never get one render's
// position with another's shift, however long the write takes.
TEST(DeckStateTest, ATimelineIsNeverTorn)
{
    constexpr double kSum = 1'000'000.0;
    constexpr std::int64_t kWrites = 200'000;
    DeckState state;
    state.swapShift.store(kSum); // the pair before the first write
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::int64_t k = 1; k <= kWrites; ++k) {
            state.beginTimeline();
            state.position.store(double(k));
            if (k % 64 == 0) {
                // Long enough for many of the reader's tries.
                std::atomic<int> spin{0};
                while (spin.fetch_add(1, std::memory_order_relaxed) < 20'000) {
                }
            }
            state.swapShift.store(kSum - double(k));
            state.endTimeline();
        }
        done.store(true);
    });
    std::int64_t reads = 0, torn = 0;
    double last = 0.0;
    bool forward = true;
    while (!done.load()) {
        const DeckState::Timeline t = state.timeline();
        torn += t.position + t.swapShift != kSum;
        forward = forward && t.position >= last;
        last = t.position;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_TRUE(forward);
    const DeckState::Timeline t = state.timeline();
    EXPECT_EQ(t.position, double(kWrites));
    EXPECT_EQ(t.swapShift, kSum - double(kWrites));
}

} // namespace
} // namespace zelvo
