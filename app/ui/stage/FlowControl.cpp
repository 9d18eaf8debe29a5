#include "ui/stage/FlowControl.h"

#include "state/AppModel.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/KitFonts.h"
#include "platform/Scheduler.h"
#include "ui/kit/Palette.h"
#include "ui/stage/MachinePresenters.h"
#include "ui/stage/TextLineView.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainterPath>

#include <cmath>

namespace zelvo::stage {
namespace {

// The ghosts reach one point past the capsule on either side.
constexpr double kReach = 1;
constexpr double kHeight = 24;

QFont flowFont()
{
    return kit::sansFont(12, true);
}

QPainterPath capsulePath(const QRectF& rect)
{
    QPainterPath path;
    path.addRoundedRect(rect, rect.height() / 2, rect.height() / 2);
    return path;
}

} // namespace

FlowKey::FlowKey(AppModel& model, kit::UiEnv env, QWidget* parent) : FaceWidget(env, parent), model_(model)
{
    setObjectName(QStringLiteral("flow.key"));
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("flow: your record, zelvo-0's take of it, the next record, its take — on its own"));
    on_ = model_.autoQueue();
    resizeToDesign();
}

QSizeF FlowKey::capsule() const
{
    return {10 + 6 + 6 + kit::textWidth(flowFont(), QStringLiteral("flow")) + 10, kHeight};
}

QSizeF FlowKey::designSize() const
{
    const QSizeF c = capsule();
    return {std::ceil(c.width() + 2 * kReach), c.height()};
}

bool FlowKey::hitTest(QPointF p) const
{
    return capsulePath(QRectF(QPointF(kReach, 0), capsule())).contains(p);
}

void FlowKey::setOn(bool on)
{
    if (on == on_)
        return;
    on_ = on;
    update();
}

void FlowKey::paintFace(kit::Canvas& canvas)
{
    const QSizeF c = capsule();
    const bool on = on_;
    ghosts_.paint(canvas, QRectF(QPointF(kReach, 0), c), on ? 1 : 0, 0.6, on ? 1 : 0, devicePixelRatioF(),
                  [on](QPainter& painter, QSizeF size) {
                      kit::PainterCanvas content(painter);
                      content.fillPath(capsulePath(QRectF(QPointF(0, 0), size)),
                                       on ? kit::Stage::paper() : kit::Stage::inkHigh());
                      QPainterPath dot;
                      dot.addEllipse(QRectF(10, size.height() / 2 - 3, 6, 6));
                      content.fillPath(dot, on ? kit::Stage::ink() : kit::Stage::ashDim());
                      content.drawText(QRectF(22, 0, size.width() - 22, size.height()), QStringLiteral("flow"),
                                       flowFont(), on ? kit::Stage::ink() : kit::Stage::bone(),
                                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine);
                  });
}

void FlowKey::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && hitTest(toDesign(event->position()))) {
        down_ = true;
        event->accept();
        return;
    }
    FaceWidget::mousePressEvent(event);
}

void FlowKey::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !down_) {
        FaceWidget::mouseReleaseEvent(event);
        return;
    }
    down_ = false;
    event->accept();
    if (!hitTest(toDesign(event->position())))
        return;
    // The state root stores the new value under "set.auto".
    model_.setAutoQueue(!model_.autoQueue());
}

FlowControl::FlowControl(AppModel& model, kit::UiEnv env, QWidget* parent)
    : QWidget(parent), model_(model), env_(env)
{
    setObjectName(QStringLiteral("flow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    key_ = new FlowKey(model_, env_, this);
    row->addWidget(key_, 0, Qt::AlignVCenter);
    line_ = new TextLineView(kit::monoFont(10), true, this);
    line_->setObjectName(QStringLiteral("flow.line"));
    row->addWidget(line_, 1, Qt::AlignVCenter);
    queue_ = new TextLineView(kit::monoFont(9), false, this);
    queue_->setObjectName(QStringLiteral("flow.queue"));
    row->addWidget(queue_, 0, Qt::AlignVCenter);

    const auto again = [this] { refresh(); };
    connect(&model_, &AppModel::autoQueueChanged, this, again);
    connect(&model_, &AppModel::queueChanged, this, again);
    connect(&model_, &AppModel::flowChanged, this, again);
    connect(&model_.library(), &LibraryStore::tracksChanged, this, again);
    // Once a second on the state root's tick, so countdowns and the sentence
    // move on; an unchanged reading repaints nothing.
    connect(&model_, &AppModel::ticked, this, [this] {
        const double now = env_.scheduler ? env_.scheduler->uptime() : 0.0;
        if (now - lastRead_ >= 0.999 || now < lastRead_)
            refresh();
    });
    refresh();
}

FlowControl::~FlowControl() = default;

void FlowControl::refresh()
{
    lastRead_ = env_.scheduler ? env_.scheduler->uptime() : 0.0;
    const bool on = model_.autoQueue();
    key_->setOn(on);
    line_->setLine(model_.flowLine(), on ? kit::Stage::bone() : kit::Stage::ash());
    const LibraryStore& library = model_.library();
    const std::optional<QString> next =
        queueLine(on, model_.queue(), [&library](const QUuid& id) { return library.track(id); });
    queue_->setLine(next.value_or(QString()), kit::Stage::ash());
    queue_->setVisible(next.has_value());
}

} // namespace zelvo::stage
