#include "ui/stage/StagePlaceholders.h"

#include "models/DeckModel.h"
#include "ui/kit/Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace zelvo {
namespace stage {

StageCard::StageCard(const QString& title, const QString& name, QWidget* parent) : QWidget(parent), title_(title)
{
    setObjectName(name);
}

void StageCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    painter.fillPath(card, kit::Stage::inkRaised());
    painter.setPen(QPen(kit::Stage::line(), 1));
    painter.drawPath(card);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(10);
    font.setWeight(QFont::Medium);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2.6);
    painter.setFont(font);
    painter.setPen(kit::Stage::ashDim());
    painter.drawText(QRectF(rect()).adjusted(14, 10, -14, -10), Qt::AlignLeft | Qt::AlignTop, title_.toUpper());
}

} // namespace stage

StatusBar::StatusBar(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("kavri zelvo"), QStringLiteral("statusBar"), parent)
{
    setFixedHeight(40);
}

DeckPanel::DeckPanel(AppModel&, DeckModel& deck, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("deck %1").arg(deck.index() + 1), QStringLiteral("deckPanel"), parent), deck_(deck)
{
    setMinimumHeight(300);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

LiveMixer::LiveMixer(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("mixer"), QStringLiteral("liveMixer"), parent)
{
    setFixedSize(360, 300);
}

DJMCard::DJMCard(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("direct outs"), QStringLiteral("djmCard"), parent)
{
    setFixedSize(360, 300);
}

MachineStrip::MachineStrip(AppModel&, kit::UiEnv, QWidget* parent)
    : StageCard(QStringLiteral("zelvo-0"), QStringLiteral("machineStrip"), parent)
{
    setFixedHeight(52);
}

StageBrowser::StageBrowser(AppModel&, kit::UiEnv, bool expanded, QWidget* parent)
    : StageCard(QStringLiteral("crate"), QStringLiteral("stageBrowser"), parent), expanded_(expanded)
{
    setExpanded(expanded);
}

void StageBrowser::setExpanded(bool expanded)
{
    expanded_ = expanded;
    setMinimumHeight(expanded ? 260 : 150);
}

} // namespace zelvo
