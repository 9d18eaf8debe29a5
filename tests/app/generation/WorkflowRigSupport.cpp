#include "WorkflowRigSupport.h"

#include "generation/ForkPlanner.h"

#include <QDir>
#include <QFileInfo>
#include <ctime>
#include <gtest/gtest.h>

namespace zelvo::test {

namespace {

// Stamps in these tests are read in one fixed zone.
const bool kFixedZone = [] {
    qputenv("TZ", "UTC");
    tzset();
    return true;
}();

} // namespace

QStringList KeptLog::starting(const QString& prefix) const
{
    QStringList found;
    for (const QString& line : lines) {
        if (line.startsWith(prefix))
            found << line;
    }
    return found;
}

ForkSettings shortSettings()
{
    ForkSettings settings;
    settings.aheadBars = 1;
    settings.contextBars = 3;
    settings.lengthBars = 4;
    settings.steps = 4;
    settings.seed = 4242;
    settings.lockSeed = true;
    settings.prompt = QStringLiteral("warm dub chords");
    return settings;
}

WorkflowRig::WorkflowRig(bool server, std::map<QString, QString> environment)
{
    EXPECT_TRUE(kFixedZone);
    QUrl base(QStringLiteral("http://127.0.0.1:9"));
    QString home = rig.home.file(QStringLiteral("brain"));
    if (server) {
        environment.emplace(QStringLiteral("KAVRI_BRAIN_STEP_DELAY"), QStringLiteral("0.01"));
        brain = std::make_unique<StandInBrain>(std::move(environment));
        EXPECT_TRUE(brain->start());
        base = brain->base();
        home = brain->home();
    }
    client = std::make_unique<BrainClient>(base, rig.clock);
    links = std::make_shared<OutpaintModel::Links>();
    links->log = &log;
    links->paths = BrainPaths(QString(), home);
    links->client = client.get();
    links->setRenderInFlight = [this](bool on) { renderInFlight = on; };
    links->library = rig.library.get();
    links->decks = {rig.decks[0].get(), rig.decks[1].get(), rig.decks[2].get(), rig.decks[3].get()};
    links->mixer = &rig.mixer;
    links->installedModel = [](const QString& name) { return std::optional<QString>(name); };
    links->effectiveTempo = [this](int deck) {
        return std::optional<double>(rig.engine->state()->effectiveTempo[std::size_t(deck)].load());
    };
    model = std::make_unique<OutpaintModel>(rig.defaults, rig.clock);
    model->setApp(links);
}

WorkflowRig::~WorkflowRig()
{
    settle(10);
    model.reset();
}

bool WorkflowRig::settle(double seconds)
{
    return StandInBrain::spinUntil([this] { return !model->busy() && !model->hasTask(); }, seconds);
}

QStringList WorkflowRig::scratchFiles() const
{
    if (!brain)
        return {};
    return QDir(brain->scratch()).entryList(QDir::Files | QDir::Hidden);
}

TrackRecord WorkflowRig::addTake(const TrackRecord& source, double sourceOffset, const QDateTime& added,
                                 std::optional<QUuid> segmentOf, double seconds)
{
    const QString path = rig.home.file(QStringLiteral("takes/%1.wav").arg(QUuid::createUuid().toString(QUuid::Id128)));
    writeDrumTrack(path, 120.0, seconds, rig.engine->sampleRate());
    TrackRecord take = TrackRecord::forFile(path, added);
    take.duration = seconds;
    take.grid = BeatGrid(120.0, 0.0, 4);
    OutpaintInfo info;
    info.sourceID = source.id;
    info.sourceTitle = source.title;
    info.sourceOffset = sourceOffset;
    info.seam = 8.0;
    info.segmentOf = segmentOf;
    take.outpaint = info;
    rig.library->addOutpaint(take, WaveformData{});
    return take;
}

void WorkflowRig::forkDeck1(double playhead, bool live, bool automatic)
{
    DeckModel& deck1 = rig.deck(0);
    ASSERT_TRUE(deck1.track() && deck1.buffer());
    const ForkSettings settings = model->settings();
    const std::optional<ForkPlan> plan =
        ForkPlanner::fork(deck1.track()->grid, playhead, deck1.buffer()->duration(), settings, 0.0);
    ASSERT_TRUE(plan);
    model->run(*plan, deck1.buffer(), plan->contextStart, *deck1.track(), settings, std::nullopt, automatic,
               std::nullopt, live, std::nullopt);
}

} // namespace zelvo::test
