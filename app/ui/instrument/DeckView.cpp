#include "ui/instrument/DeckView.h"

#include "models/DeckModel.h"

namespace zelvo {

DeckView::DeckView(AppModel&, DeckModel& deck, bool mirrored, const kit::UiEnv& env, QWidget* parent)
    : ModulePlaceholder(env, QStringLiteral("deck %1").arg(deck.index() + 1), QSizeF(kWidth, kIdealHeight), parent),
      deck_(deck), mirrored_(mirrored)
{
    setObjectName(QStringLiteral("instrument.deck%1").arg(deck.index() + 1));
    connect(&deck_, &DeckModel::trackChanged, this, &DeckView::follow);
    follow();
}

void DeckView::follow()
{
    const auto& track = deck_.track();
    setDetail(track ? track->title : QStringLiteral("no record"));
}

} // namespace zelvo
