#include "audio/MixEngine.h"

#include "MixEngineSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zelvo {
namespace {

using namespace zelvo::test;
constexpr double kSyncRate = 48000.0;

TrackBufferRef silence(double seconds) { return generatedBuffer(seconds, kSyncRate, [](std::int64_t) { return 0.0f; }); }

double position(MixEngine& e, int i) { return e.deck(i)->state().position.load(); }

TEST(MixEngineSyncTest, DropInWaitsForTheDropPointThenStartsOnTheExactSample)
{
    for (int block : {256, 333}) {
        MixEngine engine(kSyncRate, 512);
        MixerParams& p = *engine.params();
        loadDeck(engine, 0, silence(60.0));
        loadDeck(engine, 1, silence(60.0));
        send(engine, 0, DeckCommand::seek(10.0));
        send(engine, 0, DeckCommand::play());
        render(engine, block, block);
        p.dropOffset.store(12.0);
        // Deck 2 stays put until deck 1 passes 12 s.
        while (position(engine, 0) < 12.0) {
            EXPECT_FALSE(engine.deck(1)->state().playing.load());
            EXPECT_EQ(p.dropOffset.load(), 12.0);
            render(engine, block, block);
        }
        render(engine, block, block);
        EXPECT_TRUE(std::isnan(p.dropOffset.load()));
        EXPECT_EQ(p.lockOffset.load(), 12.0);
        EXPECT_TRUE(engine.deck(1)->state().playing.load());
        // Deck 2 plays deck 1's timeline minus the offset, to the sample, and the
        // lock keeps it there.
        EXPECT_NEAR(position(engine, 1), position(engine, 0) - 12.0, 1e-9) << block;
        render(engine, 48000, block);
        EXPECT_NEAR(position(engine, 1), position(engine, 0) - 12.0, 1.0 / kSyncRate) << block;
        EXPECT_EQ(p.lockOffset.load(), 12.0);
    }
}

TEST(MixEngineSyncTest, DropBeyondThePointStartsAtOnceAndAStoppedDeckOneParksDeckTwo)
{
    MixEngine engine(kSyncRate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, silence(60.0));
    loadDeck(engine, 1, silence(60.0));
    send(engine, 0, DeckCommand::seek(15.0));
    send(engine, 0, DeckCommand::play());
    render(engine, 256);
    const double deck1At = engine.deck(0)->positionSeconds();
    p.dropOffset.store(12.0);
    render(engine, 256);
    EXPECT_NEAR(position(engine, 1), deck1At - 12.0 + 256 / kSyncRate, 1e-9);

    // Deck 1 stopped at 5 s: deck 2 parks at 0 (not −7 s) and the lock goes at once.
    MixEngine parked(kSyncRate, 512);
    MixerParams& q = *parked.params();
    loadDeck(parked, 0, silence(60.0));
    loadDeck(parked, 1, silence(60.0));
    send(parked, 0, DeckCommand::seek(5.0));
    send(parked, 1, DeckCommand::seek(20.0));
    render(parked, 256);
    q.dropOffset.store(12.0);
    render(parked, 256);
    EXPECT_FALSE(parked.deck(1)->state().playing.load());
    EXPECT_EQ(position(parked, 1), 0.0);
    EXPECT_TRUE(std::isnan(q.dropOffset.load()));
    EXPECT_TRUE(std::isnan(q.lockOffset.load()));
}

TEST(MixEngineSyncTest, LockHoldsDeckTwoAgainstDriftAndLetsGoBeyondEightyMilliseconds)
{
    MixEngine engine(kSyncRate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, silence(60.0));
    loadDeck(engine, 1, silence(60.0));
    send(engine, 0, DeckCommand::seek(20.0));
    send(engine, 1, DeckCommand::seek(10.0 - 0.05)); // 50 ms late
    send(engine, 0, DeckCommand::play());
    send(engine, 1, DeckCommand::play());
    render(engine, 256);
    p.lockOffset.store(10.0);
    render(engine, 256);
    // 2 % fast against deck 1's effective tempo.
    EXPECT_NEAR(engine.state()->effectiveTempo[1].load(), 1.02, 1e-9);
    EXPECT_NEAR(engine.deck(1)->syncCorrection(), 1.02, 1e-9);
    // The drift closes: 2 % fast down to 40 ms, then with a 2 s time constant.
    render(engine, 20 * 48000, 512);
    EXPECT_NEAR(position(engine, 1), position(engine, 0) - 10.0, 1e-4);
    // A jump of deck 2 beyond 80 ms releases the lock for good.
    send(engine, 1, DeckCommand::seek(position(engine, 1) - 0.09));
    render(engine, 512);
    render(engine, 256);
    EXPECT_TRUE(std::isnan(p.lockOffset.load()));
}

TEST(MixEngineSyncTest, MasterChoiceFoldsFarTempos)
{
    for (auto [bpm, expected] : {std::pair{65.0, 128.0 / 65.0 / 2.0}, std::pair{200.0, 128.0 / 200.0 * 2.0},
                                 std::pair{126.0, 128.0 / 126.0}}) {
        MixEngine engine(kSyncRate, 512);
        MixerParams& p = *engine.params();
        loadDeck(engine, 0, silence(30.0), 128.0);
        loadDeck(engine, 1, silence(30.0), bpm);
        send(engine, 0, DeckCommand::play());
        p.channel(1).sync.store(true);
        render(engine, 512);
        render(engine, 256);
        EXPECT_EQ(engine.state()->masterDeck.load(), 0);
        EXPECT_EQ(engine.state()->masterBPM.load(), 128.0);
        // Deck 2 is stopped, so no phase nudge: the pure ratio.
        EXPECT_NEAR(engine.state()->effectiveTempo[1].load(), expected, 1e-12) << bpm;
    }
}

TEST(MixEngineSyncTest, PhaseNudgeScalesWithTheErrorUpToTwoPercentAndConverges)
{
    for (auto [offsetBeats, factor] : {std::pair{0.003, 1.0}, std::pair{0.1, 0.988}, std::pair{0.5, 0.98}}) {
        MixEngine engine(kSyncRate, 512);
        MixerParams& p = *engine.params();
        loadDeck(engine, 0, silence(60.0), 120.0);
        loadDeck(engine, 1, silence(60.0), 120.0);
        send(engine, 1, DeckCommand::seek(offsetBeats * 0.5));
        send(engine, 0, DeckCommand::play());
        send(engine, 1, DeckCommand::play());
        p.channel(1).sync.store(true);
        render(engine, 256); // both start; positions published
        render(engine, 256); // the nudge sees the published positions
        if (offsetBeats < 0.5) {
            EXPECT_NEAR(engine.state()->phaseError.load(), offsetBeats, 1e-9);
        }
        EXPECT_NEAR(engine.state()->effectiveTempo[1].load(), factor, 1e-9) << offsetBeats;
    }
    // A synced deck at another tempo, 0.3 beat out, locks to the master's phase.
    MixEngine engine(kSyncRate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, silence(60.0), 128.0);
    loadDeck(engine, 1, silence(60.0), 126.0);
    send(engine, 1, DeckCommand::seek(0.3 * 60.0 / 126.0));
    send(engine, 0, DeckCommand::play());
    send(engine, 1, DeckCommand::play());
    p.channel(1).sync.store(true);
    render(engine, 20 * 48000);
    EXPECT_LT(std::abs(engine.state()->phaseError.load()), 0.004);
    EXPECT_NEAR(engine.state()->effectiveTempo[1].load(), 128.0 / 126.0, 0.001);
}

TEST(MixEngineSyncTest, MasterRequestsOutsideTheDecksAreConsumedAndIgnored)
{
    MixEngine engine(kSyncRate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, silence(30.0), 128.0);
    loadDeck(engine, 1, silence(30.0), 100.0);
    send(engine, 0, DeckCommand::play());
    send(engine, 1, DeckCommand::play());
    render(engine, 512);
    p.masterRequest.store(1);
    render(engine, 256);
    EXPECT_EQ(engine.state()->masterDeck.load(), 1);
    for (std::int64_t bad : {std::int64_t(7), std::int64_t(4), std::int64_t(-5), std::int64_t(1) << 40}) {
        p.masterRequest.store(bad);
        render(engine, 256);
        EXPECT_EQ(p.masterRequest.load(), -1);
        EXPECT_EQ(engine.state()->masterDeck.load(), 1);
    }
    // Every deck stopped: the last master stays and its tempo still counts.
    send(engine, 0, DeckCommand::pause());
    send(engine, 1, DeckCommand::pause());
    engine.deck(1)->tempo().store(1.1);
    render(engine, 512);
    render(engine, 256);
    EXPECT_EQ(engine.state()->masterDeck.load(), 1);
    EXPECT_NEAR(engine.state()->masterBPM.load(), 110.0, 1e-9);
}

TEST(MixEngineSyncTest, AlignedStartLandsInTheOtherDecksBarPhase)
{
    MixEngine engine(kSyncRate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, silence(60.0), 120.0);
    loadDeck(engine, 1, silence(60.0), 120.0);
    send(engine, 0, DeckCommand::seek(5.0)); // half-way through a 2 s bar
    send(engine, 1, DeckCommand::seek(10.2));
    send(engine, 0, DeckCommand::play());
    render(engine, 256);
    const double deck1At = engine.deck(0)->positionSeconds();
    p.alignStart.store(1);
    render(engine, 256);
    EXPECT_EQ(p.alignStart.load(), -1);
    // Deck 2's nearest bar at the same fraction: 11.0 s plus the bar's progress.
    const double fraction = std::fmod(deck1At, 2.0) / 2.0;
    EXPECT_NEAR(position(engine, 1), 10.0 + 2.0 * fraction + 256 / kSyncRate, 1e-9);
    EXPECT_NEAR(std::fmod(position(engine, 1), 2.0), std::fmod(position(engine, 0), 2.0), 1e-9);

    // With the other deck stopped, the start is unaligned.
    MixEngine other(kSyncRate, 512);
    loadDeck(other, 0, silence(60.0), 120.0);
    loadDeck(other, 1, silence(60.0), 120.0);
    send(other, 1, DeckCommand::seek(10.2));
    render(other, 256);
    other.params()->alignStart.store(1);
    render(other, 256);
    EXPECT_EQ(other.params()->alignStart.load(), -1);
    EXPECT_TRUE(other.deck(1)->state().playing.load());
    EXPECT_NEAR(position(other, 1), 10.2 + 256 / kSyncRate, 1e-9);
    // Values other than 0 and 1 are left alone.
    other.params()->alignStart.store(5);
    render(other, 256);
    EXPECT_EQ(other.params()->alignStart.load(), 5);
}

} // namespace
} // namespace zelvo

namespace zelvo {
namespace {

TEST(MixEngineSyncTest, ADropOntoAKeyLockedDeckLinesUpWhatIsHeard)
{
    // Deck 1 key-locked at 1.06 (its stretcher renders ahead, so its read head
    // runs well ahead of what is heard), deck 2 on the direct path: dropped in
    // with no offset and held by the lock, deck 2's clicks come out with deck
    // 1's, not a read-ahead earlier.
    const TrackBufferRef clicks = generatedBuffer(40.0, kSyncRate, [](std::int64_t i) { return i % 24000 == 0 ? 1.0f : 0.0f; });
    MixEngine engine(kSyncRate, 512, MixEngine::RenderAhead::manual);
    MixerParams& p = *engine.params();
    p.directOuts.store(true);
    loadDeck(engine, 0, clicks);
    loadDeck(engine, 1, clicks);
    send(engine, 0, DeckCommand::keyLock(true));
    send(engine, 0, DeckCommand::seek(10.0));
    send(engine, 0, DeckCommand::play());
    engine.deck(0)->tempo().store(1.06);
    engine.deck(1)->tempo().store(1.06);
    EngineOutput out;
    auto play = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            renderInto(engine, out, 256, 256);
            engine.serviceAhead();
        }
    };
    play(100);
    ASSERT_GT(engine.deck(0)->positionSeconds() - position(engine, 0), 0.03) << "the read head is ahead";
    p.dropOffset.store(0.0);
    play(400);
    EXPECT_EQ(p.lockOffset.load(), 0.0) << "still locked";
    EXPECT_EQ(engine.aheadDryBlocks(), 0);
    // Peaks of each click in the last second, deck 1 on the master pair and deck 2
    // on the headphone pair.
    auto peaks = [&](const std::vector<float>& v) {
        std::vector<std::size_t> at;
        const std::size_t from = v.size() - std::size_t(kSyncRate);
        for (std::size_t i = from + 1; i + 1 < v.size(); ++i)
            if (std::fabs(v[i]) > 0.2f && std::fabs(v[i]) >= std::fabs(v[i - 1]) && std::fabs(v[i]) > std::fabs(v[i + 1]))
                at.push_back(i);
        return at;
    };
    const std::vector<std::size_t> one = peaks(out.ch[0]), two = peaks(out.ch[2]);
    ASSERT_FALSE(one.empty());
    ASSERT_FALSE(two.empty());
    for (std::size_t a : two) {
        std::size_t nearest = one.front();
        for (std::size_t b : one)
            if (std::llabs(std::int64_t(b) - std::int64_t(a)) < std::llabs(std::int64_t(nearest) - std::int64_t(a)))
                nearest = b;
        EXPECT_LT(std::llabs(std::int64_t(nearest) - std::int64_t(a)), std::int64_t(0.004 * kSyncRate)) << a;
    }
}

} // namespace
} // namespace zelvo
