#include "ui/tour/TourPlace.h"

#include <algorithm>

namespace zelvo {

namespace {

// Raised to `low` first, then lowered to `high`: when the two cross, `high` wins.
double clampHighWins(double v, double low, double high)
{
    return std::min(std::max(v, low), high);
}

} // namespace

QPointF placeTourCard(QSizeF card, const std::optional<QRectF>& hole, QSizeF bounds)
{
    const double M = kTourCardMargin;
    const double W = bounds.width(), H = bounds.height();
    const double w = card.width(), h = card.height();
    const QPointF middle(W / 2, H / 2);
    if (!hole)
        return middle;
    const QRectF& r = *hole;
    const auto across = [&] { return clampHighWins(r.center().x(), w / 2 + M, W - w / 2 - M); };
    const auto down = [&] { return clampHighWins(r.center().y(), h / 2 + M, H - h / 2 - M); };
    // Every test is strict: a card touching the margin does not fit that side.
    if (r.bottom() + M + h < H - M)
        return {across(), r.bottom() + M + h / 2};
    if (r.top() - M - h > M)
        return {across(), r.top() - M - h / 2};
    if (r.right() + M + w < W - M)
        return {r.right() + M + w / 2, down()};
    if (r.left() - M - w > M)
        return {r.left() - M - w / 2, down()};
    return middle;
}

} // namespace zelvo
