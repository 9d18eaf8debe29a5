#pragma once
// Planar two-channel float audio shared by decoding, decks, the master tap,
// analysis and splicing.
//
// Ownership: an intrusive atomic reference count. A buffer crosses to the audio
// thread as a raw pointer carrying one strong reference (`TrackBufferRef::detach`
// / `TrackBufferRef::adopt`). Retaining never allocates; the release that drops
// the last reference frees, and the audio thread never does that: it hands
// buffers back to the main thread instead.
#include <atomic>
#include <cstdint>
#include <utility>

namespace zelvo {

class TrackBuffer {
public:
    // Allocates max(frames, 1) zeroed samples per channel, so `left` and `right`
    // are never null. Returned with one reference owned by the caller. Not on the
    // audio thread.
    static TrackBuffer* create(std::int64_t frames, double sampleRate);
    // Takes over two arrays made with `new float[]`, each holding at least
    // max(frames, 1) samples (any beyond `frames` are never read): a decoder
    // hands over what it filled without copying it. Returned with one reference
    // owned by the caller; on failure the arrays are freed. Not on the audio
    // thread.
    static TrackBuffer* adopt(float* left, float* right, std::int64_t frames, double sampleRate);

    TrackBuffer(const TrackBuffer&) = delete;
    TrackBuffer& operator=(const TrackBuffer&) = delete;

    float* const left;
    float* const right;
    const std::int64_t frames;
    const double sampleRate;

    // frames / sampleRate, in seconds. Any thread.
    double duration() const { return sampleRate > 0 ? double(frames) / sampleRate : 0.0; }
    // End of the audible material in seconds: one past the last frame whose left or
    // right magnitude exceeds 0.0001; 0 for a silent or empty buffer. Any thread.
    double musicEnd() const;

    // Adds a reference. Never allocates; safe on the audio thread.
    void retain() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    // Drops a reference and frees the buffer with the last one. Never on the audio
    // thread unless another reference is known to remain.
    void release() const noexcept;
    // Current number of references (for tests and diagnostics). Any thread.
    int referenceCount() const noexcept { return refs_.load(std::memory_order_acquire); }

    // Buffers alive in the process (for leak checks in tests). Any thread.
    static std::int64_t liveCount() noexcept;
    // Bytes of samples those buffers hold (for memory checks in tests). Any thread.
    static std::int64_t liveBytes() noexcept;

private:
    TrackBuffer(float* left, float* right, std::int64_t frames, double sampleRate);
    ~TrackBuffer();

    mutable std::atomic<int> refs_{1};
};

// A strong reference to a TrackBuffer, for code off the audio thread.
class TrackBufferRef {
public:
    TrackBufferRef() = default;
    // Makes a new zeroed buffer (see TrackBuffer::create).
    TrackBufferRef(std::int64_t frames, double sampleRate) : p_(TrackBuffer::create(frames, sampleRate)) {}
    TrackBufferRef(const TrackBufferRef& other) noexcept : p_(other.p_) { if (p_) p_->retain(); }
    TrackBufferRef(TrackBufferRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    TrackBufferRef& operator=(TrackBufferRef other) noexcept { std::swap(p_, other.p_); return *this; }
    ~TrackBufferRef() { if (p_) p_->release(); }

    // Takes over a pointer that already carries one reference.
    static TrackBufferRef adopt(TrackBuffer* p) noexcept { TrackBufferRef r; r.p_ = p; return r; }
    // Adds a reference to a borrowed pointer.
    static TrackBufferRef retain(TrackBuffer* p) noexcept { if (p) p->retain(); return adopt(p); }
    // Gives up the pointer together with its reference (to send it in a command).
    TrackBuffer* detach() noexcept { return std::exchange(p_, nullptr); }

    TrackBuffer* get() const noexcept { return p_; }
    TrackBuffer* operator->() const noexcept { return p_; }
    TrackBuffer& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { TrackBufferRef().swap(*this); }
    void swap(TrackBufferRef& other) noexcept { std::swap(p_, other.p_); }
    friend bool operator==(const TrackBufferRef& a, const TrackBufferRef& b) { return a.p_ == b.p_; }

private:
    TrackBuffer* p_ = nullptr;
};

} // namespace zelvo
