#include "AppTestSupport.h"

#include "generation/BrainClient.h"
#include "library/LibraryStore.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "platform/UserDefaults.h"
#include "support/AudioFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <cmath>

namespace zelvo::test {
namespace {

class Workflow final : public WorkflowLink {
public:
    Workflow(FakeWorld& w, UserDefaults& defaults)
        : w_(w), defaults_(defaults)
    {
        // Stored settings win over the world's defaults, as in the real workflow.
        const ForkSettings restored = ForkSettings::restore(defaults);
        if (!(restored == ForkSettings{}))
            w_.settings = restored;
    }
    DropStatus dropStatus() const override { return w_.dropStatus; }
    void drop() override
    {
        w_.journal << "workflow.drop";
        if (w_.onDrop)
            w_.onDrop();
    }
    void tick() override
    {
        w_.journal << "workflow.tick";
        if (w_.onWorkflowTick)
            w_.onWorkflowTick();
    }
    void fork(bool live) override
    {
        w_.journal << QStringLiteral("workflow.fork(%1)").arg(live);
        if (!w_.forkStarts)
            return;
        ++w_.runID;
        if (w_.forkRenders)
            w_.phase = Phase::rendering;
    }
    void extend(bool automatic) override { w_.journal << QStringLiteral("workflow.extend(%1)").arg(automatic); }
    const ForkSettings& settings() const override { return w_.settings; }
    void setSettings(const ForkSettings& settings) override
    {
        w_.settings = settings;
        w_.settings.store(defaults_);
    }
    const std::optional<QString>& notice() const override { return notice_; }
    const QDateTime& noticeUntil() const override { return noticeUntil_; }
    void setNotice(const std::optional<QString>& notice) override
    {
        notice_ = notice;
        w_.notices << notice.value_or(QString());
    }
    void setNoticeUntil(const QDateTime& until) override { noticeUntil_ = until; }
    Phase phase() const override { return w_.phase; }
    bool pendingIsExtension() const override { return w_.pendingIsExtension; }
    std::optional<ChainSnooze> chainSnooze() const override { return w_.chainSnooze; }
    std::int64_t stretchesWritten() const override { return w_.stretchesWritten; }
    std::int64_t runID() const override { return w_.runID; }
    void callOff() override
    {
        w_.journal << QStringLiteral("workflow.callOff");
        ++w_.runID;
        w_.phase = Phase::idle;
    }
    FakeWorld& w_;
    UserDefaults& defaults_;
    std::optional<QString> notice_;
    QDateTime noticeUntil_;
};

class Controller final : public ControllerLink {
public:
    explicit Controller(FakeWorld& w) : w_(w) {}
    void start() override { w_.journal << "controller.start"; }
    int playerCount() const override { return w_.players; }
    std::optional<QString> echo() const override { return w_.echo; }
    void setOnHands(std::function<void()> callback) override { w_.controllerHandsOn = std::move(callback); }
    int activeDeck(int side) const override { return w_.activeDecks[std::size_t(side & 1)]; }
    void selectDeck(int deck) override
    {
        w_.journal << QStringLiteral("controller.selectDeck(%1)").arg(deck);
        if (deck >= 0 && deck < 4)
            w_.activeDecks[std::size_t(deck & 1)] = deck;
    }
    FakeWorld& w_;
};

class Update final : public UpdateLink {
public:
    explicit Update(FakeWorld& w) : w_(w) {}
    bool ready() const override { return w_.updateReady; }
    void swapAfterExit(bool relaunch) override { w_.journal << QStringLiteral("update.swap(%1)").arg(relaunch); }
    FakeWorld& w_;
};

class Tour final : public TourLink {
public:
    explicit Tour(FakeWorld& w) : w_(w) {}
    void startWelcome() override
    {
        w_.journal << "tour.welcome";
        w_.tourShowing = true;
    }
    void startIfFirstRun() override
    {
        w_.journal << "tour.firstRun";
        w_.tourShowing = w_.tourStartsOnFirstRun;
    }
    bool showing() const override { return w_.tourShowing; }
    void next() override { w_.journal << "tour.next"; }
    void back() override { w_.journal << "tour.back"; }
    void finish() override
    {
        w_.journal << "tour.finish";
        w_.tourShowing = false;
    }
    FakeWorld& w_;
};

// The fake supervisor's client times its requests on a clock of its own that
// lives as long as the program: a head start's "prepare" may be answered after
// the rig that asked for it is gone.
Scheduler& clientClock()
{
    static QtScheduler* clock = new QtScheduler;
    return *clock;
}

class Brain final : public BrainLink {
public:
    explicit Brain(FakeWorld& w) : w_(w), client_(w.brainBase, clientClock()) {}
    void note(const QString& line) override { w_.journal << QStringLiteral("brain.note ") + line; }
    void boot() override { w_.journal << "brain.boot"; }
    void start(double warmSeconds) override { w_.journal << QStringLiteral("brain.start(%1)").arg(warmSeconds); }
    void stop() override { w_.journal << "brain.stop"; }
    void stopInstall() override { w_.journal << "brain.stopInstall"; }
    const std::optional<BrainHealth>& health() const override { return w_.health; }
    const BrainClient& client() const override { return client_; }
    BrainStatus status() const override { return w_.brainStatus; }
    FakeWorld& w_;
    BrainClient client_;
};

} // namespace

std::unique_ptr<WorkflowLink> FakeNeighbours::makeWorkflow(UserDefaults& defaults, Scheduler& scheduler)
{
    world_.journal << "make workflow";
    if (world_.makeWorkflow)
        return world_.makeWorkflow(defaults, scheduler);
    return std::make_unique<Workflow>(world_, defaults);
}

std::unique_ptr<ControllerLink> FakeNeighbours::makeController(UserDefaults&, Scheduler&)
{
    world_.journal << "make controller";
    return std::make_unique<Controller>(world_);
}

std::unique_ptr<QObject> FakeNeighbours::makeAccount(Scheduler&)
{
    world_.journal << "make account";
    return std::make_unique<QObject>();
}

std::unique_ptr<UpdateLink> FakeNeighbours::makeUpdate(Scheduler&)
{
    world_.journal << "make update";
    return std::make_unique<Update>(world_);
}

std::unique_ptr<QObject> FakeNeighbours::makeDownload()
{
    world_.journal << "make download";
    return std::make_unique<QObject>();
}

std::unique_ptr<TourLink> FakeNeighbours::makeTour(UserDefaults&, Scheduler&)
{
    world_.journal << "make tour";
    return std::make_unique<Tour>(world_);
}

QString FakeNeighbours::brainScripts()
{
    world_.journal << "brain scripts";
    return QStringLiteral("/nowhere/brain");
}

std::unique_ptr<BrainLink> FakeNeighbours::makeBrain(const BrainPaths&, int port, Scheduler&)
{
    world_.journal << QStringLiteral("make brain %1").arg(port);
    return std::make_unique<Brain>(world_);
}

AppRig::AppRig() : defaults(std::make_unique<UserDefaults>(home.file(QStringLiteral("defaults.json")))) {}

AppRig::~AppRig()
{
    // Ahead-encoding writers post their requests to this thread.
    spinUntil([] { return AppModel::aheadWritesInFlight() == 0; });
    backend->releaseHangs();
    settle();
    app.reset();
    settle();
}

AppModel& AppRig::make(QStringList arguments)
{
    arguments.prepend(QStringLiteral("kavri-zelvo"));
    AppModel::Setup setup;
    setup.neighbours = &neighbours;
    setup.libraryOptions = [analyzer = analyzer] {
        LibraryStore::Options options;
        options.analyzer = analyzer ? analyzer : [](const QString&) {
            LibraryStore::AnalysisOutcome outcome;
            outcome.error = QStringLiteral("not analysed in tests");
            return outcome;
        };
        return options;
    };
    app = std::make_unique<AppModel>(*defaults, scheduler, arguments, setup);
    app->setTerminate([this] { world.journal << "terminate"; });
    return *app;
}

void AppRig::addOutput(double rate)
{
    FakeAudioBackend::Device device;
    device.uid = "fake.out";
    device.name = "Fake Out";
    device.nominalSampleRate = rate;
    backend->setDefaultOutput(backend->addDevice(device));
}

bool AppRig::bootWithOutput()
{
    app->boot();
    return spinUntil([this] { return app->audio().io() != nullptr; }) && settle();
}

bool AppRig::loadTone(int deck, double seconds)
{
    const QString path = QDir::homePath() + QStringLiteral("/tone-%1.wav").arg(deck);
    writeTone(path, seconds);
    app->importItems({path});
    if (!spinUntil([this] { return !app->library().tracks().empty(); }))
        return false;
    app->load(app->library().tracks().front().id, deck);
    return spinUntil([this, deck] { return app->deck(deck).track() && !app->deck(deck).loading(); });
}

void AppRig::run(double seconds, ManualScheduler* other)
{
    for (double t = 0; t < seconds - 1e-9; t += 0.05) {
        backend->pump(0.05);
        scheduler.advance(0.05);
        if (other)
            other->advance(0.05);
        QCoreApplication::processEvents();
    }
}

void writeTone(const QString& path, double seconds, double rate)
{
    const Audio audio = generate(2, std::int64_t(seconds * rate), rate, sine(440.0, rate, 0.4f));
    writeAudioFile(path.toStdString(), AudioFormat::wav16, audio);
}

} // namespace zelvo::test
