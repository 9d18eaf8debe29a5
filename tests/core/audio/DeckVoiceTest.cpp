// Command handling of the deck voice, on ramps whose sample values tell the
// position they were read from.
#include "audio/DeckVoice.h"

#include "DeckVoiceSupport.h"
#include "support/FakeTimePitch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

constexpr double kRate = 48000.0;

class DeckVoiceTest : public ::testing::Test {
protected:
    FakeTimePitchInstall fake{0.01};
    DeckVoice voice{kRate, 4096};
    const DeckState& s = voice.state();

    void send(const DeckCommand& c) { sendOk(voice, c); }
    // Plays `seconds` of audio in 256-frame blocks.
    void play(double seconds) { renderFrames(voice, int(std::lround(seconds * kRate)), 256); }
    // A 120-second ramp, loaded and parked at `at` seconds, stopped.
    void loadRamp(double at = 0.0)
    {
        loadNow(voice, rampBuffer(std::int64_t(120 * kRate), kRate));
        send(DeckCommand::seek(at));
        tick(voice, 1);
    }
};

} // namespace

TEST_F(DeckVoiceTest, PlaysTheRampAtTempoAndStopsAtTheEnd)
{
    loadNow(voice, rampBuffer(48000, kRate));
    EXPECT_TRUE(s.loaded.load());
    EXPECT_DOUBLE_EQ(s.duration.load(), 1.0);
    send(DeckCommand::keyLock(false));
    voice.tempo().store(1.25);
    send(DeckCommand::play());
    const Rendered r = renderFrames(voice, 20000, 512);
    // After the declick ramp the output is the source read at 1.25 frames per frame.
    for (int i = 4000; i < 20000; i += 997)
        EXPECT_NEAR(r.left[std::size_t(i)], 1.25 * i, 1e-4 * i) << i;
    EXPECT_NEAR(s.position.load(), 1.25 * 20000 / kRate, 1e-9);
    EXPECT_DOUBLE_EQ(s.speed.load(), 1.25);
    renderFrames(voice, 30000, 512);
    EXPECT_FALSE(s.playing.load());
    EXPECT_DOUBLE_EQ(s.position.load(), (48000.0 - 2.0) / kRate);
    // Stopped: the declick fades to exact zeros.
    const Rendered after = renderFrames(voice, 4000, 256);
    EXPECT_EQ(after.left.back(), 0.0f);
    EXPECT_EQ(after.right.back(), 0.0f);
    EXPECT_DOUBLE_EQ(s.speed.load(), 0.0);
}

TEST_F(DeckVoiceTest, CueButtonPreviewsSetsAndLatches)
{
    loadRamp(10.0);
    send(DeckCommand::setCuePoint(10.003));
    send(DeckCommand::cue(true)); // 3 ms away: preview
    tick(voice);
    EXPECT_TRUE(s.playing.load());
    EXPECT_TRUE(s.cueing.load());
    send(DeckCommand::cue(false)); // release: back to the cue, stopped
    tick(voice);
    EXPECT_FALSE(s.playing.load());
    EXPECT_DOUBLE_EQ(s.position.load(), 10.003);

    // 10 ms away with a grid and quantize: a new cue point on the nearest beat.
    send(DeckCommand::setGrid(120.0, 0.0));
    send(DeckCommand::seek(10.013));
    tick(voice, 1);
    const auto revision = s.cueRevisionAcquire();
    send(DeckCommand::cue(true));
    tick(voice, 1);
    EXPECT_DOUBLE_EQ(s.cuePoint.load(), 10.0);
    EXPECT_EQ(s.cueRevisionAcquire(), revision + 1);
    EXPECT_FALSE(s.playing.load());

    // Held, play pressed, released: keeps playing.
    send(DeckCommand::cue(true));
    send(DeckCommand::play());
    send(DeckCommand::cue(false));
    tick(voice);
    EXPECT_TRUE(s.playing.load());
    EXPECT_FALSE(s.cueing.load());
    // Pressed while playing normally: back to the cue, stopped.
    send(DeckCommand::cue(true));
    tick(voice, 1);
    EXPECT_FALSE(s.playing.load());
    EXPECT_DOUBLE_EQ(s.position.load(), 10.0);
    EXPECT_EQ(s.cueRevisionAcquire(), revision + 1) << "cues set by command or moves do not count";
}

TEST_F(DeckVoiceTest, HotCuesKeepThePhaseStoreAndPreview)
{
    loadRamp(20.0);
    send(DeckCommand::setGrid(120.0, 0.0));
    send(DeckCommand::hotCue(2, true)); // empty pad: store here (on a beat already)
    tick(voice, 1);
    EXPECT_DOUBLE_EQ(s.hotCues[2].load(), 20.0);
    send(DeckCommand::hotCue(2, false));
    send(DeckCommand::setHotCue(8, 3.0)); // out of range: ignored
    send(DeckCommand::setHotCue(-1, 3.0));
    send(DeckCommand::setHotCue(0, -5.0));
    tick(voice, 1);
    for (int i : {0, 1, 3, 4, 5, 6, 7})
        EXPECT_DOUBLE_EQ(s.hotCues[std::size_t(i)].load(), -1.0);

    // Playing 0.1 beat after a beat (beat 0.5 s): lands 0.1 beat after the hot cue.
    send(DeckCommand::seek(30.05));
    send(DeckCommand::play());
    send(DeckCommand::hotCue(2, true));
    tick(voice, 1);
    EXPECT_NEAR(s.position.load(), 20.05 + 1.0 / kRate, 1e-9);
    send(DeckCommand::hotCue(2, false)); // not held without slip: nothing
    tick(voice, 1);
    EXPECT_TRUE(s.playing.load());

    // Stopped: press previews from the hot cue, release returns to it.
    send(DeckCommand::pause());
    send(DeckCommand::hotCue(2, true));
    play(0.5);
    EXPECT_TRUE(s.cueing.load());
    EXPECT_NEAR(s.position.load(), 20.5, 1e-6);
    send(DeckCommand::hotCue(2, false));
    tick(voice, 1);
    EXPECT_FALSE(s.playing.load());
    EXPECT_DOUBLE_EQ(s.position.load(), 20.0);
}

TEST_F(DeckVoiceTest, LoopsEngageReleaseResizeAndRefuseTinyOnes)
{
    loadRamp(10.0);
    send(DeckCommand::quantize(false));
    send(DeckCommand::autoLoop(4)); // no grid: 0.5 s beats
    tick(voice, 1);
    EXPECT_TRUE(s.loopActive.load());
    EXPECT_DOUBLE_EQ(s.loopEnd.load() - s.loopStart.load(), 2.0);
    send(DeckCommand::autoLoop(4)); // the same loop again: released, points stay
    tick(voice, 1);
    EXPECT_FALSE(s.loopActive.load());
    EXPECT_GE(s.loopStart.load(), 0.0);
    send(DeckCommand::autoLoop(4));
    send(DeckCommand::autoLoop(2)); // replaces
    tick(voice, 1);
    EXPECT_TRUE(s.loopActive.load());
    EXPECT_DOUBLE_EQ(s.loopEnd.load() - s.loopStart.load(), 1.0);

    // Playing wraps inside the loop.
    send(DeckCommand::play());
    play(3.3);
    EXPECT_GE(s.position.load(), s.loopStart.load());
    EXPECT_LT(s.position.load(), s.loopEnd.load());
    send(DeckCommand::pause());

    send(DeckCommand::setLoop(50.0, 50.0 + 1000.0 / kRate, true));
    send(DeckCommand::loopResize(0.0001));
    tick(voice, 1);
    EXPECT_NEAR((s.loopEnd.load() - s.loopStart.load()) * kRate, 32.0, 1e-6);

    // loopOut 10 frames after loopIn: refused without quantize ...
    send(DeckCommand::reloopExit());
    send(DeckCommand::setLoop(-1, -1, false));
    send(DeckCommand::seek(60.0));
    send(DeckCommand::loopIn());
    send(DeckCommand::seek(60.0 + 10.0 / kRate));
    send(DeckCommand::loopOut());
    tick(voice, 1);
    EXPECT_FALSE(s.loopActive.load());
    // ... a one-beat loop with a grid and quantize.
    send(DeckCommand::setGrid(120.0, 0.0));
    send(DeckCommand::quantize(true));
    send(DeckCommand::loopOut());
    tick(voice, 1);
    EXPECT_TRUE(s.loopActive.load());
    EXPECT_DOUBLE_EQ(s.loopStart.load(), 60.0);
    EXPECT_DOUBLE_EQ(s.loopEnd.load(), 60.5);
}

TEST_F(DeckVoiceTest, BeatJumpFollowsTheGridOrHalfSecondBeats)
{
    loadRamp(10.0);
    send(DeckCommand::beatJump(1));
    tick(voice, 1);
    EXPECT_DOUBLE_EQ(s.position.load(), 10.5);
    send(DeckCommand::setGrid(180.0, 0.0));
    send(DeckCommand::beatJump(1));
    tick(voice, 1);
    EXPECT_NEAR(s.position.load(), 10.5 + 1.0 / 3.0, 1e-9);
    for (double bpm : {20.0, 400.0, std::nan(""), double(INFINITY)}) {
        send(DeckCommand::setGrid(bpm, 0.0));
        send(DeckCommand::seek(10.0));
        send(DeckCommand::beatJump(-2));
        tick(voice, 1);
        EXPECT_DOUBLE_EQ(s.position.load(), 9.0) << bpm;
    }
}

TEST_F(DeckVoiceTest, SlipReturnsWhereTheTrackWouldHaveBeen)
{
    loadRamp(10.0);
    send(DeckCommand::setGrid(120.0, 0.0));
    send(DeckCommand::slip(true));
    send(DeckCommand::play());
    tick(voice, 1);
    send(DeckCommand::autoLoop(1)); // one beat, for four beats
    tick(voice, 1);
    play(2.0);
    EXPECT_LT(s.position.load(), 11.0);
    send(DeckCommand::reloopExit());
    tick(voice, 1);
    // Rendered 1 + 1 + 96000 + 1 frames since the start at 10 s.
    EXPECT_NEAR(s.position.load(), 10.0 + 96003.0 / kRate, 1e-9);
    EXPECT_DOUBLE_EQ(s.slipPosition.load(), s.position.load());
}

TEST_F(DeckVoiceTest, JogScratchesBendsAndNudges)
{
    loadRamp(10.0);
    send(DeckCommand::jogScrub(0.25)); // paused: nudges
    tick(voice, 1);
    EXPECT_DOUBLE_EQ(s.position.load(), 10.25);
    send(DeckCommand::jogTouch(true));
    send(DeckCommand::jogScrub(0.5)); // vinyl: scratches towards +0.5 s
    play(0.3);
    EXPECT_NEAR(s.position.load(), 10.75, 0.002);
    EXPECT_TRUE(s.jogTouched.load());
    send(DeckCommand::jogTouch(false));
    send(DeckCommand::play());
    send(DeckCommand::jogBend(0.5));
    int calls = 0;
    tick(voice, 64);
    ++calls;
    while (s.speed.load() != 1.0 && calls < 100) {
        tick(voice, 64);
        ++calls;
    }
    EXPECT_EQ(calls, 40) << "0.5 × 0.85^39 < 0.001: the 40th render plays at speed 1";
}

TEST_F(DeckVoiceTest, ReverseThroughALoopDoesNotWrap)
{
    loadRamp(10.0);
    send(DeckCommand::setLoop(9.9, 10.1, true));
    send(DeckCommand::reverse(true));
    send(DeckCommand::play());
    play(0.5);
    EXPECT_NEAR(s.position.load(), 9.4, 1e-6);
    EXPECT_TRUE(s.playing.load());
    play(10.0);
    EXPECT_DOUBLE_EQ(s.position.load(), 0.0);
    EXPECT_TRUE(s.playing.load()) << "reverse stops at 0 but keeps playing";
}

TEST_F(DeckVoiceTest, SwapShiftsEverythingBackAndCountsACueChange)
{
    loadRamp(95.0);
    send(DeckCommand::setCuePoint(40.0));
    send(DeckCommand::setHotCue(0, 50.0));
    send(DeckCommand::setHotCue(1, 20.0));
    send(DeckCommand::setLoop(90.0, 92.0, false));
    tick(voice, 1);
    const auto revision = s.cueRevisionAcquire();
    send(DeckCommand::swap(rampBuffer(std::int64_t(100 * kRate), kRate), 30.0));
    tick(voice, 1);
    EXPECT_NEAR(s.position.load(), 65.0, 1e-9);
    // Position plus swap shift runs on with the music across the swap.
    EXPECT_NEAR(s.timeline().swapShift, 30.0, 1e-9);
    EXPECT_NEAR(s.timeline().position + s.timeline().swapShift, 95.0, 1e-9);
    EXPECT_DOUBLE_EQ(s.cuePoint.load(), 10.0);
    EXPECT_DOUBLE_EQ(s.hotCues[0].load(), 20.0);
    EXPECT_DOUBLE_EQ(s.hotCues[1].load(), -1.0);
    EXPECT_DOUBLE_EQ(s.loopStart.load(), 60.0);
    EXPECT_EQ(s.cueRevisionAcquire(), revision + 1);
    EXPECT_DOUBLE_EQ(s.duration.load(), 100.0);
    send(DeckCommand::swap(rampBuffer(std::int64_t(50 * kRate), kRate), 61.0)); // past the loop start
    tick(voice, 1);
    EXPECT_DOUBLE_EQ(s.loopStart.load(), -1.0);
    EXPECT_DOUBLE_EQ(s.loopEnd.load(), -1.0);
    EXPECT_FALSE(s.loopActive.load());
    // A swap that would move the playhead before 0 counts only the move made.
    send(DeckCommand::swap(rampBuffer(std::int64_t(50 * kRate), kRate), 10.0));
    tick(voice, 1);
    EXPECT_DOUBLE_EQ(s.position.load(), 0.0);
    EXPECT_NEAR(s.timeline().swapShift, 95.0, 1e-9);
    EXPECT_EQ(voice.releaseRetiredBuffers(), 3);
}

TEST_F(DeckVoiceTest, TakeOverLoadWithoutBufferAndAlignedStart)
{
    loadRamp(5.0);
    send(DeckCommand::setHotCue(3, 7.0));
    send(DeckCommand::takeOver(rampBuffer(std::int64_t(30 * kRate), kRate), 12.0));
    tick(voice, 1);
    EXPECT_TRUE(s.playing.load());
    EXPECT_NEAR(s.position.load(), 12.0 + 1.0 / kRate, 1e-9);
    EXPECT_DOUBLE_EQ(s.hotCues[3].load(), -1.0);

    send(DeckCommand::setGrid(120.0, 0.0));
    send(DeckCommand::pause());
    send(DeckCommand::seek(10.2));
    tick(voice, 1);
    voice.rtStartAligned(0.5); // candidates 9, 11, 13
    EXPECT_DOUBLE_EQ(voice.positionSeconds(), 11.0);
    EXPECT_TRUE(voice.isPlaying());
    voice.rtCue(-3.0);
    EXPECT_DOUBLE_EQ(voice.positionSeconds(), 0.0);
    EXPECT_FALSE(voice.isPlaying());
    voice.rtDropIn(3.0);
    EXPECT_TRUE(voice.isPlaying());
    EXPECT_DOUBLE_EQ(voice.positionSeconds(), 3.0);

    send(DeckCommand::load(TrackBufferRef(), false));
    tick(voice, 1);
    EXPECT_FALSE(s.loaded.load());
    EXPECT_DOUBLE_EQ(s.duration.load(), 0.0);
    EXPECT_DOUBLE_EQ(s.position.load(), 0.0);
    voice.rtDropIn(3.0);
    EXPECT_FALSE(voice.isPlaying());
}

// What the deck was asked for reads, before the render, as the render then
// leaves it: each transport command sent since the last render counts, in
// order, and a command carried out is not counted twice.
TEST_F(DeckVoiceTest, AskedReadsAheadOfTheRenderAsTheRenderLeavesTheDeck)
{
    loadRamp(20.0);
    const auto agrees = [&](const char* what, bool playing, double at) {
        const DeckVoice::Asked asked = voice.asked();
        EXPECT_EQ(asked.playing, playing) << what;
        EXPECT_NEAR(asked.position, at, 1e-9) << what;
        tick(voice, 1);
        EXPECT_EQ(s.playing.load(), playing) << what;
        EXPECT_NEAR(s.position.load(), at, 2.0 / kRate) << what;
        // Carried out: the published state alone.
        EXPECT_EQ(voice.asked().playing, playing) << what;
        EXPECT_NEAR(voice.asked().position, s.position.load(), 1e-9) << what;
    };
    send(DeckCommand::play());
    agrees("play", true, 20.0);
    send(DeckCommand::setGrid(120.0, 0.0)); // no transport
    send(DeckCommand::keyLock(false));
    send(DeckCommand::pause());
    agrees("pause", false, 20.0 + 1.0 / kRate); // where it was heard
    send(DeckCommand::seek(30.0));
    send(DeckCommand::play());
    agrees("seek and play", true, 30.0);
    send(DeckCommand::swap(rampBuffer(std::int64_t(100 * kRate), kRate), 10.0));
    agrees("swap", true, 20.0 + 1.0 / kRate); // 30 s and a frame, less the 10 s cut
    EXPECT_NEAR(s.position.load(), 20.0, 3.0 / kRate);
    send(DeckCommand::load(rampBuffer(std::int64_t(60 * kRate), kRate), false));
    send(DeckCommand::setCuePoint(4.0));
    agrees("a new record", false, 0.0);
    send(DeckCommand::takeOver(rampBuffer(std::int64_t(60 * kRate), kRate), 12.0));
    agrees("take-over", true, 12.0);
    send(DeckCommand::play());
    agrees("play pressed while playing", false, 12.0 + 1.0 / kRate);
    send(DeckCommand::seek(8.0));
    send(DeckCommand::play());
    send(DeckCommand::cue(true));
    agrees("cue pressed while playing", false, 4.0);
    send(DeckCommand::cue(false));
    send(DeckCommand::cue(true)); // on the cue: a preview while held
    send(DeckCommand::play());    // latched
    send(DeckCommand::cue(false));
    agrees("a latched preview", true, 4.0);
    send(DeckCommand::load(TrackBufferRef(), false));
    send(DeckCommand::play());
    agrees("no record", false, 0.0);
    EXPECT_FALSE(voice.asked().loaded);
    EXPECT_EQ(voice.releaseRetiredBuffers(), 4);
}

// An output stopped with commands still waiting: the deck goes on where and
// as it was last asked, whatever the commands and however many (a jog sends
// one per event), by the voice's own handling of each.
TEST_F(DeckVoiceTest, AskedOnceStoppedCarriesOutEveryWaitingCommand)
{
    struct Case {
        const char* what;
        std::function<void(DeckVoice&)> sendAll;
        bool playing;
        double at;
        // The transport a new voice is handed, in seconds.
        std::function<void(const DeckTransport&)> kept = [](const DeckTransport&) {};
    };
    const auto loop = [](double start, double end) {
        return [start, end](const DeckTransport& k) {
            EXPECT_TRUE(k.loopActive_);
            EXPECT_NEAR(k.loopStart_, start, 1e-9);
            EXPECT_NEAR(k.loopEnd_, end, 1e-9);
        };
    };
    const std::vector<Case> cases{
        {"a play then 70 jog events", [](DeckVoice& v) {
             sendOk(v, DeckCommand::play());
             for (int i = 0; i < 70; ++i)
                 sendOk(v, DeckCommand::jogScrub(0.001)); // a pitch bend while playing
         }, true, 20.0},
        {"a play then a ring's worth of jog events", [](DeckVoice& v) {
             sendOk(v, DeckCommand::play());
             for (int i = 0; i < DeckVoice::kCommandCapacity - 1; ++i)
                 sendOk(v, DeckCommand::jogScrub(0.001));
         }, true, 20.0},
        {"a hot cue while playing", [](DeckVoice& v) {
             sendOk(v, DeckCommand::play());
             sendOk(v, DeckCommand::setHotCue(2, 50.0));
             sendOk(v, DeckCommand::hotCue(2, true));
             sendOk(v, DeckCommand::hotCue(2, false));
         }, true, 50.0},
        {"a beat jump, then a loop", [](DeckVoice& v) {
             sendOk(v, DeckCommand::setGrid(120.0, 0.0));
             sendOk(v, DeckCommand::beatJump(8.0)); // 4 s on
             sendOk(v, DeckCommand::play());
             sendOk(v, DeckCommand::setLoop(30.0, 32.0, true));
         }, true, 30.0, loop(30.0, 32.0)},
        {"a loop, then a beat jump", [](DeckVoice& v) {
             sendOk(v, DeckCommand::setGrid(120.0, 0.0));
             sendOk(v, DeckCommand::setLoop(30.0, 32.0, true));
             sendOk(v, DeckCommand::beatJump(-4.0)); // the loop moves with it
         }, false, 28.0, loop(28.0, 30.0)},
        {"a scratch on the held platter", [](DeckVoice& v) {
             sendOk(v, DeckCommand::jogTouch(true));
             sendOk(v, DeckCommand::jogScrub(1.5));
             sendOk(v, DeckCommand::jogScrub(-0.25));
         }, false, 21.25, [](const DeckTransport& k) { EXPECT_TRUE(k.jogTouched_); }},
        {"a hot cue stored on an empty pad, then CUE held", [](DeckVoice& v) {
             sendOk(v, DeckCommand::hotCue(3, true));
             sendOk(v, DeckCommand::hotCue(3, false));
             sendOk(v, DeckCommand::setCuePoint(20.0));
             sendOk(v, DeckCommand::cue(true));
         }, true, 20.0, [](const DeckTransport& k) {
             EXPECT_NEAR(k.hotCues_[3], 20.0, 2.0 / kRate);
             EXPECT_EQ(k.cueRevision_, 1);
             EXPECT_TRUE(k.cueing_ && k.playing_);
             EXPECT_FALSE(k.cueLatch_);
         }},
        {"play pressed while a hot cue is held", [](DeckVoice& v) {
             sendOk(v, DeckCommand::setHotCue(6, 45.0));
             sendOk(v, DeckCommand::hotCue(6, true));
             sendOk(v, DeckCommand::play());
         }, true, 45.0, [](const DeckTransport& k) {
             EXPECT_EQ(k.hotCueHeld_, 6);
             EXPECT_TRUE(k.cueLatch_);
             EXPECT_FALSE(k.cueing_);
             EXPECT_EQ(k.cueRevision_, 0); // set by command, as from the record
         }},
        {"a cue preview let go", [](DeckVoice& v) {
             sendOk(v, DeckCommand::setCuePoint(20.0));
             sendOk(v, DeckCommand::cue(true));
             sendOk(v, DeckCommand::cue(false));
             sendOk(v, DeckCommand::seek(40.0));
         }, false, 40.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeckVoice v{kRate, 4096};
        loadNow(v, rampBuffer(std::int64_t(120 * kRate), kRate));
        sendOk(v, DeckCommand::seek(20.0));
        tick(v, 1); // the last render: 20 s and a frame
        c.sendAll(v);
        const DeckVoice::Asked asked = v.askedOnceStopped();
        EXPECT_TRUE(asked.loaded);
        EXPECT_EQ(asked.playing, c.playing);
        EXPECT_NEAR(asked.position, c.at, 2.0 / kRate);
        c.kept(v.handoverOnceStopped());
    }

    // Asked again after more commands, it goes on from what it carried out;
    // a new record waiting is taken, and the buffer it replaces released.
    loadRamp(20.0);
    send(DeckCommand::play());
    send(DeckCommand::seek(35.0));
    DeckVoice::Asked asked = voice.askedOnceStopped();
    EXPECT_TRUE(asked.playing);
    EXPECT_NEAR(asked.position, 35.0, 2.0 / kRate);
    send(DeckCommand::pause());
    asked = voice.askedOnceStopped();
    EXPECT_FALSE(asked.playing);
    EXPECT_NEAR(asked.position, 35.0, 2.0 / kRate);
    send(DeckCommand::load(rampBuffer(std::int64_t(60 * kRate), kRate), false));
    asked = voice.askedOnceStopped();
    EXPECT_TRUE(asked.loaded);
    EXPECT_FALSE(asked.playing);
    EXPECT_NEAR(asked.position, 0.0, 1e-9);
}

// A voice at another rate takes the deck over from a stopped one: the whole
// transport in seconds (a slip hold, its slip point, a loop), forward, and
// the commands it was sent while it awaited its record come after, so a
// hold let go meanwhile ends as it would have on the old voice.
TEST_F(DeckVoiceTest, AVoiceAtAnotherRateTakesTheWholeTransportThenWhatItWasSentMeanwhile)
{
    constexpr double kOther = 44100.0;
    const auto oldDeck = [](DeckVoice& v) {
        loadNow(v, rampBuffer(std::int64_t(120 * kRate), kRate));
        sendOk(v, DeckCommand::slip(true));
        sendOk(v, DeckCommand::setHotCue(5, 10.0));
        sendOk(v, DeckCommand::seek(40.0));
        sendOk(v, DeckCommand::play());
        renderFrames(v, int(2.0 * kRate), 256); // 42 s
        sendOk(v, DeckCommand::hotCue(5, true)); // held: plays from 10 s, slip runs on
        sendOk(v, DeckCommand::reverse(true));
        sendOk(v, DeckCommand::reverse(false));
        renderFrames(v, int(3.0 * kRate), 256); // the slip point at 45 s
        sendOk(v, DeckCommand::reverse(true));
    };
    struct Case {
        const char* what;
        bool letGoMeanwhile;
    };
    // Let go, the deck plays on from the slip point.
    constexpr double kSlipPoint = 45.0;
    for (const Case c : {Case{"let go while awaiting the record", true}, Case{"let go after the handover", false}}) {
        SCOPED_TRACE(c.what);
        DeckVoice old{kRate, 4096};
        oldDeck(old);
        ASSERT_TRUE(old.askedOnceStopped().playing);
        const DeckTransport handed = old.handoverOnceStopped();
        EXPECT_EQ(handed.hotCueHeld_, 5);
        EXPECT_FALSE(handed.reverse_);
        EXPECT_NEAR(handed.slipPos_, 45.0, 0.05);
        EXPECT_NEAR(handed.hotCues_[5], 10.0, 1e-9);

        DeckVoice next{kOther, 4096};
        next.awaitHandover();
        sendOk(next, DeckCommand::slip(true));
        if (c.letGoMeanwhile)
            sendOk(next, DeckCommand::hotCue(5, false)); // nothing to let go of yet
        tick(next);
        EXPECT_TRUE(next.awaitingHandover());
        loadNow(next, rampBuffer(std::int64_t(120 * kOther), kOther));
        sendOk(next, DeckCommand::setGrid(120.0, 0.0)); // the record's install, not kept
        ASSERT_TRUE(next.handOver(handed));
        EXPECT_FALSE(next.awaitingHandover());
        tick(next, 1);
        const DeckState& st = next.state();
        EXPECT_FALSE(st.reverseOn.load());
        EXPECT_TRUE(st.slipOn.load());
        if (c.letGoMeanwhile) {
            EXPECT_TRUE(st.playing.load());
            EXPECT_NEAR(st.position.load(), kSlipPoint, 0.05);
        } else {
            EXPECT_NEAR(st.position.load(), 13.0, 0.05); // the pad's music, 3 s in
            EXPECT_NEAR(st.slipPosition.load(), kSlipPoint, 0.05);
            sendOk(next, DeckCommand::hotCue(5, false));
            tick(next, 1);
            EXPECT_TRUE(st.playing.load());
            EXPECT_NEAR(st.position.load(), kSlipPoint, 0.05);
        }
    }
}

TEST_F(DeckVoiceTest, ChoosesTheTimePitchPathOnlyWhenNeeded)
{
    FakeTimePitch* unit = fake.last();
    ASSERT_NE(unit, nullptr);
    loadRamp(10.0);
    send(DeckCommand::play());
    auto renders = [&] {
        int n = 0;
        for (int i = 0; i < unit->eventCount(); ++i)
            n += unit->event(i).kind == FakeTimePitch::Event::Kind::render;
        return n;
    };
    play(0.1); // key lock on, tempo 1, no shift: direct
    voice.keyShift().store(0.0005);
    play(0.1);
    EXPECT_EQ(renders(), 0);
    EXPECT_NEAR(s.position.load(), 10.2, 1e-6) << "direct path: no latency";

    voice.keyShift().store(0.002);
    play(0.1);
    EXPECT_GT(renders(), 0);
    EXPECT_NEAR(unit->cents(), 0.2f, 1e-6f);
    EXPECT_EQ(unit->rate(), 1.0f);
    {
        // The delayed output is what the source held at the published position.
        const Rendered r = renderFrames(voice, 256, 256);
        // (The declick gain settles a few millionths below 1.)
        EXPECT_NEAR(r.left.back(), s.position.load() * kRate - 1.0, 1.0 + 1e-5 * r.left.back());
    }

    // Key lock at 1.08: rate 1.08, source read at 1, position lags by latency × 1.08.
    voice.keyShift().store(0.0);
    voice.tempo().store(1.08);
    const int resetsBefore = unit->resets();
    send(DeckCommand::seek(30.0));
    tick(voice, 1);
    play(1.0);
    EXPECT_FLOAT_EQ(unit->rate(), 1.08f);
    EXPECT_DOUBLE_EQ(s.speed.load(), 1.0);
    const double latency = unit->latencyFrames();
    // The fake delays without stretching: it takes one input frame per output
    // frame, so at 1.08 it holds less than its latency stands for and the lag
    // (input held plus latency, in input frames) comes to nothing.
    EXPECT_NEAR(s.position.load(), 30.0 + (1.0 + 48000.0 - std::max(latency * 1.08 - 48001.0 * 0.08, 0.0)) / kRate, 1e-9);
    EXPECT_EQ(unit->resets(), resetsBefore) << "staying on the unit does not reset it";
    // Scratching or a stopped deck goes direct; back on the unit it is reset first.
    send(DeckCommand::jogTouch(true));
    play(0.05);
    send(DeckCommand::jogTouch(false));
    play(0.05);
    EXPECT_EQ(unit->resets(), resetsBefore + 1);
    send(DeckCommand::keyLock(false)); // a key-lock command resets too, and unlocks the path
    play(0.05);
    EXPECT_EQ(unit->resets(), resetsBefore + 2);
    EXPECT_DOUBLE_EQ(s.speed.load(), 1.08);
}

TEST_F(DeckVoiceTest, WithoutATimePitchUnitTheDirectPathPlays)
{
    NoTimePitch none;
    DeckVoice plain(kRate, 512);
    EXPECT_FALSE(plain.hasTimePitch());
    loadNow(plain, rampBuffer(48000, kRate));
    plain.keyShift().store(3.0);
    plain.tempo().store(1.08);
    sendOk(plain, DeckCommand::play());
    renderFrames(plain, 4800, 512);
    EXPECT_NEAR(plain.state().position.load(), 4800 * 1.08 / kRate, 1e-9);
}
