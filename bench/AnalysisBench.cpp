// Speed of the track analysis on five minutes of 22.05 kHz mono music (drums with
// chords over them), whole and in its parts, as seconds of audio per second on one
// core; and of decoding a five-minute MP3 plus analysing it.
#include "library/TrackAnalyzer.h"
#include "library/TrackBuffer.h"
#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace {

using namespace zelvo;

constexpr double kRate = TrackAnalyzer::analysisRate;
constexpr double kSeconds = 300;

// Drums at 126 bpm with an eight-bar chord loop over them.
const std::vector<float>& music(double rate = kRate)
{
    static std::vector<float> cache;
    static double cachedRate = 0;
    if (cachedRate != rate) {
        cache = test::drumLoop(126, 0.3, kSeconds, rate);
        std::vector<std::vector<int>> chords;
        for (int root : {57, 53, 48, 55})
            chords.push_back(test::triad(root, root == 57));
        const auto pad = test::progression(chords, 4 * 4 * 60.0 / 126, 1, rate);
        for (std::size_t i = 0; i < cache.size(); ++i)
            cache[i] += 0.5f * pad[i % pad.size()];
        cachedRate = rate;
    }
    return cache;
}

void report(benchmark::State& state)
{
    state.counters["x_realtime"] = benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Analyze_Full(benchmark::State& state)
{
    const auto& m = music();
    TrackBufferRef buffer(std::int64_t(m.size()), kRate);
    std::copy(m.begin(), m.end(), buffer->left);
    std::copy(m.begin(), m.end(), buffer->right);
    for (auto _ : state)
        benchmark::DoNotOptimize(TrackAnalyzer::analyze(*buffer));
    report(state);
}
BENCHMARK(BM_Analyze_Full)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Analyze_Waveform(benchmark::State& state)
{
    const auto& m = music();
    for (auto _ : state)
        benchmark::DoNotOptimize(TrackAnalyzer::computeWaveform(m, kRate, 150));
    report(state);
}
BENCHMARK(BM_Analyze_Waveform)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Analyze_OnsetEnvelope(benchmark::State& state)
{
    const auto& m = music();
    for (auto _ : state)
        benchmark::DoNotOptimize(TrackAnalyzer::onsetEnvelope(m, kRate, 1024, 256));
    report(state);
}
BENCHMARK(BM_Analyze_OnsetEnvelope)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole grid detection: the onset envelope plus the tempo and phase search.
void BM_Analyze_Grid(benchmark::State& state)
{
    const auto& m = music();
    for (auto _ : state)
        benchmark::DoNotOptimize(TrackAnalyzer::detectGrid(m, kRate, 78, 156));
    report(state);
}
BENCHMARK(BM_Analyze_Grid)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Analyze_Key(benchmark::State& state)
{
    const auto& m = music();
    for (auto _ : state)
        benchmark::DoNotOptimize(TrackAnalyzer::detectKey(m, kRate));
    report(state);
}
BENCHMARK(BM_Analyze_Key)->Unit(benchmark::kMillisecond)->UseRealTime();

// Decoding a 44.1 kHz stereo MP3 at the analysis rate, then the full analysis.
void BM_DecodeAndAnalyze_Mp3(benchmark::State& state)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zelvo-analysis-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "track.mp3";
    {
        const auto& m = music(44100);
        test::Audio audio;
        audio.sampleRate = 44100;
        audio.channels = {m, m};
        test::writeAudioFile(path, test::AudioFormat::mp3, audio);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(TrackAnalyzer::analyze(path));
    report(state);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DecodeAndAnalyze_Mp3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
