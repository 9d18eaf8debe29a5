// The faceplate frame as widgets: drawn at half and full scale, laid out by
// the controller's layout, its zoom and settings keys, and the header
// reading the open output.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "ui/instrument/BrowserView.h"
#include "ui/instrument/CratePresenters.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/FaceModule.h"
#include "ui/instrument/HeaderStrip.h"
#include "ui/instrument/Instrument.h"
#include "ui/instrument/JogWheel.h"
#include "ui/instrument/MixerView.h"
#include "ui/instrument/PerformModule.h"
#include "ui/instrument/ZoomKeys.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Textures.h"
#include "ui/stage/SettingsPopover.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

namespace zelvo {
namespace {

struct FaceRig {
    explicit FaceRig(double scale = 1.0) : FaceRig(QSize(int(1600 * scale), int(1080 * scale)), false) {}
    // A window of `window` pixels at the scale that fits the 1600 × 1080 canvas.
    FaceRig(QSize window, bool fourDecks) : kit(kit::faceScaleForWindow(QSizeF(window)))
    {
        app.make();
        sides.setFourDecks(fourDecks);
        face = std::make_unique<Instrument>(*app.app, kit.env(), nullptr, &sides);
        face->resize(window);
        face->show();
        QApplication::processEvents();
    }
    ~FaceRig() { face.reset(); }

    QImage image() const { return face->grab().toImage(); }
    QRect onScreen(const QRectF& design) const
    {
        const double s = kit.env().scale();
        return QRectF(design.topLeft() * s, design.size() * s).toAlignedRect();
    }

    test::AppRig app;
    kit::test::KitRig kit;
    stage::StageSides sides;
    std::unique_ptr<Instrument> face;
};

TEST(InstrumentWidget, CheeksPlateAndModuleBandsAtHalfAndFullScale)
{
    for (const double s : {0.5, 1.0}) {
        FaceRig rig(s);
        const QImage image = rig.image();
        ASSERT_EQ(image.size(), QSize(int(1600 * s), int(1080 * s))) << s;
        EXPECT_EQ(rig.face->designSize(), QSizeF(1600, 1080)) << s;
        const FaceLayout::Rows& rows = rig.face->rows();
        EXPECT_EQ(rows.browser.width(), 600) << s;

        // Each cheek is its own grain (seeds 11 and 23), the plate between them.
        const QImage left = kit::Textures::walnutCheek({26, 1080}, s, 11);
        const QImage right = kit::Textures::walnutCheek({26, 1080}, s, 23);
        const QImage plate = kit::Textures::faceplate({1548, 1080}, s);
        int differ = 0;
        for (const QPointF p : {QPointF(14, 120), QPointF(6, 540), QPointF(20, 900)}) {
            const QPoint at = (p * s).toPoint();
            EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, p * s), left.pixelColor(at)))
                << s << " at " << p.x() << "," << p.y() << " "
                << kit::test::pixelAt(image, p * s).name().toStdString() << " "
                << left.pixelColor(at).name().toStdString();
            EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, QPointF(1574 + p.x(), p.y()) * s),
                                        right.pixelColor(at)))
                << s;
            differ += !kit::test::near(left.pixelColor(at), right.pixelColor(at));
        }
        EXPECT_GT(differ, 0) << "the two cheeks' grains should differ";
        // Plate: above the header and in the gap between deck and module rows.
        for (const QPointF p : {QPointF(300, 20), QPointF(800, rows.mixer.bottom() + 5)})
            EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, p * s),
                                        plate.pixelColor(((p - QPointF(26, 0)) * s).toPoint())))
                << s << " at " << p.x() << "," << p.y();

        // Every module draws its own panel (tested with it); here each sits on
        // its design rectangle (to the pixel's rounding).
        const auto placed = [&rig](const QWidget* w, const QRectF& r) {
            const QRect want = rig.onScreen(r);
            const QRect got = w->geometry();
            return std::abs(got.x() - want.x()) <= 1 && std::abs(got.y() - want.y()) <= 1 &&
                   std::abs(got.width() - want.width()) <= 1 && std::abs(got.height() - want.height()) <= 1;
        };
        EXPECT_TRUE(placed(rig.face->leftDeck(), rows.left)) << s;
        EXPECT_TRUE(placed(rig.face->mixer(), rows.mixer)) << s;
        EXPECT_TRUE(placed(rig.face->header(), rows.header)) << s;
        EXPECT_TRUE(placed(rig.face->zoomKeys(), rows.zoom)) << s;
    }
}

// Where a widget stands in the faceplate, in design points.
QRectF designRect(const Instrument& face, const QWidget* w)
{
    const double s = face.designSize().width() > 0 ? face.width() / face.designSize().width() : 1;
    return QRectF(QPointF(w->mapTo(&face, QPoint(0, 0))) / s, QSizeF(w->size()) / s);
}

TEST(InstrumentWidget, StripsAndDecksStandAtTheirOwnSizesInBothLayouts)
{
    struct Case {
        const char* what;
        QSize window;
        bool four;
    };
    const Case cases[] = {{"two decks at 1600 × 1080", {1600, 1080}, false},
                          {"four decks at 1600 × 1080", {1600, 1080}, true},
                          {"two decks at 2400 × 1500", {2400, 1500}, false},
                          {"four decks at 2400 × 1500", {2400, 1500}, true}};
    for (const Case& c : cases) {
        FaceRig rig(c.window, c.four);
        Instrument& face = *rig.face;
        const FaceLayout::Rows& rows = face.rows();
        EXPECT_EQ(face.designSize().height(), 1080) << c.what;

        // Every channel's fader and meter at full length, inside the mixer.
        const QRectF mixer = designRect(face, face.mixer());
        for (int ch = 1; ch <= (c.four ? 4 : 2); ++ch) {
            auto* fader = face.findChild<kit::Fader*>(QStringLiteral("mixer.ch%1.fader").arg(ch));
            auto* meter = face.findChild<kit::LEDLadder*>(QStringLiteral("mixer.ch%1.meter").arg(ch));
            ASSERT_NE(fader, nullptr) << c.what << " ch" << ch;
            ASSERT_NE(meter, nullptr) << c.what << " ch" << ch;
            EXPECT_EQ(fader->designSize().height(), c.four ? 100 : 108) << c.what << " ch" << ch;
            EXPECT_EQ(meter->designSize().height(), c.four ? 92 : 96) << c.what << " ch" << ch;
            for (const QWidget* w : {static_cast<QWidget*>(fader), static_cast<QWidget*>(meter)})
                EXPECT_TRUE(mixer.adjusted(0, 0, 1, 1).contains(designRect(face, w))) << c.what << " ch" << ch;
        }
        auto* xfader = face.findChild<kit::Fader*>(QStringLiteral("mixer.xfader"));
        ASSERT_NE(xfader, nullptr) << c.what;
        EXPECT_EQ(xfader->designSize().width(), c.four ? 230 : 210) << c.what;
        EXPECT_TRUE(mixer.adjusted(0, 0, 1, 1).contains(designRect(face, xfader))) << c.what;

        // The deck row is as high as the taller of the deck's stack (546 from
        // its parts) and the mixer's panel with its strips at full size; the
        // decks stand at their own height, the mixer fills the row, the module
        // row takes the rest.
        const double deckIdeal = face.leftDeck()->idealHeight();
        const double mixerIdeal = static_cast<MixerPanel*>(face.mixer())->idealHeight();
        EXPECT_EQ(deckIdeal, 546) << c.what;
        EXPECT_EQ(deckIdeal, FaceLayout::deck(FaceLayout::DeckParts{}, rows.left.width()).height) << c.what;
        EXPECT_EQ(rows.left.height(), deckIdeal) << c.what;
        EXPECT_EQ(rows.right.height(), deckIdeal) << c.what;
        EXPECT_EQ(rows.mixer.height(), std::max(deckIdeal, mixerIdeal)) << c.what;
        EXPECT_EQ(face.leftDeck()->designSize().height(), deckIdeal) << c.what;
        EXPECT_EQ(rows.browser.top(), rows.mixer.bottom() + 10) << c.what;
        EXPECT_EQ(rows.browser.bottom(), 1080 - 12) << c.what;

        // The module row's modules keep every part inside: a row shorter than
        // a module needs (the four-deck mixer's row leaves 213 of the perform
        // module's 252) is taken from glass margins and gaps.
        for (const char* name : {"instrument.browser", "instrument.perform", "instrument.brain"}) {
            auto* module = face.findChild<QWidget*>(QLatin1String(name));
            ASSERT_NE(module, nullptr) << name;
            const QRectF box = designRect(face, module).adjusted(-0.5, -0.5, 0.5, 0.5);
            for (QWidget* part : module->findChildren<QWidget*>()) {
                if (part->isVisible() && !part->isWindow()) {
                    EXPECT_TRUE(box.contains(designRect(face, part)))
                        << c.what << ": " << name << " / " << part->objectName().toStdString() << " "
                        << part->metaObject()->className();
                }
            }
        }
        auto* perform = face.findChild<PerformModule*>();
        ASSERT_NE(perform, nullptr);
        EXPECT_EQ(perform->idealHeight() > rows.perform.height(), c.four) << c.what;

        // Each deck: the wheel 218 across, 10 over the key row, which holds
        // the transport keys and the pads on one baseline.
        for (DeckView* deck : {face.leftDeck(), face.rightDeck()}) {
            const int index = deck->deck().index();
            const QRectF jog = designRect(face, deck->jog());
            auto* transport = deck->findChild<QWidget*>(QStringLiteral("deck%1.transport").arg(index));
            auto* pads = deck->findChild<QWidget*>(QStringLiteral("deck%1.pads").arg(index));
            ASSERT_NE(transport, nullptr) << c.what;
            ASSERT_NE(pads, nullptr) << c.what;
            const QRectF keys = designRect(face, transport);
            EXPECT_NEAR(jog.width(), 218, 1) << c.what;
            EXPECT_NEAR(jog.height(), 218, 1) << c.what;
            EXPECT_NEAR(keys.top(), jog.bottom() + 10, 1) << c.what;
            EXPECT_NEAR(designRect(face, pads).bottom(), keys.bottom(), 1) << c.what;
            EXPECT_GE(designRect(face, pads).left(), keys.right() + 12 - 1) << c.what;
            EXPECT_TRUE(designRect(face, deck).adjusted(0, 0, 1, 1).contains(keys)) << c.what;
        }
    }
}

// A text drawn by a faceplate widget and the frame it had to stay in.
struct DrawnText {
    QString widget;
    QString text;
    QRectF drawn; // where its advance lands, in faceplate points
    QRectF frame; // the widget cut by every box around it
    double advance = 0;
    double room = 0; // the width it was given
};

QString pathOf(const QWidget* w, const QWidget* root)
{
    QStringList names;
    for (; w && w != root; w = w->parentWidget())
        names.prepend(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName());
    return names.join(QLatin1Char('/'));
}

// Every text the shown drawn widgets under `root` paint (at scale 1, where a
// pixel is a design point).
std::vector<DrawnText> drawnTexts(QWidget* root)
{
    std::vector<DrawnText> out;
    for (kit::FaceWidget* w : root->findChildren<kit::FaceWidget*>()) {
        if (!w->isVisible())
            continue;
        QRectF frame(QPointF(w->mapTo(root, QPoint(0, 0))), QSizeF(w->size()));
        for (QWidget* p = w->parentWidget(); p && p != root; p = p->parentWidget())
            frame = frame.intersected(QRectF(QPointF(p->mapTo(root, QPoint(0, 0))), QSizeF(p->size())));
        const QPointF origin(w->mapTo(root, QPoint(0, 0)));
        kit::RecordingCanvas canvas;
        w->paintFace(canvas);
        QTransform t;
        std::vector<QTransform> saved;
        using K = kit::RecordingCanvas::Kind;
        for (const kit::RecordingCanvas::Op& op : canvas.ops()) {
            if (op.kind == K::save) {
                saved.push_back(t);
            } else if (op.kind == K::restore && !saved.empty()) {
                t = saved.back();
                saved.pop_back();
            } else if (op.kind == K::translate) {
                t.translate(op.offset.x(), op.offset.y());
            } else if (op.kind == K::scale) {
                t.scale(op.offset.x(), op.offset.y());
            } else if (op.kind == K::text && !op.text.trimmed().isEmpty()) {
                const QFontMetricsF m(op.font);
                const double advance = m.horizontalAdvance(op.text);
                double x = op.rect.left();
                if (op.flags & Qt::AlignRight)
                    x = op.rect.right() - advance;
                else if (op.flags & Qt::AlignHCenter)
                    x = op.rect.center().x() - advance / 2;
                double y = op.rect.top();
                if (op.flags & Qt::AlignBottom)
                    y = op.rect.bottom() - m.height();
                else if (op.flags & Qt::AlignVCenter)
                    y = op.rect.center().y() - m.height() / 2;
                // Upright, the letters' ink: from the capitals' tops to the baseline.
                const QRectF ink(x, y + m.ascent() - m.capHeight(), advance, m.capHeight());
                const QRectF drawn = t.mapRect(ink).translated(origin);
                out.push_back({pathOf(w, root), op.text, drawn, frame, advance, op.rect.width()});
            }
        }
    }
    return out;
}

TEST(InstrumentWidget, EveryTextFitsItsFrame)
{
    for (const bool four : {false, true}) {
        FaceRig rig(QSize(1600, 1080), four);
        const std::vector<DrawnText> texts = drawnTexts(rig.face.get());
        // Enough texts that the walk reached every module.
        EXPECT_GT(texts.size(), 150u) << four;
        QStringList seen;
        for (const DrawnText& t : texts) {
            seen << t.text;
            // A text's letters stay whole inside its widget and every box
            // around it (half a point for rounding).
            const QRectF frame = t.frame.adjusted(-0.5, -0.5, 0.5, 0.5);
            EXPECT_TRUE(t.drawn.left() >= frame.left() && t.drawn.right() <= frame.right())
                << (four ? "four decks: " : "two decks: ") << t.widget.toStdString() << " \"" << t.text.toStdString()
                << "\" spans " << t.drawn.left() << "…" << t.drawn.right() << " in " << frame.left() << "…"
                << frame.right();
            EXPECT_TRUE(t.drawn.top() >= frame.top() && t.drawn.bottom() <= frame.bottom())
                << (four ? "four decks: " : "two decks: ") << t.widget.toStdString() << " \"" << t.text.toStdString()
                << "\" spans " << t.drawn.top() << "…" << t.drawn.bottom() << " in " << frame.top() << "…"
                << frame.bottom();
        }
        // The captions the layouts were cut at are among them, whole.
        EXPECT_TRUE(seen.contains(QStringLiteral("LEVEL \u00b7 DEPTH"))) << four;
        EXPECT_TRUE(seen.contains(QStringLiteral("ZELVO-0 PADS"))) << four;
    }
}

TEST(InstrumentWidget, TheSortBarSaysWhatItSortsByAtTheDefaultAndAWideWindow)
{
    struct Case {
        QSize window;
        bool four;
        double glass;
    };
    for (const Case& c : {Case{{1600, 1080}, false, 476}, Case{{1600, 1080}, true, 476},
                          Case{{1920, 1080}, false, 796}, Case{{1920, 1080}, true, 796}}) {
        FaceRig rig(c.window, c.four);
        const std::string what = std::to_string(c.window.width()) + (c.four ? " four decks" : " two decks");
        AppModel& model = *rig.app.app;
        auto* bar = rig.face->findChild<SortBar*>(QStringLiteral("browser.sortBar"));
        ASSERT_NE(bar, nullptr) << what;
        EXPECT_EQ(bar->designSize().width(), c.glass) << what;
        for (const crate::SortKey& k : crate::sortKeys(AppModel::BrowserSort::added)) {
            model.setBrowserSort(k.sort);
            const SortBar::Readout r = bar->readout();
            // "NOTHING PLAYING" or the caption, whole.
            const QString whole =
                k.relative ? QStringLiteral("NOTHING PLAYING") : crate::sortReadout(k.sort, std::nullopt).text;
            EXPECT_EQ(r.text, whole)
                << what << " " << k.label.toStdString();
            // The keys' own widths once the glass has room for them.
            const auto* key = rig.face->findChild<kit::HardKey*>(QStringLiteral("browser.sort.") + k.label);
            ASSERT_NE(key, nullptr) << k.label.toStdString();
            const double width = key->designSize().width();
            if (c.window.width() == 1920) {
                EXPECT_EQ(width, k.width) << what << " " << k.label.toStdString();
            }
        }
        TrackRecord reference;
        reference.id = QUuid::createUuid();
        reference.title = QStringLiteral("A Very Long Reference Title");
        model.deck(1).install(reference, TrackBufferRef(4800, 48000.0), nullptr, false);
        model.setBrowserSort(AppModel::BrowserSort::intensity);
        EXPECT_EQ(bar->readout().text, QStringLiteral("A VERY LONG REFE")) << what;
        EXPECT_EQ(bar->readout().cells, 16) << what;
    }
}

TEST(InstrumentWidget, TheControllerLayoutChoosesMixerTabsAndDecks)
{
    FaceRig rig;
    Instrument& face = *rig.face;
    EXPECT_EQ(face.mixer()->objectName(), QStringLiteral("instrument.mixer"));
    EXPECT_EQ(face.findChild<QWidget*>(QStringLiteral("instrument.tabsLeft")), nullptr);
    EXPECT_EQ(face.header()->layoutText(), QStringLiteral("dual performance deck"));

    // Two decks ignore the halves: the left deck stays deck 1.
    rig.sides.setLeftDeck(2);
    QApplication::processEvents();
    EXPECT_EQ(face.leftDeck()->deck().index(), 0);

    rig.sides.setFourDecks(true);
    QApplication::processEvents();
    EXPECT_EQ(face.mixer()->objectName(), QStringLiteral("instrument.fourMixer"));
    EXPECT_EQ(face.mixer()->width(), 560);
    EXPECT_EQ(face.leftDeck()->deck().index(), 2);
    EXPECT_EQ(face.rightDeck()->deck().index(), 1);
    EXPECT_TRUE(face.rightDeck()->mirrored());
    EXPECT_EQ(face.header()->layoutText(), QStringLiteral("four deck performance system"));
    auto* tabs = face.findChild<QWidget*>(QStringLiteral("instrument.tabsLeft"));
    ASSERT_NE(tabs, nullptr);
    EXPECT_TRUE(tabs->isVisible());
    EXPECT_EQ(tabs->geometry(), rig.onScreen(*face.rows().leftTabs));
    ASSERT_NE(face.findChild<QWidget*>(QStringLiteral("instrument.tabsRight")), nullptr);

    rig.sides.setRightDeck(3);
    QApplication::processEvents();
    EXPECT_EQ(face.rightDeck()->deck().index(), 3);
    EXPECT_EQ(face.rightDeck()->objectName(), QStringLiteral("instrument.deck4"));

    rig.sides.setFourDecks(false);
    QApplication::processEvents();
    EXPECT_EQ(face.mixer()->objectName(), QStringLiteral("instrument.mixer"));
    EXPECT_EQ(face.leftDeck()->deck().index(), 0);
    EXPECT_EQ(face.rightDeck()->deck().index(), 1);
    EXPECT_EQ(face.findChild<QWidget*>(QStringLiteral("instrument.tabsLeft")), nullptr);
    EXPECT_EQ(face.header()->layoutText(), QStringLiteral("dual performance deck"));
}

TEST(InstrumentWidget, ZoomAndSettingsKeys)
{
    FaceRig rig(0.5);
    AppModel& app = *rig.app.app;
    auto* in = rig.face->findChild<kit::HardKey*>(QStringLiteral("instrument.zoomIn"));
    auto* out = rig.face->findChild<kit::HardKey*>(QStringLiteral("instrument.zoomOut"));
    ASSERT_TRUE(in && out);
    const auto click = [](QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); };
    const double ins[] = {1.5, 2.25, 3.375, 5.0625, 6.0, 6.0};
    for (const double expected : ins) {
        click(in);
        EXPECT_DOUBLE_EQ(app.waveformZoom(), expected);
    }
    for (int i = 0; i < 12; ++i)
        click(out);
    EXPECT_DOUBLE_EQ(app.waveformZoom(), 0.3);

    QWidget* key = rig.face->findChild<QWidget*>(QStringLiteral("instrument.settingsKey"));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->size(), QSize(15, 12));
    click(key);
    EXPECT_TRUE(app.showSettings());
    // The popover opens under the header's key, its arrow on the key's bottom edge.
    SettingsPopup* popup = rig.face->header()->settingsAnchor()->popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    const QPoint tip = key->mapToGlobal(QPoint(key->width() / 2, key->height()));
    EXPECT_EQ(popup->geometry().top(), tip.y());
    EXPECT_EQ(popup->geometry().left() + popup->arrowX(), tip.x());
    // Closing it sets the field back; the key opens it again, and a second
    // press of the key closes it.
    QTest::keyClick(popup, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(app.showSettings());
    EXPECT_EQ(rig.face->header()->settingsAnchor()->popup(), nullptr);
    app.setShowSettings(true);
    QApplication::processEvents();
    ASSERT_NE(rig.face->header()->settingsAnchor()->popup(), nullptr);
    app.setShowSettings(false);
    QApplication::processEvents();
    EXPECT_EQ(rig.face->header()->settingsAnchor()->popup(), nullptr);
}

TEST(InstrumentWidget, TheHeaderReadsTheOpenOutput)
{
    FaceRig rig;
    const auto texts = [&rig] {
        QStringList t;
        for (const auto& r : HeaderFace::readouts(HeaderFace::inputsOf(rig.app.app->audio()), QDateTime()))
            t << r.text;
        return t;
    };
    EXPECT_EQ(texts()[0], QStringLiteral("NO DEVICE"));
    kit::LiveCanvas* readouts = rig.face->header()->readouts();
    const int before = readouts->paintCount();
    rig.app.addOutput(44100);
    ASSERT_TRUE(rig.app.bootWithOutput());
    QApplication::processEvents();
    const QStringList open = texts();
    EXPECT_TRUE(open[0].startsWith(QStringLiteral("Fake Out "))) << open[0].toStdString();
    EXPECT_EQ(open[1], QStringLiteral("44.1KHZ"));
    EXPECT_EQ(open[2], QStringLiteral("BUF %1").arg(rig.app.app->audio().bufferFrames()));
    // The display repainted when the output opened, not only on its clock.
    EXPECT_GT(readouts->paintCount(), before);
}

} // namespace
} // namespace zelvo
