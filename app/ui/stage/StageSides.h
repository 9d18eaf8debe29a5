#pragma once
// What the stage reads of the controller: its layout (two or four decks), the
// deck each side drives, whether the browse encoder was turned lately, when
// each deck was last touched and the echo card of the last moved control.
// The controller model feeds it; without a controller it holds the defaults
// (two decks, left side on deck 0, right side on deck 1, not digging).
//
// Main thread only.
#include <QObject>
#include <QString>

#include <array>
#include <optional>

namespace zelvo::stage {

// A hardware pad hit: deck, pad and the scheduler uptime of the hit.
struct PadHitStamp {
    int deck = 0;
    int pad = 0;
    double stamp = 0;
    friend bool operator==(const PadHitStamp&, const PadHitStamp&) = default;
};

// The card of the last moved control; it ages from `stamp` (scheduler uptime).
struct Echo {
    QString id;
    std::optional<int> deck;
    QString title;
    QString value;
    std::optional<double> fraction;
    bool bipolar = false;
    double stamp = 0;
    friend bool operator==(const Echo&, const Echo&) = default;
};

class StageSides final : public QObject {
    Q_OBJECT
public:
    explicit StageSides(QObject* parent = nullptr) : QObject(parent) {}

    bool fourDecks() const { return fourDecks_; }
    int leftDeck() const { return leftDeck_; }
    int rightDeck() const { return rightDeck_; }
    bool digging() const { return digging_; }

    void setFourDecks(bool on) { set(fourDecks_, on, &StageSides::layoutChanged); }
    // Decks 0…3; other values are ignored.
    void setLeftDeck(int deck) { setDeck(leftDeck_, deck); }
    void setRightDeck(int deck) { setDeck(rightDeck_, deck); }
    void setDigging(bool on) { set(digging_, on, &StageSides::diggingChanged); }

    // Uptime of the controller's latest event for each deck; −∞ before any.
    double touchedAt(int deck) const { return deck >= 0 && deck < 4 ? touchedAt_[std::size_t(deck)] : -1e300; }
    void setTouchedAt(int deck, double uptime)
    {
        if (deck < 0 || deck > 3)
            return;
        touchedAt_[std::size_t(deck)] = uptime;
        emit touched(deck);
    }
    const std::optional<Echo>& echo() const { return echo_; }
    void setEcho(std::optional<Echo> echo)
    {
        if (echo_ == echo)
            return;
        echo_ = std::move(echo);
        emit echoChanged();
    }

    // Whether a controller is connected; without one every deck panel counts as targeted.
    bool connected() const { return connected_; }
    void setConnected(bool on) { set(connected_, on, &StageSides::connectedChanged); }
    // The controller's latest hardware pad hit (it keeps one).
    const std::optional<PadHitStamp>& padHit() const { return padHit_; }
    void setPadHit(std::optional<PadHitStamp> hit)
    {
        if (padHit_ == hit)
            return;
        padHit_ = hit;
        emit padHitChanged();
    }

signals:
    void connectedChanged();
    void padHitChanged();
    void layoutChanged();
    void sidesChanged();
    void diggingChanged();
    void touched(int deck);
    void echoChanged();

private:
    void set(bool& field, bool value, void (StageSides::*signal)())
    {
        if (field == value)
            return;
        field = value;
        emit(this->*signal)();
    }
    void setDeck(int& field, int deck)
    {
        if (deck < 0 || deck > 3 || field == deck)
            return;
        field = deck;
        emit sidesChanged();
    }

    bool fourDecks_ = false;
    int leftDeck_ = 0;
    int rightDeck_ = 1;
    bool digging_ = false;
    std::array<double, 4> touchedAt_{-1e300, -1e300, -1e300, -1e300};
    std::optional<Echo> echo_;
    bool connected_ = false;
    std::optional<PadHitStamp> padHit_;
};

} // namespace zelvo::stage
