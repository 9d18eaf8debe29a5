// The browser's list and flow mode's once-a-second body over a library of
// 10,000 analysed records (grids, keys, warmed metrics): a read of the list
// for each sort key with nothing changed, the first read of a relative sort
// after the reference changes, and one body of the driver with an empty queue.
#include "state/AppModel.h"
#include "shell/StandardNeighbours.h"
#include "audio/AudioIO.h"
#include "library/TrackBuffer.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/FakeAudioBackend.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "support/LibraryFixtures.h"
#include "support/ScopedBackend.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <random>

using namespace zelvo;

namespace {

// A booted state root over the library, two records on decks 1 and 2.
struct Bench {
    Bench()
    {
        static int argc = 1;
        static char name[] = "bench_Browser";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
        std::mt19937 random(7);
        std::vector<TrackRecord> records;
        for (int i = 0; i < 10000; ++i) {
            test::RecordFields fields;
            fields.title = QStringLiteral("Track %1 %2").arg(random() % 997).arg(i);
            fields.artist = QStringLiteral("Artist %1").arg(i % 300);
            fields.bpm = 80.0 + double(random() % 900) / 10.0;
            fields.key = MusicalKey(std::int64_t(random() % 12), random() % 2 == 0);
            fields.energy = double(random() % 1000) / 1000.0;
            fields.added = fields.added.addSecs(std::int64_t(random() % 100000));
            records.push_back(test::fixtureRecord(fields));
        }
        test::writeCollection(records);
        FakeAudioBackend::Device device;
        backend->setDefaultOutput(backend->addDevice(device));
        AppModel::Setup setup;
        setup.neighbours = &neighbours;
        app = std::make_unique<AppModel>(defaults, clock, QStringList{QStringLiteral("bench")}, setup);
        app->boot();
        QElapsedTimer waited;
        waited.start();
        while ((!app->audio().io() || AudioSystem::attemptsInFlight() != 0) && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (const TrackRecord& r : app->library().tracks())
            app->library().metrics(r.id);
        for (int i = 0; i < 2; ++i)
            app->deck(i).install(app->library().tracks()[std::size_t(i)], TrackBufferRef(4800, 48000.0), nullptr, false);
    }
    ~Bench() { app.reset(); }

    test::TempHome home;
    test::ScopedBackend<FakeAudioBackend> backend;
    ManualScheduler clock;
    UserDefaults defaults{home.file(QStringLiteral("defaults.json"))};
    StandardNeighbours neighbours;
    std::unique_ptr<AppModel> app;
};

} // namespace

static void BM_Browser_Tracks10k(benchmark::State& state)
{
    Bench bench;
    AppModel& app = *bench.app;
    app.setBrowserSort(AppModel::BrowserSort(state.range(0)));
    state.SetLabel(AppModel::rawValue(app.browserSort()).toStdString());
    benchmark::DoNotOptimize(app.browserTracks());
    for (auto _ : state)
        benchmark::DoNotOptimize(app.browserTracks());
}
BENCHMARK(BM_Browser_Tracks10k)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

static void BM_Browser_RelativeSortCold10k(benchmark::State& state)
{
    Bench bench;
    AppModel& app = *bench.app;
    app.setBrowserSort(AppModel::BrowserSort::tune);
    double side = -1.0;
    for (auto _ : state) {
        state.PauseTiming();
        side = -side; // the other deck becomes the reference
        app.mixer().setCrossfader(side);
        state.ResumeTiming();
        benchmark::DoNotOptimize(app.browserTracks());
    }
}
BENCHMARK(BM_Browser_RelativeSortCold10k)->Unit(benchmark::kMillisecond);

static void BM_Flow_AutoTick10k(benchmark::State& state)
{
    Bench bench;
    AppModel& app = *bench.app;
    app.setAutoQueue(true);
    for (auto _ : state) {
        state.PauseTiming();
        app.setQueue({}); // the fill scores the whole library again
        state.ResumeTiming();
        // One second of ticks: one body and 20 ticks of the state root.
        bench.clock.advance(1.05);
    }
}
BENCHMARK(BM_Flow_AutoTick10k)->Unit(benchmark::kMillisecond);
