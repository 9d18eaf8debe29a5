#include "ui/tour/TourButton.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace zelvo::tour {

namespace S = kit::Stage;

namespace {
QFont labelFont()
{
    return kit::sansFont(13, true);
}
} // namespace

TourButton::TourButton(const QString& title, bool primary, QWidget* parent)
    : QAbstractButton(parent), primary_(primary)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TourButton::setPrimary(bool primary)
{
    if (primary_ == primary)
        return;
    primary_ = primary;
    update();
}

QSize TourButton::sizeHint() const
{
    return {int(std::ceil(kit::textWidth(labelFont(), text()))) + 32, 32};
}

void TourButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    if (primary_) {
        p.setPen(Qt::NoPen);
        p.setBrush(S::paper());
        p.drawRoundedRect(r, 9, 9);
    } else {
        p.setPen(QPen(S::line(), 1));
        p.setBrush(S::inkHigh());
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 8.5, 8.5);
    }
    p.setPen(primary_ ? S::ink() : S::bone());
    p.setFont(labelFont());
    p.drawText(r, Qt::AlignCenter, text());
}

TourLink::TourLink(const QString& title, double size, const QColor& colour, QWidget* parent)
    : QAbstractButton(parent), line_(kit::stageText(title, size, colour))
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TourLink::sizeHint() const
{
    const QSizeF s = line_.size();
    return {int(std::ceil(s.width())), int(std::ceil(s.height()))};
}

void TourLink::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    kit::PainterCanvas canvas(p);
    line_.draw(canvas, QPointF(0, (height() - line_.size().height()) / 2));
}

} // namespace zelvo::tour
