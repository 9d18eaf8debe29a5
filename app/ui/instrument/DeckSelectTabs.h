#pragma once
// The tabs over a deck of the four-deck layout that choose which deck a
// controller side drives; a placeholder of their size until they are built.
// Main thread only.
#include "ui/instrument/ModulePlaceholder.h"

namespace zelvo {

class AppModel;

class DeckSelectTabs final : public ModulePlaceholder {
public:
    // Two 52-point tabs 3 apart, padded 6 on both sides.
    static constexpr double kWidth = 2 * 52 + 3 + 2 * 6;
    static constexpr double kHeight = 16;

    // `side`: 0 the left half (decks 1 and 3), any other the right (decks 2 and 4).
    DeckSelectTabs(AppModel&, int side, const kit::UiEnv& env, QWidget* parent = nullptr)
        : ModulePlaceholder(env, side == 0 ? QStringLiteral("deck 1 \u00b7 3") : QStringLiteral("deck 2 \u00b7 4"),
                            QSizeF(kWidth, kHeight), parent),
          side_(side)
    {
        setObjectName(side == 0 ? QStringLiteral("instrument.tabsLeft") : QStringLiteral("instrument.tabsRight"));
    }
    int side() const { return side_; }

private:
    int side_;
};

} // namespace zelvo
