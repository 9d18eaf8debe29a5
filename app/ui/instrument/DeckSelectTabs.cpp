#include "ui/instrument/DeckSelectTabs.h"

#include "state/AppLinks.h"
#include "state/AppModel.h"
#include "models/DeckModel.h"
#include "ui/instrument/MixerFaces.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/HardwareControls.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StageSides.h"

namespace zelvo {

DeckSelectTabs::DeckSelectTabs(AppModel& model, int side, const kit::UiEnv& env, QWidget* parent,
                               stage::StageSides* sides)
    : DesignBox(env, QSizeF(kWidth, kHeight), parent), model_(model), side_(side), sides_(sides)
{
    const QString sideName = side == 0 ? QStringLiteral("left") : QStringLiteral("right");
    setObjectName(side == 0 ? QStringLiteral("instrument.tabsLeft") : QStringLiteral("instrument.tabsRight"));
    setBackground([](kit::Canvas& canvas, QSizeF size) { canvas.fillRect(QRectF(QPointF(0, 0), size), kit::Palette::ink()); });
    const std::array<int, 2> decks = face::tabDecks(side);
    AppModel* app = &model;
    for (std::size_t i = 0; i < decks.size(); ++i) {
        const int deck = decks[i];
        auto* key = new kit::HardKey(env, QStringLiteral("Deck %1").arg(deck + 1), std::nullopt, false, false,
                                     kit::KeyStyle::key, 52, 16, false, [this, app, deck] {
                                         app->controller().selectDeck(deck);
                                         refresh();
                                     });
        key->setObjectName(QStringLiteral("tabs.%1.deck%2").arg(sideName).arg(deck + 1));
        place(key, QRectF(6 + double(i) * 55, 0, 52, 16));
        tabs_[i] = key;
        connect(&model.deck(deck), &DeckModel::liveChanged, this, [this] { refresh(); });
    }
    if (sides_)
        repaintOn(sides_.data(), &stage::StageSides::sidesChanged);
    refresh();
}

void DeckSelectTabs::refresh()
{
    const int active = model_.controller().activeDeck(side_);
    const std::array<int, 2> decks = face::tabDecks(side_);
    for (std::size_t i = 0; i < decks.size(); ++i) {
        const face::TabFace f = face::tabFace(decks[i], active, model_.deck(decks[i]).live().playing);
        tabs_[i]->setLit(f.lit);
        tabs_[i]->setBlink(f.blink);
        shown_[i] = f;
    }
    update();
}

} // namespace zelvo
