// Rendering properties that must not depend on the sample rate or on how the
// engine slices its callbacks, and the real-time safety of the whole voice.
#include "audio/DeckVoice.h"

#include "DeckVoiceSupport.h"
#include "support/FakeTimePitch.h"
#include "support/RealtimeGuard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

struct Playback {
    Rendered out;
    double endPosition = 0.0;
    bool playing = true;
};

// Plays a 1.5 s ramp at tempo 1.06 on the direct path to its end and beyond.
Playback playRamp(double rate, int block, bool randomBlocks)
{
    DeckVoice voice(rate, 4096);
    loadNow(voice, rampBuffer(std::int64_t(1.5 * rate), rate));
    sendOk(voice, DeckCommand::keyLock(false));
    voice.tempo().store(1.06);
    sendOk(voice, DeckCommand::play());
    Playback r;
    r.out = renderFrames(voice, int(1.5 * rate), block, randomBlocks, unsigned(block));
    r.endPosition = voice.state().position.load();
    r.playing = voice.state().playing.load();
    return r;
}

} // namespace

TEST(DeckVoiceRender, SamplesPositionsEndAndDeclickIgnoreTheBlockSize)
{
    FakeTimePitchInstall fake;
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const Playback reference = playRamp(rate, 1, false);
        EXPECT_FALSE(reference.playing);
        EXPECT_DOUBLE_EQ(reference.endPosition, (1.5 * rate - 2.0) / rate);
        for (int block : {64, 256, 1000, 4096}) {
            for (bool random : {false, true}) {
                const Playback run = playRamp(rate, block, random);
                ASSERT_EQ(run.out.left, reference.out.left) << "rate " << rate << " block " << block << " random " << random;
                ASSERT_EQ(run.out.right, reference.out.right);
                EXPECT_EQ(run.endPosition, reference.endPosition);
            }
        }
        // The end frame is reached after (N − 2) / 1.06 frames, and the declick
        // runs down to exact zero in the same number of samples at every rate.
        const auto& l = reference.out.left;
        const std::size_t end = std::size_t(std::ceil((1.5 * rate - 2.0) / 1.06));
        std::size_t silentAt = end;
        while (silentAt < l.size() && l[silentAt] != 0.0f)
            ++silentAt;
        ASSERT_LT(silentAt, l.size());
        static std::size_t declickSamples = 0;
        if (declickSamples == 0)
            declickSamples = silentAt - end;
        EXPECT_EQ(silentAt - end, declickSamples) << "rate " << rate;
        EXPECT_GT(declickSamples, 1500u) << "from full scale 72000 the fade to below 0.0001 takes a while";
        for (std::size_t i = silentAt; i < l.size(); ++i)
            ASSERT_EQ(l[i], 0.0f);
    }
}

TEST(DeckVoiceRender, PeakHoldDecaysPerRenderAndCountsBeforeTheFader)
{
    FakeTimePitchInstall fake;
    DeckVoice voice(48000.0, 512);
    loadNow(voice, rampBuffer(48000, 48000.0, 1.0f / 48000.0f));
    sendOk(voice, DeckCommand::seek(0.5));
    sendOk(voice, DeckCommand::play());
    renderFrames(voice, 24000, 512);
    EXPECT_NEAR(voice.state().peakL.load(), 1.0, 1e-3);
    sendOk(voice, DeckCommand::pause());
    renderFrames(voice, 512 * 10, 512);
    EXPECT_LT(voice.state().peakL.load(), 0.93 * 0.93 * 0.93 * 1.0);
    EXPECT_GT(voice.state().peakL.load(), 0.0);
}

TEST(DeckVoiceRender, CommandStormsLoadsAndTimePitchNeverAllocateOrLock)
{
    // The real time-pitch unit, so calls inside the stretcher count too: on the
    // audio thread, or rendered ahead with the worker's rounds (marked as real
    // time too) after some renders, so its rings run full, dry and stale.
    for (bool ahead : {false, true}) {
    SCOPED_TRACE(ahead ? "ahead" : "on the audio thread");
    const double rate = 48000.0;
    DeckVoice voice(rate, 4096);
    ASSERT_TRUE(voice.hasTimePitch());
    if (ahead) {
        ASSERT_TRUE(voice.enableRenderAhead());
    } else {
        voice.setWorkPhase(1); // working ahead in odd slices, on demand in the others
    }
    std::vector<TrackBufferRef> buffers;
    for (int i = 0; i < 8; ++i)
        buffers.push_back(rampBuffer(std::int64_t(rate * (2 + i)), rate, 1.0f / float(rate * 10)));
    std::vector<float> left(4096), right(4096);
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> pick(0, 26);
    std::uniform_int_distribution<int> frames(1, 4096);

    RealtimeProbe probe;
    for (int round = 0; round < 60; ++round) {
        // The main thread: a storm of commands, buffers among them.
        const int count = round % 10 == 0 ? 600 : 40;
        for (int i = 0; i < count; ++i) {
            const auto kind = DeckCommand::Kind(pick(rng));
            DeckCommand c;
            switch (kind) {
            case DeckCommand::Kind::load: c = DeckCommand::load(buffers[std::size_t(i % 8)], i % 3 == 0); break;
            case DeckCommand::Kind::swap: c = DeckCommand::swap(buffers[std::size_t(i % 8)], 0.1); break;
            case DeckCommand::Kind::takeOver: c = DeckCommand::takeOver(buffers[std::size_t(i % 8)], 0.5); break;
            default:
                c.kind = kind;
                c.a = double(i % 5) * 0.3;
                c.b = c.a + 0.5;
                c.index = i % 8;
                c.flag = i % 2 == 0;
            }
            voice.send(c);
        }
        voice.tempo().store(0.9 + 0.01 * (round % 20));
        voice.keyShift().store(double(round % 7) - 3.0);
        if (round % 4 == 0)
            voice.keyShift().store(0.0);
        {
            AudioThreadScope audio;
            for (int k = 0; k < 4; ++k) {
                if (k == 2) {
                    voice.rtDropIn(0.25);
                    voice.setSyncCorrection(1.01);
                }
                voice.render(frames(rng), left.data(), right.data());
                if (k != 1)
                    voice.serviceAhead();
            }
            voice.rtStartAligned(0.5);
            voice.rtCue(0.1);
            voice.rtDropIn(0.2);
            voice.render(4096, left.data(), right.data());
            voice.serviceAhead();
        }
        voice.releaseRetiredBuffers();
    }
    EXPECT_TRUE(probe.clean());
    }
}

TEST(DeckVoiceRender, KeyLockWorkAlternatesSlicesWithoutChangingTheSoundOrThePosition)
{
    // The real time-pitch unit at 1.06 with key lock, 256-frame slices: a deck
    // given a work phase reads its source only in slices of that parity, and
    // sounds exactly like one that works on demand. Its published position
    // stays within a slice of the other's: the lag counts all the unit holds,
    // output made ahead included (without that, it would run up to two slices
    // ahead).
    const double rate = 48000.0;
    const int block = 256;
    TrackBufferRef source(std::int64_t(rate * 4), rate);
    for (std::int64_t i = 0; i < source->frames; ++i)
        source->left[i] = source->right[i] = float(std::sin(double(i) * 0.05) * (1.0 + double(i % 4800) / 4800.0));

    struct Run {
        std::vector<float> out;
        std::vector<double> position; // published after each slice
        int readsOffPhase = 0;
        int reads = 0;
    };
    auto run = [&](int phase) {
        DeckVoice voice(rate, 4096);
        voice.setWorkPhase(phase);
        EXPECT_EQ(voice.workPhase(), phase);
        loadNow(voice, source); // slice 0
        sendOk(voice, DeckCommand::keyLock(true));
        sendOk(voice, DeckCommand::play());
        voice.tempo().store(1.06);
        tick(voice, block); // slice 1
        Run r;
        std::vector<float> left(block), right(block);
        for (int slice = 2; slice < int(2.5 * rate) / block; ++slice) {
            const double before = voice.positionFrames();
            voice.render(block, left.data(), right.data());
            r.out.insert(r.out.end(), left.begin(), left.end());
            r.position.push_back(voice.state().position.load());
            const bool read = voice.positionFrames() != before;
            r.reads += read;
            r.readsOffPhase += read && phase >= 0 && (slice & 1) != phase;
        }
        return r;
    };
    const Run onDemand = run(-1);
    for (int phase : {0, 1}) {
        const Run paced = run(phase);
        EXPECT_EQ(paced.readsOffPhase, 0) << "phase " << phase;
        EXPECT_GT(paced.reads, 200);
        ASSERT_EQ(paced.out, onDemand.out) << "phase " << phase;
        ASSERT_EQ(paced.position.size(), onDemand.position.size());
        double worst = 0.0;
        for (std::size_t i = 0; i < paced.position.size(); ++i)
            worst = std::max(worst, std::fabs(paced.position[i] - onDemand.position[i]));
        EXPECT_LT(worst, 1.06 * block / rate) << "phase " << phase;
    }
}

TEST(DeckVoiceRender, KeyLockPublishedPositionIsWhatIsHeardFromTheFirstSliceInEitherWorkPhase)
{
    // A click in silence, reached from a seek just before it at tempo 1.04 with
    // a key shift, key-locked or not: where the click comes out, the position
    // published for that moment is the click's; before the unit's first input is
    // heard the deck stands on the seek point; and the position never jumps.
    const double rate = 48000.0;
    const int block = 256;
    const double tempo = 1.04;
    TrackBufferRef source(std::int64_t(rate * 4), rate);
    const std::int64_t click = std::int64_t(rate * 2);
    source->left[click] = source->right[click] = 1.0f;

    // Work phase 0 or 1 on the audio thread, or (2) rendered ahead by a worker
    // whose round runs after each slice.
    for (bool keyLock : {true, false})
    for (int phase : {0, 1, 2})
        for (double lead : {0.1, 0.3}) { // the click soon after the start, and later
            SCOPED_TRACE(testing::Message() << "key lock " << keyLock << " phase " << phase << " lead " << lead);
            DeckVoice voice(rate, 4096);
            if (phase == 2) {
                ASSERT_TRUE(voice.enableRenderAhead());
            } else {
                voice.setWorkPhase(phase);
            }
            loadNow(voice, source);
            sendOk(voice, DeckCommand::keyLock(keyLock));
            voice.tempo().store(tempo);
            voice.keyShift().store(-2.0);
            tick(voice, block);
            const double seekTo = double(click) / rate - lead;
            sendOk(voice, DeckCommand::seek(seekTo));
            sendOk(voice, DeckCommand::play());
            std::vector<float> out, left(block), right(block);
            std::vector<double> published; // after each slice: the next frame heard
            for (int slice = 0; slice < int(0.5 * rate) / block; ++slice) {
                voice.render(block, left.data(), right.data());
                voice.serviceAhead();
                out.insert(out.end(), left.begin(), left.end());
                published.push_back(voice.state().position.load());
            }
            EXPECT_EQ(voice.aheadDryBlocks(), 0);
            EXPECT_NEAR(published[0], seekTo, 1e-9) << "the unit's start pad is still playing";
            for (std::size_t i = 1; i < published.size(); ++i) {
                EXPECT_GE(published[i], published[i - 1] - 1e-9);
                EXPECT_LE(published[i] - published[i - 1], tempo * block / rate + 1e-6) << "slice " << i;
            }
            std::size_t peak = 0;
            for (std::size_t i = 1; i < out.size(); ++i)
                if (std::fabs(out[i]) > std::fabs(out[peak]))
                    peak = i;
            ASSERT_GT(std::fabs(out[peak]), 0.05f);
            const std::size_t slice = peak / std::size_t(block);
            ASSERT_GT(slice, 0u);
            const double heard = published[slice - 1] + double(peak % std::size_t(block)) * tempo / rate;
            EXPECT_NEAR(heard, double(click) / rate, 0.004); // the stretcher smears the click
        }
}
