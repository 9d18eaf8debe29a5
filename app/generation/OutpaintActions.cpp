// The workflow's actions: fork, extend, re-roll, cancel, step, the drop, the
// fork of the mix, the room extension with its bridge, and the periodic tick
// that keeps the chain going. Main thread only; each engine cell is read once
// where it is needed, never locked together with another.
#include "generation/OutpaintModel.h"

#include "audio/GainLaws.h"
#include "audio/MasterTap.h"
#include "audio/MixEngine.h"
#include "audio/MixerParams.h"
#include "audio/MixerState.h"
#include "generation/ForkPlanner.h"
#include "generation/OutpaintComposer.h"
#include "library/AudioFileError.h"
#include "library/AudioFileIO.h"
#include "library/LibraryStore.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/LogSink.h"
#include "platform/Scheduler.h"
#include "platform/TextFormat.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QRandomGenerator>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>

namespace zelvo {

namespace {

constexpr double kLatent = ForkPlanner::latentSeconds;
// Four latents of a context are always heard audio.
constexpr double kHeardFloor = 16384.0 / ForkPlanner::modelSampleRate;
// Frames mixed past the seam, so the context never ends exactly on it.
constexpr std::int64_t kMargin = 2048;
// The master counts as sounding above this peak.
constexpr double kSounding = 0.002;
// Render speeds assumed until one has been learnt.
constexpr double kMixRenderSpeed = 0.7;
constexpr double kChainRenderSpeed = 0.6;

const char* const kCancelled = "CANCELLED";
const char* const kCancelledSnoozed = "CANCELLED · CHAIN PAUSED FOR THIS ENDING";
const char* const kListening = "LISTENING TO THE ROOM";
const char* const kPlayedOut = "THE FORK PLAYED OUT BEFORE IT WAS DROPPED · FORK AGAIN";
const char* const kDropPlayedOut = "THE FORK HAS PLAYED OUT · FORK AGAIN";

// The voice's published playing flag; false without a voice.
bool voicePlaying(const DeckModel& deck)
{
    const std::shared_ptr<DeckVoice> v = deck.voice();
    return v && v->state().playing.load();
}

// The voice's published position in seconds; 0 without a voice.
double voicePosition(const DeckModel& deck)
{
    const std::shared_ptr<DeckVoice> v = deck.voice();
    return v ? v->state().position.load() : 0.0;
}

const TrackRecord* takeOn(const DeckModel* deck)
{
    if (deck && deck->track() && deck->track()->outpaint)
        return &*deck->track();
    return nullptr;
}

// The deck's reading while its voice plays `take` itself. Nothing while the
// deck is between two states: just after a stretch is spliced in, the voice
// still publishes the take before it (its duration, its timeline) for a few
// renders, and the chain would write that stretch again.
std::optional<DeckModel::Reading> playingTake(const DeckModel* deck, const TrackRecord* take)
{
    if (!deck || !take)
        return std::nullopt;
    const DeckModel::Reading r = deck->reading();
    if (r.stood || !r.playing() || r.record != take->id)
        return std::nullopt;
    return r;
}

std::optional<BeatGrid> usableGrid(const std::optional<BeatGrid>& grid)
{
    return ForkPlanner::usable(grid) ? grid : std::nullopt;
}

double barOf(const std::optional<BeatGrid>& grid)
{
    return ForkPlanner::usable(grid) ? 60.0 / grid->bpm * double(grid->beatsPerBar) : ForkPlanner::barWithoutGrid;
}

// Generation seconds cut to whole latents under the length limit; nothing
// when fewer than eight latents remain.
std::optional<double> limitedGenerate(double context, double generate)
{
    if (context + generate > ForkPlanner::maxTotalSeconds)
        generate = std::floor((ForkPlanner::maxTotalSeconds - context) / kLatent) * kLatent;
    if (generate < ForkPlanner::minGenerateSeconds)
        return std::nullopt;
    return generate;
}

double channelGain(const ChannelModel& channel, const MixerModel& mixer)
{
    return trimGain(channel.trim()) * faderGain(channel.fader()) *
           crossfaderGain(channel.crossfaderAssign(), mixer.crossfader(), mixer.crossfaderCurve());
}

QString describeError(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const AudioFileError& e) {
        return QString::fromStdString(e.description());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

} // namespace

std::int64_t OutpaintModel::freshSeed()
{
    return std::int64_t(QRandomGenerator::global()->bounded(1, 1000000));
}

void OutpaintModel::setBridging(const std::optional<TrackRecord>& record)
{
    if (bridging_ == record)
        return;
    bridging_ = record;
    emit bridgingChanged();
}

void OutpaintModel::setBridgedFor(const std::optional<QUuid>& id)
{
    if (bridgedFor_ == id)
        return;
    bridgedFor_ = id;
    emit bridgedForChanged();
}

// --- Fork, extend, re-roll, cancel, step

void OutpaintModel::fork(bool live)
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return;
    if (busy()) {
        if (!live)
            return;
        supersede();
    }
    setWaitingTake(std::nullopt);
    if (live && forkMix())
        return;

    DeckModel* deck1 = app->decks[0];
    if (!deck1 || !deck1->track() || !deck1->buffer() || !deck1->voice()) {
        setPhase(OutpaintPhase::failed(QStringLiteral("load a track on deck 1")));
        return;
    }
    if (!settings_.lockSeed) {
        ForkSettings seeded = settings_;
        seeded.seed = freshSeed();
        setSettings(seeded);
    }
    const TrackRecord source = *deck1->track();
    const TrackBufferRef buffer = deck1->buffer();
    const double playhead = voicePosition(*deck1);
    const std::optional<double> engineTempo = app->effectiveTempo ? app->effectiveTempo(0) : std::nullopt;
    double ratio = engineTempo.value_or(deck1->tempoRatio());
    if (!std::isfinite(ratio))
        ratio = 1.0;
    const double duration = buffer->duration();

    const std::optional<ForkPlan> first = ForkPlanner::fork(source.grid, playhead, duration, settings_, 0.0);
    const double audio = first ? first->contextSeconds + first->generateSeconds : 60.0;
    const double minLead = std::max(ratio, 0.5) * ForkPlanner::expectedRender(audio, renderRate_) + 2.0;
    const std::optional<ForkPlan> plan = ForkPlanner::fork(source.grid, playhead, duration, settings_, minLead);
    if (!plan) {
        setPhase(OutpaintPhase::failed(QStringLiteral("not enough track to hear")));
        return;
    }
    run(*plan, buffer, plan->contextStart, source, settings_, std::nullopt, false, std::nullopt, live, std::nullopt);
}

void OutpaintModel::extend(bool automatic)
{
    if (busy())
        return;
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return;
    DeckModel* deck2 = app->decks[1];
    const TrackRecord* held = takeOn(deck2);
    if (!held || !deck2->buffer()) {
        setPhase(OutpaintPhase::failed(QStringLiteral("zelvo-0's deck has nothing to extend")));
        return;
    }
    const TrackRecord take = *held;
    const TrackBufferRef buffer = deck2->buffer();
    ForkSettings settings = settings_;
    if (!settings.lockSeed)
        settings.seed = freshSeed();

    if (std::optional<RoomPlan> room = roomExtension(take, buffer, settings)) {
        run(room->plan, buffer, room->plan.contextStart, take, settings, take, automatic, room->context, false,
            std::nullopt);
        showNotice(QString::fromUtf8(kListening));
        return;
    }
    const std::optional<ForkPlan> plan = ForkPlanner::extend(buffer->duration(), take.grid, settings);
    if (!plan) {
        setPhase(OutpaintPhase::failed(QStringLiteral("zelvo-0's take is too short to extend")));
        return;
    }
    run(*plan, buffer, plan->contextStart, take, settings, take, automatic, std::nullopt, false, std::nullopt);
}

void OutpaintModel::reroll()
{
    if (busy())
        return;
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return;
    const TrackRecord* held = takeOn(app->decks[1]);
    if (!held) {
        setPhase(OutpaintPhase::failed(QStringLiteral("NO TAKE TO RE-ROLL · PRESS FORK")));
        return;
    }
    TrackRecord root = *held;
    if (held->outpaint->segmentOf && app->library) {
        if (const std::optional<TrackRecord> found = app->library->track(*held->outpaint->segmentOf))
            root = *found;
    }
    if (!root.outpaint)
        return;
    const OutpaintInfo info = *root.outpaint;
    std::optional<TrackRecord> source;
    if (info.sourceID && app->library)
        source = app->library->track(*info.sourceID);
    if (!source) {
        setPhase(OutpaintPhase::failed(QStringLiteral("SOURCE TRACK NOT IN COLLECTION")));
        return;
    }
    if (!settings_.lockSeed) {
        ForkSettings seeded = settings_;
        seeded.seed = freshSeed();
        setSettings(seeded);
    }
    const std::optional<ForkPlan> plan = ForkPlanner::reroll(info.sourceOffset, info.seam, source->grid, settings_);
    if (!plan) {
        setPhase(OutpaintPhase::failed(QStringLiteral("CAN'T RE-ROLL THIS TAKE")));
        return;
    }
    DeckModel* deck1 = app->decks[0];
    if (deck1 && deck1->track() && deck1->track()->id == source->id && deck1->buffer()) {
        run(*plan, deck1->buffer(), plan->contextStart, *source, settings_, std::nullopt, false, std::nullopt, false,
            std::nullopt);
        return;
    }

    // The source is decoded first. A cancel or a newer render meanwhile moves
    // `runID` on; the decode then ends without touching anything.
    setPhase(OutpaintPhase::capturing());
    const std::int64_t id = runID_;
    MixEngine* engine = app->engine ? app->engine() : nullptr;
    const double rate = engine ? engine->sampleRate() : 48000.0;
    const QString path = source->path;
    const ForkPlan window = *plan;
    const TrackRecord record = *source;
    QPointer<OutpaintModel> self(this);
    QThreadPool::globalInstance()->start(
        [self, id, rate, path, window, record]() {
            TrackBufferRef buffer;
            QString error;
            try {
                buffer = AudioFileIO::decode(std::filesystem::path(path.toStdString()), rate);
            } catch (...) {
                error = describeError(std::current_exception());
            }
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, id, window, record, buffer = std::move(buffer), error]() {
                    if (!self || self->runID_ != id)
                        return;
                    if (!buffer) {
                        self->setPhase(OutpaintPhase::failed(
                            error.isEmpty() ? QStringLiteral("the source could not be decoded") : error));
                        return;
                    }
                    self->setPhase(OutpaintPhase::idle());
                    self->run(window, buffer, window.contextStart, record, self->settings_, std::nullopt, false,
                              std::nullopt, false, std::nullopt);
                },
                Qt::QueuedConnection);
        },
        1);
}

// Ends the run in flight: a new run id makes its remaining steps stale, its
// request is dropped, the phase goes idle and the server's poll resumes.
// Gives the links, null once the application is gone.
std::shared_ptr<OutpaintModel::Links> OutpaintModel::stopRun()
{
    setRunID(runID_ == std::numeric_limits<std::int64_t>::max() ? runID_ : runID_ + 1);
    setTask(nullptr);
    const std::shared_ptr<Links> app = app_.lock();
    if (app && app->client)
        app->client->cancel(this);
    setPhase(OutpaintPhase::idle());
    setPendingPlan(std::nullopt);
    if (app && app->setRenderInFlight)
        app->setRenderInFlight(false);
    return app;
}

void OutpaintModel::cancel()
{
    const std::shared_ptr<Links> app = stopRun();
    if (!app)
        return;
    if (const TrackRecord* take = takeOn(app->decks[1])) {
        setChainSnooze(ChainSnooze{take->id, take->duration});
        showNotice(QString::fromUtf8(kCancelledSnoozed));
    } else {
        showNotice(QString::fromUtf8(kCancelled));
    }
}

void OutpaintModel::callOff()
{
    stopRun();
}

void OutpaintModel::stepTake(int delta)
{
    const std::vector<TrackRecord> list = takes();
    if (list.empty()) {
        setPhase(OutpaintPhase::failed(QStringLiteral("NO TAKES YET · PRESS FORK")));
        return;
    }
    const int n = int(list.size());
    int target;
    if (const std::optional<int> i = takeIndex())
        target = ((*i + delta) % n + n) % n;
    else
        target = delta < 1 ? n - 1 : 0;
    const TrackRecord take = list[std::size_t(target)];
    QPointer<OutpaintModel> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, take] {
            if (self)
                self->placeTake(take, TrackBufferRef(), nullptr);
        },
        Qt::QueuedConnection);
}

// --- Drop

void OutpaintModel::drop()
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return;
    if (readyMix_) {
        dropMix();
        return;
    }
    MixerModel* mixer = app->mixer;
    const std::shared_ptr<MixerParams> params = mixer ? mixer->params() : nullptr;
    if (mixer && mixer->dropArmed()) {
        mixer->disarmDrop();
        return;
    }
    const DropStatus status = dropStatus();
    if (status.isRefusal())
        return;
    DeckModel* deck1 = app->decks[0];
    DeckModel* deck2 = app->decks[1];
    const TrackRecord* take = takeOn(deck2);
    if (!take || !deck1)
        return;
    const double sourceOffset = take->outpaint->sourceOffset;
    if (mixer)
        mixer->channel(1).setSync(true);
    if (params && deck1->live().playing)
        params->masterRequest.store(0);
    deck2->setTempoFader(deck1->tempoFader());
    deck2->setTempoRange(deck1->tempoRange());
    deck2->setKeyShift(deck1->keyShift());
    deck2->setKeyLock(deck1->keyLock());
    // Armed last: the engine never sees a drop with deck 2 still unmatched.
    if (mixer)
        mixer->armDrop(sourceOffset);
}

void OutpaintModel::dropMix()
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app || !readyMix_)
        return;
    const ReadyMix ready = *readyMix_;
    setReadyMix(std::nullopt);

    double offset = scheduler_.uptime() - ready.start;
    if (ready.anchor) {
        const Anchor& anchor = *ready.anchor;
        const DeckModel* deck =
            anchor.deck >= 0 && anchor.deck < int(app->decks.size()) ? app->decks[std::size_t(anchor.deck)] : nullptr;
        if (deck && deck->track() && deck->track()->id == anchor.track && deck->live().playing &&
            ForkPlanner::usable(deck->track()->grid) && deck->voice() && anchor.bpm > 0.0) {
            const BeatGrid& grid = *deck->track()->grid;
            const double b = 60.0 / grid.bpm;
            const double beats =
                (voicePosition(*deck) - grid.firstBeat) / b - (anchor.trackTime - grid.firstBeat) / b;
            offset = beats * 60.0 / anchor.bpm;
        }
    }
    const double length = ready.buffer ? ready.buffer->duration() : 0.0;
    if (offset >= length - 4.0) {
        showNotice(QString::fromUtf8(kDropPlayedOut));
        return;
    }
    if (DeckModel* deck2 = app->decks[1]) {
        const WaveformData empty;
        deck2->takeOver(ready.record, ready.buffer, ready.waveform ? *ready.waveform : empty, offset);
    }
    if (app->mixer)
        app->mixer->channel(1).setSync(true);
    const double seam = ready.record.outpaint ? ready.record.outpaint->seam : 0.0;
    const QString where = seam > offset ? formatText("%.1fs before", seam - offset)
                                        : formatText("%.1fs past", offset - seam);
    note(formatText("fork the mix: dropped at %.1fs (%s the seam)", offset, where.toUtf8().constData()));
    if (seam > offset)
        showNotice(QStringLiteral("DROPPED · ZELVO-0 TAKES OVER IN ") + QString::number(std::int64_t(seam - offset)) +
                   QStringLiteral("S"));
    else
        showNotice(QStringLiteral("DROPPED · BRING IT IN"));
}

// --- Fork of the mix

void OutpaintModel::supersede()
{
    setReadyMix(std::nullopt);
    const std::shared_ptr<Links> app = stopRun();
    if (!app)
        return;
    note(QStringLiteral("fork: superseding the render in flight"));
}

bool OutpaintModel::forkMix()
{
    const std::shared_ptr<Links> app = app_.lock();
    MixEngine* engine = app && app->engine ? app->engine() : nullptr;
    if (!engine || !app->mixer)
        return false;
    const MixerState& state = *engine->state();
    const MixerModel& mixer = *app->mixer;
    const int decks = int(std::min<std::size_t>(app->decks.size(), state.effectiveTempo.size()));

    std::vector<int> playingDecks;
    for (int i = 0; i < decks; ++i) {
        const DeckModel* deck = app->decks[std::size_t(i)];
        if (deck && deck->live().playing && deck->buffer())
            playingDecks.push_back(i);
    }
    if (playingDecks.empty())
        return false;
    if (std::max(state.masterPeakL.load(), state.masterPeakR.load()) <= kSounding)
        return false;

    std::vector<int> audible;
    std::array<float, 4> gains{};
    int loudest = -1;
    for (int i : playingDecks) {
        const float gain = float(channelGain(mixer.channel(i), mixer));
        if (!(gain > 0.01f))
            continue;
        audible.push_back(i);
        gains[std::size_t(i)] = gain;
        if (loudest < 0 || gain > gains[std::size_t(loudest)])
            loudest = i;
    }
    if (audible.empty())
        return false;

    const int master = state.masterDeck.load();
    const int anchor = master >= 0 && master < decks ? master : loudest;
    const DeckModel& anchorDeck = *app->decks[std::size_t(anchor)];
    const DeckModel& loudestDeck = *app->decks[std::size_t(loudest)];
    const double r = std::max(state.effectiveTempo[std::size_t(anchor)].load(), 0.01);
    std::optional<BeatGrid> grid = anchorDeck.track() ? usableGrid(anchorDeck.track()->grid) : std::nullopt;
    if (!grid && loudestDeck.track())
        grid = usableGrid(loudestDeck.track()->grid);
    const double sourceTempo = grid ? grid->bpm : 120.0;
    const double liveTempo = r * sourceTempo;

    if (!settings_.lockSeed) {
        ForkSettings seeded = settings_;
        seeded.seed = freshSeed();
        setSettings(seeded);
    }

    const double bar = 240.0 / liveTempo;
    const double context =
        ForkPlanner::latentAligned(bar * double(settings_.contextBars), ForkPlanner::Rounding::toNearestOrEven);
    // The server needs a context of at least 4 s; a shorter one would also put
    // the seam in the past.
    if (!(context >= ForkPlanner::minContextSeconds))
        return false;
    const std::optional<double> generate = limitedGenerate(
        context, ForkPlanner::latentAligned(bar * double(settings_.lengthBars), ForkPlanner::Rounding::up));
    if (!generate)
        return false;
    const double rate = renderRate_.value_or(kMixRenderSpeed);
    double lead = std::min((context + *generate) * rate + 8.0, context - kHeardFloor);
    const std::shared_ptr<DeckVoice> anchorVoice = anchorDeck.voice();
    if (grid && anchorVoice) {
        const double p = anchorVoice->state().position.load();
        const double s = grid->nextBar(p + r * lead);
        lead = std::min((s - p) / r, context - kHeardFloor);
    }
    const double heard = context - lead;
    const MasterTap& tap = *engine->masterTap();
    if (tap.available() < heard + 0.5)
        return false;
    const std::optional<MasterTap::Snapshot> room = tap.snapshot(heard);
    if (!room || !room->buffer)
        return false;

    std::vector<OutpaintComposer::Voice> voices;
    for (int i : audible) {
        const DeckModel& deck = *app->decks[std::size_t(i)];
        const std::shared_ptr<DeckVoice> voice = deck.voice();
        if (!deck.buffer() || !voice)
            continue;
        voices.push_back({deck.buffer(), voice->state().position.load(),
                          state.effectiveTempo[std::size_t(i)].load(), gains[std::size_t(i)]});
    }
    const double roomRate = room->buffer->sampleRate;
    const TrackBufferRef ahead = OutpaintComposer::mixAhead(voices, lead + double(kMargin) / roomRate, roomRate);
    // A room too short to measure leaves the ahead mix at the mixer's level: the
    // channels' gains above, and the master's here.
    const TrackBufferRef joined = OutpaintComposer::join(*room->buffer, *ahead, float(faderGain(mixer.master())));
    const double now = scheduler_.uptime();

    TrackRecord source = TrackRecord::forFile(QStringLiteral("/dev/null"), scheduler_.now());
    source.title = audible.size() == 1 && loudestDeck.track() ? loudestDeck.track()->title : QStringLiteral("the mix");
    source.key = loudestDeck.track() ? loudestDeck.track()->key : std::nullopt;
    source.grid = std::nullopt;
    std::optional<Anchor> anchored;
    if (grid && anchorDeck.voice()) {
        const double p = voicePosition(anchorDeck);
        const double t0 = p - r * heard;
        const double b = 60.0 / sourceTempo;
        const double g = grid->firstBeat;
        source.grid = BeatGrid(liveTempo, (g + b * std::ceil((t0 - g) / b) - t0) / r, 4);
        if (anchorDeck.track() && ForkPlanner::usable(anchorDeck.track()->grid))
            anchored = Anchor{anchor, anchorDeck.track()->id, t0, liveTempo};
    }
    note(formatText("fork the mix: %d deck%s, %.1fs heard + %.1fs ahead, seam in %.1fs, writing %.1fs",
                    int(audible.size()), audible.size() == 1 ? "" : "s", heard, lead, lead, *generate));
    const MixFork mix{now - heard, now + lead, anchored};
    const ForkPlan plan{context, 0.0, context, *generate};
    run(plan, joined, 0.0, source, settings_, std::nullopt, false, std::nullopt, true, mix);
    return true;
}

// --- Room extension and bridging

DeckModel* OutpaintModel::bridgeTarget() const
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return nullptr;
    DeckModel* deck1 = app->decks[0];
    if (!deck1 || !deck1->live().playing || !deck1->buffer() || !deck1->track())
        return nullptr;
    if (deck1->track()->outpaint)
        return nullptr;
    if (const TrackRecord* take = takeOn(app->decks[1]); take && take->outpaint->sourceID == deck1->track()->id)
        return nullptr;
    return deck1;
}

std::optional<OutpaintModel::RoomPlan> OutpaintModel::roomExtension(const TrackRecord& record,
                                                                     const TrackBufferRef& buffer,
                                                                     const ForkSettings& settings)
{
    const std::shared_ptr<Links> app = app_.lock();
    MixEngine* engine = app && app->engine ? app->engine() : nullptr;
    DeckModel* deck2 = app ? app->decks[1] : nullptr;
    if (!engine || !deck2 || !deck2->voice() || !buffer)
        return std::nullopt;
    const MixerState& state = *engine->state();
    // The position below must be on this take's timeline: a take the voice
    // has not taken yet is continued from its end, without the room.
    if (!playingTake(deck2, &record) || std::max(state.masterPeakL.load(), state.masterPeakR.load()) <= kSounding)
        return std::nullopt;

    const std::optional<BeatGrid> grid = usableGrid(record.grid);
    const double bar = barOf(grid);
    const double context =
        ForkPlanner::latentAligned(bar * double(settings.contextBars), ForkPlanner::Rounding::toNearestOrEven);
    const MasterTap& tap = *engine->masterTap();
    if (context < ForkPlanner::minContextSeconds || tap.available() < context + 1.0)
        return std::nullopt;
    const std::optional<double> generate = limitedGenerate(
        context, ForkPlanner::latentAligned(bar * double(settings.lengthBars), ForkPlanner::Rounding::up));
    if (!generate)
        return std::nullopt;

    const double rate = renderRate_.value_or(kChainRenderSpeed);
    const double t2 = std::max(state.effectiveTempo[1].load(), 0.1);
    const double duration = buffer->duration();
    const double remaining = std::max((duration - voicePosition(*deck2)) / t2, 0.0);
    const double render = (context + *generate) * rate;
    if (render + 4.0 > remaining)
        return std::nullopt;
    const std::optional<MasterTap::Snapshot> room = tap.snapshot(context);
    if (!room || !room->buffer)
        return std::nullopt;

    const double end = ForkPlanner::latentAligned(duration, ForkPlanner::Rounding::down);
    double seam = end;
    DeckModel* bridge = bridgeTarget();
    if (bridge) {
        double t = voicePosition(*deck2) + (render + 8.0) * t2;
        if (grid)
            t = grid->nextBar(t);
        t = ForkPlanner::latentAligned(t, ForkPlanner::Rounding::up);
        seam = std::min(t, end);
    }
    std::optional<OutpaintComposer::Incoming> incoming;
    if (bridge && app->mixer) {
        const ChannelModel& channel = app->mixer->channel(0);
        const float heard = float(faderGain(channel.fader()) *
                                  crossfaderGain(channel.crossfaderAssign(), app->mixer->crossfader(),
                                                 app->mixer->crossfaderCurve()));
        OutpaintComposer::Incoming in;
        in.buffer = bridge->buffer();
        in.position = voicePosition(*bridge);
        in.ratio = state.effectiveTempo[0].load() / std::max(t2, 0.01);
        in.from = std::max(heard, 0.55f);
        in.to = 0.95f;
        incoming = in;
    }
    const TrackBufferRef captured = OutpaintComposer::roomContext(*room->buffer, *buffer, voicePosition(*deck2), seam,
                                                                  context, kMargin, incoming);

    const QString scratch = app->paths.scratch();
    const QString tag = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toUpper();
    const QString path = QDir(scratch).filePath(QStringLiteral("room-") + tag + QStringLiteral(".wav"));
    try {
        QDir().mkpath(scratch);
        OutpaintComposer::writeTrack(*captured, std::filesystem::path(path.toStdString()));
    } catch (...) {
        note(QStringLiteral("room capture failed: ") + describeError(std::current_exception()));
        return std::nullopt;
    }

    if (bridge) {
        note(QStringLiteral("chain is bridging into ") + bridge->track()->title);
        setBridging(bridge->track());
    } else {
        setBridging(std::nullopt);
    }
    const double takePart = std::max(std::min(seam - voicePosition(*deck2), context), 0.0);
    note(formatText("chain heard the room: %.1fs of the mix then %.1fs of the take to the seam, generating %.1fs, "
                    "%.1fs before the take ends",
                    context - takePart, takePart, *generate, remaining));
    return RoomPlan{ForkPlan{seam, std::max(seam - context, 0.0), context, *generate},
                    RoomContext{path, seam - context}};
}

// --- Tick and the chain

double OutpaintModel::chainLead(const TrackRecord& take) const
{
    const double bar = barOf(take.grid);
    const double rate = renderRate_.value_or(kChainRenderSpeed);
    const double lead =
        rate * (bar * double(settings_.contextBars) + bar * double(settings_.lengthBars)) * 1.35 + 10.0;
    return std::min(std::max(lead, bar * 8.0), 120.0);
}

QString OutpaintModel::chainStatus() const
{
    if (chainSnooze_)
        return QStringLiteral("paused · tap");
    const QDateTime now = scheduler_.now();
    if (now < chainHoldUntil_)
        return formatText("retry %.0fs", double(now.msecsTo(chainHoldUntil_)) / 1000.0);
    return QStringLiteral("always on");
}

std::optional<double> OutpaintModel::chainCountdown() const
{
    if (busy())
        return std::nullopt;
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return std::nullopt;
    const TrackRecord* take = takeOn(app->decks[1]);
    const std::optional<DeckModel::Reading> heard = playingTake(app->decks[1], take);
    if (!heard)
        return std::nullopt;
    return std::max(heard->duration - heard->position - chainLead(*take), 0.0);
}

void OutpaintModel::tick()
{
    if (readyMix_) {
        const double length = readyMix_->buffer ? readyMix_->buffer->duration() : 0.0;
        if (scheduler_.uptime() - readyMix_->start > length - 8.0) {
            setReadyMix(std::nullopt);
            showNotice(QString::fromUtf8(kPlayedOut));
        }
    }
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return;
    DeckModel* deck2 = app->decks[1];
    // Deck 2 has stopped only once it reads so: an output restart's play-on
    // sent and not yet rendered, a voice that has not rendered since it came,
    // or its record decoding again for a new rate is the record on air going
    // on, not a stop the waiting take may take its place in.
    const bool deck2Stopped = !deck2
        || !((deck2->voice() && (voicePlaying(*deck2) || deck2->voice()->asked().playing)) || deck2->settling());
    if (waitingTake_ && deck2Stopped && !busy()) {
        const TrackRecord take = *waitingTake_;
        setWaitingTake(std::nullopt);
        QPointer<OutpaintModel> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, take] {
                if (self)
                    self->placeTake(take, TrackBufferRef(), nullptr);
            },
            Qt::QueuedConnection);
    }
    if (busy())
        return;
    const QDateTime now = scheduler_.now();
    if (now < chainHoldUntil_)
        return;
    const TrackRecord* take = takeOn(deck2);
    const std::optional<DeckModel::Reading> heard = playingTake(deck2, take);
    const bool deck2Plays = heard.has_value();

    if (const DeckModel* incoming = bridgeTarget(); incoming && incoming->track()) {
        const QUuid id = incoming->track()->id;
        if (bridgedFor_ != id && deck2Plays && app->isAudible && app->isAudible(1)) {
            setBridgedFor(id);
            note(QStringLiteral("chain: ") + incoming->track()->title +
                 QStringLiteral(" is coming in — writing a bridge now"));
            extend(true);
            return;
        }
    }

    if (!deck2Plays)
        return;
    const double lead = chainLead(*take);
    const double duration = heard->duration;
    const double remaining = duration - heard->position;
    if (chainSnooze_) {
        if (chainSnooze_->trackID == take->id && std::abs(chainSnooze_->duration - duration) < 0.05 &&
            remaining <= lead + 2.0)
            return;
        setChainSnooze(std::nullopt);
    }
    if (remaining < lead)
        extend(true);
}

} // namespace zelvo
