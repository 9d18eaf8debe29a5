#include "audio/SPSCQueue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <thread>

namespace zelvo {
namespace {

TEST(SPSCQueueTest, HoldsExactlyItsCapacity)
{
    SPSCQueue<int> ring(512);
    EXPECT_EQ(ring.capacity(), 513);
    EXPECT_FALSE(ring.pop().has_value());
    for (int i = 0; i < 512; ++i)
        ASSERT_TRUE(ring.push(i)) << i;
    EXPECT_FALSE(ring.push(512));
    EXPECT_FALSE(ring.push(513)); // a refused push leaves the ring unchanged
    EXPECT_EQ(ring.pop(), 0);
    EXPECT_TRUE(ring.push(512));
    EXPECT_FALSE(ring.push(513));
    for (int i = 1; i <= 512; ++i)
        ASSERT_EQ(ring.pop(), i);
    EXPECT_FALSE(ring.pop().has_value());
}

TEST(SPSCQueueTest, ZeroOrNegativeCapacityRefusesEveryPush)
{
    for (std::int64_t requested : {std::int64_t(0), std::int64_t(-5), std::numeric_limits<std::int64_t>::min()}) {
        SPSCQueue<int> ring(requested);
        EXPECT_EQ(ring.capacity(), 1);
        EXPECT_FALSE(ring.push(1));
        EXPECT_FALSE(ring.pop().has_value());
    }
}

TEST(SPSCQueueTest, OverflowingSlotCountThrowsInsteadOfWrapping)
{
    EXPECT_THROW(SPSCQueue<int>(std::numeric_limits<std::int64_t>::max()), std::length_error);
    EXPECT_THROW(SPSCQueue<double>(std::numeric_limits<std::int64_t>::max() / 4), std::length_error);
}

TEST(SPSCQueueTest, KeepsOrderAcrossManyWrapArounds)
{
    SPSCQueue<std::int64_t> ring(3);
    std::int64_t next = 0, expected = 0;
    // Vary the fill level so head and tail wrap at every relative offset.
    for (int round = 0; round < 200; ++round) {
        const int fill = round % 4;
        for (int i = 0; i < fill; ++i)
            ASSERT_TRUE(ring.push(next++));
        const int drain = (round % 3 == 0) ? fill : fill - (fill > 0 ? 1 : 0);
        for (int i = 0; i < drain; ++i)
            ASSERT_EQ(ring.pop(), expected++);
        while (auto v = ring.pop())
            ASSERT_EQ(*v, expected++);
    }
    EXPECT_EQ(next, expected);
}

TEST(SPSCQueueTest, MoveOnlyElementsAreMovedAndLeftoversDestroyed)
{
    auto tracked = std::make_shared<int>(7);
    {
        SPSCQueue<std::shared_ptr<int>> ring(2);
        ASSERT_TRUE(ring.push(tracked));
        ASSERT_TRUE(ring.push(tracked));
        std::shared_ptr<int> refused = tracked;
        EXPECT_FALSE(ring.push(std::move(refused)));
        EXPECT_EQ(refused, tracked); // not consumed by a failed push
        refused.reset();
        EXPECT_EQ(tracked.use_count(), 3);
        auto out = ring.pop();
        ASSERT_TRUE(out.has_value());
        EXPECT_EQ(**out, 7);
        out.reset();
        EXPECT_EQ(tracked.use_count(), 2); // the popped slot holds no copy
    }
    EXPECT_EQ(tracked.use_count(), 1); // the leftover element went with the ring

    SPSCQueue<std::unique_ptr<int>> owned(1);
    ASSERT_TRUE(owned.push(std::make_unique<int>(3)));
    EXPECT_EQ(**owned.pop(), 3);
}

struct Command {
    std::int64_t sequence;
    std::int64_t check; // derived from sequence: a half-written slot would not match
};

// One producer and one consumer thread push a few hundred thousand items
// through a small ring: every item arrives, once, in order, and whole. With one
// slot every item is a hand-over between the threads, so the count stays modest
// for a loaded two-core machine running the sanitizers, and a tenth of it for
// the one-slot ring: there, with both threads on one busy core, each hand-over
// can wait out another program's time slice.
TEST(SPSCQueueTest, TwoThreadsPassManyItemsInOrder)
{
#ifdef ZELVO_SANITIZED
    constexpr std::int64_t kItems = 100'000;
#else
    constexpr std::int64_t kItems = 400'000;
#endif
    for (std::int64_t capacity : {std::int64_t(1), std::int64_t(64), std::int64_t(512)}) {
        const std::int64_t items = capacity == 1 ? kItems / 10 : kItems;
        SPSCQueue<Command> ring(capacity);
        std::thread producer([&ring, items] {
            for (std::int64_t i = 0; i < items;) {
                if (ring.push(Command{i, ~i * 31}))
                    ++i;
                else
                    std::this_thread::yield();
            }
        });
        std::int64_t expected = 0;
        bool ordered = true;
        while (expected < items) {
            if (auto c = ring.pop()) {
                ordered = ordered && c->sequence == expected && c->check == ~expected * 31;
                ++expected;
            } else {
                std::this_thread::yield();
            }
        }
        producer.join();
        EXPECT_TRUE(ordered) << capacity;
        EXPECT_FALSE(ring.pop().has_value()) << capacity;
    }
}

} // namespace
} // namespace zelvo
