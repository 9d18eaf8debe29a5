#pragma once
// The program's neighbours of the state root: the model server's supervisor,
// the generation workflow, the controllers, the CDN account, the updater, the
// model download and the tour, each wrapped in the link the state root uses.
// The concrete models stay reachable here for the screens.
//
// Main thread only.
#include "state/AppLinks.h"
#include "controllers/ControllerModel.h"

namespace zelvo {

class AppUpdate;
class BrainDownload;
class BrainSupervisor;
class KavriAccount;
class OutpaintModel;
class TourModel;

class StandardNeighbours final : public NeighbourFactory {
public:
    std::unique_ptr<WorkflowLink> makeWorkflow(UserDefaults& defaults, Scheduler& scheduler) override;
    std::unique_ptr<ControllerLink> makeController(UserDefaults& defaults, Scheduler& scheduler) override;
    std::unique_ptr<QObject> makeAccount(Scheduler& scheduler) override;
    std::unique_ptr<UpdateLink> makeUpdate(Scheduler& scheduler) override;
    std::unique_ptr<QObject> makeDownload() override;
    std::unique_ptr<TourLink> makeTour(UserDefaults& defaults, Scheduler& scheduler) override;
    QString brainScripts() override;
    std::unique_ptr<BrainLink> makeBrain(const BrainPaths& paths, int port, Scheduler& scheduler) override;
    std::unique_ptr<InstallDriver> makeInstaller(Scheduler& scheduler) override;

    // The models made so far; owned by the state root's links, so valid while
    // the state root lives. Main thread.
    OutpaintModel* outpaint = nullptr;
    ControllerModel* controller = nullptr;
    KavriAccount* account = nullptr;
    AppUpdate* update = nullptr;
    BrainDownload* download = nullptr;
    TourModel* tour = nullptr;
    BrainSupervisor* brain = nullptr;

    // What the controller model is built with (tests hand it a virtual MIDI
    // system); set before the state root binds the controller.
    ControllerModel::Setup controllerSetup;
};

} // namespace zelvo
