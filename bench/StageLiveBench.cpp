// The live stage's main-thread cost, measured as the program spends it: the
// stage in its own window on the offscreen platform (raster, device pixel
// ratio 1), every deck's voice publishing playback, the live clock and the
// state root's tick driven through one simulated second, each live view
// repainting at its own rate through the backing store. Every record has a
// grid and a waveform. core_share is the main thread's CPU seconds per second
// of display (what it spends, whatever else the machine runs); x_realtime its
// reciprocal.
//
// BM_Stage_MiddleRow: only the middle row on screen (the lanes and the browser
// hidden), both decks playing, the big key pulsing on the beat; /FLX4 and
// /FLX10 are the two controller layouts.
// BM_Stage_FullFrame: the whole stage with four lanes, every deck playing.
#include "state/AppModel.h"
#include "state/ModelKeyLink.h"
#include "AppTestSupport.h"
#include "audio/DeckState.h"
#include "audio/DeckVoice.h"
#include "library/TrackBuffer.h"
#include "library/WaveformData.h"
#include "models/DeckModel.h"
#include "platform/Scheduler.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/BigAIKey.h"
#include "ui/stage/RootView.h"
#include "ui/stage/StageBrowser.h"
#include "ui/stage/StageSides.h"
#include "ui/stage/StageView.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <ctime>

namespace zelvo::stage {
namespace {

// CPU seconds of the calling thread.
double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A waveform with movement in every band, five minutes long.
std::shared_ptr<const WaveformData> madeUpWaveform()
{
    auto waveform = std::make_shared<WaveformData>();
    const std::size_t points = std::size_t(300 * waveform->pointsPerSecond);
    for (std::size_t i = 0; i < points; ++i) {
        const double beat = std::fmod(double(i) / 150.0 * 2.0, 1.0);
        waveform->low.push_back(std::uint8_t(40 + 200 * (1 - beat) * (1 - beat)));
        waveform->mid.push_back(std::uint8_t(80 + 60 * std::sin(double(i) * 0.05)));
        waveform->high.push_back(std::uint8_t(30 + (i * 37) % 120));
    }
    return waveform;
}

class NoDesktop final : public kit::DesktopServices {
public:
    bool openUrl(const QUrl&) override { return false; }
};

// A ready server with a fork of the mix waiting: the key says "drop it" and pulses.
class DropWaiting final : public ModelKeyLink {
public:
    BrainStatus brainStatus() const override { return BrainStatus::of(BrainStatus::Kind::ready); }
    bool hasReadyMix() const override { return true; }
};

struct LiveStage {
    explicit LiveStage(bool fourDecks, bool middleOnly)
    {
        rig.make();
        rig.app->setModelKeyLink(std::make_unique<DropWaiting>());
        const std::shared_ptr<const WaveformData> waveform = madeUpWaveform();
        root = std::make_unique<RootView>(*rig.app, runtime.env());
        root->resize(1600, 1080);
        root->sides().setFourDecks(fourDecks);
        for (int deck = 0; deck < AppModel::kDecks; ++deck) {
            auto voice = std::make_shared<DeckVoice>(48000.0, 512);
            voices[std::size_t(deck)] = voice;
            DeckModel& model = rig.app->deck(deck);
            model.attach(voice, false);
            TrackRecord record;
            record.id = QUuid::createUuid();
            record.title = QStringLiteral("record %1").arg(deck + 1);
            record.artist = QStringLiteral("artist");
            record.duration = 300;
            record.grid = BeatGrid(120 + deck, 0.1);
            model.install(record, TrackBufferRef(4800, 48000.0), waveform, false);
            DeckState& cells = state(deck);
            cells.duration.store(300);
            cells.position.store(30 + deck);
            cells.playing.store(true);
            model.refreshLive();
        }
        root->show();
        QApplication::processEvents();
        if (middleOnly) {
            root->stageView()->lanesBlock()->hide();
            root->stageView()->browser()->hide();
        }
        QApplication::processEvents();
        key = root->findChild<BigAIKey*>(QStringLiteral("machine.aiKey"));
    }
    ~LiveStage()
    {
        root.reset();
        for (int deck = 0; deck < AppModel::kDecks; ++deck)
            rig.app->deck(deck).attach(nullptr, false);
    }
    DeckState& state(int deck) { return const_cast<DeckState&>(voices[std::size_t(deck)]->state()); }

    // One simulated second: 60 display frames, the tick every third. Returns
    // the main thread's CPU seconds.
    double second()
    {
        const double start = threadSeconds();
        for (int frame = 0; frame < 60; ++frame) {
            for (int deck = 0; deck < AppModel::kDecks; ++deck)
                state(deck).position.store(state(deck).position.load() + 1.0 / 60);
            // The scheduler's date has whole milliseconds: stepping by whole
            // milliseconds keeps the live clock's frame instants exact.
            const auto ms = [](int k) { return std::lround(k * 1000.0 / 60); };
            scheduler.advance(double(ms(frame + 1) - ms(frame)) / 1000.0);
            if (frame % 3 == 2) {
                rig.scheduler.advance(AppModel::kTickInterval);
                rig.app->tick();
            }
            QApplication::processEvents();
        }
        return threadSeconds() - start;
    }

    test::AppRig rig;
    ManualScheduler scheduler;
    NoDesktop desktop;
    kit::DisplayClock display;
    kit::UiRuntime runtime{scheduler, desktop, false, 1.0, &display};
    std::unique_ptr<RootView> root;
    std::array<std::shared_ptr<DeckVoice>, AppModel::kDecks> voices;
    BigAIKey* key = nullptr;
};

void measure(benchmark::State& state, LiveStage& stage)
{
    stage.second(); // warm the caches
    const int keyPaints = stage.key ? stage.key->paintCount() : 0;
    double seconds = 0;
    for (auto _ : state)
        seconds += stage.second();
    const double share = seconds / double(state.iterations());
    state.counters["core_share"] = share;
    state.counters["x_realtime"] = share > 0 ? 1.0 / share : 0;
    if (stage.key)
        state.counters["paints_key"] = double(stage.key->paintCount() - keyPaints) / double(state.iterations());
}

void BM_Stage_MiddleRow(benchmark::State& state)
{
    LiveStage stage(state.range(0) == 4, true);
    measure(state, stage);
}
BENCHMARK(BM_Stage_MiddleRow)->Name("BM_Stage_MiddleRow/FLX4")->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_MiddleRow)->Name("BM_Stage_MiddleRow/FLX10")->Arg(4)->Unit(benchmark::kMillisecond);

void BM_Stage_FullFrame(benchmark::State& state)
{
    LiveStage stage(true, false);
    measure(state, stage);
}
BENCHMARK(BM_Stage_FullFrame)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zelvo::stage

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
