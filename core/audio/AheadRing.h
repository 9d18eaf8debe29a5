#pragma once
// A fixed ring of stereo chunks between exactly one producer thread and one
// consumer thread: a key-locked deck's input from the audio thread to the
// render-ahead worker, and the stretched output back. Each chunk carries up to
// `chunkFrames` planar frames, the unit run (generation) they belong to and,
// for output, the unit's rate they were made at.
//
// Storage is allocated once, at construction; nothing after that allocates,
// locks or waits. The consumer may take a chunk in parts (`taken`).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace zelvo {

struct AheadChunk {
    int frames = 0;
    // Frames the consumer has already taken from the chunk. Consumer only.
    int taken = 0;
    std::uint32_t generation = 0;
    float rate = 1.0f;
    float* left = nullptr;
    float* right = nullptr;

    int remaining() const { return frames - taken; }
};

class AheadRing {
public:
    // Not on the audio thread.
    AheadRing(int chunks, int chunkFrames)
        : slots_(std::size_t(std::max(chunks, 1) + 1))
        , chunkFrames_(std::max(chunkFrames, 1))
        , storage_(slots_.size() * std::size_t(chunkFrames_) * 2u, 0.0f)
    {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            slots_[i].left = storage_.data() + i * std::size_t(chunkFrames_) * 2u;
            slots_[i].right = slots_[i].left + chunkFrames_;
        }
    }
    AheadRing(const AheadRing&) = delete;
    AheadRing& operator=(const AheadRing&) = delete;

    int chunkFrames() const { return chunkFrames_; }
    int capacity() const { return int(slots_.size()) - 1; }

    // Producer: chunks that can be written now.
    int freeChunks() const
    {
        const std::int64_t tail = tail_.load(std::memory_order_relaxed);
        const std::int64_t head = head_.load(std::memory_order_acquire);
        return capacity() - int((tail - head + std::int64_t(slots_.size())) % std::int64_t(slots_.size()));
    }
    // Producer: the chunk to fill next, or null when the ring is full. Nothing is
    // visible to the consumer until `commit`.
    AheadChunk* writable()
    {
        const std::int64_t tail = tail_.load(std::memory_order_relaxed);
        if (next(tail) == head_.load(std::memory_order_acquire))
            return nullptr;
        AheadChunk& c = slots_[std::size_t(tail)];
        c.taken = 0;
        return &c;
    }
    void commit() { tail_.store(next(tail_.load(std::memory_order_relaxed)), std::memory_order_release); }

    // Consumer: the oldest chunk, or null when the ring is empty.
    AheadChunk* readable()
    {
        const std::int64_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return nullptr;
        return &slots_[std::size_t(head)];
    }
    // Consumer: gives the oldest chunk back to the producer.
    void pop() { head_.store(next(head_.load(std::memory_order_relaxed)), std::memory_order_release); }
    // Consumer: the frames not yet taken in the committed chunks of unit run
    // `generation`.
    std::int64_t readableFrames(std::uint32_t generation) const
    {
        const std::int64_t tail = tail_.load(std::memory_order_acquire);
        std::int64_t frames = 0;
        for (std::int64_t i = head_.load(std::memory_order_relaxed); i != tail; i = next(i)) {
            const AheadChunk& c = slots_[std::size_t(i)];
            if (c.generation == generation)
                frames += c.remaining();
        }
        return frames;
    }

private:
    std::int64_t next(std::int64_t i) const { return (i + 1) % std::int64_t(slots_.size()); }

    std::vector<AheadChunk> slots_;
    int chunkFrames_;
    std::vector<float> storage_;
    alignas(64) std::atomic<std::int64_t> head_{0};
    alignas(64) std::atomic<std::int64_t> tail_{0};
};

// A fixed ring of small trivially copyable items between one producer and one
// consumer, whose producer can ask how much room is left (the render requests
// that go with the chunks).
template <typename T>
class AheadQueue {
public:
    // Not on the audio thread.
    explicit AheadQueue(int capacity) : slots_(std::size_t(std::max(capacity, 1) + 1)) {}
    AheadQueue(const AheadQueue&) = delete;
    AheadQueue& operator=(const AheadQueue&) = delete;

    int capacity() const { return int(slots_.size()) - 1; }
    // Producer.
    int freeSlots() const
    {
        const std::int64_t n = std::int64_t(slots_.size());
        return int(n - 1 - (tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire) + n) % n);
    }
    bool push(const T& value)
    {
        const std::int64_t tail = tail_.load(std::memory_order_relaxed);
        const std::int64_t next = (tail + 1) % std::int64_t(slots_.size());
        if (next == head_.load(std::memory_order_acquire))
            return false;
        slots_[std::size_t(tail)] = value;
        tail_.store(next, std::memory_order_release);
        return true;
    }
    // Consumer: whether nothing is queued.
    bool empty() const { return head_.load(std::memory_order_relaxed) == tail_.load(std::memory_order_acquire); }
    // Consumer.
    std::optional<T> pop()
    {
        const std::int64_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return std::nullopt;
        const T value = slots_[std::size_t(head)];
        head_.store((head + 1) % std::int64_t(slots_.size()), std::memory_order_release);
        return value;
    }
    // Consumer: calls `f` on each value queued, oldest first, leaving them
    // queued. The producer writes no slot until it has been popped.
    template <class F>
    void forEachQueued(F&& f) const
    {
        const std::int64_t n = std::int64_t(slots_.size());
        const std::int64_t tail = tail_.load(std::memory_order_acquire);
        for (std::int64_t i = head_.load(std::memory_order_relaxed); i != tail; i = (i + 1) % n)
            f(slots_[std::size_t(i)]);
    }

private:
    std::vector<T> slots_;
    alignas(64) std::atomic<std::int64_t> head_{0};
    alignas(64) std::atomic<std::int64_t> tail_{0};
};

} // namespace zelvo
