#include "ui/stage/TextLineView.h"

#include "ui/kit/Canvas.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace zelvo::stage {

TextLineView::TextLineView(const QFont& font, bool elastic, QWidget* parent)
    : QWidget(parent), font_(font), elastic_(elastic)
{
    setSizePolicy(elastic ? QSizePolicy::Preferred : QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TextLineView::setLine(const QString& text, const QColor& color)
{
    if (text == text_ && color == color_)
        return;
    const bool resized = text != text_;
    text_ = text;
    color_ = color;
    if (resized)
        updateGeometry();
    update();
}

QSize TextLineView::sizeHint() const
{
    const QFontMetricsF metrics(font_);
    return {int(std::ceil(metrics.horizontalAdvance(text_))) + 1, int(std::ceil(metrics.height()))};
}

QSize TextLineView::minimumSizeHint() const
{
    return elastic_ ? QSize(0, sizeHint().height()) : sizeHint();
}

void TextLineView::paintEvent(QPaintEvent*)
{
    ++paints_;
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    kit::PainterCanvas canvas(painter);
    const QString shown = QFontMetricsF(font_).elidedText(text_, Qt::ElideRight, width());
    canvas.drawText(QRectF(rect()), shown, font_, color_, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
}

} // namespace zelvo::stage
