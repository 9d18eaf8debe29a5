// The faceplate frame as widgets: drawn at half and full scale, laid out by
// the controller's layout, its zoom and settings keys, and the header
// reading the open output.
#include "App/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/FaceModule.h"
#include "ui/instrument/HeaderStrip.h"
#include "ui/instrument/Instrument.h"
#include "ui/instrument/ZoomKeys.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/Textures.h"
#include "ui/stage/SettingsPopover.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

struct FaceRig {
    explicit FaceRig(double scale = 1.0) : kit(scale)
    {
        app.make();
        face = std::make_unique<Instrument>(*app.app, kit.env(), nullptr, &sides);
        face->resize(int(1600 * scale), int(1080 * scale));
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
        for (const QPointF p : {QPointF(300, 20), QPointF(800, 763)})
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
