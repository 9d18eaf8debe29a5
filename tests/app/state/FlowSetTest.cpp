// Flow mode left alone through a whole set, on the real generation workflow and
// the stand-in model server: one short record playing and two queued, the engine
// played through the fake device on a manual clock, each render waited for with
// the clock held. The chain extends every take while it plays, so each timed mix
// runs while the take under it is swapped.
#include "AppTestSupport.h"

#include "shell/StandardNeighbours.h"
#include "audio/DeckVoice.h"
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

LibraryStore::AnalysisOutcome fixedGrid(const QString&)
{
    TrackAnalysis analysis;
    analysis.duration = 100.0;
    analysis.grid = BeatGrid(120.0, 0.0, 4);
    analysis.loudnessDB = -10.0;
    return LibraryStore::AnalysisOutcome{analysis, {}, {}};
}

void writeRecord(const QString& path, double seconds, double rate)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::vector<float> drums = test::drumLoop(120.0, 0.0, seconds, rate);
    const test::Audio audio = test::generate(2, std::int64_t(drums.size()), rate, [&drums](int, std::int64_t frame) {
        return 0.5f * drums[std::size_t(frame)];
    });
    test::writeAudioFile(path.toStdString(), test::AudioFormat::wav16, audio);
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
    QObject::connect(&app.transition(), &TransitionModel::phaseChanged, [&] {
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

    bool loaded = false;
    app.deck(0).load(a, [&loaded] { loaded = true; });
    ASSERT_TRUE(test::spinUntil([&loaded] { return loaded; }));
    app.mixer().setCrossfader(-1.0);
    app.setQueue({b.id, c.id});
    app.deck(0).playPause();
    app.setAutoQueue(true);

    // Plays in frames of 1/60 s; a render in flight is waited for with the clock
    // held. The set ends once Charlie has been mixed in and has played out.
    const double frame = TransitionModel::kFrameInterval;
    const std::int64_t stretchesAtStart = outpaint.stretchesWritten();
    const auto charlieIn = [&] {
        return std::any_of(mixes.begin(), mixes.end(),
                           [&](const Mix& m) { return m.completed && m.incoming && m.incoming->id == c.id; });
    };
    const auto playing = [&](int deck) {
        const std::shared_ptr<DeckVoice> voice = app.deck(deck).voice();
        return voice && voice->state().playing.load();
    };
    double played = 0.0, quietFor = 0.0;
    for (; played < 900.0 && quietFor < 20.0; played += frame) {
        rig.backend->pump(frame);
        rig.scheduler.advance(frame);
        QCoreApplication::processEvents();
        if (outpaint.busy() || outpaint.hasTask()) {
            ASSERT_TRUE(test::StandInBrain::spinUntil([&] { return !outpaint.busy() && !outpaint.hasTask(); }, 30))
                << "a render never ended";
        }
        quietFor = charlieIn() && !playing(0) && !playing(1) ? quietFor + frame : 0.0;
    }

    QStringList notes;
    for (const QString& line : rig.world.journal)
        if (line.startsWith(QStringLiteral("brain.note ")))
            notes << line.mid(11);
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

} // namespace
} // namespace zelvo
