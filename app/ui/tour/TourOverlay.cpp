#include "ui/tour/TourOverlay.h"

#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/LiveSchedule.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StageMotion.h"
#include "ui/tour/TourPlace.h"
#include "ui/tour/TourViews.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace zelvo::tour {

namespace S = kit::Stage;
using Step = TourModel::Step;

namespace {

constexpr double kGrow = 8;
constexpr double kRadius = 16;
// The hole's spring: response 0.5 s, damping fraction 0.86.
constexpr double kStiffness = (2 * M_PI / 0.5) * (2 * M_PI / 0.5);
const double kDamping = 2 * 0.86 * std::sqrt(kStiffness);

QRectF rectOf(const std::array<double, 4>& a)
{
    return {a[0], a[1], a[2], a[3]};
}

std::array<double, 4> arrayOf(const QRectF& r)
{
    return {r.x(), r.y(), r.width(), r.height()};
}

} // namespace

std::optional<TourSpot> spotFor(Step step)
{
    switch (step) {
    case Step::controller: return TourSpot::controller;
    case Step::lanes: return TourSpot::lanes;
    case Step::crate: return TourSpot::crate;
    case Step::machine: return TourSpot::aiKey;
    case Step::mixer: return TourSpot::mixer;
    case Step::flow: return TourSpot::flow;
    case Step::welcome:
    case Step::key:
    case Step::go: break;
    }
    return std::nullopt;
}

TourOverlay::TourOverlay(TourModel& tour, kit::UiEnv env, Inputs inputs, QWidget* root)
    : QWidget(root), tour_(tour), env_(env), inputs_(std::move(inputs)), root_(root)
{
    setObjectName(QStringLiteral("tour.overlay"));
    setAttribute(Qt::WA_NoMousePropagation);
    riseMotion_ = std::make_unique<stage::Motion>(env_, [this](double eased) {
        rise_ = 10 * (1 - eased);
        placeLayer();
    });
    if (root) {
        setGeometry(root->rect());
        root->installEventFilter(this);
    }
    connect(&tour_, &TourModel::stepChanged, this, &TourOverlay::onStep);
    onStep();
}

TourOverlay::~TourOverlay()
{
    stopClocks();
}

double TourOverlay::now() const
{
    if (env_.liveClock && env_.liveClock->frameTimeNow(30) > 0)
        return env_.liveClock->frameTimeNow(30);
    return env_.scheduler ? kit::secondsSinceReference(env_.scheduler->now()) : 0.0;
}

QRectF TourOverlay::hole() const
{
    return rectOf(at_);
}

void TourOverlay::onStep()
{
    if (!tour_.step()) {
        stopClocks();
        dropLayer();
        hide();
        return;
    }
    setGeometry(root_ ? root_->rect() : geometry());
    rebuild();
    findHole(!isVisible());
    show();
    raise();
    startClocks();
    rise_ = 10;
    riseMotion_->start(0.25);
    placeLayer();
}

void TourOverlay::setLiveFactory(LiveFactory factory)
{
    live_ = std::move(factory);
    refreshNow();
}

void TourOverlay::refresh()
{
    // A change can arrive from inside the card (a key saved from its field):
    // rebuild once the event that caused it is over.
    if (refreshQueued_)
        return;
    refreshQueued_ = true;
    QMetaObject::invokeMethod(this, [this] {
        refreshQueued_ = false;
        refreshNow();
    }, Qt::QueuedConnection);
}

void TourOverlay::refreshNow()
{
    if (!tour_.step())
        return;
    rebuild();
    findHole(false);
    placeLayer();
}

void TourOverlay::dropLayer()
{
    // The layer may be the sender of what led here (a button of the card).
    if (layer_) {
        layer_->hide();
        layer_->deleteLater();
    }
    layer_ = nullptr;
}

void TourOverlay::rebuild()
{
    dropLayer();
    const Step step = *tour_.step();
    const TourCopy::Inputs in = inputs_ ? inputs_() : TourCopy::Inputs{};
    if (step == Step::welcome) {
        layer_ = new TourHero(tour_, in.controller, env_, this);
    } else {
        auto* card = new TourCard(tour_, step, TourCopy::make(step, in), env_, live_ ? live_(step) : nullptr, this);
        cardSize_ = QSizeF(card->width(), card->height());
        connect(card, &TourCard::measured, this, [this, card] {
            cardSize_ = QSizeF(card->width(), card->height());
            placeLayer();
        });
        layer_ = card;
    }
    layer_->show();
}

void TourOverlay::findHole(bool jump)
{
    const QRectF was = target_;
    real_ = false;
    target_ = QRectF(width() / 2.0, height() / 2.0, 0, 0);
    if (const auto spot = tour_.step() ? spotFor(*tour_.step()) : std::nullopt; spot && root_) {
        const auto spots = tourSpots(root_);
        if (const auto it = spots.find(*spot); it != spots.end()) {
            // The root's coordinates are the overlay's: it covers the root from its corner.
            target_ = QRectF(it->second).adjusted(-kGrow, -kGrow, kGrow, kGrow);
            real_ = true;
        }
    }
    const bool fromNothing = hole().width() <= 0 || !real_;
    if (jump || fromNothing || !stage::Motion::canAnimate(env_)) {
        at_ = arrayOf(target_);
        velocity_ = {};
        moving_ = false;
    } else if (target_ != was) {
        moving_ = true;
    }
    if (target_ != was || jump)
        update();
}

void TourOverlay::placeLayer()
{
    if (!layer_)
        return;
    if (tour_.step() == Step::welcome) {
        layer_->setGeometry(0, int(std::lround(rise_)), width(), height());
        return;
    }
    const std::optional<QRectF> around = real_ ? std::optional<QRectF>(target_) : std::nullopt;
    const QPointF centre = placeTourCard(cardSize_, around, QSizeF(size()));
    const QPoint to(int(std::lround(centre.x() - cardSize_.width() / 2)),
                    int(std::lround(centre.y() - cardSize_.height() / 2 + rise_)));
    if (to == layer_->pos())
        return;
    // The shadow reaches past the card: repaint where it was and where it goes.
    update(layer_->geometry().adjusted(-60, -60, 60, 60));
    layer_->move(to);
    update(layer_->geometry().adjusted(-60, -60, 60, 60));
}

void TourOverlay::startClocks()
{
    if (!env_.liveClock || env_.snapshotMode || kit::LiveSchedule::frozen())
        return;
    if (!ringTick_)
        ringTick_ = env_.liveClock->subscribe(30, [this](double) { onFrame(); });
    if (!springTick_) {
        lastSpring_ = 0;
        springTick_ = env_.liveClock->subscribe(60, [this](double t) {
            if (!moving_)
                return;
            const double dt = lastSpring_ > 0 ? std::clamp(t - lastSpring_, 0.0, 0.05) : 1.0 / 60;
            lastSpring_ = t;
            springStep(dt);
        });
    }
}

void TourOverlay::stopClocks()
{
    if (env_.liveClock) {
        if (ringTick_)
            env_.liveClock->unsubscribe(ringTick_);
        if (springTick_)
            env_.liveClock->unsubscribe(springTick_);
    }
    ringTick_ = springTick_ = 0;
}

void TourOverlay::onFrame()
{
    // The stage lays out on its own: follow its regions.
    findHole(false);
    placeLayer();
    if (real_ && !moving_) {
        const QRegion band = ringBand(hole());
        update(band.united(lastBand_));
        lastBand_ = band;
    }
}

void TourOverlay::springStep(double dt)
{
    const QRectF before = hole();
    const auto goal = arrayOf(target_);
    bool settled = true;
    for (std::size_t i = 0; i < 4; ++i) {
        const double force = -kStiffness * (at_[i] - goal[i]) - kDamping * velocity_[i];
        velocity_[i] += force * dt;
        at_[i] += velocity_[i] * dt;
        if (std::abs(at_[i] - goal[i]) > 0.25 || std::abs(velocity_[i]) > 2)
            settled = false;
    }
    if (settled) {
        at_ = goal;
        velocity_ = {};
        moving_ = false;
    }
    update(QRegion(before.toAlignedRect().adjusted(-6, -6, 6, 6)).united(hole().toAlignedRect().adjusted(-6, -6, 6, 6)));
}

QRegion TourOverlay::ringBand(const QRectF& h) const
{
    // The stroke lies inside the hole's edge; its ghosts move up to 3 points
    // sideways. The inner cross keeps the rounded corners inside the band.
    const QRect outer = h.toAlignedRect().adjusted(-5, -2, 5, 2);
    QRegion band(outer);
    const QRect across = h.toRect().adjusted(20, 10, -20, -10);
    const QRect down = h.toRect().adjusted(10, 20, -10, -20);
    if (across.isValid())
        band -= across;
    if (down.isValid())
        band -= down;
    return band;
}

void TourOverlay::paintEvent(QPaintEvent*)
{
    if (!tour_.step())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF h = hole();
    QPainterPath dimmer;
    dimmer.setFillRule(Qt::OddEvenFill);
    dimmer.addRect(QRectF(rect()));
    if (h.width() > 0)
        dimmer.addRoundedRect(h, real_ ? kRadius : 0, real_ ? kRadius : 0);
    QColor ink = S::ink();
    ink.setAlphaF(tour_.step() == Step::welcome ? 0.94f : 0.8f);
    p.fillPath(dimmer, ink);

    // The card's shadow, made once per card size.
    if (layer_ && tour_.step() != Step::welcome) {
        const QSize card = layer_->size();
        if (shadow_.isNull() || shadowFor_ != card) {
            constexpr int kPad = 60;
            shadow_ = QImage(card + QSize(2 * kPad, 2 * kPad), QImage::Format_ARGB32_Premultiplied);
            shadow_.fill(Qt::transparent);
            QPainter sp(&shadow_);
            kit::PainterCanvas canvas(sp);
            QPainterPath shape;
            shape.addRoundedRect(QRectF(QPointF(kPad, kPad), QSizeF(card)), 16, 16);
            canvas.shadow(shape, QColor(0, 0, 0, 178), 30, QPointF(0, 14));
            shadowFor_ = card;
        }
        p.drawImage(layer_->pos() - QPoint(60, 60), shadow_);
    }

    if (real_ && h.width() > 0) {
        const double t = std::fmod(now(), 3600.0);
        const double phase = 0.5 + 0.5 * std::sin(2.4 * t);
        const QRectF edge = h.adjusted(0.75, 0.75, -0.75, -0.75);
        const double offset = 1.5 + 1.5 * phase;
        // The ring's red and cyan ghosts, screened under it.
        p.setCompositionMode(QPainter::CompositionMode_Screen);
        for (const auto& [colour, dx] : {std::pair{S::ghostRed(), -offset}, std::pair{S::ghostCyan(), offset}}) {
            QColor c = colour;
            c.setAlphaF(float(0.8 * (0.55 + 0.35 * phase)));
            p.setPen(QPen(c, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(edge.translated(dx, 0), kRadius - 0.75, kRadius - 0.75);
        }
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        QColor paper = S::paper();
        paper.setAlphaF(float(0.55 + 0.35 * phase));
        p.setPen(QPen(paper, 1.5));
        p.drawRoundedRect(edge, kRadius - 0.75, kRadius - 0.75);
    }
}

bool TourOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == root_ && event->type() == QEvent::Resize) {
        setGeometry(root_->rect());
        if (tour_.step()) {
            findHole(true);
            placeLayer();
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Every click outside the card ends here, the hole included.
void TourOverlay::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void TourOverlay::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void TourOverlay::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
}

void TourOverlay::wheelEvent(QWheelEvent* event)
{
    event->accept();
}

TourOverlay* welcomeTour(QWidget* root, TourModel& tour, kit::UiEnv env, TourOverlay::Inputs inputs)
{
    return new TourOverlay(tour, env, std::move(inputs), root);
}

} // namespace zelvo::tour
