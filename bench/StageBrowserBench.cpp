// Costs of the stage browser (raster engine, device pixel ratio 1).
// BM_StageBrowser_Scroll: 10,000 records in a 260-pt list scrolled one row per
// frame at 60 frames a second, each frame an offscreen render of the list;
// core_share is main-thread seconds per second of display, x_realtime its
// reciprocal, rows_per_frame the rows painted per frame.
// BM_StageBrowser_Rebuild: the list read again after a sort change over
// 10,000 records; beyond_list_ms is what the browser adds to the state root's
// own list.
// BM_MiniWave_FirstScroll: a first pass through 1,000 rows whose five-minute
// waveforms lie on disk and in no cache, ten rows a frame; rows_per_s.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "library/LibraryStore.h"
#include "platform/Scheduler.h"
#include "support/LibraryFixtures.h"
#include "widgets/BenchRecords.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageBrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <chrono>

namespace zelvo {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}


WaveformData wave(int points, int seed)
{
    WaveformData w;
    for (int p = 0; p < points; ++p) {
        w.low.push_back(std::uint8_t((p * 7 + seed) % 256));
        w.mid.push_back(std::uint8_t((p * 3 + seed) % 256));
        w.high.push_back(std::uint8_t((p + seed) % 200));
    }
    return w;
}

// A browser over a state root with `count` records.
struct Rig {
    explicit Rig(int count) : runtime(scheduler, desktop, false, 1.0, &display)
    {
        test::writeCollection(bench::records(count));
        app.make();
    }
    std::unique_ptr<StageBrowser> browser(int listHeight)
    {
        auto b = std::make_unique<StageBrowser>(*app.app, runtime.env(), true);
        b->setAttribute(Qt::WA_DontShowOnScreen);
        b->resize(1200, 300);
        b->show();
        QApplication::processEvents();
        b->list()->setFixedHeight(listHeight);
        QApplication::processEvents();
        return b;
    }
    test::AppRig app;
    ManualScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime;
};

void BM_StageBrowser_Scroll(benchmark::State& state)
{
    Rig rig(10000);
    LibraryStore& library = rig.app.app->library();
    int seed = 0;
    for (const TrackRecord& record : library.tracks())
        library.storeWaveform(wave(1500, seed++), record.id);
    auto browser = rig.browser(260);
    StageBrowserList& list = *browser->list();
    QImage image(list.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    QScrollBar* bar = list.verticalScrollBar();
    double seconds = 0;
    std::int64_t frames = 0;
    const std::int64_t painted = list.rowsPainted();
    for (auto _ : state) {
        const auto start = Clock::now();
        for (int frame = 0; frame < 60; ++frame) {
            bar->setValue(bar->value() + 30 > bar->maximum() ? 0 : bar->value() + 30);
            list.viewport()->render(&image);
        }
        seconds += since(start);
        frames += 60;
    }
    const double share = seconds / double(state.iterations());
    state.counters["core_share"] = share;
    state.counters["x_realtime"] = share > 0 ? 1.0 / share : 0;
    state.counters["rows_per_frame"] = double(list.rowsPainted() - painted) / double(std::max<std::int64_t>(frames, 1));
}
BENCHMARK(BM_StageBrowser_Scroll)->Unit(benchmark::kMillisecond);

void BM_StageBrowser_Rebuild(benchmark::State& state)
{
    Rig rig(10000);
    AppModel& app = *rig.app.app;
    auto browser = rig.browser(260);
    StageBrowserList& list = *browser->list();
    const AppModel::BrowserSort sorts[] = {AppModel::BrowserSort::bpm, AppModel::BrowserSort::title};
    double rebuild = 0, model = 0;
    int turn = 0;
    for (auto _ : state) {
        const AppModel::BrowserSort sort = sorts[turn++ % 2];
        state.PauseTiming();
        app.setBrowserSort(sort);
        QApplication::processEvents(); // the queued rebuild runs here, outside the timing
        // The state root's own list after the same change, read cold (its
        // scores and sort keys are warm from the rebuild above either way).
        auto start = Clock::now();
        benchmark::DoNotOptimize(app.browserTracks());
        model += since(start);
        state.ResumeTiming();
        start = Clock::now();
        list.rebuildNow();
        rebuild += since(start);
    }
    const double n = double(state.iterations());
    state.counters["rebuild_ms"] = 1000 * rebuild / n;
    state.counters["list_ms"] = 1000 * model / n;
    state.counters["beyond_list_ms"] = 1000 * (rebuild - model) / n;
}
BENCHMARK(BM_StageBrowser_Rebuild)->Unit(benchmark::kMillisecond);

void BM_MiniWave_FirstScroll(benchmark::State& state)
{
    constexpr int kRows = 1000;
    Rig rig(kRows);
    {
        // Five-minute waveforms written straight to their files: none is cached.
        LibraryStore& library = rig.app.app->library();
        QDir().mkpath(QFileInfo(library.waveformPath(QUuid::createUuid())).absolutePath());
        int seed = 0;
        for (const TrackRecord& record : library.tracks()) {
            QFile file(library.waveformPath(record.id));
            if (!file.open(QIODevice::WriteOnly))
                state.SkipWithError("cannot write a waveform file");
            file.write(*LibraryStore::encodeWaveform(wave(45000, seed++)));
        }
    }
    double seconds = 0;
    std::int64_t rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A fresh state root: its library and the browser start with empty caches.
        rig.app.app.reset();
        rig.app.make();
        auto browser = rig.browser(300);
        StageBrowserList& list = *browser->list();
        QImage image(list.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        QScrollBar* bar = list.verticalScrollBar();
        const std::int64_t before = list.rowsPainted();
        state.ResumeTiming();
        const auto start = Clock::now();
        for (int top = 0; top < kRows; top += 10) {
            bar->setValue(top * 30);
            list.viewport()->render(&image);
        }
        seconds += since(start);
        rows += kRows;
        benchmark::DoNotOptimize(list.rowsPainted() - before);
        state.PauseTiming();
        browser.reset();
        state.ResumeTiming();
    }
    state.counters["rows_per_s"] = seconds > 0 ? double(rows) / seconds : 0;
}
BENCHMARK(BM_MiniWave_FirstScroll)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace zelvo
