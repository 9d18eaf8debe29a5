#include "ui/stage/Meter.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"

#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace zelvo::stage {

namespace {

QPainterPath capsule(const QRectF& r)
{
    QPainterPath p;
    const double radius = std::min(r.width(), r.height()) / 2;
    p.addRoundedRect(r, radius, radius);
    return p;
}

} // namespace

MeterFace meterFace(double level)
{
    double fill = 0;
    if (level > 0) { // false for NaN
        const double decibels = 20.0 * std::log10(level);
        fill = std::clamp(decibels / 48.0 + 1.0, 0.0, 1.0);
    }
    const QColor& colour = fill > 0.94 ? kit::Stage::ghostRed() : fill > 0.8 ? kit::Stage::signal() : kit::Stage::bone();
    return MeterFace{fill, colour};
}

void paintMeter(kit::Canvas& canvas, QSizeF size, double level)
{
    if (size.width() <= 0 || size.height() <= 0)
        return;
    canvas.fillPath(capsule(QRectF(QPointF(0, 0), size)), kit::Stage::line());
    const MeterFace face = meterFace(level);
    const double height = face.fill * size.height();
    if (height <= 0)
        return;
    canvas.fillPath(capsule(QRectF(0, size.height() - height, size.width(), height)), face.colour);
}

Meter::Meter(const kit::UiEnv& env, QSizeF size, double level, QWidget* parent)
    : FaceWidget(env, parent), size_(size), level_(level)
{
    resizeToDesign();
}

void Meter::setLevel(double level)
{
    // A NaN never equals itself: compare what is drawn instead.
    if (level == level_ || (std::isnan(level) && std::isnan(level_)))
        return;
    level_ = level;
    update();
}

} // namespace zelvo::stage
