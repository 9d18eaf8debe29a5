#include "audio/MasterTap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvo {

namespace {
std::int64_t capacityFor(double sampleRate, double seconds)
{
    const double frames = sampleRate * seconds;
    if (!(frames >= 1.0))
        return 1;
    if (frames >= double(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    return std::int64_t(frames);
}
} // namespace

MasterTap::MasterTap(double sampleRate, double seconds)
    : sampleRate_(sampleRate)
    , seconds_(seconds)
    , capacity_(capacityFor(sampleRate, seconds))
    , left_(new std::atomic<std::int16_t>[std::size_t(capacity_)]())
    , right_(new std::atomic<std::int16_t>[std::size_t(capacity_)]())
{
}

std::int16_t MasterTap::encode(float x) noexcept
{
    if (std::isnan(x))
        return 32767;
    return std::int16_t(std::clamp(x, -1.0f, 1.0f) * 32767.0f);
}

void MasterTap::write(std::int64_t frames, const float* left, const float* right) noexcept
{
    if (frames < 1)
        return;
    const std::int64_t w = written_.load(std::memory_order_relaxed);
    claimed_.store(w + frames, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    std::int64_t slot = w % capacity_;
    for (std::int64_t i = 0; i < frames; ++i) {
        left_[std::size_t(slot)].store(encode(left[i]), std::memory_order_relaxed);
        right_[std::size_t(slot)].store(encode(right[i]), std::memory_order_relaxed);
        if (++slot == capacity_)
            slot = 0;
    }
    written_.store(w + frames, std::memory_order_release);
}

double MasterTap::available() const noexcept
{
    return std::min(seconds_, double(written()) / sampleRate_);
}

std::optional<MasterTap::Snapshot> MasterTap::snapshot(double seconds) const
{
    const std::int64_t w = written_.load(std::memory_order_acquire);
    const std::int64_t end = w - writerLead;
    const double asked = sampleRate_ * seconds;
    if (!(asked >= 1.0))
        return std::nullopt;
    std::int64_t n = std::min(end, capacity_ - writerLead);
    if (asked < double(n))
        n = std::int64_t(asked);
    if (n < 1)
        return std::nullopt;

    TrackBufferRef buffer(n, sampleRate_);
    const std::int64_t first = end - n;
    std::int64_t slot = first % capacity_;
    for (std::int64_t i = 0; i < n; ++i) {
        buffer->left[i] = float(left_[std::size_t(slot)].load(std::memory_order_relaxed)) / 32767.0f;
        buffer->right[i] = float(right_[std::size_t(slot)].load(std::memory_order_relaxed)) / 32767.0f;
        if (++slot == capacity_)
            slot = 0;
    }

    // Frame f shares its slot with frame f + capacity: any frame below
    // claimed − capacity may have been replaced while we copied.
    std::atomic_thread_fence(std::memory_order_acquire);
    const std::int64_t claimed = claimed_.load(std::memory_order_relaxed);
    const std::int64_t lost = std::max<std::int64_t>(0, claimed - capacity_ - first);
    if (lost == 0)
        return Snapshot{std::move(buffer), end};
    if (lost >= n)
        return std::nullopt;
    TrackBufferRef kept(n - lost, sampleRate_);
    std::copy(buffer->left + lost, buffer->left + n, kept->left);
    std::copy(buffer->right + lost, buffer->right + n, kept->right);
    return Snapshot{std::move(kept), end};
}

} // namespace zelvo
