#include "ui/stage/PlayerList.h"

#include "state/AppModel.h"
#include "models/AudioSystem.h"
#include "ui/stage/SettingsStyle.h"
#include "ui/stage/StatusPresenters.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayoutItem>
#include <QPushButton>
#include <QVBoxLayout>

namespace zelvo {

using stage::CaptionStyle;

PlayerList::PlayerList(AppModel& app, QWidget* parent) : QWidget(parent), app_(app)
{
    setObjectName(QStringLiteral("players"));
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(4);
    connect(&app_.status(), &StatusLink::playersChanged, this, &PlayerList::scheduleRebuild);
    connect(&app_.audio(), &AudioSystem::rigRoutesChanged, this, &PlayerList::scheduleRebuild);
    connect(&app_.audio(), &AudioSystem::directOutsChanged, this, &PlayerList::scheduleRebuild);
    rebuild();
}

void PlayerList::scheduleRebuild()
{
    if (pending_)
        return;
    pending_ = true;
    QMetaObject::invokeMethod(this, [this] {
        pending_ = false;
        rebuild();
    }, Qt::QueuedConnection);
}

void PlayerList::rebuild()
{
    while (QLayoutItem* item = column_->takeAt(0)) {
        if (QLayout* row = item->layout()) {
            while (QLayoutItem* inner = row->takeAt(0)) {
                delete inner->widget();
                delete inner;
            }
        }
        delete item->widget();
        delete item;
    }
    const StatusLink& link = app_.status();
    const std::vector<MIDIHub::Player> players = link.players();
    const std::vector<stage::PlayerRow> rows = stage::playerRows(players, link.playerDecks(), app_.audio().rigRoutes());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* line = new QHBoxLayout;
        const QString n = QString::number(i);
        line->addWidget(stage::monoLabel(rows[i].player, 10, CaptionStyle::primary, QStringLiteral("players.player") + n, this));
        line->addStretch(1);
        line->addWidget(stage::captionLabel(rows[i].deck, CaptionStyle::primary, QStringLiteral("players.deck") + n, this));
        if (!rows[i].route.isEmpty())
            line->addWidget(
                stage::captionLabel(rows[i].route, CaptionStyle::secondary, QStringLiteral("players.route") + n, this));
        column_->addLayout(line);
    }
    auto* swapRow = new QHBoxLayout;
    if (stage::swapKeyShown(players.size())) {
        auto* swap = new QPushButton(QStringLiteral("Swap decks 1 and 2"), this);
        swap->setObjectName(QStringLiteral("players.swap"));
        connect(swap, &QPushButton::clicked, this, [this] { app_.status().swapPlayers(); });
        swapRow->addWidget(swap);
    }
    swapRow->addWidget(stage::captionLabel(stage::routingNote(app_.audio().directOuts()), CaptionStyle::secondary,
                                           QStringLiteral("players.note"), this),
                       1);
    column_->addLayout(swapRow);
}

} // namespace zelvo
