// Costs of the faceplate's crate browser and model module (raster engine,
// manual clock, device pixel ratio 1 and 2).
// BM_TrackTable_Scroll/<ratio>: a 20-row table over 10,000 records scrolled
// one row per frame, the first 2,000 records' waveforms cached; ms_per_frame,
// p99_ms, core_share (the frame's time × 60 frames a second).
// BM_TrackTable_Requery/ADDED, /TUNE: one search keystroke over 10,000
// records until the table has read the list and repainted; ms_per_frame,
// p99_ms.
// BM_BrainModule_StatusFrame/<ratio>: one frame of the status display with a
// scrolling headline; core_share at 6 frames a second.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "library/LibraryStore.h"
#include "platform/Scheduler.h"
#include "support/LibraryFixtures.h"
#include "widgets/BenchRecords.h"
#include "ui/instrument/BrainModule.h"
#include "ui/instrument/TrackTable.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/UiEnv.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace zelvo {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

using Clock = std::chrono::steady_clock;


struct Rig {
    explicit Rig(int count) : runtime(scheduler, desktop, false, 1.0, &display)
    {
        test::writeCollection(bench::records(count));
        app.make();
    }
    test::AppRig app;
    ManualScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime;
};

struct Frames {
    std::vector<double> ms;
    void report(benchmark::State& state, double fps) const
    {
        if (ms.empty())
            return;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        double sum = 0;
        for (double m : ms)
            sum += m;
        const double mean = sum / double(ms.size());
        state.counters["ms_per_frame"] = mean;
        state.counters["p99_ms"] = sorted[std::min(sorted.size() - 1, std::size_t(double(sorted.size()) * 0.99))];
        state.counters["core_share"] = mean * fps / 1000.0;
    }
};

QImage target(QSize size, double ratio)
{
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

void BM_TrackTable_Scroll(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    Rig rig(10000);
    LibraryStore& library = rig.app.app->library();
    WaveformData wave;
    for (int p = 0; p < 1500; ++p) {
        wave.low.push_back(std::uint8_t(p * 7 % 256));
        wave.mid.push_back(std::uint8_t(p * 3 % 256));
        wave.high.push_back(std::uint8_t(p % 200));
    }
    // Waveforms for the rows a run reaches (writing 10,000 files dominates the
    // set-up on a busy disk); the rest paint their empty cell.
    int stored = 0;
    for (const TrackRecord& record : library.tracks())
        if (stored++ < 2000)
            library.storeWaveform(wave, record.id);
    TrackTable table(*rig.app.app, rig.runtime.env());
    table.setAttribute(Qt::WA_DontShowOnScreen);
    table.resize(476, int(TrackTable::kHeader + 20 * TrackTable::kRow));
    table.show();
    QApplication::processEvents();
    QImage image = target(table.viewport()->size(), ratio);
    QScrollBar* bar = table.verticalScrollBar();
    const int step = int(TrackTable::kRow);
    // One pass to fill the waveform cache.
    for (int v = 0; v <= std::min(bar->maximum(), 2000 * step); v += step * 20) {
        bar->setValue(v);
        table.viewport()->render(&image);
    }
    bar->setValue(0);
    Frames frames;
    for (auto _ : state) {
        const auto start = Clock::now();
        bar->setValue(bar->value() + step > bar->maximum() ? 0 : bar->value() + step);
        table.viewport()->render(&image);
        frames.ms.push_back(1000 * std::chrono::duration<double>(Clock::now() - start).count());
    }
    frames.report(state, 60);
}
BENCHMARK(BM_TrackTable_Scroll)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_TrackTable_Requery(benchmark::State& state, AppModel::BrowserSort sort)
{
    Rig rig(10000);
    AppModel& app = *rig.app.app;
    app.setBrowserSort(sort);
    TrackTable table(app, rig.runtime.env());
    table.setAttribute(Qt::WA_DontShowOnScreen);
    table.resize(476, int(TrackTable::kHeader + 20 * TrackTable::kRow));
    table.show();
    QApplication::processEvents();
    QImage image = target(table.viewport()->size(), 1);
    const QString queries[] = {QStringLiteral("track 1"), QStringLiteral("track 12")};
    int turn = 0;
    Frames frames;
    for (auto _ : state) {
        const auto start = Clock::now();
        app.setBrowserQuery(queries[turn++ % 2]);
        table.rebuildNow();
        table.viewport()->render(&image);
        frames.ms.push_back(1000 * std::chrono::duration<double>(Clock::now() - start).count());
    }
    frames.report(state, 0);
}
BENCHMARK_CAPTURE(BM_TrackTable_Requery, ADDED, AppModel::BrowserSort::added)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackTable_Requery, TUNE, AppModel::BrowserSort::tune)->Unit(benchmark::kMillisecond);

void BM_BrainModule_StatusFrame(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    Rig rig(0);
    BrainModule module(*rig.app.app, rig.runtime.env(), QSizeF(BrainModule::kWidth, 300));
    module.setAttribute(Qt::WA_DontShowOnScreen);
    module.show();
    QApplication::processEvents();
    auto* status = module.findChild<kit::LiveCanvas*>(QStringLiteral("brain.status"));
    if (!status) {
        state.SkipWithError("no status display");
        return;
    }
    QImage image = target(status->size(), ratio);
    Frames frames;
    for (auto _ : state) {
        const auto start = Clock::now();
        status->setRevision(status->revision() + 1);
        status->render(&image);
        frames.ms.push_back(1000 * std::chrono::duration<double>(Clock::now() - start).count());
    }
    frames.report(state, 6);
}
BENCHMARK(BM_BrainModule_StatusFrame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zelvo
