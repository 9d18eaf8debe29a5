// Paint costs of the stage (raster engine, device pixel ratio 1).
// BM_Stage_Frame renders one simulated second of a 1600 × 1080 stage: the lane
// headers at their 12 frames a second and the overview strips at their 10, as
// while every deck plays, each an offscreen render of that widget. core_share
// is main-thread seconds per second of display; x_realtime its reciprocal.
// BM_Ghosts_Label paints one ghosted title from its cache.
#include "App/AppModel.h"
#include "AppTestSupport.h"
#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/Palette.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/DeckCardPieces.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/RootView.h"
#include "ui/stage/StageSides.h"
#include "ui/stage/StageView.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <chrono>

namespace zelvo::stage {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

void BM_Stage_Frame(benchmark::State& state)
{
    const int lanes = int(state.range(0));
    test::AppRig rig;
    rig.make();
    ManualScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime(scheduler, desktop, false, 1.0, &display);
    RootView root(*rig.app, runtime.env());
    root.resize(1600, 1080);
    root.sides().setFourDecks(lanes == 4);
    root.setAttribute(Qt::WA_DontShowOnScreen);
    root.show();
    QApplication::processEvents();

    std::vector<LaneHeader*> headers;
    std::vector<OverviewStrip*> strips;
    for (int deck = 0; deck < lanes; ++deck) {
        DeckLane* lane = root.stageView()->lane(deck);
        headers.push_back(lane->header());
        if (auto* strip = lane->header()->findChild<OverviewStrip*>(); strip && strip->isVisible())
            strips.push_back(strip);
    }
    QImage header(headers.front()->size(), QImage::Format_ARGB32_Premultiplied);
    QImage strip(strips.empty() ? QSize(1, 1) : strips.front()->size(), QImage::Format_ARGB32_Premultiplied);
    double seconds = 0;
    std::int64_t headerPaints = 0, stripPaints = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int frame = 0; frame < 12; ++frame)
            for (LaneHeader* h : headers) {
                h->render(&header);
                ++headerPaints;
            }
        for (int frame = 0; frame < 10; ++frame)
            for (OverviewStrip* s : strips) {
                s->render(&strip);
                ++stripPaints;
            }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double share = seconds / double(state.iterations());
    state.counters["core_share"] = share;
    state.counters["x_realtime"] = share > 0 ? 1.0 / share : 0;
    state.counters["paints_header"] = double(headerPaints) / double(state.iterations());
    state.counters["paints_strip"] = double(stripPaints) / double(state.iterations());
}
BENCHMARK(BM_Stage_Frame)->ArgName("lanes")->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_Ghosts_Label(benchmark::State& state)
{
    Ghosts ghosts;
    QImage image(320, 24, QImage::Format_ARGB32_Premultiplied);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(17);
    font.setWeight(QFont::ExtraBold);
    const QString title = QStringLiteral("zelvo-0 take 12 \u00b7 night drive");
    for (auto _ : state) {
        QPainter painter(&image);
        kit::PainterCanvas canvas(painter);
        ghosts.paint(canvas, QRectF(2, 2, 300, 20), 1, 0.55, 1, 1, [&](QPainter& p, QSizeF size) {
            p.setFont(font);
            p.setPen(kit::Stage::paper());
            p.drawText(QRectF(QPointF(0, 0), size), Qt::AlignLeft | Qt::AlignVCenter, title);
        });
    }
    state.counters["renders"] = ghosts.renders();
}
BENCHMARK(BM_Ghosts_Label)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zelvo::stage

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
