#include "audio/AudioIO.h"
#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "library/TrackBuffer.h"
#include "library/AudioFileError.h"
#include "audio/CoreAudioHAL.h"
#include "platform/FakeAudioBackend.h"
#include "support/ScopedBackend.h"
#include "support/TestRenderers.h"

#include <gtest/gtest.h>

#include <climits>
#include <future>
#include <thread>

using namespace zelvo;
using Fake = FakeAudioBackend;

namespace {

struct Rig {
    test::ScopedBackend<Fake> fake;
    test::RampRenderer* renderer = nullptr; // the engine of the newest open; gone when that open failed
    double lastRate = 0;

    AudioObjectId add(int channels, double rate = 48000.0)
    {
        Fake::Device d;
        d.uid = "dev" + std::to_string(channels);
        d.name = "Device";
        d.outputStreams = std::vector<int>{channels};
        d.nominalSampleRate = rate;
        return fake->addDevice(d);
    }
    RendererFactory factory()
    {
        return [this](double rate, int) {
            auto r = std::make_unique<test::RampRenderer>(rate);
            renderer = r.get();
            lastRate = rate;
            return r;
        };
    }
    std::unique_ptr<AudioIO> open(AudioObjectId id, std::int64_t buffer, int master, std::optional<int> cue)
    {
        return std::make_unique<AudioIO>(*CoreAudioHAL::device(id), buffer, master, cue, factory());
    }
    std::shared_ptr<Fake::UnitRecord> lastUnit() const { return fake->units().back(); }
};

std::string failureText(const std::function<void()>& f)
{
    try {
        f();
    } catch (const AudioFileError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return std::string("unexpected error: ") + e.what();
    }
    return "no error";
}

} // namespace

TEST(AudioIO, ChannelMapRoutesMasterAndCuePairs)
{
    Rig rig;
    struct Case {
        int channels, master;
        std::optional<int> cue;
        std::vector<int> map;
        bool cueEnabled;
    };
    const Case cases[] = {
        {2, 0, 2, {0, 1}, false},                                    // cue past the last channel
        {8, 0, 2, {0, 1, 2, 3, -1, -1, -1, -1}, true},               //
        {8, 6, 0, {2, 3, -1, -1, -1, -1, 0, 1}, true},               //
        {4, 2, 2, {-1, -1, 0, 1}, false},                            // cue equal to master
        {4, 0, std::nullopt, {0, 1, -1, -1}, false},                 //
        {3, 2, std::nullopt, {-1, -1, -1}, false},                   // master does not fit: not routed
        {4, 0, 3, {0, 1, -1, -1}, false},                            // 3 + 1 is not below 4
    };
    for (const auto& c : cases) {
        const auto id = rig.add(c.channels);
        auto io = rig.open(id, 256, c.master, c.cue);
        EXPECT_EQ(io->channelMap(), c.map) << c.channels << " channels, master " << c.master;
        EXPECT_EQ(rig.renderer->cueEnabled, c.cueEnabled);
        EXPECT_EQ(io->cuePair().has_value(), c.cueEnabled);
        EXPECT_EQ(rig.lastUnit()->channelMap, c.map);
        EXPECT_EQ(rig.lastUnit()->clientChannels, 4);
        EXPECT_EQ(rig.lastUnit()->maxFrames, 4096);
    }
}

TEST(AudioIO, StoredSettingsOutOfRangeAreFittedWhenOpening)
{
    Rig rig;
    const auto id = rig.add(4);
    rig.fake->device(id).bufferSizeRange = std::pair(64.0, 2048.0);

    // A negative buffer size never reaches the device as a huge unsigned one,
    // a negative master pair counts as 0, a negative cue pair as none.
    auto io = rig.open(id, -256, -2, -4);
    EXPECT_EQ(io->masterPair(), 0);
    EXPECT_EQ(io->cuePair(), std::nullopt);
    EXPECT_EQ(io->channelMap(), (std::vector<int>{0, 1, -1, -1}));
    io.reset();
    io = rig.open(id, std::int64_t(1) << 40, INT_MAX, INT_MAX);
    EXPECT_EQ(io->channelMap(), (std::vector<int>{-1, -1, -1, -1}));
    io.reset();
    // Without a known range the device hears 32 ... 4096.
    rig.fake->device(id).bufferSizeRange.reset();
    io = rig.open(id, 100000, 0, 2);
    EXPECT_EQ(io->cuePair(), 2);

    const auto requests = rig.fake->bufferRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].second, 64u);
    EXPECT_EQ(requests[1].second, 2048u);
    EXPECT_EQ(requests[2].second, 4096u);
}

TEST(AudioIO, FailingStepsNameTheStepAndStatusAndCloseWhatWasOpened)
{
    Rig rig;
    const auto id = rig.add(2);
    const std::pair<const char*, const char*> steps[] = {{"select device", "select device"},
                                                         {"client format", "client format"},
                                                         {"render callback", "render callback"},
                                                         {"initialize", "initialize AUHAL"}};
    for (auto [fakeStep, step] : steps) {
        rig.fake->device(id).failSteps = {{fakeStep, fourCC("nope")}};
        const auto text = failureText([&] { rig.open(id, 256, 0, std::nullopt); });
        EXPECT_EQ(text, std::string(step) + " failed (nope)");
        // The unit made for the attempt was closed again.
        if (std::string(fakeStep) != "select device") {
            EXPECT_TRUE(rig.lastUnit()->destroyed);
        }
    }
    rig.fake->device(id).failSteps = {{"initialize", -10851}};
    EXPECT_EQ(failureText([&] { rig.open(id, 256, 0, std::nullopt); }), "initialize AUHAL failed (-10851)");
    rig.fake->device(id).failSteps.clear();

    rig.fake->setNewUnitStatus(fourCC("lock"));
    EXPECT_EQ(failureText([&] { rig.open(id, 256, 0, std::nullopt); }), "open AUHAL failed (lock)");
    rig.fake->setNewUnitStatus(0);
    rig.fake->setHasOutputComponent(false);
    EXPECT_EQ(failureText([&] { rig.open(id, 256, 0, std::nullopt); }), "find AUHAL failed (-1)");
    rig.fake->setHasOutputComponent(true);

    auto io = rig.open(id, 256, 0, std::nullopt);
    rig.fake->device(id).failSteps = {{"start", fourCC("strt")}};
    EXPECT_EQ(failureText([&] { io->start(); }), "start output failed (strt)");
    EXPECT_FALSE(io->running());
    rig.fake->device(id).failSteps.clear();
    io->start();
    EXPECT_TRUE(io->running());
    io->start(); // a second start does nothing
    EXPECT_TRUE(io->running());
    io->stop();
    EXPECT_FALSE(io->running());
}

TEST(AudioIO, EngineRunsAtTheRateTheDeviceReportsNow)
{
    Rig rig;
    const auto id = rig.add(2, 48000.0);
    const auto listed = *CoreAudioHAL::device(id);
    rig.fake->device(id).nominalSampleRate = 96000.0; // changed since the list was read
    auto io = std::make_unique<AudioIO>(listed, 256, 0, std::nullopt, rig.factory());
    EXPECT_EQ(rig.renderer->sampleRate, 96000.0);
    EXPECT_EQ(rig.lastUnit()->sampleRate, 96000.0);
    io.reset();
    // A device that can no longer be read: the rate of the record given.
    rig.fake->device(id).outputStreams = std::nullopt;
    io = std::make_unique<AudioIO>(listed, 256, 0, std::nullopt, rig.factory());
    EXPECT_EQ(rig.lastRate, 48000.0);
    io.reset();
    // A device that vanished from under us, or one that will not open: no
    // engine is made for it.
    rig.lastRate = 0;
    rig.fake->removeDevice(id);
    EXPECT_EQ(failureText([&] { std::make_unique<AudioIO>(listed, 256, 0, std::nullopt, rig.factory()); }),
              "select device failed (" + std::to_string(kStatusBadObject) + ")");
    const auto busy = rig.add(2);
    rig.fake->device(busy).failSteps["initialize"] = kStatusBusy;
    EXPECT_EQ(failureText([&] { rig.open(busy, 256, 0, std::nullopt); }), "initialize AUHAL failed (busy)");
    EXPECT_EQ(rig.lastRate, 0.0);
}

TEST(AudioIO, BufferSizeAndLatencyFallBackWhenUnreadable)
{
    Rig rig;
    const auto id = rig.add(2);
    rig.fake->device(id).latency = 32u;
    auto io = rig.open(id, 128, 0, std::nullopt);
    EXPECT_EQ(io->bufferFrames(), 128);
    EXPECT_DOUBLE_EQ(io->latency(), (32.0 + 128.0) / 48000.0);
    rig.fake->device(id).bufferSizeReadable = false;
    EXPECT_EQ(io->bufferFrames(), 512);
    EXPECT_DOUBLE_EQ(io->latency(), (32.0 + 512.0) / 48000.0);
}

TEST(AudioIO, PlaysTheEngineThroughTheChannelMapWithoutGaps)
{
    Rig rig;
    rig.fake->setCaptureLimit(4096);
    const auto id = rig.add(6);
    rig.fake->device(id).bufferSize = 300;
    auto io = rig.open(id, 300, 4, 0);
    io->start();
    rig.fake->pump(0.049); // eight slices of 300 frames
    const auto unit = rig.lastUnit();
    EXPECT_EQ(unit->framesPlayed, 2400);
    for (std::int64_t p = 0; p < unit->framesPlayed; ++p) {
        // Master (engine channels 0, 1) on device 4 and 5, cue (2, 3) on 0 and 1.
        ASSERT_EQ(unit->captured[4][std::size_t(p)], test::RampRenderer::value(0, p)) << p;
        ASSERT_EQ(unit->captured[5][std::size_t(p)], test::RampRenderer::value(1, p));
        ASSERT_EQ(unit->captured[0][std::size_t(p)], test::RampRenderer::value(2, p));
        ASSERT_EQ(unit->captured[1][std::size_t(p)], test::RampRenderer::value(3, p));
        ASSERT_EQ(unit->captured[2][std::size_t(p)], 0.0f);
    }
    io->stop();
    rig.fake->pump(0.05);
    EXPECT_EQ(unit->framesPlayed, 2400);
}

TEST(AudioIO, TeardownStopsTheDeviceBeforeTheEngineLetsGoOfItsBuffers)
{
    Rig rig;
    const auto id = rig.add(2);
    auto io = rig.open(id, 256, 0, std::nullopt);
    io->start();
    rig.fake->pump(0.01);
    const auto unit = rig.lastUnit();
    bool unitGoneAtRelease = false;
    std::int64_t framesAtRelease = -1;
    rig.renderer->onRelease = [&] {
        unitGoneAtRelease = unit->destroyed && !unit->running;
        framesAtRelease = unit->framesPlayed;
    };
    io.reset();
    EXPECT_TRUE(unitGoneAtRelease);
    EXPECT_EQ(framesAtRelease, unit->framesPlayed);
}

// A device whose I/O ends under a playing output: it stops counting as
// running at once; stop and start after it neither hang nor join twice.
// Pulled out, it cannot start again; failed but still listed, it plays again.
TEST(AudioIO, AnOutputWhoseDeviceGoesAwayStopsCountingAsRunning)
{
    Rig rig;
    const auto pulled = rig.add(2), failing = rig.add(4);
    auto io = rig.open(pulled, 256, 0, std::nullopt);
    io->start();
    rig.fake->vanishDevice(pulled);
    EXPECT_FALSE(io->running());
    EXPECT_EQ(failureText([&] { io->start(); }), "start output failed (" + std::to_string(kStatusBadObject) + ")");
    io->stop();
    io.reset();

    io = rig.open(failing, 256, 0, std::nullopt);
    io->start();
    rig.fake->endIO(failing);
    rig.fake->pump(0.02);
    EXPECT_EQ(rig.lastUnit()->framesPlayed, 0);
    io->start();
    EXPECT_TRUE(io->running());
    rig.fake->pump(0.02);
    EXPECT_GT(rig.lastUnit()->framesPlayed, 0);
}

// The audio system's watchdog needs a device that does not answer: opening it
// blocks until the fake lets go, then completes normally.
TEST(AudioIO, AnOpenThatHangsCompletesWhenReleased)
{
    Rig rig;
    const auto id = rig.add(2);
    rig.fake->device(id).hangOnInitialize = true;
    const auto device = *CoreAudioHAL::device(id);
    auto opened = std::async(std::launch::async, [&] {
        return std::make_unique<AudioIO>(device, 256, 0, std::nullopt, [](double rate, int) {
            return std::make_unique<test::RampRenderer>(rate);
        });
    });
    while (rig.fake->hungCount() == 0)
        std::this_thread::yield();
    EXPECT_EQ(opened.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    rig.fake->releaseHangs();
    auto io = opened.get();
    ASSERT_TRUE(io);
    io->start();
    EXPECT_TRUE(io->running());
}

// Every rebuild of the output used to leave the decks' tracks behind. Tearing
// an output down now releases, on the tearing-down thread, both the buffers the
// voices retired and the ones they still hold.
TEST(AudioIO, TeardownLeaksNoTrackBuffer)
{
    Rig rig;
    const auto id = rig.add(2);
    const auto baseline = TrackBuffer::liveCount();
    {
        auto io = std::make_unique<AudioIO>(*CoreAudioHAL::device(id), 256, 0, std::nullopt);
        MixEngine& engine = io->engine();
        io->start();
        for (int deck = 0; deck < MixEngine::deckCount; ++deck) {
            // One buffer that the next load retires, and one the deck keeps.
            engine.deck(deck)->send(DeckCommand::load(TrackBufferRef(48000, 48000.0), false));
            engine.deck(deck)->send(DeckCommand::play());
            rig.fake->pump(0.02);
            engine.deck(deck)->send(DeckCommand::load(TrackBufferRef(48000, 48000.0), false));
            rig.fake->pump(0.02);
        }
        EXPECT_EQ(TrackBuffer::liveCount(), baseline + 2 * MixEngine::deckCount);
        io.reset();
    }
    EXPECT_EQ(TrackBuffer::liveCount(), baseline);
}

// The audio system starts each new output on a thread of its own, and a
// restart can stop the output before that thread's start lands. The output
// then never plays: once stop() returns, the engine's voices are the caller's
// alone and what they were asked reads exactly. A voice a running output
// renders is refused, and its commands stay for the render.
TEST(AudioIO, NothingRendersTheVoicesOnceStopReturnsAndOnlyThenAreTheyAskedOnceStopped)
{
    Rig rig;
    const auto id = rig.add(2);
    {
        auto io = std::make_unique<AudioIO>(*CoreAudioHAL::device(id), 256, 0, std::nullopt);
        DeckVoice& voice = *io->engine().deck(0);
        voice.send(DeckCommand::load(TrackBufferRef(48000, 48000.0), false));
        voice.send(DeckCommand::play());
        io->stop();
        std::thread([&] { io->start(); }).join();
        EXPECT_FALSE(io->running());
        rig.fake->pump(0.02);
        EXPECT_FALSE(rig.lastUnit()->running);
        EXPECT_EQ(rig.lastUnit()->framesPlayed, 0);
        const DeckVoice::Asked asked = voice.askedOnceStopped();
        EXPECT_TRUE(asked.loaded);
        EXPECT_TRUE(asked.playing);
    }

    auto io = std::make_unique<AudioIO>(*CoreAudioHAL::device(id), 256, 0, std::nullopt);
    DeckVoice& voice = *io->engine().deck(0);
    voice.send(DeckCommand::load(TrackBufferRef(48000, 48000.0), false));
    io->start();
    rig.fake->pump(0.01);
    ASSERT_TRUE(voice.state().loaded.load());
    voice.send(DeckCommand::setLoop(0.25, 0.5, false));
    voice.send(DeckCommand::play());
    DeckVoice::Asked refused;
    EXPECT_DEBUG_DEATH(refused = voice.askedOnceStopped(), "running output");
#ifdef NDEBUG
    // Refused: the reading ahead, and no command taken (no stopped copy
    // holds the loop; the render takes it and the play).
    EXPECT_TRUE(refused.loaded && refused.playing);
    EXPECT_EQ(voice.handoverOnceStopped().loopStart_, -1.0);
#endif
    rig.fake->pump(0.01);
    EXPECT_TRUE(voice.state().playing.load()); // the render took the play
    EXPECT_EQ(voice.state().loopStart.load(), 0.25);
    io->stop();
    voice.send(DeckCommand::pause());
    const DeckVoice::Asked asked = voice.askedOnceStopped();
    EXPECT_TRUE(asked.loaded);
    EXPECT_FALSE(asked.playing);
}

// A start that throws (the system had no thread to give) fails as a start
// does, and leaves the voices to be asked exactly what they were told.
TEST(AudioIO, AStartThatThrowsFailsAsAStartAndLeavesTheVoicesUnrendered)
{
    Rig rig;
    const auto id = rig.add(2);
    auto io = std::make_unique<AudioIO>(*CoreAudioHAL::device(id), 256, 0, std::nullopt);
    DeckVoice& voice = *io->engine().deck(0);
    voice.send(DeckCommand::load(TrackBufferRef(48000, 48000.0), false));
    voice.send(DeckCommand::setLoop(0.25, 0.5, false));
    rig.fake->device(id).startThrows = true;
    EXPECT_EQ(failureText([&] { io->start(); }), "start output failed (-11)");
    EXPECT_FALSE(io->running());
    EXPECT_TRUE(voice.askedOnceStopped().loaded);
    EXPECT_EQ(voice.handoverOnceStopped().loopStart_, 0.25);
}
