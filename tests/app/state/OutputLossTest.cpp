// A sound card that goes away in the middle of a set, or an output restarted
// under it: what the program plays on, and what flow and the transition do
// while nothing renders.
#include "AppTestSupport.h"
#include "FlowSupport.h"
#include "audio/AudioIO.h"
#include "audio/DeckCommand.h"
#include "audio/DeckState.h"
#include "audio/DeckVoice.h"
#include "audio/MixerParams.h"
#include "library/AudioFileIO.h"
#include "library/LibraryStore.h"
#include "library/OutpaintInfo.h"
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"
#include "library/WaveformData.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "platform/FakeAudioBackend.h"

#include <QString>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {
namespace {

using Kind = TransitionModel::Phase::Kind;
using test::playing;
using test::SetRig;

// Both decks loaded, the third record queued and flow on: where the restart
// cases start from.
void loadBothWithFlowOn(SetRig& set)
{
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.app.setQueue({set[2].id});
    set.app.setAutoQueue(true);
}

// Restarts the output (a new buffer size) before the next render, and waits
// with the clock held until the new one runs.
void restartNow(SetRig& set)
{
    AppModel& app = set.app;
    const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
    app.audio().setBufferFrames(app.audio().bufferFrames() == 512 ? 1024 : 512);
    ASSERT_TRUE(test::spinUntil([&] {
        return app.deck(0).voice() && app.deck(0).voice() != before && app.audio().io()
            && app.audio().io()->running();
    }));
}

bool holdsRecord(AppModel& app, int deck, const TrackRecord& record)
{
    const std::optional<TrackRecord>& track = app.deck(deck).track();
    return track && track->id == record.id;
}

bool noted(const SetRig& set, const QString& line)
{
    return set.notes().contains(line);
}

// The card is pulled out while a mix waits for its downbeat. From its first
// failed write the output no longer counts as running: the decks, which stop
// moving, do not call the mix off and flow writes nothing of its own. The
// output comes back on the built-in device and the mix completes there.
TEST(OutputLoss, ACardPulledOutBeforeTheDownbeatKeepsTheMixAndPlaysOnTheBuiltIn)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    FakeAudioBackend::Device builtIn;
    builtIn.uid = "builtin";
    builtIn.name = "Built-in Output";
    builtIn.transport = transport::builtIn;
    builtIn.nominalSampleRate = test::kSetRate;
    set.rig.backend->addDevice(builtIn);
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::waitingDownbeat; }, 2.0));

    const std::shared_ptr<AudioIO> lost = app.audio().io();
    const qsizetype lines = set.notes().size();
    set.rig.backend->vanishDevice(lost->device().id);
    EXPECT_FALSE(app.audio().outputRunning());
    // Frames pass on an output that renders nothing until the janitor finds it.
    for (int i = 0; i < 60 && app.audio().io() == lost; ++i)
        ASSERT_NO_FATAL_FAILURE(set.frame());
    EXPECT_EQ(app.transition().phase().kind, Kind::waitingDownbeat);
    EXPECT_EQ(set.notes().mid(lines), QStringList()) << set.log();
    ASSERT_TRUE(test::spinUntil([&] { return app.audio().io() && app.audio().io()->running(); }));
    EXPECT_EQ(app.audio().io()->device().uid, "builtin");
    EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 20.0)) << set.log();
}

// An output restarted in the render right after a command: the decks go on
// as they were last asked to, not as the last render left them. A deck flow
// paused after its mix out, or one a hand paused, stays paused while the live
// deck plays on; a record that landed over a playing deck stands at its own
// cue rather than taking the old record's place in it.
TEST(OutputLoss, ARestartResumesWhatTheDecksWereLastAskedToDo)
{
    enum class Case { flowPausedOutgoing, handPaused, landedOverPlaying };
    for (const Case c : {Case::flowPausedOutgoing, Case::handPaused, Case::landedOverPlaying}) {
        SCOPED_TRACE(int(c));
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie"), QStringLiteral("Zulu")},
                   {c == Case::flowPausedOutgoing ? 40.0 : 120.0, 120.0, 120.0, 120.0},
                   c == Case::landedOverPlaying ? 16 : 4);
        AppModel& app = set.app;
        const TrackRecord& zulu = set[3];
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        int paused = 0; // the deck that must stay paused
        if (c == Case::flowPausedOutgoing) {
            // Flow mixes the next record in and pauses Alpha once it is
            // quiet (started again through its voice as the mix completes,
            // so it plays on behind the crossfader); the restart comes before
            // the render that carries the pause out.
            ASSERT_TRUE(set.playUntil([&] { return !set.mixes.empty() && set.mixes.back().completed; }, 60.0))
                << set.log();
            app.deck(0).voice()->send(DeckCommand::seek(20.0));
            app.deck(0).voice()->send(DeckCommand::play());
            ASSERT_TRUE(set.playUntil(
                [&] { return noted(set, QStringLiteral("flow: stopped deck 1 after its mix out")); }, 40.0))
                << set.log();
            ASSERT_TRUE(playing(app, 0));
        } else if (c == Case::handPaused) {
            app.deck(0).playPause();
            ASSERT_TRUE(playing(app, 0));
        } else {
            // Half way through a 32-bar mix, a record lands over the playing
            // incoming deck from the browser: no hand.
            app.transition().mix(1);
            ASSERT_TRUE(set.playUntil(
                [&] { return app.transition().phase().kind == Kind::mixing && app.transition().phase().value >= 0.5; },
                60.0));
            ASSERT_NO_FATAL_FAILURE(test::loadAndWait(app, 1, zulu));
            ASSERT_TRUE(playing(app, 1));
            paused = 1;
        }
        ASSERT_NO_FATAL_FAILURE(restartNow(set));
        // The deck that plays on: none when the hand paused the only one.
        const int live = c == Case::flowPausedOutgoing ? 1 : c == Case::landedOverPlaying ? 0 : -1;
        const qsizetype mixesBefore = qsizetype(set.mixes.size());
        bool playedAgain = false;
        bool liveGoesOn = false;
        std::optional<double> zuluFrom;
        double worst = 0.0;
        set.playUntil(
            [&] {
                if (c == Case::landedOverPlaying) {
                    const std::shared_ptr<DeckVoice> voice = app.deck(1).voice();
                    if (!zuluFrom && voice && holdsRecord(app, 1, zulu) && playing(app, 1))
                        zuluFrom = voice->state().position.load();
                } else {
                    playedAgain = playedAgain || playing(app, paused);
                }
                liveGoesOn = liveGoesOn || (live >= 0 && playing(app, live));
                worst = std::max(worst, set.silentFor);
                return false;
            },
            c == Case::landedOverPlaying ? 40.0 : 8.0);
        EXPECT_TRUE(live < 0 || liveGoesOn) << set.log();
        if (c == Case::landedOverPlaying) {
            ASSERT_TRUE(zuluFrom.has_value()) << set.log();
            EXPECT_LT(*zuluFrom, 2.0) << "from the old record's place: " << set.log();
            EXPECT_LT(worst, 2.0) << set.log();
            continue;
        }
        EXPECT_FALSE(playedAgain) << set.log();
        if (c == Case::flowPausedOutgoing) {
            // Bravo has minutes to go: no next record comes in meanwhile.
            EXPECT_EQ(qsizetype(set.mixes.size()), mixesBefore) << set.log();
            EXPECT_LT(worst, 0.5) << set.log();
        }
    }
}

// A deck started on an output that has not rendered yet (the set's first
// record, the moment the card opened) when the output restarts: it was asked
// to play, so it plays on from where it was sent, at the same rate and once
// its record is decoded again at another.
TEST(OutputLoss, ARestartBeforeTheFirstRenderPlaysTheStartOn)
{
    for (const bool otherRate : {false, true}) {
        SCOPED_TRACE(otherRate);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(loadBothWithFlowOn(set));
        app.deck(0).voice()->send(DeckCommand::seek(30.0));
        app.deck(0).voice()->send(DeckCommand::play());
        if (otherRate)
            ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
        else
            ASSERT_NO_FATAL_FAILURE(restartNow(set));
        ASSERT_TRUE(set.playUntil([&] { return playing(app, 0); }, 3.0)) << set.log();
        EXPECT_NEAR(app.deck(0).voice()->state().position.load(), 30.0, 1.0) << set.log();
        EXPECT_FALSE(set.playUntil([&] { return set.silentFor > 0.5; }, 5.0)) << set.log();
    }
}

// Commands sent after the last render, many or of any kind, before the
// output restarts: the deck plays on where and as it was last asked. A jog
// sends one command per event; a hot cue, a beat jump or a loop moves it.
TEST(OutputLoss, ARestartPlaysOnWhereEveryCommandSentSinceTheLastRenderLeftTheDeck)
{
    struct Case {
        const char* what;
        std::function<void(DeckVoice&)> sendAll;
        double from;
        bool loops = false; // plays on inside the loop 50–54 s
    };
    const std::vector<Case> cases{
        {"a play then 70 jog events", [](DeckVoice& v) {
             v.send(DeckCommand::play());
             for (int i = 0; i < 70; ++i)
                 v.send(DeckCommand::jogScrub(0.001));
         }, 30.0},
        {"a hot cue", [](DeckVoice& v) {
             v.send(DeckCommand::play());
             v.send(DeckCommand::setHotCue(0, 60.0));
             v.send(DeckCommand::hotCue(0, true));
             v.send(DeckCommand::hotCue(0, false));
         }, 60.0},
        {"a beat jump", [](DeckVoice& v) {
             v.send(DeckCommand::beatJump(16.0)); // 8 s at 120 BPM
             v.send(DeckCommand::play());
         }, 38.0},
        {"a loop", [](DeckVoice& v) {
             v.send(DeckCommand::play());
             v.send(DeckCommand::setLoop(50.0, 54.0, true));
         }, 50.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(loadBothWithFlowOn(set));
        app.deck(0).voice()->send(DeckCommand::seek(30.0));
        set.frame();
        ASSERT_FALSE(playing(app, 0));
        c.sendAll(*app.deck(0).voice());
        ASSERT_NO_FATAL_FAILURE(restartNow(set));
        const bool plays = set.playUntil([&] { return playing(app, 0); }, 3.0);
        EXPECT_TRUE(plays) << set.log();
        if (plays) {
            EXPECT_NEAR(app.deck(0).voice()->state().position.load(), c.from, 1.0) << set.log();
        }
        const std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
        if (plays && c.loops && voice) {
            double latest = 0.0;
            set.playUntil(
                [&] {
                    latest = std::max(latest, voice->state().position.load());
                    return false;
                },
                6.0);
            EXPECT_TRUE(voice->state().loopActive.load()) << set.log();
            EXPECT_LT(latest, 54.1) << set.log();
        }
    }
}

// What the DJ set survives a restart at the same rate and at another, also
// when it came in the last buffer before it: a running loop goes on looping,
// a hot cue stored on an empty pad reaches the new voice, the deck and the
// library; a CUE, a hot cue or a platter held through it stays held, so
// letting go does what it would have done on the old output, also when the
// hand lets go while the record is still decoding for another rate.
TEST(OutputLoss, ARestartKeepsTheLoopsCuesAndHoldsTheDjSet)
{
    enum class Hold { none, cue, hotCue, platter };
    enum class Restart { sameRate, otherRate, cardGone };
    struct Case {
        const char* what;
        Hold hold;
        Restart restart;
        bool letGoDuringReload = false;
    };
    const std::vector<Case> cases{
        {"a loop and a new hot cue", Hold::none, Restart::sameRate},
        {"a loop and a new hot cue, at another rate", Hold::none, Restart::otherRate},
        {"a loop, and a hot cue stored while no output runs", Hold::none, Restart::cardGone},
        {"CUE held", Hold::cue, Restart::sameRate},
        {"a hot cue held", Hold::hotCue, Restart::sameRate},
        {"the platter held", Hold::platter, Restart::sameRate},
        {"CUE held, at another rate", Hold::cue, Restart::otherRate},
        {"a hot cue held, at another rate", Hold::hotCue, Restart::otherRate},
        {"the platter held, at another rate", Hold::platter, Restart::otherRate},
        {"CUE let go while the record decodes again", Hold::cue, Restart::otherRate, true},
        {"a hot cue let go while the record decodes again", Hold::hotCue, Restart::otherRate, true},
        {"the platter let go while the record decodes again", Hold::platter, Restart::otherRate, true},
    };
    constexpr int kPad = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(loadBothWithFlowOn(set));
        std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
        const double cuePoint = app.deck(0).track()->cuePoint;
        double heldFrom = 0.0; // where the hold returns on release
        switch (c.hold) {
        case Hold::none:
            voice->send(DeckCommand::seek(50.0));
            voice->send(DeckCommand::play());
            voice->send(DeckCommand::setLoop(50.0, 54.0, true));
            set.playUntil([] { return false; }, 1.0);
            ASSERT_TRUE(voice->state().loopActive.load());
            if (c.restart == Restart::cardGone)
                break; // pressed once the output is gone
            // Pressed on an empty pad in the buffer before the restart.
            voice->send(DeckCommand::hotCue(kPad, true));
            voice->send(DeckCommand::hotCue(kPad, false));
            break;
        case Hold::cue:
            voice->send(DeckCommand::cue(true));
            heldFrom = cuePoint;
            break;
        case Hold::hotCue:
            voice->send(DeckCommand::seek(30.0));
            set.frame();
            voice->send(DeckCommand::hotCue(kPad, true));
            voice->send(DeckCommand::hotCue(kPad, false));
            voice->send(DeckCommand::seek(40.0));
            set.frame();
            heldFrom = voice->state().hotCues[kPad].load();
            ASSERT_NEAR(heldFrom, 30.0, 0.5);
            voice->send(DeckCommand::hotCue(kPad, true));
            break;
        case Hold::platter:
            voice->send(DeckCommand::seek(30.0));
            voice->send(DeckCommand::play());
            set.playUntil([] { return false; }, 1.0);
            voice->send(DeckCommand::jogTouch(true));
            break;
        }
        if (c.hold != Hold::none) {
            set.playUntil([] { return false; }, 1.0);
            ASSERT_TRUE(playing(app, 0));
        }
        const double before = voice->state().position.load();
        if (c.restart == Restart::otherRate) {
            // The record takes a while to decode again.
            if (c.hold != Hold::none)
                set.useSlowDisk([] { return 0.5; });
            ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
            if (c.letGoDuringReload) {
                voice = app.deck(0).voice();
                // The reload begins once the event loop has run the attach's call.
                ASSERT_TRUE(test::spinUntil([&] { return app.deck(0).loading(); }));
                voice->send(c.hold == Hold::cue      ? DeckCommand::cue(false)
                                : c.hold == Hold::hotCue ? DeckCommand::hotCue(kPad, false)
                                                         : DeckCommand::jogTouch(false));
                set.playUntil([&] { return !app.deck(0).loading(); }, 3.0);
                set.playUntil([] { return false; }, 1.0);
                const DeckState& state = app.deck(0).voice()->state();
                EXPECT_FALSE(state.cueing.load()) << set.log();
                EXPECT_FALSE(state.jogTouched.load()) << set.log();
                if (c.hold == Hold::platter) {
                    // Let go: the record plays on from where the hand left it.
                    EXPECT_TRUE(playing(app, 0)) << set.log();
                    EXPECT_NEAR(state.position.load(), before + 1.0, 0.6) << set.log();
                } else {
                    // Let go: the preview ended where it began.
                    EXPECT_FALSE(playing(app, 0)) << set.log();
                    EXPECT_NEAR(state.position.load(), heldFrom, 0.05) << set.log();
                }
                continue;
            }
        } else if (c.restart == Restart::sameRate) {
            ASSERT_NO_FATAL_FAILURE(restartNow(set));
        } else {
            // The card goes; the pad is pressed on the deck while nothing
            // renders, before the output comes back on the built-in device.
            FakeAudioBackend::Device builtIn;
            builtIn.uid = "builtin";
            builtIn.name = "Built-in Output";
            builtIn.transport = transport::builtIn;
            builtIn.nominalSampleRate = test::kSetRate;
            set.rig.backend->addDevice(builtIn);
            const std::shared_ptr<AudioIO> lost = app.audio().io();
            set.rig.backend->vanishDevice(lost->device().id);
            for (int i = 0; i < 60 && app.audio().io() == lost; ++i)
                ASSERT_NO_FATAL_FAILURE(set.frame());
            ASSERT_EQ(app.audio().io(), nullptr);
            ASSERT_EQ(app.deck(0).voice(), voice);
            voice->send(DeckCommand::hotCue(kPad, true));
            voice->send(DeckCommand::hotCue(kPad, false));
            ASSERT_TRUE(test::spinUntil([&] { return app.audio().io() && app.audio().io()->running(); }));
        }
        ASSERT_TRUE(set.playUntil([&] { return playing(app, 0); }, 4.0)) << set.log();
        voice = app.deck(0).voice();
        ASSERT_TRUE(voice);
        const DeckState& state = voice->state();
        if (c.hold == Hold::none) {
            double earliest = 1e9;
            double latest = 0.0;
            set.playUntil(
                [&] {
                    earliest = std::min(earliest, state.position.load());
                    latest = std::max(latest, state.position.load());
                    return false;
                },
                6.0);
            EXPECT_TRUE(state.loopActive.load()) << set.log();
            EXPECT_NEAR(state.loopStart.load(), 50.0, 1e-6);
            EXPECT_NEAR(state.loopEnd.load(), 54.0, 1e-6);
            EXPECT_GT(earliest, 49.9) << set.log();
            EXPECT_LT(latest, 54.1) << set.log();
            const double stored = state.hotCues[kPad].load();
            EXPECT_NEAR(stored, before, 0.5);
            const std::optional<TrackRecord> kept = app.library().track(set[0].id);
            ASSERT_TRUE(kept.has_value());
            ASSERT_GT(kept->hotCues.size(), std::size_t(kPad));
            EXPECT_TRUE(kept->hotCues[kPad].has_value() && std::abs(*kept->hotCues[kPad] - stored) < 1e-6);
            ASSERT_GT(app.deck(0).track()->hotCues.size(), std::size_t(kPad));
            EXPECT_EQ(app.deck(0).track()->hotCues[kPad], kept->hotCues[kPad]);
            continue;
        }
        if (c.hold == Hold::platter) {
            // The hand stands the record where it held it until it lets go.
            set.playUntil([] { return false; }, 1.0);
            EXPECT_TRUE(state.jogTouched.load());
            EXPECT_NEAR(state.position.load(), before, 0.1) << set.log();
            voice->send(DeckCommand::jogTouch(false));
            set.playUntil([] { return false; }, 1.0);
            EXPECT_TRUE(playing(app, 0));
            EXPECT_NEAR(state.position.load(), before + 1.0, 0.3) << set.log();
            continue;
        }
        // A preview goes on from where it was and ends, let go, where it began.
        EXPECT_TRUE(state.cueing.load()) << set.log();
        EXPECT_NEAR(state.position.load(), before, 0.5) << set.log();
        voice->send(c.hold == Hold::cue ? DeckCommand::cue(false) : DeckCommand::hotCue(kPad, false));
        set.playUntil([] { return false; }, 0.2);
        EXPECT_FALSE(playing(app, 0)) << set.log();
        EXPECT_NEAR(state.position.load(), heldFrom, 0.05) << set.log();
    }
}

// With slip on, a hot cue held or a loop playing lets the music run on
// beneath it; reverse turns the deck. A restart hands the new voice all of
// it but reverse: the music beneath goes on from where it was, a hold let go
// while the record decodes again plays on from there, and the deck plays
// forward and says so.
TEST(OutputLoss, ARestartHandsOverSlipAndPlaysForward)
{
    enum class Diversion { hotCue, loop, reverse };
    struct Case {
        const char* what;
        Diversion diversion;
        bool otherRate;
    };
    const std::vector<Case> cases{
        {"a slip hot cue held, let go while the record decodes again", Diversion::hotCue, true},
        {"a slip hot cue held", Diversion::hotCue, false},
        {"a slip loop", Diversion::loop, false},
        {"reverse", Diversion::reverse, false},
        {"reverse, at another rate", Diversion::reverse, true},
    };
    constexpr int kPad = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(loadBothWithFlowOn(set));
        DeckModel& deck = app.deck(0);
        std::shared_ptr<DeckVoice> voice = deck.voice();
        deck.setSlip(c.diversion != Diversion::reverse);
        voice->send(DeckCommand::setHotCue(kPad, 30.0));
        voice->send(DeckCommand::seek(50.0));
        voice->send(DeckCommand::play());
        set.playUntil([] { return false; }, 1.0);
        switch (c.diversion) {
        case Diversion::hotCue:
            voice->send(DeckCommand::hotCue(kPad, true));
            break;
        case Diversion::loop:
            voice->send(DeckCommand::setLoop(51.0, 53.0, true));
            break;
        case Diversion::reverse:
            deck.setReverse(true);
            break;
        }
        // The music beneath runs 4 s past the diversion: the slip point
        // lies well past what is heard.
        set.playUntil([] { return false; }, 4.0);
        ASSERT_TRUE(playing(app, 0));
        const double slipBefore = voice->state().slipPosition.load();
        if (c.diversion != Diversion::reverse) {
            ASSERT_GT(slipBefore - voice->state().position.load(), 2.0);
        }
        if (c.otherRate) {
            set.useSlowDisk([] { return 0.5; });
            ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
            voice = deck.voice();
            if (c.diversion == Diversion::hotCue) {
                // The reload begins once the event loop has run the attach's call.
                ASSERT_TRUE(test::spinUntil([&] { return deck.loading(); }));
                voice->send(DeckCommand::hotCue(kPad, false));
            }
            ASSERT_TRUE(set.playUntil([&] { return !deck.loading(); }, 3.0));
        } else {
            ASSERT_NO_FATAL_FAILURE(restartNow(set));
            voice = deck.voice();
        }
        if (!set.playUntil([&] { return playing(app, 0); }, 4.0)) {
            ADD_FAILURE() << "the deck stands after the restart\n" << set.log();
            continue;
        }
        const DeckState& state = voice->state();
        if (c.diversion == Diversion::reverse) {
            // What plays and what the deck (and so every lamp) says agree.
            EXPECT_FALSE(deck.reverse());
            EXPECT_FALSE(state.reverseOn.load());
            const double from = state.position.load();
            set.playUntil([] { return false; }, 1.0);
            EXPECT_NEAR(state.position.load() - from, 1.0, 0.2) << set.log();
            continue;
        }
        if (c.otherRate) {
            // Let go while it decoded: it plays on from the slip point.
            const double from = state.position.load();
            EXPECT_NEAR(from, slipBefore, 0.5) << set.log();
            set.playUntil([] { return false; }, 1.0);
            EXPECT_TRUE(playing(app, 0));
            EXPECT_NEAR(state.position.load() - from, 1.0, 0.2) << set.log();
            continue;
        }
        // The music beneath went on from where it was, and comes back there.
        EXPECT_NEAR(state.slipPosition.load(), slipBefore, 0.3) << set.log();
        set.playUntil([] { return false; }, 1.0);
        const double slipNow = state.slipPosition.load();
        EXPECT_NEAR(slipNow, slipBefore + 1.0, 0.3) << set.log();
        voice->send(c.diversion == Diversion::hotCue ? DeckCommand::hotCue(kPad, false) : DeckCommand::reloopExit());
        set.playUntil([] { return false; }, 0.2);
        EXPECT_TRUE(playing(app, 0));
        EXPECT_NEAR(state.position.load(), slipNow + 0.2, 0.15) << set.log();
    }
}

// Flow begins a mix, and the output restarts before it rendered the start of
// the incoming deck: the new output starts that deck (once its record is
// decoded again at another rate) and the mix runs its course, rather than
// standing at its start while the live record plays out.
TEST(OutputLoss, AMixBegunJustBeforeARestartStartsItsIncomingDeck)
{
    for (const bool otherRate : {false, true}) {
        SCOPED_TRACE(otherRate);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        app.transition().mix(1);
        ASSERT_EQ(app.transition().phase().kind, Kind::starting);
        if (otherRate)
            ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
        else
            ASSERT_NO_FATAL_FAILURE(restartNow(set));
        EXPECT_TRUE(set.playUntil([&] { return playing(app, 1); }, 4.0)) << set.log();
        EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 20.0)) << set.log();
    }
}

// A restart excuses no hand: the DJ paused deck 1 while previewing deck 2 in
// the headphones, and five seconds later the output restarted. Deck 2, whose
// play the restart interrupted, plays on behind the crossfader; flow moves
// nothing and its line says it waits.
TEST(OutputLoss, ARestartSoonAfterAHandLeavesTheSetToTheHand)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    app.setQueue({set[2].id});
    set.play(0, 20.0);
    set.play(1, 10.0);
    app.mixer().channel(1).setCue(true);
    app.setAutoQueue(true);
    set.playUntil([] { return false; }, 2.0);
    app.deck(0).playPause();
    set.playUntil([] { return false; }, 5.0);
    ASSERT_FALSE(playing(app, 0));
    ASSERT_NO_FATAL_FAILURE(restartNow(set));
    bool moved = false;
    bool waits = true;
    set.playUntil(
        [&] {
            moved = moved || app.mixer().crossfader() != -1.0 || app.transition().phase().kind != Kind::idle
                || playing(app, 0);
            waits = waits && app.flowLine().startsWith(QStringLiteral("you're driving"));
            return false;
        },
        20.0);
    EXPECT_FALSE(moved) << set.log();
    EXPECT_TRUE(waits) << app.flowLine().toStdString();
    EXPECT_TRUE(playing(app, 1)) << set.log();
}

// The output moves to a card at another rate, and restarts again at that
// rate while the live deck's record is still decoding for it: the deck plays
// on once, from where the move left it, when its record lands, not first from
// the old rate's buffer and then again from the same place.
TEST(OutputLoss, ARestartDuringARateChangesReloadPlaysTheLiveDeckOnOnce)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    set.useSlowDisk([] { return 2.0; });
    ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
    set.playUntil([] { return false; }, 0.5);
    ASSERT_TRUE(app.deck(0).loading());
    ASSERT_NO_FATAL_FAILURE(restartNow(set));
    std::optional<double> last;
    double back = 0.0;
    set.playUntil(
        [&] {
            const std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
            if (!voice || !playing(app, 0))
                return false;
            const double at = voice->state().position.load();
            if (last)
                back = std::max(back, *last - at);
            last = at;
            return false;
        },
        6.0);
    ASSERT_TRUE(last.has_value()) << set.log();
    EXPECT_LT(back, 0.1) << set.log();
    EXPECT_EQ(set.notes().filter(QStringLiteral("deck 1 plays Alpha on")).size(), 1) << set.log();
}

// The chain hands deck 2 the take's next stretch (a swap whose first frame
// lies 16 bars into the old timeline, one that trims nothing, or a take-over
// at the voice's place) and the output restarts before the voice took it, or
// one render after: the take plays on from the point heard, in the stretch's
// own timeline, at the same rate and once decoded again at another.
TEST(OutputLoss, ATakesNextStretchSentJustBeforeARestartPlaysOnFromThePointHeard)
{
    enum class Hand { trimmingSwap, wholeSwap, takeOver };
    for (const Hand hand : {Hand::trimmingSwap, Hand::wholeSwap, Hand::takeOver})
        for (const bool otherRate : {false, true})
            for (const bool taken : {false, true}) {
                if (taken && hand != Hand::trimmingSwap)
                    continue;
                SCOPED_TRACE(testing::Message() << int(hand) << " other rate " << otherRate << " taken " << taken);
                SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")},
                           {120.0, 120.0, 120.0}, 4, test::Drums::barByBar);
                AppModel& app = set.app;
                ASSERT_NO_FATAL_FAILURE(set.loadBoth());
                // A take of Alpha on deck 2, on air.
                const QString takePath = set.rig.home.file(QStringLiteral("take.wav"));
                test::writeBarByBar(takePath, 120.0, 100.0, test::kSetRate);
                const TrackBufferRef takeAudio =
                    AudioFileIO::decode(std::filesystem::path(takePath.toStdString()), app.deck(1).voice()->sampleRate());
                ASSERT_TRUE(takeAudio);
                TrackRecord take = TrackRecord::forFile(takePath, set.rig.scheduler.now());
                take.title = QStringLiteral("Alpha take");
                take.duration = takeAudio->duration();
                take.analyzed = true;
                take.grid = set[0].grid;
                OutpaintInfo info;
                info.sourceID = set[0].id;
                info.sourceTitle = set[0].title;
                info.seam = 32.0;
                info.generations = 1;
                take.outpaint = info;
                app.library().addOutpaint(take, WaveformData{});
                app.deck(1).install(take, takeAudio, std::make_shared<const WaveformData>(), false);
                app.setQueue({set[2].id});
                app.mixer().setCrossfader(1.0);
                set.play(1, 40.0);
                app.setAutoQueue(true);
                set.playUntil([] { return false; }, 2.0);
                ASSERT_TRUE(playing(app, 1)) << set.log();

                // The next stretch holds the same bars from its first frame on,
                // 32 bars longer.
                const double offset = hand == Hand::wholeSwap ? 0.0 : 32.0;
                const QString nextPath = set.rig.home.file(QStringLiteral("take-2.wav"));
                test::writeBarByBar(nextPath, 120.0, 100.0 - offset + 64.0, test::kSetRate);
                const std::shared_ptr<DeckVoice> voice = app.deck(1).voice();
                const TrackBufferRef nextAudio =
                    AudioFileIO::decode(std::filesystem::path(nextPath.toStdString()), voice->sampleRate());
                ASSERT_TRUE(nextAudio);
                TrackRecord next = TrackRecord::forFile(nextPath, set.rig.scheduler.now());
                next.title = take.title;
                next.duration = nextAudio->duration();
                next.analyzed = true;
                next.grid = take.grid->shifted(offset);
                info.seam = 0.0;
                info.sourceOffset = offset;
                info.generations = 2;
                info.segmentOf = take.id;
                next.outpaint = info;
                app.library().addOutpaint(next, WaveformData{});
                const double heard = voice->state().position.load();
                if (hand == Hand::takeOver)
                    app.deck(1).takeOver(next, nextAudio, WaveformData{}, heard - offset);
                else
                    ASSERT_TRUE(app.deck(1).swapIn(next, nextAudio, std::make_shared<const WaveformData>(), offset));
                double played = 0.0;
                if (taken) {
                    const double before = set.played;
                    ASSERT_TRUE(set.playUntil(
                        [&] { return std::abs(voice->state().duration.load() - next.duration) < 0.01; }, 1.0));
                    played = set.played - before;
                }
                if (otherRate)
                    ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
                else
                    ASSERT_NO_FATAL_FAILURE(restartNow(set));
                std::optional<double> from;
                ASSERT_TRUE(set.playUntil(
                    [&] {
                        const std::shared_ptr<DeckVoice> now = app.deck(1).voice();
                        if (now && holdsRecord(app, 1, next) && playing(app, 1) && !app.deck(1).loading())
                            from = now->state().position.load();
                        return from.has_value();
                    },
                    4.0))
                    << set.log();
                EXPECT_NEAR(*from, heard - offset + played, 0.5) << set.log();
                EXPECT_NEAR(app.deck(1).voice()->state().duration.load(), next.duration, 0.05);
            }
}

// Flow is off when the output restarts (at the same rate, or at another, the
// record landing again for it) and the DJ switches it on a moment after the
// deck settles: the deck plays on from where the restart stopped it, as it
// would have with flow on throughout, rather than standing silent. Switched
// on once the deck has stood a while, flow plays nothing on.
TEST(OutputLoss, FlowSwitchedOnJustAfterARestartPlaysTheDeckOn)
{
    for (const bool otherRate : {false, true}) {
        for (const double flowOnAfter : {0.1, 2.0}) {
            SCOPED_TRACE(testing::Message() << "another rate " << otherRate << ", flow on after " << flowOnAfter);
            SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")},
                       {120.0, 120.0, 120.0}, 4);
            AppModel& app = set.app;
            ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
            const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
            ASSERT_TRUE(before);
            const double stood = before->state().position.load();
            app.setAutoQueue(false);
            if (otherRate)
                ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
            else
                ASSERT_NO_FATAL_FAILURE(restartNow(set));
            ASSERT_TRUE(set.playUntil(
                [&] {
                    const DeckModel::Reading reading = app.deck(0).reading();
                    return !reading.stood && !reading.loading();
                },
                3.0))
                << set.log();
            set.playUntil([] { return false; }, flowOnAfter);
            ASSERT_FALSE(playing(app, 0));
            app.setAutoQueue(true);
            const bool playsOn = set.playUntil([&] { return playing(app, 0); }, 0.5);
            if (flowOnAfter < 1.0) {
                EXPECT_TRUE(playsOn) << set.log();
                const std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
                ASSERT_TRUE(voice);
                EXPECT_NEAR(voice->state().position.load(), stood, 1.0) << set.log();
            } else {
                EXPECT_FALSE(playsOn) << set.log();
                EXPECT_FALSE(set.notes().join('\n').contains(QStringLiteral("deck 1 plays Alpha on"))) << set.log();
            }
        }
    }
}

// The output moves to another rate and restarts again at that rate while the
// live deck's record still decodes for it; a hand presses play meanwhile. The
// new voice is never handed the old rate's buffer (whose length in its own
// seconds is not the record's, and which it would play 8.8 % slow), and once
// the record lands the deck plays on, with flow on and off.
TEST(OutputLoss, ARestartAgainDuringTheReloadHandsTheVoiceNoBufferOfTheOldRateAndKeepsAPlayPressed)
{
    for (const bool flowOn : {true, false}) {
        SCOPED_TRACE(testing::Message() << "flow on " << flowOn);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        app.setAutoQueue(flowOn);
        const double length = app.deck(0).buffer()->duration();
        set.useSlowDisk([] { return 2.0; });
        ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
        set.playUntil([] { return false; }, 0.5);
        ASSERT_TRUE(app.deck(0).loading());
        ASSERT_NO_FATAL_FAILURE(restartNow(set));
        app.deck(0).playPause();
        double heldWhileDecoding = 0.0; // seconds the voice held audio while the record decoded
        set.playUntil(
            [&] {
                const std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
                if (voice && voice->state().loaded.load() && app.deck(0).loading())
                    heldWhileDecoding += TransitionModel::kFrameInterval;
                return false;
            },
            6.0);
        EXPECT_EQ(heldWhileDecoding, 0.0) << set.log();
        EXPECT_FALSE(app.deck(0).loading());
        EXPECT_TRUE(playing(app, 0)) << set.log();
        EXPECT_NEAR(app.deck(0).voice()->state().duration.load(), length, 0.05);
    }
}

} // namespace
} // namespace zelvo

namespace zelvo {
namespace {

// The workflow's drop of deck 2's take, `ahead` seconds past where deck 1 is
// heard when the drop is asked.
void dropTakeAhead(SetRig& set, double ahead)
{
    AppModel& app = set.app;
    set.rig.world.dropStatus = DropStatus::waiting(ahead);
    set.rig.world.onDrop = [&app, ahead] {
        const std::shared_ptr<MixerParams> params = app.mixer().params();
        const std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
        if (params && voice)
            params->dropOffset.store(voice->state().position.load() + ahead);
    };
}

// Flow's mix onto the take of deck 1's record on deck 2 arms the take's drop,
// and the output restarts in the same frame, before its engine rendered it
// (at the same rate, and at another): the drop is asked of the new engine
// once deck 1 plays on there, deck 2 comes in within a bar of that, and the
// mix runs its course.
TEST(OutputLoss, ADropAskedJustBeforeARestartBringsTheTakeIn)
{
    for (const bool otherRate : {false, true}) {
        SCOPED_TRACE(otherRate);
        SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
        AppModel& app = set.app;
        ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
        dropTakeAhead(set, 0.5);
        app.transition().mix(1);
        ASSERT_EQ(app.transition().phase().kind, Kind::starting);
        ASSERT_TRUE(app.mixer().dropArmed());
        const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
        if (otherRate)
            ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
        else
            ASSERT_NO_FATAL_FAILURE(restartNow(set));
        ASSERT_TRUE(set.playUntil([&] { return app.deck(0).voice() != before && playing(app, 0); }, 4.0))
            << set.log();
        const double playedOn = set.played;
        EXPECT_TRUE(set.playUntil([&] { return playing(app, 1); }, 2.0)) << set.log();
        EXPECT_LT(set.played - playedOn, 2.0);
        EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 20.0)) << set.log();
    }
}

// The MIX key while the DJ's record still decodes onto deck 2, then a card
// whose start hangs for 20 s; the record lands meanwhile. The mix waits for
// it only while an output runs: once one does again, the record comes in.
TEST(OutputLoss, AMixWaitingForItsRecordThroughALongOutageBringsItIn)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.loadBoth());
    set.play(0, 20.0);
    set.playUntil([] { return false; }, 1.0);
    test::HeldDecode slow(set[2].path);
    app.deck(1).setDecoder(slow.decoder());
    app.deck(1).load(set[2]);
    set.playUntil([] { return false; }, 0.3, &slow);
    app.transition().mix(1);
    set.playUntil([] { return false; }, 2.0, &slow);
    ASSERT_EQ(app.transition().phase().kind, Kind::starting);
    FakeAudioBackend::Device device;
    device.uid = "fake.hung";
    device.name = "Fake Hung";
    device.nominalSampleRate = test::kSetRate;
    device.hangOnInitialize = true;
    set.rig.backend->addDevice(device);
    app.audio().setDeviceUID(QStringLiteral("fake.hung"));
    ASSERT_TRUE(test::spinUntil([&] { return set.rig.backend->hungCount() == 1; }));
    set.playUntil([] { return false; }, 1.0, &slow);
    slow.release();
    set.playUntil([] { return false; }, 20.0, &slow);
    set.rig.backend->releaseHangs();
    ASSERT_TRUE(test::spinUntil([&] { return app.audio().io() && app.audio().io()->running(); }));
    EXPECT_TRUE(set.playUntil([&] { return playing(app, 1); }, 10.0)) << set.log();
    EXPECT_TRUE(holdsRecord(app, 1, set[2])) << set.log();
}

// Flow's mix onto deck 2 arms the take's drop ten seconds ahead of deck 1,
// and the DJ plays deck 2 by hand first: the hand started the mix's incoming
// deck, and the drop is off. Whatever deck 1 does next, with an output
// restart in between (at the same rate, at another) or none, deck 2 plays on
// where it was heard: deck 1 stopping does not cue it back to its start,
// stopped on air, and deck 1 passing the drop's point does not jump it.
TEST(OutputLoss, ATakeStartedByHandBeforeItsDropPointPlaysOnWhateverDeckOneDoes)
{
    enum class Restart { none, sameRate, otherRate };
    for (const Restart restart : {Restart::none, Restart::sameRate, Restart::otherRate})
        for (const bool deck1Stops : {true, false}) {
            SCOPED_TRACE(testing::Message() << "restart " << int(restart) << " deck 1 stops " << deck1Stops);
            SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")},
                       {120.0, 120.0, 120.0}, 4);
            AppModel& app = set.app;
            ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
            dropTakeAhead(set, 10.0);
            app.transition().mix(1);
            ASSERT_TRUE(app.mixer().dropArmed());
            app.deck(1).playPause();
            ASSERT_TRUE(set.playUntil([&] { return playing(app, 1); }, 1.0)) << set.log();
            if (restart != Restart::none) {
                const std::shared_ptr<DeckVoice> before = app.deck(1).voice();
                if (restart == Restart::otherRate)
                    ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
                else
                    ASSERT_NO_FATAL_FAILURE(restartNow(set));
                ASSERT_TRUE(set.playUntil(
                    [&] { return app.deck(1).voice() != before && playing(app, 0) && playing(app, 1); }, 4.0))
                    << set.log();
                set.playUntil([] { return false; }, 0.5);
            }
            if (const std::shared_ptr<DeckVoice> one = app.deck(0).voice(); one && deck1Stops)
                one->send(DeckCommand::pause());
            std::optional<double> last;
            double back = 0.0;
            set.playUntil(
                [&] {
                    const std::shared_ptr<DeckVoice> two = app.deck(1).voice();
                    if (!two)
                        return false;
                    const double at = two->state().position.load();
                    if (last)
                        back = std::max(back, *last - at);
                    last = at;
                    return false;
                },
                12.0);
            EXPECT_TRUE(playing(app, 1)) << set.log();
            EXPECT_LT(back, 0.1) << set.log();
            EXPECT_GT(last.value_or(0.0), 12.0) << set.log();
        }
}

// The card's I/O ends and for a minute it opens but will not start, tried at
// each grace: the decks are handed to one new engine, not to a new one at
// every try, and once the card answers the live deck plays on, once, from
// where it was last heard.
TEST(OutputLoss, ACardThatWillNotStartForAMinuteTakesTheDecksOnce)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    ASSERT_TRUE(playing(app, 0)) << set.log();
    const AudioObjectId card = app.audio().io()->device().id;
    const std::int64_t generation = app.audio().generation();
    std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
    const double heard = voice->state().position.load();
    set.rig.backend->endIO(card);
    set.rig.backend->device(card).failSteps["start"] = -50;
    // The grace's reopen, with the clock held while it opens and fails to start.
    ASSERT_TRUE(set.playUntil([&] { return !app.audio().io(); }, 3.0)) << set.log();
    ASSERT_TRUE(test::spinUntil([&] {
        return app.audio().generation() == generation + 1
            && app.audio().errorText() == QStringLiteral("start output failed (-50)");
    }));
    int handOvers = 0;
    set.playUntil(
        [&] {
            if (app.deck(0).voice() && app.deck(0).voice() != voice) {
                voice = app.deck(0).voice();
                ++handOvers;
            }
            return false;
        },
        60.0);
    EXPECT_FALSE(app.audio().outputRunning());
    EXPECT_EQ(app.audio().errorText(), QStringLiteral("start output failed (-50)"));
    EXPECT_EQ(handOvers, 1);
    EXPECT_EQ(app.audio().generation(), generation + 1);

    // The next grace starts it again, with the clock held while it starts.
    set.rig.backend->device(card).failSteps.clear();
    // The failed start's report comes back in real time while the set plays
    // on its own clock: each step waits for the attempts on their way.
    ASSERT_TRUE(set.playUntil(
        [&] {
            test::spinUntil([] { return AudioSystem::attemptsInFlight() == 0; });
            return app.audio().outputRunning();
        },
        2 * AudioSystem::kEndedGraceSeconds));
    ASSERT_TRUE(set.playUntil([&] { return set.masterPeak() > 1e-3; }, 1.0)) << set.log();
    EXPECT_EQ(app.deck(0).voice(), voice);
    EXPECT_EQ(set.notes().filter(QStringLiteral("deck 1 plays Alpha on")).size(), 1) << set.log();
    EXPECT_NEAR(voice->state().position.load(), heard, 2.0) << set.log();
    EXPECT_LT(set.longestSilenceOver(5.0), 0.1) << set.log();
    EXPECT_FALSE(app.audio().errorText().has_value());
}

// The output moves to a card at another rate and back to the first while the
// live deck's record still decodes for the second: the buffer it kept is at
// the first card's rate again, so that decode is called off and the deck plays
// on from where it was heard, not cut at its cue when the decode lands.
TEST(OutputLoss, BackToTheFirstCardDuringTheReloadPlaysOnFromWhereItWasHeard)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 120.0, 120.0}, 4);
    AppModel& app = set.app;
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    const QString first = QString::fromStdString(app.audio().io()->device().uid);
    const std::shared_ptr<DeckVoice> live = app.deck(0).voice();
    ASSERT_TRUE(live);
    const double heard = live->state().position.load();
    set.useSlowDisk([] { return 2.0; });
    ASSERT_NO_FATAL_FAILURE(set.moveToTheOtherRate());
    set.playUntil([] { return false; }, 0.5);
    ASSERT_TRUE(app.deck(0).loading());
    const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
    app.audio().setDeviceUID(first);
    ASSERT_TRUE(test::spinUntil([&] {
        return app.deck(0).voice() && app.deck(0).voice() != before && app.audio().io() && app.audio().io()->running();
    }));
    double playingFor = 0.0, quiet = 0.0, longestQuiet = 0.0;
    std::optional<double> from;
    set.playUntil(
        [&] {
            const std::shared_ptr<DeckVoice> voice = app.deck(0).voice();
            if (voice && playing(app, 0)) {
                playingFor += TransitionModel::kFrameInterval;
                from = from.value_or(voice->state().position.load());
            }
            quiet = set.masterPeak() < 1e-3 ? quiet + TransitionModel::kFrameInterval : 0.0;
            longestQuiet = std::max(longestQuiet, quiet);
            return false;
        },
        6.0);
    EXPECT_GT(playingFor, 5.5) << set.log();
    ASSERT_TRUE(from.has_value()) << set.log();
    EXPECT_NEAR(*from, heard, 1.0) << set.log();
    EXPECT_LT(longestQuiet, 0.5) << set.log();
    EXPECT_FALSE(app.deck(0).loading());
}

} // namespace
} // namespace zelvo
