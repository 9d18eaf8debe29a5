// The keyboard through the real application-wide filter: synthetic key events
// sent to a shown window take the path a keyboard's do.
#include "PerformanceSupport.h"

#include "models/ChannelModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"

#include <QAction>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::test {
namespace {

using Seen = std::vector<std::pair<QEvent::Type, int>>;

Seen bothEdges(int key)
{
    return {{QEvent::KeyPress, key}, {QEvent::KeyRelease, key}};
}

TEST(KeyboardMap, KeysReachTheWorkflowQueueAndBrowserWithShiftChoosingTheirTarget)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    ASSERT_NE(r.app().keyMonitor(), nullptr);
    const QString id = r.trackId.toString();
    r.app().setSelectedTrack(r.trackId);
    struct Row {
        int key;
        QString text;
        Qt::KeyboardModifiers mods;
        QString call;
    };
    const std::vector<Row> rows = {
        {Qt::Key_V, "v", {}, "keySync(1)"},
        {Qt::Key_V, "V", Qt::ShiftModifier, "keySync(0)"},
        {Qt::Key_G, "g", {}, "workflow.fork(1)"},
        {Qt::Key_G, "G", {}, "workflow.fork(1)"}, // Caps Lock: a capital without Shift
        {Qt::Key_G, "G", Qt::ShiftModifier, "workflow.fork(1)"},
        {Qt::Key_H, "h", {}, "workflow.drop"},
        {Qt::Key_T, "t", {}, "workflow.extend(0)"},
        {Qt::Key_Y, "y", {}, "reroll"},
        {Qt::Key_BracketLeft, "[", {}, "stepTake(-1)"},
        {Qt::Key_BracketRight, "]", {}, "stepTake(1)"},
        {Qt::Key_Slash, "/", {}, "loadNext"},
        {Qt::Key_Equal, "=", {}, "enqueue(" + id + ")"},
        {Qt::Key_Plus, "+", Qt::ShiftModifier, "enqueue(" + id + ")"},
        {Qt::Key_Return, "\r", {}, "load(" + id + ",0)"},
        {Qt::Key_Return, "\r", Qt::ShiftModifier, "load(" + id + ",1)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call.toStdString() + " from " + row.text.toStdString());
        r.tap(row.key, row.text, row.mods);
        EXPECT_EQ(r.rig.world.journal, QStringList{row.call});
        // Return is no character of the table: its key-up goes on.
        const Seen passed = row.key == Qt::Key_Return ? Seen{{QEvent::KeyRelease, Qt::Key_Return}} : Seen{};
        EXPECT_EQ(r.passedOn(), passed);
        r.rig.world.journal.clear();
    }

    // Nothing selected: Return and "=" are taken and do nothing.
    r.app().setSelectedTrack(std::nullopt);
    r.tap(Qt::Key_Return, "\r");
    r.tap(Qt::Key_Equal, "=");
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
    EXPECT_EQ(r.passedOn(), (Seen{{QEvent::KeyRelease, Qt::Key_Return}}));

    // Sync, the browser and the crossfader.
    r.tap(Qt::Key_C, "c");
    r.tap(Qt::Key_B, "b");
    r.tap(Qt::Key_B, "b");
    EXPECT_TRUE(r.app().mixer().channel(0).sync());
    EXPECT_FALSE(r.app().mixer().channel(1).sync());
    // Tab opens the browser before focus navigation sees it.
    r.tap(Qt::Key_Tab, "\t");
    EXPECT_TRUE(r.app().browseOpen());
    EXPECT_TRUE(r.window.hasFocus());
    EXPECT_TRUE(r.passedOn().empty());

    struct Fade {
        double from;
        int key;
        double to;
    };
    for (const Fade& f : {Fade{0.95, Qt::Key_Right, 1.0}, Fade{1.0, Qt::Key_Right, 1.0}, Fade{0.0, Qt::Key_Right, 0.1},
                          Fade{-0.95, Qt::Key_Left, -1.0}, Fade{-1.0, Qt::Key_Left, -1.0}, Fade{0.3, Qt::Key_Left, 0.2}}) {
        r.app().mixer().setCrossfader(f.from);
        r.tap(f.key, {});
        EXPECT_NEAR(r.app().mixer().crossfader(), f.to, 1e-12) << f.from;
    }
    // Held: one step, however many repeats.
    r.passedOn();
    r.app().mixer().setCrossfader(0.0);
    r.press(Qt::Key_Right, {});
    for (int i = 0; i < 4; ++i) {
        r.release(Qt::Key_Right, {}, {}, true);
        r.press(Qt::Key_Right, {}, {}, true);
    }
    r.release(Qt::Key_Right, {});
    EXPECT_NEAR(r.app().mixer().crossfader(), 0.1, 1e-12);
    // The arrows are no characters of the table either: only their key-ups went on.
    EXPECT_EQ(r.passedOn(), (Seen{{QEvent::KeyRelease, Qt::Key_Right}}));

    // Shift+Tab is its own key: it goes on, and focus navigation moves on.
    r.tap(Qt::Key_Backtab, "\t", Qt::ShiftModifier);
    EXPECT_TRUE(r.app().browseOpen());
    ASSERT_FALSE(r.passedOn().empty());
    EXPECT_TRUE(r.field->hasFocus());
}

TEST(KeyboardMap, DeckKeysPlayCueHotCuesJumpsAndLoopsOnEachDeck)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    struct Keys {
        int deck;
        int play, cue, hot1, hot5, back, fwd, loop, exit;
        const char* text; // play, cue, hot 1, hot 5, back, forward, loop, exit
    };
    for (const Keys& k : {Keys{0, Qt::Key_X, Qt::Key_Z, Qt::Key_1, Qt::Key_Q, Qt::Key_A, Qt::Key_S, Qt::Key_D, Qt::Key_F, "xz1qasdf"},
                          Keys{1, Qt::Key_M, Qt::Key_N, Qt::Key_7, Qt::Key_U, Qt::Key_J, Qt::Key_K, Qt::Key_L,
                               Qt::Key_Semicolon, "mn7ujkl;"}}) {
        SCOPED_TRACE(k.deck);
        const QString t = QString::fromLatin1(k.text);
        const DeckState& s = r.state(k.deck);

        // Hold to cue: X11's release-and-press repeat pairs do not let go.
        r.press(k.cue, t.mid(1, 1));
        r.render();
        EXPECT_TRUE(s.cueing.load());
        for (int i = 0; i < 3; ++i) {
            r.release(k.cue, t.mid(1, 1), {}, true);
            r.press(k.cue, t.mid(1, 1), {}, true);
        }
        r.render();
        EXPECT_TRUE(s.cueing.load());
        r.release(k.cue, t.mid(1, 1));
        r.render();
        EXPECT_FALSE(s.cueing.load());

        r.tap(k.fwd, t.mid(5, 1));
        r.render();
        EXPECT_NEAR(s.position.load(), 2.0, 1e-3); // 4 beats at 120 bpm
        r.tap(k.back, t.mid(4, 1));
        r.render();
        EXPECT_NEAR(s.position.load(), 0.0, 1e-3);

        r.tap(k.hot1, t.mid(2, 1));
        r.tap(k.hot5, t.mid(3, 1));
        r.render();
        EXPECT_GE(s.hotCues[0].load(), 0.0);
        EXPECT_GE(s.hotCues[4].load(), 0.0);
        // A held hot cue plays until its own release, not the repeats'.
        r.press(k.hot1, t.mid(2, 1));
        r.release(k.hot1, t.mid(2, 1), {}, true);
        r.press(k.hot1, t.mid(2, 1), {}, true);
        r.render();
        EXPECT_TRUE(s.cueing.load());
        r.release(k.hot1, t.mid(2, 1));
        r.render();
        EXPECT_FALSE(s.cueing.load());

        r.tap(k.loop, t.mid(6, 1));
        r.render();
        EXPECT_TRUE(s.loopActive.load());
        r.tap(k.exit, t.mid(7, 1));
        r.render();
        EXPECT_FALSE(s.loopActive.load());

        // Held play toggles once.
        r.press(k.play, t.left(1));
        r.press(k.play, t.left(1), {}, true);
        r.press(k.play, t.left(1), {}, true);
        r.release(k.play, t.left(1));
        r.render();
        EXPECT_TRUE(s.playing.load());
        r.tap(k.play, t.left(1));
        r.render();
        EXPECT_FALSE(s.playing.load());
        // Every edge of a table key was taken.
        EXPECT_TRUE(r.passedOn().empty());
    }
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
}

TEST(KeyboardMap, UnknownKeysTextFieldsDialogsAndMenusKeepTheirKeys)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    auto* menuItem = new QAction(&r.window);
    menuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    r.window.addAction(menuItem);
    int menuRuns = 0;
    QObject::connect(menuItem, &QAction::triggered, [&] { ++menuRuns; });

    // Keys outside the table pass on, both edges; their repeats are swallowed.
    r.tap(Qt::Key_Escape, "\x1b");
    EXPECT_EQ(r.passedOn(), bothEdges(Qt::Key_Escape));
    r.tap(Qt::Key_Space, " ");
    EXPECT_EQ(r.passedOn(), bothEdges(Qt::Key_Space));
    r.tap(Qt::Key_Exclam, "!", Qt::ShiftModifier); // Shift with "1"
    EXPECT_EQ(r.passedOn(), bothEdges(Qt::Key_Exclam));
    r.tap(Qt::Key_F5, {});
    EXPECT_EQ(r.passedOn(), bothEdges(Qt::Key_F5));
    r.press(Qt::Key_Delete, "\x7f");
    r.release(Qt::Key_Delete, "\x7f", {}, true);
    r.press(Qt::Key_Delete, "\x7f", {}, true);
    r.release(Qt::Key_Delete, "\x7f");
    EXPECT_EQ(r.passedOn(), bothEdges(Qt::Key_Delete));
    r.render();
    EXPECT_LT(r.state(0).hotCues[0].load(), 0.0);

    // Ctrl: the menu's shortcut, no deck.
    r.tap(Qt::Key_X, "\x18", Qt::ControlModifier);
    r.render();
    EXPECT_EQ(menuRuns, 1);
    EXPECT_FALSE(r.state(0).playing.load());

    // Typing into a text field.
    r.field->setFocus();
    r.tap(Qt::Key_X, "x");
    r.tap(Qt::Key_1, "1");
    r.tap(Qt::Key_Return, "\r");
    r.render();
    EXPECT_EQ(r.field->text(), QStringLiteral("x1"));
    EXPECT_FALSE(r.state(0).playing.load());
    EXPECT_LT(r.state(0).hotCues[0].load(), 0.0);
    r.window.setFocus();

    // A modal dialog has Return and the letters.
    r.app().setSelectedTrack(r.trackId);
    QDialog dialog(&r.window);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::simulateEvent(dialog.windowHandle(), true, Qt::Key_X, {}, "x", false);
    QTest::simulateEvent(dialog.windowHandle(), true, Qt::Key_Return, {}, "\r", false);
    QTest::simulateEvent(dialog.windowHandle(), false, Qt::Key_Return, {}, "\r", false);
    r.render();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(r.state(0).playing.load());
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
}

TEST(KeyboardMap, TheTourHasTheKeyboardWhileAStepShows)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    auto* menuItem = new QAction(&r.window);
    menuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    r.window.addAction(menuItem);
    int menuRuns = 0;
    QObject::connect(menuItem, &QAction::triggered, [&] { ++menuRuns; });

    r.rig.world.tourShowing = true;
    struct Row {
        int key;
        QString text;
        QString call;
    };
    for (const Row& row : {Row{Qt::Key_Space, " ", "tour.next"}, Row{Qt::Key_Return, "\r", "tour.next"},
                           Row{Qt::Key_Enter, "\r", "tour.next"}, Row{Qt::Key_Right, {}, "tour.next"},
                           Row{Qt::Key_Left, {}, "tour.back"}, Row{Qt::Key_X, "x", {}}, Row{Qt::Key_Tab, "\t", {}},
                           Row{Qt::Key_Escape, "\x1b", "tour.finish"}}) {
        r.rig.world.tourShowing = true;
        r.rig.world.journal.clear();
        r.tap(row.key, row.text);
        EXPECT_EQ(r.rig.world.journal, row.call.isEmpty() ? QStringList{} : QStringList{row.call}) << row.key;
    }
    r.rig.world.tourShowing = true;
    r.passedOn();
    r.press(Qt::Key_Space, " ", {}, true);
    r.render();
    EXPECT_TRUE(r.passedOn().empty());
    EXPECT_FALSE(r.state(0).playing.load());
    EXPECT_FALSE(r.app().browseOpen());
    EXPECT_EQ(r.rig.world.journal, QStringList{"tour.finish"});

    r.tap(Qt::Key_Q, "\x11", Qt::ControlModifier);
    EXPECT_EQ(menuRuns, 1);
    r.field->setFocus();
    r.tap(Qt::Key_K, "k");
    EXPECT_EQ(r.field->text(), QStringLiteral("k"));

    // Once it ends, the deck keys work again.
    r.window.setFocus();
    r.rig.world.tourShowing = false;
    r.tap(Qt::Key_X, "x");
    r.render();
    EXPECT_TRUE(r.state(0).playing.load());
}

TEST(KeyboardMap, KeysWithoutVoicesOrTracksAreTakenAndDoNothing)
{
    PerformanceRig r(false);
    ASSERT_TRUE(r.booted);
    ASSERT_EQ(r.deck(0).voice(), nullptr);
    for (auto [key, text] : std::vector<std::pair<int, QString>>{
             {Qt::Key_X, "x"}, {Qt::Key_Z, "z"}, {Qt::Key_1, "1"}, {Qt::Key_F, "f"}, {Qt::Key_Semicolon, ";"},
             {Qt::Key_0, "0"}, {Qt::Key_A, "a"}, {Qt::Key_L, "l"}})
        r.tap(key, text);
    EXPECT_TRUE(r.passedOn().empty());
    EXPECT_TRUE(r.rig.world.journal.isEmpty());

    // The automatic mix refuses with its own note.
    r.tap(Qt::Key_Comma, ",");
    EXPECT_EQ(r.app().transition().note(), QStringLiteral("LOAD A TRACK ON DECK 1 FIRST"));
    r.tap(Qt::Key_Period, ".");
    EXPECT_EQ(r.app().transition().note(), QStringLiteral("FORK SOMETHING ONTO DECK 2 FIRST"));
    EXPECT_TRUE(r.passedOn().empty());
}

} // namespace
} // namespace zelvo::test
