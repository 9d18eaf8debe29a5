#include "audio/GainLaws.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace zelvo {

double trimGain(double x) noexcept
{
    if (x <= -0.995)
        return 0.0;
    return x >= 0.0 ? std::pow(10.0, 9.0 * x / 20.0) : std::pow(10.0, 30.0 * x / 20.0);
}

double isolatorGain(double x) noexcept
{
    if (x >= 0.0)
        return std::pow(10.0, 6.0 * x / 20.0);
    if (x <= -0.985)
        return 0.0;
    return (1.0 + 0.02 * x) * std::pow(10.0, 26.0 * x / 20.0);
}

double faderGain(double x) noexcept
{
    return std::pow(std::clamp(x, 0.0, 1.0), 1.7);
}

double crossfaderGain(int side, double position, double curve) noexcept
{
    if (side == 0)
        return 1.0;
    const double x = (std::clamp(position, -1.0, 1.0) + 1.0) / 2.0;
    const double d = side < 0 ? x : 1.0 - x;
    const double cut = d > 0.97 ? 0.0 : 1.0;
    return curve * cut + (1.0 - curve) * std::cos(d * std::numbers::pi / 2.0);
}

double crossfaderGainForChannel(int channel, double position, double curve) noexcept
{
    return crossfaderGain(channel == 0 ? -1 : 1, position, curve);
}

std::string beatFractionLabel(double beats)
{
    if (beats == 0.125)
        return "1/8";
    if (beats == 0.25)
        return "1/4";
    if (beats == 0.5)
        return "1/2";
    if (beats == 0.75)
        return "3/4";
    // Truncated in double first: converting a non-finite or huge value to an
    // integer directly is undefined.
    const double t = std::trunc(beats);
    if (!std::isfinite(t) || std::abs(t) > 1e15)
        return "0";
    return std::to_string(std::int64_t(t));
}

} // namespace zelvo
