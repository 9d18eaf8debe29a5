// Decks that stand still cost nothing: once a deck has played to its end, is
// paused (key-locked at a tempo off 1 or not), has no track, has played out a
// take or was cued and let go, further renders give its time-pitch unit no
// input and ask the render-ahead worker for nothing, whether the unit renders
// ahead or on the audio thread; the ended deck still says where it stands; and
// the filters a deck leaves fading into silence come to rest at zero instead
// of lingering on subnormal values.
#include "audio/FlushDenormals.h"
#include "audio/Isolator.h"
#include "audio/MixEngine.h"

#include "MixEngineSupport.h"
#include "support/CountingTimePitch.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

using namespace zelvo;
using namespace zelvo::test;

namespace {

constexpr double kIdleRate = 48000.0;
constexpr int kIdleBlock = 256;

enum class Idle { ended, endedUnlocked, paused, pausedKeyLocked, failedLoad, playedOutTake, cueReleased };

std::string nameOf(Idle s)
{
    switch (s) {
    case Idle::ended: return "ended";
    case Idle::endedUnlocked: return "ended, key lock off, key shifted";
    case Idle::paused: return "paused";
    case Idle::pausedKeyLocked: return "paused key-locked at 1.06";
    case Idle::failedLoad: return "failed load";
    case Idle::playedOutTake: return "played-out take";
    case Idle::cueReleased: return "cue held and released";
    }
    return "?";
}

TrackBufferRef tone(double seconds, double freq)
{
    return sineBuffer(seconds, kIdleRate, freq, 0.4f);
}

struct IdleRig {
    explicit IdleRig(MixEngine::RenderAhead mode) : engine(kIdleRate, 4096, mode) {}

    void block()
    {
        float* ptrs[4] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
        engine.render(kIdleBlock, ptrs, 4);
        engine.serviceAhead();
    }
    DeckVoice& deck(int i) { return *engine.deck(i); }
    bool anyPlaying()
    {
        for (int i = 0; i < MixEngine::deckCount; ++i)
            if (deck(i).state().playing.load())
                return true;
        return false;
    }
    // Input the units took plus the calls made on them, and worker requests.
    std::int64_t work() const
    {
        std::int64_t w = 0;
        for (int i = 0; i < counting.made(); ++i)
            w += counting.work(i).total();
        for (int i = 0; i < MixEngine::deckCount; ++i)
            w += engine.deck(i)->aheadRequests();
        return w;
    }

    CountingTimePitchInstall counting;
    MixEngine engine;
    std::array<std::array<float, kIdleBlock>, 4> out{};
};

// Brings all four decks (key-locked at 1.06 unless the state says otherwise,
// decks 2…4 synced) into `state`; true once they are there.
bool reach(IdleRig& rig, Idle state)
{
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        DeckVoice& d = rig.deck(i);
        send(rig.engine, i, DeckCommand::keyLock(state != Idle::endedUnlocked));
        d.tempo().store(1.06);
        if (state == Idle::endedUnlocked)
            d.keyShift().store(2.0);
        rig.engine.params()->channel(std::size_t(i)).sync.store(i > 0);
        if (state == Idle::failedLoad) {
            // The load never reached the deck; the DJ presses play anyway.
            send(rig.engine, i, DeckCommand::play());
            continue;
        }
        if (state == Idle::playedOutTake) {
            send(rig.engine, i, DeckCommand::load(tone(4.0, 220.0), false));
            send(rig.engine, i, DeckCommand::setGrid(124.0, 0.0));
            send(rig.engine, i, DeckCommand::play());
            continue;
        }
        send(rig.engine, i, DeckCommand::load(tone(state == Idle::ended || state == Idle::endedUnlocked ? 1.0 : 8.0,
                                                   220.0 + 40.0 * i),
                                              false));
        send(rig.engine, i, DeckCommand::setGrid(124.0 + i, 0.0));
        if (state == Idle::cueReleased)
            send(rig.engine, i, DeckCommand::setCuePoint(1.0));
        send(rig.engine, i, state == Idle::cueReleased ? DeckCommand::seek(1.0) : DeckCommand::play());
    }
    if (state == Idle::paused)
        for (int i = 0; i < MixEngine::deckCount; ++i)
            rig.deck(i).tempo().store(1.0);
    for (int b = 0; b < 60; ++b)
        rig.block();
    switch (state) {
    case Idle::playedOutTake:
        // The take lands mid-record and plays to its end.
        for (int i = 0; i < MixEngine::deckCount; ++i)
            send(rig.engine, i, DeckCommand::takeOver(tone(0.6, 330.0), 0.1));
        break;
    case Idle::paused:
    case Idle::pausedKeyLocked:
        for (int i = 0; i < MixEngine::deckCount; ++i)
            send(rig.engine, i, DeckCommand::pause());
        break;
    case Idle::cueReleased:
        for (int i = 0; i < MixEngine::deckCount; ++i)
            send(rig.engine, i, DeckCommand::cue(true));
        for (int b = 0; b < 40; ++b)
            rig.block();
        if (!rig.anyPlaying())
            return false; // holding the cue key plays from the cue
        for (int i = 0; i < MixEngine::deckCount; ++i)
            send(rig.engine, i, DeckCommand::cue(false));
        break;
    default:
        break;
    }
    for (int b = 0; b < 2000 && rig.anyPlaying(); ++b)
        rig.block();
    rig.block();
    return !rig.anyPlaying();
}

} // namespace

TEST(IdleDeck, AStillDeckGivesItsTimePitchUnitAndTheWorkerNothing)
{
    for (MixEngine::RenderAhead mode : {MixEngine::RenderAhead::manual, MixEngine::RenderAhead::off})
        for (Idle state : {Idle::ended, Idle::endedUnlocked, Idle::paused, Idle::pausedKeyLocked, Idle::failedLoad,
                           Idle::playedOutTake, Idle::cueReleased}) {
            SCOPED_TRACE(nameOf(state) + (mode == MixEngine::RenderAhead::off ? ", on the audio thread" : ", ahead"));
            IdleRig rig(mode);
            ASSERT_EQ(rig.counting.made(), MixEngine::deckCount);
            ASSERT_TRUE(reach(rig, state));
            std::array<double, MixEngine::deckCount> parked{};
            for (int i = 0; i < MixEngine::deckCount; ++i)
                parked[std::size_t(i)] = rig.deck(i).state().position.load();
            const std::int64_t before = rig.work();
            for (int b = 0; b < 400; ++b)
                rig.block();
            EXPECT_EQ(rig.work() - before, 0);
            for (int i = 0; i < MixEngine::deckCount; ++i) {
                const DeckState& s = rig.deck(i).state();
                EXPECT_FALSE(s.playing.load());
                if (state != Idle::failedLoad) {
                    EXPECT_EQ(s.speed.load(), 0.0);
                }
                EXPECT_EQ(s.position.load(), parked[std::size_t(i)]) << "deck " << i;
                if (state == Idle::ended || state == Idle::endedUnlocked) {
                    // Parked on the last frame that can be read.
                    EXPECT_DOUBLE_EQ(s.position.load(), double(std::int64_t(1.0 * kIdleRate) - 2) / kIdleRate);
                }
                if (state == Idle::failedLoad) {
                    EXPECT_FALSE(s.loaded.load());
                }
            }
        }
}

TEST(IdleDeck, UnitsRunWithSubnormalsFlushedAndTheCallersModeComesBack)
{
    // The audio thread (render-ahead off), the worker's rounds run by hand, and
    // the engine's own worker thread.
    for (MixEngine::RenderAhead mode :
         {MixEngine::RenderAhead::off, MixEngine::RenderAhead::manual, MixEngine::RenderAhead::thread}) {
        SCOPED_TRACE(int(mode));
        IdleRig rig(mode);
        send(rig.engine, 0, DeckCommand::load(tone(4.0, 220.0), false));
        send(rig.engine, 0, DeckCommand::play());
        rig.deck(0).tempo().store(1.06);
        ASSERT_FALSE(FlushDenormals::active());
        const TimePitchWork& work = rig.counting.work(0);
        // The engine's worker may not have had a core yet after 100 blocks on a
        // busy machine: blocks go on until it has fed the unit.
        for (int b = 0; b < 100 || (mode == MixEngine::RenderAhead::thread && work.input.load() == 0 && b < 5000);
             ++b) {
            rig.block();
            ASSERT_FALSE(FlushDenormals::active()) << "the caller's mode is put back";
            if (b >= 100)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        rig.engine.setRenderAhead(MixEngine::RenderAhead::off); // joins the worker
        EXPECT_GT(work.input.load(), 0);
        EXPECT_EQ(work.unflushed.load(), 0);
    }
}

TEST(IdleDeck, AnIsolatorLeftInSilenceComesToRestAtZero)
{
    // Fed silence after music, the crossover's recursive sections round their
    // way down into subnormal values and, left to themselves, stay there.
    const FlushDenormals flush;
    Isolator iso(kIdleRate, 250.0, 2500.0);
    for (int i = 0; i < int(kIdleRate); ++i)
        iso.tick(0.4 * std::sin(double(i) * 0.03), 1.0, 1.0, 1.0);
    double out = 1.0;
    for (int i = 0; i < int(2.0 * kIdleRate); ++i)
        out = iso.tick(0.0, 1.0, 1.0, 1.0);
    EXPECT_EQ(out, 0.0);
    for (const Biquad* b : {&iso.lowLP1, &iso.lowLP2, &iso.restHP1, &iso.restHP2, &iso.midLP1, &iso.midLP2,
                            &iso.highHP1, &iso.highHP2, &iso.apLP1, &iso.apLP2, &iso.apHP1, &iso.apHP2}) {
        EXPECT_EQ(b->z1, 0.0);
        EXPECT_EQ(b->z2, 0.0);
    }
}
