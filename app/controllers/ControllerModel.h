#pragma once
// The controllers and players driving the application. This build connects
// nothing: no player is seen, no control echoes and `start` does nothing.
//
// Main thread only.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace zelvo {

class ControllerModel final : public QObject {
    Q_OBJECT
public:
    // The card of the last touched hardware control.
    struct Echo {
        QString title;
        QString value;
        friend bool operator==(const Echo&, const Echo&) = default;
    };
    // A CDJ player seen on the network or the USB bus.
    struct Player {
        QString name;
        int deck = 0;
        friend bool operator==(const Player&, const Player&) = default;
    };

    explicit ControllerModel(QObject* parent = nullptr) : QObject(parent) {}

    // Called on discrete controller events (the hands-on time); set by the state
    // root, cleared before it goes. Main thread.
    void setOnHands(std::function<void()> callback) { onHands_ = std::move(callback); }

    const std::optional<Echo>& echo() const { return echo_; }
    const std::vector<Player>& players() const { return players_; }
    // The deck under each half of the controller: side 0 drives deck 1, side 1 deck 2.
    int activeDeck(int side) const { return side == 0 ? 0 : 1; }
    // Installs the MIDI callbacks and starts the hub. Main thread.
    void start() {}

signals:
    void echoChanged();
    void playersChanged();

private:
    std::optional<Echo> echo_;
    std::vector<Player> players_;
    std::function<void()> onHands_;
};

} // namespace zelvo
