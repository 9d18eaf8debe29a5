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
#include "ui/stage/StatusBar.h"
#include "ui/stage/TourSpots.h"

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

QRect inRootRect(const QWidget* widget, const QWidget* root)
{
    return QRect(widget->mapTo(root, QPoint(0, 0)), widget->size());
}

// Where the stage's column loses its rhythm: the status bar, the lanes, the
// middle row (deck panels and mixer card over the machine strip) and the
// browser stand 10 points apart, the lanes 6; the deck panels and the mixer
// card share their top and bottom edges.
std::vector<std::string> rhythmFaults(const QWidget* root, StageView& stage, bool four)
{
    std::vector<std::string> found;
    const auto gap = [&](const char* what, const QWidget* upper, const QWidget* lower, int want) {
        const int got = inRootRect(lower, root).top() - inRootRect(upper, root).bottom() - 1;
        if (got != want)
            found.push_back(QStringLiteral("%1: %2 points, not %3").arg(QLatin1String(what)).arg(got).arg(want).toStdString());
    };
    const QWidget* status = root->findChild<QWidget*>(QStringLiteral("statusBar"));
    const QWidget* lanes = stage.lanesBlock();
    if (!status)
        found.push_back("no status bar");
    else
        gap("status bar to lanes", status, lanes, 10);
    const std::vector<int> order = deckOrder(four);
    for (std::size_t i = 1; i < order.size(); ++i)
        gap("lane to lane", stage.lane(order[i - 1]), stage.lane(order[i]), 6);
    const QWidget* last = stage.lane(order.back());
    if (inRootRect(lanes, root).bottom() != inRootRect(last, root).bottom())
        found.push_back("the lanes block ends below its last lane");
    const QWidget* above = lanes;
    if (QWidget* middle = stage.middleRow()) {
        gap("lanes to middle row", lanes, middle, 10);
        const QWidget* strip = stage.strip();
        QWidget* mixer = middle->findChild<QWidget*>(QStringLiteral("liveMixer"));
        if (!mixer)
            mixer = middle->findChild<QWidget*>(QStringLiteral("djmCard"));
        if (!mixer)
            found.push_back("no mixer card in the middle row");
        int panelsBottom = 0;
        for (const QWidget* panel : middle->findChildren<QWidget*>()) {
            if (!panel->objectName().startsWith(QLatin1String("deckPanel.")) || panel->objectName().count('.') != 1)
                continue;
            const QRect p = inRootRect(panel, root), m = mixer ? inRootRect(mixer, root) : p;
            if (std::abs(p.top() - m.top()) > 1 || std::abs(p.bottom() - m.bottom()) > 1)
                found.push_back(QStringLiteral("%1 %2 beside the mixer card %3")
                                    .arg(panel->objectName(), describe(p), describe(m))
                                    .toStdString());
            panelsBottom = std::max(panelsBottom, p.bottom());
        }
        if (strip && strip->mapTo(root, QPoint(0, 0)).y() - panelsBottom - 1 != 10)
            found.push_back(QStringLiteral("middle row to machine strip: %1 points, not 10")
                                .arg(strip->mapTo(root, QPoint(0, 0)).y() - panelsBottom - 1)
                                .toStdString());
        above = middle;
    }
    if (stage.browser()->isVisible())
        gap("browser under its neighbour", above, stage.browser(), 10);
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
                for (int height : {810, 830, 850, 860, 870, 880, 900, 950, 1000, 1080, 1200, 1500}) {
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
                    // The column keeps its rhythm, also where the browser is hidden.
                    std::vector<std::string> found = rhythmFaults(rig.root.get(), *rig.root->stageView(), four);
                    // The tour's crate step points at something the user can see and use:
                    // the browser, or the top bar's browse key while the browser is hidden.
                    const auto spots = tourSpots(rig.root.get());
                    if (!spots.count(TourSpot::crate)) {
                        found.push_back("the tour's crate spot is missing");
                    } else if (const QRect crate = spots.at(TourSpot::crate);
                               crate.isEmpty() || !inside(QRectF(crate), QRectF(rig.root->rect()))) {
                        found.push_back(QStringLiteral("the tour's crate spot %1 is not on screen")
                                            .arg(describe(QRectF(crate)))
                                            .toStdString());
                    } else if (!rig.root->stageView()->browser()->isVisible() &&
                               crate != inRootRect(rig.root->stageView()->findChild<StatusBar*>()->browseKey(),
                                                   rig.root.get())) {
                        found.push_back("with the browser hidden the crate spot is not the browse key");
                    }
                    std::ostringstream report;
                    for (const std::string& fault : faults(rig.root.get()))
                        found.push_back(fault);
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
    // The four a stopped deck may carry at once.
    const std::vector<ChipFace> four{{QStringLiteral("master"), true},
                                     {QStringLiteral("sync"), true},
                                     {QStringLiteral("loop"), true},
                                     {QStringLiteral("slip"), true}};
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
        for (const auto& asked : {chips, small, four}) {
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
        // The deck is stopped: no phrase frame, so the dots follow the beat
        // boxes and all four status chips fit; with the written-ahead chip
        // first, the last in order drops out whole.
        EXPECT_LT(header->partRect(0).left(), 12 + 53 + 70) << height;
        EXPECT_EQ(header->chipRects(four).size(), 4u) << height;
        EXPECT_EQ(header->chipRects(chips).size(), 3u) << height;
        EXPECT_EQ(header->chipRects(small).size(), 2u) << height;
    }
}

TEST(StageFit, ThePhraseFrameMovesTheDotsAndNarrowsTheChips)
{
    const HeaderRow3 stopped = headerRow3(330, false, 5.5);
    const HeaderRow3 playing = headerRow3(330, true, 5.5);
    // The phrase frame and its gap push the dots and the chips' room right.
    EXPECT_DOUBLE_EQ(playing.part[0] - stopped.part[0], 73);
    EXPECT_DOUBLE_EQ(playing.chipsLeft - stopped.chipsLeft, 73);
    std::vector<double> widths;
    for (const char* text : {"master", "sync", "loop", "slip"})
        widths.push_back(chipSize(QString::fromLatin1(text)).width());
    EXPECT_EQ(chipsThatFit(widths, stopped.chipsRight - stopped.chipsLeft, 4), 4);
    EXPECT_EQ(chipsThatFit(widths, playing.chipsRight - playing.chipsLeft, 4), 2);
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
        EXPECT_EQ(strip->compact(), compact);
        // What it says the other form needs is what that form takes once chosen.
        const int other = strip->heightIn(!compact);
        strip->setCompact(!compact);
        strip->layout()->activate();
        EXPECT_EQ(strip->sizeHint().height(), other) << compact;
        strip->setCompact(compact);
        strip->layout()->activate();
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
