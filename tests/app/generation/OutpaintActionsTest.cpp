// The user's generation actions, the drop, the fork of the mix, the room
// extension and the chain, on the engine rendered by hand and the stand-in
// model server on loopback.
#include "WorkflowRigSupport.h"

#include "generation/ForkPlanner.h"
#include "platform/TextFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThreadPool>
#include <cmath>
#include <gtest/gtest.h>

namespace zelvo::test {
namespace {

constexpr double kLatent = ForkPlanner::latentSeconds;

QList<QJsonObject> outpaintRequests(StandInBrain& brain)
{
    QList<QJsonObject> found;
    for (const QJsonObject& entry : brain.log()) {
        if (entry.value(QStringLiteral("path")).toString() == QStringLiteral("/outpaint"))
            found << QJsonDocument::fromJson(entry.value(QStringLiteral("body")).toString().toUtf8()).object();
    }
    return found;
}

void seek(ModelRig& rig, int deck, double seconds)
{
    rig.deck(deck).voice()->send(DeckCommand::seek(seconds));
    rig.render(64);
}

// Lets detached work (a decode) land on the main thread.
void drainPool()
{
    QThreadPool::globalInstance()->waitForDone();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

struct Actions : ::testing::Test {
    void start(bool server = true, double seconds = 60.0, std::map<QString, QString> environment = {})
    {
        w = std::make_unique<WorkflowRig>(server, std::move(environment));
        w->model->setSettings(shortSettings());
        source = w->rig.drumTrack(QStringLiteral("Source"), seconds);
        source.key = MusicalKey{9, true};
        w->rig.library->update(source);
    }
    // A new model over the rig's defaults, as after a restart.
    void restartModel()
    {
        w->model = std::make_unique<OutpaintModel>(w->rig.defaults, w->rig.clock);
        w->model->setApp(w->links);
    }
    OutpaintModel& m() { return *w->model; }
    std::unique_ptr<WorkflowRig> w;
    TrackRecord source;
};

TEST_F(Actions, EachRefusalSetsItsText)
{
    start(false, 20.0);
    m().fork(false);
    EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("load a track on deck 1")));
    m().extend(false);
    EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("zelvo-0's deck has nothing to extend")));
    m().reroll();
    EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("NO TAKE TO RE-ROLL · PRESS FORK")));
    m().stepTake(1);
    EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("NO TAKES YET · PRESS FORK")));

    // A record too short to hold a context before any seam.
    w->rig.load(0, w->rig.drumTrack(QStringLiteral("Blip"), 3.0));
    m().fork(false);
    EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("not enough track to hear")));

    // A take too short to continue, then one whose source left the collection.
    const TrackRecord stranger = w->rig.drumTrack(QStringLiteral("Stranger"), 20.0);
    TrackRecord tiny = w->addTake(source, 0.0, w->rig.clock.now(), std::nullopt, 1.0);
    w->rig.load(1, tiny);
    m().extend(true);
    EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("zelvo-0's take is too short to extend")));
    TrackRecord orphan = w->addTake(stranger, 0.0, w->rig.clock.now());
    w->rig.library->remove({stranger.id});
    w->rig.load(1, orphan);
    m().reroll();
    EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("SOURCE TRACK NOT IN COLLECTION")));
    EXPECT_FALSE(m().hasTask());
    EXPECT_EQ(m().runID(), 0);
}

TEST_F(Actions, ForkSeedsAndKeepsTheMinimumLead)
{
    start(true, 120.0);
    w->rig.load(0, source);
    seek(w->rig, 0, 10.0);
    ForkSettings settings = m().settings();
    settings.lockSeed = false;
    m().setSettings(settings);
    m().fork(false);
    const std::int64_t seed = m().settings().seed;
    EXPECT_NE(seed, 4242);
    EXPECT_EQ(ForkSettings::restore(w->rig.defaults).seed, seed) << "the new seed is stored";

    // Lead = max(ratio, 0.5) × (audio × 0.7 + 4) + 2 with ratio 1 and no learnt rate.
    const double playhead = w->rig.state(0).position.load();
    const std::optional<ForkPlan> first =
        ForkPlanner::fork(source.grid, playhead, 120.0, m().settings(), 0.0);
    ASSERT_TRUE(first);
    const double lead = (first->contextSeconds + first->generateSeconds) * 0.7 + 4.0 + 2.0;
    EXPECT_EQ(m().pendingPlan(), ForkPlanner::fork(source.grid, playhead, 120.0, m().settings(), lead));
    EXPECT_GE(m().pendingPlan()->seam, playhead + lead - 1e-9);
    ASSERT_TRUE(w->settle());
    ASSERT_EQ(outpaintRequests(*w->brain).size(), 1);
    EXPECT_EQ(outpaintRequests(*w->brain)[0].value(QStringLiteral("seed")).toInteger(), seed);

    // An extension renders with a seed of its own and leaves the stored one.
    ASSERT_TRUE(spinUntil([&] { return w->rig.deck(1).track() && w->rig.deck(1).buffer(); }));
    m().extend(false);
    ASSERT_TRUE(w->settle());
    const QList<QJsonObject> requests = outpaintRequests(*w->brain);
    ASSERT_EQ(requests.size(), 2);
    const std::int64_t extendSeed = requests[1].value(QStringLiteral("seed")).toInteger();
    EXPECT_GE(extendSeed, 1);
    EXPECT_LE(extendSeed, 999999);
    EXPECT_NE(extendSeed, seed);
    EXPECT_EQ(m().settings().seed, seed);
}

TEST_F(Actions, LiveForkSupersedesAndFlowForkWaits)
{
    start(true, 60.0, {{QStringLiteral("KAVRI_BRAIN_STEP_DELAY"), QStringLiteral("0.3")}});
    w->rig.load(0, source);
    seek(w->rig, 0, 6.0);
    m().fork(false);
    ASSERT_TRUE(m().busy());
    EXPECT_EQ(m().runID(), 1);
    m().fork(false);
    EXPECT_EQ(m().runID(), 1) << "flow mode never interrupts a render";
    m().fork(true); // nothing plays: the fork of the mix refuses, deck 1 is forked
    EXPECT_EQ(m().runID(), 3);
    EXPECT_TRUE(m().busy());
    EXPECT_EQ(w->log.starting(QStringLiteral("fork: superseding the render in flight")).size(), 1);
    EXPECT_FALSE(m().notice()) << "a supersede shows nothing";
    EXPECT_FALSE(m().chainSnooze());
    ASSERT_TRUE(w->settle());
    EXPECT_EQ(m().phase(), OutpaintPhase::idle());
    ASSERT_TRUE(spinUntil([&] { return w->rig.deck(1).track().has_value(); }));
    EXPECT_TRUE(w->rig.deck(1).track()->outpaint);
}

TEST_F(Actions, RerollUsesTheRootsWindowAndCancelDuringItsDecodeEndsIt)
{
    start(true, 40.0);
    const TrackRecord root = w->addTake(source, 4.0, w->rig.clock.now());
    const TrackRecord segment = w->addTake(source, 12.0, w->rig.clock.now().addSecs(1), root.id);
    w->rig.load(1, segment);
    w->rig.load(0, source);
    m().reroll();
    const std::optional<ForkPlan> window = ForkPlanner::reroll(4.0, 8.0, source.grid, m().settings());
    ASSERT_TRUE(window);
    EXPECT_EQ(m().pendingPlan(), window) << "the root take's window, not the segment's";
    ASSERT_TRUE(w->settle());

    // Deck 1 empty: the source is decoded first.
    w->rig.load(0, w->rig.drumTrack(QStringLiteral("Elsewhere"), 20.0));
    w->rig.load(1, segment);
    const std::int64_t before = m().runID();
    m().reroll();
    EXPECT_EQ(m().phase(), OutpaintPhase::capturing());
    ASSERT_TRUE(spinUntil([&] { return m().hasTask(); }));
    EXPECT_EQ(m().runID(), before + 1);
    ASSERT_TRUE(w->settle());

    // A cancel while it decodes: idle stays idle and no render starts.
    const qsizetype sent = outpaintRequests(*w->brain).size();
    m().reroll();
    m().cancel();
    EXPECT_EQ(m().notice(), QStringLiteral("CANCELLED · CHAIN PAUSED FOR THIS ENDING"));
    drainPool();
    EXPECT_EQ(m().phase(), OutpaintPhase::idle());
    EXPECT_FALSE(m().hasTask());

    // A failed decode after a cancel does not overwrite idle.
    QFile::rename(source.path, source.path + ".gone");
    m().reroll();
    m().cancel();
    drainPool();
    EXPECT_EQ(m().phase(), OutpaintPhase::idle());

    // A live fork made while it decodes is not made stale by it.
    QFile::rename(source.path + ".gone", source.path);
    m().reroll();
    w->rig.load(0, source);
    seek(w->rig, 0, 6.0);
    m().fork(true);
    const std::int64_t live = m().runID();
    drainPool();
    EXPECT_EQ(m().runID(), live);
    ASSERT_TRUE(w->settle());
    EXPECT_EQ(outpaintRequests(*w->brain).size(), sent + 1) << "only the live fork rendered";
}

TEST_F(Actions, CancelSnoozesOnlyATakeAndStepsWrap)
{
    start(false, 20.0);
    w->rig.load(0, source);
    m().cancel();
    EXPECT_EQ(m().notice(), QStringLiteral("CANCELLED"));
    EXPECT_FALSE(m().chainSnooze());
    EXPECT_EQ(m().runID(), 1);

    const QDateTime t = w->rig.clock.now();
    const std::array<TrackRecord, 3> takes{w->addTake(source, 2.0, t), w->addTake(source, 4.0, t.addSecs(1)),
                                           w->addTake(source, 6.0, t.addSecs(2))};
    const TrackRecord plain = w->rig.drumTrack(QStringLiteral("Plain"), 20.0);
    auto stepFrom = [&](std::optional<int> from, int delta) -> int {
        w->rig.load(1, from ? takes[std::size_t(*from)] : plain);
        const QUuid was = w->rig.deck(1).track()->id;
        m().stepTake(delta);
        spinUntil([&] { return w->rig.deck(1).track()->id != was && w->rig.deck(1).buffer(); });
        for (int i = 0; i < 3; ++i) {
            if (w->rig.deck(1).track() && w->rig.deck(1).track()->id == takes[std::size_t(i)].id)
                return i;
        }
        return -1;
    };
    EXPECT_EQ(stepFrom(2, 1), 0);
    EXPECT_EQ(stepFrom(0, -1), 2);
    EXPECT_EQ(stepFrom(1, 1), 2);
    EXPECT_EQ(stepFrom(std::nullopt, -1), 2);
    EXPECT_EQ(stepFrom(std::nullopt, 1), 0);

    w->rig.load(1, takes[1]);
    m().cancel();
    EXPECT_EQ(m().chainSnooze(), (OutpaintModel::ChainSnooze{takes[1].id, takes[1].duration}));
    EXPECT_EQ(m().chainStatus(), QStringLiteral("paused · tap"));
}

// --- The drop

TEST_F(Actions, DropStatusArmsAndDisarms)
{
    start(false, 60.0);
    w->rig.load(0, source);
    const TrackRecord take = w->addTake(source, 20.0, w->rig.clock.now());
    double tempo = 0.5;
    w->links->effectiveTempo = [&tempo](int) { return std::optional<double>(tempo); };
    EXPECT_EQ(m().dropStatus(), DropStatus::refused(QStringLiteral("NO FORK ON DECK 2")));
    w->rig.load(1, take);
    DeckModel& deck1 = w->rig.deck(0);
    DeckModel& deck2 = w->rig.deck(1);
    deck1.setTempoRange(TempoRange::sixteen);
    deck1.setTempoFader(0.25);
    deck1.setKeyShift(3);
    deck1.setKeyLock(false);

    seek(w->rig, 0, 15.0);
    EXPECT_EQ(m().dropStatus(), DropStatus::waiting(10.0));
    m().drop();
    EXPECT_EQ(m().dropStatus(), DropStatus::armed(10.0));
    EXPECT_EQ(w->rig.params().dropOffset.load(), 20.0);
    EXPECT_EQ(w->rig.params().masterRequest.load(), -1) << "deck 1 is stopped";
    EXPECT_TRUE(w->rig.mixer.channel(1).sync());
    EXPECT_EQ(deck2.tempoRange(), TempoRange::sixteen);
    EXPECT_EQ(deck2.tempoFader(), 0.25);
    EXPECT_EQ(deck2.keyShift(), 3);
    EXPECT_FALSE(deck2.keyLock());
    m().drop();
    EXPECT_TRUE(std::isnan(w->rig.params().dropOffset.load()));

    tempo = 1.0;
    seek(w->rig, 0, 20.0);
    EXPECT_EQ(m().dropStatus(), DropStatus::ready(0.0));
    seek(w->rig, 0, 20.0 + take.duration - 0.5);
    EXPECT_EQ(m().dropStatus(), DropStatus::refused(QStringLiteral("DECK 1 PASSED THE FORK")));
    m().drop();
    EXPECT_TRUE(std::isnan(w->rig.params().dropOffset.load()));

    // Arming while deck 1 plays makes it the tempo master.
    seek(w->rig, 0, 10.0);
    deck1.playPause();
    w->rig.run(0.1);
    w->links->effectiveTempo = {}; // no engine reading: the ratio is 1
    const DropStatus waiting = m().dropStatus();
    EXPECT_EQ(waiting.kind, DropStatus::Kind::waiting);
    EXPECT_NEAR(waiting.seconds, 20.0 - w->rig.state(0).position.load(), 1e-9);
    m().drop();
    EXPECT_EQ(w->rig.params().masterRequest.load(), 0);
    EXPECT_EQ(m().dropStatus().kind, DropStatus::Kind::armed);

    w->rig.load(0, w->rig.drumTrack(QStringLiteral("Other"), 20.0));
    EXPECT_EQ(m().dropStatus(), DropStatus::refused(QStringLiteral("FORK OF ANOTHER TRACK")));
}

// A ready fork of the mix made by a render whose take starts at `start` s of uptime.
void makeReadyMix(WorkflowRig& w, const TrackRecord& source, double start,
                  std::optional<OutpaintModel::Anchor> anchor = std::nullopt)
{
    DeckModel& deck1 = w.rig.deck(0);
    const std::optional<ForkPlan> plan =
        ForkPlanner::fork(deck1.track()->grid, 6.0, deck1.buffer()->duration(), w.model->settings(), 0.0);
    ASSERT_TRUE(plan);
    w.model->run(ForkPlan{plan->contextSeconds, 0.0, plan->contextSeconds, plan->generateSeconds}, deck1.buffer(),
                 0.0, source, w.model->settings(), std::nullopt, false, std::nullopt, true,
                 OutpaintModel::MixFork{start, start + 5.0, anchor});
    ASSERT_TRUE(w.settle());
    ASSERT_TRUE(w.model->readyMix());
}

TEST_F(Actions, DropMixPlacesTheReadyMixAtTheMatchingTime)
{
    start(true, 60.0);
    w->rig.load(0, source);
    const double now = w->rig.clock.uptime();

    makeReadyMix(*w, source, now);
    const double seam = m().readyMix()->record.outpaint->seam;
    const double length = m().readyMix()->buffer->duration();
    EXPECT_EQ(m().dropStatus(), DropStatus::ready(0.0));
    w->rig.clock.advance(seam - 4.5);
    m().drop();
    EXPECT_FALSE(m().readyMix());
    ASSERT_TRUE(w->rig.deck(1).track());
    EXPECT_EQ(w->rig.deck(1).track()->id, w->rig.library->tracks().back().id);
    EXPECT_TRUE(w->rig.mixer.channel(1).sync());
    EXPECT_EQ(w->log.starting(QStringLiteral("fork the mix: dropped at")).value(0),
              formatText("fork the mix: dropped at %.1fs (4.5s before the seam)", seam - 4.5));
    EXPECT_EQ(m().notice(), QStringLiteral("DROPPED · ZELVO-0 TAKES OVER IN 4S"));

    makeReadyMix(*w, source, w->rig.clock.uptime() - seam - 1.0);
    m().dropMix();
    EXPECT_EQ(w->log.starting(QStringLiteral("fork the mix: dropped at")).value(1),
              formatText("fork the mix: dropped at %.1fs (1.0s past the seam)", seam + 1.0));
    EXPECT_EQ(m().notice(), QStringLiteral("DROPPED · BRING IT IN"));

    // Re-timed by the anchor's beats: deck 1 at 10 s, anchored at 6 s of its
    // 120 bpm grid with the take at 60 bpm, is 8 beats = 8 s into the take.
    seek(w->rig, 0, 10.0);
    w->rig.deck(0).playPause();
    w->rig.run(0.05);
    const double p = w->rig.state(0).position.load();
    makeReadyMix(*w, source, w->rig.clock.uptime(), OutpaintModel::Anchor{0, source.id, 6.0, 60.0});
    m().drop();
    EXPECT_EQ(w->log.starting(QStringLiteral("fork the mix: dropped at")).value(2),
              formatText("fork the mix: dropped at %.1fs (%.1fs past the seam)", (p - 6.0) * 2.0,
                         (p - 6.0) * 2.0 - seam));

    // Played out: the status refuses 8 s before the end, the drop 4 s before.
    makeReadyMix(*w, source, w->rig.clock.uptime() - (length - 7.0));
    EXPECT_EQ(m().dropStatus(), DropStatus::refused(QStringLiteral("THE FORK HAS PLAYED OUT")));
    const std::optional<TrackRecord> onDeck2 = w->rig.deck(1).track();
    w->rig.clock.advance(3.0);
    m().drop();
    EXPECT_FALSE(m().readyMix());
    EXPECT_EQ(m().notice(), QStringLiteral("THE FORK HAS PLAYED OUT · FORK AGAIN"));
    EXPECT_EQ(w->rig.deck(1).track(), onDeck2);

    // Never dropped: the tick retires it once it has less than 8 s left.
    makeReadyMix(*w, source, w->rig.clock.uptime() - (length - 8.1));
    m().tick();
    EXPECT_TRUE(m().readyMix());
    w->rig.clock.advance(0.2);
    m().tick();
    EXPECT_FALSE(m().readyMix());
    EXPECT_EQ(m().notice(), QStringLiteral("THE FORK PLAYED OUT BEFORE IT WAS DROPPED · FORK AGAIN"));
}

} // namespace
} // namespace zelvo::test
