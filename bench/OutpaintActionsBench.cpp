// Speed of the workflow's two context builds on the main thread (the fork of
// the mix and the room extension, from the action's call to the start of the
// render run) and of one idle tick of the chain.
#include "WorkflowRigSupport.h"

#include "audio/MixerParams.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

namespace {

using namespace zelvo;
using namespace zelvo::test;

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_OutpaintActions";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// A track of `seconds` with a 125 bpm grid on deck `deck`.
TrackRecord load125(WorkflowRig& w, int deck, const QString& title, double seconds)
{
    TrackRecord record = w.rig.drumTrack(title, seconds, 125.0);
    record.grid = BeatGrid(125.0, 0.0, 4);
    w.rig.library->update(record);
    w.rig.load(deck, record);
    return record;
}

void play(WorkflowRig& w, std::initializer_list<int> decks, double seconds)
{
    for (int d : decks)
        w.rig.deck(d).playPause();
    w.rig.run(seconds);
    const MixerState& s = *w.rig.engine->state();
    w.rig.runUntil([&] { return std::max(s.masterPeakL.load(), s.masterPeakR.load()) > 0.01; }, 1.0);
}

// fork(live: true) taking the fork of the mix: four audible decks at 48 kHz,
// 32 bars heard at 125 bpm (about 61 s), no learnt rate, so nearly all of the
// context is mixed ahead. x_realtime: context seconds per wall-clock second.
void BM_Outpaint_ForkMix(benchmark::State& state)
{
    application();
    WorkflowRig w(false);
    w.links->client = nullptr; // no server: nothing to ask to cancel
    ForkSettings settings = shortSettings();
    settings.contextBars = 32;
    settings.lengthBars = 32;
    w.model->setSettings(settings);
    for (int d = 0; d < 4; ++d)
        load125(w, d, QStringLiteral("Deck %1").arg(d + 1), 150.0);
    for (int d = 0; d < 4; ++d)
        w.rig.mixer.channel(d).setCrossfaderAssign(0);
    play(w, {0, 1, 2, 3}, 3.0);
    double context = 0;
    for (auto _ : state) {
        w.model->fork(true);
        state.PauseTiming();
        if (!w.model->pendingPlan() || w.model->pendingPlan()->contextStart != 0.0) {
            state.SkipWithError("the fork of the mix refused");
            break;
        }
        context = w.model->pendingPlan()->contextSeconds;
        w.model->cancel();
        state.ResumeTiming();
    }
    state.counters["context_s"] = context;
    state.counters["x_realtime"] =
        benchmark::Counter(context * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Outpaint_ForkMix)->Unit(benchmark::kMillisecond)->UseRealTime();

// Deck 1 plays the source, deck 2 a 125 bpm take of it, played far enough for
// the master tap to hold the context.
void takeOnDeck2(WorkflowRig& w, double played)
{
    const TrackRecord source = load125(w, 0, QStringLiteral("Source"), 150.0);
    TrackRecord take = w.addTake(source, 4.0, w.rig.clock.now(), std::nullopt, 150.0);
    take.grid = BeatGrid(125.0, 0.0, 4);
    w.rig.library->update(take);
    w.rig.load(1, take);
    play(w, {0, 1}, played);
}

// extend(auto: false) taking the room extension with default settings on a
// 125 bpm take (about 30.7 s of context), the 16-bit 44.1 kHz file included.
void BM_Outpaint_RoomExtension(benchmark::State& state)
{
    application();
    WorkflowRig w(false);
    w.links->client = nullptr; // no server: nothing to ask to cancel
    takeOnDeck2(w, 32.0);
    double context = 0;
    for (auto _ : state) {
        w.model->extend(false);
        state.PauseTiming();
        if (!w.model->pendingPlan() || w.model->notice() != QStringLiteral("LISTENING TO THE ROOM")) {
            state.SkipWithError("the room extension refused");
            break;
        }
        context = w.model->pendingPlan()->contextSeconds;
        w.model->cancel(); // drops the run, which removes the capture
        state.ResumeTiming();
    }
    state.counters["context_s"] = context;
    state.counters["x_realtime"] =
        benchmark::Counter(context * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Outpaint_RoomExtension)->Unit(benchmark::kMillisecond)->UseRealTime();

// One tick while a take plays on deck 2 and nothing is due.
void BM_Outpaint_Tick(benchmark::State& state)
{
    application();
    WorkflowRig w(false);
    w.links->client = nullptr; // no server: nothing to ask to cancel
    takeOnDeck2(w, 1.0);
    for (auto _ : state)
        w.model->tick();
    if (w.model->busy())
        state.SkipWithError("the tick started a render");
}
BENCHMARK(BM_Outpaint_Tick)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
