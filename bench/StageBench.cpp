// Paint costs of the stage (raster engine, device pixel ratio 1).
// BM_Stage_Frame plays one simulated second of a 1600 × 1080 stage on the
// offscreen platform: every deck holds an analysed record (grid and waveform)
// and plays, the scheduler steps in sixtieths of a second, and every widget
// that asks to be redrawn paints through the window's backing store as in the
// program (wave lanes at 60 frames a second, headers at 12, strips at 10).
// Everything the main thread does is timed, as thread CPU time (model ticks,
// timers, paints), except the stand-in audio device's rendering. core_share is main-thread seconds per second of display;
// x_realtime its reciprocal; paints_* count paints per view kind.
// BM_Ghosts_Label paints one ghosted title from its cache.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "library/LibraryStore.h"
#include "library/TrackAnalysis.h"
#include "models/DeckModel.h"
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
#include <QDir>
#include <QUrl>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <ctime>
#include <cmath>

namespace zelvo::stage {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

// CPU seconds of the calling thread: what the main thread spends, whatever
// else the machine runs.
double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// An analysis made up on the spot: a grid at 124 bpm and a waveform with
// some movement in every band, for the length of the file.
LibraryStore::AnalysisOutcome madeUpAnalysis(double seconds)
{
    TrackAnalysis analysis;
    analysis.duration = seconds;
    analysis.grid = BeatGrid(124.0, 0.1, 4);
    analysis.loudnessDB = -9;
    const std::size_t points = std::size_t(seconds * analysis.waveform.pointsPerSecond);
    for (std::size_t i = 0; i < points; ++i) {
        const double beat = std::fmod(i / 150.0 * 124 / 60, 1.0);
        analysis.waveform.low.push_back(std::uint8_t(40 + 200 * (1 - beat) * (1 - beat)));
        analysis.waveform.mid.push_back(std::uint8_t(80 + 60 * std::sin(i * 0.05)));
        analysis.waveform.high.push_back(std::uint8_t(30 + (i * 37) % 120));
    }
    return {analysis, {}, {}};
}

void BM_Stage_Frame(benchmark::State& state)
{
    const int lanes = int(state.range(0));
    constexpr double kSeconds = 40;
    test::AppRig rig;
    rig.analyzer = [](const QString&) { return madeUpAnalysis(kSeconds); };
    rig.make();
    rig.addOutput();
    if (!rig.bootWithOutput()) {
        state.SkipWithError("no output");
        return;
    }
    AppModel& app = *rig.app;
    // The screens run on the state root's clock, as in the program.
    ManualScheduler& scheduler = rig.scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime(scheduler, desktop, false, 1.0, &display);
    RootView root(app, runtime.env());
    root.resize(1600, 1080);
    root.sides().setFourDecks(lanes == 4);
    root.show();
    QApplication::processEvents();

    // Every deck gets an analysed record and plays it.
    for (int deck = 0; deck < lanes; ++deck) {
        const QString path = QDir::homePath() + QStringLiteral("/deck%1.wav").arg(deck);
        test::writeTone(path, kSeconds);
        stage::importAdded(app.library(), {QUrl::fromLocalFile(path)});
    }
    const auto analysed = [&] {
        int ready = 0;
        for (const TrackRecord& record : app.library().tracks())
            ready += record.grid.has_value();
        return ready == lanes;
    };
    if (!test::spinUntil(analysed, 60)) {
        state.SkipWithError("analysis did not land");
        return;
    }
    for (int deck = 0; deck < lanes; ++deck) {
        app.deck(deck).load(app.library().tracks()[std::size_t(deck)]);
        if (!test::spinUntil([&] { return app.deck(deck).track() && !app.deck(deck).loading(); }, 20)) {
            state.SkipWithError("load did not land");
            return;
        }
        app.deck(deck).playPause();
    }
    test::spinUntil([&] {
        rig.backend->pump(0.02);
        scheduler.advance(0.02);
        for (int deck = 0; deck < lanes; ++deck)
            if (!app.deck(deck).live().playing)
                return false;
        return true;
    }, 10);

    std::vector<LaneHeader*> headers;
    std::vector<OverviewStrip*> strips;
    std::vector<kit::WaveLaneView*> waves;
    for (int deck = 0; deck < lanes; ++deck) {
        DeckLane* lane = root.stageView()->lane(deck);
        headers.push_back(lane->header());
        waves.push_back(lane->wave());
        if (auto* strip = lane->header()->findChild<OverviewStrip*>(); strip && strip->isVisible())
            strips.push_back(strip);
    }
    const auto count = [](const auto& views) {
        std::int64_t sum = 0;
        for (const auto* v : views)
            sum += v->paints();
        return sum;
    };
    const auto frames = [&] {
        std::int64_t sum = 0;
        for (const auto* w : waves)
            sum += w->frames();
        return sum;
    };
    const std::int64_t headers0 = count(headers), strips0 = count(strips), waves0 = frames();
    double seconds = 0;
    for (auto _ : state) {
        for (int frame = 0; frame < 60; ++frame) {
            rig.backend->pump(1.0 / 60);
            const double start = threadSeconds();
            scheduler.advance(1.0 / 60);
            QApplication::processEvents();
            seconds += threadSeconds() - start;
        }
    }
    const double iterations = double(state.iterations());
    const double share = seconds / iterations;
    state.counters["core_share"] = share;
    state.counters["x_realtime"] = share > 0 ? 1.0 / share : 0;
    state.counters["paints_header"] = double(count(headers) - headers0) / iterations;
    state.counters["paints_strip"] = double(count(strips) - strips0) / iterations;
    state.counters["paints_wave"] = double(frames() - waves0) / iterations;
    bool playing = true;
    for (int deck = 0; deck < lanes; ++deck)
        playing = playing && app.deck(deck).live().playing;
    if (!playing)
        state.SkipWithError("a deck stopped");
}
BENCHMARK(BM_Stage_Frame)->ArgName("lanes")->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(20);

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
