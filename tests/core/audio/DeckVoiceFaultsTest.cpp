// Buffers are never lost, leaked or freed on the audio thread, and no input puts
// the reader outside its buffer or the position out of the finite numbers.
#include "audio/DeckVoice.h"

#include "DeckVoiceSupport.h"
#include "support/FakeTimePitch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {
constexpr double kFaultRate = 48000.0;
}

TEST(DeckVoiceFaults, AFullCommandRingRefusesAndReleasesTheCarriedBuffer)
{
    FakeTimePitchInstall fake;
    const auto baseline = TrackBuffer::liveCount();
    {
        DeckVoice voice(kFaultRate, 512);
        loadNow(voice, rampBuffer(96000, kFaultRate));
        // 600 commands between two renders: the first 512 go in, in order.
        int accepted = 0;
        for (int i = 0; i < 600; ++i)
            accepted += voice.send(DeckCommand::setHotCue(i % 8, double(i)));
        EXPECT_EQ(accepted, 512);
        TrackBufferRef extra = rampBuffer(100, kFaultRate);
        EXPECT_FALSE(voice.send(DeckCommand::load(extra, false)));
        EXPECT_EQ(extra->referenceCount(), 1) << "the refused command's reference was released";
        tick(voice);
        for (int i = 0; i < 8; ++i)
            EXPECT_DOUBLE_EQ(voice.state().hotCues[std::size_t(i)].load(), double(504 + i)) << "the last accepted";
        EXPECT_TRUE(voice.send(DeckCommand::seek(1.0)));
    }
    EXPECT_EQ(TrackBuffer::liveCount(), baseline);
}

TEST(DeckVoiceFaults, RetirementBackPressureKeepsEveryBufferAndTheirOrder)
{
    FakeTimePitchInstall fake;
    const auto baseline = TrackBuffer::liveCount();
    {
        DeckVoice voice(kFaultRate, 512);
        // 300 loads in one drain: more than the retired ring holds.
        std::vector<TrackBufferRef> sent;
        for (int i = 0; i < 300; ++i) {
            sent.push_back(rampBuffer(1000 + i, kFaultRate));
            ASSERT_TRUE(voice.send(DeckCommand::load(sent.back(), false)));
        }
        ASSERT_TRUE(voice.send(DeckCommand::seek(0.01)));
        tick(voice);
        // 65 applied (the first one retires nothing), the rest wait in order.
        EXPECT_DOUBLE_EQ(voice.state().duration.load(), (1000 + 64) / kFaultRate);
        int released = 0;
        for (int round = 0; round < 10; ++round) {
            released += voice.releaseRetiredBuffers();
            tick(voice);
        }
        EXPECT_DOUBLE_EQ(voice.state().duration.load(), (1000 + 299) / kFaultRate);
        EXPECT_DOUBLE_EQ(voice.state().position.load(), 0.01) << "the seek after them ran last";
        released += voice.releaseRetiredBuffers();
        EXPECT_EQ(released, 299);
        for (int i = 0; i < 299; ++i)
            ASSERT_EQ(sent[std::size_t(i)]->referenceCount(), 1) << i;
        EXPECT_EQ(sent[299]->referenceCount(), 2);
        // Loading the playing buffer again retires the second reference.
        ASSERT_TRUE(voice.send(DeckCommand::load(sent[299], true)));
        tick(voice);
        EXPECT_EQ(voice.releaseRetiredBuffers(), 1);
        EXPECT_EQ(sent[299]->referenceCount(), 2);
    }
    EXPECT_EQ(TrackBuffer::liveCount(), baseline);
}

TEST(DeckVoiceFaults, ADestroyedVoiceReleasesEverythingItHeld)
{
    FakeTimePitchInstall fake;
    const auto baseline = TrackBuffer::liveCount();
    {
        auto voice = std::make_unique<DeckVoice>(kFaultRate, 512);
        loadNow(*voice, rampBuffer(1000, kFaultRate));
        for (int i = 0; i < 70; ++i)
            sendOk(*voice, DeckCommand::swap(rampBuffer(1000, kFaultRate), 0.0));
        tick(*voice); // retired ring full, one swap held back, four still queued
        sendOk(*voice, DeckCommand::takeOver(rampBuffer(1000, kFaultRate), 0.0));
        EXPECT_GT(TrackBuffer::liveCount(), baseline + 70);
        voice.reset();
    }
    EXPECT_EQ(TrackBuffer::liveCount(), baseline);
}

TEST(DeckVoiceFaults, OutOfRangeCuesLoopsAndTinyBuffersStayInBounds)
{
    FakeTimePitchInstall fake;
    DeckVoice voice(kFaultRate, 512);
    const DeckState& s = voice.state();
    loadNow(voice, rampBuffer(4800, kFaultRate));
    auto finiteOutput = [&](int frames) {
        const Rendered r = renderFrames(voice, frames, 128);
        for (std::size_t i = 0; i < r.left.size(); ++i)
            if (!std::isfinite(r.left[i]) || std::fabs(r.left[i]) > 4800.0f)
                return false;
        return std::isfinite(s.position.load()) && std::isfinite(s.slipPosition.load());
    };
    // A hot cue far past the end, previewed; a loop outside the buffer; a cue
    // point before the start.
    sendOk(voice, DeckCommand::setHotCue(0, 1e6));
    sendOk(voice, DeckCommand::hotCue(0, true));
    EXPECT_TRUE(finiteOutput(1000));
    sendOk(voice, DeckCommand::hotCue(0, false));
    sendOk(voice, DeckCommand::setLoop(-50.0, -10.0, true));
    sendOk(voice, DeckCommand::play());
    EXPECT_TRUE(finiteOutput(1000));
    sendOk(voice, DeckCommand::setLoop(500.0, 501.0, true));
    EXPECT_TRUE(finiteOutput(1000));
    sendOk(voice, DeckCommand::setCuePoint(-20.0));
    sendOk(voice, DeckCommand::pause());
    sendOk(voice, DeckCommand::cue(true));
    EXPECT_TRUE(finiteOutput(1000));
    sendOk(voice, DeckCommand::cue(false));

    // Zero-beat loops, NaN payloads and a NaN or infinite tempo.
    sendOk(voice, DeckCommand::seek(0.05));
    sendOk(voice, DeckCommand::play());
    sendOk(voice, DeckCommand::autoLoop(0));
    sendOk(voice, DeckCommand::autoLoop(std::nan("")));
    sendOk(voice, DeckCommand::seek(std::nan("")));
    sendOk(voice, DeckCommand::setCuePoint(std::nan("")));
    sendOk(voice, DeckCommand::setGrid(120.0, std::nan("")));
    sendOk(voice, DeckCommand::beatJump(std::nan("")));
    sendOk(voice, DeckCommand::jogScrub(INFINITY));
    sendOk(voice, DeckCommand::loopResize(std::nan("")));
    EXPECT_TRUE(finiteOutput(500));
    for (double t : {std::nan(""), double(INFINITY), -double(INFINITY), 1e300}) {
        voice.tempo().store(t);
        sendOk(voice, DeckCommand::keyLock(false));
        sendOk(voice, DeckCommand::play());
        EXPECT_TRUE(finiteOutput(300)) << t;
        voice.setSyncCorrection(t);
        EXPECT_TRUE(finiteOutput(300)) << t;
        voice.setSyncCorrection(1.0);
    }

    // A buffer of one frame renders silence and never reads past it.
    for (std::int64_t frames : {1, 2, 3}) {
        voice.tempo().store(1.0);
        loadNow(voice, rampBuffer(frames, kFaultRate, 100.0f));
        sendOk(voice, DeckCommand::play());
        const Rendered r = renderFrames(voice, 400, 64);
        for (float v : r.left)
            ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 100.0f * float(frames));
        if (frames == 1) {
            for (float v : r.left)
                ASSERT_EQ(v, 0.0f);
        }
        EXPECT_FALSE(s.playing.load()) << frames;
        voice.releaseRetiredBuffers();
    }
}

TEST(DeckVoiceFaults, CueRevisionIsPublishedAfterTheCuesItCounts)
{
    FakeTimePitchInstall fake;
    DeckVoice voice(kFaultRate, 512);
    const DeckState& s = voice.state();
    loadNow(voice, rampBuffer(480000, kFaultRate));
    // Each render changes a hot cue by pad; whenever a new revision is seen the
    // hot cue of that revision is already published.
    for (int i = 0; i < 8; ++i) {
        sendOk(voice, DeckCommand::seek(double(i + 1)));
        sendOk(voice, DeckCommand::hotCue(i, true));
        sendOk(voice, DeckCommand::hotCue(i, false));
        EXPECT_EQ(s.cueRevisionAcquire(), i) << "not before the render";
        tick(voice, 1);
        EXPECT_EQ(s.cueRevisionAcquire(), i + 1);
        EXPECT_DOUBLE_EQ(s.hotCues[std::size_t(i)].load(), double(i + 1));
    }
}
