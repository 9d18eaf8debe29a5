// Where flow's reading of a deck and its memory of the set meet what the room
// hears: a load that lands just before the voice takes it, a device change
// while the decks decode again, a mix called off with a request on its
// incoming deck, requests taken back or made for the record playing now, an
// output that has not rendered yet, and what the flow line says meanwhile.
// Each case plays drum records on the fake device, frame by frame.
#include "AppTestSupport.h"
#include "FlowSupport.h"

#include "audio/AudioIO.h"
#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "library/WaveformData.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "platform/FakeAudioBackend.h"
#include "support/StandInBrain.h"

#include <QFile>
#include <QUuid>
#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using Kind = TransitionModel::Phase::Kind;
using test::loadAndWait;
using test::playing;
using test::SetRig;

constexpr double kBar = 2.0; // every record here plays at 120 bpm

bool holds(AppModel& app, int deck, const TrackRecord& record)
{
    const std::optional<TrackRecord>& track = app.deck(deck).track();
    return track && track->id == record.id;
}

// The record plays on a deck the room hears.
bool heard(SetRig& set, const TrackRecord& record)
{
    for (int deck : {0, 1})
        if (set.readable(deck) && holds(set.app, deck, record) && playing(set.app, deck) && set.app.isAudible(deck))
            return true;
    return false;
}

// Plays `seconds` of the set and tells how often `record` started to be
// heard (none: not watched) and the longest silence of the master meanwhile.
struct Watched {
    int plays = 0;
    double longestSilence = 0.0;
};

Watched playWatching(SetRig& set, const TrackRecord* record, double seconds)
{
    Watched watched;
    bool was = false;
    double quiet = 0.0;
    set.playUntil(
        [&] {
            const bool now = record && heard(set, *record);
            watched.plays += now && !was ? 1 : 0;
            was = now;
            quiet = set.masterPeak() < 1e-3 ? quiet + TransitionModel::kFrameInterval : 0.0;
            watched.longestSilence = std::max(watched.longestSilence, quiet);
            return false;
        },
        seconds);
    return watched;
}

// From twenty seconds before Alpha's end, the MIX key onto deck 2, played
// until that mix is half way.
void mixHalfway(SetRig& set)
{
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    set.app.transition().mix(1);
    ASSERT_TRUE(set.playUntil(
        [&] {
            return set.app.transition().phase().kind == Kind::mixing && set.app.transition().phase().value >= 0.5;
        },
        30.0))
        << set.log();
}

bool anyLine(const QStringList& notes, const std::function<bool(const QString&)>& match)
{
    return std::any_of(notes.begin(), notes.end(), match);
}

// Restarts the output on the fake device and waits, with the clock held,
// until the new one runs.
void restartOutput(SetRig& set)
{
    AppModel& app = set.app;
    const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
    app.audio().setBufferFrames(app.audio().bufferFrames() == 512 ? 1024 : 512);
    ASSERT_TRUE(test::spinUntil([&] {
        return app.deck(0).voice() && app.deck(0).voice() != before && app.audio().io()
            && app.audio().io()->running();
    }));
}

// A record that lands on the incoming deck of a running mix while the output
// has not yet rendered it is not on air: once the mix has been called off
// onto the outgoing record, flow brings it in on its turn rather than
// passing it over, and the room is not left silent.
TEST(FlowSeams, ARecordLandingMidMixIsNotOnAirBeforeTheRoomHearsIt)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
               {120.0, 60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord& zulu = set[3];
    ASSERT_NO_FATAL_FAILURE(mixHalfway(set));
    // No hand: Zulu lands on deck 2 as a take does, and the next second of
    // ticks runs before the output's next render.
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, zulu));
    set.renderLate = 70;
    double worst = 0.0;
    bool zuluHeard = false;
    for (const double end = set.played + 90.0; set.played < end;) {
        set.frame();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        if (set.played > end - 90.0 + 1.2) // the late render's own second
            worst = std::max(worst, set.silentFor);
        zuluHeard = zuluHeard || heard(set, zulu);
    }
    EXPECT_TRUE(zuluHeard) << set.log();
    EXPECT_LT(worst, kBar) << set.log();
    EXPECT_FALSE(anyLine(set.notes(), [](const QString& l) { return l.startsWith(QStringLiteral("flow: passed over Zulu")); }))
        << set.log();
}

// A record dropped onto the incoming deck near the end of a mix, whose decode
// lands only after the mix has completed onto that deck, is owed to the room
// as one that landed mid-mix: it plays once it lands, with no silence. Also
// after flow's own mix, whose outgoing record ends with it while flow's next
// cue is on its way to that deck: the set stays on the deck that owes the
// room a record. Also when the record dropped there is the one the mix
// brings in, queued again once heard: put on the deck by hand, that request
// has had its turn, and the record owed does not stand silent for good.
TEST(FlowSeams, ARecordStillDecodingOntoTheIncomingDeckWhenItsMixEndsPlaysOnceItLands)
{
    for (const int run : {0, 1, 2}) {
        SCOPED_TRACE(run);
        const bool flowsMix = run == 1;
        const bool itsOwnRequest = run == 2;
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"),
                    QStringLiteral("Zulu")},
                   {flowsMix ? 30.0 : 120.0, flowsMix ? 20.0 : 60.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord& zulu = set[itsOwnRequest ? 1 : 3];
        if (flowsMix) {
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
            app.setQueue({set[1].id, set[2].id});
            set.play(0);
            app.setAutoQueue(true);
        } else {
            ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
            app.transition().mix(1);
        }
        ASSERT_TRUE(set.playUntil(
            [&] { return app.transition().phase().kind == Kind::mixing && app.transition().phase().value >= 0.9; },
            60.0))
            << set.log();
        if (itsOwnRequest)
            app.enqueue(zulu.id);
        set.useSlowDisk([] { return 2.5; });
        app.deck(1).load(zulu);
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 10.0)) << set.log();
        ASSERT_TRUE(app.deck(1).loading()) << "Zulu landed before the mix ended";
        const Watched watched = playWatching(set, &zulu, 20.0);
        EXPECT_GE(watched.plays, 1) << set.log();
        EXPECT_LT(watched.longestSilence, kBar) << set.log();
    }
}

// A device change to another rate while the next record waits on the idle
// deck: both decks decode again, each taking a second of set time. Flow
// takes neither deck for ready while it decodes, cancels no reload, and the
// waiting record comes in on time.
TEST(FlowSeams, ADeviceChangeWhileTheDecksDecodeAgainLeavesTheSetGoing)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {60.0, 60.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0, 20.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    set.useSlowDisk([] { return 1.0; });
    ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
    double worst = 0.0;
    const bool in = set.playUntil(
        [&] {
            worst = std::max(worst, set.silentFor);
            return set.mixedIn(set[1]);
        },
        60.0);
    const QStringList notes = set.notes();
    EXPECT_TRUE(in) << set.log();
    // The live deck's own second of decoding, then no more than a bar.
    EXPECT_LT(worst, 1.0 + kBar) << set.log();
    EXPECT_FALSE(anyLine(notes, [](const QString& l) { return l.contains(QStringLiteral("could not start")); }))
        << set.log();
    EXPECT_FALSE(anyLine(notes, [](const QString& l) { return l.contains(QStringLiteral(" at once")); })) << set.log();
    EXPECT_EQ(std::count_if(set.mixes.begin(), set.mixes.end(), [](const test::Mix& m) { return m.ended; }), 1)
        << set.log();
}

// The user puts the queue's head on the idle deck by hand and flow mixes it in
// from there; the mix is called off before its downbeat (a take-over, the MIX
// key, a load over the outgoing deck). The record, unheard, goes back to the
// head of the queue with a line and is heard later.
TEST(FlowSeams, AQueuedRecordACalledOffMixLeftUnheardGoesBackToTheQueue)
{
    enum class Case { takeOver, mixKey, loadOverOutgoing };
    for (const Case c : {Case::takeOver, Case::mixKey, Case::loadOverOutgoing}) {
        SCOPED_TRACE(int(c));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
                   {60.0, 60.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord& bravo = set[1];
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
        app.setQueue({bravo.id, set[2].id});
        set.play(0);
        app.setAutoQueue(true);
        set.playUntil([] { return false; }, 1.0);
        app.binder().noteHandsOn();
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, bravo));
        // Hands are off at 46 s, with Alpha inside both windows: flow mixes
        // Bravo in from deck 2 and waits for the downbeat at 48 s.
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::waitingDownbeat; }, 60.0))
            << set.log();
        ASSERT_TRUE(holds(app, 1, bravo));
        app.binder().noteHandsOn();
        switch (c) {
        case Case::takeOver: app.mixer().setCrossfader(app.mixer().crossfader() + 0.05); break;
        case Case::mixKey: app.transition().mix(1); break;
        case Case::loadOverOutgoing: ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[3])); break;
        }
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 1.0));
        set.playUntil([] { return false; }, 2.0);
        ASSERT_FALSE(heard(set, bravo)) << "behind the crossfader";
        EXPECT_TRUE(!app.queue().empty() && app.queue().front() == bravo.id) << set.log();
        EXPECT_TRUE(anyLine(set.notes(), [](const QString& l) {
            return l.contains(QStringLiteral("Bravo")) && l.contains(QStringLiteral("head of the queue"));
        })) << set.log();
        // It is heard later, from near its start, not from where it played to
        // behind the crossfader.
        double from = -1.0;
        EXPECT_TRUE(set.playUntil(
            [&] {
                if (!heard(set, bravo))
                    return false;
                for (int d : {0, 1})
                    if (holds(app, d, bravo))
                        from = app.deck(d).reading().position;
                return true;
            },
            120.0))
            << set.log();
        EXPECT_LT(from, 5.0) << set.log();
    }
}

// A hand pauses the incoming deck while flow's mix runs onto it; the mix
// completes onto a deck that stands, its record never heard. That record stays
// flow's cue there, out of the user's queue, with its line, and comes in once
// hands are off, from its start rather than from where the hand paused it.
// Taking the queue's records off or moving them does not touch it.
TEST(FlowSeams, AMixCompletingOntoADeckAHandPausedBringsItsRecordInFromItsStart)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord& bravo = set[1];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
    app.setQueue({bravo.id, set[2].id});
    set.play(0);
    app.setAutoQueue(true);
    ASSERT_TRUE(set.playUntil(
        [&] {
            const TransitionModel::Phase phase = app.transition().phase();
            return phase.kind == Kind::mixing && phase.to == 1 && phase.value > 0.0;
        },
        90.0))
        << set.log();
    app.binder().noteHandsOn();
    app.deck(1).playPause();
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 30.0)) << set.log();
    set.playUntil([] { return false; }, 1.0);
    if (heard(set, bravo))
        GTEST_SKIP() << "the pause landed after Bravo was heard";
    EXPECT_TRUE(std::find(app.queue().begin(), app.queue().end(), bravo.id) == app.queue().end()) << set.log();
    EXPECT_TRUE(anyLine(set.notes(), [](const QString& l) {
        return l.contains(QStringLiteral("Bravo")) && l.contains(QStringLiteral("comes in from its start"));
    })) << set.log();
    int starts = 0;
    bool was = false;
    double from = -1.0;
    set.playUntil(
        [&] {
            const bool now = heard(set, bravo);
            if (now && !was) {
                ++starts;
                for (int d : {0, 1})
                    if (holds(app, d, bravo))
                        from = app.deck(d).reading().position;
            }
            was = now;
            return false;
        },
        120.0);
    EXPECT_EQ(starts, 1) << set.log();
    EXPECT_LT(from, 1.0) << set.log();
    EXPECT_TRUE(set.mixedIn(set[2])) << set.log();
}

// A record loaded from the browser over the incoming deck mid-mix is owed to
// the room. A hand plays it there (the room hears it) and later pauses it; or
// a hand loads it onto the live deck as well, and Charlie over deck 2: the
// live deck still holds the record owed. Once hands are off the set goes on,
// with no silence longer than a bar.
TEST(FlowSeams, AnOwedRecordAHandTouchedLeavesNoSilence)
{
    // Or put on the live deck over its record, then another record over it
    // there: the live deck stands as when its record stopped, twice over.
    enum class Hand { playsThenPauses, loadsItOnTheLiveDeckToo, loadsItOnTheLiveDeckThenAnother };
    for (const Hand hand :
         {Hand::playsThenPauses, Hand::loadsItOnTheLiveDeckToo, Hand::loadsItOnTheLiveDeckThenAnother}) {
        SCOPED_TRACE(int(hand));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"),
                    QStringLiteral("Zulu")},
                   {120.0, 60.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord& zulu = set[3];
        ASSERT_NO_FATAL_FAILURE(mixHalfway(set));
        app.binder().noteHandsOn();
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, zulu));
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 30.0)) << set.log();
        if (hand == Hand::playsThenPauses) {
            app.mixer().setCrossfader(1.0);
            app.deck(1).playPause();
            set.playUntil([] { return false; }, 10.0);
            ASSERT_TRUE(heard(set, zulu)) << set.log();
            app.binder().noteHandsOn();
            app.deck(1).playPause();
        } else {
            ASSERT_EQ(app.transition().liveDeck(), 0);
            app.binder().noteHandsOn();
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, zulu));
            app.binder().noteHandsOn();
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, hand == Hand::loadsItOnTheLiveDeckToo ? 1 : 0, set[2]));
        }
        ASSERT_TRUE(set.playUntil([&] { return app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45500; }, 60.0));
        const Watched watched = playWatching(set, &zulu, 30.0);
        EXPECT_LT(watched.longestSilence, kBar) << set.log();
        if (hand == Hand::loadsItOnTheLiveDeckToo) {
            EXPECT_EQ(watched.plays, 1) << set.log();
        }
    }
}

// A load (no hand) lands over the incoming deck before its record is heard,
// while the mix waits for its downbeat or mixes: the record goes back to the
// head of the queue with one line, not two.
TEST(FlowSeams, ALoadOverTheIncomingDeckSendsItsRecordBackWithOneLine)
{
    for (const Kind phaseKind : {Kind::waitingDownbeat, Kind::mixing}) {
        SCOPED_TRACE(int(phaseKind));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"),
                    QStringLiteral("Zulu")},
                   {60.0, 60.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
        app.setQueue({set[1].id, set[2].id});
        set.play(0);
        app.setAutoQueue(true);
        ASSERT_TRUE(set.playUntil(
            [&] {
                const TransitionModel::Phase phase = app.transition().phase();
                return phase.kind == phaseKind && phase.to == 1 && !app.isAudible(1);
            },
            90.0))
            << set.log();
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, set[3]));
        set.playUntil([] { return false; }, 10.0);
        const QStringList notes = set.notes();
        EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                                [](const QString& l) {
                                    return l.contains(QStringLiteral("Bravo"))
                                        && l.contains(QStringLiteral("head of the queue"));
                                }),
                  1)
            << set.log();
    }
}

// A request for a record heard already, cued by flow on the deck that still
// holds it: the MIX key calls its mix off before the downbeat. The record,
// unheard since, goes back to the head of the queue with a line and is heard
// later.
TEST(FlowSeams, ARequestCuedOnTheDeckThatHoldsItGoesBackWhenItsMixIsCalledOff)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 150.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &b = set[1];
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0, 20.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.transition().mix(1); // Alpha plays on behind the crossfader
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 20.0)) << set.log();
    app.enqueue(a.id);
    app.moveInQueue(a.id, -int(app.queue().size()));
    ASSERT_TRUE(set.playUntil(
        [&] {
            const TransitionModel::Phase phase = app.transition().phase();
            return phase.kind == Kind::waitingDownbeat && phase.to == 0;
        },
        150.0))
        << set.log();
    ASSERT_TRUE(holds(app, 0, a));
    app.binder().noteHandsOn();
    app.transition().mix(0);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 1.0));
    set.frame();
    EXPECT_TRUE(!app.queue().empty() && app.queue().front() == a.id) << set.log();
    EXPECT_TRUE(anyLine(set.notes(), [](const QString& l) {
        return l.contains(QStringLiteral("Alpha")) && l.contains(QStringLiteral("head of the queue"));
    })) << set.log();
    EXPECT_TRUE(set.playUntil([&] { return heard(set, a); }, 120.0)) << set.log();
}

// A request for a record heard already, taken back at once, leaves it heard:
// flow does not bring it back from where it plays behind the crossfader.
TEST(FlowSeams, ARequestTakenBackLeavesTheRecordHeard)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 30.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &b = set[1], &c = set[2];
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    app.setQueue({c.id});
    set.play(0, 20.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.transition().mix(1); // Alpha plays on behind the crossfader
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 20.0)) << set.log();
    ASSERT_TRUE(playing(app, 0));
    app.enqueue(a.id);
    set.frame();
    app.dequeue(a.id);
    bool again = false;
    EXPECT_TRUE(set.playUntil(
        [&] {
            again = again || heard(set, a);
            return set.mixedIn(c);
        },
        60.0))
        << set.log();
    EXPECT_FALSE(again) << set.log();
    EXPECT_EQ(set.incoming(), (std::vector<QUuid>{b.id, c.id})) << set.log();
}

// The record playing now, requested and moved to the head of the queue, is
// cued and mixed in on its turn, not passed over; also when a hand pauses it
// after the request and plays on from there, which is the same play.
TEST(FlowSeams, TheRecordPlayingNowRequestedAtTheHeadPlaysAgain)
{
    for (const double pause : {0.0, 0.05, 3.0}) {
        SCOPED_TRACE(pause);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {40.0, 30.0}, 4);
        AppModel& app = set.app;
        const TrackRecord& a = set[0];
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
        set.play(0);
        app.setAutoQueue(true);
        set.playUntil([] { return false; }, 2.0);
        app.enqueue(a.id);
        app.moveInQueue(a.id, -int(app.queue().size()));
        ASSERT_EQ(app.queue().front(), a.id);
        if (pause > 0.0) {
            app.binder().noteHandsOn();
            app.deck(0).playPause();
            set.playUntil([] { return false; }, pause);
            ASSERT_FALSE(playing(app, 0));
            app.deck(0).playPause();
            set.playUntil([] { return false; }, 1.0);
            ASSERT_TRUE(heard(set, a));
        }
        EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(a); }, 150.0)) << set.log();
        EXPECT_FALSE(set.notes().join(QLatin1Char('\n')).contains(QStringLiteral("passed over Alpha"))) << set.log();
    }
}

// An output restart while a mix waits for its downbeat: until the new output
// has rendered, the decks read as they stood, so the mix is not called off.
TEST(FlowSeams, AnOutputRestartBeforeTheDownbeatKeepsTheMix)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::waitingDownbeat; }, 2.0));
    ASSERT_NO_FATAL_FAILURE(restartOutput(set));
    set.renderLate = 3; // a few frames before the new output's first render
    EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 20.0)) << set.log();
    EXPECT_FALSE(anyLine(set.notes(), [](const QString& l) { return l.contains(QStringLiteral("waiting for its downbeat")); }))
        << set.log();
}

// What the flow line says: after an output restart that flow goes on from at
// once, a hand a moment before, not that the user drives; after a load by hand over the live deck, once hands are
// off and the next record is on its way, that it comes in now.
TEST(FlowSeams, TheFlowLineSaysWhatFlowDoes)
{
    {
        SCOPED_TRACE("restart");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 60.0, 60.0},
                   4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        // A hand a moment before: what no hand stopped goes on at once.
        app.deck(0).playPause();
        app.deck(0).playPause();
        const qsizetype linesBefore = set.notes().size();
        ASSERT_NO_FATAL_FAILURE(restartOutput(set));
        // While the line says flow waits, flow does nothing of its own: no
        // line of its own is written but the restart's play-on (a hand a
        // moment before still counts once the set plays again).
        QString acted;
        qsizetype seen = set.notes().size();
        set.playUntil(
            [&] {
                const QStringList notes = set.notes();
                const bool waits = app.flowLine().startsWith(QStringLiteral("you're driving"));
                for (qsizetype i = seen; waits && i < notes.size(); ++i) {
                    if (notes[i].startsWith(QStringLiteral("flow: ")) || notes[i].startsWith(QStringLiteral("auto: ")))
                        if (!notes[i].startsWith(QStringLiteral("flow: the output restarted")))
                            acted = notes[i] + QStringLiteral(" (line: ") + app.flowLine() + QStringLiteral(")");
                }
                seen = notes.size();
                return !acted.isEmpty();
            },
            3.0);
        EXPECT_GT(set.notes().size(), linesBefore) << set.log();
        EXPECT_TRUE(acted.isEmpty()) << acted.toStdString() << "\n" << set.log();
    }
    {
        SCOPED_TRACE("load over the live deck");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Zulu")}, {120.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord &a = set[0], &b = set[1], &z = set[2];
        test::HeldDecode slow(b.path);
        app.deck(1).setDecoder(slow.decoder());
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
        app.setQueue({b.id});
        set.play(0, 20.0);
        app.setAutoQueue(true);
        set.playUntil([] { return false; }, 2.0);
        app.binder().noteHandsOn();
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, z)); // over Alpha, mid-record
        const QString expected = QStringLiteral("deck 1 has stopped \u00b7 bravo comes in now");
        EXPECT_TRUE(set.playUntil([&] { return app.flowLine() == expected; }, 60.0, &slow))
            << app.flowLine().toStdString() << "\n" << set.log();
        slow.release();
    }
}

// A load over the live deck while its record still plays: until the new
// record lands the room hears the old one, and flow neither takes the deck
// for stopped nor brings the next record in over it.
TEST(FlowSeams, ALoadOverThePlayingLiveDeckLeavesItPlayingUntilItLands)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Zulu")}, {120.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &z = set[2];
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0, 20.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    test::HeldDecode slow(z.path);
    app.deck(0).setDecoder(slow.decoder());
    app.deck(0).load(z, [] {});
    ASSERT_TRUE(test::spinUntil([&] { return slow.holding(); }));
    const qsizetype before = set.notes().size();
    bool quiet = false;
    set.playUntil(
        [&] {
            quiet = quiet || !app.isAudible(0);
            return false;
        },
        5.0, &slow);
    EXPECT_TRUE(holds(app, 0, a) || app.deck(0).loading());
    EXPECT_FALSE(quiet) << set.log();
    EXPECT_FALSE(anyLine(set.notes().mid(before), [](const QString& l) { return l.contains(QStringLiteral(" at once")); }))
        << set.log();
    slow.release();
}

// A record shorter than the wait for the downbeat is cued once: its play
// count rises by one.
TEST(FlowSeams, ARecordShorterThanTheWaitForTheDownbeatIsCuedOnce)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Short")}, {200.0, 14.0}, 16);
    AppModel& app = set.app;
    const TrackRecord& s = set[1];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
    const std::int64_t playsBefore = app.library().track(s.id)->plays;
    app.setQueue({s.id});
    set.play(0, 130.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 75.0);
    const QStringList notes = set.notes();
    EXPECT_LE(std::count_if(notes.begin(), notes.end(),
                            [](const QString& l) { return l.startsWith(QStringLiteral("auto: cued Short")); }),
              1)
        << set.log();
    EXPECT_LE(app.library().track(s.id)->plays - playsBefore, 1) << set.log();
}

// A record the user loaded by hand onto the idle deck, which flow's cue of the
// queue's head replaces, is named in a line.
TEST(FlowSeams, ARecordFlowsCueReplacesIsNamed)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Zulu")}, {60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &b = set[1], &z = set[2];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
    app.setQueue({b.id});
    set.play(0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.binder().noteHandsOn();
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, z));
    const qsizetype before = set.notes().size();
    ASSERT_TRUE(set.playUntil([&] { return holds(app, 1, b); }, 70.0)) << set.log();
    set.frame();
    const QStringList after = set.notes().mid(before);
    EXPECT_TRUE(anyLine(after, [](const QString& l) { return l.contains(QStringLiteral("Zulu")); })) << set.log();
}

// The record playing now is requested at the head of the queue; flow cues it
// again on the deck that holds it. A hand takes the crossfader before the
// downbeat and the room hears it there: the request has had its turn. Flow
// notes it on air, keeps no cue of it, and never brings it back.
TEST(FlowSeams, ARequestHeardFromTheDeckFlowCuedItOnHasHadItsTurn)
{
    for (const bool takeOver : {true, false}) {
        SCOPED_TRACE(takeOver ? "take-over" : "mix completes");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")},
                   {120.0, 150.0, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord &a = set[0], &b = set[1];
        ASSERT_NO_FATAL_FAILURE(set.loadBoth());
        // Flow's cue of Alpha decodes for longer than a check.
        set.useSlowDisk([] { return 2.5; });
        set.play(0, 20.0);
        app.setAutoQueue(true);
        set.playUntil([] { return false; }, 2.0);
        app.transition().mix(1); // Alpha plays on behind the crossfader
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 20.0)) << set.log();
        app.enqueue(a.id);
        app.moveInQueue(a.id, -int(app.queue().size()));
        ASSERT_TRUE(set.playUntil(
            [&] {
                const TransitionModel::Phase phase = app.transition().phase();
                return phase.kind == Kind::waitingDownbeat && phase.to == 0;
            },
            150.0))
            << set.log();
        ASSERT_TRUE(holds(app, 0, a));
        if (takeOver) {
            app.binder().noteHandsOn();
            app.mixer().setCrossfader(-0.45);
        }
        ASSERT_TRUE(set.playUntil([&] { return heard(set, a); }, 20.0)) << set.log();
        set.playUntil([] { return false; }, 3.0);
        EXPECT_TRUE(app.onAir().contains(a.id)) << set.log();
        EXPECT_FALSE(app.autoCued() && app.autoCued()->id == a.id) << set.log();
        // Alpha plays to its end; then, hands off, it never comes back.
        ASSERT_TRUE(set.playUntil([&] { return !heard(set, a); }, 130.0)) << set.log();
        const bool again = set.playUntil([&] { return heard(set, a); }, 150.0);
        EXPECT_FALSE(again) << set.log();
        EXPECT_FALSE(set.notes().join(QLatin1Char('\n')).contains(QStringLiteral("Alpha played out unheard")))
            << set.log();
    }
}

// Alpha plays on deck 1 and is requested at the head of the queue while it
// plays; flow cues it on deck 2 and the MIX key calls that mix off before the
// downbeat. Alpha goes back to the head of the queue with its line.
void callOffTheMixOfTheRequestPlayingNow(SetRig& set)
{
    AppModel& app = set.app;
    const TrackRecord& a = set[0];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
    app.setQueue({set[1].id, set[2].id});
    set.play(0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.enqueue(a.id);
    app.moveInQueue(a.id, -int(app.queue().size()));
    ASSERT_TRUE(set.playUntil(
        [&] {
            const TransitionModel::Phase phase = app.transition().phase();
            return phase.kind == Kind::waitingDownbeat && phase.to == 1;
        },
        60.0))
        << set.log();
    ASSERT_TRUE(holds(app, 1, a));
    app.binder().noteHandsOn();
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 1.0));
    set.frame();
    ASSERT_TRUE(anyLine(set.notes(), [](const QString& l) {
        return l.contains(QStringLiteral("Alpha")) && l.contains(QStringLiteral("head of the queue"));
    })) << set.log();
}

// The record playing now is requested at the head; flow cues it on the other
// deck and the MIX key calls that mix off before the downbeat, so the
// request's own play runs out behind the crossfader. The play it was made
// during is not its turn: it goes back to the head of the queue with its line
// and is heard later, and flow does not stand still on the played-out cue.
TEST(FlowSeams, ARequestIsNotMetByThePlayItWasMadeDuring)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord& a = set[0];
    ASSERT_NO_FATAL_FAILURE(callOffTheMixOfTheRequestPlayingNow(set));
    // Alpha's first play ends; once hands are off Alpha is heard again from
    // its start, and the set never stands silent.
    ASSERT_TRUE(set.playUntil([&] { return !heard(set, a); }, 30.0)) << set.log();
    ASSERT_TRUE(set.playUntil([&] { return app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45000; }, 60.0));
    const Watched watched = playWatching(set, &a, 90.0);
    EXPECT_GE(watched.plays, 1) << set.log();
    EXPECT_LT(watched.longestSilence, kBar) << set.log();
}

// A hand loads flow's cued record onto the live deck after its record played
// out, and leaves it standing there. Once hands are off the set goes on at
// once, and the record is heard once only.
TEST(FlowSeams, AHandLoadOfTheCuedRecordOverThePlayedOutLiveDeckIsNoSilence)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Delta")},
               {50.0, 40.0, 40.0, 40.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &b = set[1];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
    app.setQueue({b.id, set[2].id, set[3].id});
    set.useSlowDisk([] { return 2.5; });
    set.play(0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 1.0);
    // Hands on just as flow cues Bravo: it lands on deck 2 while hands are on,
    // and Alpha plays out unmixed.
    ASSERT_TRUE(set.playUntil([&] { return app.autoCueing().has_value(); }, 30.0)) << set.log();
    app.binder().noteHandsOn();
    ASSERT_TRUE(set.playUntil([&] { return app.deck(0).reading().state == DeckModel::Reading::State::playedOut; },
                              60.0))
        << set.log();
    app.binder().noteHandsOn();
    app.deck(0).load(b);
    ASSERT_TRUE(set.playUntil([&] { return app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45000; }, 60.0));
    const Watched watched = playWatching(set, &b, 60.0);
    EXPECT_LT(watched.longestSilence, kBar) << set.log();
    EXPECT_EQ(watched.plays, 1) << set.log();
}

// A mix steps the crossfader between flow's ticks, and a load can land over
// the incoming deck before the next one. The room heard that deck's record the
// moment the crossfader let it through: flow notes it on air at once.
TEST(FlowSeams, ARecordTheCrossfaderLetsThroughIsOnAirAtOnce)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord& b = set[1];
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0);
    set.play(1);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    ASSERT_FALSE(app.isAudible(1));
    ASSERT_FALSE(app.onAir().contains(b.id));
    app.mixer().setCrossfader(-0.5);
    ASSERT_TRUE(app.isAudible(1));
    EXPECT_TRUE(app.onAir().contains(b.id));
}

// A request's mix is called off unheard and it goes back to the head of the
// queue; the user then takes it off the queue. That takes the request back:
// the record stands heard as before, and flow never brings it back.
TEST(FlowSeams, ARequestTakenBackAfterItsMixWasCalledOffStaysHeard)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord& a = set[0];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
    app.setQueue({set[1].id, set[2].id});
    set.play(0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.enqueue(a.id);
    app.moveInQueue(a.id, -int(app.queue().size()));
    ASSERT_TRUE(set.playUntil(
        [&] {
            const TransitionModel::Phase phase = app.transition().phase();
            return phase.kind == Kind::waitingDownbeat && phase.to == 1;
        },
        60.0))
        << set.log();
    app.binder().noteHandsOn();
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return !app.queue().empty() && app.queue().front() == a.id; }, 2.0))
        << set.log();
    app.dequeue(a.id);
    set.frame();
    EXPECT_FALSE(app.autoCued() && app.autoCued()->id == a.id) << set.log();
    // Alpha's first play ends; with hands off it never starts again.
    ASSERT_TRUE(set.playUntil([&] { return !heard(set, a); }, 30.0)) << set.log();
    ASSERT_TRUE(set.playUntil([&] { return app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 45000; }, 60.0));
    EXPECT_FALSE(set.playUntil([&] { return heard(set, a); }, 90.0)) << set.log();
    EXPECT_TRUE(set.mixedIn(set[1])) << set.log();
}


// A request whose mix was called off goes back to the head of the queue; the
// DJ then brings its deck up by hand for a while and the room hears it. That
// play started after the request: it is the play asked for, and flow does not
// bring the record in a second time.
TEST(FlowSeams, ARequestHeardWhenAHandBringsItsDeckUpHasHadItsTurn)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord& a = set[0];
    ASSERT_NO_FATAL_FAILURE(callOffTheMixOfTheRequestPlayingNow(set));
    // The DJ plays deck 2 and takes the crossfader over to it.
    app.binder().noteHandsOn();
    if (!playing(app, 1))
        set.play(1);
    app.mixer().setCrossfader(1.0);
    ASSERT_TRUE(set.playUntil([&] { return heard(set, a); }, 5.0)) << set.log();
    set.playUntil([] { return false; }, 10.0);
    // Back to deck 1 for the rest of its Alpha: deck 2 plays on unheard.
    app.mixer().setCrossfader(-1.0);
    // Hands off: Alpha is not brought in again, and the set goes on.
    bool startsAgain = false, wasHeard = true;
    double quiet = 0.0, worst = 0.0;
    set.playUntil(
        [&] {
            const bool now = heard(set, a);
            startsAgain = startsAgain || (now && !wasHeard);
            wasHeard = now;
            // Silence counts once hands are off (flow waits while they are on).
            const bool off = app.handsOnAt().msecsTo(set.rig.scheduler.now()) >= 46000;
            quiet = off && set.masterPeak() < 1e-3 ? quiet + TransitionModel::kFrameInterval : 0.0;
            worst = std::max(worst, quiet);
            return false;
        },
        120.0);
    EXPECT_FALSE(startsAgain) << set.log();
    EXPECT_LT(worst, kBar) << set.log();
}

// Takes are spliced under the playing live deck as the model extends them
// (a swap, or a take-over continuing where the voice is). The voice plays on
// through each splice, so flow takes the live record for neither stopped nor
// done, whatever moment of its once-a-second check the splice meets and
// however late the output renders it: nothing is cued or mixed in, and a deck
// previewed in the headphones stays off the air.
TEST(FlowSeams, ASpliceUnderThePlayingLiveDeckLeavesItsRecordOnAir)
{
    enum class Idle { waits, previewed, empty };
    for (const bool takeOver : {false, true}) {
        for (const Idle idle : {Idle::waits, Idle::previewed, Idle::empty}) {
            SCOPED_TRACE(std::string(takeOver ? "take-over" : "swap")
                         + (idle == Idle::waits ? ", Bravo waits" : idle == Idle::previewed ? ", Bravo previewed"
                                                                                             : ", Bravo queued"));
            SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")},
                       {200.0, 60.0, 60.0}, 4);
            AppModel& app = set.app;
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
            if (idle != Idle::empty) {
                ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, set[1]));
            }
            app.setQueue({set[idle == Idle::empty ? 1 : 2].id});
            set.play(0);
            if (idle == Idle::previewed) {
                app.mixer().channel(1).setCue(true);
                set.play(1);
            }
            app.setAutoQueue(true);
            set.playUntil([] { return false; }, 2.0);
            const qsizetype before = set.notes().size();
            DeckModel& deck = app.deck(0);
            int splices = 0;
            std::optional<int> cutAt;
            // Each splice comes two frames later in flow's second than the one
            // before: 32 of them meet every moment of it, at each lateness.
            for (const int late : {0, 4, 6, 8}) {
                for (int i = 0; i < 32 && !cutAt; ++i) {
                    const TrackRecord record = *deck.track();
                    const TrackBufferRef buffer = deck.buffer();
                    if (takeOver) {
                        const WaveformData empty;
                        deck.takeOver(record, buffer, deck.waveform() ? *deck.waveform() : empty,
                                      deck.reading().position);
                    } else {
                        ASSERT_TRUE(deck.swapIn(record, buffer, deck.waveform(), 0.0));
                    }
                    ++splices;
                    set.renderLate = late;
                    set.playUntil(
                        [&] {
                            if (!playing(app, 0) || app.mixer().crossfader() != -1.0 || app.deck(1).loading()
                                || app.transition().phase().kind != Kind::idle)
                                cutAt = splices;
                            return cutAt.has_value();
                        },
                        65 * TransitionModel::kFrameInterval);
                    ASSERT_FALSE(::testing::Test::HasFatalFailure());
                }
            }
            EXPECT_FALSE(cutAt) << "at splice " << cutAt.value_or(0) << "\n" << set.log();
            EXPECT_TRUE(set.mixes.empty()) << set.log();
            const QStringList notes = set.notes().mid(before);
            EXPECT_FALSE(anyLine(notes, [](const QString& l) {
                return l.startsWith(QStringLiteral("auto: cued")) || l.contains(QStringLiteral("stopped"));
            })) << set.log();
        }
    }
}

// A device change to another rate while the live record has minutes left,
// its reload slower than the idle deck's: the live record plays on once
// decoded again, and the next record waits for its window; it is neither
// cued nor mixed in at once, the live record does not go on unheard behind
// the crossfader, and the flow line never says the live deck has stopped.
TEST(FlowSeams, ASlowerLiveReloadAtAnotherRateMixesNothingInEarly)
{
    for (const bool nextWaits : {true, false}) {
        SCOPED_TRACE(nextWaits ? "the next record waits on deck 2" : "deck 2 is empty");
        int draws = 0; // the order the slow disk sees the decodes in; outlives the set
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")},
                   {200.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
        if (nextWaits) {
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, set[1]));
        }
        app.setQueue({set[nextWaits ? 2 : 1].id});
        set.play(0, 20.0);
        app.setAutoQueue(true);
        set.playUntil([] { return false; }, 2.0);
        // Alpha's reload takes three seconds, the idle deck's half a second.
        set.useSlowDisk([&draws] { return draws++ == 0 ? 3.0 : 0.5; });
        FakeAudioBackend::Device device;
        device.uid = "fake.other";
        device.name = "Fake Other";
        device.nominalSampleRate = test::kSetRate * 44100.0 / 48000.0;
        set.rig.backend->addDevice(device);
        const std::shared_ptr<DeckVoice> was = app.deck(0).voice();
        const qsizetype before = set.notes().size();
        app.audio().setDeviceUID(QStringLiteral("fake.other"));
        ASSERT_TRUE(test::spinUntil([&] {
            return app.deck(0).voice() && app.deck(0).voice() != was && app.audio().io()
                && app.audio().io()->running();
        }));
        bool early = false;
        set.playUntil(
            [&] {
                early = early || app.transition().phase().kind != Kind::idle || app.isAudible(1)
                    || app.flowLine().contains(QStringLiteral("has stopped"));
                return early;
            },
            15.0);
        EXPECT_FALSE(early) << set.log();
        EXPECT_TRUE(playing(app, 0) && app.isAudible(0) && holds(app, 0, set[0])) << set.log();
        const QStringList notes = set.notes().mid(before);
        EXPECT_FALSE(anyLine(notes, [](const QString& l) {
            return l.contains(QStringLiteral(" at once")) || l.contains(QStringLiteral("with 0s to go"));
        })) << set.log();
    }
}

// Flow's cue is still decoding onto deck 2 when the DJ starts that deck, by
// its play key or with the MIX key: the deck plays the record it holds, the
// DJ's from then on, and the cue never lands over it. The cued record goes
// back to the head of the queue with its line, and the key's mix runs its
// course.
TEST(FlowSeams, ADeckStartedWhileFlowsCueDecodesOntoItKeepsItsRecord)
{
    for (const bool mixKey : {false, true}) {
        SCOPED_TRACE(mixKey ? "MIX key" : "play key");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {60.0, 60.0, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord &b = set[1], &c = set[2];
        test::HeldDecode slow(c.path);
        app.deck(1).setDecoder(slow.decoder());
        ASSERT_NO_FATAL_FAILURE(set.loadBoth());
        app.setQueue({c.id});
        set.play(0, 20.0);
        app.setAutoQueue(true);
        ASSERT_TRUE(set.playUntil([&] { return slow.holding(); }, 5.0, &slow)) << set.log();
        app.binder().noteHandsOn();
        if (mixKey)
            app.transition().mix(1);
        else
            app.deck(1).playPause();
        set.playUntil([] { return false; }, 1.0, &slow);
        slow.release();
        set.playUntil([] { return false; }, 2.0);
        EXPECT_TRUE(holds(app, 1, b)) << set.log();
        EXPECT_TRUE(playing(app, 1)) << set.log();
        EXPECT_TRUE(!app.queue().empty() && app.queue().front() == c.id) << set.log();
        EXPECT_TRUE(set.notes().contains(
            QStringLiteral("flow: Bravo took deck 2 before Charlie landed; it goes back to the head of the queue")))
            << set.log();
        if (mixKey) {
            EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 20.0)) << set.log();
        }
    }
}

// Flow brings in at once a queued record the DJ had put on deck 2, the live
// deck having stopped. Before it is heard a record lands over that deck from
// the browser and the mix runs on with it. The queued record was not heard:
// it goes back to the head of the queue with its line.
TEST(FlowSeams, AQueuedRecordLoadedOverBeforeItsMixEndedGoesBackToTheQueue)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
               {120.0, 60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &c = set[2], &z = set[3];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[0]));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, c));
    app.setQueue({c.id});
    set.play(0, 20.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.deck(0).voice()->send(DeckCommand::pause());
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind != Kind::idle; }, 10.0)) << set.log();
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, z));
    set.playUntil([] { return false; }, 2.0);
    EXPECT_TRUE(!app.queue().empty() && app.queue().front() == c.id) << set.log();
    EXPECT_TRUE(set.notes().contains(
        QStringLiteral("flow: the mix onto deck 2 ended before Charlie was heard; it goes back to the head of the queue")))
        << set.log();
}

} // namespace

// Flow's mix onto Bravo waits for its downbeat, Bravo playing behind the
// crossfader, when the browser loads a record over the live deck and stops
// it: the mix is called off, as one whose deck stopped before its downbeat
// is. Bravo is all the room has left to hear: flow brings its deck in at
// once, and Bravo neither goes back to the queue nor stops. The same when the
// record loaded is Bravo itself.
TEST(FlowSeams, ALoadOverTheLiveDeckBeforeTheDownbeatBringsTheIncomingRecordIn)
{
    for (const int loaded : {3, 1}) {
        SCOPED_TRACE(loaded);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"),
                    QStringLiteral("Delta")},
                   {60.0, 60.0, 60.0, 60.0}, 16);
        AppModel& app = set.app;
        const TrackRecord& b = set[1];
        ASSERT_TRUE(set.flowUntilMixPhase(Kind::waitingDownbeat, 1, 60.0)) << set.log();
        ASSERT_TRUE(set.playUntil([&] { return playing(app, 1); }, 1.0)) << set.log();
        ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[std::size_t(loaded)]));
        const double stoppedAt = set.played;
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 1.0)) << set.log();
        ASSERT_TRUE(set.playUntil([&] { return app.mixer().crossfader() == 1.0; }, kBar)) << set.log();
        EXPECT_LT(set.played - stoppedAt, 0.5) << set.log();
        const Watched watched = playWatching(set, &b, 20.0);
        EXPECT_EQ(watched.plays, 1) << set.log();
        EXPECT_LT(watched.longestSilence, 0.5) << set.log();
        EXPECT_TRUE(playing(app, 1)) << set.log();
        EXPECT_NE(app.queue().front(), b.id) << set.log();
    }
}

namespace {

// Bravo heard on deck 1, then Alpha's last second and a half there with flow
// on and `requests` enqueued: returns once flow's at-once bring-in of the
// first request onto deck 2 is starting. Decodes from then on take `decode`
// seconds where it is above 0.
void bringInARequestAfterTheLiveRecordEnded(SetRig& set, const std::vector<QUuid>& requests, double decode)
{
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &b = set[1];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, b));
    set.play(0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    ASSERT_TRUE(app.onAir().contains(b.id)) << set.log();
    app.setAutoQueue(false);
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
    set.play(0, 38.5);
    if (decode > 0.0)
        set.useSlowDisk([decode] { return decode; });
    app.setAutoQueue(true);
    for (const QUuid& id : requests)
        app.enqueue(id);
    ASSERT_TRUE(set.playUntil(
        [&] {
            const TransitionModel::Phase phase = app.transition().phase();
            return phase.kind == Kind::starting && phase.to == 1;
        },
        10.0))
        << set.log();
}

} // namespace

// A request for a record heard before, cued by flow on the idle deck, lands
// after the live record ended: flow brings it in at once, and a MIX key with
// no hand (the mix page's) calls that mix off before the room hears it, the
// record standing at its cue or playing behind the crossfader. It is brought
// in from its cue at flow's next check, from the deck that holds it, not
// decoded again: the room is silent for no longer than a check.
TEST(FlowSeams, AHandsOffCallOffOfTheBringInMixesTheRecordInFromItsDeck)
{
    constexpr double kDecode = 2.5;
    for (const bool playsUnheard : {false, true}) {
        SCOPED_TRACE(playsUnheard ? "playing unheard" : "standing at its cue");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo")}, {40.0, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord& b = set[1];
        ASSERT_NO_FATAL_FAILURE(bringInARequestAfterTheLiveRecordEnded(set, {b.id}, kDecode));
        ASSERT_FALSE(playing(app, 0)) << "Alpha has ended: " << set.log();
        app.transition().mix(1); // the mix page's key: no hand
        if (playsUnheard)
            app.deck(1).voice()->send(DeckCommand::play()); // behind the crossfader
        const double calledOffAt = set.played;
        bool decoded = false;
        double heardAfter = -1.0;
        double heardFrom = -1.0;
        set.playUntil(
            [&] {
                decoded = decoded || app.deck(1).loading();
                if (heard(set, b)) {
                    heardAfter = set.played - calledOffAt;
                    heardFrom = app.deck(1).reading().position;
                    return true;
                }
                return false;
            },
            10.0);
        EXPECT_FALSE(decoded) << set.log();
        ASSERT_GE(heardAfter, 0.0) << set.log();
        // Flow's next check, a tick for a deck stopped behind the crossfader,
        // and the render that starts it.
        EXPECT_LT(heardAfter, 1.25) << set.log();
        EXPECT_LT(heardFrom, b.cuePoint + 0.5) << set.log();
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 10.0)) << set.log();
        EXPECT_TRUE(app.queue().empty()) << set.log();
    }
}

// Flow's cue on the idle deck whose reload for a new output rate failed (its
// file gone) holds nothing that can come in: flow does not bring it in again
// and again, and the next record in the queue plays.
TEST(FlowSeams, ACueWhoseReloadFailedMakesWayForTheNextRecord)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {40.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &b = set[1], &c = set[2];
    ASSERT_NO_FATAL_FAILURE(bringInARequestAfterTheLiveRecordEnded(set, {b.id, c.id}, 0.0));
    app.transition().mix(1); // the mix page's key: no hand
    ASSERT_TRUE(QFile::remove(b.path));
    FakeAudioBackend::Device device;
    device.uid = "fake.other";
    device.name = "Fake Other";
    device.nominalSampleRate = test::kSetRate * 44100.0 / 48000.0;
    set.rig.backend->addDevice(device);
    const std::shared_ptr<DeckVoice> was = app.deck(1).voice();
    app.audio().setDeviceUID(QStringLiteral("fake.other"));
    ASSERT_TRUE(test::spinUntil([&] {
        return app.deck(1).voice() && app.deck(1).voice() != was && app.audio().io() && app.audio().io()->running();
    }));
    EXPECT_TRUE(set.playUntil([&] { return heard(set, c); }, 20.0)) << set.log();
    EXPECT_LT(QString::fromStdString(set.log()).count(QStringLiteral("could not start")), 2) << set.log();
}

// Bravo, heard on deck 2 earlier and standing there at its cue, is requested
// with a second and a half of Alpha left on deck 1. Flow brings it in from
// deck 2 with no new decode: the room is not silent after Alpha ends. A MIX
// key with no hand pressed during the bring-in (calling flow's mix off)
// leaves Bravo played all the same, from deck 2, and Charlie, queued after
// it, waits its turn. A loop and a key shift a hand left on deck 2 go as a
// load would take them: Bravo does not hang in the loop on air. Bravo
// requested while it plays its last second and a half on deck 1, and standing
// at its cue on deck 2 as well, comes in from deck 2 the same way, with or
// without the MIX key: deck 1's play is not the one asked for.
TEST(FlowSeams, ARequestHeardBeforeComesInFromTheIdleDeckHoldingIt)
{
    constexpr double kDecode = 2.5;
    for (const int variant : {0, 1, 2, 3, 4}) {
        const bool mixKey = variant == 1 || variant == 4;
        const bool loopLeft = variant == 2;
        const bool playingNow = variant >= 3;
        SCOPED_TRACE(playingNow ? (mixKey ? "the record playing now on deck 1, a MIX key during the bring-in"
                                          : "the record playing now on deck 1")
                         : mixKey   ? "a MIX key during the bring-in"
                         : loopLeft ? "a loop left on deck 2"
                                    : "alone");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {40.0, 60.0, 60.0},
                   4);
        AppModel& app = set.app;
        const TrackRecord &a = set[0], &b = set[1], &c = set[2];
        const double liveEnds = playingNow ? 60.0 : 40.0;
        if (playingNow) {
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, b));
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, b));
            app.mixer().setCrossfader(-1.0);
            set.play(0, 10.0);
        } else {
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, b));
            app.mixer().setCrossfader(1.0);
            set.play(1);
        }
        app.setAutoQueue(true);
        set.playUntil([] { return false; }, 2.0);
        ASSERT_TRUE(app.onAir().contains(b.id)) << set.log();
        app.setAutoQueue(false);
        if (!playingNow) {
            app.deck(1).voice()->send(DeckCommand::pause());
            app.deck(1).voice()->send(DeckCommand::seek(b.cuePoint));
        }
        if (loopLeft) {
            app.deck(1).voice()->send(DeckCommand::setLoop(4.0, 6.0, true));
            app.deck(1).setKeyShift(3);
        }
        app.mixer().setCrossfader(-1.0);
        for (const QUuid id : std::vector<QUuid>(app.queue()))
            app.dequeue(id);
        if (playingNow)
            app.deck(0).voice()->send(DeckCommand::pause()); // stopped first: the play below starts it there
        else
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
        set.play(0, liveEnds - 1.5);
        set.useSlowDisk([] { return kDecode; });
        app.setAutoQueue(true);
        app.enqueue(b.id);
        app.enqueue(c.id);
        bool decoded = false;
        const auto onDeck2 = [&] { return playing(app, 1) && app.isAudible(1) && holds(app, 1, b); };
        double quiet = 0.0, longestQuiet = 0.0, bravoFor = 0.0;
        bool pressed = !mixKey;
        double begunAt = -1.0;
        set.playUntil(
            [&] {
                decoded = decoded || app.deck(1).loading();
                if (begunAt < 0.0 && (decoded || app.transition().phase().kind != Kind::idle))
                    begunAt = set.played;
                // After flow's next check: the bring-in under way.
                if (!pressed && begunAt >= 0.0 && set.played - begunAt >= 1.2) {
                    app.transition().mix(1); // the mix page's key: no hand
                    pressed = true;
                }
                quiet = set.masterPeak() < 1e-3 ? quiet + TransitionModel::kFrameInterval : 0.0;
                longestQuiet = std::max(longestQuiet, quiet);
                bravoFor += onDeck2() ? TransitionModel::kFrameInterval : 0.0;
                return false;
            },
            16.0);
        EXPECT_TRUE(pressed) << set.log();
        EXPECT_GT(bravoFor, 10.0) << set.log();
        EXPECT_FALSE(heard(set, c)) << set.log();
        if (!mixKey) {
            EXPECT_TRUE(set.mixedIn(b)) << set.log();
            EXPECT_FALSE(decoded) << set.log();
            EXPECT_LT(longestQuiet, 0.5) << set.log();
        }
        if (loopLeft) {
            EXPECT_GT(app.deck(1).voice()->state().position.load(), 8.0) << set.log();
            EXPECT_EQ(app.deck(1).keyShift(), 0) << set.log();
        }
    }
}

// Bravo plays on deck 1 and stands at its cue on deck 2 as well. Flow's cue of
// Zulu over deck 2 never lands and is given up, leaving Bravo there under a
// load that may still land; the DJ's request for Bravo is then cued on deck 2
// afresh. A MIX key with no hand, pressed while that decode runs, starts deck
// 2 with the Bravo it holds: the cue yields to that play, and the decode
// landing does not stop the deck.
TEST(FlowSeams, AMixKeyDuringACueOverTheSameRecordKeepsThatDeckPlaying)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Zulu")}, {60.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &b = set[1], &z = set[2];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, b));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, b));
    set.play(0, 10.0);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 1.5);
    ASSERT_TRUE(app.onAir().contains(b.id)) << set.log();
    app.setAutoQueue(false);
    for (const QUuid id : std::vector<QUuid>(app.queue()))
        app.dequeue(id);
    app.deck(0).voice()->send(DeckCommand::pause()); // stopped first: the play below starts it there
    set.play(0, 22.5);
    // Zulu's decode outlasts flow's wait for it; Bravo's takes 2.5 s.
    int decodes = 0;
    set.useSlowDisk([&decodes] { return decodes++ == 0 ? 30.0 : 2.5; });
    app.setAutoQueue(true);
    app.enqueue(z.id);
    app.enqueue(b.id);
    ASSERT_TRUE(set.playUntil([&] { return app.deck(1).loadingRecord() == b.id; }, 25.0)) << set.log();
    ASSERT_TRUE(set.notes().contains(QStringLiteral("flow: gave up loading Zulu on deck 2 after 20s; going on without it")))
        << set.log();
    // After flow's next check, with the decode still running.
    set.playUntil([] { return false; }, 1.2);
    ASSERT_TRUE(app.deck(1).loading()) << set.log();
    app.transition().mix(1); // the mix page's key: no hand
    bool started = false, stoppedSince = false;
    set.playUntil(
        [&] {
            const bool plays = playing(app, 1) && holds(app, 1, b);
            stoppedSince = stoppedSince || (started && !plays);
            started = started || plays;
            return false;
        },
        6.0);
    EXPECT_TRUE(started) << set.log();
    EXPECT_FALSE(stoppedSince) << set.log();
    EXPECT_TRUE(set.notes().contains(
        QStringLiteral("flow: deck 2 started with Bravo before its cue landed; it plays on from there")))
        << set.log();
}

} // namespace zelvo
