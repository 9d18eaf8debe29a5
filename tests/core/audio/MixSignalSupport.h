#pragma once
// Generated signals and level measurements for the mixer DSP tests.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace zelvo::test {

inline constexpr double sampleRates[] = {44100.0, 48000.0, 96000.0};

// Sample i of a sine of `freq` Hz and amplitude `amp`.
inline double sine(double freq, double rate, std::size_t i, double amp = 1.0)
{
    return amp * std::sin(2.0 * std::numbers::pi * freq * double(i) / rate);
}

// Ratio of output to input amplitude of a sine after `process` (a callable
// double -> double) has settled: one second of warm-up, then the peak over the
// next half second.
template <typename Process>
double sineGain(double freq, double rate, Process&& process)
{
    const std::size_t settle = std::size_t(rate);
    const std::size_t measure = std::size_t(rate / 2);
    double peak = 0.0;
    for (std::size_t i = 0; i < settle + measure; ++i) {
        const double y = process(sine(freq, rate, i));
        if (i >= settle)
            peak = std::max(peak, std::abs(y));
    }
    return peak;
}

inline double dB(double gain) { return 20.0 * std::log10(gain); }

// Root-mean-square level of a block.
inline double rms(const std::vector<double>& v)
{
    double sum = 0.0;
    for (double x : v)
        sum += x * x;
    return v.empty() ? 0.0 : std::sqrt(sum / double(v.size()));
}

} // namespace zelvo::test
