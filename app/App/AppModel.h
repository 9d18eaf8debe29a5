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
#include "App/AppLinks.h"
#include "library/LibraryStore.h"
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"
#include "platform/Scheduler.h"

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class AudioSystem;
class DeckModel;
class EngineBinder;
class MicrophonePermission;
class MixerModel;
class TransitionModel;
class UserDefaults;

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
    // The model key's title; "" until the model key's steps exist.
    QString aiStepTitle() const;
    // Seconds of generated audio the model's deck (deck 2) still has ahead of
    // its playhead; none unless it plays a take on a voice.
    std::optional<double> aiBuffer() const;
    static std::optional<double> aiBufferOf(bool holdsTake, bool hasVoice, bool playing, double duration,
                                            double position);
    // Installs the model server and its model now (the Install key), when the
    // space check passes. Main thread.
    void installBrain();
    // The menu's "Import Music…": nothing until the import panel exists.
    void importPanel();
    // The Help menu's field guide: nothing until the guide exists.
    void openGuide();

    // The state as the dump writes it. Main thread.
    QJsonObject stateSnapshot() const;

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

private:
    class LogForward;

    void restoreSettings();
    void handleLaunchArguments();
    void dumpStateLater(const QStringList& arguments);
    void writeDump(const QString& path);
    void loadWhenOutputUp(const TrackRecord& record, bool play, int pollsLeft);

    // Steps built by other parts of the application; empty here.
    void encodeAhead(const TrackRecord& record, const TrackBufferRef& buffer);
    void stageDemo(bool play, bool fork, bool extend);
    void installKeyboard();
    void autoTick();
    void autoInstallTick();

    UserDefaults& defaults_;
    Scheduler& scheduler_;
    const QStringList arguments_;
    std::function<void()> terminate_;

    std::unique_ptr<LogForward> log_;
    std::unique_ptr<MicrophonePermission> ownPermission_;
    std::unique_ptr<AudioSystem> audio_;
    std::unique_ptr<LibraryStore> library_;
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

    Scheduler::TimerId ticker_ = 0;
    bool booted_ = false;
    bool shutDown_ = false;
};

} // namespace zelvo
