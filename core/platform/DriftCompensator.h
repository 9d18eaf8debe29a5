#pragma once
// Carries audio from one device clock to another: the clock master's render
// thread pushes frames, a sub-device's render thread pulls them through a cubic
// resampler whose ratio a small PI controller steers from the ring's fill level,
// so a sub-device whose crystal runs a little fast or slow neither starves nor
// overflows. One producer thread and one consumer thread; nothing here locks or
// allocates after `prepare`.
#include <atomic>
#include <cstdint>
#include <vector>

namespace zelvo {

class DriftCompensator {
public:
    // Sizes the ring and sets the nominal ratio (input frames per output frame =
    // producerRate / consumerRate). `producerBlock` and `consumerBlock` are the two
    // devices' usual slice sizes; they set the fill target. Not on the audio thread.
    void prepare(int channels, double producerRate, double consumerRate, int producerBlock, int consumerBlock);
    // Empties the ring and the controller. Only while neither side runs.
    void reset();

    // Producer side: appends `frames` frames of `channels` planar channels. Frames
    // that do not fit are dropped and counted as an overrun. Producer thread only.
    void push(const float* const* channels, int frames) noexcept;
    // Consumer side: writes `frames` resampled frames into `channels`; silence
    // until the ring first reaches its target fill, and after a starvation (which
    // counts as an underrun and primes again). Consumer thread only.
    void pull(float* const* channels, int frames) noexcept;

    // Counters. Any thread.
    int underruns() const { return underruns_.load(std::memory_order_relaxed); }
    int overruns() const { return overruns_.load(std::memory_order_relaxed); }
    // Current ratio correction (1 = nominal). Any thread, for diagnostics.
    double correction() const { return correction_.load(std::memory_order_relaxed); }
    // Target fill in input frames.
    double target() const { return target_; }
    // Frames waiting in the ring. Any thread.
    std::int64_t fill() const;

private:
    int channels_ = 0;
    std::int64_t capacity_ = 0; // power of two, in frames
    std::vector<float> ring_;   // interleaved
    std::atomic<std::int64_t> writePos_{0};
    std::atomic<std::int64_t> readPos_{0};

    // Consumer state.
    double nominal_ = 1.0;
    double target_ = 0.0;
    double filtered_ = 0.0;
    double integral_ = 0.0;
    double phase_ = 0.0;
    bool primed_ = false;
    std::vector<float> history_; // four interleaved frames, oldest first

    std::atomic<int> underruns_{0};
    std::atomic<int> overruns_{0};
    std::atomic<double> correction_{1.0};
};

} // namespace zelvo
