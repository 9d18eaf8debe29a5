// The kit's widgets under the offscreen platform: gestures, presses, drops,
// the VFD field, scale handling, pixel checks, textures and the gallery.
#include "KitTestSupport.h"

#include "ui/kit/AudioDrop.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Displays.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/Palette.h"
#include "ui/kit/StageControls.h"
#include "ui/kit/Textures.h"
#include "ui/kit/VFDField.h"
#include "ui/kit/gallery/Gallery.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::kit {
namespace {

using test::KitRig;

// Mouse events sent straight to a widget, at widget coordinates, with modifiers.
void send(QWidget* w, QEvent::Type type, QPointF pos, Qt::KeyboardModifiers mods = Qt::NoModifier,
          Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent e(type, pos, w->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : button, held, mods);
    QApplication::sendEvent(w, &e);
}

struct Value {
    double v;
    Binding<double> bind()
    {
        return {[this] { return v; }, [this](double x) { v = x; }};
    }
};

TEST(KitWidgetTest, KnobDragsFineDragsAndResetsAtEveryScale)
{
    for (double scale : {0.5, 1.0, 2.0}) {
        KitRig rig(scale);
        Value value{0};
        Knob knob(rig.env(), value.bind(), Range{0, 1}, false, std::nullopt, 40, std::nullopt, 11);
        EXPECT_EQ(knob.size(), QSize(int(std::ceil(52 * scale)), int(std::ceil(52 * scale)))) << scale;
        const QPointF c(26 * scale, 26 * scale);
        // A drag covers the range in 160 points, whatever the scale.
        send(&knob, QEvent::MouseButtonPress, c);
        send(&knob, QEvent::MouseMove, c + QPointF(0, -0.4 * scale)); // under the minimum distance
        EXPECT_EQ(value.v, 0);
        send(&knob, QEvent::MouseMove, c + QPointF(30 * scale, -80 * scale));
        EXPECT_DOUBLE_EQ(value.v, 0.5) << scale;
        send(&knob, QEvent::MouseMove, c + QPointF(0, -400 * scale));
        EXPECT_DOUBLE_EQ(value.v, 1);
        send(&knob, QEvent::MouseButtonRelease, c);
        // With Alt a new drag moves a fifth as far, from the value at its start.
        value.v = 0.5;
        send(&knob, QEvent::MouseButtonPress, c);
        send(&knob, QEvent::MouseMove, c + QPointF(0, 80 * scale), Qt::AltModifier);
        EXPECT_DOUBLE_EQ(value.v, 0.4) << scale;
        send(&knob, QEvent::MouseButtonRelease, c);
        // Double click resets; a press in the frame's corner misses the round hit shape.
        send(&knob, QEvent::MouseButtonDblClick, c);
        EXPECT_EQ(value.v, 0);
        send(&knob, QEvent::MouseButtonPress, QPointF(1, 1));
        send(&knob, QEvent::MouseMove, QPointF(1, -200));
        EXPECT_EQ(value.v, 0);
        EXPECT_FALSE(knob.hitTest(knob.toDesign(QPointF(1, 1))));
        EXPECT_TRUE(knob.hitTest(knob.toDesign(c)));
    }
}

TEST(KitWidgetTest, FaderDragsWithDetentInversionAndWithoutTravel)
{
    KitRig rig(2.0);
    Value value{0.4};
    Fader fader(rig.env(), value.bind(), Range{0, 1}, true, 120, 9, true, true, std::nullopt, 28);
    EXPECT_EQ(fader.size(), QSize(88, 240));
    send(&fader, QEvent::MouseButtonPress, QPointF(40, 100));
    send(&fader, QEvent::MouseMove, QPointF(40, 100 - 2 * 9)); // inverted: up raises, into the detent
    EXPECT_DOUBLE_EQ(value.v, 0.5);
    send(&fader, QEvent::MouseMove, QPointF(40, 100 - 2 * 50), Qt::AltModifier);
    EXPECT_DOUBLE_EQ(value.v, 0.4 + 0.125);
    send(&fader, QEvent::MouseButtonRelease, QPointF(40, 0));
    send(&fader, QEvent::MouseButtonDblClick, QPointF(40, 0));
    EXPECT_DOUBLE_EQ(value.v, 0.5);

    // A fader too short to travel ignores drags rather than writing NaN.
    Value stuck{0.3};
    Fader tiny(rig.env(), stuck.bind(), Range{0, 1}, false, 20, 3, false, false, std::nullopt, 20);
    send(&tiny, QEvent::MouseButtonPress, QPointF(10, 10));
    send(&tiny, QEvent::MouseMove, QPointF(30, 10));
    EXPECT_EQ(stuck.v, 0.3);
}

TEST(KitWidgetTest, KeysPressAndReleaseOnceEvenWhenCutShort)
{
    KitRig rig;
    int presses = 0, releases = 0;
    const auto make = [&] {
        return std::make_unique<HardKey>(rig.env(), "cue", std::nullopt, false, false, KeyStyle::transport,
                                         std::nullopt, std::nullopt, false, [&] { ++presses; }, [&] { ++releases; });
    };
    auto key = make();
    key->show();
    send(key.get(), QEvent::MouseButtonPress, QPointF(30, 30));
    for (int i = 0; i < 5; ++i)
        send(key.get(), QEvent::MouseMove, QPointF(30 + 20 * i, 30));
    EXPECT_TRUE(key->pressed());
    send(key.get(), QEvent::MouseButtonRelease, QPointF(120, 30));
    EXPECT_EQ(std::make_pair(presses, releases), std::make_pair(1, 1));
    // A double click's second press arrives as a double-click event.
    send(key.get(), QEvent::MouseButtonPress, QPointF(30, 30));
    send(key.get(), QEvent::MouseButtonRelease, QPointF(30, 30));
    send(key.get(), QEvent::MouseButtonDblClick, QPointF(30, 30));
    send(key.get(), QEvent::MouseButtonRelease, QPointF(30, 30));
    EXPECT_EQ(std::make_pair(presses, releases), std::make_pair(3, 3));

    // Cut short by hiding, disabling, a lost grab, or the key going away.
    send(key.get(), QEvent::MouseButtonPress, QPointF(30, 30));
    key->hide();
    EXPECT_EQ(releases, 4);
    key->show();
    send(key.get(), QEvent::MouseButtonPress, QPointF(30, 30));
    key->setEnabled(false);
    EXPECT_EQ(releases, 5);
    key->setEnabled(true);
    send(key.get(), QEvent::MouseButtonPress, QPointF(30, 30));
    QEvent ungrab(QEvent::UngrabMouse);
    QApplication::sendEvent(key.get(), &ungrab);
    EXPECT_EQ(releases, 6);
    send(key.get(), QEvent::MouseButtonRelease, QPointF(30, 30)); // the late release is not a second one
    send(key.get(), QEvent::MouseButtonPress, QPointF(30, 30));
    key.reset();
    EXPECT_EQ(std::make_pair(presses, releases), std::make_pair(7, 7));

    Pad pad(rig.env(), "hot cue", std::nullopt, true, [&] { ++presses; });
    EXPECT_EQ(pad.designSize(), QSizeF(58, 38));
    send(&pad, QEvent::MouseButtonPress, QPointF(5, 5));
    send(&pad, QEvent::MouseButtonRelease, QPointF(5, 5)); // the default release does nothing
    EXPECT_EQ(presses, 8);
}

TEST(KitWidgetTest, SelectorsFadersAndKeysOfTheStage)
{
    KitRig rig(2.0);
    int selection = 0;
    SegmentSelector selector(rig.env(), {"a", "b", "c"}, Binding<int>{[&] { return selection; }, [&](int i) { selection = i; }}, 40);
    EXPECT_EQ(selector.designSize(), QSizeF(126, 22));
    send(selector.key(2), QEvent::MouseButtonPress, QPointF(10, 10));
    send(selector.key(2), QEvent::MouseButtonRelease, QPointF(10, 10));
    EXPECT_EQ(selection, 2);
    EXPECT_TRUE(selector.key(2)->lit());
    EXPECT_FALSE(selector.key(0)->lit());
    EXPECT_EQ(selector.key(1)->pos(), QPoint(86, 0));
    selection = 1;
    selector.refresh();
    EXPECT_TRUE(selector.key(1)->lit());
    EXPECT_FALSE(selector.key(2)->lit());

    // The stage fader jumps to the touch, at scale 2 in widget pixels.
    Value fade{0.2};
    LiveFader fader(rig.env(), fade.bind(), Range{0, 1}, 120, true, false, 0.8);
    send(&fader, QEvent::MouseButtonPress, QPointF(30, 0));
    EXPECT_DOUBLE_EQ(fade.v, 1);
    send(&fader, QEvent::MouseMove, QPointF(30, 120));
    EXPECT_DOUBLE_EQ(fade.v, 0.5);
    send(&fader, QEvent::MouseMove, QPointF(30, 900));
    EXPECT_DOUBLE_EQ(fade.v, 0);
    send(&fader, QEvent::MouseButtonRelease, QPointF(30, 900));
    send(&fader, QEvent::MouseButtonDblClick, QPointF(30, 10));
    EXPECT_DOUBLE_EQ(fade.v, 0.8);

    Value knob{0.5};
    LiveKnob live(rig.env(), knob.bind(), Range{-1, 1}, true, QStringLiteral("mid"), 34, 0, Stage::rbBlue());
    const QPointF c(live.designSize().width(), 34);
    send(&live, QEvent::MouseButtonPress, c);
    send(&live, QEvent::MouseMove, c + QPointF(0, -70 * 2), Qt::AltModifier); // no fine mode on the stage
    EXPECT_DOUBLE_EQ(knob.v, 1);
    send(&live, QEvent::MouseButtonRelease, c);
    send(&live, QEvent::MouseButtonDblClick, c);
    EXPECT_EQ(knob.v, 0);

    int clicks = 0;
    LiveKey key(rig.env(), "SYNC", false, Stage::rbBlue(), 50, 20, [&] { ++clicks; });
    send(&key, QEvent::MouseButtonPress, QPointF(10, 10));
    send(&key, QEvent::MouseButtonRelease, QPointF(10, 10));
    send(&key, QEvent::MouseButtonPress, QPointF(10, 10));
    send(&key, QEvent::MouseButtonRelease, QPointF(400, 10)); // released outside: no click
    EXPECT_EQ(clicks, 1);
}

TEST(KitWidgetTest, DroppedFilesSplitIntoAdaptersAndTheRest)
{
    QTemporaryDir dir;
    const QString adapter = dir.filePath("warm.safetensors");
    test::writeAdapterFile(adapter);
    const QUrl a = QUrl::fromLocalFile(dir.filePath("one.wav")), b = QUrl::fromLocalFile(dir.filePath("two.flac"));
    const QUrl lora = QUrl::fromLocalFile(adapter);

    KitRig rig;
    QWidget target;
    QList<QList<QUrl>> installed, acted;
    bool answer = true;
    ASSERT_NE(AudioDrop::attach(&target, rig.env(), [&](const QList<QUrl>& l) { installed << l; },
                                [&](const QList<QUrl>& l) {
                                    acted << l;
                                    return answer;
                                }),
              nullptr);
    EXPECT_TRUE(target.acceptDrops());
    const auto drop = [&](const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        // Qt delivers a drop only to the widget that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent e(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &e);
        return e.isAccepted();
    };
    EXPECT_TRUE(drop({a, lora, b}));
    EXPECT_EQ(installed.last(), QList<QUrl>{lora});
    EXPECT_EQ(acted.last(), (QList<QUrl>{a, b}));
    answer = false;
    EXPECT_FALSE(drop({b}));
    EXPECT_TRUE(installed.last().isEmpty());
    EXPECT_EQ(acted.size(), 2);
    EXPECT_TRUE(drop({lora}));
    EXPECT_EQ(acted.size(), 2); // only adapters: the action is not asked

    KitRig still(1.0, true);
    QWidget inert;
    EXPECT_EQ(AudioDrop::attach(&inert, still.env(), {}, {}), nullptr);
    EXPECT_FALSE(inert.acceptDrops());
}

TEST(KitWidgetTest, VFDFieldEditsThroughItsBindingOrShowsStillText)
{
    QString text;
    const Binding<QString> bound{[&] { return text; }, [&](QString t) { text = t; }};
    KitRig rig(2.0);
    DesignBox box(rig.env(), QSizeF(200, 30));
    auto* field = new VFDField(rig.env(), "prompt", bound, QSizeF(150, 18));
    box.place(field, QRectF(10, 6, 150, 18));
    ASSERT_NE(field->editor(), nullptr);
    EXPECT_EQ(field->editor()->placeholderText(), "prompt");
    QTest::keyClicks(field->editor(), "dub");
    EXPECT_EQ(text, "dub");
    text = "techno";
    field->refresh();
    EXPECT_EQ(field->editor()->text(), "techno");
    EXPECT_EQ(field->geometry(), QRect(20, 12, 300, 36));
    const double pointSize = field->editor()->font().pointSizeF();
    rig.runtime->faceScale().setValue(1.0);
    EXPECT_EQ(field->geometry(), QRect(10, 6, 150, 18));
    EXPECT_NEAR(field->editor()->font().pointSizeF(), pointSize / 2, 0.01);

    KitRig still(1.0, true);
    VFDField shown(still.env(), "prompt", bound, QSizeF(150, 18));
    EXPECT_EQ(shown.editor(), nullptr);
    for (auto [value, colour] : {std::pair{QString(), Palette::ash()}, {QString("house"), Palette::glow()}}) {
        text = value;
        RecordingCanvas canvas;
        shown.paintFace(canvas);
        ASSERT_EQ(canvas.texts().size(), 1);
        EXPECT_EQ(canvas.texts().front(), value.isEmpty() ? QString("prompt") : value);
        EXPECT_EQ(canvas.of(RecordingCanvas::Kind::text).front().color, colour);
    }
}

// Pixels of an image exactly in `colour`.
int pixelsOf(const QImage& image, const QColor& colour)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            n += argb.pixel(x, y) == colour.rgba() ? 1 : 0;
    return n;
}

TEST(KitWidgetTest, TheVFDGlassClipsItsContentToTheRoundedCorners)
{
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        KitRig rig(scale);
        // The glass on a face of another colour, as on the stage.
        QWidget face;
        face.setAutoFillBackground(true);
        QPalette blue = face.palette();
        blue.setColor(QPalette::Window, QColor(0, 0, 255));
        face.setPalette(blue);
        auto* glassOnFace = new VFDGlass(rig.env(), QSizeF(120, 40), 10, &face);
        VFDGlass& glass = *glassOnFace;
        auto* content = new QWidget;
        content->setAutoFillBackground(true);
        QPalette red = content->palette();
        red.setColor(QPalette::Window, QColor(255, 0, 0));
        content->setPalette(red);
        glass.placeContent(content, QRectF(0, 0, 120, 40));
        face.resize(glass.size());
        face.show();
        ASSERT_EQ(glass.size(), QSize(int(120 * scale), int(40 * scale)));
        const QImage image = face.grab().toImage();
        const auto isRed = [&](QPointF p) {
            const QColor c = test::pixelAt(image, p * scale);
            return c.alpha() > 0 && c.red() > 150 && c.green() < 80;
        };
        // The face shows at the corners; the middle and the straight edges show the content.
        for (QPointF corner : {QPointF(0.5, 0.5), QPointF(119.5, 0.5), QPointF(0.5, 39.5), QPointF(119.5, 39.5),
                               QPointF(1.5, 1.5)})
            EXPECT_EQ(test::pixelAt(image, corner * scale), QColor(0, 0, 255)) << corner.x() << "," << corner.y();
        for (QPointF inside : {QPointF(60, 20.5), QPointF(5, 20.5), QPointF(60, 3.5), QPointF(5, 5)})
            EXPECT_TRUE(isRed(inside)) << inside.x() << "," << inside.y();
    }
}

// A field bound to `text`, placed in `box` and shown as the active window.
VFDField* showBoundField(KitRig& rig, DesignBox& box, QString& text)
{
    auto* field = new VFDField(rig.env(), QString(), {[&text] { return text; }, [&text](QString t) { text = t; }},
                               QSizeF(150, 18));
    box.place(field, QRectF(10, 6, 150, 18));
    box.show();
    box.activateWindow();
    return field;
}

TEST(KitWidgetTest, TheVFDFieldsInsertionPointIsBone)
{
    KitRig rig(1.0);
    QString text;
    DesignBox box(rig.env(), QSizeF(200, 30));
    VFDField* field = showBoundField(rig, box, text);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    field->editor()->setFocus();
    ASSERT_TRUE(field->editor()->hasFocus());
    const QImage focused = field->editor()->grab().toImage();
    EXPECT_GT(pixelsOf(focused, Palette::bone()), 4);
    EXPECT_EQ(pixelsOf(focused, Palette::glow()), 0);
    // Typed text is glow; the insertion point after it stays bone.
    QTest::keyClicks(field->editor(), "ll");
    const QImage typed = field->editor()->grab().toImage();
    EXPECT_GT(pixelsOf(typed, Palette::bone()), 4);
    EXPECT_EQ(text, "ll");
    // Without the focus there is none.
    box.setFocus();
    field->editor()->clearFocus();
    EXPECT_EQ(pixelsOf(field->editor()->grab().toImage(), Palette::bone()), 0);
}

TEST(KitWidgetTest, AFieldNobodyEditsShowsTheStartOfItsText)
{
    KitRig rig(1.0);
    QString text = QStringLiteral("deep rolling techno, warehouse reverb, club sound system, driving drums and bass.");
    DesignBox box(rig.env(), QSizeF(200, 30));
    VFDField* field = showBoundField(rig, box, text);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    QLineEdit* edit = field->editor();
    // Where the text's first character stands: at the field's left edge when its start shows.
    const auto startShown = [edit] {
        return edit->cursorPosition() == 0 && edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x() < 10;
    };
    EXPECT_TRUE(startShown()) << "as built";
    text = QStringLiteral("minimal dub techno with long chords, tape hiss and a slow, rolling sub-bass line.");
    field->refresh();
    EXPECT_TRUE(startShown()) << "after the model changed it";

    // While edited the insertion point goes where the typing is; leaving the field shows the start again.
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, " more");
    EXPECT_TRUE(text.endsWith(QStringLiteral(" more")));
    EXPECT_EQ(edit->cursorPosition(), text.size());
    box.setFocus();
    edit->clearFocus();
    EXPECT_TRUE(startShown()) << "after editing";
}

TEST(KitWidgetTest, ScaleChangesResizeAndReplace)
{
    KitRig rig(1.0);
    DesignBox box(rig.env(), QSizeF(300, 100));
    Value v{0};
    auto* knob = new Knob(rig.env(), v.bind(), Range{0, 1}, false, std::nullopt, 40, std::nullopt, 11);
    box.place(knob, QRectF(100, 20, 52, 52));
    EXPECT_EQ(knob->geometry(), QRect(100, 20, 52, 52));
    for (double scale : {0.5, 2.0}) {
        rig.runtime->faceScale().setValue(scale);
        EXPECT_EQ(box.size(), QSize(int(300 * scale), int(100 * scale)));
        EXPECT_EQ(knob->geometry(), QRect(int(100 * scale), int(20 * scale), int(52 * scale), int(52 * scale)));
        EXPECT_EQ(knob->toDesign(QPointF(26 * scale, 26 * scale)), QPointF(26, 26));
    }
}

// Renders a widget over black at `scale` device pixels per widget pixel.
QImage renderOverBlack(QWidget& w, double dpr = 1.0)
{
    QImage image(w.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QColor over(const QColor& top, double alpha, const QColor& under)
{
    const auto mix = [&](int t, int u) { return int(std::lround(t * alpha + u * (1 - alpha))); };
    return QColor(mix(top.red(), under.red()), mix(top.green(), under.green()), mix(top.blue(), under.blue()));
}

TEST(KitWidgetTest, PixelsOfALitSegmentALampRimAndALitDot)
{
    KitRig rig;
    LEDLadder ladder(rig.env(), [] { return 1.0; }, 4, 10, 46);
    const QImage l = renderOverBlack(ladder);
    // Bottom segment: (0, 35, 10, 10.375); halo 0.18 under the lit fill 0.92.
    EXPECT_TRUE(test::near(l.pixelColor(5, 40), over(Palette::glow(), 0.92, over(Palette::glow(), 0.18, Qt::black))))
        << l.pixelColor(5, 40).name().toStdString();
    // Top segment is red.
    EXPECT_TRUE(test::near(l.pixelColor(5, 4), over(Palette::red(), 0.92, over(Palette::red(), 0.18, Qt::black))));

    KitRig twice(2.0);
    HardKey key(twice.env(), "sync", std::nullopt, true, false, KeyStyle::key, std::nullopt, std::nullopt, false, {});
    const QImage k = renderOverBlack(key);
    // Pixel column 1 at scale 2 lies inside the rim (1.1 pt) and under the highlight.
    const double t = 24.5 / 48.0;
    const QColor body(int(std::lround(42 + (20 - 42) * t)), int(std::lround(45 + (21 - 45) * t)),
                      int(std::lround(52 + (25 - 52) * t)));
    const QColor rim = over(Qt::white, 0.07, over(Palette::ember(), 0.9, body));
    EXPECT_TRUE(test::near(k.pixelColor(1, 24), rim, 3)) << k.pixelColor(1, 24).name().toStdString();

    DotMatrixText dots(rig.env(), DotMatrix::Look{QString(QChar(0x25A0)), 4, std::nullopt, Palette::cyan(), false, false, {}});
    const QImage d = renderOverBlack(dots);
    EXPECT_TRUE(test::near(d.pixelColor(9, 13), over(Palette::cyan(), 0.95, over(Palette::cyan(), 0.10, Qt::black))));
    EXPECT_TRUE(test::near(d.pixelColor(1, 1), over(Palette::cyan(), 0.055, Qt::black))); // top row is unlit
}

TEST(KitWidgetTest, SevenSegmentTextsLaidOutFromKeptCellsMatchTheDrawnText)
{
    for (const char* text : {"12.5", "-88:0b", "r t"}) {
        const SevenSegment::Look look{text, 30, Palette::ember(), true};
        const QImage kept = SevenSegment::rendered(look, 2);
        QImage drawn(kept.size(), QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        {
            QPainter p(&drawn);
            p.scale(2, 2);
            PainterCanvas canvas(p);
            SevenSegment::draw(canvas, look);
        }
        int worst = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) {
                const QRgb a = kept.pixel(x, y), b = drawn.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
            }
        // Within rounding: cells are placed to 1/64 of a pixel and blended one after another.
        EXPECT_LE(worst, 4) << text;
    }
}

TEST(KitWidgetTest, TexturesRepeatForASeedAndDifferBetweenSeeds)
{
    const auto cheek = [](std::uint64_t seed) {
        Textures::clearCache();
        return Textures::walnutCheek(QSizeF(26, 120), 2.0, seed);
    };
    const QImage a = cheek(11), b = cheek(11), c = cheek(23);
    ASSERT_EQ(a.size(), QSize(52, 240));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    Textures::clearCache();
    const QImage p1 = Textures::faceplate(QSizeF(300, 120), 1.0);
    Textures::clearCache();
    EXPECT_EQ(p1, Textures::faceplate(QSizeF(300, 120), 1.0));
}

TEST(KitWidgetTest, GalleryWritesEverySheetAtBothScales)
{
    const QString folder = QStringLiteral(ZELVO_BINARY_DIR "/kit-gallery");
    for (double scale : {1.0, 2.0}) {
        const QStringList files = writeGallery(folder, scale);
        ASSERT_EQ(files.size(), gallerySheets().size());
        const QImage controls(QDir(folder).filePath(QString::asprintf("controls@%gx.png", scale)));
        EXPECT_EQ(controls.size(), QSize(int(760 * scale), int(640 * scale)));
        EXPECT_FALSE(controls.isNull());
    }
}

} // namespace
} // namespace zelvo::kit
