#include "App/StandardNeighbours.h"

#include "App/AppModel.h"
#include "App/AppUpdate.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "audio/MixerState.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "controllers/ControllerModel.h"
#include "generation/BrainDownload.h"
#include "generation/BrainScripts.h"
#include "generation/BrainSupervisor.h"
#include "generation/ContentService.h"
#include "generation/InstallDriver.h"
#include "generation/KavriAccount.h"
#include "generation/OutpaintModel.h"
#include "ui/tour/TourModel.h"

namespace zelvo {
namespace {

// Everything that depends on the neighbours' own shapes stays in these adapters.

class Workflow final : public WorkflowLink {
public:
    Workflow(UserDefaults& defaults, Scheduler& scheduler, StandardNeighbours& owner)
        : model(defaults, scheduler), owner_(owner)
    {
    }
    DropStatus dropStatus() const override { return model.dropStatus(); }
    void drop() override { model.drop(); }
    void tick() override { model.tick(); }
    void fork(bool live) override { model.fork(live); }
    void extend(bool automatic) override { model.extend(automatic); }
    const ForkSettings& settings() const override { return model.settings(); }
    void setSettings(const ForkSettings& settings) override { model.setSettings(settings); }
    const std::optional<QString>& notice() const override { return model.notice(); }
    const QDateTime& noticeUntil() const override { return model.noticeUntil(); }
    void setNotice(const std::optional<QString>& notice) override { model.setNotice(notice); }
    void setNoticeUntil(const QDateTime& until) override { model.setNoticeUntil(until); }

    void bind(AppModel* app) override
    {
        if (!app) {
            links_.reset();
            return;
        }
        BrainSupervisor* brain = owner_.brain;
        auto links = std::make_shared<OutpaintModel::Links>();
        links->log = &app->brain();
        if (brain) {
            links->paths = brain->paths();
            links->client = &brain->client();
            links->setRenderInFlight = [brain](bool on) { brain->setRenderInFlight(on); };
            // The model name when the server lists it as an adapter, or while no report came yet.
            links->installedModel = [app](const QString& name) { return app->installedModel(name); };
        } else {
            links->paths = app->brainPaths();
        }
        links->library = &app->library();
        for (int i = 0; i < AppModel::kDecks; ++i)
            links->decks[std::size_t(i)] = &app->deck(i);
        links->mixer = &app->mixer();
        AudioSystem* audio = &app->audio();
        links->effectiveTempo = [audio](int deck) -> std::optional<double> {
            const std::shared_ptr<AudioIO>& io = audio->io();
            if (!io || deck < 0 || deck >= AppModel::kDecks)
                return std::nullopt;
            return io->engine().state()->effectiveTempo[std::size_t(deck)].load();
        };
        links->engine = [audio]() -> MixEngine* {
            const std::shared_ptr<AudioIO>& io = audio->io();
            return io ? &io->engine() : nullptr;
        };
        links->isAudible = [app](int deck) { return app->isAudible(deck); };
        links_ = links;
        model.setApp(links_);
    }

    Phase phase() const override
    {
        switch (model.phase().kind) {
        case OutpaintPhase::Kind::rendering: return Phase::rendering;
        case OutpaintPhase::Kind::failed: return Phase::failed;
        case OutpaintPhase::Kind::idle: return Phase::idle;
        case OutpaintPhase::Kind::capturing: return Phase::capturing;
        case OutpaintPhase::Kind::composing: return Phase::composing;
        }
        return Phase::idle;
    }
    bool pendingIsExtension() const override { return model.pendingIsExtension(); }
    std::optional<ChainSnooze> chainSnooze() const override
    {
        if (!model.chainSnooze())
            return std::nullopt;
        return ChainSnooze{model.chainSnooze()->trackID, model.chainSnooze()->duration};
    }
    std::int64_t stretchesWritten() const override { return model.stretchesWritten(); }

    OutpaintModel model;

private:
    StandardNeighbours& owner_;
    std::shared_ptr<OutpaintModel::Links> links_;
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
    explicit Update(Scheduler& scheduler) : model(scheduler, ContentService::network(), KavriAccount::cdn()) {}
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
    const std::optional<BrainHealth>& health() const override { return model.health(); }
    const BrainClient& client() const override { return model.client(); }
    BrainStatus status() const override { return model.status(); }
    BrainSupervisor model;
};

} // namespace

std::unique_ptr<WorkflowLink> StandardNeighbours::makeWorkflow(UserDefaults& defaults, Scheduler& scheduler)
{
    auto link = std::make_unique<Workflow>(defaults, scheduler, *this);
    outpaint = &link->model;
    return link;
}

std::unique_ptr<ControllerLink> StandardNeighbours::makeController(UserDefaults&, Scheduler&)
{
    auto link = std::make_unique<Controller>();
    controller = &link->model;
    return link;
}

std::unique_ptr<QObject> StandardNeighbours::makeAccount(Scheduler& scheduler)
{
    auto made = std::make_unique<KavriAccount>(scheduler);
    account = made.get();
    return made;
}

std::unique_ptr<UpdateLink> StandardNeighbours::makeUpdate(Scheduler& scheduler)
{
    auto link = std::make_unique<Update>(scheduler);
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

std::unique_ptr<InstallDriver> StandardNeighbours::makeInstaller(Scheduler& scheduler)
{
    if (!brain || !account || !download)
        return nullptr;
    return InstallDriver::over(*brain, *account, *download, scheduler);
}

} // namespace zelvo
