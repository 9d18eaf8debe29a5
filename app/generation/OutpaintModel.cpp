#include "generation/OutpaintModel.h"

#include "generation/Caption.h"
#include "generation/ForkPlanner.h"
#include "generation/OutpaintComposer.h"
#include "generation/TakeWork.h"
#include "library/AudioFileError.h"
#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/LogSink.h"
#include "platform/Scheduler.h"
#include "platform/TextFormat.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>

namespace zelvo {

namespace {

// Assigns and reports whether the value changed.
template <typename T>
bool assignChanged(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

// Counters never wrap: they stop at the largest value.
std::int64_t incremented(std::int64_t value)
{
    return value == std::numeric_limits<std::int64_t>::max() ? value : value + 1;
}

// Seconds from `from` to `to`; never negative (a clock that stepped back counts 0).
double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    const double seconds = double(from.msecsTo(to)) / 1000.0;
    return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
}

// The chain's pause after `failures` failed automatic renders in a row:
// 15 s, 30 s, then 60 s.
double backOffSeconds(std::int64_t failures)
{
    if (failures <= 1)
        return 15.0;
    if (failures == 2)
        return 30.0;
    return 60.0;
}

const char* const kTakeReady = "NEW TAKE READY · IT GOES ON DECK 2 WHEN THAT DECK STOPS";
const char* const kMixReady = "FORK OF THE MIX READY · DROP IT";
const char* const kPickedUp = "PICKED UP WHERE IT RAN OUT";
// An extension that finishes this close to the old take's end found it run out.
constexpr double kRanOutMargin = 0.5;
// A fork's take waits this long at most for deck 2's reload at a new rate and
// its play-on, looking again every step.
constexpr double kSettleWait = 10.0;
constexpr double kSettleStep = 0.05;
// An extension's take starts this long before deck 2's playhead.
constexpr double kSegmentLead = 16.0;
// Thread-pool priorities: what the user waits for first, the take file after.
constexpr int kUserInitiated = 1;
constexpr int kUtility = 0;

bool playing(const DeckModel& deck)
{
    const std::shared_ptr<DeckVoice> v = deck.voice();
    return v && v->state().playing.load();
}

double position(const DeckModel& deck)
{
    const std::shared_ptr<DeckVoice> v = deck.voice();
    return v ? v->state().position.load() : 0.0;
}

std::optional<QUuid> sourceOf(const std::optional<TrackRecord>& record)
{
    if (record && record->outpaint)
        return record->outpaint->sourceID;
    return std::nullopt;
}

std::optional<QUuid> idOf(const std::optional<TrackRecord>& record)
{
    return record ? std::optional<QUuid>(record->id) : std::nullopt;
}

// Runs `work` on the thread pool and `land` with its result on the main thread.
template <typename Result>
void offMain(int priority, std::function<Result()> work, std::function<void(Result)> land)
{
    QThreadPool::globalInstance()->start(
        [work = std::move(work), land = std::move(land)]() mutable {
            Result result = work();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [result = std::move(result), land = std::move(land)]() mutable { land(std::move(result)); },
                Qt::QueuedConnection);
        },
        priority);
}

QString errorText(const std::exception_ptr& error)
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

// The file name parts of a take of `source` (a chain take of `extending` when
// that is a take itself).
TakeWork::TakeName takeName(const TrackRecord& source, const std::optional<TrackRecord>& extending,
                            const QString& folder, const QDateTime& now)
{
    const bool chain = extending && extending->outpaint;
    TakeWork::TakeName name;
    name.folder = folder;
    name.base = TakeWork::base(chain ? extending->title : source.title);
    name.kind = chain ? QStringLiteral(" — chain ") : QStringLiteral(" — fork ");
    name.stamp = TakeWork::stamp(now);
    return name;
}

} // namespace

// --- The phase

double OutpaintPhase::progress() const
{
    switch (kind) {
    case Kind::rendering:
        if (stage == QLatin1String("decode"))
            return 0.95;
        return 0.05 + 0.85 * double(step) / double(std::max<std::int64_t>(total, 1));
    case Kind::capturing:
        return 0.02;
    case Kind::composing:
        return 0.98;
    case Kind::failed:
    case Kind::idle:
        break;
    }
    return 0.0;
}

// --- The render run

// One render, from the context file to the hand-over of the take. Its steps
// run on the main thread; the heavy ones go to the thread pool, holding the run
// until they land. The stream's handlers hold it weakly: dropping the run
// drops the stream, which cancels the request. Whatever way it ends, its
// scratch files are removed.
class OutpaintModel::Run final : public std::enable_shared_from_this<Run> {
public:
    struct Args {
        ForkPlan plan;
        TrackBufferRef prefix;
        double prefixOffset = 0;
        TrackRecord source;
        ForkSettings settings;
        std::optional<TrackRecord> extending;
        bool automatic = false;
        std::optional<RoomContext> roomContext;
        bool live = false;
        std::optional<MixFork> mix;
    };

    Run(OutpaintModel& model, std::shared_ptr<Links> app, std::int64_t id, Args args)
        : model_(&model), app_(std::move(app)), library_(app_->library), id_(id), args_(std::move(args))
    {
        // The caller's capture is this run's to remove, however early it ends.
        if (args_.roomContext)
            contextPath_ = args_.roomContext->path;
    }

    ~Run() { removeScratch(); }

    void begin();

private:
    struct Written {
        QString path;
        QString error;
    };
    struct SpliceOutcome {
        TakeWork::Spliced spliced;
        QString error;
    };

    // True while the model lives and this run is its current one.
    bool current() const { return model_ && model_->runID_ == id_; }
    void contextReady(const QString& error);
    void send();
    void onEvent(const BrainEvent& event);
    void onEnd(const std::optional<BrainFailure>& failure);
    void spliced(SpliceOutcome outcome, double segmentStart, double elapsed);
    void written(Written result, TrackRecord record, TakeWork::Spliced spliced, double segmentStart);
    void handOver(const TrackRecord& record, const TakeWork::Spliced& spliced, double segmentStart);
    // A fork's take finds deck 2 reloading, or its play not yet rendered: it
    // is handed over once the deck has settled, or after `kSettleWait` as the
    // deck then reads.
    bool waitsForDeck2(const TrackRecord& record, const TakeWork::Spliced& spliced, double segmentStart);
    void finish();
    // The failure path; `cancelled` for the user's or the server's cancellation.
    void fail(const QString& text, bool cancelled);
    void silentExit();
    // Drops the model's handle on this run when it is the current task.
    void release();
    void stopStream();
    void removeScratch();
    double segmentStart() const;

    QPointer<OutpaintModel> model_;
    std::shared_ptr<Links> app_;
    QPointer<LibraryStore> library_;
    const std::int64_t id_;
    const Args args_;
    QString contextPath_;
    QString generatedPath_;
    bool done_ = false;
    bool ended_ = false;
    // When the hand-over first found deck 2 between two states.
    std::optional<double> settleSince_;
    BrainStream stream_;
};

void OutpaintModel::Run::begin()
{
    if (!current()) {
        silentExit();
        return;
    }
    const QString scratch = app_->paths.scratch();
    const QString tag = QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toUpper();
    contextPath_ = args_.roomContext ? args_.roomContext->path
                                     : QDir(scratch).filePath(QStringLiteral("ctx-") + tag + QStringLiteral(".wav"));
    generatedPath_ = QDir(scratch).filePath(QStringLiteral("gen-") + tag + QStringLiteral(".wav"));
    if (args_.roomContext) {
        send();
        return;
    }
    QDir().mkpath(scratch);
    const std::shared_ptr<Run> self = shared_from_this();
    offMain<QString>(
        kUserInitiated,
        [prefix = args_.prefix, plan = args_.plan, path = contextPath_]() -> QString {
            try {
                OutpaintComposer::writeContext(*prefix, plan, std::filesystem::path(path.toStdString()));
                return {};
            } catch (...) {
                const QString text = errorText(std::current_exception());
                return text.isEmpty() ? QStringLiteral("context write failed") : text;
            }
        },
        [self](QString error) { self->contextReady(error); });
}

void OutpaintModel::Run::contextReady(const QString& error)
{
    if (!error.isEmpty()) {
        fail(error, false);
        return;
    }
    // A run cancelled or superseded while its context was written never asks.
    if (!current()) {
        silentExit();
        return;
    }
    send();
}

void OutpaintModel::Run::send()
{
    if (!current()) {
        silentExit();
        return;
    }
    const ForkSettings& s = args_.settings;
    std::optional<MusicalKey> key = args_.source.key;
    if (args_.roomContext && model_->bridging_ && model_->bridging_->key)
        key = model_->bridging_->key;

    OutpaintRequest request;
    request.context = contextPath_;
    request.contextSeconds = args_.plan.contextSeconds;
    request.seconds = args_.plan.contextSeconds + args_.plan.generateSeconds;
    request.prompt = Caption::prompt(s.prompt, args_.source.grid, key);
    request.negativePrompt = s.negativePrompt;
    request.steps = s.steps;
    request.cfg = s.guidance;
    request.seed = s.seed;
    request.out = generatedPath_;
    if (s.model)
        request.model = app_->installedModel ? app_->installedModel(*s.model) : s.model;
    request.loraStrength = s.loraStrength;
    if (!args_.roomContext) {
        const QUuid trackID = args_.extending ? args_.extending->id : args_.source.id;
        request.track = BrainClient::trackKey(trackID, args_.prefix->frames);
        request.contextStart = args_.plan.contextStart;
    }
    if (!app_->client) {
        fail(BrainError::wentAway().description(), false);
        return;
    }
    const std::weak_ptr<Run> weak = weak_from_this();
    stream_ = app_->client->outpaint(
        request, model_.data(),
        [weak](const BrainEvent& event) {
            if (const std::shared_ptr<Run> self = weak.lock())
                self->onEvent(event);
        },
        [weak](const std::optional<BrainFailure>& failure) {
            if (const std::shared_ptr<Run> self = weak.lock())
                self->onEnd(failure);
        });
}

void OutpaintModel::Run::onEvent(const BrainEvent& event)
{
    if (ended_)
        return;
    if (!current()) {
        stopStream();
        silentExit();
        return;
    }
    if (const auto* stage = event.as<BrainEvent::Stage>()) {
        model_->setPhase(OutpaintPhase::rendering(stage->name, 0, args_.settings.steps));
    } else if (const auto* step = event.as<BrainEvent::Step>()) {
        model_->setPhase(OutpaintPhase::rendering(QStringLiteral("sample"), step->step, step->total));
    } else if (event.as<BrainEvent::Done>()) {
        done_ = true;
    } else if (event.as<BrainEvent::Cancelled>()) {
        stopStream();
        fail({}, true);
    }
}

void OutpaintModel::Run::onEnd(const std::optional<BrainFailure>& failure)
{
    if (ended_)
        return;
    ended_ = true;
    if (failure) {
        fail(describe(*failure), false);
        return;
    }
    if (!current()) {
        silentExit();
        return;
    }
    if (!done_) {
        fail(BrainError::noResult().description(), false);
        return;
    }
    OutpaintModel& model = *model_;
    model.setPhase(OutpaintPhase::composing());
    // An observer of the phase may have started another render.
    if (!current()) {
        silentExit();
        return;
    }
    const QDateTime now = model.scheduler_.now();
    const double elapsed = model.renderStarted_ ? secondsBetween(*model.renderStarted_, now) : 0.0;
    model.setLastRenderSeconds(elapsed);
    const double total = args_.plan.contextSeconds + args_.plan.generateSeconds;
    const double rate = elapsed / total;
    if (std::isfinite(rate) && rate >= 0.0)
        model.setRenderRate(model.renderRate_ ? 0.5 * rate + 0.5 * *model.renderRate_ : rate);

    const double start = segmentStart();
    const std::shared_ptr<Run> self = shared_from_this();
    const std::optional<double> origin =
        args_.roomContext ? std::optional<double>(args_.roomContext->generatedOrigin) : std::nullopt;
    offMain<SpliceOutcome>(
        kUserInitiated,
        [generated = generatedPath_, prefix = args_.prefix, plan = args_.plan, start, origin]() -> SpliceOutcome {
            SpliceOutcome outcome;
            try {
                outcome.spliced = TakeWork::splice(generated, *prefix, start, plan, origin);
            } catch (...) {
                outcome.error = errorText(std::current_exception());
            }
            return outcome;
        },
        [self, start, elapsed](SpliceOutcome outcome) { self->spliced(std::move(outcome), start, elapsed); });
}

double OutpaintModel::Run::segmentStart() const
{
    if (!args_.extending)
        return args_.prefixOffset;
    const DeckModel* deck2 = app_->decks[1];
    if (deck2 && deck2->track() && deck2->track()->id == args_.extending->id) {
        const double p = position(*deck2);
        return std::max(0.0, std::min(args_.plan.contextStart, p - kSegmentLead));
    }
    return std::max(0.0, args_.plan.contextStart - kSegmentLead);
}

void OutpaintModel::Run::spliced(SpliceOutcome outcome, double segmentStart, double elapsed)
{
    if (!model_) {
        silentExit();
        return;
    }
    if (!outcome.error.isEmpty() || !outcome.spliced.buffer) {
        fail(outcome.error.isEmpty() ? QStringLiteral("the take could not be spliced") : outcome.error, false);
        return;
    }
    if (const auto& r = outcome.spliced.report) {
        model_->note(formatText("splice: take %.3f · model %.3f · gain %.2fx · continuation %.3f · peak %.2f",
                                double(r->sourceRMS), double(r->generatedRMS), double(r->gain), double(r->tailRMS),
                                double(r->peak)));
        if (r->tailRMS < 0.6f * r->sourceRMS)
            model_->note(QStringLiteral("splice: the continuation came back quiet even after matching — the "
                                        "model rendered a much softer passage than the take"));
    }
    if (!current() || !library_) {
        silentExit();
        return;
    }
    const TrackBuffer& buffer = *outcome.spliced.buffer;
    const TrackRecord record =
        model_->makeRecord(args_.source, args_.extending, args_.plan, args_.settings,
                           double(buffer.frames) / buffer.sampleRate, elapsed, *library_, segmentStart);
    // Should a file appear under the chosen name meanwhile, the writer moves on
    // to the next numbered one.
    TakeWork::TakeName fallback = takeName(args_.source, args_.extending, library_->outpaintDirectory(),
                                           model_->scheduler_.now());
    fallback.number = 2;

    const std::shared_ptr<Run> self = shared_from_this();
    TakeWork::Spliced spliced = outcome.spliced;
    offMain<Written>(
        kUtility,
        [buffer = spliced.buffer, path = record.path, fallback]() -> Written {
            Written result;
            try {
                result.path = TakeWork::write(*buffer, path, fallback);
            } catch (...) {
                result.error = errorText(std::current_exception());
            }
            return result;
        },
        [self, record, spliced, segmentStart](Written result) {
            self->written(std::move(result), record, spliced, segmentStart);
        });
}

void OutpaintModel::Run::written(Written result, TrackRecord record, TakeWork::Spliced spliced, double segmentStart)
{
    if (!result.error.isEmpty()) {
        fail(result.error, false);
        return;
    }
    // A take on disk always reaches the library, even when the run went stale.
    record.path = result.path;
    if (library_)
        library_->addOutpaint(record, *spliced.waveform);
    if (!current()) {
        silentExit();
        return;
    }
    handOver(record, spliced, segmentStart);
}

void OutpaintModel::Run::handOver(const TrackRecord& record, const TakeWork::Spliced& spliced, double segmentStart)
{
    OutpaintModel& model = *model_;
    DeckModel* deck2 = app_->decks[1];
    if (!args_.extending && !args_.mix) {
        if (waitsForDeck2(record, spliced, segmentStart))
            return;
        // A fork the user started lands at once, over what deck 2 holds: it
        // goes on from where deck 2 was in the same record, or drops in where
        // deck 1 plays its source. A record the room hears on deck 2 that
        // neither would carry on (one brought in while the fork rendered,
        // its source played out) is not stopped for a take that would stand
        // silent: the take waits for the deck to stop.
        const bool heard = deck2 && app_->isAudible && app_->isAudible(1);
        const DeckModel* deck1 = app_->decks[0];
        const std::optional<QUuid> source = record.outpaint ? record.outpaint->sourceID : std::nullopt;
        const bool carriedOn = deck2 && (sourceOf(deck2->track()) == source
                                         || (deck1 && idOf(deck1->track()) == source && playing(*deck1)));
        // A play sent and not yet rendered (an output restart's play-on) is
        // the record on air going on.
        // So is a reload still under way once the wait for it has ended.
        const bool plays = deck2 && deck2->voice()
            && (playing(*deck2) || deck2->voice()->asked().playing || deck2->reloading());
        if (plays && (!args_.live || (heard && !carriedOn))) {
            model.setWaitingTake(record);
            model.showNotice(QString::fromUtf8(kTakeReady));
            finish();
            return;
        }
        const std::shared_ptr<Run> self = shared_from_this();
        model.placeTake(record, spliced.buffer, spliced.waveform, [self] {
            // The placement's own deck changes are done; the run ends as it would
            // have, unless it went stale meanwhile.
            if (self->current())
                self->finish();
            else
                self->silentExit();
        });
        return;
    }
    if (!args_.extending && args_.mix) {
        model.setReadyMix(ReadyMix{record, spliced.buffer, spliced.waveform, args_.mix->start, args_.mix->anchor});
        model.showNotice(QString::fromUtf8(kMixReady));
        model.note(QStringLiteral("fork the mix: ready — waiting for drop"));
        finish();
        return;
    }
    if (deck2 && deck2->track() && deck2->track()->id == args_.extending->id) {
        const bool hasVoice = deck2->voice() != nullptr;
        const bool ranOut =
            (!hasVoice || !playing(*deck2)) && position(*deck2) >= args_.extending->duration - kRanOutMargin;
        if (hasVoice)
            deck2->swapIn(record, spliced.buffer, spliced.waveform, segmentStart);
        if (ranOut) {
            deck2->playPause();
            model.showNotice(QString::fromUtf8(kPickedUp));
            model.note(QStringLiteral("chain landed late; resumed the AI deck at the seam"));
        }
    }
    finish();
}

bool OutpaintModel::Run::waitsForDeck2(const TrackRecord& record, const TakeWork::Spliced& spliced,
                                       double segmentStart)
{
    // Deck 2 reloading its record for a new output's rate reads as stopped
    // at 0 though the record on air goes on once it lands, and so does a
    // deck whose play (a restart's play-on) is sent and not yet rendered: a
    // take placed then would cut that record, or start from 0 what goes on
    // from where deck 2 is. It waits for the reload, then until its buffer
    // is taken and played.
    OutpaintModel& model = *model_;
    const DeckModel* deck2 = app_->decks[1];
    const double now = model.scheduler_.uptime();
    if (!deck2 || !deck2->voice() || (settleSince_ && now - *settleSince_ >= kSettleWait))
        return false;
    const bool playSent = deck2->voice()->asked().playing && !playing(*deck2);
    if (!deck2->reloading() && !playSent && !(settleSince_ && deck2->settling()))
        return false;
    if (!settleSince_)
        settleSince_ = now;
    const std::shared_ptr<Run> self = shared_from_this();
    model.scheduler_.runAfter(kSettleStep, [self, record, spliced, segmentStart] {
        if (self->current())
            self->handOver(record, spliced, segmentStart);
        else
            self->silentExit();
    });
    return true;
}

void OutpaintModel::Run::finish()
{
    // The hand-over notifies observers, which may have started another render:
    // that one owns the phase now.
    if (!current()) {
        silentExit();
        return;
    }
    OutpaintModel& model = *model_;
    model.setPhase(OutpaintPhase::idle());
    model.setPendingPlan(std::nullopt);
    if (args_.automatic && model.chainFailures_ != 0)
        model.setChainFailures(0);
    if (args_.extending)
        model.setStretchesWritten(incremented(model.stretchesWritten_));
    model.setChainSnooze(std::nullopt);
    if (app_->setRenderInFlight)
        app_->setRenderInFlight(false);
    removeScratch();
    release();
}

void OutpaintModel::Run::fail(const QString& text, bool cancelled)
{
    if (!current()) {
        silentExit();
        return;
    }
    OutpaintModel& model = *model_;
    model.setPendingPlan(std::nullopt);
    if (app_->setRenderInFlight)
        app_->setRenderInFlight(false);
    if (cancelled) {
        model.setPhase(OutpaintPhase::idle());
        removeScratch();
        release();
        return;
    }
    model.note(QStringLiteral("render failed: ") + text);
    model.setPhase(OutpaintPhase::failed(text));
    if (args_.automatic) {
        model.setChainFailures(incremented(model.chainFailures_));
        model.setChainHoldUntil(
            model.scheduler_.now().addMSecs(qint64(backOffSeconds(model.chainFailures_) * 1000.0)));
    }
    removeScratch();
    release();
}

void OutpaintModel::Run::silentExit()
{
    removeScratch();
    release();
}

void OutpaintModel::Run::release()
{
    // Every caller holds its own reference, so the run outlives this call.
    if (model_ && model_->task_.get() == this)
        model_->setTask(nullptr);
}

void OutpaintModel::Run::stopStream()
{
    ended_ = true;
    stream_.cancel();
}

void OutpaintModel::Run::removeScratch()
{
    if (!contextPath_.isEmpty())
        QFile::remove(contextPath_);
    if (!generatedPath_.isEmpty())
        QFile::remove(generatedPath_);
}

// --- The model

OutpaintModel::OutpaintModel(UserDefaults& defaults, Scheduler& scheduler, QObject* parent)
    : QObject(parent), defaults_(defaults), scheduler_(scheduler), settings_(ForkSettings::restore(defaults)),
      noticeUntil_(distantPast()), chainHoldUntil_(distantPast())
{
    setRenderRate(storedRenderRate());
}

OutpaintModel::~OutpaintModel() = default;

QDateTime OutpaintModel::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

std::optional<double> OutpaintModel::storedRenderRate() const
{
    std::optional<double> rate = defaults_.real(QString::fromLatin1(renderRateKey));
    if (!rate) {
        if (const std::optional<std::int64_t> whole = defaults_.integer(QString::fromLatin1(renderRateKey)))
            rate = double(*whole);
    }
    if (rate && std::isfinite(*rate) && *rate >= 0.0)
        return rate;
    return std::nullopt;
}

void OutpaintModel::setSettings(const ForkSettings& settings)
{
    const bool changed = assignChanged(settings_, settings);
    settings_.store(defaults_);
    if (changed)
        emit settingsChanged();
}

void OutpaintModel::setRenderRate(std::optional<double> rate)
{
    if (rate && (!std::isfinite(*rate) || *rate < 0.0))
        return;
    const bool changed = assignChanged(renderRate_, rate);
    if (rate)
        defaults_.setReal(QString::fromLatin1(renderRateKey), *rate);
    if (changed)
        emit renderRateChanged();
}

void OutpaintModel::setPhase(const OutpaintPhase& phase)
{
    if (assignChanged(phase_, phase))
        emit phaseChanged();
}

void OutpaintModel::setPendingPlan(const std::optional<ForkPlan>& plan)
{
    if (!plan)
        pendingSource_.reset();
    if (assignChanged(pendingPlan_, plan))
        emit pendingPlanChanged();
}

void OutpaintModel::setPendingIsExtension(bool extension)
{
    if (assignChanged(pendingIsExtension_, extension))
        emit pendingIsExtensionChanged();
}

void OutpaintModel::setLastRenderSeconds(std::optional<double> seconds)
{
    if (assignChanged(lastRenderSeconds_, seconds))
        emit lastRenderSecondsChanged();
}

void OutpaintModel::setRenderStarted(const std::optional<QDateTime>& date)
{
    if (assignChanged(renderStarted_, date))
        emit renderStartedChanged();
}

void OutpaintModel::setChainSnooze(const std::optional<ChainSnooze>& snooze)
{
    if (assignChanged(chainSnooze_, snooze))
        emit chainSnoozeChanged();
}

void OutpaintModel::setStretchesWritten(std::int64_t count)
{
    if (assignChanged(stretchesWritten_, count))
        emit stretchesWrittenChanged();
}

void OutpaintModel::setRunID(std::int64_t id)
{
    if (assignChanged(runID_, id))
        emit runIDChanged();
}

void OutpaintModel::setChainFailures(std::int64_t count)
{
    if (assignChanged(chainFailures_, count))
        emit chainFailuresChanged();
}

void OutpaintModel::setChainHoldUntil(const QDateTime& date)
{
    if (assignChanged(chainHoldUntil_, date))
        emit chainHoldUntilChanged();
}

void OutpaintModel::setTask(std::shared_ptr<Run> task)
{
    if (task_ == task)
        return;
    task_ = std::move(task);
    emit taskChanged();
}

void OutpaintModel::setReadyMix(std::optional<ReadyMix> ready)
{
    readyMix_ = std::move(ready);
    emit readyMixChanged();
}

void OutpaintModel::setWaitingTake(const std::optional<TrackRecord>& take)
{
    if (assignChanged(waitingTake_, take))
        emit waitingTakeChanged();
}

void OutpaintModel::showNotice(const QString& text)
{
    if (assignChanged(notice_, std::optional<QString>(text)))
        emit noticeChanged();
    if (assignChanged(noticeUntil_, scheduler_.now().addMSecs(qint64(kNoticeSeconds * 1000.0))))
        emit noticeUntilChanged();
}

void OutpaintModel::setNotice(const std::optional<QString>& notice)
{
    if (assignChanged(notice_, notice))
        emit noticeChanged();
}

void OutpaintModel::setNoticeUntil(const QDateTime& until)
{
    if (assignChanged(noticeUntil_, until))
        emit noticeUntilChanged();
}

void OutpaintModel::note(const QString& line) const
{
    if (const std::shared_ptr<Links> app = app_.lock(); app && app->log)
        app->log->note(line);
}

// --- The run

void OutpaintModel::run(const ForkPlan& plan, const TrackBufferRef& prefix, double prefixOffset,
                        const TrackRecord& source, const ForkSettings& settings,
                        const std::optional<TrackRecord>& extending, bool automatic,
                        const std::optional<RoomContext>& roomContext, bool live, const std::optional<MixFork>& mix)
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app || !prefix)
        return;
    setRunID(incremented(runID_));
    const std::int64_t id = runID_;
    pendingSource_ = mix ? PendingSource{std::nullopt, true, mix->anchor} : PendingSource{source.id, false, std::nullopt};
    setPendingPlan(plan);
    setPendingIsExtension(extending.has_value());
    setPhase(OutpaintPhase::capturing());
    setRenderStarted(scheduler_.now());
    if (app->setRenderInFlight)
        app->setRenderInFlight(true);

    Run::Args args{plan, prefix, prefixOffset, source, settings, extending, automatic, roomContext, live, mix};
    auto runner = std::make_shared<Run>(*this, app, id, std::move(args));
    setTask(runner);
    // The body starts from the event loop, as a task would.
    const std::weak_ptr<Run> weak = runner;
    QMetaObject::invokeMethod(
        this,
        [weak] {
            if (const std::shared_ptr<Run> r = weak.lock())
                r->begin();
        },
        Qt::QueuedConnection);
}

TrackRecord OutpaintModel::makeRecord(const TrackRecord& source, const std::optional<TrackRecord>& extending,
                                      const ForkPlan& plan, const ForkSettings& settings, double duration,
                                      double elapsed, LibraryStore& library, double segmentStart) const
{
    const QDateTime now = scheduler_.now();
    const bool chain = extending && extending->outpaint;
    TakeWork::TakeName name = takeName(source, extending, library.outpaintDirectory(), now);
    name.skipTaken([&library](const QString& path) {
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            return true;
        const std::vector<TrackRecord>& tracks = library.tracks();
        return std::any_of(tracks.begin(), tracks.end(), [&path](const TrackRecord& r) { return r.path == path; });
    });

    TrackRecord record = TrackRecord::forFile(name.path(), now);
    const QString model = settings.model.value_or(QStringLiteral("base"));
    record.artist = model + QStringLiteral(" · seed ") + QString::number(settings.seed);
    record.duration = duration;
    record.analyzed = true;
    record.metrics = std::nullopt;
    OutpaintInfo info;
    info.prompt = settings.prompt;
    info.seed = settings.seed;
    info.renderSeconds = elapsed;
    if (!chain) {
        record.title = source.title + QStringLiteral(" ⟶ zelvo-0");
        record.album = QStringLiteral("kavri zelvo outpaints");
        record.grid = ForkPlanner::usable(source.grid) ? std::optional<BeatGrid>(source.grid->shifted(plan.contextStart))
                                                       : std::nullopt;
        record.key = source.key;
        record.loudnessDB = source.loudnessDB;
        record.cuePoint = record.grid ? record.grid->firstBeat : 0.0;
        record.hotCues.assign(TrackRecord::kHotCueSlots, std::nullopt);
        record.hotCues[0] = plan.contextSeconds;
        info.sourceID = source.id;
        info.sourceTitle = source.title;
        info.seam = plan.contextSeconds;
        info.sourceOffset = plan.contextStart;
        info.generations = 1;
    } else {
        const TrackRecord& e = *extending;
        const OutpaintInfo& o = *e.outpaint;
        record.title = e.title;
        record.album = e.album;
        record.grid = ForkPlanner::usable(e.grid) ? std::optional<BeatGrid>(e.grid->shifted(segmentStart))
                                                  : std::nullopt;
        record.key = e.key;
        record.loudnessDB = e.loudnessDB;
        record.cuePoint = std::max(0.0, e.cuePoint - segmentStart);
        record.hotCues = e.hotCues;
        for (std::optional<double>& cue : record.hotCues) {
            if (cue) {
                const double moved = *cue - segmentStart;
                cue = moved < 0.0 ? std::nullopt : std::optional<double>(moved);
            }
        }
        info.sourceID = o.sourceID;
        info.sourceTitle = o.sourceTitle;
        info.seam = std::max(0.0, o.seam - segmentStart);
        info.sourceOffset = o.sourceOffset + segmentStart;
        info.generations = incremented(o.generations);
        info.segmentOf = o.segmentOf ? o.segmentOf : std::optional<QUuid>(e.id);
    }
    record.outpaint = info;
    return record;
}

// --- Takes

std::vector<TrackRecord> OutpaintModel::takes() const
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app || !app->library)
        return {};
    const std::optional<TrackRecord>& deck2 = app->decks[1] ? app->decks[1]->track() : std::nullopt;
    const std::optional<TrackRecord>& deck1 = app->decks[0] ? app->decks[0]->track() : std::nullopt;
    std::optional<QUuid> source = sourceOf(deck2);
    if (!source)
        source = idOf(deck1);
    return TakeWork::takesOf(app->library->tracks(), source);
}

std::optional<int> OutpaintModel::takeIndex() const
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app || !app->decks[1] || !app->decks[1]->track())
        return std::nullopt;
    const TrackRecord& held = *app->decks[1]->track();
    const QUuid target = held.outpaint && held.outpaint->segmentOf ? *held.outpaint->segmentOf : held.id;
    const std::vector<TrackRecord> list = takes();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].id == target)
            return int(i);
    }
    return std::nullopt;
}

void OutpaintModel::placeTake(const TrackRecord& take, const TrackBufferRef& buffer,
                              std::shared_ptr<const WaveformData> waveform, std::function<void()> done)
{
    auto finish = [&done] {
        if (done)
            done();
    };
    const std::shared_ptr<Links> app = app_.lock();
    if (!app || !take.outpaint || !app->decks[1]) {
        finish();
        return;
    }
    DeckModel& deck2 = *app->decks[1];
    const bool wasPlaying = playing(deck2);
    const std::optional<TrackRecord>& old = deck2.track();
    const bool sameSource = sourceOf(old) == take.outpaint->sourceID;
    std::optional<double> sourceTime;
    if (sameSource && old && old->outpaint)
        sourceTime = position(deck2) + old->outpaint->sourceOffset;
    const double fader = deck2.tempoFader();
    const TempoRange range = deck2.tempoRange();
    const int keyShift = deck2.keyShift();
    const double t0 = scheduler_.uptime();

    QPointer<OutpaintModel> self(this);
    auto placed = [self, take, wasPlaying, sameSource, sourceTime, fader, range, keyShift, t0,
                   done = std::move(done)]() {
        auto end = [&done] {
            if (done)
                done();
        };
        const std::shared_ptr<Links> app = self ? self->app_.lock() : nullptr;
        if (!app || !app->decks[1]) {
            end();
            return;
        }
        DeckModel& deck2 = *app->decks[1];
        if (!deck2.track() || deck2.track()->id != take.id) {
            end();
            return;
        }
        if (sameSource) {
            deck2.setTempoRange(range);
            deck2.setTempoFader(fader);
            deck2.setKeyShift(keyShift);
        }
        const double offset = take.outpaint->sourceOffset;
        const std::shared_ptr<DeckVoice> voice = deck2.voice();
        if (wasPlaying) {
            DeckModel* deck1 = app->decks[0];
            if (deck1 && idOf(deck1->track()) == take.outpaint->sourceID && playing(*deck1)) {
                if (app->mixer)
                    app->mixer->armDrop(offset);
                end();
                return;
            }
            if (sourceTime) {
                const std::optional<double> tempo = app->effectiveTempo ? app->effectiveTempo(1) : std::nullopt;
                const double rate = tempo.value_or(1.0);
                const double elapsed = std::max(0.0, self->scheduler_.uptime() - t0);
                const double target = std::max(rate * elapsed + *sourceTime - offset, 0.0);
                if (voice)
                    voice->send(DeckCommand::seek(target));
                deck2.playPause();
            }
            end();
            return;
        }
        if (sourceTime && voice)
            voice->send(DeckCommand::seek(std::max(*sourceTime - offset, 0.0)));
        end();
    };
    if (buffer) {
        deck2.install(take, buffer, std::move(waveform), false);
        placed();
    } else {
        deck2.load(take, std::move(placed));
    }
}

// --- The drop

DropStatus OutpaintModel::dropStatus() const
{
    const std::shared_ptr<Links> app = app_.lock();
    if (!app)
        return DropStatus::refused(QString());
    if (readyMix_) {
        const double age = scheduler_.uptime() - readyMix_->start;
        const double length = readyMix_->buffer ? readyMix_->buffer->duration() : 0.0;
        if (age < length - 8.0)
            return DropStatus::ready(age);
        return DropStatus::refused(QStringLiteral("THE FORK HAS PLAYED OUT"));
    }
    const DeckModel* deck2 = app->decks[1];
    if (!deck2 || !deck2->track() || !deck2->track()->outpaint)
        return DropStatus::refused(QStringLiteral("NO FORK ON DECK 2"));
    const DeckModel* deck1 = app->decks[0];
    if (!deck1 || !deck1->track() || !deck1->voice())
        return DropStatus::refused(QStringLiteral("DECK 1 EMPTY"));
    const OutpaintInfo& info = *deck2->track()->outpaint;
    if (info.sourceID != idOf(deck1->track()))
        return DropStatus::refused(QStringLiteral("FORK OF ANOTHER TRACK"));
    const double x = position(*deck1) - info.sourceOffset;
    const std::optional<double> tempo = app->effectiveTempo ? app->effectiveTempo(0) : std::nullopt;
    double r = tempo.value_or(1.0);
    if (!(r > 0.0) || !std::isfinite(r))
        r = 1.0;
    r = std::max(r, 0.01);
    if (app->mixer && app->mixer->dropArmed())
        return DropStatus::armed(std::max(-x, 0.0) / r);
    if (x < 0.0)
        return DropStatus::waiting(-x / r);
    if (x > deck2->track()->duration - 1.0)
        return DropStatus::refused(QStringLiteral("DECK 1 PASSED THE FORK"));
    return DropStatus::ready(x);
}

void OutpaintModel::resumeChain()
{
    setChainSnooze(std::nullopt);
    // A date far enough back that no hold is in force.
    setChainHoldUntil(QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC));
}

} // namespace zelvo
