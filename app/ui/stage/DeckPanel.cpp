#include "ui/stage/DeckPanel.h"

#include "models/DeckModel.h"

namespace zelvo {

DeckPanel::DeckPanel(AppModel&, DeckModel& deck, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("deck %1").arg(deck.index() + 1), QStringLiteral("deckPanel"), parent), deck_(deck)
{
    setMinimumHeight(300);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

} // namespace zelvo
