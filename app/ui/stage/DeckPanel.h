#pragma once
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageCard.h"

namespace zelvo {

class AppModel;
class DeckModel;

class DeckPanel final : public stage::StageCard {
    Q_OBJECT
public:
    DeckPanel(AppModel& model, DeckModel& deck, kit::UiEnv env, QWidget* parent = nullptr);
    DeckModel& deck() const { return deck_; }

private:
    DeckModel& deck_;
};

} // namespace zelvo
