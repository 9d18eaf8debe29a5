#include "ui/stage/TourSpots.h"

#include <QVariant>
#include <QWidget>

namespace zelvo {
namespace {
constexpr const char* kProperty = "zelvoTourSpot";
}

void tourSpot(QWidget* widget, TourSpot spot)
{
    if (widget)
        widget->setProperty(kProperty, int(spot));
}

void clearTourSpots(QWidget* widget)
{
    if (!widget)
        return;
    widget->setProperty(kProperty, QVariant());
    for (QWidget* child : widget->findChildren<QWidget*>())
        child->setProperty(kProperty, QVariant());
}

std::map<TourSpot, QRect> tourSpots(const QWidget* root)
{
    std::map<TourSpot, QRect> spots;
    if (!root)
        return spots;
    for (const QWidget* widget : root->findChildren<QWidget*>()) {
        const QVariant value = widget->property(kProperty);
        if (!value.isValid() || !widget->isVisibleTo(root))
            continue;
        const int spot = value.toInt();
        if (spot < int(TourSpot::controller) || spot > int(TourSpot::flow))
            continue;
        spots[TourSpot(spot)] = QRect(widget->mapTo(root, QPoint(0, 0)), widget->size());
    }
    return spots;
}

} // namespace zelvo
