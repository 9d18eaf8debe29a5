// How long a buffer-size change silences the output: the audio system plays a
// track on every deck over the virtual output device in real time, the buffer
// size changes, and the clock runs until the new engine's first deck has played
// 10 ms. restart_ms: that time, the mean over the runs.
#include "audio/AudioIO.h"
#include "audio/DeckCommand.h"
#include "audio/MixEngine.h"
#include "library/TrackBuffer.h"
#include "models/AudioSystem.h"
#include "platform/CompositeAudioBackend.h"
#include "platform/MicrophonePermission.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "platform/VirtualOutputBackend.h"
#include "support/ScopedBackend.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

using namespace zelvo;

namespace {

bool spin(const std::function<bool()>& done, double seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > qint64(seconds * 1000))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

void BM_AudioSystem_BufferSizeRestart(benchmark::State& state)
{
    static int argc = 1;
    static char name[] = "bench_AudioSystem";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    test::TempHome home;
    test::ScopedBackend<CompositeAudioBackend> backend(
        std::vector<std::shared_ptr<AudioBackend>>{std::make_shared<VirtualOutputBackend>()});
    UserDefaults defaults{home.file("defaults.json")};
    QtScheduler scheduler;
    GrantedMicrophonePermission permission;
    AudioSystem audio(defaults, scheduler, permission);
    audio.setEngineHandler([](MixEngine& engine, double) {
        for (int d = 0; d < MixEngine::deckCount; ++d) {
            engine.deck(d)->send(DeckCommand::load(TrackBufferRef(48000 * 4, 48000.0), false));
            engine.deck(d)->send(DeckCommand::play());
        }
    });
    audio.boot();
    auto playing = [&](double seconds) {
        return spin(
            [&] {
                return audio.io() && audio.io()->running()
                    && audio.io()->engine().deck(0)->state().position.load() >= seconds;
            },
            10.0);
    };
    if (!playing(0.2)) {
        state.SkipWithError("the virtual output did not play");
        return;
    }
    double total = 0.0;
    int sizes[] = {1024, 256};
    int run = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        audio.setBufferFrames(sizes[run++ % 2]);
        if (!playing(0.01)) {
            state.SkipWithError("no sound after the change");
            return;
        }
        total += double(timer.nsecsElapsed()) / 1e6;
        state.PauseTiming();
        playing(0.2);
        state.ResumeTiming();
    }
    state.counters["restart_ms"] = total / double(state.iterations());
}

} // namespace

BENCHMARK(BM_AudioSystem_BufferSizeRestart)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime();
