// A channel strip whose deck stands still is left out once nothing in it can
// sound: the mix is what running it would give, a strip with a filter or echo
// still ringing or a colour effect that sounds on its own keeps running, and a
// deck that starts again is heard at once at the gains of the moment.
#include "audio/MixEngine.h"

#include "MixEngineSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

using namespace zelvo;
using namespace zelvo::test;

namespace {

constexpr double kStripRate = 48000.0;
constexpr int kBlock = 256;
constexpr int kPerSecond = int(kStripRate) / kBlock;

// Two engines fed the same commands: `skipping` leaves still strips out,
// `running` runs every strip.
struct Pair {
    Pair()
    {
        running.setSkipStillStrips(false);
        for (MixEngine* e : {&skipping, &running})
            e->setCueEnabled(true);
    }

    template <typename F>
    void both(F&& f)
    {
        f(skipping);
        f(running);
    }
    void load(int i, double seconds, double freq)
    {
        both([&](MixEngine& e) { loadDeck(e, i, sineBuffer(seconds, kStripRate, freq, 0.4f)); });
    }
    void send(int i, const DeckCommand& c)
    {
        both([&](MixEngine& e) { zelvo::test::send(e, i, c); });
    }
    // Renders `blocks` blocks on both; the largest difference between their
    // master and headphone outputs, and the master peak of `skipping`.
    struct Diff {
        float worst = 0.0f;
        float peak = 0.0f;
    };
    Diff blocks(int blocks)
    {
        Diff d;
        for (int b = 0; b < blocks; ++b) {
            float* a[4] = {outA[0].data(), outA[1].data(), outA[2].data(), outA[3].data()};
            float* r[4] = {outR[0].data(), outR[1].data(), outR[2].data(), outR[3].data()};
            skipping.render(kBlock, a, 4);
            running.render(kBlock, r, 4);
            for (int c = 0; c < 4; ++c)
                for (int f = 0; f < kBlock; ++f) {
                    d.worst = std::max(d.worst, std::abs(outA[std::size_t(c)][std::size_t(f)]
                                                         - outR[std::size_t(c)][std::size_t(f)]));
                    if (c < 2)
                        d.peak = std::max(d.peak, std::abs(outA[std::size_t(c)][std::size_t(f)]));
                }
        }
        return d;
    }
    std::int64_t ran(int i) const { return skipping.stripSlices(i); }

    MixEngine skipping{kStripRate, 4096, MixEngine::RenderAhead::off};
    MixEngine running{kStripRate, 4096, MixEngine::RenderAhead::off};
    std::array<std::array<float, kBlock>, 4> outA{}, outR{};
};

} // namespace

TEST(StillStrip, AStripAtRestIsLeftOutAndTheMixStaysTheSame)
{
    Pair p;
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        p.load(i, 8.0, 220.0 * (i + 1));
        p.send(i, DeckCommand::play());
    }
    p.both([](MixEngine& e) { e.params()->channel(1).cue.store(true); });
    EXPECT_EQ(p.blocks(kPerSecond).worst, 0.0f);
    for (int i = 0; i < MixEngine::deckCount; ++i)
        p.send(i, DeckCommand::pause());

    // The isolators ring down after the pause; the strips run until they are
    // exactly silent, then stop for good, and the outputs never differ.
    std::array<std::int64_t, MixEngine::deckCount> atPause{};
    for (int i = 0; i < MixEngine::deckCount; ++i)
        atPause[std::size_t(i)] = p.ran(i);
    EXPECT_EQ(p.blocks(kPerSecond / 10).worst, 0.0f);
    for (int i = 0; i < MixEngine::deckCount; ++i)
        EXPECT_EQ(p.ran(i), atPause[std::size_t(i)] + kPerSecond / 10) << "channel " << i + 1 << " left out while ringing";
    EXPECT_EQ(p.blocks(3 * kPerSecond).worst, 0.0f);
    std::array<std::int64_t, MixEngine::deckCount> settled{};
    for (int i = 0; i < MixEngine::deckCount; ++i)
        settled[std::size_t(i)] = p.ran(i);
    EXPECT_EQ(p.blocks(kPerSecond).worst, 0.0f);
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        EXPECT_EQ(p.ran(i), settled[std::size_t(i)]) << "channel " << i + 1;
        EXPECT_LT(p.skipping.state()->channelPeak[std::size_t(i)].load(), 1e-6);
    }

    // Fader, trim and isolator moved while the strips rest: the deck that starts
    // again is heard from its first block at the new settings.
    p.both([](MixEngine& e) {
        ChannelParams& cp = e.params()->channel(0);
        cp.fader.store(0.35);
        cp.trim.store(0.6);
        cp.low.store(-1.0);
        cp.high.store(0.5);
    });
    EXPECT_EQ(p.blocks(kPerSecond).worst, 0.0f);
    p.send(0, DeckCommand::play());
    const Pair::Diff first = p.blocks(1);
    EXPECT_EQ(p.ran(0), settled[0] + 1);
    EXPECT_GT(first.peak, 0.0f);
    const Pair::Diff rest = p.blocks(kPerSecond / 2);
    EXPECT_GT(rest.peak, 0.01f);
    // A strip that ran all along glides to within a few float steps of its
    // targets; the resting one stands on them.
    EXPECT_LT(first.worst, 1e-3f * std::max(first.peak, rest.peak));
    EXPECT_LT(rest.worst, 1e-3f * rest.peak);
    EXPECT_EQ(p.ran(1), settled[1]);
}

TEST(StillStrip, AStripThatCanStillSoundKeepsRunning)
{
    Pair p;
    // Channel 1 with the echo colour effect, channel 2 under the beat echo.
    p.both([](MixEngine& e) {
        MixerParams& m = *e.params();
        m.colorFXKind.store(std::int64_t(ColorFXKind::space));
        m.channel(0).colorFX.store(0.6);
        m.beatFXKind.store(std::int64_t(BeatFXKind::echo));
        m.beatFXTarget.store(2);
        m.beatFXOn.store(true);
    });
    for (int i = 0; i < 2; ++i) {
        p.load(i, 8.0, 330.0 * (i + 1));
        p.send(i, DeckCommand::play());
    }
    EXPECT_EQ(p.blocks(kPerSecond).worst, 0.0f);
    for (int i = 0; i < 2; ++i)
        p.send(i, DeckCommand::pause());
    const std::array<std::int64_t, 2> atPause{p.ran(0), p.ran(1)};
    // The echoes are still heard seconds after the pause, and both strips run.
    EXPECT_EQ(p.blocks(2 * kPerSecond).worst, 0.0f);
    const Pair::Diff tail = p.blocks(kPerSecond / 4);
    EXPECT_EQ(tail.worst, 0.0f);
    EXPECT_GT(tail.peak, 0.0f);
    EXPECT_EQ(p.ran(0), atPause[0] + 2 * kPerSecond + kPerSecond / 4);
    EXPECT_EQ(p.ran(1), atPause[1] + 2 * kPerSecond + kPerSecond / 4);

    // The colour knob turned off freezes the echo line: channel 1 comes to rest
    // and stays silent; the beat effect's channel keeps running while it is
    // aimed there.
    p.both([](MixEngine& e) { e.params()->channel(0).colorFX.store(0.0); });
    EXPECT_EQ(p.blocks(kPerSecond).worst, 0.0f);
    const std::int64_t resting = p.ran(0);
    EXPECT_EQ(p.blocks(kPerSecond / 2).worst, 0.0f);
    EXPECT_EQ(p.ran(0), resting);
    EXPECT_EQ(p.ran(1), atPause[1] + 3 * kPerSecond + kPerSecond / 4 + kPerSecond / 2);

    // Noise sounds from silence: a still deck's strip with it runs and is heard,
    // and the crusher's hold clock keeps a strip running while engaged.
    p.both([](MixEngine& e) {
        MixerParams& m = *e.params();
        m.beatFXTarget.store(0);
        m.beatFXOn.store(false);
        m.colorFXKind.store(std::int64_t(ColorFXKind::noise));
        m.channel(0).colorFX.store(0.5);
    });
    // (The running strip's knob is still gliding down through tiny values.)
    const Pair::Diff noise = p.blocks(kPerSecond / 2);
    EXPECT_LT(noise.worst, 1e-6f);
    EXPECT_GT(noise.peak, 1e-3f);
    EXPECT_EQ(p.ran(0), resting + kPerSecond / 2);
    p.both([](MixEngine& e) { e.params()->colorFXKind.store(std::int64_t(ColorFXKind::crush)); });
    EXPECT_LT(p.blocks(kPerSecond / 4).worst, 1e-6f);
    EXPECT_EQ(p.ran(0), resting + kPerSecond / 2 + kPerSecond / 4);
}
