// Spectral frames as the analysis takes them from 22050 Hz mono audio:
// 1024-point frames every 256 samples (onset envelope) and non-overlapping
// 8192-point frames (chromagram). x_realtime is seconds of audio per second.
#include "platform/HannWindow.h"
#include "platform/RealFFT.h"

#include <benchmark/benchmark.h>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 22050.0;

void runFrames(benchmark::State& state, std::size_t n, std::size_t hop)
{
    const std::size_t seconds = 60;
    std::vector<float> audio(std::size_t(kRate) * seconds);
    std::mt19937 random(1);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (float& v : audio)
        v = uniform(random);
    zelvo::RealFFT fft(n);
    const std::vector<float> window = zelvo::hannWindow(n);
    std::vector<float> mags(fft.binCount());
    for (auto _ : state) {
        for (std::size_t start = 0; start + n <= audio.size(); start += hop) {
            fft.magnitudes(std::span(audio).subspan(start, n), window, mags);
            benchmark::DoNotOptimize(mags.data());
        }
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(seconds) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RealFFT_Onset1024(benchmark::State& state) { runFrames(state, 1024, 256); }
void BM_RealFFT_Chroma8192(benchmark::State& state) { runFrames(state, 8192, 8192); }

} // namespace

BENCHMARK(BM_RealFFT_Onset1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RealFFT_Chroma8192)->Unit(benchmark::kMillisecond);
