#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "support/LibraryFixtures.h"
#include "ui/kit/LiveClock.h"
#include "ui/stage/StageBrowser.h"
#include "ui/stage/StageField.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/RootView.h"
#include "ui/stage/StageSides.h"
#include "ui/stage/StageView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace zelvo::stage {
namespace {

// A library of `count` fixture records (keys, grids, every fifth a take) with
// waveforms for the even ones, and a browser over it.
struct BrowserRig {
    explicit BrowserRig(int count = 40)
    {
        std::vector<TrackRecord> records;
        for (int i = 0; i < count; ++i) {
            test::RecordFields fields;
            fields.title = QStringLiteral("song %1").arg(i, 3, 10, QLatin1Char('0'));
            fields.key = MusicalKey(i % 12, i % 2 == 0);
            fields.added = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(-i);
            if (i % 5 == 4)
                fields.outpaint = OutpaintInfo{};
            records.push_back(test::fixtureRecord(fields));
            records.back().path = QDir::homePath() + QStringLiteral("/music/song%1.wav").arg(i);
        }
        test::writeCollection(records);
        app.make();
        WaveformData wave;
        for (int p = 0; p < 500; ++p) {
            wave.low.push_back(std::uint8_t(p % 200));
            wave.mid.push_back(100);
            wave.high.push_back(50);
        }
        for (int i = 0; i < count; i += 2)
            model().library().storeWaveform(wave, records[std::size_t(i)].id);
        browser = std::make_unique<StageBrowser>(model(), kit.env(), true);
        browser->setSides(&sides);
        browser->resize(1200, 309);
        browser->show();
        QApplication::processEvents();
    }
    AppModel& model() const { return *app.app; }
    StageBrowserList& list() const { return *browser->list(); }
    QWidget* viewport() const { return list().viewport(); }
    // The centre of row `row`'s part: the middle of its name, or a button.
    QPoint at(int row, RowHit hit = {}) const
    {
        const QRect rect = list().rowRect(row);
        const StageRowGeometry g = stageRowGeometry(rect.width(), list().deckCount());
        QPointF p = g.name.center();
        if (hit.kind == RowHit::Kind::deck)
            p = g.decks.at(std::size_t(hit.deck)).center();
        else if (hit.kind == RowHit::Kind::queue)
            p = g.queue.center();
        return rect.topLeft() + p.toPoint();
    }
    QStringList menuTexts(int row)
    {
        QStringList out;
        const std::unique_ptr<QMenu> menu = list().menuFor(row);
        for (QAction* action : menu->actions())
            out << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return out;
    }
    void trigger(int row, const QString& text)
    {
        std::unique_ptr<QMenu> menu = list().menuFor(row);
        for (QAction* action : menu->actions())
            if (action->text() == text)
                return action->trigger();
        ADD_FAILURE() << "no item " << text.toStdString();
    }

    test::AppRig app;
    kit::test::KitRig kit;
    StageSides sides;
    std::unique_ptr<StageBrowser> browser;
};

TEST(StageBrowserWidget, HeaderTabsChipsSearchAndEmptyState)
{
    BrowserRig rig(6);
    AppModel& model = rig.model();
    EXPECT_EQ(rig.list().records().size(), 5u); // the take lists under its own tab
    EXPECT_GE(rig.browser->minimumHeight(), 260);
    rig.browser->setExpanded(false);
    EXPECT_EQ(rig.browser->minimumHeight(), 150);

    // The current tab and chip follow the model, also when it changes elsewhere.
    const auto current = [&](const char* name) {
        auto* key = rig.browser->findChild<QAbstractButton*>(name);
        return key && key->property("current").toBool();
    };
    auto* bpm = rig.browser->findChild<QAbstractButton*>("stageBrowser.chip.bpm");
    ASSERT_NE(bpm, nullptr);
    EXPECT_EQ(bpm->toolTip(), "slow to fast");
    EXPECT_TRUE(current("stageBrowser.tab.collection"));
    EXPECT_TRUE(current("stageBrowser.chip.added"));
    QTest::mouseClick(bpm, Qt::LeftButton);
    EXPECT_EQ(model.browserSort(), AppModel::BrowserSort::bpm);
    EXPECT_TRUE(current("stageBrowser.chip.bpm"));
    EXPECT_FALSE(current("stageBrowser.chip.added"));
    EXPECT_TRUE(current("stageBrowser.tab.collection"));
    QTest::mouseClick(bpm, Qt::LeftButton); // again: nothing changes
    EXPECT_TRUE(current("stageBrowser.chip.bpm"));
    model.setBrowserSort(AppModel::BrowserSort::title);
    for (const char* chip : {"added", "bpm", "key", "energy", "tune", "harmony", "tempo", "intensity"})
        EXPECT_FALSE(current((QByteArray("stageBrowser.chip.") + chip).constData())) << chip;
    model.setBrowserSort(AppModel::BrowserSort::bpm);
    EXPECT_EQ(rig.browser->findChild<QAbstractButton*>("stageBrowser.chip.a–z"), nullptr);

    // Takes: one in the fixture (record 4); the search narrows the list after one turn.
    QTest::mouseClick(rig.browser->findChild<QAbstractButton*>("stageBrowser.tab.outpaints"), Qt::LeftButton);
    EXPECT_EQ(model.browserSource(), AppModel::BrowserSource::outpaints);
    EXPECT_TRUE(current("stageBrowser.tab.outpaints"));
    EXPECT_FALSE(current("stageBrowser.tab.collection"));
    QApplication::processEvents();
    ASSERT_EQ(rig.list().records().size(), 1u);
    EXPECT_TRUE(rig.list().records()[0].outpaint);
    QTest::mouseClick(rig.browser->findChild<QAbstractButton*>("stageBrowser.tab.collection"), Qt::LeftButton);
    auto* search = rig.browser->findChild<StageField*>("stageBrowser.search");
    ASSERT_NE(search, nullptr);
    QTest::mouseClick(search, Qt::LeftButton);
    QTest::keyClicks(search, "song 003");
    QApplication::processEvents();
    EXPECT_EQ(model.browserQuery(), "song 003");
    ASSERT_EQ(rig.list().records().size(), 1u);
    EXPECT_EQ(rig.list().records()[0].title, "song 003");

    // Nothing found: the empty list says what to do and paints no row.
    model.setBrowserQuery("nothing like it");
    QApplication::processEvents();
    EXPECT_TRUE(rig.list().records().empty());
    const std::int64_t painted = rig.list().rowsPainted();
    rig.viewport()->repaint();
    EXPECT_EQ(rig.list().rowsPainted(), painted);
}

TEST(StageBrowserWidget, RowsSelectLoadQueueAndOfferTheirMenuAndFile)
{
    BrowserRig rig;
    AppModel& model = rig.model();
    StageBrowserList& list = rig.list();
    const TrackRecord second = list.records().at(1);

    QTest::mouseClick(rig.viewport(), Qt::LeftButton, {}, rig.at(1));
    EXPECT_EQ(model.selectedTrack(), second.id);
    EXPECT_TRUE(list.lookOf(1).selected);
    EXPECT_FALSE(list.lookOf(0).selected);

    // Queue button twice: in, then out, with the menu following.
    QTest::mouseClick(rig.viewport(), Qt::LeftButton, {}, rig.at(1, {RowHit::Kind::queue}));
    QApplication::processEvents();
    EXPECT_EQ(model.queue(), std::vector<QUuid>{second.id});
    EXPECT_TRUE(rig.menuTexts(1).contains("Remove from Queue"));
    QTest::mouseClick(rig.viewport(), Qt::LeftButton, {}, rig.at(1, {RowHit::Kind::queue}));
    QApplication::processEvents();
    EXPECT_TRUE(model.queue().empty());
    EXPECT_TRUE(rig.menuTexts(1).contains("Add to Queue"));
    // Buttons explain themselves.
    const auto help = [&](QPoint at) {
        QHelpEvent event(QEvent::ToolTip, at, rig.viewport()->mapToGlobal(at));
        QApplication::sendEvent(rig.viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(help(rig.at(2, {RowHit::Kind::deck, 1})), "load on deck 2");
    EXPECT_EQ(help(rig.at(2, {RowHit::Kind::queue})), "add to the queue");
    // A press on a button that is released elsewhere does nothing.
    QTest::mousePress(rig.viewport(), Qt::LeftButton, {}, rig.at(2, {RowHit::Kind::queue}));
    QTest::mouseRelease(rig.viewport(), Qt::LeftButton, {}, rig.at(5));
    EXPECT_TRUE(model.queue().empty());
    rig.trigger(1, "Add to Queue");
    EXPECT_EQ(model.queue(), std::vector<QUuid>{second.id});

    // Takes (under their own tab) get the extra item; the drag carries the file.
    EXPECT_FALSE(rig.menuTexts(1).contains("Put This Take on Deck 2"));
    model.setBrowserSource(AppModel::BrowserSource::outpaints);
    QApplication::processEvents();
    ASSERT_TRUE(list.records().at(0).outpaint);
    EXPECT_TRUE(list.lookOf(0).take);
    EXPECT_TRUE(rig.menuTexts(0).contains("Put This Take on Deck 2"));
    rig.trigger(0, "Put This Take on Deck 2"); // no workflow linked: nothing happens
    model.setBrowserSource(AppModel::BrowserSource::collection);
    QApplication::processEvents();
    const std::unique_ptr<QMimeData> mime = list.mimeFor(1);
    ASSERT_TRUE(mime);
    EXPECT_EQ(mime->urls(), QList<QUrl>{QUrl::fromLocalFile(second.path)});
    EXPECT_FALSE(list.mimeFor(-1));
    EXPECT_FALSE(list.menuFor(int(list.records().size())));

    // Show in Folder opens the folder through the desktop services.
    rig.trigger(1, "Show in Folder");
    ASSERT_EQ(rig.kit.desktop.opened.size(), 1);
    EXPECT_EQ(rig.kit.desktop.opened[0], QUrl::fromLocalFile(QDir::homePath() + "/music"));

    // Four decks: four buttons and items; the double click follows the left half.
    rig.sides.setFourDecks(true);
    EXPECT_EQ(list.deckCount(), 4);
    EXPECT_EQ(rig.menuTexts(2).mid(0, 5), QStringList({"Load on Deck 1", "Load on Deck 2", "Load on Deck 3",
                                                       "Load on Deck 4", "-"}));
    rig.sides.setLeftDeck(2);
    EXPECT_EQ(list.leftDeck(), 2);

    // Removing from the collection asks nothing and keeps the file list in step.
    const QUuid removed = list.records().at(3).id;
    rig.trigger(3, "Remove from Collection");
    QApplication::processEvents();
    EXPECT_FALSE(model.library().track(removed));
    EXPECT_EQ(list.records().size(), 31u);
}

TEST(StageBrowserWidget, ASelectionFromOutsideScrollsItsRowToTheCentre)
{
    BrowserRig rig(100);
    StageBrowserList& list = rig.list();
    const int view = rig.viewport()->height();
    ASSERT_GT(view, 200);
    EXPECT_EQ(list.scrollOffset(), 0);
    // The wheel scrolls though no scroll bar shows.
    const QPointF middle(rig.viewport()->rect().center());
    QWheelEvent wheel(middle, rig.viewport()->mapToGlobal(middle), {}, {0, -120}, Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(rig.viewport(), &wheel);
    EXPECT_GT(list.scrollOffset(), 0);
    list.verticalScrollBar()->setValue(0);
    rig.model().setSelectedTrack(list.records().at(50).id);
    ASSERT_TRUE(list.scrolling());
    const int target = int(std::lround(50.5 * 30 - view / 2.0));
    rig.kit.scheduler.advance(0.05);
    QApplication::processEvents();
    EXPECT_GT(list.scrollOffset(), 0);
    EXPECT_LT(list.scrollOffset(), target);
    rig.kit.scheduler.advance(0.1);
    QApplication::processEvents();
    EXPECT_FALSE(list.scrolling());
    EXPECT_EQ(list.scrollOffset(), target);
    // The row now sits across the middle of the view.
    EXPECT_LT(std::abs(list.rowRect(50).center().y() - view / 2), 2);

    // The last row cannot scroll past the end; clearing the selection scrolls nothing.
    rig.model().setSelectedTrack(list.records().back().id);
    rig.kit.scheduler.advance(0.2);
    QApplication::processEvents();
    EXPECT_EQ(list.scrollOffset(), list.verticalScrollBar()->maximum());
    rig.model().setSelectedTrack(std::nullopt);
    EXPECT_FALSE(list.scrolling());

    // A selection set together with a new list scrolls once the list is read.
    rig.model().setBrowserSort(AppModel::BrowserSort::bpm);
    rig.model().setSelectedTrack(list.records().front().id);
    QApplication::processEvents();
    rig.kit.scheduler.advance(0.2);
    QApplication::processEvents();
    EXPECT_EQ(list.rowRect(0).top() + list.scrollOffset(), 0);

    // Only the rows in view are painted.
    const std::int64_t before = list.rowsPainted();
    rig.viewport()->repaint();
    EXPECT_LE(list.rowsPainted() - before, view / 30 + 2);
    EXPECT_GT(list.rowsPainted() - before, 0);
}

TEST(StageBrowserWidget, DropsAndTheImportKeyAddToTheLibrary)
{
    BrowserRig rig(0);
    AppModel& model = rig.model();
    const QString dir = QDir::homePath();
    for (const char* name : {"a.wav", "b.wav"})
        test::writeTone(dir + "/" + name, 0.3);
    QFile text(dir + "/notes.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not audio");
    text.close();
    const auto url = [&](const char* name) { return QUrl::fromLocalFile(dir + "/" + name); };

    EXPECT_FALSE(rig.browser->dropUrls({url("notes.txt")}));
    EXPECT_TRUE(rig.browser->dropUrls({url("a.wav"), url("notes.txt")}));
    EXPECT_FALSE(rig.browser->dropUrls({url("a.wav")})); // known already
    QApplication::processEvents();
    EXPECT_EQ(rig.list().records().size(), 1u);

    QStringList asked;
    model.setImportChooser([&](const QString& start) {
        asked << start;
        return QStringList{dir + "/b.wav"};
    });
    QTest::mouseClick(rig.browser->findChild<QAbstractButton*>("stageBrowser.importKey"), Qt::LeftButton);
    EXPECT_EQ(asked.size(), 1);
    QApplication::processEvents();
    EXPECT_EQ(model.library().tracks().size(), 2u);
    EXPECT_EQ(rig.list().records().size(), 2u);
}

TEST(StageBrowserWidget, OnTheStageADoubleClickLoadsDeckOneAndTheTwoKeyDeckTwo)
{
    test::AppRig app;
    kit::test::KitRig kit;
    AppModel& model = app.make();
    app.addOutput();
    ASSERT_TRUE(app.bootWithOutput());
    RootView root(model, kit.env());
    root.resize(1600, 1080);
    root.show();
    QApplication::processEvents();
    StageBrowser* browser = root.stageView()->browser();
    ASSERT_NE(browser, nullptr);
    StageBrowserList& list = *browser->list();
    for (const char* name : {"one.wav", "two.wav"}) {
        const QString path = QDir::homePath() + "/" + name;
        test::writeTone(path, 1.0);
        ASSERT_TRUE(browser->dropUrls({QUrl::fromLocalFile(path)}));
    }
    model.setBrowserSort(AppModel::BrowserSort::title);
    QApplication::processEvents();
    ASSERT_EQ(list.records().size(), 2u);
    const TrackRecord one = list.records()[0];
    const TrackRecord two = list.records()[1];
    ASSERT_EQ(one.title, "one");
    const auto at = [&](int row, RowHit hit) {
        const QRect rect = list.rowRect(row);
        const StageRowGeometry g = stageRowGeometry(rect.width(), list.deckCount());
        return rect.topLeft() + (hit.kind == RowHit::Kind::deck ? g.decks.at(std::size_t(hit.deck)) : g.name)
                                    .center()
                                    .toPoint();
    };

    model.setBrowseOpen(true);
    QApplication::processEvents();
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at(0, {}));
    EXPECT_EQ(model.selectedTrack(), one.id);
    EXPECT_FALSE(model.browseOpen()); // a load closes the browser
    ASSERT_TRUE(test::spinUntil([&] { return model.deck(0).track() && !model.deck(0).loading(); }));
    EXPECT_EQ(model.deck(0).track()->id, one.id);

    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at(1, {RowHit::Kind::deck, 1}));
    ASSERT_TRUE(test::spinUntil([&] { return model.deck(1).track() && !model.deck(1).loading(); }));
    EXPECT_EQ(model.deck(1).track()->id, two.id);
    EXPECT_EQ(model.selectedTrack(), one.id); // a button does not select
    EXPECT_FALSE(model.deck(2).track());

    // The reference follows the crossfader: the record it names has no match.
    model.mixer().setCrossfader(-1);
    QApplication::processEvents();
    const auto matchOf = [&](const TrackRecord& record) {
        for (int row = 0; row < int(list.records().size()); ++row)
            if (list.records()[std::size_t(row)].id == record.id)
                return list.lookOf(row).match;
        return QStringLiteral("?");
    };
    EXPECT_TRUE(matchOf(one).isEmpty());
    EXPECT_FALSE(matchOf(two).isEmpty());
    model.mixer().setCrossfader(1);
    QApplication::processEvents();
    EXPECT_FALSE(matchOf(one).isEmpty());
    EXPECT_TRUE(matchOf(two).isEmpty());

    // The stage hands the browser its sides: four decks under the four-deck
    // layout, and the double click follows the left half.
    root.sides().setFourDecks(true);
    root.sides().setLeftDeck(2);
    QApplication::processEvents();
    EXPECT_EQ(list.deckCount(), 4);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at(1, {}));
    ASSERT_TRUE(test::spinUntil([&] { return model.deck(2).track() && !model.deck(2).loading(); }));
    EXPECT_EQ(model.deck(2).track()->id, two.id);
    root.grab().save(QStringLiteral(ZELVO_BINARY_DIR "/stage-browser.png"));
}

} // namespace
} // namespace zelvo::stage
