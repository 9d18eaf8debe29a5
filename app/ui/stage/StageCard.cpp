#include "ui/stage/StageCard.h"

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
} // namespace zelvo
