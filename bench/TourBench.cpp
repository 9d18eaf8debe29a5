// Paint costs of the guided tour over a 1600 × 1080 stage on the offscreen
// platform, rendered into a raster image at device pixel ratio 1 and 2, on a
// manual clock. Each frame repaints only what the view's own clock repaints:
// BM_TourHero_Frame the hero's fork picture (30 frames a second) with the
// dimmed stage beneath; BM_TourOverlay_RingFrame the ring's border band over
// the spotlighted mixer (30 frames a second), the stage widgets beneath
// included. ms_per_frame is main-thread CPU time per frame, p99_ms its 99th
// percentile, core_share the time per frame × 30 frames a second.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/RootView.h"
#include "state/TourModel.h"
#include "ui/tour/TourOverlay.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <ctime>
#include <vector>

namespace zelvo::tour {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void run(benchmark::State& state, TourModel::Step step, const std::function<QRegion(TourOverlay&)>& region)
{
    const double ratio = double(state.range(0));
    test::AppRig rig;
    AppModel& app = rig.make();
    ManualScheduler& scheduler = rig.scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime(scheduler, desktop, false, 1.0, &display);
    RootView root(app, runtime.env());
    root.resize(1600, 1080);
    TourModel tour({}, *rig.defaults, scheduler);
    TourOverlay* overlay = welcomeTour(&root, tour, runtime.env().withScale(root.unitScale()), {});
    root.setOverlay(overlay);
    root.show();
    tour.start(step);
    QApplication::processEvents();
    scheduler.advance(1.0); // movements settle
    QImage image(QSize(1600, 1080) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    std::vector<double> frames;
    for (auto _ : state) {
        scheduler.advance(1.0 / 30);
        const QRegion dirty = region(*overlay);
        const double start = threadSeconds();
        root.render(&image, dirty.boundingRect().topLeft(), dirty, QWidget::DrawChildren);
        frames.push_back(threadSeconds() - start);
    }
    std::sort(frames.begin(), frames.end());
    double total = 0;
    for (double f : frames)
        total += f;
    const double mean = frames.empty() ? 0 : total / double(frames.size());
    state.counters["ms_per_frame"] = mean * 1000;
    state.counters["p99_ms"] = frames.empty() ? 0 : frames[std::min(frames.size() - 1, frames.size() * 99 / 100)] * 1000;
    state.counters["core_share"] = mean * 30;
}

void BM_TourHero_Frame(benchmark::State& state)
{
    run(state, TourModel::Step::welcome, [](TourOverlay& overlay) {
        QWidget* picture = overlay.findChild<QWidget*>(QStringLiteral("tour.fork"));
        return picture ? QRegion(QRect(picture->mapTo(overlay.parentWidget(), QPoint(0, 0)), picture->size()))
                       : QRegion(overlay.rect());
    });
}

void BM_TourOverlay_RingFrame(benchmark::State& state)
{
    run(state, TourModel::Step::mixer, [](TourOverlay& overlay) {
        // The band the ring's frame repaints: the hole's edge, 5 points out.
        const QRect h = overlay.hole().toAlignedRect();
        QRegion band(h.adjusted(-5, -2, 5, 2));
        band -= QRegion(h.adjusted(20, 10, -20, -10));
        band -= QRegion(h.adjusted(10, 20, -10, -20));
        return band;
    });
}

BENCHMARK(BM_TourHero_Frame)->Arg(1)->Arg(2)->Iterations(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TourOverlay_RingFrame)->Arg(1)->Arg(2)->Iterations(300)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zelvo::tour
