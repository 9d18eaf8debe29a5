// The controller model: one feedback pass to an FLX10 with four decks playing,
// and the way from a controller message to the engine.
#include "ControllerRigSupport.h"

#include "models/DeckModel.h"
#include "models/MixerModel.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

// Allocations made on a thread while it counts.
thread_local bool counting = false;
std::atomic<long> allocations{0};

} // namespace

void* operator new(std::size_t size)
{
    if (counting)
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace zelvo {
namespace {

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_Controller";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

void BM_Controller_FeedbackTick(benchmark::State& state)
{
    application();
    test::ControllerRig rig;
    rig.model->start();
    test::SimulatedDdj& ddj = rig.plug(ControllerKind::flx10);
    const TrackRecord track = rig.models.drumTrack(QStringLiteral("drums.wav"), 60.0);
    for (int d = 0; d < 4; ++d) {
        rig.models.load(d, track);
        rig.models.deck(d).playPause();
    }
    rig.run(1.0);

    // The first full pass, as a newly connected controller gets it.
    const std::size_t before = ddj.received().messages;
    const auto firstStart = std::chrono::steady_clock::now();
    rig.model->connectionChanged(MIDIHub::Connection{ControllerKind::flx10, "DDJ-FLX10 again"});
    const double firstMicros
        = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - firstStart).count();
    rig.settle();
    const double firstBytes = double(ddj.received().messages - before) * 3;

    long passes = 0;
    long allocated = 0;
    for (auto _ : state) {
        state.PauseTiming();
        rig.models.render(2400); // 0.05 s of playing
        for (int d = 0; d < 4; ++d)
            rig.models.deck(d).refreshLive();
        state.ResumeTiming();
        allocations.store(0);
        counting = true;
        rig.model->tick();
        counting = false;
        allocated += allocations.load();
        ++passes;
    }
    state.counters["first_pass_bytes"] = firstBytes;
    state.counters["first_pass_us"] = firstMicros;
    state.counters["allocations_per_pass"] = passes ? double(allocated) / double(passes) : 0.0;
}
BENCHMARK(BM_Controller_FeedbackTick)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_Controller_EventToEngine(benchmark::State& state)
{
    application();
    test::ControllerRig rig({}, {}, MIDIHub::qtMainPoster());
    rig.model->start();
    test::SimulatedDdj& ddj = rig.plug(ControllerKind::flx10);
    ddj.knob(0, 0x13, 0);
    rig.settle();
    const ChannelParams& fader = rig.models.params().channel(0);
    std::vector<double> faderMicros;
    std::vector<double> cueMicros;
    int value = 0;
    for (auto _ : state) {
        // A fader move, to its cell.
        value = (value + 1000) % 16000 + 200;
        const double expected = double(value) / 16383.0;
        auto start = std::chrono::steady_clock::now();
        ddj.knob(0, 0x13, value);
        while (std::abs(fader.fader.load() - expected) > 1e-9)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        faderMicros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        // A headphone-cue press, to its cell.
        const bool cue = !fader.cue.load();
        start = std::chrono::steady_clock::now();
        ddj.press(0, 0x54);
        while (fader.cue.load() != cue)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        cueMicros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        ddj.release(0, 0x54);
        rig.settle();
    }
    state.counters["fader_median_us"] = percentile(faderMicros, 0.5);
    state.counters["fader_p99_us"] = percentile(faderMicros, 0.99);
    state.counters["key_median_us"] = percentile(cueMicros, 0.5);
    state.counters["key_p99_us"] = percentile(cueMicros, 0.99);
}
BENCHMARK(BM_Controller_EventToEngine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(500);

} // namespace
} // namespace zelvo
