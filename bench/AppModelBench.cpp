// One application tick with four loaded decks, an open output, flow mode off
// and nothing changing: the whole 0.05 s tick of the state root. It must stay
// far below the tick (goal: under 100 µs) and wake no observer.
#include "state/AppModel.h"
#include "shell/StandardNeighbours.h"
#include "audio/AudioIO.h"
#include "library/TrackRecord.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "platform/FakeAudioBackend.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "support/ScopedBackend.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

using namespace zelvo;

static void BM_AppModel_Tick(benchmark::State& state)
{
    static int argc = 1;
    static char name[] = "bench_AppModel";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);

    test::TempHome home;
    test::ScopedBackend<FakeAudioBackend> backend;
    FakeAudioBackend::Device device;
    backend->setDefaultOutput(backend->addDevice(device));
    ManualScheduler clock;
    UserDefaults defaults(home.file(QStringLiteral("defaults.json")));
    StandardNeighbours neighbours;
    AppModel::Setup setup;
    setup.neighbours = &neighbours;
    AppModel app(defaults, clock, {QStringLiteral("bench")}, setup);
    app.boot();
    QElapsedTimer waited;
    waited.start();
    while ((!app.audio().io() || AudioSystem::attemptsInFlight() != 0) && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!app.audio().io()) {
        state.SkipWithError("no output opened");
        return;
    }
    const double rate = app.audio().io()->sampleRate();

    std::int64_t notifications = 0;
    const auto count = [&] { ++notifications; };
    for (int i = 0; i < AppModel::kDecks; ++i) {
        TrackRecord record = TrackRecord::forFile(QStringLiteral("/bench/track%1.wav").arg(i), {});
        record.grid = BeatGrid(120.0 + i, 0.0, 4);
        record.hotCues[std::size_t(i)] = 2.0;
        app.deck(i).install(record, TrackBufferRef(std::int64_t(rate * 10), rate), nullptr, false);
        QObject::connect(&app.deck(i), &DeckModel::liveChanged, count);
        QObject::connect(&app.deck(i), &DeckModel::trackChanged, count);
    }
    QObject::connect(&app, &AppModel::engineLiveChanged, count);
    backend->pump(0.05); // the voices take their tracks
    app.tick();          // the first look at the loaded decks changes their snapshots
    notifications = 0;

    for (auto _ : state)
        app.tick();

    state.counters["notifications"] = double(notifications);
    if (notifications != 0)
        state.SkipWithError("a tick without changes woke observers");
}
BENCHMARK(BM_AppModel_Tick)->Unit(benchmark::kMicrosecond);
