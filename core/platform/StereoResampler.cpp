#include "platform/StereoResampler.h"

#include <algorithm>
#include <climits>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace zelvo {

namespace {
bool wholeRate(double rate)
{
    return std::isfinite(rate) && rate >= 1.0 && rate <= 10'000'000.0;
}
} // namespace

StereoResampler::~StereoResampler()
{
    swr_free(&swr_);
}

int StereoResampler::prepare(double inRate, double outRate)
{
    swr_free(&swr_);
    if (!wholeRate(inRate) || !wholeRate(outRate))
        return AVERROR(EINVAL);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int r = swr_alloc_set_opts2(&swr_, &stereo, AV_SAMPLE_FMT_FLTP, int(std::lround(outRate)), &stereo,
                                AV_SAMPLE_FMT_FLTP, int(std::lround(inRate)), 0, nullptr);
    if (r >= 0)
        r = swr_init(swr_);
    if (r < 0)
        swr_free(&swr_);
    return r;
}

std::int64_t StereoResampler::maxOutput(std::int64_t frames) const
{
    if (!swr_)
        return 0;
    return std::max(0, swr_get_out_samples(swr_, int(std::min<std::int64_t>(frames, INT_MAX / 4))));
}

std::int64_t StereoResampler::process(const float* left, const float* right, std::int64_t frames,
                                      float* outLeft, float* outRight, std::int64_t room)
{
    if (!swr_)
        return AVERROR(EINVAL);
    const std::uint8_t* in[2] = {reinterpret_cast<const std::uint8_t*>(left),
                                 reinterpret_cast<const std::uint8_t*>(right)};
    std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(outLeft), reinterpret_cast<std::uint8_t*>(outRight)};
    return swr_convert(swr_, out, int(std::min<std::int64_t>(room, INT_MAX)), left ? in : nullptr,
                       int(std::min<std::int64_t>(frames, INT_MAX)));
}

std::int64_t StereoResampler::flush(float* outLeft, float* outRight, std::int64_t room)
{
    return process(nullptr, nullptr, 0, outLeft, outRight, room);
}

} // namespace zelvo
