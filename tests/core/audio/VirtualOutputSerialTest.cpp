// Real-time runs of the virtual output device. They measure wall-clock pacing,
// so they run alone.
#include "audio/AudioIO.h"
#include "audio/CoreAudioHAL.h"
#include "audio/DeckCommand.h"
#include "audio/MixEngine.h"
#include "library/TrackBuffer.h"
#include "platform/CompositeAudioBackend.h"
#include "platform/VirtualOutputBackend.h"
#include "support/GeneratedMusic.h"
#include "support/ScopedBackend.h"
#include "support/TestRenderers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

using namespace zelvo;
using namespace std::chrono;

namespace {

// Waits (bounded) for a real-time thread to get somewhere.
template <class Condition>
bool waitFor(Condition done, seconds limit)
{
    const auto end = steady_clock::now() + limit;
    while (!done()) {
        if (steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

// A drum loop as a track, at the engine's rate.
TrackBufferRef drumTrack(double seconds)
{
    const auto music = test::drumLoop(124.0, 0.1, seconds, 48000.0);
    TrackBufferRef track(std::int64_t(music.size()), 48000.0);
    std::copy(music.begin(), music.end(), track->left);
    std::copy(music.begin(), music.end(), track->right);
    return track;
}

// What both runs are told before the first slice: deck 1 loads the track and
// plays with its fader up; the crossfader stays in the middle.
void queueCommands(MixEngine& engine, const TrackBufferRef& track)
{
    engine.params()->channel(0).fader.store(1.0);
    engine.deck(0)->send(DeckCommand::load(track, false));
    engine.deck(0)->send(DeckCommand::play());
}

} // namespace

// The whole output path in real time: commands queued before start, the engine
// rendering a track on the device's own clock, the capture equal to an offline
// render in the same slices.
TEST(VirtualOutputSerial, TheEnginePlaysATrackInRealTimeExactlyAsItRendersOffline)
{
    QTemporaryDir dir;
    const std::string capture = dir.filePath("engine.wav").toStdString();
    setenv("KAVRI_VIRTUAL_CAPTURE", capture.c_str(), 1);
    test::ScopedBackend<CompositeAudioBackend> system(
        std::vector<std::shared_ptr<AudioBackend>>{std::make_shared<VirtualOutputBackend>()});
    const auto device = CoreAudioHAL::outputDevices().at(0);
    const auto track = drumTrack(4.0);

    constexpr int block = 256;
    auto io = std::make_unique<AudioIO>(device, block, 0, std::nullopt);
    MixEngine& engine = io->engine();
    EXPECT_EQ(engine.sampleRate(), 48000.0);
    EXPECT_FALSE(engine.cueEnabled().load());
    queueCommands(engine, track);

    const auto& position = engine.deck(0)->state().position;
    const MasterTap& tap = *engine.masterTap();
    // One reading: the deck's published position, the frames the device has
    // taken (the master tap counts every frame rendered) and the wall time.
    struct Reading {
        double position;
        std::int64_t frames;
        steady_clock::time_point at;
    };
    auto read = [&] { return Reading{position.load(), tap.written(), steady_clock::now()}; };
    io->start();
    ASSERT_TRUE(waitFor([&] { return position.load() >= 0.5; }, seconds(10)));
    const Reading half = read();
    ASSERT_TRUE(waitFor([&] { return position.load() >= 2.5; }, seconds(10)));
    const Reading end = read();
    io->stop();
    EXPECT_EQ(io->underruns(), 0);
    // The track plays from the first slice, one frame of track per device frame
    // (a slice may land between the two loads of a reading).
    for (const Reading& r : {half, end})
        EXPECT_NEAR(r.position * 48000.0, double(r.frames), 2.0 * block);
    // The device's pace against the wall clock over the 2 s between the
    // readings: never faster than real time, and not much slower. The device's
    // own deadline schedule is held to 1 % by the next test, from the callback
    // times; here the readings come from a polling thread that a busy machine
    // may hold up, which shifts a reading's time and its frame count together.
    const double wall = duration<double>(end.at - half.at).count();
    const double pace = double(end.frames - half.frames) / 48000.0 / wall;
    EXPECT_LT(pace, 1.05) << double(end.frames - half.frames) << " frames in " << wall << " s";
    EXPECT_GT(pace, 0.9) << double(end.frames - half.frames) << " frames in " << wall << " s";
    io.reset(); // closes the capture file
    unsetenv("KAVRI_VIRTUAL_CAPTURE");

    SF_INFO info{};
    SNDFILE* file = sf_open(capture.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(info.channels, 2);
    ASSERT_GE(info.frames, 2 * 48000);
    std::vector<float> captured(std::size_t(info.frames) * 2);
    EXPECT_EQ(sf_readf_float(file, captured.data(), info.frames), info.frames);
    sf_close(file);

    MixEngine offline(48000.0);
    queueCommands(offline, track);
    std::vector<float> out(4 * block);
    float* buffers[4] = {&out[0], &out[block], &out[2 * block], &out[3 * block]};
    double loudest = 0;
    for (std::int64_t done = 0; done < info.frames; done += block) {
        offline.render(block, buffers);
        for (int i = 0; i < block && done + i < info.frames; ++i) {
            const auto at = std::size_t(2 * (done + i));
            ASSERT_EQ(captured[at], buffers[0][i]) << "frame " << done + i;
            ASSERT_EQ(captured[at + 1], buffers[1][i]) << "frame " << done + i;
            loudest = std::max(loudest, double(std::fabs(buffers[0][i])));
        }
    }
    EXPECT_GT(loudest, 0.1); // the track was heard, not silence compared with silence
}

TEST(VirtualOutputSerial, PlaysInRealTimeOnScheduleAndCapturesExactlyWhatItRendered)
{
    QTemporaryDir dir;
    const std::string capture = dir.filePath("capture.wav").toStdString();
    setenv("KAVRI_VIRTUAL_CAPTURE", capture.c_str(), 1);
    test::ScopedBackend<CompositeAudioBackend> system(
        std::vector<std::shared_ptr<AudioBackend>>{std::make_shared<VirtualOutputBackend>()});

    const auto devices = CoreAudioHAL::outputDevices();
    ASSERT_EQ(devices.size(), 1u);
    const AudioDevice& device = devices[0];
    EXPECT_EQ(device.uid, "kavri.virtual.output");
    EXPECT_EQ(device.name, "Virtual Output");
    EXPECT_EQ(device.transport, "VIRT");
    EXPECT_EQ(device.outputChannels, 2);
    EXPECT_EQ(device.nominalSampleRate, 48000.0);
    EXPECT_EQ(device.bufferSizeRange, (AudioDevice::BufferRange{32, 4096}));
    EXPECT_EQ(CoreAudioHAL::defaultOutputDevice(), device.id);

    constexpr int block = 256;
    constexpr double period = block / 48000.0;
    constexpr std::size_t slices = 375; // two seconds
    test::RampRenderer* renderer = nullptr;
    auto io = std::make_unique<AudioIO>(device, block, 0, std::nullopt, [&](double rate, int) {
        auto r = std::make_unique<test::RampRenderer>(rate, slices + 64);
        renderer = r.get();
        return r;
    });
    EXPECT_EQ(io->bufferFrames(), block);
    io->start();
    ASSERT_TRUE(waitFor([&] { return renderer->calls.load() >= slices; }, seconds(10)));
    io->stop();
    const auto times = renderer->callbackTimes();
    const auto rendered = renderer->frames.load();
    EXPECT_EQ(io->underruns(), 0);
    io.reset(); // closes the capture file
    unsetenv("KAVRI_VIRTUAL_CAPTURE");

    // Slice k is asked for at start + k * period: never early, and the whole run
    // keeps to the schedule within 1 %.
    ASSERT_GE(times.size(), slices);
    const auto start = times.front();
    for (std::size_t k = 0; k < slices; ++k) {
        const double at = duration<double>(times[k] - start).count();
        ASSERT_GE(at, k * period - 0.0005) << "slice " << k << " came early";
    }
    const double elapsed = duration<double>(times[slices - 1] - start).count();
    EXPECT_NEAR(elapsed, (slices - 1) * period, 0.01 * (slices - 1) * period);

    // The capture equals an offline render of the same engine in the same slices.
    SF_INFO info{};
    SNDFILE* file = sf_open(capture.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.samplerate, 48000);
    ASSERT_EQ(info.channels, 2);
    EXPECT_EQ(info.frames, rendered);
    std::vector<float> captured(std::size_t(info.frames) * 2);
    EXPECT_EQ(sf_readf_float(file, captured.data(), info.frames), info.frames);
    sf_close(file);

    test::RampRenderer offline(48000.0);
    std::vector<float> channels(4 * block);
    float* pointers[4] = {&channels[0], &channels[block], &channels[2 * block], &channels[3 * block]};
    for (std::int64_t done = 0; done < info.frames; done += block) {
        offline.render(block, pointers);
        for (int i = 0; i < block && done + i < info.frames; ++i) {
            ASSERT_EQ(captured[std::size_t(2 * (done + i))], pointers[0][i]) << "frame " << done + i;
            ASSERT_EQ(captured[std::size_t(2 * (done + i) + 1)], pointers[1][i]);
        }
    }
}

TEST(VirtualOutputSerial, FourChannelsOnRequestAndCueOnTheSecondPair)
{
    setenv("KAVRI_VIRTUAL_CHANNELS", "4", 1);
    test::ScopedBackend<VirtualOutputBackend> virtualDevice;
    unsetenv("KAVRI_VIRTUAL_CHANNELS");
    const auto device = CoreAudioHAL::device(VirtualOutputBackend::kDeviceId);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->outputChannels, 4);

    test::RampRenderer* renderer = nullptr;
    AudioIO io(*device, 64, 0, 2, [&](double rate, int) {
        auto r = std::make_unique<test::RampRenderer>(rate);
        renderer = r.get();
        return r;
    });
    EXPECT_TRUE(renderer->cueEnabled);
    EXPECT_EQ(io.channelMap(), (std::vector<int>{0, 1, 2, 3}));
    io.start();
    ASSERT_TRUE(waitFor([&] { return renderer->frames.load() >= 4800; }, seconds(10)));
    io.stop();
    const auto frames = renderer->frames.load();
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(renderer->frames.load(), frames); // stopped means stopped
}
