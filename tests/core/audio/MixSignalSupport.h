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
// double -> double) has settled: one second of warm-up, then the output's
// component at `freq`, found by correlating half a second with a sine and a
// cosine (a peak search would miss the crest when the frequency divides the rate).
template <typename Process>
double sineGain(double freq, double rate, Process&& process)
{
    const std::size_t settle = std::size_t(rate);
    // A whole number of cycles, so the correlation has no leakage.
    const double cycles = std::max(1.0, std::floor(freq / 2.0));
    const std::size_t measure = std::size_t(std::llround(cycles * rate / freq));
    double s = 0.0, c = 0.0;
    for (std::size_t i = 0; i < settle + measure; ++i) {
        const double y = process(sine(freq, rate, i));
        if (i >= settle) {
            const double w = 2.0 * std::numbers::pi * freq * double(i) / rate;
            s += y * std::sin(w);
            c += y * std::cos(w);
        }
    }
    return 2.0 * std::sqrt(s * s + c * c) / double(measure);
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
