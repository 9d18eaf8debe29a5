// One deck rendering 256-frame blocks at 48 kHz: the direct path and key lock on
// each stretcher engine. x_realtime = seconds of audio per wall-clock second.
#include "audio/DeckVoice.h"
#include "audio/HostedUnitRegistry.h"
#include "platform/RubberBandTimePitch.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <random>
#include <vector>

using namespace zelvo;

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 256;

TrackBufferRef noiseTrack(double seconds)
{
    TrackBufferRef b(std::int64_t(seconds * kRate), kRate);
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    for (std::int64_t i = 0; i < b->frames; ++i) {
        const float tone = 0.3f * std::sin(float(i) * 0.0575f);
        b->left[i] = tone + noise(rng);
        b->right[i] = tone - noise(rng);
    }
    return b;
}

void runDeck(benchmark::State& state, bool keyLock, std::optional<RubberBandTimePitch::Engine> engine)
{
    std::optional<HostedUnitRegistry::Override> use;
    if (engine)
        use.emplace(units::kFormatConverter, units::kTimePitch,
                    [e = *engine] { return std::make_unique<RubberBandTimePitch>(e); });
    DeckVoice voice(kRate, 4096);
    voice.send(DeckCommand::load(noiseTrack(60.0), false));
    voice.send(DeckCommand::keyLock(keyLock));
    voice.send(DeckCommand::setLoop(1.0, 55.0, true)); // keeps it playing however long the run
    voice.send(DeckCommand::play());
    voice.tempo().store(1.06);
    std::vector<float> left(kBlock), right(kBlock);
    for (int i = 0; i < 64; ++i)
        voice.render(kBlock, left.data(), right.data());
    for (auto _ : state) {
        voice.render(kBlock, left.data(), right.data());
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
    voice.releaseRetiredBuffers();
}

void BM_DeckVoice_Direct(benchmark::State& state) { runDeck(state, false, std::nullopt); }
void BM_DeckVoice_KeyLock_R3(benchmark::State& state) { runDeck(state, true, RubberBandTimePitch::Engine::finer); }
void BM_DeckVoice_KeyLock_R2(benchmark::State& state) { runDeck(state, true, RubberBandTimePitch::Engine::faster); }

} // namespace

BENCHMARK(BM_DeckVoice_Direct);
BENCHMARK(BM_DeckVoice_KeyLock_R3);
BENCHMARK(BM_DeckVoice_KeyLock_R2);
