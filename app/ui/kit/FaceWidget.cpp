#include "ui/kit/FaceWidget.h"

#include "ui/kit/Canvas.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace zelvo::kit {

FaceWidget::FaceWidget(const UiEnv& env, QWidget* parent) : QWidget(parent), env_(env)
{
    setAttribute(Qt::WA_TranslucentBackground);
    if (env_.faceScale)
        connect(env_.faceScale, &FaceScaleSource::changed, this, [this] { scaleChanged(); });
}

QSize FaceWidget::sizeHint() const
{
    const QSizeF s = designSize() * scale();
    return QSize(int(std::ceil(s.width() - 1e-6)), int(std::ceil(s.height() - 1e-6)));
}

bool FaceWidget::hitTest(QPointF p) const { return QRectF(QPointF(0, 0), designSize()).contains(p); }

QPointF FaceWidget::toDesign(QPointF widgetPoint) const
{
    const double s = scale();
    return s > 0 ? widgetPoint / s : widgetPoint;
}

void FaceWidget::paintEvent(QPaintEvent*)
{
    ++paints_;
    QPainter painter(this);
    painter.scale(scale(), scale());
    PainterCanvas canvas(painter);
    paintFace(canvas);
}

void FaceWidget::resizeToDesign() { setFixedSize(sizeHint()); }

void FaceWidget::scaleChanged()
{
    resizeToDesign();
    update();
}

DesignBox::DesignBox(const UiEnv& env, QSizeF designSize, QWidget* parent) : FaceWidget(env, parent), size_(designSize)
{
    resizeToDesign();
}

DesignBox::~DesignBox()
{
    // Children die after the box's members: stop them reporting back first.
    for (const Placed& p : placed_)
        disconnect(p.widget, &QObject::destroyed, this, nullptr);
}

void DesignBox::setDesignSize(QSizeF size)
{
    if (size == size_)
        return;
    size_ = size;
    designSizeChanged();
    resizeToDesign();
    update();
}

void DesignBox::place(QWidget* child, QRectF rect)
{
    if (child->parentWidget() == this) {
        const auto known = std::find_if(placed_.begin(), placed_.end(), [child](const Placed& p) { return p.widget == child; });
        if (known != placed_.end()) {
            known->rect = rect;
            layoutChildren();
            return;
        }
    }
    child->setParent(this);
    const bool drawn = qobject_cast<FaceWidget*>(child) != nullptr;
    placed_.push_back({child, rect, drawn ? 0.0 : child->font().pointSizeF()});
    connect(child, &QObject::destroyed, this, [this, raw = child] {
        std::erase_if(placed_, [raw](const Placed& p) { return p.widget == raw; });
    });
    layoutChildren();
    child->show();
}

void DesignBox::setBackground(std::function<void(Canvas&, QSizeF)> painter)
{
    background_ = std::move(painter);
    update();
}

void DesignBox::paintFace(Canvas& canvas)
{
    if (background_)
        background_(canvas, size_);
}

void DesignBox::scaleChanged()
{
    FaceWidget::scaleChanged();
    layoutChildren();
}

void DesignBox::layoutChildren()
{
    const double s = scale();
    for (const Placed& p : placed_) {
        const QRectF r(p.rect.topLeft() * s, p.rect.size() * s);
        if (p.basePointSize > 0) {
            QFont font = p.widget->font();
            font.setPointSizeF(p.basePointSize * s);
            p.widget->setFont(font);
            p.widget->setGeometry(r.toAlignedRect());
        } else {
            // A drawn child sizes itself from its design size; only move it.
            p.widget->move(QPoint(int(std::lround(r.x())), int(std::lround(r.y()))));
        }
    }
}

} // namespace zelvo::kit
