#include "App/StandardNeighbours.h"

#include "App/AppUpdate.h"
#include "controllers/ControllerModel.h"
#include "generation/BrainDownload.h"
#include "generation/BrainScripts.h"
#include "generation/BrainSupervisor.h"
#include "generation/KavriAccount.h"
#include "generation/OutpaintModel.h"
#include "ui/tour/TourModel.h"

namespace zelvo {
namespace {

// Everything that depends on the neighbours' own shapes stays in these adapters.

class Workflow final : public WorkflowLink {
public:
    explicit Workflow(UserDefaults& defaults) : model(defaults) {}
    DropStatus dropStatus() const override { return model.dropStatus(); }
    void drop() override { model.drop(); }
    void tick() override { model.tick(); }
    void fork(bool live) override { model.fork(live); }
    void extend(bool automatic) override { model.extend(automatic); }
    Phase phase() const override
    {
        switch (model.phase().kind) {
        case OutpaintModel::Phase::Kind::rendering: return Phase::rendering;
        case OutpaintModel::Phase::Kind::failed: return Phase::failed;
        case OutpaintModel::Phase::Kind::idle: return Phase::idle;
        case OutpaintModel::Phase::Kind::capturing: return Phase::capturing;
        case OutpaintModel::Phase::Kind::composing: return Phase::composing;
        }
        return Phase::idle;
    }
    bool pendingIsExtension() const override { return model.pendingIsExtension(); }
    // This workflow renders no chain, so nothing is ever snoozed.
    std::optional<ChainSnooze> chainSnooze() const override { return std::nullopt; }
    std::int64_t stretchesWritten() const override { return model.stretchesWritten(); }
    const ForkSettings& settings() const override { return model.settings(); }
    OutpaintModel model;
};

class Controller final : public ControllerLink {
public:
    void start() override { model.start(); }
    int playerCount() const override { return int(model.players().size()); }
    std::optional<QString> echo() const override
    {
        if (!model.echo())
            return std::nullopt;
        return model.echo()->title + QStringLiteral(": ") + model.echo()->value;
    }
    void setOnHands(std::function<void()> callback) override { model.setOnHands(std::move(callback)); }
    int activeDeck(int side) const override { return model.activeDeck(side); }
    ControllerModel model;
};

class Update final : public UpdateLink {
public:
    bool ready() const override { return model.state().kind == AppUpdate::State::Kind::ready; }
    void swapAfterExit(bool relaunch) override { model.swapAfterExit(relaunch); }
    AppUpdate model;
};

class Tour final : public TourLink {
public:
    Tour(UserDefaults& defaults, Scheduler& scheduler) : model(defaults, scheduler) {}
    void startWelcome() override { model.start(TourModel::Step::welcome); }
    void startIfFirstRun() override { model.startIfFirstRun(); }
    bool showing() const override { return model.step().has_value(); }
    TourModel model;
};

class Brain final : public BrainLink {
public:
    Brain(const BrainPaths& paths, int port, Scheduler& scheduler) : model(paths, port, scheduler) {}
    void note(const QString& line) override { model.note(line); }
    void boot() override { model.boot(); }
    void start(double warmSeconds) override { model.start(warmSeconds); }
    void stop() override { model.stop(); }
    void stopInstall() override { model.stopInstall(); }
    BrainStatus status() const override { return model.status(); }
    BrainSupervisor model;
};

} // namespace

std::unique_ptr<WorkflowLink> StandardNeighbours::makeWorkflow(UserDefaults& defaults, Scheduler&)
{
    auto link = std::make_unique<Workflow>(defaults);
    outpaint = &link->model;
    return link;
}

std::unique_ptr<ControllerLink> StandardNeighbours::makeController(UserDefaults&, Scheduler&)
{
    auto link = std::make_unique<Controller>();
    controller = &link->model;
    return link;
}

std::unique_ptr<QObject> StandardNeighbours::makeAccount()
{
    auto made = std::make_unique<KavriAccount>();
    account = made.get();
    return made;
}

std::unique_ptr<UpdateLink> StandardNeighbours::makeUpdate()
{
    auto link = std::make_unique<Update>();
    update = &link->model;
    return link;
}

std::unique_ptr<QObject> StandardNeighbours::makeDownload()
{
    auto made = std::make_unique<BrainDownload>();
    download = made.get();
    return made;
}

std::unique_ptr<TourLink> StandardNeighbours::makeTour(UserDefaults& defaults, Scheduler& scheduler)
{
    auto link = std::make_unique<Tour>(defaults, scheduler);
    tour = &link->model;
    return link;
}

QString StandardNeighbours::brainScripts()
{
    return zelvo::brainScripts();
}

std::unique_ptr<BrainLink> StandardNeighbours::makeBrain(const BrainPaths& paths, int port, Scheduler& scheduler)
{
    auto link = std::make_unique<Brain>(paths, port, scheduler);
    brain = &link->model;
    return link;
}

} // namespace zelvo
