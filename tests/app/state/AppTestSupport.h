#pragma once
// A state root on stand-ins: fake neighbours that write every call into one
// shared journal, the scripted device backend, a manual clock, a temporary
// home and user defaults there, and a library that analyses nothing.
#include "state/AppLinks.h"
#include "state/AppModel.h"
#include "AudioSystemSupport.h"
#include "generation/BrainHealth.h"
#include "platform/FakeAudioBackend.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "support/ScopedBackend.h"
#include "support/TempHome.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace zelvo::test {

// What the fakes do, and the journal of what was called on them.
struct FakeWorld {
    QStringList journal;
    bool updateReady = false;
    bool tourStartsOnFirstRun = false;
    bool tourShowing = false;
    DropStatus dropStatus = DropStatus::refused({});
    // Runs when the workflow is asked to drop the take in (after the journal line).
    std::function<void()> onDrop;
    int players = 0;
    std::optional<QString> echo;
    std::function<void()> controllerHandsOn;
    // Runs inside the workflow's tick (to see what the tick did before it).
    std::function<void()> onWorkflowTick;
    // The supervisor's last health reply and the base of its client.
    std::optional<BrainHealth> health;
    QUrl brainBase = QUrl(QStringLiteral("http://127.0.0.1:9"));
    // The workflow's notices in order, as set.
    QStringList notices;

    // What flow mode reads of the workflow, the supervisor, the controller
    // and the model key.
    WorkflowLink::Phase phase = WorkflowLink::Phase::idle;
    bool pendingIsExtension = false;
    std::optional<WorkflowLink::ChainSnooze> chainSnooze;
    std::int64_t stretchesWritten = 0;
    // Moves on with every fork and call-off; a fork starts a render when
    // `forkRenders` is set (and it runs until the test ends it).
    std::int64_t runID = 0;
    bool forkRenders = false;
    // Cleared, a fork starts no run (too little heard, the model busy).
    bool forkStarts = true;
    ForkSettings settings;
    BrainStatus brainStatus = BrainStatus::of(BrainStatus::Kind::ready);
    std::array<int, 2> activeDecks{0, 1};
    AIStep aiStep = AIStep::fork;
    // When set, builds the workflow in place of the fake (a real one, say).
    std::function<std::unique_ptr<WorkflowLink>(UserDefaults&, Scheduler&)> makeWorkflow;
};

// The model key's step as the world says.
class FakeAIStep final : public AIStepSource {
public:
    explicit FakeAIStep(FakeWorld& w) : w_(w) {}
    AIStep aiStep() const override { return w_.aiStep; }
    FakeWorld& w_;
};

class FakeNeighbours final : public NeighbourFactory {
public:
    explicit FakeNeighbours(FakeWorld& world) : world_(world) {}
    std::unique_ptr<WorkflowLink> makeWorkflow(UserDefaults&, Scheduler&) override;
    std::unique_ptr<ControllerLink> makeController(UserDefaults&, Scheduler&) override;
    std::unique_ptr<QObject> makeAccount(Scheduler& scheduler) override;
    std::unique_ptr<UpdateLink> makeUpdate(Scheduler& scheduler) override;
    std::unique_ptr<QObject> makeDownload() override;
    std::unique_ptr<TourLink> makeTour(UserDefaults&, Scheduler&) override;
    QString brainScripts() override;
    std::unique_ptr<BrainLink> makeBrain(const BrainPaths& paths, int port, Scheduler&) override;

private:
    FakeWorld& world_;
};

// One state root with everything it needs; `make` builds it.
struct AppRig {
    AppRig();
    ~AppRig();
    AppModel& make(QStringList arguments = {});
    // Adds a two-channel device and makes it the default output.
    void addOutput(double rate = 48000.0);
    // Boots and waits until the output is open.
    bool bootWithOutput();
    // Imports a tone of `seconds` and waits until `deck` has it loaded.
    bool loadTone(int deck, double seconds);
    // Runs `seconds` of the program in 50 ms steps: the output renders, the
    // models tick, `other` (a view clock) advances and events are handled.
    void run(double seconds, ManualScheduler* other = nullptr);

    TempHome home;
    ScopedBackend<FakeAudioBackend> backend;
    ManualScheduler scheduler;
    std::unique_ptr<UserDefaults> defaults;
    FakeWorld world;
    FakeNeighbours neighbours{world};
    std::unique_ptr<AppModel> app;
    // Set before `make`: the library analyses with it instead of refusing.
    LibraryStore::Analyzer analyzer;
};

// Writes a 16-bit stereo WAV of a 440 Hz sine.
void writeTone(const QString& path, double seconds, double rate = 44100.0);

} // namespace zelvo::test
