#pragma once
// Stand-in engines for output tests: a ramp whose sample values tell the frame
// position and the channel, and a sine. Both can note the time of every render
// call into a buffer sized up front (the audio thread never allocates).
#include "audio/AudioRenderer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace zelvo::test {

class TestRenderer : public AudioRenderer {
public:
    explicit TestRenderer(double sampleRate, std::size_t maxCallbacks = 0) : sampleRate(sampleRate), times_(maxCallbacks) {}

    void setCueEnabled(bool enabled) override { cueEnabled = enabled; }
    void releaseBuffers() override
    {
        ++releases;
        if (onRelease)
            onRelease();
    }

    // Times of the first render calls (steady clock), up to maxCallbacks.
    std::vector<std::chrono::steady_clock::time_point> callbackTimes() const
    {
        const auto n = std::min<std::size_t>(calls.load(), times_.size());
        return {times_.begin(), times_.begin() + std::ptrdiff_t(n)};
    }

    const double sampleRate;
    bool cueEnabled = false;
    int releases = 0;
    std::atomic<std::int64_t> frames{0};
    std::atomic<std::size_t> calls{0};
    // Set by the test: what the renderer should find still alive when released.
    std::function<void()> onRelease;

protected:
    void note(int n) noexcept
    {
        const auto i = calls.fetch_add(1, std::memory_order_relaxed);
        if (i < times_.size())
            times_[i] = std::chrono::steady_clock::now();
        frames.fetch_add(n, std::memory_order_relaxed);
    }

private:
    std::vector<std::chrono::steady_clock::time_point> times_;
};

// Channel c, frame p (counted from the first frame ever rendered) holds
// c + (p mod 100000) / 100000.
class RampRenderer final : public TestRenderer {
public:
    using TestRenderer::TestRenderer;
    static float value(int channel, std::int64_t position)
    {
        return float(channel) + float(position % 100000) / 100000.0f;
    }
    void render(int n, float* const* channels) noexcept override
    {
        const std::int64_t start = position_;
        for (int c = 0; c < kChannels; ++c)
            for (int i = 0; i < n; ++i)
                channels[c][i] = value(c, start + i);
        position_ += n;
        note(n);
    }

private:
    std::int64_t position_ = 0;
};

// The same sine on every channel, starting at phase 0.
class SineRenderer final : public TestRenderer {
public:
    SineRenderer(double sampleRate, double hz, float amplitude) : TestRenderer(sampleRate), hz_(hz), amplitude_(amplitude) {}
    void render(int n, float* const* channels) noexcept override;

private:
    double hz_;
    float amplitude_;
    double phase_ = 0;
};

} // namespace zelvo::test
