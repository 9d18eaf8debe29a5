#include "shell/StandardNeighbours.h"

#include "state/AppModel.h"
#include "state/AppUpdate.h"
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
#include "state/TourModel.h"

#include <QCoreApplication>

namespace zelvo {
namespace {

// Everything that depends on the neighbours' own shapes stays in these adapters.

// The keys' and pads' workflow actions on the real workflow, and the state
// root's own queue and load operations.
class StandardPerformance final : public PerformanceLink {
public:
    StandardPerformance(AppModel& app, OutpaintModel& workflow) : app_(app), workflow_(workflow) {}
    void reroll() override { workflow_.reroll(); }
    void stepTake(int delta) override { workflow_.stepTake(delta); }
    void cancel() override { workflow_.cancel(); }
    bool rendering() const override { return workflow_.phase().busy(); }
    bool chainSnoozed() const override { return workflow_.chainSnooze().has_value(); }
    void resumeChain() override { workflow_.resumeChain(); }
    void keySync(int deck) override { app_.keySync(deck); }
    void enqueue(const QUuid& track) override { app_.enqueue(track); }
    void loadNext() override { app_.loadNext(); }
    void load(const QUuid& track, int deck) override { app_.load(track, deck); }

private:
    AppModel& app_;
    OutpaintModel& workflow_;
};

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
        // The state root's link to the model server, whichever supervises it.
        links->client = &app->brain().client();
        if (brain) {
            links->paths = brain->paths();
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
        app->setPerformanceLink(std::make_unique<StandardPerformance>(*app, model));
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
    std::int64_t runID() const override { return model.runID(); }
    void callOff() override { model.callOff(); }

    OutpaintModel model;

private:
    StandardNeighbours& owner_;
    std::shared_ptr<OutpaintModel::Links> links_;
};

// What the controllers drive of the running application: the decks, the
// mixer and the engine's readings, the browser's lists, source and sort, the
// set queue, the pads, the model key's steps, the takes and the tour. The
// takes and the tour are the workflow's and the tour's own: before those are
// made, their calls do nothing and their readings are empty.
class ControllerHostOnApp final : public ControllerHost {
public:
    ControllerHostOnApp(AppModel& app, Scheduler& scheduler, StandardNeighbours& owner)
        : app_(app), scheduler_(scheduler), owner_(owner)
    {
    }
    DeckModel& deck(int index) override { return app_.deck(index); }
    MixerModel& mixer() override { return app_.mixer(); }
    const MixerState* engineState() override
    {
        const std::shared_ptr<AudioIO>& io = app_.audio().io();
        return io ? io->engine().state().get() : nullptr;
    }
    int masterDeck() override { return app_.engineLive().masterDeck; }
    void setPreferredController(std::optional<ControllerKind> kind) override
    {
        app_.audio().setPreferredController(kind);
    }
    std::optional<QUuid> selectedTrack() override { return app_.selectedTrack(); }
    void setSelectedTrack(std::optional<QUuid> id) override { app_.setSelectedTrack(id); }
    std::vector<QUuid> browserTracks() override
    {
        std::vector<QUuid> ids;
        for (const TrackRecord& record : app_.browserTracks())
            ids.push_back(record.id);
        return ids;
    }
    std::optional<TrackRecord> track(const QUuid& id) override { return app_.library().track(id); }
    BrowserSource browserSource() override { return BrowserSource(int(app_.browserSource())); }
    void setBrowserSource(BrowserSource source) override
    {
        app_.setBrowserSource(AppModel::BrowserSource(int(source)));
    }
    bool browseOpen() override { return app_.browseOpen(); }
    void setBrowseOpen(bool open) override { app_.setBrowseOpen(open); }
    double waveformZoom() override { return app_.waveformZoom(); }
    void setWaveformZoom(double zoom) override { app_.setWaveformZoom(zoom); }
    void enqueue(const QUuid& id) override { app_.enqueue(id); }
    void loadNext() override { app_.loadNext(); }
    void load(std::optional<QUuid> id, int deck) override { app_.load(id, deck); }
    void keySync(int deck) override { app_.keySync(deck); }
    void pressPad(int deck, PadMode mode, int index, bool down, bool erase) override
    {
        if (deck >= 0 && deck < AppModel::kDecks)
            app_.pressPad(app_.deck(deck), mode, index, down, erase);
    }
    bool padLit(int deck, PadMode mode, int index) override
    {
        return deck >= 0 && deck < AppModel::kDecks && app_.padLit(app_.deck(deck), mode, index);
    }
    void aiPrimary() override { app_.aiPrimary(); }
    void aiSecondary() override { app_.aiSecondary(); }
    QString aiStepTitle() override { return app_.aiStepTitle(); }
    void reroll() override
    {
        if (owner_.outpaint)
            owner_.outpaint->reroll();
    }
    void stepTake(int delta) override
    {
        if (owner_.outpaint)
            owner_.outpaint->stepTake(delta);
    }
    TourStep tourStep() override
    {
        if (!owner_.tour || !owner_.tour->step())
            return TourStep::none;
        switch (*owner_.tour->step()) {
        case TourModel::Step::welcome: return TourStep::welcome;
        case TourModel::Step::machine: return TourStep::machine;
        case TourModel::Step::go: return TourStep::go;
        default: return TourStep::other;
        }
    }
    double tourElapsed() override
    {
        return owner_.tour ? double(owner_.tour->changedAt().msecsTo(scheduler_.now())) / 1000.0 : 0.0;
    }
    void tourNext() override
    {
        if (owner_.tour)
            owner_.tour->next();
    }
    void tourBack() override
    {
        if (owner_.tour)
            owner_.tour->back();
    }
    // The CDJ players.
    void setPlayerRig(std::vector<AudioSystem::RigPlayer> rig) override { app_.audio().setPlayerRig(std::move(rig)); }
    BrowserSort browserSort() override { return BrowserSort(int(app_.browserSort())); }
    void setBrowserSort(BrowserSort sort) override { app_.setBrowserSort(AppModel::BrowserSort(int(sort))); }
    QString browserSortLabel(BrowserSort sort) override { return AppModel::rawValue(AppModel::BrowserSort(int(sort))); }
    bool generationBusy() override
    {
        if (!owner_.outpaint)
            return false;
        const OutpaintPhase::Kind kind = owner_.outpaint->phase().kind;
        return kind == OutpaintPhase::Kind::capturing || kind == OutpaintPhase::Kind::composing
               || kind == OutpaintPhase::Kind::rendering;
    }

private:
    AppModel& app_;
    Scheduler& scheduler_;
    StandardNeighbours& owner_;
};

// The controller model needs the launch arguments and the application's log,
// so it is made when the state root binds it.
class Controller final : public ControllerLink {
public:
    Controller(UserDefaults& defaults, Scheduler& scheduler, StandardNeighbours& owner)
        : defaults_(defaults), scheduler_(scheduler), owner_(owner)
    {
    }
    ~Controller() override { unbind(); }
    void start() override
    {
        if (model)
            model->start();
    }
    int playerCount() const override { return model ? int(model->players().size()) : 0; }
    std::optional<QString> echo() const override
    {
        if (!model || !model->echo())
            return std::nullopt;
        return model->echo()->title + QStringLiteral(": ") + model->echo()->value;
    }
    void setOnHands(std::function<void()> callback) override
    {
        onHands_ = std::move(callback);
        if (model)
            model->setOnHands(onHands_);
    }
    int activeDeck(int side) const override { return model ? model->activeDeck(side) : side; }
    void selectDeck(int deck) override
    {
        if (model)
            model->selectDeck(deck);
    }
    bool fourDecks() const override { return model && model->layout() == ControllerKind::flx10; }
    void bind(AppModel* app) override
    {
        if (!app) {
            unbind();
            return;
        }
        if (!model) {
            model = std::make_unique<ControllerModel>(defaults_, scheduler_, app->arguments(), &app->brain(),
                                                      owner_.controllerSetup);
            owner_.controller = model.get();
        }
        host_ = std::make_unique<ControllerHostOnApp>(*app, scheduler_, owner_);
        model->setHost(host_.get());
        model->setOnHands(onHands_);
    }
    std::unique_ptr<ControllerModel> model;

private:
    void unbind()
    {
        if (model)
            model->setHost(nullptr);
        host_.reset();
    }
    UserDefaults& defaults_;
    Scheduler& scheduler_;
    StandardNeighbours& owner_;
    std::unique_ptr<ControllerHostOnApp> host_;
    std::function<void()> onHands_;
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
    Tour(UserDefaults& defaults, Scheduler& scheduler) : model(QCoreApplication::arguments(), defaults, scheduler) {}
    void startWelcome() override { model.start(TourModel::Step::welcome); }
    void startIfFirstRun() override { model.startIfFirstRun(); }
    bool showing() const override { return model.step().has_value(); }
    void next() override { model.next(); }
    void back() override { model.back(); }
    void finish() override { model.finish(); }
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

std::unique_ptr<ControllerLink> StandardNeighbours::makeController(UserDefaults& defaults, Scheduler& scheduler)
{
    return std::make_unique<Controller>(defaults, scheduler, *this);
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
