// Waveform band analysis of TrackAnalyzer.
#include "library/TrackAnalyzer.h"

#include "dsp/Biquad.h"

#include <algorithm>
#include <cmath>

namespace zelvo::TrackAnalyzer {

namespace {

constexpr double kButterworthQ = 0.70710678;
constexpr double kLowCross = 250.0;
constexpr double kHighCross = 2500.0;
// Reference floor: silence maps to 0 rather than dividing by zero.
constexpr float kReferenceFloor = 1e-6f;

// Each crossover side is two identical Butterworth sections (a fourth-order
// Linkwitz–Riley slope). The high band reuses the mid chain's 250 Hz high-pass.
struct BandSplit {
    Biquad lowLP1, lowLP2;
    Biquad restHP1, restHP2;
    Biquad midLP1, midLP2;
    Biquad highHP1, highHP2;

    explicit BandSplit(double sampleRate)
        : lowLP1(Biquad::lowpass(kLowCross, sampleRate, kButterworthQ))
        , lowLP2(lowLP1)
        , restHP1(Biquad::highpass(kLowCross, sampleRate, kButterworthQ))
        , restHP2(restHP1)
        , midLP1(Biquad::lowpass(kHighCross, sampleRate, kButterworthQ))
        , midLP2(midLP1)
        , highHP1(Biquad::highpass(kHighCross, sampleRate, kButterworthQ))
        , highHP2(highHP1)
    {
    }
};

inline void takePeak(float& peak, double y)
{
    // The peak is kept in single precision; a non-number never becomes the peak.
    const float a = float(std::fabs(y));
    if (a > peak)
        peak = a;
}

inline std::uint8_t toByte(float v, float reference)
{
    const float scaled = std::sqrt(v / reference) * 255.0f;
    if (std::isnan(scaled))
        return 0;
    return std::uint8_t(std::min(std::max(scaled, 0.0f), 255.0f));
}

} // namespace

WaveformData computeWaveform(std::span<const float> samples, double sampleRate, double pointsPerSecond)
{
    // hop = trunc(rate / pps), at least 1; kept in floating point until it is known
    // to fit, so odd requests (0 or non-number points per second) stay harmless.
    double hopD = std::trunc(sampleRate / pointsPerSecond);
    if (!(hopD >= 1.0))
        hopD = 1.0;

    WaveformData out;
    out.pointsPerSecond = sampleRate / hopD;
    if (hopD > double(samples.size()))
        return out;

    const std::size_t hop = std::size_t(hopD);
    const std::size_t points = samples.size() / hop;
    std::vector<float> low(points), mid(points), high(points);

    BandSplit f(sampleRate);
    const float* x = samples.data();
    float reference = kReferenceFloor;
    for (std::size_t i = 0; i < points; ++i) {
        float pl = 0.0f, pm = 0.0f, ph = 0.0f;
        for (std::size_t j = 0; j < hop; ++j) {
            const double s = double(*x++);
            const double lo = f.lowLP2.tick(f.lowLP1.tick(s));
            const double rest = f.restHP2.tick(f.restHP1.tick(s));
            const double mi = f.midLP2.tick(f.midLP1.tick(rest));
            const double hi = f.highHP2.tick(f.highHP1.tick(rest));
            takePeak(pl, lo);
            takePeak(pm, mi);
            takePeak(ph, hi);
        }
        low[i] = pl;
        mid[i] = pm;
        high[i] = ph;
        reference = std::max({reference, pl, pm, ph});
    }

    out.low.resize(points);
    out.mid.resize(points);
    out.high.resize(points);
    for (std::size_t i = 0; i < points; ++i) {
        out.low[i] = toByte(low[i], reference);
        out.mid[i] = toByte(mid[i], reference);
        out.high[i] = toByte(high[i], reference);
    }
    return out;
}

} // namespace zelvo::TrackAnalyzer
