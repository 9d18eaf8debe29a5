// The faceplate mixers, deck tabs and perform module as widgets: every knob's
// reset, the keys, the browse knob, the tabs, the pages and the live clock.
#include "state/AppModel.h"
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "library/LibraryStore.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "support/LibraryFixtures.h"
#include "ui/instrument/DeckSelectTabs.h"
#include "ui/instrument/FourChannelMixer.h"
#include "ui/instrument/MixerParts.h"
#include "ui/instrument/MixerView.h"
#include "ui/instrument/PerformModule.h"
#include "ui/kit/ControlMath.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/MeterTimeline.h"
#include "ui/stage/StageSides.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace zelvo {
namespace {

struct MixerRig {
    // `records` fixture records in the library; `four`: the four-channel mixer.
    // `boot`: with an open output, so that decks load.
    explicit MixerRig(int records = 0, bool four = false, QStringList arguments = {}, bool boot = false)
    {
        std::vector<TrackRecord> library;
        for (int i = 0; i < records; ++i)
            library.push_back(test::fixtureRecord({.title = QStringLiteral("Track %1").arg(i, 2, 10, QLatin1Char('0')),
                                                   .bpm = 118.0 + i,
                                                   .key = MusicalKey(i % 12, i % 2 == 1)}));
        if (!library.empty())
            test::writeCollection(library);
        app.make(arguments);
        if (boot) {
            app.addOutput();
            booted = app.bootWithOutput();
        }
        if (four)
            mixer = std::make_unique<FourChannelMixer>(*app.app, kit.env(), QSizeF(FourChannelMixer::kWidth, 510),
                                                       nullptr, &sides);
        else
            mixer = std::make_unique<MixerView>(*app.app, kit.env(), QSizeF(MixerView::kWidth, 510));
        mixer->show();
        QApplication::processEvents();
    }
    AppModel& model() { return *app.app; }
    template <typename W = kit::FaceWidget>
    W* find(const QString& name, QWidget* in = nullptr) const
    {
        auto* w = (in ? in : mixer.get())->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    static void click(QWidget* w)
    {
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(w->width() / 2, w->height() / 2));
        QApplication::processEvents();
    }
    void click(const QString& name, QWidget* in = nullptr) { click(find(name, in)); }
    // A double click on a knob's dial (above its label) or anywhere on a fader.
    void reset(const QString& name, QWidget* in = nullptr)
    {
        QWidget* w = find(name, in);
        const QPoint at(w->width() / 2, qobject_cast<kit::Knob*>(w) ? int(w->height() * 0.35) : w->height() / 2);
        QTest::mouseDClick(w, Qt::LeftButton, {}, at);
        QApplication::processEvents();
    }

    test::AppRig app;
    bool booted = false;
    kit::test::KitRig kit;
    stage::StageSides sides;
    std::unique_ptr<QWidget> mixer;
};

TEST(MixerWidget, DoubleClicksLandOnEachControlsResetValue)
{
    for (const bool four : {false, true}) {
        MixerRig rig(0, four);
        MixerModel& m = rig.model().mixer();
        // The leftmost strip of the four-channel mixer is channel 3.
        const int first = four ? 2 : 0;
        ChannelModel& c = m.channel(first);
        const QString ch = QStringLiteral("mixer.ch%1.").arg(first + 1);
        const struct {
            QString name;
            std::function<void(double)> set;
            std::function<double()> get;
            double want;
        } controls[] = {
            {QStringLiteral("mixer.xfader"), [&](double v) { m.setCrossfader(v); }, [&] { return m.crossfader(); }, 0},
            {QStringLiteral("mixer.master.level"), [&](double v) { m.setMaster(v); }, [&] { return m.master(); }, 0.8},
            {QStringLiteral("mixer.phones.cueMix"), [&](double v) { m.setCueMix(v); }, [&] { return m.cueMix(); }, 0},
            {QStringLiteral("mixer.phones.level"), [&](double v) { m.setPhones(v); }, [&] { return m.phones(); }, 0.7},
            {QStringLiteral("beatfx.level"), [&](double v) { m.setBeatFXLevel(v); }, [&] { return m.beatFXLevel(); }, 0},
            {ch + "trim", [&](double v) { c.setTrim(v); }, [&] { return c.trim(); }, 0},
            {ch + "hi", [&](double v) { c.setHigh(v); }, [&] { return c.high(); }, 0},
            {ch + "mid", [&](double v) { c.setMid(v); }, [&] { return c.mid(); }, 0},
            {ch + "low", [&](double v) { c.setLow(v); }, [&] { return c.low(); }, 0},
            {ch + "cfx", [&](double v) { c.setColorFX(v); }, [&] { return c.colorFX(); }, 0},
            {ch + "fader", [&](double v) { c.setFader(v); }, [&] { return c.fader(); }, 0.85},
        };
        for (const auto& control : controls) {
            control.set(0.4);
            rig.reset(control.name);
            EXPECT_DOUBLE_EQ(control.get(), control.want) << control.name.toStdString() << " four " << four;
        }
        // Only the channel the strip shows moved.
        EXPECT_DOUBLE_EQ(m.channel(four ? 0 : 1).trim(), 0);
    }

    // The effects page's knobs reset to 0, not to their initial values.
    MixerRig rig;
    PerformModule perform(rig.model(), rig.kit.env(), QSizeF(PerformModule::kWidth, 300));
    perform.show();
    rig.model().setPerformPage(AppModel::PerformPage::fx);
    QApplication::processEvents();
    MixerModel& m = rig.model().mixer();
    m.setCrossfaderCurve(0.5);
    rig.reset(QStringLiteral("fx.param"), &perform);
    rig.reset(QStringLiteral("fx.curve"), &perform);
    EXPECT_DOUBLE_EQ(m.colorFXParameter(), 0);
    EXPECT_DOUBLE_EQ(m.crossfaderCurve(), 0);
}

TEST(MixerWidget, KeysOfBothMixers)
{
    {
        MixerRig rig;
        MixerModel& m = rig.model().mixer();
        rig.click(QStringLiteral("mixer.ch2.cue"));
        EXPECT_TRUE(m.channel(1).cue());
        EXPECT_TRUE(rig.find<kit::HardKey>(QStringLiteral("mixer.ch2.cue"))->lit());
        rig.click(QStringLiteral("mixer.ch2.cue"));
        EXPECT_FALSE(m.channel(1).cue());

        // Target selector MST, 1, 2; kind and beat keys wrap and clamp.
        auto* target = rig.find<kit::SegmentSelector>(QStringLiteral("beatfx.target"));
        rig.click(target->key(2));
        EXPECT_EQ(m.beatFXTarget(), 2);
        EXPECT_TRUE(target->key(2)->lit());
        EXPECT_FALSE(target->key(0)->lit());
        rig.click(QStringLiteral("beatfx.kindPrev"));
        EXPECT_EQ(m.beatFXKind(), BeatFXKind::reverb);
        rig.click(QStringLiteral("beatfx.kindNext"));
        EXPECT_EQ(m.beatFXKind(), BeatFXKind::echo);
        for (int i = 0; i < 10; ++i)
            rig.click(QStringLiteral("beatfx.beatNext"));
        EXPECT_EQ(m.beatFXBeatIndex(), 8);
        rig.click(QStringLiteral("beatfx.on.key"));
        EXPECT_TRUE(m.beatFXOn());
        EXPECT_TRUE(rig.find<kit::HardKey>(QStringLiteral("beatfx.on.key"))->lit());
        EXPECT_EQ(rig.find<RoundLamp>(QStringLiteral("beatfx.on"))->sublabel(), QStringLiteral("off"));

        // No output: the record lamp is dark and reads "set"; a press does nothing harmful.
        auto* rec = rig.find<RoundLamp>(QStringLiteral("mixer.rec"));
        EXPECT_FALSE(rec->key()->lit());
        EXPECT_EQ(rec->sublabel(), QStringLiteral("set"));
        rig.click(QStringLiteral("mixer.rec.key"));
        EXPECT_FALSE(face::recording(rig.model()));
    }

    MixerRig rig(0, true);
    MixerModel& m = rig.model().mixer();
    ChannelModel& c = m.channel(0);
    auto* kill = rig.find<kit::HardKey>(QStringLiteral("mixer.ch1.part0"));
    c.setLow(0.3);
    EXPECT_TRUE(kill->lit());
    rig.click(kill);
    EXPECT_TRUE(c.partsOff()[0]);
    EXPECT_DOUBLE_EQ(c.low(), -1);
    EXPECT_FALSE(kill->lit());
    rig.click(kill);
    EXPECT_FALSE(c.partsOff()[0]);
    EXPECT_DOUBLE_EQ(c.low(), 0.3);
    EXPECT_TRUE(kill->lit());

    // A knob move on a killed band brings the part back and keeps the user's value.
    rig.click(kill);
    ASSERT_TRUE(c.partsOff()[0]);
    rig.reset(QStringLiteral("mixer.ch1.low"));
    EXPECT_FALSE(c.partsOff()[0]);
    EXPECT_TRUE(kill->lit());
    EXPECT_DOUBLE_EQ(c.low(), 0);
    rig.click(kill);
    rig.click(kill);
    EXPECT_DOUBLE_EQ(c.low(), 0) << "the restore must not bring back the value from before the move";
    // The same for a drag.
    rig.click(kill);
    auto* low = rig.find(QStringLiteral("mixer.ch1.low"));
    const QPoint dial(low->width() / 2, int(low->height() * 0.35));
    QTest::mousePress(low, Qt::LeftButton, {}, dial);
    QTest::mouseMove(low, dial - QPoint(0, 10));
    QTest::mouseRelease(low, Qt::LeftButton, {}, dial - QPoint(0, 10));
    EXPECT_FALSE(c.partsOff()[0]);
    EXPECT_GT(c.low(), -1);

    // Assign switch: T lights alone; again changes nothing.
    rig.click(QStringLiteral("mixer.ch3.assignT"));
    EXPECT_EQ(m.channel(2).crossfaderAssign(), 0);
    for (const char* key : {"A", "T", "B"})
        EXPECT_EQ(rig.find<kit::HardKey>(QStringLiteral("mixer.ch3.assign") + key)->lit(), *key == 'T') << key;
    rig.click(QStringLiteral("mixer.ch3.assignT"));
    EXPECT_EQ(m.channel(2).crossfaderAssign(), 0);

    // Colour effect keys: never none lit.
    for (const char* kind : {"crush", "crush", "space"}) {
        rig.click(QStringLiteral("mixer.cfx.") + kind);
        int lit = 0;
        for (const char* k : {"filter", "crush", "noise", "space"})
            lit += rig.find<kit::HardKey>(QStringLiteral("mixer.cfx.") + k)->lit();
        EXPECT_EQ(lit, 1);
    }
    EXPECT_EQ(m.colorFXKind(), ColorFXKind::space);

    // Four target keys under MST.
    rig.click(QStringLiteral("beatfx.target3"));
    EXPECT_EQ(m.beatFXTarget(), 3);
    EXPECT_TRUE(rig.find<kit::HardKey>(QStringLiteral("beatfx.target3"))->lit());
    rig.click(rig.find<kit::SegmentSelector>(QStringLiteral("beatfx.target"))->key(0));
    EXPECT_EQ(m.beatFXTarget(), 0);
    EXPECT_FALSE(rig.find<kit::HardKey>(QStringLiteral("beatfx.target3"))->lit());
}

TEST(MixerWidget, BrowseKnobStepsAlikeAtAnyEventRateAndLoads)
{
    MixerRig rig(20, false, {}, true);
    ASSERT_TRUE(rig.booted);
    AppModel& app = rig.model();
    std::vector<QUuid> ids;
    for (const TrackRecord& t : app.browserTracks())
        ids.push_back(t.id);
    ASSERT_EQ(ids.size(), 20u);
    auto* knob = rig.find<BrowseKnob>(QStringLiteral("browse.knob"));
    const double s = rig.kit.env().scale();
    const QPoint centre(knob->width() / 2, int(BrowseKnob::kFace / 2 * s));
    // Drags up by `points` (negative: down) in `events` moves.
    const auto drag = [&](double points, int events) {
        QTest::mousePress(knob, Qt::LeftButton, {}, centre);
        QPoint at = centre;
        for (int i = 1; i <= events; ++i) {
            at = centre - QPoint(0, int(std::lround(points * s * i / events)));
            QTest::mouseMove(knob, at);
        }
        QTest::mouseRelease(knob, Qt::LeftButton, {}, at);
        QApplication::processEvents();
    };
    for (const int events : {5, 200}) {
        app.setSelectedTrack(ids[0]);
        drag(70, events);
        EXPECT_EQ(app.selectedTrack(), ids[5]) << events;
        EXPECT_DOUBLE_EQ(knob->carry(), 0);
    }
    drag(-30, 7);
    EXPECT_EQ(app.selectedTrack(), ids[3]);
    // The ends clamp.
    drag(400, 40);
    EXPECT_EQ(app.selectedTrack(), ids[19]);
    drag(-400, 40);
    EXPECT_EQ(app.selectedTrack(), ids[0]);

    // A tap queues the selection; with none it does nothing.
    app.setSelectedTrack(ids[4]);
    rig.click(knob);
    EXPECT_EQ(app.queue(), std::vector<QUuid>{ids[4]});
    app.setSelectedTrack(std::nullopt);
    rig.click(knob);
    EXPECT_EQ(app.queue().size(), 1u);

    // Load keys: nothing without a selection, else decks 1 and 2.
    // (A load starts at once; the decode's answer may come back within the click.)
    QSignalSpy left(&app.deck(0), &DeckModel::loadingChanged);
    QSignalSpy right(&app.deck(1), &DeckModel::loadingChanged);
    rig.click(QStringLiteral("browse.loadLeft"));
    EXPECT_EQ(left.count(), 0);
    app.setSelectedTrack(ids[7]);
    rig.click(QStringLiteral("browse.loadRight"));
    EXPECT_GT(right.count(), 0);
    EXPECT_EQ(left.count(), 0);
    rig.click(QStringLiteral("browse.loadLeft"));
    EXPECT_GT(left.count(), 0);
}

TEST(MixerWidget, DeckTabsLightSelectAndRetargetTheFourDeckLoadKeys)
{
    MixerRig rig(3, true, {}, true);
    ASSERT_TRUE(rig.booted);
    AppModel& app = rig.model();
    DeckSelectTabs left(app, 0, rig.kit.env(), nullptr, &rig.sides);
    DeckSelectTabs right(app, 5, rig.kit.env(), nullptr, &rig.sides);
    left.show();
    right.show();
    QApplication::processEvents();
    auto* deck1 = rig.find<kit::HardKey>(QStringLiteral("tabs.left.deck1"), &left);
    auto* deck3 = rig.find<kit::HardKey>(QStringLiteral("tabs.left.deck3"), &left);
    EXPECT_TRUE(deck1->lit());
    EXPECT_FALSE(deck3->lit());
    EXPECT_NE(right.findChild<QWidget*>(QStringLiteral("tabs.right.deck4")), nullptr);

    rig.click(deck3);
    EXPECT_EQ(rig.app.world.activeDecks[0], 2);
    EXPECT_TRUE(deck3->lit());
    EXPECT_FALSE(deck1->lit());
    EXPECT_TRUE(rig.app.world.journal.contains(QStringLiteral("controller.selectDeck(2)")));
    rig.click(QStringLiteral("tabs.right.deck4"), &right);
    EXPECT_EQ(rig.app.world.activeDecks[0], 2) << "a right tab never moves the left half";
    EXPECT_EQ(rig.app.world.activeDecks[1], 3);

    // The strips stand in the controller's order: 3, 1, master, 2, 4.
    std::vector<int> xs;
    for (const char* name : {"mixer.ch3.label", "mixer.ch1.label", "mixer.master.level", "mixer.ch2.label",
                             "mixer.ch4.label"}) {
        QWidget* w = rig.find<QWidget>(QString::fromLatin1(name));
        xs.push_back(w->mapTo(rig.mixer.get(), QPoint(0, 0)).x());
    }
    EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end()) && std::adjacent_find(xs.begin(), xs.end()) == xs.end());

    // The halves' change reaches the load keys.
    rig.sides.setLeftDeck(2);
    QApplication::processEvents();
    auto* load = rig.find<kit::HardKey>(QStringLiteral("browse.loadLeft"));
    EXPECT_EQ(load->look().sublabel, QStringLiteral("deck 3"));
    app.setSelectedTrack(app.browserTracks().front().id);
    QSignalSpy deck3Loads(&app.deck(2), &DeckModel::loadingChanged);
    QSignalSpy deck1Loads(&app.deck(0), &DeckModel::loadingChanged);
    rig.click(load);
    EXPECT_GT(deck3Loads.count(), 0);
    EXPECT_EQ(deck1Loads.count(), 0);
}

TEST(MixerWidget, PerformPagesAndMixKeys)
{
    MixerRig rig(3, false, {}, true);
    ASSERT_TRUE(rig.booted);
    AppModel& app = rig.model();
    PerformModule perform(app, rig.kit.env(), QSizeF(PerformModule::kWidth, 300));
    perform.show();
    QApplication::processEvents();
    EXPECT_TRUE(perform.mixPage()->isVisible());
    EXPECT_FALSE(perform.fxPage()->isVisible());
    rig.click(QStringLiteral("perform.key.fx"), &perform);
    EXPECT_EQ(app.performPage(), AppModel::PerformPage::fx);
    EXPECT_TRUE(perform.fxPage()->isVisible());
    EXPECT_FALSE(perform.mixPage()->isVisible());
    EXPECT_TRUE(rig.find<kit::HardKey>(QStringLiteral("perform.key.fx"), &perform)->lit());
    EXPECT_FALSE(rig.find<kit::HardKey>(QStringLiteral("perform.key.mix"), &perform)->lit());
    rig.click(QStringLiteral("fx.limiter"), &perform);
    EXPECT_FALSE(app.mixer().limiter());
    rig.click(QStringLiteral("fx.kind.noise"), &perform);
    EXPECT_EQ(app.mixer().colorFXKind(), ColorFXKind::noise);
    rig.click(QStringLiteral("perform.key.mix"), &perform);
    EXPECT_TRUE(perform.mixPage()->isVisible());

    // Mix keys go to mix(to:): with deck 1 empty the model says so.
    TransitionModel& transition = app.transition();
    auto* left = rig.find<kit::HardKey>(QStringLiteral("mix.left"), &perform);
    EXPECT_TRUE(left->lit());
    EXPECT_EQ(left->look().label, QStringLiteral("\u25c0 Mix 1"));
    rig.click(left);
    ASSERT_TRUE(transition.note());
    EXPECT_EQ(*transition.note(), QStringLiteral("LOAD A TRACK ON DECK 1 FIRST"));
    rig.click(QStringLiteral("mix.right"), &perform);
    EXPECT_EQ(*transition.note(), QStringLiteral("FORK SOMETHING ONTO DECK 2 FIRST"));

    // Style, bars and Auto persist.
    rig.click(QStringLiteral("mix.style.1"), &perform);
    EXPECT_EQ(transition.style(), TransitionStyle::bassSwap);
    EXPECT_EQ(rig.app.defaults->integer(QStringLiteral("mix.style")), 1);
    EXPECT_TRUE(rig.find<kit::HardKey>(QStringLiteral("mix.style.1"), &perform)->lit());
    rig.click(QStringLiteral("mix.bars.64"), &perform);
    EXPECT_EQ(transition.bars(), 64);
    EXPECT_EQ(rig.app.defaults->integer(QStringLiteral("mix.bars")), 64);
    auto* autoKey = rig.find<kit::HardKey>(QStringLiteral("mix.auto"), &perform);
    const bool wasAuto = app.autoQueue();
    rig.click(autoKey);
    EXPECT_EQ(app.autoQueue(), !wasAuto);
    EXPECT_EQ(rig.app.defaults->boolean(QStringLiteral("set.auto")), !wasAuto);
    EXPECT_EQ(autoKey->lit(), !wasAuto);

    // Next: unlit without a queue, lit with one, and it loads the queued record.
    auto* next = rig.find<kit::HardKey>(QStringLiteral("mix.next"), &perform);
    EXPECT_FALSE(next->lit());
    app.setQueue({QUuid::createUuid(), app.browserTracks()[1].id});
    EXPECT_TRUE(next->lit()) << "ids no longer in the library are skipped";
    QSignalSpy loads0(&app.deck(0), &DeckModel::loadingChanged);
    QSignalSpy loads1(&app.deck(1), &DeckModel::loadingChanged);
    rig.click(next);
    EXPECT_GT(loads0.count() + loads1.count(), 0);
}

TEST(MixerWidget, FxLaunchOptionOpensTheEffectsPage)
{
    MixerRig rig(0, false, {QStringLiteral("kavri-zelvo"), QStringLiteral("--fx")});
    rig.model().boot();
    PerformModule perform(rig.model(), rig.kit.env(), QSizeF(PerformModule::kWidth, 300));
    perform.show();
    QApplication::processEvents();
    EXPECT_TRUE(perform.fxPage()->isVisible());
    EXPECT_FALSE(perform.mixPage()->isVisible());
}

TEST(MixerWidget, LiveClockRatesAndTheScrollingGuide)
{
    MixerRig rig;
    kit::LiveClock& clock = *rig.kit.env().liveClock;
    auto* ladder = rig.find(QStringLiteral("mixer.master.meterL"));
    auto* timeline = ladder->findChild<kit::LiveTimeline*>();
    ASSERT_NE(timeline, nullptr);
    EXPECT_EQ(timeline->fps(), 3);
    // Meters, the record lamp and the beat display: all at 3 while nothing plays.
    EXPECT_DOUBLE_EQ(clock.wakeupsPerSecond(), 3);
    rig.mixer->hide();
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(clock.wakeupsPerSecond(), 0) << "nothing ticks while hidden";
    rig.mixer->show();
    QApplication::processEvents();

    // The hidden effects page does not tick; the status panel follows the phase.
    PerformModule perform(rig.model(), rig.kit.env(), QSizeF(PerformModule::kWidth, 300));
    perform.show();
    QApplication::processEvents();
    EXPECT_EQ(perform.statusPanel()->fps(), 3);
    const QImage before = perform.statusPanel()->grab().toImage();
    const int paints = perform.statusPanel()->paintCount();
    rig.kit.scheduler.advance(2.0);
    QApplication::processEvents();
    EXPECT_GT(perform.statusPanel()->paintCount(), paints);
    EXPECT_NE(perform.statusPanel()->grab().toImage(), before) << "the guide scrolls with the clock alone";
    rig.model().setPerformPage(AppModel::PerformPage::fx);
    QApplication::processEvents();
    const int hidden = perform.statusPanel()->paintCount();
    rig.kit.scheduler.advance(2.0);
    QApplication::processEvents();
    EXPECT_EQ(perform.statusPanel()->paintCount(), hidden);
}

TEST(MixerWidget, MetersFallDarkWhenATrackPlaysToItsEndAndThenRest)
{
    MixerRig rig(0, false, {}, true);
    ASSERT_TRUE(rig.booted);
    AppModel& app = rig.model();
    ASSERT_TRUE(rig.app.loadTone(0, 1.0));
    const auto step = [&](double seconds) { rig.app.run(seconds, &rig.kit.scheduler); };
    std::vector<kit::LEDLadder*> ladders;
    for (const char* name : {"mixer.ch1.meter", "mixer.master.meterL", "mixer.master.meterR"})
        ladders.push_back(rig.find<kit::LEDLadder>(QString::fromLatin1(name)));
    const auto lit = [&](std::size_t i) { return kit::ladderLitCount(ladders[i]->shownLevel(), i == 0 ? 12 : 16); };
    const auto running = [&](std::size_t i) { return !ladders[i]->findChild<kit::MeterTimeline*>()->resting(); };
    for (std::size_t i = 0; i < ladders.size(); ++i)
        EXPECT_FALSE(running(i)) << "dark and idle: " << i;

    app.deck(0).playPause();
    ASSERT_TRUE(test::spinUntil([&] {
        step(0.05);
        return app.deck(0).live().playing;
    }));
    step(0.4);
    for (std::size_t i = 0; i < ladders.size(); ++i) {
        EXPECT_GT(lit(i), 0) << i;
        EXPECT_TRUE(running(i)) << i;
    }
    // The track runs out; the ladders keep falling at the idle rate, then rest dark.
    ASSERT_TRUE(test::spinUntil([&] {
        step(0.05);
        return !app.deck(0).live().playing;
    }));
    step(3.0);
    std::vector<int> paints;
    for (std::size_t i = 0; i < ladders.size(); ++i) {
        EXPECT_EQ(lit(i), 0) << i;
        EXPECT_FALSE(running(i)) << i;
        paints.push_back(ladders[i]->paintCount());
    }
    step(2.0);
    for (std::size_t i = 0; i < ladders.size(); ++i)
        EXPECT_EQ(ladders[i]->paintCount(), paints[i]) << i;
}

TEST(MixerWidget, ARestedLadderLightsAgainOnAnEchoRepeatAfterAStop)
{
    MixerRig rig(0, false, {}, true);
    ASSERT_TRUE(rig.booted);
    AppModel& app = rig.model();
    ASSERT_TRUE(rig.app.loadTone(0, 30.0));
    // Simulated time: the engine renders, the models tick and the live clock runs.
    const auto stepUntil = [&](const std::function<bool()>& done, double seconds) {
        for (double t = 0; t < seconds && !done(); t += 0.05)
            rig.app.run(0.05, &rig.kit.scheduler);
        return done();
    };
    // An 8-beat echo on the master brings a short burst back seconds after the stop.
    app.mixer().setBeatFXKind(BeatFXKind::echo);
    app.mixer().setBeatFXBeatIndex(7);
    app.mixer().setBeatFXTarget(0);
    app.mixer().setBeatFXOn(true);
    auto* ladder = rig.find<kit::LEDLadder>(QStringLiteral("mixer.master.meterL"));
    auto* timeline = ladder->findChild<kit::MeterTimeline*>();
    ASSERT_TRUE(timeline);
    const auto lit = [&] { return kit::ladderLitCount(ladder->shownLevel(), 16); };

    for (int repeat = 0; repeat < 2; ++repeat) {
        if (repeat == 0) {
            app.deck(0).playPause();
            ASSERT_TRUE(stepUntil([&] { return app.deck(0).live().playing; }, 2.0));
            rig.app.run(0.3, &rig.kit.scheduler);
            EXPECT_GT(lit(), 0);
            app.deck(0).playPause();
            ASSERT_TRUE(stepUntil([&] { return !app.deck(0).live().playing; }, 2.0));
        }
        // Dark between the repeats: the ladder rests and draws nothing while dark.
        ASSERT_TRUE(stepUntil([&] { return timeline->resting(); }, 3.0)) << repeat;
        EXPECT_EQ(lit(), 0) << repeat;
        const int rested = ladder->paintCount();
        rig.app.run(0.5, &rig.kit.scheduler);
        ASSERT_TRUE(timeline->resting()) << "the repeat came too soon to test: " << repeat;
        EXPECT_EQ(ladder->paintCount(), rested) << repeat;
        // The repeat comes with no deck change; the ladder lights and draws at once.
        ASSERT_TRUE(stepUntil([&] { return lit() > 0; }, 8.0)) << repeat;
        EXPECT_FALSE(timeline->resting()) << repeat;
        EXPECT_GT(ladder->paintCount(), rested) << repeat;
    }
}

TEST(MixerWidget, MetersFollowPlayAndTheRecordLampReadsTheEngine)
{
    MixerRig rig;
    AppModel& app = rig.model();
    rig.app.addOutput();
    ASSERT_TRUE(rig.app.bootWithOutput());
    auto* timeline = rig.find(QStringLiteral("mixer.ch1.meter"))->findChild<kit::LiveTimeline*>();
    ASSERT_NE(timeline, nullptr);
    EXPECT_EQ(timeline->fps(), 3);

    const QString path = QDir::homePath() + QStringLiteral("/tone.wav");
    test::writeTone(path, 6.0);
    app.importItems({path});
    ASSERT_TRUE(test::spinUntil([&] { return !app.library().tracks().empty(); }));
    // Deck 3 plays in the background of the left half (which drives deck 1).
    DeckSelectTabs tabs(app, 0, rig.kit.env());
    tabs.show();
    app.load(app.library().tracks().front().id, 2);
    ASSERT_TRUE(test::spinUntil([&] { return app.deck(2).track() && !app.deck(2).loading(); }));
    app.deck(2).playPause();
    ASSERT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.05);
        rig.app.scheduler.advance(0.05);
        return app.deck(2).live().playing;
    }));
    EXPECT_EQ(timeline->fps(), 15);
    EXPECT_TRUE(tabs.tab(0)->lit());
    EXPECT_FALSE(tabs.tab(1)->lit());
    EXPECT_TRUE(tabs.shown(1).blink) << "deck 3 plays where the hands are not";
    EXPECT_FALSE(tabs.shown(0).blink);
    app.deck(2).playPause();
    ASSERT_TRUE(test::spinUntil([&] {
        rig.app.backend->pump(0.05);
        rig.app.scheduler.advance(0.05);
        return !app.deck(2).live().playing;
    }));
    EXPECT_EQ(timeline->fps(), 3);
    EXPECT_FALSE(tabs.shown(1).blink);

    // The record lamp reads the engine's cells on its own frame.
    MixerState& state = *app.audio().io()->engine().state();
    auto* phones = rig.mixer->findChild<PhonesColumn*>();
    ASSERT_NE(phones, nullptr);
    const struct {
        bool on;
        double seconds;
        const char* sublabel;
    } reads[] = {{true, 61.9, "1:01"}, {true, 3600, "60:00"}, {true, std::nan(""), "set"}, {false, 12, "set"}};
    for (const auto& r : reads) {
        state.recording.store(r.on);
        state.recordedSeconds.store(r.seconds);
        phones->readRecording();
        EXPECT_EQ(phones->recordLamp()->sublabel(), QString::fromUtf8(r.sublabel)) << r.seconds;
        EXPECT_EQ(phones->recordLamp()->key()->lit(), r.on);
    }
    state.recording.store(false);

    // A ladder at a set level: lit segments from the bottom, the top two red.
    auto* ladder = rig.find(QStringLiteral("mixer.ch1.meter"));
    const double scale = rig.kit.env().scale();
    const struct {
        double level;
        int lit;
    } levels[] = {{0.1, 6}, {1.0, 12}, {0.0, 0}};
    for (const auto& l : levels) {
        state.channelPeak[0].store(l.level);
        const QImage image = ladder->grab().toImage();
        const auto segments = kit::LadderMath::segments(0.5, 12, ladder->designSize());
        int lit = 0;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const QColor c = kit::test::pixelAt(image, segments[i].rect.center() * scale);
            // On its own the ladder is drawn over nothing: unlit segments are faint.
            const bool on = c.alpha() > 128;
            lit += on;
            EXPECT_EQ(on, int(i) < l.lit) << l.level << " segment " << i;
            EXPECT_EQ(c.red() > c.green() + 60, i >= 10) << "only the top two are red: " << i;
        }
        EXPECT_EQ(lit, l.lit) << l.level;
    }
}

} // namespace
} // namespace zelvo
