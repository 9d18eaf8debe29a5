// Flow mode: the once-a-second driver, the fill, the flow fork, the pause of
// the faded-out deck and the timed mix-in. The clock is manual; deck cells are
// set by hand, or played by the engine where a pause must be seen.
#include "state/AppModel.h"

#include "FlowSupport.h"
#include "audio/AudioIO.h"
#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "controllers/PlayerModel.h"
#include "library/TrackBuffer.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace zelvo {
namespace {

using test::FlowRig;
using test::RecordFields;
using Phase = WorkflowLink::Phase;

TrackRecord record(const char* title, std::optional<double> bpm = 120.0, int pc = 0,
                   std::optional<double> energy = std::nullopt)
{
    return test::fixtureRecord({.title = title, .bpm = bpm, .key = MusicalKey(pc, false), .energy = energy});
}

// Sets what the deck's voice publishes as one of its renders would: a whole
// timeline write later, with its buffer taken, so the deck reads it as news.
void publish(FlowRig& rig, int deck, bool playing, double position, double duration)
{
    rig.publish(deck, playing, position, duration);
    DeckState& cells = rig.cells(deck);
    cells.loaded.store(true);
    cells.timelineWrites.store(cells.timelineWrites.load() + 8);
}

TrackRecord takeOf(const TrackRecord& source)
{
    OutpaintInfo info;
    info.sourceID = source.id;
    return test::fixtureRecord({.title = "take", .outpaint = info});
}

void instantLoads(AppModel& app)
{
    for (int i = 0; i < 2; ++i)
        app.deck(i).setDecoder([](const QString&, double rate) { return TrackBufferRef(4800, rate); });
}

TEST(FlowDriver, RunsOnlyWhenOnAndAtMostOnceASecond)
{
    const TrackRecord a = record("A");
    FlowRig rig({a});
    AppModel& app = rig.model;
    rig.put(2, a);
    publish(rig, 2, true, 10, 300);

    // Off: nothing, not even the heard list.
    rig.after(3);
    EXPECT_TRUE(app.heard().isEmpty());
    EXPECT_FALSE(app.lastAutoCheck().isValid());

    app.setAutoQueue(true);
    rig.after(0.05);
    const QDateTime first = app.lastAutoCheck();
    ASSERT_TRUE(first.isValid());
    EXPECT_EQ(app.heard(), QSet<QUuid>{a.id});
    rig.after(1.0);
    EXPECT_EQ(app.lastAutoCheck(), first); // exactly 1 s is not more than 1 s
    rig.after(0.05);
    EXPECT_EQ(app.lastAutoCheck(), rig.scheduler.now());

    // Heard only grows, and survives switching off and on.
    const TrackRecord b = record("B");
    rig.put(2, b);
    publish(rig, 2, true, 0, 300);
    app.setAutoQueue(false);
    app.setAutoQueue(true);
    rig.after(1.1);
    EXPECT_EQ(app.heard(), (QSet<QUuid>{a.id, b.id}));
}

// With the players playing into an external mixer through their own outputs,
// flow mode sits out entirely: nothing is heard, filled, forked or mixed.
TEST(FlowDriver, SitsOutWhileThePlayersDirectOutputsAreOn)
{
    const TrackRecord a = record("A"), b = record("B");
    test::AppRig rig;
    test::writeCollection({a, b});
    for (auto [uid, name] : {std::pair{"AppleUSBAudioEngine:Pioneer:CDJ-3000X:14200000:1", "CDJ-3000X"},
                             std::pair{"AppleUSBAudioEngine:Pioneer:CDJ-3000X:14300000:1", "CDJ-3000X #2"}}) {
        FakeAudioBackend::Device card;
        card.uid = uid;
        card.name = name;
        rig.backend->addDevice(card);
    }
    rig.addOutput();
    AppModel& app = rig.make();
    ASSERT_TRUE(rig.bootWithOutput());
    const auto settleOn = [&](bool direct) {
        return test::spinUntil([&] {
            return app.audio().directOuts() == direct && app.audio().io()
                && app.audio().io()->engine().params()->directOuts.load() == direct;
        }) && test::settle();
    };
    const auto play = [&] {
        app.deck(0).install(a, TrackBufferRef(4800, 48000.0), nullptr, false);
        DeckState& cells = const_cast<DeckState&>(app.deck(0).voice()->state());
        cells.playing.store(true);
        cells.position.store(30.0);
        cells.duration.store(300.0);
        cells.loaded.store(true);
        cells.timelineWrites.store(cells.timelineWrites.load() + 8);
    };
    const auto after = [&](double seconds) {
        rig.scheduler.advance(seconds);
        app.tick();
    };
    app.audio().setPlayerRig({{0x14300000, 1, PlayerModel::cdj3000x}, {0x14200000, 0, PlayerModel::cdj3000x}});
    ASSERT_TRUE(settleOn(true));
    play();
    app.setAutoQueue(true);
    for (int i = 0; i < 4; ++i)
        after(1.1);
    EXPECT_TRUE(app.heard().isEmpty());
    EXPECT_FALSE(app.lastAutoCheck().isValid());
    EXPECT_TRUE(app.queue().empty());
    EXPECT_EQ(app.flowLive(), -1);

    // Back on one output, the same second runs the whole step.
    rig.world.stretchesWritten = 3; // the model wrote before flow mode first ran
    const QDateTime off = rig.scheduler.now();
    app.audio().setPlayerRig({});
    ASSERT_TRUE(settleOn(false));
    play();
    after(1.1);
    EXPECT_EQ(app.heard(), QSet<QUuid>{a.id});
    EXPECT_EQ(app.lastAutoCheck(), rig.scheduler.now());
    EXPECT_EQ(app.queue(), std::vector<QUuid>{b.id});
    // The first run sees deck 1 live and starts its clock and count then.
    EXPECT_EQ(app.flowLive(), 0);
    EXPECT_GE(app.liveSince(), off);
    EXPECT_EQ(app.stretchesAtLive(), 3);
}

TEST(FlowDriver, FillTopsTheQueueUpWithTheBestFitsInLibraryOrder)
{
    // Against R (120 bpm, C major, no metrics): X1 0.75, X3a and X3b 0.35 (a
    // tie), X2 0.32, X4 0.24 (below the threshold), X5 0.
    const TrackRecord r = record("R");
    const TrackRecord x5 = record("X5", std::nullopt, 6);
    const TrackRecord x3a = record("X3a", 120, 6);
    const TrackRecord x1 = record("X1", 120, 0);
    const TrackRecord x3b = record("X3b", 120, 6);
    const TrackRecord x2 = record("X2", std::nullopt, 7);
    const TrackRecord x4 = record("X4", 123, 6);
    TrackRecord take = takeOf(r);
    take.grid = r.grid;
    take.key = r.key; // would fit best, but takes are never proposed
    const std::vector<TrackRecord> library{r, x5, x3a, take, x1, x3b, x2, x4};

    struct Case {
        const char* name;
        std::vector<QUuid> queued;
        std::vector<TrackRecord> onDeck3; // played one after another on deck 3
        std::vector<QUuid> expected;
    };
    const Case cases[] = {
        {"from empty", {}, {}, {x1.id, x3a.id, x3b.id}},
        {"one queued", {x3b.id}, {}, {x3b.id, x1.id, x3a.id}},
        {"two queued", {x3b.id, x1.id}, {}, {x3b.id, x1.id, x3a.id}},
        {"three queued", {x5.id, x4.id, x2.id}, {}, {x5.id, x4.id, x2.id}},
        // X1 was heard, X3a is on a deck, X2 queued: X3b joins, X4 falls below.
        {"exclusions", {x2.id}, {x1, x3a}, {x2.id, x3b.id}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowRig rig(library);
        AppModel& app = rig.model;
        app.setQueue(c.queued);
        rig.put(0, r);
        publish(rig, 0, true, 0, 300);
        for (const TrackRecord& played : c.onDeck3) {
            rig.put(3, played);
            publish(rig, 3, true, 0, 300);
            app.setQueue(c.queued); // the fill waits until the last one is on
            app.setAutoQueue(true);
            rig.after(1.1);
            app.setAutoQueue(false);
        }
        app.setQueue(c.queued);
        app.setAutoQueue(true);
        rig.after(1.1);
        EXPECT_EQ(app.queue(), c.expected);
    }
}

TEST(FlowDriver, FlowForkWaitsForContextAndForksEachRecordOnce)
{
    struct Case {
        const char* name;
        std::function<void(FlowRig&)> arrange;
        double position;
        double duration;
        bool forks;
        bool marked;
    };
    // Bar 2 s, contextBars 8, aheadBars 4: the fork waits for 17 s and needs
    // more than 44 s left.
    const Case cases[] = {
        {"before the context", {}, 16.9, 300, false, false},
        {"at the context", {}, 17, 300, true, true},
        // Deck 2 plays too: a stopped live deck 2 would hand the set to deck 1.
        {"live deck 2",
         [](FlowRig& r) {
             r.model.mixer().setCrossfader(0.2);
             r.put(1, record("other"));
             publish(r, 1, true, 5, 300);
         },
         30, 300, false, false},
        {"rendering", [](FlowRig& r) { r.world.phase = Phase::capturing; }, 30, 300, false, false},
        {"after a failure", [](FlowRig& r) { r.world.phase = Phase::failed; }, 30, 300, true, true},
        {"server not ready", [](FlowRig& r) { r.world.brainStatus = BrainStatus::of(BrainStatus::Kind::starting); },
         30, 300, false, false},
        {"deck 1 paused", [](FlowRig& r) { publish(r, 0, false, 30, 300); }, 30, 300, false, false},
        {"deck 2 on air",
         [](FlowRig& r) {
             r.put(1, record("other"));
             publish(r, 1, true, 5, 300);
         },
         30, 300, false, false},
        {"deck 2 playing, faded down",
         [](FlowRig& r) {
             r.put(1, record("other"));
             publish(r, 1, true, 5, 300);
             r.model.mixer().channel(1).setFader(0.0);
         },
         30, 300, true, true},
        {"near its end", {}, 17, 61, false, true},
        {"just enough left", {}, 17, 61.5, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowRig rig({});
        AppModel& app = rig.model;
        rig.world.settings.contextBars = 8;
        rig.world.settings.aheadBars = 4;
        const TrackRecord song = record("Song");
        rig.put(0, song);
        publish(rig, 0, true, c.position, c.duration);
        if (c.arrange)
            c.arrange(rig);
        app.setAutoQueue(true);
        rig.after(1.1);
        rig.after(1.1); // a second body changes nothing
        EXPECT_EQ(rig.world.journal.count(QStringLiteral("workflow.fork(0)")), c.forks ? 1 : 0);
        EXPECT_EQ(app.flowForked() == song.id, c.marked);
        if (c.forks) {
            EXPECT_EQ(rig.notes(), QStringList{QStringLiteral("flow: forking Song")});
            EXPECT_EQ(app.hint(), QStringLiteral("FLOW \u00B7 ZELVO-0 IS LISTENING TO SONG"));
        } else if (c.marked) {
            EXPECT_EQ(rig.notes(),
                      QStringList{QStringLiteral("flow: Song is too near its end to fork; the next record gets it")});
        } else {
            EXPECT_TRUE(rig.notes().isEmpty());
        }
    }

    // A take of this record waiting on deck 2 marks it without a fork; a take
    // on deck 1 is never forked.
    FlowRig rig({});
    const TrackRecord song = record("Song");
    rig.put(0, song);
    rig.put(1, takeOf(song));
    publish(rig, 0, true, 30, 300);
    rig.model.setAutoQueue(true);
    rig.after(1.1);
    EXPECT_EQ(rig.model.flowForked(), song.id);
    const TrackRecord take = takeOf(song);
    rig.put(0, take);
    publish(rig, 0, true, 30, 300);
    rig.after(1.1);
    EXPECT_EQ(rig.world.journal.count(QStringLiteral("workflow.fork(0)")), 0);
}

struct MixCase {
    const char* name;
    std::optional<double> bpm;
    std::int64_t beatsPerBar;
    std::int64_t bars;
    double mixLen;
};

TEST(MixIn, CuesAndMixesInsideTheirWindows)
{
    const MixCase cases[] = {
        {"120 bpm, 16 bars", 120, 4, 16, 32},
        {"no grid, 8 bars", std::nullopt, 4, 8, 16},
        {"tempo 0, 8 bars", 0.0, 4, 8, 16},
        {"no beats in a bar", 120, 0, 8, 16},
        {"90 bpm in 3, 4 bars", 90, 3, 4, 8},
        {"174 bpm, 32 bars", 174, 4, 32, 32 * 240.0 / 174.0},
    };
    for (const MixCase& c : cases) {
        SCOPED_TRACE(c.name);
        TrackRecord live = test::fixtureRecord({.title = "Live", .bpm = c.bpm, .beatsPerBar = c.beatsPerBar});
        const TrackRecord next = record("Next one");
        FlowRig rig({live, next});
        AppModel& app = rig.model;
        rig.world.brainStatus = BrainStatus::of(BrainStatus::Kind::offline); // no flow fork here
        instantLoads(app);
        app.transition().setBars(c.bars);
        app.setQueue({next.id});
        rig.put(0, live);
        const double duration = 400;
        const auto at = [&](double remaining) {
            publish(rig, 0, true, duration - remaining, duration);
            rig.after(1.1);
        };
        app.setAutoQueue(true);
        at(c.mixLen + 30);
        EXPECT_EQ(app.queue(), std::vector<QUuid>{next.id});
        at(c.mixLen + 29.5);
        EXPECT_TRUE(app.queue().empty());
        EXPECT_TRUE(app.mixer().channel(1).sync());
        ASSERT_TRUE(app.autoCued());
        EXPECT_EQ(app.autoCued()->id, next.id);
        EXPECT_EQ(app.hint(), QStringLiteral("FLOW \u00B7 CUEING NEXT ONE"));
        EXPECT_EQ(rig.notes().value(0), QStringLiteral("auto: cued Next one on deck 2 with %1s to go")
                                            .arg(std::round(c.mixLen + 29.5)));
        ASSERT_TRUE(test::spinUntil([&] { return app.deck(1).track() && app.deck(1).track()->id == next.id; }));
        at(c.mixLen + 8);
        EXPECT_FALSE(app.autoCueing()); // the load landed
        EXPECT_FALSE(app.flowMixedFrom());
        at(c.mixLen + 7.5);
        EXPECT_EQ(app.flowMixedFrom(), 0);
        // Flow's own cue until the record is heard: a mix into it that never
        // comes up leaves it to come back.
        ASSERT_TRUE(app.autoCued());
        EXPECT_EQ(app.autoCued()->id, next.id);
        EXPECT_EQ(rig.notes().value(1), QStringLiteral("flow: %1-bar mix onto deck 2").arg(c.bars));
    }
}

TEST(MixIn, AShortRecordMixesOutAsSoonAsTheNextLands)
{
    const TrackRecord live = record("Short"), next = record("Next");
    FlowRig rig({live, next});
    AppModel& app = rig.model;
    instantLoads(app);
    app.setQueue({next.id});
    rig.put(0, live);
    publish(rig, 0, true, 0, 30); // mixLen 32 + 8 is more than the record
    app.setAutoQueue(true);
    rig.after(1.1);
    ASSERT_TRUE(test::spinUntil([&] { return app.deck(1).track() && app.deck(1).track()->id == next.id; }));
    rig.after(1.1);
    EXPECT_EQ(app.flowMixedFrom(), 0);
}

TEST(MixIn, TheTakeOfTheLiveRecordComesInAfterItsHoldUnlessAForkRenders)
{
    const TrackRecord live = record("Live"), queued = record("Queued");
    FlowRig rig({live, queued});
    AppModel& app = rig.model;
    app.transition().setBars(16);
    app.setQueue({queued.id});
    rig.put(0, live);
    rig.put(1, takeOf(live));
    publish(rig, 0, true, 100, 400);
    app.setAutoQueue(true);
    rig.after(0.05);
    const QDateTime since = app.liveSince();
    const auto liveFor = [&] { return double(since.msecsTo(rig.scheduler.now())) / 1000.0; };
    while (liveFor() < 73)
        rig.after(1.1);
    EXPECT_FALSE(app.flowMixedFrom());
    EXPECT_EQ(app.queue(), std::vector<QUuid>{queued.id}); // the take is next, not the queue

    // A fork of deck 1 rendering holds everything.
    rig.world.phase = Phase::rendering;
    while (liveFor() < 80)
        rig.after(1.1);
    EXPECT_FALSE(app.flowMixedFrom());
    rig.world.phase = Phase::idle;
    rig.after(1.1);
    EXPECT_EQ(app.flowMixedFrom(), 0);
    EXPECT_TRUE(rig.notes().contains(QStringLiteral("flow: 16-bar mix onto deck 2 (zelvo-0's take of this record)")))
        << rig.notes().join(QLatin1Char('|')).toStdString();
}

TEST(MixIn, ATakeBeingWrittenIsHeldThenReleased)
{
    struct Case {
        const char* name;
        bool snoozed;
        bool collapse; // two stretches written early on
    };
    const Case cases[] = {{"held", false, false}, {"two stretches", false, true}, {"snoozed", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrackRecord source = record("Source"), next = record("Next");
        FlowRig rig({source, next});
        AppModel& app = rig.model;
        instantLoads(app);
        app.transition().setBars(16);
        rig.world.aiStep = AIStep::steer;
        if (c.snoozed)
            rig.world.chainSnooze = WorkflowLink::ChainSnooze{QUuid::createUuid(), 60};
        rig.world.stretchesWritten = 5;
        app.setQueue({next.id});
        const TrackRecord take = takeOf(source);
        rig.put(1, take);
        publish(rig, 1, true, 10, 400);
        app.mixer().setCrossfader(1.0);
        app.setAutoQueue(true);
        rig.after(0.05);
        EXPECT_EQ(app.flowLive(), 1);
        EXPECT_EQ(app.stretchesAtLive(), 5);
        const QDateTime since = app.liveSince();
        const auto liveFor = [&] { return double(since.msecsTo(rig.scheduler.now())) / 1000.0; };
        const auto until = [&](double t) {
            while (liveFor() < t) {
                publish(rig, 1, true, 10 + liveFor(), 400);
                rig.after(1.1);
            }
        };
        if (c.collapse) {
            rig.world.stretchesWritten = 7;
            until(3);
            ASSERT_TRUE(test::spinUntil([&] { return app.deck(0).track() && app.deck(0).track()->id == next.id; }));
            until(6);
            EXPECT_TRUE(rig.notes().contains(QStringLiteral("flow: 16-bar mix onto deck 1")));
            continue;
        }
        // The fill tops the queue up behind the head; the head is what is cued.
        until(149);
        EXPECT_EQ(app.queue().front(), next.id);
        until(152);
        if (c.snoozed) {
            // The take's own end governs: far away.
            until(180);
            EXPECT_EQ(app.queue().front(), next.id);
            continue;
        }
        EXPECT_NE(app.queue().front(), next.id);
        ASSERT_TRUE(test::spinUntil([&] { return app.deck(0).track() && app.deck(0).track()->id == next.id; }));
        until(171);
        EXPECT_FALSE(app.flowMixedFrom());
        // The transition cannot start deck 1 here, so only the mix's start is seen.
        until(174);
        EXPECT_TRUE(rig.notes().contains(QStringLiteral("flow: 16-bar mix onto deck 1")));
    }
}

// A take the chain is not writing onward (the render running is a fork of
// deck 1's record) ends where it ends: the next record is cued and mixed in
// before it, not after it has played out into silence. One whose next
// stretch renders is held.
TEST(MixIn, ATakeOnlyAStretchWritesOnIsHeldPastItsOwnEnd)
{
    for (const bool stretchRenders : {false, true}) {
        SCOPED_TRACE(stretchRenders ? "its stretch renders" : "a fork of deck 1 renders");
        const TrackRecord source = record("Source"), next = record("Next");
        FlowRig rig({source, next});
        AppModel& app = rig.model;
        instantLoads(app);
        app.transition().setBars(16);
        rig.world.aiStep = AIStep::steer;
        rig.world.phase = Phase::rendering;
        rig.world.pendingIsExtension = stretchRenders;
        app.setQueue({next.id});
        rig.put(1, takeOf(source));
        publish(rig, 1, true, 10, 100);
        app.mixer().setCrossfader(1.0);
        app.setAutoQueue(true);
        rig.after(0.05);
        const QDateTime since = app.liveSince();
        const auto liveFor = [&] { return double(since.msecsTo(rig.scheduler.now())) / 1000.0; };
        const auto until = [&](double t) {
            while (liveFor() < t) {
                publish(rig, 1, true, 10 + liveFor(), 100);
                rig.after(1.1);
            }
        };
        // 90 s of the take left: the cue is due under 62 s, the mix under 40 s.
        until(33);
        if (stretchRenders)
            EXPECT_EQ(app.queue().front(), next.id);
        else
            ASSERT_TRUE(
                test::spinUntil([&] { return app.deck(0).track() && app.deck(0).track()->id == next.id; }));
        until(55);
        EXPECT_EQ(rig.notes().contains(QStringLiteral("flow: 16-bar mix onto deck 1")), !stretchRenders)
            << rig.notes().join(QLatin1Char('|')).toStdString();
    }
}

TEST(MixIn, GivesUpAFailedLoadAtOnceAndSkipsRecordsGoneFromTheLibrary)
{
    const TrackRecord live = record("Live"), first = record("First"), second = record("Second");
    FlowRig rig({live, first, second});
    AppModel& app = rig.model;
    app.deck(1).setDecoder([](const QString&, double) -> TrackBufferRef { throw std::runtime_error("unreadable"); });
    const QUuid gone = QUuid::createUuid();
    app.setQueue({gone, first.id, second.id});
    rig.put(0, live);
    publish(rig, 0, true, 350, 400);

    // Hands on: nothing for 45 s.
    app.binder().noteHandsOn();
    app.setAutoQueue(true);
    rig.after(43.5);
    EXPECT_EQ(app.queue().size(), 3u);
    rig.after(2.5);
    EXPECT_EQ(app.queue(), std::vector<QUuid>{second.id}); // the stale head left with the first
    ASSERT_TRUE(app.autoCueing());
    EXPECT_EQ(app.autoCueing()->id, first.id);
    // The decode fails: nothing will land, so flow does not wait 20 s for it.
    test::spinUntil([&] { return !app.deck(1).loading(); });
    rig.after(0.05);
    ASSERT_TRUE(app.autoCueing());
    EXPECT_EQ(app.autoCueing()->id, second.id);
    EXPECT_EQ(std::count(app.queue().begin(), app.queue().end(), second.id), 0);
}

// After an automatic mix, the faded-out deck is paused once quiet for more
// than 4 s, not while cued in the headphones nor while hands are on.
TEST(QuietOutgoing, PausesTheFadedOutDeckUnlessCuedOrTouched)
{
    for (const bool touch : {false, true}) {
        SCOPED_TRACE(touch ? "touched" : "left alone");
        const TrackRecord live = record("Live"), next = record("Next");
        FlowRig rig({live, next});
        AppModel& app = rig.model;
        app.transition().setBars(1);
        app.deck(0).install(live, TrackBufferRef(48000 * 60, 48000.0), nullptr, false);
        rig.put(1, next);
        publish(rig, 0, true, 51, 60);
        app.setAutoQueue(true);
        rig.after(1.1);
        ASSERT_EQ(app.flowMixedFrom(), 0);
        rig.after(0.3); // the transition gives up at once: deck 2 never starts here
        ASSERT_EQ(app.transition().phase().kind, TransitionModel::Phase::Kind::idle);

        // Deck 1 plays on, faded out on the far side.
        app.mixer().setCrossfader(1.0);
        app.mixer().channel(0).setFader(0.0);
        publish(rig, 0, true, 52, 60);
        const auto run = [&](double seconds) {
            for (double t = 0; t < seconds; t += 0.05)
                rig.scheduler.advance(0.05);
        };
        const QString stopped = QStringLiteral("flow: stopped deck 1 after its mix out");
        if (touch) {
            // A touch elsewhere does not hand the deck to the DJ: flow waits
            // for hands to come off, then pauses it.
            app.binder().noteHandsOn();
            run(40);
            EXPECT_TRUE(app.flowMixedFrom());
            EXPECT_FALSE(rig.notes().contains(stopped));
            run(20);
            EXPECT_TRUE(rig.notes().contains(stopped));
            continue;
        }
        app.mixer().channel(0).setCue(true);
        run(8);
        EXPECT_FALSE(app.quietSince());
        EXPECT_EQ(app.flowMixedFrom(), 0);
        app.mixer().channel(0).setCue(false);
        for (int i = 0; i < 30 && !app.quietSince(); ++i)
            run(0.05);
        ASSERT_TRUE(app.quietSince());
        const QDateTime quiet = *app.quietSince();
        run(3.9);
        EXPECT_FALSE(rig.notes().contains(stopped));
        run(1.2);
        EXPECT_EQ(rig.notes().last(), stopped);
        EXPECT_FALSE(app.flowMixedFrom());
        EXPECT_FALSE(app.quietSince());
        EXPECT_GT(quiet.msecsTo(rig.scheduler.now()), 4000);
    }
}

// The live deck has ended while the other deck plays behind the crossfader (a
// mix called off after its outgoing record ended): flow brings the playing deck
// in, unless hands are on or the deck is faded down on its own channel.
TEST(QuietOutgoing, APlayingDeckLeftBehindTheCrossfaderIsBroughtIn)
{
    enum class Arrange { leftAlone, fadedDown, handsOn };
    for (const Arrange arrange : {Arrange::leftAlone, Arrange::fadedDown, Arrange::handsOn}) {
        SCOPED_TRACE(int(arrange));
        const TrackRecord ended = record("Ended"), next = record("Next");
        FlowRig rig({ended, next});
        AppModel& app = rig.model;
        rig.put(0, ended);
        rig.put(1, next);
        publish(rig, 0, false, 60, 60);
        publish(rig, 1, true, 5, 100);
        app.mixer().setCrossfader(-1.0);
        if (arrange == Arrange::fadedDown)
            app.mixer().channel(1).setFader(0.0);
        if (arrange == Arrange::handsOn)
            app.binder().noteHandsOn();
        app.setAutoQueue(true);
        rig.after(1.1);
        const bool brought = arrange == Arrange::leftAlone;
        EXPECT_EQ(app.mixer().crossfader(), brought ? 1.0 : -1.0) << rig.notes().join("\n").toStdString();
        EXPECT_EQ(rig.notes().contains(QStringLiteral("flow: deck 1 stopped while deck 2 plays Next; bringing deck 2 in")),
                  brought);
        if (brought) {
            rig.after(1.1);
            EXPECT_EQ(app.flowLive(), 1) << "flow goes on from deck 2";
        }
    }
}

// Whether a deck is heard: playing, its fader strictly above 0.05, and the
// crossfader short of the far end on the side the channel is assigned to.
TEST(Audible, FaderThresholdAndCrossfaderEndsPerSide)
{
    const TrackRecord a = record("A");
    FlowRig rig({a});
    AppModel& app = rig.model;
    struct Row {
        const char* what;
        bool playing;
        double fader;
        int side; // −1 A, 0 thru, +1 B
        double crossfader;
        bool audible;
    };
    const Row rows[] = {
        {"fader at the threshold", true, 0.05, 0, 0.0, false},
        {"fader just above it", true, 0.051, 0, 0.0, true},
        {"fader down", true, 0.0, 0, 0.0, false},
        {"stopped, fader up", false, 1.0, 0, 0.0, false},
        {"side A, crossfader 0.94", true, 1.0, -1, 0.94, true},
        {"side A, crossfader 0.95", true, 1.0, -1, 0.95, false},
        {"side A, crossfader at B's end", true, 1.0, -1, 1.0, false},
        {"side A, crossfader at A's end", true, 1.0, -1, -1.0, true},
        {"side B, crossfader -0.94", true, 1.0, 1, -0.94, true},
        {"side B, crossfader -0.95", true, 1.0, 1, -0.95, false},
        {"side B, crossfader at A's end", true, 1.0, 1, -1.0, false},
        {"side B, crossfader at B's end", true, 1.0, 1, 1.0, true},
        {"thru at A's end", true, 1.0, 0, -1.0, true},
        {"thru at B's end", true, 1.0, 0, 1.0, true},
        {"thru, fader at the threshold at A's end", true, 0.05, 0, -1.0, false},
    };
    for (int deck = 0; deck < 4; ++deck)
        rig.put(deck, a);
    for (const Row& row : rows) {
        // Every deck gets the row, so the answer cannot lean on the deck's index.
        for (int deck = 0; deck < 4; ++deck) {
            publish(rig, deck, row.playing, 10, 300);
            ChannelModel& channel = app.mixer().channel(deck);
            channel.setFader(row.fader);
            channel.setCrossfaderAssign(row.side);
        }
        app.mixer().setCrossfader(row.crossfader);
        rig.after(0.05);
        for (int deck = 0; deck < 4; ++deck)
            EXPECT_EQ(app.isAudible(deck), row.audible) << row.what << ", deck " << deck + 1;
    }
}

} // namespace
} // namespace zelvo
