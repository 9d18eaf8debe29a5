#include "ui/kit/ThemeViews.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"

#include <QFontMetricsF>
#include <QRadialGradient>
#include <QTransform>
#include <cmath>

namespace zelvo::kit {

QSizeF TextLine::size() const
{
    const QFontMetricsF m(font);
    return QSizeF(std::ceil(m.horizontalAdvance(text)), std::ceil(m.height()));
}

void TextLine::draw(Canvas& canvas, QPointF topLeft) const
{
    canvas.drawText(QRectF(topLeft, size() + QSizeF(2, 0)), text, font, color, Qt::AlignLeft | Qt::AlignVCenter);
}

TextLine silkText(const QString& text, double size, const QColor& color, double tracking)
{
    return TextLine{text.toUpper(), condensedBoldFont(size, tracking), color};
}

TextLine stageText(const QString& text, double size, const QColor& color)
{
    return TextLine{text.toUpper(), monoFont(size, size * 0.26), color};
}

SilkLabel::SilkLabel(const UiEnv& env, const QString& text, double size, const QColor& color, double tracking,
                     QWidget* parent)
    : FaceWidget(env, parent), line_(silkText(text, size, color, tracking))
{
    resizeToDesign();
}

void SilkLabel::paintFace(Canvas& canvas) { line_.draw(canvas, QPointF(0, 0)); }

StageLabel::StageLabel(const UiEnv& env, const QString& text, double size, const QColor& color, QWidget* parent)
    : FaceWidget(env, parent), line_(stageText(text, size, color))
{
    resizeToDesign();
}

QSizeF StageLabel::designSize() const
{
    QSizeF s = line_.size();
    if (maxWidth_ > 0)
        s.setWidth(std::min(s.width(), maxWidth_));
    return s;
}

void StageLabel::setMaxWidth(double width)
{
    maxWidth_ = width;
    resizeToDesign();
    update();
}

void StageLabel::paintFace(Canvas& canvas)
{
    TextLine shown = line_;
    const QSizeF s = designSize();
    if (s.width() < line_.size().width())
        shown.text = QFontMetricsF(line_.font).elidedText(line_.text, Qt::ElideRight, s.width());
    canvas.drawText(QRectF(QPointF(0, 0), s), shown.text, shown.font, shown.color, Qt::AlignLeft | Qt::AlignVCenter);
}

namespace ScrewMath {

QPolygonF slot(double size, double angle)
{
    const QRectF r(-0.36 * size, -0.07 * size, 0.72 * size, 0.14 * size);
    QTransform t;
    t.translate(size / 2, size / 2);
    t.rotate(angle);
    return t.map(QPolygonF(r));
}

} // namespace ScrewMath

void drawScrew(Canvas& canvas, double size, double angle)
{
    QPainterPath head;
    head.addEllipse(QRectF(0, 0, size, size));
    QRadialGradient g(QPointF(0.35 * size, 0.30 * size), 0.7 * size);
    g.setColorAt(0, withAlpha(Palette::ash(), 0.9));
    g.setColorAt(0.5, Palette::ashDim());
    g.setColorAt(1, Palette::inkDeep());
    canvas.fillPath(head, g);
    QPainterPath slot;
    slot.addPolygon(ScrewMath::slot(size, angle));
    slot.closeSubpath();
    canvas.fillPath(slot, withAlpha(Palette::inkDeep(), 0.9));
    QPainterPath rim;
    rim.addEllipse(QRectF(0.3, 0.3, size - 0.6, size - 0.6));
    QPen pen(withAlpha(Qt::black, 0.6), 0.6, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    canvas.strokePath(rim, pen);
}

Screw::Screw(const UiEnv& env, double size, double angle, QWidget* parent)
    : FaceWidget(env, parent), size_(size), angle_(angle)
{
    resizeToDesign();
}

} // namespace zelvo::kit
