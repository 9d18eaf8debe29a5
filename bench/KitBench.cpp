// Paint costs of the kit's drawn widgets (raster engine, device pixel ratio 2
// unless named), the faceplate texture and the shared live clock's tick.
// core_share is the share of one core a view takes when painted 30 times a second.
#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"
#include "ui/kit/SevenSegment.h"
#include "ui/kit/Textures.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QThreadPool>
#include <benchmark/benchmark.h>
#include <cstring>
#include <functional>

namespace zelvo::kit {
namespace {

void coreShare(benchmark::State& state)
{
    state.counters["core_share"] =
        benchmark::Counter(1.0 / 30.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Paints `draw` into an image of `size` points at `ratio` once per iteration.
void paintLoop(benchmark::State& state, QSizeF size, double ratio, const std::function<void(Canvas&)>& draw)
{
    QImage image((size * ratio).toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        std::memset(image.bits(), 0, size_t(image.sizeInBytes()));
        QPainter p(&image);
        p.scale(ratio, ratio);
        PainterCanvas canvas(p);
        draw(canvas);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    coreShare(state);
}

void BM_DotMatrix_Paint(benchmark::State& state)
{
    const DotMatrix::Look look{"FORK 128.0 BPM ♭ → AM  TAKE 04 OK", 2, 32, Palette::glow(), false, true, {}};
    paintLoop(state, DotMatrix::size(look), 2, [&](Canvas& c) { DotMatrix::draw(c, look); });
}
BENCHMARK(BM_DotMatrix_Paint);

// A repaint draws the kept image; a new text is laid out from kept digit cells;
// "segments" draws every segment from scratch.
void BM_SevenSegment_Paint(benchmark::State& state)
{
    const SevenSegment::Look look{"12345678", 40, Palette::ember(), true};
    const QSizeF size(SevenSegment::width(look.text, 40), 40);
    if (state.range(0) == 0) {
        state.SetLabel("repaint");
        paintLoop(state, size, 2, [&](Canvas& c) { c.drawImage(QRectF(QPointF(0, 0), size), SevenSegment::rendered(look, 2)); });
    } else if (state.range(0) == 1) {
        state.SetLabel("new text");
        int n = 0;
        paintLoop(state, size, 2, [&](Canvas& c) {
            SevenSegment::Look changing = look;
            changing.text = QString::asprintf("%08d", 10000000 + (n++ % 1000000));
            c.drawImage(QRectF(QPointF(0, 0), size), SevenSegment::rendered(changing, 2));
        });
    } else {
        state.SetLabel("segments");
        paintLoop(state, size, 2, [&](Canvas& c) { SevenSegment::draw(c, look); });
    }
}
BENCHMARK(BM_SevenSegment_Paint)->DenseRange(0, 2);

void BM_KitControls_Paint(benchmark::State& state)
{
    switch (state.range(0)) {
    case 0: {
        state.SetLabel("knob");
        const KnobLook look{0.62, Range{0, 1}, true, 40, 11};
        paintLoop(state, QSizeF(52, 52), 2, [&](Canvas& c) { drawKnobDial(c, look); });
        break;
    }
    case 1: {
        state.SetLabel("fader");
        const FaderLook look{0.3, Range{0, 1}, true, 140, 9, false, 28};
        paintLoop(state, faderSize(look), 2, [&](Canvas& c) { drawFader(c, look); });
        break;
    }
    case 2: {
        state.SetLabel("lit transport key");
        const KeyLook look{"cue", std::nullopt, true, false, KeyStyle::transport, QSizeF(64, 64), false, 1.0};
        paintLoop(state, look.size, 2, [&](Canvas& c) { drawHardKey(c, look); });
        break;
    }
    default: {
        state.SetLabel("16-segment ladder");
        paintLoop(state, QSizeF(8, 120), 2, [&](Canvas& c) { drawLadder(c, 0.4, 16, QSizeF(8, 120)); });
        break;
    }
    }
}
BENCHMARK(BM_KitControls_Paint)->DenseRange(0, 3);

void BM_Faceplate_Texture(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    const QSizeF size(1600, 1080);
    if (state.range(1) == 0) {
        state.SetLabel("first render");
        for (auto _ : state) {
            Textures::clearCache();
            benchmark::DoNotOptimize(Textures::faceplate(size, ratio).constBits());
        }
        return;
    }
    state.SetLabel("drawing the cached image");
    const QImage plate = Textures::faceplate(size, ratio);
    paintLoop(state, size, ratio, [&](Canvas& c) { c.drawImage(QRectF(QPointF(0, 0), size), plate); });
}
BENCHMARK(BM_Faceplate_Texture)->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->Unit(benchmark::kMillisecond);

void BM_LiveClock_Tick(benchmark::State& state)
{
    ManualScheduler scheduler;
    DisplayClock display;
    LiveClock clock(scheduler, display);
    const double rates[] = {60, 30, 20, 15, 10, 5};
    std::vector<long long> counts(200, 0);
    for (int i = 0; i < 200; ++i)
        clock.subscribe(rates[i % 6], [&counts, i](double) { ++counts[size_t(i)]; });
    long long ticks = 0;
    for (auto _ : state) {
        scheduler.advance(1.0);
        ticks += 140; // timer wake-ups in one second over the six rates
    }
    state.counters["wakeups_per_s"] = clock.wakeupsPerSecond();
    state.counters["time_per_tick"] =
        benchmark::Counter(double(ticks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    benchmark::DoNotOptimize(counts.data());
}
BENCHMARK(BM_LiveClock_Tick);

} // namespace
} // namespace zelvo::kit
