#include "ui/instrument/JogWheel.h"

#include "audio/DeckVoice.h"
#include "models/DeckModel.h"
#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/Palette.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace zelvo {

using kit::withAlpha;
namespace Palette = kit::Palette;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRetryEvery = 1.0 / 30.0;

QPointF polar(const deckface::JogGeometry& g, double angle, double r)
{
    return {g.cx + r * std::cos(angle), g.cy + r * std::sin(angle)};
}

QPainterPath disc(QPointF c, double r)
{
    QPainterPath p;
    p.addEllipse(c, r, r);
    return p;
}

// Lit, halo and unlit squares of a dot-matrix text centred on `cx`.
kit::DotMatrix::Sets matrixDots(const QString& text, double cx, double top, double pitch)
{
    kit::DotMatrix::Sets sets;
    const QStringList chars = kit::DotMatrix::characters(kit::DotMatrix::normalize(text));
    const double n = double(chars.size());
    const double x0 = cx - (6 * n - 1) * pitch / 2;
    const double side = 0.74 * pitch;
    const double grow = 0.3 * pitch;
    for (qsizetype c = 0; c < chars.size(); ++c) {
        const kit::DotMatrix::Glyph& g = kit::DotMatrix::glyphFor(chars[c]);
        for (int r = 0; r < 7; ++r)
            for (int j = 0; j < 5; ++j) {
                const QRectF dot(x0 + (6 * double(c) + j) * pitch, top + r * pitch, side, side);
                if (g[std::size_t(r)] & (1 << (4 - j))) {
                    sets.lit.push_back(dot);
                    sets.halo.push_back(dot.adjusted(-grow, -grow, grow, grow));
                } else {
                    sets.unlit.push_back(dot);
                }
            }
    }
    return sets;
}

std::vector<QRectF> shifted(const std::vector<QRectF>& rects, double dx)
{
    std::vector<QRectF> out;
    out.reserve(rects.size());
    for (const QRectF& r : rects)
        out.push_back(r.translated(dx, 0));
    return out;
}

} // namespace

// What outlives the widget: the voice a drag began on and the commands that
// still wait for room in its ring.
struct JogWheel::Link {
    std::weak_ptr<DeckVoice> voice;
    deckface::JogSender sender;
    Scheduler* scheduler = nullptr;
    Scheduler::TimerId retry = 0;

    bool send(const deckface::JogCommand& c)
    {
        const std::shared_ptr<DeckVoice> v = voice.lock();
        if (!v)
            return true; // the voice is gone: nothing is left to tell it
        switch (c.kind) {
        case deckface::JogCommand::Kind::touch:
            return v->send(DeckCommand::jogTouch(c.down));
        case deckface::JogCommand::Kind::scrub:
            return v->send(DeckCommand::jogScrub(c.value));
        case deckface::JogCommand::Kind::bend:
            return v->send(DeckCommand::jogBend(c.value));
        }
        return true;
    }

    static void deliver(const std::shared_ptr<Link>& link, const std::vector<deckface::JogCommand>& commands)
    {
        const auto send = [raw = link.get()](const deckface::JogCommand& c) { return raw->send(c); };
        if (link->sender.deliver(commands, send))
            armRetry(link);
    }

    static void armRetry(const std::shared_ptr<Link>& link)
    {
        if (link->retry || !link->scheduler)
            return;
        link->retry = link->scheduler->runAfter(kRetryEvery, [link] {
            link->retry = 0;
            const auto send = [raw = link.get()](const deckface::JogCommand& c) { return raw->send(c); };
            if (link->sender.flush(send))
                armRetry(link);
        });
    }
};

JogWheel::JogWheel(DeckModel& deck, double size, double secondsPerTurn, const kit::UiEnv& env, QWidget* parent)
    : FaceWidget(env, parent), deck_(deck), size_(size), secondsPerTurn_(secondsPerTurn),
      gesture_(size, secondsPerTurn), link_(std::make_shared<Link>()),
      timeline_(new kit::LiveTimeline(this, env.liveClock, 0))
{
    link_->scheduler = env.scheduler;
    setObjectName(QStringLiteral("deck%1.jog").arg(deck.index()));
    resizeToDesign();
    connect(&deck_, &DeckModel::liveChanged, this, &JogWheel::follow);
    connect(&deck_, &DeckModel::voiceChanged, this, &JogWheel::follow);
    follow();
}

JogWheel::~JogWheel()
{
    // A platter held while the wheel goes away still lets go.
    endDrag();
}

double JogWheel::fps() const
{
    return deck_.live().playing || deck_.live().jogTouched || gesture_.touchingTop() ? 30.0 : 0.0;
}

bool JogWheel::waiting() const { return link_->sender.waiting(); }

void JogWheel::follow()
{
    timeline_->setFps(fps());
    update();
}

bool JogWheel::hitTest(QPointF p) const
{
    return std::hypot(p.x() - size_ / 2, p.y() - size_ / 2) <= size_ / 2;
}

JogWheel::Reading JogWheel::read() const
{
    Reading r;
    if (const std::shared_ptr<DeckVoice> v = deck_.voice()) {
        const DeckState& s = v->state();
        r.hasVoice = true;
        r.position = s.position.load();
        r.duration = s.duration.load();
        r.playing = s.playing.load();
        r.touched = s.jogTouched.load();
        r.cuePoint = s.cuePoint.load();
        r.vinylOn = s.vinylOn.load();
    }
    return r;
}

QImage jogStaticArt(double size, double ratio)
{
    QImage image(QSize(int(std::ceil(size * ratio)), int(std::ceil(size * ratio))), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // Scaled by hand: a painter on an image does not scale by a pixel ratio
    // below one, so a window smaller than the design canvas drew the art at
    // full size, overflowing the wheel's frame.
    QPainter p(&image);
    p.scale(ratio, ratio);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const deckface::JogGeometry g = deckface::jogGeometry(size);
    const QPointF c(g.cx, g.cy);

    p.setBrush(QColor(0, 0, 0, int(std::lround(0.85 * 255))));
    p.drawEllipse(c, g.R, g.R);

    QLinearGradient ring(QPointF(0, g.cy - g.R), QPointF(2 * g.R, g.cy + g.R));
    ring.setColorAt(0, QColor(87, 80, 70));
    ring.setColorAt(0.5, QColor(33, 28, 22));
    ring.setColorAt(1, QColor(63, 56, 46));
    p.setBrush(ring);
    p.drawEllipse(c, g.R - 3, g.R - 3);

    QPainterPath ticks;
    for (int k = 0; k < 120; ++k) {
        const double a = 2 * kPi * k / 120;
        ticks.moveTo(polar(g, a, g.R - 4));
        ticks.lineTo(polar(g, a, g.R - 13));
    }
    p.strokePath(ticks, QPen(QColor(0, 0, 0, 128), 0.9));

    QRadialGradient platter(c, g.Rp);
    platter.setColorAt(0, QColor(28, 24, 19));
    platter.setColorAt(1, QColor(13, 11, 8));
    p.setBrush(platter);
    p.drawEllipse(c, g.Rp, g.Rp);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(withAlpha(Palette::bone(), 0.018), 0.6));
    for (double r = 0.52 * g.Rp; r < g.Rp - 2; r += 6)
        p.drawEllipse(c, r, r);
    p.setPen(Qt::NoPen);

    // The sheen sweeps clockwise from −0.6 rad; Qt's conical gradient runs
    // counter-clockwise from its start angle, so the stops are mirrored.
    QConicalGradient sheen(c, 0.6 * 180 / kPi);
    const QColor clear = withAlpha(Palette::bone(), 0);
    const std::array<QColor, 6> stops{clear, withAlpha(Palette::bone(), 0.07), clear, clear,
                                      withAlpha(Palette::bone(), 0.05), clear};
    for (std::size_t i = 0; i < stops.size(); ++i)
        sheen.setColorAt(1.0 - double(i) / 5.0, stops[i]);
    p.save();
    p.setClipPath(disc(c, g.Rp));
    p.setBrush(sheen);
    p.drawEllipse(c, g.Rp, g.Rp);
    p.restore();

    p.setBrush(Palette::edge());
    p.drawEllipse(c, g.Rl + 3, g.Rl + 3);
    p.setBrush(Palette::glass());
    p.drawEllipse(c, g.Rl, g.Rl);
    p.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

const QImage& JogWheel::staticLayer(double ratio)
{
    // Painted once per size and pixel ratio.
    if (static_.isNull() || staticRatio_ != ratio)
        static_ = jogStaticArt(size_, ratio), staticRatio_ = ratio;
    return static_;
}

void JogWheel::paintFace(kit::Canvas& canvas)
{
    const double ratio = devicePixelRatioF() * scale();
    canvas.drawImage(QRectF(0, 0, size_, size_), staticLayer(ratio));
    paintLive(canvas);
}

void JogWheel::paintLive(kit::Canvas& canvas) const
{
    const Reading r = read();
    const deckface::JogGeometry g = deckface::jogGeometry(size_);
    const double theta = deckface::platterAngle(r.position, secondsPerTurn_);

    std::vector<QRectF> bright, dim;
    bright.reserve(12);
    dim.reserve(36);
    for (int k = 0; k < 48; ++k) {
        const QPointF at = polar(g, theta + 2 * kPi * k / 48, g.Rp - 7);
        (k % 4 == 0 ? bright : dim).push_back(QRectF(at.x() - 1.1, at.y() - 1.1, 2.2, 2.2));
    }
    canvas.fillRects(bright, withAlpha(Palette::bone(), 0.55));
    canvas.fillRects(dim, withAlpha(Palette::bone(), 0.18));

    if (r.touched)
        canvas.strokePath(disc(QPointF(g.cx, g.cy), g.Rp - 1), QPen(withAlpha(Palette::glow(), 0.55), 1.5));

    const int elapsed = deckface::progressStrokes(r.position, r.duration);
    QPainterPath done, left;
    for (int k = 0; k < 60; ++k) {
        const double a = 2 * kPi * (k + 0.35) / 60 - kPi / 2;
        QPainterPath& path = k < elapsed ? done : left;
        path.moveTo(polar(g, a, g.Rl - 6.5));
        path.lineTo(polar(g, a, g.Rl - 3.5));
    }
    QPen stroke(withAlpha(Palette::glow(), 0.08), 3, Qt::SolidLine, Qt::FlatCap);
    canvas.strokePath(left, stroke);
    stroke.setColor(withAlpha(Palette::glow(), 0.85));
    canvas.strokePath(done, stroke);

    if (r.hasVoice && r.duration > 0.01 && std::isfinite(r.cuePoint)) {
        const QPointF at = polar(g, 2 * kPi * r.cuePoint / r.duration - kPi / 2, g.Rl - 11);
        canvas.fillPath(disc(at, 2), Palette::paper());
    }

    const QPointF pointer = polar(g, theta - kPi / 2, g.Rl - 17);
    canvas.fillPath(disc(pointer, 4), withAlpha(Palette::glow(), 0.18));
    canvas.fillPath(disc(pointer, 2.2), Palette::glow());

    const QString number = deck_.isAI() ? QStringLiteral("2") : QString::number(deck_.index() + 1);
    const kit::DotMatrix::Sets digits = matrixDots(number, g.cx, g.cy - 16, 3);
    canvas.fillRects(digits.unlit, withAlpha(Palette::glow(), 0.055));
    if (deck_.isAI()) {
        canvas.fillRects(shifted(digits.lit, -1.35), withAlpha(Palette::red(), 0.32));
        canvas.fillRects(shifted(digits.lit, 1.35), withAlpha(Palette::cyan(), 0.28));
    }
    canvas.fillRects(digits.halo, withAlpha(Palette::glow(), 0.1));
    canvas.fillRects(digits.lit, withAlpha(Palette::glow(), 0.95));

    const kit::DotMatrix::Sets caption =
        matrixDots(deckface::jogCaption(r.hasVoice, r.vinylOn, r.playing), g.cx, g.cy + 12, 1.5);
    canvas.fillRects(caption.unlit, withAlpha(Palette::bone(), 0.055));
    canvas.fillRects(caption.halo, withAlpha(Palette::bone(), 0.07));
    canvas.fillRects(caption.lit, withAlpha(Palette::bone(), 0.665));
}

void JogWheel::sample(QPointF widgetPoint)
{
    const QPointF p = toDesign(widgetPoint) - QPointF(size_ / 2, size_ / 2);
    const double now = env().scheduler ? env().scheduler->uptime() : 0.0;
    if (!gesture_.dragging()) {
        // The drag keeps the voice it began on. Commands still waiting for an
        // earlier voice stay with that voice's link, which retries on its own.
        std::shared_ptr<DeckVoice> voice = deck_.voice();
        if (link_->sender.waiting() && link_->voice.lock() != voice) {
            link_ = std::make_shared<Link>();
            link_->scheduler = env().scheduler;
        }
        link_->voice = voice;
    }
    const bool hasVoice = !link_->voice.expired();
    Link::deliver(link_, gesture_.sample(p, now, hasVoice));
}

void JogWheel::endDrag()
{
    if (!gesture_.dragging())
        return;
    Link::deliver(link_, gesture_.end(!link_->voice.expired()));
    timeline_->setFps(fps());
}

void JogWheel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !hitTest(toDesign(event->position()))) {
        event->ignore();
        return;
    }
    sample(event->position());
    timeline_->setFps(fps());
    update();
}

void JogWheel::mouseMoveEvent(QMouseEvent* event)
{
    if (gesture_.dragging())
        sample(event->position());
}

void JogWheel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        endDrag();
}

void JogWheel::hideEvent(QHideEvent* event)
{
    endDrag();
    FaceWidget::hideEvent(event);
}

bool JogWheel::event(QEvent* event)
{
    if (event->type() == QEvent::UngrabMouse)
        endDrag();
    return FaceWidget::event(event);
}

} // namespace zelvo
