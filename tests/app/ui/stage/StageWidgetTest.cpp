#include "state/AppModel.h"
#include "state/KeyboardMap.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"
#include "controllers/ControllerModel.h"
#include "models/AudioSystem.h"
#include "platform/VirtualMidiSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "ui/instrument/Instrument.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/Palette.h"
#include "ui/stage/ControlEchoView.h"
#include "ui/stage/ControllerSides.h"
#include "ui/stage/DeckLane.h"
#include "ui/stage/StageField.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/TourSpots.h"
#include "ui/stage/RootView.h"
#include "ui/stage/StagePanels.h"
#include "ui/stage/StageSides.h"
#include "ui/stage/StageView.h"

#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "models/AudioSystem.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QSet>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace zelvo::stage {
namespace {

struct StageRig {
    explicit StageRig(bool snapshot = false, LibraryStore::Analyzer analyzer = {}) : kit(1.0, snapshot)
    {
        app.analyzer = std::move(analyzer);
        app.make();
        root = std::make_unique<RootView>(*app.app, kit.env());
        root->resize(1600, 1080);
        root->show();
        QApplication::processEvents();
    }
    ~StageRig() { root.reset(); }

    StageView& stage() const { return *root->stageView(); }
    StageSides& sides() const { return root->sides(); }
    AppModel& model() const { return *app.app; }

    test::AppRig app;
    kit::test::KitRig kit;
    std::unique_ptr<RootView> root;
};

TEST(StageWidget, TheStageFollowsTheControllerModelAndShowsTheEchoDemo)
{
    StageRig rig;
    // The controller runs on the screens' scheduler, as in the program.
    ManualScheduler& clock = rig.kit.scheduler;
    clock.advance(5);
    ControllerModel::Setup setup;
    auto midi = std::make_shared<VirtualMidiSystem>();
    setup.midiSystem = [midi] { return std::static_pointer_cast<MidiSystem>(midi); };
    setup.handshake = [](ControllerKind) { return UsbVendorOut{7, UsbBackend::OpenStatus::opened}; };
    ControllerModel controller(*rig.app.defaults, clock, {QStringLiteral("x"), QStringLiteral("--echo-demo")},
                               nullptr, setup);
    controller.selectDeck(2);
    followController(rig.sides(), controller);
    QApplication::processEvents();
    // The state at binding time is copied; no deck glows for the model's unset stamps.
    EXPECT_EQ(rig.sides().leftDeck(), 2);
    EXPECT_FALSE(rig.sides().fourDecks());
    for (int deck = 0; deck < 4; ++deck)
        EXPECT_LT(rig.sides().touchedAt(deck), 0) << deck;
    EXPECT_EQ(rig.model().stageDeckOrder(), (std::vector<int>{0, 1}));

    controller.setSurfaceChoice(ControllerModel::SurfaceChoice::flx10);
    QApplication::processEvents();
    EXPECT_TRUE(rig.sides().fourDecks());
    ASSERT_NE(rig.stage().lane(3), nullptr);
    EXPECT_EQ(rig.stage().lane(2)->height(), 112);
    EXPECT_EQ(rig.stage().lane(0)->height(), 42);
    EXPECT_TRUE(controller.isTargeted(2) && controller.isTargeted(1) && !controller.isTargeted(0));

    controller.selectDeck(3);
    controller.setBrowsedAt(clock.uptime());
    controller.touch(3);
    QApplication::processEvents();
    EXPECT_EQ(rig.sides().rightDeck(), 3);
    EXPECT_TRUE(rig.sides().digging());
    EXPECT_EQ(rig.stage().middleRow(), nullptr);
    EXPECT_DOUBLE_EQ(rig.sides().touchedAt(3), clock.uptime());
    EXPECT_LT(rig.sides().touchedAt(1), 0);

    // "--echo-demo": once started, a card comes every quarter second and shows over the lanes.
    EXPECT_FALSE(rig.sides().echo());
    controller.start();
    clock.advance(0.25);
    QApplication::processEvents();
    ASSERT_TRUE(rig.sides().echo());
    EXPECT_EQ(rig.sides().echo()->title, QStringLiteral("ch1 low"));
    EXPECT_DOUBLE_EQ(rig.sides().touchedAt(0), clock.uptime());
    EXPECT_TRUE(rig.stage().echo()->ticking());

    controller.setSurfaceChoice(ControllerModel::SurfaceChoice::flx4);
    QApplication::processEvents();
    EXPECT_FALSE(rig.sides().fourDecks());
    EXPECT_FALSE(rig.stage().lane(3)->isVisible());
}

TEST(StageWidget, LanesKeepTheirWaveViewsAndFoldWithTheControllerSides)
{
    StageRig rig;
    StageView& stage = rig.stage();
    ASSERT_NE(stage.lane(0), nullptr);
    ASSERT_NE(stage.lane(1), nullptr);
    EXPECT_EQ(stage.lane(2), nullptr);
    kit::WaveLaneView* first = stage.lane(0)->wave();
    EXPECT_EQ(stage.lane(0)->height(), 112);
    EXPECT_TRUE(stage.lane(0)->tall());

    rig.sides().setFourDecks(true);
    QApplication::processEvents();
    ASSERT_NE(stage.lane(3), nullptr);
    EXPECT_EQ(stage.lane(0)->wave(), first);
    for (int deck : {0, 1})
        EXPECT_TRUE(stage.lane(deck)->isVisible() && stage.lane(deck)->height() == 112) << deck;
    for (int deck : {2, 3})
        EXPECT_EQ(stage.lane(deck)->height(), 42) << deck;

    // The driven lane grows and the other folds over 0.15 s; the forms switch at once.
    rig.sides().setLeftDeck(2);
    QApplication::processEvents();
    EXPECT_FALSE(stage.lane(0)->tall());
    EXPECT_TRUE(stage.moving());
    rig.kit.scheduler.advance(0.075);
    QApplication::processEvents();
    EXPECT_GT(stage.lane(0)->height(), 42);
    EXPECT_LT(stage.lane(0)->height(), 112);
    EXPECT_NEAR(stage.lane(0)->height() + stage.lane(2)->height(), 112 + 42, 1);
    rig.kit.scheduler.advance(0.1);
    QApplication::processEvents();
    EXPECT_FALSE(stage.moving());
    EXPECT_EQ(stage.lane(0)->height(), 42);
    // A folded lane's wave view turns thin; the driven one stays full.
    EXPECT_TRUE(stage.lane(0)->wave()->thin());
    EXPECT_FALSE(stage.lane(2)->wave()->thin());
    EXPECT_EQ(stage.lane(2)->wave()->deckIndex(), 2);
    EXPECT_EQ(stage.lane(2)->height(), 112);
    EXPECT_TRUE(stage.lane(2)->tall());
    EXPECT_EQ(stage.lane(1)->height(), 112);

    rig.sides().setFourDecks(false);
    QApplication::processEvents();
    EXPECT_EQ(stage.lane(0)->wave(), first);
    EXPECT_FALSE(stage.lane(2)->isVisible());
    EXPECT_FALSE(stage.lane(3)->isVisible());
    EXPECT_EQ(stage.lane(0)->height(), 112);
}

TEST(StageWidget, BrowsingGivesTheMiddleRowToTheBrowser)
{
    StageRig rig;
    StageView& stage = rig.stage();
    ASSERT_NE(stage.middleRow(), nullptr);
    EXPECT_NE(stage.middleRow()->findChild<LiveMixer*>(), nullptr);
    EXPECT_EQ(stage.browser()->minimumHeight(), 150);

    const int full = stage.middleRow()->height();
    const int lanes = stage.lane(0)->height();
    ASSERT_GT(full, 0);
    const auto step = [&](double seconds) {
        rig.kit.scheduler.advance(seconds);
        QApplication::processEvents();
    };

    // Over 0.2 s the row fades out toward its bottom edge while the browser
    // takes its space; then the row is gone.
    rig.model().setBrowseOpen(true);
    QApplication::processEvents();
    EXPECT_EQ(stage.middleRow(), nullptr);
    EXPECT_EQ(tourSpots(rig.root.get()).count(TourSpot::mixer), 0u) << "a leaving row is no tour spot";
    step(0.1);
    auto* leaving = stage.findChild<QWidget*>(QStringLiteral("stage.middle"));
    ASSERT_NE(leaving, nullptr);
    EXPECT_GT(leaving->height(), 0);
    EXPECT_LT(leaving->height(), full);
    EXPECT_GT(stage.browser()->minimumHeight(), 150);
    EXPECT_LT(stage.browser()->minimumHeight(), 260);
    step(0.15);
    EXPECT_FALSE(stage.moving());
    EXPECT_EQ(stage.findChild<DeckPanel*>(), nullptr);
    EXPECT_EQ(stage.browser()->minimumHeight(), 260);
    EXPECT_LE(stage.lane(0)->height(), lanes);

    // Closing brings a new row in from nothing; a quick reopen ends the first change.
    rig.model().setBrowseOpen(false);
    QApplication::processEvents();
    ASSERT_NE(stage.middleRow(), nullptr);
    step(0.05);
    EXPECT_LT(stage.middleRow()->height(), full);
    rig.sides().setDigging(true);
    QApplication::processEvents();
    EXPECT_EQ(stage.middleRow(), nullptr);
    EXPECT_EQ(stage.findChildren<QWidget*>(QStringLiteral("stage.middle")).size(), 1);
    step(0.25);
    EXPECT_EQ(stage.findChild<QWidget*>(QStringLiteral("stage.middle")), nullptr);
    rig.sides().setDigging(false);
    step(0.25);
    ASSERT_NE(stage.middleRow(), nullptr);
    EXPECT_EQ(stage.middleRow()->height(), full);
    EXPECT_EQ(stage.browser()->minimumHeight(), 150);

    // The deck panels follow the controller's sides.
    rig.sides().setRightDeck(3);
    QApplication::processEvents();
    const auto panels = stage.middleRow()->findChildren<DeckPanel*>();
    ASSERT_EQ(panels.size(), 2);
    EXPECT_EQ(panels[1]->deck().index(), 3);
}

TEST(StageWidget, StillRendersShowTheEndOfEveryChange)
{
    StageRig rig(true);
    StageView& stage = rig.stage();
    rig.sides().setFourDecks(true);
    rig.sides().setLeftDeck(2);
    rig.model().setBrowseOpen(true);
    QApplication::processEvents();
    EXPECT_FALSE(stage.moving());
    EXPECT_EQ(stage.lane(0)->height(), 42);
    EXPECT_EQ(stage.findChild<QWidget*>(QStringLiteral("stage.middle")), nullptr);
    EXPECT_EQ(stage.browser()->minimumHeight(), 260);
}

TEST(StageWidget, PartDotsToggleAndRestoreTheBand)
{
    StageRig rig;
    LaneHeader* header = rig.stage().lane(0)->header();
    ChannelModel& channel = rig.model().mixer().channel(0);
    const auto dotAt = [&](int part) {
        // A stopped deck shows no phrase frame: the dots follow the four beat
        // boxes in the third row, about 18 points apart.
        return QPoint(12 + 14 + 30 + 9 + 6 + part * 18 + 3, 10 + 22 + 6 + 18 + 6 + 22 + 6 + 6);
    };
    QTest::mouseClick(header, Qt::LeftButton, {}, dotAt(1));
    EXPECT_EQ(channel.partsOff(), (std::array<bool, 3>{false, true, false}));
    QTest::mouseClick(header, Qt::LeftButton, {}, dotAt(1));
    EXPECT_EQ(channel.partsOff(), (std::array<bool, 3>{false, false, false}));
    QTest::mouseClick(header, Qt::LeftButton, {}, dotAt(2));
    EXPECT_EQ(channel.partsOff(), (std::array<bool, 3>{false, false, true}));
}

TEST(StageWidget, DropsImportAndLoadOnlyTheFirstNewFile)
{
    StageRig rig;
    const QString dir = QDir::homePath();
    for (const char* name : {"a.wav", "b.wav", "known.wav"})
        test::writeTone(dir + "/" + name, 0.5);
    QFile text(dir + "/notes.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not audio");
    text.close();
    LibraryStore& library = rig.model().library();
    const auto url = [&](const char* name) { return QUrl::fromLocalFile(dir + "/" + name); };

    ASSERT_EQ(importAdded(library, {url("known.wav")}).size(), 1u);
    DeckLane* lane = rig.stage().lane(0);
    EXPECT_FALSE(lane->dropUrls({url("known.wav")}));
    EXPECT_FALSE(lane->dropUrls({url("notes.txt")}));
    EXPECT_FALSE(lane->dropUrls({QUrl(QStringLiteral("https://example.invalid/a.wav"))}));
    EXPECT_EQ(library.tracks().size(), 1u);

    const auto added = importAdded(library, {url("known.wav"), url("b.wav"), url("a.wav"), url("notes.txt")});
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(library.tracks().size(), 3u);
    EXPECT_TRUE(added[0].path.endsWith("a.wav"));
    EXPECT_TRUE(added[1].path.endsWith("b.wav"));
}

TEST(StageWidget, AFileDroppedOnALaneLoadsOntoItsDeck)
{
    StageRig rig;
    rig.app.addOutput();
    ASSERT_TRUE(rig.app.bootWithOutput());
    const QString path = QDir::homePath() + "/dropped.wav";
    test::writeTone(path, 2.0);
    DeckLane* lane = rig.stage().lane(1);
    ASSERT_TRUE(lane->dropUrls({QUrl::fromLocalFile(path)}));
    DeckModel& deck = rig.model().deck(1);
    ASSERT_TRUE(test::spinUntil([&] { return deck.track() && !deck.loading(); }));
    EXPECT_TRUE(deck.track()->path.endsWith("dropped.wav"));
    EXPECT_FALSE(rig.model().deck(0).track());
    // The audio thread publishes the buffer's length once it has taken it.
    EXPECT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.01);
        return headerInputs(rig.model(), deck, rig.sides()).duration > 0;
    }, 5));
    const HeaderInputs in = headerInputs(rig.model(), deck, rig.sides());
    EXPECT_EQ(in.title, deck.track()->title);
    EXPECT_NEAR(in.duration, 2.0, 0.05);
    EXPECT_EQ(headerFace(in).clock, "0:02.0");
    // With an output open the header reads the tempo the engine plays at
    // (sync's correction included), not the fader's.
    EXPECT_EQ(deck.tempoRatio(), 1.0);
    rig.model().audio().io()->engine().state()->effectiveTempo[1].store(1.08);
    EXPECT_DOUBLE_EQ(headerInputs(rig.model(), deck, rig.sides()).tempoRatio, 1.08);
}

// A 120-bpm drum loop, beat 1 of every bar at 0.5 s + k · 2 s.
void writeBeats(const QString& path, double seconds)
{
    const std::vector<float> drums = test::drumLoop(120, 0.5, seconds, 44100);
    const test::Audio audio = test::generate(2, std::int64_t(drums.size()), 44100,
                                 [&drums](int, std::int64_t frame) { return 0.5f * drums[std::size_t(frame)]; });
    test::writeAudioFile(path.toStdString(), test::AudioFormat::wav16, audio);
}

TEST(StageWidget, DroppedTracksPlayAndMixFromTheKeyboard)
{
    // Drum loops are analysed for real; anything else fails its analysis.
    StageRig rig(false, [](const QString& path) {
        if (path.contains(QLatin1String("beats")))
            return LibraryStore::analyzeFile(path);
        LibraryStore::AnalysisOutcome outcome;
        outcome.error = QStringLiteral("not analysed in tests");
        return outcome;
    });
    rig.app.addOutput();
    ASSERT_TRUE(rig.app.bootWithOutput());
    ASSERT_NE(rig.root->windowHandle(), nullptr);
    KeyboardFilter keys(rig.model(), nullptr);
    qApp->installEventFilter(&keys);
    AppModel& app = rig.model();
    LibraryStore& library = app.library();

    // Deck 1: an analysed record with a grid. Deck 2: a file dropped on its
    // lane, whose analysis fails.
    const QString beats = QDir::homePath() + QStringLiteral("/beats.wav");
    writeBeats(beats, 16);
    const auto added = importAdded(library, {QUrl::fromLocalFile(beats)});
    ASSERT_EQ(added.size(), 1u);
    const auto analysed = [&]() -> std::optional<TrackRecord> {
        for (const TrackRecord& record : library.tracks())
            if (record.id == added[0].id && record.grid)
                return record;
        return std::nullopt;
    };
    ASSERT_TRUE(test::spinUntil([&] { return analysed().has_value(); }, 120)) << "analysis of the drum loop";
    EXPECT_NEAR(analysed()->grid->bpm, 120, 0.5);
    app.deck(0).load(*analysed());
    const QString tone = QDir::homePath() + QStringLiteral("/lane1.wav");
    test::writeTone(tone, 9.0);
    ASSERT_TRUE(rig.stage().lane(1)->dropUrls({QUrl::fromLocalFile(tone)}));
    for (int deck : {0, 1})
        ASSERT_TRUE(test::spinUntil([&] { return app.deck(deck).track() && !app.deck(deck).loading(); })) << deck;
    ASSERT_TRUE(app.deck(0).grid().has_value());
    app.mixer().channel(0).setCrossfaderAssign(-1);
    app.mixer().channel(1).setCrossfaderAssign(1);
    const auto inputs = [&](int deck) { return headerInputs(app, app.deck(deck), rig.sides()); };
    ASSERT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.01);
        return inputs(0).duration > 0 && inputs(1).duration > 0;
    }, 5));
    const QString full = headerFace(inputs(0)).clock;

    // 'x' plays deck 1: its time left falls and it is heard.
    QTest::keyClick(rig.root->windowHandle(), Qt::Key_X);
    ASSERT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.05);
        rig.app.scheduler.advance(0.05);
        return app.deck(0).live().playing && inputs(0).position > 0.6;
    }, 10));
    EXPECT_NE(headerFace(inputs(0)).clock, full) << full.toStdString();
    EXPECT_TRUE(app.isAudible(0));
    EXPECT_FALSE(app.isAudible(1));

    // The beat boxes light the beat under the playhead, one box at a time, as it moves.
    LaneHeader* header = rig.stage().lane(0)->header();
    const auto litBoxes = [&] {
        header->repaint();
        const QImage image = header->grab().toImage();
        QList<int> lit;
        const double centres[4] = {19, 34, 47, 60};
        for (int box = 0; box < 4; ++box)
            if (!kit::test::near(kit::test::pixelAt(image, {centres[box], 96}), kit::Stage::line(), 6))
                lit << box + 1;
        return lit;
    };
    QSet<int> seen;
    for (int step = 0; step < 12; ++step) {
        const double t = inputs(0).position;
        const BeatFace face = beatFace(t, app.deck(0).grid(), true);
        ASSERT_GE(face.beat, 1) << t;
        EXPECT_EQ(litBoxes(), QList<int>{face.beat}) << "at " << t << " s";
        seen.insert(face.beat);
        rig.app.backend->pump(0.17);
    }
    EXPECT_EQ(seen.size(), 4u) << "every box of the bar lit in turn";

    // 'm' starts deck 2; the arrow keys walk the crossfader over to it.
    QTest::keyClick(rig.root->windowHandle(), Qt::Key_M);
    ASSERT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.05);
        rig.app.scheduler.advance(0.05);
        return app.deck(1).live().playing;
    }, 10));
    EXPECT_TRUE(app.isAudible(0) && app.isAudible(1));
    // Deck 2's record has no waveform (its analysis failed): its lane is no
    // empty deck, and its header names the record with no tempo.
    kit::RecordingCanvas lane;
    rig.stage().lane(1)->wave()->drawFrame(lane, rig.stage().lane(1)->wave()->size(), 1);
    EXPECT_TRUE(lane.texts().isEmpty()) << lane.texts().join(u'|').toStdString();
    EXPECT_EQ(headerFace(inputs(1)).title, app.deck(1).track()->title);
    EXPECT_EQ(headerFace(inputs(1)).tempo, QStringLiteral("—"));
    // A frame of the playing stage, kept for review.
    rig.kit.scheduler.advance(0.1);
    QApplication::processEvents();
    rig.root->grab().save(QStringLiteral(ZELVO_BINARY_DIR "/stage-playing.png"));

    for (int i = 0; i < 12; ++i)
        QTest::keyClick(rig.root->windowHandle(), Qt::Key_Right);
    EXPECT_DOUBLE_EQ(app.mixer().crossfader(), 1.0);
    EXPECT_FALSE(app.isAudible(0));
    EXPECT_TRUE(app.isAudible(1));
    for (int i = 0; i < 22; ++i)
        QTest::keyClick(rig.root->windowHandle(), Qt::Key_Left);
    EXPECT_DOUBLE_EQ(app.mixer().crossfader(), -1.0);
    EXPECT_TRUE(app.isAudible(0));
    EXPECT_FALSE(app.isAudible(1));
    qApp->removeEventFilter(&keys);
}

TEST(StageWidget, StoppedDecksAskForNoFramesWhileIdle)
{
    StageRig rig;
    QApplication::processEvents();
    LaneHeader* header = rig.stage().lane(0)->header();
    const int before = header->paints();
    rig.app.scheduler.advance(2.0);
    rig.kit.scheduler.advance(2.0);
    QApplication::processEvents();
    EXPECT_EQ(header->paints(), before);
    EXPECT_FALSE(rig.kit.runtime->liveClock().running());
}

TEST(StageWidget, FaceplateIsScaledAndCentredInTheWindow)
{
    StageRig rig;
    rig.model().setClassicFaceplate(true);
    struct Case {
        QSize window;
        QRect instrument;
    };
    const Case cases[] = {
        {{1600, 1080}, {0, 0, 1600, 1080}},
        {{2000, 1080}, {0, 0, 2000, 1080}},
        {{3000, 1000}, {389, 0, 2222, 1000}},
        {{1200, 1200}, {0, 38, 1200, 1125}},
    };
    for (const Case& c : cases) {
        rig.root->resize(c.window);
        QApplication::processEvents();
        EXPECT_EQ(rig.root->instrument()->geometry(), c.instrument) << c.window.width();
    }
    EXPECT_TRUE(rig.root->instrument()->isVisible());
    EXPECT_FALSE(rig.stage().isVisible());
    rig.model().setClassicFaceplate(false);
    QApplication::processEvents();
    EXPECT_TRUE(rig.stage().isVisible());
}

TEST(StageWidget, StagePaintsItsBackgroundAndTheTargetedBadge)
{
    StageRig rig;
    rig.root->resize(1600, 1080);
    QApplication::processEvents();
    const QImage image = rig.root->grab().toImage();
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, {4, 600}), kit::Stage::ink()));
    // Deck 1 is targeted by the left side: its badge is paper.
    const QPoint badge = rig.stage().lane(0)->header()->mapTo(rig.root.get(), QPoint(14, 14));
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, badge), kit::Stage::paper(), 6));
    rig.sides().setFourDecks(true);
    QApplication::processEvents();
    const QImage four = rig.root->grab().toImage();
    const QPoint folded = rig.stage().lane(2)->header()->mapTo(rig.root.get(), QPoint(14, 14));
    EXPECT_FALSE(kit::test::near(kit::test::pixelAt(four, folded), kit::Stage::paper(), 20));
}

TEST(StageWidget, StageFieldTakesTheKeyboardOnlyWhenClicked)
{
    kit::test::KitRig kit;
    QWidget window;
    auto* other = new QLineEdit(&window);
    QString bound = QStringLiteral("house");
    auto* field = new StageField(
        kit.env(), [&] { return bound; }, [&](const QString& text) { bound = text; }, QStringLiteral("search"), 12,
        &window);
    field->setObjectName(QStringLiteral("field"));
    other->setGeometry(0, 0, 100, 20);
    field->setGeometry(0, 30, 200, 20);
    window.show();
    QApplication::setActiveWindow(&window);
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Tab);
    EXPECT_FALSE(field->hasFocus()) << "Tab passes an unclicked field by";

    QTest::mouseClick(field, Qt::LeftButton);
    ASSERT_TRUE(field->hasFocus());
    field->end(false);
    QTest::keyClicks(field, " techno");
    EXPECT_EQ(bound, "house techno");
    // An outside change while editing leaves the visible text alone...
    bound = QStringLiteral("ambient");
    field->refresh();
    EXPECT_EQ(field->text(), "house techno");
    // ...and the next keystroke writes the field back.
    QTest::keyClick(field, Qt::Key_X);
    EXPECT_EQ(bound, "house technox");
    // Escape ends editing, keeps the text and is consumed.
    bool escapeReachedWindow = false;
    struct Spy : QObject {
        bool* seen;
        explicit Spy(bool* s) : seen(s) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape)
                *seen = true;
            return false;
        }
    } spy(&escapeReachedWindow);
    window.installEventFilter(&spy);
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(field->hasFocus());
    EXPECT_FALSE(escapeReachedWindow);
    EXPECT_EQ(bound, "house technox");
    // Not editing: an outside change shows.
    bound = QStringLiteral("dub");
    field->refresh();
    EXPECT_EQ(field->text(), "dub");
    QTest::mouseClick(field, Qt::LeftButton);
    ASSERT_TRUE(field->hasFocus());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(field->hasFocus());
}

TEST(StageWidget, EchoCardShowsFadesStopsAndLetsClicksThrough)
{
    StageRig rig;
    ControlEchoView* echo = rig.stage().echo();
    ASSERT_NE(echo, nullptr);
    EXPECT_TRUE(echo->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(echo->geometry(), rig.stage().lanesBlock()->rect());
    // A click on the echo's area reaches the part dots under it.
    QWidget* under = rig.stage().lanesBlock()->childAt(QPoint(12 + 14 + 30 + 12 + 70 + 6 + 22 + 3, 98));
    ASSERT_NE(under, nullptr);
    EXPECT_NE(qobject_cast<ControlEchoView*>(under), echo);

    Echo card;
    card.id = "fader1";
    card.deck = 1;
    card.title = "channel fader";
    card.value = "82%";
    card.fraction = 0.82;
    card.stamp = rig.kit.scheduler.uptime();
    rig.sides().setEcho(card);
    EXPECT_TRUE(echo->ticking());
    const QImage shown = rig.root->grab().toImage();
    const QPoint centre = echo->mapTo(rig.root.get(), QPoint(echo->width() / 2, 40));
    EXPECT_FALSE(kit::test::near(kit::test::pixelAt(shown, centre), kit::Stage::inkRaised(), 0));
    // Two seconds on the card has faded: the clock stops though the model keeps it.
    for (int i = 0; i < 60; ++i) {
        rig.kit.scheduler.advance(1.0 / 30);
    }
    QApplication::processEvents();
    EXPECT_FALSE(echo->ticking());
    const int paints = echo->paints();
    rig.kit.scheduler.advance(2.0);
    QApplication::processEvents();
    EXPECT_EQ(echo->paints(), paints);
    EXPECT_FALSE(rig.kit.runtime->liveClock().running());
}

TEST(StageWidget, StageReportsItsTourSpots)
{
    StageRig rig;
    auto spots = tourSpots(rig.root.get());
    EXPECT_EQ(spots.count(TourSpot::lanes), 1u);
    EXPECT_EQ(spots.count(TourSpot::crate), 1u);
    ASSERT_EQ(spots.count(TourSpot::mixer), 1u);
    EXPECT_EQ(spots[TourSpot::lanes].topLeft(), rig.stage().lanesBlock()->mapTo(rig.root.get(), QPoint(0, 0)));
    rig.model().setBrowseOpen(true);
    rig.kit.scheduler.advance(0.25);
    QApplication::processEvents();
    spots = tourSpots(rig.root.get());
    EXPECT_EQ(spots.count(TourSpot::mixer), 0u) << "the mixer is gone while browsing";
}

TEST(StageWidget, StageKeysRunTheirActionAndSizeToTheirWord)
{
    kit::test::KitRig kit;
    int clicks = 0;
    StageKey word(kit.env(), "plus", QString("take"), true, "Write a take", [&] { ++clicks; });
    StageKey empty(kit.env(), "plus", QString(), false, "", {});
    StageKey icon(kit.env(), "xmark", std::nullopt, false, "Close", {});
    EXPECT_EQ(word.height(), 28);
    EXPECT_EQ(icon.width(), 9 + 11 + 9);
    EXPECT_EQ(empty.width(), 11 + 11 + 5 + 11);
    QTest::mouseClick(&word, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(word.toolTip(), "Write a take");
}

} // namespace
} // namespace zelvo::stage
