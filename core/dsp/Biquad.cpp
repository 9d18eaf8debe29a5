#include "dsp/Biquad.h"

#include <cmath>
#include <numbers>

namespace zelvo {

namespace {

struct Design {
    double cosW;
    double a0;
    double alpha;
};

Design design(double cutoff, double sampleRate, double q)
{
    const double w = 2.0 * std::numbers::pi * cutoff / sampleRate;
    const double alpha = std::sin(w) / (2.0 * q);
    return {std::cos(w), 1.0 + alpha, alpha};
}

} // namespace

Biquad Biquad::lowpass(double cutoff, double sampleRate, double q)
{
    const Design d = design(cutoff, sampleRate, q);
    Biquad f;
    f.b0 = (1.0 - d.cosW) / 2.0 / d.a0;
    f.b1 = (1.0 - d.cosW) / d.a0;
    f.b2 = f.b0;
    f.a1 = -2.0 * d.cosW / d.a0;
    f.a2 = (1.0 - d.alpha) / d.a0;
    return f;
}

Biquad Biquad::highpass(double cutoff, double sampleRate, double q)
{
    const Design d = design(cutoff, sampleRate, q);
    Biquad f;
    f.b0 = (1.0 + d.cosW) / 2.0 / d.a0;
    f.b1 = -(1.0 + d.cosW) / d.a0;
    f.b2 = f.b0;
    f.a1 = -2.0 * d.cosW / d.a0;
    f.a2 = (1.0 - d.alpha) / d.a0;
    return f;
}

} // namespace zelvo
