#include "library/TrackBuffer.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace zelvo {

namespace {
std::atomic<std::int64_t> gLive{0};
std::atomic<std::int64_t> gLiveBytes{0};

std::int64_t bytesOf(std::int64_t frames)
{
    return 2 * std::max<std::int64_t>(frames, 1) * std::int64_t(sizeof(float));
}
} // namespace

TrackBuffer* TrackBuffer::create(std::int64_t frames, double sampleRate)
{
    frames = std::max<std::int64_t>(frames, 0);
    const std::size_t room = std::size_t(std::max<std::int64_t>(frames, 1));
    float* l = new float[room]();
    float* r = new (std::nothrow) float[room]();
    if (!r) {
        delete[] l;
        throw std::bad_alloc();
    }
    return new TrackBuffer(l, r, frames, sampleRate);
}

TrackBuffer* TrackBuffer::adopt(float* l, float* r, std::int64_t frames, double sampleRate)
{
    try {
        return new TrackBuffer(l, r, std::max<std::int64_t>(frames, 0), sampleRate);
    } catch (...) {
        delete[] l;
        delete[] r;
        throw;
    }
}

TrackBuffer::TrackBuffer(float* l, float* r, std::int64_t n, double rate)
    : left(l), right(r), frames(n), sampleRate(rate)
{
    gLive.fetch_add(1, std::memory_order_relaxed);
    gLiveBytes.fetch_add(bytesOf(frames), std::memory_order_relaxed);
}

TrackBuffer::~TrackBuffer()
{
    delete[] left;
    delete[] right;
    gLive.fetch_sub(1, std::memory_order_relaxed);
    gLiveBytes.fetch_sub(bytesOf(frames), std::memory_order_relaxed);
}

void TrackBuffer::release() const noexcept
{
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

std::int64_t TrackBuffer::liveCount() noexcept
{
    return gLive.load(std::memory_order_relaxed);
}

std::int64_t TrackBuffer::liveBytes() noexcept
{
    return gLiveBytes.load(std::memory_order_relaxed);
}

double TrackBuffer::musicEnd() const
{
    for (std::int64_t i = frames - 1; i >= 0; --i) {
        if (std::fabs(left[i]) > 0.0001f || std::fabs(right[i]) > 0.0001f)
            return double(i + 1) / sampleRate;
    }
    return 0.0;
}

} // namespace zelvo
