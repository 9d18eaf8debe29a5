#pragma once
// One deck of the faceplate; a placeholder of the deck's size naming the deck
// and its record until the faceplate deck is built. Main thread only.
#include "ui/instrument/ModulePlaceholder.h"

namespace zelvo {

class AppModel;
class DeckModel;

class DeckView final : public ModulePlaceholder {
public:
    // The deck's ideal height on the design canvas; its width follows the row.
    static constexpr double kIdealHeight = 510;
    static constexpr double kWidth = 526;

    // `mirrored` lays the deck out for the right-hand side.
    DeckView(AppModel& model, DeckModel& deck, bool mirrored, const kit::UiEnv& env, QWidget* parent = nullptr);
    const DeckModel& deck() const { return deck_; }
    bool mirrored() const { return mirrored_; }

private:
    void follow();
    DeckModel& deck_;
    bool mirrored_;
};

} // namespace zelvo
