// Cost of an aggregate output: the clock master renders a sine and a follower
// 100 ppm off plays it through the drift compensator, simulated on the fake
// backend (no real-time pacing), so the figure is pure processing speed.
#include "audio/AudioIO.h"
#include "audio/CoreAudioHAL.h"
#include "platform/FakeAudioBackend.h"
#include "support/ScopedBackend.h"
#include "support/TestRenderers.h"

#include <benchmark/benchmark.h>

using namespace zelvo;

static void BM_AggregateTwoCards(benchmark::State& state)
{
    test::ScopedBackend<FakeAudioBackend> fake;
    for (auto [uid, ppm] : {std::pair("master", 100.0), std::pair("follower", -100.0)}) {
        FakeAudioBackend::Device d;
        d.uid = uid;
        d.clockPPM = ppm;
        d.bufferSize = std::uint32_t(state.range(0));
        fake->addDevice(d);
    }
    const auto id = CoreAudioHAL::createAggregate("bench", "agg.bench", {"master", "follower"});
    AudioIO io(*CoreAudioHAL::device(*id), state.range(0), 0, 2, [](double rate, int) {
        return std::make_unique<test::SineRenderer>(rate, 440.0, 0.5f);
    });
    io.start();
    constexpr double chunk = 10.0;
    for (auto _ : state)
        fake->pump(chunk);
    state.counters["x_realtime"] = benchmark::Counter(chunk * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AggregateTwoCards)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);
