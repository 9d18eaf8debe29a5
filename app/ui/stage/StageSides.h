#pragma once
// What the stage reads of the controller: its layout (two or four decks), the
// deck each side drives, and whether the browse encoder was turned lately.
// The controller model feeds it; without a controller it holds the defaults
// (two decks, left side on deck 0, right side on deck 1, not digging).
//
// Main thread only.
#include <QObject>

namespace zelvo::stage {

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

signals:
    void layoutChanged();
    void sidesChanged();
    void diggingChanged();

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
};

} // namespace zelvo::stage
