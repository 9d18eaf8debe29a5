// Render runs against the stand-in model server on loopback, with the engine
// rendered by hand.
#include "WorkflowRigSupport.h"

#include "audio/DeckCommand.h"
#include "generation/Caption.h"
#include "generation/ForkPlanner.h"
#include "generation/OutpaintComposer.h"
#include "library/AudioFileIO.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sndfile.h>
#include <thread>

namespace zelvo::test {
namespace {

QJsonObject lastRequest(StandInBrain& brain)
{
    QJsonObject found;
    for (const QJsonObject& entry : brain.log()) {
        if (entry.value(QStringLiteral("path")).toString() == QStringLiteral("/outpaint"))
            found = QJsonDocument::fromJson(entry.value(QStringLiteral("body")).toString().toUtf8()).object();
    }
    return found;
}

SF_INFO fileInfo(const QString& path)
{
    SF_INFO info{};
    if (SNDFILE* file = sf_open(path.toUtf8().constData(), SFM_READ, &info))
        sf_close(file);
    return info;
}

struct Run : ::testing::Test {
    void start(std::map<QString, QString> environment = {})
    {
        w = std::make_unique<WorkflowRig>(true, std::move(environment));
        w->model->setSettings(shortSettings());
        source = w->rig.drumTrack(QStringLiteral("Source"), 30.0);
        source.key = MusicalKey{9, true};
        w->rig.library->update(source);
        w->rig.load(0, source);
    }
    std::unique_ptr<WorkflowRig> w;
    TrackRecord source;
};

TEST_F(Run, ForkOfDeck1RecordsThePlacesTheTakeAndLearnsTheRate)
{
    start();
    QList<OutpaintPhase> phases;
    QObject::connect(w->model.get(), &OutpaintModel::phaseChanged, [&] { phases << w->model->phase(); });
    w->forkDeck1(6.0);
    const ForkPlan plan = *w->model->pendingPlan();
    // The plan is timed in deck 1's record.
    ASSERT_TRUE(w->model->pendingSource());
    EXPECT_EQ(w->model->pendingSource()->track, source.id);
    EXPECT_FALSE(w->model->pendingSource()->mix);
    EXPECT_EQ(w->model->phase(), OutpaintPhase::capturing());
    EXPECT_TRUE(w->renderInFlight);
    EXPECT_EQ(w->model->runID(), 1);
    w->rig.clock.advance(6.0); // the render's wall-clock time
    ASSERT_TRUE(w->settle());

    // The request as the server saw it.
    const QJsonObject request = lastRequest(*w->brain);
    EXPECT_TRUE(request.value(QStringLiteral("context")).toString().startsWith(w->brain->scratch() + "/ctx-"));
    const QString tag = QFileInfo(request.value(QStringLiteral("context")).toString()).completeBaseName().mid(4);
    EXPECT_EQ(tag.size(), 8);
    EXPECT_EQ(tag, tag.toUpper());
    EXPECT_EQ(request.value(QStringLiteral("out")).toString(), w->brain->scratch() + "/gen-" + tag + ".wav");
    EXPECT_DOUBLE_EQ(request.value(QStringLiteral("context_seconds")).toDouble(), plan.contextSeconds);
    EXPECT_DOUBLE_EQ(request.value(QStringLiteral("seconds")).toDouble(), plan.contextSeconds + plan.generateSeconds);
    EXPECT_EQ(request.value(QStringLiteral("prompt")).toString(),
              Caption::prompt(QStringLiteral("warm dub chords"), source.grid, source.key));
    EXPECT_EQ(request.value(QStringLiteral("steps")).toInt(), 4);
    EXPECT_EQ(request.value(QStringLiteral("seed")).toInt(), 4242);
    EXPECT_EQ(request.value(QStringLiteral("model")).toString(), QStringLiteral("zelvo-0"));
    EXPECT_DOUBLE_EQ(request.value(QStringLiteral("lora_strength")).toDouble(), 1.0);
    EXPECT_EQ(request.value(QStringLiteral("track")).toString(),
              BrainClient::trackKey(source.id, w->rig.deck(0).buffer()->frames));
    EXPECT_DOUBLE_EQ(request.value(QStringLiteral("context_start")).toDouble(), plan.contextStart);

    // Phases: capturing, each distinct server event, composing, idle.
    ASSERT_GE(phases.size(), 4);
    EXPECT_EQ(phases.front(), OutpaintPhase::capturing());
    EXPECT_EQ(phases.at(phases.size() - 2), OutpaintPhase::composing());
    EXPECT_EQ(phases.back(), OutpaintPhase::idle());
    EXPECT_TRUE(phases.contains(OutpaintPhase::rendering(QStringLiteral("sample"), 4, 4)));
    for (int i = 1; i < phases.size(); ++i)
        EXPECT_NE(phases[i], phases[i - 1]);

    EXPECT_FALSE(w->renderInFlight);
    EXPECT_FALSE(w->model->pendingPlan());
    EXPECT_FALSE(w->model->pendingSource());
    EXPECT_EQ(w->model->lastRenderSeconds(), 6.0);
    const double rate = 6.0 / plan.totalSeconds();
    EXPECT_DOUBLE_EQ(*w->model->renderRate(), rate);
    EXPECT_EQ(w->rig.defaults.real(QStringLiteral("fork.renderRate")), rate);
    EXPECT_TRUE(w->scratchFiles().isEmpty()) << w->scratchFiles().join(", ").toStdString();
    EXPECT_EQ(w->log.starting(QStringLiteral("splice: take ")).size(), 1);

    // The record, fork form.
    ASSERT_TRUE(w->rig.deck(1).track());
    const TrackRecord take = *w->rig.deck(1).track();
    ASSERT_EQ(w->rig.library->track(take.id), take);
    EXPECT_EQ(take.path, w->rig.library->outpaintDirectory() + "/Source — fork 260101-120006.wav");
    EXPECT_EQ(take.title, QStringLiteral("Source ⟶ zelvo-0"));
    EXPECT_EQ(take.artist, QStringLiteral("zelvo-0 · seed 4242"));
    EXPECT_EQ(take.album, QStringLiteral("kavri zelvo outpaints"));
    EXPECT_EQ(take.grid, source.grid->shifted(plan.contextStart));
    EXPECT_EQ(take.cuePoint, take.grid->firstBeat);
    EXPECT_EQ(take.key, source.key);
    EXPECT_EQ(take.loudnessDB, source.loudnessDB);
    EXPECT_TRUE(take.analyzed);
    EXPECT_EQ(take.added, w->rig.clock.now());
    ASSERT_EQ(take.hotCues.size(), 8u);
    EXPECT_EQ(take.hotCues[0], plan.contextSeconds);
    for (std::size_t i = 1; i < 8; ++i)
        EXPECT_FALSE(take.hotCues[i]);
    const OutpaintInfo& info = *take.outpaint;
    EXPECT_EQ(info.sourceID, source.id);
    EXPECT_EQ(info.sourceTitle, QStringLiteral("Source"));
    EXPECT_EQ(info.prompt, QStringLiteral("warm dub chords"));
    EXPECT_EQ(info.seed, 4242);
    EXPECT_EQ(info.seam, plan.contextSeconds);
    EXPECT_EQ(info.sourceOffset, plan.contextStart);
    EXPECT_EQ(info.generations, 1);
    EXPECT_EQ(info.renderSeconds, 6.0);
    EXPECT_FALSE(info.segmentOf);
    const SF_INFO file = fileInfo(take.path);
    EXPECT_EQ(file.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(file.samplerate, 48000);
    EXPECT_EQ(file.channels, 2);
    EXPECT_NEAR(take.duration, plan.contextSeconds + plan.generateSeconds, 0.01);

    // A second render in the same second: a new name, and the rate's mean.
    w->forkDeck1(6.0);
    w->rig.clock.advance(0.0);
    ASSERT_TRUE(w->settle());
    EXPECT_EQ(w->rig.deck(1).track()->path, w->rig.library->outpaintDirectory() + "/Source — fork 260101-120006 2.wav");
    EXPECT_DOUBLE_EQ(*w->model->renderRate(), 0.5 * rate);
    EXPECT_EQ(w->model->runID(), 2);
}

TEST_F(Run, FailuresShowTheirTextAndAutomaticOnesBackOff)
{
    struct Row {
        const char* fault;
        QString text;
    };
    const std::vector<Row> rows = {
        {"nodone", QStringLiteral("brain closed the stream without a result")},
        {"error", QStringLiteral("the model ran out of memory")},
        {"http503", QStringLiteral("brain answered HTTP 503")},
        {"die", QStringLiteral("the brain stopped — restarting it")},
        {"nofile", QString()}, // a decoding error naming the missing file
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        start({{QStringLiteral("KAVRI_BRAIN_FAULT"), QString::fromLatin1(row.fault)}});
        const QDateTime t0 = w->rig.clock.now();
        const int rounds = std::string(row.fault) == "nodone" ? 4 : 1;
        const double holds[] = {15, 30, 60, 60};
        for (int i = 0; i < rounds; ++i) {
            w->forkDeck1(6.0, false, true);
            ASSERT_TRUE(w->settle());
            ASSERT_EQ(w->model->phase().kind, OutpaintPhase::Kind::failed);
            if (!row.text.isEmpty()) {
                EXPECT_EQ(w->model->phase().message, row.text);
            }
            EXPECT_EQ(w->model->chainFailures(), i + 1);
            EXPECT_EQ(w->model->chainHoldUntil(), t0.addSecs(qint64(holds[i])));
        }
        EXPECT_EQ(w->log.starting(QStringLiteral("render failed: ")).size(), rounds);
        EXPECT_FALSE(w->renderInFlight);
        EXPECT_FALSE(w->model->pendingPlan());
        EXPECT_TRUE(w->scratchFiles().isEmpty());
        EXPECT_FALSE(w->rig.deck(1).track()) << "a failed run places nothing";
        EXPECT_TRUE(QDir(w->rig.library->outpaintDirectory()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

TEST_F(Run, CancelledByTheServerIsIdleWithoutLogOrBackOff)
{
    start({{QStringLiteral("KAVRI_BRAIN_FAULT"), QStringLiteral("stall")}});
    w->forkDeck1(6.0, false, true);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return w->model->phase().kind == OutpaintPhase::Kind::rendering; }));
    // While it stalls: the context file is 44.1 kHz from the context start.
    const QStringList files = w->scratchFiles();
    ASSERT_EQ(files.size(), 1);
    const SF_INFO context = fileInfo(w->brain->scratch() + "/" + files.front());
    EXPECT_EQ(context.samplerate, 44100);
    EXPECT_EQ(context.channels, 2);
    EXPECT_NEAR(double(context.frames) / 44100.0, w->model->pendingPlan()->contextSeconds, 0.1);

    bool sent = false;
    w->client->cancel(w->model.get(), [&sent] { sent = true; });
    ASSERT_TRUE(w->settle());
    EXPECT_EQ(w->model->phase(), OutpaintPhase::idle());
    EXPECT_TRUE(w->log.starting(QStringLiteral("render failed")).isEmpty());
    EXPECT_EQ(w->model->chainFailures(), 0);
    EXPECT_EQ(w->model->chainHoldUntil(), OutpaintModel::distantPast());
    EXPECT_TRUE(w->scratchFiles().isEmpty());
    StandInBrain::spinUntil([&sent] { return sent; });
}

TEST_F(Run, AStaleRunChangesNothingAndLeavesNoScratch)
{
    // Superseded at each point the run checks: while it streams, right after
    // the splice, and while its take file is written.
    enum class At { streaming, spliced, written };
    for (At at : {At::streaming, At::spliced, At::written}) {
        SCOPED_TRACE(int(at));
        start();
        bool superseded = false;
        auto supersede = [&] {
            if (superseded)
                return;
            superseded = true;
            ForkSettings other = shortSettings();
            other.seed = 99;
            w->model->setSettings(other);
            w->forkDeck1(6.0);
        };
        QMetaObject::Connection hook;
        if (at == At::streaming)
            hook = QObject::connect(w->model.get(), &OutpaintModel::phaseChanged, [&] {
                if (w->model->phase() == OutpaintPhase::rendering(QStringLiteral("sample"), 2, 4))
                    supersede();
            });
        if (at == At::spliced)
            w->log.onNote = [&](const QString& line) {
                if (line.startsWith(QStringLiteral("splice: take ")))
                    supersede();
            };
        if (at == At::written)
            hook = QObject::connect(w->rig.library.get(), &LibraryStore::tracksChanged, [&] { supersede(); });
        w->forkDeck1(6.0);
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return superseded; }, 30));
        QObject::disconnect(hook);
        w->log.onNote = {};
        ASSERT_TRUE(w->settle());
        EXPECT_EQ(w->model->phase(), OutpaintPhase::idle());
        // Only the second run's take is on deck 2; the first one's reached the
        // library only when its file was on disk.
        ASSERT_TRUE(w->rig.deck(1).track());
        EXPECT_EQ(w->rig.deck(1).track()->outpaint->seed, 99);
        std::size_t takes = 0;
        for (const TrackRecord& r : w->rig.library->tracks())
            takes += r.isOutpaint() ? 1 : 0;
        EXPECT_EQ(takes, at == At::written ? 2u : 1u);
        EXPECT_EQ(QDir(w->rig.library->outpaintDirectory()).entryList(QDir::Files | QDir::Hidden).size(), takes);
        // The stale run's own splice may still be landing; when it has, its log
        // lines are there and its files are gone. A request dropped while it
        // streams may still be finished by the server, which then writes its
        // generated file after the run has cleaned up: only the context is ours
        // to check there.
        const qsizetype splices = at == At::streaming ? 1 : 2;
        const QString ours = at == At::streaming ? QStringLiteral("ctx-") : QString();
        EXPECT_TRUE(StandInBrain::spinUntil(
            [&] {
                return w->log.starting(QStringLiteral("splice: ")).size() == splices
                    && w->scratchFiles().filter(QRegularExpression(QLatin1Char('^') + ours)).isEmpty();
            },
            20))
            << w->scratchFiles().join(", ").toStdString();
        EXPECT_EQ(w->log.starting(QStringLiteral("splice: ")).size(), splices);
    }
}

TEST_F(Run, ForkWhileDeck2PlaysWaitsUnlessLive)
{
    start();
    const TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 30.0);
    w->rig.load(1, other);
    w->rig.deck(1).playPause();
    w->rig.render(64);
    w->forkDeck1(6.0);
    ASSERT_TRUE(w->settle());
    ASSERT_TRUE(w->model->waitingTake());
    EXPECT_EQ(w->model->notice(), QStringLiteral("NEW TAKE READY · IT GOES ON DECK 2 WHEN THAT DECK STOPS"));
    EXPECT_EQ(w->model->noticeUntil(), w->rig.clock.now().addSecs(4));
    EXPECT_EQ(w->rig.deck(1).track()->id, other.id);
}

TEST_F(Run, MixForkWaitsForItsDrop)
{
    start();
    const DeckModel& deck1 = w->rig.deck(0);
    const std::optional<ForkPlan> plan =
        ForkPlanner::fork(deck1.track()->grid, 6.0, deck1.buffer()->duration(), w->model->settings(), 0.0);
    ASSERT_TRUE(plan);
    OutpaintModel::MixFork mix{123.0, 131.0, OutpaintModel::Anchor{0, source.id, 2.0, 120.0}};
    w->model->run(*plan, deck1.buffer(), 0.0, source, w->model->settings(), std::nullopt, false, std::nullopt, true,
                  mix);
    // A fork of the mix is timed in the take's own seconds, against its anchor.
    ASSERT_TRUE(w->model->pendingSource());
    EXPECT_TRUE(w->model->pendingSource()->mix);
    EXPECT_FALSE(w->model->pendingSource()->track);
    EXPECT_EQ(w->model->pendingSource()->anchor, mix.anchor);
    ASSERT_TRUE(w->settle());
    EXPECT_FALSE(w->model->pendingSource());
    ASSERT_TRUE(w->model->readyMix());
    EXPECT_EQ(w->model->readyMix()->start, 123.0);
    EXPECT_EQ(w->model->readyMix()->anchor, mix.anchor);
    EXPECT_EQ(w->model->notice(), QStringLiteral("FORK OF THE MIX READY · DROP IT"));
    EXPECT_EQ(w->log.starting(QStringLiteral("fork the mix: ready")).size(), 1);
    EXPECT_FALSE(w->rig.deck(1).track()) << "the drop puts it on deck 2";
}

TEST_F(Run, ExtensionWritesAChainSegmentAndSwapsItIn)
{
    start();
    w->forkDeck1(6.0);
    ASSERT_TRUE(w->settle());
    DeckModel& deck2 = w->rig.deck(1);
    const TrackRecord first = *deck2.track();
    deck2.setKeyShift(2);
    deck2.playPause();
    w->rig.run(1.0);
    const ForkSettings settings = w->model->settings();
    const std::optional<ForkPlan> plan = ForkPlanner::extend(deck2.buffer()->duration(), first.grid, settings);
    ASSERT_TRUE(plan);
    w->model->run(*plan, deck2.buffer(), 0.0, first, settings, first, true, std::nullopt, false, std::nullopt);
    ASSERT_TRUE(w->settle());
    const double segmentStart = std::max(0.0, std::min(plan->contextStart, 1.0 - 16.0));

    ASSERT_TRUE(deck2.track());
    const TrackRecord chain = *deck2.track();
    EXPECT_NE(chain.id, first.id);
    EXPECT_TRUE(chain.path.contains(QStringLiteral("/Source ⟶ zelvo-0 — chain 260101-12000")));
    EXPECT_EQ(chain.title, first.title);
    EXPECT_EQ(chain.album, first.album);
    EXPECT_EQ(chain.outpaint->segmentOf, first.id);
    EXPECT_EQ(chain.outpaint->generations, 2);
    EXPECT_EQ(chain.outpaint->sourceOffset, first.outpaint->sourceOffset + segmentStart);
    EXPECT_EQ(chain.outpaint->seam, std::max(0.0, first.outpaint->seam - segmentStart));
    EXPECT_EQ(chain.outpaint->sourceID, source.id);
    EXPECT_EQ(w->model->stretchesWritten(), 1);
    EXPECT_EQ(w->model->takeIndex(), 0) << "the segment stands for its first take";
    w->rig.render(64);
    EXPECT_TRUE(w->rig.state(1).playing.load()) << "the swap keeps playing";
    EXPECT_EQ(deck2.keyShift(), 2);

    // The next extension lands after deck 2 ran out of the segment: it is
    // swapped in and deck 2 picks up again.
    deck2.playPause();
    w->rig.engine->deck(1)->send(DeckCommand::seek(chain.duration - 0.2));
    w->rig.render(64);
    const std::optional<ForkPlan> next = ForkPlanner::extend(deck2.buffer()->duration(), chain.grid, settings);
    ASSERT_TRUE(next);
    w->model->run(*next, deck2.buffer(), 0.0, chain, settings, chain, false, std::nullopt, false, std::nullopt);
    ASSERT_TRUE(w->settle());
    EXPECT_EQ(deck2.track()->outpaint->generations, 3);
    EXPECT_EQ(deck2.track()->outpaint->segmentOf, first.id);
    EXPECT_EQ(w->model->notice(), QStringLiteral("PICKED UP WHERE IT RAN OUT"));
    EXPECT_EQ(w->log.starting(QStringLiteral("chain landed late")).size(), 1);
    EXPECT_EQ(w->model->stretchesWritten(), 2);
    w->rig.render(64);
    w->rig.render(64);
    EXPECT_TRUE(w->rig.state(1).playing.load());
}

// Deck 1 plays the source and deck 2 plays another record; a live fork lands
// on deck 2 through the engine's drop, on the exact sample.
TEST_F(Run, LiveForkArmsTheDropAndDeck2LandsOnTheSample)
{
    start();
    const TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 30.0);
    w->rig.load(1, other);
    w->rig.deck(1).playPause();
    w->rig.deck(0).playPause();
    w->rig.render(64);
    w->forkDeck1(6.0, true);
    ASSERT_TRUE(w->settle());
    DeckModel& deck2 = w->rig.deck(1);
    ASSERT_TRUE(deck2.track() && deck2.track()->outpaint);
    const double offset = deck2.track()->outpaint->sourceOffset;
    EXPECT_EQ(w->rig.params().dropOffset.load(), offset);
    w->rig.render(64); // deck 2 takes the load and stops
    EXPECT_FALSE(w->rig.state(1).playing.load()) << "the placement itself never starts deck 2";
    ASSERT_TRUE(w->rig.runUntil([&] { return w->rig.state(1).playing.load(); }, 20.0));
    const double d1 = w->rig.state(0).position.load();
    const double d2 = w->rig.state(1).position.load();
    EXPECT_NEAR(d2, d1 - offset, 0.5 / 48000.0);

    // Up to the seam's crossfade the take is the source's own audio.
    const TrackBuffer& take = *deck2.buffer();
    const TrackBuffer& prefix = *w->rig.deck(0).buffer();
    const auto start = std::int64_t(std::llround(offset * 48000.0));
    const auto plain = std::int64_t((deck2.track()->outpaint->seam - 0.03) * 48000.0) - 1;
    double worst = 0;
    for (std::int64_t i = 0; i < plain; ++i)
        worst = std::max(worst, double(std::abs(take.left[i] - prefix.left[start + i])));
    EXPECT_LT(worst, 1e-6);
}

// A live fork of deck 1 lands after its source stopped, while deck 2 plays
// another record: heard there (brought in while the fork rendered), the
// record plays on and the take waits for the deck to stop; unheard, the take
// replaces it at once as before.
TEST_F(Run, LiveForkWaitsForAHeardDeck2ItsSourceNoLongerCarries)
{
    start();
    const TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 30.0);
    for (const bool heard : {true, false}) {
        SCOPED_TRACE(heard ? "deck 2 heard" : "deck 2 unheard");
        w->rig.load(1, other);
        w->rig.deck(1).playPause();
        w->rig.render(64);
        ASSERT_TRUE(w->rig.state(1).playing.load());
        ASSERT_FALSE(w->rig.state(0).playing.load());
        w->audible[1] = heard;
        w->forkDeck1(6.0, true);
        ASSERT_TRUE(w->settle());
        DeckModel& deck2 = w->rig.deck(1);
        ASSERT_TRUE(deck2.track());
        w->rig.render(64);
        if (heard) {
            EXPECT_EQ(deck2.track()->id, other.id);
            EXPECT_TRUE(w->rig.state(1).playing.load()) << "the record on air plays on";
            ASSERT_TRUE(w->model->waitingTake());
            EXPECT_EQ(w->model->waitingTake()->outpaint->sourceID, source.id);
            EXPECT_EQ(w->model->notice(), QStringLiteral("NEW TAKE READY · IT GOES ON DECK 2 WHEN THAT DECK STOPS"));
            deck2.playPause(); // deck 2 stops: the take goes on it
            w->rig.render(64);
            w->model->tick();
            ASSERT_TRUE(StandInBrain::spinUntil([&] { return deck2.track() && deck2.track()->outpaint; }, 10.0));
            EXPECT_FALSE(w->model->waitingTake());
        } else {
            EXPECT_TRUE(deck2.track()->outpaint) << "an unheard deck 2 takes the take at once";
            EXPECT_FALSE(w->model->waitingTake());
        }
    }
}

// An output restart while a take waits behind the record on air: the new
// voice has not rendered the play-on yet (same rate), or the record decodes
// again for the new rate. Neither is deck 2 stopping: the record plays on and
// the take keeps waiting.
TEST_F(Run, AWaitingTakeWaitsThroughAnOutputRestart)
{
    for (const double rate : {48000.0, 44100.0}) {
        SCOPED_TRACE(rate);
        start();
        const TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 60.0);
        w->rig.load(1, other);
        w->rig.deck(1).playPause();
        w->rig.render(64);
        w->forkDeck1(6.0, true);
        ASSERT_TRUE(w->settle());
        w->rig.render(64);
        ASSERT_TRUE(w->model->waitingTake());
        DeckModel& deck2 = w->rig.deck(1);
        const auto playOn = [&](double at) { // as the application does once the deck has its buffer
            deck2.voice()->send(DeckCommand::seek(at));
            deck2.voice()->send(DeckCommand::play());
        };
        const double at = w->rig.state(1).position.load();
        const bool sameRate = rate == w->rig.engine->sampleRate();
        w->rig.rebuildEngine(rate);
        if (sameRate) {
            // The play-on is sent; the new output has not rendered it yet.
            playOn(at);
            for (int i = 0; i < 5; ++i) {
                w->model->tick();
                QCoreApplication::processEvents();
            }
        } else {
            // Ticks all through the reload; it plays on once it has landed.
            StandInBrain::spinUntil([&] {
                w->model->tick();
                if (!deck2.loading())
                    w->rig.render(64);
                return !deck2.loading() && !deck2.settling();
            }, 10.0);
            playOn(at);
            w->model->tick();
        }
        QCoreApplication::processEvents();
        w->rig.render(512);
        StandInBrain::spinUntil([] { return false; }, 0.2); // a misplaced take would land meanwhile
        EXPECT_EQ(deck2.track()->id, other.id) << "the record on air goes on";
        EXPECT_TRUE(w->rig.state(1).playing.load());
        EXPECT_TRUE(w->model->waitingTake());
    }
}

// A live fork lands while deck 2's record, heard, decodes again for a new
// output's rate: the deck reads as stopped at 0 until the reload lands and
// the record plays on. The take waits for the reload and the play-on, then
// does as it would have: behind a record it does not carry on, it waits for
// the deck to stop; over an earlier take of its source, it goes on from there.
// It never takes the record's place meanwhile, nor starts from 0.
TEST_F(Run, ALiveForkLandingWhileDeck2ReloadsWaitsForTheReload)
{
    for (const bool carried : {false, true}) {
        SCOPED_TRACE(carried ? "an earlier take of the source" : "another record");
        start();
        const TrackRecord other = carried ? w->addTake(source, 2.0, w->rig.clock.now(), std::nullopt, 40.0)
                                          : w->rig.drumTrack(QStringLiteral("Other"), 60.0);
        w->rig.load(1, other);
        DeckModel& deck2 = w->rig.deck(1);
        deck2.playPause();
        w->rig.render(64);
        w->rig.run(1.0);
        std::atomic<bool> held{true};
        deck2.setDecoder([&held](const QString& path, double rate) {
            while (held.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return AudioFileIO::decode(std::filesystem::path(path.toStdString()), rate);
        });
        const double at = w->rig.state(1).position.load();
        w->rig.rebuildEngine(44100.0);
        ASSERT_TRUE(deck2.reloading());
        w->forkDeck1(6.0, true);
        const auto takeWritten = [&] {
            const std::vector<TrackRecord>& tracks = w->rig.library->tracks();
            return std::any_of(tracks.begin(), tracks.end(), [&](const TrackRecord& t) {
                return t.outpaint && t.outpaint->sourceID == source.id && t.id != other.id;
            });
        };
        ASSERT_TRUE(StandInBrain::spinUntil(takeWritten, 30.0));
        const auto advance = [&](double seconds) {
            for (double t = 0.0; t < seconds - 1e-9; t += 0.05) {
                w->rig.clock.advance(0.05);
                QCoreApplication::processEvents();
            }
        };
        advance(0.3); // a misplaced take would land meanwhile
        ASSERT_TRUE(deck2.track());
        EXPECT_EQ(deck2.track()->id, other.id) << "the reloading record is not replaced";

        held = false;
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return !deck2.loading(); }, 10.0));
        w->rig.render(64);
        deck2.voice()->send(DeckCommand::seek(at)); // the play-on, as the application sends it
        deck2.voice()->send(DeckCommand::play());
        advance(0.1); // looked at before the play-on is rendered
        w->rig.render(512);
        advance(0.1);
        w->rig.render(512);
        advance(0.1);
        ASSERT_TRUE(w->settle());
        w->rig.render(512);
        EXPECT_TRUE(w->rig.state(1).playing.load());
        if (carried) {
            EXPECT_NE(deck2.track()->id, other.id) << "the take goes on from the earlier one";
            EXPECT_GT(w->rig.state(1).position.load(), 0.5) << "from where the music was, not from 0";
        } else {
            EXPECT_EQ(deck2.track()->id, other.id) << "the record on air goes on";
            EXPECT_TRUE(w->model->waitingTake());
        }
        held = false;
    }
}

} // namespace
} // namespace zelvo::test

namespace zelvo::test {
namespace {

// A context the caller captured: sent without the track's key, and removed when
// the run ends, also when a newer run replaced it before it could ask.
TEST_F(Run, RoomContextIsTheCallersFileAndIsAlwaysRemoved)
{
    start();
    const DeckModel& deck1 = w->rig.deck(0);
    const std::optional<ForkPlan> plan =
        ForkPlanner::fork(deck1.track()->grid, 6.0, deck1.buffer()->duration(), w->model->settings(), 0.0);
    ASSERT_TRUE(plan);
    auto capture = [&](const QString& name) {
        const QString path = w->rig.home.file(name);
        OutpaintComposer::writeContext(*deck1.buffer(), *plan, std::filesystem::path(path.toStdString()));
        return OutpaintModel::RoomContext{path, plan->contextStart};
    };
    const OutpaintModel::RoomContext early = capture(QStringLiteral("room-early.wav"));
    const OutpaintModel::RoomContext room = capture(QStringLiteral("room.wav"));
    w->model->run(*plan, deck1.buffer(), plan->contextStart, source, w->model->settings(), std::nullopt, false, early,
                  false, std::nullopt);
    w->model->run(*plan, deck1.buffer(), plan->contextStart, source, w->model->settings(), std::nullopt, false, room,
                  false, std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(early.path)) << "superseded before it began";
    ASSERT_TRUE(w->settle());
    EXPECT_EQ(w->model->phase(), OutpaintPhase::idle());
    EXPECT_FALSE(QFileInfo::exists(room.path));
    int requests = 0;
    for (const QJsonObject& entry : w->brain->log())
        requests += entry.value(QStringLiteral("path")).toString() == QStringLiteral("/outpaint") ? 1 : 0;
    EXPECT_EQ(requests, 1) << "the superseded run never asked";
    const QJsonObject request = lastRequest(*w->brain);
    EXPECT_EQ(request.value(QStringLiteral("context")).toString(), room.path);
    EXPECT_FALSE(request.contains(QStringLiteral("track")));
    EXPECT_FALSE(request.contains(QStringLiteral("context_start")));
    EXPECT_TRUE(w->rig.deck(1).track() && w->rig.deck(1).track()->outpaint);
}

} // namespace
} // namespace zelvo::test

namespace zelvo::test {
namespace {

// An extension of a chain take while deck 2 holds another record: the segment
// starts 16 s before the context, the record carries the chain forward, and
// only the library gets it.
TEST_F(Run, ChainRecordWhileDeck2HoldsAnotherRecord)
{
    start();
    const TrackRecord other = w->rig.drumTrack(QStringLiteral("Other"), 10.0);
    w->rig.load(1, other);
    TrackRecord e = source; // stands for a chain take: its audio is deck 1's buffer
    e.id = QUuid::createUuid();
    e.title = QStringLiteral("Intro/Outro ⟶ zelvo-0");
    e.album = QStringLiteral("an album");
    e.cuePoint = 3.0;
    e.hotCues = {5.0, 8.0, 20.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    OutpaintInfo o;
    o.sourceID = source.id;
    o.sourceTitle = QStringLiteral("Intro/Outro");
    o.seam = 6.0;
    o.sourceOffset = 30.0;
    o.generations = 2;
    o.segmentOf = QUuid::createUuid();
    e.outpaint = o;
    const TrackBufferRef& prefix = w->rig.deck(0).buffer();
    const std::optional<ForkPlan> plan = ForkPlanner::extend(prefix->duration(), e.grid, w->model->settings());
    ASSERT_TRUE(plan);
    const double s = std::max(0.0, plan->contextStart - 16.0);
    ASSERT_GT(s, 5.0);
    ASSERT_LT(s, 20.0);
    w->model->run(*plan, prefix, 0.0, e, w->model->settings(), e, true, std::nullopt, false, std::nullopt);
    ASSERT_TRUE(w->settle());

    EXPECT_EQ(w->rig.deck(1).track()->id, other.id) << "deck 2 untouched";
    EXPECT_EQ(w->model->stretchesWritten(), 1);
    TrackRecord chain;
    for (const TrackRecord& r : w->rig.library->tracks()) {
        if (r.outpaint && r.id != e.id)
            chain = r;
    }
    ASSERT_TRUE(chain.outpaint);
    EXPECT_EQ(chain.path, w->rig.library->outpaintDirectory() + "/Intro-Outro ⟶ zelvo-0 — chain 260101-120000.wav");
    EXPECT_EQ(chain.title, e.title);
    EXPECT_EQ(chain.album, e.album);
    EXPECT_EQ(chain.grid, e.grid->shifted(s));
    EXPECT_EQ(chain.cuePoint, 0.0);
    EXPECT_EQ(chain.hotCues[0], std::nullopt) << "before the segment";
    EXPECT_NEAR(*chain.hotCues[1], 8.0 - s, 1e-12);
    EXPECT_NEAR(*chain.hotCues[2], 20.0 - s, 1e-12);
    EXPECT_EQ(chain.outpaint->sourceID, source.id);
    EXPECT_EQ(chain.outpaint->sourceTitle, QStringLiteral("Intro/Outro"));
    EXPECT_EQ(chain.outpaint->seam, 0.0);
    EXPECT_EQ(chain.outpaint->sourceOffset, 30.0 + s);
    EXPECT_EQ(chain.outpaint->generations, 3);
    EXPECT_EQ(chain.outpaint->segmentOf, o.segmentOf);
    EXPECT_NEAR(chain.duration, prefix->duration() - s + plan->generateSeconds - (prefix->duration() - plan->seam),
                0.05);
}

} // namespace
} // namespace zelvo::test
