// The keyboard through the real application-wide filter: synthetic key events
// sent to a shown window take the path a keyboard's do.
#include "PerformanceSupport.h"

#include "models/ChannelModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
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

Seen keyUp(int key)
{
    return {{QEvent::KeyRelease, key}};
}

// A menu item on the window with a Ctrl shortcut; counts its runs.
int* menuItem(QWidget& window, int key)
{
    auto* item = new QAction(&window);
    item->setShortcut(QKeySequence(Qt::CTRL | key));
    window.addAction(item);
    auto* runs = new int(0);
    QObject::connect(item, &QAction::triggered, item, [runs] { ++*runs; });
    QObject::connect(item, &QObject::destroyed, [runs] { delete runs; });
    return runs;
}

TEST(KeyboardMap, KeysReachTheWorkflowQueueBrowserSyncAndCrossfader)
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
    for (const Row& row : std::vector<Row>{
             {Qt::Key_V, "v", {}, "keySync(1)"}, {Qt::Key_V, "V", Qt::ShiftModifier, "keySync(0)"},
             {Qt::Key_G, "g", {}, "workflow.fork(1)"}, {Qt::Key_G, "G", {}, "workflow.fork(1)"}, // Caps Lock
             {Qt::Key_G, "G", Qt::ShiftModifier, "workflow.fork(1)"}, {Qt::Key_H, "h", {}, "workflow.drop"},
             {Qt::Key_T, "t", {}, "workflow.extend(0)"}, {Qt::Key_Y, "y", {}, "reroll"},
             {Qt::Key_BracketLeft, "[", {}, "stepTake(-1)"}, {Qt::Key_BracketRight, "]", {}, "stepTake(1)"},
             {Qt::Key_Slash, "/", {}, "loadNext"}, {Qt::Key_Equal, "=", {}, "enqueue(" + id + ")"},
             {Qt::Key_Plus, "+", Qt::ShiftModifier, "enqueue(" + id + ")"},
             {Qt::Key_Return, "\r", {}, "load(" + id + ",0)"},
             {Qt::Key_Return, "\r", Qt::ShiftModifier, "load(" + id + ",1)"}}) {
        SCOPED_TRACE(row.call.toStdString() + " from " + row.text.toStdString());
        r.tap(row.key, row.text, row.mods);
        EXPECT_EQ(r.rig.world.journal, QStringList{row.call});
        // Return is no character of the table: its key-up goes on.
        EXPECT_EQ(r.passedOn(), row.key == Qt::Key_Return ? keyUp(Qt::Key_Return) : Seen{});
        r.rig.world.journal.clear();
    }
    // Nothing selected: taken, nothing happens.
    r.app().setSelectedTrack(std::nullopt);
    r.tap(Qt::Key_Equal, "=");
    r.tap(Qt::Key_Return, "\r");
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
    EXPECT_EQ(r.passedOn(), keyUp(Qt::Key_Return));

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

    for (auto [from, key, to] : std::vector<std::tuple<double, int, double>>{
             {0.95, Qt::Key_Right, 1.0}, {1.0, Qt::Key_Right, 1.0}, {0.0, Qt::Key_Right, 0.1},
             {-0.95, Qt::Key_Left, -1.0}, {-1.0, Qt::Key_Left, -1.0}, {0.3, Qt::Key_Left, 0.2}}) {
        r.app().mixer().setCrossfader(from);
        r.tap(key, {});
        EXPECT_NEAR(r.app().mixer().crossfader(), to, 1e-12) << from;
        EXPECT_EQ(r.passedOn(), keyUp(key));
    }
    // Held: one step, however many repeats.
    r.app().mixer().setCrossfader(0.0);
    r.press(Qt::Key_Right, {});
    for (int i = 0; i < 4; ++i)
        r.release(Qt::Key_Right, {}, {}, true), r.press(Qt::Key_Right, {}, {}, true);
    r.release(Qt::Key_Right, {});
    EXPECT_NEAR(r.app().mixer().crossfader(), 0.1, 1e-12);
    EXPECT_EQ(r.passedOn(), keyUp(Qt::Key_Right));

    // Shift+Tab is its own key: focus navigation gets it.
    r.tap(Qt::Key_Backtab, "\t", Qt::ShiftModifier);
    EXPECT_TRUE(r.app().browseOpen());
    EXPECT_TRUE(r.field->hasFocus());
}

TEST(KeyboardMap, DeckKeysCueHotCuesJumpLoopAndPlayOnEachDeck)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    // play, cue, hot cue 1, hot cue 5, jump forward, loop, loop exit
    for (auto [deck, keys] : {std::pair{0, "xz1qsdf"}, std::pair{1, "mn7ukl;"}}) {
        SCOPED_TRACE(deck);
        const DeckState& s = r.state(deck);
        auto code = [&](int i) { return QKeySequence::fromString(QString(QChar(keys[i]).toUpper()))[0].key(); };
        auto text = [&](int i) { return QString(QChar(keys[i])); };
        auto holdThroughRepeats = [&](int i) {
            r.press(code(i), text(i));
            for (int n = 0; n < 3; ++n)
                r.release(code(i), text(i), {}, true), r.press(code(i), text(i), {}, true);
            r.render();
            EXPECT_TRUE(s.cueing.load()) << keys[i];
            r.release(code(i), text(i));
            r.render();
            EXPECT_FALSE(s.cueing.load()) << keys[i];
        };
        holdThroughRepeats(1);
        r.tap(code(4), text(4));
        r.render();
        EXPECT_NEAR(s.position.load(), 2.0, 1e-3); // 4 beats at 120 bpm
        r.tap(code(2), text(2));
        r.tap(code(3), text(3));
        r.render();
        EXPECT_GE(s.hotCues[0].load(), 0.0);
        EXPECT_GE(s.hotCues[4].load(), 0.0);
        holdThroughRepeats(2);
        r.tap(code(5), text(5));
        r.render();
        EXPECT_TRUE(s.loopActive.load());
        r.tap(code(6), text(6));
        r.render();
        EXPECT_FALSE(s.loopActive.load());
        r.press(code(0), text(0));
        r.press(code(0), text(0), {}, true);
        r.release(code(0), text(0));
        r.render();
        EXPECT_TRUE(s.playing.load());
        EXPECT_TRUE(r.passedOn().empty());
    }
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
}

TEST(KeyboardMap, UnknownKeysTextFieldsDialogsAndMenusKeepTheirKeys)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    int* menuRuns = menuItem(r.window, Qt::Key_X);
    for (auto [key, text, mods] : std::vector<std::tuple<int, QString, Qt::KeyboardModifiers>>{
             {Qt::Key_Escape, "\x1b", {}}, {Qt::Key_Space, " ", {}}, {Qt::Key_Exclam, "!", Qt::ShiftModifier},
             {Qt::Key_F5, {}, {}}}) {
        r.tap(key, text, mods);
        EXPECT_EQ(r.passedOn(), bothEdges(key)) << key;
    }
    // Held outside a text field: the first press and the release only.
    r.press(Qt::Key_Delete, "\x7f");
    r.release(Qt::Key_Delete, "\x7f", {}, true), r.press(Qt::Key_Delete, "\x7f", {}, true);
    r.release(Qt::Key_Delete, "\x7f");
    EXPECT_EQ(r.passedOn(), bothEdges(Qt::Key_Delete));

    r.tap(Qt::Key_X, "\x18", Qt::ControlModifier);
    EXPECT_EQ(*menuRuns, 1);

    r.field->setFocus();
    for (auto [key, text] : {std::pair{Qt::Key_X, "x"}, std::pair{Qt::Key_1, "1"}, std::pair{Qt::Key_Return, "\r"}})
        r.tap(key, text);
    EXPECT_EQ(r.field->text(), QStringLiteral("x1"));
    r.window.setFocus();

    r.app().setSelectedTrack(r.trackId);
    QDialog dialog(&r.window);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::simulateEvent(dialog.windowHandle(), true, Qt::Key_X, {}, "x", false);
    QTest::simulateEvent(dialog.windowHandle(), true, Qt::Key_Return, {}, "\r", false);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    r.render();
    EXPECT_FALSE(r.state(0).playing.load());
    EXPECT_LT(r.state(0).hotCues[0].load(), 0.0);
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
}

// While a popup is open it tracks its own keys: arrows, letters and Return work
// the popup, and neither a deck nor the mixer moves. Closed again, the map acts.
TEST(KeyboardMap, AnOpenMenuContextMenuOrComboListHasTheKeys)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    int imports = 0, nexts = 0, queued = 0;
    auto* bar = new QMenuBar(&r.window);
    r.window.layout()->setMenuBar(bar);
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    QObject::connect(file->addAction(QStringLiteral("Import Music\u2026")), &QAction::triggered, [&] { ++imports; });
    QMenu* brain = bar->addMenu(QStringLiteral("zelvo-0"));
    QObject::connect(brain->addAction(QStringLiteral("Next Take")), &QAction::triggered, [&] { ++nexts; });
    auto* combo = new QComboBox(&r.window);
    combo->addItems({QStringLiteral("COLLECTION"), QStringLiteral("OUTPAINTS"), QStringLiteral("RECENT")});
    r.window.layout()->addWidget(combo);
    bar->show();
    combo->show();
    r.window.setFocus();
    r.app().mixer().setCrossfader(0.0);

    const auto nothingMoved = [&](const char* where) {
        r.render();
        EXPECT_FALSE(r.state(0).playing.load()) << where;
        EXPECT_FALSE(r.state(1).playing.load()) << where;
        EXPECT_EQ(r.app().mixer().crossfader(), 0.0) << where;
        EXPECT_TRUE(r.rig.world.journal.isEmpty()) << where;
    };

    // A menu bar menu: Right and Left walk the bar, "x" leaves the menu open,
    // Return runs the chosen item.
    bar->setActiveAction(file->menuAction());
    ASSERT_TRUE(file->isVisible());
    ASSERT_EQ(QApplication::activePopupWidget(), file);
    r.tap(Qt::Key_Right, {});
    EXPECT_TRUE(brain->isVisible());
    EXPECT_FALSE(file->isVisible());
    r.tap(Qt::Key_Left, {});
    ASSERT_TRUE(file->isVisible());
    r.tap(Qt::Key_X, "x");
    r.tap(Qt::Key_M, "m");
    r.tap(Qt::Key_1, "1");
    EXPECT_TRUE(file->isVisible());
    nothingMoved("menu bar menu");
    r.tap(Qt::Key_Down, {});
    r.tap(Qt::Key_Return, "\r");
    EXPECT_EQ(imports, 1);
    EXPECT_EQ(nexts, 0);
    EXPECT_FALSE(file->isVisible());
    EXPECT_LT(r.state(0).hotCues[0].load(), 0.0);

    // A context menu, as the browser rows open one.
    QMenu rowMenu(&r.window);
    rowMenu.addAction(QStringLiteral("Load on Deck 1"));
    QObject::connect(rowMenu.addAction(QStringLiteral("Add to Queue")), &QAction::triggered, [&] { ++queued; });
    rowMenu.popup(r.window.mapToGlobal(QPoint(20, 20)));
    ASSERT_EQ(QApplication::activePopupWidget(), &rowMenu);
    for (auto [key, text] : {std::pair{Qt::Key_Right, ""}, std::pair{Qt::Key_X, "x"}, std::pair{Qt::Key_Comma, ","}})
        r.tap(key, text);
    EXPECT_TRUE(rowMenu.isVisible());
    nothingMoved("context menu");
    r.tap(Qt::Key_Down, {});
    r.tap(Qt::Key_Down, {});
    r.tap(Qt::Key_Return, "\r");
    EXPECT_EQ(queued, 1);
    EXPECT_FALSE(rowMenu.isVisible());

    // A combo box's list: the arrows choose, Return takes the choice.
    combo->setFocus();
    combo->showPopup();
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    r.tap(Qt::Key_X, "x");
    r.tap(Qt::Key_Left, {});
    r.tap(Qt::Key_Down, {});
    r.tap(Qt::Key_Down, {});
    nothingMoved("combo list");
    r.tap(Qt::Key_Return, "\r");
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // Any widget that grabbed the keyboard gets the keys, too.
    KeyRecorder grabber;
    grabber.show();
    grabber.grabKeyboard();
    r.tap(Qt::Key_X, "x");
    grabber.releaseKeyboard();
    EXPECT_EQ(grabber.seen, bothEdges(Qt::Key_X));
    nothingMoved("keyboard grab");

    // Everything closed: the map has the keys again.
    r.window.activateWindow();
    r.window.setFocus();
    r.passedOn();
    r.tap(Qt::Key_X, "x");
    r.tap(Qt::Key_Right, {});
    r.render();
    EXPECT_TRUE(r.state(0).playing.load());
    EXPECT_NEAR(r.app().mixer().crossfader(), 0.1, 1e-12);
    EXPECT_EQ(imports, 1);
}

// During the tour, Escape first closes an open menu; the next one ends the tour.
TEST(KeyboardMap, TheToursEscapeClosesAnOpenMenuFirst)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    r.rig.world.tourShowing = true;
    QMenu menu(&r.window);
    menu.addAction(QStringLiteral("Import Music\u2026"));
    menu.popup(r.window.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(menu.isVisible());
    r.tap(Qt::Key_Space, " ");
    r.tap(Qt::Key_Escape, "\x1b");
    EXPECT_FALSE(menu.isVisible());
    EXPECT_TRUE(r.rig.world.tourShowing);
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
    r.tap(Qt::Key_Escape, "\x1b");
    EXPECT_FALSE(r.rig.world.tourShowing);
    EXPECT_EQ(r.rig.world.journal, QStringList{QStringLiteral("tour.finish")});
}

TEST(KeyboardMap, TheTourHasTheKeyboardWhileAStepShows)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    int* menuRuns = menuItem(r.window, Qt::Key_Q);
    for (auto [key, text, call] : std::vector<std::tuple<int, QString, QString>>{
             {Qt::Key_Space, " ", "tour.next"}, {Qt::Key_Return, "\r", "tour.next"}, {Qt::Key_Enter, "\r", "tour.next"},
             {Qt::Key_Right, {}, "tour.next"}, {Qt::Key_Left, {}, "tour.back"}, {Qt::Key_X, "x", {}},
             {Qt::Key_Tab, "\t", {}}, {Qt::Key_Escape, "\x1b", "tour.finish"}}) {
        r.rig.world.tourShowing = true;
        r.rig.world.journal.clear();
        r.press(key, text);
        r.press(key, text, {}, true);
        EXPECT_EQ(r.rig.world.journal, call.isEmpty() ? QStringList{} : QStringList{call}) << key;
        EXPECT_TRUE(r.passedOn().empty());
        if (r.rig.world.tourShowing)
            r.release(key, text);
    }
    r.rig.world.tourShowing = true;
    EXPECT_TRUE(r.passedOn().empty());
    EXPECT_FALSE(r.app().browseOpen());
    r.tap(Qt::Key_Q, "\x11", Qt::ControlModifier);
    EXPECT_EQ(*menuRuns, 1);
    r.field->setFocus();
    r.tap(Qt::Key_K, "k");
    EXPECT_EQ(r.field->text(), QStringLiteral("k"));

    r.window.setFocus();
    r.render();
    EXPECT_FALSE(r.state(0).playing.load());
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
    for (QChar c : QStringLiteral("xz1f;0al"))
        r.tap(QKeySequence::fromString(QString(c.toUpper()))[0].key(), QString(c));
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
