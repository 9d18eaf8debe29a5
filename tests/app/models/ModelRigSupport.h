#pragma once
// A whole performance setup for model tests: a library over a temporary home, a
// real mix engine rendered by hand, the four decks, the mixer, the engine binder
// and the transition model, all on one manual clock. Rendering and the clock
// move together, so what the models poll is what the engine played.
#include "AudioSystemSupport.h"
#include "audio/MixEngine.h"
#include "library/AnalysisWorker.h"
#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "models/DirectOutsSource.h"
#include "models/DropWorkflow.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "support/TempHome.h"

#include <array>
#include <deque>
#include <functional>
#include <memory>

namespace zelvo::test {

// Runs analysis jobs only when told, on the calling thread.
class StepAnalysisWorker final : public AnalysisWorker {
public:
    void start(std::function<void()> job, std::function<void()> done) override;
    int runAll();

private:
    std::deque<std::pair<std::function<void()>, std::function<void()>>> items_;
};

class StubDirectOuts final : public DirectOutsSource {
public:
    bool directOuts() const override { return on; }
    bool on = false;
};

// A drop that refuses until told otherwise and counts its calls.
class FakeDropWorkflow final : public DropWorkflow {
public:
    DropStatus dropStatus() const override { return status; }
    void drop() override
    {
        ++drops;
        if (onDrop)
            onDrop();
    }
    DropStatus status = DropStatus::refused(QStringLiteral("NO FORK ON DECK 2"));
    int drops = 0;
    std::function<void()> onDrop;
};

// An analysis that finds a 120 bpm grid with its first beat at 0.
LibraryStore::AnalysisOutcome fixedAnalysis(const QString& path);

// Writes a stereo 16-bit WAV of drums at `bpm` (downbeat at 0), `seconds` long.
void writeDrumTrack(const QString& path, double bpm, double seconds, double sampleRate);


struct ModelRig {
    static constexpr double kTick = 0.05;

    explicit ModelRig(double sampleRate = 48000.0, LibraryStore::Analyzer analyzer = fixedAnalysis);
    ~ModelRig();

    // Imports and analyses a file; returns the library's record.
    TrackRecord import(const QString& path);
    // A drum track in the music folder, imported. Seconds and tempo of the audio.
    TrackRecord drumTrack(const QString& name, double seconds = 20.0, double bpm = 120.0);
    // Loads `record` on deck `deck` and waits until the load has finished.
    void load(int deck, const TrackRecord& record);
    // Builds a new engine at `sampleRate` and hands it to the binder, as the
    // audio system does after a device change.
    void rebuildEngine(double sampleRate);

    // Renders `frames` through the engine.
    void render(int frames);
    // Plays `seconds`: renders a 60th of a second, then moves the clock by as
    // much (firing the transition's frames and the 0.05 s tick), repeatedly.
    void run(double seconds);
    // Plays until `done` or `limit` seconds; true when `done` held.
    bool runUntil(const std::function<bool()>& done, double limit);

    DeckModel& deck(int i) { return *decks[std::size_t(i)]; }
    const DeckState& state(int i) { return engine->deck(i)->state(); }
    MixerParams& params() { return *engine->params(); }

    TempHome home;
    ManualScheduler clock;
    UserDefaults defaults;
    StepAnalysisWorker* worker = nullptr;
    std::unique_ptr<LibraryStore> library;
    std::unique_ptr<MixEngine> engine;
    std::array<std::unique_ptr<DeckModel>, 4> decks;
    MixerModel mixer;
    std::unique_ptr<EngineBinder> binder;
    StubDirectOuts audio;
    FakeDropWorkflow outpaint;
    std::unique_ptr<TransitionModel> transition;
    Scheduler::TimerId tickTimer = 0;
};

} // namespace zelvo::test
