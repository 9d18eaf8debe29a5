#pragma once
// A fixed-capacity ring between exactly one producer thread and one consumer
// thread (deck commands to the audio thread, retired buffers back from it).
//
// The ring has capacity + 1 slots and always keeps one free, so it holds at most
// the requested capacity. Storage is allocated once, at construction; push and
// pop never allocate, lock or wait.
//
// Element types: T must be nothrow move-constructible (a pop moves the value out
// of its slot); the engine uses trivially copyable, trivially destructible
// elements (commands and raw pointers), for which a slot is a bitwise copy and no
// destructor ever runs. Elements still in the ring when it is destroyed are not
// released: the owner drains what must be released before the ring goes (for a
// T with a destructor, the leftover objects themselves are destroyed).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace zelvo {

template <typename T>
class SPSCQueue {
    static_assert(std::is_nothrow_move_constructible_v<T>, "ring elements must move without throwing");

public:
    // Makes room for `capacity` elements (capacity + 1 slots); a negative capacity
    // counts as 0, a ring that refuses every push. Throws std::length_error when
    // the slot count overflows and std::bad_alloc when the storage cannot be had
    // (uncaught, either stops the process). Not on the audio thread.
    explicit SPSCQueue(std::int64_t capacity)
        : capacity_(slotCountFor(capacity))
        , storage_(std::allocator<T>().allocate(std::size_t(capacity_)))
    {
    }

    SPSCQueue(const SPSCQueue&) = delete;
    SPSCQueue& operator=(const SPSCQueue&) = delete;

    // Frees the storage. Not on the audio thread.
    ~SPSCQueue()
    {
        if constexpr (!std::is_trivially_destructible_v<T>) {
            for (std::int64_t i = head_.load(std::memory_order_relaxed); i != tail_.load(std::memory_order_relaxed);
                 i = (i + 1) % capacity_)
                std::destroy_at(storage_ + i);
        }
        std::allocator<T>().deallocate(storage_, std::size_t(capacity_));
    }

    // Stores `value` at the back; false when the ring is full (nothing is stored).
    // Producer thread only.
    bool push(const T& value) noexcept(std::is_nothrow_copy_constructible_v<T>)
    {
        const std::int64_t tail = tail_.load(std::memory_order_relaxed);
        const std::int64_t next = (tail + 1) % capacity_;
        if (next == head_.load(std::memory_order_acquire))
            return false;
        std::construct_at(storage_ + tail, value);
        tail_.store(next, std::memory_order_release);
        return true;
    }

    // As above, moving `value` in; it is left untouched when the ring is full.
    // Producer thread only.
    bool push(T&& value) noexcept
    {
        const std::int64_t tail = tail_.load(std::memory_order_relaxed);
        const std::int64_t next = (tail + 1) % capacity_;
        if (next == head_.load(std::memory_order_acquire))
            return false;
        std::construct_at(storage_ + tail, std::move(value));
        tail_.store(next, std::memory_order_release);
        return true;
    }

    // Takes the front value; empty when the ring is empty. Consumer thread only.
    std::optional<T> pop() noexcept
    {
        const std::int64_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return std::nullopt;
        T* slot = storage_ + head;
        std::optional<T> value(std::move(*slot));
        std::destroy_at(slot);
        // Released only after the slot was read, so the producer never overwrites
        // a value still being taken.
        head_.store((head + 1) % capacity_, std::memory_order_release);
        return value;
    }

    // The number of slots: the requested capacity plus one. Any thread.
    std::int64_t capacity() const noexcept { return capacity_; }

private:
    static std::int64_t slotCountFor(std::int64_t requested)
    {
        if (requested < 0)
            requested = 0;
        if (requested == std::numeric_limits<std::int64_t>::max()
            || std::uint64_t(requested) + 1 > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::length_error("SPSCQueue capacity too large");
        return requested + 1;
    }

    const std::int64_t capacity_;
    T* const storage_;
    // Each index on its own cache line: the producer writes only tail_, the
    // consumer only head_, and neither should stall the other's line.
    alignas(64) std::atomic<std::int64_t> head_{0};
    alignas(64) std::atomic<std::int64_t> tail_{0};
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
};

} // namespace zelvo
