#include "library/WaveformData.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/stage/ControlEchoView.h"
#include "ui/stage/DeckCardPieces.h"
#include "ui/stage/Ghosts.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo::stage {
namespace {

using Kind = kit::RecordingCanvas::Kind;

OverviewInput track(double duration, double position)
{
    OverviewInput in;
    auto wave = std::make_shared<WaveformData>();
    wave->pointsPerSecond = 10;
    wave->low.assign(std::size_t(duration * 10), 200);
    wave->mid.assign(std::size_t(duration * 10), 100);
    wave->high.assign(std::size_t(duration * 10), 255);
    in.waveform = wave;
    in.loaded = true;
    in.duration = duration;
    in.position = position;
    return in;
}

std::vector<QRectF> rectsIn(const kit::RecordingCanvas& canvas, const QColor& colour)
{
    std::vector<QRectF> all;
    for (const auto& op : canvas.of(Kind::rects))
        if (op.color == colour)
            all.insert(all.end(), op.rects.begin(), op.rects.end());
    return all;
}

TEST(StagePaint, OverviewSplitsAtThePlayheadAndGhostsTheGeneratedPart)
{
    OverviewInput in = track(100, 25);
    in.hotCues[0] = 50;
    in.hotCues[3] = -1;
    kit::RecordingCanvas canvas;
    paintOverview(canvas, {200, 22}, in);
    const auto played = rectsIn(canvas, kit::withAlpha(kit::Stage::ash(), 0.45));
    const auto unplayed = rectsIn(canvas, kit::withAlpha(kit::Stage::bone(), 0.85));
    EXPECT_EQ(played.size(), 25u);
    EXPECT_EQ(unplayed.size(), 75u);
    // A bar mirrors the louder of low and mid (200 of 255) about the middle.
    EXPECT_NEAR(played[0].height(), 2 * (11 - 2) * 200 / 255.0, 1e-9);
    EXPECT_NEAR(played[0].center().y(), 11, 1e-9);
    const auto cues = rectsIn(canvas, kit::Stage::signal());
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0], QRectF(99, 0, 2, 5));
    const auto head = rectsIn(canvas, kit::Stage::paper());
    ASSERT_EQ(head.size(), 1u);
    EXPECT_EQ(head[0], QRectF(49, 0, 2, 22));
    EXPECT_TRUE(rectsIn(canvas, kit::withAlpha(kit::Stage::ghostRed(), 0.45)).empty());

    in.seam = 60;
    kit::RecordingCanvas take;
    paintOverview(take, {200, 22}, in);
    const auto red = rectsIn(take, kit::withAlpha(kit::Stage::ghostRed(), 0.45));
    const auto cyan = rectsIn(take, kit::withAlpha(kit::Stage::ghostCyan(), 0.4));
    ASSERT_EQ(red.size(), 40u);
    ASSERT_EQ(cyan.size(), 40u);
    EXPECT_EQ(red[0].left(), 120 - 1);
    EXPECT_EQ(cyan[0].left(), 120 + 1);

    // A waveform shorter than the track stops the bars where it ends; a strip
    // under two points draws no bars but still the cue and the playhead.
    OverviewInput shorter = track(50, 0);
    shorter.duration = 100;
    kit::RecordingCanvas half;
    paintOverview(half, {200, 22}, shorter);
    EXPECT_EQ(rectsIn(half, kit::withAlpha(kit::Stage::bone(), 0.85)).size(), 50u);
    kit::RecordingCanvas narrow;
    paintOverview(narrow, {1.5, 22}, in);
    EXPECT_TRUE(rectsIn(narrow, kit::withAlpha(kit::Stage::bone(), 0.85)).empty());
    EXPECT_EQ(rectsIn(narrow, kit::Stage::signal()).size(), 1u);
    EXPECT_EQ(rectsIn(narrow, kit::Stage::paper()).size(), 1u);
    // Without a loaded voice only the background is drawn.
    in.loaded = false;
    kit::RecordingCanvas unloaded;
    paintOverview(unloaded, {200, 22}, in);
    EXPECT_TRUE(unloaded.of(Kind::rects).empty());
}

TEST(StagePaint, OverviewSeeksOnlyForARealWidthAndPoint)
{
    EXPECT_EQ(overviewSeek(0, 200, 100), 0.0);
    EXPECT_EQ(overviewSeek(-30, 200, 100), 0.0);
    EXPECT_EQ(overviewSeek(500, 200, 100), 100.0);
    EXPECT_EQ(overviewSeek(50, 200, 100), 25.0);
    EXPECT_EQ(overviewSeek(0, 0, 100), std::nullopt);
    EXPECT_EQ(overviewSeek(10, -5, 100), std::nullopt);
    EXPECT_EQ(overviewSeek(std::nan(""), 200, 100), std::nullopt);
    EXPECT_EQ(overviewSeek(10, 200, 0), std::nullopt);
    EXPECT_EQ(overviewSeek(10, std::numeric_limits<double>::infinity(), 100), std::nullopt);
}

TEST(StagePaint, GhostsSitBehindTheContentAtTheirOffsetsAndKeepItsSize)
{
    const auto content = [](QPainter& p, QSizeF size) { p.fillRect(QRectF(QPointF(0, 0), size), Qt::white); };
    const QRgb red = kit::Stage::ghostRed().rgb(), cyan = kit::Stage::ghostCyan().rgb();
    struct Case {
        double offset;
        double opacity;
        int images;
        QRgb left, right; // the layer's outermost columns
    };
    const Case cases[] = {
        {2, 1, 2, red, cyan}, {-2, 1, 2, cyan, red}, {0, 1, 2, 0, 0}, {1, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        Ghosts ghosts;
        kit::RecordingCanvas canvas;
        const QRectF rect(10, 5, 40, 12);
        ghosts.paint(canvas, rect, c.offset, c.opacity, 7, 1, content);
        const auto images = canvas.of(Kind::image);
        ASSERT_EQ(int(images.size()), c.images) << c.offset << ' ' << c.opacity;
        EXPECT_EQ(images.back().rect, rect) << "the content comes last and keeps its frame";
        if (c.images == 1) {
            EXPECT_TRUE(ghosts.layer().isNull());
            continue;
        }
        const double reach = std::fabs(c.offset);
        EXPECT_EQ(images[0].rect, rect.adjusted(-reach, 0, reach, 0));
        const auto blend = canvas.of(Kind::blend);
        ASSERT_FALSE(blend.empty());
        EXPECT_EQ(blend.front().flags, int(QPainter::CompositionMode_Screen));
        const QImage& layer = ghosts.layer();
        ASSERT_EQ(layer.width(), int(40 + 2 * reach));
        if (c.left) {
            EXPECT_EQ(layer.pixelColor(0, 6).rgb(), c.left) << c.offset;
            EXPECT_EQ(layer.pixelColor(layer.width() - 1, 6).rgb(), c.right) << c.offset;
        }
        // Where both copies overlap they screen together.
        const QColor both = layer.pixelColor(layer.width() / 2, 6);
        EXPECT_GE(both.red(), kit::Stage::ghostRed().red());
        EXPECT_GE(both.blue(), kit::Stage::ghostCyan().blue());
    }
    // Half opacity halves the copies' alpha, never the content's.
    Ghosts faint;
    kit::RecordingCanvas canvas;
    faint.paint(canvas, QRectF(0, 0, 40, 12), 2, 0.5, 1, 1, content);
    EXPECT_NEAR(faint.layer().pixelColor(0, 6).alpha(), 128, 2);
    // The content is painted once per revision and size.
    Ghosts cached;
    for (int i = 0; i < 5; ++i)
        cached.paint(canvas, QRectF(0, 0, 40, 12), 1, 0.55, 1, 1, content);
    EXPECT_EQ(cached.renders(), 1);
    cached.paint(canvas, QRectF(0, 0, 40, 12), 1, 0.55, 2, 1, content);
    cached.paint(canvas, QRectF(0, 0, 41, 12), 1, 0.55, 2, 1, content);
    EXPECT_EQ(cached.renders(), 3);
}

TEST(StagePaint, TintedCopiesMultiplyAndKeepTheContentAlpha)
{
    QImage source(2, 1, QImage::Format_ARGB32_Premultiplied);
    source.setPixelColor(0, 0, Qt::white);
    source.setPixelColor(1, 0, Qt::transparent);
    const QImage red = tintedCopy(source, kit::Stage::ghostRed(), 1);
    EXPECT_EQ(red.pixelColor(0, 0).rgb(), kit::Stage::ghostRed().rgb());
    EXPECT_EQ(red.pixelColor(1, 0).alpha(), 0);
    const QImage faint = tintedCopy(source, kit::Stage::ghostCyan(), 0.5);
    EXPECT_NEAR(faint.pixelColor(0, 0).alpha(), 128, 1);
}

TEST(StagePaint, EchoCardAgesFromItsStamp)
{
    struct Case {
        double age;
        double opacity;
        double scale;
    };
    const Case cases[] = {
        {0, 1, 0.97}, {0.04, 1, 0.985}, {0.08, 1, 1}, {0.5, 1, 1}, {1.075, 0.5, 1}, {1.25, 0, 1},
    };
    for (const Case& c : cases) {
        const EchoLook look = echoLook(c.age);
        EXPECT_NEAR(look.opacity, c.opacity, 1e-9) << c.age;
        EXPECT_NEAR(look.scale, c.scale, 1e-9) << c.age;
    }
    EXPECT_FALSE(echoLook(1.3).visible());
    EXPECT_FALSE(echoLook(std::nan("")).visible());
}

TEST(StagePaint, EchoTravelBarFillsFromTheStartOrTheCentre)
{
    EXPECT_EQ(travel(0, false, 200).fill, QRectF(0, 0, 3, 5));
    EXPECT_EQ(travel(0.5, false, 200).fill, QRectF(0, 0, 100, 5));
    EXPECT_FALSE(travel(0.5, false, 200).tick);
    const Travel centre = travel(0.5, true, 200);
    EXPECT_EQ(centre.fill, QRectF(100, 0, 3, 5));
    ASSERT_TRUE(centre.tick);
    EXPECT_EQ(*centre.tick, QRectF(99.25, 0, 1.5, 5));
    EXPECT_EQ(travel(0.25, true, 200).fill, QRectF(50, 0, 50, 5));
    EXPECT_EQ(travel(0.75, true, 200).fill, QRectF(100, 0, 50, 5));
    EXPECT_EQ(travel(std::nan(""), false, 200).fill, QRectF(0, 0, 3, 5));
}

TEST(StagePaint, TouchGlowFadesAndTheTargetedBorderBrightens)
{
    EXPECT_EQ(touchGlow(0), 1);
    EXPECT_NEAR(touchGlow(0.3), 0.5, 1e-12);
    EXPECT_EQ(touchGlow(0.6), 0);
    EXPECT_EQ(touchGlow(5), 0);
    EXPECT_EQ(touchGlow(std::numeric_limits<double>::infinity()), 0);
    kit::RecordingCanvas targeted;
    paintTouchGlow(targeted, QRectF(0, 0, 300, 100), 1, true);
    const auto strokes = targeted.of(Kind::stroke);
    ASSERT_EQ(strokes.size(), 1u);
    EXPECT_EQ(strokes[0].pen.color(), kit::withAlpha(kit::Stage::bone(), 0.9));
    EXPECT_EQ(strokes[0].pen.widthF(), 1.5);
    kit::RecordingCanvas idle;
    paintTouchGlow(idle, QRectF(0, 0, 300, 100), 0, false);
    EXPECT_EQ(idle.of(Kind::fill).size(), 1u);
    EXPECT_EQ(idle.of(Kind::stroke)[0].pen.color(), kit::Stage::line());
}

TEST(StagePaint, ChipsShowCapitalsAndSwapColoursWhenOn)
{
    for (bool on : {false, true}) {
        kit::RecordingCanvas canvas;
        paintChip(canvas, QRectF(0, 0, 40, 14), "sync", on);
        const auto texts = canvas.of(Kind::text);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].text, "SYNC");
        EXPECT_EQ(texts[0].color, on ? kit::Stage::ink() : kit::Stage::ash());
        EXPECT_EQ(canvas.of(Kind::fill)[0].brush.color(), on ? kit::Stage::signal() : kit::Stage::inkHigh());
    }
}

} // namespace
} // namespace zelvo::stage
