#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/stage/DeckPanelFaces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo::stage {
namespace {

using kit::RecordingCanvas;
namespace Stage = kit::Stage;

TEST(DeckPanelFaces, TempoPercentageFollowsTheRangeAndLampsFollowTheDeck)
{
    struct Case {
        double fader;
        TempoRange range;
        const char* percent;
    };
    const Case cases[] = {
        {0, TempoRange::six, "+0.00%"},         {-0.5, TempoRange::six, "-3.00%"},
        {-0.325, TempoRange::ten, "-3.25%"},    {0.75, TempoRange::sixteen, "+12.00%"},
        {1, TempoRange::wide, "+100.00%"},      {-1, TempoRange::wide, "-100.00%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tempoPercentText(1.0 + c.fader * tempoRangeWidth(c.range)), QString::fromUtf8(c.percent))
            << c.fader;
    EXPECT_EQ(tempoPercentText(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("+0.00%"));

    // The range key cycles six → ten → sixteen → wide → six, with its labels.
    TempoRange range = TempoRange::six;
    QStringList labels;
    for (int i = 0; i < 5; ++i) {
        labels << tempoRangeKey(range);
        range = nextTempoRange(range);
    }
    EXPECT_EQ(labels, (QStringList{"±6", "±10", "±16", "WIDE", "±6"}));

    // cue lamp: cueing, or loaded and not playing; play lamp: playing.
    struct Lamp {
        bool loaded, playing, cueing;
        TransportLamps lamps;
    };
    const Lamp lamps[] = {
        {false, false, false, {false, false}}, {true, false, false, {true, false}},
        {true, true, false, {false, true}},    {true, true, true, {true, true}},
        {false, false, true, {true, false}},
    };
    for (const Lamp& l : lamps)
        EXPECT_EQ(transportLamps(l.loaded, l.playing, l.cueing), l.lamps) << l.loaded << l.playing << l.cueing;
}

TEST(DeckPanelFaces, LoopLengthsReadAsWholeBeatsOrFractions)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, const char*> cases[] = {
        {64, "64"},   {32, "32"},   {4, "4"},       {1.5, "1"},      {1, "1"},       {0.5, "1/2"},
        {0.25, "1/4"}, {0.125, "1/8"}, {0.03125, "1/32"}, {0.75, "3/4"}, {0.375, "3/8"}, {0.1, "1/10"},
        {0, "—"},     {-2, "—"},    {nan, "—"},     {INFINITY, "—"},
    };
    for (const auto& [beats, text] : cases)
        EXPECT_EQ(loopBeatsText(beats), QString::fromUtf8(text)) << beats;
}

TEST(DeckPanelFaces, JogCentreShowsTempoShiftedKeyAndTimeLeft)
{
    JogInput empty;
    EXPECT_EQ(jogCentre(empty), (JogCentre{QStringLiteral("—"), {}, {}, false}));

    JogInput in;
    in.hasVoice = true;
    in.loaded = true;
    in.duration = 100;
    in.position = 71;
    in.gridBpm = 120;
    in.ratio = 1.05;
    in.key = MusicalKey(9, true); // A minor, 8A
    in.keyShift = 2;
    in.playing = true;
    JogCentre centre = jogCentre(in);
    EXPECT_EQ(centre.tempo, QStringLiteral("126.0"));
    EXPECT_EQ(centre.key, MusicalKey(11, true).camelot());
    EXPECT_EQ(centre.remaining, QStringLiteral("-0:29.0"));
    EXPECT_TRUE(centre.remainingUrgent);

    in.playing = false; // paused with 29 s left stays bone
    EXPECT_FALSE(jogCentre(in).remainingUrgent);
    in.keyShift = -13; // wraps into 0…11, minor kept
    EXPECT_EQ(jogCentre(in).key, MusicalKey(8, true).camelot());
    in.position = 120; // past the end reads 0
    EXPECT_EQ(jogCentre(in).remaining, QStringLiteral("-0:00.0"));
    in.hasVoice = false; // no voice: no clock, the tempo still shows
    EXPECT_EQ(jogCentre(in).remaining, QString());
    EXPECT_EQ(jogCentre(in).tempo, QStringLiteral("126.0"));
    in.ratio = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(jogCentre(in).tempo, QStringLiteral("—"));
}

TEST(DeckPanelFaces, JogAnglesRunClockwiseFromTwelve)
{
    EXPECT_DOUBLE_EQ(jogQtAngle(0), 90);
    EXPECT_DOUBLE_EQ(jogQtAngle(0.25), 0);
    EXPECT_DOUBLE_EQ(jogQtAngle(0.5), -90);
    // On screen (y down) a quarter turn from 12 o'clock is 3 o'clock.
    const QPainterPath quarter = jogRing(QPointF(50, 50), 40, 0, 0.25);
    EXPECT_NEAR(quarter.pointAtPercent(0).x(), 50, 1e-6);
    EXPECT_NEAR(quarter.pointAtPercent(0).y(), 10, 1e-6);
    EXPECT_NEAR(quarter.pointAtPercent(1).x(), 90, 1e-6);
    EXPECT_NEAR(quarter.pointAtPercent(1).y(), 50, 1e-6);
    EXPECT_GT(quarter.pointAtPercent(0.5).x(), 50); // through the upper right
    EXPECT_LT(quarter.pointAtPercent(0.5).y(), 50);
    for (double p : {0.0, 1.8, 3.6})
        EXPECT_NEAR(jogSpokeDegrees(p), -90, 1e-9) << p;
    EXPECT_NEAR(jogSpokeDegrees(0.45), 0, 1e-9);
    EXPECT_NEAR(jogSpokeDegrees(-0.45), -180, 1e-9); // turns back with a reversed playhead
}

// Strokes of one colour in a recording, in order.
std::vector<RecordingCanvas::Op> strokesIn(const RecordingCanvas& canvas, const QColor& colour)
{
    std::vector<RecordingCanvas::Op> out;
    for (const auto& op : canvas.of(RecordingCanvas::Kind::stroke))
        if (op.pen.color().rgb() == colour.rgb())
            out.push_back(op);
    return out;
}

TEST(DeckPanelFaces, JogDrawsProgressTakeArcsCueAndSpoke)
{
    const QSizeF size(136, 136);
    const QPointF c(68, 68);
    const double r = 68;

    // An empty deck: the face and the track ring only.
    {
        RecordingCanvas canvas;
        paintJog(canvas, size, JogInput{});
        EXPECT_EQ(canvas.of(RecordingCanvas::Kind::fill).size(), 1u);
        ASSERT_EQ(canvas.of(RecordingCanvas::Kind::stroke).size(), 1u);
        EXPECT_EQ(canvas.of(RecordingCanvas::Kind::stroke)[0].pen.color(), Stage::line());
    }

    JogInput in;
    in.loaded = true;
    in.hasVoice = true;
    in.duration = 20;
    in.position = 9; // 45 % played; the spoke is 5 turns on (9 = 5 × 1.8): at 12 o'clock
    in.cuePoint = 0;
    in.seam = 8; // the take's generated part from 40 %
    RecordingCanvas canvas;
    paintJog(canvas, size, in);

    const auto progress = strokesIn(canvas, Stage::rbBlue());
    ASSERT_EQ(progress.size(), 1u);
    const QPointF end = progress[0].path.currentPosition();
    const double angle = std::atan2(end.y() - c.y(), end.x() - c.x()) * 180 / M_PI;
    EXPECT_NEAR(angle, 0.45 * 360 - 90, 0.05);
    EXPECT_NEAR(QLineF(c, end).length(), r - 3, 0.05); // Qt draws arcs as Bézier curves

    // Both arcs from the seam to the end, between save and restore, in screen mode.
    const auto red = strokesIn(canvas, Stage::ghostRed());
    const auto cyan = strokesIn(canvas, Stage::ghostCyan());
    ASSERT_EQ(red.size(), 1u);
    ASSERT_EQ(cyan.size(), 1u);
    EXPECT_NEAR(red[0].pen.color().alphaF(), 0.6, 0.01);
    EXPECT_NEAR(QLineF(c, red[0].path.elementAt(0)).length(), r - 1.5, 0.05); // Qt draws arcs as Bézier curves
    EXPECT_NEAR(QLineF(c, cyan[0].path.elementAt(0)).length(), r - 4.5, 0.05); // Qt draws arcs as Bézier curves
    const QPointF seam = red[0].path.elementAt(0);
    EXPECT_NEAR(std::atan2(seam.y() - c.y(), seam.x() - c.x()) * 180 / M_PI, 0.4 * 360 - 90, 0.05);
    int depth = 0;
    bool screenAtArcs = false, screen = false;
    for (const auto& op : canvas.ops()) {
        if (op.kind == RecordingCanvas::Kind::save)
            ++depth;
        if (op.kind == RecordingCanvas::Kind::restore) {
            --depth;
            screen = false;
        }
        if (op.kind == RecordingCanvas::Kind::blend)
            screen = op.flags == QPainter::CompositionMode_Screen;
        if (op.kind == RecordingCanvas::Kind::stroke && op.pen.color().rgb() == Stage::ghostRed().rgb())
            screenAtArcs = screen && depth == 1;
        if (op.kind == RecordingCanvas::Kind::stroke && op.pen.color().rgb() == Stage::rbAmber().rgb()) {
            EXPECT_FALSE(screen); // the blend does not carry over
        }
    }
    EXPECT_TRUE(screenAtArcs);
    EXPECT_EQ(depth, 0);

    // The cue marker straddles 12 o'clock for a cue at 0.
    const auto cue = strokesIn(canvas, Stage::rbAmber());
    ASSERT_EQ(cue.size(), 1u);
    EXPECT_EQ(cue[0].pen.widthF(), 8);
    EXPECT_LT(cue[0].path.pointAtPercent(0).x(), c.x());
    EXPECT_GT(cue[0].path.pointAtPercent(1).x(), c.x());

    // The spoke: paper, from 0.62 r to r − 10, pointing up.
    const auto spoke = strokesIn(canvas, Stage::paper());
    ASSERT_EQ(spoke.size(), 1u);
    EXPECT_EQ(spoke[0].pen.capStyle(), Qt::RoundCap);
    EXPECT_NEAR(spoke[0].path.elementAt(0).x, c.x(), 1e-6);
    EXPECT_NEAR(spoke[0].path.elementAt(0).y, c.y() - 0.62 * r, 1e-6);
    EXPECT_NEAR(spoke[0].path.elementAt(1).y, c.y() - (r - 10), 1e-6);

    // The model's deck shows its progress in bone; a seam at the end draws no arcs;
    // a touched jog gets its ring.
    in.isAI = true;
    in.seam = 20;
    in.jogTouched = true;
    RecordingCanvas second;
    paintJog(second, size, in);
    EXPECT_TRUE(strokesIn(second, Stage::rbBlue()).empty());
    EXPECT_EQ(strokesIn(second, Stage::bone()).size(), 1u);
    EXPECT_TRUE(strokesIn(second, Stage::ghostRed()).empty());
    EXPECT_EQ(strokesIn(second, Stage::paper()).size(), 2u); // spoke and touch ring
    EXPECT_TRUE(second.of(RecordingCanvas::Kind::blend).empty());
}

TEST(DeckPanelFaces, PadMirrorChipsPadsAndFlash)
{
    QStringList chips;
    for (PadMode mode : padMirrorModes)
        chips << padChipText(mode);
    EXPECT_EQ(chips, (QStringList{"cue", "fx", "jump", "zelvo-0", "key", "loop"}));

    // Only the unselected model chip has fringes; the selected chip is ink on bone.
    EXPECT_EQ(padChipLook(PadMode::key, PadMode::key).fill, Stage::bone());
    EXPECT_EQ(padChipLook(PadMode::key, PadMode::key).text, Stage::ink());
    EXPECT_EQ(padChipLook(PadMode::ai, PadMode::hotCue).text, Stage::paper());
    EXPECT_DOUBLE_EQ(padChipLook(PadMode::ai, PadMode::hotCue).ghostOffset, 0.8);
    EXPECT_DOUBLE_EQ(padChipLook(PadMode::ai, PadMode::ai).ghostOffset, 0);
    EXPECT_EQ(padChipLook(PadMode::padFX, PadMode::hotCue).text, Stage::ash());

    for (PadMode mode : padMirrorModes) {
        EXPECT_EQ(padLook(false, mode).fill, Stage::ink());
        EXPECT_EQ(padLook(false, mode).text, Stage::bone());
        EXPECT_EQ(padLook(true, mode).fill, mode == PadMode::ai ? Stage::paper() : Stage::signal());
        EXPECT_EQ(padLook(true, mode).text, Stage::ink());
    }

    const std::optional<PadHitStamp> hit = PadHitStamp{1, 5, 100.0};
    EXPECT_DOUBLE_EQ(padAge(hit, 0, 5, 100.1), 9); // another deck's hit
    EXPECT_DOUBLE_EQ(padAge(hit, 1, 4, 100.1), 9); // only the latest pad
    EXPECT_DOUBLE_EQ(padAge(std::nullopt, 1, 5, 100.1), 9);
    EXPECT_NEAR(padAge(hit, 1, 5, 100.1), 0.1, 1e-9);
    const std::pair<double, double> flashes[] = {{0, 1}, {0.175, 0.5}, {0.35, 0}, {0.5, 0}, {9, 0}, {-1, 1}};
    for (const auto& [age, flash] : flashes)
        EXPECT_NEAR(padFlash(age), flash, 1e-9) << age;
    EXPECT_TRUE(padFlashing(hit, 1, 100.39));
    EXPECT_FALSE(padFlashing(hit, 1, 100.4));
    EXPECT_FALSE(padFlashing(hit, 0, 100.1));
    EXPECT_FALSE(padFlashing(std::nullopt, 1, 100.1));
}

} // namespace
} // namespace zelvo::stage
