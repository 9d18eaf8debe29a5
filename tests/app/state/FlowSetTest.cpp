// Flow mode left alone on a real engine played through the fake device on a
// manual clock, each render and each deck load waited for with the clock held:
// a whole set on the real generation workflow and the stand-in model server
// (the chain extends every take while it plays, so each timed mix runs while
// the take under it is swapped), the end of a record that plays fast, and a
// load slower than flow waits for.
#include "AppTestSupport.h"
#include "FlowSupport.h"

#include "shell/StandardNeighbours.h"
#include "audio/AudioIO.h"
#include "audio/DeckVoice.h"
#include "audio/MixerParams.h"
#include "audio/MixerState.h"
#include "audio/MixEngine.h"
#include "generation/OutpaintModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"
#include "support/StandInBrain.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using Kind = TransitionModel::Phase::Kind;

// A file named "<title>@<bpm>.wav" has a grid at that tempo, else 120 bpm.
LibraryStore::AnalysisOutcome fixedGrid(const QString& path)
{
    const QString name = QFileInfo(path).completeBaseName();
    const qsizetype at = name.indexOf(QLatin1Char('@'));
    TrackAnalysis analysis;
    analysis.duration = 100.0;
    analysis.grid = BeatGrid(at < 0 ? 120.0 : name.mid(at + 1).toDouble(), 0.0, 4);
    analysis.loudnessDB = -10.0;
    return LibraryStore::AnalysisOutcome{analysis, {}, {}};
}

void writeRecord(const QString& path, double seconds, double rate, double bpm = 120.0)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::vector<float> drums = test::drumLoop(bpm, 0.0, seconds, rate);
    const test::Audio audio = test::generate(2, std::int64_t(drums.size()), rate, [&drums](int, std::int64_t frame) {
        return 0.5f * drums[std::size_t(frame)];
    });
    test::writeAudioFile(path.toStdString(), test::AudioFormat::wav16, audio);
}

bool playing(AppModel& app, int deck)
{
    const std::shared_ptr<DeckVoice> voice = app.deck(deck).voice();
    return voice && voice->state().playing.load();
}

// Plays one frame of 1/60 s. A render in flight or a deck decoding (but for a
// decode `held` holds) is waited for with the clock held: the program plays on
// meanwhile, so a loaded machine must not make either look slow.
void playFrame(test::AppRig& rig, AppModel& app, OutpaintModel* outpaint = nullptr,
               const test::HeldDecode* held = nullptr)
{
    const double frame = TransitionModel::kFrameInterval;
    rig.backend->pump(frame);
    rig.scheduler.advance(frame);
    QCoreApplication::processEvents();
    if (outpaint && (outpaint->busy() || outpaint->hasTask())) {
        ASSERT_TRUE(test::StandInBrain::spinUntil([&] { return !outpaint->busy() && !outpaint->hasTask(); }, 30))
            << "a render never ended";
    }
    const auto loading = [&] {
        if (held && held->holding())
            return false;
        for (int i = 0; i < AppModel::kDecks; ++i)
            if (app.deck(i).loading())
                return true;
        return false;
    };
    if (loading()) {
        ASSERT_TRUE(test::StandInBrain::spinUntil([&] { return !loading(); }, 30)) << "a load never landed";
    }
}

QStringList notesOf(const test::AppRig& rig)
{
    QStringList notes;
    for (const QString& line : rig.world.journal)
        if (line.startsWith(QStringLiteral("brain.note ")))
            notes << line.mid(11);
    return notes;
}

// One completed or abandoned timed mix.
struct Mix {
    int to = 0;
    bool ended = false;
    bool completed = false; // ended at the incoming deck's side, without a note
    double last = 0.0;
    bool monotonic = true;
    std::optional<TrackRecord> incoming; // what the incoming deck held at the end
};

// Follows every timed mix: where it was going, its progress, how it ended.
void watchMixes(AppModel& app, std::vector<Mix>& mixes)
{
    QObject::connect(&app.transition(), &TransitionModel::phaseChanged, [&app, &mixes] {
        const TransitionModel::Phase& phase = app.transition().phase();
        if (phase.kind == Kind::starting) {
            Mix started;
            started.to = phase.to;
            mixes.push_back(started);
            return;
        }
        if (mixes.empty() || mixes.back().ended)
            return;
        Mix& mix = mixes.back();
        if (phase.kind == Kind::mixing) {
            mix.monotonic = mix.monotonic && phase.value >= mix.last;
            mix.last = phase.value;
        } else if (phase.kind == Kind::idle) {
            mix.ended = true;
            mix.completed = mix.last == 1.0 && app.transition().liveDeck() == mix.to && !app.transition().note();
            mix.incoming = app.deck(mix.to).track();
        }
    });
}

// Imports records written into the music folder and waits for their grids.
std::vector<TrackRecord> importRecords(test::AppRig& rig, AppModel& app, const std::vector<QString>& names,
                                       const std::vector<double>& seconds)
{
    QStringList paths;
    for (std::size_t i = 0; i < names.size(); ++i) {
        paths << rig.home.file(QStringLiteral("Music/%1.wav").arg(names[i]));
        const qsizetype at = names[i].indexOf(QLatin1Char('@'));
        writeRecord(paths.back(), seconds[i], 48000.0, at < 0 ? 120.0 : names[i].mid(at + 1).toDouble());
    }
    const std::vector<TrackRecord> imported = app.library().importItems(paths);
    EXPECT_EQ(imported.size(), names.size());
    EXPECT_TRUE(test::spinUntil([&] {
        for (const TrackRecord& r : imported)
            if (!app.library().track(r.id) || !app.library().track(r.id)->grid)
                return false;
        return true;
    }));
    std::vector<TrackRecord> records;
    for (const QString& path : paths)
        for (const TrackRecord& r : imported)
            if (QFileInfo(r.path) == QFileInfo(path))
                records.push_back(*app.library().track(r.id));
    return records;
}

AppModel& bootOnTheFakeDevice(test::AppRig& rig)
{
    rig.addOutput();
    AppModel& app = rig.make();
    rig.bootWithOutput();
    return app;
}

void loadAndWait(AppModel& app, int deck, const TrackRecord& record)
{
    bool loaded = false;
    app.deck(deck).load(record, [&loaded] { loaded = true; });
    ASSERT_TRUE(test::spinUntil([&loaded] { return loaded; }));
}

TEST(FlowSet, PlaysThroughTheQueueWhileTheChainExtendsEachTake)
{
    test::StandInBrain brain(std::map<QString, QString>{{QStringLiteral("KAVRI_BRAIN_STEP_DELAY"), QStringLiteral("0.01")}});
    ASSERT_TRUE(brain.start());
    // The workflow writes its context files where the server reads them.
    qputenv("KAVRI_BRAIN_HOME", brain.home().toUtf8());
    const std::shared_ptr<void> unset(nullptr, [](void*) { qunsetenv("KAVRI_BRAIN_HOME"); });

    test::AppRig rig;
    rig.world.brainBase = brain.base();
    StandardNeighbours standard;
    rig.world.makeWorkflow = [&standard](UserDefaults& defaults, Scheduler& scheduler) {
        return standard.makeWorkflow(defaults, scheduler);
    };
    rig.analyzer = fixedGrid;
    rig.addOutput();
    AppModel& app = rig.make();
    ASSERT_TRUE(rig.bootWithOutput());
    ASSERT_NE(standard.outpaint, nullptr);
    OutpaintModel& outpaint = *standard.outpaint;

    QStringList paths;
    for (const char* name : {"Alpha", "Bravo", "Charlie"}) {
        paths << rig.home.file(QStringLiteral("Music/%1.wav").arg(QLatin1String(name)));
        writeRecord(paths.back(), 100.0, 48000.0);
    }
    const std::vector<TrackRecord> imported = app.library().importItems(paths);
    ASSERT_EQ(imported.size(), 3u);
    ASSERT_TRUE(test::spinUntil([&] {
        for (const TrackRecord& r : imported)
            if (!app.library().track(r.id) || !app.library().track(r.id)->grid)
                return false;
        return true;
    }));
    const TrackRecord a = *app.library().track(imported[0].id);
    const TrackRecord b = *app.library().track(imported[1].id);
    const TrackRecord c = *app.library().track(imported[2].id);

    // Short stretches: bars of 2 s, 3 heard, 8 written.
    ForkSettings settings = outpaint.settings();
    settings.aheadBars = 1;
    settings.contextBars = 3;
    settings.lengthBars = 8;
    settings.steps = 4;
    settings.seed = 4242;
    settings.lockSeed = true;
    outpaint.setSettings(settings);
    app.transition().setBars(16); // 32 s mixes: several stretches land in each

    std::vector<Mix> mixes;
    watchMixes(app, mixes);

    bool loaded = false;
    app.deck(0).load(a, [&loaded] { loaded = true; });
    ASSERT_TRUE(test::spinUntil([&loaded] { return loaded; }));
    app.mixer().setCrossfader(-1.0);
    app.setQueue({b.id, c.id});
    app.deck(0).playPause();
    app.setAutoQueue(true);

    // The set ends once Charlie has been mixed in and has played out.
    const double frame = TransitionModel::kFrameInterval;
    const std::int64_t stretchesAtStart = outpaint.stretchesWritten();
    const auto charlieIn = [&] {
        return std::any_of(mixes.begin(), mixes.end(),
                           [&](const Mix& m) { return m.completed && m.incoming && m.incoming->id == c.id; });
    };
    double played = 0.0, quietFor = 0.0;
    for (; played < 900.0 && quietFor < 20.0; played += frame) {
        ASSERT_NO_FATAL_FAILURE(playFrame(rig, app, &outpaint));
        quietFor = charlieIn() && !playing(app, 0) && !playing(app, 1) ? quietFor + frame : 0.0;
    }

    const QStringList notes = notesOf(rig);
    const std::string log = notes.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(charlieIn()) << "after " << played << " s the set stands still; phase "
                             << int(app.transition().phase().kind) << " at " << app.transition().phase().value
                             << "\n" << log;
    // Nothing is left to mix in once Charlie played out: no mix waits on a
    // record that has ended.
    EXPECT_EQ(app.transition().phase().kind, Kind::idle) << log;

    // Alpha → its take → Bravo → … → Charlie, every mix to its end.
    std::vector<QUuid> records;
    for (std::size_t i = 0; i < mixes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(mixes[i].ended);
        EXPECT_TRUE(mixes[i].completed);
        EXPECT_TRUE(mixes[i].monotonic);
        if (mixes[i].incoming && !mixes[i].incoming->outpaint)
            records.push_back(mixes[i].incoming->id);
    }
    ASSERT_GE(mixes.size(), 3u) << log;
    ASSERT_TRUE(mixes[0].incoming && mixes[0].incoming->outpaint) << "Alpha's take comes in first";
    EXPECT_EQ(mixes[0].incoming->outpaint->sourceID, a.id);
    EXPECT_EQ(records, (std::vector<QUuid>{b.id, c.id})) << log;
    const auto at = [&](const QString& prefix) {
        for (int i = 0; i < notes.size(); ++i)
            if (notes[i].startsWith(prefix))
                return i;
        return -1;
    };
    const int cueB = at(QStringLiteral("auto: cued Bravo on deck "));
    const int cueC = at(QStringLiteral("auto: cued Charlie on deck "));
    EXPECT_GE(cueB, 0) << log;
    EXPECT_GT(cueC, cueB) << log;
    // Each record left the queue once, when it was cued; none came back.
    EXPECT_TRUE(app.queue().empty()) << app.queue().size();
    for (const TrackRecord& r : {a, b, c})
        EXPECT_TRUE(app.heard().contains(r.id)) << r.title.toStdString();
    // The chain wrote on throughout: stretches landed while each take was on air.
    EXPECT_GE(outpaint.stretchesWritten() - stretchesAtStart, 4) << log;
}

// A record at 85 bpm synced to a 125.5 bpm deck plays half again as fast; deck
// 2 stays busy until it has 10 s left, so the next record's phrase downbeat
// lies beyond its end. The mix comes in anyway and nothing goes quiet.
TEST(FlowSet, TheNextRecordComesInBeforeAFastRecordEnds)
{
    test::AppRig rig;
    rig.analyzer = fixedGrid;
    AppModel& app = bootOnTheFakeDevice(rig);
    ASSERT_TRUE(app.audio().io());
    const std::vector<TrackRecord> r =
        importRecords(rig, app, {QStringLiteral("Garden@85"), QStringLiteral("Take@125.5"), QStringLiteral("Bravo"),
                                 QStringLiteral("Charlie")},
                      {100.0, 120.0, 60.0, 60.0});
    ASSERT_EQ(r.size(), 4u);
    const TrackRecord &garden = r[0], &take = r[1], &bravo = r[2], &charlie = r[3];
    std::vector<Mix> mixes;
    watchMixes(app, mixes);

    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, garden));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, take));
    app.mixer().setCrossfader(-1.0);
    app.mixer().channel(0).setSync(true);
    for (int deck : {0, 1})
        app.deck(deck).setKeyLock(false); // the tempo moves the pitch: no time-pitch work
    app.deck(1).playPause();
    const std::shared_ptr<MixerParams> params = app.mixer().params();
    ASSERT_TRUE(params);
    params->masterRequest.store(1); // deck 2 leads the tempo
    playFrame(rig, app);
    app.deck(0).playPause();
    app.setQueue({bravo.id, charlie.id});
    app.setAutoQueue(true);

    const double bar = 60.0 / 125.5 * 4.0; // as heard
    double silentFor = 0.0, longestSilence = 0.0, played = 0.0;
    bool deck2Busy = true;
    const auto bravoIn = [&] {
        return std::any_of(mixes.begin(), mixes.end(),
                           [&](const Mix& m) { return m.completed && m.incoming && m.incoming->id == bravo.id; });
    };
    std::optional<std::vector<QUuid>> queueOnceIn;
    std::size_t mixesOnceIn = 0;
    for (double after = 0.0; played < 200.0 && after < 15.0; played += TransitionModel::kFrameInterval) {
        ASSERT_NO_FATAL_FAILURE(playFrame(rig, app));
        const DeckState& g = app.deck(0).voice()->state();
        if (deck2Busy && g.position.load() >= 90.0) {
            // The take mixed out: flow's own pause, no hand on a control.
            app.deck(1).voice()->send(DeckCommand::pause());
            deck2Busy = false;
            EXPECT_NEAR(g.speed.load(), 125.5 / 85.0, 0.01) << "synced to the take";
        }
        const MixerState& meters = *app.audio().io()->engine().state();
        const bool silent = std::max(meters.masterPeakL.load(), meters.masterPeakR.load()) < 1e-3;
        silentFor = silent && (playing(app, 0) || playing(app, 1)) ? silentFor + TransitionModel::kFrameInterval : 0.0;
        longestSilence = std::max(longestSilence, silentFor);
        if (bravoIn() && !queueOnceIn) {
            queueOnceIn = app.queue();
            mixesOnceIn = mixes.size();
        }
        if (bravoIn())
            after += TransitionModel::kFrameInterval;
    }
    const std::string log = notesOf(rig).join(QLatin1Char('\n')).toStdString();
    ASSERT_FALSE(deck2Busy);
    ASSERT_TRUE(bravoIn()) << log;
    EXPECT_EQ(mixesOnceIn, 1u) << log;
    EXPECT_EQ(*queueOnceIn, std::vector<QUuid>{charlie.id}) << "the queue moved on";
    EXPECT_LT(longestSilence, bar) << log;
}

// A cue whose decode takes longer than flow waits: flow gives up on it, says
// so, does not take what the idle deck held before for it, never queues it
// again, and mixes it in once when it lands after all.
TEST(FlowSet, ALoadSlowerThanTheGiveUpIsMixedInOnce)
{
    test::AppRig rig;
    rig.analyzer = fixedGrid;
    AppModel& app = bootOnTheFakeDevice(rig);
    ASSERT_TRUE(app.audio().io());
    app.transition().setBars(4); // 8 s mixes
    const std::vector<TrackRecord> r = importRecords(
        rig, app, {QStringLiteral("Alpha"), QStringLiteral("Zulu"), QStringLiteral("Bravo")}, {100.0, 60.0, 60.0});
    ASSERT_EQ(r.size(), 3u);
    const TrackRecord &alpha = r[0], &zulu = r[1], &bravo = r[2];
    std::vector<Mix> mixes;
    watchMixes(app, mixes);
    int bravoQueued = 0;
    bool bravoInQueue = false;
    QObject::connect(&app, &AppModel::queueChanged, [&] {
        const bool now = std::find(app.queue().begin(), app.queue().end(), bravo.id) != app.queue().end();
        bravoQueued += now && !bravoInQueue ? 1 : 0;
        bravoInQueue = now;
    });

    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, alpha));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, zulu)); // what deck 2 holds before the cue
    test::HeldDecode slow(bravo.path);
    app.deck(1).setDecoder(slow.decoder());
    app.mixer().setCrossfader(-1.0);
    app.setQueue({bravo.id});
    app.deck(0).playPause();
    app.setAutoQueue(true);

    double heldSince = -1.0;
    // Alpha is cued out at 62 s and mixed out by about 104 s.
    for (double played = 0.0; played < 115.0; played += TransitionModel::kFrameInterval) {
        ASSERT_NO_FATAL_FAILURE(playFrame(rig, app, nullptr, &slow));
        if (slow.holding() && heldSince < 0.0)
            heldSince = played;
        if (heldSince >= 0.0 && played - heldSince > 25.0)
            slow.release(); // lands 5 s after flow gave up
    }
    const QStringList notes = notesOf(rig);
    const std::string log = notes.join(QLatin1Char('\n')).toStdString();
    ASSERT_GE(heldSince, 0.0) << log;
    EXPECT_TRUE(notes.contains(QStringLiteral("flow: gave up loading Bravo on deck 2 after 20s; going on without it")))
        << log;
    EXPECT_EQ(bravoQueued, 1) << "queued once, by the test";
    ASSERT_EQ(mixes.size(), 1u) << log;
    EXPECT_TRUE(mixes[0].completed) << log;
    ASSERT_TRUE(mixes[0].incoming);
    EXPECT_EQ(mixes[0].incoming->id, bravo.id) << "Zulu, there before the cue, is not mixed in for it";
    EXPECT_FALSE(app.heard().contains(zulu.id));

    // The give-up lasts for the run only: flow switched off and on again may
    // queue the record again.
    EXPECT_TRUE(app.givenUp().contains(bravo.id));
    app.setAutoQueue(false);
    app.setAutoQueue(true);
    EXPECT_TRUE(app.givenUp().isEmpty());
}

} // namespace
} // namespace zelvo
