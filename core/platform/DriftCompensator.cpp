#include "platform/DriftCompensator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelvo {

namespace {

// Controller gains, per input frame of fill error. The proportional term alone
// settles in about 1/kP output frames (20 s at 48 kHz) and leaves an offset of
// drift/kP frames (200 frames for 200 ppm); the integral term, critically damped
// (kI = kP^2 / 4), removes that offset. Slow on purpose: the correction must stay
// far below audible pitch wobble.
constexpr double kP = 1.0e-6;
constexpr double kI = kP * kP / 4.0;
// The fill level is read once per consumer slice and jumps by whole producer
// blocks, so it is smoothed first (time constant about 50 slices).
constexpr double kSmoothing = 0.02;
// Never correct by more than 0.5 %: a real clock is off by parts per million.
constexpr double kMaxCorrection = 0.005;

std::int64_t nextPowerOfTwo(std::int64_t n)
{
    std::int64_t p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

} // namespace

void DriftCompensator::prepare(int channels, double producerRate, double consumerRate, int producerBlock,
                               int consumerBlock)
{
    channels_ = std::max(channels, 1);
    nominal_ = (producerRate > 0 && consumerRate > 0) ? producerRate / consumerRate : 1.0;
    const int p = std::clamp(producerBlock, 1, 4096);
    const int c = std::clamp(consumerBlock, 1, 4096);
    // Enough for one block of each side plus as much again as headroom for the
    // controller's transients.
    target_ = 2.0 * (p + c * nominal_) + 256.0;
    capacity_ = nextPowerOfTwo(std::int64_t(4 * target_) + 2 * 4096);
    ring_.assign(std::size_t(capacity_ * channels_), 0.0f);
    history_.assign(std::size_t(4 * channels_), 0.0f);
    reset();
}

void DriftCompensator::reset()
{
    writePos_.store(0, std::memory_order_relaxed);
    readPos_.store(0, std::memory_order_relaxed);
    filtered_ = target_;
    integral_ = 0.0;
    phase_ = 0.0;
    primed_ = false;
    std::fill(history_.begin(), history_.end(), 0.0f);
    correction_.store(1.0, std::memory_order_relaxed);
}

std::int64_t DriftCompensator::fill() const
{
    return writePos_.load(std::memory_order_acquire) - readPos_.load(std::memory_order_acquire);
}

void DriftCompensator::push(const float* const* channels, int frames) noexcept
{
    if (capacity_ == 0 || frames <= 0)
        return;
    const std::int64_t write = writePos_.load(std::memory_order_relaxed);
    const std::int64_t read = readPos_.load(std::memory_order_acquire);
    std::int64_t room = capacity_ - (write - read);
    int n = frames;
    if (n > room) {
        overruns_.fetch_add(1, std::memory_order_relaxed);
        n = int(std::max<std::int64_t>(room, 0));
    }
    const std::int64_t mask = capacity_ - 1;
    for (int i = 0; i < n; ++i) {
        float* slot = &ring_[std::size_t(((write + i) & mask) * channels_)];
        for (int ch = 0; ch < channels_; ++ch)
            slot[ch] = channels[ch][i];
    }
    writePos_.store(write + n, std::memory_order_release);
}

void DriftCompensator::pull(float* const* channels, int frames) noexcept
{
    if (frames <= 0)
        return;
    const std::int64_t write = writePos_.load(std::memory_order_acquire);
    std::int64_t read = readPos_.load(std::memory_order_relaxed);
    const std::int64_t available = write - read;

    auto silence = [&](int from) {
        for (int ch = 0; ch < channels_; ++ch)
            std::memset(channels[ch] + from, 0, sizeof(float) * std::size_t(frames - from));
    };

    if (!primed_) {
        if (double(available) < target_ || capacity_ == 0) {
            silence(0);
            return;
        }
        primed_ = true;
        filtered_ = double(available);
        integral_ = 0.0;
        phase_ = 0.0;
    }

    filtered_ += kSmoothing * (double(available) - filtered_);
    const double error = filtered_ - target_;
    integral_ += error * frames;
    double correction = 1.0 + kP * error + kI * integral_;
    correction = std::clamp(correction, 1.0 - kMaxCorrection, 1.0 + kMaxCorrection);
    // Keep the integral from winding up while the correction is clamped.
    if (correction == 1.0 - kMaxCorrection || correction == 1.0 + kMaxCorrection)
        integral_ -= error * frames;
    correction_.store(correction, std::memory_order_relaxed);
    const double step = nominal_ * correction;

    const std::int64_t mask = capacity_ - 1;
    const int stride = channels_;
    float* h = history_.data();
    for (int i = 0; i < frames; ++i) {
        phase_ += step;
        while (phase_ >= 1.0) {
            if (read == write) {
                // Starved: the producer stopped or fell far behind. Play silence
                // and wait for the target fill again.
                readPos_.store(read, std::memory_order_release);
                underruns_.fetch_add(1, std::memory_order_relaxed);
                primed_ = false;
                silence(i);
                return;
            }
            std::memmove(h, h + stride, sizeof(float) * std::size_t(3 * stride));
            const float* slot = &ring_[std::size_t((read & mask) * channels_)];
            std::memcpy(h + 3 * stride, slot, sizeof(float) * std::size_t(stride));
            ++read;
            phase_ -= 1.0;
        }
        // Catmull-Rom between history frames 1 and 2 (frame 3 is the newest).
        const float t = float(phase_);
        for (int ch = 0; ch < stride; ++ch) {
            const float y0 = h[ch], y1 = h[stride + ch], y2 = h[2 * stride + ch], y3 = h[3 * stride + ch];
            const float a = -0.5f * y0 + 1.5f * y1 - 1.5f * y2 + 0.5f * y3;
            const float b = y0 - 2.5f * y1 + 2.0f * y2 - 0.5f * y3;
            const float c = -0.5f * y0 + 0.5f * y2;
            channels[ch][i] = ((a * t + b) * t + c) * t + y1;
        }
    }
    readPos_.store(read, std::memory_order_release);
}

} // namespace zelvo
