#include "KitTestSupport.h"
#include "ui/kit/Palette.h"
#include "ui/stage/GhostHost.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::stage {
namespace {

// A host with a black background, as a panel that paints its own would be.
class BlackHost final : public GhostHost {
public:
    using GhostHost::GhostHost;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        paintGhosts(painter);
    }
};

// A white bar filling its frame; counts the presses it receives.
class Bar final : public QWidget {
public:
    using QWidget::QWidget;
    int presses = 0;

    static void paint(QPainter& painter, QSizeF size) { painter.fillRect(QRectF(QPointF(0, 0), size), Qt::white); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        paint(painter, size());
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        event->accept();
    }
};

struct HostRig {
    HostRig()
    {
        host.resize(200, 100);
        bar = new Bar(&host);
        bar->setGeometry(50, 40, 40, 20);
        host.show();
        QApplication::processEvents();
    }
    void ghost(double offset, double opacity, quint64 revision = 1)
    {
        host.setGhosts(bar, {QRectF(0, 0, 40, 20), offset, opacity, revision, &Bar::paint});
    }
    QColor at(QPoint p) { return kit::test::pixelAt(host.grab().toImage(), p); }

    BlackHost host;
    Bar* bar = nullptr;
};

TEST(GhostHost, PaintsTheCopiesThatReachPastTheChildBehindIt)
{
    struct Case {
        double offset, opacity;
        QColor left, right; // just outside the child's left and right edges
    };
    const QColor red = kit::Stage::ghostRed(), cyan = kit::Stage::ghostCyan();
    for (const Case& c : {Case{6, 1, red, cyan}, Case{-6, 1, cyan, red}, Case{6, 0, Qt::black, Qt::black},
                          Case{0, 1, Qt::black, Qt::black}, Case{6, 0.5, red.darker(200), cyan.darker(200)}}) {
        HostRig rig;
        rig.ghost(c.offset, c.opacity);
        QApplication::processEvents();
        const auto label = testing::Message() << "offset " << c.offset << " opacity " << c.opacity;
        EXPECT_TRUE(kit::test::near(rig.at({47, 50}), c.left, 4)) << label;
        EXPECT_TRUE(kit::test::near(rig.at({92, 50}), c.right, 4)) << label;
        // The child's own frame shows only what the child paints; nothing past the reach.
        EXPECT_TRUE(kit::test::near(rig.at({70, 50}), Qt::white, 0)) << label;
        EXPECT_TRUE(kit::test::near(rig.at({40, 50}), Qt::black, 0)) << label;
        EXPECT_TRUE(kit::test::near(rig.at({70, 30}), Qt::black, 0)) << label;
        // Sizes stay the content's.
        EXPECT_EQ(rig.bar->geometry(), QRect(50, 40, 40, 20)) << label;
        EXPECT_EQ(rig.host.childrenRect(), QRect(50, 40, 40, 20)) << label;
    }
}

TEST(GhostHost, FollowsTheChildAndTakesNoClicks)
{
    HostRig rig;
    rig.ghost(6, 1);
    EXPECT_EQ(GhostHost::of(rig.bar), &rig.host);
    EXPECT_EQ(rig.host.reach(rig.bar), QRegion(44, 40, 6, 20).united(QRegion(90, 40, 6, 20)));

    // A click on a copy reaches the host, never the child.
    QTest::mouseClick(&rig.host, Qt::LeftButton, {}, QPoint(47, 50));
    QTest::mouseClick(&rig.host, Qt::LeftButton, {}, QPoint(92, 50));
    EXPECT_EQ(rig.bar->presses, 0);
    QTest::mouseClick(rig.bar, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(rig.bar->presses, 1);

    // Moving the child moves the copies, and the old place is cleared.
    rig.bar->move(100, 10);
    QApplication::processEvents();
    EXPECT_TRUE(kit::test::near(rig.at({47, 50}), Qt::black, 0));
    EXPECT_TRUE(kit::test::near(rig.at({97, 20}), kit::Stage::ghostRed(), 4));
    // A hidden child shows no copies; a new revision repaints the content.
    rig.bar->hide();
    EXPECT_TRUE(rig.host.reach(rig.bar).isEmpty());
    EXPECT_TRUE(kit::test::near(rig.at({97, 20}), Qt::black, 0));
    rig.bar->show();
    rig.host.setGhosts(rig.bar, {QRectF(0, 0, 40, 20), 6, 1, 2, [](QPainter& p, QSizeF s) {
                                     p.fillRect(QRectF(QPointF(0, 0), s), QColor(0, 255, 0));
                                 }});
    EXPECT_TRUE(kit::test::near(rig.at({97, 20}), QColor(0, 83, 0), 4));

    // Cleared or destroyed children leave nothing behind; strangers are ignored.
    rig.host.clearGhosts(rig.bar);
    EXPECT_FALSE(rig.host.hosts(rig.bar));
    EXPECT_TRUE(kit::test::near(rig.at({97, 20}), Qt::black, 0));
    rig.ghost(6, 1);
    delete rig.bar;
    EXPECT_FALSE(rig.host.hosts(rig.bar));
    EXPECT_TRUE(kit::test::near(rig.at({97, 20}), Qt::black, 0));
    QWidget stranger;
    rig.host.setGhosts(&stranger, {QRectF(0, 0, 4, 4), 2, 1, 1, &Bar::paint});
    EXPECT_FALSE(rig.host.hosts(&stranger));
}

TEST(GhostHost, WatchesTheWidgetsBetweenTheChildAndTheHost)
{
    BlackHost host;
    host.resize(200, 100);
    auto* panel = new QWidget(&host);
    panel->setGeometry(10, 10, 120, 60);
    auto* bar = new Bar(panel);
    bar->setGeometry(20, 20, 40, 20);
    host.show();
    host.setGhosts(bar, {QRectF(0, 0, 40, 20), 4, 1, 1, &Bar::paint});
    EXPECT_EQ(host.reach(bar), QRegion(26, 30, 4, 20).united(QRegion(70, 30, 4, 20)));
    panel->move(30, 10);
    EXPECT_EQ(host.reach(bar), QRegion(46, 30, 4, 20).united(QRegion(90, 30, 4, 20)));
    panel->hide();
    EXPECT_TRUE(host.reach(bar).isEmpty());
}

} // namespace
} // namespace zelvo::stage
