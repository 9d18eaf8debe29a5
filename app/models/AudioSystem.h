#pragma once
// The one owner of audio output, on the main thread: the output-device list, the
// user's output settings (device, buffer size, master and cue pairs), opening
// the output off the main thread with a 4 s watchdog and a built-in stand-in,
// restarts on device and rate changes, the hand-over of every new engine, the
// 0.5 s janitor that releases retired track buffers and watches for an output
// whose device went away under it, the adoption of a
// connected controller's sound card and the players' rig (each deck out of its
// own player's card).
//
// Every member is main thread only. Open attempts run on detached threads of
// their own and post their results to the main event loop; property listeners
// post theirs the same way. Nothing here waits on a device.
#include "audio/AudioDevice.h"
#include "controllers/ControllerKind.h"
#include "controllers/PlayerModel.h"
#include "models/DirectOutsSource.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

class AudioIO;
class MixEngine;
class MicrophonePermission;
class Scheduler;
class UserDefaults;
namespace CoreAudioHAL {
class Listener;
}

class AudioSystem final : public QObject, public DirectOutsSource {
    Q_OBJECT
public:
    // One CDJ player of a rig: its MIDI port key (its USB location when it has
    // one), the deck it drives (0-based) and its model.
    struct RigPlayer {
        std::int64_t port = 0;
        int deck = 0;
        PlayerModel model = PlayerModel::cdj3000x;
        bool operator==(const RigPlayer&) const = default;
    };
    // Called for every engine installed, after `io` holds it and before it
    // starts: the new engine and the rate of the engine before it (the new
    // engine's own rate when there was none).
    using EngineHandler = std::function<void(MixEngine& engine, double previousRate)>;

    // Settings keys.
    static constexpr const char* kDeviceKey = "audio.device";
    static constexpr const char* kBufferKey = "audio.buffer";
    static constexpr const char* kMasterKey = "audio.master";
    static constexpr const char* kCueKey = "audio.cue";
    // Every players' aggregate has a UID with this prefix.
    static constexpr const char* kRigPrefix = "com.kavri.zelvo.players";
    static constexpr const char* kRigName = "kavri zelvo players";
    static constexpr double kWatchdogSeconds = 4.0;
    static constexpr double kJanitorSeconds = 0.5;
    // How long an output whose I/O ended by itself waits for the device list
    // to drop its device before it is opened again on the same choice. While
    // a part of the output still plays (a rig's follower card ended, its
    // master plays on), each such reopen in a row doubles the wait, up to the
    // longest grace; an output that plays whole for that long starts again
    // from the first. An output that ended whole waits the first grace.
    static constexpr double kEndedGraceSeconds = 2.0;
    static constexpr double kEndedGraceLongestSeconds = 32.0;
    // The wait after `reopened` reopens in a row. Pure.
    static double endedGraceSeconds(int reopened);

    // Reads the four settings; opens nothing, writes nothing. The three
    // references must outlive this object. Main thread.
    AudioSystem(UserDefaults& defaults, Scheduler& scheduler, MicrophonePermission& permission,
                QObject* parent = nullptr);
    // Stops the janitor and the listeners, then drops the output (stopping it
    // and releasing its buffers here). Open attempts still running report to
    // nobody. Main thread.
    ~AudioSystem() override;

    // The current output devices. Main thread.
    const std::vector<AudioDevice>& devices() const { return devices_; }
    // The open output with its engine; null while nothing is open. Main thread.
    const std::shared_ptr<AudioIO>& io() const { return io_; }
    // The one user-facing message; none when all is well. Main thread.
    const std::optional<QString>& errorText() const { return errorText_; }
    // Engines installed so far. Main thread.
    std::int64_t generation() const { return generation_; }

    // The output settings; each setter saves its value and restarts the output,
    // also when the value is unchanged. Main thread.
    const QString& deviceUID() const { return deviceUID_; }
    void setDeviceUID(const QString& uid);
    std::int64_t bufferFrames() const { return bufferFrames_; }
    void setBufferFrames(std::int64_t frames);
    std::int64_t masterPair() const { return masterPair_; }
    void setMasterPair(std::int64_t pair);
    std::int64_t cuePair() const { return cuePair_; }
    void setCuePair(std::int64_t pair);

    // The connected DDJ controller's kind, none when none is connected; set by
    // the controller model. Moving to another kind moves the output to its card.
    // Main thread.
    std::optional<ControllerKind> preferredController() const { return preferredController_; }
    void setPreferredController(std::optional<ControllerKind> kind);
    // The connected players that drive a deck; set by the controller model. A
    // changed list rebuilds the rig. Main thread.
    const std::vector<RigPlayer>& playerRig() const { return playerRig_; }
    void setPlayerRig(std::vector<RigPlayer> players);
    // One deck per output pair instead of master and cue (a two-card rig). Main thread.
    bool directOuts() const override { return directOuts_; }
    bool outputRunning() const override;
    // Rig deck index -> the lower-case name of the card it plays from. Main thread.
    const std::map<int, QString>& rigRoutes() const { return rigRoutes_; }

    // The engine handler; set once by the application. Main thread.
    void setEngineHandler(EngineHandler handler) { onEngine_ = std::move(handler); }

    // Lists devices, watches the device list, opens the output and starts the
    // janitor. Once. Main thread.
    void boot();
    // Drops the output and opens it again on the current choice. Main thread.
    void restart();
    // Stops a recording, stops the output (keeping it in `io`) and destroys a
    // players' aggregate. Main thread.
    void shutdown();

    // Read-only views of the bookkeeping, for the status display and tests. Main thread.
    const std::optional<QString>& pendingUID() const { return pendingUID_; }
    bool asking() const { return asking_; }
    std::int64_t ticket() const { return ticket_; }
    std::optional<std::uint32_t> rigAggregate() const { return rigAggregate_; }
    const std::vector<QString>& rigSubs() const { return rigSubs_; }
    const std::optional<QString>& preRigUID() const { return preRigUID_; }
    const QString& rigUID() const { return rigUID_; }
    std::int64_t rigCount() const { return rigCount_; }

    // Open attempts (creating or starting an output) whose threads have not
    // finished, in this process. Any thread.
    static int attemptsInFlight();

signals:
    void devicesChanged();
    void ioChanged();
    void errorTextChanged();
    void generationChanged();
    void deviceUIDChanged();
    void bufferFramesChanged();
    void masterPairChanged();
    void cuePairChanged();
    void preferredControllerChanged();
    void playerRigChanged();
    void directOutsChanged();
    void rigRoutesChanged();

private:
    struct OpenBox {
        bool done = false;
        bool superseded = false;
    };
    struct Outcome;
    // Pairs for one open, fitted to the device's channels.
    struct FittedPairs {
        int master = 0;
        std::optional<int> cue;
    };
    // An output opened in place of the chosen device without changing the
    // settings (the rig's fallback when its aggregate cannot be made).
    struct Override {
        QString uid;
        std::optional<std::int64_t> master; // the settings' pairs when absent
        std::optional<std::int64_t> cue;
        QString failure; // shown again once the override plays
    };

    void deviceListChanged();
    void adoptPreferredController();
    std::optional<AudioDevice> resolveDevice() const;
    FittedPairs fitPairs(const AudioDevice& device) const;
    void open(const AudioDevice& device, std::optional<double> previousRate, bool standIn);
    void watchdog(const AudioDevice& device, std::int64_t t, std::optional<double> previousRate,
                  const std::shared_ptr<OpenBox>& box);
    void opened(Outcome outcome, const AudioDevice& device, std::int64_t t, std::optional<double> previousRate,
                OpenBox& box);
    // Starts `io` off the main thread; `again` for an installed output whose
    // start failed before.
    void startOutput(const std::shared_ptr<AudioIO>& io, bool again);
    // What errorText shows once an output on `device` plays: a rig's fallback
    // keeps its failure in view, anything else shows nothing.
    std::optional<QString> installedText(const AudioDevice& device) const;
    void rateCheck();
    void askForMicrophone();
    void releaseRetired();
    void watchOutput();
    void buildRig();
    bool tearDownRig();
    void saveDeviceUID();
    void settingAssigned();

    void setDevices(std::vector<AudioDevice> devices);
    void setIo(std::shared_ptr<AudioIO> io);
    void setErrorText(std::optional<QString> text);
    void setDirectOuts(bool on);
    void setRigRoutes(std::map<int, QString> routes);
    void assignDeviceUID(const QString& uid);
    void assignBufferFrames(std::int64_t frames);
    void assignMasterPair(std::int64_t pair);
    void assignCuePair(std::int64_t pair);

    UserDefaults& defaults_;
    Scheduler& scheduler_;
    MicrophonePermission& permission_;

    std::vector<AudioDevice> devices_;
    std::shared_ptr<AudioIO> io_;
    std::optional<QString> errorText_;
    std::int64_t generation_ = 0;
    QString deviceUID_;
    std::int64_t bufferFrames_ = 256;
    std::int64_t masterPair_ = 0;
    std::int64_t cuePair_ = -1;
    EngineHandler onEngine_;
    std::unique_ptr<CoreAudioHAL::Listener> listener_;
    std::unique_ptr<CoreAudioHAL::Listener> deviceListener_;
    std::uint64_t janitor_ = 0;
    // Janitor firings that found the open output (or a part of it) ended.
    int endedTicks_ = 0;
    // Reopens after an ended I/O in a row, and the janitor firings since the
    // last one that found the output playing whole.
    int reopenedEnded_ = 0;
    int wholeTicks_ = 0;
    // The device of an output whose I/O ended by itself and that is being
    // opened again, until an open succeeds or the device leaves the list.
    std::optional<std::string> lostUID_;
    // An open is on its way (cleared by its outcome), and the start of the
    // installed output failed: with either false and no output running, the
    // janitor opens the chosen device again at each grace (an output whose
    // start failed is started again while its device is still the choice).
    bool opening_ = false;
    bool startFailed_ = false;
    // Janitor firings since the last restart found nothing playing.
    int idleTicks_ = 0;
    // The rate of the engine installed last: the decks' records stay decoded
    // for it until the next engine, also while no output is open.
    std::optional<double> lastRate_;
    bool batching_ = false;
    bool booted_ = false;
    std::optional<ControllerKind> preferredController_;
    std::optional<ControllerKind> adopted_;
    std::vector<RigPlayer> playerRig_;
    bool directOuts_ = false;
    std::map<int, QString> rigRoutes_;
    std::optional<std::uint32_t> rigAggregate_;
    std::vector<QString> rigSubs_;
    std::optional<QString> preRigUID_;
    QString rigUID_;
    std::int64_t rigCount_ = 0;
    std::int64_t ticket_ = 0;
    bool asking_ = false;
    std::optional<QString> pendingUID_;
    std::optional<Override> override_;
};

} // namespace zelvo
