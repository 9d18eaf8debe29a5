#pragma once
// The program's one MIDI client. It finds a DDJ controller, or else CDJ
// players, among the system's sources by name, keeps them connected as the
// setup changes, decodes their messages on the MIDI receive thread and hands
// the events to the main thread in batches, sends bytes to the controller and
// keeps it awake. A controller and players exclude each other.
#include "controllers/CDJEvent.h"
#include "controllers/ControllerKind.h"
#include "controllers/DDJDecoder.h"
#include "controllers/DDJEvent.h"
#include "controllers/PlayerModel.h"
#include "platform/MidiSystem.h"
#include "platform/Scheduler.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zelvo {

class MIDIHub {
public:
    struct Connection {
        ControllerKind kind = ControllerKind::flx4;
        std::string name; // the source's display name as read
        bool operator==(const Connection&) const = default;
    };
    struct Player {
        PlayerModel model = PlayerModel::cdj3000x;
        std::string name;
        std::int64_t port = 0; // USB location, else the source's unique id
        bool operator==(const Player&) const = default;
    };
    struct PlayerEvent {
        std::int64_t port = 0;
        CDJEvent event;
        double at = 0; // scheduler uptime when the packets arrived
        bool operator==(const PlayerEvent&) const = default;
    };

    // A task to run later on the main thread. The task object is made once and
    // shared, so posting it from the receive thread allocates nothing.
    using Task = std::shared_ptr<const std::function<void()>>;
    using MainPoster = std::function<void(Task)>;
    // Posts to the Qt main event loop (QCoreApplication's thread).
    static MainPoster qtMainPoster();

    // Main thread. `post` runs tasks on the main thread in order; the
    // scheduler's timers drive the keep-alive and its uptime stamps player events.
    MIDIHub(std::shared_ptr<MidiSystem> system, Scheduler& scheduler, MainPoster post);
    // Disconnects every source, waits for a receive in progress and stops
    // every callback; a drain posted earlier then finds the hub gone. Main thread.
    ~MIDIHub();
    MIDIHub(const MIDIHub&) = delete;
    MIDIHub& operator=(const MIDIHub&) = delete;

    // Set before start(); called on the main thread.
    std::function<void(const std::optional<Connection>&)> onConnection;
    std::function<void(const std::vector<DDJEvent>&)> onEvents;
    std::function<void(const std::vector<Player>&)> onPlayers;
    std::function<void(const std::vector<PlayerEvent>&)> onPlayerEvents;

    // Creates the client and its ports and scans; once. Main thread.
    void start();
    // Scans the setup again (a setup change posts this). Main thread.
    void rescan();
    // Sends complete messages to the controller; nothing without a destination.
    // Main thread.
    void send(std::span<const std::uint8_t> bytes);

    const std::optional<Connection>& connection() const { return connection_; }
    const std::vector<Player>& players() const { return players_; }

    // A player's port: its USB location when readable and not 0, else its
    // unique id, else 0; never negative. Main thread.
    static std::int64_t portOf(MidiSystem& system, MidiSystem::Endpoint source);
    // Merges runs of one control in place: browse deltas and same-deck,
    // same-surface jog deltas add up; a knob replaces the same knob of the same
    // deck; crossfader, headphones mix and beat-effect level replace their own
    // kind. Only neighbours merge; order is kept. Any thread.
    static void coalesce(std::vector<DDJEvent>& events);

private:
    void receive(MidiEventList events, std::uint64_t connectionRef);
    void receiveController(MidiEventList events);
    void receivePlayer(MidiEventList events, std::int64_t port);
    void drain();
    void scanPlayers(bool controllerFound);
    void sendKeepAlive();

    std::shared_ptr<MidiSystem> system_;
    Scheduler& scheduler_;
    MainPoster post_;
    bool started_ = false;

    // Main thread.
    std::optional<Connection> connection_;
    std::vector<Player> players_;
    std::map<MidiSystem::Endpoint, std::int64_t> playerSources_;
    MidiSystem::Endpoint source_ = 0;
    MidiSystem::Endpoint destination_ = 0;
    Scheduler::TimerId keepAlive_ = 0;
    std::vector<DDJEvent> drainEvents_;
    std::vector<PlayerEvent> drainPlayerEvents_;

    // Guards decoder_, pending_, pendingPlayer_ and drainScheduled_; held for
    // list operations and decoding only, never around a callback.
    std::mutex mutex_;
    std::optional<DDJDecoder> decoder_;
    std::vector<DDJEvent> pending_;
    std::vector<PlayerEvent> pendingPlayer_;
    bool drainScheduled_ = false;

    // The posted tasks hold this weakly; it dies with the hub.
    std::shared_ptr<MIDIHub*> self_;
    Task drainTask_;
    Task rescanTask_;
};

} // namespace zelvo
