#include "ui/stage/StatusBadges.h"

#include "state/AppModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"

#include <algorithm>
#include <cmath>

namespace zelvo {

using namespace kit;

namespace {

constexpr double kBadgeLead = 10;
constexpr double kBadgeLamp = 6;
constexpr double kLampSize = 7;
constexpr double kSpacing = 6;
// How far the lit lamp's glow reaches past its edge (its blur's whole tail, and
// a point for a resampled glow's lean), and its double image's shift either side.
constexpr double kLampGlow = 6;
constexpr double kLampShift = 1;
static_assert(BrainLamp::kGlowLead == kLampGlow + kLampShift);

void paintLamp(Canvas& canvas, const QRectF& rect, bool lit)
{
    QPainterPath circle;
    circle.addEllipse(rect);
    if (lit) {
        canvas.shadow(circle, withAlpha(Palette::glow(), 0.55), 4, QPointF(0, 0));
        canvas.fillPath(circle, Palette::glow());
    } else {
        canvas.fillPath(circle, withAlpha(Palette::ash(), 0.25));
    }
}

} // namespace

ControllerBadge::ControllerBadge(AppModel& app, UiEnv env, QWidget* parent) : FaceWidget(env, parent), app_(app)
{
    setObjectName(QStringLiteral("controllerBadge"));
    repaintOn(&app_.status(), &StatusLink::controllerChanged);
    repaintOn(&app_.status(), &StatusLink::playersChanged);
    refresh();
}

void ControllerBadge::refresh()
{
    const StatusLink& link = app_.status();
    face_ = stage::badgeFace(link.players(), link.connected(), link.layout());
    line_ = silkText(face_.text, 7.5, face_.color, 1.8);
    resizeToDesign();
    update();
}

QSizeF ControllerBadge::designSize() const
{
    const QSizeF text = line_.size();
    return QSizeF(kBadgeLead + kBadgeLamp + kSpacing + text.width(), std::max(text.height(), kBadgeLamp + 8));
}

void ControllerBadge::paintFace(Canvas& canvas)
{
    const QSizeF size = designSize();
    const double mid = size.height() / 2;
    paintLamp(canvas, QRectF(kBadgeLead, mid - kBadgeLamp / 2, kBadgeLamp, kBadgeLamp), face_.lit);
    const QSizeF text = line_.size();
    line_.draw(canvas, QPointF(kBadgeLead + kBadgeLamp + kSpacing, mid - text.height() / 2));
}

BrainLamp::BrainLamp(AppModel& app, UiEnv env, QWidget* parent)
    : FaceWidget(env, parent), app_(app),
      line_(silkText(QStringLiteral("zelvo-0"), 8, withAlpha(Palette::bone(), 0.8), 1.6)),
      timeline_(this, env.liveClock, 3)
{
    setObjectName(QStringLiteral("brainLamp"));
    repaintOn(&app_.status(), &StatusLink::brainStatusChanged);
    resizeToDesign();
    refresh();
}

void BrainLamp::refresh()
{
    // Frames are needed only while the lamp blinks.
    timeline_.setActive(stage::brainLampBlinks(app_.brain().status().kind));
    update();
}

bool BrainLamp::lit() const
{
    return stage::brainLampLit(app_.brain().status().kind, timeline_.frameTime());
}

QSizeF BrainLamp::designSize() const
{
    const QSizeF text = line_.size();
    // The lamp's glow, and left of it the red copy, stay inside the widget: a
    // child widget's painting is clipped to its rectangle. A point spare above
    // and below, as a height of part pixels is rounded when laid out.
    return QSizeF(kGlowLead + kLampSize + kSpacing + text.width(),
                  std::max(text.height(), kLampSize + 2 * kLampGlow + 2));
}

void BrainLamp::paintFace(Canvas& canvas)
{
    const bool on = lit();
    const QSizeF size = designSize();
    const double mid = size.height() / 2;
    const QRectF lamp(kGlowLead, mid - kLampSize / 2, kLampSize, kLampSize);
    if (on) {
        // The lit lamp's double image: the lamp and its glow multiplied by the
        // faceplate red a point left and by its cyan a point right, screened
        // under it.
        // The glow's area is set on whole device pixels, so its images land on
        // the screen unresampled: a resampled glow leans right and down.
        const double ratio = devicePixelRatioF() * scale();
        const auto down = [ratio](double v) { return std::floor(v * ratio + 1e-6) / ratio; };
        const auto up = [ratio](double v) { return std::ceil(v * ratio - 1e-6) / ratio; };
        const QRectF glow = lamp.adjusted(-kLampGlow, -kLampGlow, kLampGlow, kLampGlow);
        const QRectF area(QPointF(down(glow.left()), down(glow.top())), QPointF(up(glow.right()), up(glow.bottom())));
        aberration_.paint(canvas, area, kLampShift, 0.7, 1, ratio, [&](QPainter& painter, QSizeF) {
            PainterCanvas inner(painter);
            paintLamp(inner, lamp.translated(-area.topLeft()), true);
        });
    } else {
        paintLamp(canvas, lamp, false);
    }
    const QSizeF text = line_.size();
    line_.draw(canvas, QPointF(kGlowLead + kLampSize + kSpacing, mid - text.height() / 2));
}

} // namespace zelvo
