// The stage in every window the program allows: each control a user can
// reach (named widgets, and the hit areas drawn inside them: pads, mode chips,
// part dots, lane chips) lies inside the window, inside the widget that takes
// its clicks, and under no other control.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "audio/DeckVoice.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/stage/DeckCardPieces.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/MachineStrip.h"
#include "ui/stage/PadMirror.h"
#include "ui/stage/StageBrowser.h"
#include "ui/stage/RootView.h"
#include "ui/stage/StageSides.h"
#include "ui/stage/StageView.h"

#include <QApplication>
#include <QLayout>
#include <gtest/gtest.h>

#include <sstream>

namespace zelvo::stage {
namespace {

struct Element {
    QString name;
    QRectF rect;             // in the root's coordinates
    const QWidget* owner;    // the widget itself, or the widget a drawn area lies in
    bool drawn = false;
};

QString describe(const QRectF& r)
{
    return QStringLiteral("(%1,%2 %3×%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QRectF inRoot(const QWidget* widget, const QWidget* root, const QRectF& local)
{
    return local.translated(widget->mapTo(root, QPoint(0, 0)));
}

bool shown(const QWidget* widget, const QWidget* root)
{
    return widget->isVisibleTo(root) && widget->width() > 0 && widget->height() > 0 &&
           !widget->testAttribute(Qt::WA_TransparentForMouseEvents);
}

// The named widgets and the drawn hit areas the stage shows now.
std::vector<Element> elements(const QWidget* root)
{
    std::vector<Element> out;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        if (!shown(w, root))
            continue;
        const QString name = w->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            out.push_back({name, inRoot(w, root, QRectF(w->rect())), w});
        if (const auto* chips = qobject_cast<const PadChipRow*>(w))
            for (int i = 0; i < 6; ++i)
                out.push_back({name + QStringLiteral(" chip %1").arg(i),
                               inRoot(w, root, chips->chipRect(i).translated(1, 0)), w, true});
        if (const auto* pads = qobject_cast<const PadGridView*>(w))
            for (int i = 0; i < 8; ++i)
                out.push_back({name + QStringLiteral(" pad %1").arg(i), inRoot(w, root, pads->padRect(i)), w, true});
        if (const auto* header = qobject_cast<const LaneHeader*>(w); header && header->tall()) {
            for (int part = 0; part < 3; ++part)
                out.push_back({name + QStringLiteral(" part dot %1").arg(part),
                               inRoot(w, root, header->partRect(part)), w, true});
            const std::vector<QRectF> chips = header->chipRects();
            for (std::size_t i = 0; i < chips.size(); ++i)
                out.push_back({name + QStringLiteral(" chip %1").arg(i), inRoot(w, root, chips[i]), w, true});
        }
    }
    return out;
}

bool related(const Element& a, const Element& b)
{
    // A widget and what lies in it (its children, its drawn areas) may overlap;
    // two areas drawn in the same widget may not.
    if (a.owner == b.owner)
        return !(a.drawn && b.drawn);
    return a.owner->isAncestorOf(b.owner) || b.owner->isAncestorOf(a.owner);
}

bool overlaps(const QRectF& a, const QRectF& b)
{
    const QRectF both = a.intersected(b);
    return both.width() > 0.5 && both.height() > 0.5;
}

bool inside(const QRectF& inner, const QRectF& outer)
{
    return inner.left() >= outer.left() - 0.5 && inner.top() >= outer.top() - 0.5 &&
           inner.right() <= outer.right() + 0.5 && inner.bottom() <= outer.bottom() + 0.5;
}

// Everything wrong with what the stage shows, one line each.
std::vector<std::string> faults(const QWidget* root)
{
    std::vector<std::string> found;
    const std::vector<Element> all = elements(root);
    const QRectF window(root->rect());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Element& e = all[i];
        if (!inside(e.rect, window))
            found.push_back(QStringLiteral("%1 %2 is outside the window").arg(e.name, describe(e.rect)).toStdString());
        // A child or drawn area cut by the widget it lies in cannot be reached whole.
        const QWidget* holder = e.drawn ? e.owner : e.owner->parentWidget();
        if (holder && holder != root && !inside(e.rect, inRoot(holder, root, QRectF(holder->rect()))))
            found.push_back(QStringLiteral("%1 %2 is cut by %3 %4")
                                .arg(e.name, describe(e.rect), holder->objectName(),
                                     describe(inRoot(holder, root, QRectF(holder->rect()))))
                                .toStdString());
        for (std::size_t j = i + 1; j < all.size(); ++j)
            if (!related(e, all[j]) && overlaps(e.rect, all[j].rect))
                found.push_back(QStringLiteral("%1 %2 overlaps %3 %4")
                                    .arg(e.name, describe(e.rect), all[j].name, describe(all[j].rect))
                                    .toStdString());
    }
    return found;
}

struct FitRig {
    FitRig() : kit(1.0, true)
    {
        app.make();
        root = std::make_unique<RootView>(*app.app, kit.env());
        // The window's floor and first size, as the program sets them.
        root->setMinimumSize(1200, 810);
        root->resize(1600, 1080);
        root->show();
        QApplication::processEvents();
    }
    ~FitRig() { root.reset(); }

    // Lays the stage out at `width` × `height` (or the least the window allows).
    void show(int width, int height)
    {
        root->resize(width, height);
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }

    test::AppRig app;
    kit::test::KitRig kit;
    std::unique_ptr<RootView> root;
};

TEST(StageFit, EveryControlIsInsideTheWindowAndUncoveredAtEverySize)
{
    FitRig rig;
    AppModel& model = *rig.app.app;
    // The first layout already gives the middle row all it asks for.
    QWidget* middle = rig.root->stageView()->middleRow();
    ASSERT_NE(middle, nullptr);
    EXPECT_EQ(middle->height(), middle->sizeHint().height());
    // Chips in both lanes' headers, so their room is tried too.
    model.mixer().channel(0).setSync(true);
    model.mixer().channel(1).setSync(true);
    model.deck(0).setSlip(true);
    for (bool four : {false, true}) {
        rig.root->sides().setFourDecks(four);
        for (bool browsing : {false, true}) {
            model.setBrowseOpen(browsing);
            for (int width : {1200, 1600, 2400}) {
                for (int height : {810, 860, 900, 950, 1000, 1080, 1200, 1500}) {
                    rig.show(width, height);
                    const QString where = QStringLiteral("%1 × %2, %3, %4")
                                              .arg(width)
                                              .arg(height)
                                              .arg(four ? QStringLiteral("four decks") : QStringLiteral("two decks"),
                                                   browsing ? QStringLiteral("browsing") : QStringLiteral("not browsing"));
                    // The window may refuse to be that short; it is never narrower or shorter than asked.
                    EXPECT_EQ(rig.root->width(), width) << where.toStdString();
                    EXPECT_GE(rig.root->height(), height) << where.toStdString();
                    if (!four || browsing) {
                        EXPECT_EQ(rig.root->height(), height) << where.toStdString();
                    }
                    if (QWidget* row = rig.root->stageView()->middleRow()) {
                        EXPECT_EQ(row->height(), row->sizeHint().height()) << where.toStdString();
                    }
                    std::ostringstream report;
                    const std::vector<std::string> found = faults(rig.root.get());
                    for (std::size_t i = 0; i < found.size() && i < 12; ++i)
                        report << "\n  " << found[i];
                    EXPECT_TRUE(found.empty()) << where.toStdString() << ": " << found.size() << report.str();
                }
            }
        }
    }
}

TEST(StageFit, TheTallLaneHeaderHoldsEveryRowFromItsShortestHeight)
{
    FitRig rig;
    StageView& stage = *rig.root->stageView();
    LaneHeader* header = stage.lane(1)->header();
    // Every chip asked for at once; the widest first, as the header orders them.
    const std::vector<ChipFace> chips{{QStringLiteral("+45s written"), true},
                                      {QStringLiteral("master"), true},
                                      {QStringLiteral("sync"), true},
                                      {QStringLiteral("loop"), true}};
    const std::vector<ChipFace> small{{QStringLiteral("master"), true}, {QStringLiteral("sync"), true}};
    for (int height : {80, 96, 112}) {
        header->setFixedHeight(height);
        header->setTall(true);
        const QRectF lane(header->rect());
        const HeaderRows rows = headerRows(height, true);
        EXPECT_GE(rows.row1, 0) << height;
        EXPECT_LE(rows.bottom, height) << height;
        EXPECT_LE(rows.row1 + rows.row1Height, rows.row2) << height;
        EXPECT_LE(rows.row2 + rows.row2Height, rows.strip) << height;
        EXPECT_LE(rows.strip + rows.stripHeight, rows.row3) << height;
        for (int part = 0; part < 3; ++part)
            EXPECT_TRUE(inside(header->partRect(part), lane)) << height << " part " << part;
        for (const auto& asked : {chips, small}) {
            const std::vector<QRectF> placed = header->chipRects(asked);
            ASSERT_FALSE(placed.empty()) << height;
            for (std::size_t i = 0; i < placed.size(); ++i) {
                EXPECT_TRUE(inside(placed[i], lane)) << height << " chip " << i;
                EXPECT_GT(placed[i].top(), rows.strip + rows.stripHeight) << height << " chip " << i;
                for (int part = 0; part < 3; ++part)
                    EXPECT_FALSE(overlaps(placed[i], header->partRect(part))) << height << " chip " << i;
                // Whole chips, as wide as their text asks.
                EXPECT_DOUBLE_EQ(placed[i].width(), chipSize(asked[i].text).width()) << height;
            }
        }
        // Written-ahead and master cannot both fit right of the dots: the
        // written-ahead chip stays, the others drop out whole.
        EXPECT_EQ(header->chipRects(chips).size(), 1u) << height;
        EXPECT_EQ(header->chipRects(small).size(), 2u) << height;
    }
}

TEST(StageFit, ShortFourDeckWindowsHideTheBrowserThenCompactTheStripThenGrow)
{
    FitRig rig;
    StageView& stage = *rig.root->stageView();
    rig.root->sides().setFourDecks(true);
    rig.show(1200, 810);
    MachineStrip* strip = stage.strip();
    ASSERT_NE(strip, nullptr);
    // At the window's floor the four-deck middle row leaves the browser no
    // room: it goes, and the strip keeps its full form.
    EXPECT_EQ(rig.root->height(), 810);
    EXPECT_FALSE(stage.browser()->isVisible());
    EXPECT_FALSE(strip->compact());
    EXPECT_EQ(stage.middleRow()->height(), stage.middleRow()->sizeHint().height());
    // The strip knows its height in either form without changing form.
    for (bool compact : {true, false}) {
        strip->setCompact(compact);
        strip->layout()->activate();
        EXPECT_EQ(strip->heightIn(compact), strip->sizeHint().height()) << compact;
        EXPECT_EQ(strip->heightIn(!compact), strip->heightIn(!compact)) << compact;
        EXPECT_EQ(strip->compact(), compact);
    }
    EXPECT_LT(strip->heightIn(true), strip->heightIn(false));

    // Below that (a window given a lower floor) the strip takes its compact
    // form and the stage asks for the height the row needs: the view grows to it.
    rig.root->setMinimumSize(1200, 500);
    rig.show(1200, 500);
    EXPECT_TRUE(strip->compact());
    EXPECT_GT(stage.leastHeight(), 500);
    EXPECT_EQ(rig.root->height(), stage.leastHeight());
    EXPECT_TRUE(faults(rig.root.get()).empty()) << faults(rig.root.get()).front();

    // A tall window gives the strip back its full form and the browser its floor;
    // back in two decks the floor is the window's own again.
    rig.show(1200, 1080);
    EXPECT_FALSE(strip->compact());
    EXPECT_TRUE(stage.browser()->isVisible());
    EXPECT_EQ(stage.browser()->minimumHeight(), 150);
    rig.root->sides().setFourDecks(false);
    rig.show(1200, 500);
    EXPECT_EQ(stage.leastHeight(), 0);
    EXPECT_EQ(rig.root->height(), 500);
}

} // namespace
} // namespace zelvo::stage
