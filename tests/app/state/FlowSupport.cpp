#include "FlowSupport.h"

#include "AudioSystemSupport.h"
#include "ModelRigSupport.h"
#include "audio/AudioIO.h"
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "audio/MixerState.h"
#include "generation/OutpaintModel.h"
#include "library/AudioFileIO.h"
#include "library/TrackBuffer.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "support/AudioFixtures.h"
#include "support/GeneratedMusic.h"
#include "support/StandInBrain.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace zelvo::test {
namespace {

AppModel& built(FlowRig& rig, const std::vector<TrackRecord>& records, QStringList arguments)
{
    writeCollection(records);
    rig.addOutput();
    AppModel& app = rig.make(std::move(arguments));
    if (!rig.bootWithOutput())
        throw std::runtime_error("no output");
    return app;
}

} // namespace

FlowRig::FlowRig(const std::vector<TrackRecord>& records, QStringList arguments)
    : model(built(*this, records, std::move(arguments)))
{
    model.setAIStepSource(&aiStep);
}

void FlowRig::put(int deck, const TrackRecord& record)
{
    model.deck(deck).install(record, TrackBufferRef(4800, 48000.0), nullptr, false);
}

DeckState& FlowRig::cells(int deck)
{
    // The voice publishes through these cells; tests write them in its place.
    return const_cast<DeckState&>(model.deck(deck).voice()->state());
}

void FlowRig::publish(int deck, bool playing, double position, double duration)
{
    DeckState& state = cells(deck);
    state.playing.store(playing);
    state.position.store(position);
    state.duration.store(duration);
    // What a voice publishes is the render that carried out every command
    // sent before it.
    state.commandsTaken.store(model.deck(deck).voice()->commandsSent());
}

void FlowRig::after(double seconds)
{
    scheduler.advance(seconds);
    model.tick();
}

QStringList FlowRig::notes() const
{
    QStringList lines;
    for (const QString& line : world.journal)
        if (line.startsWith(QStringLiteral("brain.note ")))
            lines << line.mid(11);
    return lines;
}

struct HeldDecode::State {
    QStringList paths;
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    int holding = 0;
    std::uint64_t releases = 0;
};

HeldDecode::HeldDecode(QString path) : HeldDecode(QStringList{std::move(path)}) {}

HeldDecode::HeldDecode(QStringList paths) : state_(std::make_shared<State>())
{
    state_->paths = std::move(paths);
}

HeldDecode::~HeldDecode()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->open = true;
        state_->holding = 0;
    }
    state_->released.notify_all();
}

DeckModel::Decoder HeldDecode::decoder() const
{
    return [state = state_](const QString& path, double sampleRate) {
        if (state->paths.contains(path)) {
            std::unique_lock<std::mutex> lock(state->mutex);
            const std::uint64_t ticket = state->releases;
            ++state->holding;
            state->released.wait(lock, [&] { return state->open || state->releases != ticket; });
        }
        return AudioFileIO::decode(std::filesystem::path(path.toStdString()), sampleRate);
    };
}

bool HeldDecode::holding() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->holding > 0;
}

void HeldDecode::release()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        // Counted as let go at once, so the frame after the release waits
        // for the decode to land.
        ++state_->releases;
        state_->holding = 0;
    }
    state_->released.notify_all();
}

struct SlowDisk::State {
    struct Decode {
        std::uint64_t id = 0;
        QString path;
        double due = -1.0; // set time it lands at; none until the disk has seen it
        bool go = false;
    };
    std::function<double()> delay;
    mutable std::mutex mutex;
    std::condition_variable released;
    std::vector<Decode> decodes;
    std::uint64_t next = 0;
    bool open = false;
};

SlowDisk::SlowDisk(std::function<double()> delay) : state_(std::make_shared<State>())
{
    state_->delay = std::move(delay);
}

SlowDisk::~SlowDisk()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->open = true;
    }
    state_->released.notify_all();
}

DeckModel::Decoder SlowDisk::decoder() const
{
    return [state = state_](const QString& path, double sampleRate) {
        {
            std::unique_lock<std::mutex> lock(state->mutex);
            const std::uint64_t id = state->next++;
            state->decodes.push_back(State::Decode{id, path});
            state->released.wait(lock, [&] {
                const auto it = std::find_if(state->decodes.begin(), state->decodes.end(),
                                             [id](const State::Decode& d) { return d.id == id; });
                return state->open || it->go;
            });
            std::erase_if(state->decodes, [id](const State::Decode& d) { return d.id == id; });
        }
        return AudioFileIO::decode(std::filesystem::path(path.toStdString()), sampleRate);
    };
}

void SlowDisk::advance(double now)
{
    bool any = false;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        // Decodes that began together reach the disk in any order: each draws
        // its delay in the order of its file, so a seed plays the same way.
        std::vector<State::Decode*> seen;
        for (State::Decode& d : state_->decodes)
            if (d.due < 0.0)
                seen.push_back(&d);
        std::sort(seen.begin(), seen.end(), [](const State::Decode* a, const State::Decode* b) {
            return a->path != b->path ? a->path < b->path : a->id < b->id;
        });
        for (State::Decode* d : seen)
            d->due = now + state_->delay();
        for (State::Decode& d : state_->decodes) {
            if (!d.go && d.due <= now) {
                d.go = true;
                any = true;
            }
        }
    }
    if (any)
        state_->released.notify_all();
}

int SlowDisk::waiting() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return int(std::count_if(state_->decodes.begin(), state_->decodes.end(),
                             [](const State::Decode& d) { return !d.go; }));
}

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

bool playing(AppModel& app, int deck)
{
    const std::shared_ptr<DeckVoice> voice = app.deck(deck).voice();
    return voice && voice->state().playing.load();
}

namespace {

// Waits, with the set's clock held, until no deck is loading (a decode the
// test holds back on purpose does not count).
void waitForLoads(AppModel& app, const HeldDecode* held)
{
    const auto loading = [&] {
        if (held && held->holding())
            return false;
        for (int i = 0; i < AppModel::kDecks; ++i)
            if (app.deck(i).loading())
                return true;
        return false;
    };
    if (loading()) {
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return !loading(); }, 30)) << "a load never landed";
    }
}

} // namespace

void playFrame(AppRig& rig, AppModel& app, OutpaintModel* outpaint, const HeldDecode* held)
{
    const double frame = TransitionModel::kFrameInterval;
    rig.backend->pump(frame);
    rig.scheduler.advance(frame);
    QCoreApplication::processEvents();
    if (outpaint && (outpaint->busy() || outpaint->hasTask())) {
        ASSERT_TRUE(StandInBrain::spinUntil([&] { return !outpaint->busy() && !outpaint->hasTask(); }, 30))
            << "a render never ended";
    }
    ASSERT_NO_FATAL_FAILURE(waitForLoads(app, held));
}

QStringList notesOf(const AppRig& rig)
{
    QStringList notes;
    for (const QString& line : rig.world.journal)
        if (line.startsWith(QStringLiteral("brain.note ")))
            notes << line.mid(11);
    return notes;
}

void watchMixes(AppModel& app, std::vector<Mix>& mixes)
{
    using Kind = TransitionModel::Phase::Kind;
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

void writeBarByBar(const QString& path, double bpm, double seconds, double sampleRate)
{
    const double barFrames = 4.0 * 60.0 / bpm * sampleRate;
    const std::vector<float> bar = drumLoop(bpm, 0.0, barFrames / sampleRate, sampleRate);
    Audio audio;
    audio.sampleRate = sampleRate;
    audio.channels.assign(1, std::vector<float>(std::size_t(seconds * sampleRate), 0.0f));
    std::vector<float>& out = audio.channels[0];
    for (std::int64_t k = 0;; ++k) {
        const std::size_t start = std::size_t(std::llround(double(k) * barFrames));
        if (start >= out.size())
            break;
        const std::size_t n = std::min(bar.size(), out.size() - start);
        for (std::size_t i = 0; i < n; ++i)
            out[start + i] = bar[i] * 0.5f;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeAudioFile(path.toStdString(), AudioFormat::wav16, audio);
}

std::vector<TrackRecord> importRecords(AppRig& rig, AppModel& app, const std::vector<QString>& names,
                                       const std::vector<double>& seconds, Drums drums)
{
    QStringList paths;
    for (std::size_t i = 0; i < names.size(); ++i) {
        paths << rig.home.file(QStringLiteral("Music/%1.wav").arg(names[i]));
        const qsizetype at = names[i].indexOf(QLatin1Char('@'));
        const double bpm = at < 0 ? 120.0 : names[i].mid(at + 1).toDouble();
        if (drums == Drums::barByBar)
            writeBarByBar(paths.back(), bpm, seconds[i], kSetRate);
        else
            writeDrumTrack(paths.back(), bpm, seconds[i], kSetRate);
    }
    const std::vector<TrackRecord> imported = app.library().importItems(paths);
    EXPECT_EQ(imported.size(), names.size());
    EXPECT_TRUE(spinUntil([&] {
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

AppModel& bootOnTheFakeDevice(AppRig& rig)
{
    rig.addOutput(kSetRate);
    AppModel& app = rig.make();
    rig.bootWithOutput();
    return app;
}

AppModel& bootWithGrids(AppRig& rig)
{
    rig.analyzer = fixedGrid;
    return bootOnTheFakeDevice(rig);
}

void loadAndWait(AppModel& app, int deck, const TrackRecord& record)
{
    // The completion may come after a failed wait: it reaches only what it owns.
    auto loaded = std::make_shared<bool>(false);
    app.deck(deck).load(record, [loaded] { *loaded = true; });
    ASSERT_TRUE(spinUntil([&loaded] { return *loaded; }));
}

void CancellingKey::cancel()
{
    world_.journal << QStringLiteral("key.cancel");
    world_.phase = WorkflowLink::Phase::idle;
}

SetRig::SetRig(const std::vector<QString>& names, const std::vector<double>& seconds, std::int64_t bars, Drums drums)
    : app(bootWithGrids(rig))
{
    records = importRecords(rig, app, names, seconds, drums);
    watchMixes(app, mixes);
    app.transition().setBars(bars);
    app.transition().setStyle(TransitionStyle::bassSwap);
    app.mixer().setCrossfader(-1.0);
    // Sets of many minutes play in seconds here: plain resampling keeps
    // them quick, and flow does the same with key lock on or off.
    for (int deck : {0, 1})
        app.deck(deck).setKeyLock(false);
    for (int deck = 0; deck < AppModel::kDecks; ++deck)
        QObject::connect(&app.deck(deck), &DeckModel::trackChanged,
                         [this, deck] { landed_[std::size_t(deck)] = true; });
}

double SetRig::masterPeak() const
{
    if (!app.audio().io())
        return 0.0; // the output is being restarted
    const MixerState& meters = *app.audio().io()->engine().state();
    return std::max(meters.masterPeakL.load(), meters.masterPeakR.load());
}

void SetRig::moveToTheOtherRate()
{
    FakeAudioBackend::Device device;
    device.uid = "fake.other";
    device.name = "Fake Other";
    device.nominalSampleRate = kSetRate * 44100.0 / 48000.0;
    rig.backend->addDevice(device);
    const std::shared_ptr<DeckVoice> before = app.deck(0).voice();
    app.audio().setDeviceUID(QStringLiteral("fake.other"));
    ASSERT_TRUE(spinUntil([&] {
        return app.deck(0).voice() && app.deck(0).voice() != before && app.audio().io() && app.audio().io()->running();
    }));
}

void SetRig::useSlowDisk(std::function<double()> delay)
{
    disk = std::make_shared<SlowDisk>(std::move(delay));
    for (int deck = 0; deck < AppModel::kDecks; ++deck)
        app.deck(deck).setDecoder(disk->decoder());
    // Decodes waiting on the disk hold a thread each; every decode has its
    // own, so the next one never queues behind them.
}

void SetRig::renderAheadByHand()
{
    aheadByHand_ = true;
    for (int deck = 0; deck < AppModel::kDecks; ++deck)
        app.deck(deck).setKeyLock(true);
}

void SetRig::frame(const HeldDecode* held)
{
    const double step = TransitionModel::kFrameInterval;
    const std::shared_ptr<AudioIO> io = app.audio().io();
    if (aheadByHand_ && io && &io->engine() != aheadEngine_) {
        // A new output's engine: its worker's rounds run here from its first render.
        io->engine().setRenderAhead(MixEngine::RenderAhead::manual);
        aheadEngine_ = &io->engine();
    }
    if (renderLate > 0) {
        --renderLate;
        owed_ += step;
    } else {
        if (aheadByHand_ && io)
            io->engine().serviceAhead();
        rig.backend->pump(step + owed_);
        owed_ = 0.0;
        if (io && io->running())
            landed_.fill(false);
        if (aheadByHand_ && io)
            io->engine().serviceAhead();
    }
    rig.scheduler.advance(step);
    QCoreApplication::processEvents();
    played += step;
    if (disk) {
        // Each decode reaches the disk, and each the disk lets go lands, with
        // the clock held: only the disk's own delay takes set time.
        for (int round = 0; round < 3; ++round) {
            disk->advance(played);
            ASSERT_TRUE(StandInBrain::spinUntil(
                [&] { return DeckModel::decodesRunning() <= disk->waiting(); }, 30))
                << "a decode never reached the disk";
            QCoreApplication::processEvents();
        }
    } else {
        ASSERT_NO_FATAL_FAILURE(waitForLoads(app, held));
    }
    silentFor = masterPeak() < 1e-3 ? silentFor + step : 0.0;
}

double SetRig::longestSilenceOver(double seconds)
{
    double quiet = 0.0, worst = 0.0;
    for (const double end = played + seconds; played < end;) {
        frame();
        quiet = masterPeak() < 1e-3 ? quiet + TransitionModel::kFrameInterval : 0.0;
        worst = std::max(worst, quiet);
    }
    return worst;
}

bool SetRig::playUntil(const std::function<bool()>& done, double seconds, const HeldDecode* held)
{
    for (const double end = played + seconds; played < end;) {
        frame(held);
        if (::testing::Test::HasFatalFailure())
            return false;
        if (done())
            return true;
    }
    return false;
}

bool SetRig::mixedIn(const TrackRecord& record) const
{
    return std::any_of(mixes.begin(), mixes.end(),
                       [&](const Mix& m) { return m.completed && m.incoming && m.incoming->id == record.id; });
}

std::vector<QUuid> SetRig::incoming() const
{
    std::vector<QUuid> ids;
    for (const Mix& m : mixes)
        if (m.ended && m.incoming)
            ids.push_back(m.incoming->id);
    return ids;
}

void SetRig::loadBoth()
{
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 0, records.at(0)));
    ASSERT_NO_FATAL_FAILURE(loadAndWait(app, 1, records.at(1)));
}

void SetRig::flowFromTwentySeconds()
{
    ASSERT_NO_FATAL_FAILURE(loadBoth());
    app.setQueue({records.at(2).id});
    play(0, 20.0);
    app.setAutoQueue(true);
    playUntil([] { return false; }, 2.0);
}

bool SetRig::flowUntilMixPhase(TransitionModel::Phase::Kind phase, int to, double seconds)
{
    loadAndWait(app, 0, records.at(0));
    app.setQueue({records.at(1).id, records.at(2).id});
    play(0);
    app.setAutoQueue(true);
    return playUntil(
        [&] {
            const TransitionModel::Phase now = app.transition().phase();
            return now.kind == phase && now.to == to;
        },
        seconds);
}

void SetRig::play(int deck, double from)
{
    if (from > 0.0) {
        app.deck(deck).voice()->send(DeckCommand::seek(from));
        frame();
    }
    // Through the voice: a hand on the deck would hold flow off for 45 s.
    app.deck(deck).voice()->send(DeckCommand::play());
    frame();
}

} // namespace zelvo::test
