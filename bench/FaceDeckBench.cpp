// Frame cost of the faceplate deck (offscreen raster engine, manual clock):
// - BM_JogWheel_LiveFrame: one paint of a playing wheel (the cached platter
//   and the live marks), at pixel ratio 1 and 2;
// - BM_DeckHeader_Frame: one read-out frame with a scrolling title and a
//   ticking clock;
// - BM_Faceplate/playing, /idle, /hidden: the whole faceplate at 1600 × 1080
//   for 10 simulated seconds in steps of 1/60 s, the engine cells advancing
//   (both decks playing; none; window hidden).
// Counters: ms_per_frame and p99_ms (wall-clock milliseconds per frame);
// core_share (time per frame × the view's own rate, or for the faceplate the
// main thread's time per simulated second); wakeups (timer firings on the UI
// scheduler over the 10 s).
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "audio/DeckVoice.h"
#include "models/DeckModel.h"
#include "platform/Scheduler.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/Instrument.h"
#include "ui/instrument/JogWheel.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QImage>
#include <QThreadPool>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>

namespace zelvo {
namespace {

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

// The manual scheduler, counting the timers it fires.
class CountingScheduler final : public Scheduler {
public:
    QDateTime now() const override { return inner.now(); }
    double uptime() const override { return inner.uptime(); }
    TimerId runAfter(double seconds, std::function<void()> work) override
    {
        return inner.runAfter(seconds, [this, work = std::move(work)] {
            ++fired;
            work();
        });
    }
    TimerId runEvery(double seconds, std::function<void()> work) override
    {
        return inner.runEvery(seconds, [this, work = std::move(work)] {
            ++fired;
            work();
        });
    }
    void cancel(TimerId id) override { inner.cancel(id); }

    ManualScheduler inner;
    long long fired = 0;
};

// Two decks with a minute of audio each on voices the benchmark renders.
struct Decks {
    Decks()
    {
        rig.make();
        for (int i = 0; i < 2; ++i) {
            voices[std::size_t(i)] = std::make_shared<DeckVoice>(48000.0, 800);
            DeckModel& deck = rig.app->deck(i);
            deck.attach(voices[std::size_t(i)], false);
            TrackRecord record = TrackRecord::forFile(
                QStringLiteral("/nowhere/a very long title that keeps on scrolling %1.wav").arg(i),
                QDateTime::currentDateTimeUtc());
            record.duration = 60;
            record.grid = BeatGrid(124, 0);
            record.key = MusicalKey(9, true);
            record.hotCues[1] = 4.0;
            deck.install(record, TrackBufferRef(48000 * 60, 48000.0), nullptr, false);
        }
        advance(1);
    }
    void play()
    {
        for (int i = 0; i < 2; ++i)
            rig.app->deck(i).playPause();
        advance(1);
    }
    // One 1/60 s slice of audio on both decks, then the decks' snapshots.
    void advance(int slices)
    {
        std::array<float, 800> left{}, right{};
        for (int s = 0; s < slices; ++s)
            for (auto& v : voices)
                v->render(800, left.data(), right.data());
        for (int i = 0; i < 2; ++i)
            rig.app->deck(i).refreshLive();
    }
    test::AppRig rig;
    std::array<std::shared_ptr<DeckVoice>, 2> voices;
};

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::size_t(double(v.size() - 1) * q)];
}

template <typename Widget>
void paintLoop(benchmark::State& state, Widget& widget, double ratio, double fps, Decks& decks)
{
    QImage image(QSize(int(widget.width() * ratio), int(widget.height() * ratio)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    std::vector<double> frames;
    for (auto _ : state) {
        decks.advance(1);
        image.fill(Qt::transparent);
        const auto start = std::chrono::steady_clock::now();
        widget.render(&image);
        frames.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    double total = 0;
    for (double f : frames)
        total += f;
    const double mean = frames.empty() ? 0 : total / double(frames.size());
    state.counters["ms_per_frame"] = mean;
    state.counters["p99_ms"] = percentile(frames, 0.99);
    state.counters["core_share"] = mean / 1000.0 * fps;
}

void BM_JogWheel_LiveFrame(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    Decks decks;
    decks.play();
    CountingScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime(scheduler, desktop, false, 1.0, &display);
    JogWheel jog(decks.rig.app->deck(0), 218, 1.8, runtime.env());
    jog.setAttribute(Qt::WA_DontShowOnScreen);
    jog.show();
    QApplication::processEvents();
    paintLoop(state, jog, ratio, 30, decks);
}
BENCHMARK(BM_JogWheel_LiveFrame)->ArgName("ratio")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_DeckHeader_Frame(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    Decks decks;
    decks.play();
    CountingScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime(scheduler, desktop, false, 1.0, &display);
    DeckHeader header(*decks.rig.app, decks.rig.app->deck(0), runtime.env(), 504);
    header.setAttribute(Qt::WA_DontShowOnScreen);
    header.show();
    QApplication::processEvents();
    paintLoop(state, header, ratio, 10, decks);
}
BENCHMARK(BM_DeckHeader_Frame)->ArgName("ratio")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// 0 playing, 1 idle, 2 hidden.
void BM_Faceplate(benchmark::State& state)
{
    const int mode = int(state.range(0));
    state.SetLabel(mode == 0 ? "playing" : mode == 1 ? "idle" : "hidden");
    Decks decks;
    if (mode != 1)
        decks.play();
    CountingScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime(scheduler, desktop, false, 1.0, &display);
    stage::StageSides sides;
    Instrument face(*decks.rig.app, runtime.env(), nullptr, &sides);
    face.resize(1600, 1080);
    face.show();
    QApplication::processEvents();
    if (mode == 2) {
        face.hide();
        display.setVisible(false);
        QApplication::processEvents();
    }

    std::vector<double> steps;
    double busy = 0;
    long long wakeups = 0;
    int runs = 0;
    for (auto _ : state) {
        const long long firedBefore = scheduler.fired;
        for (int s = 0; s < 600; ++s) {
            if (mode != 1)
                decks.advance(1);
            const auto start = std::chrono::steady_clock::now();
            scheduler.inner.advance(1.0 / 60.0);
            QApplication::processEvents();
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            steps.push_back(ms);
            busy += ms;
        }
        wakeups += scheduler.fired - firedBefore;
        ++runs;
    }
    state.counters["core_share"] = busy / 1000.0 / (10.0 * runs);
    state.counters["p99_ms"] = percentile(steps, 0.99);
    state.counters["wakeups"] = double(wakeups) / runs;
}
BENCHMARK(BM_Faceplate)->ArgName("mode")->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zelvo
