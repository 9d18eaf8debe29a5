// Live redraw: window visibility, shared ticks on the manual clock, paint
// counts, freezing and the wordmark's zap.
#include "KitTestSupport.h"

#include "ui/kit/Chrome.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/LiveSchedule.h"

#include <QApplication>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace zelvo::kit {
namespace {

using test::KitRig;

void settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

TEST(LiveRedrawTest, RealWindowsShownMinimisedAndHiddenToggleVisibility)
{
    DisplayClock clock(true);
    QSignalSpy changes(&clock, &DisplayClock::visibleChanged);
    QWidget window;
    window.resize(120, 80);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    settle();
    EXPECT_TRUE(clock.visible());
    // Showing may pass through a moment before the window is exposed.
    const int shown = int(changes.count());

    window.showMinimized();
    settle();
    EXPECT_FALSE(clock.visible());
    window.showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    settle();
    EXPECT_TRUE(clock.visible());
    window.hide();
    settle();
    EXPECT_FALSE(clock.visible());
    EXPECT_EQ(changes.count(), shown + 3);
    clock.refresh(); // no change, no notification
    EXPECT_EQ(changes.count(), shown + 3);
}

TEST(LiveRedrawTest, TicksPaintOnlyWhileSeenAndEqualRatesShareThem)
{
    if (LiveSchedule::frozen())
        GTEST_SKIP() << "frozen processes have no ticks";
    KitRig rig;
    QWidget window;
    int aFrames = 0, bFrames = 0;
    double aTime = -1, bTime = -2;
    auto* a = new LiveCanvas(rig.env(), QSizeF(40, 20), 25, [&](Canvas&, QSizeF, double t) {
        ++aFrames;
        aTime = t;
    });
    auto* b = new LiveCanvas(rig.env(), QSizeF(40, 20), 20, [&](Canvas&, QSizeF, double t) {
        ++bFrames;
        bTime = t;
    });
    a->setParent(&window);
    b->setParent(&window);
    b->move(0, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    settle();
    // 25 and 20 frames per second both snap to 20: one timer, 20 wake-ups a second.
    EXPECT_EQ(rig.scheduler.pending(), 1u);
    EXPECT_EQ(rig.runtime->liveClock().wakeupsPerSecond(), 20);
    const int a0 = aFrames, b0 = bFrames;
    for (int i = 0; i < 10; ++i) {
        rig.scheduler.advance(0.05);
        settle();
    }
    EXPECT_EQ(aFrames - a0, 10);
    EXPECT_EQ(bFrames - b0, 10);
    EXPECT_EQ(aTime, bTime);
    EXPECT_NEAR(std::remainder(aTime, 0.05), 0, 1e-6); // on a multiple of the step

    // An equal revision repaints nothing; a new one repaints once.
    const int before = aFrames;
    a->setRevision(0);
    settle();
    EXPECT_EQ(aFrames, before);

    // No timer while no window can be seen, nor paints; one fresh frame on return.
    rig.display.setVisible(false);
    EXPECT_EQ(rig.scheduler.pending(), 0u);
    EXPECT_FALSE(rig.runtime->liveClock().running());
    const int hidden = aFrames;
    rig.scheduler.advance(2.0);
    settle();
    EXPECT_EQ(aFrames, hidden);
    rig.display.setVisible(true);
    settle();
    EXPECT_EQ(aFrames, hidden + 1);
    EXPECT_EQ(rig.scheduler.pending(), 1u);

    // A hidden view unsubscribes; the last one leaving stops the timer.
    window.hide();
    settle();
    EXPECT_EQ(rig.scheduler.pending(), 0u);
}

TEST(LiveRedrawTest, EachRateTicksOncePerFrameWhateverTheClocksResolution)
{
    if (LiveSchedule::frozen())
        GTEST_SKIP() << "frozen processes have no ticks";
    // The wall clock reads in whole milliseconds, so a timer lands up to a
    // millisecond before or after its frame; each frame still ticks once.
    for (const double fps : {30.0, 60.0, 12.0}) {
        KitRig rig;
        int ticks = 0;
        double last = 0;
        bool rising = true;
        const LiveClock::Id id = rig.runtime->liveClock().subscribe(fps, [&](double t) {
            ++ticks;
            rising = rising && t > last;
            last = t;
        });
        for (int ms = 0; ms < 2000; ++ms)
            rig.scheduler.advance(0.001);
        EXPECT_NEAR(ticks, 2 * fps, 1) << fps;
        EXPECT_TRUE(rising) << fps;
        rig.runtime->liveClock().unsubscribe(id);
    }
}

TEST(LiveRedrawTest, BlinkingKeysFollowTheSharedClock)
{
    if (LiveSchedule::frozen())
        GTEST_SKIP() << "frozen processes have no ticks";
    KitRig rig;
    HardKey key(rig.env(), "rec", std::nullopt, true, true, KeyStyle::key, std::nullopt, std::nullopt, false, {});
    HardKey dark(rig.env(), "sync", std::nullopt, false, true, KeyStyle::key, std::nullopt, std::nullopt, false, {});
    key.show();
    dark.show();
    EXPECT_EQ(rig.scheduler.pending(), 1u); // the unlit blinking key needs no frames
    const bool first = key.lampOn();
    rig.scheduler.advance(1.0 / 3.0 + 0.001);
    EXPECT_NE(key.lampOn(), first);
    rig.scheduler.advance(1.0 / 3.0);
    EXPECT_EQ(key.lampOn(), first);
    EXPECT_FALSE(dark.lampOn());

    // A press shrinks the key over 0.06 s, easing out, and a release brings it back.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), key.mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&key, &press);
    EXPECT_EQ(key.look().pressScale, 1.0);
    rig.scheduler.advance(0.03);
    EXPECT_LT(key.look().pressScale, 1.0);
    EXPECT_GT(key.look().pressScale, 0.965);
    rig.scheduler.advance(0.05);
    EXPECT_EQ(key.look().pressScale, 0.965);
    EXPECT_NEAR(pressScaleAt(1, 0.965, 0.03), 1 - 0.035 * 0.75, 1e-12);
    key.hide(); // cut short: released, and the movement jumps to its end
    EXPECT_FALSE(key.pressed());
    EXPECT_EQ(key.look().pressScale, 1.0);
}

TEST(LiveRedrawTest, TheZapPausesWhileNoWindowIsSeen)
{
    KitRig rig;
    Wordmark mark(rig.env(), 26);
    EXPECT_NEAR(WordmarkLook::offset(100, false), 0.9, 1e-12);
    EXPECT_NEAR(WordmarkLook::offset(100, true), 2.4, 1e-12);
    mark.show();
    rig.scheduler.advance(4.9);
    EXPECT_EQ(mark.zaps(), 0);
    rig.scheduler.advance(0.2);
    EXPECT_TRUE(mark.zapping());
    EXPECT_EQ(mark.zaps(), 1);
    rig.scheduler.advance(0.15);
    EXPECT_FALSE(mark.zapping());

    rig.display.setVisible(false);
    rig.scheduler.advance(30);
    EXPECT_EQ(mark.zaps(), 1);
    rig.display.setVisible(true);
    rig.scheduler.advance(5.0);
    EXPECT_EQ(mark.zaps(), 2);

    mark.hide();
    EXPECT_FALSE(mark.zapping());
    EXPECT_EQ(rig.scheduler.pending(), 0u);
}

// Run in a child process with KAVRI_FREEZE set (the flag is read once per process).
TEST(LiveRedrawFreezeTest, FrozenViewsDrawOneFrame)
{
    if (!LiveSchedule::frozen()) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KAVRI_FREEZE", "");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=LiveRedrawFreezeTest.*"});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QByteArray out = child.readAllStandardOutput();
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
        return;
    }
    EXPECT_TRUE(LiveSchedule(60, false).paused());
    KitRig rig;
    int frames = 0;
    LiveCanvas canvas(rig.env(), QSizeF(20, 20), 30, [&](Canvas&, QSizeF, double) { ++frames; });
    canvas.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&canvas));
    settle();
    EXPECT_EQ(rig.scheduler.pending(), 0u);
    const int first = frames;
    EXPECT_GE(first, 1);
    rig.scheduler.advance(3.0);
    settle();
    EXPECT_EQ(frames, first);
}

} // namespace
} // namespace zelvo::kit
