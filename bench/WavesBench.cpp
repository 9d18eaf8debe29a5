// Frame costs of the waveform views (raster engine): tile renders, the stage
// lanes scrolling and zooming, the stacked faceplate panel, the band painter's
// scan and the overview. core_share is the share of one core a view takes at
// its own frame rate; x_realtime is seconds of audio drawn per wall-clock second.
#include "ui/kit/Canvas.h"
#include "ui/kit/waves/FaceplateWaves.h"
#include "ui/kit/waves/WaveLane.h"
#include "ui/kit/waves/WavePainter.h"
#include "ui/kit/waves/WaveTiles.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QThreadPool>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <functional>

namespace zelvo::kit {
namespace {

void coreShare(benchmark::State& state, double fps)
{
    state.counters["core_share"] =
        benchmark::Counter(1.0 / fps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void realtime(benchmark::State& state, double seconds)
{
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

// A track of `seconds` at 150 points a second with music-like bands.
std::shared_ptr<WaveformData> track(double seconds)
{
    auto w = std::make_shared<WaveformData>();
    const int n = int(seconds * 150);
    w->low.resize(std::size_t(n));
    w->mid.resize(std::size_t(n));
    w->high.resize(std::size_t(n));
    for (int i = 0; i < n; ++i) {
        w->low[std::size_t(i)] = std::uint8_t(128 + 120 * std::sin(i * 0.07) * std::sin(i * 0.011));
        w->mid[std::size_t(i)] = std::uint8_t(90 + 80 * std::sin(i * 0.23));
        w->high[std::size_t(i)] = std::uint8_t(60 + 50 * std::sin(i * 0.9));
    }
    return w;
}

WaveDeck deck(int index, double position, const std::shared_ptr<WaveformData>& w)
{
    WaveDeck d;
    d.index = index;
    d.isAI = index == 1;
    d.livePlaying = true;
    d.track = QUuid::createUuid();
    d.grid = BeatGrid(124, 0.3, 4);
    if (d.isAI)
        d.seam = position + 1;
    d.waveform = w;
    WaveDeck::Cells c;
    c.loaded = true;
    c.playing = true;
    c.position = position;
    c.duration = WaveMath::seconds(*w);
    c.cuePoint = position - 2;
    c.loopStart = position + 1;
    c.loopEnd = position + 3;
    c.loopActive = true;
    c.hotCues = {position - 3, position + 2, position + 5, -1, -1, -1, -1, -1};
    d.voice = c;
    return d;
}

void BM_WaveTiles_Render(benchmark::State& state)
{
    const auto w = track(360);
    const double tileSeconds = 512 / 192.0; // a 1920-pt lane spanning 10 s
    std::int64_t i = 0;
    for (auto _ : state) {
        QImage image = WaveTiles::render(*w, 10 + (i++ % 50), tileSeconds, 124, 2, WavePalette::live(), 0.0);
        benchmark::DoNotOptimize(image.constBits());
    }
    realtime(state, tileSeconds);
}
BENCHMARK(BM_WaveTiles_Render);

// Four 1920 × 140 lanes. Arg 0: steady scroll at scale 2; 1: at scale 1;
// 2: zoom easing at scale 2 (every visible tile rendered afresh).
void BM_WaveLane_Frame(benchmark::State& state)
{
    const int mode = int(state.range(0));
    const double scale = mode == 1 ? 1 : 2;
    const QSizeF size(1920, 140);
    QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    const auto w = track(360);
    std::array<WaveDeck, 4> decks{deck(0, 60, w), deck(1, 90, w), deck(2, 120, w), deck(3, 150, w)};
    std::array<WaveTiles, 4> tiles;
    std::array<LaneState, 4> lanes;
    PendingFork fork;
    fork.plan = ForkPlan{64, 54, 10, 20};
    fork.source = decks[0].track;
    double t = 0;
    for (auto _ : state) {
        t += 1 / 60.0;
        for (std::size_t i = 0; i < 4; ++i) {
            WaveDeck& d = decks[i];
            d.voice->position += 1 / 60.0;
            LaneState& s = lanes[i];
            s.zoom = mode == 2 ? 1.0 + 0.5 * std::sin(t) : 1.0;
            LaneFrame f;
            f.rect = QRectF(QPointF(0, 0), size);
            f.audible = true;
            f.scale = scale;
            f.now = t;
            f.dt = 1 / 60.0;
            f.fork = WaveLaneMath::forkOnLane(fork, d, i == 0);
            QPainter p(&image);
            PainterCanvas canvas(p);
            drawLane(canvas, tiles[i], s, d, f);
            drawPlayhead(canvas, f.rect, false);
        }
        benchmark::DoNotOptimize(image.constBits());
    }
    coreShare(state, 60);
}
BENCHMARK(BM_WaveLane_Frame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

class BenchScene final : public WaveScene {
public:
    WaveDeck deck(int index) const override { return decks[std::size_t(index)]; }
    bool fourDecks() const override { return true; }
    double waveformZoom() const override { return 1; }
    void setWaveformZoom(double) override {}
    bool anyDeckPlaying() const override { return true; }
    bool isAudible(int) const override { return true; }
    std::array<bool, 3> partsOff(int) const override { return {false, false, false}; }
    int masterDeck() const override { return 0; }
    std::optional<PendingFork> pending() const override { return fork; }
    bool extensionWaiting() const override { return false; }
    bool seek(int, double) override { return true; }
    void observe(QObject*, std::function<void()>) override {}
    std::array<WaveDeck, 4> decks;
    std::optional<PendingFork> fork;
};

void BM_StackedWaveforms_Frame(benchmark::State& state)
{
    const double ratio = double(state.range(0));
    const QSizeF size(1470, 156);
    QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    const auto w = track(360);
    BenchScene scene;
    scene.decks = {deck(0, 60, w), deck(1, 90, w), deck(2, 120, w), deck(3, 150, w)};
    PendingFork fork;
    fork.plan = ForkPlan{62, 54, 8, 20};
    fork.source = scene.decks[0].track;
    scene.fork = fork;
    double t = 0;
    for (auto _ : state) {
        t += 1 / 30.0;
        for (WaveDeck& d : scene.decks)
            d.voice->position += 1 / 30.0;
        image.fill(Qt::transparent);
        QPainter p(&image);
        PainterCanvas canvas(p);
        FaceWaves::drawStacked(canvas, scene, size, t);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    coreShare(state, 30);
}
BENCHMARK(BM_StackedWaveforms_Frame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_WaveformPainter_Scan(benchmark::State& state)
{
    const auto w = track(360);
    const double window = 8 / 0.3; // 26.7 s at the widest zoom
    double t0 = 30;
    for (auto _ : state) {
        RecordingCanvas canvas;
        WaveformPainter::draw(*w, canvas, QRectF(0, 0, 1470, 36), t0, t0 + window, 735, std::nullopt, t0 + 10);
        t0 += 0.01;
        benchmark::DoNotOptimize(canvas.ops().data());
    }
    realtime(state, window);
}
BENCHMARK(BM_WaveformPainter_Scan);

void BM_OverviewWaveform_Frame(benchmark::State& state)
{
    const QSizeF size(400, 22);
    QImage image((size * 2).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    const auto w = track(360);
    WaveDeck d = deck(0, 100, w);
    for (auto _ : state) {
        d.voice->position += 1 / 15.0;
        image.fill(Qt::transparent);
        QPainter p(&image);
        PainterCanvas canvas(p);
        FaceWaves::drawOverview(canvas, d, size, 0);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    coreShare(state, 15);
}
BENCHMARK(BM_OverviewWaveform_Frame)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zelvo::kit
