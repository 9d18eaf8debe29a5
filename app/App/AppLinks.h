#pragma once
// What the state root uses of its neighbours: the model server's supervisor,
// the generation workflow, the controllers, the updater and the tour, each
// through the few members it calls. The program builds them over the real
// classes (StandardNeighbours); tests hand in fakes.
//
// Main thread only.
#include "generation/BrainPaths.h"
#include "generation/InstallDriver.h"
#include "models/DropWorkflow.h"
#include "platform/LogSink.h"

#include <QString>
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
};

// The generation workflow.
class WorkflowLink : public DropWorkflow {
public:
    virtual void tick() = 0;
    virtual void fork(bool live) = 0;
    virtual void extend(bool automatic) = 0;
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
    // Hands the controllers the running application once the state root has
    // built everything; null unlinks it before the state root goes.
    virtual void bind(AppModel* app) { (void)app; }
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
