// Key detection of TrackAnalyzer.
#include "library/TrackAnalyzer.h"

#include "platform/HannWindow.h"
#include "platform/RealFFT.h"

#include <array>
#include <cmath>

namespace zelvo::TrackAnalyzer {

namespace {

constexpr int kFrame = 8192;

// Krumhansl–Kessler probe-tone profiles, index 0 = tonic.
constexpr std::array<double, 12> kMajorProfile = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09, 2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
constexpr std::array<double, 12> kMinorProfile = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53, 2.54, 4.75, 3.98, 2.69, 3.34, 3.17};

// Pearson correlation; the denominator floor keeps a flat chromagram at 0.
double correlation(const std::array<double, 12>& a, const std::array<double, 12>& b)
{
    double ma = 0.0, mb = 0.0;
    for (int k = 0; k < 12; ++k) {
        ma += a[k];
        mb += b[k];
    }
    ma /= 12.0;
    mb /= 12.0;
    double num = 0.0, va = 0.0, vb = 0.0;
    for (int k = 0; k < 12; ++k) {
        num += (a[k] - ma) * (b[k] - mb);
        va += (a[k] - ma) * (a[k] - ma);
        vb += (b[k] - mb) * (b[k] - mb);
    }
    return num / std::max(std::sqrt(va * vb), 1e-9);
}

} // namespace

std::optional<MusicalKey> detectKey(std::span<const float> samples, double sampleRate)
{
    if (samples.size() <= 2 * std::size_t(kFrame))
        return std::nullopt;
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return std::nullopt;
    RealFFT fft(kFrame);
    if (!fft.isValid())
        return std::nullopt;
    const std::vector<float> window = hannWindow(kFrame);

    // Bins from 60 Hz to 2500 Hz. Bin 0 has no pitch; it is only in range at rates
    // above 491.52 kHz, where it is left out.
    const double binHz = sampleRate / kFrame;
    const std::size_t lo = std::max<std::size_t>(std::size_t(60.0 / binHz), 1);
    const std::size_t hi = std::min<std::size_t>(std::size_t(std::min(2500.0 / binHz, double(kFrame / 2))), kFrame / 2);
    std::vector<int> pitchClass(kFrame / 2, 0);
    for (std::size_t b = lo; b < hi; ++b) {
        const double midi = std::round(12.0 * std::log2(double(b) * binHz / 440.0) + 69.0);
        pitchClass[b] = int(midi - 12.0 * std::floor(midi / 12.0));
    }

    std::array<double, 12> chroma{};
    std::vector<float> mags(kFrame / 2);
    for (std::size_t start = 0; start + kFrame < samples.size(); start += kFrame) {
        fft.magnitudes(samples.subspan(start, kFrame), window, mags);
        std::array<double, 12> fc{};
        for (std::size_t b = lo; b < hi; ++b)
            fc[std::size_t(pitchClass[b])] += std::log(1.0 + double(mags[b]));
        double total = 0.0;
        for (double v : fc)
            total += v;
        if (total > 0.0)
            for (int k = 0; k < 12; ++k)
                chroma[k] += fc[k] / total;
    }

    double chromaSum = 0.0;
    for (double v : chroma)
        chromaSum += v;
    if (!(chromaSum > 0.0))
        return std::nullopt;

    return keyFromChroma(chroma);
}

MusicalKey keyFromChroma(const std::array<double, 12>& chroma)
{
    // A later candidate must be strictly better: lower tonic first, major first.
    double best = -2.0;
    int tonic = 0;
    bool minor = false;
    for (int t = 0; t < 12; ++t) {
        std::array<double, 12> rotated;
        for (int k = 0; k < 12; ++k)
            rotated[k] = chroma[(t + k) % 12];
        const double cMaj = correlation(rotated, kMajorProfile);
        const double cMin = correlation(rotated, kMinorProfile);
        if (cMaj > best) {
            best = cMaj;
            tonic = t;
            minor = false;
        }
        if (cMin > best) {
            best = cMin;
            tonic = t;
            minor = true;
        }
    }
    return MusicalKey(tonic, minor);
}

} // namespace zelvo::TrackAnalyzer
