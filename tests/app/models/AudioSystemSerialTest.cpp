// The audio system on the virtual output device in real time: restarts bring
// the sound back and leave nothing behind. Run alone. (How quickly the sound
// comes back is measured by bench_AudioSystem; the waits here are only bounds
// that a busy machine stays far inside.)
#include "models/AudioSystem.h"

#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"

#include "AudioSystemSupport.h"
#include "audio/AudioIO.h"
#include "audio/DeckCommand.h"
#include "audio/MixEngine.h"
#include "library/TrackBuffer.h"
#include "platform/CompositeAudioBackend.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "platform/VirtualOutputBackend.h"
#include "support/ScopedBackend.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <array>
#include <cstddef>
#include <fstream>
#include <malloc.h>
#include <string>
#include <unistd.h>

#if defined(ZELVO_SANITIZED)
// The sanitizer runtime's count of the bytes the program has allocated and not
// freed (declared here: GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace zelvo {
namespace {

class AudioSystemSerial : public ::testing::Test {
protected:
    AudioSystemSerial()
        : backend(std::vector<std::shared_ptr<AudioBackend>>{std::make_shared<VirtualOutputBackend>()})
    {
    }

    void TearDown() override
    {
        audio.reset();
        EXPECT_TRUE(test::settle());
    }

    // Boots with an engine handler that puts a playing track on every deck of
    // each new engine, as the decks do when they are re-attached.
    AudioSystem& boot()
    {
        audio = std::make_unique<AudioSystem>(defaults, scheduler, permission);
        audio->setEngineHandler([this](MixEngine& engine, double) {
            for (int d = 0; d < MixEngine::deckCount; ++d) {
                engine.deck(d)->send(DeckCommand::load(TrackBufferRef(48000 * 4, 48000.0), false));
                engine.deck(d)->send(DeckCommand::play());
            }
            engines.push_back(engine.params());
        });
        audio->boot();
        EXPECT_TRUE(test::spinUntil([&] { return audio->io() && audio->io()->running(); }));
        return *audio;
    }

    // Waits until the open engine's first deck has played `seconds`.
    bool playing(double seconds, double limit)
    {
        return test::spinUntil(
            [&] {
                return audio->io() && audio->io()->running()
                    && audio->io()->engine().deck(0)->state().position.load() >= seconds;
            },
            limit);
    }

    // The memory the program holds. Under the sanitizers, freed blocks wait in
    // the address sanitizer's quarantine (hundreds of megabytes), resident, and
    // leave it in turn, so resident memory swings by an engine's buffers from
    // one reading to the next; the sanitizer's own count of allocated bytes
    // does not. Without them, resident memory.
    static long heldKiB()
    {
#if defined(ZELVO_SANITIZED)
        return long(__sanitizer_get_current_allocated_bytes() / 1024);
#else
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0)
                return std::stol(line.substr(6));
        }
        return 0;
#endif
    }

    test::TempHome home;
    test::ScopedBackend<CompositeAudioBackend> backend;
    UserDefaults defaults{home.file("defaults.json")};
    QtScheduler scheduler;
    GrantedMicrophonePermission permission;
    std::unique_ptr<AudioSystem> audio;
    std::vector<std::weak_ptr<MixerParams>> engines;
};

TEST_F(AudioSystemSerial, ABufferSizeChangeBringsTheSoundBack)
{
    auto& a = boot();
    EXPECT_EQ(a.io()->device().uid, "kavri.virtual.output");
    ASSERT_TRUE(playing(0.2, 10.0));

    a.setBufferFrames(1024);
    ASSERT_TRUE(playing(0.01, 10.0)) << "no sound after the change";
    EXPECT_EQ(a.io()->bufferFrames(), 1024);
    EXPECT_EQ(a.generation(), 2);
}

// With the application's deck and mixer models bound through the engine
// handler: playing decks come back parked on their cue points.
TEST_F(AudioSystemSerial, AfterABufferSizeChangeTheDecksAreParkedOnTheirCuePoints)
{
    std::array<std::unique_ptr<DeckModel>, EngineBinder::kDecks> decks;
    std::array<DeckModel*, EngineBinder::kDecks> deckPointers{};
    for (int i = 0; i < EngineBinder::kDecks; ++i) {
        decks[std::size_t(i)] = std::make_unique<DeckModel>(i, i == 1);
        deckPointers[std::size_t(i)] = decks[std::size_t(i)].get();
    }
    MixerModel mixer;
    EngineBinder binder(deckPointers, mixer, scheduler);
    audio = std::make_unique<AudioSystem>(defaults, scheduler, permission);
    audio->setEngineHandler([&](MixEngine& engine, double) { binder.engineInstalled(engine); });
    audio->boot();
    ASSERT_TRUE(test::spinUntil([&] { return audio->io() && audio->io()->running(); }));

    for (int i = 0; i < EngineBinder::kDecks; ++i) {
        auto record = TrackRecord::forFile(home.file(QString("track%1.wav").arg(i)), QDateTime::currentDateTimeUtc());
        record.cuePoint = 0.5 + i;
        decks[std::size_t(i)]->install(record, TrackBufferRef(48000 * 8, 48000.0), nullptr, false);
        decks[std::size_t(i)]->playPause();
    }
    ASSERT_TRUE(playing(1.8, 10.0));

    audio->setBufferFrames(512);
    ASSERT_TRUE(test::spinUntil([&] { return audio->generation() == 2 && audio->io()->running(); }, 10.0));
    MixEngine& engine = audio->io()->engine();
    // The new engine renders (its meters' load figure moves).
    ASSERT_TRUE(test::spinUntil([&] { return engine.state()->dspLoad.load() > 0.0; }, 10.0));
    test::spinUntil([] { return false; }, 0.1); // a few slices of the new engine
    binder.tick();
    for (int i = 0; i < EngineBinder::kDecks; ++i) {
        const auto& deck = *decks[std::size_t(i)];
        EXPECT_FALSE(deck.live().playing) << "deck " << i;
        EXPECT_TRUE(deck.live().atCue) << "deck " << i;
        EXPECT_NEAR(engine.deck(i)->state().position.load(), 0.5 + i, 0.01) << "deck " << i;
    }
    audio.reset();
}

TEST_F(AudioSystemSerial, AHundredRestartsLeaveNoEngineOrBufferBehind)
{
    constexpr int kWarmUp = 20;
    constexpr int kRestarts = 100;
    // Engines are built on the open threads and freed on the main thread. With
    // glibc's sliding mmap threshold their large buffers (the 75 s master tap)
    // would move into the arenas after the first free and stay resident there
    // as reusable free space; a fixed threshold keeps them as mappings, so
    // resident memory shows what is really held. Each open thread would also
    // get a malloc arena of its own (up to eight per core), and the more of
    // them overlap on a busy machine, the more arenas keep a few free pages
    // resident; one arena for all keeps that out of the reading.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_ARENA_MAX, 1);
    const auto buffersBefore = TrackBuffer::liveCount();
    auto& a = boot();
    // Warm up: the first engines settle the allocator's pools.
    for (int i = 0; i < kWarmUp; ++i) {
        const auto g = a.generation();
        a.restart();
        ASSERT_TRUE(test::spinUntil([&] { return a.generation() == g + 1; }));
    }
    ASSERT_TRUE(test::settle());
    malloc_trim(0);
    const long before = heldKiB();

    for (int i = 0; i < kRestarts; ++i) {
        const auto g = a.generation();
        a.restart();
        ASSERT_TRUE(test::spinUntil([&] { return a.generation() == g + 1; })) << "restart " << i;
    }
    ASSERT_TRUE(test::settle());

    // Only the engine now open is alive, holding its four decks' tracks.
    int alive = 0;
    for (const auto& e : engines)
        alive += e.expired() ? 0 : 1;
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(TrackBuffer::liveCount(), buffersBefore + MixEngine::deckCount);

    malloc_trim(0);
    const long after = heldKiB();
    EXPECT_LT(double(after), double(before) * 1.05) << before << " KiB before, " << after << " KiB after";

    audio.reset();
    ASSERT_TRUE(test::settle());
    EXPECT_EQ(TrackBuffer::liveCount(), buffersBefore);
    for (const auto& e : engines)
        EXPECT_TRUE(e.expired());
}

} // namespace
} // namespace zelvo
