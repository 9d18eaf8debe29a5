#include "ui/stage/BigAIKey.h"

#include "state/AppModel.h"
#include "audio/DeckVoice.h"
#include "models/DeckModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/LiveSchedule.h"
#include "ui/kit/Palette.h"
#include "ui/stage/GhostHost.h"
#include "ui/stage/MachinePresenters.h"
#include "ui/stage/StageKeys.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPointer>

#include <cmath>

namespace zelvo {

// The beat clock the big key pulses to lives with the key.
std::optional<double> AppModel::beatPhase(int deck) const
{
    const auto of = [this](int index) -> std::optional<double> {
        if (index < 0 || index >= kDecks)
            return std::nullopt;
        const DeckModel& d = *decks_[std::size_t(index)];
        const std::shared_ptr<DeckVoice> voice = d.voice();
        if (!voice || !d.track())
            return std::nullopt;
        return stage::beatPhaseOf(d.track()->grid, true, voice->state().playing.load(),
                                  voice->state().position.load());
    };
    if (const std::optional<double> phase = of(deck))
        return phase;
    return of(0);
}

namespace stage {
namespace {

constexpr double kRadius = 14;
constexpr double kPad = 18;
// The opacity of the pulse border's double image.
constexpr double kPulseGhosts = 0.7;

QPainterPath keyShape(const QRectF& rect, double radius = kRadius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// A colour multiplied by a tint, channel by channel.
QColor multiplied(const QColor& colour, const QColor& tint)
{
    return QColor::fromRgbF(colour.redF() * tint.redF(), colour.greenF() * tint.greenF(),
                            colour.blueF() * tint.blueF(), colour.alphaF());
}

} // namespace

BigAIKey::BigAIKey(AppModel& model, kit::UiEnv env, bool compact, QWidget* parent)
    : FaceWidget(env, parent), model_(model), compact_(compact), timeline_(this, env.liveClock, 30)
{
    setObjectName(QStringLiteral("machine.aiKey"));
    setCursor(Qt::PointingHandCursor);
    resizeToDesign();
    take(readFace());
    // The step follows readings no signal announces (the server's status, the
    // download): the state root's tick has the key look again.
    repaintOn(&model_, &AppModel::ticked);
    for (int deck = 0; deck < 2; ++deck) {
        DeckModel& d = model_.deck(deck);
        repaintOn(&d, &DeckModel::trackChanged);
        repaintOn(&d, &DeckModel::liveChanged);
        repaintOn(&d, &DeckModel::voiceChanged);
    }
    repaintOn(&model_, &AppModel::hintChanged);
    repaintOn(&model_, &AppModel::flowChanged);
    repaintOn(&model_, &AppModel::queueChanged);
}

BigAIKey::~BigAIKey()
{
    if (holdTimer_ && env().scheduler)
        env().scheduler->cancel(holdTimer_);
}

QSizeF BigAIKey::designSize() const
{
    return bigKeySize(compact_);
}

bool BigAIKey::hitTest(QPointF p) const
{
    return keyShape(QRectF(QPointF(0, 0), designSize())).contains(p);
}

BigAIKey::Face BigAIKey::readFace() const
{
    // One reading serves the step and both texts.
    const keysteps::Inputs in = model_.stepInputs();
    Face face;
    face.step = keysteps::step(in);
    face.title = keysteps::title(in);
    face.detail = keysteps::detail(in);
    if (face.step == AIStep::installing)
        face.progress = in.download.fraction;
    else if (face.step == AIStep::dreaming)
        face.progress = in.phase.progress();
    // An unreadable progress would never compare equal and repaint on every tick.
    if (!std::isfinite(face.progress))
        face.progress = 0;
    return face;
}

double BigAIKey::now() const
{
    return env().scheduler ? env().scheduler->uptime() : 0.0;
}

double BigAIKey::clockTime() const
{
    if (timeline_.frameTime() > 0)
        return timeline_.frameTime();
    return env().scheduler ? kit::secondsSinceReference(env().scheduler->now()) : 0.0;
}

std::optional<double> BigAIKey::shownFill() const
{
    if (!face_ || bigKeyLook(face_->step).animation != KeyAnimation::fill)
        return std::nullopt;
    const double to = fillShare(face_->progress);
    if (env().snapshotMode || kit::LiveSchedule::frozen())
        return to;
    return easedFill(fillFrom_, to, now() - fillSince_);
}

bool BigAIKey::easing() const
{
    return face_ && bigKeyLook(face_->step).animation == KeyAnimation::fill && now() - fillSince_ < kFillEase;
}

bool BigAIKey::animating() const
{
    return face_ && (stepAnimates(face_->step) || easing());
}

void BigAIKey::take(const Face& face)
{
    const bool fills = bigKeyLook(face.step).animation == KeyAnimation::fill;
    // Another step's fill measures something else: it starts afresh.
    const bool filled = face_ && face_->step == face.step && fills;
    if (fills && (!filled || fillShare(face.progress) != fillShare(face_->progress))) {
        // A fill that appears starts from the sliver; a moving one from where it is.
        fillFrom_ = filled ? shownFill().value_or(0.04) : 0.04;
        fillSince_ = fillFrom_ == fillShare(face.progress) ? -1e9 : now();
    }
    if (!face_ || face_->title != face.title)
        setToolTip(bigKeyHelp(face.title));
    face_ = face;
    timeline_.setActive(!env().snapshotMode && animating());
}

void BigAIKey::refresh()
{
    const Face face = readFace();
    if (face_ && face == *face_) {
        timeline_.setActive(!env().snapshotMode && animating());
        return;
    }
    take(face);
    update();
}

void BigAIKey::paintFace(kit::Canvas& canvas)
{
    // Each frame reads the step afresh.
    const Face face = readFace();
    if (!face_ || !(face == *face_))
        take(face);
    else
        timeline_.setActive(!env().snapshotMode && animating());
    const BigKeyLook look = bigKeyLook(face.step);
    const QSizeF size = designSize();
    const QRectF rect(QPointF(0, 0), size);

    canvas.save();
    if (pressed_) {
        canvas.translate(rect.center());
        canvas.scale(0.975, 0.975);
        canvas.translate(-rect.center());
    }
    canvas.fillPath(keyShape(rect), look.lit ? kit::Stage::paper() : kit::Stage::inkHigh());
    if (const std::optional<double> share = shownFill())
        canvas.fillPath(keyShape(QRectF(0, 0, *share * size.width(), size.height())),
                        kit::withAlpha(kit::Stage::bone(), 0.16));
    GhostHost* host = GhostHost::of(this);
    if (look.animation == KeyAnimation::pulse) {
        const PulseLook pulse = pulseLook(model_.beatPhase(1), clockTime());
        const double opacity = pulse.opacity;
        // The border drawn inside the key's shape; its double image reaches past
        // the key, so the host above paints what falls outside.
        const Ghosts::Paint border = [opacity](QPainter& painter, QSizeF area) {
            painter.setPen(QPen(kit::withAlpha(kit::Stage::paper(), opacity), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(keyShape(QRectF(QPointF(0, 0), area).adjusted(1, 1, -1, -1), kRadius - 1));
        };
        const auto revision = quint64(std::lround(opacity * 4096));
        // Inside the key the copies of a one-colour stroke are strokes in the
        // tinted colour: drawn directly, with no images to build each frame.
        const QPainterPath ring = keyShape(rect.adjusted(1, 1, -1, -1), kRadius - 1);
        canvas.save();
        canvas.setBlend(QPainter::CompositionMode_Screen);
        for (const auto& [tint, dx] : {std::pair{kit::Stage::ghostRed(), -pulse.offset},
                                       std::pair{kit::Stage::ghostCyan(), pulse.offset}})
            canvas.strokePath(ring.translated(dx, 0),
                              QPen(kit::withAlpha(multiplied(kit::Stage::paper(), tint), opacity * kPulseGhosts), 2));
        canvas.restore();
        canvas.strokePath(ring, QPen(kit::withAlpha(kit::Stage::paper(), opacity), 2));
        if (host)
            host->setGhosts(this, {rect, pulse.offset, kPulseGhosts, revision, border});
        hosted_ = host != nullptr;
    } else if (hosted_) {
        if (host)
            host->clearGhosts(this);
        hosted_ = false;
    }

    const QColor ink = look.lit ? kit::Stage::ink() : kit::Stage::paper();
    const QFont titleFont = kit::sansFont(bigKeyTitleSize(compact_), true, -1.2);
    const QFont detailFont = kit::monoFont(10.5);
    const QFont hintFont = kit::monoFont(9);
    const double titleHeight = std::max(17.0, QFontMetricsF(titleFont).height());
    const double detailHeight = QFontMetricsF(detailFont).height();
    const double hintHeight = QFontMetricsF(hintFont).height();
    const bool hint = face.step == AIStep::dreaming;
    const double stack = titleHeight + 4 + detailHeight + (hint ? 4 + hintHeight : 0);
    const double width = size.width() - 2 * kPad;
    double y = (size.height() - stack) / 2;
    paintSymbol(canvas, look.icon, QRectF(kPad, y + (titleHeight - 17) / 2, 17, 17), ink);
    const double titleX = kPad + 17 + 8;
    const QRectF titleRect(titleX, y, size.width() - kPad - titleX, titleHeight);
    canvas.drawText(titleRect, QFontMetricsF(titleFont).elidedText(face.title, Qt::ElideRight, titleRect.width()),
                    titleFont, ink, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
    y += titleHeight + 4;
    canvas.drawText(QRectF(kPad, y, width, detailHeight),
                    QFontMetricsF(detailFont).elidedText(face.detail, Qt::ElideRight, width), detailFont,
                    kit::withAlpha(ink, 0.75), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
    if (hint) {
        y += detailHeight + 4;
        canvas.drawText(QRectF(kPad, y, width, hintHeight), QStringLiteral("shift-click to cancel"), hintFont,
                        kit::withAlpha(ink, 0.5), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
    }
    canvas.restore();
}

void BigAIKey::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || env().snapshotMode || !hitTest(toDesign(event->position()))) {
        FaceWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    endPress();
    pressed_ = true;
    pressAt_ = toDesign(event->position());
    if (env().scheduler) {
        QPointer<BigAIKey> self(this);
        holdTimer_ = env().scheduler->runAfter(kHoldSeconds, [self] {
            if (self)
                self->held();
        });
    }
    update();
}

void BigAIKey::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressed_) {
        FaceWidget::mouseMoveEvent(event);
        return;
    }
    event->accept();
    if (QLineF(pressAt_, toDesign(event->position())).length() > kHoldTravel)
        endPress();
}

void BigAIKey::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        FaceWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    if (!pressed_)
        return; // moved away or already taken as a hold
    endPress();
    if (event->modifiers() & Qt::ShiftModifier)
        model_.aiSecondary();
    else
        model_.aiPrimary();
    refresh();
}

void BigAIKey::held()
{
    holdTimer_ = 0;
    if (!pressed_)
        return;
    endPress();
    model_.aiSecondary();
    refresh();
}

void BigAIKey::endPress()
{
    if (holdTimer_ && env().scheduler)
        env().scheduler->cancel(holdTimer_);
    holdTimer_ = 0;
    if (pressed_) {
        pressed_ = false;
        update();
    }
}

void BigAIKey::hideEvent(QHideEvent* event)
{
    // A press cut short by the strip going away does nothing.
    endPress();
    FaceWidget::hideEvent(event);
}

} // namespace stage
} // namespace zelvo
