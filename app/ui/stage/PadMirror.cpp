#include "ui/stage/PadMirror.h"

#include "state/AppModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/Scheduler.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StageSides.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

namespace zelvo::stage {

namespace {

constexpr double kChipGap = 4;
constexpr double kPadGap = 5;
constexpr double kPadMinHeight = 38;
constexpr double kPadMaxHeight = 70;
// A press that wanders farther than this from where it began ends.
constexpr double kPadSlop = 30;

QFont chipFont() { return panelFont(9, QFont::Medium, true); }

// A chip's side padding and the gap between chips: roomy, and the least the
// row squeezes them to when its panel is narrow.
constexpr double kChipPad = 7, kChipPadTight = 3;
constexpr double kChipGapTight = 2;

double chipTextWidth(const QString& text)
{
    return std::ceil(QFontMetricsF(chipFont()).horizontalAdvance(text));
}

double chipHeight()
{
    return std::ceil(QFontMetricsF(chipFont()).height()) + 8;
}

// The chips' texts and the row's width at a side padding and gap.
double rowWidth(double pad, double gap)
{
    double width = 0;
    for (PadMode mode : padMirrorModes)
        width += chipTextWidth(padChipText(mode)) + 2 * pad;
    return width + gap * double(padMirrorModes.size() - 1);
}

QPainterPath capsule(const QRectF& r)
{
    QPainterPath path;
    path.addRoundedRect(r, r.height() / 2, r.height() / 2);
    return path;
}

QPainterPath padShape(const QRectF& r)
{
    QPainterPath path;
    path.addRoundedRect(r, 7, 7);
    return path;
}

} // namespace

// ---- PadChipRow

PadChipRow::PadChipRow(DeckModel& deck, kit::UiEnv, QWidget* parent) : QWidget(parent), deck_(deck)
{
    setObjectName(QStringLiteral("deckPanel.%1.padModes").arg(deck.index()));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(&deck_, &DeckModel::padModeChanged, this, [this] { update(); });
}

PadChipRow::Spacing PadChipRow::spacing(double width)
{
    // One point either side is kept for the model chip's fringes.
    const double room = width - 2;
    const double roomy = rowWidth(kChipPad, kChipGap), tight = rowWidth(kChipPadTight, kChipGapTight);
    if (room >= roomy)
        return {kChipPad, kChipGap};
    const double f = roomy > tight ? std::clamp((room - tight) / (roomy - tight), 0.0, 1.0) : 0.0;
    return {kChipPadTight + (kChipPad - kChipPadTight) * f, kChipGapTight + (kChipGap - kChipGapTight) * f};
}

QRectF PadChipRow::chipRect(int i) const
{
    // A narrow panel draws the chips closer rather than cutting the row.
    const Spacing s = spacing(width());
    const double h = chipHeight();
    double x = 0;
    for (int k = 0; k < int(padMirrorModes.size()); ++k) {
        const double w = chipTextWidth(padChipText(padMirrorModes[std::size_t(k)])) + 2 * s.pad;
        if (k == i)
            return QRectF(x, (height() - h) / 2, w, h);
        x += w + s.gap;
    }
    return {};
}

QSize PadChipRow::sizeHint() const
{
    return QSize(int(std::ceil(rowWidth(kChipPad, kChipGap))) + 2, int(chipHeight()));
}

QSize PadChipRow::minimumSizeHint() const
{
    return QSize(int(std::ceil(rowWidth(kChipPadTight, kChipGapTight))) + 2, int(chipHeight()));
}

void PadChipRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    kit::PainterCanvas canvas(painter);
    const PadMode current = deck_.padMode();
    for (int i = 0; i < int(padMirrorModes.size()); ++i) {
        const PadMode mode = padMirrorModes[std::size_t(i)];
        const PadChipLook look = padChipLook(mode, current);
        const QString text = padChipText(mode);
        const QRectF r = chipRect(i).translated(1, 0);
        const auto draw = [&](QPainter& p, QSizeF size) {
            const QRectF box(QPointF(0, 0), size);
            p.fillPath(capsule(box), look.fill);
            p.setFont(chipFont());
            p.setPen(look.text);
            p.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
        };
        if (look.ghostOffset > 0) {
            ghosts_.paint(canvas, r, look.ghostOffset, 0.6, 1, devicePixelRatioF(), draw);
        } else {
            painter.save();
            painter.translate(r.topLeft());
            draw(painter, r.size());
            painter.restore();
        }
    }
}

void PadChipRow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    for (int i = 0; i < int(padMirrorModes.size()); ++i)
        if (chipRect(i).translated(1, 0).contains(event->position())) {
            deck_.setPadMode(padMirrorModes[std::size_t(i)]);
            event->accept();
            return;
        }
    event->ignore();
}

// ---- PadGridView

PadGridView::PadGridView(AppModel& model, DeckModel& deck, StageSides* sides, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), model_(&model), deck_(deck), sides_(sides), env_(env), timeline_(this, env.liveClock, 30)
{
    setObjectName(QStringLiteral("deckPanel.%1.pads").arg(deck.index()));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    const auto redraw = [this] { update(); };
    for (auto signal : {&DeckModel::padModeChanged, &DeckModel::liveChanged, &DeckModel::trackChanged,
                        &DeckModel::beatJumpBeatsChanged, &DeckModel::autoLoopBeatsChanged,
                        &DeckModel::keyShiftChanged, &DeckModel::keyLockChanged})
        connect(&deck_, signal, this, redraw);
    const MixerModel& mixer = model.mixer();
    for (auto signal : {&MixerModel::beatFXOnChanged, &MixerModel::beatFXKindChanged,
                        &MixerModel::beatFXBeatIndexChanged, &MixerModel::beatFXTargetChanged})
        connect(&mixer, signal, this, redraw);
    connect(&model, &AppModel::flowChanged, this, redraw);
    connect(&model, &AppModel::engineLiveChanged, this, redraw);
    if (sides)
        connect(sides, &StageSides::padHitChanged, this, [this] {
            follow();
            update();
        });
    timeline_.setActive(false);
    follow();
}

PadGridView::~PadGridView()
{
    release();
}

double PadGridView::uptime() const
{
    return env_.scheduler ? env_.scheduler->uptime() : 0;
}

bool PadGridView::flashing() const
{
    return sides_ && !env_.snapshotMode && padFlashing(sides_->padHit(), deck_.index(), uptime());
}

void PadGridView::follow()
{
    timeline_.setActive(flashing());
}

QRectF PadGridView::padRect(int i) const
{
    const double w = width(), h = height();
    const double padH = std::clamp((h - kPadGap) / 2, kPadMinHeight, kPadMaxHeight);
    const double padW = std::max(0.0, (w - 3 * kPadGap) / 4);
    const double top = std::max(0.0, (h - (2 * padH + kPadGap)) / 2);
    const int row = i / 4, column = i % 4;
    return QRectF(column * (padW + kPadGap), top + row * (padH + kPadGap), padW, padH);
}

int PadGridView::padAt(QPointF p) const
{
    for (int i = 0; i < 8; ++i)
        if (padRect(i).contains(p))
            return i;
    return -1;
}

void PadGridView::paintEvent(QPaintEvent*)
{
    ++paints_;
    // The flash's frames stop once it has faded.
    if (!flashing())
        timeline_.setActive(false);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (!model_)
        return;
    const PadMode mode = deck_.padMode();
    const std::optional<PadHitStamp> hit = sides_ ? sides_->padHit() : std::nullopt;
    const double now = uptime();
    const QFont labelFont = panelFont(12, QFont::Bold, false);
    const QFont subFont = panelFont(8, QFont::Medium, true);
    const double labelH = QFontMetricsF(labelFont).height(), subH = QFontMetricsF(subFont).height();
    for (int i = 0; i < 8; ++i) {
        const QRectF r = padRect(i);
        const bool lit = model_->padLit(deck_, mode, i);
        const AppModel::PadLabel label = model_->padLabel(deck_, mode, i);
        const PadLook look = padLook(lit, mode);
        const QPainterPath shape = padShape(r);
        painter.fillPath(shape, look.fill);
        const double flash = padFlash(padAge(hit, deck_.index(), i, now));
        if (flash > 0) {
            QColor overlay = kit::Stage::paper();
            overlay.setAlphaF(float(flash * 0.55));
            painter.fillPath(shape, overlay);
        }
        painter.strokePath(padShape(r.adjusted(0.5, 0.5, -0.5, -0.5)), QPen(kit::Stage::line(), 1));
        const double y = r.center().y() - (labelH + 1 + subH) / 2;
        painter.setPen(look.text);
        painter.setFont(labelFont);
        painter.drawText(QRectF(r.left() + 2, y, r.width() - 4, labelH), Qt::AlignCenter | Qt::TextSingleLine,
                         QFontMetricsF(labelFont).elidedText(label.caption, Qt::ElideRight, r.width() - 4));
        QColor sub = look.text;
        sub.setAlphaF(0.65f);
        painter.setPen(sub);
        painter.setFont(subFont);
        painter.drawText(QRectF(r.left() + 2, y + labelH + 1, r.width() - 4, subH),
                         Qt::AlignCenter | Qt::TextSingleLine,
                         QFontMetricsF(subFont).elidedText(label.sublabel, Qt::ElideRight, r.width() - 4));
    }
}

void PadGridView::mousePressEvent(QMouseEvent* event)
{
    const int index = event->button() == Qt::LeftButton ? padAt(event->position()) : -1;
    if (index < 0 || !model_) {
        event->ignore();
        return;
    }
    release();
    const bool erase = event->modifiers().testFlag(Qt::AltModifier);
    held_ = Held{QPointer<DeckModel>(&deck_), deck_.padMode(), index, event->position()};
    model_->pressPad(deck_, held_->mode, index, true, erase);
    event->accept();
}

void PadGridView::mouseMoveEvent(QMouseEvent* event)
{
    if (held_ && QLineF(held_->at, event->position()).length() > kPadSlop)
        release();
}

void PadGridView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        release();
}

void PadGridView::hideEvent(QHideEvent* event)
{
    release();
    QWidget::hideEvent(event);
}

bool PadGridView::event(QEvent* event)
{
    if (event->type() == QEvent::UngrabMouse)
        release();
    return QWidget::event(event);
}

void PadGridView::release()
{
    if (!held_)
        return;
    const Held held = *held_;
    held_.reset();
    if (model_ && held.deck)
        model_->pressPad(*held.deck, held.mode, held.index, false, false);
}

// ---- PadMirror

PadMirror::PadMirror(AppModel& model, DeckModel& deck, StageSides* sides, kit::UiEnv env, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("deckPanel.%1.padMirror").arg(deck.index()));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    chips_ = new PadChipRow(deck, env, this);
    pads_ = new PadGridView(model, deck, sides, env, this);
    column->addWidget(chips_);
    column->addWidget(pads_, 1);
}

} // namespace zelvo::stage
