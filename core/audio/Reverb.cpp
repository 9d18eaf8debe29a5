#include "audio/Reverb.h"

#include <algorithm>
#include <cmath>

namespace zelvo {

namespace {

// Line lengths in milliseconds: spread over 31 … 97 ms and turned into distinct
// primes at the running rate, so the modes of the lines interleave densely.
constexpr std::array<double, Reverb::kLines> kLineMs = {31.1, 34.7, 37.9, 41.3, 44.9, 48.1, 52.3, 55.7,
                                                        59.9, 63.1, 67.3, 71.9, 76.1, 81.7, 88.3, 96.7};
// Allpass diffusers in front of the network, per channel, milliseconds.
constexpr std::array<double, 4> kDiffuseMsL = {4.77, 3.59, 12.73, 9.31};
constexpr std::array<double, 4> kDiffuseMsR = {5.11, 3.23, 11.87, 9.97};
constexpr float kDiffusion = 0.62f;
// Output level of the tail: the 16 lines are summed 8 per side.
constexpr float kOutputGain = 0.25f;
// Keeps the recirculating state out of denormal range while the tail fades; far
// below anything audible (−360 dB).
constexpr float kAntiDenormal = 1e-18f;

bool isPrime(int n)
{
    if (n < 2)
        return false;
    for (int d = 2; d * d <= n; ++d)
        if (n % d == 0)
            return false;
    return true;
}

int primeAtLeast(int n)
{
    while (!isPrime(n))
        ++n;
    return n;
}

// In-place fast Walsh-Hadamard transform of 16 values, scaled to be orthonormal.
void hadamard16(std::array<float, Reverb::kLines>& v)
{
    for (int h = 1; h < Reverb::kLines; h *= 2)
        for (int i = 0; i < Reverb::kLines; i += 2 * h)
            for (int j = i; j < i + h; ++j) {
                const float a = v[std::size_t(j)];
                const float b = v[std::size_t(j + h)];
                v[std::size_t(j)] = a + b;
                v[std::size_t(j + h)] = a - b;
            }
    for (float& x : v)
        x *= 0.25f;
}

} // namespace

void Reverb::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    int previous = 0;
    for (int i = 0; i < kLines; ++i) {
        int length = primeAtLeast(std::max(previous + 1, int(std::lround(kLineMs[std::size_t(i)] * 0.001 * sampleRate_))));
        previous = length;
        lines_[std::size_t(i)].length = length;
        lines_[std::size_t(i)].data.assign(std::size_t(length), 0.0f);
        lines_[std::size_t(i)].pos = 0;
    }
    auto setup = [&](std::array<Allpass, 4>& chain, const std::array<double, 4>& ms) {
        for (std::size_t i = 0; i < chain.size(); ++i) {
            const int length = std::max(1, int(std::lround(ms[i] * 0.001 * sampleRate_)));
            chain[i].delay.length = length;
            chain[i].delay.data.assign(std::size_t(length), 0.0f);
            chain[i].delay.pos = 0;
        }
    };
    setup(diffuseL_, kDiffuseMsL);
    setup(diffuseR_, kDiffuseMsR);
    filterState_.fill(0.0f);
    updateFilters();
}

void Reverb::setDryWetPercent(double percent)
{
    if (std::isfinite(percent))
        wet_ = std::clamp(percent, 0.0, 100.0) / 100.0;
}

void Reverb::setDecayLow(double seconds)
{
    if (!std::isfinite(seconds))
        return;
    decayLow_ = std::clamp(seconds, kMinDecay, kMaxDecay);
    updateFilters();
}

void Reverb::setDecayHigh(double seconds)
{
    if (!std::isfinite(seconds))
        return;
    decayHigh_ = std::clamp(seconds, kMinDecay, kMaxDecay);
    updateFilters();
}

void Reverb::updateFilters()
{
    // Per line of m frames: the loop gain at 0 Hz must be k0 = 10^(−3m / (T0·fs))
    // and at Nyquist kπ = 10^(−3m / (Tπ·fs)). The one-pole b0 / (1 − a1·z⁻¹) with
    // b0 = k0·(1 − a1) has gain k0 at 0 Hz and k0·(1 − a1)/(1 + a1) at Nyquist, so
    // a1 = (1 − r)/(1 + r) with r = kπ/k0. The ratio is formed in the log domain so
    // extreme times cannot overflow. With both end gains below 1 and |a1| < 1
    // the magnitude stays below 1 at every frequency: the network is stable
    // whatever the times.
    for (std::size_t i = 0; i < std::size_t(kLines); ++i) {
        const double m = double(lines_[i].length);
        const double perLine = -3.0 * m / sampleRate_; // log10 of the gain per second of decay
        const double log10K0 = perLine / decayLow_;
        const double log10R = perLine / decayHigh_ - log10K0;
        const double k0 = std::pow(10.0, log10K0);
        const double r = std::pow(10.0, std::clamp(log10R, -30.0, 30.0));
        const double pole = std::clamp((1.0 - r) / (1.0 + r), -0.95, 0.95);
        filterPole_[i] = float(pole);
        filterGain_[i] = float(k0 * (1.0 - pole));
    }
}

void Reverb::reset()
{
    for (Delay& line : lines_)
        std::fill(line.data.begin(), line.data.end(), 0.0f);
    for (auto* chain : {&diffuseL_, &diffuseR_})
        for (Allpass& ap : *chain)
            std::fill(ap.delay.data.begin(), ap.delay.data.end(), 0.0f);
    filterState_.fill(0.0f);
}

void Reverb::process(float* left, float* right, int frames)
{
    if (lines_[0].data.empty())
        return;
    const float wet = float(wet_);
    const float dry = 1.0f - wet;
    std::array<float, kLines> v;
    for (int n = 0; n < frames; ++n) {
        float inL = left[n];
        float inR = right[n];
        if (!std::isfinite(inL))
            inL = 0.0f;
        if (!std::isfinite(inR))
            inR = 0.0f;
        float dl = inL;
        float dr = inR;
        for (Allpass& ap : diffuseL_)
            dl = ap.tick(dl, kDiffusion);
        for (Allpass& ap : diffuseR_)
            dr = ap.tick(dr, kDiffusion);

        float outL = 0.0f, outR = 0.0f;
        for (std::size_t i = 0; i < std::size_t(kLines); ++i) {
            float y = filterGain_[i] * lines_[i].read() + filterPole_[i] * filterState_[i];
            filterState_[i] = y;
            v[i] = y;
            // Alternate signs on the taps decorrelate the two sides.
            const float tap = (i & 2) ? -y : y;
            if (i & 1)
                outR += tap;
            else
                outL += tap;
        }
        hadamard16(v);
        for (std::size_t i = 0; i < std::size_t(kLines); ++i) {
            const float inject = (i & 1) ? dr : dl;
            lines_[i].write(v[i] + inject * 0.5f + kAntiDenormal);
        }
        left[n] = dry * inL + wet * outL * kOutputGain;
        right[n] = dry * inR + wet * outR * kOutputGain;
    }
}

} // namespace zelvo
