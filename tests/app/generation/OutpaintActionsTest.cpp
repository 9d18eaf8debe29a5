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

void seekDeck(ModelRig& rig, int deck, double seconds)
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
    seekDeck(w->rig, 0, 10.0);
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
    seekDeck(w->rig, 0, 6.0);
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

    seekDeck(w->rig, 0, 15.0);
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
    seekDeck(w->rig, 0, 20.0);
    EXPECT_EQ(m().dropStatus(), DropStatus::ready(0.0));
    seekDeck(w->rig, 0, 20.0 + take.duration - 0.5);
    EXPECT_EQ(m().dropStatus(), DropStatus::refused(QStringLiteral("DECK 1 PASSED THE FORK")));
    m().drop();
    EXPECT_TRUE(std::isnan(w->rig.params().dropOffset.load()));

    // Arming while deck 1 plays makes it the tempo master.
    seekDeck(w->rig, 0, 10.0);
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

// End to end: a fork of deck 1 lands on deck 2, the drop arms it, and deck 2
// starts on deck 1's timeline to the sample, playing the source's own audio.
TEST_F(Actions, AForkOfDeck1DropsOntoDeck1sTimelineToTheSample)
{
    start(true, 60.0);
    w->rig.load(0, source);
    seekDeck(w->rig, 0, 3.0);
    m().fork(false);
    ASSERT_TRUE(w->settle());
    ASSERT_TRUE(spinUntil([&] { return w->rig.deck(1).track() && w->rig.deck(1).buffer(); }));
    DeckModel& deck2 = w->rig.deck(1);
    ASSERT_TRUE(deck2.track()->outpaint);
    const double offset = deck2.track()->outpaint->sourceOffset;
    EXPECT_EQ(m().dropStatus().kind, DropStatus::Kind::waiting);

    w->rig.deck(0).playPause();
    w->rig.run(0.05);
    m().drop();
    EXPECT_EQ(w->rig.params().dropOffset.load(), offset);
    EXPECT_EQ(m().dropStatus().kind, DropStatus::Kind::armed);
    ASSERT_TRUE(w->rig.runUntil([&] { return w->rig.state(1).playing.load(); }, 30.0));
    EXPECT_NEAR(w->rig.state(1).position.load(), w->rig.state(0).position.load() - offset, 0.5 / 48000.0);

    const TrackBuffer& take = *deck2.buffer();
    const TrackBuffer& prefix = *w->rig.deck(0).buffer();
    const auto first = std::int64_t(std::llround(offset * 48000.0));
    const auto plain = std::int64_t((deck2.track()->outpaint->seam - 0.03) * 48000.0) - 1;
    double worst = 0;
    for (std::int64_t i = 0; i < plain; ++i)
        worst = std::max(worst, double(std::abs(take.left[i] - prefix.left[first + i])));
    EXPECT_LT(worst, 1e-6);
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
    seekDeck(w->rig, 0, 10.0);
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

// --- Fork of the mix

// Plays decks `playing` (from `at` s) for `seconds`, so the master tap fills,
// then on to the next moment the master peaks clearly (drums decay between
// hits); at most a second more.
void playFor(ModelRig& rig, std::initializer_list<int> playing, double at, double seconds, bool sounding = true)
{
    for (int d : playing) {
        seekDeck(rig, d, at);
        rig.deck(d).playPause();
    }
    rig.run(seconds);
    if (sounding) {
        const MixerState& state = *rig.engine->state();
        rig.runUntil([&] { return std::max(state.masterPeakL.load(), state.masterPeakR.load()) > 0.01; }, 1.0);
    }
}

TEST_F(Actions, ForkOfTheMixFollowsTheWorkedExampleAndDropsOntoDeck2)
{
    start(true, 120.0);
    source.grid = BeatGrid(125.0, 0.1, 4);
    w->rig.library->update(source);
    w->rig.load(0, source);
    w->rig.defaults.setReal(QString::fromLatin1(OutpaintModel::renderRateKey), 0.2);
    restartModel();
    ForkSettings settings = shortSettings();
    settings.contextBars = 16;
    settings.lengthBars = 32;
    m().setSettings(settings);
    playFor(w->rig, {0}, 54.5, 5.0);
    const double p = w->rig.state(0).position.load();
    ASSERT_GT(p, 59.4);
    ASSERT_LE(p, 60.05);

    const double now = w->rig.clock.uptime();
    m().fork(true);
    const double c = 331 * kLatent;
    const double g = 662 * kLatent;
    EXPECT_EQ(m().pendingPlan(), (ForkPlan{c, 0.0, c, g}));
    const double lead = 86.5 - p;
    EXPECT_EQ(w->log.starting(QStringLiteral("fork the mix:")).value(0),
              formatText("fork the mix: 1 deck, %.1fs heard + %.1fs ahead, seam in %.1fs, writing %.1fs", c - lead,
                         lead, lead, g));
    EXPECT_EQ(m().settings().seed, 4242) << "a locked seed is kept";
    ASSERT_TRUE(w->settle(60));
    ASSERT_TRUE(m().readyMix());
    const OutpaintModel::ReadyMix& ready = *m().readyMix();
    EXPECT_NEAR(ready.start, now - (c - lead), 1e-9);
    ASSERT_TRUE(ready.anchor);
    EXPECT_EQ(ready.anchor->deck, 0);
    EXPECT_EQ(ready.anchor->track, source.id);
    // At p = 60 these are 55.7568 s and 0.0232 s.
    const double t0 = p - (c - lead);
    EXPECT_NEAR(ready.anchor->trackTime, t0, 1e-6);
    EXPECT_EQ(ready.anchor->bpm, 125.0);
    ASSERT_TRUE(ready.record.grid);
    EXPECT_NEAR(ready.record.grid->firstBeat, 0.1 + 0.48 * std::ceil((t0 - 0.1) / 0.48) - t0, 1e-6);
    EXPECT_EQ(ready.record.title, QStringLiteral("Source ⟶ zelvo-0"));
    EXPECT_EQ(ready.record.key, source.key);
    EXPECT_FALSE(ready.record.outpaint->sourceID == source.id) << "the mix stands for the source";

    m().drop();
    ASSERT_TRUE(w->rig.deck(1).track());
    EXPECT_EQ(w->rig.deck(1).track()->id, ready.record.id);
}

TEST_F(Actions, ForkOfTheMixRefusesOrTakesByTheMixersState)
{
    start(true, 60.0);
    TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 60.0);
    other.grid = BeatGrid(100.0, 0.0, 4);
    other.key = MusicalKey{2, false};
    w->rig.library->update(other);
    w->rig.load(0, source);
    w->rig.load(1, other);

    struct Case {
        const char* what;
        std::function<void()> setUp;
        bool takes;
        QString title = {};
        int anchor = 0;
    };
    auto both = [&] { playFor(w->rig, {0, 1}, 6.0, 3.0); };
    const Case cases[] = {
        {"nothing plays", [] {}, false},
        {"too little in the tap", [&] { playFor(w->rig, {0, 1}, 6.0, 0.4, false); }, false},
        {"the master is down", [&] { w->rig.mixer.setMaster(0.0); both(); }, false},
        {"every fader closed",
         [&] {
             w->rig.mixer.channel(0).setFader(0.0);
             w->rig.mixer.channel(1).setFader(0.0);
             both();
         },
         false},
        {"a context under 4 s",
         [&] {
             ForkSettings s = shortSettings();
             s.contextBars = 1;
             m().setSettings(s);
             both();
         },
         false},
        {"under 8 latents left to write",
         [&] {
             ForkSettings s = shortSettings();
             s.contextBars = 95;
             m().setSettings(s);
             both();
         },
         false},
        // Equal gains: deck 1 is the loudest, gives the key, and anchors.
        {"two decks", both, true, QStringLiteral("the mix ⟶ zelvo-0")},
        {"deck 2's fader closed",
         [&] {
             w->rig.mixer.channel(1).setFader(0.0);
             both();
         },
         true, QStringLiteral("Source ⟶ zelvo-0")},
        // Tempo and anchor follow the engine's master; title and key the loudest.
        {"deck 2 the tempo master",
         [&] {
             w->rig.mixer.channel(0).setFader(1.0);
             both();
             w->rig.params().masterRequest.store(1);
             w->rig.run(0.05);
             ASSERT_EQ(w->rig.engine->state()->masterDeck.load(), 1);
         },
         true, QStringLiteral("the mix ⟶ zelvo-0"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w->rig.mixer.setMaster(0.8);
        w->rig.mixer.channel(0).setFader(0.85);
        w->rig.mixer.channel(1).setFader(0.85);
        m().setSettings(shortSettings());
        c.setUp();
        const qsizetype lines = w->log.starting(QStringLiteral("fork the mix:")).size();
        m().fork(true);
        EXPECT_EQ(w->log.starting(QStringLiteral("fork the mix:")).size(), lines + (c.takes ? 1 : 0));
        // A refusal hands over to the fork of deck 1, when that one has a window.
        if (m().pendingPlan()) {
            EXPECT_EQ(m().pendingPlan()->contextStart == 0.0 &&
                          m().pendingPlan()->seam == m().pendingPlan()->contextSeconds,
                      c.takes);
            EXPECT_GT(m().pendingPlan()->generateSeconds, 0.0);
        } else {
            EXPECT_FALSE(c.takes);
        }
        if (c.takes) {
            ASSERT_TRUE(w->settle());
            ASSERT_TRUE(m().readyMix());
            EXPECT_EQ(m().readyMix()->record.title, c.title);
            EXPECT_EQ(m().readyMix()->record.key, source.key);
            ASSERT_TRUE(m().readyMix()->anchor);
            EXPECT_EQ(m().readyMix()->anchor->deck, c.anchor);
            EXPECT_EQ(m().readyMix()->anchor->track, c.anchor == 0 ? source.id : other.id);
        }
        m().cancel();
        ASSERT_TRUE(w->settle());
        for (int d : {0, 1}) {
            if (w->rig.deck(d).live().playing)
                w->rig.deck(d).playPause();
        }
        w->rig.run(0.1);
    }

    // A live fork while a render runs and a fork of the mix waits: the ready
    // mix goes, the old render is superseded.
    m().fork(false);
    ASSERT_TRUE(m().busy());
    ASSERT_TRUE(m().readyMix());
    m().fork(true);
    EXPECT_FALSE(m().readyMix());
    EXPECT_EQ(w->log.starting(QStringLiteral("fork: superseding")).size(), 1);
}

TEST_F(Actions, ForkOfTheMixCutsTheWriteToTheLengthLimit)
{
    start(true, 60.0);
    w->rig.load(0, source);
    ForkSettings settings = shortSettings();
    settings.contextBars = 16;
    settings.lengthBars = 200;
    m().setSettings(settings);
    playFor(w->rig, {0}, 2.0, 2.0);
    m().fork(true);
    const double c = ForkPlanner::latentAligned(32.0, ForkPlanner::Rounding::toNearestOrEven);
    ASSERT_TRUE(m().pendingPlan());
    EXPECT_EQ(m().pendingPlan()->contextSeconds, c);
    EXPECT_EQ(m().pendingPlan()->generateSeconds, std::floor((190.0 - c) / kLatent) * kLatent);
    m().cancel();
}

// --- Room extension and the chain

struct Chain : Actions {
    // Deck 1 plays `onDeck1` (the source by default), deck 2 a 40 s take of the
    // source from `at` s; both for `seconds`.
    void setUp2(double at, double seconds, std::optional<TrackRecord> onDeck1 = std::nullopt)
    {
        start(true, 60.0);
        take = w->addTake(source, 4.0, w->rig.clock.now(), std::nullopt, 40.0);
        w->rig.load(0, onDeck1.value_or(source));
        w->rig.load(1, take);
        playFor(w->rig, {0, 1}, at, seconds);
    }
    double position2() { return w->rig.state(1).position.load(); }
    TrackRecord take;
};

TEST_F(Chain, RoomExtensionPlansFromWhatTheRoomHeard)
{
    setUp2(2.0, 8.0);
    const double c = ForkPlanner::latentAligned(6.0, ForkPlanner::Rounding::toNearestOrEven);
    const double end = ForkPlanner::latentAligned(40.0, ForkPlanner::Rounding::down);

    // Deck 1 plays the take's own source: no bridge, the seam at the take's end.
    m().extend(false);
    ASSERT_TRUE(m().pendingPlan());
    EXPECT_EQ(*m().pendingPlan(), (ForkPlan{end, end - c, c, m().pendingPlan()->generateSeconds}));
    EXPECT_EQ(m().notice(), QStringLiteral("LISTENING TO THE ROOM"));
    EXPECT_FALSE(m().bridging());
    EXPECT_EQ(w->log.starting(QStringLiteral("chain heard the room: ")).size(), 1);
    ASSERT_TRUE(w->settle());
    const QJsonObject request = outpaintRequests(*w->brain).value(0);
    const QString context = QFileInfo(request.value(QStringLiteral("context")).toString()).fileName();
    EXPECT_TRUE(context.startsWith(QStringLiteral("room-"))) << context.toStdString();
    EXPECT_EQ(context.mid(5, 8), context.mid(5, 8).toUpper());
    EXPECT_TRUE(w->scratchFiles().isEmpty());

    // Deck 2 stopped: the room is not asked, the take alone is continued.
    w->rig.deck(1).playPause();
    w->rig.run(0.1);
    ASSERT_TRUE(spinUntil([&] { return w->rig.deck(1).track()->duration > 40.0; }));
    const TrackRecord longer = *w->rig.deck(1).track();
    m().extend(false);
    EXPECT_EQ(m().pendingPlan(), ForkPlanner::extend(w->rig.deck(1).buffer()->duration(), longer.grid, m().settings()));
    EXPECT_EQ(w->log.starting(QStringLiteral("chain heard the room: ")).size(), 1);
    ASSERT_TRUE(w->settle());
}

TEST_F(Chain, ABridgeSeamLiesOnABarBeforeTheTakesEnd)
{
    Actions::start(true, 60.0);
    const TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 60.0);
    const TrackRecord src = source;
    w->rig.load(0, other);
    take = w->addTake(src, 4.0, w->rig.clock.now(), std::nullopt, 40.0);
    w->rig.load(1, take);
    w->rig.mixer.channel(0).setFader(0.0); // the incoming record is still mixed in
    playFor(w->rig, {0, 1}, 2.0, 8.0);
    m().extend(true);
    ASSERT_TRUE(m().pendingPlan());
    const ForkPlan plan = *m().pendingPlan();
    const double render = (plan.contextSeconds + plan.generateSeconds) * 0.6;
    const double bar = BeatGrid(120.0, 0.0, 4).nextBar(position2() + render + 8.0);
    EXPECT_GE(plan.seam, bar);
    EXPECT_LT(plan.seam - bar, kLatent);
    EXPECT_LE(plan.seam, ForkPlanner::latentAligned(40.0, ForkPlanner::Rounding::down));
    ASSERT_TRUE(m().bridging());
    EXPECT_EQ(m().bridging()->id, other.id);
    EXPECT_EQ(w->log.starting(QStringLiteral("chain is bridging into Other")).size(), 1);
    m().cancel();
    ASSERT_TRUE(w->settle());

    // Late in the take the render would not finish 4 s before its end: the
    // seam goes to the take's end without the room.
    seekDeck(w->rig, 1, 40.0 - 12.0);
    m().extend(true);
    ASSERT_TRUE(m().pendingPlan());
    EXPECT_EQ(m().pendingPlan(), ForkPlanner::extend(40.0, take.grid, m().settings()));
    EXPECT_EQ(w->log.starting(QStringLiteral("chain heard the room: ")).size(), 1);
    m().cancel();
    ASSERT_TRUE(w->settle());

    // A scratch folder that cannot be written: logged, nothing bridged anew.
    QFile blocker(w->rig.home.file(QStringLiteral("blocked/scratch")));
    QDir().mkpath(QFileInfo(blocker).absolutePath());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    w->links->paths = BrainPaths(QString(), w->rig.home.file(QStringLiteral("blocked")));
    seekDeck(w->rig, 1, 4.0);
    m().extend(true);
    EXPECT_EQ(w->log.starting(QStringLiteral("room capture failed: ")).size(), 1);
    EXPECT_EQ(m().bridging()->id, other.id);
    ASSERT_TRUE(w->settle());
    EXPECT_EQ(m().phase().kind, OutpaintPhase::Kind::failed);
}

TEST_F(Chain, LeadStatusSnoozeAndBackOff)
{
    start(false, 20.0);
    struct Lead {
        std::optional<double> rate;
        std::optional<BeatGrid> grid;
        double lead;
    };
    ForkSettings s = shortSettings();
    s.contextBars = 16;
    s.lengthBars = 32;
    for (const Lead& l : {Lead{std::nullopt, BeatGrid(120, 0, 4), 87.76}, Lead{2.0, BeatGrid(120, 0, 4), 120.0},
                          Lead{0.01, BeatGrid(120, 0, 4), 16.0}, Lead{std::nullopt, std::nullopt, 87.76},
                          Lead{std::nullopt, BeatGrid(0.0, 0, 4), 87.76}}) {
        if (l.rate)
            w->rig.defaults.setReal(QString::fromLatin1(OutpaintModel::renderRateKey), *l.rate);
        else
            w->rig.defaults.remove(QString::fromLatin1(OutpaintModel::renderRateKey));
        restartModel();
        m().setSettings(s);
        TrackRecord take = source;
        take.grid = l.grid;
        EXPECT_NEAR(m().chainLead(take), l.lead, 1e-9);
    }
    EXPECT_EQ(m().chainStatus(), QStringLiteral("always on"));
    m().setChainHoldUntil(w->rig.clock.now().addMSecs(7400));
    EXPECT_EQ(m().chainStatus(), QStringLiteral("retry 7s"));
}

TEST_F(Chain, TheTickExtendsBeforeTheEndUnlessSnoozedOrHeld)
{
    setUp2(10.0, 0.5);
    const double lead = m().chainLead(take);
    EXPECT_NEAR(*m().chainCountdown(), 40.0 - position2() - lead, 1e-9);
    m().tick();
    EXPECT_FALSE(m().busy());

    // Held by a back-off: nothing until the hold is tapped away.
    seekDeck(w->rig, 1, 40.0 - lead + 0.5);
    m().setChainHoldUntil(w->rig.clock.now().addSecs(10));
    m().tick();
    EXPECT_FALSE(m().busy());
    m().setChainHoldUntil(OutpaintModel::distantPast());
    m().tick();
    ASSERT_TRUE(m().busy());
    EXPECT_TRUE(m().pendingIsExtension());
    EXPECT_FALSE(m().chainCountdown()) << "none while busy";

    // Cancelled: snoozed for this ending, then the snooze lapses after a jump back.
    m().cancel();
    ASSERT_TRUE(m().chainSnooze());
    m().tick();
    EXPECT_FALSE(m().busy());
    EXPECT_TRUE(m().chainSnooze());
    seekDeck(w->rig, 1, 5.0);
    m().tick();
    EXPECT_FALSE(m().chainSnooze());
    EXPECT_FALSE(m().busy());
    ASSERT_TRUE(w->settle());
}

TEST_F(Chain, OneBridgePerIncomingRecordAndAWaitingTakeWhenIdle)
{
    Actions::start(true, 60.0);
    const TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 60.0);
    take = w->addTake(source, 4.0, w->rig.clock.now(), std::nullopt, 40.0);
    w->rig.load(0, other);
    w->rig.load(1, take);
    playFor(w->rig, {0, 1}, 2.0, 8.0);

    w->audible[1] = false;
    m().tick();
    EXPECT_FALSE(m().busy()) << "no bridge while deck 2 is not heard";
    w->audible[1] = true;
    m().tick();
    EXPECT_EQ(m().bridgedFor(), other.id);
    EXPECT_EQ(w->log.starting(QStringLiteral("chain: Other is coming in — writing a bridge now")).size(), 1);
    ASSERT_TRUE(m().busy());
    m().cancel();
    ASSERT_TRUE(w->settle());
    m().tick();
    EXPECT_FALSE(m().busy()) << "a bridge was already written for this record";
    EXPECT_EQ(w->log.starting(QStringLiteral("chain: ")).size(), 1);

    // A finished fork waits while deck 2 plays, and while a render runs.
    w->rig.load(0, source);
    seekDeck(w->rig, 0, 6.0);
    m().fork(false);
    ASSERT_TRUE(w->settle());
    ASSERT_TRUE(m().waitingTake());
    const TrackRecord waiting = *m().waitingTake();
    m().tick();
    EXPECT_TRUE(m().waitingTake());
    w->rig.deck(1).playPause();
    w->rig.run(0.1);
    m().extend(false);
    ASSERT_TRUE(m().busy());
    m().tick();
    EXPECT_TRUE(m().waitingTake());
    ASSERT_TRUE(w->settle());
    for (int i = 0; i < 4; ++i)
        w->rig.render(64); // deck 2 takes the stretch written meanwhile
    m().tick();
    EXPECT_FALSE(m().waitingTake());
    ASSERT_TRUE(spinUntil([&] { return w->rig.deck(1).track()->id == waiting.id; }));
}

TEST_F(Chain, AStretchHandedOverIsWrittenOnceWhateverTheTickReadsBeforeTheVoiceTakesIt)
{
    setUp2(10.0, 0.5);
    // A learnt speed that keeps the lead at its floor of 8 bars through the render.
    w->rig.defaults.setReal(QString::fromLatin1(OutpaintModel::renderRateKey), 0.01);
    restartModel();
    m().setSettings(shortSettings());
    const double lead = m().chainLead(take);
    ASSERT_NEAR(lead, 16.0, 1e-9);
    seekDeck(w->rig, 1, 40.0 - lead + 0.5);
    m().tick();
    ASSERT_TRUE(m().busy());
    // The stretch lands and is spliced in with no render after it: the voice
    // still describes the 40 s take, near its end.
    ASSERT_TRUE(w->settle());
    ASSERT_EQ(m().stretchesWritten(), 1);
    ASSERT_NE(w->rig.deck(1).track()->id, take.id);
    const double spliced = w->rig.deck(1).buffer()->duration();
    EXPECT_NEAR(w->rig.state(1).duration.load(), 40.0, 0.01);
    for (int render = 0; render < 6; ++render) {
        m().tick();
        EXPECT_FALSE(m().busy()) << "the same stretch asked for again after " << render << " renders";
        if (m().busy()) {
            m().callOff();
            ASSERT_TRUE(w->settle());
        }
        w->rig.render(512);
    }
    EXPECT_EQ(w->rig.state(1).duration.load(), spliced) << "the voice took the spliced take";
    w->rig.run(0.5);
    m().tick();
    EXPECT_FALSE(m().busy());
    EXPECT_EQ(outpaintRequests(*w->brain).size(), 1);
    EXPECT_EQ(m().stretchesWritten(), 1);
    EXPECT_NEAR(m().chainLead(take), lead, 1e-9);
    EXPECT_GT(*m().chainCountdown(), 0.0);
}

} // namespace
} // namespace zelvo::test
