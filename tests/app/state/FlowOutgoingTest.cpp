// What a mix leaves on its outgoing deck: a record faded out by any mix is
// paused once it stays quiet, so the next record is cued and mixed in on
// time; an outgoing deck stopped mid-mix lets the incoming deck up within a
// bar; and the set's lines and requests around a mix say and do what happens.
// Each case plays drum records on the fake device, frame by frame.
#include "AppTestSupport.h"
#include "FlowSupport.h"

#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "library/AudioFileIO.h"
#include "library/OutpaintInfo.h"
#include "library/TrackBuffer.h"
#include "library/WaveformData.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "support/LibraryFixtures.h"

#include <QStringList>
#include <QUuid>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <gtest/gtest.h>

namespace zelvo::outgoing {
namespace {

using Kind = TransitionModel::Phase::Kind;
using test::loadAndWait;
using test::playing;
using test::SetRig;

constexpr double kBar = 2.0; // every record here plays at 120 bpm
// Flow pauses a faded-out deck after 4 s of quiet, at its once-a-second check.
constexpr double kQuietWait = 4.0 + 1.0;

bool holds(AppModel& app, int deck, const TrackRecord& record)
{
    const std::optional<TrackRecord>& track = app.deck(deck).track();
    return track && track->id == record.id;
}

bool heard(SetRig& set, const TrackRecord& record)
{
    for (int deck : {0, 1})
        if (set.readable(deck) && holds(set.app, deck, record) && playing(set.app, deck) && set.app.isAudible(deck))
            return true;
    return false;
}

int lines(const QStringList& notes, const std::function<bool(const QString&)>& match)
{
    return int(std::count_if(notes.begin(), notes.end(), match));
}

int mixesOnto(const SetRig& set, const TrackRecord& record)
{
    return int(std::count_if(set.mixes.begin(), set.mixes.end(), [&](const test::Mix& m) {
        return m.completed && m.incoming && m.incoming->id == record.id;
    }));
}


// The MIX key mixes deck 1's long record out early onto Bravo; Charlie waits
// in the queue. Alpha, faded out, is paused once quiet (or as soon as the set
// needs its deck, when Bravo is shorter than that wait), and Charlie comes in
// with a timed mix, without a gap.
TEST(FlowOutgoing, ARecordAnyMixFadedOutIsPausedAndTheNextComesInOnTime)
{
    for (const double bravoLength : {60.0, 22.0}) {
        SCOPED_TRACE(bravoLength);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")},
                   {200.0, bravoLength, 60.0}, 4);
        AppModel& app = set.app;
        const TrackRecord &a = set[0], &b = set[1], &c = set[2];
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        app.transition().mix(1); // no hand: the key notes none
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 30.0)) << set.log();
        ASSERT_TRUE(playing(app, 0)) << "Alpha ended with its mix";
        const double bravoLeft = app.deck(1).reading().left();
        // Alpha plays on unheard no longer than the quiet wait and a bar, and
        // never past Bravo's end.
        EXPECT_TRUE(set.playUntil([&] { return !playing(app, 0); }, std::min(kQuietWait + kBar, bravoLeft)))
            << set.log();
        double quiet = 0.0, worst = 0.0;
        EXPECT_TRUE(set.playUntil(
            [&] {
                quiet = set.masterPeak() < 1e-3 ? quiet + TransitionModel::kFrameInterval : 0.0;
                worst = std::max(worst, quiet);
                return set.mixedIn(c);
            },
            bravoLeft + 10.0))
            << set.log();
        EXPECT_LT(worst, kBar) << set.log();
        EXPECT_EQ(lines(set.notes(), [](const QString& l) { return l.contains(QStringLiteral(" at once")); }), 0)
            << set.log();
        EXPECT_FALSE(heard(set, a)) << set.log();
    }
}

// The MIX key on a controller is a hand, and the mix it starts completes
// within 45 s of it: Alpha, faded out, plays on only while hands are on, and
// is paused once they are off and it has stayed quiet. A hand after the mix
// that leaves Alpha playing faded out only puts that off. The chain's next
// stretch spliced under Alpha once it is faded out is the same play, heard
// already: paused where it stands, not sent back to its start as a record
// never on air.
TEST(FlowOutgoing, ARecordFadedOutUnderTheHandThatMixedIsPausedOnceHandsAreOff)
{
    enum class After { nothing, hand, splice };
    for (const After after : {After::nothing, After::hand, After::splice}) {
        SCOPED_TRACE(int(after));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {200.0, 100.0, 60.0},
                   4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        app.binder().noteHandsOn();
        const double handAt = set.played;
        app.transition().mix(1);
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 30.0)) << set.log();
        set.playUntil([] { return false; }, 1.0);
        const bool handAfter = after == After::hand;
        if (handAfter)
            app.binder().noteHandsOn();
        if (after == After::splice) {
            const QString path = set.rig.home.file(QStringLiteral("stretch.wav"));
            test::writeBarByBar(path, 120.0, 200.0, test::kSetRate);
            const std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
            const TrackBufferRef audio =
                AudioFileIO::decode(std::filesystem::path(path.toStdString()), voice->sampleRate());
            ASSERT_TRUE(audio);
            TrackRecord next = TrackRecord::forFile(path, set.rig.scheduler.now());
            next.title = set[0].title;
            next.duration = audio->duration();
            next.analyzed = true;
            next.grid = set[0].grid;
            OutpaintInfo info;
            info.generations = 2;
            info.segmentOf = set[0].id;
            next.outpaint = info;
            app.library().addOutpaint(next, WaveformData{});
            ASSERT_TRUE(app.deck(0).swapIn(next, audio, std::make_shared<const WaveformData>(), 0.0));
        }
        const double lastHand = handAfter ? set.played : handAt;
        ASSERT_TRUE(set.playUntil([&] { return !playing(app, 0); }, 70.0)) << set.log();
        // Never within 45 s of a hand; within the quiet wait and a bar of
        // hands coming off.
        EXPECT_GE(set.played - lastHand, 45.0) << set.log();
        EXPECT_LT(set.played - lastHand, 45.0 + kQuietWait + kBar) << set.log();
        const bool pausedAsOutgoing = lines(set.notes(), [](const QString& l) {
            return l.startsWith(QStringLiteral("flow: stopped deck 1 after its mix out"));
        }) == 1;
        EXPECT_TRUE(pausedAsOutgoing) << set.log();
    }
}

// The same mix by the MIX key, and Zulu loaded over deck 2 from the browser
// near its end, landing once it has completed: deck 2 stands, and the room is
// silent until hands are off. Then flow pauses Alpha and plays Zulu at once:
// the room waits no longer than a bar.
TEST(FlowOutgoing, ARecordStandingOnAirAfterTheHandsMixPlaysAsSoonAsHandsAreOff)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
               {200.0, 100.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    app.binder().noteHandsOn();
    const double handAt = set.played;
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil(
        [&] { return app.transition().phase().kind == Kind::mixing && app.transition().phase().value >= 0.9; }, 20.0))
        << set.log();
    set.useSlowDisk([] { return 2.5; });
    app.deck(1).load(set[3]);
    ASSERT_TRUE(set.playUntil([&] { return holds(app, 1, set[3]); }, 5.0)) << set.log();
    ASSERT_TRUE(set.mixedIn(set[1])) << "Zulu landed before the mix ended";
    const auto paused = [&] {
        return lines(set.notes(), [](const QString& l) {
                   return l.startsWith(QStringLiteral("flow: stopped deck 1 after its mix out"));
               }) == 1;
    };
    ASSERT_TRUE(set.playUntil(paused, 70.0)) << set.log();
    const double pausedAt = set.played;
    ASSERT_TRUE(set.playUntil([&] { return heard(set, set[3]); }, 5.0)) << set.log();
    // Zulu plays as soon as the pause is rendered, not at the next second.
    EXPECT_LT(set.played - pausedAt, 0.5) << set.log();
    EXPECT_LT(set.played - handAt, 45.0 + kBar) << set.log();
    EXPECT_FALSE(playing(app, 0)) << set.log();
}

// A hand moves the crossfader onto deck 2, where Bravo stands unplayed, while
// Alpha plays on air, and leaves: once hands are off Alpha is on air again
// within the quiet wait and a bar, and the next record comes in after it with
// a mix.
TEST(FlowOutgoing, ACrossfaderMovedOntoAStandingDeckGivesTheSetBackOnceHandsAreOff)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {100.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    app.binder().noteHandsOn();
    app.mixer().setCrossfader(1.0);
    const double handAt = set.played;
    ASSERT_TRUE(set.playUntil([&] { return heard(set, set[0]); }, 70.0)) << set.log();
    EXPECT_GE(set.played - handAt, 45.0) << set.log();
    EXPECT_LT(set.played - handAt, 45.0 + kQuietWait + kBar) << set.log();
    EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(set[2]); }, 60.0)) << set.log();
}

// Deck 2 holds the take of deck 1's record, heard on air already; deck 1's
// record has been heard and stands. The take cannot come in again, so it
// holds nothing back: once hands are off the next record is cued.
TEST(FlowOutgoing, ATakeHeardAlreadyHoldsNoCueOnceTheLiveRecordStands)
{
    const TrackRecord live = test::fixtureRecord({.title = "Live"});
    const TrackRecord queued = test::fixtureRecord({.title = "Queued"});
    OutpaintInfo info;
    info.sourceID = live.id;
    const TrackRecord take = test::fixtureRecord({.title = "take", .outpaint = info});
    test::FlowRig rig({live, queued});
    AppModel& app = rig.model;
    for (int i = 0; i < 2; ++i)
        app.deck(i).setDecoder([](const QString&, double rate) { return TrackBufferRef(4800, rate); });
    // As one of the voice's renders would publish it: news to the deck.
    const auto publish = [&](int deck, bool plays, double position) {
        rig.publish(deck, plays, position, 300);
        DeckState& cells = rig.cells(deck);
        cells.loaded.store(true);
        cells.timelineWrites.store(cells.timelineWrites.load() + 8);
    };
    rig.put(0, live);
    rig.put(1, take);
    app.setAutoQueue(true);
    // The take on air, then the live record after it.
    app.binder().noteHandsOn();
    app.mixer().setCrossfader(1.0);
    publish(1, true, 10);
    rig.after(1.1);
    publish(1, false, 20);
    app.mixer().setCrossfader(-1.0);
    publish(0, true, 0);
    rig.after(1.1);
    // The live record stands at its start.
    publish(0, false, 0);
    rig.after(1.1);
    ASSERT_TRUE(app.heard().contains(live.id) && app.heard().contains(take.id));
    app.setQueue({queued.id});
    for (double t = 0; t < 60 && !app.autoCued(); t += 1.1)
        rig.after(1.1);
    ASSERT_TRUE(app.autoCued()) << rig.notes().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(app.autoCued()->id, queued.id);
    EXPECT_EQ(app.autoCued()->deck, 1);
}

// A 32-bar mix whose outgoing deck stops at 5 %, by a record loaded over it
// from the browser or by a pause: the incoming deck is up within a bar, and
// the mix completes onto it.
TEST(FlowOutgoing, AnOutgoingDeckStoppedEarlyInALongMixEndsItWithinABar)
{
    enum class Stop { loadOver, pause };
    for (const Stop stop : {Stop::loadOver, Stop::pause}) {
        SCOPED_TRACE(int(stop));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
                   {300.0, 200.0, 60.0, 60.0}, 32);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        app.transition().mix(1);
        ASSERT_TRUE(set.playUntil(
            [&] {
                const TransitionModel::Phase phase = app.transition().phase();
                return phase.kind == Kind::mixing && phase.value >= 0.05;
            },
            60.0))
            << set.log();
        if (stop == Stop::loadOver)
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, set[3]));
        else
            app.deck(0).voice()->send(DeckCommand::pause());
        const double stoppedAt = set.played;
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 70.0)) << set.log();
        EXPECT_LT(set.played - stoppedAt, kBar + 0.2) << set.log();
        EXPECT_TRUE(set.mixedIn(set[1])) << set.log();
        EXPECT_EQ(app.mixer().crossfader(), 1.0);
        EXPECT_TRUE(heard(set, set[1])) << set.log();
    }
}

// The record a mix brings in, queued again at the head once it is on air
// (past half way): it is cued and mixed in again on its turn, not passed over.
TEST(FlowOutgoing, TheIncomingRecordRequestedOnceOnAirPlaysAgain)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {40.0, 40.0, 60.0}, 4);
    AppModel& app = set.app;
    const TrackRecord &a = set[0], &b = set[1];
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, a));
    app.setQueue({b.id, set[2].id});
    set.play(0);
    app.setAutoQueue(true);
    ASSERT_TRUE(set.playUntil(
        [&] {
            const TransitionModel::Phase phase = app.transition().phase();
            return phase.kind == Kind::mixing && phase.to == 1 && phase.value >= 0.5;
        },
        60.0))
        << set.log();
    ASSERT_TRUE(heard(set, b));
    app.enqueue(b.id);
    app.moveInQueue(b.id, -int(app.queue().size()));
    EXPECT_TRUE(set.playUntil([&] { return mixesOnto(set, b) == 2; }, 120.0)) << set.log();
    EXPECT_EQ(lines(set.notes(), [](const QString& l) { return l.startsWith(QStringLiteral("flow: passed over Bravo")); }),
              0)
        << set.log();
}

// What flow writes when it puts a record aside: a request left playing unheard
// behind the crossfader was not "on air already", it comes in on its turn;
// a record queued again during the mix that is called off goes to the head of
// the queue, as its line says.
TEST(FlowOutgoing, TheLinesAroundAMixSayWhatHappens)
{
    {
        SCOPED_TRACE("a request left behind");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {200.0, 30.0, 60.0},
                   4);
        AppModel& app = set.app;
        const TrackRecord &a = set[0], &b = set[1];
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        app.transition().mix(1);
        ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(b); }, 30.0)) << set.log();
        // A hand plays Alpha again behind the crossfader: flow leaves Alpha
        // to the DJ, who asks for it again and walks away.
        app.binder().noteHandsOn();
        app.deck(0).voice()->send(DeckCommand::pause());
        set.playUntil([] { return false; }, 0.5);
        app.deck(0).voice()->send(DeckCommand::seek(10.0));
        app.deck(0).voice()->send(DeckCommand::play());
        app.enqueue(a.id);
        app.moveInQueue(a.id, -int(app.queue().size()));
        set.playUntil([] { return false; }, 2.0);
        ASSERT_TRUE(playing(app, 0));
        ASSERT_TRUE(set.playUntil([&] { return !playing(app, 0); }, 80.0)) << set.log();
        set.frame();
        const QStringList notes = set.notes();
        EXPECT_EQ(lines(notes, [](const QString& l) { return l.contains(QStringLiteral("Alpha was on air already")); }),
                  0)
            << set.log();
        EXPECT_EQ(lines(notes, [](const QString& l) { return l.contains(QStringLiteral("it comes in on its turn")); }),
                  1)
            << set.log();
        double from = -1.0;
        EXPECT_TRUE(set.playUntil(
            [&] {
                if (!heard(set, a))
                    return false;
                for (int d : {0, 1})
                    if (holds(app, d, a))
                        from = app.deck(d).reading().position;
                return true;
            },
            60.0))
            << set.log();
        EXPECT_LT(from, 5.0) << set.log();
    }
    {
        SCOPED_TRACE("queued again, then called off");
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {60.0, 60.0, 60.0},
                   4);
        AppModel& app = set.app;
        const TrackRecord& b = set[1];
        ASSERT_TRUE(set.flowUntilMixPhase(Kind::waitingDownbeat, 1, 60.0)) << set.log();
        app.enqueue(b.id); // at the tail, behind Charlie
        ASSERT_EQ(app.queue().back(), b.id);
        app.binder().noteHandsOn();
        app.transition().mix(1);
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, 1.0));
        set.frame();
        ASSERT_EQ(lines(set.notes(),
                        [](const QString& l) {
                            return l.contains(QStringLiteral("Bravo")) && l.contains(QStringLiteral("head of the queue"));
                        }),
                  1)
            << set.log();
        EXPECT_EQ(app.queue().front(), b.id) << set.log();
        EXPECT_EQ(std::count(app.queue().begin(), app.queue().end(), b.id), 1);
    }
}

// Alpha, faded out by the MIX key's mix, is still playing when the output
// moves to a card at another rate and its record decodes again, slowly: it
// plays on from where it stood and is paused once it has stayed quiet, not
// left running unheard until the next cue.
TEST(FlowOutgoing, ARecordFadedOutIsPausedThoughItsDeckDecodesAgainForAnotherRate)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {200.0, 100.0, 60.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 30.0)) << set.log();
    const double mixedAt = set.played;
    set.playUntil([] { return false; }, 1.0);
    set.useSlowDisk([] { return 2.0; });
    ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
    ASSERT_TRUE(set.playUntil([&] { return app.deck(0).loading(); }, 1.0)) << set.log();
    ASSERT_TRUE(set.playUntil([&] { return !app.deck(0).loading() && playing(app, 0); }, 10.0)) << set.log();
    ASSERT_TRUE(set.playUntil([&] { return !playing(app, 0); }, 60.0)) << set.log();
    EXPECT_LT(set.played - mixedAt, 1.0 + 2.0 + kQuietWait + kBar) << set.log();
    const auto pausedAsOutgoing = [](const QString& l) {
        return l.startsWith(QStringLiteral("flow: stopped deck 1 after its mix out"));
    };
    EXPECT_EQ(lines(set.notes(), pausedAsOutgoing), 1) << set.log();
    EXPECT_TRUE(heard(set, set[1])) << set.log();
}

// A hand crossfades from Alpha on air to Bravo, playing behind the
// crossfader, and walks away: Alpha, left playing faded out as after a mix,
// is paused once hands are off and it has stayed quiet. The same when Bravo
// stood at the crossfade and the hand played it a few seconds later.
TEST(FlowOutgoing, AHandsCrossfadeFromOnePlayingDeckToAnotherPausesTheFirstOnceHandsAreOff)
{
    for (const bool playedAfter : {false, true}) {
        SCOPED_TRACE(playedAfter);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {200.0, 200.0, 60.0},
                   4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        if (!playedAfter)
            set.play(1, 10.0);
        app.binder().noteHandsOn();
        app.mixer().setCrossfader(1.0);
        if (playedAfter) {
            set.playUntil([] { return false; }, 5.0);
            app.deck(1).playPause();
        }
        const double handAt = set.played;
        ASSERT_TRUE(set.playUntil([&] { return !playing(app, 0); }, 70.0)) << set.log();
        EXPECT_GE(set.played - handAt, 45.0) << set.log();
        EXPECT_LT(set.played - handAt, 45.0 + kQuietWait + kBar) << set.log();
        const auto pausedAsOutgoing = [](const QString& l) {
            return l.startsWith(QStringLiteral("flow: stopped deck 1 after its mix out"));
        };
        EXPECT_EQ(lines(set.notes(), pausedAsOutgoing), 1) << set.log();
        EXPECT_TRUE(heard(set, set[1])) << set.log();
    }
}

// A hand plays Bravo on deck 2 and brings it up with the crossfader at the
// middle, Alpha still the live deck; a few seconds later it pulls the
// crossfader back to Alpha and walks away. Bravo, heard and then taken off
// the air by the hand, is paused once hands are off and it has stayed quiet,
// as a deck faded out by a crossfade is. One the hand never brought up is
// the DJ's and plays on.
TEST(FlowOutgoing, ARecordAHandTookOffTheAirWithTheLiveDeckUnchangedIsPausedOnceHandsAreOff)
{
    for (const bool broughtUp : {true, false}) {
        SCOPED_TRACE(broughtUp);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {200.0, 200.0, 60.0},
                   4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        app.binder().noteHandsOn();
        app.deck(1).playPause();
        if (broughtUp)
            app.mixer().setCrossfader(0.0);
        set.playUntil([] { return false; }, 5.0);
        ASSERT_EQ(app.transition().liveDeck(), 0);
        app.binder().noteHandsOn();
        app.mixer().setCrossfader(-1.0);
        const double handAt = set.played;
        const bool paused = set.playUntil([&] { return !playing(app, 1); }, 70.0);
        const auto pausedAsOutgoing = [](const QString& l) {
            return l.startsWith(QStringLiteral("flow: stopped deck 2 after its mix out"));
        };
        if (!broughtUp) {
            EXPECT_FALSE(paused) << set.log();
            continue;
        }
        ASSERT_TRUE(paused) << set.log();
        EXPECT_GE(set.played - handAt, 45.0) << set.log();
        EXPECT_LT(set.played - handAt, 45.0 + kQuietWait + kBar) << set.log();
        EXPECT_EQ(lines(set.notes(), pausedAsOutgoing), 1) << set.log();
        EXPECT_TRUE(playing(app, 0)) << set.log();
    }
}

// A 32-bar mix whose incoming deck stops at 30 %, by a hand's load over it or
// a hand's pause: the mix is called off within a bar, Alpha back on air at
// full level with the mixer as before it, and the room never goes silent;
// once hands are off, the next record comes in with a timed mix: Zulu, put
// on deck 2 by the hand's load, or else the queue's Charlie.
TEST(FlowOutgoing, AnIncomingDeckStoppedMidMixLeavesTheOutgoingRecordOnAir)
{
    enum class Stop { handLoad, handPause };
    for (const Stop stop : {Stop::handLoad, Stop::handPause}) {
        SCOPED_TRACE(int(stop));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
                   {170.0, 200.0, 200.0, 200.0}, 32);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        const double lowsBefore = app.mixer().channel(1).low();
        app.transition().mix(1);
        ASSERT_TRUE(set.playUntil(
            [&] {
                const TransitionModel::Phase phase = app.transition().phase();
                return phase.kind == Kind::mixing && phase.value >= 0.3;
            },
            60.0))
            << set.log();
        app.binder().noteHandsOn();
        if (stop == Stop::handLoad)
            ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, set[3]));
        else
            app.deck(1).playPause();
        const double stoppedAt = set.played;
        ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::idle; }, kBar)) << set.log();
        EXPECT_LT(set.played - stoppedAt, kBar) << set.log();
        EXPECT_EQ(app.mixer().crossfader(), -1.0);
        EXPECT_EQ(app.mixer().channel(1).low(), lowsBefore);
        EXPECT_TRUE(heard(set, set[0])) << set.log();
        // Alpha plays on through the hands' 45 s and up to the next mix, of
        // the record the hand put on deck 2 or else the queue's.
        const TrackRecord& next = stop == Stop::handLoad ? set[3] : set[2];
        double worst = 0.0;
        ASSERT_TRUE(set.playUntil(
            [&] {
                worst = std::max(worst, set.silentFor);
                return set.mixedIn(next);
            },
            150.0))
            << set.log();
        EXPECT_LT(worst, 0.25) << set.log();
        const QStringList notes = set.notes();
        EXPECT_EQ(lines(notes, [](const QString& l) { return l == QStringLiteral("flow: 32-bar mix onto deck 2"); }), 1)
            << set.log();
    }
}

} // namespace
} // namespace zelvo::outgoing
