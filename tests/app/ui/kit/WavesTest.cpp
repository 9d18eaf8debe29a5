// Waveform views: tile keys and cache, the band painter and dot labels, the
// stage lane's frame step and drawing, the stacked lanes with the fork window,
// the overview and the phase meter, on synthetic waveforms and a fake scene.
#include "KitTestSupport.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/waves/FaceplateWaves.h"
#include "ui/kit/waves/WaveLane.h"
#include "ui/kit/waves/WavePainter.h"
#include "ui/kit/waves/WaveTiles.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QTest>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>

namespace zelvo::kit {
namespace {

using Kind = RecordingCanvas::Kind;
using test::KitRig;

// A waveform whose point i has low = i % 256, mid = 100, high = 50.
std::shared_ptr<WaveformData> ramp(int points, double pps = 100)
{
    auto w = std::make_shared<WaveformData>();
    w->pointsPerSecond = pps;
    for (int i = 0; i < points; ++i) {
        w->low.push_back(std::uint8_t(i % 256));
        w->mid.push_back(100);
        w->high.push_back(50);
    }
    return w;
}

// A loaded, playing 120-bpm deck at `position`.
WaveDeck playingDeck(int index, double position, double duration = 240)
{
    WaveDeck d;
    d.index = index;
    d.isAI = index == 1;
    d.livePlaying = true;
    d.track = QUuid::createUuid();
    d.grid = BeatGrid(120, 0.25, 4);
    d.waveform = ramp(int(duration * 100));
    WaveDeck::Cells c;
    c.loaded = true;
    c.playing = true;
    c.position = position;
    c.duration = duration;
    d.voice = c;
    d.live = QStringLiteral("playing");
    return d;
}

class FakeScene final : public WaveScene {
public:
    WaveDeck deck(int index) const override { return decks[std::size_t(index)]; }
    bool fourDecks() const override { return four; }
    double waveformZoom() const override { return zoom; }
    void setWaveformZoom(double z) override
    {
        zoom = z;
        ++zoomWrites;
        changed();
    }
    bool anyDeckPlaying() const override
    {
        for (const WaveDeck& d : decks)
            if (d.livePlaying)
                return true;
        return false;
    }
    bool isAudible(int deck) const override { return audible[std::size_t(deck)]; }
    std::array<bool, 3> partsOff(int) const override { return {false, false, false}; }
    int masterDeck() const override { return master; }
    std::optional<PendingFork> pending() const override { return fork; }
    bool extensionWaiting() const override { return waiting; }
    bool seek(int deck, double seconds) override
    {
        seeks.emplace_back(deck, seconds);
        return true;
    }
    void observe(QObject*, std::function<void()> callback) override { observers.push_back(std::move(callback)); }
    void changed()
    {
        for (auto& o : observers)
            o();
    }

    std::array<WaveDeck, 4> decks{};
    bool four = false;
    double zoom = 1.0;
    int zoomWrites = 0;
    std::array<bool, 4> audible{true, true, true, true};
    int master = -1;
    std::optional<PendingFork> fork;
    bool waiting = false;
    std::vector<std::pair<int, double>> seeks;
    std::vector<std::function<void()>> observers;

    FakeScene()
    {
        for (int i = 0; i < 4; ++i) {
            decks[std::size_t(i)].index = i;
            decks[std::size_t(i)].isAI = i == 1;
        }
    }
};

// Runs `work` and fails when it does not end within five seconds.
template <typename F>
void endsInTime(F work)
{
    auto done = std::async(std::launch::async, work);
    ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "drawing did not end";
}

// Every rectangle filled in `color` (any opacity).
std::vector<QRectF> rectsIn(const RecordingCanvas& canvas, const QColor& color, double alpha = -1)
{
    std::vector<QRectF> out;
    for (const auto& op : canvas.of(Kind::rects))
        if (op.color.rgb() == color.rgb() && (alpha < 0 || std::abs(op.color.alphaF() - alpha) < 0.002))
            out.insert(out.end(), op.rects.begin(), op.rects.end());
    return out;
}

// --- Tiles

TEST(WaveTilesTest, KeysRoundAsStatedAndPalettesHaveTheirOwnIds)
{
    const QUuid id = QUuid::createUuid();
    const WaveTiles::Key k = WaveTiles::makeKey(id, 900, 51.205, 123.5, 1.99, 2);
    EXPECT_EQ(k.pxPerSecond, 5121); // 5120.5 rounds away from zero
    EXPECT_EQ(k.height, 124);
    EXPECT_EQ(k.scale, 19); // truncated
    EXPECT_EQ(WaveTiles::makeKey(id, 900, std::nan(""), 10, 1, 1).pxPerSecond, 0);

    struct Case {
        bool audible;
        std::array<bool, 3> off;
        int id;
    };
    for (const Case& c : {Case{true, {false, false, false}, 1}, Case{false, {false, false, false}, 2},
                          Case{true, {true, false, false}, 11}, Case{true, {true, true, true}, 17},
                          Case{false, {false, true, false}, 22}, Case{false, {false, false, true}, 24}}) {
        const WavePalette p = WavePalette::forDeck(c.audible, c.off);
        EXPECT_EQ(p.id, c.id);
        const WavePalette& base = c.audible ? WavePalette::live() : WavePalette::quiet();
        EXPECT_EQ(p.low, c.off[0] ? WavePalette::offColor() : base.low);
        EXPECT_EQ(p.high, c.off[2] ? WavePalette::offColor() : base.high);
    }
}

TEST(WaveTilesTest, PlacesTilesFromZeroStopsAtTheEndEvictsAndRendersOnceAtAFixedZoom)
{
    const auto w = ramp(1000); // 10 s
    const QUuid id = QUuid::createUuid();
    WaveTiles tiles;
    RecordingCanvas canvas;
    // 1024 pt for 4 s: 256 pt/s, tiles of 2 s; the span -3…1 s starts before the track.
    tiles.draw(*w, id, canvas, QRectF(0, 10, 1024, 100), -3, 1, 2, WavePalette::live(), std::nullopt);
    auto images = canvas.of(Kind::image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].rect, QRectF(768, 10, 512, 100)); // tile 0 starts at x(0)
    EXPECT_EQ(tiles.renders(), 1);
    // A span past the end draws tiles up to the waveform's end only.
    RecordingCanvas late;
    tiles.draw(*w, id, late, QRectF(0, 10, 1024, 100), 7, 11, 2, WavePalette::live(), std::nullopt);
    EXPECT_EQ(late.of(Kind::image).size(), 2u); // tiles 3 and 4 (6…10 s); tile 5 starts at the end
    // The same zoom again renders nothing new.
    const int before = tiles.renders();
    RecordingCanvas again;
    tiles.draw(*w, id, again, QRectF(0, 10, 1024, 100), 7.5, 11.5, 2, WavePalette::live(), std::nullopt);
    EXPECT_EQ(tiles.renders(), before);
    // Another palette or height empties the cache.
    tiles.draw(*w, id, again, QRectF(0, 10, 1024, 101), 7.5, 11.5, 2, WavePalette::live(), std::nullopt);
    EXPECT_EQ(tiles.cachedIndices(), (std::vector<std::int64_t>{3, 4}));

    // Eviction keeps the neighbourhood once more than 24 tiles are held.
    const auto longWave = ramp(100 * 600);
    WaveTiles many;
    for (int s = 0; s < 120; s += 2) {
        RecordingCanvas c;
        many.draw(*longWave, id, c, QRectF(0, 0, 512, 50), s, s + 2, 1, WavePalette::live(), std::nullopt);
    }
    for (std::int64_t i : many.cachedIndices())
        EXPECT_GE(i, 59 - 4 - 24);
    EXPECT_LE(many.cachedIndices().size(), 25u);

    // Nothing for empty spans, narrow rects, NaN times and damaged waveforms.
    auto damaged = ramp(500);
    damaged->mid.resize(10);
    for (double pps : {0.0, -5.0, std::nan(""), 100.0}) {
        damaged->pointsPerSecond = pps;
        WaveTiles t;
        RecordingCanvas c;
        t.draw(*damaged, id, c, QRectF(0, 0, 512, 50), 0, 4, 1, WavePalette::live(), std::nullopt);
        EXPECT_EQ(c.of(Kind::image).size(), pps == 100.0 ? 1u : 0u) << pps;
    }
    RecordingCanvas none;
    tiles.draw(*w, id, none, QRectF(0, 0, 1, 50), 0, 4, 1, WavePalette::live(), std::nullopt);
    tiles.draw(*w, id, none, QRectF(0, 0, 500, 50), 4, 4, 1, WavePalette::live(), std::nullopt);
    tiles.draw(*w, id, none, QRectF(0, 0, 500, 50), std::nan(""), 4, 1, WavePalette::live(), std::nullopt);
    tiles.draw(*w, id, none, QRectF(0, 0, 1e30, 50), -1e20, 1, 1, WavePalette::live(), std::nullopt);
    EXPECT_TRUE(none.ops().empty());
}

TEST(WaveTilesTest, BitmapsAreSizedForTheScaleAndGhostTheGeneratedStretch)
{
    const auto w = ramp(1000);
    for (double scale : {0.75, 1.0, 2.0}) {
        const QImage image = WaveTiles::render(*w, 0, 2.0, 124, scale, WavePalette::live(), std::nullopt);
        EXPECT_EQ(image.width(), int(512 * scale));
        EXPECT_EQ(image.height(), int(124 * scale));
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
        EXPECT_DOUBLE_EQ(image.devicePixelRatio(), scale);
    }
    EXPECT_EQ(WaveTiles::render(*w, 0, 2.0, 0.2, 1, WavePalette::live(), std::nullopt).height(), 1);
    // Ghosts only from aiFrom on: red just left of a low bar's edge.
    auto flat = std::make_shared<WaveformData>();
    flat->pointsPerSecond = 128;
    flat->low.assign(256, 255);
    flat->mid.assign(256, 0);
    flat->high.assign(256, 0);
    const QImage plain = WaveTiles::render(*flat, 0, 2.0, 40, 1, WavePalette::live(), std::nullopt);
    const QImage ghosted = WaveTiles::render(*flat, 0, 2.0, 40, 1, WavePalette::live(), 1.0);
    // Column 200 (t ≥ 1 s) is ghosted; column 10 is not. Both render the same bars.
    EXPECT_EQ(plain.pixelColor(21, 20), ghosted.pixelColor(21, 20));
    EXPECT_NE(plain.pixelColor(401, 20), QColor(0, 0, 0, 0));
    // The column width ends 1.6 pt into the 2-pt slot: the gap after a ghosted
    // bar carries its cyan fringe, the gap of a plain one stays empty.
    EXPECT_EQ(plain.pixelColor(21 + 0, 20), plain.pixelColor(21, 20));
    EXPECT_EQ(qAlpha(plain.pixel(403, 39)), 0);
    EXPECT_GT(qAlpha(ghosted.pixel(402, 39)) + qAlpha(ghosted.pixel(403, 20)), 0);
}

// --- Band painter and dot labels

TEST(WaveformPainterTest, ColumnsBarsGroupsAndGhosts)
{
    for (auto [w, bar] : {std::pair{1.5, 1.5}, {3.0, 2.4}, {0.5, 0.8}, {2.0, 2.0}})
        EXPECT_DOUBLE_EQ(WaveformPainter::barWidth(w), bar) << w;

    const auto w = ramp(1000); // 10 s, low = i % 256
    // 20 columns over -2…8 s (0.5 s each): columns before 0 empty; dim before 3 s; ghosts from 5 s.
    const PainterBars b = WaveformPainter::bars(*w, QRectF(0, 0, 200, 100), -2, 8, 20, 3.0, 5.0);
    ASSERT_EQ(b.dim[0].size(), 6u);
    EXPECT_EQ(b.bright[0].size(), 10u);
    EXPECT_EQ(b.ghost.size(), 6u);
    EXPECT_DOUBLE_EQ(b.dim[0][0].x(), 40); // the bars start where the track starts
    EXPECT_DOUBLE_EQ(b.bright[0][0].width(), 9.4);
    // Column at 3 s covers points 300…349: low peak 349 % 256 = 93; mid 100 × 0.78; high 50 × 0.5.
    EXPECT_NEAR(b.bright[0][0].height(), 2 * 50 * 93 / 255.0, 1e-9);
    EXPECT_NEAR(b.bright[1][0].height(), 2 * 50 * 100 / 255.0 * 0.78, 1e-9);
    EXPECT_NEAR(b.bright[2][0].height(), 2 * 50 * 50 / 255.0 * 0.5, 1e-9);
    EXPECT_EQ(b.ghost.front(), b.bright[0][4]);
    // A window past the end stops at the last point; a narrow column still reads one point.
    EXPECT_EQ(WaveformPainter::bars(*w, QRectF(0, 0, 200, 100), 8, 12, 8, std::nullopt, std::nullopt).bright[0].size(),
              4u);
    EXPECT_EQ(WaveformPainter::bars(*w, QRectF(0, 0, 400, 100), 0, 0.001, 400, std::nullopt, std::nullopt)
                  .bright[0].size(),
              400u);
    // Damaged waveforms: only points in all three bands, no bars at an unusable rate.
    auto damaged = ramp(1000);
    damaged->high.resize(100); // 1 s present in every band
    EXPECT_EQ(WaveformPainter::bars(*damaged, QRectF(0, 0, 200, 100), 0, 10, 20, std::nullopt, std::nullopt)
                  .bright[0].size(),
              2u);
    for (double pps : {0.0, -1.0, std::nan(""), double(INFINITY)}) {
        damaged->pointsPerSecond = pps;
        EXPECT_TRUE(WaveformPainter::bars(*damaged, QRectF(0, 0, 200, 100), 0, 10, 20, std::nullopt, std::nullopt)
                        .bright[0]
                        .empty());
    }
    // One fill per group, ghosts first, in the stated colours.
    RecordingCanvas canvas;
    WaveformPainter::draw(*w, canvas, QRectF(0, 0, 200, 100), -2, 8, 20, 3.0, 5.0);
    const auto fills = canvas.of(Kind::rects);
    ASSERT_EQ(fills.size(), 8u);
    EXPECT_EQ(fills[0].color, withAlpha(Palette::red(), 0.42));
    EXPECT_DOUBLE_EQ(fills[0].rects[0].x(), b.ghost[0].x() - 1.8);
    EXPECT_EQ(fills[1].color, withAlpha(Palette::cyan(), 0.36));
    EXPECT_EQ(fills[2].color, withAlpha(Palette::bronze(), 0.35));
    EXPECT_EQ(fills[7].color, withAlpha(Palette::glow(), 0.95));
    RecordingCanvas plain;
    WaveformPainter::draw(*w, plain, QRectF(0, 0, 200, 100), 0, 8, 20, std::nullopt, std::nullopt);
    EXPECT_EQ(plain.of(Kind::rects).size(), 3u);
}

TEST(DotTextTest, TextsAreCutPaddedAndDrawnInThreeToFiveFills)
{
    auto litCount = [](const QString& text, int columns) {
        return dotSquares(text, {0, 0}, 1, columns).lit.size();
    };
    const DotSquares ab = dotSquares(QStringLiteral("ab"), {10, 20}, 2, 4);
    EXPECT_EQ(ab.lit.size() + ab.unlit.size(), 4u * 35u);
    EXPECT_EQ(ab.lit.size(), litCount(QStringLiteral("AB"), 2)); // padded cells stay dark
    EXPECT_EQ(litCount(QStringLiteral("ABCDEF"), 2), litCount(QStringLiteral("AB"), 2));
    // Every square is 0.74 pitch; cells are six pitches apart.
    EXPECT_EQ(ab.unlit.back().size(), QSizeF(1.48, 1.48));
    EXPECT_GE(ab.unlit.back().x(), 10 + 3 * 12);
    EXPECT_EQ(ab.halo[0], ab.lit[0].adjusted(-0.6, -0.6, 0.6, 0.6));
    EXPECT_EQ(litCount(QStringLiteral("\u2603"), 1), 0u); // no glyph: a blank cell

    RecordingCanvas canvas;
    drawDotText(canvas, QStringLiteral("FORK"), {0, 0}, 1.4, 4, Palette::glow(), 1, true);
    EXPECT_EQ(canvas.of(Kind::rects).size(), 5u);
    RecordingCanvas quiet;
    drawDotText(quiet, QStringLiteral("A"), {0, 0}, 1, 1, Palette::glow(), 0.5, false);
    ASSERT_EQ(quiet.of(Kind::rects).size(), 3u);
    EXPECT_EQ(quiet.of(Kind::rects)[0].color, withAlpha(Palette::glow(), 0.055));
    EXPECT_EQ(quiet.of(Kind::rects)[2].color, withAlpha(Palette::glow(), 0.475));
}

// --- Stage lane

TEST(WaveLaneTest, FrameStepEasingAndFlashArithmetic)
{
    WaveDeck still;
    LaneState settled;
    settled.needsStill = false;
    EXPECT_FALSE(WaveLaneMath::wantsFrame(still, settled, 1.0, false));
    struct Case {
        const char* what;
        std::function<void(WaveDeck&, LaneState&, double&, bool&)> change;
    };
    const std::vector<Case> cases{
        {"playing", [](WaveDeck& d, LaneState&, double&, bool&) { d.livePlaying = true; }},
        {"jog", [](WaveDeck& d, LaneState&, double&, bool&) { d.jogTouched = true; }},
        {"loading", [](WaveDeck& d, LaneState&, double&, bool&) { d.loading = true; }},
        {"zoom", [](WaveDeck&, LaneState&, double& target, bool&) { target = 1.0011; }},
        {"fork", [](WaveDeck&, LaneState&, double&, bool& fork) { fork = true; }},
        {"flash", [](WaveDeck&, LaneState& s, double&, bool&) { s.flash = 0.011; }},
        {"still", [](WaveDeck&, LaneState& s, double&, bool&) { s.needsStill = true; }},
    };
    for (const Case& c : cases) {
        WaveDeck d;
        LaneState s = settled;
        double target = 1.0;
        bool fork = false;
        c.change(d, s, target, fork);
        EXPECT_TRUE(WaveLaneMath::wantsFrame(d, s, target, fork)) << c.what;
    }
    EXPECT_FALSE(WaveLaneMath::wantsFrame(still, settled, 1.0009, false));

    EXPECT_DOUBLE_EQ(WaveLaneMath::targetZoom(2, true), 4.8);
    EXPECT_DOUBLE_EQ(WaveLaneMath::eased(1, 2, 0.05), 1.7);
    EXPECT_DOUBLE_EQ(WaveLaneMath::eased(1, 2, 5.0), 2.0); // capped at 0.1 s, never past the target
    EXPECT_DOUBLE_EQ(WaveLaneMath::decayed(1.0, 3.0), WaveLaneMath::decayed(1.0, 0.1));
    double f = 1.0;
    int frames = 0;
    while (f > 0.01) {
        f = WaveLaneMath::decayed(f, 1 / 60.0);
        ++frames;
    }
    EXPECT_NEAR(frames / 60.0, 0.54, 0.02);

    auto quietStart = ramp(1000);
    quietStart->low[0] = 0;
    quietStart->low[999] = 255;
    EXPECT_DOUBLE_EQ(WaveLaneMath::flashStrength(*quietStart, 0, true), 0.35);
    EXPECT_DOUBLE_EQ(WaveLaneMath::flashStrength(*quietStart, 1e9, true), 1.0);   // held at the last point
    EXPECT_DOUBLE_EQ(WaveLaneMath::flashStrength(*quietStart, -3, true), 0.35);   // and at the first
    EXPECT_DOUBLE_EQ(WaveLaneMath::flashStrength(*quietStart, 5, false), 0.25);
    EXPECT_DOUBLE_EQ(WaveLaneMath::flashStrength(WaveformData{}, 5, true), 0.35); // no points
    auto damaged = ramp(1000);
    damaged->low.resize(2000, 255); // longer low band: its extra points are not read
    damaged->mid.resize(10);
    EXPECT_DOUBLE_EQ(WaveLaneMath::flashStrength(*damaged, 500, true), 0.35 + 0.65 * 9 / 255.0);
    damaged->pointsPerSecond = std::nan("");
    EXPECT_DOUBLE_EQ(WaveLaneMath::flashStrength(*damaged, 5, true), 0.35);
}

LaneFrame laneFrame(double dt = 1 / 60.0)
{
    LaneFrame f;
    f.rect = QRectF(0, 0, 1000, 140);
    f.audible = true;
    f.scale = 1;
    f.dt = dt;
    return f;
}

TEST(WaveLaneTest, DrawsTextsSpanTicksCuesAndHatching)
{
    // Empty lanes read upper case.
    for (auto [loading, ai, text] : {std::tuple{true, false, "LOADING"},
                                     {false, true, "ZELVO-0'S DECK · FORK DECK 1 TO FILL IT"},
                                     {false, false, "EMPTY · LOAD A RECORD"}}) {
        WaveDeck d;
        d.index = ai ? 1 : 0;
        d.isAI = ai;
        d.loading = loading;
        WaveTiles tiles;
        LaneState s;
        RecordingCanvas c;
        drawLane(c, tiles, s, d, laneFrame());
        EXPECT_EQ(c.texts(), QStringList{QString::fromUtf8(text)});
    }

    // Playing at 10 s, zoom 1: 6.4…16.4 s across 1000 pt (100 pt/s); grid of 0.5-s beats from 0.25 s.
    WaveDeck d = playingDeck(0, 10);
    d.voice->cuePoint = 6.45;
    d.voice->hotCues = {6.0, 5.3, 17.3, 17.5, -1, 12, -1, -1};
    d.voice->loopStart = 11;
    d.voice->loopEnd = 12;
    d.voice->loopActive = true;
    WaveTiles tiles;
    LaneState s;
    RecordingCanvas c;
    drawLane(c, tiles, s, d, laneFrame());
    // Flash on the first frame of a beat: audible, low under the playhead = 1000 % 256 = 232.
    EXPECT_NEAR(s.flash, WaveLaneMath::decayed(0.35 + 0.65 * 232 / 255.0, 1 / 60.0), 1e-12);
    EXPECT_EQ(c.of(Kind::image).size(), 1u + 3u); // glow + tiles 1…3 (5.12 s each) covering 6.4…16.4 s
    // Loop 11…12 s at x 460…560.
    const auto loop = rectsIn(c, Stage::cgEmber(), 0.16);
    ASSERT_EQ(loop.size(), 1u);
    EXPECT_EQ(loop[0], QRectF(460, 0, 100, 140));
    // Ticks: 21 beats from the one before the span (6.25 … 16.25), each from both
    // edges; bars every fourth counted from the first beat.
    const auto bars = rectsIn(c, Stage::cgBone(), 0.55);
    const auto beats = rectsIn(c, Stage::cgBone(), 0.22);
    EXPECT_EQ(bars.size() + beats.size(), 42u);
    EXPECT_EQ(bars.size(), 12u); // 6.25, 8.25, … 16.25
    EXPECT_EQ(bars[0], QRectF(-15.5, 0, 1, 7));
    EXPECT_EQ(bars[3], QRectF(184.5, 133, 1, 7));
    // Hot cues up to a second outside the span are drawn; letters follow the cells.
    EXPECT_EQ(c.texts(), (QStringList{"A", "C", "F"}));
    // The cue triangle hangs from the top at x(6.45) = 5.
    const auto tri = c.of(Kind::fill);
    ASSERT_FALSE(tri.empty());
    EXPECT_EQ(tri[0].path.boundingRect(), QRectF(0, 0, 10, 7));

    // A thin lane has no flags; a touched jog gets an outline; no grid, no ticks.
    d.jogTouched = true;
    d.grid.reset();
    LaneFrame thin = laneFrame();
    thin.thin = true;
    RecordingCanvas t;
    drawLane(t, tiles, s, d, thin);
    EXPECT_TRUE(t.texts().isEmpty());
    EXPECT_TRUE(rectsIn(t, Stage::cgBone(), 0.55).empty());
    ASSERT_EQ(t.of(Kind::stroke).size(), 1u);
    EXPECT_EQ(t.of(Kind::stroke)[0].path.boundingRect(), QRectF(1, 1, 998, 138));

    // Deck 2 waiting for its extension hatches from its end to the right edge.
    WaveDeck ai = playingDeck(1, 10, 12);
    LaneFrame wait = laneFrame();
    wait.extensionWaiting = true;
    RecordingCanvas h;
    LaneState s2;
    drawLane(h, tiles, s2, ai, wait);
    ASSERT_EQ(h.of(Kind::stroke).size(), 1u);
    const QRectF hatch = h.of(Kind::stroke)[0].path.boundingRect();
    EXPECT_LE(hatch.left(), 560 - 140 + 12);
    EXPECT_GE(hatch.right(), 1000);
    // A take's seam shows its mark.
    ai.seam = 11.0;
    RecordingCanvas seam;
    drawLane(seam, tiles, s2, ai, laneFrame());
    EXPECT_EQ(rectsIn(seam, Stage::cgPaper(), 0.8), (std::vector<QRectF>{QRectF(459.25, 0, 1.5, 140)}));
    // Quiet decks flash at the base strength on each new beat.
    LaneState s3;
    LaneFrame quiet = laneFrame(0);
    quiet.audible = false;
    RecordingCanvas q;
    drawLane(q, tiles, s3, playingDeck(0, 10), quiet);
    EXPECT_DOUBLE_EQ(s3.flash, 0.25);
}

TEST(WaveLaneTest, UnusableGridsAndDamagedWaveformsDrawNoGridAndEnd)
{
    for (BeatGrid g : {BeatGrid(-120, 0, 4), BeatGrid(120, 0, 0), BeatGrid(120, std::nan(""), 4),
                       BeatGrid(std::nan(""), 0, 4), BeatGrid(0, 0, 4), BeatGrid(120, 0, -3)}) {
        WaveDeck d = playingDeck(0, 30);
        d.grid = g;
        d.seam = std::nan("");
        d.voice->hotCues[0] = std::nan("");
        endsInTime([&] {
            WaveTiles tiles;
            LaneState s;
            RecordingCanvas c;
            drawLane(c, tiles, s, d, laneFrame());
            EXPECT_TRUE(rectsIn(c, Stage::cgBone(), 0.55).empty());
            EXPECT_EQ(s.flash, 0.0);
            RecordingCanvas stacked;
            FaceWaves::drawStackedLane(stacked, d, QRectF(0, 0, 700, 70), 1, std::nullopt, 0, 0);
            EXPECT_TRUE(rectsIn(stacked, Palette::bone(), 0.75).empty());
        });
        EXPECT_EQ(FaceWaves::badgeText(d, 0), QStringLiteral("1  MASTER"));
    }
    WaveDeck d = playingDeck(0, 30);
    auto damaged = std::make_shared<WaveformData>(*d.waveform);
    damaged->mid.resize(5);
    damaged->high.clear();
    d.waveform = damaged;
    endsInTime([&] {
        WaveTiles tiles;
        LaneState s;
        RecordingCanvas c;
        drawLane(c, tiles, s, d, laneFrame());
        EXPECT_EQ(tiles.renders(), 0);
    });
}

// --- The pending fork, on the lanes that hold its record

TEST(ForkWindowTest, ShowsOnlyOnLanesHoldingWhatThePlanIsTimedIn)
{
    const WaveDeck one = playingDeck(0, 40);
    const WaveDeck two = playingDeck(1, 10);
    WaveDeck three = playingDeck(2, 40);
    PendingFork fork;
    fork.plan = ForkPlan{30, 20, 10, 20};
    fork.source = one.track;

    using WaveLaneMath::forkOnLane;
    auto span = forkOnLane(fork, one, true);
    ASSERT_TRUE(span);
    EXPECT_DOUBLE_EQ(span->seam, 30);
    EXPECT_FALSE(forkOnLane(fork, one, false));   // the lane's own rule still holds
    EXPECT_FALSE(forkOnLane(fork, three, true));  // deck 3 holds another record
    three.track = one.track;                      // the same record on deck 3
    EXPECT_TRUE(forkOnLane(fork, three, true));
    // A re-roll timed in a take that deck 1 does not hold draws nowhere on deck 1.
    PendingFork reroll = fork;
    reroll.source = QUuid::createUuid();
    EXPECT_FALSE(forkOnLane(reroll, one, true));
    // A fork of the mix: on the anchor's deck, mapped onto its record; without an anchor nowhere.
    PendingFork mix;
    mix.plan = ForkPlan{10, 4, 6, 20};
    mix.mix = true;
    EXPECT_FALSE(forkOnLane(mix, one, true));
    mix.anchor = PendingFork::Anchor{0, *one.track, 100, 126};
    const auto mapped = forkOnLane(mix, one, false);
    ASSERT_TRUE(mapped);
    EXPECT_DOUBLE_EQ(mapped->contextStart, 100 + 4 * 126 / 120.0);
    EXPECT_DOUBLE_EQ(mapped->seam, 100 + 10 * 126 / 120.0);
    EXPECT_FALSE(forkOnLane(mix, three, true)); // same record, not the anchor's deck
    WaveDeck moved = one;
    moved.track = QUuid::createUuid();
    EXPECT_FALSE(forkOnLane(mix, moved, true));

    // Stacked lanes: a fork shows on deck 1's lane only, not on decks 3 and 4 with other records.
    FakeScene scene;
    scene.four = true;
    WaveDeck near = one;
    near.voice->position = 32; // the seam at 30 s in view
    scene.decks = {near, two, playingDeck(2, 40), playingDeck(3, 40)};
    scene.fork = fork;
    RecordingCanvas c;
    FaceWaves::drawStacked(c, scene, QSizeF(1470, 156), 0);
    const auto seams = rectsIn(c, Palette::glow(), 0.65); // u = 0.5 at now = 0
    ASSERT_EQ(seams.size(), 1u);
    EXPECT_LT(seams[0].top(), 36); // lane 0
    EXPECT_EQ(c.texts().size(), 0);

    // The overlay at pulses 0 and 1, its band from the lane's left edge.
    for (auto [now, bar, red] : {std::tuple{-M_PI / 12, 0.4, 0.0}, {M_PI / 12, 0.9, 0.25}}) {
        RecordingCanvas o;
        FaceWaves::drawForkWindow(o, ForkSpan{-50, 20}, [](double t) { return t * 10; }, QRectF(0, 0, 400, 60), now);
        EXPECT_EQ(rectsIn(o, Palette::glow(), bar).front(), QRectF(198.5, 0, 3, 60));
        EXPECT_EQ(rectsIn(o, Palette::red(), red).front(), QRectF(196.5, 0, 3, 60));
        EXPECT_EQ(rectsIn(o, Palette::bone(), 0.045).front().left(), -10);
    }
}

// --- Stacked lanes, overview and phase meter

TEST(StackedWaveformsTest, LanesMessagesBadgesAndPinch)
{
    EXPECT_EQ(FaceWaves::stackedLanes(QSizeF(100, 156), 4)[3], QRectF(0, 3 * (36 + 4), 100, 36));
    EXPECT_EQ(FaceWaves::stackedLanes(QSizeF(100, 156), 2)[1], QRectF(0, 80, 100, 76));

    FakeScene scene;
    scene.decks[0].loading = true;
    RecordingCanvas c;
    FaceWaves::drawStacked(c, scene, QSizeF(1470, 156), 0);
    EXPECT_EQ(c.of(Kind::rects).size(), 3u * 2u + 2u + 2u + 1u); // two messages, glow, playhead, separator

    // Badge: bar and beat from the grid (0.25 s first beat, 0.5-s beats), master mark.
    struct Case {
        double position;
        int master;
        const char* text;
    };
    for (const Case& k : {Case{0.0, -1, "1  000.4"}, Case{0.25, 0, "1  001.1  MASTER"}, Case{32.25, -1, "1  017.1"},
                          Case{33.3, -1, "1  017.3"}}) {
        WaveDeck d = playingDeck(0, k.position);
        EXPECT_EQ(FaceWaves::badgeText(d, k.master), QString::fromUtf8(k.text)) << k.position;
    }
    WaveDeck ai = playingDeck(1, 2);
    ai.grid.reset();
    EXPECT_EQ(FaceWaves::badgeText(ai, -1), QStringLiteral("2"));

    // Zoom 1 shows 8 s around the playhead; a hot cue up to 1 s outside is drawn.
    WaveDeck d = playingDeck(0, 10);
    d.voice->hotCues = {5.5, 14.9, 4.9, 15.1, -1, -1, -1, -1};
    RecordingCanvas lane;
    FaceWaves::drawStackedLane(lane, d, QRectF(0, 0, 800, 70), 1, std::nullopt, -1, 0);
    EXPECT_EQ(rectsIn(lane, Palette::glow(), 0.55).size(), 2u);
    EXPECT_EQ(rectsIn(lane, Palette::glow(), 0.55)[0], QRectF(-50 - 0.6, 0, 1.2, 70)); // 6…14 s shown

    for (auto [zoom, m, expected] : {std::tuple{1.0, 2.0, 1.08}, {6.0, 3.0, 6.0}, {0.31, 0.0, 0.3},
                                     {1.0, std::nan(""), 1.0}})
        EXPECT_DOUBLE_EQ(FaceWaves::pinchZoom(zoom, m), expected);
}

TEST(OverviewTest, SeeksTicksBlinkAndPhaseRows)
{
    WaveDeck d = playingDeck(0, 10, 120);
    struct Seek {
        double x, width;
        std::optional<double> t;
    };
    for (const Seek& s : {Seek{-20, 400, 0.0}, Seek{500, 400, 120.0}, Seek{100, 400, 30.0},
                          Seek{10, 0, std::nullopt}, Seek{std::nan(""), 400, std::nullopt}})
        EXPECT_EQ(FaceWaves::overviewSeek(d, s.x, s.width), s.t);
    WaveDeck empty = d;
    empty.voice->duration = 0;
    EXPECT_FALSE(FaceWaves::overviewSeek(empty, 10, 400));
    empty.voice.reset();
    EXPECT_FALSE(FaceWaves::overviewSeek(empty, 10, 400));

    auto ticks = [](double duration) {
        WaveDeck deck = playingDeck(0, 1, duration);
        RecordingCanvas c;
        FaceWaves::drawOverview(c, deck, QSizeF(400, 22), 0);
        return rectsIn(c, Palette::ash(), 0.6);
    };
    EXPECT_TRUE(ticks(59).empty());
    EXPECT_EQ(ticks(120), (std::vector<QRectF>{QRectF(200, 19, 0.6, 3)}));
    EXPECT_EQ(ticks(181).size(), 3u);

    auto blinks = [](bool playing, double now) {
        WaveDeck deck = playingDeck(0, 91, 120);
        deck.voice->playing = playing;
        RecordingCanvas c;
        FaceWaves::drawOverview(c, deck, QSizeF(400, 22), now);
        return !c.of(Kind::stroke).empty();
    };
    EXPECT_FALSE(blinks(false, 800000000.1));
    EXPECT_TRUE(blinks(true, 800000000.1));
    EXPECT_FALSE(blinks(true, 800000000.4));

    WaveDeck loading = d;
    loading.voice->loaded = false;
    RecordingCanvas hair;
    FaceWaves::drawOverview(hair, loading, QSizeF(400, 22), 0);
    EXPECT_EQ(rectsIn(hair, Palette::ash(), 0.3), (std::vector<QRectF>{QRectF(0, 11, 400, 0.5)}));

    // Phase meter: rows per layout, the beat in the bar lit, nothing without a grid.
    FakeScene scene;
    scene.decks[0] = playingDeck(0, 0.25 + 0.5 * 2); // beat 3
    scene.decks[1] = playingDeck(1, 0.0);            // before the first beat: beat 4 of the bar before
    scene.decks[2] = playingDeck(2, 1.0);
    scene.decks[2].grid.reset();
    scene.decks[3] = playingDeck(3, 0.3);
    for (bool four : {false, true}) {
        scene.four = four;
        RecordingCanvas c;
        FaceWaves::drawPhaseMeter(c, scene, QSizeF(106, 40));
        const auto fills = c.of(Kind::fill);
        ASSERT_EQ(fills.size(), four ? 12u : 8u); // deck 3 has no grid: an empty row
        if (four) {
            EXPECT_EQ(fills[8].path.boundingRect().top(), 30 + 3);
        }
        EXPECT_EQ(fills[2].brush.color(), withAlpha(Palette::glow(), 0.9));
        EXPECT_EQ(fills[7].brush.color(), withAlpha(Palette::glow(), 0.9));
        EXPECT_EQ(fills[0].path.boundingRect(), QRectF(0, 3, 25, (four ? 10 : 20) - 6));
    }
    scene.decks[0].grid = BeatGrid(120, 0, 0);
    RecordingCanvas bad;
    FaceWaves::drawPhaseMeter(bad, scene, QSizeF(106, 40));
    EXPECT_EQ(bad.of(Kind::fill).size(), 8u); // deck 1's row stays empty
}

// --- Widgets

TEST(WaveWidgetsTest, AnIdleLaneGoesQuietAndPanelsRedrawOnANewRevision)
{
    KitRig rig;
    FakeScene scene;
    WaveLaneView lane(scene, rig.env(), 8);
    lane.resize(600, 100);
    lane.show();
    auto& ticker = WaveTicker::shared(rig.scheduler);
    EXPECT_TRUE(ticker.running());
    // The first step draws the still frame; then two simulated seconds ask for nothing.
    EXPECT_TRUE(lane.step());
    int asked = 0;
    for (int i = 0; i < 120; ++i) {
        rig.scheduler.advance(1 / 60.0);
        asked += lane.step() ? 1 : 0;
    }
    EXPECT_EQ(asked, 0);
    lane.setDeck(1, false);
    EXPECT_TRUE(lane.step());
    EXPECT_FALSE(lane.step());
    lane.setDeck(1, false);
    EXPECT_FALSE(lane.step());
    // A zoom change eases over frames, then goes quiet.
    RecordingCanvas first;
    lane.drawFrame(first, QSizeF(600, 100), 1);
    scene.zoom = 2;
    int frames = 0;
    for (int i = 0; i < 60 && lane.step(); ++i) {
        rig.scheduler.advance(1 / 60.0);
        RecordingCanvas c;
        lane.drawFrame(c, QSizeF(600, 100), 1);
        ++frames;
    }
    EXPECT_GT(frames, 5);
    EXPECT_LT(frames, 60);
    EXPECT_NEAR(lane.state().zoom, 2, 0.001);
    // Playhead: 1.5 pt at 36 %, 3 pt with the jog touched.
    RecordingCanvas ph;
    drawPlayhead(ph, QRectF(0, 0, 600, 100), true);
    EXPECT_EQ(ph.of(Kind::rects)[0].rects[0], QRectF(216 - 1.5, 0, 3, 100));
    lane.hide();
    EXPECT_FALSE(ticker.running());

    // The stacked panel: pinch steps compound from the gesture's start and clamp.
    StackedWaveforms panel(scene, rig.env(), QSizeF(1470, 156));
    EXPECT_EQ(panel.canvas()->fps(), 0);
    const auto before = panel.canvas()->revision();
    scene.changed();
    EXPECT_EQ(panel.canvas()->revision(), before); // nothing new
    scene.decks[0] = playingDeck(0, 3);
    scene.changed();
    EXPECT_NE(panel.canvas()->revision(), before);
    EXPECT_EQ(panel.canvas()->fps(), 30);

    // Pinch: zoom steps multiply into the magnification since the gesture began.
    auto gesture = [&](Qt::NativeGestureType type, double value) {
        QNativeGestureEvent e(type, QPointingDevice::primaryPointingDevice(), 2, QPointF(10, 10), QPointF(10, 10),
                              QPointF(10, 10), value, QPointF());
        QApplication::sendEvent(panel.canvas(), &e);
    };
    scene.zoom = 1;
    gesture(Qt::BeginNativeGesture, 0);
    gesture(Qt::ZoomNativeGesture, 1.0); // m = 2
    EXPECT_DOUBLE_EQ(scene.zoom, 1.08);
    gesture(Qt::ZoomNativeGesture, 0.5); // m = 3, read against the new zoom
    EXPECT_DOUBLE_EQ(scene.zoom, 1.08 * 1.16);
    scene.zoom = 6;
    const int writes = scene.zoomWrites;
    gesture(Qt::ZoomNativeGesture, 1.0);
    EXPECT_EQ(scene.zoomWrites, writes); // clamped at 6: unchanged, not written

    // The overview seeks where pressed and dragged, as voice commands; never without a duration.
    scene.decks[0] = playingDeck(0, 10, 200);
    OverviewWaveform overview(scene, 0, rig.env(), QSizeF(400, 22));
    EXPECT_EQ(overview.fps(), 15); // its deck already plays
    overview.show();
    QTest::mousePress(&overview, Qt::LeftButton, {}, QPoint(100, 10));
    QMouseEvent drag(QEvent::MouseMove, QPointF(-30, 10), QPointF(-30, 10), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(&overview, &drag);
    QTest::mouseRelease(&overview, Qt::LeftButton, {}, QPoint(-30, 10));
    EXPECT_EQ(scene.seeks, (std::vector<std::pair<int, double>>{{0, 50.0}, {0, 0.0}}));
    scene.decks[0].voice->duration = 0;
    QTest::mousePress(&overview, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(scene.seeks.size(), 2u);
}

// A playing lane and the four-deck panel painted for real: what lands where in
// the pixels, and the PNG files (in the test's own folder) hold those pixels.
TEST(WaveWidgetsTest, PaintsAPlayingLaneAndThePanelAndWritesThemToPng)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FakeScene scene;
    scene.four = true;
    scene.decks[0] = playingDeck(0, 40);
    scene.decks[0].voice->hotCues = {38, 42, -1, -1, -1, -1, -1, -1};
    scene.decks[0].voice->cuePoint = 37;
    scene.decks[0].voice->loopStart = 41;
    scene.decks[0].voice->loopEnd = 43;
    scene.decks[0].voice->loopActive = true;
    scene.decks[1] = playingDeck(1, 20);
    scene.decks[1].seam = 21;
    scene.decks[2] = playingDeck(2, 100);
    scene.decks[2].track = scene.decks[0].track;
    scene.decks[3] = WaveDeck{};
    scene.decks[3].index = 3;
    scene.master = 0;
    PendingFork fork;
    fork.plan = ForkPlan{44, 36, 8, 20};
    fork.source = scene.decks[0].track;
    scene.fork = fork;
    // Bands that vary, never below 40, so every column has a bar across the centre line.
    auto w = std::make_shared<WaveformData>(*scene.decks[0].waveform);
    for (std::size_t i = 0; i < w->low.size(); ++i) {
        w->low[i] = std::uint8_t(140 + 100 * std::sin(i * 0.07) * std::sin(i * 0.011));
        w->mid[i] = std::uint8_t(120 + 80 * std::sin(i * 0.23));
        w->high[i] = std::uint8_t(100 + 60 * std::sin(i * 0.9));
    }
    for (int i = 0; i < 3; ++i)
        scene.decks[std::size_t(i)].waveform = w;

    const auto brightness = [](const QColor& c) { return (c.red() + c.green() + c.blue()) / 3; };

    // The lane: 10 s across 1200 points, the playhead at 36 % (t = 40 at x = 432),
    // so x(t) = (t - 36.4) * 120.
    QImage lane(QSize(1200, 140) * 2, QImage::Format_ARGB32_Premultiplied);
    lane.setDevicePixelRatio(2);
    lane.fill(Qt::black);
    {
        QPainter p(&lane);
        PainterCanvas canvas(p);
        WaveTiles tiles;
        LaneState s;
        s.lastBeat = 79; // the beat under the playhead has flashed already: no glow
        LaneFrame f = laneFrame();
        f.rect = QRectF(0, 0, 1200, 140);
        f.scale = 2;
        f.fork = WaveLaneMath::forkOnLane(fork, scene.decks[0], true);
        drawLane(canvas, tiles, s, scene.decks[0], f);
        drawPlayhead(canvas, f.rect, false);
    }
    const auto at = [&](double x, double y) { return test::pixelAt(lane, QPointF(x, y)); };
    // The playhead, top to bottom.
    for (double y : {1.0, 70.0, 139.0})
        EXPECT_GT(brightness(at(432, y)), 220) << y;
    // The waveform fills the centre line and stays inside its 8-point inset.
    int lit = 0;
    for (double x = 240.5; x < 420; x += 2)
        lit += brightness(at(x, 70.5)) > 120 ? 1 : 0;
    EXPECT_EQ(lit, 90);
    EXPECT_LT(brightness(at(400.5, 4.5)), 60);
    // The cue's paper triangle at 37 s, at the top edge.
    EXPECT_TRUE(test::near(at(72, 1.5), Stage::cgPaper(), 8)) << at(72, 1.5).name().toStdString();
    // Hot cues A (38 s) and B (42 s): ember flags at the bottom.
    for (double x : {192.0 + 1.5, 672.0 + 1.5})
        EXPECT_TRUE(test::near(at(x, 137.5), Stage::cgEmber(), 8)) << x << " " << at(x, 137.5).name().toStdString();
    // The active loop (41 s to 43 s) tints the lane ember; outside it, no tint.
    const QColor inLoop = at(560, 4.5), outside = at(300, 4.5);
    EXPECT_GT((inLoop.red() - inLoop.blue()) - (outside.red() - outside.blue()), 20)
        << inLoop.name().toStdString() << " " << outside.name().toStdString();

    // The panel: four lanes, the centre line, the separators; the empty fourth
    // deck shows only its message.
    QImage panel(QSize(1470, 156) * 2, QImage::Format_ARGB32_Premultiplied);
    panel.setDevicePixelRatio(2);
    panel.fill(Palette::inkDeep());
    {
        QPainter p(&panel);
        PainterCanvas canvas(p);
        FaceWaves::drawStacked(canvas, scene, QSizeF(1470, 156), 0);
    }
    const std::vector<QRectF> lanes = FaceWaves::stackedLanes(QSizeF(1470, 156), 4);
    ASSERT_EQ(lanes.size(), 4u);
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        SCOPED_TRACE(i);
        const double y = lanes[i].center().y();
        EXPECT_TRUE(test::near(test::pixelAt(panel, QPointF(735, y)), Palette::paper(), 8));
        int away = 0;
        for (double x = 760; x < 1460; x += 1)
            away += test::near(test::pixelAt(panel, QPointF(x, y)), Palette::inkDeep(), 6) ? 0 : 1;
        if (i < 3) {
            EXPECT_GT(away, 350) << "a playing deck's wave right of the centre";
        } else {
            EXPECT_EQ(away, 0) << "the empty deck draws nothing there";
        }
        if (i > 0) {
            EXPECT_TRUE(test::near(test::pixelAt(panel, QPointF(20, lanes[i].top() - 2)), Palette::edge(), 8));
        }
    }
    int message = 0;
    for (double x = lanes[3].left() + 14; x < lanes[3].left() + 120; x += 0.5)
        for (double y = lanes[3].center().y() - 6; y < lanes[3].center().y() + 6; y += 0.5)
            message += test::near(test::pixelAt(panel, QPointF(x, y)), Palette::inkDeep(), 6) ? 0 : 1;
    EXPECT_GT(message, 50) << "LOAD A TRACK";

    // Written and read back, pixel for pixel.
    for (auto [image, name] : {std::pair{&lane, "lane.png"}, std::pair{&panel, "panel.png"}}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(image->save(path)) << name;
        QImage back(path);
        ASSERT_FALSE(back.isNull()) << name;
        EXPECT_EQ(back.size(), image->size()) << name;
        EXPECT_EQ(back.convertToFormat(QImage::Format_ARGB32), image->convertToFormat(QImage::Format_ARGB32))
            << name;
    }
}

} // namespace
} // namespace zelvo::kit
