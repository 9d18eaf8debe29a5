// Presenters of the kit: pure geometry, lit sets, drag maths, schedules and
// texts, checked without widgets.
#include "ui/kit/AudioDrop.h"
#include "ui/kit/Displays.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/ControlMath.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveSchedule.h"
#include "ui/kit/Palette.h"
#include "ui/kit/SevenSegment.h"
#include "ui/kit/StageControls.h"
#include "ui/kit/Textures.h"
#include "ui/kit/ThemeViews.h"
#include "ui/kit/UiEnv.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace zelvo::kit {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(LiveScheduleTest, SnapsRatesPausesAndAlignsFrames)
{
    const std::pair<double, double> rates[] = {{120, 60}, {60, 60}, {45, 30}, {25, 20}, {16, 15}, {11, 10},
                                               {8, 6},    {5.5, 5}, {1.5, 1}, {0.2, 1}, {0, 1},   {-3, 1}};
    for (auto [fps, snapped] : rates) {
        EXPECT_EQ(LiveSchedule::snappedRate(fps), snapped) << fps;
        EXPECT_DOUBLE_EQ(LiveSchedule(fps, false).interval(), 1.0 / snapped) << fps;
    }
    EXPECT_TRUE(LiveSchedule(0, false).paused());
    EXPECT_TRUE(LiveSchedule(-1, false).paused());
    EXPECT_TRUE(LiveSchedule(30, true).paused());

    // A paused schedule gives its first, aligned frame and then ends.
    auto paused = LiveSchedule(20, true).entries(12.34);
    EXPECT_NEAR(*paused.next(), 12.30, 1e-9);
    EXPECT_FALSE(paused.next().has_value());

    if (!LiveSchedule::frozen()) {
        auto running = LiveSchedule(4, false).entries(12.34);
        for (double expected : {12.25, 12.50, 12.75, 13.0})
            EXPECT_NEAR(*running.next(), expected, 1e-9);
    }
    // Low-frequency mode steps by a second, unless the interval is longer already.
    EXPECT_EQ(LiveSchedule(60, false).step(true), 1.0);
    EXPECT_EQ(LiveSchedule(0.5, false).step(true), 1.0);
    EXPECT_NEAR(LiveSchedule(60, false).firstFrame(7.9, true), 7.0, 1e-9);
    // Frames of equal steps fall on the same instants wherever they start.
    EXPECT_DOUBLE_EQ(LiveSchedule(30, false).firstFrame(1000.01), LiveSchedule(25, false).firstFrame(1000.01) == 1000.0
                                                                      ? 1000.0
                                                                      : LiveSchedule(30, false).firstFrame(1000.01));
    EXPECT_NEAR(secondsSinceReference(QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1), Qt::UTC)), 1.0, 1e-9);
}

TEST(KnobMathTest, RingLightsTheArcTowardsTheValue)
{
    struct Case {
        int dots;
        double p;
        bool bipolar;
        std::vector<int> lit;
    };
    const Case cases[] = {
        {11, 0.0, false, {0}},
        {11, 1.0, false, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {11, 0.5, false, {0, 1, 2, 3, 4, 5}},
        {11, 0.5, true, {5}},                 // only the top dot at the centre
        {11, 1.0, true, {5, 6, 7, 8, 9, 10}}, // right half from the top
        {11, 0.0, true, {0, 1, 2, 3, 4, 5}},
        {10, 0.5, true, {}},                  // an even ring has no top dot
        {1, 0.5, true, {0}},                  // a single dot sits at the top
        {0, 1.0, false, {}},
    };
    for (const Case& c : cases) {
        const auto ring = KnobMath::ring(c.dots, c.p, c.bipolar, QPointF(26, 26), 40);
        ASSERT_EQ(int(ring.size()), std::max(0, c.dots));
        std::vector<int> lit;
        for (size_t i = 0; i < ring.size(); ++i)
            if (ring[i].lit)
                lit.push_back(int(i));
        EXPECT_EQ(lit, c.lit) << c.dots << " dots at " << c.p << (c.bipolar ? " bipolar" : "");
    }
    // Dots lie on radius size/2 + 4.5, from lower left over the top.
    const auto ring = KnobMath::ring(3, 0, false, QPointF(0, 0), 40);
    EXPECT_NEAR(ring[1].centre.x(), 0, 1e-9);
    EXPECT_NEAR(ring[1].centre.y(), -24.5, 1e-9);
    EXPECT_LT(ring[0].centre.x(), 0);
    EXPECT_GT(ring[0].centre.y(), 0);
}

TEST(KnobMathTest, DragsClampAndResets)
{
    const Range r{0, 1};
    EXPECT_DOUBLE_EQ(KnobMath::dragValue(0, r, -160, false), 1);
    EXPECT_DOUBLE_EQ(KnobMath::dragValue(0, r, -800, true), 1);
    EXPECT_DOUBLE_EQ(KnobMath::dragValue(0, r, -400, true), 0.5);
    EXPECT_DOUBLE_EQ(KnobMath::dragValue(0, r, -5000, false), 1);
    EXPECT_DOUBLE_EQ(KnobMath::dragValue(0.5, r, 5000, false), 0);
    EXPECT_DOUBLE_EQ(KnobMath::resetValue(0.3, true, r), 0.3);
    EXPECT_DOUBLE_EQ(KnobMath::resetValue(std::nullopt, true, Range{-1, 3}), 1);
    EXPECT_DOUBLE_EQ(KnobMath::resetValue(std::nullopt, false, Range{-1, 3}), -1);
    // Degenerate inputs never produce NaN.
    EXPECT_EQ(rangeFraction(5, Range{2, 2}), 0);
    EXPECT_EQ(rangeFraction(nan, r), 0);
    EXPECT_EQ(KnobMath::dragValue(nan, r, -10, false), 0);
    EXPECT_EQ(KnobMath::dragValue(2, Range{2, 2}, -10, false), 2);
}

TEST(FaderMathTest, TravelDetentInversionTicksAndNoTravel)
{
    const Range r{0, 1};
    EXPECT_DOUBLE_EQ(FaderMath::capOffset(0, r, false, 120), -50);
    EXPECT_DOUBLE_EQ(FaderMath::capOffset(1, r, false, 120), 50);
    EXPECT_DOUBLE_EQ(FaderMath::capOffset(1, r, true, 120), -50); // inverted: hi at the top
    EXPECT_DOUBLE_EQ(*FaderMath::dragValue(0.5, r, 25, 120, false, false, false), 0.75);
    EXPECT_DOUBLE_EQ(*FaderMath::dragValue(0.5, r, 25, 120, true, false, false), 0.5625);
    EXPECT_DOUBLE_EQ(*FaderMath::dragValue(0.5, r, -25, 120, false, true, false), 0.75); // inverted: up raises
    EXPECT_DOUBLE_EQ(*FaderMath::dragValue(0.5, r, 1000, 120, false, false, false), 1);
    EXPECT_DOUBLE_EQ(*FaderMath::dragValue(0.4, r, 9, 120, false, false, true), 0.5);   // within 1.5 %: snaps
    EXPECT_DOUBLE_EQ(*FaderMath::dragValue(0.4, r, 8, 120, false, false, true), 0.48);  // outside: does not
    EXPECT_DOUBLE_EQ(FaderMath::resetValue(std::nullopt, true, r), 0.5);
    EXPECT_DOUBLE_EQ(FaderMath::resetValue(std::nullopt, false, r), 0);
    for (double length : {20.0, 5.0, 0.0, -3.0, nan})
        EXPECT_FALSE(FaderMath::dragValue(0.5, r, 10, length, false, false, false)) << length;
    EXPECT_DOUBLE_EQ(FaderMath::capOffset(0, r, false, 10), 0);

    const auto majors = [](int n) {
        std::vector<int> out;
        const auto ticks = FaderMath::ticks(n, 120);
        for (size_t i = 0; i < ticks.size(); ++i)
            if (ticks[i].major)
                out.push_back(int(i));
        return out;
    };
    EXPECT_EQ(majors(9), (std::vector<int>{0, 4, 8}));
    EXPECT_EQ(majors(8), (std::vector<int>{0, 4, 7}));
    EXPECT_EQ(FaderMath::ticks(9, 120).back().centre, 110);
    EXPECT_EQ(FaderMath::ticks(1, 120).front().centre, 60); // a single tick in the middle
}

TEST(LiveControlMathTest, TouchMappingAndArcs)
{
    const Range r{0, 1};
    struct Touch {
        double at;
        bool vertical, invert;
        double value;
    };
    const Touch touches[] = {{0, true, false, 1},   {120, true, false, 0}, {-40, true, false, 1},
                             {500, true, false, 0}, {0, true, true, 0},    {0, false, false, 0},
                             {120, false, false, 1}, {60, false, false, 0.5}, {60, false, true, 0.5}};
    for (const Touch& t : touches)
        EXPECT_DOUBLE_EQ(*LiveFaderMath::touchValue(t.at, r, 120, t.vertical, t.invert), t.value) << t.at;
    EXPECT_DOUBLE_EQ(LiveFaderMath::capPosition(0, r, 120, false, false), 6);   // lo at the left
    EXPECT_DOUBLE_EQ(LiveFaderMath::capPosition(1, r, 120, true, false), 6);    // hi at the top
    EXPECT_FALSE(LiveFaderMath::touchValue(5, r, 12, true, false));
    EXPECT_FALSE(LiveFaderMath::touchValue(5, r, 0, true, false));
    EXPECT_DOUBLE_EQ(LiveFaderMath::capPosition(0.3, r, 8, true, false), 4);

    EXPECT_FALSE(LiveKnobMath::valueArc(0.5, true));
    EXPECT_FALSE(LiveKnobMath::valueArc(0.0, false));
    EXPECT_EQ(*LiveKnobMath::valueArc(0.51, true), std::make_pair(0.5, 0.51));
    EXPECT_EQ(*LiveKnobMath::valueArc(0.2, true), std::make_pair(0.2, 0.5));
    EXPECT_DOUBLE_EQ(LiveKnobMath::dragValue(0, r, -140), 1);

    // The recorded dial: track, value arc, disc, pointer.
    RecordingCanvas canvas;
    drawLiveKnobDial(canvas, LiveKnobLook{0.5, r, true, 34, Stage::rbBlue()});
    EXPECT_EQ(canvas.of(RecordingCanvas::Kind::stroke).size(), 2u); // no value arc at the centre
    RecordingCanvas off;
    drawLiveKnobDial(off, LiveKnobLook{0.75, r, false, 34, Stage::rbBlue()});
    const auto strokes = off.of(RecordingCanvas::Kind::stroke);
    ASSERT_EQ(strokes.size(), 3u);
    EXPECT_EQ(strokes[1].pen.color(), Stage::rbBlue());
    // The value arc from lower left (135°) to 0.75 of the sweep (337.5°) on radius 15.
    const QPointF end = strokes[1].path.currentPosition();
    EXPECT_NEAR(end.x(), 17 + 15 * std::cos(337.5 * M_PI / 180), 0.01);
    EXPECT_NEAR(end.y(), 17 + 15 * std::sin(337.5 * M_PI / 180), 0.01);
}

TEST(LevelScaleTest, LaddersAndMetersLightAlikeAndRefuseBadLevels)
{
    struct Case {
        double level;
        int segments;
        int ladder;
        int meter;
    };
    const double minus21 = std::pow(10.0, -21.0 / 20);
    const Case cases[] = {
        {1.0, 16, 16, 16}, {2.0, 16, 16, 16}, {0.0, 16, 0, 0}, {-1.0, 16, 0, 0},
        {std::pow(10.0, -42.0 / 20), 16, 0, 0}, {minus21, 16, 8, 8}, {minus21, 10, 5, 5},
        {nan, 16, 0, 0}, {inf, 16, 0, 0}, {-inf, 16, 0, 0}, {1.0, 0, 0, 0}, {1.0, -4, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ladderLitCount(c.level, c.segments), c.ladder) << c.level << " / " << c.segments;
        EXPECT_EQ(meterLitCount(c.level, c.segments), c.meter) << c.level << " / " << c.segments;
    }
    // Ladder geometry: bottom segment first, 1.5 gaps, the top two red.
    const auto segs = LadderMath::segments(1.0, 4, QSizeF(8, 34.5));
    ASSERT_EQ(segs.size(), 4u);
    EXPECT_EQ(segs[0].rect, QRectF(0, 27, 8, 7.5));
    EXPECT_EQ(segs[3].rect, QRectF(0, 0, 8, 7.5));
    EXPECT_EQ(segs[1].color, Palette::glow());
    EXPECT_EQ(segs[2].color, Palette::red());
    EXPECT_TRUE(LadderMath::segments(1.0, 0, QSizeF(8, 30)).empty());
    RecordingCanvas none;
    drawSegmentMeter(none, 1.0, 0, 10);
    drawLadder(none, nan, 8, QSizeF(8, 40));
    for (const auto& op : none.of(RecordingCanvas::Kind::rects))
        EXPECT_LT(op.color.alphaF(), 0.1); // only unlit segments

    // Meter colours of a full ten-segment meter.
    for (int i = 0; i < 10; ++i) {
        const QColor expected = i == 9 ? Stage::rbRed() : i >= 7 ? Stage::rbAmber() : Stage::rbGreen();
        EXPECT_EQ(MeterMath::segmentColor(i, 10, 10), expected) << i;
    }
    EXPECT_EQ(MeterMath::segmentColor(3, 10, 3), withAlpha(Stage::line(), 0.7));
}

TEST(RecordedDrawingTest, FadersKnobsKeysAndGlass)
{
    using Kind = RecordingCanvas::Kind;
    // Fader: 9 ticks drawn twice each, majors apart; the cap 10 points from the top at lo.
    RecordingCanvas fader;
    const FaderLook look{0, Range{0, 1}, true, 120, 9, false, 28};
    drawFader(fader, look);
    const auto bars = fader.of(Kind::rects);
    ASSERT_GE(bars.size(), 2u);
    EXPECT_EQ(bars[0].rects.size(), 12u); // six minor ticks, twice
    EXPECT_EQ(bars[1].rects.size(), 6u);  // three majors, twice
    EXPECT_EQ(bars[1].rects[0], QRectF(2, 9.5, 6, 1));
    EXPECT_EQ(bars[1].rects[1], QRectF(44 - 2 - 6, 9.5, 6, 1));
    EXPECT_EQ(faderCapRect(look), QRectF(8, 0, 28, 20));
    EXPECT_EQ(faderCapRect(FaderLook{1, Range{0, 1}, false, 200, 0, false, 24}), QRectF(180, 8, 20, 24));

    // Knob: unlit ring, halo and lit dots, then shadow, body, knurl, cap, pointer.
    RecordingCanvas knob;
    drawKnobDial(knob, KnobLook{1, Range{0, 1}, false, 40, 11});
    const auto fills = knob.of(Kind::fill);
    // At hi every dot is lit: halos first, then the dots.
    EXPECT_EQ(fills[0].brush.color(), withAlpha(Palette::glow(), 0.14));
    EXPECT_EQ(fills[1].brush.color(), Palette::glow());
    const auto pointer = knob.of(Kind::stroke).back();
    EXPECT_EQ(pointer.pen.color(), Palette::bone());
    EXPECT_EQ(pointer.pen.widthF(), 2);
    // At hi the pointer ends at 405° (lower right), 0.9 r from the centre.
    EXPECT_NEAR(pointer.path.currentPosition().x(), 26 + 18 * std::cos(45 * M_PI / 180), 1e-9);
    EXPECT_NEAR(pointer.path.currentPosition().y(), 26 + 18 * std::sin(45 * M_PI / 180), 1e-9);
    RecordingCanvas bare;
    drawKnobDial(bare, KnobLook{0, Range{0, 1}, false, 40, 0});
    EXPECT_EQ(bare.of(Kind::fill).size(), 3u); // no ring: shadow, body, cap

    // Keys: the lamp dot only on plain keys; upper-case legends; the pressed scale.
    for (KeyStyle style : {KeyStyle::key, KeyStyle::pad}) {
        RecordingCanvas key;
        drawHardKey(key, KeyLook{"sync", QStringLiteral("shift"), true, true, style, keyMetrics(style).size, false, 0.965});
        EXPECT_EQ(key.texts(), (QStringList{"SYNC", "SHIFT"}));
        const auto texts = key.of(Kind::text);
        EXPECT_EQ(texts[0].color, style == KeyStyle::key ? withAlpha(Palette::bone(), 0.8) : Palette::paper());
        bool lampDot = false;
        for (const auto& f : key.of(Kind::fill))
            lampDot |= f.brush.color() == Palette::ember() && f.path.boundingRect().width() == 3.5;
        EXPECT_EQ(lampDot, style == KeyStyle::key);
        EXPECT_EQ(key.of(Kind::scale).front().offset, QPointF(0.965, 0.965));
    }

    // Glass: scan lines every 2 points while y < H, 0.5 thick.
    RecordingCanvas glass;
    drawGlassOverlay(glass, QSizeF(30, 5));
    const auto lines = glass.of(Kind::rects).front().rects;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], QRectF(0, 4, 30, 0.5));
}

TEST(KeyMathTest, LampsAndBlinkPhases)
{
    EXPECT_TRUE(KeyMath::lampOn(true, false, 0.5));
    EXPECT_FALSE(KeyMath::lampOn(false, true, 0.0));
    EXPECT_TRUE(KeyMath::lampOn(true, true, 0.0));
    EXPECT_FALSE(KeyMath::lampOn(true, true, 0.34));
    EXPECT_TRUE(KeyMath::lampOn(true, true, 0.67));
    // Seconds since 2001 times three pass 2^31: the phase must still alternate.
    const double late = 820000000.0; // 2026
    EXPECT_TRUE(KeyMath::lampOn(true, true, late));
    EXPECT_FALSE(KeyMath::lampOn(true, true, late + 0.34));
    EXPECT_TRUE(KeyMath::lampOn(true, true, nan)); // counts as time 0
    EXPECT_TRUE(KeyMath::lampOn(true, true, -inf));
    EXPECT_EQ(keyRadius(KeyStyle::transport, 70), 35);
    EXPECT_EQ(keyMetrics(KeyStyle::wide).size, QSizeF(90, 30));
}

TEST(DotMatrixTest, GlyphTableAndNormalisation)
{
    EXPECT_EQ(DotMatrix::glyphs().size(), 68u);
    // The ellipsis of a shortened read-out: three dots on the baseline, and
    // no normalisation turns it into three full stops.
    EXPECT_EQ(DotMatrix::glyphFor(QString(QChar(0x2026))), (DotMatrix::Glyph{0, 0, 0, 0, 0, 0, 0x15}));
    EXPECT_EQ(DotMatrix::normalize(QString(QChar(0x2026))), QString(QChar(0x2026)));
    EXPECT_EQ(DotMatrix::glyphFor("A"), (DotMatrix::Glyph{0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}));
    EXPECT_EQ(DotMatrix::glyphFor(QString(QChar(0x00BD))), (DotMatrix::Glyph{0x12, 0x14, 0x08, 0x16, 0x01, 0x02, 0x07}));
    EXPECT_EQ(DotMatrix::glyphFor("a"), DotMatrix::glyphFor(" "));
    EXPECT_EQ(DotMatrix::glyphFor(QString::fromUtf8("😀")), DotMatrix::glyphFor(" "));

    const std::pair<const char*, const char*> cases[] = {
        {"e♭ minor", "E♭ MINOR"}, {"C♯", "C#"}, {"café", "CAFE"}, {"Ñandú", "NANDU"},
        {"a ⟶ b", "A → B"},       {"", ""},     {"x😀", "X😀"},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(DotMatrix::normalize(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(DotMatrixTest, CellsMarqueeAndDrawing)
{
    EXPECT_EQ(DotMatrix::cellCount("", std::nullopt), 1);
    EXPECT_EQ(DotMatrix::cellCount("abc", 0), 1);
    EXPECT_EQ(DotMatrix::shown("ab", 4, std::nullopt), (QStringList{"A", "B", " ", " "}));

    const QString ten = "0123456789";
    struct Case {
        std::optional<double> phase;
        QString shown;
    };
    const Case cases[] = {{0.0, "0123"}, {9.0, "9   "}, {11.0, "  01"}, {13.0, "0123"}, {2.7, "2345"},
                          {-4.0, "0123"}, {nan, "0123"}, {inf, "0123"}, {1.3e12 + 2, "2345"}};
    for (const Case& c : cases)
        EXPECT_EQ(DotMatrix::shown(ten, 4, c.phase).join(""), c.shown) << *c.phase;
    EXPECT_EQ(DotMatrix::shown("FIT", 4, 7.0).join(""), "FIT "); // fits: no scrolling

    DotMatrix::Look look{"", 2, std::nullopt, Palette::glow(), false, false, {}};
    EXPECT_EQ(DotMatrix::size(look), QSizeF(10, 14));
    auto sets = DotMatrix::dots(look);
    EXPECT_EQ(sets.unlit.size(), 35u);
    EXPECT_TRUE(sets.lit.empty());

    look = DotMatrix::Look{"I", 2, 3, Palette::glow(), true, true, {}};
    EXPECT_EQ(DotMatrix::size(look), QSizeF(34, 14));
    sets = DotMatrix::dots(look);
    // "I": 3 + 1 × 5 + 3 dots lit; the rest of its cell and two blank cells unlit.
    EXPECT_EQ(sets.lit.size(), 11u);
    EXPECT_EQ(sets.unlit.size(), 105u - 11u);
    EXPECT_EQ(sets.lit.front(), QRectF(2, 0, 1.48, 1.48));
    EXPECT_EQ(sets.halo.front(), QRectF(1.4, -0.6, 2.68, 2.68));

    RecordingCanvas canvas;
    DotMatrix::draw(canvas, look);
    const auto fills = canvas.of(RecordingCanvas::Kind::rects);
    ASSERT_EQ(fills.size(), 5u);
    EXPECT_NEAR(fills[0].color.alphaF(), 0.055, 0.003); // unlit dots are not dimmed
    EXPECT_EQ(fills[1].color.rgb(), Palette::red().rgb());
    EXPECT_NEAR(fills[1].color.alphaF(), 0.45 * 0.32, 0.003);
    EXPECT_EQ(fills[1].rects.front(), sets.lit.front().translated(-0.9, 0));
    EXPECT_NEAR(fills[2].color.alphaF(), 0.45 * 0.28, 0.003);
    EXPECT_NEAR(fills[3].color.alphaF(), 0.45 * 0.10, 0.003);
    EXPECT_NEAR(fills[4].color.alphaF(), 0.45 * 0.95, 0.003);
}

TEST(SevenSegmentTest, CellsAdvancesAndOutlines)
{
    using SevenSegment::Cell;
    EXPECT_EQ(SevenSegment::cells("12.5"),
              (std::vector<Cell>{{0x06, false, false, false}, {0x5B, false, false, false}, {0, true, true, false},
                                 {0x6D, false, false, false}}));
    EXPECT_NEAR(SevenSegment::width("12.5", 40), 3 * 0.66 * 40 + 0.18 * 40, 1e-9);
    EXPECT_EQ(SevenSegment::cells("12:34")[2], (Cell{0, true, false, true}));
    for (const char* blank : {"a", "B", "x", "😀"})
        EXPECT_EQ(SevenSegment::cells(QString::fromUtf8(blank)), (std::vector<Cell>{{0, false, false, false}})) << blank;
    for (const char* lit : {"b", "d", "r", "o", "n", "t"})
        EXPECT_NE(SevenSegment::cells(lit).front().mask, 0) << lit;

    const auto segs = SevenSegment::segments(QPointF(10, 5), 52, 100);
    // a: at height half = 5, shifted by s(5) = 5.7, inset 6.
    EXPECT_NEAR(segs[0][0].x(), 10 + 6 + 5.7, 1e-9);
    EXPECT_NEAR(segs[0][0].y(), 10, 1e-9);
    // c ends at the bottom without slant: centre line x0 + w − half.
    EXPECT_NEAR(segs[2][3].x(), 10 + 52 - 5, 1e-9);
    EXPECT_NEAR(segs[2][3].y(), 5 + 94, 1e-9);
    // b starts at the top shifted by 0.06 h.
    EXPECT_NEAR(segs[1][0].x(), 10 + 52 - 5 + 6, 1e-9);

    RecordingCanvas canvas;
    SevenSegment::draw(canvas, SevenSegment::Look{"8.", 40, Palette::ember(), true});
    const auto fills = canvas.of(RecordingCanvas::Kind::fill);
    ASSERT_EQ(fills.size(), 5u); // no unlit segments: fringes, two blooms, lit
    EXPECT_EQ(fills.back().brush.color(), Palette::ember());
    EXPECT_NEAR(fills[2].path.boundingRect().left() - fills[4].path.boundingRect().left(), -1.4, 1e-9);
}

TEST(TexturesTest, SplitMixSequenceAndSpeckles)
{
    SplitMix64 rng(0);
    EXPECT_EQ(rng.nextBits(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(rng.nextBits(), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(rng.nextBits(), 0x06C45D188009454Full);
    SplitMix64 unit(0x5EED);
    for (int i = 0; i < 1000; ++i) {
        const double d = unit.next();
        ASSERT_TRUE(d >= 0 && d < 1);
    }
    const std::pair<QSizeF, long long> plates[] = {
        {QSizeF(700, 20), 100}, {QSizeF(10, 13), 0}, {QSizeF(0, 0), 0}, {QSizeF(-5, 40), 0}};
    for (auto [size, speckles] : plates) {
        RecordingCanvas canvas;
        EXPECT_EQ(Textures::drawFaceplate(canvas, size), speckles);
        size_t drawn = 0;
        for (const auto& op : canvas.of(RecordingCanvas::Kind::rects))
            drawn += op.rects.size();
        EXPECT_EQ(drawn, size_t(speckles));
    }
}

TEST(DropSplitTest, AdaptersAreInstalledAndTheRestGoesToTheAction)
{
    const QUrl a("file:///m/a.wav"), b("file:///m/b.mp3"), lora("file:///m/warm.safetensors");
    const auto isAdapter = [&](const QUrl& u) { return u == lora; };
    struct Case {
        QList<QUrl> dropped;
        bool actionAnswer;
        QList<QUrl> installed;
        std::optional<QList<QUrl>> actionGot;
        bool accepted;
    };
    const Case cases[] = {
        {{a, lora, b}, true, {lora}, QList<QUrl>{a, b}, true},
        {{a, lora, b}, false, {lora}, QList<QUrl>{a, b}, false},
        {{lora}, false, {lora}, std::nullopt, true},
        {{lora, lora}, false, {lora, lora}, std::nullopt, true},
        {{b, a}, true, {}, QList<QUrl>{b, a}, true},
        {{}, true, {}, std::nullopt, false},
    };
    for (const Case& c : cases) {
        std::optional<QList<QUrl>> installed, got;
        const bool accepted = answerDrop(
            splitDrop(c.dropped, isAdapter), [&](const QList<QUrl>& l) { installed = l; },
            [&](const QList<QUrl>& l) {
                got = l;
                return c.actionAnswer;
            });
        ASSERT_TRUE(installed.has_value()); // also called with an empty list
        EXPECT_EQ(*installed, c.installed);
        EXPECT_EQ(got, c.actionGot);
        EXPECT_EQ(accepted, c.accepted);
    }
    EXPECT_FALSE(isAdapterUrl(QUrl("https://example.invalid/x.safetensors")));
}

TEST(ThemeTest, ScrewSlotsColoursAndLettering)
{
    for (double angle : {0.0, 90.0, 33.0, 215.0}) {
        const QPolygonF slot = ScrewMath::slot(20, angle);
        for (const QPointF& p : slot)
            EXPECT_LE(std::hypot(p.x() - 10, p.y() - 10), 10.0) << angle;
    }
    const QRectF flat = ScrewMath::slot(20, 0).boundingRect();
    EXPECT_NEAR(flat.width(), 14.4, 1e-9);
    EXPECT_NEAR(flat.height(), 2.8, 1e-9);
    const QRectF upright = ScrewMath::slot(20, 90).boundingRect();
    EXPECT_NEAR(upright.width(), 2.8, 1e-9);
    EXPECT_NEAR(upright.height(), 14.4, 1e-9);

    EXPECT_EQ(Palette::glass(), Palette::railDeep());
    EXPECT_EQ(Palette::ember(), QColor(255, 122, 24));
    EXPECT_EQ(Stage::cgEmber(), Stage::signal());
    EXPECT_EQ(Stage::rbAmber(), QColor(255, 159, 46));
    EXPECT_EQ(mixOKLab(Palette::red(), Palette::bone(), 0).rgb(), Palette::red().rgb());
    EXPECT_EQ(mixOKLab(Palette::red(), Palette::bone(), 1).rgb(), Palette::bone().rgb());
    const QColor mid = mixOKLab(Palette::red(), Palette::bone(), 0.4);
    EXPECT_GT(mid.green(), Palette::red().green());
    EXPECT_LT(mid.green(), Palette::bone().green());

    EXPECT_EQ(silkText("deck one", 9, Palette::bone(), 1.1).text, "DECK ONE");
    const TextLine shortLine = silkText("a", 9, Palette::bone(), 1.1), longLine = silkText("a much longer label", 9, Palette::bone(), 1.1);
    EXPECT_GT(longLine.size().width(), 5 * shortLine.size().width());
    EXPECT_EQ(longLine.size().height(), shortLine.size().height());
    EXPECT_NEAR(stageText("tempo", 10, Stage::ash()).font.letterSpacing(), 2.6, 0.02);
    EXPECT_DOUBLE_EQ(faceScaleForWindow(QSizeF(800, 1080)), 0.5);
    EXPECT_DOUBLE_EQ(faceScaleForWindow(QSizeF(3200, 1080)), 1.0);
    EXPECT_DOUBLE_EQ(faceScaleForWindow(QSizeF(0, 0)), 1.0);
    EXPECT_DOUBLE_EQ(snapshotFaceScale(800), 0.5);
    EXPECT_DOUBLE_EQ(snapshotFaceScale(3200), 1.0);
}

} // namespace
} // namespace zelvo::kit
