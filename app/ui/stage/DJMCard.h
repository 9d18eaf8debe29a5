#pragma once
// The card that stands in for the stage mixer while players play through
// their own outputs into an external mixer: decks 1 and 2 with their source,
// a live level meter and where the rig routes them, refreshed on the live
// clock at 20 frames a second while any deck plays.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageCard.h"

namespace zelvo {

class AppModel;

class DJMCard final : public stage::StageCard {
    Q_OBJECT
public:
    DJMCard(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);

    // Paints of the card itself (its live part counts its own).
    int paints() const { return paints_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int paints_ = 0;
};

} // namespace zelvo
