#pragma once
// Converts two planar float channels from one sample rate to another
// (libswresample). The output starts aligned with the input: the converter
// centres its filter on the first input frame and holds back only the filter's
// tail, which `flush` hands out at the end. Statuses are negative FFmpeg error
// codes.
#include <cstdint>

struct SwrContext;

namespace zelvo {

class StereoResampler {
public:
    StereoResampler() = default;
    ~StereoResampler();
    StereoResampler(const StereoResampler&) = delete;
    StereoResampler& operator=(const StereoResampler&) = delete;

    // Sets up the conversion; whole rates only. Returns 0 or a status. Any
    // thread; one resampler is used by one thread.
    int prepare(double inRate, double outRate);
    // Most output frames that `process` or `flush` may produce for `frames` input frames.
    std::int64_t maxOutput(std::int64_t frames) const;
    // Converts `frames` input frames into at most `room` output frames; returns
    // the output frames or a status.
    std::int64_t process(const float* left, const float* right, std::int64_t frames,
                         float* outLeft, float* outRight, std::int64_t room);
    // Hands out the frames still held back after the last input.
    std::int64_t flush(float* outLeft, float* outRight, std::int64_t room);

private:
    SwrContext* swr_ = nullptr;
};

} // namespace zelvo
