#pragma once
// The application's side of the DDJ controllers: follows the connected
// DDJ-FLX4 or DDJ-FLX10 (the FLX10 also gets its USB host handshake), decides
// how many deck lanes the screens show, remembers which deck each half of the
// controller drives, sends lamp, pad, meter and jog-display feedback twenty
// times a second (only what changed), turns controller events into actions on
// the decks, the mixer, the browser and the generation workflow, and publishes
// the control-echo card of the last touched control.
//
// Everything the model drives beyond the decks and the mixer goes through
// `ControllerHost`, which the state root implements.
//
// Main thread only. The one piece of work off the main thread is the FLX10
// handshake, which runs on a detached thread and reports back on the main
// thread; quitting never waits for it.
#include "audio/MixerState.h"
#include "controllers/ControlGate.h"
#include "controllers/ControllerKind.h"
#include "controllers/DDJEvent.h"
#include "controllers/MIDIHub.h"
#include "controllers/PadMode.h"
#include "library/TrackRecord.h"
#include "models/AudioSystem.h"
#include "platform/LogSink.h"
#include "platform/MidiSystem.h"
#include "platform/Scheduler.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace zelvo {

class DeckModel;
class MixerModel;
class UserDefaults;

// What the controller model uses of the running application. Main thread only.
class ControllerHost {
public:
    // The tour step as the controller shows it.
    enum class TourStep { none, welcome, machine, go, other };
    enum class BrowserSource { collection, outpaints, recent, queue };
    // The browser's sorts, in the order the sort key cycles through them.
    enum class BrowserSort { added, title, bpm, key, energy, tune, tempo, intensity, harmony };

    virtual ~ControllerHost() = default;
    // Deck 0...3 and the mixer; never null while the host lives.
    virtual DeckModel& deck(int index) = 0;
    virtual MixerModel& mixer() = 0;
    // The running engine's published readings; null without an engine.
    virtual const MixerState* engineState() = 0;
    // The engine's tempo master as last read by the application, −1 for none.
    virtual int masterDeck() = 0;
    // Moves audio output to this controller's own sound card (none: no preference).
    virtual void setPreferredController(std::optional<ControllerKind> kind) = 0;

    // The browser.
    virtual std::optional<QUuid> selectedTrack() = 0;
    virtual void setSelectedTrack(std::optional<QUuid> id) = 0;
    virtual std::vector<QUuid> browserTracks() = 0;
    virtual std::optional<TrackRecord> track(const QUuid& id) = 0;
    virtual BrowserSource browserSource() = 0;
    virtual void setBrowserSource(BrowserSource source) = 0;
    virtual bool browseOpen() = 0;
    virtual void setBrowseOpen(bool open) = 0;
    virtual double waveformZoom() = 0;
    virtual void setWaveformZoom(double zoom) = 0;
    virtual void enqueue(const QUuid& id) = 0;
    virtual void loadNext() = 0;
    // Loads the track on the deck; nothing for no track.
    virtual void load(std::optional<QUuid> id, int deck) = 0;
    virtual void keySync(int deck) = 0;

    // The performance pads.
    virtual void pressPad(int deck, PadMode mode, int index, bool down, bool erase) = 0;
    virtual bool padLit(int deck, PadMode mode, int index) = 0;

    // The generation key and the workflow's takes.
    virtual void aiPrimary() = 0;
    virtual void aiSecondary() = 0;
    virtual QString aiStepTitle() = 0;
    virtual void reroll() = 0;
    virtual void stepTake(int direction) = 0;

    // The guided tour.
    virtual TourStep tourStep() = 0;
    // Seconds since the tour's step changed.
    virtual double tourElapsed() = 0;
    virtual void tourNext() = 0;
    virtual void tourBack() = 0;

    // --- What the CDJ players drive besides the above.
    // Hands the players' rig to the audio system, which rebuilds the players'
    // output routing when the list changes.
    virtual void setPlayerRig(std::vector<AudioSystem::RigPlayer> rig) { (void)rig; }
    virtual BrowserSort browserSort() { return BrowserSort::added; }
    virtual void setBrowserSort(BrowserSort sort) { (void)sort; }
    // The sort's label as the browser shows it ("ADDED", "A–Z", ...).
    virtual QString browserSortLabel(BrowserSort sort) { (void)sort; return {}; }
    // Whether a render of the generation workflow is under way (capturing,
    // composing or rendering).
    virtual bool generationBusy() { return false; }
};

class ControllerModel final : public QObject {
    Q_OBJECT
public:
    enum class SurfaceChoice { automatic, flx4, flx10 };
    // "AUTO", "FLX4", "FLX10".
    static QString rawValue(SurfaceChoice choice);

    // The card of the last touched hardware control.
    struct Echo {
        QString id;               // which control; a new card replaces the old one
        std::optional<int> deck;  // absent for controls of no deck
        QString title;
        QString value;
        std::optional<double> fraction; // travel 0...1; absent for buttons
        bool bipolar = false;           // the bar grows from its centre
        double stamp = 0;               // scheduler uptime when made
        friend bool operator==(const Echo&, const Echo&) = default;
    };
    struct PadHit {
        int deck = 0;
        int pad = 0;
        double stamp = 0;
        friend bool operator==(const PadHit&, const PadHit&) = default;
    };
    // A CDJ player seen on the network or the USB bus.
    using Player = MIDIHub::Player;
    using Connection = MIDIHub::Connection;

    // Feedback and the browse fold's timings.
    static constexpr double kFeedbackInterval = 0.05;
    static constexpr double kFoldAfter = 6.0;
    static constexpr double kEchoDemoInterval = 0.25;
    static constexpr double kBendRelease = 0.06;
    // The largest single send of one feedback pass.
    static constexpr std::size_t kSlice = 240;

    struct Setup {
        // The MIDI system the hub runs on, asked for once by `start`; default:
        // the system chosen from the environment.
        std::function<std::shared_ptr<MidiSystem>()> midiSystem;
        // Runs tasks on the main thread in order; callable from any thread.
        // Default: the Qt main event loop.
        MIDIHub::MainPoster post;
        // The FLX10 host handshake; called on a detached thread. Default: the USB one.
        std::function<UsbVendorOut(ControllerKind)> handshake;
    };

    // Reads the stored surface choice and last kind and the "--surface"
    // argument. `defaults`, `scheduler` and `log` (null: no log) outlive the
    // model. Main thread.
    ControllerModel(UserDefaults& defaults, Scheduler& scheduler, QStringList arguments, LogSink* log,
                    Setup setup = {}, QObject* parent = nullptr);
    ~ControllerModel() override;

    // The application this model drives; null unlinks it (events are then
    // dropped and feedback stops). Main thread.
    void setHost(ControllerHost* host) { host_ = host; }
    // Called whenever a hardware touch counts as the user's hands on the
    // decks; set by the state root. Main thread.
    void setOnHands(std::function<void()> callback) { onHands_ = std::move(callback); }

    // Starts the echo demo when asked for, installs the hub's callbacks and
    // starts the hub; once. Main thread.
    void start();

    // --- Observed state. Main thread.
    const std::optional<Connection>& connected() const { return connected_; }
    SurfaceChoice surfaceChoice() const { return surfaceChoice_; }
    // Writes "surface.choice" on every assignment.
    void setSurfaceChoice(SurfaceChoice choice);
    ControllerKind lastSeen() const { return lastSeen_; }
    const std::optional<Echo>& echo() const { return echo_; }
    const std::array<double, 4>& touchedAt() const { return touchedAt_; }
    double browsedAt() const { return browsedAt_; }
    // Runs the browse fold on every assignment.
    void setBrowsedAt(double uptime);
    bool digging() const { return digging_; }
    const std::array<bool, 4>& jogHeld() const { return jogHeld_; }
    int leftDeck() const { return leftDeck_; }
    int rightDeck() const { return rightDeck_; }
    // The connected CDJ players in the hub's order.
    const std::vector<Player>& players() const { return players_; }
    // The deck (0...3) each player drives, by port; a port without a deck is
    // absent (a fifth player).
    const std::map<std::int64_t, int>& playerDecks() const { return playerDecks_; }
    // The deck a player drives, none when it has none.
    std::optional<int> playerDeck(std::int64_t port) const;
    const std::optional<PadHit>& padHit() const { return padHit_; }
    std::optional<ControllerKind> forced() const { return forced_; }
    const std::array<HardwarePadMode, 4>& hardwarePads() const { return hardwarePads_; }
    int colorFXButton() const { return colorFXButton_; }

    // The layout the screens draw: two deck lanes for flx4, four for flx10.
    ControllerKind layout() const;
    // The deck under the left (0) or right (any other) half.
    int activeDeck(int side) const { return side == 0 ? leftDeck_ : rightDeck_; }
    // Whether `deck` is under either half of the controller.
    bool isTargeted(int deck) const { return deck == leftDeck_ || deck == rightDeck_; }
    // An odd deck becomes the right half's, an even one the left half's.
    void selectDeck(int deck);
    // Stamps `touchedAt[deck]` now (deck 0...3).
    void touch(int deck);

    // The pad light show of the first-run tour for `deck`: a velocity per pad,
    // or none while no show runs.
    static std::optional<std::function<int(int)>> tourShow(ControllerHost::TourStep step, double elapsed,
                                                           ControllerKind kind, int deck);

    // --- The hub's callbacks, public for tests. Main thread.
    void connectionChanged(const std::optional<Connection>& connection);
    void handle(const std::vector<DDJEvent>& events);
    // One feedback pass.
    void tick();

    // --- The CDJ players (PlayerControl.cpp). Main thread.
    // The hub's player list: assigns decks, remembers them in "players.decks",
    // hands the rig to the audio system and runs the player timer.
    void updatePlayers(const std::vector<Player>& players);
    // One batch of player events in arrival order.
    void handle(const std::vector<MIDIHub::PlayerEvent>& events);
    // Exchanges the decks of the first two players; nothing with fewer than
    // two or when either has no deck.
    void swapPlayers();
    // The player timer's pass: held searches and the release of bends.
    void playerTick();
    // Whether the player timer runs.
    bool playerTimerRuns() const { return playerTimer_ != 0; }
    // The remembered deck of every port ever seen. An unreadable stored value
    // reads as empty.
    static std::map<std::int64_t, int> savedPlayerDecks(const UserDefaults& defaults);
    static void setSavedPlayerDecks(UserDefaults& defaults, const std::map<std::int64_t, int>& decks);
    // Per deck, whether a pitch bend from a jog or platter is in force.
    const std::array<bool, 4>& bending() const { return bending_; }
    // The direction of the search held on each deck (+1, −1, 0 for none).
    const std::array<int, 4>& searching() const { return searching_; }
    // The player timer's period and how long a bend outlives its last step.
    static constexpr double kPlayerInterval = 1.0 / 30.0;
    static constexpr double kPlayerBendRelease = 0.12;

    // The hub, once started; null before. Main thread.
    MIDIHub* hub() const { return hub_.get(); }

signals:
    void connectedChanged();
    void surfaceChoiceChanged();
    void lastSeenChanged();
    void echoChanged();
    void touchedAtChanged();
    void browsedAtChanged();
    void diggingChanged();
    void jogHeldChanged();
    void leftDeckChanged();
    void rightDeckChanged();
    void playersChanged();
    void padHitChanged();
    void playerDecksChanged();

private:
    struct Context;
    void setLastSeen(ControllerKind kind);
    void setEcho(Echo echo);
    void setLeftDeck(int deck);
    void setRightDeck(int deck);
    void setDigging(bool digging);
    void setJogHeld(int deck, bool held);
    void handsOn();
    void note(const QString& line);
    void send(std::span<const std::uint8_t> bytes);

    void handleOne(const DDJEvent& event, ControllerHost& host, ControllerKind kind);
    void deckKey(DeckKey key, DeckModel& deck, bool shift, bool down, ControllerHost& host, ControllerKind kind);
    void knob(MixerKnob knob, int deck, double value, ControllerHost& host);
    void jog(DeckModel& deck, JogSurface surface, int delta, ControllerKind kind);
    bool pass(const QString& id, double value);
    void echoCard(QString id, std::optional<int> deck, QString title, QString value,
                  std::optional<double> fraction = std::nullopt, bool bipolar = false);
    void callCue(DeckModel& deck, int direction);
    void stepSelection(int delta, ControllerHost& host);

    void feedDeck(int d, ControllerKind kind, const MixerState* engine, int blink, ControllerHost& host);
    void jogScreen(DeckModel& deck, int d, const MixerState* engine, ControllerHost& host);
    // Change-only sending: appends `build()` when `slot` holds another value.
    template <typename Build> void set(std::size_t slot, int value, Build&& build);

    UserDefaults& defaults_;
    Scheduler& scheduler_;
    const QStringList arguments_;
    LogSink* log_;
    Setup setup_;
    ControllerHost* host_ = nullptr;
    std::function<void()> onHands_;
    std::unique_ptr<MIDIHub> hub_;

    std::optional<Connection> connected_;
    SurfaceChoice surfaceChoice_ = SurfaceChoice::automatic;
    ControllerKind lastSeen_ = ControllerKind::flx4;
    std::optional<Echo> echo_;
    std::array<double, 4> touchedAt_{0, 0, 0, 0};
    double browsedAt_ = 0;
    bool digging_ = false;
    Scheduler::TimerId fold_ = 0;
    std::array<bool, 4> jogHeld_{false, false, false, false};
    int leftDeck_ = 0;
    int rightDeck_ = 1;
    std::vector<Player> players_;
    Scheduler::TimerId feedback_ = 0;
    Scheduler::TimerId echoDemo_ = 0;
    // The last value sent per feedback key; kUnsent where nothing was sent.
    std::vector<int> sent_;
    std::vector<std::uint8_t> pass_;
    std::array<HardwarePadMode, 4> hardwarePads_{HardwarePadMode::hotCue, HardwarePadMode::hotCue,
                                                 HardwarePadMode::hotCue, HardwarePadMode::hotCue};
    std::array<double, 4> lastBend_{};
    std::array<bool, 4> bending_{false, false, false, false};
    std::map<QString, ControlGate> gates_;
    int colorFXButton_ = 5;
    std::optional<ControllerKind> forced_;
    std::optional<PadHit> padHit_;
    // The player side (PlayerControl.cpp).
    enum class JogKind { platter, side };
    void setPlayerDecks(std::map<std::int64_t, int> decks);
    void rememberPlayerDecks();
    void pushRig();
    void handlePlayerEvent(const MIDIHub::PlayerEvent& event, int deck, ControllerHost& host);
    double elapsed(const MIDIHub::PlayerEvent& event, JogKind kind);
    void bend(DeckModel& deck, double speed);
    void playerButton(CDJButton button, bool down, DeckModel& deck, std::int64_t port, ControllerHost& host);
    bool loadNeighbour(DeckModel& deck, ControllerHost& host);

    std::map<std::int64_t, int> playerDecks_;
    Scheduler::TimerId playerTimer_ = 0;
    std::map<std::pair<std::int64_t, JogKind>, double> platterAt_;
    std::array<int, 4> searching_{0, 0, 0, 0};
    // Per deck, the player whose search key holds `searching`.
    std::array<std::optional<std::int64_t>, 4> searchingPort_{};
    std::map<std::int64_t, bool> erasing_;

    // Stamps "now" for the bend times: seconds since 2001-01-01 00:00 UTC.
    double wallSeconds() const;
};

// The application pad page of a hardware pad page.
PadMode applicationPadMode(HardwarePadMode mode);

} // namespace zelvo
