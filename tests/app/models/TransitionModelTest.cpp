// Automatic transitions on a real engine rendered frame by frame: the settings,
// the refusals, the start on the next phrase, each style's automation against
// its curve, the restore at the end, and every way a mix is called off.
#include "ModelRigSupport.h"
#include "library/WaveformData.h"

#include <QObject>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stop_token>
#include <thread>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

using Kind = TransitionModel::Phase::Kind;

double ease(double x)
{
    return x * x * (3.0 - 2.0 * x);
}

// The crossfader each style should show at progress p, mixing from −1 to deck 2.
double expectedCrossfader(TransitionStyle style, double p)
{
    switch (style) {
    case TransitionStyle::fade:
    case TransitionStyle::filter: return -1.0 + 2.0 * ease(p);
    case TransitionStyle::bassSwap: return p < 0.5 ? -1.0 + ease(2 * p) : ease(2 * p - 1);
    case TransitionStyle::echo: return p < 0.8 ? -1.0 + 0.7 * ease(p / 0.8) : ease(std::min((p - 0.8) / 0.2, 1.0));
    }
    return 0.0;
}

// Two loaded 120 bpm decks, deck 1 playing with the crossfader on its side, and
// mixer settings the transitions must put back.
// Deck 2's record lasts `incoming` seconds when given: long enough for its
// mix not to be cut to a short record's.
struct MixRig : ModelRig {
    explicit MixRig(double seconds = 30.0, double incoming = 0.0)
    {
        a = drumTrack(QStringLiteral("a"), seconds);
        b = drumTrack(QStringLiteral("b"), incoming > 0.0 ? incoming : seconds);
        load(0, a);
        load(1, b);
        mixer.setCrossfader(-1.0);
        for (int i = 0; i < 4; ++i) {
            mixer.channel(i).setLow(0.1 * (i + 1));
            mixer.channel(i).setColorFX(-0.05 * (i + 1));
        }
        mixer.setColorFXKind(ColorFXKind::crush);
        mixer.setBeatFXKind(BeatFXKind::roll);
        mixer.setBeatFXTarget(2);
        mixer.setBeatFXBeatIndex(5);
        mixer.setBeatFXLevel(0.3);
        transition->setBars(2);
    }

    void playDeck1(double seconds = 0.5)
    {
        deck(0).playPause();
        run(seconds);
        ASSERT_TRUE(state(0).playing.load());
    }

    // Deck 1 parked at `playhead`, then playing.
    void playDeck1From(double playhead)
    {
        engine->deck(0)->send(DeckCommand::seek(playhead));
        render(64);
        deck(0).playPause();
        render(64);
    }

    Kind kind() const { return transition->phase().kind; }
    // From now on, every progress the mix shows while mixing lands in `seen`.
    void recordProgress(std::vector<double>& seen)
    {
        QObject::connect(transition.get(), &TransitionModel::phaseChanged, [this, &seen] {
            if (kind() == Kind::mixing)
                seen.push_back(transition->phase().value);
        });
    }

    // The mixer settings from before the mix are back (crossfader aside).
    void expectRestored()
    {
        for (int i = 0; i < 2; ++i) {
            EXPECT_DOUBLE_EQ(mixer.channel(i).low(), 0.1 * (i + 1));
            EXPECT_DOUBLE_EQ(mixer.channel(i).colorFX(), -0.05 * (i + 1));
            EXPECT_DOUBLE_EQ(params().channel(std::size_t(i)).low.load(), 0.1 * (i + 1));
        }
        EXPECT_EQ(mixer.colorFXKind(), ColorFXKind::crush);
        EXPECT_EQ(mixer.beatFXKind(), BeatFXKind::roll);
        EXPECT_EQ(mixer.beatFXTarget(), 2);
        EXPECT_EQ(mixer.beatFXBeatIndex(), 5);
        EXPECT_DOUBLE_EQ(mixer.beatFXLevel(), 0.3);
        EXPECT_FALSE(mixer.beatFXOn());
        EXPECT_FALSE(params().beatFXOn.load());
    }

    TrackRecord a, b;
};

} // namespace

TEST(TransitionModelTest, SettingsAreReadOnceAndWrittenOnEveryAssignment)
{
    TempHome home;
    ManualScheduler clock;
    const QString path = home.file(QStringLiteral("defaults.json"));
    {
        UserDefaults defaults(path);
        TransitionModel model(defaults, clock);
        EXPECT_EQ(model.style(), TransitionStyle::fade);
        EXPECT_EQ(model.bars(), 32);
        EXPECT_EQ(defaults.integer(QStringLiteral("mix.style")), 0);
        EXPECT_EQ(defaults.integer(QStringLiteral("mix.bars")), 32);
    }
    for (std::int64_t stored : {7, -1}) {
        UserDefaults defaults(path);
        defaults.setInteger(QStringLiteral("mix.style"), stored);
        defaults.setString(QStringLiteral("mix.bars"), QStringLiteral("16"));
        TransitionModel model(defaults, clock);
        EXPECT_EQ(model.style(), TransitionStyle::bassSwap);
        EXPECT_EQ(model.bars(), 32);
        EXPECT_EQ(defaults.integer(QStringLiteral("mix.style")), 1);
        EXPECT_EQ(defaults.integer(QStringLiteral("mix.bars")), 32);
    }
    UserDefaults defaults(path);
    defaults.setInteger(QStringLiteral("mix.style"), 3);
    defaults.setInteger(QStringLiteral("mix.bars"), 0);
    TransitionModel model(defaults, clock);
    EXPECT_EQ(model.style(), TransitionStyle::echo);
    EXPECT_EQ(model.bars(), 0);
    model.setStyle(TransitionStyle::filter);
    model.setBars(64);
    UserDefaults reread(path);
    EXPECT_EQ(reread.integer(QStringLiteral("mix.style")), 2);
    EXPECT_EQ(reread.integer(QStringLiteral("mix.bars")), 64);
    EXPECT_EQ(label(TransitionStyle::echo), QStringLiteral("ECHO OUT"));
}

TEST(TransitionModelTest, RefusalsLeaveThePhaseAlone)
{
    ModelRig rig;
    TransitionModel& t = *rig.transition;
    EXPECT_EQ(t.liveDeck(), 0);
    rig.mixer.setCrossfader(0.1);
    EXPECT_EQ(t.liveDeck(), 1);
    rig.mixer.setCrossfader(0.0);

    t.mix(0);
    EXPECT_EQ(t.note(), QStringLiteral("LOAD A TRACK ON DECK 1 FIRST"));
    EXPECT_EQ(t.noteExpires(), rig.clock.now().addSecs(3));
    t.mix(1);
    EXPECT_EQ(t.note(), QStringLiteral("FORK SOMETHING ONTO DECK 2 FIRST"));
    for (int bad : {-1, 2, 7})
        t.mix(bad);
    EXPECT_EQ(t.phase().kind, Kind::idle);
    EXPECT_EQ(rig.clock.pending(), 1u) << "only the deck tick runs; no frame timer";
    EXPECT_EQ(rig.params().alignStart.load(), -1);

    rig.load(1, rig.drumTrack(QStringLiteral("b"), 10.0));
    t.mix(1);
    ASSERT_EQ(t.phase().kind, Kind::starting);
    rig.audio.on = true;
    t.mix(1);
    EXPECT_EQ(t.note(), QStringLiteral("THE DJM IS MIXING · BRING IT IN ON ITS FADER"));
    EXPECT_EQ(t.phase().kind, Kind::starting) << "a running mix goes on";

    t.clearLinks();
    rig.audio.on = false;
    t.mix(1);
    EXPECT_EQ(t.liveDeck(), 0);
}

TEST(TransitionModelTest, EachStyleFollowsItsCurveOnTheOutgoingDecksClock)
{
    for (TransitionStyle style : allTransitionStyles) {
        SCOPED_TRACE(label(style).toStdString());
        MixRig rig;
        rig.transition->setStyle(style);
        rig.playDeck1();
        rig.transition->mix(1);
        EXPECT_TRUE(rig.mixer.channel(1).sync());
        rig.run(2.0 / 60.0);
        ASSERT_EQ(rig.kind(), Kind::waitingDownbeat);
        EXPECT_TRUE(rig.state(1).playing.load());
        // Deck 1 at ~0.55 s: the first two-bar phrase more than a bar ahead is at 4 s.
        EXPECT_DOUBLE_EQ(rig.transition->phase().value, 4.0);

        bool sawEcho = false, sawEchoOff = false;
        double lastP = -1.0;
        while (rig.kind() != Kind::idle && rig.state(0).position.load() < 10.0) {
            rig.run(1.0 / 60.0);
            if (rig.kind() != Kind::mixing)
                continue;
            const double p = rig.transition->phase().value;
            const double clock = rig.state(0).position.load();
            EXPECT_NEAR(p, std::clamp((clock - 4.0) / 4.0, 0.0, 1.0), 0.02);
            EXPECT_GE(p, lastP);
            lastP = p;
            if (p == 0.0)
                continue; // the downbeat frame only sets the presets
            EXPECT_NEAR(rig.mixer.crossfader(), expectedCrossfader(style, p), 1e-9) << "p " << p;
            EXPECT_DOUBLE_EQ(rig.params().crossfader.load(), rig.mixer.crossfader());
            switch (style) {
            case TransitionStyle::bassSwap:
                EXPECT_EQ(rig.mixer.channel(1).low(), p < 0.5 ? -1.0 : 0.2);
                EXPECT_EQ(rig.mixer.channel(0).low(), p < 0.5 ? 0.1 : -1.0);
                break;
            case TransitionStyle::filter:
                EXPECT_EQ(rig.mixer.colorFXKind(), ColorFXKind::filter);
                EXPECT_NEAR(rig.mixer.channel(0).colorFX(), -0.92 * std::pow(p, 1.2), 1e-12);
                EXPECT_NEAR(rig.mixer.channel(1).colorFX(), std::max(0.0, 0.6 * (1 - p / 0.75)), 1e-12);
                break;
            case TransitionStyle::echo:
                if (p >= 0.8) {
                    sawEcho = true;
                    EXPECT_EQ(rig.mixer.beatFXKind(), BeatFXKind::echo);
                    EXPECT_EQ(rig.mixer.beatFXTarget(), 0);
                    EXPECT_DOUBLE_EQ(rig.params().beatFXBeats.load(), 0.5);
                    EXPECT_DOUBLE_EQ(rig.mixer.beatFXLevel(), 0.75);
                    EXPECT_EQ(rig.mixer.beatFXOn(), p < 0.98);
                    sawEchoOff = sawEchoOff || p >= 0.98;
                } else {
                    EXPECT_EQ(rig.mixer.beatFXKind(), BeatFXKind::roll);
                }
                break;
            case TransitionStyle::fade: break;
            }
        }
        ASSERT_EQ(rig.kind(), Kind::idle);
        EXPECT_GT(lastP, 0.9);
        if (style == TransitionStyle::echo) {
            EXPECT_TRUE(sawEcho);
            EXPECT_TRUE(sawEchoOff);
        }
        EXPECT_NEAR(rig.state(0).position.load(), 8.0, 0.05) << "completes at start + two bars";
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
        EXPECT_TRUE(rig.mixer.channel(0).sync());
        EXPECT_TRUE(rig.mixer.channel(1).sync());
        EXPECT_FALSE(rig.transition->note());
        rig.expectRestored();
        rig.render(64);
        EXPECT_EQ(rig.engine->state()->masterDeck.load(), 1);
        EXPECT_EQ(rig.clock.pending(), 1u) << "the frame timer stopped";
    }
}

TEST(TransitionModelTest, APhraseBoundaryLessThanABarAheadIsSkipped)
{
    for (double playhead : {61.0, 62.0, 62.5}) {
        MixRig rig(100.0, 300.0); // 96 s lies within the record
        rig.transition->setBars(32);
        rig.playDeck1From(playhead);
        rig.transition->mix(1);
        rig.run(2.0 / 60.0);
        ASSERT_EQ(rig.kind(), Kind::waitingDownbeat);
        EXPECT_DOUBLE_EQ(rig.transition->phase().value, playhead < 62.0 ? 64.0 : 96.0) << playhead;
    }
}

TEST(TransitionModelTest, AHandOnTheCrossfaderEndsTheMix)
{
    MixRig rig;
    rig.transition->setStyle(TransitionStyle::bassSwap);
    rig.playDeck1();
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.transition->phase().value > 0.3 && rig.kind() == Kind::mixing; }, 10));
    const double x = rig.mixer.crossfader();
    const QDateTime played = rig.binder->handsOnAt();
    rig.mixer.setCrossfader(x + 0.01);
    rig.run(1.0 / 60.0);
    ASSERT_EQ(rig.kind(), Kind::mixing);
    EXPECT_EQ(rig.binder->handsOnAt(), played);

    const double user = rig.mixer.crossfader() + 0.03;
    rig.mixer.setCrossfader(user);
    rig.run(1.0 / 60.0);
    EXPECT_EQ(rig.kind(), Kind::idle);
    EXPECT_EQ(rig.transition->note(), QStringLiteral("YOU TOOK OVER"));
    EXPECT_EQ(rig.mixer.crossfader(), user);
    EXPECT_EQ(rig.binder->handsOnAt(), rig.clock.now());
    rig.expectRestored();
    EXPECT_TRUE(rig.state(1).playing.load());
}

TEST(TransitionModelTest, ADeckThatStopsBeforeTheDownbeatCallsTheMixOff)
{
    MixRig rig;
    rig.playDeck1();
    rig.transition->mix(1);
    rig.run(3.0 / 60.0);
    ASSERT_EQ(rig.kind(), Kind::waitingDownbeat);
    rig.deck(0).playPause();
    rig.run(2.0 / 60.0);
    EXPECT_EQ(rig.kind(), Kind::idle);
    EXPECT_EQ(rig.transition->note(), QStringLiteral("MIX CALLED OFF · A DECK STOPPED"));
    EXPECT_EQ(rig.mixer.crossfader(), -1.0);
    rig.expectRestored();
}

TEST(TransitionModelTest, AMixFromAStoppedDeckStartsAtOnce)
{
    MixRig rig;
    rig.transition->setStyle(TransitionStyle::fade);
    rig.transition->mix(1);
    rig.run(2.0 / 60.0);
    ASSERT_NE(rig.kind(), Kind::idle) << rig.transition->note().value_or(QString()).toStdString();
    rig.run(2.0 / 60.0);
    ASSERT_EQ(rig.kind(), Kind::mixing);
    // The stopped deck has no music left: the shortest mix, not two bars
    // faded in from silence.
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 0.5));
    EXPECT_LT(rig.state(1).position.load(), 0.3);
    EXPECT_FALSE(rig.transition->note());
    EXPECT_EQ(rig.mixer.crossfader(), 1.0);
}

TEST(TransitionModelTest, ProgressCarriesOnWhenTheOutgoingDeckStopsMidMix)
{
    MixRig rig;
    rig.transition->setStyle(TransitionStyle::fade);
    rig.playDeck1();
    // Deck 2 starts far from deck 1's timeline, so the two playheads differ.
    rig.engine->deck(1)->send(DeckCommand::seek(15.0));
    rig.render(64);
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing && rig.transition->phase().value > 0.4; }, 10));
    const double before = rig.transition->phase().value;
    const double xf = rig.mixer.crossfader();
    rig.deck(0).playPause();
    rig.run(3.0 / 60.0);
    ASSERT_EQ(rig.kind(), Kind::mixing);
    EXPECT_NEAR(rig.transition->phase().value, before, 0.05);
    EXPECT_GE(rig.mixer.crossfader(), xf);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 4.0));
    EXPECT_EQ(rig.mixer.crossfader(), 1.0);
    EXPECT_FALSE(rig.transition->note());
}

// What the DJ does to the outgoing deck moves the mix with the music: a seek
// back sets the progress back (clamped at 0) and the mix still ends when the
// clock reaches its start plus its length; a held loop holds the progress and
// the curves, so the bass swap comes at half of the music, not of the time; a
// beat jump back before the downbeat moves the wait with it.
TEST(TransitionModelTest, TheOutgoingDecksJumpsMoveTheMixWithTheMusic)
{
    {
        MixRig rig;
        rig.transition->setStyle(TransitionStyle::fade);
        rig.playDeck1();
        rig.transition->mix(1);
        ASSERT_TRUE(
            rig.runUntil([&] { return rig.kind() == Kind::mixing && rig.transition->phase().value > 0.5; }, 10));
        rig.engine->deck(0)->send(DeckCommand::seek(3.0));
        rig.run(2.0 / 60.0);
        ASSERT_EQ(rig.kind(), Kind::mixing);
        EXPECT_EQ(rig.transition->phase().value, 0.0) << "before the downbeat at 4 s: clamped at 0";
        EXPECT_EQ(rig.mixer.crossfader(), -1.0);
        // The clock has to come back to 4 s + two bars.
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 6.0));
        EXPECT_NEAR(rig.state(0).position.load(), 8.0, 0.05);
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
        EXPECT_FALSE(rig.transition->note());
    }
    {
        MixRig rig;
        rig.transition->setStyle(TransitionStyle::bassSwap);
        rig.playDeck1();
        rig.transition->mix(1);
        ASSERT_TRUE(
            rig.runUntil([&] { return rig.kind() == Kind::mixing && rig.transition->phase().value > 0.25; }, 10));
        rig.deck(0).setAutoLoopBeats(1.0); // half a second, all before the swap point at 6 s
        rig.deck(0).autoLoop();
        double most = 0.0;
        for (int frame = 0; frame < 6 * 60; ++frame) { // longer than the whole mix
            rig.run(1.0 / 60.0);
            ASSERT_EQ(rig.kind(), Kind::mixing);
            most = std::max(most, rig.transition->phase().value);
        }
        EXPECT_LT(most, 0.4);
        EXPECT_EQ(rig.mixer.channel(1).low(), -1.0) << "the incoming lows stay killed";
        EXPECT_EQ(rig.mixer.channel(0).low(), 0.1);
        rig.deck(0).autoLoop(); // out of the loop: the music goes on
        bool swappedEarly = false;
        ASSERT_TRUE(rig.runUntil(
            [&] {
                swappedEarly = swappedEarly || (rig.mixer.channel(0).low() == -1.0 && rig.state(0).position.load() < 5.95);
                return rig.kind() == Kind::idle;
            },
            4.0));
        EXPECT_FALSE(swappedEarly);
        EXPECT_NEAR(rig.state(0).position.load(), 8.0, 0.05);
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
    }
    {
        // Outgoing deck at 61 s, downbeat at 64 s; a jump back of 8 s before it.
        MixRig rig(70.0, 300.0);
        rig.transition->setBars(32);
        rig.playDeck1From(61.0);
        rig.transition->mix(1);
        rig.run(2.0 / 60.0);
        ASSERT_EQ(rig.kind(), Kind::waitingDownbeat);
        ASSERT_DOUBLE_EQ(rig.transition->phase().value, 64.0);
        rig.deck(0).setBeatJumpBeats(16.0);
        rig.deck(0).beatJump(-1.0);
        rig.run(2.0 / 60.0);
        ASSERT_LT(rig.state(0).position.load(), 54.0);
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing; }, 12.0));
        EXPECT_EQ(rig.transition->phase().value, 0.0);
        EXPECT_NEAR(rig.state(0).position.load(), 64.0, 0.05) << "the mix starts on the phrase, not mid-phrase";
    }
}

// A downbeat beyond the end of the outgoing record's music would never come:
// in its last four bars the mix begins (on the bar line that leaves four bars,
// or at once) and runs in the music left, so deck 2 is up when deck 1 ends.
TEST(TransitionModelTest, ADownbeatBeyondTheRecordsEndMixesInItsLastBars)
{
    for (const double playhead : {25.0, 18.0}) {
        SCOPED_TRACE(playhead);
        MixRig rig(30.0, 300.0);
        rig.transition->setStyle(TransitionStyle::fade);
        rig.transition->setBars(16); // 16-bar phrases: the next one lies at 32 s, past the 30 s record
        rig.playDeck1From(playhead);
        rig.transition->mix(1);
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing; }, 8.0))
            << rig.transition->note().value_or(QString()).toStdString();
        const double began = rig.state(0).position.load();
        if (playhead == 25.0)
            EXPECT_LT(began, 25.2) << "less than four bars left: at once";
        else
            EXPECT_NEAR(began, 22.0, 0.05) << "on the bar line four bars before the end";
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 30.0 - began + 0.2));
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
        EXPECT_FALSE(rig.transition->note());
        EXPECT_GT(rig.state(0).position.load(), 29.8) << "completes as deck 1's music ends";
    }
}

// A record shorter than the wait and the mix comes in: the mix begins at the
// outgoing deck's next bar line rather than at a phrase half the record away,
// and is cut to half its music, so the room hears it up, not played out under
// the mix at a fraction of its level. A record of ordinary length, a looped
// one, one playing in reverse (away from its end) and one with less than
// eight bars left wait for the phrase as before;
// the last plays out under the wait and the outgoing record keeps the room.
TEST(TransitionModelTest, AShortIncomingRecordIsUpForItsSecondHalf)
{
    enum class Incoming { shortRecord, ordinary, looped, reversed, almostOver };
    for (const Incoming incoming :
         {Incoming::shortRecord, Incoming::ordinary, Incoming::looped, Incoming::reversed, Incoming::almostOver}) {
        SCOPED_TRACE(int(incoming));
        MixRig rig(120.0);
        rig.b = rig.drumTrack(QStringLiteral("incoming"), incoming == Incoming::ordinary ? 120.0 : 24.0);
        rig.load(1, rig.b);
        if (incoming == Incoming::almostOver) {
            rig.engine->deck(1)->send(DeckCommand::seek(18.0));
            rig.render(64);
        }
        if (incoming == Incoming::looped) {
            rig.engine->deck(1)->send(DeckCommand::setLoop(0.0, 8.0, true));
            rig.render(64);
        }
        if (incoming == Incoming::reversed) { // 18 s from its end, 6 s from its start
            rig.engine->deck(1)->send(DeckCommand::seek(6.0));
            rig.deck(1).setReverse(true);
            rig.render(64);
        }
        rig.transition->setStyle(TransitionStyle::fade);
        rig.transition->setBars(16); // 32 s of mix; the phrase after 5.3 s lies at 32 s
        rig.playDeck1From(5.3);
        rig.transition->mix(1);
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::waitingDownbeat || rig.kind() == Kind::mixing; }, 2.0));
        if (incoming == Incoming::almostOver) {
            ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 10.0));
            EXPECT_EQ(rig.mixer.crossfader(), -1.0) << "the outgoing record keeps the room";
            EXPECT_TRUE(rig.state(0).playing.load());
            continue;
        }
        if (incoming != Incoming::shortRecord) {
            rig.run(2.0);
            EXPECT_EQ(rig.kind(), Kind::waitingDownbeat) << "waits for its phrase";
            continue;
        }
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::waitingDownbeat; }, 0.5));
        ASSERT_TRUE(rig.transition->waiting());
        EXPECT_FALSE(rig.transition->waiting()->onPhrase) << "the bar line is not the phrase";
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing; }, 1.5)) << "waited for the phrase";
        EXPECT_NEAR(rig.state(0).position.load(), 6.0, 0.05) << "on the next bar line";
        const double began = rig.state(1).position.load();
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 24.0));
        EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::completed);
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
        EXPECT_TRUE(rig.state(1).playing.load());
        EXPECT_LT(rig.state(1).position.load(), began + (24.0 - began) / 2.0 + 0.2);
    }
}

// Both records play out inside the mix, the incoming one first: once the
// outgoing deck stops too no playhead moves the clock, and the mix, cut to the
// outgoing record's music, is over and hands the room to the incoming deck.
// Both decks stopped short of their ends (by hand) hold it instead.
TEST(TransitionModelTest, AMixWhoseRecordsBothPlayOutEnds)
{
    for (const bool byHand : {false, true}) {
        SCOPED_TRACE(byHand);
        MixRig rig;
        rig.transition->setStyle(TransitionStyle::fade);
        rig.transition->setBars(16);
        rig.playDeck1From(28.91);
        rig.engine->deck(1)->send(DeckCommand::seek(29.3));
        rig.render(64);
        rig.transition->mix(1);
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing; }, 1.0));
        if (byHand) {
            rig.run(0.2);
            rig.deck(0).playPause();
            rig.deck(1).playPause();
            rig.run(2.0);
            EXPECT_EQ(rig.kind(), Kind::mixing) << "held until a deck plays again";
            continue;
        }
        ASSERT_TRUE(rig.runUntil([&] { return !rig.state(0).playing.load() && !rig.state(1).playing.load(); }, 2.0));
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 0.1));
        EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::completed);
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
        rig.expectRestored();
    }
}

// A take swapped in under either deck at any point of a mix, or taking the
// deck over (its playhead moves back by the swap's offset, or to the take's
// time of the music heard), or both in one render, with the outgoing deck
// playing or stopping early in the mix: the progress runs on across the swap,
// neither back nor ahead, and the mix ends at 1 after its length of music.
TEST(TransitionModelTest, ASwapUnderEitherDeckNeverSetsTheMixBack)
{
    enum class Outgoing { playing, stopsEarly };
    enum class Splice { swap, takeOver, both };
    for (const Splice splice : {Splice::swap, Splice::takeOver, Splice::both})
        for (const Outgoing outgoing : {Outgoing::playing, Outgoing::stopsEarly})
            for (const int swapped : {1, 0})
                for (const double at : {0.1, 0.5, 0.9}) {
                    if (outgoing != Outgoing::playing && swapped == 0)
                        continue; // a stopped deck's playhead does not drive the mix
                    SCOPED_TRACE(testing::Message() << "splice " << int(splice) << ", outgoing " << int(outgoing)
                                                    << ", on deck " << swapped + 1 << " at " << at);
                    MixRig rig;
                    rig.transition->setStyle(TransitionStyle::fade);
                    std::vector<double> seen;
                    rig.recordProgress(seen);
                    rig.playDeck1();
                    // Deck 2 well into its record, so that a swap moves it back by the full offset.
                    rig.engine->deck(1)->send(DeckCommand::seek(12.0));
                    rig.render(64);
                    rig.transition->mix(1);
                    const auto reached = [&](double p) {
                        return rig.kind() == Kind::mixing && rig.transition->phase().value >= p;
                    };
                    if (outgoing == Outgoing::stopsEarly) {
                        ASSERT_TRUE(rig.runUntil([&] { return reached(0.05); }, 10));
                        rig.deck(0).playPause();
                    }
                    ASSERT_TRUE(rig.runUntil([&] { return reached(at); }, 10));
                    const double positionBefore = rig.state(swapped).position.load();
                    DeckModel& deck = rig.deck(swapped);
                    if (splice != Splice::takeOver) {
                        ASSERT_TRUE(deck.swapIn(*deck.track(), deck.buffer(), deck.waveform(), 3.0));
                    }
                    if (splice != Splice::swap) // the same music 3 s on in the buffer: at the swap's, 3 s back again
                        deck.takeOver(*deck.track(), deck.buffer(), *deck.waveform(),
                                      positionBefore - (splice == Splice::both ? 6.0 : 3.0));
                    rig.run(2.0 / 60.0);
                    ASSERT_LT(rig.state(swapped).position.load(), positionBefore - 2.5)
                        << "the swap moved the playhead";

                    // Whatever was left of the two bars (4 s), and a frame or two.
                    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 4.0 * (1.0 - at) + 0.2));
                    ASSERT_FALSE(seen.empty());
                    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
                    // No jump either way: a frame moves two bars (4 s) by a 240th.
                    for (std::size_t i = 1; i < seen.size(); ++i)
                        EXPECT_LT(seen[i] - seen[i - 1], 2.5 / 240.0) << "at " << seen[i - 1];
                    EXPECT_EQ(seen.back(), 1.0);
                    EXPECT_EQ(rig.mixer.crossfader(), 1.0);
                    EXPECT_FALSE(rig.transition->note());
                }
}

// A mix driven by the incoming deck, after swaps on it, across an engine
// rebuild (a device change: every deck starts over on a new voice, parked on
// its cue point): the progress stays where it stood, runs on when the deck
// plays again, and the mix ends at 1 after the rest of its music.
TEST(TransitionModelTest, AMixAcrossAnEngineRebuildKeepsItsProgress)
{
    MixRig rig;
    rig.transition->setStyle(TransitionStyle::fade);
    std::vector<double> seen;
    rig.recordProgress(seen);
    rig.engine->deck(1)->send(DeckCommand::seek(12.0));
    rig.render(64);
    rig.playDeck1();
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing && rig.transition->phase().value >= 0.1; }, 10));
    rig.engine->deck(0)->send(DeckCommand::pause()); // from here the incoming deck drives the mix
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing && rig.transition->phase().value >= 0.2; }, 10));
    DeckModel& deck = rig.deck(1);
    for (int swap = 0; swap < 3; ++swap) {
        ASSERT_TRUE(deck.swapIn(*deck.track(), deck.buffer(), deck.waveform(), 2.0));
        rig.run(0.1);
    }
    const double before = rig.transition->phase().value;
    ASSERT_GT(rig.engine->deck(1)->state().timeline().swapShift, 5.9);

    rig.rebuildEngine(48000.0);
    rig.run(0.2);
    ASSERT_EQ(rig.kind(), Kind::mixing);
    ASSERT_FALSE(rig.state(1).playing.load()) << "parked on its cue point";
    EXPECT_NEAR(rig.transition->phase().value, before, 0.02);

    deck.playPause();
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 4.0 * (1.0 - before) + 0.5));
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 1.0);
    EXPECT_EQ(rig.mixer.crossfader(), 1.0);
}

// An engine rebuilt mid-mix, and a tick of the mix between the new voice
// taking its track (`loaded`) and publishing the position it parks at: the
// clock waits for that position rather than taking the 0 before it, so the
// mix neither jumps on by the cue's time nor reads it in the guide's count.
TEST(TransitionModelTest, ANewVoiceCountsFromItsFirstPublishedPosition)
{
    MixRig rig;
    rig.transition->setStyle(TransitionStyle::fade);
    rig.engine->deck(1)->send(DeckCommand::seek(12.0));
    rig.render(64);
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing && rig.transition->phase().value >= 0.2; }, 10));
    const double before = rig.transition->phase().value;

    rig.rebuildEngine(48000.0);
    // The new voice parks 20 s in; as its first render carries out the load,
    // a tick comes before the render publishes the position.
    rig.engine->deck(1)->send(DeckCommand::seek(20.0));
    const_cast<DeckState&>(rig.engine->deck(1)->state()).loaded.store(true);
    rig.clock.advance(TransitionModel::kFrameInterval);
    rig.run(0.2);
    ASSERT_EQ(rig.kind(), Kind::mixing);
    EXPECT_NEAR(rig.state(1).position.load(), 20.0, 0.01);
    EXPECT_NEAR(rig.transition->phase().value, before, 0.02) << "the mix jumped on";
    EXPECT_FALSE(rig.state(1).playing.load());
}

TEST(TransitionModelTest, CallingAMixOffRestoresAndStartsNothing)
{
    MixRig rig;
    rig.transition->setBars(0);
    rig.transition->setStyle(TransitionStyle::filter);
    rig.playDeck1();
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing && rig.transition->phase().value > 0; }, 10));
    rig.transition->mix(1);
    EXPECT_EQ(rig.kind(), Kind::idle);
    rig.expectRestored();
    EXPECT_TRUE(rig.mixer.channel(1).sync());
    rig.run(0.2);
    EXPECT_EQ(rig.kind(), Kind::idle);
    EXPECT_TRUE(rig.state(1).playing.load());

    // Bars 0: the shortest mix takes 0.1 s of clock time after the downbeat.
    rig.mixer.setCrossfader(-1.0);
    rig.deck(1).playPause();
    rig.run(0.1);
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing; }, 10));
    const double start = rig.state(0).position.load();
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 1));
    EXPECT_NEAR(rig.state(0).position.load() - start, 0.1, 2.0 / 60.0);
}

TEST(TransitionModelTest, AnEmptyIncomingVoiceAbandonsTheMixQuietly)
{
    MixRig rig;
    rig.playDeck1();
    rig.engine->deck(1)->send(DeckCommand::load(TrackBufferRef(), false));
    rig.render(64);
    ASSERT_FALSE(rig.state(1).loaded.load());
    rig.mixer.setCrossfader(-0.5);
    rig.transition->mix(1);
    rig.run(3.0 / 60.0);
    EXPECT_EQ(rig.kind(), Kind::idle);
    EXPECT_FALSE(rig.transition->note());
    EXPECT_EQ(rig.mixer.crossfader(), -0.5);
    EXPECT_EQ(rig.mixer.channel(0).low(), 0.1);
}

// A record that has played out cannot be started: the mix is given up quietly
// instead of waiting for it for good.
TEST(TransitionModelTest, AMixOntoAPlayedOutDeckIsAbandoned)
{
    MixRig rig;
    rig.playDeck1();
    rig.engine->deck(1)->send(DeckCommand::seek(30.0));
    rig.render(64);
    ASSERT_GE(rig.state(1).position.load(), 30.0 - TransitionModel::kPlayedOut);
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 0.5));
    EXPECT_FALSE(rig.transition->note());
    EXPECT_EQ(rig.mixer.crossfader(), -1.0);
    rig.expectRestored();
}

TEST(TransitionModelTest, AnAllowedDropStartsDeck2AtItsSeam)
{
    MixRig rig;
    rig.playDeck1();
    rig.outpaint.status = DropStatus::waiting(0.5);
    rig.outpaint.onDrop = [&rig] { rig.params().dropOffset.store(rig.state(0).position.load() + 0.5); };
    rig.transition->mix(1);
    EXPECT_EQ(rig.outpaint.drops, 1);
    EXPECT_EQ(rig.params().alignStart.load(), -1);
    rig.run(0.25);
    EXPECT_EQ(rig.kind(), Kind::starting) << "waits while the drop is armed";
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::waitingDownbeat; }, 1.0));
    EXPECT_TRUE(rig.state(1).playing.load());
}

TEST(TransitionModelTest, AnUnusableOutgoingGridMixesOnTheIncomingDecksBars)
{
    // Tempo 0, a non-finite tempo or no beats in a bar would put the downbeat at
    // infinity or NaN: the mix must run as if deck 1 had no grid.
    for (const BeatGrid grid : {BeatGrid(0, 0, 4), BeatGrid(std::numeric_limits<double>::infinity(), 0, 4),
                                BeatGrid(120, 0, 0)}) {
        SCOPED_TRACE(grid.bpm);
        MixRig rig;
        TrackRecord broken = rig.a;
        broken.grid = grid;
        rig.load(0, broken);
        rig.playDeck1();
        rig.transition->setStyle(TransitionStyle::fade);
        rig.transition->mix(1);
        // Two bars of deck 2's 120 bpm grid, on deck 2's clock.
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::mixing; }, 2.0));
        const double start = rig.state(1).position.load();
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 6.0));
        EXPECT_NEAR(rig.state(1).position.load() - start, 4.0, 0.1);
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
    }
}

// The MIX key calling off a mix that has not started its incoming deck takes
// back the start it asked for: neither the aligned start nor the take's drop,
// rendered after the key, starts the deck behind the crossfader.
TEST(TransitionModelTest, AMixCalledOffBeforeItsDeckStartsStartsNothingAfterwards)
{
    {
        SCOPED_TRACE("the aligned start, not yet rendered");
        MixRig rig;
        rig.playDeck1();
        rig.transition->mix(1);
        ASSERT_EQ(rig.kind(), Kind::starting);
        ASSERT_EQ(rig.params().alignStart.load(), 1);
        rig.transition->mix(1);
        EXPECT_EQ(rig.kind(), Kind::idle);
        rig.run(0.5);
        EXPECT_FALSE(rig.state(1).playing.load());
        EXPECT_EQ(rig.kind(), Kind::idle);
    }
    {
        SCOPED_TRACE("the take's drop, armed ahead of its seam");
        MixRig rig;
        rig.playDeck1();
        rig.outpaint.status = DropStatus::waiting(0.5);
        rig.outpaint.onDrop = [&rig] { rig.params().dropOffset.store(rig.state(0).position.load() + 0.5); };
        rig.transition->mix(1);
        rig.run(0.25);
        ASSERT_EQ(rig.kind(), Kind::starting);
        rig.transition->mix(1);
        EXPECT_EQ(rig.kind(), Kind::idle);
        EXPECT_FALSE(rig.mixer.dropArmed());
        rig.run(1.0);
        EXPECT_FALSE(rig.state(1).playing.load()) << "the drop fired after the mix was called off";
    }
}

// A record loaded over the incoming deck before the mix started it: the mix is
// called off as one before its downbeat is, and the drop armed for the take
// never starts the new record, whether it lands from a decode a few frames on
// or is installed and rendered before the next frame. The new record stands
// on the deck; a mix begun while the take was still loading onto the deck
// goes on with it. A load over the take that is over before the next frame
// (a file that fails at once, a load called off, the take loaded again) calls
// the mix off too: its drop was taken back as the load began, and the take is
// not started out of place in its stead.
TEST(TransitionModelTest, ARecordLoadedOverTheTakeBeforeItDropsCallsTheMixOff)
{
    enum class Over { load, installRenderedAtOnce, theTakeItself, failsAtOnce, calledOff, theTakeAgainAtOnce };
    for (const Over over : {Over::load, Over::installRenderedAtOnce, Over::theTakeItself, Over::failsAtOnce,
                            Over::calledOff, Over::theTakeAgainAtOnce}) {
        SCOPED_TRACE(int(over));
        MixRig rig;
        const TrackRecord c = rig.drumTrack(QStringLiteral("c"), 30.0);
        TrackRecord gone = c;
        gone.id = QUuid::createUuid();
        gone.path = rig.home.file(QStringLiteral("no-such-file.wav"));
        rig.load(2, c);
        rig.playDeck1();
        rig.outpaint.status = DropStatus::waiting(1.0);
        rig.outpaint.onDrop = [&rig] { rig.params().dropOffset.store(rig.state(0).position.load() + 1.0); };
        rig.transition->mix(1);
        rig.run(0.1);
        ASSERT_EQ(rig.kind(), Kind::starting);
        ASSERT_TRUE(rig.mixer.dropArmed());
        switch (over) {
        case Over::load: rig.load(1, c); break;
        case Over::installRenderedAtOnce:
            rig.deck(1).install(c, rig.deck(2).buffer(), nullptr, false);
            rig.render(48000); // past the drop point before the next frame
            break;
        case Over::theTakeItself: rig.load(1, rig.b); break;
        case Over::failsAtOnce:
            rig.deck(1).load(gone);
            ASSERT_TRUE(spinUntil([&] { return !rig.deck(1).loading(); }, 5.0));
            break;
        case Over::calledOff:
            rig.deck(1).load(c);
            rig.deck(1).cancelLoad();
            break;
        case Over::theTakeAgainAtOnce:
            rig.deck(1).load(c);
            rig.load(1, rig.b);
            break;
        }
        if (over == Over::theTakeItself) {
            ASSERT_TRUE(rig.runUntil([&] { return rig.kind() != Kind::starting; }, 2.0));
            EXPECT_TRUE(rig.state(1).playing.load()) << "the take reloaded is still the mix's";
            continue;
        }
        EXPECT_FALSE(rig.state(1).playing.load()) << "the drop started the record loaded over the take";
        rig.run(1.0 / 60.0);
        EXPECT_EQ(rig.kind(), Kind::idle);
        EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::deckStopped);
        EXPECT_FALSE(rig.mixer.dropArmed());
        rig.run(2.0);
        EXPECT_FALSE(rig.state(1).playing.load()) << "the drop started the record loaded over the take";
        const bool cLanded = over == Over::load || over == Over::installRenderedAtOnce;
        EXPECT_EQ(rig.deck(1).track()->id, cLanded ? c.id : rig.b.id);
        EXPECT_EQ(rig.mixer.crossfader(), -1.0);
        rig.expectRestored();
    }
}

// The MIX key onto deck 2 while a fork of the mix is ready: the drop puts the
// fork on the deck, playing, and that is the record the mix brings in.
TEST(TransitionModelTest, AMixOntoAReadyForkBringsTheForkIn)
{
    MixRig rig;
    const TrackRecord fork = rig.drumTrack(QStringLiteral("fork"), 30.0);
    rig.load(2, fork);
    rig.playDeck1();
    rig.outpaint.status = DropStatus::ready(0.5);
    rig.outpaint.onDrop = [&rig, &fork] { rig.deck(1).takeOver(fork, rig.deck(2).buffer(), WaveformData{}, 0.5); };
    rig.transition->mix(1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 20.0));
    EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::completed);
    EXPECT_EQ(rig.mixer.crossfader(), 1.0);
    EXPECT_EQ(rig.deck(1).track()->id, fork.id);
}

// The take's drop asked of an engine replaced before it rendered it, or
// rendered as a cue only (deck 1 stood for that render): the mix does not
// wait at its start for good. The drop goes to the new engine once deck 1
// plays on there; a deck the drop only cued is started in phase two bars on;
// with deck 1 standing after the rebuild, the mix ends two bars on.
TEST(TransitionModelTest, AMixWhoseStartWasLostStartsOrEndsWithinBars)
{
    enum class Lost { withTheEngine, toACue, withTheEngineDeck1Stands };
    for (const Lost lost : {Lost::withTheEngine, Lost::toACue, Lost::withTheEngineDeck1Stands}) {
        SCOPED_TRACE(int(lost));
        MixRig rig;
        rig.playDeck1();
        rig.outpaint.status = DropStatus::waiting(0.25);
        rig.outpaint.onDrop = [&rig] { rig.params().dropOffset.store(rig.state(0).position.load() + 0.25); };
        rig.transition->mix(1);
        ASSERT_EQ(rig.kind(), Kind::starting);
        if (lost == Lost::toACue) {
            rig.engine->deck(0)->send(DeckCommand::pause());
            rig.render(64);
            rig.render(64);
            ASSERT_FALSE(rig.mixer.dropArmed());
            rig.engine->deck(0)->send(DeckCommand::play());
        } else {
            rig.rebuildEngine(48000.0);
            rig.run(0.2);
            if (lost == Lost::withTheEngine)
                rig.deck(0).playPause(); // the play-on
        }
        const double bar = 2.0;
        const bool starts = rig.runUntil([&] { return rig.state(1).playing.load() || rig.kind() == Kind::idle; },
                                         (lost == Lost::withTheEngine ? 1.0 : TransitionModel::kStartGraceBars + 0.5) * bar);
        ASSERT_TRUE(starts) << "still starting";
        if (lost == Lost::withTheEngineDeck1Stands) {
            EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::couldNotStart);
            EXPECT_FALSE(rig.mixer.dropArmed());
            rig.run(1.0);
            EXPECT_FALSE(rig.state(1).playing.load()) << "started after the mix ended";
            continue;
        }
        EXPECT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 12.0));
        EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::completed);
    }
}

// The MIX key onto deck 2 while the DJ's record loads over the take it
// holds, the take ready to drop in: the record on its way is the one the mix
// brings in, in phase once it lands. Neither the take nor, once it lands,
// the new record plays from the take's drop point. A load that fails leaves
// the take, which then drops in as the mix would have dropped it at once;
// one that never ends does not hold the mix for good.
TEST(TransitionModelTest, AMixWhileAnotherRecordLoadsOntoTheTakeBringsThatRecordIn)
{
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails);
        MixRig rig;
        const TrackRecord c = rig.drumTrack(QStringLiteral("c"), 30.0);
        TrackRecord gone = c;
        gone.id = QUuid::createUuid();
        gone.path = rig.home.file(QStringLiteral("no-such-file.wav"));
        rig.playDeck1(2.0);
        rig.outpaint.status = DropStatus::ready(0.5);
        rig.outpaint.onDrop = [&rig] { rig.params().dropOffset.store(rig.state(0).position.load() - 5.0); };
        rig.deck(1).load(fails ? gone : c);
        rig.transition->mix(1);
        rig.run(0.2);
        EXPECT_FALSE(rig.state(1).playing.load()) << "the take about to be replaced started";
        EXPECT_FALSE(rig.mixer.dropArmed());
        ASSERT_TRUE(spinUntil([&] { return !rig.deck(1).loading(); }, 5.0));
        ASSERT_TRUE(rig.runUntil([&] { return rig.state(1).playing.load(); }, 0.5));
        if (fails)
            EXPECT_NEAR(rig.state(1).position.load(), 5.0, 0.2) << "the take left on the deck drops in";
        else
            EXPECT_LT(rig.state(1).position.load(), 2.5) << "the new record started from the take's drop point";
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 20.0));
        EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::completed);
        EXPECT_EQ(rig.deck(1).track()->id, fails ? rig.b.id : c.id);
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
    }
    {
        // The load fails and the drop of a ready fork of the mix puts the
        // fork on deck 2: that is the mix's record, not one loaded over it.
        MixRig rig;
        const TrackRecord fork = rig.drumTrack(QStringLiteral("fork"), 30.0);
        TrackRecord gone = fork;
        gone.id = QUuid::createUuid();
        gone.path = rig.home.file(QStringLiteral("no-such-file.wav"));
        rig.load(2, fork);
        rig.playDeck1(2.0);
        rig.outpaint.status = DropStatus::ready(0.5);
        rig.outpaint.onDrop = [&rig, &fork] { rig.deck(1).takeOver(fork, rig.deck(2).buffer(), WaveformData{}, 0.5); };
        rig.deck(1).load(gone);
        rig.transition->mix(1);
        ASSERT_TRUE(spinUntil([&] { return !rig.deck(1).loading(); }, 5.0));
        ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 20.0));
        EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::completed);
        EXPECT_EQ(rig.mixer.crossfader(), 1.0);
        EXPECT_EQ(rig.deck(1).track()->id, fork.id);
    }
    // A read that never ends: the mix waits eight bars for the record, then
    // ends, and deck 2 has played nothing.
    MixRig rig;
    const TrackRecord c = rig.drumTrack(QStringLiteral("c"), 30.0);
    rig.playDeck1(2.0);
    rig.deck(1).setDecoder([](const QString&, double, std::stop_token stop) -> TrackBufferRef {
        while (!stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return TrackBufferRef();
    });
    rig.deck(1).load(c);
    rig.transition->mix(1);
    rig.run(15.0);
    EXPECT_EQ(rig.kind(), Kind::starting) << "a slow record is worth the wait";
    ASSERT_TRUE(rig.runUntil([&] { return rig.kind() == Kind::idle; }, 2.0));
    EXPECT_EQ(rig.transition->lastEnding(), TransitionModel::Ending::couldNotStart);
    EXPECT_FALSE(rig.state(1).playing.load());
    EXPECT_TRUE(rig.state(0).playing.load());
    EXPECT_TRUE(rig.deck(1).loading());
    rig.deck(1).cancelLoad();
}
