#include "audio/Recorder.h"

#include "RecordingSupport.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zelvo {
namespace {

using test::eventually;
using test::FakeFileLog;
using test::FakeRecordingFile;

// Hands `frames` frames to the recorder as the audio thread would; sample k of
// the run is k·1e-5 on the left and its negative on the right.
struct Feeder {
    Recorder& rec;
    std::int64_t next = 0;
    std::int64_t feed(std::int64_t frames)
    {
        std::vector<float> l(static_cast<std::size_t>(frames)), r(static_cast<std::size_t>(frames));
        for (std::int64_t i = 0; i < frames; ++i) {
            l[std::size_t(i)] = float(next + i) * 1e-5f;
            r[std::size_t(i)] = -l[std::size_t(i)];
        }
        next += frames;
        return rec.record(frames, l.data(), r.data());
    }
};

bool holdsRamp(FakeFileLog& log, std::int64_t from, std::int64_t frames)
{
    std::lock_guard lock(log.mutex);
    if (std::int64_t(log.samples.size()) != 2 * frames)
        return false;
    for (std::int64_t i = 0; i < frames; ++i)
        if (log.samples[std::size_t(2 * i)] != float(from + i) * 1e-5f
            || log.samples[std::size_t(2 * i + 1)] != -float(from + i) * 1e-5f)
            return false;
    return true;
}

TEST(RecorderTest, StopWritesEverySliceHandedOverBeforeItThenCloses)
{
    auto log = std::make_shared<FakeFileLog>();
    Recorder rec(48000.0);
    Feeder audio{rec};
    EXPECT_EQ(audio.feed(256), 0); // idle: nothing taken
    const std::int64_t id = rec.start(std::make_unique<FakeRecordingFile>(log));
    EXPECT_TRUE(rec.active());
    EXPECT_EQ(id & 1, 1);
    const std::int64_t from = audio.next;
    std::int64_t taken = 0;
    for (int i = 0; i < 100; ++i)
        taken += audio.feed(256);
    EXPECT_EQ(taken, 25600);
    rec.stop();
    EXPECT_FALSE(rec.active());
    // The writer may not close before the audio thread has acknowledged the stop.
    EXPECT_EQ(audio.feed(256), 0);
    ASSERT_TRUE(rec.waitUntilClosed(std::chrono::milliseconds(5000)));
    EXPECT_TRUE(log->closed);
    EXPECT_TRUE(holdsRamp(*log, from, 25600));
    EXPECT_GT(log->headerUpdates, 0);
    EXPECT_FALSE(rec.status(id).failed);
    EXPECT_EQ(rec.openFiles(), 0);

    // Stopping when idle changes nothing.
    rec.stop();
    EXPECT_EQ(rec.currentId(), id);
}

TEST(RecorderTest, AFullRingEndsTheRecordingAndCountsTheLostFrames)
{
    auto log = std::make_shared<FakeFileLog>();
    log->stalled = true; // the disk hangs
    Recorder rec(1000.0, 4.0);
    ASSERT_EQ(rec.ringFrames(), 4096);
    Feeder audio{rec};
    const std::int64_t id = rec.start(std::make_unique<FakeRecordingFile>(log));
    std::int64_t taken = 0;
    for (int i = 0; i < 30; ++i)
        taken += audio.feed(256);
    // 16 slices fit, then nothing more is taken: the file has no gap.
    EXPECT_EQ(taken, 4096);
    Recorder::Status st = rec.status(id);
    EXPECT_TRUE(st.failed);
    EXPECT_EQ(st.step, "recording overflow");
    EXPECT_EQ(st.droppedFrames, 14 * 256);
    {
        std::lock_guard lock(log->mutex);
        log->stalled = false;
    }
    log->changed.notify_all();
    rec.stop();
    audio.feed(1);
    ASSERT_TRUE(rec.waitUntilClosed(std::chrono::milliseconds(5000)));
    EXPECT_TRUE(holdsRamp(*log, 0, 4096));
    EXPECT_EQ(rec.status(id).droppedFrames, 14 * 256);
}

TEST(RecorderTest, AWriteFailureIsReportedForItsOwnRecordingOnly)
{
    auto bad = std::make_shared<FakeFileLog>(), good = std::make_shared<FakeFileLog>();
    bad->failAfterFrames = 1000;
    bad->failClose = true;
    Recorder rec(48000.0);
    Feeder audio{rec};
    const std::int64_t a = rec.start(std::make_unique<FakeRecordingFile>(bad));
    for (int i = 0; i < 8; ++i)
        audio.feed(256);
    ASSERT_TRUE(eventually([&] { return rec.status(a).failed; }));
    EXPECT_EQ(rec.status(a).step, "write recording");
    EXPECT_EQ(rec.status(a).code, 28);
    // Once the failure is known the audio thread stops handing frames over.
    EXPECT_EQ(audio.feed(256), 0);
    EXPECT_TRUE(holdsRamp(*bad, 0, 768));

    // The next recording starts clean, and the first file's late close failure
    // does not touch it.
    const std::int64_t b = rec.start(std::make_unique<FakeRecordingFile>(good));
    EXPECT_EQ(audio.feed(256), 256);
    ASSERT_TRUE(eventually([&] { return bad->closed && good->frames() == 256; }));
    EXPECT_TRUE(rec.status(a).failed);
    EXPECT_FALSE(rec.status(b).failed);
}

TEST(RecorderTest, DestroyingTheRecorderWritesAndClosesWhatWasHandedOver)
{
    auto log = std::make_shared<FakeFileLog>();
    {
        Recorder rec(48000.0);
        Feeder audio{rec};
        rec.start(std::make_unique<FakeRecordingFile>(log));
        for (int i = 0; i < 40; ++i)
            audio.feed(512);
    }
    EXPECT_TRUE(log->closed);
    EXPECT_TRUE(holdsRamp(*log, 0, 40 * 512));
}

TEST(RecorderTest, ARealFileIsAValidFloatWavWhileItIsStillBeingWritten)
{
    test::TempHome home;
    const std::string path = home.file("set.wav").toStdString();
    RecordingFileFailure failure{};
    auto file = createWavRecording(path, 48000.0, failure);
    ASSERT_TRUE(file) << failure.step;
    Recorder rec(48000.0);
    Feeder audio{rec};
    rec.start(std::move(file));
    for (int i = 0; i < 20; ++i)
        audio.feed(480);
    // Before any stop, the header already covers what reached the disk.
    ASSERT_TRUE(eventually([&] { return test::readWav(path).samples.size() == 2 * 9600; }));
    const auto wav = test::readWav(path);
    EXPECT_EQ(wav.sampleRate, 48000);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.format & 0xFFFF, 0x0006); // 32-bit float
    EXPECT_EQ(wav.samples[2 * 9599], float(9599) * 1e-5f);
}

} // namespace
} // namespace zelvo
