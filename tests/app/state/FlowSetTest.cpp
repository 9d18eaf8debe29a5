// Flow mode left alone on a real engine played through the fake device on a
// manual clock, each render and each deck load waited for with the clock held:
// a whole set on the real generation workflow and the stand-in model server
// (the chain extends every take while it plays, so each timed mix runs while
// the take under it is swapped), the end of a record that plays fast, a load
// slower than flow waits for, each way flow could once play a record twice or
// leave the room silent, a randomised hands-off set, and a random user whose
// decodes take the set's own time.
#include "AppTestSupport.h"
#include "FlowSupport.h"
#include "ModelRigSupport.h"

#include "shell/StandardNeighbours.h"
#include "audio/AudioIO.h"
#include "audio/DeckVoice.h"
#include "audio/MixerParams.h"
#include "audio/MixerState.h"
#include "audio/MixEngine.h"
#include "generation/OutpaintModel.h"
#include "library/AudioFileIO.h"
#include "library/OutpaintInfo.h"
#include "library/TrackBuffer.h"
#include "library/WaveformData.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "platform/FakeAudioBackend.h"
#include "state/AppLinks.h"
#include "state/KeyboardMap.h"
#include "state/ModelKeySteps.h"
#include "state/ModelKeyLink.h"
#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"
#include "support/StandInBrain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QSet>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <random>
#include <system_error>

namespace zelvo {
namespace {

using Kind = TransitionModel::Phase::Kind;

using test::bootOnTheFakeDevice;
using test::CancellingKey;
using test::fixedGrid;
using test::importRecords;
using test::kSetRate;
using test::loadAndWait;
using test::Mix;
using test::notesOf;
using test::playFrame;
using test::playing;
using test::SetRig;
using test::watchMixes;

TEST(FlowSet, PlaysThroughTheQueueWhileTheChainExtendsEachTake)
{
    test::StandInBrain brain(std::map<QString, QString>{{QStringLiteral("KAVRI_BRAIN_STEP_DELAY"), QStringLiteral("0.01")}});
    ASSERT_TRUE(brain.start());
    // The workflow writes its context files where the server reads them.
    qputenv("KAVRI_BRAIN_HOME", brain.home().toUtf8());
    const std::shared_ptr<void> unset(nullptr, [](void*) { qunsetenv("KAVRI_BRAIN_HOME"); });

    test::AppRig rig;
    rig.world.brainBase = brain.base();
    StandardNeighbours standard;
    rig.world.makeWorkflow = [&standard](UserDefaults& defaults, Scheduler& scheduler) {
        return standard.makeWorkflow(defaults, scheduler);
    };
    rig.analyzer = fixedGrid;
    rig.addOutput(kSetRate);
    AppModel& app = rig.make();
    ASSERT_TRUE(rig.bootWithOutput());
    ASSERT_NE(standard.outpaint, nullptr);
    OutpaintModel& outpaint = *standard.outpaint;

    QStringList paths;
    for (const char* name : {"Alpha", "Bravo", "Charlie"}) {
        paths << rig.home.file(QStringLiteral("Music/%1.wav").arg(QLatin1String(name)));
        test::writeDrumTrack(paths.back(), 120.0, 100.0, kSetRate);
    }
    const std::vector<TrackRecord> imported = app.library().importItems(paths);
    ASSERT_EQ(imported.size(), 3u);
    ASSERT_TRUE(test::spinUntil([&] {
        for (const TrackRecord& r : imported)
            if (!app.library().track(r.id) || !app.library().track(r.id)->grid)
                return false;
        return true;
    }));
    const TrackRecord a = *app.library().track(imported[0].id);
    const TrackRecord b = *app.library().track(imported[1].id);
    const TrackRecord c = *app.library().track(imported[2].id);

    // Short stretches: bars of 2 s, 3 heard, 8 written.
    ForkSettings settings = outpaint.settings();
    settings.aheadBars = 1;
    settings.contextBars = 3;
    settings.lengthBars = 8;
    settings.steps = 4;
    settings.seed = 4242;
    settings.lockSeed = true;
    outpaint.setSettings(settings);
    app.transition().setBars(16); // 32 s mixes: several stretches land in each

    std::vector<Mix> mixes;
    watchMixes(app, mixes);

    auto loaded = std::make_shared<bool>(false);
    app.deck(0).load(a, [loaded] { *loaded = true; });
    ASSERT_TRUE(test::spinUntil([&loaded] { return *loaded; }));
    app.mixer().setCrossfader(-1.0);
    app.setQueue({b.id, c.id});
    app.deck(0).playPause();
    app.setAutoQueue(true);

    // The set ends once Charlie has been mixed in and has played out.
    const double frame = TransitionModel::kFrameInterval;
    const std::int64_t stretchesAtStart = outpaint.stretchesWritten();
    const auto charlieIn = [&] {
        return std::any_of(mixes.begin(), mixes.end(),
                           [&](const Mix& m) { return m.completed && m.incoming && m.incoming->id == c.id; });
    };
    double played = 0.0, quietFor = 0.0;
    for (; played < 900.0 && quietFor < 20.0; played += frame) {
        ASSERT_NO_FATAL_FAILURE(playFrame(rig, app, &outpaint));
        quietFor = charlieIn() && !playing(app, 0) && !playing(app, 1) ? quietFor + frame : 0.0;
    }

    const QStringList notes = notesOf(rig);
    const std::string log = notes.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(charlieIn()) << "after " << played << " s the set stands still; phase "
                             << int(app.transition().phase().kind) << " at " << app.transition().phase().value
                             << "\n" << log;
    // Nothing is left to mix in once Charlie played out: no mix waits on a
    // record that has ended.
    EXPECT_EQ(app.transition().phase().kind, Kind::idle) << log;

    // Alpha → its take → Bravo → … → Charlie, every mix to its end.
    std::vector<QUuid> records;
    for (std::size_t i = 0; i < mixes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(mixes[i].ended);
        EXPECT_TRUE(mixes[i].completed);
        EXPECT_TRUE(mixes[i].monotonic);
        if (mixes[i].incoming && !mixes[i].incoming->outpaint)
            records.push_back(mixes[i].incoming->id);
    }
    ASSERT_GE(mixes.size(), 3u) << log;
    ASSERT_TRUE(mixes[0].incoming && mixes[0].incoming->outpaint) << "Alpha's take comes in first";
    EXPECT_EQ(mixes[0].incoming->outpaint->sourceID, a.id);
    EXPECT_EQ(records, (std::vector<QUuid>{b.id, c.id})) << log;
    const auto at = [&](const QString& prefix) {
        for (int i = 0; i < notes.size(); ++i)
            if (notes[i].startsWith(prefix))
                return i;
        return -1;
    };
    const int cueB = at(QStringLiteral("auto: cued Bravo on deck "));
    const int cueC = at(QStringLiteral("auto: cued Charlie on deck "));
    EXPECT_GE(cueB, 0) << log;
    EXPECT_GT(cueC, cueB) << log;
    // Each record left the queue once, when it was cued; none came back.
    EXPECT_TRUE(app.queue().empty()) << app.queue().size();
    for (const TrackRecord& r : {a, b, c})
        EXPECT_TRUE(app.heard().contains(r.id)) << r.title.toStdString();
    // The chain wrote on throughout: stretches landed while each take was on air.
    EXPECT_GE(outpaint.stretchesWritten() - stretchesAtStart, 4) << log;
}

// A record at 85 bpm synced to a 125.5 bpm deck plays half again as fast; deck
// 2 stays busy until it has 10 s left, so the next record's phrase downbeat
// lies beyond its end. The mix comes in anyway and nothing goes quiet.
TEST(FlowSet, TheNextRecordComesInBeforeAFastRecordEnds)
{
    test::AppRig rig;
    rig.analyzer = fixedGrid;
    AppModel& app = bootOnTheFakeDevice(rig);
    ASSERT_TRUE(app.audio().io());
    const std::vector<TrackRecord> r =
        importRecords(rig, app, {QStringLiteral("Garden@85"), QStringLiteral("Take@125.5"), QStringLiteral("Bravo"),
                                 QStringLiteral("Charlie")},
                      {100.0, 120.0, 60.0, 60.0});
    ASSERT_EQ(r.size(), 4u);
    const TrackRecord &garden = r[0], &take = r[1], &bravo = r[2], &charlie = r[3];
    std::vector<Mix> mixes;
    watchMixes(app, mixes);

    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, garden));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, take));
    app.mixer().setCrossfader(-1.0);
    app.mixer().channel(0).setSync(true);
    for (int deck : {0, 1})
        app.deck(deck).setKeyLock(false); // the tempo moves the pitch: no time-pitch work
    app.deck(1).playPause();
    const std::shared_ptr<MixerParams> params = app.mixer().params();
    ASSERT_TRUE(params);
    params->masterRequest.store(1); // deck 2 leads the tempo
    playFrame(rig, app);
    app.deck(0).playPause();
    app.setQueue({bravo.id, charlie.id});
    app.setAutoQueue(true);

    const double bar = 60.0 / 125.5 * 4.0; // as heard
    double silentFor = 0.0, longestSilence = 0.0, played = 0.0;
    bool deck2Busy = true;
    const auto bravoIn = [&] {
        return std::any_of(mixes.begin(), mixes.end(),
                           [&](const Mix& m) { return m.completed && m.incoming && m.incoming->id == bravo.id; });
    };
    std::optional<std::vector<QUuid>> queueOnceIn;
    std::size_t mixesOnceIn = 0;
    for (double after = 0.0; played < 200.0 && after < 15.0; played += TransitionModel::kFrameInterval) {
        ASSERT_NO_FATAL_FAILURE(playFrame(rig, app));
        const DeckState& g = app.deck(0).voice()->state();
        if (deck2Busy && g.position.load() >= 90.0) {
            // The take mixed out: flow's own pause, no hand on a control.
            app.deck(1).voice()->send(DeckCommand::pause());
            deck2Busy = false;
            EXPECT_NEAR(g.speed.load(), 125.5 / 85.0, 0.01) << "synced to the take";
        }
        const MixerState& meters = *app.audio().io()->engine().state();
        const bool silent = std::max(meters.masterPeakL.load(), meters.masterPeakR.load()) < 1e-3;
        silentFor = silent && (playing(app, 0) || playing(app, 1)) ? silentFor + TransitionModel::kFrameInterval : 0.0;
        longestSilence = std::max(longestSilence, silentFor);
        if (bravoIn() && !queueOnceIn) {
            queueOnceIn = app.queue();
            mixesOnceIn = mixes.size();
        }
        if (bravoIn())
            after += TransitionModel::kFrameInterval;
    }
    const std::string log = notesOf(rig).join(QLatin1Char('\n')).toStdString();
    ASSERT_FALSE(deck2Busy);
    ASSERT_TRUE(bravoIn()) << log;
    EXPECT_EQ(mixesOnceIn, 1u) << log;
    EXPECT_EQ(*queueOnceIn, std::vector<QUuid>{charlie.id}) << "the queue moved on";
    EXPECT_LT(longestSilence, bar) << log;
}

// A cue whose decode takes longer than flow waits: flow gives up on it, says
// so, does not take what the idle deck held before for it, never queues it
// again, and mixes it in once when it lands after all.
TEST(FlowSet, ALoadSlowerThanTheGiveUpIsMixedInOnce)
{
    test::AppRig rig;
    rig.analyzer = fixedGrid;
    AppModel& app = bootOnTheFakeDevice(rig);
    ASSERT_TRUE(app.audio().io());
    app.transition().setBars(4); // 8 s mixes
    const std::vector<TrackRecord> r = importRecords(
        rig, app, {QStringLiteral("Alpha"), QStringLiteral("Zulu"), QStringLiteral("Bravo")}, {100.0, 60.0, 60.0});
    ASSERT_EQ(r.size(), 3u);
    const TrackRecord &alpha = r[0], &zulu = r[1], &bravo = r[2];
    std::vector<Mix> mixes;
    watchMixes(app, mixes);
    int bravoQueued = 0;
    bool bravoInQueue = false;
    QObject::connect(&app, &AppModel::queueChanged, [&] {
        const bool now = std::find(app.queue().begin(), app.queue().end(), bravo.id) != app.queue().end();
        bravoQueued += now && !bravoInQueue ? 1 : 0;
        bravoInQueue = now;
    });

    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, alpha));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, zulu)); // what deck 2 holds before the cue
    test::HeldDecode slow(bravo.path);
    app.deck(1).setDecoder(slow.decoder());
    app.mixer().setCrossfader(-1.0);
    app.setQueue({bravo.id});
    app.deck(0).playPause();
    app.setAutoQueue(true);

    double heldSince = -1.0;
    // Alpha is cued out at 62 s and mixed out by about 104 s.
    for (double played = 0.0; played < 115.0; played += TransitionModel::kFrameInterval) {
        ASSERT_NO_FATAL_FAILURE(playFrame(rig, app, nullptr, &slow));
        if (slow.holding() && heldSince < 0.0)
            heldSince = played;
        if (heldSince >= 0.0 && played - heldSince > 25.0)
            slow.release(); // lands 5 s after flow gave up
    }
    const QStringList notes = notesOf(rig);
    const std::string log = notes.join(QLatin1Char('\n')).toStdString();
    ASSERT_GE(heldSince, 0.0) << log;
    EXPECT_TRUE(notes.contains(QStringLiteral("flow: gave up loading Bravo on deck 2 after 20s; going on without it")))
        << log;
    EXPECT_EQ(bravoQueued, 1) << "queued once, by the test";
    ASSERT_EQ(mixes.size(), 1u) << log;
    EXPECT_TRUE(mixes[0].completed) << log;
    ASSERT_TRUE(mixes[0].incoming);
    EXPECT_EQ(mixes[0].incoming->id, bravo.id) << "Zulu, there before the cue, is not mixed in for it";
    EXPECT_FALSE(app.heard().contains(zulu.id));

    // The give-up lasts for the run only: flow switched off and on again may
    // queue the record again.
    EXPECT_TRUE(app.givenUp().contains(bravo.id));
    app.setAutoQueue(false);
    app.setAutoQueue(true);
    EXPECT_TRUE(app.givenUp().isEmpty());
}

// --- Flow's gaps: a record played twice, a room left silent. Each case plays
// drum records named "<title>@<bpm>" on the fake device, frame by frame.

// A queued record already on a deck is never cued again: the playing one at
// the queue's head is passed over (and not called "next"), and the one loaded
// by hand on the idle deck is mixed in from there and leaves the queue.
TEST(FlowGaps, AQueuedRecordOnADeckIsMixedInOnceFromWhereItIs)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {50.0, 50.0, 50.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &b = set[1], &c = set[2];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, b));
    app.setQueue({a.id, b.id, c.id}); // loading does not dequeue
    set.play(0);
    app.setAutoQueue(true);
    ASSERT_TRUE(app.nextQueuedRecord());
    EXPECT_EQ(app.nextQueuedRecord()->id, b.id) << "the playing record is not next";

    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(c); }, 150.0)) << set.log();
    EXPECT_EQ(set.incoming(), (std::vector<QUuid>{b.id, c.id})) << set.log();
    for (const Mix& m : set.mixes)
        EXPECT_TRUE(m.completed) << set.log();
    const QString log = set.notes().join(QLatin1Char('\n'));
    EXPECT_FALSE(log.contains(QStringLiteral("auto: cued Alpha")) || log.contains(QStringLiteral("auto: cued Bravo")))
        << set.log();
    EXPECT_TRUE(log.contains(QStringLiteral("auto: cued Charlie on deck 1"))) << set.log();
    EXPECT_TRUE(app.queue().empty()) << app.queue().size();
}

// The next record lands only after the live record has ended (a decode slower
// than the music left), or another record takes the idle deck from flow's
// load after the end: either way it comes in at once, and the flow line says
// so meanwhile.
TEST(FlowGaps, TheNextRecordComesInAtOnceAfterTheLiveRecordEnded)
{
    for (const bool superseded : {false, true}) {
        SCOPED_TRACE(superseded ? "another record takes deck 2" : "the cue lands late");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Zulu")}, {15.0, 40.0, 40.0}, 4);
        AppModel& app = set.app;
        const TrackRecord &a = set[0], &b = set[1], &z = set[2];
        test::HeldDecode slow(b.path);
        app.deck(1).setDecoder(slow.decoder());
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
        app.setQueue({b.id});
        set.play(0);
        app.setAutoQueue(true);

        // Bravo is cued at once (15 s is inside both windows) and held; Alpha plays out.
        ASSERT_TRUE(set.playUntil([&] { return !playing(app, 0); }, 20.0, &slow)) << set.log();
        ASSERT_TRUE(slow.holding()) << set.log();
        set.playUntil([] { return false; }, 2.0, &slow);
        EXPECT_EQ(app.flowLine(), QStringLiteral("deck 1 has stopped \u00b7 bravo comes in now"));
        const TrackRecord& next = superseded ? z : b;
        if (superseded)
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, z));
        else
            slow.release();
        const double landed = set.played;
        ASSERT_TRUE(set.playUntil([&] { return playing(app, 1) && set.masterPeak() > 1e-3; }, 10.0, &slow))
            << set.log();
        // A few frames: the landing, the mix's start and the deck's first render,
        // not the second until flow's next check.
        EXPECT_LT(set.played - landed, 0.15) << set.log();
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(next); }, 5.0, &slow)) << set.log();
        EXPECT_EQ(app.transition().liveDeck(), 1);
        if (superseded) {
            EXPECT_EQ(app.queue(), std::vector<QUuid>{b.id}) << "Bravo never played: it is queued again";
            EXPECT_TRUE(set.notes().contains(
                QStringLiteral("flow: Zulu took deck 2 before Bravo landed; it goes back to the head of the queue")))
                << set.log();
        }
    }
}

// A take of deck 1's record still being written when the next record's cue is
// due: flow's own fork is called off, quietly, and the queue's record comes in
// on time; with nothing else to bring in, the take is waited for. A render
// the user started is theirs: flow never calls it off, and the set goes on
// around it: over a record that plays on to its end the next one comes in on
// time; over a deck 1 the user stopped, once their hands are off.
TEST(FlowGaps, ARenderNearTheEndGivesWayToTheNextRecord)
{
    enum class Case { ownFork, ownForkAlone, usersFork, usersForkOverAStop };
    for (const Case c : {Case::ownFork, Case::ownForkAlone, Case::usersFork, Case::usersForkOverAStop}) {
        SCOPED_TRACE(int(c));
        const bool queued = c != Case::ownForkAlone;
        const bool users = c == Case::usersFork || c == Case::usersForkOverAStop;
        SetRig set(queued ? std::vector<QString>{QStringLiteral("Alpha"), QStringLiteral("Bravo")}
                          : std::vector<QString>{QStringLiteral("Alpha")},
                   queued ? std::vector<double>{50.0, 50.0} : std::vector<double>{50.0}, 4);
        AppModel& app = set.app;
        app.setModelKeyLink(std::make_unique<CancellingKey>(set.rig.world));
        test::FakeWorld& world = set.rig.world;
        ForkSettings settings = world.settings;
        settings.contextBars = 2; // flow forks Alpha 5 s in, 45 s before its end
        settings.aheadBars = 1;
        world.settings = settings;
        world.forkRenders = true; // and the render never ends on its own
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
        if (queued)
            app.setQueue({set[1].id});
        if (users)
            app.outpaint().fork(true); // the user's own, from the on-screen key
        set.play(0);
        app.setAutoQueue(true);
        const auto calledOff = [&] {
            return world.journal.contains(QStringLiteral("workflow.callOff"))
                || world.journal.contains(QStringLiteral("key.cancel"));
        };

        if (c == Case::usersFork) {
            // Alpha plays on to its end while the user's take is written.
            ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 60.0)) << set.log();
            EXPECT_LT(set.app.deck(0).voice()->state().position.load(), 50.0) << "in before Alpha ended";
            EXPECT_FALSE(calledOff()) << set.log();
            EXPECT_EQ(world.phase, WorkflowLink::Phase::rendering);
            EXPECT_EQ(world.journal.count(QStringLiteral("workflow.fork(0)")), 0) << set.log();
            continue;
        }
        if (c == Case::usersForkOverAStop) {
            // The user stops Alpha mid-record and takes their hands off.
            set.playUntil([] { return false; }, 10.0);
            app.deck(0).playPause();
            ASSERT_TRUE(set.playUntil([&] { return !playing(app, 0); }, 1.0));
            EXPECT_FALSE(set.playUntil([&] { return set.mixedIn(set[1]); }, 44.0)) << "hands on: " << set.log();
            ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 10.0)) << set.log();
            EXPECT_FALSE(calledOff()) << set.log();
            EXPECT_EQ(world.phase, WorkflowLink::Phase::rendering);
            continue;
        }
        if (c == Case::ownForkAlone) {
            set.playUntil([] { return false; }, 40.0);
            EXPECT_FALSE(calledOff()) << set.log();
            EXPECT_EQ(world.phase, WorkflowLink::Phase::rendering);
            EXPECT_EQ(world.journal.count(QStringLiteral("workflow.fork(0)")), 1);
            continue;
        }
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 60.0)) << set.log();
        EXPECT_EQ(world.journal.count(QStringLiteral("workflow.fork(0)")), 1) << set.log();
        EXPECT_TRUE(world.journal.contains(QStringLiteral("workflow.callOff")));
        EXPECT_FALSE(world.journal.contains(QStringLiteral("key.cancel"))) << "no cancel: no notice, no snooze";
        EXPECT_TRUE(set.notes().contains(
            QStringLiteral("flow: no time left for zelvo-0's take of Alpha; the next record comes in")))
            << set.log();
        EXPECT_LT(set.app.deck(0).voice()->state().position.load(), 50.0) << "in before Alpha ended";
    }
}

// The downbeat of a long mix lies just inside the outgoing record's end: the
// mix is cut to the music left, so the incoming deck is up when it ends.
TEST(FlowGaps, AMixLongerThanTheMusicLeftIsCutToIt)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {34.0, 60.0}, 16);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0, 20.0);
    app.transition().mix(1); // the phrase downbeat at 32 s, a bar before the end; 32 s of mix
    ASSERT_TRUE(set.playUntil([&] { return !playing(app, 0); }, 20.0)) << set.log();
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 0.1))
        << "still mixing at " << app.transition().phase().value;
    EXPECT_TRUE(set.mixedIn(set[1]));
    EXPECT_EQ(app.mixer().crossfader(), 1.0);
    EXPECT_FALSE(set.playUntil([&] { return set.silentFor > 0.25; }, 8.0)) << "deck 2 up at full level";
}

// With deck 1 stopped and deck 2 playing, a crossfader left in the middle or
// near deck 1's end keeps the playing deck from full level: flow brings it in
// and carries on from it with the queue, at once when its record is near its
// end.
TEST(FlowGaps, ThePlayingDeckIsLiveWhenTheCrossfadersDeckIsStopped)
{
    struct Case {
        double crossfader;
        double from; // where Bravo plays from
    };
    for (const Case c : {Case{0.0, 0.0}, Case{-0.9, 0.0}, Case{-0.9, 40.0}}) {
        SCOPED_TRACE(c.crossfader);
        SCOPED_TRACE(c.from);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {50.0, 50.0, 50.0},
                   4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.loadBoth());
        app.mixer().setCrossfader(c.crossfader);
        app.setQueue({set[2].id});
        set.play(1, c.from);
        app.setAutoQueue(true);
        ASSERT_TRUE(set.playUntil([&] { return app.mixer().crossfader() == 1.0; }, 2.0)) << set.log();
        EXPECT_TRUE(set.notes().contains(
            QStringLiteral("flow: deck 1 stopped while deck 2 plays Bravo; bringing deck 2 in")))
            << set.log();
        // Bravo near its end: Charlie's cue is due, and comes at the next
        // tick, not at the next second.
        if (c.from > 0.0) {
            EXPECT_TRUE(set.playUntil(
                [&] {
                    const QStringList notes = set.notes();
                    return std::any_of(notes.begin(), notes.end(), [](const QString& l) {
                        return l.startsWith(QStringLiteral("auto: cued Charlie"));
                    });
                },
                0.25))
                << set.log();
        }
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[2]); }, 60.0)) << set.log();
        EXPECT_EQ(set.incoming(), std::vector<QUuid>{set[2].id}) << "Alpha, stopped on deck 1, stays out";
    }
}

// The guide counts the bars to the mix on the mix's own clock: a take swapped
// in under the outgoing deck does not add the swap's offset, and a mix that
// begins early because the record ends first does not claim the phrase.
TEST(FlowGaps, TheGuideCountsOnTheMixClock)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Short")}, {100.0, 120.0, 30.0},
               16);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0, 5.0);
    app.transition().mix(1); // the downbeat at 32 s
    const auto count = [&] {
        const QString guide = app.guide();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^MIX STARTS IN (\\d+) BARS? \u00b7 ON THE PHRASE$")).match(guide);
        EXPECT_TRUE(m.hasMatch()) << guide.toStdString();
        return m.captured(1).toInt();
    };
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::waitingDownbeat; }, 1.0));
    const int before = count();
    EXPECT_EQ(before, 13);
    DeckModel& one = app.deck(0);
    ASSERT_TRUE(one.swapIn(*one.track(), one.buffer(), one.waveform(), 3.0));
    for (int previous = before, i = 0; i < 120; ++i) {
        set.frame();
        const int now = count();
        ASSERT_LE(now, previous) << "the count grew after the swap";
        previous = now;
    }

    // 18 s into a 30 s record with 16-bar phrases: the downbeat at 32 s never
    // comes; the mix begins on the bar line at 22 s.
    app.transition().mix(1); // calls it off
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 0.5));
    app.deck(1).playPause();
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[2]));
    app.deck(0).voice()->send(DeckCommand::seek(18.0));
    set.frame();
    if (!playing(app, 0))
        set.play(0);
    ASSERT_TRUE(playing(app, 0));
    app.deck(1).voice()->send(DeckCommand::seek(0.0));
    app.mixer().setCrossfader(-1.0);
    set.frame();
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::waitingDownbeat; }, 1.0));
    EXPECT_EQ(app.guide(), QStringLiteral("MIX STARTS IN 1 BAR \u00b7 BEFORE THE RECORD ENDS"));
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::mixing; }, 5.0));
    EXPECT_NEAR(app.deck(0).voice()->state().position.load(), 22.0, 0.1);
}

// Every end of a mix writes one line under the "mix: " subject: complete, or
// where it stood and why, a call-off by hand told apart from the rest.
TEST(FlowGaps, EveryMixEndsWithALineThatSaysWhy)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {100.0, 100.0}, 2);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0, 1.0);
    const auto idle = [&] { return app.transition().phase().kind == Kind::idle; };

    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::waitingDownbeat; }, 1.0));
    app.transition().mix(1); // called off by hand
    ASSERT_TRUE(set.playUntil(idle, 0.5));
    app.mixer().setCrossfader(-1.0);
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::mixing; }, 10.0));
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().value >= 0.5; }, 5.0));
    app.mixer().setCrossfader(app.mixer().crossfader() + 0.2); // a hand on the crossfader
    ASSERT_TRUE(set.playUntil(idle, 0.5));
    app.mixer().setCrossfader(-1.0);
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil(idle, 20.0));

    QStringList mixLines;
    for (const QString& line : set.notes())
        if (line.startsWith(QStringLiteral("mix")))
            mixLines << line;
    ASSERT_EQ(mixLines.size(), 3) << set.log();
    EXPECT_TRUE(QRegularExpression(QStringLiteral(
                    "^mix: onto deck 2 ended waiting for its downbeat at \\d+\\.\\d\\ds \u2014 called off by hand$"))
                    .match(mixLines[0])
                    .hasMatch())
        << mixLines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^mix: onto deck 2 ended mixing at 5\\d% \u2014 a hand took the crossfader$"))
                    .match(mixLines[1])
                    .hasMatch())
        << mixLines[1].toStdString();
    EXPECT_EQ(mixLines[2], QStringLiteral("mix: onto deck 2 complete"));
}

// A mix that no deck plays any more (a hand pausing the outgoing deck as the
// incoming one plays out) waits while hands are on and is ended once they
// are off: the set goes on within a bar. A record loaded over the incoming
// deck, or a hand pausing it, as the outgoing one ends calls the mix off
// onto the outgoing record, which plays its end at full level; the set goes
// on after it.
TEST(FlowGaps, AMixNoDeckPlaysEndsOnceHandsAreOff)
{
    enum class Case { loadOverIncoming, handPausesIncoming, handPausesOutgoing };
    for (const Case c : {Case::loadOverIncoming, Case::handPausesIncoming, Case::handPausesOutgoing}) {
        SCOPED_TRACE(int(c));
        const bool byHand = c != Case::loadOverIncoming;
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
                   {60.0, 60.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.loadBoth());
        app.setQueue({set[2].id});
        // Near Alpha's end the mix is cut to the music left; mid-record it is not.
        set.play(0, c == Case::handPausesOutgoing ? 30.0 : 55.0);
        app.setAutoQueue(true);
        app.transition().mix(1);
        ASSERT_TRUE(set.playUntil(
            [&] { return app.transition().phase().kind == Kind::mixing && app.transition().phase().value >= 0.3; },
            20.0))
            << int(app.transition().phase().kind) << " " << app.transition().phase().value << " " << playing(app, 0)
            << playing(app, 1) << " " << app.deck(0).voice()->state().position.load() << " "
            << app.deck(1).voice()->state().position.load() << "\n" << set.log();
        switch (c) {
        case Case::loadOverIncoming: ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, set[3])); break;
        case Case::handPausesIncoming: app.deck(1).playPause(); break;
        case Case::handPausesOutgoing:
            // Bravo, the short incoming record, has 2 s left: it plays out mid-mix.
            app.deck(1).voice()->send(DeckCommand::seek(58.0));
            app.deck(0).playPause();
            break;
        }
        const bool incomingStops = c != Case::handPausesOutgoing;
        if (incomingStops) {
            ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 0.1)) << set.log();
            EXPECT_EQ(app.mixer().crossfader(), -1.0);
            EXPECT_TRUE(playing(app, 0)) << set.log();
        }
        ASSERT_TRUE(incomingStops
                    || set.playUntil([&] { return !playing(app, 0) && !playing(app, 1); }, 10.0))
            << set.log();
        if (byHand && !incomingStops) {
            set.playUntil([] { return false; }, 20.0);
            EXPECT_EQ(app.transition().phase().kind, Kind::mixing) << "a hand is on it: the mix waits";
            ASSERT_TRUE(set.playUntil([&] { return app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45000; }, 30.0));
        }
        const double bar = 2.0;
        if (byHand && incomingStops) {
            ASSERT_TRUE(set.playUntil([&] { return app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45000; }, 60.0));
        }
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind != Kind::mixing; }, bar))
            << "stuck at " << app.transition().phase().value << "\n" << set.log();
        const TrackRecord& next = c == Case::loadOverIncoming ? set[3] : set[2];
        ASSERT_TRUE(set.playUntil([&] { return playing(app, 0) || playing(app, 1); }, bar)) << set.log();
        // The record loaded over the incoming deck, where the crossfader
        // stands, may also simply play there.
        ASSERT_TRUE(set.playUntil(
            [&] {
                return set.mixedIn(next)
                    || (app.deck(1).track() && app.deck(1).track()->id == next.id && app.isAudible(1));
            },
            10.0))
            << set.log();
        const QStringList notes = set.notes();
        EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const QString& line) {
            return line.startsWith(QStringLiteral("mix: onto deck 2 ended mixing at"))
                && line.endsWith(incomingStops ? QStringLiteral("its incoming deck stopped")
                                               : QStringLiteral("no deck was playing"));
        })) << set.log();
    }
}

// A live deck that stops mid-record is followed at once at full level, not
// by a fade from silence; an output restart lets the record play on from
// where it stood, mixing or not.
TEST(FlowGaps, AStoppedDeckOrAnOutputRestartLeavesNoSilence)
{
    enum class Case { stoppedMidRecord, restart, restartMidMix };
    for (const Case c : {Case::stoppedMidRecord, Case::restart, Case::restartMidMix}) {
        SCOPED_TRACE(int(c));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {120.0, 60.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.loadBoth());
        set.play(0, 20.0);
        app.setAutoQueue(true);
        set.playUntil([] { return false; }, 2.0);
        if (c == Case::stoppedMidRecord) {
            app.deck(0).voice()->send(DeckCommand::pause()); // no hand: the deck just stops
            ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind != Kind::idle; }, 2.0)) << set.log();
            ASSERT_TRUE(set.playUntil([&] { return app.mixer().crossfader() == 1.0; }, 0.5))
                << "a fade from silence: " << app.mixer().crossfader();
            EXPECT_FALSE(set.playUntil([&] { return set.silentFor > 0.25; }, 5.0));
            continue;
        }
        if (c == Case::restartMidMix) {
            app.transition().mix(1);
            ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::mixing; }, 10.0));
        }
        const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
        const double at = before->state().position.load();
        app.audio().setBufferFrames(app.audio().bufferFrames() == 512 ? 1024 : 512);
        // The new unit starts on a worker: waited for with the clock held.
        ASSERT_TRUE(test::spinUntil([&] {
            return app.deck(0).voice() && app.deck(0).voice() != before && app.audio().io()
                && app.audio().io()->running();
        }));
        if (c == Case::restart) {
            ASSERT_TRUE(set.playUntil([&] { return playing(app, 0); }, 1.0)) << set.log();
            EXPECT_NEAR(app.deck(0).voice()->state().position.load(), at, 1.0) << "played on from where it stood";
            EXPECT_FALSE(set.playUntil([&] { return set.silentFor > 0.5; }, 5.0));
            continue;
        }
        // Mid-mix the set goes on within a bar, and Bravo ends up live.
        EXPECT_FALSE(set.playUntil([&] { return set.silentFor > 2.0; }, 10.0)) << set.log();
        EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 10.0)) << set.log();
        EXPECT_TRUE(playing(app, 1)) << set.log();
    }
}

// What no hand did stops the room mid-set: flow carries on at once, even
// with a hand on the decks a few seconds before. A record loaded from the
// browser over the incoming deck late in a mix plays once the mix lands on it;
// an output restart at another rate (the decks reload and park) is followed
// by the next record, mixing or not.
TEST(FlowGaps, WhatNoHandStoppedGoesOnAtOnce)
{
    enum class Case { loadOverIncoming, loadOverIncomingAtEnd, otherRateMidMix, otherRateBetweenMixes };
    for (const Case c :
         {Case::loadOverIncoming, Case::loadOverIncomingAtEnd, Case::otherRateMidMix, Case::otherRateBetweenMixes}) {
        SCOPED_TRACE(int(c));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Delta")},
                   {120.0, 60.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        const bool restart = c == Case::otherRateMidMix || c == Case::otherRateBetweenMixes;
        if (restart) {
            app.deck(0).playPause(); // a hand, a moment before
            app.deck(0).playPause();
        }
        if (c != Case::otherRateBetweenMixes) {
            app.transition().mix(1);
            const double at = c == Case::loadOverIncomingAtEnd ? 0.99 : 0.5;
            ASSERT_TRUE(set.playUntil(
                [&] { return app.transition().phase().kind == Kind::mixing && app.transition().phase().value >= at; },
                20.0));
        } else {
            set.playUntil([] { return false; }, 5.0);
        }
        if (!restart) {
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, set[3]));
        } else {
            FakeAudioBackend::Device device;
            device.uid = "fake.other";
            device.name = "Fake Other";
            device.nominalSampleRate = kSetRate * 44100.0 / 48000.0; // an uneven ratio
            set.rig.backend->addDevice(device);
            const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
            app.audio().setDeviceUID(QStringLiteral("fake.other"));
            ASSERT_TRUE(test::spinUntil([&] {
                return app.deck(0).voice() && app.deck(0).voice() != before && app.audio().io()
                    && app.audio().io()->running();
            }));
        }
        double worst = 0.0;
        for (const double end = set.played + 40.0; set.played < end;) {
            set.frame();
            worst = std::max(worst, set.silentFor);
        }
        EXPECT_LT(worst, 2.0) << set.log();
    }
}

// While a new output takes its time to open, the decks read as stopped: no
// mix ends and flow brings nothing in for it; once the output runs, the set
// plays on where it stood, mid-mix or between mixes.
TEST(FlowGaps, NothingIsReadWhileTheOutputOpens)
{
    for (const bool midMix : {true, false}) {
        SCOPED_TRACE(midMix);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        if (midMix) {
            app.transition().mix(1);
            ASSERT_TRUE(set.playUntil(
                [&] { return app.transition().phase().kind == Kind::mixing && app.transition().phase().value >= 0.3; },
                20.0));
        }
        FakeAudioBackend::Device device;
        device.uid = "fake.slow";
        device.name = "Fake Slow";
        device.nominalSampleRate = kSetRate;
        device.hangOnInitialize = true;
        set.rig.backend->addDevice(device);
        const qsizetype linesBefore = set.notes().size();
        app.audio().setDeviceUID(QStringLiteral("fake.slow"));
        ASSERT_TRUE(test::spinUntil([&] { return set.rig.backend->hungCount() == 1; }));
        set.playUntil([] { return false; }, 2.0);
        EXPECT_EQ(set.notes().size(), linesBefore) << set.log();
        EXPECT_EQ(app.transition().phase().kind, midMix ? Kind::mixing : Kind::idle);
        set.rig.backend->releaseHangs();
        ASSERT_TRUE(test::spinUntil([&] { return app.audio().io() && app.audio().io()->running(); }));
        EXPECT_LT(set.longestSilenceOver(20.0), 0.5) << set.log();
        // The set plays on: Alpha, or Bravo once the mix is over (Alpha,
        // faded out, is paused once it stays quiet).
        EXPECT_TRUE(playing(app, midMix ? 1 : 0)) << set.log();
        EXPECT_TRUE(!midMix || set.mixedIn(set[1])) << set.log();
    }
}

// Flow calls off only a render its own fork started: a fork that started none
// leaves the user's next fork alone.
TEST(FlowGaps, AForkThatStartedNoRunLeavesTheUsersForkAlone)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {80.0, 50.0}, 4);
    AppModel& app = set.app;
    app.setModelKeyLink(std::make_unique<CancellingKey>(set.rig.world));
    test::FakeWorld& world = set.rig.world;
    world.settings.contextBars = 2;
    world.settings.aheadBars = 1;
    world.forkStarts = false;
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
    app.setQueue({set[1].id});
    set.play(0);
    app.setAutoQueue(true);
    ASSERT_TRUE(set.playUntil([&] { return world.journal.contains(QStringLiteral("workflow.fork(0)")); }, 20.0))
        << set.log();
    set.playUntil([] { return false; }, 5.0);
    world.forkStarts = true;
    world.forkRenders = true;
    app.outpaint().fork(true);
    set.playUntil([&] { return set.mixedIn(set[1]); }, 80.0);
    EXPECT_FALSE(world.journal.contains(QStringLiteral("workflow.callOff"))) << set.log();
}

// A queued record whose file is gone is given up at once, with the reason,
// and the next queued record comes in.
TEST(FlowGaps, ALoadThatFailsIsGivenUpAtOnce)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Gone"), QStringLiteral("Charlie")}, {10.0, 30.0, 30.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
    ASSERT_TRUE(QFile::remove(set[1].path));
    app.setQueue({set[1].id, set[2].id});
    set.play(0);
    app.setAutoQueue(true);
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[2]); }, 12.0)) << set.log();
    const QStringList notes = set.notes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const QString& line) {
        return line.startsWith(QStringLiteral("flow: gave up loading Gone on deck 2: "))
            && line.endsWith(QStringLiteral("; going on without it"));
    })) << set.log();
    EXPECT_TRUE(app.givenUp().contains(set[1].id));
}

// The queue is the user's list: a record on air before and queued again (a
// request) or loaded again by hand comes in when its turn comes, with flow
// on or off; one heard and left playing behind the crossfader is not brought
// back; what flow passes over it says.
TEST(FlowGaps, TheQueueIsTheUsersList)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 30.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &b = set[1], &c = set[2];
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    app.setQueue({a.id, c.id});
    set.play(0, 20.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    ASSERT_TRUE(app.onAir().contains(a.id));
    // A mix by the user from Alpha into Bravo; Alpha plays on behind the crossfader.
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 20.0)) << set.log();
    ASSERT_TRUE(playing(app, 0));
    // Bravo ends: Charlie comes in, not Alpha again.
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(c); }, 40.0)) << set.log();
    EXPECT_FALSE(set.notes().join(QLatin1Char('\n')).contains(QStringLiteral("bringing deck 1 in"))) << set.log();
    EXPECT_TRUE(set.notes().contains(QStringLiteral("flow: passed over Alpha in the queue: it was on air already")))
        << set.log();
    EXPECT_EQ(set.incoming(), (std::vector<QUuid>{b.id, c.id})) << set.log();

    // A request for Alpha: queued again, it is cued and mixed in on its turn.
    app.enqueue(a.id);
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(a) ; }, 90.0)) << set.log();

    // Flow off: NEXT loads a record that was on air and queued again.
    app.setAutoQueue(false);
    app.enqueue(c.id);
    app.deck(1 - app.transition().liveDeck()).voice()->send(DeckCommand::pause());
    set.frame();
    app.loadNext();
    ASSERT_TRUE(set.playUntil([&] {
        const std::optional<TrackRecord>& idle = app.deck(1 - app.transition().liveDeck()).track();
        return idle && idle->id == c.id;
    }, 2.0)) << app.guide().toStdString();
    EXPECT_TRUE(app.queue().empty());
}

// What the user does to records already heard leaves no silence once hands
// are off: a request for the record a mix left playing behind the crossfader
// waits its turn rather than holding the set on it, and a second load by hand
// over the live deck stops the set there as the first did.
TEST(FlowGaps, RequestsAndLoadsOverHeardRecordsLeaveNoSilence)
{
    enum class Case { requestBehindTheCrossfader, oneLoadOverLive, twoLoadsOverLive };
    for (const Case c : {Case::requestBehindTheCrossfader, Case::oneLoadOverLive, Case::twoLoadsOverLive}) {
        SCOPED_TRACE(int(c));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu"),
                    QStringLiteral("Yankee")},
                   {c == Case::requestBehindTheCrossfader ? 120.0 : 60.0, c == Case::requestBehindTheCrossfader ? 30.0 : 60.0,
                    60.0, 60.0, 60.0},
                   4);
        AppModel& app = set.app;
        const auto never = [] { return false; };
        if (c == Case::requestBehindTheCrossfader) {
            ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
            app.transition().mix(1); // the user's mix: Alpha plays on behind the crossfader
            ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 20.0)) << set.log();
            ASSERT_TRUE(playing(app, 0));
            app.enqueue(set[0].id);
        } else {
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
            app.setQueue({set[1].id, set[2].id});
            set.play(0);
            app.setAutoQueue(true);
            ASSERT_TRUE(set.playUntil([&] { return app.deck(1).track() && app.deck(1).track()->id == set[1].id; }, 30.0));
            set.playUntil(never, 10.0);
            app.binder().noteHandsOn();
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[3])); // over Alpha, mid-record
            if (c == Case::twoLoadsOverLive) {
                set.playUntil(never, 5.0);
                app.binder().noteHandsOn();
                ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[4]));
            }
            ASSERT_TRUE(
                set.playUntil([&] { return app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45000; }, 60.0));
        }
        // Silence from here on: hands are off, and a bar is 2 s.
        EXPECT_LT(set.longestSilenceOver(60.0), 2.0) << set.log();
    }
}

// The record playing now, queued by the user as a request, plays again on
// its turn rather than being passed over as on air already.
TEST(FlowGaps, TheRecordPlayingNowQueuedAgainPlaysOnItsTurn)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {40.0, 30.0, 30.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    app.setQueue({set[2].id});
    set.play(0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.enqueue(set[0].id);
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[0]); }, 120.0)) << set.log();
    EXPECT_FALSE(set.notes().join(QLatin1Char('\n')).contains(QStringLiteral("passed over Alpha"))) << set.log();
}

// A dozen records of mixed tempi and lengths (some shorter than a mix and its
// cue window, some sped up half again by sync) left to flow, on fixed seeds:
// some decodes outlast the music left, renders start near a record's end,
// and now and then a hand loads the queue's head onto the idle deck or leaves
// the crossfader anywhere. No record is mixed in twice (nor once it has been
// on air), the master never stays below -60 dBFS for longer than the live
// record's bar while hands are off and a record remains (a decode still held
// aside), and every mix that ends writes its line.
TEST(FlowSetRandom, AHandsOffSetNeverRepeatsARecordNorGoesQuiet)
{
    for (const unsigned seed : {7u, 19u, 42u}) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const auto uniform = [&random](double lo, double hi) {
            return std::uniform_real_distribution<double>(lo, hi)(random);
        };
        const double tempi[] = {90.0, 100.0, 118.0, 124.0, 128.0, 140.0};
        std::vector<QString> names;
        std::vector<double> lengths;
        for (int i = 0; i < 12; ++i) {
            names.push_back(QStringLiteral("R%1@%2").arg(i).arg(tempi[random() % 6]));
            lengths.push_back(random() % 4 == 0 ? uniform(12.0, 20.0) : uniform(24.0, 44.0));
        }
        SetRig set(names, lengths, 4);
        ASSERT_EQ(set.records.size(), 12u);
        AppModel& app = set.app;
        app.setModelKeyLink(std::make_unique<CancellingKey>(set.rig.world));
        QStringList slowPaths;
        for (int i = 0; i < 3; ++i)
            slowPaths << set[1 + random() % 11].path;
        test::HeldDecode slow(slowPaths);
        for (int deck : {0, 1})
            app.deck(deck).setDecoder(slow.decoder());

        // Records heard on air, as the test sees them frame by frame; a mix
        // that begins must not bring one of them in.
        QSet<QUuid> onAir;
        QStringList repeats;
        QObject::connect(&app.transition(), &TransitionModel::phaseChanged, [&] {
            const TransitionModel::Phase& phase = app.transition().phase();
            if (phase.kind != Kind::starting)
                return;
            const std::optional<TrackRecord>& in = app.deck(phase.to).track();
            if (in && onAir.contains(in->id))
                repeats << in->title;
        });

        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
        std::vector<QUuid> queue;
        for (std::size_t i = 1; i < 12; ++i)
            queue.push_back(set[i].id);
        app.setQueue(queue);
        set.play(0);
        app.setAutoQueue(true);

        // Two touches at random, each a load by hand, a crossfader left
        // anywhere, or both.
        std::vector<double> touches{uniform(40.0, 150.0), uniform(200.0, 320.0)};
        double heldFor = 0.0, holdLength = 0.0, renderLeft = 0.0;
        std::optional<QUuid> forkedNear;
        double quiet = 0.0, longest = 0.0, longestBar = 0.0;
        double total = 0.0;
        for (double l : lengths)
            total += l;
        const auto setOver = [&] {
            return onAir.size() == 12 && !playing(app, 0) && !playing(app, 1);
        };
        while (set.played < total + 240.0 && !setOver()) {
            set.frame(&slow);
            ASSERT_FALSE(::testing::Test::HasFatalFailure());
            for (int deck : {0, 1})
                if (app.isAudible(deck) && app.deck(deck).track())
                    onAir.insert(app.deck(deck).track()->id);
            const double frame = TransitionModel::kFrameInterval;
            // A decode held for 6 to 18 s: under flow's give-up, often past the music left.
            if (slow.holding()) {
                if (heldFor == 0.0)
                    holdLength = uniform(6.0, 18.0);
                heldFor += frame;
                if (heldFor >= holdLength) {
                    slow.release();
                    heldFor = 0.0;
                }
            }
            // A fork by hand near the end of deck 1's record, its render
            // running 5 to 40 s: flow waits for the user's take.
            const int live = app.transition().liveDeck();
            const DeckState& one = app.deck(0).voice()->state();
            if (renderLeft > 0.0) {
                renderLeft -= frame;
                if (renderLeft <= 0.0 || set.rig.world.phase != WorkflowLink::Phase::rendering) {
                    renderLeft = 0.0;
                    set.rig.world.phase = WorkflowLink::Phase::idle;
                }
            } else if (live == 0 && one.playing.load() && app.deck(0).track()
                       && forkedNear != app.deck(0).track()->id && one.duration.load() - one.position.load() < 40.0) {
                forkedNear = app.deck(0).track()->id;
                if (random() % 2 == 0) {
                    app.binder().noteHandsOn();
                    app.outpaint().fork(true);
                    set.rig.world.phase = WorkflowLink::Phase::rendering;
                    renderLeft = uniform(5.0, 40.0);
                }
            }
            if (!touches.empty() && set.played >= touches.front()) {
                touches.erase(touches.begin());
                app.binder().noteHandsOn();
                const unsigned what = random() % 3;
                const int idle = 1 - app.transition().liveDeck();
                const std::optional<TrackRecord> next = app.nextQueuedRecord();
                // Only with no load in flight: a hand load never races another.
                if (what != 1 && next && !slow.holding() && !app.autoCueing() && !app.deck(0).loading()
                    && !app.deck(1).loading() && !playing(app, idle) && app.transition().phase().kind == Kind::idle) {
                    // The load may land after this block, once a held decode goes.
                    const auto loaded = std::make_shared<bool>(false);
                    app.deck(idle).load(*next, [loaded] { *loaded = true; });
                    ASSERT_TRUE(test::spinUntil([&] { return *loaded || slow.holding(); }));
                }
                if (what != 0)
                    app.mixer().setCrossfader(uniform(-1.0, 1.0));
            }
            // Silence counts while hands are off, nothing is held aside and a
            // record has not yet been on air.
            const bool handsOff = app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45000;
            const bool counts = handsOff && !slow.holding() && onAir.size() < 12;
            quiet = counts && set.masterPeak() < 1e-3 ? quiet + frame : 0.0;
            const std::optional<TrackRecord>& onDeck = app.deck(live).track();
            const double bar = BeatGrid::barOf(onDeck ? onDeck->grid : std::nullopt);
            if (quiet > bar && quiet - bar > longest - longestBar) {
                longest = quiet;
                longestBar = bar;
            }
        }
        const std::string log = set.log();
        EXPECT_TRUE(setOver()) << "after " << set.played << " s, " << onAir.size() << " on air\n" << log;
        EXPECT_TRUE(repeats.isEmpty()) << repeats.join(QStringLiteral(", ")).toStdString() << "\n" << log;
        EXPECT_EQ(longest, 0.0) << "quiet for " << longest << " s, a bar being " << longestBar << " s\n" << log;
        qsizetype lines = 0;
        for (const QString& line : set.notes())
            lines += line.startsWith(QStringLiteral("mix: onto deck ")) ? 1 : 0;
        const auto ended = std::count_if(set.mixes.begin(), set.mixes.end(), [](const Mix& m) { return m.ended; });
        EXPECT_EQ(lines, ended) << log;
        EXPECT_GE(set.mixes.size(), 8u) << log;
    }
}

// The model key's view of the program: the model server as the supervisor
// reports it, and the workflow rendering while the world's run does; a long
// press calls the render off.
class ReadyKey final : public ModelKeyLink {
public:
    explicit ReadyKey(test::FakeWorld& world) : world_(world), cancelling_(world) {}
    BrainStatus brainStatus() const override { return world_.brainStatus; }
    OutpaintPhase phase() const override
    {
        return world_.phase == WorkflowLink::Phase::rendering ? OutpaintPhase::rendering(QStringLiteral("sample"), 1, 8)
                                                              : OutpaintPhase::idle();
    }
    bool pendingIsExtension() const override { return world_.pendingIsExtension; }
    std::int64_t stretchesWritten() const override { return world_.stretchesWritten; }
    void cancel() override { cancelling_.cancel(); }

private:
    test::FakeWorld& world_;
    CancellingKey cancelling_;
};

// A random user. Any frame may bring what a DJ, the sound card or the system
// does: a deck played or paused by hand, mid-mix too; a record loaded over
// either deck at any frame, a load in flight included; queue edits; requests,
// for records played already, for the record playing now at the head of the
// queue, and requests taken back; flow off and on; the crossfader moved, a
// take-over and the MIX key in a chosen phase of a mix; an output restart, to
// another rate or another buffer size, also in the render right after flow
// sent a deck a command and between a landing and the voice taking it; a
// queued record whose file is gone; a fork by hand; a record landing on the
// incoming deck of a running mix; the MIX key is the controller's, the
// keyboard's, the mix page's or the model's (when its step mixes onto deck 2,
// dropping a take of deck 1's record in where deck 1 stands: a user who drew
// the model's key, or forked by hand, asks for a take and presses the key
// once it lands). Every decode
// takes 0.2 to 3 s of the set's
// time, and now and then the output renders a few frames late after a load
// lands.
//
// The records last as records do: most 2 to 7 minutes, some 20 to 40 s. The
// chain works at its own pace: a fork (flow's or a hand's) renders a while,
// then its take lands on deck 2 (unless deck 2 plays); while deck 2 plays a
// take, each time the take's time left falls below the chain's lead the next
// stretch is written and spliced under the playing voice, through swapIn or
// takeOver.
//
// Checked every frame, once hands are off and flow is on (at once after what
// no hand did):
// - the room is never silent for longer than a bar while a record can play
//   (queued, on a deck with music left, neither heard already nor heard
//   before the user asked for it again); a decode does not excuse it, but for
//   the few named below;
// - no mix stays starting or mixing with no deck playing for longer than a bar;
// - no mix stays starting for longer than four bars while a deck plays, once
//   both decks hold their records (flow frozen with music on);
// - no record plays unheard behind the crossfader or its fader for longer than
//   flow's quiet-outgoing wait and a bar.
// At all times: a record on air stops, or leaves the air, only by a hand, at
// its end, or by a mix flow began inside the mix window (or the rule that
// holds a take), and no load but a hand's lands over it; within 45 s of a
// hand, through restarts, flow neither cues, mixes, plays, pauses, ends a mix
// nor moves the crossfader, but for the play-on of the decks whose play a
// restart interrupted; a restart's play-on plays what the
// decks were last asked to play, a record that landed just before it from its
// own cue. At every start of play (a mix, a bring-in, a play-on): no record
// heard already starts again unless the user asked for it since. At the end:
// every request was heard after it was made, is still queued or on a deck,
// was passed over with a line, or its own load is still in flight.
class RandomUser {
public:
    // Enough records for a set of `length` seconds, eight at least.
    RandomUser(unsigned seed, bool usersPath, double length)
        : random_(seed * 7919u), keys_(seed * 104729u), count_(std::max(8, int(length / 30.0))),
          set_(names(), lengths(), 4, test::Drums::barByBar),
          app_(set_.app), usersPath_(usersPath), length_(length)
    {
    }

    void play();

private:
    // Flow's wait before it pauses a deck it mixed out, and its check's period.
    static constexpr double kQuietOutgoing = 4.0;
    static constexpr double kCheckPeriod = 1.0;
    // Flow's windows before the end of the live record (a mix's length added).
    static constexpr double kMixWindow = 8.0;
    // How long flow holds a take on air while the chain writes it, how long
    // the record a take was forked from plays before the take comes in, and
    // the stretches after which the take makes way.
    static constexpr double kTakeOnAir = 180.0;
    static constexpr double kTakeHoldOfLive = 75.0;
    static constexpr std::int64_t kStretchesToRelease = 2;
    // The chain renders a stretch in about 0.6 of its length and starts one
    // 1.35 times that far ahead of the take's end, 10 s to spare.
    static constexpr double kChainRenderSpeed = 0.6;
    // The bars a mix may stand starting while music plays.
    static constexpr int kStartingBars = 4;

    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random_); }
    std::vector<QString> names()
    {
        const double tempi[] = {100.0, 118.0, 124.0, 128.0};
        std::vector<QString> n;
        for (int i = 0; i < count_; ++i)
            n.push_back(QStringLiteral("U%1@%2").arg(i).arg(tempi[random_() % 4]));
        return n;
    }
    std::vector<double> lengths()
    {
        std::vector<double> l;
        for (int i = 0; i < count_; ++i)
            l.push_back(std::round(random_() % 5 == 0 ? uniform(20.0, 40.0) : uniform(120.0, 420.0)));
        return l;
    }
    const TrackRecord* onDeck(int deck) const
    {
        const std::optional<TrackRecord>& track = app_.deck(deck).track();
        return track ? &*track : nullptr;
    }
    bool handsOn() const { return app_.handsOnAt().msecsTo(set_.rig.scheduler.now()) < 45000; }
    // The deck's channel reaches the master: fader up, not cut by the crossfader.
    bool throughTheMixer(int deck) const
    {
        const ChannelModel& channel = app_.mixer().channel(deck);
        const double x = app_.mixer().crossfader();
        return channel.fader() > 0.05
            && (channel.crossfaderAssign() < 0 ? x < 0.95 : channel.crossfaderAssign() > 0 ? x > -0.95 : true);
    }
    // The deck's record as the room hears it: playing, through the mixer.
    bool onAir(int deck) const { return playing(app_, deck) && onDeck(deck) && throughTheMixer(deck); }
    // The music left on the deck as its voice will play it: a splice sent
    // and not yet taken already counts.
    double timeLeft(int deck) const
    {
        const std::shared_ptr<DeckVoice> voice = app_.deck(deck).voice();
        if (!voice)
            return 0.0;
        const double position = voice->state().position.load();
        const double duration = voice->state().duration.load();
        // A stretch not taken yet: the voice still plays the take it was cut
        // from, of another length. (The same stretch decoded again for
        // another rate may differ from its first decode by a frame: seed
        // 670127 took it for untaken and the take for longer than it was.)
        if (deck == 1 && splice_ && std::abs(duration - splice_->duration) > 0.01)
            return std::max(splice_->duration - (position - splice_->offset), 0.0);
        return std::max(duration - position, 0.0);
    }
    // The record, or the take it was spliced from, down to the first of its chain.
    QUuid chainOf(QUuid id) const
    {
        while (splicedFrom_.contains(id))
            id = splicedFrom_.value(id);
        return id;
    }
    // Heard from the deck's play going on now.
    void heardIn(const QUuid& id, int deck)
    {
        const double start = playStart_[std::size_t(deck)];
        if (!heardSince_.contains(id) || heardSince_[id] < start) {
            // Heard in a new play: what the user asked for is used up.
            wanted_.remove(id);
            heardSince_[id] = start;
        }
        heard_.insert(id);
    }
    // What the user did goes into the log among the program's own lines.
    void did(const QString& what)
    {
        set_.rig.world.journal << QStringLiteral("brain.note [user at %1 s] ").arg(set_.played, 0, 'f', 2) + what;
    }
    void fail(const QString& what)
    {
        if (failures_.size() < 5)
            failures_ << QStringLiteral("at %1 s: ").arg(set_.played, 0, 'f', 2) + what;
    }
    // The user asked for the record (a request, a load, a hand on its deck):
    // it may be heard once more.
    void wants(const QUuid& id) { wanted_.insert(id); }
    void request(const TrackRecord& record)
    {
        did(QStringLiteral("queue %1").arg(record.title));
        // What stood before this request. An earlier request still queued
        // leaves the queue with this one if it is taken back; one whose turn
        // has come (flow's cue of it) stands on.
        const bool queued = std::find(app_.queue().begin(), app_.queue().end(), record.id) != app_.queue().end();
        if (!requestedAt_.contains(record.id))
            before_[record.id] = Before{std::nullopt, wanted_.contains(record.id), 0};
        else if (!queued)
            before_[record.id] =
                Before{requestedAt_[record.id], wanted_.contains(record.id), requestNote_.value(record.id, 0)};
        requestNote_[record.id] = set_.notes().size();
        app_.enqueue(record.id);
        wants(record.id);
        requestedAt_[record.id] = set_.played;
    }
    // A request taken back leaves the record as it stood before it.
    void takeBack(const QUuid& id)
    {
        did(QStringLiteral("take %1 off the queue").arg(app_.library().track(id)->title));
        // An earlier request stands on while its turn does (flow's cue of
        // it, or the record landed on a deck since that request); one put
        // back in the queue since leaves the queue with this one.
        const Before before = before_.value(id);
        const auto landedSince = [&](int deck) {
            return onDeck(deck) && onDeck(deck)->id == id && before.requestedAt
                && landedAt_[std::size_t(deck)] >= *before.requestedAt;
        };
        const bool turnStands = (app_.autoCued() && app_.autoCued()->id == id)
            || (app_.autoCueing() && app_.autoCueing()->id == id) || landedSince(0) || landedSince(1);
        app_.dequeue(id);
        if (before.requestedAt && turnStands) {
            requestedAt_[id] = *before.requestedAt;
            requestNote_[id] = before.note;
        } else
            requestedAt_.remove(id);
        if (!before.wanted)
            wanted_.remove(id);
    }
    void handLoad(int deck, const TrackRecord& record)
    {
        did(QStringLiteral("load %1 on deck %2").arg(record.title).arg(deck + 1));
        app_.binder().noteHandsOn();
        wants(record.id);
        touched_.insert(record.id);
        handAt_[std::size_t(deck)] = set_.played;
        keyCalledOff_[std::size_t(deck)] = false;
        handLoads_[std::size_t(deck)] = std::make_pair(record.id, set_.played);
        app_.deck(deck).load(record);
        excuseDecode(deck);
    }
    // A load the user began on the deck lands within a few seconds of disk
    // time: what the deck does then is the hand's doing.
    bool handLoadLands(int deck, const std::optional<QUuid>& record = std::nullopt) const
    {
        const std::optional<std::pair<QUuid, double>>& load = handLoads_[std::size_t(deck)];
        return load && set_.played - load->second < 5.0 && (!record || load->first == *record);
    }
    // Flow may play the record: not heard, or asked for again since. A hand
    // on a heard record's deck makes it the user's, not flow's to play.
    bool playable(const QUuid& id) const
    {
        const std::optional<TrackRecord> record = app_.library().track(id);
        return record && QFile::exists(record->path) && (!heard_.contains(id) || wanted_.contains(id));
    }
    // The deck's play is of a record heard already in an earlier play, that
    // no one asked for again nor touched: flow may stop it.
    bool repeatOf(const QUuid& id, std::size_t deck) const
    {
        return heard_.contains(id) && !wanted_.contains(id) && !touched_.contains(id)
            && heardSince_.value(id, -1.0) < playStart_[deck];
    }
    bool musicLeft(int deck) const
    {
        const TrackRecord* track = onDeck(deck);
        if (!track || !playable(track->id))
            return false;
        if (app_.deck(deck).loading())
            return true;
        const std::shared_ptr<DeckVoice> voice = app_.deck(deck).voice();
        return voice && voice->state().duration.load() > 0.0 && timeLeft(deck) > 0.25;
    }
    void excuseDecode(int deck);
    void mirrorDrop();
    // The controller's MIX key is a hand on the decks; the keyboard's, the mix
    // page's and the model's key are not.
    enum class MixKey { controller, keyboard, page, model };
    bool modelMixesOntoDeckTwo() const;
    void pressMix(MixKey key, int to);
    void steerToTheModelsMix();
    void dropIn();
    void act();
    void actInPhase();
    void restart();
    void maybeRestart();
    void chain();
    void placeTake(const TrackRecord& source, double forkedAt);
    void spliceOn(const TrackRecord& take);
    TrackBufferRef takeAudio(double bpm, double sampleRate, QString* path);
    std::optional<QString> takeFile(double bpm);
    void follow();
    void checkFlowLines(const QStringList& since);
    void checkMixStart();
    void check();
    void account();

    enum class Stop { end, hand, flow, restart, other };

    std::mt19937 random_;
    // Which MIX key the user presses, drawn apart so the rest of a seed's set
    // stays as it was up to the first key that notes no hand.
    std::mt19937 keys_;
    const int count_;
    SetRig set_;
    AppModel& app_;
    const bool usersPath_;
    const double length_;
    std::int64_t userRun_ = -1; // the run the user's fork started
    double nextAction_ = 0.0;
    double flowBackAt_ = -1.0;
    double flowOnAt_ = -1.0;
    double excusedUntil_ = 0.0;
    double quiet_ = 0.0;
    // Until then the silence is the one a MIX key with no hand left by
    // calling a mix off.
    double keyCalledOffUntil_ = -1.0;
    double stalled_ = 0.0;
    // How long the running mix has stood starting while a deck plays.
    double startingFor_ = 0.0;
    // The silence began while hands were on, flow off or the output restarting.
    bool quietLeftByHand_ = false;
    // Flow's first decode in that silence has begun: later ones count.
    bool quietLoadSeen_ = false;
    bool fileGone_ = false;
    std::optional<std::pair<QUuid, double>> takeBackAt_;
    // A MIX key or a take-over armed for a phase of a mix, and until when.
    std::optional<std::pair<Kind, bool>> armed_; // phase, true for the MIX key
    double armedUntil_ = 0.0;
    // A MIX key's ask for the record on the deck it starts, and whether the
    // user wanted it already: the ask lapses with a mix that ends, or is
    // called off, before that deck starts.
    struct KeyAsk {
        int deck = 0;
        QUuid record;
        bool wantedBefore = false;
        double at = 0.0;
    };
    std::optional<KeyAsk> keyAsked_;
    // The user means to press the model's key once it mixes onto deck 2, and
    // how many times it did.
    bool modelKeyWanted_ = false;
    int modelMixes_ = 0;
    // The running mix was begun by the MIX key.
    bool mixByHand_ = false;
    bool mixing_ = false; // set while the user's own call starts a mix
    double mixStartedAt_ = -100.0;
    // When the workflow last armed deck 2's take to drop in.
    double droppedAt_ = -100.0;

    // Heard while flow is on (flow keeps no memory of what played with it
    // off), asked for again since, or the user's own.
    QSet<QUuid> heard_, wanted_, touched_;
    QHash<QUuid, double> requestedAt_;
    // The first of the program's lines written after each request.
    QHash<QUuid, qsizetype> requestNote_;
    struct Before {
        std::optional<double> requestedAt;
        bool wanted = false;
        qsizetype note = 0;
    };
    QHash<QUuid, Before> before_;
    QHash<QUuid, double> heardSince_; // the start of the last play in which the record was heard
    // Each deck's play as the room hears it: the record, since when.
    std::array<std::optional<QUuid>, 2> playingNow_;
    std::array<double, 2> playStart_{};
    std::array<double, 2> lastPosition_{};
    std::array<double, 2> lastDuration_{}; // of the record the voice played at the last frame
    std::array<bool, 2> wasOnAir_{};
    qsizetype notesSeen_ = 0; // the lines written up to the previous frame
    bool flowActed_ = false;  // flow sent a deck a command in the last frame
    std::array<double, 2> flowStoppedAt_{-1.0, -1.0}; // flow's last "stopped deck" line for each
    // Whether the deck was on air (playing, through the mixer) when flow's
    // last "stopped deck" line for it was written.
    std::array<bool, 2> onAirAtFlowStop_{};
    std::array<std::shared_ptr<DeckVoice>, 2> lastVoice_;
    // What each deck played when the output last restarted: it plays on.
    std::array<std::optional<QUuid>, 2> playsOn_;
    // The record that landed on each deck just before the restart, before
    // its voice took it: it starts from its own cue, not where the old one was.
    std::array<std::optional<QUuid>, 2> landedAtRestart_;
    // How long each deck has stood with its record since the restart settled.
    std::array<double, 2> standsAfterRestart_{};
    // Whether flow was on when each deck's play-on fell due: at the restart
    // at the same rate, when the deck's record landed again at another.
    std::array<std::optional<bool>, 2> flowAtPlayOn_;
    // The deck has read settled since the last restart.
    std::array<bool, 2> settledSince_{};
    // How the last restart ended each deck's play, where it did not go on.
    std::array<Stop, 2> restartStop_{Stop::restart, Stop::restart};
    bool restarting_ = false;
    // When the last device change's reloads began and ended.
    double reloadFrom_ = -100.0;
    std::optional<double> reloadTo_;
    double lastRestart_ = -100.0;
    // The set's first record, started through its voice before the output
    // rendered it: a restart until that render owes it its play-on.
    std::optional<QUuid> startSent_;
    std::array<double, 2> handPausedAt_{-100.0, -100.0};
    std::array<double, 2> landedAt_{-100.0, -100.0}; // when each deck's record last landed
    std::array<std::int64_t, 2> sentAtLanding_{}; // the number of the last command sent before it
    // The last play (true) or pause each deck was sent, by flow or a hand,
    // numbered in the order sent; and the number of the last command
    // sent before the output's last render. A command numbered above it has
    // not been rendered yet.
    std::array<std::optional<std::pair<bool, std::int64_t>>, 2> asked_;
    std::array<bool, 2> askedByHand_{}; // the last of them was a hand's
    std::int64_t sent_ = 0;
    std::int64_t renderedUpTo_ = 0;
    std::int64_t sentAtRestart_ = 0; // the last command sent before the last restart
    // The restart's play-on of the deck starts a play sent since the last
    // render: a new play, not the old one going on.
    std::array<bool, 2> playOnStarts_{};
    // Where the play the restart interrupted was heard, in the timeline of
    // the record it goes on in (a splice not yet taken moves it).
    std::array<std::optional<double>, 2> resumeFrom_;
    // Flow's last line starting each deck, and the incoming deck of the
    // running or last mix.
    std::array<double, 2> flowStartAt_{-100.0, -100.0};
    int mixOnto_ = -1;
    // The last hand on each deck: play, pause, load, the MIX key onto it.
    std::array<double, 2> handAt_{-100.0, -100.0};
    // A play/pause pressed while the deck's own record decoded again for a
    // new output's rate waits in the deck model for the landing, a second
    // press taking it back: whether one waits, and when the deck was last
    // seen still reloading.
    std::array<bool, 2> playsOnLanding_{};
    std::array<double, 2> reloadSeenAt_{-100.0, -100.0};
    std::array<std::optional<std::pair<QUuid, double>>, 2> handLoads_; // the record, when
    double handCrossfaderAt_ = -100.0;
    double crossfaderSeen_ = -1.0;
    double phaseChangedAt_ = -100.0;
    // How each deck's last play ended.
    std::array<std::optional<Stop>, 2> stoppedBy_;
    std::array<std::optional<QUuid>, 2> holding_;
    // A decode each deck began that silence may wait for (see check()), and
    // the record it decodes: another load on the deck has an excuse of its own.
    std::array<bool, 2> decodeExcused_{};
    std::array<std::optional<QUuid>, 2> excusedRecord_;
    bool browserLoad_ = false; // the user's load from the browser onto a mix's incoming deck
    // How long each deck has played unheard, hands off.
    std::array<double, 2> unheardFor_{};
    // The deck's play, not yet on air, is the DJ's (see check()).
    std::array<bool, 2> handsPlay_{};
    // The last hand on the deck was the MIX key calling off a running mix: a
    // start that follows it is not the hand's.
    std::array<bool, 2> keyCalledOff_{};
    // Since when the crossfader has stood on the live deck's side.
    int liveSeen_ = 0;
    double liveSince_ = 0.0;
    std::int64_t stretchesAtLive_ = 0;
    // The live deck before the last change, since when, and the stretches
    // written by then.
    struct LiveStart {
        int deck = -1;
        double since = 0.0;
        std::int64_t stretches = 0;
    };
    LiveStart liveBefore_;
    bool otherAdded_ = false;
    QStringList failures_;
    int playedOut_ = 0;

    // The chain's render under way: flow's fork, or a stretch of the take on
    // deck 2.
    struct Render {
        std::int64_t run = 0;
        double left = 0.0;
        std::optional<TrackRecord> source;    // the record forked
        double forkedAt = 0.0;                // where deck 1 stood in it
        std::optional<TrackRecord> extending; // the take written onward
    };
    std::optional<Render> chain_;
    // A take's audio at each tempo and rate, and its file at each tempo.
    QHash<QString, TrackBufferRef> takeAudio_;
    QHash<QString, QString> takeFiles_;
    int takeFilesWritten_ = 0;
    // A spliced take's record → the record it continues.
    QHash<QUuid, QUuid> splicedFrom_;
    // The last splice sent to deck 2: the new record, where its first frame
    // lies on the old timeline, and its length.
    struct Splice {
        QUuid record;
        double offset = 0.0;
        double duration = 0.0;
    };
    std::optional<Splice> splice_;
    // The last stretch sent to deck 2: its record, where its first frame
    // lies on the old timeline, the voice's place then, and when.
    struct SpliceSent {
        QUuid record;
        double offset = 0.0;
        double at = 0.0;
        double when = 0.0;
    };
    std::optional<SpliceSent> spliceSent_;
    int takesPlaced_ = 0;
    int splices_ = 0;
};

// The drop status the workflow reads from the decks: a take of deck 1's
// record on deck 2 drops in where deck 1 stands, until deck 1 has passed it;
// armed while a drop waits for deck 1 to reach the take's start.
void RandomUser::mirrorDrop()
{
    test::FakeWorld& world = set_.rig.world;
    world.dropStatus = DropStatus::refused({});
    const TrackRecord* one = onDeck(0);
    const TrackRecord* two = onDeck(1);
    const std::shared_ptr<DeckVoice> voice = app_.deck(0).voice();
    if (!one || !two || !two->outpaint || !voice || two->outpaint->sourceID != one->id)
        return;
    const double x = voice->state().position.load() - two->outpaint->sourceOffset;
    if (app_.mixer().dropArmed())
        world.dropStatus = DropStatus::armed(std::max(-x, 0.0));
    else if (x < 0.0)
        world.dropStatus = DropStatus::waiting(-x);
    else if (x <= two->duration - 1.0)
        world.dropStatus = DropStatus::ready(x);
}

// What the workflow's drop does: deck 2 matched to deck 1 and its start
// armed at the take's place in deck 1's record, which the engine keeps.
void RandomUser::dropIn()
{
    mirrorDrop();
    const TrackRecord* take = onDeck(1);
    if (set_.rig.world.dropStatus.isRefusal() || !take || !take->outpaint)
        return;
    DeckModel& one = app_.deck(0);
    DeckModel& two = app_.deck(1);
    const std::shared_ptr<MixerParams> params = app_.mixer().params();
    app_.mixer().channel(1).setSync(true);
    if (params && one.live().playing)
        params->masterRequest.store(0);
    two.setTempoFader(one.tempoFader());
    two.setTempoRange(one.tempoRange());
    two.setKeyShift(one.keyShift());
    two.setKeyLock(one.keyLock());
    if (params)
        params->dropOffset.store(take->outpaint->sourceOffset);
    droppedAt_ = set_.played;
}

void RandomUser::play()
{
    app_.setModelKeyLink(std::make_unique<ReadyKey>(set_.rig.world));
    set_.rig.world.onDrop = [this] { dropIn(); };
    if (usersPath_)
        set_.renderAheadByHand();
    // Each fork renders; the chain below writes its take.
    set_.rig.world.forkRenders = true;
    QObject::connect(&app_.transition(), &TransitionModel::phaseChanged, [this] {
        phaseChangedAt_ = set_.played;
        const TransitionModel::Phase& phase = app_.transition().phase();
        if (phase.kind != Kind::idle)
            mixOnto_ = phase.to;
        if (phase.kind == Kind::starting) {
            mixByHand_ = mixing_;
            mixStartedAt_ = set_.played;
            checkMixStart();
        }
        const TrackRecord* in = onDeck(phase.to);
        if (phase.kind == Kind::starting && in && heard_.contains(in->id) && !wanted_.contains(in->id)
            && !touched_.contains(in->id))
            fail(QStringLiteral("a mix brings in %1, heard already").arg(in->title));
    });
    // Now and then the output renders a few frames late after a load lands,
    // as a sound card's next render comes up to a buffer later.
    for (int deck : {0, 1}) {
        QObject::connect(&app_.deck(deck), &DeckModel::trackChanged, [this, deck] {
            landedAt_[std::size_t(deck)] = set_.played;
            sentAtLanding_[std::size_t(deck)] = sent_;
            if (random_() % 3 == 0)
                set_.renderLate = std::max(set_.renderLate, int(1 + random_() % 6));
        });
        QObject::connect(&app_.deck(deck), &DeckModel::landed, [this, deck](bool reload) {
            if (reload)
                flowAtPlayOn_[std::size_t(deck)] = app_.autoQueue();
        });
        QObject::connect(&app_.deck(deck), &DeckModel::loadingChanged, [this, deck] {
            if (app_.deck(deck).loading())
                excuseDecode(deck);
        });
    }
    QObject::connect(&app_.mixer(), &MixerModel::crossfaderChanged, [this] {
        // Flow moving the crossfader with no mix running, within 45 s of a hand.
        const double x = app_.mixer().crossfader();
        const bool byHand = handCrossfaderAt_ == set_.played;
        if (handsOn() && !byHand && app_.transition().phase().kind == Kind::idle
            && set_.played - phaseChangedAt_ > 0.1 && std::abs(x - crossfaderSeen_) > 1e-6)
            fail(QStringLiteral("the crossfader moved from %1 to %2 within 45 s of a hand, no mix running")
                     .arg(crossfaderSeen_)
                     .arg(x));
        crossfaderSeen_ = x;
    });
    crossfaderSeen_ = app_.mixer().crossfader();

    ASSERT_NO_FATAL_FAILURE(loadAndWait(app_, 0, set_[0]));
    // From here every decode takes set time.
    set_.useSlowDisk([this] { return uniform(0.2, 3.0); });
    std::vector<QUuid> queue;
    for (std::size_t i = 1; i < 6; ++i) {
        queue.push_back(set_[i].id);
        requestedAt_[set_[i].id] = 0.0;
    }
    app_.setQueue(queue);
    // The set begins where the DJ stands in the first record: a short set
    // still reaches its end and the next mix.
    const double first = app_.deck(0).buffer() ? app_.deck(0).buffer()->duration() : 0.0;
    const double left = std::min(first, uniform(40.0, 100.0));
    set_.play(0, std::round(uniform(0.0, first - left)));
    if (!set_.readable(0))
        startSent_ = set_[0].id;
    app_.setAutoQueue(true);
    nextAction_ = uniform(4.0, 18.0);

    while (set_.played < length_) {
        if (set_.renderLate == 0)
            renderedUpTo_ = sent_;
        mirrorDrop();
        set_.frame();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        follow();
        chain();
        maybeRestart();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        if (flowBackAt_ >= 0.0 && set_.played >= flowBackAt_) {
            did(QStringLiteral("flow on"));
            flowOnAt_ = set_.played;
            app_.setAutoQueue(true);
            flowBackAt_ = -1.0;
        }
        if (takeBackAt_ && set_.played >= takeBackAt_->second) {
            if (std::find(app_.queue().begin(), app_.queue().end(), takeBackAt_->first) != app_.queue().end())
                takeBack(takeBackAt_->first);
            takeBackAt_.reset();
        }
        mirrorDrop();
        actInPhase();
        mirrorDrop();
        steerToTheModelsMix();
        if (set_.played >= nextAction_) {
            nextAction_ = set_.played + uniform(4.0, 18.0);
            act();
            ASSERT_FALSE(::testing::Test::HasFatalFailure());
        }
        check();
    }
    // The user stops: the set plays on until hands have been off a while, so
    // flow has had its turn at every request.
    flowBackAt_ = -1.0;
    takeBackAt_.reset();
    armed_.reset();
    app_.setAutoQueue(true);
    for (const double end = set_.played + 60.0;
         set_.played < end && app_.handsOnAt().msecsTo(set_.rig.scheduler.now()) < 50000;) {
        if (set_.renderLate == 0)
            renderedUpTo_ = sent_;
        mirrorDrop();
        set_.frame();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        follow();
        chain();
        check();
    }
    account();
    // How often the model's key mixed onto deck 2 (in the test's XML output).
    ::testing::Test::RecordProperty("modelMixes", modelMixes_);
    const std::string log = set_.log();
    EXPECT_TRUE(failures_.isEmpty()) << failures_.join(QLatin1Char('\n')).toStdString() << "\n"
                                     << takesPlaced_ << " takes placed, " << splices_ << " splices\n"
                                     << log;
}

// The file a take at the tempo plays (drums, 48 bars: 16 heard and 32
// written); it is written once per set.
std::optional<QString> RandomUser::takeFile(double bpm)
{
    const QString key = QString::number(bpm);
    if (!takeFiles_.contains(key)) {
        const QString path = set_.rig.home.file(QStringLiteral("Takes/take@%1.wav").arg(bpm));
        test::writeBarByBar(path, bpm, 48.0 * 4.0 * 60.0 / bpm, kSetRate);
        if (!QFileInfo::exists(path))
            return std::nullopt;
        takeFiles_[key] = path;
    }
    return takeFiles_.value(key);
}

// The take's audio decoded at the rate, as the chain hands it over; `path`
// gets a file of its own holding the same audio, as the chain writes one for
// each take and stretch (a reload at another rate decodes it).
TrackBufferRef RandomUser::takeAudio(double bpm, double sampleRate, QString* path)
{
    const std::optional<QString> file = takeFile(bpm);
    if (!file)
        return {};
    *path = set_.rig.home.file(QStringLiteral("Takes/%1.wav").arg(++takeFilesWritten_));
    std::error_code error;
    std::filesystem::create_hard_link(file->toStdString(), path->toStdString(), error);
    if (error)
        return {};
    const QString key = QStringLiteral("%1/%2").arg(bpm).arg(sampleRate);
    if (!takeAudio_.contains(key))
        takeAudio_[key] = AudioFileIO::decode(std::filesystem::path(file->toStdString()), sampleRate);
    return takeAudio_.value(key);
}

void RandomUser::chain()
{
    test::FakeWorld& world = set_.rig.world;
    const double frame = TransitionModel::kFrameInterval;
    if (chain_) {
        if (world.runID != chain_->run || world.phase != WorkflowLink::Phase::rendering) {
            // Called off, or another fork took its place.
            chain_.reset();
            world.pendingIsExtension = false;
            return;
        }
        chain_->left -= frame;
        if (chain_->left > 0.0)
            return;
        // As the real chain does, a fork's take waits while deck 2's record
        // decodes again for a new rate: it reads as stopped at 0 meanwhile.
        if (!chain_->extending && app_.deck(1).voice() && app_.deck(1).reloading())
            return;
        const Render done = *chain_;
        chain_.reset();
        world.phase = WorkflowLink::Phase::idle;
        world.pendingIsExtension = false;
        if (done.extending)
            spliceOn(*done.extending);
        else if (done.source)
            placeTake(*done.source, done.forkedAt);
        return;
    }
    if (world.phase == WorkflowLink::Phase::rendering) {
        // A fork of deck 1's record, flow's or a hand's.
        Render fork;
        fork.run = world.runID;
        if (const TrackRecord* source = onDeck(0))
            fork.source = *source;
        if (const std::shared_ptr<DeckVoice> voice = app_.deck(0).voice())
            fork.forkedAt = voice->state().position.load();
        const double bar = BeatGrid::barOf(fork.source ? fork.source->grid : std::nullopt);
        fork.left = uniform(0.4, 0.8) * bar * 48.0;
        chain_ = fork;
        return;
    }
    if (world.phase != WorkflowLink::Phase::idle || world.chainSnooze)
        return;
    // The take on deck 2 plays: the next stretch is due once its time left
    // falls below the chain's lead.
    const TrackRecord* take = onDeck(1);
    if (!take || !take->outpaint || !playing(app_, 1) || !set_.readable(1) || app_.deck(1).loading())
        return;
    const double bar = BeatGrid::barOf(take->grid);
    const double lead = std::clamp(kChainRenderSpeed * bar * 48.0 * 1.35 + 10.0, bar * 8.0, 120.0);
    const double left = timeLeft(1);
    if (left >= lead)
        return;
    ++world.runID;
    world.phase = WorkflowLink::Phase::rendering;
    world.pendingIsExtension = true;
    Render stretch;
    stretch.run = world.runID;
    stretch.extending = *take;
    // Mostly on time; now and then the stretch lands with only seconds left.
    stretch.left = std::min(uniform(0.4, 0.8) * bar * 48.0, std::max(left - uniform(1.0, 6.0), 0.5));
    chain_ = stretch;
}

// The fork's take lands on deck 2, parked at its cue: the deck's record is
// replaced unless it plays or has been asked to (then the take would wait for
// the user, which the set does without).
void RandomUser::placeTake(const TrackRecord& source, double forkedAt)
{
    DeckModel& deck2 = app_.deck(1);
    const std::shared_ptr<DeckVoice> voice = deck2.voice();
    // A play sent and not yet rendered (a restart's play-on) is deck 2
    // playing, as the real chain reads it.
    if (!voice || playing(app_, 1) || voice->asked().playing || !source.grid)
        return;
    QString path;
    const TrackBufferRef audio = takeAudio(source.grid->bpm, voice->sampleRate(), &path);
    if (!audio)
        return;
    TrackRecord take = TrackRecord::forFile(path, set_.rig.scheduler.now());
    take.title = source.title + QStringLiteral(" \u27f6 zelvo-0");
    take.duration = audio->duration();
    take.analyzed = true;
    take.grid = source.grid;
    take.cuePoint = 0.0;
    OutpaintInfo info;
    info.sourceID = source.id;
    info.sourceTitle = source.title;
    info.seam = 16.0 * BeatGrid::barOf(source.grid);
    // The take begins with the 16 bars heard before the fork: it lines up
    // with the record there, and drops in where deck 1 stands.
    info.sourceOffset = std::max(forkedAt - info.seam, 0.0);
    info.generations = 1;
    take.outpaint = info;
    const WaveformData waveform;
    app_.library().addOutpaint(take, waveform);
    did(QStringLiteral("the chain places %1 on deck 2").arg(take.title));
    // A take is a new record: heard by no one.
    deck2.install(take, audio, std::make_shared<const WaveformData>(waveform), false);
    ++takesPlaced_;
}

// The next stretch of the take: the same audio 32 bars on, its first frame
// where the old timeline's last 16 bars begin, so the voice plays on and the
// take lasts 32 bars longer. Mostly through swapIn, else as a take-over at
// the voice's place.
void RandomUser::spliceOn(const TrackRecord& take)
{
    DeckModel& deck2 = app_.deck(1);
    const std::shared_ptr<DeckVoice> voice = deck2.voice();
    const TrackRecord* now = onDeck(1);
    if (!voice || !now || now->id != take.id || !take.grid || !take.outpaint || !set_.readable(1) || deck2.loading())
        return;
    const double bar = BeatGrid::barOf(take.grid);
    const double position = voice->state().position.load();
    const double duration = voice->state().duration.load();
    // The chain landed late: the take played out (the chain would play it
    // on; here it ends).
    if (!playing(app_, 1) || position >= duration - 0.5)
        return;
    const double offset = std::min(32.0 * bar, std::floor(position / bar) * bar);
    if (offset <= 0.0)
        return;
    QString path;
    const TrackBufferRef audio = takeAudio(take.grid->bpm, voice->sampleRate(), &path);
    if (!audio)
        return;
    TrackRecord next = TrackRecord::forFile(path, set_.rig.scheduler.now());
    next.title = take.title;
    next.duration = audio->duration();
    next.analyzed = true;
    next.grid = take.grid->shifted(offset);
    next.cuePoint = std::max(0.0, take.cuePoint - offset);
    OutpaintInfo info = *take.outpaint;
    info.seam = std::max(0.0, info.seam - offset);
    info.sourceOffset += offset;
    info.generations += 1;
    info.segmentOf = info.segmentOf ? info.segmentOf : std::optional<QUuid>(take.id);
    next.outpaint = info;
    const WaveformData waveform;
    app_.library().addOutpaint(next, waveform);
    splicedFrom_[next.id] = take.id;
    splice_ = Splice{next.id, offset, audio->duration()};
    spliceSent_ = SpliceSent{next.id, offset, position, set_.played};
    ++set_.rig.world.stretchesWritten;
    ++splices_;
    if (random_() % 3 == 0) {
        did(QStringLiteral("the chain takes over deck 2 with the next stretch at %1 s").arg(position - offset));
        deck2.takeOver(next, audio, waveform, position - offset);
    } else {
        did(QStringLiteral("the chain splices the next stretch under deck 2 at %1 s").arg(offset));
        deck2.swapIn(next, audio, std::make_shared<const WaveformData>(waveform), offset);
    }
}

// An output restart: no hand, so the set goes on at once. Mostly a device at
// another rate (every deck decodes again), else another buffer size at the
// same rate.
void RandomUser::restart()
{
    const std::shared_ptr<AudioIO> before = app_.audio().io();
    for (int d : {0, 1}) {
        const std::size_t i = std::size_t(d);
        // What the decks were last asked to do: a pause or a play flow or a
        // hand sent since the last render stands (the play then
        // starts with the play-on); a record that landed since plays from
        // its own cue, not on from the old one's place.
        // The chain's next stretch sent under the deck is no landing: the
        // take plays on.
        const bool sentSince = asked_[i] && asked_[i]->second > renderedUpTo_;
        const bool pausedSince = sentSince && !asked_[i]->first;
        const TrackRecord* track = onDeck(d);
        const bool playedSince = sentSince && asked_[i]->first && !playingNow_[i] && track;
        // A stretch is a record of its own: the same record landing again is
        // a load, as a hand's load of the record the deck plays is (seed
        // 730148: that load, landed and not taken when a device change came,
        // was taken for a stretch, and the deck for owed its play-on).
        const bool spliced = track && playingNow_[i] && track->id != *playingNow_[i]
            && chainOf(track->id) == chainOf(*playingNow_[i]);
        // The set's start, sent after its record landed, is what the deck
        // was last asked to do: it plays on from there.
        const bool started = d == 0 && startSent_ && track && track->id == *startSent_;
        const bool landed = !set_.readable(d) && !spliced && !started;
        // A play sent after the landing asks for the record that landed: it
        // starts from its cue with the play-on (seed 1900764: a hand played
        // flow's cue in the frame after it landed, a restart two frames on).
        const bool playedOnLanded = landed && playedSince && asked_[i]->second > sentAtLanding_[i];
        // A deck still owed an earlier restart's play-on (its record decoding
        // again for that output's rate), and asked for nothing since that
        // restart but play, keeps it through this one. A pause sent before
        // that restart (a hand's, minutes earlier) is no pause since: seed
        // 681200 took such a pause for one, and the second device change's
        // play-on for a start of a record heard already.
        const bool pausedSinceOwed = asked_[i] && !asked_[i]->first && asked_[i]->second > sentAtRestart_;
        const bool stillOwed = !playingNow_[i] && playsOn_[i] && track
            && chainOf(track->id) == chainOf(*playsOn_[i]) && !pausedSinceOwed
            && app_.deck(d).loading() && app_.deck(d).loadingRecord() == track->id;
        playsOn_[i] = started                                 ? startSent_
            : pausedSince || (landed && !playedOnLanded)      ? std::nullopt
            : playedSince                                     ? std::optional<QUuid>(track->id)
            : stillOwed                                       ? playsOn_[i]
                                                              : playingNow_[i];
        playOnStarts_[i] = started || (playedSince && (!landed || playedOnLanded));
        if (playingNow_[i] || !stillOwed) {
            resumeFrom_[i].reset();
            const std::shared_ptr<DeckVoice> voice = app_.deck(d).voice();
            if (voice && playsOn_[i] && playsOn_[i] == playingNow_[i] && !playOnStarts_[i]) {
                // A stretch sent under the deck within the last renders, its
                // cells still on the old timeline (nearer where it was sent
                // than where the stretch puts it), is not taken yet.
                const double at = voice->state().position.load();
                const std::optional<SpliceSent>& sent = spliceSent_;
                const bool splicePending = d == 1 && sent && track && track->id == sent->record
                    && set_.played - sent->when < 0.5
                    && std::abs(at - sent->at) < std::abs(at - (sent->at - sent->offset));
                resumeFrom_[i] = at - (splicePending ? sent->offset : 0.0);
            }
        }
        landedAtRestart_[i] = landed && track ? std::optional<QUuid>(track->id) : std::nullopt;
        settledSince_[i] = false;
        // A hand's load that landed over the playing deck and that its voice
        // had not taken yet stopped the record the deck played: the hand's
        // stop, not the restart's, as when the voice takes it. Only when the
        // record that landed is the hand's (seed 500040), not any landing
        // within a few seconds of a hand's load on the deck.
        // A record the restart found at its end (its last frame heard a
        // moment before) played out: its play-on starts nothing (seed 650775:
        // flow then brought the next record in at once, as after any end).
        const std::shared_ptr<DeckVoice> stopped = app_.deck(d).voice();
        const bool atItsEnd = playingNow_[i] && stopped
            && stopped->state().position.load() >= stopped->state().duration.load() - 0.1;
        // A pause sent since the last render (flow's or a hand's) stops the
        // deck as it would have on the old output: that pause's stop, charged
        // to whoever sent it, not the restart's (seeds 710020, 720029: flow
        // paused the deck it had faded out in the very frame of a device
        // change, and a later mix from that deck was taken for one after a
        // record the restart cut short).
        // A hand's load on its way to the deck, not landed yet, would have
        // stopped the record the deck plays when it landed: the stop is the
        // load's (seed 7700671: a device change stopped a record 1.3 s
        // before the browser's load onto its deck landed).
        const std::optional<QUuid> coming = app_.deck(d).loading() ? app_.deck(d).loadingRecord() : std::nullopt;
        const std::optional<std::pair<QUuid, double>>& handLoad = handLoads_[i];
        const bool handLoadComing = coming && handLoad && handLoad->first == *coming
            && !(track && track->id == *coming && landedAt_[i] >= handLoad->second);
        const bool byHandLoad = (landed && track && handLoadLands(d, track->id)) || handLoadComing;
        restartStop_[i] = byHandLoad ? Stop::hand
            : atItsEnd               ? Stop::end
            : pausedSince            ? (askedByHand_[i] ? Stop::hand : Stop::flow)
                                     : Stop::restart;
    }
    if (random_() % 3 != 0) {
        const bool other = app_.audio().deviceUID() != QStringLiteral("fake.other");
        did(QStringLiteral("device change to %1").arg(other ? "another rate" : "the first rate"));
        if (other && !otherAdded_) {
            FakeAudioBackend::Device device;
            device.uid = "fake.other";
            device.name = "Fake Other";
            device.nominalSampleRate = kSetRate * 44100.0 / 48000.0;
            set_.rig.backend->addDevice(device);
            otherAdded_ = true;
        }
        restarting_ = true;
        reloadFrom_ = set_.played;
        reloadTo_.reset();
        flowAtPlayOn_ = {};
        app_.audio().setDeviceUID(other ? QStringLiteral("fake.other") : QStringLiteral("fake.device"));
    } else {
        did(QStringLiteral("output restart"));
        flowAtPlayOn_ = {app_.autoQueue(), app_.autoQueue()};
        app_.audio().setBufferFrames(app_.audio().bufferFrames() == 512 ? 1024 : 512);
    }
    ASSERT_TRUE(test::spinUntil(
        [&] { return app_.audio().io() && app_.audio().io() != before && app_.audio().io()->running(); }));
    excusedUntil_ = set_.played + 0.5;
    lastRestart_ = set_.played;
    sentAtRestart_ = sent_;
}

// A restart in the render right after flow sent a deck a command, or between
// a landing and the voice taking it, now and then.
void RandomUser::maybeRestart()
{
    if (set_.played - lastRestart_ < 20.0)
        return;
    const bool landed = !set_.readable(0) || !set_.readable(1);
    if ((flowActed_ && random_() % 4 == 0) || (landed && random_() % 12 == 0))
        restart();
}

// Silence may wait for these decodes only, each for its own record (a
// device change's reloads are excused with the restart):
// - one begun while hands were on: the user's load;
// - the user's load from the browser onto a running mix's incoming deck,
//   which notes no hand;
// - one begun while the room was silent from a hand, flow off or a restart
//   that still excuses it, and the first one flow begins in that silence
//   once it may act; a later one in the same silence is flow's own and
//   counts;
// - one begun at flow's first check once hands are off or flow is back on:
//   the hand left it no earlier moment to load. A device change's reload
//   under way when that check fell due moves it to the reload's end: flow
//   loads nothing onto a deck between two states.
void RandomUser::excuseDecode(int deck)
{
    const double sinceHands = app_.handsOnAt().msecsTo(set_.rig.scheduler.now()) / 1000.0 - 45.0;
    // Seed 740285: hands came off with 1.7 s of the live take left, a device
    // change 0.2 s later reloaded both decks for 2.3 s, and flow cued the next
    // record onto the idle deck the moment its reload ended; the room waited
    // for that decode, which flow could not have begun any earlier.
    const double window = kCheckPeriod + 0.1;
    const double reloadEnd = restarting_ ? set_.played : reloadTo_.value_or(-100.0);
    const auto firstCheckAfter = [&](double since) {
        if (since < 0.0)
            return false;
        if (set_.played >= since && set_.played - since <= window)
            return true;
        return reloadFrom_ >= 0.0 && since <= reloadEnd && since + window >= reloadFrom_ && set_.played >= reloadEnd
            && set_.played - reloadEnd <= window;
    };
    const bool firstCheck = firstCheckAfter(set_.played - sinceHands) || firstCheckAfter(flowOnAt_);
    const bool mayAct = !handsOn() && app_.autoQueue() && set_.played > excusedUntil_ && !restarting_;
    // A load flow gave up (its file gone) leaves its first load in that
    // silence still to come; its line may have come in this very frame.
    const QStringList notes = set_.notes();
    for (qsizetype i = std::min(notesSeen_, notes.size()); i < notes.size(); ++i)
        if (notes[i].startsWith(QStringLiteral("flow: gave up loading ")))
            quietLoadSeen_ = false;
    const bool firstInQuiet = quietLeftByHand_ && (!mayAct || !quietLoadSeen_);
    if (quietLeftByHand_ && mayAct && !browserLoad_)
        quietLoadSeen_ = true;
    decodeExcused_[std::size_t(deck)] = handsOn() || browserLoad_ || firstInQuiet || firstCheck;
    excusedRecord_[std::size_t(deck)] = app_.deck(deck).loadingRecord();
}

// Flow's lines of the last frame: what flow did within 45 s of a hand.
void RandomUser::checkFlowLines(const QStringList& since)
{
    flowActed_ = false;
    static const QRegularExpression playOn(QStringLiteral("^flow: the output restarted; deck (\\d) plays "));
    for (const QString& line : since) {
        // A cue is a load, or the record already on the deck cued there again.
        const bool cue = line.startsWith(QStringLiteral("auto: cued "))
            || (line.startsWith(QStringLiteral("flow: ")) && line.contains(QStringLiteral(" stands unheard on deck ")));
        const bool mix = line.startsWith(QStringLiteral("flow: ")) && line.contains(QStringLiteral("-bar mix onto deck"));
        const bool bringIn = line.startsWith(QStringLiteral("flow: deck ")) && line.contains(QStringLiteral("; bringing "));
        const bool pause = line.startsWith(QStringLiteral("flow: stopped deck "));
        const bool plays = line.contains(QStringLiteral(" stood silent on air with "))
            || line.startsWith(QStringLiteral("flow: nothing else to bring in; deck "));
        // Ending a mix no deck plays is the DJ's to do while hands are on.
        const bool ends = line.startsWith(QStringLiteral("flow: no deck played the mix "));
        const QRegularExpressionMatch on = playOn.match(line);
        flowActed_ = flowActed_ || cue || mix || bringIn || pause || plays || ends || on.hasMatch();
        if (on.hasMatch()) {
            // The play-on goes on with the record whose play the restart
            // interrupted, not one that landed on its deck since.
            const int d = on.captured(1).toInt() - 1;
            const TrackRecord* track = d == 0 || d == 1 ? onDeck(d) : nullptr;
            if (track && playsOn_[std::size_t(d)] && chainOf(track->id) != chainOf(*playsOn_[std::size_t(d)]))
                fail(QStringLiteral("a restart interrupted another record on deck %1, yet: ").arg(d + 1) + line);
        }
        if (!handsOn())
            continue;
        if (on.hasMatch()) {
            // The one thing flow does with hands on: the restart's play-on of
            // a deck whose play the restart interrupted.
            const std::size_t d = std::size_t(on.captured(1).toInt() - 1);
            if (d < 2 && !playsOn_[d])
                fail(QStringLiteral("within 45 s of a hand, a restart's play-on of a deck it did not interrupt: ")
                     + line);
            continue;
        }
        if (cue || mix || bringIn || pause || plays || ends)
            fail(QStringLiteral("within 45 s of a hand, flow acted: ") + line);
    }
}

// A mix flow begins takes the live record off the air: only inside the mix
// window, by the rule that holds a take, or once that record stopped by a
// hand or at its end.
void RandomUser::checkMixStart()
{
    if (mixByHand_)
        return;
    const TransitionModel::Phase& phase = app_.transition().phase();
    const int from = 1 - phase.to;
    const TrackRecord* out = onDeck(from);
    if (!out)
        return;
    if (!playing(app_, from)) {
        const std::optional<Stop> by = stoppedBy_[std::size_t(from)];
        // A record whose play a restart interrupted and that flow then left
        // standing, or that flow itself stopped, left the air early.
        if (by == Stop::restart || by == Stop::flow || by == Stop::other)
            fail(QStringLiteral("a mix onto deck %1 comes after %2 on deck %3 stopped before its end (%4)")
                     .arg(phase.to + 1)
                     .arg(out->title)
                     .arg(from + 1)
                     .arg(by == Stop::restart ? "by a restart" : by == Stop::flow ? "by flow" : "by no hand"));
        return;
    }
    if (!throughTheMixer(from))
        return;
    const double bar = BeatGrid::barOf(out->grid);
    const double mixLength = bar * double(app_.transition().bars());
    const double left = timeLeft(from);
    const double liveFor = set_.played - liveSince_;
    // Flow checks once a second: a reading up to a second old, the record
    // played on at up to a synced tempo since.
    const double slack = 1.5 * kCheckPeriod;
    bool inWindow = left < mixLength + kMixWindow + slack;
    // A take of the live record waiting on deck 2 comes in once deck 1 has
    // been live long enough.
    const TrackRecord* in = onDeck(phase.to);
    if (from == 0 && in && in->outpaint && in->outpaint->sourceID == out->id && liveFor >= kTakeHoldOfLive - slack)
        inWindow = true;
    // A take on air on deck 2 while the chain may write it on (not snoozed;
    // a render running, or the model's step steering) is held by its own
    // rule, whatever its own end says: it makes way after about three
    // minutes, or once the chain has written two stretches since it went
    // live. While another render keeps the chain from writing it on (a fork
    // the user started), its own end comes first.
    const test::FakeWorld& world = set_.rig.world;
    const bool rendering = world.phase == WorkflowLink::Phase::rendering;
    if (from == 1 && out->outpaint && !world.chainSnooze && (app_.aiStep() == AIStep::steer || rendering))
        inWindow = world.stretchesWritten - stretchesAtLive_ >= kStretchesToRelease
            || liveFor >= kTakeOnAir - kMixWindow - slack
            || (rendering && !world.pendingIsExtension && inWindow);
    if (!inWindow)
        fail(QStringLiteral("a mix onto deck %1 takes %2 off the air with %3 s of it left (live for %4 s)")
                 .arg(phase.to + 1)
                 .arg(out->title)
                 .arg(left, 0, 'f', 1)
                 .arg(liveFor, 0, 'f', 1));
}

// Follows what the room hears, deck by deck, and checks each start and end
// of play.
void RandomUser::follow()
{
    const QStringList notes = set_.notes();
    const QStringList since = notes.mid(std::min(notesSeen_, notes.size()));
    notesSeen_ = notes.size();
    // The lines by which flow pauses or plays a deck itself (a mix starts
    // its incoming deck through the transition, at its own time).
    static const QRegularExpression starts(
        QStringLiteral("^flow: (?:deck (\\d) stood silent on air with |nothing else to bring in; deck (\\d) plays )"));
    for (const QString& line : since) {
        for (int deck : {0, 1})
            if (line.startsWith(QStringLiteral("flow: stopped deck %1").arg(deck + 1))) {
                flowStoppedAt_[std::size_t(deck)] = set_.played;
                onAirAtFlowStop_[std::size_t(deck)] = onAir(deck);
                asked_[std::size_t(deck)] = std::make_pair(false, ++sent_);
                askedByHand_[std::size_t(deck)] = false;
            }
        if (line.startsWith(QStringLiteral("flow: gave up loading ")))
            quietLoadSeen_ = false; // see excuseDecode
        const QRegularExpressionMatch start = starts.match(line);
        if (!start.hasMatch())
            continue;
        for (int group = 1; group <= 2; ++group)
            if (const int deck = start.captured(group).toInt() - 1; deck == 0 || deck == 1) {
                flowStartAt_[std::size_t(deck)] = set_.played;
                asked_[std::size_t(deck)] = std::make_pair(true, ++sent_);
                askedByHand_[std::size_t(deck)] = false;
            }
    }
    checkFlowLines(since);
    if (const int live = app_.transition().liveDeck(); live != liveSeen_) {
        // Excused: the crossfader crossing the middle and back within flow's
        // check period. Flow reads the live deck once a check and may not see
        // such a crossing, so the deck live before it stays live since it
        // first went live (seed 750139: a take-over under a mix's outgoing
        // take threw the mix back from past half way, the crossfader stood
        // 0.4 s on the incoming side, and the take, on air throughout, was
        // taken for live only since). While the crossfader stands across, the
        // later start counts.
        const bool back = live == liveBefore_.deck && set_.played - liveSince_ <= kCheckPeriod + 0.1;
        if (back) {
            liveSince_ = liveBefore_.since;
            stretchesAtLive_ = liveBefore_.stretches;
        } else {
            liveBefore_ = LiveStart{liveSeen_, liveSince_, stretchesAtLive_};
            liveSince_ = set_.played;
            stretchesAtLive_ = set_.rig.world.stretchesWritten;
        }
        liveSeen_ = live;
    }
    // The splice sent to deck 2 has been taken once the voice plays its length.
    if (splice_) {
        const std::shared_ptr<DeckVoice> voice = app_.deck(1).voice();
        if (!voice || !onDeck(1) || onDeck(1)->id != splice_->record
            || std::abs(voice->state().duration.load() - splice_->duration) <= 0.01)
            splice_.reset();
    }
    const bool idleNow = app_.transition().phase().kind == Kind::idle;
    if (set_.readable(0))
        startSent_.reset();
    for (int deck : {0, 1}) {
        const std::size_t d = std::size_t(deck);
        if (!set_.readable(deck)) {
            // The cells still describe the record before the landing, and
            // the room still hears it until the voice takes the new one.
            const std::optional<QUuid> was = playingNow_[d];
            if (was && playing(app_, deck) && app_.deck(deck).reading().record == was && app_.autoQueue()
                && throughTheMixer(deck))
                heardIn(*was, deck);
            continue;
        }
        const std::shared_ptr<DeckVoice> voice = app_.deck(deck).voice();
        const TrackRecord* track = onDeck(deck);
        const bool now = playing(app_, deck) && track;
        const std::optional<QUuid> id = now ? std::optional<QUuid>(track->id) : std::nullopt;
        // A press waiting for the reload plays the deck as it lands: that
        // start is the hand's, seen within a few renders of the landing.
        if (app_.deck(deck).reloading())
            reloadSeenAt_[d] = set_.played;
        const bool landingPlay = playsOnLanding_[d] && set_.played - reloadSeenAt_[d] < 0.5;
        if (!app_.deck(deck).reloading() && !landingPlay)
            playsOnLanding_[d] = false;
        // The chain's next stretch goes on with the play of the take it extends.
        const bool spliced = id && playingNow_[d] && chainOf(*id) == chainOf(*playingNow_[d]);
        // How the deck's last play ended belongs to the record it held.
        const std::optional<QUuid> holds = track ? std::optional<QUuid>(chainOf(track->id)) : std::nullopt;
        if (holds != holding_[d])
            stoppedBy_[d].reset();
        // A record on air leaves it when another lands over it only by a
        // hand's load, or at its end.
        if (holds != holding_[d] && holding_[d] && wasOnAir_[d] && playingNow_[d]
            && chainOf(*playingNow_[d]) == *holding_[d] && !handLoadLands(deck)
            && lastPosition_[d] < lastDuration_[d] - 0.5)
            fail(QStringLiteral("the record on air on deck %1 was replaced at %2 s of %3 s by a load no hand made")
                     .arg(deck + 1)
                     .arg(lastPosition_[d], 0, 'f', 1)
                     .arg(lastDuration_[d], 0, 'f', 1));
        holding_[d] = holds;
        // The play a restart interrupted resumes, once the new output
        // renders it, within a bar of where it was heard (a hand on the deck
        // since plays it from where the hand chose).
        if (resumeFrom_[d] && id && voice && playsOn_[d] && chainOf(*playsOn_[d]) == chainOf(*id) && !playOnStarts_[d]
            && handAt_[d] < lastRestart_) {
            if (std::abs(voice->state().position.load() - *resumeFrom_[d]) > BeatGrid::barOf(track->grid))
                fail(QStringLiteral("%1 on deck %2 plays on from %3 s after a restart, heard at %4 s")
                         .arg(track->title)
                         .arg(deck + 1)
                         .arg(voice->state().position.load(), 0, 'f', 1)
                         .arg(*resumeFrom_[d], 0, 'f', 1));
            resumeFrom_[d].reset();
        }
        if (id && id != playingNow_[d] && !spliced) {
            // A start of play; a play that goes on after an output restart
            // is the same play.
            const bool resumed = playsOn_[d] && chainOf(*playsOn_[d]) == chainOf(*id);
            // A play sent just before the restart starts with its play-on.
            const bool goesOn = resumed && !playOnStarts_[d];
            if (!goesOn) {
                playStart_[d] = set_.played;
                handsPlay_[d] =
                    (set_.played - handAt_[d] < 0.5 && !keyCalledOff_[d]) || handLoadLands(deck, id) || landingPlay;
            }
            playsOn_[d].reset();
            playOnStarts_[d] = false;
            stoppedBy_[d].reset();
            if (!goesOn && heard_.contains(*id) && !wanted_.contains(*id) && !touched_.contains(*id))
                fail(QStringLiteral("%1 starts again on deck %2, heard already").arg(track->title).arg(deck + 1));
            // A record that landed just before a restart plays from its cue:
            // seen within a few renders of its start, wherever that start
            // came. A mix onto it, begun since the restart or running still,
            // lines its start up with the other deck's bar, up to a bar past
            // the cue (seed 1500653: a mix onto a take, its bar 2.4 s long).
            const bool lined = deck == mixOnto_ && (mixStartedAt_ >= lastRestart_ || !idleNow);
            const double startsBy = lined ? std::max(2.0, BeatGrid::barOf(track->grid) + 0.1) : 2.0;
            // A take dropped in starts where deck 1 stands in its record.
            const bool dropped = deck == 1 && droppedAt_ >= landedAt_[d];
            if (landedAtRestart_[d] == id && voice && !dropped
                && voice->state().position.load()
                    > track->cuePoint + startsBy + std::min(set_.played - lastRestart_, 0.5))
                fail(QStringLiteral("%1, landed on deck %2 just before a restart, plays from %3 s, not its cue")
                         .arg(track->title)
                         .arg(deck + 1)
                         .arg(voice->state().position.load()));
            // Within 45 s of a hand a deck starts only by a hand, the user's
            // mix onto it, a mix begun before the hand running its course
            // (its start may reach the voice a render after a hand ended it),
            // or the restart's play-on. Of a running mix, only its incoming
            // deck, or a start flow commanded (its line) within 0.5 s before
            // the hand, which the voice takes a render later.
            const double handAt = set_.played - app_.handsOnAt().msecsTo(set_.rig.scheduler.now()) / 1000.0;
            const bool mixRuns = !idleNow || set_.played - phaseChangedAt_ < 0.2;
            const bool flowStartedBefore = flowStartAt_[d] <= handAt + 1e-6 && handAt - flowStartAt_[d] <= 0.5;
            const bool byHand = set_.played - handAt_[d] < 0.5 || handLoadLands(deck, id) || landingPlay
                || (mixRuns && (deck == mixOnto_ || flowStartedBefore) && (mixByHand_ || mixStartedAt_ < handAt));
            if (handsOn() && !byHand && !resumed)
                fail(QStringLiteral("deck %1 starts %2 within 45 s of a hand").arg(deck + 1).arg(track->title));
            playsOnLanding_[d] = false;
        }
        // Kept until the deck next starts, or holds another record: at another
        // rate the reload lands a while after the restart.
        if (id || !track || (landedAtRestart_[d] && track->id != *landedAtRestart_[d]))
            landedAtRestart_[d].reset();
        // Only the first play after the restart goes on: once the new output
        // has rendered the deck playing, or standing a while with nothing to
        // reload, a later start of the record is a new play.
        if (playsOn_[d]) {
            const DeckModel::Reading reading = app_.deck(deck).reading();
            const bool settled = !reading.stood && !reading.loading() && !restarting_;
            // Flow on when the deck itself first settles (whatever the
            // other deck's reload), still holding the record the restart
            // stopped, owes the play-on as much as flow on when it fell due.
            if (!reading.stood && !reading.loading() && !id && !settledSince_[d]) {
                settledSince_[d] = true;
                if (app_.autoQueue() && track && track->id == *playsOn_[d])
                    flowAtPlayOn_[d] = true;
            }
            standsAfterRestart_[d] = settled && !id ? standsAfterRestart_[d] + TransitionModel::kFrameInterval : 0.0;
            if (settled && id)
                playsOn_[d].reset();
            if (standsAfterRestart_[d] > 1.0) {
                // Flow plays on what a restart interrupted, once the new
                // output renders, or once flow comes on again before the deck
                // settles; with flow off throughout, or a hand since, it
                // stands. A play-on whose moment never came is owed as flow
                // stands now.
                if (flowAtPlayOn_[d].value_or(app_.autoQueue()) && track && chainOf(track->id) == chainOf(*playsOn_[d]) && set_.played - handAt_[d] > 1.0
                    && lastRestart_ > handAt_[d] && timeLeft(deck) > 0.5)
                    fail(QStringLiteral("deck %1's play of %2, interrupted by a restart, did not go on")
                             .arg(deck + 1)
                             .arg(track->title));
                // Excused: a record whose play-on fell due with flow off. As
                // with flow off at the restart itself, no one is to blame for
                // its stop, and flow brings the next record in over it once
                // on again (seeds 550063, 550145: flow off just after a
                // change to another rate, on again once the record reloaded).
                if (flowAtPlayOn_[d] == false && stoppedBy_[d] == Stop::restart)
                    stoppedBy_[d].reset();
                playsOn_[d].reset();
            }
        }
        // A restart stops every deck; with flow on, flow plays on what it
        // interrupted. With flow off nothing does, and no one is to blame.
        if (!id && playingNow_[d] && voice && voice != lastVoice_[d] && app_.autoQueue()) {
            stoppedBy_[d] = restartStop_[d];
            // Flow's pause sent just before the restart is judged as one the
            // old output rendered (below): of a record off air it takes
            // nothing off the air; of one on air it cuts that record short.
            if (stoppedBy_[d] == Stop::flow && !wasOnAir_[d] && !onAirAtFlowStop_[d])
                stoppedBy_[d].reset();
            else if (stoppedBy_[d] == Stop::flow && wasOnAir_[d] && track && !repeatOf(track->id, d))
                fail(QStringLiteral("%1 on deck %2 left the air at %3 s of %4 s, stopped by flow before a restart")
                         .arg(track->title)
                         .arg(deck + 1)
                         .arg(lastPosition_[d], 0, 'f', 1)
                         .arg(lastDuration_[d], 0, 'f', 1));
        }
        if (!id && playingNow_[d] && voice && voice == lastVoice_[d] && track
            && chainOf(track->id) == chainOf(*playingNow_[d])) {
            // It stopped: by its end, by flow (with a line), or by a hand.
            const double duration = voice->state().duration.load();
            const double at = voice->state().position.load();
            // The voice stops on its next render: the line may be a frame old.
            const bool flowStopped = flowStoppedAt_[d] >= 0.0 && set_.played - flowStoppedAt_[d] < 0.5;
            // A hand's load landing over the playing deck leaves it at the
            // new record's cue.
            const bool byHand = set_.played - handPausedAt_[d] <= 0.5 || handLoadLands(deck);
            stoppedBy_[d] = at >= duration - 0.1 ? Stop::end
                : byHand                         ? Stop::hand
                : flowStopped                    ? Stop::flow
                                                 : Stop::other;
            // Excused: flow's pause of a record playing unheard behind the
            // crossfader (the deck a mix or a hand's crossfade faded out,
            // heard in this play or not) takes nothing off the air; that
            // record left it with the mix. A mix later begun from its deck,
            // once a hand brought the crossfader back onto it standing, cuts
            // nothing short (seeds 550022, 550158, 570152, 570259; 510152:
            // the hand loaded the same record there again). Off air both when
            // flow sent the pause and in the last frame the deck was read
            // before it stopped (a landing leaves frames unread between).
            if (stoppedBy_[d] == Stop::flow && !wasOnAir_[d] && !onAirAtFlowStop_[d])
                stoppedBy_[d].reset();
            if (at >= duration - 0.1)
                ++playedOut_;
            else if (usersPath_ && !flowStopped && !byHand && duration == lastDuration_[d]
                     && lastPosition_[d] >= duration - 0.5)
                fail(QStringLiteral("deck %1 stopped at %2 s of %3 s, its end not yet heard")
                         .arg(deck + 1)
                         .arg(at)
                         .arg(duration));
            // A record on air stops before its end only by a hand. Flow may
            // stop a record heard already that no one asked for again: that
            // play should not have been. One the user ever touched is theirs
            // to play once more, and flow cuts it short.
            if (wasOnAir_[d] && *stoppedBy_[d] != Stop::end && *stoppedBy_[d] != Stop::hand
                && !(flowStopped && repeatOf(track->id, d)))
                fail(QStringLiteral("%1 on deck %2 left the air at %3 s of %4 s, stopped by %5")
                         .arg(track->title)
                         .arg(deck + 1)
                         .arg(at, 0, 'f', 1)
                         .arg(duration, 0, 'f', 1)
                         .arg(flowStopped ? "flow" : "no hand"));
        }
        // A record on air that goes on playing leaves the air only by a mix
        // (checked at its start), a hand on the crossfader or a fader, or the
        // crossfader's move at a mix's end.
        if (wasOnAir_[d] && id && voice == lastVoice_[d] && !throughTheMixer(deck) && idleNow
            && set_.played - phaseChangedAt_ > 0.1 && set_.played - handCrossfaderAt_ > 0.1)
            fail(QStringLiteral("%1 on deck %2 left the air with %3 s left, no mix running and no hand")
                     .arg(track->title)
                     .arg(deck + 1)
                     .arg(timeLeft(deck), 0, 'f', 1));
        playingNow_[d] = id;
        lastVoice_[d] = voice;
        lastPosition_[d] = voice ? voice->state().position.load() : 0.0;
        lastDuration_[d] = voice ? voice->state().duration.load() : 0.0;
        wasOnAir_[d] = id && throughTheMixer(deck);
        // On air, the play is the set's again. (A restart's stop and play-on
        // is the same play; any other start of play says whose it is.)
        if (wasOnAir_[d])
            handsPlay_[d] = false;
        if (id && app_.autoQueue() && app_.isAudible(deck))
            heardIn(*id, deck);
    }
    // A MIX key whose mix ended before it started its deck played nothing:
    // what it asked for lapses, so a record heard before stands there as
    // heard (seed 7700946: the key's mix onto the first record could not
    // start, and minutes later, nothing unheard left to fill the queue with,
    // that record was taken for one flow still owed the room).
    if (keyAsked_ && set_.played > keyAsked_->at) {
        const std::size_t d = std::size_t(keyAsked_->deck);
        const TrackRecord* track = onDeck(keyAsked_->deck);
        if (playingNow_[d] || playStart_[d] >= keyAsked_->at || !track || track->id != keyAsked_->record)
            keyAsked_.reset();
        else if (idleNow) {
            // Asked for since by a request or a load, it stays wanted.
            const QUuid id = keyAsked_->record;
            const bool askedSince = requestedAt_.value(id, -1.0) >= keyAsked_->at
                || (handLoads_[d] && handLoads_[d]->first == id && handLoads_[d]->second >= keyAsked_->at);
            if (!keyAsked_->wantedBefore && !askedSince)
                wanted_.remove(id);
            keyAsked_.reset();
        }
    }
}

void RandomUser::check()
{
    const double frame = TransitionModel::kFrameInterval;
    // A device change excuses the silence while a deck decodes its own record
    // again for the new rate; a load of another record over it is not the
    // change's doing.
    const auto reloads = [this](int deck) {
        const TrackRecord* track = onDeck(deck);
        return app_.deck(deck).loading() && track && app_.deck(deck).loadingRecord() == track->id;
    };
    if (restarting_ && !reloads(0) && !reloads(1)) {
        restarting_ = false;
        reloadTo_ = set_.played;
    }
    const bool handsOff = !handsOn();
    // Excused: a load excused below that failed over a device change's reload
    // leaves the deck decoding the record it holds again, its audio being at
    // the old output's rate; that decode is the change's reload, the deck's
    // own, and keeps the excuse (seed 910118: the browser's load of a record
    // whose file was gone landed on a running mix's incoming deck while it
    // reloaded; the deck then decoded its own record for 2.1 s more).
    for (int deck : {0, 1}) {
        const std::size_t d = std::size_t(deck);
        const TrackRecord* track = onDeck(deck);
        const std::shared_ptr<DeckVoice> voice = app_.deck(deck).voice();
        const TrackBufferRef& held = app_.deck(deck).buffer();
        if (decodeExcused_[d] && excusedRecord_[d] && track && *excusedRecord_[d] != track->id && reloads(deck)
            && voice && held && std::abs(held->sampleRate - voice->sampleRate()) > 0.5)
            excusedRecord_[d] = track->id;
    }
    // A decode excused (see excuseDecode): the disk's time, not flow's, for
    // the record it was excused for. Any other decode the room waits for
    // counts.
    const auto excusedOn = [this](int deck) {
        return app_.deck(deck).loading() && decodeExcused_[std::size_t(deck)]
            && app_.deck(deck).loadingRecord() == excusedRecord_[std::size_t(deck)];
    };
    const bool excusedDecode = excusedOn(0) || excusedOn(1);
    // A silence a hand, flow off or a restart left; or, until flow's next
    // check, one a MIX key with no hand left by calling a mix off. That one
    // excuses no decode: flow brings the record the mix left unheard in from
    // its deck at that check, and the silence counts from there.
    const bool leftByHand = !handsOff || !app_.autoQueue() || set_.played <= excusedUntil_ || restarting_;
    const bool excused = leftByHand || set_.played <= keyCalledOffUntil_;
    const bool counts = !excused && !excusedDecode;
    bool canPlay = musicLeft(0) || musicLeft(1);
    for (const QUuid& id : app_.queue())
        canPlay = canPlay || playable(id);
    const TrackRecord* live = onDeck(app_.transition().liveDeck());
    const double bar = BeatGrid::barOf(live ? live->grid : std::nullopt);
    const bool silent = set_.masterPeak() < 1e-3;
    // A silence that began with hands on, flow off or the output restarting
    // is one a hand left: flow's first decode once it may act is excused.
    if (!silent) {
        quietLeftByHand_ = false;
        quietLoadSeen_ = false;
    } else if (leftByHand)
        quietLeftByHand_ = true;
    // An excused decode holds the count where it stands: the silence flow
    // left before it still counts with the silence after it lands.
    quiet_ = !canPlay || !silent || excused ? 0.0 : counts ? quiet_ + frame : quiet_;
    const Kind kind = app_.transition().phase().kind;
    stalled_ = counts && (kind == Kind::starting || kind == Kind::mixing) && !playing(app_, 0) && !playing(app_, 1)
        ? stalled_ + frame
        : 0.0;
    if (quiet_ > bar + 0.1 && quiet_ - frame <= bar + 0.1) {
        QStringList could;
        for (int deck : {0, 1})
            if (musicLeft(deck))
                could << QStringLiteral("%1 on deck %2").arg(onDeck(deck)->title).arg(deck + 1);
        for (const QUuid& id : app_.queue())
            if (playable(id))
                could << app_.library().track(id)->title + QStringLiteral(" queued");
        fail(QStringLiteral("silent for more than a bar (%1 s) while %2 could play").arg(bar).arg(could.join(", ")));
    }
    if (stalled_ > bar && stalled_ - frame <= bar)
        fail(QStringLiteral("a mix onto deck %1 stands %2 with no deck playing for more than a bar")
                 .arg(app_.transition().phase().to + 1)
                 .arg(kind == Kind::starting ? "starting" : "mixing"));
    // A mix starts its incoming deck at the next render, in time with the
    // other deck, or at the drop's point, once that deck holds its record.
    // Held in its starting phase while music plays, it keeps flow from doing
    // anything, which no silence rule sees. Counted from when both decks hold
    // their records, with no output restart under way, and not while deck 1
    // has still to reach the point a take is armed to drop in at.
    {
        const test::FakeWorld& world = set_.rig.world;
        const bool dropWaits = world.dropStatus.kind == DropStatus::Kind::armed && world.dropStatus.seconds > 0.0;
        const bool holds = !app_.deck(0).loading() && !app_.deck(1).loading() && !app_.deck(0).reading().loading()
            && !app_.deck(1).reading().loading() && !restarting_ && set_.played > excusedUntil_;
        startingFor_ = kind == Kind::starting && holds && !dropWaits && (playing(app_, 0) || playing(app_, 1))
            ? startingFor_ + frame
            : 0.0;
        const double limit = kStartingBars * bar;
        if (startingFor_ > limit && startingFor_ - frame <= limit)
            fail(QStringLiteral("a mix onto deck %1 stands starting for more than %2 bars while music plays")
                     .arg(app_.transition().phase().to + 1)
                     .arg(kStartingBars));
    }
    // Nothing plays unheard behind the crossfader or its fader once hands are
    // off, past flow's wait for a deck it mixed out (up to a check late at
    // either end) and a bar.
    for (int deck : {0, 1}) {
        const std::size_t d = std::size_t(deck);
        // Excused, until it is first on air: a play started by the DJ's play
        // key, by the DJ's load landing, or by the MIX key starting a mix; or
        // a deck already playing when the DJ calls off the mix that started
        // it. The MIX key calling off a mix before its deck started starts
        // nothing, so a start after it is not the DJ's.
        // Flow leaves a deck the DJ plays to the DJ, and brings it in when
        // the live record ends.
        const bool unheard = playing(app_, deck) && onDeck(deck) && !throughTheMixer(deck)
            && !app_.mixer().channel(deck).cue() && !handsPlay_[d];
        // A restart stops the deck a moment and excuses nothing else: the
        // count stands through it.
        const bool restartOnly = handsOff && app_.autoQueue() && (set_.played <= excusedUntil_ || restarting_);
        unheardFor_[d] = !excused && kind == Kind::idle && unheard ? unheardFor_[d] + frame
            : restartOnly                                          ? unheardFor_[d]
                                                                   : 0.0;
        const double limit = kQuietOutgoing + 2.0 * kCheckPeriod + bar;
        if (unheardFor_[d] > limit && unheardFor_[d] - frame <= limit)
            fail(QStringLiteral("%1 plays unheard on deck %2 for more than %3 s, hands off")
                     .arg(onDeck(deck)->title)
                     .arg(deck + 1)
                     .arg(limit, 0, 'f', 1));
    }
}

// The model's key mixes onto deck 2 now: its step is "mix onto deck 2" (deck
// 2 holds a take of deck 1's record that deck 1 is still inside), and deck 2
// is where a MIX key would go.
bool RandomUser::modelMixesOntoDeckTwo() const
{
    const TransitionModel::Phase& phase = app_.transition().phase();
    const int to = phase.kind == Kind::idle ? 1 - app_.transition().liveDeck() : phase.to;
    return to == 1 && keysteps::tapAction(app_.stepInputs()) == keysteps::Tap::mixToDeckTwo;
}

// A press of one of the MIX keys onto the deck.
void RandomUser::pressMix(MixKey key, int to)
{
    const TransitionModel::Phase& phase = app_.transition().phase();
    const char* const keyNames[] = {"controller", "keyboard", "mix page", "model"};
    did(QStringLiteral("MIX key (%1) onto deck %2").arg(QLatin1String(keyNames[int(key)])).arg(to + 1));
    // A deck an output restart stopped under the key, owed its play-on, is
    // still playing as far as the key goes: its new voice reads stopped only
    // while its record reloads (seed 7301055).
    const TrackRecord* held = onDeck(to);
    const std::optional<QUuid>& owed = playsOn_[std::size_t(to)];
    const bool plays = playing(app_, to) || (restarting_ && held && owed && chainOf(*owed) == chainOf(held->id));
    if (held) {
        // A deck the key starts plays its record once more; one playing
        // already goes on with the play it is in.
        if (!plays) {
            keyAsked_ = KeyAsk{to, held->id, wanted_.contains(held->id), set_.played};
            wants(held->id);
        }
        touched_.insert(held->id);
    }
    handAt_[std::size_t(to)] = set_.played;
    keyCalledOff_[std::size_t(to)] = phase.kind != Kind::idle;
    // The key on a running mix calls it off: what its incoming deck
    // plays on with is the DJ's.
    if (phase.kind != Kind::idle && plays)
        handsPlay_[std::size_t(to)] = true;
    const bool callsOff = phase.kind != Kind::idle;
    mixing_ = true;
    switch (key) {
    case MixKey::controller:
        app_.binder().noteHandsOn();
        app_.transition().mix(to);
        break;
    case MixKey::keyboard: {
        // Through the window's key filter, as a key press reaches the app.
        QWindow window;
        KeyboardFilter filter(app_, nullptr);
        const QString text = to == 0 ? QStringLiteral(",") : QStringLiteral(".");
        const int code = to == 0 ? Qt::Key_Comma : Qt::Key_Period;
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
        QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
        filter.eventFilter(&window, &press);
        filter.eventFilter(&window, &release);
        break;
    }
    case MixKey::page: app_.transition().mix(to); break;
    case MixKey::model:
        ++modelMixes_;
        app_.aiPrimary();
        break;
    }
    mixing_ = false;
    // A key with no hand that calls a mix off leaves the room as the DJ
    // chose. Hands being off, flow brings the record the mix left unheard
    // in from its deck at its next check: the silence is excused until
    // then, and a bar after it counts (seeds 750139, 8000020).
    if (key != MixKey::controller && callsOff)
        keyCalledOffUntil_ = set_.played + kCheckPeriod;
}

// The user who wants the model's key to mix onto deck 2 asks it for a take
// of deck 1's record while deck 1 plays live and deck 2 is free for the take
// to land on, waits for the take, and presses the key once its step is to
// mix it in. A take that landed too late to drop in is asked for again.
void RandomUser::steerToTheModelsMix()
{
    if (!modelKeyWanted_)
        return;
    if (modelMixesOntoDeckTwo()) {
        modelKeyWanted_ = false;
        pressMix(MixKey::model, 1);
        return;
    }
    const test::FakeWorld& world = set_.rig.world;
    const bool deckOneLive = app_.transition().phase().kind == Kind::idle && app_.transition().liveDeck() == 0
        && playing(app_, 0) && timeLeft(0) > 60.0;
    const bool deckTwoFree = !playing(app_, 1) && !app_.deck(1).loading();
    if (!deckOneLive || !deckTwoFree || chain_ || world.phase != WorkflowLink::Phase::idle
        || keysteps::tapAction(app_.stepInputs()) != keysteps::Tap::fork)
        return;
    did(QStringLiteral("model key: fork"));
    app_.aiPrimary();
    userRun_ = world.runID;
}

// The MIX key or a take-over in the phase it waits for.
void RandomUser::actInPhase()
{
    if (!armed_)
        return;
    if (set_.played > armedUntil_) {
        armed_.reset();
        return;
    }
    const TransitionModel::Phase& phase = app_.transition().phase();
    if (phase.kind != armed_->first)
        return;
    if (armed_->second) {
        const int to = phase.kind == Kind::idle ? 1 - app_.transition().liveDeck() : phase.to;
        MixKey key = MixKey(keys_() % 4);
        if (key == MixKey::model && !modelMixesOntoDeckTwo()) {
            // The model's key mixes onto deck 2 only when that is its step:
            // the user works towards it (see steerToTheModelsMix) and presses
            // nothing now.
            modelKeyWanted_ = true;
            did(QStringLiteral("wants the model's key to mix onto deck 2"));
            armed_.reset();
            return;
        }
        pressMix(key, to);
    } else {
        app_.binder().noteHandsOn();
        did(QStringLiteral("take-over"));
        const double x = app_.mixer().crossfader();
        handCrossfaderAt_ = set_.played;
        app_.mixer().setCrossfader(std::clamp(x + (x > 0.0 ? -0.1 : 0.1), -1.0, 1.0));
    }
    armed_.reset();
}

void RandomUser::act()
{
    const int deck = int(random_() % 2);
    const TrackRecord& record = set_[random_() % unsigned(count_)];
    const unsigned what = random_() % 15;
    switch (what) {
    case 0:
        // A hand, mid-mix or not: what the user plays or pauses is theirs.
        if (const TrackRecord* track = onDeck(deck))
            touched_.insert(track->id);
        did(QStringLiteral("play/pause deck %1").arg(deck + 1));
        handPausedAt_[std::size_t(deck)] = set_.played;
        handAt_[std::size_t(deck)] = set_.played;
        keyCalledOff_[std::size_t(deck)] = false;
        {
            // The key turns round what the deck was last asked to do, every
            // command sent to its voice and not yet rendered counted: a
            // restart's play-on too (seed 4501021: a play/pause pressed
            // before the play-on was rendered paused the deck).
            const std::shared_ptr<DeckVoice> voice = app_.deck(deck).voice();
            const bool plays = voice ? voice->asked().playing : playing(app_, deck);
            asked_[std::size_t(deck)] = std::make_pair(!plays, ++sent_);
            // A pause of a deck asked to play and not playing yet (a
            // restart's play-on still on its way) calls that play off: the
            // deck's stop is the hand's, not the restart's.
            if (plays && !playing(app_, deck)) {
                restartStop_[std::size_t(deck)] = Stop::hand;
                if (stoppedBy_[std::size_t(deck)] == Stop::restart)
                    stoppedBy_[std::size_t(deck)] = Stop::hand;
            }
            askedByHand_[std::size_t(deck)] = true;
            if (app_.deck(deck).reloading()) {
                playsOnLanding_[std::size_t(deck)] = !playsOnLanding_[std::size_t(deck)];
                reloadSeenAt_[std::size_t(deck)] = set_.played;
            }
        }
        app_.deck(deck).playPause();
        break;
    case 1:
        // At any frame, a load in flight or not.
        handLoad(deck, record);
        break;
    case 2: request(record); break;
    case 3:
        if (!app_.queue().empty()) {
            const QUuid id = app_.queue()[random_() % app_.queue().size()];
            takeBack(id);
        }
        break;
    case 4:
        did(QStringLiteral("move in the queue"));
        if (!app_.queue().empty())
            app_.moveInQueue(app_.queue()[random_() % app_.queue().size()], int(random_() % 3) - 1);
        break;
    case 5:
        did(QStringLiteral("flow off"));
        app_.setAutoQueue(false);
        flowBackAt_ = set_.played + uniform(2.0, 10.0);
        break;
    case 6:
        did(QStringLiteral("crossfader"));
        app_.binder().noteHandsOn();
        handCrossfaderAt_ = set_.played;
        app_.mixer().setCrossfader(uniform(-1.0, 1.0));
        break;
    case 7: restart(); break;
    case 8:
        // A queued record whose file is gone.
        if (!fileGone_) {
            const TrackRecord& gone = set_[unsigned(count_) - 2 + random_() % 2];
            const TrackRecord* one = onDeck(0);
            const TrackRecord* two = onDeck(1);
            if ((!one || one->id != gone.id) && (!two || two->id != gone.id) && !app_.deck(0).loading()
                && !app_.deck(1).loading()) {
                did(QStringLiteral("file of %1 gone").arg(gone.title));
                QFile::remove(gone.path);
                fileGone_ = true;
                request(gone);
            }
        }
        break;
    case 9:
        // A fork by hand from the on-screen key, unless the last one still
        // renders: it throws a render in flight away, and the chain writes
        // its take as it writes flow's.
        if (!chain_ || chain_->run != userRun_) {
            did(QStringLiteral("fork"));
            app_.binder().noteHandsOn();
            app_.outpaint().fork(true);
            userRun_ = set_.rig.world.runID;
            set_.rig.world.phase = WorkflowLink::Phase::rendering;
            // The user means to drop the take in with the model's key once
            // it lands.
            modelKeyWanted_ = true;
        }
        break;
    case 10:
        // Something lands on the incoming deck of a running mix with no hand
        // on the decks, from the browser.
        if (app_.transition().phase().kind != Kind::idle) {
            const int to = app_.transition().phase().to;
            const TrackRecord* in = onDeck(to);
            if (!in || in->id != record.id) {
                did(QStringLiteral("%1 lands on deck %2 mid-mix").arg(record.title).arg(to + 1));
                wants(record.id);
                touched_.insert(record.id);
                handAt_[std::size_t(to)] = set_.played;
                keyCalledOff_[std::size_t(to)] = false;
                handLoads_[std::size_t(to)] = std::make_pair(record.id, set_.played);
                browserLoad_ = true;
                app_.deck(to).load(record);
                // Over a load in flight the deck stays loading: no signal.
                excuseDecode(to);
                browserLoad_ = false;
            }
        }
        break;
    case 11:
        // A request taken back a moment later.
        request(record);
        takeBackAt_ = std::make_pair(record.id, set_.played + uniform(0.0, 3.0));
        break;
    case 12:
        // The record playing now, requested at the head of the queue.
        if (const TrackRecord* live = onDeck(app_.transition().liveDeck()); live && playing(app_, app_.transition().liveDeck())) {
            request(*live);
            did(QStringLiteral("move %1 to the head of the queue").arg(live->title));
            app_.moveInQueue(live->id, -int(app_.queue().size()));
        }
        break;
    case 13:
    case 14: {
        // The MIX key (13) or a take-over (14) in a phase of a mix.
        const Kind phases[] = {Kind::idle, Kind::starting, Kind::waitingDownbeat, Kind::mixing};
        armed_ = std::make_pair(phases[random_() % 4], what == 13);
        armedUntil_ = set_.played + 60.0;
        break;
    }
    }
}

// Every request was heard after it was made, is still queued or on a deck,
// was passed over with a line, or its own load is still in flight.
void RandomUser::account()
{
    const QStringList notes = set_.notes();
    for (auto it = requestedAt_.begin(); it != requestedAt_.end(); ++it) {
        // A line passing the record over counts only after the request.
        const QString lines = notes.mid(requestNote_.value(it.key(), 0)).join(QLatin1Char('\n'));
        const std::optional<TrackRecord> record = app_.library().track(it.key());
        ASSERT_TRUE(record);
        const bool accounted = heardSince_.value(it.key(), -1.0) >= it.value()
            || std::find(app_.queue().begin(), app_.queue().end(), it.key()) != app_.queue().end()
            || lines.contains(QStringLiteral("passed over ") + record->title)
            || lines.contains(QStringLiteral("gave up loading ") + record->title)
            || (onDeck(0) && onDeck(0)->id == it.key()) || (onDeck(1) && onDeck(1)->id == it.key())
            || app_.deck(0).loadingRecord() == it.key() || app_.deck(1).loadingRecord() == it.key()
            // Its turn has come: flow's load of it is still on its way.
            || (app_.autoCueing() && app_.autoCueing()->id == it.key());
        if (!accounted)
            fail(QStringLiteral("%1, requested at %2 s, was neither heard since, queued, on a deck nor passed over")
                     .arg(record->title)
                     .arg(it.value()));
    }
}

// How many sets, how long, from which seed: ZELVO_RANDOM_USER_SEEDS,
// ZELVO_RANDOM_USER_SECONDS and ZELVO_RANDOM_USER_FIRST, else ten sets of a
// minute and a half from seed 1 (what CI runs).
struct RandomUserRun {
    int seeds = 10;
    double seconds = 90.0;
    unsigned first = 1;
};

RandomUserRun randomUserRun()
{
    RandomUserRun run;
    if (const int n = qEnvironmentVariableIntValue("ZELVO_RANDOM_USER_SEEDS"); n > 0)
        run.seeds = n;
    if (const int s = qEnvironmentVariableIntValue("ZELVO_RANDOM_USER_SECONDS"); s > 0)
        run.seconds = s;
    if (const int f = qEnvironmentVariableIntValue("ZELVO_RANDOM_USER_FIRST"); f > 0)
        run.first = unsigned(f);
    return run;
}

TEST(FlowSetRandom, ARandomUserNeverLeavesTheRoomSilent)
{
    const RandomUserRun run = randomUserRun();
    for (unsigned seed = run.first; seed < run.first + unsigned(run.seeds); ++seed) {
        SCOPED_TRACE(QStringLiteral("seed %1 (ZELVO_RANDOM_USER_FIRST=%1 ZELVO_RANDOM_USER_SEEDS=1)").arg(seed).toStdString());
        RandomUser user(seed, false, run.seconds);
        ASSERT_NO_FATAL_FAILURE(user.play());
    }
}

// Sets in which the random user once found a fault: flow's cue of a request
// for a record heard before, standing on the crossfader's deck, taken for a
// record that deck had done with (120331); a record owed to the room on the
// crossfader's deck while flow's next cue was on its way to the other
// (120870); a record loaded over the incoming deck and heard since, still
// taken for owed to the room, holding the set on its deck (130053); a take
// left playing behind the crossfader by flow's mix onto it, ended when the
// user's load stopped the outgoing deck, playing on unheard once hands were
// off (650216); a record an output restart found at its last frame, taken
// for one the restart cut short (650775); a stretch decoded again for another
// rate, taken for one not yet under the deck (670127); a hand's pause minutes
// before two device changes, taken for one that called off the play-on the
// first still owed (681200); flow's pause of the deck it had faded out, sent
// in the frame of a restart, taken for a stop by the restart (710020, 720029,
// 730251); a hand's load of the record its deck played, landed as a device
// change came, taken for a stretch spliced under it (730148); flow's first
// check once hands were off, put off by a device change's reload, its cue's
// decode counted as silence flow left (740285); the crossfader across the
// middle for 0.4 s, taken for the take on air throughout going live again
// (750139); a record owed to the room, no longer owed once a take replaced
// it on one deck though the other deck still held it (720076); a record left
// playing behind the crossfader by a hand's crossfade onto a deck that stood,
// never paused once the hand played that deck (720054); the next cue, due as
// flow brought in a take near its end, put off to the next second (730172);
// a deck decoding its own record again for a device change's rate after the
// browser's load over its reload failed, taken for a decode flow left the
// room waiting on (910118); a fork's take placed over the take on air while
// it decoded again for a device change's rate, cutting it (920011); a hand's
// load of the record a mix brought in, queued again once heard, over that
// deck, landing after the mix completed: owed to the room yet still
// standing requested, it neither played nor let the set go on, and the room
// stayed silent for good (960091); flow's cue, begun as a device change to
// another rate came, decoded at the old rate to its end before it began again
// at the new one, keeping the room silent for two decodes (980137); a record
// owed to the room on the idle deck, put by hand on the live deck over its
// record too and then loaded over there, taken for a record put there over
// one never heard: the live deck stood unheard and silent for good (1000483);
// a browser load over the live deck while flow's mix waited for its downbeat,
// the incoming deck playing flow's cue behind the crossfader: the mix called
// off, flow sent that record back to the queue, stopped its deck, and the room
// stood silent for two seconds (1300654); a take heard on air, then taken off
// it by a hand's crossfader with the live deck unchanged, played on unheard
// for good (1500825); and a mix onto a take that landed in the frame of a
// restart, lined up with the other deck's bar a bar into the take (1500653);
// the live deck standing with a record a hand put there, nothing else to
// bring in and a fork the user started still rendering: flow waited for the
// render and left the room silent (1900454); a hand's play of flow's cue in
// the frame after it landed, an output restart two frames on (1900764); a
// mix called off just after an output restart, flow's cue stopped unheard
// on its deck and that deck brought in before the stop was rendered
// (7700687); a MIX key's mix onto the first record that could not start,
// its ask taken minutes later for a record flow still owed the room when
// nothing unheard was left to fill the queue with (7700946); a device change
// stopping a record 1.3 s before the browser's load onto its deck landed,
// taken for a stop by the restart (7700671); a record loaded over the take a
// mix was to drop in on deck 2, before deck 1 reached the drop point: the mix
// stood starting, the drop still armed for the new record (5100031, 5100129,
// 5100171); a hand's play of deck 2 while its record decoded again for a
// new rate, carried out as the record landed 2 s later, taken for a start no
// hand made (5100187); and the model's MIX key arming a take's drop minutes
// ahead of deck 1, the take played by hand meanwhile: the drop still armed
// when flow stopped deck 1 after its mix out cued the take on air back to its
// start, stopped (5100010).
TEST(FlowSetRandom, TheSetsThatFoundFaultsPlayThrough)
{
    for (const unsigned seed : {120331u, 120870u, 130053u, 650216u, 650775u, 670127u, 681200u, 710020u, 720029u,
                                720054u, 720076u, 730148u, 730172u, 730251u, 740285u, 750139u, 910118u,
                                920011u, 960091u, 980137u, 1000483u, 1300654u, 1500653u, 1500825u, 1900454u, 1900764u,
                                7700687u, 7700946u, 7700671u, 5100031u, 5100129u, 5100171u, 5100187u,
                                5100010u}) {
        SCOPED_TRACE(seed);
        RandomUser user(seed, false, 300.0);
        ASSERT_NO_FATAL_FAILURE(user.play());
    }
}

// The same on the user's path: a play/pause pressed before a restart's
// play-on was rendered, taken for a play (4501021); the model's MIX key
// calling off a mix whose take played, pressed while an output restart
// reloaded that deck, taken for a key that started nothing (7301055).
TEST(FlowSetRandom, TheSetsOnTheUsersPathThatFoundFaultsPlayThrough)
{
    for (const unsigned seed : {4501021u, 7301055u}) {
        SCOPED_TRACE(seed);
        RandomUser user(seed, true, 300.0);
        ASSERT_NO_FATAL_FAILURE(user.play());
    }
}

// The same on the user's path: decks key-locked, rendering ahead as they do
// on the user's machine, the worker's rounds run on each render. There a deck
// also plays until its last frame is heard.
TEST(FlowSetRandom, ARandomUserOnTheUsersPath)
{
    const RandomUserRun run = randomUserRun();
    const unsigned seed = run.first + 1000u;
    SCOPED_TRACE(QStringLiteral("seed %1").arg(seed).toStdString());
    RandomUser user(seed, true, run.seconds);
    ASSERT_NO_FATAL_FAILURE(user.play());
}

} // namespace
} // namespace zelvo
