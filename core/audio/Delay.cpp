#include "audio/Delay.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvo {

namespace {
std::size_t slotsFor(double maxSeconds, double sampleRate)
{
    const double samples = maxSeconds * sampleRate;
    // Non-finite or absurd spans get the four guard slots only, rather than an
    // undefined conversion or an allocation that cannot succeed.
    if (!(samples > 0.0) || samples > double(std::numeric_limits<int>::max()))
        return 4;
    return std::max<std::size_t>(std::size_t(samples) + 4, 4);
}
} // namespace

Delay::Delay(double maxSeconds, double sampleRate)
    : buffer_(slotsFor(maxSeconds, sampleRate), 0.0)
    , sampleRate_(sampleRate)
{
    zeroRun_ = buffer_.size();
}

double Delay::read(double seconds) const noexcept
{
    const std::size_t count = buffer_.size();
    double d = seconds * sampleRate_;
    if (!(d >= 1.0) || !std::isfinite(d))
        d = 1.0;
    else if (d > double(count - 2))
        d = double(count - 2);
    double p = double(index_) - d;
    if (p < 0.0)
        p += double(count);
    std::size_t i = std::size_t(p);
    double frac = p - double(i);
    // A position a hair below zero can round up to exactly `count` when the
    // count is added back: that is slot 0, not one past the end.
    if (i >= count) {
        i = 0;
        frac = 0.0;
    }
    const double a = buffer_[i];
    const double b = buffer_[i + 1 == count ? 0 : i + 1];
    return a + frac * (b - a);
}

void Delay::clear() noexcept
{
    std::fill(buffer_.begin(), buffer_.end(), 0.0);
    zeroRun_ = buffer_.size();
}

} // namespace zelvo
