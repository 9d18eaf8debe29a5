#pragma once
// The stage mixer: one strip per mixer channel of the controller layout (two or
// four) around a master column, with the crossfader underneath. Every control
// is bound to a property of the mixer or channel model; the meters read the
// running engine's peak cells on the live clock at 30 frames a second, paused
// while nothing they show can move. A layout change rebuilds the strips.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageCard.h"

#include <QPointer>
#include <vector>

namespace zelvo {

class AppModel;

namespace stage {
class StageSides;
}

class LiveMixer final : public stage::StageCard {
    Q_OBJECT
public:
    // `sides` tells the layout and which decks the controller drives; without
    // it the controller link answers and the strips follow no layout change.
    LiveMixer(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr, stage::StageSides* sides = nullptr);

    bool fourDecks() const { return fourDecks_; }
    // The strips' channel indices as built, left to right.
    const std::vector<int>& order() const { return order_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool readFourDecks() const;
    bool targeted(int deck) const;
    void rebuild();
    QWidget* buildStrip(int index, QWidget* parent);
    QWidget* buildMasterColumn(QWidget* parent);

    AppModel& model_;
    kit::UiEnv env_;
    QPointer<stage::StageSides> sides_;
    bool fourDecks_ = false;
    std::vector<int> order_;
    QWidget* body_ = nullptr;
};

} // namespace zelvo
