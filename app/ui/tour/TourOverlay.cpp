#include "ui/tour/TourOverlay.h"

#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/LiveSchedule.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StageMotion.h"
#include "ui/tour/TourPlace.h"
#include "ui/tour/TourViews.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QLineEdit>
#include <QVariantAnimation>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace zelvo::tour {

namespace S = kit::Stage;
using Step = TourModel::Step;

namespace {

constexpr double kGrow = 8;
constexpr double kRadius = 16;
constexpr int kStepInMs = 250;
constexpr double kStepInRise = 10;
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
    stepInCurve_ = new QVariantAnimation(this);
    stepInCurve_->setObjectName(QStringLiteral("tour.stepIn"));
    stepInCurve_->setStartValue(0.0);
    stepInCurve_->setEndValue(1.0);
    stepInCurve_->setDuration(kStepInMs);
    stepInCurve_->setEasingCurve(QEasingCurve::OutCubic);
    connect(stepInCurve_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { applyStepIn(value.toDouble()); });
    if (root) {
        setGeometry(root->rect());
        root->installEventFilter(this);
    }
    connect(&tour_, &TourModel::stepChanged, this, &TourOverlay::onStep);
    onStep();
}

TourOverlay::~TourOverlay()
{
    stopStepIn();
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

double TourOverlay::dimming() const
{
    return dimFrom_ + (dimTo_ - dimFrom_) * stepIn_;
}

void TourOverlay::onStep()
{
    if (!tour_.step()) {
        stopStepIn();
        stopClocks();
        dropLeaving();
        dropLayer();
        hide();
        return;
    }
    const bool wasShowing = isVisible() && layer_;
    const double dimNow = dimming();
    setGeometry(root_ ? root_->rect() : geometry());
    if (wasShowing && stage::Motion::canAnimate(env_)) {
        // The old card or hero stays to fade out; it no longer takes clicks
        // or keys.
        dropLeaving();
        leaving_ = layer_;
        layer_ = nullptr;
        leaving_->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (QWidget* focus = QApplication::focusWidget(); focus && leaving_->isAncestorOf(focus))
            focus->clearFocus();
    }
    rebuild();
    dimTo_ = tour_.step() == Step::welcome ? 0.94 : 0.8;
    dimFrom_ = wasShowing ? dimNow : dimTo_;
    findHole(!wasShowing);
    show();
    raise();
    startClocks();
    startStepIn();
}

void TourOverlay::startStepIn()
{
    stopStepIn();
    stepInCurve_->setCurrentTime(0);
    applyStepIn(0);
    if (!stage::Motion::canAnimate(env_)) {
        // Frozen or a still render: the end at once.
        stepInCurve_->setCurrentTime(kStepInMs);
        applyStepIn(1);
        return;
    }
    stepInStarted_ = env_.scheduler->uptime();
    stepInTick_ = env_.liveClock->subscribe(60, [this](double) {
        const double ms = (env_.scheduler->uptime() - stepInStarted_) * 1000.0;
        if (!(ms < kStepInMs)) {
            stopStepIn();
            stepInCurve_->setCurrentTime(kStepInMs);
            applyStepIn(1);
            return;
        }
        stepInCurve_->setCurrentTime(int(std::max(0.0, ms)));
    });
}

void TourOverlay::stopStepIn()
{
    if (stepInTick_ && env_.liveClock)
        env_.liveClock->unsubscribe(stepInTick_);
    stepInTick_ = 0;
}

void TourOverlay::applyStepIn(double progress)
{
    stepIn_ = std::clamp(progress, 0.0, 1.0);
    rise_ = kStepInRise * (1 - stepIn_);
    const auto fade = [](QWidget* layer, double opacity) {
        // The effect renders the layer off screen: only while it fades.
        if (opacity < 1) {
            auto* effect = qobject_cast<QGraphicsOpacityEffect*>(layer->graphicsEffect());
            if (!effect) {
                effect = new QGraphicsOpacityEffect(layer);
                layer->setGraphicsEffect(effect);
            }
            effect->setOpacity(opacity);
        } else if (layer->graphicsEffect()) {
            layer->setGraphicsEffect(nullptr);
        }
    };
    if (dimFrom_ != dimTo_)
        update();
    if (layer_) {
        fade(layer_, stepIn_);
        update(layer_->geometry().adjusted(-60, -60, 60, 60));
    }
    if (leaving_) {
        update(leaving_->geometry().adjusted(-60, -60, 60, 60));
        if (stepIn_ < 1)
            fade(leaving_, 1 - stepIn_);
        else
            dropLeaving();
    }
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

void TourOverlay::dropLeaving()
{
    if (leaving_) {
        update(leaving_->geometry().adjusted(-60, -60, 60, 60));
        leaving_->hide();
        leaving_->deleteLater();
    }
    leaving_ = nullptr;
}

void TourOverlay::rebuild()
{
    // A rebuild while the key card shows (a controller came or went) keeps
    // what was typed into its field, and the field's focus.
    QString typed;
    bool typing = false;
    const Step step = *tour_.step();
    QWidget* before = layer_ ? layer_ : leaving_.data();
    if (auto* field = before ? before->findChild<QLineEdit*>(QStringLiteral("tour.key.field")) : nullptr;
        field && step == Step::key) {
        typed = field->text();
        typing = field->hasFocus();
    }
    dropLayer();
    const TourCopy::Inputs in = inputs_ ? inputs_() : TourCopy::Inputs{};
    if (step == Step::welcome) {
        layer_ = new TourHero(tour_, in.controller, env_, this);
    } else {
        auto* card = new TourCard(tour_, step, TourCopy::make(step, in), env_, live_ ? live_(step) : nullptr, this);
        cardSize_ = QSizeF(card->width(), card->height());
        connect(card, &TourCard::measured, this, [this, card] {
            if (card != layer_)
                return; // a leaving card
            cardSize_ = QSizeF(card->width(), card->height());
            placeLayer();
        });
        layer_ = card;
    }
    layer_->show();
    if (auto* field = layer_->findChild<QLineEdit*>(QStringLiteral("tour.key.field")); field && !typed.isEmpty()) {
        field->setText(typed);
        if (typing)
            field->setFocus();
    }
}

void TourOverlay::findHole(bool jump)
{
    const QRectF was = target_;
    const bool wasReal = real_;
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
    const bool open = hole().width() > 0;
    if (jump || !stage::Motion::canAnimate(env_) || (!real_ && !open)) {
        at_ = arrayOf(target_);
        goal_ = target_;
        velocity_ = {};
        moving_ = false;
    } else if (target_ != was || real_ != wasReal) {
        if (real_ && !open) {
            // A hole after none grows out of its own centre.
            at_ = arrayOf(QRectF(target_.center(), QSizeF(0, 0)));
            velocity_ = {};
        }
        // A hole going away closes into its own centre rather than sliding
        // to the window's middle.
        goal_ = real_ ? target_ : QRectF(hole().center(), QSizeF(0, 0));
        moving_ = true;
    }
    if (target_ != was || real_ != wasReal || jump)
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
    const auto goal = arrayOf(goal_);
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
    ink.setAlphaF(float(dimming()));
    p.fillPath(dimmer, ink);

    if (leaving_)
        drawShadow(p, leaving_, 1 - stepIn_);
    if (layer_)
        drawShadow(p, layer_, stepIn_);

    // The ring needs room inside its 1.5-point stroke.
    if (real_ && h.width() > 3 && h.height() > 3) {
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

void TourOverlay::drawShadow(QPainter& p, const QWidget* layer, double opacity)
{
    // Cards cast a shadow; the hero covers the window and casts none.
    if (!qobject_cast<const TourCard*>(layer) || opacity <= 0)
        return;
    constexpr int kPad = 60;
    const QSize card = layer->size();
    auto it = std::find_if(shadows_.begin(), shadows_.end(), [&](const auto& s) { return s.first == card; });
    if (it == shadows_.end()) {
        // Made once per card size; a step change needs two at most.
        if (shadows_.size() >= 4)
            shadows_.erase(shadows_.begin());
        QImage shadow(card + QSize(2 * kPad, 2 * kPad), QImage::Format_ARGB32_Premultiplied);
        shadow.fill(Qt::transparent);
        QPainter sp(&shadow);
        kit::PainterCanvas canvas(sp);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(QPointF(kPad, kPad), QSizeF(card)), 16, 16);
        canvas.shadow(shape, QColor(0, 0, 0, 178), 30, QPointF(0, 14));
        sp.end();
        shadows_.emplace_back(card, std::move(shadow));
        it = std::prev(shadows_.end());
    }
    p.setOpacity(opacity);
    p.drawImage(layer->pos() - QPoint(kPad, kPad), it->second);
    p.setOpacity(1);
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
