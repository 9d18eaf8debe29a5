#include "ui/instrument/FaceModule.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"

namespace zelvo {

FaceModule::FaceModule(const kit::UiEnv& env, const QString& name, QSizeF designSize, QWidget* parent)
    : FaceWidget(env, parent), name_(name), size_(designSize)
{
    resizeToDesign();
}

void FaceModule::setDesignSize(QSizeF size)
{
    if (size == size_)
        return;
    size_ = size;
    designSizeChanged();
    resizeToDesign();
    update();
}

void FaceModule::setDetail(const QString& detail)
{
    if (detail == detail_)
        return;
    detail_ = detail;
    update();
}

void FaceModule::paintFace(kit::Canvas& canvas)
{
    const QRectF box = QRectF(QPointF(0, 0), size_).adjusted(0.5, 0.5, -0.5, -0.5);
    if (box.width() <= 0 || box.height() <= 0)
        return;
    QPainterPath shape;
    shape.addRoundedRect(box, 6, 6);
    canvas.fillPath(shape, kit::Palette::panel());
    canvas.strokePath(shape, QPen(kit::Palette::edge(), 1));
    const kit::TextLine title = kit::silkText(name_, 9, kit::Palette::ash(), 2);
    const kit::TextLine line = kit::silkText(detail_, 7, kit::withAlpha(kit::Palette::bone(), 0.6), 1.4);
    const double h = title.size().height() + (detail_.isEmpty() ? 0 : 4 + line.size().height());
    double y = (size_.height() - h) / 2;
    title.draw(canvas, QPointF((size_.width() - title.size().width()) / 2, y));
    if (!detail_.isEmpty()) {
        y += title.size().height() + 4;
        line.draw(canvas, QPointF((size_.width() - line.size().width()) / 2, y));
    }
}

} // namespace zelvo
