// The decks' share of the application's 0.05 s tick: four decks harvesting
// cues and refreshing their live snapshots while nothing changes. It must stay
// far below the tick (goal: under 50 µs for all four) and wake no observer.
#include "audio/MixEngine.h"
#include "library/TrackRecord.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "platform/Scheduler.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

using namespace zelvo;

static void BM_FourDeckTick(benchmark::State& state)
{
    static int argc = 1;
    static char name[] = "bench_DeckModel";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    const double rate = 48000.0;
    MixEngine engine(rate, 512);
    std::vector<std::unique_ptr<DeckModel>> decks;
    for (int i = 0; i < 4; ++i)
        decks.push_back(std::make_unique<DeckModel>(i, i == 1));
    MixerModel mixer;
    ManualScheduler clock;
    EngineBinder binder({decks[0].get(), decks[1].get(), decks[2].get(), decks[3].get()}, mixer, clock);
    binder.engineInstalled(engine);

    std::int64_t notifications = 0;
    for (int i = 0; i < 4; ++i) {
        TrackRecord record = TrackRecord::forFile(QStringLiteral("/bench/track%1.wav").arg(i), {});
        record.grid = BeatGrid(120.0 + i, 0.0, 4);
        record.cuePoint = 1.0 + i;
        record.hotCues[std::size_t(i)] = 2.0;
        decks[std::size_t(i)]->install(record, TrackBufferRef(std::int64_t(rate * 10), rate), nullptr, false);
        QObject::connect(decks[std::size_t(i)].get(), &DeckModel::liveChanged, [&] { ++notifications; });
        QObject::connect(decks[std::size_t(i)].get(), &DeckModel::trackChanged, [&] { ++notifications; });
    }
    std::vector<float> out(4 * 512);
    float* buffers[4] = {&out[0], &out[512], &out[1024], &out[1536]};
    engine.render(512, buffers, 4);
    binder.tick(); // the first look at the loaded decks changes their snapshots
    notifications = 0;

    for (auto _ : state)
        binder.tick();

    state.counters["notifications"] = double(notifications);
    if (notifications != 0)
        state.SkipWithError("a tick without changes woke observers");
}
BENCHMARK(BM_FourDeckTick)->Unit(benchmark::kMicrosecond);
