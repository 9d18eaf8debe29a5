// The faceplate deck as widgets on real decks whose voices the test renders by
// hand: cue and shift, pads and their releases, the jog wheel through a full
// command ring, file drops, the tempo strip, and what the deck draws.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "audio/DeckVoice.h"
#include "models/DeckModel.h"
#include "ui/instrument/DeckView.h"
#include "ui/instrument/JogWheel.h"
#include "ui/kit/Palette.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QUrl>
#include <gtest/gtest.h>

#include <array>

namespace zelvo {
namespace {

struct DeckRig {
    explicit DeckRig(int index = 0, double scale = 1.0) : index(index), kit(scale)
    {
        app.make();
        voice = std::make_shared<DeckVoice>(48000.0, 512);
        deck().attach(voice, false);
        TrackRecord record =
            TrackRecord::forFile(QStringLiteral("/nowhere/tone.wav"), QDateTime::currentDateTimeUtc());
        record.duration = 10;
        record.hotCues[2] = 1.0;
        deck().install(record, TrackBufferRef(480000, 48000.0), nullptr, false);
        render();
        view = std::make_unique<DeckView>(*app.app, deck(), index == 1, kit.env());
        view->show();
        QApplication::processEvents();
    }
    ~DeckRig() { view.reset(); }

    DeckModel& deck() const { return app.app->deck(index); }
    void render()
    {
        std::array<float, 512> left{}, right{};
        voice->render(512, left.data(), right.data());
        voice->releaseRetiredBuffers();
        deck().refreshLive();
        QApplication::processEvents();
    }
    template <typename T = kit::HardKey>
    T* find(const QString& element) const
    {
        return view->findChild<T*>(QStringLiteral("deck%1.%2").arg(index).arg(element));
    }
    QImage image() const { return view->grab().toImage(); }

    int index;
    test::AppRig app;
    kit::test::KitRig kit;
    std::shared_ptr<DeckVoice> voice;
    std::unique_ptr<DeckView> view;
};

void mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, modifiers);
    QApplication::sendEvent(w, &event);
}

void press(QWidget* w, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    mouse(w, QEvent::MouseButtonPress, QPointF(w->width() / 2.0, w->height() / 2.0), m);
}
void release(QWidget* w) { mouse(w, QEvent::MouseButtonRelease, QPointF(w->width() / 2.0, w->height() / 2.0)); }

TEST(DeckViewWidget, CueHoldAndTheShiftLatch)
{
    DeckRig rig;
    auto* cue = rig.find(QStringLiteral("cue"));
    ASSERT_NE(cue, nullptr);
    EXPECT_TRUE(cue->lit());
    press(cue);
    rig.render();
    EXPECT_TRUE(rig.deck().live().cueing);
    release(cue);
    rig.render();
    EXPECT_FALSE(rig.deck().live().cueing);
    EXPECT_FALSE(rig.deck().live().playing);

    // Shift latches and switches the loop row, the mode row and back.
    auto* shift = rig.find(QStringLiteral("shift"));
    auto* autoLoop = rig.find(QStringLiteral("loop.auto"));
    auto* sync = rig.find(QStringLiteral("loop.sync"));
    auto* mode0 = rig.find(QStringLiteral("mode.0"));
    EXPECT_EQ(autoLoop->look().label, "4 Beat");
    press(shift);
    release(shift);
    EXPECT_TRUE(rig.deck().shift());
    EXPECT_TRUE(shift->lit());
    EXPECT_EQ(autoLoop->look().label, "Reloop");
    EXPECT_EQ(sync->look().label, "Master");
    EXPECT_EQ(mode0->look().label, "slip");
    // Shifted "▶" doubles the jump size and the legend follows.
    press(rig.find(QStringLiteral("loop.fwd")));
    EXPECT_EQ(rig.deck().beatJumpBeats(), 8);
    auto* legend = rig.find<QWidget>(QStringLiteral("loop.jumpLegend"));
    ASSERT_NE(legend, nullptr);
    // Shifted mode key 1 toggles slip, not the mode.
    press(mode0);
    EXPECT_TRUE(rig.deck().slip());
    EXPECT_EQ(rig.deck().padMode(), PadMode::hotCue);
    press(shift);
    EXPECT_FALSE(rig.deck().shift());
    EXPECT_EQ(autoLoop->look().label, "4 Beat");
    EXPECT_EQ(sync->look().label, "Sync");
    EXPECT_EQ(mode0->look().label, "Hot Cue");
}

TEST(DeckViewWidget, HotCuePadsEraseAndReleaseWhereTheyWerePressed)
{
    DeckRig rig;
    auto* pad = rig.find(QStringLiteral("pad.2"));
    ASSERT_NE(pad, nullptr);
    EXPECT_TRUE(pad->lit());
    EXPECT_EQ(pad->look().sublabel, QStringLiteral("0:01"));

    // A press previews the cue; a mode change while held does not strand it.
    press(pad);
    rig.render();
    EXPECT_TRUE(rig.deck().live().playing);
    rig.deck().setPadMode(PadMode::padFX);
    EXPECT_EQ(pad->look().label, "Roll");
    release(pad);
    rig.render();
    EXPECT_FALSE(rig.deck().live().playing);

    // The view going away mid-press still releases the pad.
    rig.deck().setPadMode(PadMode::hotCue);
    press(rig.find(QStringLiteral("pad.2")));
    rig.render();
    ASSERT_TRUE(rig.deck().live().playing);
    rig.view->hide();
    rig.render();
    EXPECT_FALSE(rig.deck().live().playing);
    rig.view->show();

    // Alt on the press erases the set cue.
    pad = rig.find(QStringLiteral("pad.2"));
    press(pad, Qt::AltModifier);
    release(pad);
    rig.render();
    EXPECT_LT(rig.deck().live().hotCues[2], 0);
    EXPECT_FALSE(pad->lit());
    EXPECT_EQ(pad->look().sublabel, QStringLiteral("—"));
}

TEST(DeckViewWidget, AHeldCueIsReleasedWhenTheViewIsDestroyed)
{
    DeckRig rig;
    press(rig.find(QStringLiteral("cue")));
    rig.render();
    ASSERT_TRUE(rig.deck().live().cueing);
    rig.view.reset();
    rig.render();
    EXPECT_FALSE(rig.deck().live().cueing);
}

TEST(DeckViewWidget, APlatterDragIntoAFullRingStillEndsUntouched)
{
    DeckRig rig;
    JogWheel* jog = rig.view->jog();
    ASSERT_EQ(jog->objectName(), QStringLiteral("deck0.jog"));
    const QPointF c(109, 109);
    mouse(jog, QEvent::MouseButtonPress, c + QPointF(40, 0));
    mouse(jog, QEvent::MouseMove, c + QPointF(0, 40));
    rig.render();
    EXPECT_TRUE(rig.deck().live().jogTouched);

    // Fill the ring; the next scrubs and the release are refused.
    while (rig.voice->send(DeckCommand::jogBend(0)))
        ;
    mouse(jog, QEvent::MouseMove, c + QPointF(-40, 0));
    mouse(jog, QEvent::MouseButtonRelease, c + QPointF(-40, 0));
    EXPECT_TRUE(jog->waiting());
    // The audio side drains; the next frame's retry gets through.
    rig.render();
    rig.kit.scheduler.advance(0.1);
    EXPECT_FALSE(jog->waiting());
    rig.render();
    EXPECT_FALSE(rig.deck().live().jogTouched);

    // Hidden mid-drag: the platter is let go too.
    mouse(jog, QEvent::MouseButtonPress, c + QPointF(40, 0));
    rig.render();
    ASSERT_TRUE(rig.deck().live().jogTouched);
    rig.view->hide();
    rig.render();
    EXPECT_FALSE(rig.deck().live().jogTouched);
    // A press outside the circle is not the wheel's.
    rig.view->show();
    mouse(jog, QEvent::MouseButtonPress, QPointF(2, 2));
    EXPECT_FALSE(jog->dragging());
}

TEST(DeckViewWidget, DropsLoadTheFirstImportAndRefuseOthers)
{
    DeckRig rig;
    const QString folder = rig.app.home.file("Music/drop");
    QDir().mkpath(folder);
    QList<QUrl> urls;
    for (const char* name : {"c.wav", "a.wav", "b.wav"}) {
        test::writeTone(folder + "/" + name, 1.0);
        urls << QUrl::fromLocalFile(folder + "/" + name);
    }
    EXPECT_TRUE(rig.view->dropFiles(urls));
    ASSERT_TRUE(test::spinUntil([&] {
        return rig.deck().track() && rig.deck().track()->path.endsWith("a.wav") && !rig.deck().loading();
    }));
    EXPECT_EQ(rig.app.app->library().tracks().size(), 3u);

    QFile text(folder + "/notes.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not audio");
    text.close();
    EXPECT_FALSE(rig.view->dropFiles({QUrl::fromLocalFile(text.fileName())}));
    EXPECT_TRUE(rig.deck().track()->path.endsWith("a.wav"));
}

TEST(DeckViewWidget, RangeLabelAndResetKey)
{
    DeckRig rig;
    auto* reset = rig.find(QStringLiteral("reset"));
    auto* range = rig.find<QWidget>(QStringLiteral("range"));
    ASSERT_NE(range, nullptr);
    EXPECT_TRUE(reset->lit());
    press(range);
    EXPECT_EQ(rig.deck().tempoRange(), TempoRange::sixteen);
    rig.deck().setTempoFader(0.25);
    EXPECT_FALSE(reset->lit());
    press(reset);
    EXPECT_EQ(rig.deck().tempoFader(), 0.0);
    EXPECT_TRUE(reset->lit());
    EXPECT_EQ(rig.deck().tempoRange(), TempoRange::sixteen);
}

TEST(DeckViewWidget, PixelsOfThePointerTheFringesAndALitPad)
{
    DeckRig rig;
    ASSERT_EQ(rig.voice->state().position.load(), 0.0);
    JogWheel* jog = rig.view->jog();
    // At position 0 the pointer stands at twelve o'clock, Rl − 17 above the centre.
    const QImage wheel = jog->grab().toImage();
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(wheel, QPointF(109.5, 109 - 29.5)), kit::Palette::glow()))
        << kit::test::pixelAt(wheel, QPointF(109.5, 79.5)).name().toStdString();

    // The model's deck carries a red fringe left of its border and a cyan one right.
    DeckRig model(1);
    EXPECT_EQ(model.view->caption(), QStringLiteral("player 2 · from zelvo-0"));
    EXPECT_EQ(rig.view->caption(), QStringLiteral("player 1 · from disk"));
    const QImage plain = rig.image();
    const QImage ai = model.image();
    const auto redness = [](const QImage& image, double x) {
        const QColor c = kit::test::pixelAt(image, QPointF(x, 300));
        return c.red() - c.blue();
    };
    int red = 0, cyan = 0;
    for (double x = 0; x < 4; x += 1) {
        red = std::max(red, redness(ai, x) - redness(plain, x));
        cyan = std::max(cyan, redness(plain, DeckView::kWidth - 1 - x) - redness(ai, DeckView::kWidth - 1 - x));
    }
    EXPECT_GT(red, 4);
    EXPECT_GT(cyan, 4);

    // A lit pad glows where a dark one does not.
    const QImage lit = rig.find(QStringLiteral("pad.2"))->grab().toImage();
    const QImage dark = rig.find(QStringLiteral("pad.1"))->grab().toImage();
    long litSum = 0, darkSum = 0;
    for (int y = 0; y < lit.height(); ++y)
        for (int x = 0; x < lit.width(); ++x) {
            litSum += lit.pixelColor(x, y).red();
            darkSum += dark.pixelColor(x, y).red();
        }
    EXPECT_GT(litSum, darkSum);
}

TEST(DeckViewWidget, TheWheelsArtFillsItsFrameAtEveryScale)
{
    // Below one device pixel a point (the smallest window) as above it: the
    // disc is centred in the image and its corners stay clear.
    for (const double ratio : {0.75, 1.0, 2.0}) {
        const QImage art = jogStaticArt(218, ratio);
        ASSERT_EQ(art.width(), int(std::ceil(218 * ratio))) << ratio;
        const int last = art.width() - 1;
        for (const QPoint corner : {QPoint(0, 0), QPoint(last, 0), QPoint(0, last), QPoint(last, last)})
            EXPECT_EQ(art.pixelColor(corner).alpha(), 0) << ratio << " at " << corner.x() << "," << corner.y();
        // The ring's shadow is nearly opaque just inside the disc's left and right edges.
        for (const double x : {4.0, 214.0})
            EXPECT_GT(art.pixelColor(QPoint(int(x * ratio), art.height() / 2)).alpha(), 200) << ratio << " at " << x;
    }
}

TEST(DeckViewWidget, ANarrowDeckKeepsItsPartsInside)
{
    // The four-deck layout gives each deck less width; the parts follow it.
    DeckRig rig;
    // A cue held while the width changes stays held and ends on its release:
    // the parts move, they are not made anew.
    kit::HardKey* cue = rig.find(QStringLiteral("cue"));
    JogWheel* wheel = rig.view->jog();
    press(cue);
    rig.render();
    EXPECT_TRUE(rig.deck().live().cueing);
    rig.view->setDesignSize(QSizeF(470, rig.view->idealHeight()));
    QApplication::processEvents();
    EXPECT_EQ(rig.find(QStringLiteral("cue")), cue);
    EXPECT_EQ(rig.view->jog(), wheel);
    release(cue);
    rig.render();
    EXPECT_FALSE(rig.deck().live().cueing);
    const QRect bounds = rig.view->rect();
    for (const QString& name : {QStringLiteral("tempo"), QStringLiteral("loop.sync"), QStringLiteral("pads"),
                                QStringLiteral("header"), QStringLiteral("jog")}) {
        auto* w = rig.find<QWidget>(name);
        ASSERT_NE(w, nullptr) << name.toStdString();
        EXPECT_TRUE(bounds.contains(QRect(w->mapTo(rig.view.get(), QPoint(0, 0)), w->size()))) << name.toStdString();
    }
    const QRect jog = rig.view->jog()->geometry();
    const QRect pads = rig.find<QWidget>(QStringLiteral("pads"))->geometry();
    EXPECT_FALSE(jog.intersects(pads));
}

} // namespace
} // namespace zelvo
