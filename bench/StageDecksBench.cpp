// Paint cost of a deck panel's jog display (raster engine, device pixel
// ratio 2): one frame of a playing take on the model's deck, with its progress,
// take arcs, cue marker, spoke and centre texts, read from the deck as on
// screen. ms_per_paint is wall-clock milliseconds per frame.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "audio/DeckVoice.h"
#include "models/DeckModel.h"
#include "platform/Scheduler.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/JogDisplay.h"

#include <QApplication>
#include <QImage>
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>

namespace zelvo::stage {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

void BM_JogDisplay_Paint(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    test::AppRig rig;
    rig.make();
    DeckModel& deck = rig.app->deck(1);
    auto voice = std::make_shared<DeckVoice>(48000.0, 512);
    deck.attach(voice, false);
    TrackRecord record = TrackRecord::forFile(QStringLiteral("/nowhere/take.wav"), QDateTime::currentDateTimeUtc());
    record.duration = 60;
    record.grid = BeatGrid(124, 0);
    record.key = MusicalKey(9, true);
    record.outpaint = OutpaintInfo{};
    record.outpaint->seam = 24;
    deck.install(record, TrackBufferRef(48000 * 60, 48000.0), nullptr, false);
    deck.playPause();
    std::array<float, 512> left{}, right{};
    for (int i = 0; i < 40; ++i)
        voice->render(512, left.data(), right.data());
    deck.refreshLive();

    ManualScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime(scheduler, desktop, false, 1.0, &display);
    JogDisplay jog(*rig.app, deck, runtime.env());
    jog.setAttribute(Qt::WA_DontShowOnScreen);
    jog.show();
    QApplication::processEvents();
    QImage image(QSize(int(jog.width() * ratio), int(jog.height() * ratio)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);

    double seconds = 0;
    for (auto _ : state) {
        image.fill(Qt::transparent);
        const auto start = std::chrono::steady_clock::now();
        jog.render(&image);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["ms_per_paint"] = 1000.0 * seconds / double(state.iterations());
    // Two decks at 60 frames a second: share of one core.
    state.counters["core_share"] = 2 * 60 * seconds / double(state.iterations());
}
BENCHMARK(BM_JogDisplay_Paint)->ArgName("ratio")->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zelvo::stage
