// The shell offscreen: menus and their shortcuts, window dressing and the
// forced size, the stage and faceplate snapshots, and quitting.
#include "shell/AppDelegate.h"

#include "state/AppModel.h"
#include "AppTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::AppRig;

struct Shell {
    explicit Shell(QStringList arguments) : arguments(arguments)
    {
        rig.make(arguments);
        arguments.prepend("kavri-zelvo");
        delegate = std::make_unique<AppDelegate>(*rig.app, rig.scheduler, arguments);
        delegate->setQuit([this] { ++quits; });
    }
    void launch()
    {
        delegate->window().show();
        delegate->launched();
        QApplication::setActiveWindow(&delegate->window());
        QCoreApplication::processEvents();
    }
    QStringList arguments;
    AppRig rig;
    std::unique_ptr<AppDelegate> delegate;
    int quits = 0;
};

TEST(AppDelegate, MenuItemsAndShortcutsReachTheModels)
{
    Shell shell({});
    shell.launch();
    struct Item {
        const char* name;
        const char* title;
        QKeySequence keys;
        QStringList journal;
    };
    const Item items[] = {
        {"menu.import", "Import Music\u2026", QKeySequence("Ctrl+O"), {}},
        {"menu.fork", "Fork Deck 1", QKeySequence("Ctrl+G"), {"workflow.fork(1)"}},
        {"menu.extend", "Extend zelvo-0's Deck", QKeySequence("Ctrl+T"), {"workflow.extend(0)"}},
        {"menu.drop", "Drop zelvo-0 In", QKeySequence("Ctrl+D"), {"workflow.drop"}},
        {"menu.restart", "Restart zelvo-0", QKeySequence(), {"brain.stop", "brain.start(48)"}},
        {"menu.tour", "Welcome Tour", QKeySequence(), {"tour.welcome"}},
        // The build's guide, beside this program as beside the real one; the
        // offscreen platform has no PDF viewer, which the log says.
        {"menu.guide", "Field Guide (PDF)", QKeySequence(),
         {QString::fromUtf8("brain.note guide: no application opens PDF documents — the guide is ")
          + QDir::cleanPath(QStringLiteral(ZELVO_BINARY_DIR "/share/kavri-zelvo/kavri-zelvo-guide.pdf"))}},
        {"menu.quit", "Quit", QKeySequence("Ctrl+Q"), {}},
    };
    QStringList& journal = shell.rig.world.journal;
    for (const Item& item : items) {
        SCOPED_TRACE(item.name);
        QAction* action = shell.delegate->action(item.name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text(), QString::fromUtf8(item.title));
        EXPECT_EQ(action->shortcut(), item.keys);
        EXPECT_TRUE(action->isEnabled());
        journal.clear();
        // The import chooser is modal: cancel it once it shows.
        bool chooserShown = false;
        if (QString::fromUtf8(item.name) == "menu.import")
            QTimer::singleShot(0, [&chooserShown] {
                if (auto* chooser = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                    chooserShown = chooser->objectName() == "importChooser";
                    chooser->reject();
                }
            });
        if (item.keys.isEmpty())
            action->trigger();
        else
            QTest::keySequence(&shell.delegate->window(), item.keys);
        EXPECT_EQ(journal, item.journal);
        EXPECT_EQ(chooserShown, QString::fromUtf8(item.name) == "menu.import");
        if (chooserShown) {
            shell.delegate->window().activateWindow();
            QApplication::setActiveWindow(&shell.delegate->window());
            QCoreApplication::processEvents();
        }
    }
    EXPECT_TRUE(shell.rig.app->library().tracks().empty());
    EXPECT_EQ(shell.quits, 1);
    QStringList menus;
    for (QAction* menu : shell.delegate->window().menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, QStringList({"File", "zelvo-0", "Help"}));
}

TEST(AppDelegate, DressesEveryWindowOnceWithTheForcedSize)
{
    Shell shell({"--window", "640X400"});
    shell.launch();
    QMainWindow& window = shell.delegate->window();
    EXPECT_TRUE(window.property(AppDelegate::kDressedProperty).toBool());
    // The content gets the forced size, even below the usual minimum.
    EXPECT_EQ(window.centralWidget()->size(), QSize(640, 400));
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(3, 3, 4));

    // A window that becomes active later is dressed once.
    QWidget later;
    later.resize(300, 300);
    later.show();
    QApplication::setActiveWindow(&later);
    QCoreApplication::processEvents();
    EXPECT_TRUE(later.property(AppDelegate::kDressedProperty).toBool());
    EXPECT_EQ(later.size(), QSize(640, 400));
    later.resize(500, 500);
    QApplication::setActiveWindow(&window);
    QApplication::setActiveWindow(&later);
    QCoreApplication::processEvents();
    EXPECT_EQ(later.size(), QSize(500, 500));

    Shell plain({"--window", "640x400x300"});
    plain.launch();
    EXPECT_EQ(plain.delegate->window().centralWidget()->minimumSize(), QSize(1200, 810));
}

TEST(AppDelegate, StageSnapshotWritesTheWindowListAndImageThenQuitsUnlessToldToStay)
{
    for (const bool stay : {false, true}) {
        SCOPED_TRACE(stay ? "--stay" : "no --stay");
        test::TempHome folder;
        const QString path = folder.file("shot.png");
        QStringList arguments{"--snapshot", path, "--window", "1300x900"};
        if (stay)
            arguments << "--stay";
        Shell shell(arguments);
        shell.launch();
        shell.rig.scheduler.advance(3.9);
        EXPECT_FALSE(QFile::exists(path));
        shell.rig.scheduler.advance(0.1);
        QFile list(folder.file("shot.txt"));
        ASSERT_TRUE(list.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = list.readAll().split('\n');
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].startsWith("QMainWindow visible=true frame=")) << lines[0].toStdString();
        const QImage image(path);
        EXPECT_EQ(image.size() / image.devicePixelRatio(), QSize(1300, 900));
        EXPECT_EQ(shell.quits, stay ? 0 : 1);
    }
}

TEST(AppDelegate, FaceplateSnapshotIsTwiceTheCanvasAndAlwaysQuits)
{
    struct Case {
        QStringList arguments;
        double delay;
        QSize pixels;
    };
    const Case cases[] = {
        {{"--classic"}, 4.0, {3200, 2160}},
        {{"--classic", "--window", "2000x1000", "--stay"}, 4.0, {4320, 2160}},
        {{"--classic", "--snapshot-delay", "1.5"}, 1.5, {3200, 2160}},
        {{"--classic", "--snapshot-delay", "inf"}, 4.0, {3200, 2160}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        test::TempHome folder;
        const QString path = folder.file("face.png");
        Shell shell(QStringList{"--snapshot", path} + c.arguments);
        shell.launch();
        shell.rig.scheduler.advance(c.delay - 0.01);
        EXPECT_FALSE(QFile::exists(path));
        shell.rig.scheduler.advance(0.01);
        EXPECT_EQ(QImage(path).size(), c.pixels);
        EXPECT_FALSE(QFile::exists(folder.file("face.txt")));
        EXPECT_EQ(shell.quits, 1);
    }
}

TEST(AppDelegate, ClosingTheWindowQuitsAndShutsDownOnce)
{
    Shell shell({});
    shell.launch();
    QTimer::singleShot(0, &shell.delegate->window(), [&] { shell.delegate->window().close(); });
    QTimer failsafe;
    QObject::connect(&failsafe, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    failsafe.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(shell.rig.app->isShutDown());
    // A second quit (the menu after the window) shuts nothing down again.
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QApplication::exec();
    EXPECT_EQ(shell.rig.world.journal.count("brain.stop"), 1);
}

} // namespace
} // namespace zelvo
