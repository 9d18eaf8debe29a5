#pragma once
// Single-word cells through which the main thread and the audio thread share
// parameters and published state: one writer thread, any number of readers.
//
// A cell is one aligned 64-bit (or 8-bit) word with relaxed loads and stores:
// every cell stands alone and no reader relies on the order of two different
// cells, so a reader may see a value one render block old. The cells offer
// nothing but load and store; the one writer of a counter does load, add, store.
//
// Sharing: a cell is neither copyable nor movable. Owners share it through
// std::shared_ptr (std::make_shared, off the audio thread); the audio thread uses
// a plain pointer or reference while an owner keeps the cell alive, so it never
// drops the last reference.
#include <atomic>
#include <bit>
#include <cstdint>

namespace zelvo {

// Holds a double as its IEEE-754 bit pattern, so every value comes back
// unchanged, NaN payloads and negative zero included.
class AtomicDouble {
public:
    // A cell holding `value`. Any thread (allocating it is not for the audio thread).
    explicit AtomicDouble(double value = 0.0) noexcept : bits_(std::bit_cast<std::uint64_t>(value)) {}
    AtomicDouble(const AtomicDouble&) = delete;
    AtomicDouble& operator=(const AtomicDouble&) = delete;

    // The stored value. Any thread.
    double load() const noexcept { return std::bit_cast<double>(bits_.load(std::memory_order_relaxed)); }
    // Replaces the value. The cell's one writer thread.
    void store(double value) noexcept { bits_.store(std::bit_cast<std::uint64_t>(value), std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> bits_;
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "a 64-bit cell must be lock-free");
    static_assert(sizeof(double) == sizeof(std::uint64_t));
};

// Holds a signed 64-bit integer.
class AtomicInt {
public:
    // A cell holding `value`. Any thread (allocating it is not for the audio thread).
    explicit AtomicInt(std::int64_t value = 0) noexcept : raw_(value) {}
    AtomicInt(const AtomicInt&) = delete;
    AtomicInt& operator=(const AtomicInt&) = delete;

    // The stored value. Any thread.
    std::int64_t load() const noexcept { return raw_.load(std::memory_order_relaxed); }
    // Replaces the value. The cell's one writer thread.
    void store(std::int64_t value) noexcept { raw_.store(value, std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> raw_;
    static_assert(std::atomic<std::int64_t>::is_always_lock_free, "a 64-bit cell must be lock-free");
};

// Holds a Boolean as one byte, 0 or 1.
class AtomicBool {
public:
    // A cell holding `value`. Any thread (allocating it is not for the audio thread).
    explicit AtomicBool(bool value = false) noexcept : raw_(value ? 1 : 0) {}
    AtomicBool(const AtomicBool&) = delete;
    AtomicBool& operator=(const AtomicBool&) = delete;

    // The stored value. Any thread.
    bool load() const noexcept { return raw_.load(std::memory_order_relaxed) != 0; }
    // Replaces the value. The cell's one writer thread.
    void store(bool value) noexcept { raw_.store(value ? 1 : 0, std::memory_order_relaxed); }

private:
    std::atomic<std::uint8_t> raw_;
    static_assert(std::atomic<std::uint8_t>::is_always_lock_free, "a one-byte cell must be lock-free");
};

} // namespace zelvo
