#pragma once
// The tabs over a deck of the four-deck layout: one per deck a controller half
// can drive, lit for the deck it drives, blinking for the other while that one
// plays in the background; a press makes the half drive that deck.
//
// Main thread only.
#include "ui/instrument/MixerFaces.h"
#include "ui/kit/FaceWidget.h"

#include <QPointer>

#include <array>

namespace zelvo {

class AppModel;

namespace kit {
class HardKey;
}
namespace stage {
class StageSides;
}

class DeckSelectTabs final : public kit::DesignBox {
    Q_OBJECT
public:
    // Two 52-point tabs 3 apart, padded 6 on both sides.
    static constexpr double kWidth = 2 * 52 + 3 + 2 * 6;
    static constexpr double kHeight = 16;

    // `side`: 0 the left half (decks 1 and 3), any other the right (decks 2
    // and 4). `sides` (may be null) tells when the halves change decks.
    DeckSelectTabs(AppModel& model, int side, const kit::UiEnv& env, QWidget* parent = nullptr,
                   stage::StageSides* sides = nullptr);
    int side() const { return side_; }
    kit::HardKey* tab(int i) const { return tabs_[std::size_t(i)]; }
    // What tab `i` (0 the upper deck of the half's pair, 1 the lower) shows now.
    face::TabFace shown(int i) const { return shown_[std::size_t(i)]; }
    // Re-reads the driven deck and the decks' play state onto the tabs.
    void refresh() override;

private:
    AppModel& model_;
    int side_;
    QPointer<stage::StageSides> sides_;
    std::array<kit::HardKey*, 2> tabs_{};
    std::array<face::TabFace, 2> shown_{};
};

} // namespace zelvo
