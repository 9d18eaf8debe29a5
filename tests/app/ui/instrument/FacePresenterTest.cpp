// The faceplate frame's pure parts: the header's read-outs, where the frame
// puts each module per controller layout, the zoom keys' steps and the
// aberration's copies.
#include "ui/instrument/FaceLayout.h"
#include "ui/instrument/HeaderStrip.h"
#include "ui/instrument/ZoomKeys.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/stage/Aberration.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

namespace zelvo {
namespace {

using HeaderFace::Inputs;
using HeaderFace::Output;
using HeaderFace::Readout;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

QStringList textsOf(const std::vector<Readout>& readouts)
{
    QStringList texts;
    for (const Readout& r : readouts)
        texts << r.text;
    return texts;
}

TEST(FacePresenter, HeaderReadoutsWithAndWithoutOutputOrError)
{
    const QDateTime now(QDate(2026, 12, 6), QTime(9, 5, 59), Qt::LocalTime);
    const Output usb{QStringLiteral("DDJ-FLX4"), QStringLiteral("USB"), 44100, 0.0053, 0.25};
    struct Case {
        const char* what;
        Inputs in;
        QStringList texts;
        QColor dsp;
    };
    const QColor bone = kit::Palette::bone(), red = kit::Palette::red();
    const Case cases[] = {
        {"nothing open", {std::nullopt, std::nullopt, 512},
         {"NO DEVICE", "48.0KHZ", "BUF 512", "0.0MS", "DSP 00%", "09:05"}, bone},
        {"an open output", {std::nullopt, usb, 256},
         {"DDJ-FLX4 USB", "44.1KHZ", "BUF 256", "5.3MS", "DSP 25%", "09:05"}, bone},
        // An audio error takes the device's place; the output's values stay.
        {"an error over an output", {QStringLiteral("OUTPUT LOST"), usb, 256},
         {"OUTPUT LOST", "44.1KHZ", "BUF 256", "5.3MS", "DSP 25%", "09:05"}, bone},
        {"an error without output", {QStringLiteral("OPEN FAILED"), std::nullopt, 128},
         {"OPEN FAILED", "48.0KHZ", "BUF 128", "0.0MS", "DSP 00%", "09:05"}, bone},
        // 70 % is not above 70; 70.04 % reads the same digits but is.
        {"load at 70 %", {std::nullopt, Output{"A", "VIRT", 48000, 0, 0.7}, 256},
         {"A VIRT", "48.0KHZ", "BUF 256", "0.0MS", "DSP 70%", "09:05"}, bone},
        {"load just above 70 %", {std::nullopt, Output{"A", "VIRT", 48000, 0, 0.7004}, 256},
         {"A VIRT", "48.0KHZ", "BUF 256", "0.0MS", "DSP 70%", "09:05"}, red},
        {"overload", {std::nullopt, Output{"A", "VIRT", 96000, 0.0101, 1.2}, 64},
         {"A VIRT", "96.0KHZ", "BUF 64", "10.1MS", "DSP 120%", "09:05"}, red},
        // A reading that is no number shows 0 rather than "nan" or "inf".
        {"unreadable values", {std::nullopt, Output{"A", "VIRT", kNaN, kInf, kNaN}, 256},
         {"A VIRT", "0.0KHZ", "BUF 256", "0.0MS", "DSP 00%", "09:05"}, bone},
    };
    for (const Case& c : cases) {
        const std::vector<Readout> r = HeaderFace::readouts(c.in, now);
        ASSERT_EQ(r.size(), 6u) << c.what;
        EXPECT_EQ(textsOf(r), c.texts) << c.what;
        EXPECT_EQ(r[4].colour, c.dsp) << c.what;
        EXPECT_EQ(HeaderFace::deviceName(c.in), c.texts[0]) << c.what;
    }
    // Columns and the look of each read-out: the device and the clock glow,
    // the clock dimmed; the rest in bone.
    const std::vector<Readout> r = HeaderFace::readouts({}, now);
    const int columns[] = {22, 7, 8, 6, 7, 5};
    for (std::size_t i = 0; i < r.size(); ++i)
        EXPECT_EQ(r[i].columns, columns[i]) << i;
    EXPECT_EQ(r[0].colour, kit::Palette::glow());
    EXPECT_EQ(r[5].colour, kit::Palette::glow());
    EXPECT_TRUE(r[5].dim);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_FALSE(r[i].dim) << i;
}

TEST(FacePresenter, TheClockShowsTheSchedulersTimeInTheUsersZone)
{
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", "IST-5:30");
    tzset();
    // 23:38 UTC is 05:08 the next morning, 24-hour and zero-padded.
    const QDateTime utc(QDate(2026, 12, 6), QTime(23, 38, 40), Qt::UTC);
    EXPECT_EQ(HeaderFace::readouts({}, utc)[5].text, QStringLiteral("05:08"));
    if (saved.isEmpty())
        qunsetenv("TZ");
    else
        qputenv("TZ", saved);
    tzset();
}

TEST(FacePresenter, CaptionNamesTheLayout)
{
    EXPECT_EQ(HeaderFace::layoutLine(false), QStringLiteral("dual performance deck"));
    EXPECT_EQ(HeaderFace::layoutLine(true), QStringLiteral("four deck performance system"));
}

FaceLayout::Input inputFor(QSizeF design, bool four, int left, int right)
{
    FaceLayout::Input in;
    in.design = design;
    in.fourDecks = four;
    in.leftDeck = left;
    in.rightDeck = right;
    in.phaseLabel = QSizeF(30, 9);
    in.zoomKeys = QSizeF(44, 43);
    in.tabs = QSizeF(119, 16);
    in.deckHeight = 546;
    in.mixerHeight = 500;
    in.mixerWidth = four ? 560 : 448;
    in.performWidth = 340;
    in.brainWidth = 560;
    return in;
}

TEST(FacePresenter, InstrumentRowsPerLayout)
{
    struct Case {
        const char* what;
        FaceLayout::Input in;
        int leftDeck, rightDeck;
        QRectF left, mixer, right;
        std::optional<QRectF> leftTabs, rightTabs;
        QRectF browser;
    };
    const Case cases[] = {
        // Two decks always show decks 1 and 2, whatever the halves drive.
        {"flx4", inputFor({1600, 1080}, false, 2, 3), 0, 1, {40, 248, 526, 546}, {576, 248, 448, 546},
         {1034, 248, 526, 546}, std::nullopt, std::nullopt, {40, 804, 600, 264}},
        {"flx10", inputFor({1600, 1080}, true, 2, 1), 2, 1, {40, 248, 470, 546}, {520, 248, 560, 546},
         {1090, 248, 470, 546}, QRectF(377, 240, 119, 16), QRectF(1427, 240, 119, 16), {40, 804, 600, 264}},
        // A wider and taller window widens the decks and the browser and
        // deepens the module row; the deck row keeps its height.
        {"flx4 wide", inputFor({2000, 1200}, false, 0, 1), 0, 1, {40, 248, 726, 546}, {776, 248, 448, 546},
         {1234, 248, 726, 546}, std::nullopt, std::nullopt, {40, 804, 1000, 384}},
        // A deck outside 0…3 falls back to the half's first deck.
        {"flx10 bad decks", inputFor({1600, 1080}, true, 7, -1), 0, 1, {40, 248, 470, 546}, {520, 248, 560, 546},
         {1090, 248, 470, 546}, QRectF(377, 240, 119, 16), QRectF(1427, 240, 119, 16), {40, 804, 600, 264}},
        // A mixer taller than the decks sets the row's height; the decks keep theirs.
        {"tall mixer", [] {
             FaceLayout::Input in = inputFor({1600, 1080}, false, 0, 1);
             in.mixerHeight = 560;
             return in;
         }(),
         0, 1, {40, 248, 526, 546}, {576, 248, 448, 560}, {1034, 248, 526, 546}, std::nullopt, std::nullopt,
         {40, 818, 600, 250}},
    };
    for (const Case& c : cases) {
        const FaceLayout::Rows r = FaceLayout::rows(c.in);
        const double w = c.in.design.width(), h = c.in.design.height();
        EXPECT_EQ(r.leftCheek, QRectF(0, 0, 26, h)) << c.what;
        EXPECT_EQ(r.rightCheek, QRectF(w - 26, 0, 26, h)) << c.what;
        EXPECT_EQ(r.plate, QRectF(26, 0, w - 52, h)) << c.what;
        EXPECT_EQ(r.header, QRectF(40, 38, w - 80, 34)) << c.what;
        // The waveforms take the width the 44-point phase column leaves.
        EXPECT_EQ(r.waves, QRectF(40, 82, w - 80 - 44 - 8, 156)) << c.what;
        EXPECT_EQ(r.phaseLabel, QRectF(w - 40 - 44 + 7, 82, 30, 9)) << c.what;
        EXPECT_EQ(r.phase, QRectF(w - 40 - 44, 95, 44, 156 - 9 - 43 - 8)) << c.what;
        EXPECT_EQ(r.zoom, QRectF(w - 40 - 44, 82 + 156 - 43, 44, 43)) << c.what;
        EXPECT_EQ(r.leftDeck, c.leftDeck) << c.what;
        EXPECT_EQ(r.rightDeck, c.rightDeck) << c.what;
        EXPECT_EQ(r.left, c.left) << c.what;
        EXPECT_EQ(r.mixer, c.mixer) << c.what;
        EXPECT_EQ(r.right, c.right) << c.what;
        EXPECT_EQ(r.leftTabs, c.leftTabs) << c.what;
        EXPECT_EQ(r.rightTabs, c.rightTabs) << c.what;
        EXPECT_EQ(r.browser, c.browser) << c.what;
        EXPECT_EQ(r.perform, QRectF(c.browser.right() + 10, c.browser.top(), 340, c.browser.height())) << c.what;
        EXPECT_EQ(r.brain, QRectF(c.browser.right() + 360, c.browser.top(), 560, c.browser.height())) << c.what;
        // The column ends 14 inside the right cheek and 12 above the bottom.
        EXPECT_EQ(r.brain.right(), w - 40) << c.what;
        EXPECT_EQ(r.brain.bottom(), h - 12) << c.what;
        EXPECT_EQ(r.screws[0], QRectF(32, 6, 9, 9)) << c.what;
        EXPECT_EQ(r.screws[1], QRectF(w - 41, 6, 9, 9)) << c.what;
        EXPECT_EQ(r.screws[2], QRectF(32, h - 15, 9, 9)) << c.what;
        EXPECT_EQ(r.screws[3], QRectF(w - 41, h - 15, 9, 9)) << c.what;
    }
}

TEST(FacePresenter, DeckStackPutsTheJogRowOverTheKeyRow)
{
    // The deck's own parts at their sizes: header 60, overview 34, loop row
    // 26 + 11, wheel 218, transport keys 54 × 144, pads 247 × 105.
    const FaceLayout::DeckParts parts;
    struct Case {
        const char* what;
        FaceLayout::DeckParts parts;
        double width;
        QRectF jog, transport, pads, tempo;
        double height;
    };
    FaceLayout::DeckParts tallTempo = parts;
    tallTempo.tempo = QSizeF(58, 400);
    const Case cases[] = {
        // 11 + 60 + 7 + 34 + 7 + 37 + 7 = 163 to the performance row, whose
        // left column is 218 + 10 + 144 high: 163 + 372 + 11 = 546.
        {"two-deck width", parts, 526, {120, 163, 218, 218}, {11, 391, 54, 144}, {200, 430, 247, 105},
         {457, 163, 58, 318}, 546},
        {"four-deck width", parts, 470, {92, 163, 218, 218}, {11, 391, 54, 144}, {144, 430, 247, 105},
         {401, 163, 58, 318}, 546},
        // Too narrow: the spacer gives way, the pads keep 12 from the keys.
        {"narrow", parts, 300, {7, 163, 218, 218}, {11, 391, 54, 144}, {77, 430, 247, 105}, {231, 163, 58, 318},
         546},
        // A tempo strip taller than the left column sets the row's height.
        {"tall tempo strip", tallTempo, 526, {120, 163, 218, 218}, {11, 391, 54, 144}, {200, 430, 247, 105},
         {457, 163, 58, 400}, 574},
    };
    for (const Case& c : cases) {
        const FaceLayout::DeckPlan plan = FaceLayout::deck(c.parts, c.width);
        const double inner = c.width - 22;
        EXPECT_EQ(plan.header, QRectF(11, 11, inner, 60)) << c.what;
        EXPECT_EQ(plan.overview, QRectF(11, 78, inner, 34)) << c.what;
        EXPECT_EQ(plan.loops, QRectF(11, 119, inner, 37)) << c.what;
        EXPECT_EQ(plan.jog, c.jog) << c.what;
        EXPECT_EQ(plan.transport, c.transport) << c.what;
        EXPECT_EQ(plan.pads, c.pads) << c.what;
        EXPECT_EQ(plan.tempo, c.tempo) << c.what;
        EXPECT_EQ(plan.height, c.height) << c.what;
        // The key row stands 10 under the wheel, its two sides on one baseline.
        EXPECT_EQ(plan.transport.top(), plan.jog.bottom() + 10) << c.what;
        EXPECT_EQ(plan.transport.bottom(), plan.pads.bottom()) << c.what;
    }
    // The mixer's panel: 9 + rows + the spacer's two gaps + crossfader + 9.
    EXPECT_EQ(FaceLayout::mixerHeight(400, 50, 7), 9 + 400 + 14 + 50 + 9);
    EXPECT_EQ(FaceLayout::mixerHeight(420, 50, 6), 9 + 420 + 12 + 50 + 9);
}

TEST(FacePresenter, ZoomKeysStepWithinTheirLimits)
{
    struct Case {
        double from, in, out;
    };
    const Case cases[] = {
        {1.0, 1.5, 1.0 / 1.5},
        {5.0, 6.0, 5.0 / 1.5},  // not 7.5
        {6.0, 6.0, 4.0},        // "+" at the top changes nothing
        {0.4, 0.6, 0.3},        // not 0.267
        {0.3, 0.45, 0.3},       // "−" at the bottom changes nothing
        {9.0, 6.0, 6.0},        // a zoom beyond the range comes back into it
        {0.1, 0.15000000000000002, 0.3},
        // A zoom that is no usable number counts as 1, so the keys recover it.
        {kNaN, 1.5, 1.0 / 1.5},
        {kInf, 1.5, 1.0 / 1.5},
        {0.0, 1.5, 1.0 / 1.5},
        {-2.0, 1.5, 1.0 / 1.5},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(Zoom::in(c.from), c.in) << c.from;
        EXPECT_DOUBLE_EQ(Zoom::out(c.from), c.out) << c.from;
    }
}

TEST(FacePresenter, AberrationCopiesAreRedLeftCyanRightAndVanishAtOpacityZero)
{
    using Kind = kit::RecordingCanvas::Kind;
    const QRectF rect(20, 10, 10, 10);
    const auto white = [](QPainter& painter, QSizeF size) { painter.fillRect(QRectF(QPointF(), size), Qt::white); };

    stage::Aberration plain;
    kit::RecordingCanvas canvas;
    plain.paint(canvas, rect, 1, 0, 1, 1.0, white);
    // Only the content: no screened layer.
    ASSERT_EQ(canvas.of(Kind::image).size(), 1u);
    EXPECT_EQ(canvas.of(Kind::image)[0].rect, rect);
    EXPECT_TRUE(canvas.of(Kind::blend).empty());

    stage::Aberration lit;
    kit::RecordingCanvas litCanvas;
    lit.paint(litCanvas, rect, 1, 0.7, 1, 1.0, white);
    const auto images = litCanvas.of(Kind::image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].rect, rect.adjusted(-1, 0, 1, 0));
    EXPECT_EQ(images[1].rect, rect);
    ASSERT_EQ(litCanvas.of(Kind::blend).size(), 1u);
    EXPECT_EQ(litCanvas.of(Kind::blend)[0].flags, int(QPainter::CompositionMode_Screen));
    // The layer's leftmost column is the red copy alone, its rightmost the
    // cyan one, both in the faceplate palette at opacity 0.7.
    const QImage& layer = lit.ghosts().layer();
    ASSERT_EQ(layer.width(), 12);
    const QColor left = layer.pixelColor(0, 5), right = layer.pixelColor(11, 5);
    const auto nearRgb = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
               std::abs(a.blue() - b.blue()) <= 2;
    };
    EXPECT_TRUE(nearRgb(left, kit::Palette::red())) << left.name().toStdString();
    EXPECT_TRUE(nearRgb(right, kit::Palette::cyan())) << right.name().toStdString();
    EXPECT_NEAR(left.alpha(), 178, 2);
    EXPECT_NEAR(right.alpha(), 178, 2);
}

} // namespace
} // namespace zelvo
