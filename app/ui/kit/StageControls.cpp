#include "ui/kit/StageControls.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>

namespace zelvo::kit {

namespace {

QPainterPath arc(QPointF c, double radius, double a, double b)
{
    QPainterPath p;
    const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
    // Qt's angles run counter-clockwise; ours clockwise on screen.
    const double from = 135 + 270 * a, sweep = 270 * (b - a);
    p.arcMoveTo(box, -from);
    p.arcTo(box, -from, -sweep);
    return p;
}

QPainterPath rounded(const QRectF& r, double radius)
{
    QPainterPath p;
    const double rr = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    p.addRoundedRect(r, rr, rr);
    return p;
}

} // namespace

void drawLiveKnobDial(Canvas& canvas, const LiveKnobLook& look)
{
    const QPointF c(look.size / 2, look.size / 2);
    const double R = look.size / 2;
    const double p = rangeFraction(look.value, look.range);
    canvas.strokePath(arc(c, R - 2, 0, 1), QPen(Stage::line(), 2.4, Qt::SolidLine, Qt::RoundCap));
    if (auto span = LiveKnobMath::valueArc(p, look.bipolar))
        canvas.strokePath(arc(c, R - 2, span->first, span->second), QPen(look.tint, 2.4, Qt::SolidLine, Qt::RoundCap));
    QPainterPath disc;
    disc.addEllipse(c, std::max(0.0, R - 5), std::max(0.0, R - 5));
    canvas.fillPath(disc, Stage::inkHigh());
    const double a = (135 + 270 * p) * M_PI / 180.0;
    QPainterPath pointer;
    pointer.moveTo(c + QPointF(std::cos(a), std::sin(a)) * 0.18 * R);
    pointer.lineTo(c + QPointF(std::cos(a), std::sin(a)) * (R - 6));
    canvas.strokePath(pointer, QPen(Stage::paper(), 1.8, Qt::SolidLine, Qt::RoundCap));
}

QSizeF liveFaderSize(const LiveFaderLook& look)
{
    return look.vertical ? QSizeF(30, look.length) : QSizeF(look.length, 30);
}

void drawLiveFader(Canvas& canvas, const LiveFaderLook& look)
{
    const QSizeF frame = liveFaderSize(look);
    const double A = look.vertical ? frame.height() : frame.width();
    const QPointF mid(frame.width() / 2, frame.height() / 2);
    const QRectF track = look.vertical ? QRectF(mid.x() - 2, 0, 4, A) : QRectF(0, mid.y() - 2, A, 4);
    canvas.fillPath(rounded(track, 2), Stage::ink());

    std::vector<QRectF> ticks;
    for (int k = 0; k <= 8; ++k) {
        const double at = 6 + (A - 12) * k / 8.0;
        ticks.push_back(look.vertical ? QRectF(mid.x() - 9 - 3, at - 0.5, 6, 1) : QRectF(at - 0.5, mid.y() - 9 - 3, 1, 6));
    }
    canvas.fillRects(ticks, withAlpha(Stage::ashDim(), 0.5));

    const double pos = LiveFaderMath::capPosition(look.value, look.range, A, look.vertical, look.invert);
    const QPointF c = look.vertical ? QPointF(mid.x(), pos) : QPointF(pos, mid.y());
    const QSizeF capSize = look.vertical ? QSizeF(22, 12) : QSizeF(12, 22);
    const QRectF cap(c.x() - capSize.width() / 2, c.y() - capSize.height() / 2, capSize.width(), capSize.height());
    QLinearGradient fill(cap.topLeft(), cap.bottomLeft());
    fill.setColorAt(0, Stage::bone());
    fill.setColorAt(1, QColor(185, 174, 152));
    canvas.fillPath(rounded(cap, 3), fill);
    const QRectF mark = look.vertical ? QRectF(c.x() - 7, c.y() - 0.75, 14, 1.5) : QRectF(c.x() - 0.75, c.y() - 7, 1.5, 14);
    canvas.fillRects({mark}, Stage::ink());
}

QSizeF segmentMeterSize(int segments, double width)
{
    const int n = std::max(0, segments);
    return QSizeF(width, n > 0 ? n * 3 + (n - 1) * 1.5 : 0);
}

void drawSegmentMeter(Canvas& canvas, double level, int segments, double width)
{
    if (segments <= 0)
        return;
    const int lit = meterLitCount(level, segments);
    const double H = segmentMeterSize(segments, width).height();
    std::map<QRgb, std::pair<QColor, std::vector<QRectF>>> byColour;
    for (int i = 0; i < segments; ++i) {
        const QColor c = MeterMath::segmentColor(i, segments, lit);
        auto& slot = byColour[c.rgba()];
        slot.first = c;
        slot.second.push_back(QRectF(0, H - 3 - i * 4.5, width, 3));
    }
    for (const auto& [key, entry] : byColour)
        canvas.fillRects(entry.second, entry.first);
}

void drawLiveKey(Canvas& canvas, const QString& label, bool lit, const QColor& tint, QSizeF size)
{
    const QRectF r(QPointF(0, 0), size);
    const QPainterPath body = rounded(r, 4);
    if (lit)
        canvas.shadow(body, withAlpha(tint, 0.5), 5, QPointF(0, 0));
    canvas.fillPath(body, lit ? tint : Stage::inkHigh());
    canvas.strokePath(rounded(r.adjusted(0.5, 0.5, -0.5, -0.5), 3.5), QPen(lit ? tint : Stage::line(), 1));
    canvas.drawText(r, label, monoFont(8.5, 1.0), lit ? Stage::ink() : withAlpha(Stage::bone(), 0.85),
                    Qt::AlignCenter);
}

// ---- LiveKnob

LiveKnob::LiveKnob(const UiEnv& env, Binding<double> value, Range range, bool bipolar, std::optional<QString> label,
                   double size, double reset, const QColor& tint, QWidget* parent)
    : FaceWidget(env, parent), value_(std::move(value)), range_(range), bipolar_(bipolar), label_(std::move(label)),
      size_(size), reset_(reset), tint_(tint)
{
    resizeToDesign();
}

QSizeF LiveKnob::designSize() const
{
    if (!label_)
        return QSizeF(size_, size_);
    const QSizeF l = stageText(*label_, 7, Stage::ash()).size();
    return QSizeF(std::max(size_, l.width()), size_ + 2 + l.height());
}

bool LiveKnob::hitTest(QPointF p) const
{
    return QLineF(QPointF(designSize().width() / 2, size_ / 2), p).length() <= size_ / 2;
}

void LiveKnob::paintFace(Canvas& canvas)
{
    const QSizeF s = designSize();
    canvas.save();
    canvas.translate(QPointF((s.width() - size_) / 2, 0));
    drawLiveKnobDial(canvas, LiveKnobLook{value_.get(), range_, bipolar_, size_, tint_});
    canvas.restore();
    if (label_) {
        const TextLine l = stageText(*label_, 7, Stage::ash());
        l.draw(canvas, QPointF((s.width() - l.size().width()) / 2, size_ + 2));
    }
}

void LiveKnob::setTint(const QColor& tint)
{
    if (tint == tint_)
        return;
    tint_ = tint;
    update();
}

void LiveKnob::mousePressEvent(QMouseEvent* event)
{
    const QPointF p = toDesign(event->position());
    if (event->button() != Qt::LeftButton || !hitTest(p)) {
        event->ignore();
        return;
    }
    pressAt_ = p;
    dragging_ = false;
}

void LiveKnob::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressAt_)
        return;
    const QPointF d = toDesign(event->position()) - *pressAt_;
    if (!dragging_ && std::hypot(d.x(), d.y()) < 1)
        return;
    dragging_ = true;
    if (!start_)
        start_ = value_.get();
    value_.set(LiveKnobMath::dragValue(*start_, range_, d.y()));
    update();
}

void LiveKnob::mouseReleaseEvent(QMouseEvent*)
{
    pressAt_.reset();
    start_.reset();
    dragging_ = false;
}

void LiveKnob::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!hitTest(toDesign(event->position()))) {
        event->ignore();
        return;
    }
    value_.set(reset_);
    update();
}

// ---- LiveFader

LiveFader::LiveFader(const UiEnv& env, Binding<double> value, Range range, double length, bool vertical, bool invert,
                     double reset, QWidget* parent)
    : FaceWidget(env, parent), value_(std::move(value)), range_(range), length_(length), vertical_(vertical),
      invert_(invert), reset_(reset)
{
    resizeToDesign();
}

LiveFaderLook LiveFader::look() const { return LiveFaderLook{value_.get(), range_, length_, vertical_, invert_}; }

void LiveFader::touch(QPointF p)
{
    const QSizeF frame = designSize();
    const double axis = vertical_ ? frame.height() : frame.width();
    if (auto v = LiveFaderMath::touchValue(vertical_ ? p.y() : p.x(), range_, axis, vertical_, invert_)) {
        value_.set(*v);
        update();
    }
}

void LiveFader::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    touch(toDesign(event->position()));
}

void LiveFader::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        touch(toDesign(event->position()));
}

void LiveFader::mouseDoubleClickEvent(QMouseEvent*)
{
    value_.set(reset_);
    update();
}

// ---- SegmentMeter

SegmentMeter::SegmentMeter(const UiEnv& env, std::function<double()> level, int segments, double width,
                           QWidget* parent)
    : FaceWidget(env, parent), level_(std::move(level)), segments_(segments), width_(width)
{
    resizeToDesign();
}

void SegmentMeter::paintFace(Canvas& canvas)
{
    shown_ = level_ ? level_() : 0.0;
    drawSegmentMeter(canvas, shown_, segments_, width_);
}

// ---- LiveKey

LiveKey::LiveKey(const UiEnv& env, const QString& label, bool lit, const QColor& tint, double width, double height,
                 std::function<void()> action, QWidget* parent)
    : FaceWidget(env, parent), label_(label), lit_(lit), tint_(tint), size_(width, height), action_(std::move(action))
{
    resizeToDesign();
}

void LiveKey::setLit(bool lit)
{
    if (lit == lit_)
        return;
    lit_ = lit;
    update();
}

void LiveKey::setLabel(const QString& label)
{
    if (label == label_)
        return;
    label_ = label;
    update();
}

void LiveKey::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    down_ = true;
}

void LiveKey::mouseReleaseEvent(QMouseEvent* event)
{
    const bool inside = rect().contains(event->position().toPoint());
    const bool click = down_ && inside && event->button() == Qt::LeftButton;
    down_ = false;
    if (click && action_)
        action_();
}

} // namespace zelvo::kit
