// Onset envelope and beat-grid detection of TrackAnalyzer.
#include "library/TrackAnalyzer.h"

#include "platform/HannWindow.h"
#include "platform/RealFFT.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace zelvo::TrackAnalyzer {

namespace {

constexpr int kOnsetFrame = 1024;
constexpr int kHop = 256;
constexpr double kDefaultBpm = 120.0;
// Fine search: ±1.5 bpm around the coarse tempo in 0.02 steps.
constexpr double kFineSpan = 1.5;
constexpr double kFineStep = 0.02;
// The span holds 151 candidates; the cap only matters for tempos so large that
// adding the step no longer moves the candidate.
constexpr int kFineCandidateCap = 160;

// Subtracts the causal running mean of the last 16 input values and clamps at 0.
std::vector<float> detrend(const std::vector<float>& x)
{
    constexpr std::size_t kWindow = 16;
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const std::size_t from = i + 1 >= kWindow ? i + 1 - kWindow : 0;
        float sum = 0.0f;
        for (std::size_t j = from; j <= i; ++j)
            sum += x[j];
        const float mean = sum / float(i + 1 - from);
        y[i] = std::max(x[i] - mean, 0.0f);
    }
    return y;
}

// Sine and cosine sums of the positive values of `x` at a period of `period`
// frames.
struct Phasor {
    double c = 0.0;
    double s = 0.0;
};

Phasor phasor(const std::vector<float>& x, double period)
{
    Phasor p;
    const double w = 2.0 * std::numbers::pi / period;
    for (std::size_t j = 0; j < x.size(); ++j) {
        if (x[j] > 0.0f) {
            const double a = w * double(j);
            p.s += double(x[j]) * std::sin(a);
            p.c += double(x[j]) * std::cos(a);
        }
    }
    return p;
}

// Single-precision dot product of x[0 ... n−1] and y[0 ... n−1].
float dot(const float* x, const float* y, std::size_t n)
{
    // Eight partial sums, as a vector unit keeps them: faster, and closer to the
    // true value than one running sum.
    float acc[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int k = 0; k < 8; ++k)
            acc[k] += x[i + k] * y[i + k];
    float tail = 0.0f;
    for (; i < n; ++i)
        tail += x[i] * y[i];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7])) + tail;
}

double sum(const std::vector<float>& x)
{
    double s = 0.0;
    for (float v : x)
        s += v;
    return s;
}

BeatGrid defaultGrid()
{
    return BeatGrid{kDefaultBpm, 0.0, 4};
}

} // namespace

OnsetEnvelope onsetEnvelope(std::span<const float> samples, double sampleRate, int frame, int hop)
{
    OnsetEnvelope out;
    if (frame < 2 || hop < 1 || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return out;
    if (samples.size() <= 4 * std::size_t(frame))
        return out;
    RealFFT fft{std::size_t(frame)};
    if (!fft.isValid())
        return out;
    const std::vector<float> window = hannWindow(std::size_t(frame));

    const std::size_t n = std::size_t(frame);
    const std::size_t half = n / 2;
    const std::size_t frames = (samples.size() - n) / std::size_t(hop);
    // Bins up to about 160 Hz carry the kick.
    const double kickLimit = std::trunc(160.0 / (sampleRate / double(frame)));
    const std::size_t kickBin = kickLimit > 2.0 ? std::size_t(std::min(kickLimit, double(half))) : 2;

    std::vector<float> env(frames), kick(frames);
    std::vector<float> prev(half, 0.0f), mags(half);
    for (std::size_t i = 0; i < frames; ++i) {
        fft.magnitudes(samples.subspan(i * std::size_t(hop), n), window, mags);
        float flux = 0.0f, kickFlux = 0.0f;
        for (std::size_t k = 1; k < half; ++k) {
            const float m = std::log(1.0f + 10.0f * mags[k]);
            const float d = m - prev[k];
            if (d > 0.0f) {
                flux += d;
                if (k <= kickBin)
                    kickFlux += d;
            }
            prev[k] = m;
        }
        env[i] = flux;
        kick[i] = kickFlux;
    }
    out.env = detrend(env);
    out.kick = detrend(kick);
    out.fps = sampleRate / double(hop);
    out.offset = double(n / 2) / sampleRate;
    return out;
}

BeatGrid detectGrid(std::span<const float> samples, double sampleRate, double minBpm, double maxBpm)
{
    const OnsetEnvelope onsets = onsetEnvelope(samples, sampleRate, kOnsetFrame, kHop);
    const std::vector<float>& env = onsets.env;
    const double fps = onsets.fps;
    const std::size_t n = env.size();

    // The kick band places the beats unless the low end carries almost nothing.
    const std::vector<float>& o = sum(onsets.kick) > 0.02 * sum(env) ? onsets.kick : env;

    if (std::trunc(fps * 4.0) >= double(n))
        return defaultGrid();

    // Autocorrelation over the lags of 200 ... 60 bpm.
    const double fpm = fps * 60.0;
    const std::size_t minLag = std::size_t(fpm / 200.0);
    const std::size_t maxLag = std::size_t(fpm / 60.0);
    std::vector<float> acf(maxLag + 2, 0.0f);
    for (std::size_t lag = minLag; lag <= maxLag + 1; ++lag) {
        if (lag < n)
            acf[lag] = dot(env.data(), env.data() + lag, n - lag) / float(n - lag);
    }

    // Strongest local maximum under a log-normal prior around 120 bpm.
    double best = -std::numeric_limits<double>::infinity();
    double lag = 0.0;
    for (std::size_t l = minLag + 1; l <= maxLag; ++l) {
        const double octaves = std::log2((fpm / double(l)) / 120.0) / 0.9;
        const double score = double(acf[l]) * std::exp(-0.5 * octaves * octaves);
        const float a = acf[l - 1], b = acf[l], c = acf[l + 1];
        if (score > best && a <= b && c <= b) {
            best = score;
            const float den = a - 2.0f * b + c;
            lag = den != 0.0f ? double(l) + double(0.5f * (a - c) / den) : double(l);
        }
    }

    const double coarse = lag > 0.0 ? fpm / lag : kDefaultBpm;
    // Octave folding. A range without a positive finite upper bound would halve
    // forever, so it leaves the tempo as measured; so does a lower bound that
    // doubles the tempo past every finite number.
    double bpm = coarse;
    if (maxBpm > 0.0 && std::isfinite(maxBpm)) {
        while (bpm < minBpm && std::isfinite(bpm))
            bpm *= 2.0;
        while (bpm >= maxBpm && std::isfinite(bpm))
            bpm /= 2.0;
        if (!std::isfinite(bpm))
            bpm = coarse;
    }

    // Fine search for the most phase-coherent tempo near the coarse one.
    {
        const double upper = bpm + kFineSpan;
        double bestMagnitude = 0.0;
        double chosen = bpm;
        double c = bpm - kFineSpan;
        for (int count = 0; c <= upper && count < kFineCandidateCap; ++count, c += kFineStep) {
            const Phasor p = phasor(env, fpm / c);
            const double magnitude = std::hypot(p.c, p.s);
            if (magnitude > bestMagnitude) {
                bestMagnitude = magnitude;
                chosen = c;
            }
        }
        bpm = chosen;
    }

    if (std::fabs(bpm - std::round(bpm)) < 0.06)
        bpm = std::round(bpm);

    // Beat phase from the circular mean of the onsets.
    const double period = fpm / bpm;
    const Phasor p = phasor(o, period);
    double pf = std::atan2(p.s, p.c) / (2.0 * std::numbers::pi) * period;
    if (pf < 0.0)
        pf += period;
    const double beat = 60.0 / bpm;
    const double t0 = std::fmod(onsets.offset + pf / fps, beat);

    // Downbeat: which of four consecutive beats carries the most onset energy.
    float sums[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const double duration = double(samples.size()) / sampleRate;
    const std::int64_t len = std::int64_t(o.size());
    // A beat is at least one sample long for any sane tempo; the cap only stops a
    // degenerate tempo from counting endlessly.
    const std::size_t beatCap = samples.size() + 4;
    if (beat > 0.0 && std::isfinite(beat)) {
        for (std::size_t k = 0; k < beatCap; ++k) {
            const double t = t0 + double(k) * beat;
            if (!(t < duration))
                break;
            const double fd = std::trunc(fps * (t - onsets.offset));
            if (!(fd >= 0.0 && fd < double(len)))
                continue;
            const std::int64_t f = std::int64_t(fd);
            float v = o[std::size_t(std::max<std::int64_t>(f, 2) - 2)];
            for (std::int64_t j = std::max<std::int64_t>(f, 2) - 2; j <= std::min(f + 2, len - 1); ++j)
                v = std::max(v, o[std::size_t(j)]);
            sums[k % 4] += v;
        }
    }
    int bestBeat = 0;
    for (int k = 1; k < 4; ++k)
        if (sums[k] > sums[bestBeat])
            bestBeat = k;

    const double firstBeat = std::fmod(t0 + beat * bestBeat, 4.0 * beat);
    return BeatGrid{bpm, firstBeat, 4};
}

} // namespace zelvo::TrackAnalyzer
