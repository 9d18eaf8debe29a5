#include "audio/MixEngine.h"

#include "audio/GainLaws.h"
#include "audio/HostedUnitRegistry.h"
#include "library/TrackBuffer.h"

#include "MixEngineSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo {
namespace {

using namespace zelvo::test;
constexpr double rate = 48000.0;

// Master amplitude of a 1 kHz sine of amplitude 0.25 on channel 1 after settling.
float settledMasterPeak(MixEngine& engine)
{
    const EngineOutput out = render(engine, 24000);
    return peakOf(out.ch[0], 12000);
}

TEST(MixEngineTest, ChannelGainsFollowTheLaws)
{
    MixEngine engine(rate, 512);
    MixerParams& p = *engine.params();
    p.limiter.store(false);
    loadDeck(engine, 0, sineBuffer(4.0, rate, 1000.0, 0.25));
    send(engine, 0, DeckCommand::play());
    p.master.store(1.0);
    p.channel(0).fader.store(1.0);
    // Centre crossfader: constant power.
    EXPECT_NEAR(settledMasterPeak(engine), 0.25 * std::sqrt(0.5), 0.25 * 0.01);
    p.channel(0).fader.store(0.5);
    p.channel(0).trim.store(0.5);
    p.master.store(0.8);
    const double expected = 0.25 * std::sqrt(0.5) * faderGain(0.5) * trimGain(0.5) * faderGain(0.8);
    EXPECT_NEAR(settledMasterPeak(engine), expected, expected * 0.01);
    // Thru ignores the crossfader; the mid band's boost applies at 1 kHz.
    p.channel(0).crossfaderAssign.store(0);
    p.crossfader.store(1.0);
    p.channel(0).mid.store(1.0);
    const double boosted = 0.25 * faderGain(0.5) * trimGain(0.5) * faderGain(0.8) * isolatorGain(1.0);
    EXPECT_NEAR(settledMasterPeak(engine), boosted, boosted * 0.03);
    // Side A is cut at full B with the sharp curve.
    p.channel(0).crossfaderAssign.store(-1);
    p.crossfaderCurve.store(1.0);
    EXPECT_LT(settledMasterPeak(engine), 1e-5f);
}

TEST(MixEngineTest, OutputDoesNotDependOnHowCallsAreSliced)
{
    // A 10000-frame call on a 4096-frame engine renders 4096, 4096 and 1808 and
    // sounds exactly like the same audio asked for in small calls.
    auto build = [](MixEngine& e) {
        MixerParams& p = *e.params();
        loadDeck(e, 0, sineBuffer(3.0, rate, 220.0, 0.6), 120.0);
        loadDeck(e, 1, sineBuffer(3.0, rate, 3300.0, 0.5), 120.0);
        send(e, 0, DeckCommand::play());
        send(e, 1, DeckCommand::play());
        p.channel(0).colorFX.store(-0.6);
        p.channel(1).low.store(-1.0);
        p.beatFXKind.store(int(BeatFXKind::echo));
        p.beatFXOn.store(true);
        p.channel(1).cue.store(true);
        e.setCueEnabled(true);
    };
    MixEngine big(rate, 4096), small(rate, 4096);
    build(big);
    build(small);
    const EngineOutput a = render(big, 10000, 10000);
    const EngineOutput b = render(small, 10000, 100);
    EXPECT_EQ(big.masterTap()->written(), 10000);
    ASSERT_EQ(a.frames(), b.frames());
    for (int c = 0; c < 4; ++c)
        for (std::size_t i = 0; i < a.frames(); ++i)
            ASSERT_EQ(a.ch[c][i], b.ch[c][i]) << "channel " << c << " frame " << i;
    EXPECT_GT(peakOf(a.ch[0]), 0.1f);
}

TEST(MixEngineTest, CueBusPreFaderAndTwoBufferOutputs)
{
    MixEngine engine(rate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, sineBuffer(2.0, rate, 440.0, 0.5));
    send(engine, 0, DeckCommand::play());
    p.channel(0).cue.store(true);
    p.channel(0).fader.store(0.0);
    engine.setCueEnabled(true);
    // Two buffers: the master only, yet the headphone mix is computed.
    const EngineOutput two = render(engine, 9600, 256, 2);
    EXPECT_EQ(peakOf(two.ch[0]), 0.0f);
    EXPECT_EQ(peakOf(two.ch[2]), 0.0f); // not delivered
    EXPECT_GT(engine.state()->cuePeak.load(), 0.1);
    // Four buffers: the channel is heard in the headphones, not on the master.
    const EngineOutput four = render(engine, 9600);
    EXPECT_EQ(peakOf(four.ch[0]), 0.0f);
    const float phones = float(faderGain(0.7));
    EXPECT_NEAR(peakOf(four.ch[2], 4800), 0.5f * phones, 0.02f);
    // Without a headphone pair the cue bus is left as summed.
    engine.setCueEnabled(false);
    const EngineOutput raw = render(engine, 9600);
    EXPECT_NEAR(peakOf(raw.ch[2], 4800), 0.5f, 0.02f);
}

TEST(MixEngineTest, MasterLevelZeroSilencesMasterTapAndRecordingButNotTheCue)
{
    MixEngine engine(rate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, sineBuffer(2.0, rate, 440.0, 0.5));
    send(engine, 0, DeckCommand::play());
    p.master.store(0.0);
    p.channel(0).cue.store(true);
    engine.setCueEnabled(true);
    // The master level glides down over its 12 ms smoother, then stays silent.
    const EngineOutput out = render(engine, 48000);
    EXPECT_LT(peakOf(out.ch[0], 24000), 1e-9f);
    EXPECT_GT(peakOf(out.ch[2], 24000), 0.2f);
    auto snap = engine.masterTap()->snapshot(0.2);
    ASSERT_TRUE(snap);
    EXPECT_EQ(peakOf(std::vector<float>(snap->buffer->left, snap->buffer->left + snap->buffer->frames)), 0.0f);
}

TEST(MixEngineTest, ABrokenControlCellCountsAsRestingAndLeavesNothingBehind)
{
    // Every control of the mix at once holds NaN or an infinity for a while,
    // with the reverb beat effect on channel 1: the master stays finite (silent
    // where a level rests at 0), and once the cells hold sane values again the
    // smoothers, filters and delay lines play as before.
    MixEngine engine(rate, 512);
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, sineBuffer(4.0, rate, 1000.0, 0.25));
    send(engine, 0, DeckCommand::play());
    p.beatFXKind.store(int(BeatFXKind::reverb));
    p.beatFXTarget.store(1);
    p.beatFXOn.store(true);
    p.channel(0).colorFX.store(0.3);
    engine.setCueEnabled(true);
    p.channel(0).cue.store(true);
    const float before = peakOf(render(engine, 48000).ch[0], 24000);
    ASSERT_GT(before, 0.05f);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    ChannelParams& c = p.channel(0);
    for (AtomicDouble* cell : {&c.trim, &c.high, &c.mid, &c.low, &c.colorFX, &c.fader, &p.crossfader,
                               &p.crossfaderCurve, &p.master, &p.cueMix, &p.phones, &p.colorFXParameter,
                               &p.beatFXBeats, &p.beatFXLevel})
        cell->store(cell == &c.fader ? inf : nan);
    const EngineOutput broken = render(engine, 4800);
    for (int ch = 0; ch < 4; ++ch)
        for (float x : broken.ch[ch])
            ASSERT_TRUE(std::isfinite(x)) << "channel " << ch;

    for (AtomicDouble* cell : {&c.trim, &c.high, &c.mid, &c.low, &p.crossfader, &p.crossfaderCurve})
        cell->store(0.0);
    c.colorFX.store(0.3);
    c.fader.store(0.8);
    p.master.store(0.8);
    p.cueMix.store(-1.0);
    p.phones.store(0.7);
    p.colorFXParameter.store(0.3);
    p.beatFXBeats.store(0.5);
    p.beatFXLevel.store(0.6);
    const EngineOutput after = render(engine, 48000);
    for (int ch = 0; ch < 4; ++ch)
        for (float x : after.ch[ch])
            ASSERT_TRUE(std::isfinite(x)) << "channel " << ch;
    EXPECT_NEAR(peakOf(after.ch[0], 24000), before, before * 0.1f);
    EXPECT_GT(peakOf(after.ch[2], 24000), 0.05f);
}

TEST(MixEngineTest, ClippingHappensAfterTheLimiterAndChannelMetersMayExceedOne)
{
    for (bool limiter : {false, true}) {
        MixEngine engine(rate, 512);
        MixerParams& p = *engine.params();
        p.limiter.store(limiter);
        for (int i = 0; i < 2; ++i) {
            loadDeck(engine, i, generatedBuffer(2.0, rate, [](std::int64_t) { return 0.9f; }));
            send(engine, i, DeckCommand::play());
            p.channel(std::size_t(i)).trim.store(1.0);
            p.channel(std::size_t(i)).fader.store(1.0);
            p.channel(std::size_t(i)).crossfaderAssign.store(0);
        }
        p.master.store(1.0);
        const EngineOutput out = render(engine, 24000);
        EXPECT_LE(peakOf(out.ch[0]), 1.0f);
        EXPECT_GT(engine.state()->channelPeak[0].load(), 1.0);
        EXPECT_LE(engine.state()->masterPeakL.load(), 1.0);
        if (!limiter) {
            EXPECT_EQ(out.ch[0].back(), 1.0f);
        }
    }
}

TEST(MixEngineTest, BeatEffectOnAnEmptyChannelIsHeardNowhere)
{
    auto run = [](bool on) {
        MixEngine engine(rate, 512);
        MixerParams& p = *engine.params();
        loadDeck(engine, 0, generatedBuffer(2.0, rate, [](std::int64_t i) { return i % 4800 < 10 ? 0.8f : 0.0f; }));
        send(engine, 0, DeckCommand::play());
        p.beatFXKind.store(int(BeatFXKind::echo));
        p.beatFXTarget.store(3);
        p.beatFXOn.store(on);
        return render(engine, 48000);
    };
    const EngineOutput on = run(true), off = run(false);
    EXPECT_EQ(on.ch[0], off.ch[0]);
    EXPECT_EQ(on.ch[2], off.ch[2]);
}

TEST(MixEngineTest, ReverbHearsOnlyItsChannelAndRingsOnWhileItsKindStays)
{
    if (!MixEngine(rate, 512).hasReverb())
        GTEST_SKIP() << "no reverb component";
    MixEngine engine(rate, 512);
    MixerParams& p = *engine.params();
    p.limiter.store(false);
    // A short burst on deck 1; deck 2 silent. The reverb sits on channel 2.
    loadDeck(engine, 0, generatedBuffer(8.0, rate, [](std::int64_t i) { return i < 2400 ? 0.5f : 0.0f; }));
    loadDeck(engine, 1, generatedBuffer(8.0, rate, [](std::int64_t) { return 0.0f; }));
    send(engine, 0, DeckCommand::play());
    send(engine, 1, DeckCommand::play());
    p.beatFXKind.store(int(BeatFXKind::reverb));
    p.beatFXTarget.store(2);
    p.beatFXOn.store(true);
    EngineOutput out = render(engine, 24000);
    EXPECT_LT(peakOf(out.ch[0], 4800), 1e-6f) << "channel 1 must not reach a reverb on channel 2";

    // Now the burst on channel 2: after it ends, the tail rings, also once the
    // effect is switched off while the kind stays reverb.
    send(engine, 1, DeckCommand::load(generatedBuffer(8.0, rate, [](std::int64_t i) { return i < 2400 ? 0.5f : 0.0f; }), false));
    send(engine, 1, DeckCommand::play());
    render(engine, 4800);
    p.beatFXOn.store(false);
    out = render(engine, 9600);
    EXPECT_GT(peakOf(out.ch[0], 4800), 1e-4f);
    // Another kind stops the reverb: its tail is gone at once.
    p.beatFXKind.store(int(BeatFXKind::echo));
    out = render(engine, 4800);
    EXPECT_LT(peakOf(out.ch[0], 1200), 1e-6f);
}

TEST(MixEngineTest, EnginesWithoutLimiterOrReverbStillPlay)
{
    HostedUnitRegistry::Override noLimiter(units::kEffect, units::kPeakLimiter, {});
    HostedUnitRegistry::Override noReverb(units::kEffect, units::kReverb, {});
    MixEngine engine(rate, 512);
    EXPECT_FALSE(engine.hasLimiter());
    EXPECT_FALSE(engine.hasReverb());
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, sineBuffer(2.0, rate, 440.0, 0.5));
    send(engine, 0, DeckCommand::play());
    p.beatFXKind.store(int(BeatFXKind::reverb));
    p.beatFXTarget.store(0);
    p.beatFXOn.store(true);
    const EngineOutput out = render(engine, 9600);
    EXPECT_GT(peakOf(out.ch[0], 4800), 0.1f);
}

TEST(MixEngineTest, ReleasingRetiredBuffersFreesReplacedTracks)
{
    const std::int64_t before = TrackBuffer::liveCount();
    {
        MixEngine engine(rate, 512);
        EXPECT_EQ(engine.releaseRetiredBuffers(), 0);
        for (int k = 0; k < 3; ++k) {
            loadDeck(engine, 0, sineBuffer(0.1, rate, 440.0, 0.1));
            render(engine, 256);
        }
        EXPECT_EQ(engine.releaseRetiredBuffers(), 2);
        EXPECT_EQ(TrackBuffer::liveCount(), before + 1);
    }
    EXPECT_EQ(TrackBuffer::liveCount(), before);
}

} // namespace
} // namespace zelvo
