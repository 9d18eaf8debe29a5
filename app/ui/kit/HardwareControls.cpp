#include "ui/kit/HardwareControls.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "platform/Scheduler.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/LiveSchedule.h"
#include "ui/kit/Palette.h"
#include "ui/kit/ThemeViews.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace zelvo::kit {

namespace {

QPainterPath circle(QPointF c, double r)
{
    QPainterPath p;
    p.addEllipse(c, r, r);
    return p;
}

QPainterPath rounded(const QRectF& r, double radius)
{
    QPainterPath p;
    const double rr = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    p.addRoundedRect(r, rr, rr);
    return p;
}

// A border stroked inside the shape's edge: the outline inset by half the line.
void strokeInside(Canvas& canvas, const QRectF& r, double radius, const QColor& colour, double width)
{
    const double h = width / 2;
    canvas.strokePath(rounded(r.adjusted(h, h, -h, -h), radius - h), QPen(colour, width));
}

QPointF onAngle(QPointF c, double degrees, double radius)
{
    const double a = degrees * M_PI / 180.0;
    return QPointF(c.x() + radius * std::cos(a), c.y() + radius * std::sin(a));
}

bool fineDrag(const QMouseEvent* e) { return e->modifiers().testFlag(Qt::AltModifier); }

} // namespace

KeyMetrics keyMetrics(KeyStyle style)
{
    switch (style) {
    case KeyStyle::transport:
        return {QSizeF(64, 64), 13, 1.5};
    case KeyStyle::pad:
        return {QSizeF(50, 34), 12, 0.8};
    case KeyStyle::key:
        return {QSizeF(44, 24), 8.5, 0.8};
    case KeyStyle::wide:
        return {QSizeF(90, 30), 8.5, 0.8};
    }
    return {QSizeF(44, 24), 8.5, 0.8};
}

double keyRadius(KeyStyle style, double width)
{
    switch (style) {
    case KeyStyle::transport:
        return width / 2;
    case KeyStyle::pad:
        return 6;
    default:
        return 4;
    }
}

void drawKnobDial(Canvas& canvas, const KnobLook& look)
{
    const double side = look.size + 12;
    const QPointF c(side / 2, side / 2);
    const double r = look.size / 2;
    const double p = rangeFraction(look.value, look.range);

    QPainterPath litDots, haloDots, unlitDots;
    for (const auto& dot : KnobMath::ring(look.ringDots, p, look.bipolar, c, look.size)) {
        if (dot.lit) {
            haloDots.addEllipse(dot.centre, 2.7, 2.7);
            litDots.addEllipse(dot.centre, 1.1, 1.1);
        } else {
            unlitDots.addEllipse(dot.centre, 1.1, 1.1);
        }
    }
    if (!unlitDots.isEmpty())
        canvas.fillPath(unlitDots, withAlpha(Palette::ash(), 0.18));
    if (!litDots.isEmpty()) {
        canvas.fillPath(haloDots, withAlpha(Palette::glow(), 0.14));
        canvas.fillPath(litDots, Palette::glow());
    }

    // The body does not move with the value: drawn once per size and kept.
    canvas.drawCached(QString::asprintf("knob/%.3f", look.size), QRectF(0, 0, side, side), 2, [&](Canvas& canvas) {
        canvas.fillPath(circle(c + QPointF(0, 1.5), r), withAlpha(Qt::black, 0.6));
        QRadialGradient body(QPointF(c.x() - 0.3 * r, c.y() - 0.4 * r), std::max(0.01, look.size));
        body.setColorAt(0, QColor(58, 51, 41));
        body.setColorAt(1, QColor(20, 17, 13));
        canvas.fillPath(circle(c, r), body);

        QPainterPath knurl;
        for (int k = 0; k < 40; ++k) {
            knurl.moveTo(onAngle(c, k * 9.0, 0.8 * r));
            knurl.lineTo(onAngle(c, k * 9.0, 0.98 * r));
        }
        canvas.strokePath(knurl, QPen(withAlpha(Qt::black, 0.55), 0.8));

        const double capR = 0.76 * r;
        QLinearGradient cap(QPointF(c.x() - capR, c.y() - capR), QPointF(c.x() + capR, c.y() + capR));
        cap.setColorAt(0, QColor(74, 66, 54));
        cap.setColorAt(1, QColor(30, 26, 20));
        canvas.fillPath(circle(c, capR), cap);
        canvas.strokePath(circle(c, capR), QPen(withAlpha(Palette::bone(), 0.1), 0.6));
    });

    QPainterPath pointer;
    const double a = KnobMath::angle(p);
    pointer.moveTo(onAngle(c, a, 0.25 * r));
    pointer.lineTo(onAngle(c, a, 0.9 * r));
    canvas.strokePath(pointer, QPen(Palette::bone(), 2, Qt::SolidLine, Qt::RoundCap));
}

QSizeF faderSize(const FaderLook& look)
{
    const double cross = look.capWidth + 16;
    return look.vertical ? QSizeF(cross, look.length) : QSizeF(look.length, cross);
}

QRectF faderCapRect(const FaderLook& look)
{
    const QSizeF frame = faderSize(look);
    const QSizeF cap = look.vertical ? QSizeF(look.capWidth, 20) : QSizeF(20, look.capWidth);
    const double offset = FaderMath::capOffset(look.value, look.range, look.invert, look.length);
    QPointF centre(frame.width() / 2, frame.height() / 2);
    (look.vertical ? centre.ry() : centre.rx()) += offset;
    return QRectF(centre.x() - cap.width() / 2, centre.y() - cap.height() / 2, cap.width(), cap.height());
}

void drawFader(Canvas& canvas, const FaderLook& look)
{
    const QSizeF frame = faderSize(look);
    const double W = frame.width(), H = frame.height();
    const double A = look.vertical ? H : W, C = look.vertical ? W : H;

    // Ticks and slot do not move with the value: drawn once per look and kept.
    const QString trackKey = QString::asprintf("faderTrack/%d/%.3f/%.3f/%d", int(look.vertical), look.length,
                                               look.capWidth, look.ticks);
    canvas.drawCached(trackKey, QRectF(QPointF(0, 0), frame), 1, [&](Canvas& canvas) {
        std::vector<QRectF> majors, minors;
        for (const auto& tick : FaderMath::ticks(look.ticks, A)) {
            const double len = tick.major ? 6 : 3.5;
            for (double cross : {2.0, C - 2 - len}) {
                const QRectF r = look.vertical ? QRectF(cross, tick.centre - 0.5, len, 1)
                                               : QRectF(tick.centre - 0.5, cross, 1, len);
                (tick.major ? majors : minors).push_back(r);
            }
        }
        canvas.fillRects(minors, withAlpha(Palette::ash(), 0.3));
        canvas.fillRects(majors, withAlpha(Palette::ash(), 0.6));

        const QRectF slot = look.vertical ? QRectF(W / 2 - 2.5, 8, 5, std::max(0.0, H - 16))
                                          : QRectF(8, H / 2 - 2.5, std::max(0.0, W - 16), 5);
        canvas.fillPath(rounded(slot, 2.5), QColor(Qt::black));
        canvas.strokePath(rounded(slot, 2.5), QPen(withAlpha(Palette::edge(), 0.7), 0.5));
    });

    const QRectF placed = faderCapRect(look);
    // The cap looks the same wherever it sits: drawn once and moved.
    canvas.save();
    canvas.translate(placed.topLeft());
    canvas.drawCached(QString::asprintf("faderCap/%d/%.3f", int(look.vertical), look.capWidth),
                      QRectF(QPointF(0, 0), placed.size()), 8, [&](Canvas& canvas) {
        const QRectF cap(QPointF(0, 0), placed.size());
        const QPainterPath capShape = rounded(cap, 3);
        canvas.shadow(capShape, withAlpha(Qt::black, 0.7), 3, QPointF(0, 3));
        QLinearGradient fill(cap.topLeft(), cap.bottomLeft());
        fill.setColorAt(0, QColor(75, 67, 55));
        fill.setColorAt(0.5, QColor(34, 29, 22));
        fill.setColorAt(1, QColor(21, 18, 14));
        canvas.fillPath(capShape, fill);

        std::vector<QRectF> grip;
        const QPointF c = cap.center();
        for (int i = -1; i <= 1; ++i) {
            if (look.vertical)
                grip.push_back(QRectF(cap.left() + 4, c.y() + i * 3.5 - 0.5, cap.width() - 8, 1));
            else
                grip.push_back(QRectF(c.x() + i * 3.5 - 0.5, cap.top() + 4, 1, cap.height() - 8));
        }
        canvas.fillRects(grip, withAlpha(Qt::black, 0.45));

        const QRectF mark = look.vertical ? QRectF(c.x() - (cap.width() - 6) / 2, c.y() - 0.75, cap.width() - 6, 1.5)
                                          : QRectF(c.x() - 0.75, c.y() - (cap.height() - 6) / 2, 1.5, cap.height() - 6);
        QPainterPath markShape;
        markShape.addRect(mark);
        canvas.shadow(markShape, withAlpha(Palette::glow(), 0.55), 2, QPointF(0, 0));
        canvas.fillPath(markShape, Palette::bone());
        strokeInside(canvas, cap, 3, withAlpha(Palette::bone(), 0.12), 0.6);
    });
    canvas.restore();
}

double pressScaleAt(double from, double to, double elapsed)
{
    const double t = std::clamp(std::isfinite(elapsed) ? elapsed / 0.06 : 1.0, 0.0, 1.0);
    const double eased = 1 - (1 - t) * (1 - t);
    return from + (to - from) * eased;
}

QColor lampColour(bool danger) { return danger ? Palette::red() : Palette::ember(); }

namespace {

void drawHardKeyFace(Canvas& canvas, const KeyLook& look);

} // namespace

void drawHardKey(Canvas& canvas, const KeyLook& look)
{
    // A key looks the same for many frames: keep each look as an image.
    const QString key = QString::asprintf("key/%d/%d/%d/%d/%.4f/%.2fx%.2f/", int(look.style), int(look.on),
                                          int(look.pressed), int(look.danger), look.pressScale, look.size.width(),
                                          look.size.height()) +
                        look.label + QChar(0x1F) + look.sublabel.value_or(QString()) + QChar(look.sublabel ? u'1' : u'0');
    canvas.drawCached(key, QRectF(QPointF(0, 0), look.size), 8, [&](Canvas& c) { drawHardKeyFace(c, look); });
}

namespace {

void drawHardKeyFace(Canvas& canvas, const KeyLook& look)
{
    const double W = look.size.width(), H = look.size.height();
    const QRectF r(0, 0, W, H);
    const double radius = keyRadius(look.style, W);
    const QColor lamp = lampColour(look.danger);
    const QPainterPath body = rounded(r, radius);

    canvas.save();
    if (look.pressScale != 1.0) {
        canvas.translate(QPointF(W / 2, H / 2));
        canvas.scale(look.pressScale, look.pressScale);
        canvas.translate(QPointF(-W / 2, -H / 2));
    }
    if (look.pressed)
        canvas.shadow(body, withAlpha(Qt::black, 0.2), 0.5, QPointF(0, 0.5));
    else
        canvas.shadow(body, withAlpha(Qt::black, 0.7), 2, QPointF(0, 1.5));
    if (look.on)
        canvas.shadow(body, withAlpha(lamp, 0.5), 6, QPointF(0, 0));
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, look.pressed ? QColor(17, 18, 22) : QColor(42, 45, 52));
    fill.setColorAt(1, look.pressed ? QColor(27, 29, 34) : QColor(20, 21, 25));
    canvas.fillPath(body, fill);

    if (look.style == KeyStyle::transport || look.style == KeyStyle::pad) {
        const double end = 0.7 * std::max(W, H);
        QRadialGradient well(r.center(), end);
        const double start = end > 1 ? 1.0 / end : 0.0;
        well.setColorAt(0, withAlpha(lamp, look.on ? 0.72 : 0.05));
        well.setColorAt(start, withAlpha(lamp, look.on ? 0.72 : 0.05));
        well.setColorAt(1, withAlpha(lamp, look.on ? 0.16 : 0.0));
        canvas.fillPath(rounded(r.adjusted(2.5, 2.5, -2.5, -2.5), radius - 2), well);
    }
    if (look.on)
        strokeInside(canvas, r, radius, withAlpha(lamp, 0.9), 1.1);
    else
        strokeInside(canvas, r, radius, withAlpha(Palette::bone(), 0.09), 0.7);
    strokeInside(canvas, r.adjusted(0.4, 0.4, -0.4, -0.4), radius - 0.4,
                 withAlpha(Qt::white, look.pressed ? 0.03 : 0.07), 0.7);

    // Legend: lamp dot (plain keys), label, sublabel; centred, 1 pt apart.
    const KeyMetrics m = keyMetrics(look.style);
    const double inner = std::max(1.0, W - 6);
    const QString label = look.label.toUpper();
    const QFont labelFont = fittedFont(condensedBoldFont(m.fontSize, m.tracking), label, inner);
    const QColor labelColour = look.on && look.style != KeyStyle::key ? Palette::paper() : withAlpha(Palette::bone(), 0.8);
    const double labelH = QFontMetricsF(labelFont).height();
    QString sub;
    QFont subFont;
    double subH = 0;
    if (look.sublabel) {
        sub = look.sublabel->toUpper();
        subFont = fittedFont(condensedBoldFont(6.5, 0.5), sub, inner);
        subH = QFontMetricsF(subFont).height();
    }
    const bool dot = look.style == KeyStyle::key;
    const double total = (dot ? 3.5 + 1 : 0) + labelH + (look.sublabel ? 1 + subH : 0);
    double y = (H - total) / 2;
    if (dot) {
        const QPainterPath d = circle(QPointF(W / 2, y + 1.75), 1.75);
        if (look.on) {
            canvas.shadow(d, withAlpha(lamp, 0.7), 3, QPointF(0, 0));
            canvas.fillPath(d, lamp);
        } else {
            canvas.fillPath(d, withAlpha(Palette::ash(), 0.18));
        }
        y += 3.5 + 1;
    }
    canvas.drawText(QRectF(3, y, inner, labelH), label, labelFont, labelColour, Qt::AlignHCenter | Qt::AlignVCenter);
    y += labelH + 1;
    if (look.sublabel)
        canvas.drawText(QRectF(3, y, inner, subH), sub, subFont,
                        look.on ? withAlpha(Palette::paper(), 0.75) : Palette::ash(),
                        Qt::AlignHCenter | Qt::AlignVCenter);
    canvas.restore();
}

} // namespace

void drawLadder(Canvas& canvas, double level, int segments, QSizeF size)
{
    std::map<QRgb, std::vector<QRectF>> halos, lits, unlits;
    for (const auto& s : LadderMath::segments(level, segments, size)) {
        const QRgb key = s.color.rgb();
        if (s.lit) {
            halos[key].push_back(s.rect.adjusted(-1.2, -0.6, 1.2, 0.6));
            lits[key].push_back(s.rect);
        } else {
            unlits[key].push_back(s.rect);
        }
    }
    for (const auto& [rgb, rects] : unlits)
        canvas.fillRects(rects, withAlpha(QColor::fromRgb(rgb), 0.07));
    for (const auto& [rgb, rects] : halos)
        canvas.fillRects(rects, withAlpha(QColor::fromRgb(rgb), 0.18));
    for (const auto& [rgb, rects] : lits)
        canvas.fillRects(rects, withAlpha(QColor::fromRgb(rgb), 0.92));
}

// ---- Knob

Knob::Knob(const UiEnv& env, Binding<double> value, Range range, bool bipolar, std::optional<QString> label,
           double size, std::optional<double> resetValue, int ringDots, QWidget* parent)
    : FaceWidget(env, parent), value_(std::move(value)), range_(range), bipolar_(bipolar), label_(std::move(label)),
      size_(size), reset_(resetValue), ringDots_(ringDots)
{
    resizeToDesign();
}

QSizeF Knob::designSize() const
{
    if (!label_)
        return QSizeF(dialSide(), dialSide());
    const QSizeF l = silkText(*label_, 7.5, Palette::ash(), labelTracking_).size();
    return QSizeF(std::max(dialSide(), l.width()), dialSide() + 3 + l.height());
}

void Knob::fitLabel(double width)
{
    // Tighter letter spacing, in steps of 0.1, until the label fits; the size stays.
    if (!label_)
        return;
    double tracking = 1.1;
    while (tracking > 0 && silkText(*label_, 7.5, Palette::ash(), tracking).size().width() > width)
        tracking = std::max(0.0, tracking - 0.1);
    labelTracking_ = tracking;
    resizeToDesign();
    update();
}

bool Knob::hitTest(QPointF p) const
{
    const QPointF c(designSize().width() / 2, dialSide() / 2);
    return QLineF(c, p).length() <= dialSide() / 2;
}

void Knob::paintFace(Canvas& canvas)
{
    const QSizeF s = designSize();
    canvas.save();
    canvas.translate(QPointF((s.width() - dialSide()) / 2, 0));
    drawKnobDial(canvas, KnobLook{value_.get(), range_, bipolar_, size_, ringDots_});
    canvas.restore();
    if (label_) {
        const TextLine l = silkText(*label_, 7.5, Palette::ash(), labelTracking_);
        l.draw(canvas, QPointF((s.width() - l.size().width()) / 2, dialSide() + 3));
    }
}

void Knob::mousePressEvent(QMouseEvent* event)
{
    const QPointF p = toDesign(event->position());
    if (event->button() != Qt::LeftButton || !hitTest(p)) {
        event->ignore();
        return;
    }
    pressAt_ = p;
    dragging_ = false;
}

void Knob::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressAt_)
        return;
    const QPointF p = toDesign(event->position());
    const QPointF d = p - *pressAt_;
    if (!dragging_ && std::hypot(d.x(), d.y()) < 1)
        return;
    dragging_ = true;
    if (!dragStart_)
        dragStart_ = value_.get();
    value_.set(KnobMath::dragValue(*dragStart_, range_, d.y(), fineDrag(event)));
    update();
}

void Knob::mouseReleaseEvent(QMouseEvent*)
{
    pressAt_.reset();
    dragStart_.reset();
    dragging_ = false;
}

void Knob::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!hitTest(toDesign(event->position()))) {
        event->ignore();
        return;
    }
    value_.set(KnobMath::resetValue(reset_, bipolar_, range_));
    update();
}

// ---- Fader

Fader::Fader(const UiEnv& env, Binding<double> value, Range range, bool vertical, double length, int ticks,
             bool centerDetent, bool invert, std::optional<double> resetValue, double capWidth, QWidget* parent)
    : FaceWidget(env, parent), value_(std::move(value)), range_(range), vertical_(vertical), length_(length),
      ticks_(ticks), centerDetent_(centerDetent), invert_(invert), reset_(resetValue), capWidth_(capWidth)
{
    resizeToDesign();
}

FaderLook Fader::look() const
{
    return FaderLook{value_.get(), range_, vertical_, length_, ticks_, invert_, capWidth_};
}

void Fader::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressAt_ = toDesign(event->position());
}

void Fader::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressAt_)
        return;
    if (!dragStart_)
        dragStart_ = value_.get();
    const QPointF d = toDesign(event->position()) - *pressAt_;
    if (auto v = FaderMath::dragValue(*dragStart_, range_, vertical_ ? d.y() : d.x(), length_, fineDrag(event),
                                      invert_, centerDetent_)) {
        value_.set(*v);
        update();
    }
}

void Fader::mouseReleaseEvent(QMouseEvent*)
{
    pressAt_.reset();
    dragStart_.reset();
}

void Fader::mouseDoubleClickEvent(QMouseEvent*)
{
    value_.set(FaderMath::resetValue(reset_, centerDetent_, range_));
    update();
}

// ---- HardKey

HardKey::HardKey(const UiEnv& env, const QString& label, std::optional<QString> sublabel, bool lit, bool blink,
                 KeyStyle style, std::optional<double> width, std::optional<double> height, bool danger,
                 std::function<void()> onPress, std::function<void()> onRelease, QWidget* parent)
    : FaceWidget(env, parent), label_(label), sublabel_(std::move(sublabel)), lit_(lit), blink_(blink), style_(style),
      size_(width.value_or(keyMetrics(style).size.width()), height.value_or(keyMetrics(style).size.height())),
      danger_(danger), onPress_(std::move(onPress)), onRelease_(std::move(onRelease)),
      timeline_(new LiveTimeline(this, env.liveClock, 6))
{
    updateTimeline();
    resizeToDesign();
}

HardKey::~HardKey()
{
    // A key taken away while held still ends its press.
    end();
    if (animTick_ && env().liveClock)
        env().liveClock->unsubscribe(animTick_);
}

void HardKey::animatePress()
{
    const double target = pressed_ ? 0.965 : 1.0;
    LiveClock* clock = env().liveClock;
    // Still renders and frozen processes show the end of the movement.
    if (!clock || env().snapshotMode || LiveSchedule::frozen() || !isVisible()) {
        pressScale_ = target;
        return;
    }
    animFrom_ = pressScale_;
    animStart_ = clock->scheduler().uptime();
    if (animTick_)
        return;
    animTick_ = clock->subscribe(60, [this, clock](double) {
        const double goal = pressed_ ? 0.965 : 1.0;
        const double elapsed = clock->scheduler().uptime() - animStart_;
        pressScale_ = pressScaleAt(animFrom_, goal, elapsed);
        if (elapsed >= 0.06) {
            pressScale_ = goal;
            clock->unsubscribe(animTick_);
            animTick_ = 0;
        }
        update();
    });
}

void HardKey::updateTimeline() { timeline_->setActive(blink_ && lit_); }

bool HardKey::lampOn() const { return KeyMath::lampOn(lit_, blink_, timeline_->frameTime()); }

KeyLook HardKey::look() const
{
    return KeyLook{label_, sublabel_, lampOn(), pressed_, style_, size_, danger_, pressScale_};
}

void HardKey::paintFace(Canvas& canvas) { drawHardKey(canvas, look()); }

void HardKey::setLit(bool lit)
{
    if (lit == lit_)
        return;
    lit_ = lit;
    updateTimeline();
    update();
}

void HardKey::setBlink(bool blink)
{
    if (blink == blink_)
        return;
    blink_ = blink;
    updateTimeline();
    update();
}

void HardKey::setLabel(const QString& label)
{
    label_ = label;
    update();
}

void HardKey::setSublabel(std::optional<QString> sublabel)
{
    sublabel_ = std::move(sublabel);
    update();
}

void HardKey::setWidth(double width)
{
    if (!std::isfinite(width) || width == size_.width())
        return;
    size_.setWidth(std::max(0.0, width));
    resizeToDesign();
    update();
}

void HardKey::setDanger(bool danger)
{
    danger_ = danger;
    update();
}

void HardKey::begin()
{
    if (pressed_)
        return;
    pressed_ = true;
    animatePress();
    update();
    if (onPress_)
        onPress_();
}

void HardKey::end()
{
    if (!pressed_)
        return;
    pressed_ = false;
    animatePress();
    update();
    if (onRelease_)
        onRelease_();
}

void HardKey::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    begin();
}

void HardKey::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        end();
}

// The second press of a double click arrives as this event: it is a press too.
void HardKey::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void HardKey::hideEvent(QHideEvent* event)
{
    end();
    FaceWidget::hideEvent(event);
}

void HardKey::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        end();
    FaceWidget::changeEvent(event);
}

bool HardKey::event(QEvent* event)
{
    // The grab can be taken away mid-press (a popup, a window switch).
    if (event->type() == QEvent::UngrabMouse || event->type() == QEvent::WindowDeactivate)
        end();
    return FaceWidget::event(event);
}

Pad::Pad(const UiEnv& env, const QString& label, std::optional<QString> sublabel, bool lit,
         std::function<void()> onPress, std::function<void()> onRelease, QWidget* parent)
    : HardKey(env, label, std::move(sublabel), lit, false, KeyStyle::pad, 58.0, 38.0, false, std::move(onPress),
              std::move(onRelease), parent)
{
}

// ---- Legend

Legend::Legend(const UiEnv& env, const QString& text, std::optional<QString> shift, double size, Qt::Alignment align,
               QWidget* parent)
    : FaceWidget(env, parent), text_(text), shift_(std::move(shift)), size_(size), align_(align)
{
    resizeToDesign();
}

QSizeF Legend::designSize() const
{
    QSizeF s = silkText(text_, size_, Palette::bone(), 1.1).size();
    if (shift_) {
        const QSizeF t = silkText(*shift_, size_ - 0.8, Palette::ember(), 1.0).size();
        s = QSizeF(std::max(s.width(), t.width()), s.height() + 0.5 + t.height());
    }
    return s;
}

void Legend::paintFace(Canvas& canvas)
{
    const double W = designSize().width();
    const auto x = [&](double w) {
        if (align_ & Qt::AlignLeft)
            return 0.0;
        if (align_ & Qt::AlignRight)
            return W - w;
        return (W - w) / 2;
    };
    const TextLine main = silkText(text_, size_, withAlpha(Palette::bone(), 0.7), 1.1);
    main.draw(canvas, QPointF(x(main.size().width()), 0));
    if (shift_) {
        const TextLine s = silkText(*shift_, size_ - 0.8, withAlpha(Palette::ember(), 0.75), 1.0);
        s.draw(canvas, QPointF(x(s.size().width()), main.size().height() + 0.5));
    }
}

// ---- LEDLadder

LEDLadder::LEDLadder(const UiEnv& env, std::function<double()> level, int segments, double width, double height,
                     QWidget* parent)
    : FaceWidget(env, parent), level_(std::move(level)), segments_(segments), width_(width), height_(height)
{
    resizeToDesign();
}

void LEDLadder::paintFace(Canvas& canvas)
{
    shown_ = level_ ? level_() : 0.0;
    drawLadder(canvas, shown_, segments_, QSizeF(width_, height_));
}

// ---- SegmentSelector

SegmentSelector::SegmentSelector(const UiEnv& env, const QStringList& options, Binding<int> selection, double width,
                                 QWidget* parent)
    : FaceWidget(env, parent), options_(options), selection_(std::move(selection)), width_(width)
{
    const int current = selection_.get();
    for (int i = 0; i < options_.size(); ++i) {
        auto* key = new HardKey(
            env, options_.at(i), std::nullopt, current == i, false, KeyStyle::key, width_, 22.0, false,
            [this, i] {
                selection_.set(i);
                refresh();
            },
            {}, this);
        key->setObjectName(QStringLiteral("segment%1").arg(i));
        keys_.push_back(key);
    }
    resizeToDesign();
    layoutKeys();
}

QSizeF SegmentSelector::designSize() const
{
    const qsizetype n = options_.size();
    return QSizeF(n > 0 ? n * width_ + (n - 1) * 3.0 : 0.0, 22);
}

void SegmentSelector::refresh()
{
    const int current = selection_.get();
    for (size_t i = 0; i < keys_.size(); ++i)
        keys_[i]->setLit(int(i) == current);
}

void SegmentSelector::scaleChanged()
{
    FaceWidget::scaleChanged();
    layoutKeys();
}

void SegmentSelector::layoutKeys()
{
    const double s = scale();
    for (size_t i = 0; i < keys_.size(); ++i)
        keys_[i]->move(int(std::lround(double(i) * (width_ + 3) * s)), 0);
}

} // namespace zelvo::kit
