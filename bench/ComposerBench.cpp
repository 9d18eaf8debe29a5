// Speed of the composer's heavy paths: the splice of a finished take and the
// writing of a context file.
#include "generation/OutpaintComposer.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>

namespace {

using namespace zelvo;

TrackBufferRef music(double seconds, double rate, double amplitude, double hz)
{
    const auto frames = std::int64_t(seconds * rate);
    TrackBufferRef b(frames, rate);
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        // A tone with a beat-like swell, so the body level has windows to rank.
        const double env = 0.6 + 0.4 * std::sin(6.283185307179586 * 2.0 * t);
        b->left[i] = float(amplitude * env * std::sin(6.283185307179586 * hz * t));
        b->right[i] = float(amplitude * env * std::sin(6.283185307179586 * hz * 1.01 * t));
    }
    return b;
}

// The take: 60 s of source kept before the seam, 120 s of continuation after it,
// 3 minutes of output at 48 kHz.
void BM_Composer_Splice(benchmark::State& state)
{
    const double rate = 48000;
    const auto source = music(240, rate, 0.5, 110);
    const auto generated = music(32 + 120, rate, 0.35, 112);
    const ForkPlan plan{90.0, 58.0, 32.0, 120.0};
    double seconds = 0;
    for (auto _ : state) {
        auto out = OutpaintComposer::splice(*source, 30.0, *generated, plan, std::nullopt, 0.03,
                                            [](const OutpaintComposer::SpliceReport& r) {
                                                benchmark::DoNotOptimize(r.peak);
                                            });
        seconds = out->duration();
        benchmark::DoNotOptimize(out->left[out->frames - 1]);
    }
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Composer_Splice)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 30 s context cut from a 48 kHz track, converted and written as a 44.1 kHz
// 16-bit file (the system flushes it to disk later, outside the measurement).
void BM_Composer_WriteContext(benchmark::State& state)
{
    const auto track = music(120, 48000, 0.5, 110);
    const ForkPlan plan{70.0, 40.0, 30.0, 60.0};
    QTemporaryDir dir;
    const std::filesystem::path path = std::filesystem::path(dir.path().toStdString()) / "ctx-bench000.wav";
    for (auto _ : state)
        OutpaintComposer::writeContext(*track, plan, path);
    state.counters["x_realtime"] = benchmark::Counter(30.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Composer_WriteContext)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
