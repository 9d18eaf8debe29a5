// The analysis entry of TrackAnalyzer: the mono mix, the loudness and the order in
// which the parts run.
#include "library/TrackAnalyzer.h"

#include "library/AudioFileIO.h"
#include "library/TrackBuffer.h"

#include <algorithm>
#include <cmath>

namespace zelvo::TrackAnalyzer {

namespace {

constexpr double kWaveformPointsPerSecond = 150.0;

// Sum of squares in single precision, kept in sixteen lanes and blocks so that
// minutes of audio do not drown the late samples in rounding.
float sumOfSquares(std::span<const float> x)
{
    constexpr std::size_t kLanes = 16;
    constexpr std::size_t kBlock = 4096;
    float total = 0.0f;
    for (std::size_t start = 0; start < x.size(); start += kBlock) {
        const std::size_t end = std::min(start + kBlock, x.size());
        float lanes[kLanes] = {};
        std::size_t i = start;
        for (; i + kLanes <= end; i += kLanes)
            for (std::size_t k = 0; k < kLanes; ++k)
                lanes[k] += x[i + k] * x[i + k];
        for (; i < end; ++i)
            lanes[0] += x[i] * x[i];
        float block = 0.0f;
        for (float v : lanes)
            block += v;
        total += block;
    }
    return total;
}

} // namespace

double loudnessDB(std::span<const float> samples)
{
    // No samples read as silence: the floor.
    const float ms = samples.empty() ? 0.0f : sumOfSquares(samples) / float(samples.size());
    // A non-number level (non-number samples) reads as the floor too.
    const float floored = ms > 1e-12f ? ms : 1e-12f;
    return 10.0 * std::log10(double(floored));
}

TrackAnalysis analyze(const TrackBuffer& buffer, double minBpm, double maxBpm)
{
    const std::size_t frames = buffer.frames > 0 ? std::size_t(buffer.frames) : 0;
    std::vector<float> mono(frames);
    for (std::size_t i = 0; i < frames; ++i)
        mono[i] = (buffer.left[i] + buffer.right[i]) * 0.5f;
    const double sampleRate = buffer.sampleRate;

    TrackAnalysis result;
    result.waveform = computeWaveform(mono, sampleRate, kWaveformPointsPerSecond);
    result.grid = detectGrid(mono, sampleRate, minBpm, maxBpm);
    result.key = detectKey(mono, sampleRate);
    result.loudnessDB = loudnessDB(mono);
    result.metrics = TrackMetrics::from(result.waveform);
    result.duration = buffer.duration();
    return result;
}

TrackAnalysis analyze(const std::filesystem::path& url)
{
    const TrackBufferRef buffer = AudioFileIO::decode(url, analysisRate);
    return analyze(*buffer, defaultMinBpm, defaultMaxBpm);
}

} // namespace zelvo::TrackAnalyzer
