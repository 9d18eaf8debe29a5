#include "ui/stage/ControllerSides.h"

#include "controllers/ControllerModel.h"
#include "ui/stage/StageSides.h"

#include <QPointer>

#include <array>
#include <memory>

namespace zelvo::stage {

namespace {

std::optional<Echo> echoOf(const ControllerModel& controller)
{
    const auto& card = controller.echo();
    if (!card)
        return std::nullopt;
    return Echo{card->id, card->deck, card->title, card->value, card->fraction, card->bipolar, card->stamp};
}

} // namespace

void followController(StageSides& sides, ControllerModel& controller)
{
    ControllerModel* const c = &controller;
    StageSides* const s = &sides;
    const auto layout = [c, s] { s->setFourDecks(c->layout() == ControllerKind::flx10); };
    layout();
    s->setLeftDeck(c->leftDeck());
    s->setRightDeck(c->rightDeck());
    s->setDigging(c->digging());
    s->setEcho(echoOf(*c));
    // The model stamps 0 for a deck never touched; only a new stamp glows.
    auto seen = std::make_shared<std::array<double, 4>>(c->touchedAt());

    QObject::connect(c, &ControllerModel::connectedChanged, s, layout);
    const auto padHit = [c, s] {
        const auto& hit = c->padHit();
        s->setPadHit(hit ? std::optional<PadHitStamp>(PadHitStamp{hit->deck, hit->pad, hit->stamp}) : std::nullopt);
    };
    const auto connected = [c, s] { s->setConnected(c->connected().has_value()); };
    padHit();
    connected();
    QObject::connect(c, &ControllerModel::padHitChanged, s, padHit);
    QObject::connect(c, &ControllerModel::connectedChanged, s, connected);
    QObject::connect(c, &ControllerModel::surfaceChoiceChanged, s, layout);
    QObject::connect(c, &ControllerModel::lastSeenChanged, s, layout);
    QObject::connect(c, &ControllerModel::playersChanged, s, layout);
    QObject::connect(c, &ControllerModel::leftDeckChanged, s, [c, s] { s->setLeftDeck(c->leftDeck()); });
    QObject::connect(c, &ControllerModel::rightDeckChanged, s, [c, s] { s->setRightDeck(c->rightDeck()); });
    QObject::connect(c, &ControllerModel::diggingChanged, s, [c, s] { s->setDigging(c->digging()); });
    QObject::connect(c, &ControllerModel::echoChanged, s, [c, s] { s->setEcho(echoOf(*c)); });
    QObject::connect(c, &ControllerModel::touchedAtChanged, s, [c, s, seen] {
        const std::array<double, 4>& now = c->touchedAt();
        for (int deck = 0; deck < 4; ++deck) {
            const std::size_t i = std::size_t(deck);
            if (now[i] != (*seen)[i]) {
                (*seen)[i] = now[i];
                s->setTouchedAt(deck, now[i]);
            }
        }
    });
}

} // namespace zelvo::stage
