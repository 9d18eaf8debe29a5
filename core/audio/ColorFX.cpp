#include "audio/ColorFX.h"

#include <cmath>

namespace zelvo {

std::optional<ColorFXKind> colorFXKindFromRaw(std::int64_t raw) noexcept
{
    if (raw < 0 || raw > 3)
        return std::nullopt;
    return ColorFXKind(int(raw));
}

std::string_view label(ColorFXKind kind) noexcept
{
    switch (kind) {
    case ColorFXKind::filter: return "FILTER";
    case ColorFXKind::crush: return "CRUSH";
    case ColorFXKind::noise: return "NOISE";
    case ColorFXKind::space: return "SPACE";
    }
    return "FILTER";
}

ColorFX::ColorFX(double rate)
    : spaceL(0.2, rate)
    , spaceR(0.2, rate)
    , sampleRate(rate)
{
}

bool ColorFX::atRest(ColorFXKind kind, double amount) const noexcept
{
    // The same test as tick's: a NaN amount passes untouched.
    if (!(std::abs(amount) >= 0.02))
        return true;
    switch (kind) {
    case ColorFXKind::filter: return svfL.atRest() && svfR.atRest();
    case ColorFXKind::crush: return false;
    case ColorFXKind::noise: return false;
    case ColorFXKind::space: return spaceL.atRest() && spaceR.atRest();
    }
    return false;
}

void ColorFX::tick(double& left, double& right, ColorFXKind kind, double amount, double parameter) noexcept
{
    const double a = std::abs(amount);
    // Also lets a NaN amount through untouched rather than into the filters.
    if (!(a >= 0.02))
        return;
    const bool negative = amount < 0.0;
    switch (kind) {
    case ColorFXKind::filter: {
        // Low-pass from 20 kHz down to 50 Hz, or high-pass from 20 Hz up to 12 kHz.
        const double cutoff = negative ? 20000.0 * std::pow(0.0025, a) : 20.0 * std::pow(600.0, a);
        if (std::abs(cutoff - lastCutoff) > 0.5) {
            const double q = 0.707 + 5.0 * parameter;
            svfL.set(cutoff, q, sampleRate);
            svfR.set(cutoff, q, sampleRate);
            lastCutoff = cutoff;
        }
        const SVF::Outputs l = svfL.tick(left);
        const SVF::Outputs r = svfR.tick(right);
        left = negative ? l.low : l.high;
        right = negative ? r.low : r.high;
        break;
    }
    case ColorFXKind::crush: {
        // Sample-and-hold over amount²·40 + 1 samples, then requantise to
        // 16 − 13·a bits: at full amount a 41st of the rate and 3 bits.
        holdCount += 1.0;
        if (amount * amount * 40.0 + 1.0 <= holdCount) {
            holdCount = 0.0;
            holdL = left;
            holdR = right;
        }
        const double levels = std::exp2(16.0 - 13.0 * a);
        left = std::round(holdL * levels) / levels;
        right = std::round(holdR * levels) / levels;
        break;
    }
    case ColorFXKind::noise: {
        const double cutoff = negative ? 9000.0 * std::pow(0.03, a) : 300.0 * std::pow(30.0, a);
        noiseSVF.set(cutoff, 1.4, sampleRate);
        noiseSeed ^= noiseSeed << 13;
        noiseSeed ^= noiseSeed >> 17;
        noiseSeed ^= noiseSeed << 5;
        const double white = 2.0 * (double(noiseSeed) / 4294967295.0) - 1.0;
        const SVF::Outputs f = noiseSVF.tick(white);
        const double n = a * (negative ? f.low : f.high) * 0.35;
        left += n;
        right += n;
        break;
    }
    case ColorFXKind::space: {
        const double t = negative ? 0.023 : 0.023 + 0.05 * a;
        const double dL = spaceL.read(t);
        const double dR = spaceR.read(1.37 * t);
        const double fb = 0.55 + 0.35 * a;
        spaceL.write(left + fb * dR);
        spaceR.write(right + fb * dL);
        left = (1.0 - 0.4 * a) * left + a * dL;
        right = (1.0 - 0.4 * a) * right + a * dR;
        break;
    }
    }
}

} // namespace zelvo
