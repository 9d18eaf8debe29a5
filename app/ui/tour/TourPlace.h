#pragma once
// Where a tour card goes beside a spotlighted region: below it, else above,
// else to its right, else to its left, else in the middle; always 18 points
// clear of the window's edges and of the region.
//
// QtCore only. Any thread.
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <optional>

namespace zelvo {

inline constexpr double kTourCardMargin = 18.0;

// The card's centre, for a card of `card` over a window of `bounds` (its size)
// beside `hole` (the region already grown; none: centred).
QPointF placeTourCard(QSizeF card, const std::optional<QRectF>& hole, QSizeF bounds);

} // namespace zelvo
