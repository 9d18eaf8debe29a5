#include "ModelRigSupport.h"

#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <memory>
#include <gtest/gtest.h>

namespace zelvo::test {

void StepAnalysisWorker::start(std::function<void()> job, std::function<void()> done)
{
    items_.emplace_back(std::move(job), std::move(done));
}

int StepAnalysisWorker::runAll()
{
    int count = 0;
    while (!items_.empty()) {
        auto [job, done] = std::move(items_.front());
        items_.pop_front();
        job();
        done();
        ++count;
    }
    return count;
}

LibraryStore::AnalysisOutcome fixedAnalysis(const QString&)
{
    TrackAnalysis analysis;
    analysis.duration = 20.0;
    analysis.grid = BeatGrid(120.0, 0.0, 4);
    analysis.loudnessDB = -10.0;
    return LibraryStore::AnalysisOutcome{analysis, {}, {}};
}

// A track of one tempo, length and rate is the same file wherever it is
// written, so each is made once per program and copied after: the rigs write
// minutes of drums, each made sample by sample on a sanitized build.
void writeDrumTrack(const QString& path, double bpm, double seconds, double sampleRate)
{
    static QTemporaryDir made;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString first = made.filePath(QStringLiteral("%1-%2-%3.wav")
                                            .arg(seconds, 0, 'g', 17)
                                            .arg(sampleRate, 0, 'g', 17)
                                            .arg(bpm, 0, 'g', 17));
    if (!QFileInfo::exists(first)) {
        Audio audio;
        audio.sampleRate = sampleRate;
        audio.channels.assign(2, drumLoop(bpm, 0.0, seconds, sampleRate));
        for (std::vector<float>& channel : audio.channels)
            for (float& sample : channel)
                sample *= 0.5f;
        writeAudioFile(first.toStdString(), AudioFormat::wav16, audio);
    }
    QFile::remove(path);
    ASSERT_TRUE(QFile::copy(first, path)) << path.toStdString();
}

ModelRig::ModelRig(double sampleRate, LibraryStore::Analyzer analyzer)
    : defaults(home.file(QStringLiteral("config/defaults.json")))
{
    auto step = std::make_unique<StepAnalysisWorker>();
    worker = step.get();
    LibraryStore::Options options;
    options.supportDirectory = home.file(QStringLiteral("support"));
    options.outpaintDirectory = home.file(QStringLiteral("takes"));
    options.analyzer = std::move(analyzer);
    options.worker = std::move(step);
    library = std::make_unique<LibraryStore>(clock, std::move(options));

    for (int i = 0; i < 4; ++i)
        decks[std::size_t(i)] = std::make_unique<DeckModel>(i, i == 1);
    binder = std::make_unique<EngineBinder>(
        std::array<DeckModel*, 4>{decks[0].get(), decks[1].get(), decks[2].get(), decks[3].get()}, mixer, clock);
    binder->wireDecks(library.get(), {});
    transition = std::make_unique<TransitionModel>(defaults, clock);
    TransitionModel::Links links;
    links.decks = {decks[0].get(), decks[1].get()};
    links.mixer = &mixer;
    links.outpaint = &outpaint;
    links.audio = &audio;
    links.handsOn = [this] { binder->noteHandsOn(); };
    transition->setLinks(std::move(links));

    // Key-locked decks render ahead with the worker's rounds run here, after
    // each slice, so what the rig hears does not depend on the machine's speed.
    engine = std::make_unique<MixEngine>(sampleRate, 512, MixEngine::RenderAhead::manual);
    binder->engineInstalled(*engine);
    tickTimer = clock.runEvery(kTick, [this] { binder->tick(); });
}

ModelRig::~ModelRig()
{
    clock.cancel(tickTimer);
    transition.reset();
}

TrackRecord ModelRig::import(const QString& path)
{
    const std::vector<TrackRecord> records = library->importItems({path});
    EXPECT_EQ(records.size(), 1u);
    worker->runAll();
    if (records.empty())
        return {};
    return library->track(records.front().id).value_or(records.front());
}

TrackRecord ModelRig::drumTrack(const QString& name, double seconds, double bpm)
{
    const QString path = home.file(QStringLiteral("music/") + name + QStringLiteral(".wav"));
    writeDrumTrack(path, bpm, seconds, engine->sampleRate());
    return import(path);
}

void ModelRig::load(int i, const TrackRecord& record)
{
    // The completion may come after a failed wait: it reaches only what it owns.
    auto done = std::make_shared<bool>(false);
    deck(i).load(record, [done] { *done = true; });
    ASSERT_TRUE(spinUntil([&done] { return *done; })) << "the load never finished";
    render(64); // the voice takes its commands at the next render
}

void ModelRig::rebuildEngine(double sampleRate)
{
    binder->outputStopped();
    engine = std::make_unique<MixEngine>(sampleRate, 512, MixEngine::RenderAhead::manual);
    binder->engineInstalled(*engine);
}

void ModelRig::render(int frames)
{
    const auto n = std::size_t(frames);
    std::vector<float> a(n), b(n), c(n), d(n);
    for (int offset = 0; offset < frames; offset += engine->maxFrames()) {
        const int n = std::min(frames - offset, engine->maxFrames());
        float* slice[4] = {a.data() + offset, b.data() + offset, c.data() + offset, d.data() + offset};
        engine->render(n, slice, 4);
        engine->serviceAhead();
    }
    engine->releaseRetiredBuffers();
}

void ModelRig::run(double seconds)
{
    const double step = TransitionModel::kFrameInterval;
    const int frames = int(std::lround(step * engine->sampleRate()));
    for (double t = 0.0; t < seconds - 1e-9; t += step) {
        render(frames);
        clock.advance(step);
    }
}

bool ModelRig::runUntil(const std::function<bool()>& done, double limit)
{
    const double step = TransitionModel::kFrameInterval;
    for (double t = 0.0; t < limit && !done(); t += step)
        run(step);
    return done();
}

} // namespace zelvo::test
