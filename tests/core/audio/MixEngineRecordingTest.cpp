#include "audio/MixEngine.h"

#include "library/AudioFileError.h"

#include "MixEngineSupport.h"
#include "RecordingSupport.h"
#include "support/RealtimeGuard.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace zelvo {
namespace {

using namespace zelvo::test;
constexpr double kRecordingRate = 48000.0;

std::string pathIn(const TempHome& home, const char* name) { return home.file(name).toStdString(); }

// Two decks playing different sines through a few effects.
void playASet(MixEngine& engine)
{
    MixerParams& p = *engine.params();
    loadDeck(engine, 0, sineBuffer(10.0, kRecordingRate, 330.0, 0.7), 124.0);
    loadDeck(engine, 1, sineBuffer(10.0, kRecordingRate, 1250.0, 0.6), 124.0);
    send(engine, 0, DeckCommand::play());
    send(engine, 1, DeckCommand::play());
    p.channel(1).sync.store(true);
    p.channel(0).colorFX.store(0.4);
    p.beatFXKind.store(int(BeatFXKind::flanger));
    p.beatFXOn.store(true);
}

TEST(MixEngineRecordingTest, ARecordingEqualsTheMasterAndTheTapHoldsItInSixteenBits)
{
    TempHome home;
    const std::string path = pathIn(home, "set.wav");
    MixEngine engine(kRecordingRate, 512);
    playASet(engine);
    render(engine, 4800);
    engine.startRecording(path);
    EXPECT_TRUE(engine.state()->recording.load());
    const EngineOutput out = render(engine, 48000, 480);
    EXPECT_DOUBLE_EQ(engine.state()->recordedSeconds.load(), 1.0);
    engine.stopRecording();
    EXPECT_FALSE(engine.state()->recording.load());
    render(engine, 480); // the audio thread acknowledges the stop
    ASSERT_TRUE(engine.waitForRecordingFiles(std::chrono::milliseconds(5000)));

    const WavContents wav = readWav(path);
    ASSERT_TRUE(wav.ok);
    ASSERT_EQ(wav.samples.size(), 2u * 48000u);
    for (std::size_t i = 0; i < 48000; ++i) {
        ASSERT_EQ(wav.samples[2 * i], out.ch[0][i]) << i;
        ASSERT_EQ(wav.samples[2 * i + 1], out.ch[1][i]) << i;
    }
    EXPECT_DOUBLE_EQ(engine.state()->recordedSeconds.load(), 1.0);

    // The tap: what was rendered, coded in 16 bits, ending one slice behind.
    auto snap = engine.masterTap()->snapshot(0.5);
    ASSERT_TRUE(snap);
    const std::int64_t written = engine.masterTap()->written();
    ASSERT_EQ(written, 4800 + 48000 + 480);
    for (std::int64_t k = 0; k < snap->buffer->frames; ++k) {
        const std::int64_t frame = snap->endFrame - snap->buffer->frames + k;
        ASSERT_GE(frame, 4800);
        const float expected = float(MasterTap::encode(out.ch[0][std::size_t(frame - 4800)])) / 32767.0f;
        ASSERT_EQ(snap->buffer->left[k], expected) << frame;
    }
}

TEST(MixEngineRecordingTest, StartStopAndFailuresLeaveTheStateRight)
{
    TempHome home;
    MixEngine engine(kRecordingRate, 512);
    playASet(engine);
    // Stopping when idle changes nothing.
    engine.stopRecording();
    EXPECT_FALSE(engine.state()->recording.load());

    // An unwritable path throws with the step and leaves recording off.
    try {
        engine.startRecording(pathIn(home, "no/such/folder/set.wav"));
        FAIL() << "expected a failure";
    } catch (const AudioFileError& e) {
        EXPECT_EQ(e.step(), "create recording");
    }
    EXPECT_FALSE(engine.state()->recording.load());

    // Starting twice: the first file is finished, only the second keeps growing.
    const std::string first = pathIn(home, "a.wav"), second = pathIn(home, "b.wav");
    engine.startRecording(first);
    render(engine, 4800, 480);
    engine.startRecording(second);
    render(engine, 9600, 480);
    EXPECT_DOUBLE_EQ(engine.state()->recordedSeconds.load(), 0.2);
    engine.stopRecording();
    render(engine, 480);
    ASSERT_TRUE(engine.waitForRecordingFiles(std::chrono::milliseconds(5000)));
    EXPECT_EQ(readWav(first).samples.size(), 2u * 4800u);
    EXPECT_EQ(readWav(second).samples.size(), 2u * 9600u);
    EXPECT_FALSE(engine.recordingStatus().failed);
}

TEST(MixEngineRecordingTest, DirectOutsSendDecksToTheirPairsAndRecordTheirSum)
{
    TempHome home;
    const std::string path = pathIn(home, "direct.wav");
    MixEngine engine(kRecordingRate, 512);
    MixerParams& p = *engine.params();
    p.directOuts.store(true);
    // Two decks at full scale (DC), so their sum clips.
    loadDeck(engine, 0, generatedBuffer(4.0, kRecordingRate, [](std::int64_t) { return 1.0f; }));
    loadDeck(engine, 1, generatedBuffer(4.0, kRecordingRate, [](std::int64_t) { return 1.0f; }));
    send(engine, 0, DeckCommand::play());
    send(engine, 1, DeckCommand::play());
    render(engine, 4800);
    engine.startRecording(path);

    // A two-buffer output hears deck 1 only; four buffers carry deck 2 on 3/4.
    EngineOutput two = render(engine, 4800, 480, 2);
    EXPECT_NEAR(peakOf(two.ch[0]), 1.0f, 1e-4f);
    EXPECT_EQ(peakOf(two.ch[2]), 0.0f);
    EngineOutput four = render(engine, 4800, 480, 4);
    EXPECT_NEAR(peakOf(four.ch[2]), 1.0f, 1e-4f);

    // Muted: silent outputs, while meters and the recording still follow.
    p.directMute.store(true);
    EngineOutput muted = render(engine, 4800, 480, 4);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(peakOf(muted.ch[c]), 0.0f) << c;
    EXPECT_GT(engine.state()->channelPeak[0].load(), 0.9);
    EXPECT_GT(engine.state()->channelPeak[1].load(), 0.9);
    EXPECT_EQ(engine.state()->masterPeakL.load(), 1.0);
    engine.stopRecording();
    render(engine, 480);
    ASSERT_TRUE(engine.waitForRecordingFiles(std::chrono::milliseconds(5000)));

    const WavContents wav = readWav(path);
    ASSERT_EQ(wav.samples.size(), 2u * 3u * 4800u);
    for (float x : wav.samples)
        ASSERT_EQ(x, 1.0f); // 1 + 1 clipped, never 2
}

TEST(MixEngineRecordingTest, RenderIsRealtimeSafeWithEverythingRunning)
{
    TempHome home;
    MixEngine engine(kRecordingRate, 4096);
    MixerParams& p = *engine.params();
    for (int i = 0; i < 4; ++i) {
        loadDeck(engine, i, sineBuffer(20.0, kRecordingRate, 200.0 + 300.0 * i, 0.4), 120.0 + i);
        send(engine, i, DeckCommand::keyLock(true));
        engine.deck(i)->tempo().store(1.03);
        send(engine, i, DeckCommand::play());
        p.channel(std::size_t(i)).sync.store(i > 0);
        p.channel(std::size_t(i)).colorFX.store(0.5);
    }
    engine.setCueEnabled(true);
    p.channel(2).cue.store(true);
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(4096, 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    // Warm up: first renders may set up the stretchers.
    engine.render(4096, ptrs, 4);

    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            auto snap = engine.masterTap()->snapshot(1.0);
            (void)snap;
            std::this_thread::yield();
        }
    });
    RealtimeProbe probe;
    int cycle = 0;
    for (BeatFXKind kind : allBeatFXKinds) {
        for (int target = 0; target <= 4; ++target) {
            p.beatFXKind.store(int(kind));
            p.beatFXTarget.store(target);
            p.beatFXOn.store(cycle % 2 == 0);
            p.colorFXKind.store(cycle % 4);
            p.directOuts.store(cycle % 7 == 3);
            if (cycle % 5 == 0)
                engine.startRecording(pathIn(home, "rt.wav"));
            if (cycle % 5 == 3)
                engine.stopRecording();
            if (cycle == 6)
                p.dropOffset.store(0.5);
            if (cycle == 9)
                p.alignStart.store(1);
            {
                AudioThreadScope audio;
                for (int k = 0; k < 4; ++k)
                    engine.render(cycle % 2 ? 4096 : 10000 % 4096 + 1, ptrs, 4);
            }
            ++cycle;
        }
    }
    EXPECT_TRUE(probe.clean());
    done.store(true);
    reader.join();
    engine.stopRecording();
}

} // namespace
} // namespace zelvo
