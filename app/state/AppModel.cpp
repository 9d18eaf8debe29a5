#include "state/AppModel.h"

#include "state/LaunchOptions.h"
#include "generation/InstallDriver.h"
#include "generation/AheadEncoding.h"
#include "audio/AudioIO.h"
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"
#include "library/CollectionJson.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "platform/MicrophonePermission.h"
#include "platform/UserDefaults.h"
#include "state/DesktopServices.h"
#include "state/TourGuide.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonValue>
#include <QPointer>
#include <cmath>
#include <cstdio>

namespace zelvo {
namespace {

const QString kQueueKey = QStringLiteral("set.queue");
const QString kSortKey = QStringLiteral("browser.sort");
const QString kAutoKey = QStringLiteral("set.auto");
const QString kClassicKey = QStringLiteral("screen.classic");

// A date far enough back that "seconds since" it never overflows.
QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

std::optional<QByteArray> environment(const char* name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qgetenv(name);
}

} // namespace

// The library's log: the model server's supervisor, which is built after the
// library; lines before it exists go to standard error.
class AppModel::LogForward final : public LogSink {
public:
    void note(const QString& line) override
    {
        if (target)
            target->note(line);
        else
            std::fprintf(stderr, "app: %s\n", line.toUtf8().constData());
    }
    LogSink* target = nullptr;
};

QString AppModel::rawValue(PerformPage page)
{
    return page == PerformPage::mix ? QStringLiteral("MIX") : QStringLiteral("FX");
}

QString AppModel::rawValue(BrowserSource source)
{
    switch (source) {
    case BrowserSource::collection: return QStringLiteral("COLLECTION");
    case BrowserSource::outpaints: return QStringLiteral("OUTPAINTS");
    case BrowserSource::recent: return QStringLiteral("RECENT");
    case BrowserSource::queue: return QStringLiteral("QUEUE");
    }
    return {};
}

QString AppModel::rawValue(BrowserSort sort)
{
    switch (sort) {
    case BrowserSort::added: return QStringLiteral("ADDED");
    case BrowserSort::title: return QStringLiteral("A\u2013Z");
    case BrowserSort::bpm: return QStringLiteral("BPM");
    case BrowserSort::key: return QStringLiteral("KEY");
    case BrowserSort::energy: return QStringLiteral("ENERGY");
    case BrowserSort::tune: return QStringLiteral("TUNE");
    case BrowserSort::tempo: return QStringLiteral("TEMPO");
    case BrowserSort::intensity: return QStringLiteral("INTENSITY");
    case BrowserSort::harmony: return QStringLiteral("HARMONY");
    }
    return {};
}

std::optional<AppModel::BrowserSort> AppModel::browserSortFrom(const QString& raw)
{
    for (int i = 0; i <= int(BrowserSort::harmony); ++i)
        if (rawValue(BrowserSort(i)) == raw)
            return BrowserSort(i);
    return std::nullopt;
}

AppModel::AppModel(UserDefaults& defaults, Scheduler& scheduler, QStringList arguments, Setup setup)
    : defaults_(defaults)
    , scheduler_(scheduler)
    , arguments_(std::move(arguments))
    , terminate_([] { QCoreApplication::quit(); })
    , log_(std::make_unique<LogForward>())
{
    Q_ASSERT(setup.neighbours);
    NeighbourFactory& neighbours = *setup.neighbours;
    MicrophonePermission* permission = setup.permission;
    if (!permission) {
        ownPermission_ = std::make_unique<GrantedMicrophonePermission>();
        permission = ownPermission_.get();
    }

    audio_ = std::make_unique<AudioSystem>(defaults_, scheduler_, *permission);
    LibraryStore::Options libraryOptions = setup.libraryOptions ? setup.libraryOptions() : LibraryStore::Options{};
    libraryOptions.log = log_.get();
    library_ = std::make_unique<LibraryStore>(scheduler_, std::move(libraryOptions));
    for (int i = 0; i < kDecks; ++i)
        decks_[std::size_t(i)] = std::make_unique<DeckModel>(i, i == 1);
    mixer_ = std::make_unique<MixerModel>();
    binder_ = std::make_unique<EngineBinder>(
        std::array<DeckModel*, kDecks>{decks_[0].get(), decks_[1].get(), decks_[2].get(), decks_[3].get()}, *mixer_,
        scheduler_);
    outpaint_ = neighbours.makeWorkflow(defaults_, scheduler_);
    transition_ = std::make_unique<TransitionModel>(defaults_, scheduler_);
    controller_ = neighbours.makeController(defaults_, scheduler_);
    account_ = neighbours.makeAccount(scheduler_);
    update_ = neighbours.makeUpdate(scheduler_);
    download_ = neighbours.makeDownload();
    tour_ = neighbours.makeTour(defaults_, scheduler_);

    browseOpen_ = arguments_.contains(QStringLiteral("--browse"));
    classicFaceplate_ = defaults_.boolean(kClassicKey).value_or(false) || arguments_.contains(QStringLiteral("--classic"));
    hintUntil_ = distantPast();
    modelKey_ = std::make_unique<ModelKeyLink>();

    brainPaths_.emplace(neighbours.brainScripts());
    brainPort_ = launch::brainPort(environment("KAVRI_BRAIN_PORT"));
    brain_ = neighbours.makeBrain(*brainPaths_, brainPort_, scheduler_);
    log_->target = brain_.get();
    installer_ = neighbours.makeInstaller(scheduler_);
    outpaint_->bind(this);
    controller_->bind(this);

    const QPointer<AppModel> self(this);
    binder_->wireDecks(library_.get(), [self](const TrackRecord& record, const TrackBufferRef& buffer) {
        if (self)
            self->encodeAhead(record, buffer);
    });
    // The output stopped: what its engine was asked and had not rendered (a
    // drop, an aligned start, a tempo master) goes to the next engine.
    connect(audio_.get(), &AudioSystem::ioChanged, this, [this] { binder_->outputStopped(); });

    TransitionModel::Links links;
    links.decks = {decks_[0].get(), decks_[1].get()};
    links.mixer = mixer_.get();
    links.outpaint = outpaint_.get();
    links.audio = audio_.get();
    links.handsOn = [self] {
        if (self)
            self->binder_->noteHandsOn();
    };
    transition_->setLinks(std::move(links));
    connect(transition_.get(), &TransitionModel::phaseChanged, this, &AppModel::followMixPhase);
    // What the room hears changes as the crossfader moves (a mix steps it
    // between ticks): flow notes it at once, before a load can land over it.
    connect(mixer_.get(), &MixerModel::crossfaderChanged, this, [this] {
        if (autoQueue_ && !audio_->directOuts() && audio_->outputRunning())
            noteOnAir();
    });
    for (int i = 0; i < 2; ++i) {
        connect(decks_[std::size_t(i)].get(), &DeckModel::trackChanged, this, [this, i] { flowDeckLanded(i); });
        connect(decks_[std::size_t(i)].get(), &DeckModel::loadingChanged, this, [this, i] { flowDeckLoadEnded(i); });
        connect(decks_[std::size_t(i)].get(), &DeckModel::landed, this, [this, i](bool reload) {
            if (!reload)
                flowDeckLoadedAgain(i);
        });
    }
    controller_->setOnHands([self] {
        if (self)
            self->binder_->noteHandsOn();
    });

    restoreSettings();

    // The output is dropped or replaced: every deck is read once more while
    // its voice still holds the last render, so it reads as it stood there
    // until the new output renders. What decks 1 and 2 play on from is what
    // they were last asked to do: every command sent since that render
    // counts (a pause, a hot cue, a loop, a jog, a landing or a take), and so
    // does a start sent to a voice that has not rendered at all. The output
    // was stopped first, so nothing renders the voice any more. A deck still
    // owed the play-on of an earlier restart (its record decoding again for
    // the new rate) keeps it: its new voice holds nothing yet.
    // The whole transport goes to the new voice as one value (see
    // handover_): the cues also to the record at once.
    connect(audio_.get(), &AudioSystem::ioChanged, this, [this] {
        for (int i = 0; i < kDecks; ++i) {
            DeckModel& deck = *decks_[std::size_t(i)];
            deck.reading();
            const std::shared_ptr<DeckVoice> voice = deck.voice();
            if (!voice)
                continue;
            // A voice that awaited the record (decoding again for an earlier
            // restart's rate) leaves the handover it awaited, and what it was
            // sent meanwhile goes after it.
            const auto keepAwaited = [&] {
                if (std::optional<Handover>& handover = handover_[std::size_t(i)]; handover && voice->awaitingHandover()) {
                    const std::vector<DeckCommand> kept = voice->stopAwaiting();
                    handover->since.insert(handover->since.end(), kept.begin(), kept.end());
                }
            };
            if (i < 2 && playOnAfterReload_[std::size_t(i)]) {
                keepAwaited();
                continue;
            }
            const DeckVoice::Asked asked = voice->askedOnceStopped();
            if (asked.loaded && deck.track()) {
                const DeckTransport transport = voice->handoverOnceStopped();
                deck.harvestCues(transport);
                handover_[std::size_t(i)] = Handover{deck.track()->id, transport, {}};
            } else {
                keepAwaited();
            }
            if (i >= 2)
                continue;
            playingAt_[std::size_t(i)] = asked.playing ? std::optional<double>(asked.position) : std::nullopt;
            // Still owed an earlier restart's play-on: this one's.
            if (const std::optional<OwedPlayOn>& owed = playOnOwed_[std::size_t(i)]; owed && !asked.playing)
                playingAt_[std::size_t(i)] = owed->at;
            playOnOwed_[std::size_t(i)].reset();
        }
    });
    for (int i = 0; i < kDecks; ++i)
        connect(decks_[std::size_t(i)].get(), &DeckModel::landed, this, [this, i](bool reload) {
            // Decoded again for the new rate: the record is back on the voice,
            // which takes over from where the deck stood.
            std::optional<double> at;
            if (i < 2) {
                const std::optional<std::pair<QUuid, double>> due = playOnAfterReload_[std::size_t(i)];
                playOnAfterReload_[std::size_t(i)].reset();
                if (due && recordOn(i) == due->first)
                    at = due->second;
            }
            if (!reload || !handOver(i, at))
                dropHandover(i);
        });
    audio_->setEngineHandler([self](MixEngine& engine, double previousRate) {
        if (!self)
            return;
        self->binder_->engineInstalled(engine);
        // At the same rate every deck has its buffer again at once; at
        // another, each takes over once its record is decoded again. A
        // deck still decoding its record again for an earlier restart's
        // rate holds the old rate's buffer: it plays on once that decode
        // lands, from where it stood then, and not twice.
        const bool sameRate = std::abs(previousRate - engine.sampleRate()) <= EngineBinder::kReloadRateDifference;
        for (int i = 0; i < kDecks; ++i) {
            const DeckModel& deck = *self->decks_[std::size_t(i)];
            std::optional<double> at;
            bool ready = sameRate;
            std::optional<std::pair<QUuid, double>> unowed;
            std::optional<std::pair<QUuid, double>>& owed =
                i < 2 ? self->playOnAfterReload_[std::size_t(i)] : unowed;
            if (i < 2 && owed) {
                // Back at the rate of the buffer it kept while decoding again
                // for another (the output moved away and back): the reload
                // was called off, and it plays on from where it stood then.
                if (!deck.reloading() && deck.buffer()
                    && std::abs(deck.buffer()->sampleRate - engine.sampleRate()) <= EngineBinder::kReloadRateDifference) {
                    if (self->recordOn(i) == owed->first)
                        at = owed->second;
                    owed.reset();
                    ready = true;
                }
            } else if (i < 2) {
                at = self->playingAt_[std::size_t(i)];
                if (!sameRate) {
                    const std::optional<TrackRecord>& track = deck.track();
                    owed = track && at ? std::optional<std::pair<QUuid, double>>({track->id, *at}) : std::nullopt;
                }
            }
            self->handOver(i, ready ? at : std::nullopt);
        }
    });
}

AppModel::~AppModel()
{
    scheduler_.cancel(ticker_);
    // Unlink first, so nothing reaches a model that is already gone.
    outpaint_->bind(nullptr);
    performance_ = std::make_unique<ShellPerformance>();
    controller_->bind(nullptr);
    audio_->setEngineHandler({});
    transition_->clearLinks();
    disconnect(transition_.get(), nullptr, this, nullptr);
    for (int i = 0; i < kDecks; ++i)
        disconnect(decks_[std::size_t(i)].get(), nullptr, this, nullptr);
    controller_->setOnHands({});
    log_->target = nullptr;
    installer_.reset();
    brain_.reset();
    tour_.reset();
    download_.reset();
    update_.reset();
    account_.reset();
    controller_.reset();
    transition_.reset();
    outpaint_.reset();
    binder_.reset();
    mixer_.reset();
    for (auto it = decks_.rbegin(); it != decks_.rend(); ++it)
        it->reset();
    library_.reset();
    audio_.reset();
}

void AppModel::restoreSettings()
{
    std::vector<QUuid> queue;
    for (const QString& text : defaults_.stringList(kQueueKey).value_or(QStringList{}))
        if (const std::optional<QUuid> id = uuidFromJson(QJsonValue(text)))
            queue.push_back(*id);
    setQueue(std::move(queue));
    setBrowserSort(browserSortFrom(defaults_.string(kSortKey).value_or(QString())).value_or(BrowserSort::added));
    setAutoQueue(defaults_.boolean(kAutoKey).value_or(false));
}

// --- Lifecycle

void AppModel::boot()
{
    if (booted_)
        return;
    booted_ = true;
    audio_->boot();
    brain_->boot();
    const QPointer<AppModel> self(this);
    ticker_ = scheduler_.runEvery(kTickInterval, [self] {
        if (self)
            self->tick();
    });
    installKeyboard();
    controller_->start();
    library_->warmMetrics();
    handleLaunchArguments();
    tour_->startIfFirstRun();
    if (tour_->showing() && browseOpen_)
        setBrowseOpen(false);
}

void AppModel::tick()
{
    binder_->tick();
    if (const std::shared_ptr<AudioIO>& io = audio_->io()) {
        checkRecording();
        const MixerState& state = *io->engine().state();
        const EngineLive live{int(state.masterDeck.load()), state.recording.load()};
        if (!(live == engineLive_)) {
            engineLive_ = live;
            emit engineLiveChanged();
        }
    }
    outpaint_->tick();
    settleOwedPlayOn();
    autoTick();
    autoInstallTick();
    emit ticked();
}

void AppModel::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    if (update_->ready())
        update_->swapAfterExit(false);
    audio_->shutdown();
    // A head start still being written gets a moment to finish its file.
    ahead::waitForWriters(std::chrono::seconds(2));
    brain_->stopInstall();
    brain_->stop();
    library_->flush();
}

// --- Unobserved state

bool AppModel::muteDirect() const
{
    return binder_->muteDirect();
}

QDateTime AppModel::handsOnAt() const
{
    return binder_->handsOnAt();
}

std::vector<int> AppModel::stageDeckOrder() const
{
    return controller_ && controller_->fourDecks() ? std::vector<int>{0, 1, 2, 3} : std::vector<int>{0, 1};
}

bool AppModel::anyDeckPlaying() const
{
    for (const auto& deck : decks_)
        if (deck->live().playing)
            return true;
    return false;
}

// --- Observed state

void AppModel::setQueue(std::vector<QUuid> queue)
{
    QStringList stored;
    for (const QUuid& id : queue)
        stored.append(uuidText(id));
    defaults_.setStringList(kQueueKey, stored);
    if (queue == queue_)
        return;
    queue_ = std::move(queue);
    emit queueChanged();
}

void AppModel::setPerformPage(PerformPage page)
{
    if (page == performPage_)
        return;
    performPage_ = page;
    emit performPageChanged();
}

void AppModel::setSelectedTrack(std::optional<QUuid> id)
{
    if (id == selectedTrack_)
        return;
    selectedTrack_ = id;
    emit selectedTrackChanged();
}

void AppModel::setBrowserQuery(const QString& query)
{
    if (query == browserQuery_)
        return;
    browserQuery_ = query;
    emit browserQueryChanged();
}

void AppModel::setBrowserSource(BrowserSource source)
{
    if (source == browserSource_)
        return;
    browserSource_ = source;
    emit browserSourceChanged();
}

void AppModel::setBrowserSort(BrowserSort sort)
{
    defaults_.setString(kSortKey, rawValue(sort));
    if (sort == browserSort_)
        return;
    browserSort_ = sort;
    emit browserSortChanged();
}

void AppModel::setAutoQueue(bool on)
{
    defaults_.setBoolean(kAutoKey, on);
    if (on == autoQueue_)
        return;
    autoQueue_ = on;
    emit autoQueueChanged();
    // A new run starts afresh: a record given up on in the last one may be
    // queued again.
    if (on)
        ledger_.newRun();
}

void AppModel::setWaveformZoom(double zoom)
{
    if (zoom == waveformZoom_)
        return;
    waveformZoom_ = zoom;
    emit waveformZoomChanged();
}

void AppModel::setBrowseOpen(bool open)
{
    if (open == browseOpen_)
        return;
    browseOpen_ = open;
    emit browseOpenChanged();
}

void AppModel::setClassicFaceplate(bool on)
{
    defaults_.setBoolean(kClassicKey, on);
    if (on == classicFaceplate_)
        return;
    classicFaceplate_ = on;
    emit classicFaceplateChanged();
}

void AppModel::setShowSettings(bool show)
{
    if (show == showSettings_)
        return;
    showSettings_ = show;
    emit showSettingsChanged();
}

// --- Steps other parts of the application fill in

std::optional<double> AppModel::aiBufferOf(bool holdsTake, bool hasVoice, bool playing, double duration,
                                           double position)
{
    if (!holdsTake || !hasVoice || !playing)
        return std::nullopt;
    const double ahead = duration - position;
    return std::isfinite(ahead) ? std::max(0.0, ahead) : 0.0;
}

std::optional<double> AppModel::aiBuffer() const
{
    const DeckModel& model = deck(1);
    const auto voice = model.voice();
    if (!voice)
        return aiBufferOf(model.track() && model.track()->isOutpaint(), false, false, 0, 0);
    return aiBufferOf(model.track() && model.track()->isOutpaint(), true, voice->state().playing.load(),
                      voice->state().duration.load(), voice->state().position.load());
}


QString AppModel::guideFolder(const QString& programFolder)
{
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/kavri-zelvo"));
}

void AppModel::openGuide(DesktopServices& desktop, const QString& dataFolder)
{
    const QString path = tourGuidePath(dataFolder, brainPaths().scriptsDirectory);
    if (path.isEmpty())
        return;
    // No PDF viewer set up: said once in the log, nothing on screen.
    if (!desktop.openUrl(QUrl::fromLocalFile(path)) && !guideViewerMissingNoted_) {
        guideViewerMissingNoted_ = true;
        brain_->note(QStringLiteral("guide: no application opens PDF documents — the guide is ") + path);
    }
}


void AppModel::installBrain()
{
    if (installer_)
        installer_->installBrain();
}

void AppModel::autoInstallTick()
{
    if (installer_)
        installer_->autoInstallTick();
}

} // namespace zelvo
