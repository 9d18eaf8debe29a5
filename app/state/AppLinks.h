#pragma once
// What the state root uses of its neighbours: the model server's supervisor,
// the generation workflow, the controllers, the updater and the tour, each
// through the few members it calls. The program builds them over the real
// classes (StandardNeighbours); tests hand in fakes.
//
// Main thread only.
#include "generation/BrainClient.h"
#include "generation/BrainHealth.h"
#include "generation/BrainPaths.h"
#include "generation/BrainStatus.h"
#include "generation/ForkSettings.h"
#include "generation/InstallDriver.h"
#include "generation/ForkSettings.h"
#include "models/DropWorkflow.h"
#include "platform/LogSink.h"

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QObject;

namespace zelvo {

class AppModel;
class Scheduler;
class UserDefaults;

// The model server's supervisor; its log is the application's log.
class BrainLink : public LogSink {
public:
    virtual void boot() = 0;
    virtual void start(double warmSeconds) = 0;
    virtual void stop() = 0;
    virtual void stopInstall() = 0;
    // The last health reply; none while the server does not answer.
    virtual const std::optional<BrainHealth>& health() const = 0;
    // The client of the server's port; copies may be used from any thread.
    virtual const BrainClient& client() const = 0;
    // What the supervisor reports of the model server.
    virtual BrainStatus status() const = 0;
};

// The generation workflow.
class WorkflowLink : public DropWorkflow {
public:
    virtual void tick() = 0;
    virtual void fork(bool live) = 0;
    virtual void extend(bool automatic) = 0;
    // The generation settings; assigning stores them as any settings change is.
    virtual const ForkSettings& settings() const = 0;
    virtual void setSettings(const ForkSettings& settings) = 0;
    // The short upper-case notice and its expiry; an equal value notifies nobody.
    virtual const std::optional<QString>& notice() const = 0;
    virtual const QDateTime& noticeUntil() const = 0;
    virtual void setNotice(const std::optional<QString>& notice) = 0;
    virtual void setNoticeUntil(const QDateTime& until) = 0;

    // What flow mode reads of the workflow.
    enum class Phase { rendering, failed, idle, capturing, composing };
    // The take whose ending the automatic chain skips after a cancel.
    struct ChainSnooze {
        QUuid track;
        double duration = 0.0;
    };
    virtual Phase phase() const = 0;
    // The pending or running render extends the take on deck 2.
    virtual bool pendingIsExtension() const = 0;
    virtual std::optional<ChainSnooze> chainSnooze() const = 0;
    // Stretches the chain has written so far.
    virtual std::int64_t stretchesWritten() const = 0;
    // Which render is current: a number that moves on with every render begun
    // or ended, so flow can tell the fork it started from one the user did.
    virtual std::int64_t runID() const = 0;
    // Ends the render in flight quietly: no notice, and the chain is not
    // snoozed. Flow's own fork giving way to the next record.
    virtual void callOff() = 0;
    // True while a render is being written (rendering, capturing or composing).
    bool rendering() const
    {
        const Phase p = phase();
        return p == Phase::rendering || p == Phase::capturing || p == Phase::composing;
    }
    // Hands the workflow the running application once the state root has built
    // everything; null unlinks it before the state root goes.
    virtual void bind(AppModel* app) { (void)app; }
};

// The controllers and players.
class ControllerLink {
public:
    virtual ~ControllerLink() = default;
    virtual void start() = 0;
    // Players currently seen.
    virtual int playerCount() const = 0;
    // The card of the last touched control as "<title>: <value>"; none without one.
    virtual std::optional<QString> echo() const = 0;
    // Where discrete controller events report the hands-on time; empty to unlink.
    virtual void setOnHands(std::function<void()> callback) = 0;
    // The deck (0 ... 3) under the left (0) or right (1) half of the controller.
    virtual int activeDeck(int side) const = 0;
    // Makes the half that can drive `deck` (even: left, odd: right) drive it.
    virtual void selectDeck(int deck) { (void)deck; }
    // Whether the controller's layout shows four decks.
    virtual bool fourDecks() const { return false; }
    // Hands the controllers the running application once the state root has
    // built everything; null unlinks it before the state root goes.
    virtual void bind(AppModel* app) { (void)app; }
};

// The model key's step, as the key shows it.
enum class AIStep { install, wake, waking, installing, fork, loadRecord, dreaming, dropIt, armed, steer };

// Where flow mode reads the model key's step.
class AIStepSource {
public:
    virtual ~AIStepSource() = default;
    virtual AIStep aiStep() const = 0;
};

// The self-updater.
class UpdateLink {
public:
    virtual ~UpdateLink() = default;
    // A verified update is staged.
    virtual bool ready() const = 0;
    virtual void swapAfterExit(bool relaunch) = 0;
};

// The guided tour.
class TourLink {
public:
    virtual ~TourLink() = default;
    virtual void startWelcome() = 0;
    virtual void startIfFirstRun() = 0;
    // A tour step shows.
    virtual bool showing() const = 0;
    // The tour's keys: the following step (finishing after the last), the
    // preceding one, and the end of the tour.
    virtual void next() {}
    virtual void back() {}
    virtual void finish() {}
};

// Builds the neighbours, one call each, in the order the state root needs
// them. Each result lives as long as the state root.
class NeighbourFactory {
public:
    virtual ~NeighbourFactory() = default;
    virtual std::unique_ptr<WorkflowLink> makeWorkflow(UserDefaults& defaults, Scheduler& scheduler) = 0;
    virtual std::unique_ptr<ControllerLink> makeController(UserDefaults& defaults, Scheduler& scheduler) = 0;
    // The CDN account: held, never called by the state root.
    virtual std::unique_ptr<QObject> makeAccount(Scheduler& scheduler) = 0;
    virtual std::unique_ptr<UpdateLink> makeUpdate(Scheduler& scheduler) = 0;
    // The model download's progress: held, never called by the state root.
    virtual std::unique_ptr<QObject> makeDownload() = 0;
    virtual std::unique_ptr<TourLink> makeTour(UserDefaults& defaults, Scheduler& scheduler) = 0;
    // The folder of the model server's scripts.
    virtual QString brainScripts() = 0;
    virtual std::unique_ptr<BrainLink> makeBrain(const BrainPaths& paths, int port, Scheduler& scheduler) = 0;
    // The model installation over the account, the download and the supervisor
    // made before it; none where there is nothing to install.
    virtual std::unique_ptr<InstallDriver> makeInstaller(Scheduler& scheduler)
    {
        (void)scheduler;
        return nullptr;
    }
};

} // namespace zelvo
