// The model server's head start on a loaded 10-minute 48 kHz track:
// BM_EncodeAhead_Call is what the main thread pays per load (goal: under
// 0.2 ms); BM_EncodeAhead_Write is the writer's work, 48 kHz to 44.1 kHz
// 16-bit into a temporary folder with the rename, as seconds of track per
// second (goal: at least 200×).
#include "generation/AheadEncoding.h"
#include "platform/Scheduler.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QThread>
#include <QUrl>
#include <benchmark/benchmark.h>

#include <cmath>

using namespace zelvo;

namespace {

constexpr double kRate = 48000.0;
constexpr double kSeconds = 600.0;

TrackBufferRef tenMinutes()
{
    TrackBufferRef buffer(std::int64_t(kRate * kSeconds), kRate);
    for (std::int64_t i = 0; i < buffer->frames; ++i) {
        buffer->left[i] = 0.4f * float(std::sin(double(i) * 0.0575));
        buffer->right[i] = 0.4f * float(std::sin(double(i) * 0.0612));
    }
    return buffer;
}

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "bench_EncodeAhead";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

} // namespace

static void BM_EncodeAhead_Call(benchmark::State& state)
{
    application();
    test::TempHome home;
    // Nobody listens on this port: "prepare" fails quietly, as it may. Its
    // answer may come after this run; the clock outlives it.
    static QtScheduler* clock = new QtScheduler;
    const BrainClient client(QUrl(QStringLiteral("http://127.0.0.1:9")), *clock);
    BrainHealth health;
    health.ok = true;
    health.fastLoaded = true;
    const std::optional<BrainHealth> report = health;
    const TrackBufferRef buffer = tenMinutes();
    const QString scratch = home.file(QStringLiteral("scratch"));
    for (auto _ : state) {
        ahead::start(report, QUuid::createUuid(), buffer, scratch, client);
        state.PauseTiming();
        while (ahead::writersInFlight() != 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        state.ResumeTiming();
    }
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
BENCHMARK(BM_EncodeAhead_Call)->Unit(benchmark::kMicrosecond)->Iterations(20);

static void BM_EncodeAhead_Write(benchmark::State& state)
{
    test::TempHome home;
    const TrackBufferRef buffer = tenMinutes();
    const QString file = ahead::scratchFile(home.file(QStringLiteral("scratch")), QUuid::createUuid());
    for (auto _ : state) {
        if (!ahead::writeScratch(*buffer, file)) {
            state.SkipWithError("write failed");
            return;
        }
    }
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeAhead_Write)->Unit(benchmark::kMillisecond)->UseRealTime();
