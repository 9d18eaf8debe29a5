#pragma once
// The state root: the one object that holds the running application. It builds
// every model in a fixed order, wires their callbacks, restores the user's
// settings; `boot` starts audio, the model server's supervisor, the
// controllers, the 0.05 s tick and the launch arguments; `shutdown` hands a
// staged update over, stops audio and the model server and writes the library.
//
// Observed properties notify only on a real change. The persisted ones
// ("set.queue", "browser.sort", "set.auto", "screen.classic") are written by
// their setters on every assignment.
//
// Every timed step (tick, "--load", the state dump) is a Scheduler callback
// that ends quietly once the state root is gone.
//
// Main thread only.
#include "state/AppLinks.h"
#include "state/ModelKeyLink.h"
#include "state/ModelKeySteps.h"
#include "state/PerformanceLink.h"
#include "state/SetLedger.h"
#include "state/StatusLink.h"
#include "audio/BeatFX.h"
#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "controllers/PadMode.h"
#include "library/LibraryStore.h"
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"
#include "platform/Scheduler.h"

#include <QCollator>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zelvo {

class AudioSystem;
class DeckModel;
class DesktopServices;
class EngineBinder;
class MicrophonePermission;
class MixerModel;
class TransitionModel;
class UserDefaults;
class KeyboardFilter;
struct KeyStroke;

class AppModel final : public QObject {
    Q_OBJECT
public:
    static constexpr int kDecks = 4;
    static constexpr double kTickInterval = 0.05;
    // "--load": the first wait, then up to kOutputPolls waits of kOutputPoll
    // seconds for an output.
    static constexpr double kLoadDelay = 0.6;
    static constexpr double kOutputPoll = 0.1;
    static constexpr int kOutputPolls = 100;
    // What the menu's restart asks of the model server.
    static constexpr double kWarmSeconds = 48.0;

    // The engine's live readings, refreshed by the tick.
    struct EngineLive {
        int masterDeck = -1;
        bool recording = false;
        friend bool operator==(const EngineLive&, const EngineLive&) = default;
    };
    enum class PerformPage { mix, fx };
    enum class BrowserSource { collection, outpaints, recent, queue };
    enum class BrowserSort { added, title, bpm, key, energy, tune, tempo, intensity, harmony };

    // The raw values: "MIX", "FX"; "COLLECTION", ...; "ADDED", "A–Z" (en dash), "BPM", ...
    static QString rawValue(PerformPage page);
    static QString rawValue(BrowserSource source);
    static QString rawValue(BrowserSort sort);
    static std::optional<BrowserSort> browserSortFrom(const QString& raw);

    // What the program hands the state root besides the settings and the clock.
    struct Setup {
        // Builds the neighbours; must outlive the state root.
        NeighbourFactory* neighbours = nullptr;
        // Null: the system's permission.
        MicrophonePermission* permission = nullptr;
        // Options of the library store (folders, analyser, worker); its log is
        // always the model server's supervisor.
        std::function<LibraryStore::Options()> libraryOptions;
    };

    // Builds and wires everything and restores the settings; starts nothing.
    // `arguments` is the full argument vector (program first). `defaults` and
    // `scheduler` outlive the state root. Never fails. Main thread.
    AppModel(UserDefaults& defaults, Scheduler& scheduler, QStringList arguments, Setup setup);
    // Unlinks the models from each other first, then drops them in reverse order.
    ~AppModel() override;

    // Starts the running system; once. Main thread.
    void boot();
    // Hands a staged update to the updater, stops audio and the model server,
    // writes the library. Runs once; later calls do nothing. Main thread.
    void shutdown();
    bool isShutDown() const { return shutDown_; }
    // How the program quits (after a state dump); default: the application's quit.
    void setTerminate(std::function<void()> terminate) { terminate_ = std::move(terminate); }

    // The tick's work: the decks, the engine's readings, the workflow, the
    // automatic queue and the model installation. Main thread.
    void tick();

    // --- Owned models. Main thread.
    AudioSystem& audio() const { return *audio_; }
    LibraryStore& library() const { return *library_; }
    DeckModel& deck(int index) const { return *decks_[std::size_t(index)]; }
    MixerModel& mixer() const { return *mixer_; }
    TransitionModel& transition() const { return *transition_; }
    EngineBinder& binder() const { return *binder_; }
    WorkflowLink& outpaint() const { return *outpaint_; }
    ControllerLink& controller() const { return *controller_; }
    UpdateLink& update() const { return *update_; }
    TourLink& tour() const { return *tour_; }
    BrainLink& brain() const { return *brain_; }
    QObject& account() const { return *account_; }
    QObject& download() const { return *download_; }
    const BrainPaths& brainPaths() const { return *brainPaths_; }
    int brainPort() const { return brainPort_; }
    const QStringList& arguments() const { return arguments_; }

    // --- Unobserved state. Main thread.
    bool muteDirect() const;
    QDateTime handsOnAt() const;
    // True when any deck's live snapshot says playing.
    bool anyDeckPlaying() const;
    // The decks the stage shows, in order: four under the FLX10 layout, else two.
    std::vector<int> stageDeckOrder() const;

    // --- Observed state. Main thread.
    const std::vector<QUuid>& queue() const { return queue_; }
    void setQueue(std::vector<QUuid> queue);
    PerformPage performPage() const { return performPage_; }
    void setPerformPage(PerformPage page);
    const std::optional<QUuid>& selectedTrack() const { return selectedTrack_; }
    void setSelectedTrack(std::optional<QUuid> id);
    const QString& browserQuery() const { return browserQuery_; }
    void setBrowserQuery(const QString& query);
    BrowserSource browserSource() const { return browserSource_; }
    void setBrowserSource(BrowserSource source);
    BrowserSort browserSort() const { return browserSort_; }
    void setBrowserSort(BrowserSort sort);
    bool autoQueue() const { return autoQueue_; }
    void setAutoQueue(bool on);
    double waveformZoom() const { return waveformZoom_; }
    void setWaveformZoom(double zoom);
    bool browseOpen() const { return browseOpen_; }
    void setBrowseOpen(bool open);
    bool classicFaceplate() const { return classicFaceplate_; }
    void setClassicFaceplate(bool on);
    bool showSettings() const { return showSettings_; }
    void setShowSettings(bool show);
    const std::optional<QString>& recordingURL() const { return recordingURL_; }
    const EngineLive& engineLive() const { return engineLive_; }
    const std::optional<QString>& hint() const { return hint_; }
    const QDateTime& hintUntil() const { return hintUntil_; }

    // --- Operations other parts of the application build on. Main thread.
    // Seconds of generated audio the model's deck (deck 2) still has ahead of
    // its playhead; none unless it plays a take on a voice.
    std::optional<double> aiBuffer() const;
    static std::optional<double> aiBufferOf(bool holdsTake, bool hasVoice, bool playing, double duration,
                                            double position);
    // Installs the model server and its model now (the Install key), when the
    // space check passes. Main thread.
    void installBrain();
    // The menu's "Import Music…" and the browsers' import keys: asks for files
    // and folders and hands them to `importItems`.
    void importPanel();
    // What `importPanel` asks with: the chosen paths, none when cancelled. The
    // shell hands in the window's modal chooser, tests a fake; without one
    // nothing is asked.
    using ImportChooserCall = std::function<QStringList(const QString& start)>;
    void setImportChooser(ImportChooserCall chooser) { importChooser_ = std::move(chooser); }
    // The Help menu's field guide: "kavri-zelvo-guide.pdf" in the install's
    // data folder `dataFolder` (the program passes `guideFolder` of its own
    // folder: the build puts it there too), else the docs folder beside the
    // model server's scripts; opened through `desktop` (the desktop's PDF
    // viewer) only when it exists. When no viewer opens it, the log says so
    // once per run.
    void openGuide(DesktopServices& desktop, const QString& dataFolder);
    // <programFolder>/../share/kavri-zelvo. Any thread.
    static QString guideFolder(const QString& programFolder);

    // The state as the dump writes it. Main thread.
    QJsonObject stateSnapshot() const;

    // --- Import, loading, recording and ahead-encoding (AppModelLoading.cpp).
    // Main thread.
    // Puts the library's record `id` on deck `deckIndex` (0...3) and returns at
    // once; closes the stage browser. Nothing for no id, a record the library no
    // longer holds or another index.
    void load(const std::optional<QUuid>& id, int deckIndex);
    // Chosen files and folders, in order: adapter files go to `installAdapters`,
    // everything else to the library's import.
    void importItems(const QStringList& paths);
    // Installs adapter files into the model server's models folder; the last one
    // installed becomes the generation model. Failures show as the notice.
    void installAdapters(const QStringList& paths);
    // Starts or stops recording the master output to a WAV file beside the
    // takes; nothing without an engine.
    void toggleRecording();
    // "recordings" beside the takes folder.
    QString recordingsFolder() const;
    // Ahead-encoding writers still running (tests wait for none). Any thread.
    static int aheadWritesInFlight();
    // --- Browser lists, the set queue and flow mode. Main thread.
    // A load the mix-in started and has not yet seen land.
    struct AutoCueing {
        QUuid id;
        int deck = 0;
        QDateTime since;
        // What the deck held when the load began.
        std::optional<QUuid> replacing;
        friend bool operator==(const AutoCueing&, const AutoCueing&) = default;
    };
    // The record the mix-in cued and means to mix in.
    struct AutoCued {
        int deck = 0;
        QUuid id;
        friend bool operator==(const AutoCued&, const AutoCued&) = default;
    };
    // Entries the fill keeps in the queue, and the lowest score it takes.
    static constexpr std::size_t kQueueTarget = 3;
    static constexpr double kFillThreshold = 0.25;
    // Seconds without a touch before flow mode acts on the decks.
    static constexpr double kHandsOff = 45.0;

    // The list every browser shows: the source, filtered by the search text and
    // ordered by the sort key. Stable: ties keep the source's order.
    std::vector<TrackRecord> browserTracks();
    // The track the relative sorts and the fits compare against: the live
    // deck's, else the other of decks 1 and 2.
    std::optional<TrackRecord> referenceTrack() const;
    // How well `candidate` fits `reference` under the current sort key, 0 ... 1;
    // none without a reference or for the reference itself. Cached until the
    // reference or the sort key changes.
    std::optional<double> matchScore(const TrackRecord& candidate, const std::optional<TrackRecord>& reference);
    // Queued identifiers: appended (moved to the end when queued already),
    // removed, or swapped with the entry `offset` places away (clamped).
    void enqueue(const QUuid& id);
    void dequeue(const QUuid& id);
    void moveInQueue(const QUuid& id, int offset);
    // Loads the first queued record the library holds onto the idle deck of
    // decks 1 and 2, with sync on.
    void loadNext();
    // Shifts the deck's key to sit with the deck across the controller; a
    // second press sets the shift back to 0.
    void keySync(int deck);
    // The deck plays, its fader is above 0.05 and the crossfader does not cut it.
    bool isAudible(int deck) const;
    // Where flow mode reads the model key's step; null reads the state root's own.
    void setAIStepSource(const AIStepSource* source) { aiStepSource_ = source; }

    const QSet<QUuid>& heard() const { return heard_; }
    const QDateTime& lastAutoCheck() const { return lastAutoCheck_; }
    int flowLive() const { return flowLive_; }
    const QDateTime& liveSince() const { return liveSince_; }
    std::int64_t stretchesAtLive() const { return stretchesAtLive_; }
    const std::optional<QUuid>& flowForked() const { return flowForked_; }
    const std::optional<int>& flowMixedFrom() const { return flowMixedFrom_; }
    const std::optional<QDateTime>& quietSince() const { return quietSince_; }
    const std::optional<AutoCueing>& autoCueing() const { return autoCueing_; }
    // Flow's cue: the record the mix-in cued and means to mix in, and its deck.
    std::optional<AutoCued> autoCued() const;
    // Records whose load the mix-in gave up on during the run (since the queue
    // was last switched on): the fill does not queue them again.
    QSet<QUuid> givenUp() const { return ledger_.givenUpSet(); }
    // What an idle deck still held when the load meant to replace it was given
    // up: the mix-in does not take it for the record it was cueing.
    std::optional<AutoCued> passedOver() const;
    // Records heard on air (playing, through the fader and the crossfader)
    // while flow mode was on and not queued or loaded by the user since: flow
    // never cues, mixes in or brings in one of them again.
    QSet<QUuid> onAir() const { return ledger_.onAirSet(); }
    // The ledger of the set: each record's standing.
    const SetLedger& ledger() const { return ledger_; }
    // --- The model key, the hint, flow mode's status line and the guide
    // (AppModelSteps.cpp). Everything here but the hint is computed on every
    // read from the models it names. Main thread.
    using AIStep = zelvo::AIStep;
    // What the key reads of the supervisor, the account, the download and the
    // workflow; without one, a server still being checked and an idle workflow.
    void setModelKeyLink(std::unique_ptr<ModelKeyLink> link);
    ModelKeyLink& modelKey() const;
    // The step the model key is on.
    AIStep aiStep() const;
    // The key's tap and its long press (or Shift-tap).
    void aiPrimary();
    void aiSecondary();
    // The key's title and caption.
    QString aiStepTitle() const;
    QString aiStepDetail() const;
    // "ready", "asleep", "fault · <text>", ...
    QString modelStatus() const;
    // The chosen model's name (none: "base") and the status; the status alone
    // for "zelvo-0".
    QString modelLine() const;
    // The model's download size: "9.8 gb" once the key checked out, else "~10 gb".
    QString brainSize() const;
    // The caption of a running installation; "" otherwise.
    QString downloadDetail() const;
    // The model name a render asks for: `name` while the server has not
    // answered, `name` when it lists it as an adapter, else none (the server's
    // default).
    std::optional<QString> installedModel(const QString& name) const;
    // The short hint shows while now is before `hintUntil`; nothing clears it.
    void setHint(const std::optional<QString>& hint);
    void setHintUntil(const QDateTime& until);
    // Flow mode's lower-case status sentence.
    QString flowLine() const;
    // The mix page's upper-case next-step line.
    QString guide() const;
    // The first queued record the library still holds that is neither on the
    // live deck nor on a deck that plays (flow passes those over).
    std::optional<TrackRecord> nextQueuedRecord() const;
    // A queue entry for the record is passed over and dropped: with flow on,
    // it has been on air since the user last queued or loaded it, or it is on
    // the live deck or on a deck that plays; with flow off, it plays on air.
    bool queueSkips(const QUuid& id) const;
    // One reading of everything the key, the flow line and the guide depend on.
    keysteps::Inputs stepInputs() const;
    // --- Keyboard map and performance pads (KeyboardMap.cpp, PerformancePads.cpp).
    // A model pad: its texts, when it lights (never without `lit`) and what it does.
    struct AIPad {
        QString label;
        QString sublabel;
        std::function<bool(const AppModel&, const DeckModel&)> lit;
        std::function<void(AppModel&, DeckModel&)> action;
    };
    // A pad of the beat-effect page: printed caption and sub-caption, the effect
    // and its index into the engine's beat lengths.
    struct PadFXEntry {
        const char* caption;
        const char* sublabel;
        BeatFXKind kind;
        int beatIndex;
    };
    static const std::array<AIPad, 8> aiPads;
    static constexpr std::array<PadFXEntry, 8> padFX{{
        {"Echo", "1/2", BeatFXKind::echo, 4},
        {"Echo", "1/4", BeatFXKind::echo, 3},
        {"Roll", "1/4", BeatFXKind::roll, 3},
        {"Roll", "1/8", BeatFXKind::roll, 2},
        {"Flange", "4", BeatFXKind::flanger, 6},
        {"Flange", "1", BeatFXKind::flanger, 4},
        {"Verb", "1/2", BeatFXKind::reverb, 4},
        {"Verb", "1", BeatFXKind::reverb, 5},
    }};
    // Beat-jump lengths in beats, by pad index modulo 4.
    static constexpr std::array<double, 4> padJumps{1.0, 4.0, 8.0, 16.0};
    // Loop lengths in beats of pads 0…7.
    static constexpr std::array<double, 8> padLoops{0.25, 0.5, 1.0, 2.0, 4.0, 8.0, 16.0, 32.0};
    struct PadLabel {
        QString caption;
        QString sublabel;
        friend bool operator==(const PadLabel&, const PadLabel&) = default;
    };
    // Performs pad `index` (0…7; others do nothing) of `deck` in `mode`: `down` on
    // press, false on release; `erase` deletes a hot cue instead of playing it.
    void pressPad(DeckModel& deck, PadMode mode, int index, bool down, bool erase);
    // Whether the pad is lit; an index outside 0…7 is not.
    bool padLit(const DeckModel& deck, PadMode mode, int index) const;
    // Caption and sub-caption; both empty for an index outside 0…7.
    PadLabel padLabel(const DeckModel& deck, PadMode mode, int index) const;
    // The key event filter installed at boot; null before. It stays for the
    // life of the process and passes every event on once the state root is gone.
    QObject* keyMonitor() const { return keyMonitor_; }
    // Where the keys and pads reach the workflow's actions and the queue; the
    // default does nothing. Main thread.
    void setPerformanceLink(std::unique_ptr<PerformanceLink> link);
    PerformanceLink& performance() const;
    // --- The big key's beat clock (ui/stage/BigAIKey.cpp). Main thread.
    // Where deck `deck` is within its beat, in [0, 1), while its voice plays a
    // record with a usable grid; else the same of deck 1; else none.
    std::optional<double> beatPhase(int deck) const;
    // --- What the status bar, the header and the settings read of the
    // neighbours (StatusLink.h); set before the screens are built. Without one
    // the screens read the link's defaults. Main thread.
    void setStatusLink(std::unique_ptr<StatusLink> link);
    StatusLink& status() const;

signals:
    void queueChanged();
    void performPageChanged();
    void selectedTrackChanged();
    void browserQueryChanged();
    void browserSourceChanged();
    void browserSortChanged();
    void autoQueueChanged();
    void waveformZoomChanged();
    void browseOpenChanged();
    void classicFaceplateChanged();
    void showSettingsChanged();
    void recordingURLChanged();
    void engineLiveChanged();
    void hintChanged();
    // Any of flow mode's fields changed.
    void flowChanged();
    void hintUntilChanged();
    // The end of every tick: views that show readings computed on each read
    // (the model key's step, the model line) look again here and repaint only
    // on a change.
    void ticked();

private:
    class LogForward;

    void restoreSettings();
    void handleLaunchArguments();
    void dumpStateLater(const QStringList& arguments);
    void writeDump(const QString& path);
    void loadWhenOutputUp(const TrackRecord& record, bool play, int pollsLeft);
    // Stops a recording whose file failed; the tick's share of recording.
    void checkRecording();
    struct DemoRun;
    void demoWaitForOutput(std::shared_ptr<DemoRun> run, int pollsLeft);
    void demoPlace(std::shared_ptr<DemoRun> run);
    void demoFour(std::shared_ptr<DemoRun> run, std::size_t next);
    void demoFinish(std::shared_ptr<DemoRun> run);

    // Steps built by other parts of the application; empty here.
    void encodeAhead(const TrackRecord& record, const TrackBufferRef& buffer);
    void stageDemo(bool play, bool fork, bool extend);
    void installKeyboard();
    void autoTick();
    // A record landed on `deck`: with the room silent, flow looks again at the
    // next frame, not at its next check a second later.
    void flowDeckLanded(int deck);
    // A deck's load ended: one flow started that failed is seen at once.
    void flowDeckLoadEnded(int deck);
    // A load (not the deck's own reload) installed its record on `deck`, also
    // one the deck held already.
    void flowDeckLoadedAgain(int deck);
    // Every tick: a request no longer queued is taken back; what the room
    // hears is on air.
    void noteTakenBack();
    void noteOnAir();
    // Flow's cue still decoding onto a deck that something else started (a
    // hand, a mix onto it) never lands there: it goes back to the queue.
    void yieldCueToPlay();
    // Ends a timed mix that no deck plays once hands are off (see the body).
    void endStalledMix(const QDateTime& now);
    // Hands deck `deck`'s new voice the transport its old one left (see
    // handover_), once the voice holds that record at its rate: it plays on
    // from `at` seconds where the app lets it (decks 1 and 2, flow on; with
    // flow off the play-on is owed, see playOnOwed_), and stands otherwise.
    // False while the voice cannot take it yet: it awaits it, keeping what
    // it is sent meanwhile for after it.
    bool handOver(int deck, std::optional<double> at);
    // Gives up deck `deck`'s handover (another record came, or its reload
    // ended without landing): what its voice kept for after it is sent now.
    void dropHandover(int deck);
    // Deck `deck`, standing after a restart, plays on from `at` seconds: an
    // owed play-on carried out.
    void playOn(int deck, double at);
    // Carries out or gives up the play-on owed to each deck. Every tick.
    void settleOwedPlayOn();
    void autoInstallTick();

    // --- Browser lists, the set queue and flow mode.
    std::vector<TrackRecord> sorted(std::vector<const TrackRecord*> records);
    double computeMatch(const TrackRecord& candidate, const TrackRecord& reference);
    // Pauses the deck a completed mix faded out once it stays quiet; true
    // when it sent the pause.
    bool quietOutgoing();
    void fillQueue();
    void flowFork();
    // The timed mix-in: its gates, measures and steps, then the mix, each one
    // rule below, run in this order.
    void cueNextInTime();
    // What the mix-in reads of the set at one check.
    struct SetView {
        QDateTime now;
        int live = 0;
        int idle = 1;
        bool livePlays = false;
        // The live record was heard and has stopped (played out, or stopped
        // near its end): the room is silent.
        bool liveDone = false;
        bool idlePlays = false;
        bool takeOfLive = false;
        double mixLen = 0.0;
        double plain = 0.0;
        double remaining = 0.0;
    };
    SetView readSet(const QDateTime& now) const;
    // Measures: the time left, with the hold of the model's take.
    void measureRemaining(SetView& set) const;
    // The cue goes ahead of a fork render near the live record's end; false
    // while the render is waited for.
    bool cueAheadOfRender(const SetView& set);
    // Recovery rules, each run at its stated place in `cueNextInTime`; true
    // when the rule acted and the check ends there.
    bool playOwedRecord(const SetView& set);
    bool waitForForeignLoad(const SetView& set) const;
    void requeueCuePlayedOut();
    void stopHeardOnIdle(SetView& set);
    bool rewindQueueHeadOnIdle(const SetView& set);
    bool cueFromQueue(const SetView& set);
    bool playHandLoadedLive(const SetView& set);
    void startMix(const SetView& set);
    // Sends the commands to the deck's voice; false without one.
    bool commandDeck(int deck, std::initializer_list<DeckCommand> commands);
    // Flow's own load of this record is under way (onto `deck`, or any).
    bool flowLoads(const std::optional<QUuid>& id, int deck = -1) const;
    // Flow's cue stands on `deck` with this record; false without one.
    bool cuedOn(int deck, const std::optional<QUuid>& id) const;
    // The record on the deck; none when it holds none.
    std::optional<QUuid> recordOn(int deck) const;
    // The record heads the queue.
    bool headsQueue(const std::optional<QUuid>& id) const;
    // The record on `deck` was heard, or stands there as heard (loaded by
    // hand over a heard record).
    bool heardOn(int deck, const std::optional<QUuid>& id) const;
    // The chain a take belongs to: its first take; any other record is its own.
    QUuid chainOf(const QUuid& id) const;
    // The deck holds a record the room is owed, with music left: flow's cue,
    // or one loaded over the incoming deck of a mix. The set stays on it.
    bool owesRoom(int deck) const;
    // The deck plays, unheard, a record not to be brought in from there: one
    // heard before and gone from the air since (a request for it plays on its
    // turn), or the queue's head a called-off mix left there (it comes in
    // from its start on its turn).
    bool leftBehind(int deck) const;
    // The deck stands with a take the model wrote of `source`.
    bool holdsTakeOf(int deck, const QUuid& source) const;
    // Heard before and not asked for since, or asked for again and waiting
    // for its turn: not to be brought in from wherever a deck left it, but
    // for flow's own cue of it on `deck`.
    bool heardBefore(const QUuid& id, int deck) const;
    // The live deck has stopped while the idle deck plays, below full level
    // only for the crossfader: brings the playing deck in. False when there is
    // nothing to do.
    bool bringInPlaying();
    // Brings `deck`, playing while the other stands, in: the crossfader to
    // its end, tempo master, and the set goes on from it at the next tick.
    void bringIn(int deck);
    // The deck the set is on: the crossfader's live deck, unless it stands
    // still while the other plays with its fader up, or, neither playing, it
    // holds nothing heard nor owed to the room while the other's record was
    // heard.
    int setDeck() const;
    // Sees a pending cue land, superseded or given up. False while it is
    // still loading.
    bool settleCue(const QDateTime& now);
    // The deck holds a record flow may mix in: not played out, not what a
    // given-up load meant to replace, not on air before, not on the other deck.
    bool mayMixIn(int deck) const;
    // Deck 1 or 2 holds its record ready for flow's cue there, heard before
    // or not: its voice holds it, no load over it was given up, the other
    // deck does not play it. The queue's next record, found there, comes in
    // from its cue without being loaded again.
    bool holdsToCueInPlace(int deck) const;
    // Makes the queue's next record, standing on the idle deck, flow's cue
    // there again, back at its cue point. True when it had to be moved back:
    // the mix waits for the next tick.
    bool cueAgainInPlace(const SetView& set, const TrackRecord& next);
    // The deck's record has played to its music's end.
    bool playedOut(int deck) const;
    // Puts a record flow cued and did not play back at the head of the queue,
    // unless the queue holds it already.
    void queueFirst(const QUuid& id);
    // Something other than a take of deck 1's record could come in on the
    // idle deck: a record it holds that flow may mix in, a cue under way or a
    // queued record. The fork and its call-off near a record's end both ask.
    bool otherToBringIn(int idle) const;
    // Why a queue entry is passed over; none when it may be cued.
    std::optional<QString> skipReason(const QUuid& id) const;
    // Writes the line for a queue entry flow drops without playing it.
    void notePassedOver(const QUuid& id, const QString& why);
    // What a mix leaves behind as it ends, by how it ended: decided by
    // `afterMix`, acted on by `followMixPhase`.
    struct MixAftermath {
        // Flow looks at what the mix left standing on its next tick.
        bool lookAgainNow = false;
        // A record loaded over the incoming deck, still decoding: owed to the
        // room as one that landed.
        std::optional<QUuid> owedLoad;
        // The deck flow pauses once it stays quiet with hands off; quiet
        // since the mix ended (the deck it faded out) or from when it next
        // goes quiet (an incoming deck left behind the crossfader).
        std::optional<int> pauseOnceQuiet;
        bool quietSinceNow = false;
        // The incoming deck, brought in at once: its outgoing deck stopped
        // before the downbeat.
        std::optional<int> bringIn;
        // What becomes of the record the mix owed the room, left unheard.
        enum class Unheard { stays, passedOver, cuedFromItsStart, backToTheQueue };
        Unheard unheard = Unheard::stays;
    };
    // Follows the mix's phase: yields flow's cue as a mix begins, and when one
    // ends writes its line and does what `afterMix` says it leaves behind.
    void followMixPhase();
    // What the mix that was in `was` and ended for `why` leaves behind;
    // `owed` is the record it owed the room on a deck.
    MixAftermath afterMix(const TransitionModel::Phase& was, TransitionModel::Ending why,
                          const std::optional<std::pair<int, QUuid>>& owed) const;
    // Writes one log line when a mix ends: onto which deck, where it stood and
    // why it ended, so a log says why a mix stopped.
    void noteMixEnd(const TransitionModel::Phase& was, TransitionModel::Ending why);
    void showHint(const QString& text, double seconds);
    bool voicePlaying(int deck) const;
    // Position and duration from the voice's published cells; 0 without a voice.
    double voicePosition(int deck) const;
    double voiceDuration(int deck) const;
    // Where the deck's music ends: the music end when it is set and before the
    // duration, else the duration.
    double musicEndOf(int deck) const;
    // No hand for 45 s. An output restart excuses no hand: it only plays on
    // the decks whose play it interrupted.
    bool handsOff() const;
    template <typename T>
    void setFlow(T& field, T value);

    QHash<QUuid, double> scoreCache_;
    QString scoreCacheKey_;
    QUuid scoreKeyReference_;
    BrowserSort scoreKeySort_ = BrowserSort::added;
    std::unique_ptr<QCollator> collator_;
    QHash<QString, QCollatorSortKey> titleKeys_;
    const AIStepSource* aiStepSource_ = nullptr;
    QSet<QUuid> heard_;
    QDateTime lastAutoCheck_;
    int flowLive_ = -1; // none seen yet: the first run stamps liveSince_
    QDateTime liveSince_;
    std::int64_t stretchesAtLive_ = 0;
    std::optional<QUuid> flowForked_;
    std::optional<int> flowMixedFrom_;
    std::optional<QDateTime> quietSince_;
    std::optional<AutoCueing> autoCueing_;
    // Each record's standing in the set; flow is its only writer.
    SetLedger ledger_{[this](const QString& line) { brain_->note(line); }, [this] { emit flowChanged(); }};
    // Since when a mix in its mixing phase has had no deck playing.
    std::optional<QDateTime> stalledSince_;
    // The render flow's own fork runs as; none when flow has none under way.
    std::optional<std::int64_t> flowRun_;
    // Where each deck's playhead stood at the last tick while it played; none
    // while it stood. Kept while a deck has no voice (an engine rebuild).
    std::array<std::optional<double>, 4> playingAt_;
    // The record each deck plays or last played, since when, and where its
    // playhead stood at the last tick it played. Kept through an engine
    // rebuild, a reload and a pause, so a play that goes on from where it
    // stood is the same play; one from earlier in the record is a new one.
    // Whether the room heard it at some moment of this play.
    struct Play {
        QUuid record;
        QDateTime since;
        double at = 0.0;
        bool stands = false;
        bool onAir = false;
    };
    std::array<std::optional<Play>, 4> playSince_;
    // Where decks stood playing when the output moved to another rate: each
    // plays on from there once its reload lands.
    std::array<std::optional<std::pair<QUuid, double>>, 2> playOnAfterReload_;
    // A restart's play-on that fell due with flow off: carried out if flow
    // comes on before the deck has stood settled for half a second,
    // and given up once anything else loads or plays the deck.
    struct OwedPlayOn {
        QUuid record;
        double at = 0.0;
        QDateTime settled; // invalid until the deck first reads settled
    };
    std::array<std::optional<OwedPlayOn>, 2> playOnOwed_;
    // The transport each deck's voice was last asked for when its output
    // stopped (in seconds), on the record it held, and the commands sent
    // since to voices that could not take it yet: kept until the new voice
    // holds that record.
    struct Handover {
        QUuid record;
        DeckTransport transport;
        std::vector<DeckCommand> since;
    };
    std::array<std::optional<Handover>, 4> handover_;
    // What each deck held when flow last saw a track land on it.
    std::array<std::optional<QUuid>, 4> landedOn_;
    // The transition's phase as last seen, for the line that says how a mix ended.
    TransitionModel::Phase mixSeen_;

    UserDefaults& defaults_;
    Scheduler& scheduler_;
    const QStringList arguments_;
    std::function<void()> terminate_;

    std::unique_ptr<LogForward> log_;
    std::unique_ptr<MicrophonePermission> ownPermission_;
    std::unique_ptr<AudioSystem> audio_;
    std::unique_ptr<LibraryStore> library_;
    ImportChooserCall importChooser_;
    std::array<std::unique_ptr<DeckModel>, kDecks> decks_;
    std::unique_ptr<MixerModel> mixer_;
    std::unique_ptr<EngineBinder> binder_;
    std::unique_ptr<WorkflowLink> outpaint_;
    std::unique_ptr<TransitionModel> transition_;
    std::unique_ptr<ControllerLink> controller_;
    std::unique_ptr<QObject> account_;
    std::unique_ptr<UpdateLink> update_;
    std::unique_ptr<QObject> download_;
    std::unique_ptr<TourLink> tour_;
    std::optional<BrainPaths> brainPaths_;
    int brainPort_ = 0;
    std::unique_ptr<BrainLink> brain_;
    std::unique_ptr<InstallDriver> installer_;

    std::vector<QUuid> queue_;
    PerformPage performPage_ = PerformPage::mix;
    std::optional<QUuid> selectedTrack_;
    QString browserQuery_;
    BrowserSource browserSource_ = BrowserSource::collection;
    BrowserSort browserSort_ = BrowserSort::added;
    bool autoQueue_ = false;
    double waveformZoom_ = 1.0;
    bool browseOpen_ = false;
    bool classicFaceplate_ = false;
    bool showSettings_ = false;
    std::optional<QString> recordingURL_;
    EngineLive engineLive_;
    std::optional<QString> hint_;
    QDateTime hintUntil_;
    std::unique_ptr<ModelKeyLink> modelKey_;

    // Keyboard map and performance pads.
    friend class KeyboardFilter;
    bool tourKey(const KeyStroke& key);
    bool handleKey(const KeyStroke& key);
    QObject* keyMonitor_ = nullptr;
    std::unique_ptr<PerformanceLink> performance_ = std::make_unique<ShellPerformance>();
    std::unique_ptr<StatusLink> status_ = std::make_unique<StatusLink>();

    Scheduler::TimerId ticker_ = 0;
    bool booted_ = false;
    bool guideViewerMissingNoted_ = false;
    bool shutDown_ = false;
};

} // namespace zelvo
