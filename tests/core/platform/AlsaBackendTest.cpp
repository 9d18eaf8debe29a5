#include "platform/AlsaBackend.h"
#include "platform/CompositeAudioBackend.h"
#include "platform/VirtualOutputBackend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <string>
#include <thread>
#include <unistd.h>

using namespace zelvo;

namespace {

AlsaBackend::Options nullOnly()
{
    AlsaBackend::Options o;
    o.probeDefault = false;
    o.scanCards = false;
    o.watch = false;
    o.extraPcms = {{"null", "Null Output", transport::builtIn}};
    return o;
}

struct Counter {
    std::atomic<std::int64_t> frames{0};
    std::atomic<int> calls{0};
    static void render(void* context, float* const* channels, int count, int frames)
    {
        auto* self = static_cast<Counter*>(context);
        for (int c = 0; c < count; ++c)
            for (int i = 0; i < frames; ++i)
                channels[c][i] = c == 0 ? 2.0f : -0.5f; // out of range on purpose: clipped, not wrapped
        self->frames += frames;
        ++self->calls;
    }
};

} // namespace

// ALSA's "null" PCM goes through the whole open, hardware-parameter and write
// path without a sound card.
TEST(AlsaBackend, OpensConfiguresAndWritesToTheNullPcm)
{
    AlsaBackend alsa(nullOnly());
    const auto list = alsa.deviceList();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    const auto id = list->front();
    EXPECT_EQ(alsa.deviceUID(id), "alsa.pcm:null");
    EXPECT_EQ(alsa.deviceName(id), "Null Output");
    const auto streams = alsa.streamChannels(id, Scope::output);
    ASSERT_TRUE(streams);
    EXPECT_GE(std::accumulate(streams->begin(), streams->end(), 0), 1);
    EXPECT_GT(alsa.nominalSampleRate(id).value_or(0), 0);
    EXPECT_EQ(alsa.setBufferSize(id, 256), 0);
    EXPECT_EQ(alsa.bufferSize(id), 256u);

    std::unique_ptr<OutputUnit> unit;
    ASSERT_EQ(alsa.newOutputUnit(unit), 0);
    Counter counter;
    const int map[] = {0, 1};
    ASSERT_EQ(unit->selectDevice(id), 0);
    ASSERT_EQ(unit->setClientFormat(*alsa.nominalSampleRate(id), 4), 0);
    unit->setChannelMap(map);
    unit->setMaxFramesPerSlice(4096);
    ASSERT_EQ(unit->setRenderCallback(&Counter::render, &counter), 0);
    ASSERT_EQ(unit->initialize(), 0);
    ASSERT_EQ(unit->start(), 0);
    EXPECT_EQ(unit->start(), 0); // already running
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (counter.calls.load() < 20 && std::chrono::steady_clock::now() < end)
        std::this_thread::yield();
    EXPECT_EQ(unit->stop(), 0);
    EXPECT_GE(counter.calls.load(), 20);
    const int calls = counter.calls.load();
    EXPECT_EQ(unit->stop(), 0);
    EXPECT_EQ(counter.calls.load(), calls);
    // Restartable after a stop.
    ASSERT_EQ(unit->start(), 0);
    unit.reset(); // stops and closes
    EXPECT_GE(counter.calls.load(), calls);
}

TEST(AlsaBackend, ABadPcmFailsCleanly)
{
    AlsaBackend::Options o = nullOnly();
    o.extraPcms.push_back({"kavri_no_such_pcm", "Missing"});
    AlsaBackend alsa(o);
    ASSERT_EQ(alsa.deviceList()->size(), 1u); // the missing PCM is not listed

    std::unique_ptr<OutputUnit> unit;
    ASSERT_EQ(alsa.newOutputUnit(unit), 0);
    EXPECT_NE(unit->selectDevice(9999), 0);
    EXPECT_NE(unit->initialize(), 0);
    EXPECT_NE(unit->start(), 0);
    EXPECT_EQ(unit->stop(), 0);
}

// Whatever cards this machine has (on build machines: none), enumeration gives
// a consistent list, and next to the virtual output the system always has a
// default device.
TEST(AlsaBackend, EnumerationDegradesCleanlyWithoutCards)
{
    AlsaBackend::Options o;
    o.watch = false;
    auto alsa = std::make_shared<AlsaBackend>(o);
    const auto list = alsa->deviceList();
    ASSERT_TRUE(list);
    for (auto id : *list) {
        EXPECT_FALSE(alsa->deviceUID(id).value_or("").empty());
        EXPECT_GE(alsa->streamChannels(id, Scope::output)->front(), 1);
        const auto range = alsa->bufferSizeRange(id);
        ASSERT_TRUE(range);
        EXPECT_LE(range->first, range->second);
    }
    if (auto d = alsa->defaultOutputDevice()) {
        EXPECT_NE(std::find(list->begin(), list->end(), *d), list->end());
    } else {
        EXPECT_TRUE(list->empty());
    }

    CompositeAudioBackend system({alsa, std::make_shared<VirtualOutputBackend>()});
    const auto all = system.deviceList();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), list->size() + 1);
    const auto fallback = system.defaultOutputDevice();
    ASSERT_TRUE(fallback);
    if (list->empty()) {
        EXPECT_EQ(system.deviceUID(*fallback), "kavri.virtual.output");
    }
    // Ids stay put across reads.
    EXPECT_EQ(system.deviceList(), all);
}

TEST(AlsaBackend, WatcherStartsAndStopsWithoutSoundDevices)
{
    AlsaBackend alsa; // watches /dev/snd, which may not exist
    EXPECT_TRUE(alsa.deviceList().has_value());
    alsa.rescan();
    EXPECT_TRUE(alsa.deviceList().has_value());
}

// The write path converts float to the card's format, interleaving through the
// channel map and clipping out-of-range samples. ALSA's "file" PCM keeps the
// bytes it is given.
TEST(AlsaBackend, ConvertsAndInterleavesWhatItWrites)
{
    // A name of this process's own, removed however the test ends, so copies
    // run at once do not share one file and none is left behind.
    const std::string path = testing::TempDir() + "alsa-write-" + std::to_string(::getpid()) + ".raw";
    std::remove(path.c_str());
    struct Remove {
        const std::string& path;
        ~Remove() { std::remove(path.c_str()); }
    } remove{path};
    AlsaBackend::Options o = nullOnly();
    o.extraPcms = {{"file:FILE=" + path + ",FORMAT=raw", "File"}};
    AlsaBackend alsa(o);
    ASSERT_EQ(alsa.deviceList()->size(), 1u);
    const auto id = alsa.deviceList()->front();
    ASSERT_EQ(alsa.streamChannels(id, Scope::output), (std::vector<int>{2}));

    Counter counter;
    {
        std::unique_ptr<OutputUnit> unit;
        ASSERT_EQ(alsa.newOutputUnit(unit), 0);
        const int map[] = {1, 0}; // swapped
        ASSERT_EQ(unit->selectDevice(id), 0);
        ASSERT_EQ(unit->setClientFormat(48000, 4), 0);
        unit->setChannelMap(map);
        ASSERT_EQ(unit->setRenderCallback(&Counter::render, &counter), 0);
        ASSERT_EQ(unit->initialize(), 0);
        ASSERT_EQ(unit->start(), 0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (counter.calls.load() < 4 && std::chrono::steady_clock::now() < end)
            std::this_thread::yield();
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::int32_t frame[2] = {};
    ASSERT_EQ(std::fread(frame, sizeof frame, 1, f), 1u);
    std::fclose(f);
    EXPECT_EQ(frame[0], -1073741824); // client channel 1: -0.5
    EXPECT_EQ(frame[1], 2147483647);  // client channel 0: 2.0, clipped
}
