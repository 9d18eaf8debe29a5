#include "ui/kit/LiveSchedule.h"

#include <cmath>
#include <cstdlib>

namespace zelvo::kit {

double secondsSinceReference(const QDateTime& date)
{
    // 2001-01-01T00:00:00Z is 978307200 s after the Unix epoch.
    return double(date.toMSecsSinceEpoch()) / 1000.0 - 978307200.0;
}

LiveSchedule::LiveSchedule(double fps, bool paused)
    : interval_(1.0 / snappedRate(fps)), paused_(paused || !(fps > 0) || frozen())
{
}

double LiveSchedule::snappedRate(double fps)
{
    static constexpr double rates[] = {60, 30, 20, 15, 12, 10, 6, 5, 4, 3, 2, 1};
    for (double r : rates)
        if (r <= fps)
            return r;
    return 1;
}

bool LiveSchedule::frozen()
{
    static const bool value = std::getenv("KAVRI_FREEZE") != nullptr;
    return value;
}

double LiveSchedule::step(bool lowFrequency) const
{
    return lowFrequency && interval_ <= 1.0 ? 1.0 : interval_;
}

double LiveSchedule::firstFrame(double from, bool lowFrequency) const
{
    const double s = step(lowFrequency);
    // Rounding guards the floor against 12.3 / 0.05 landing a hair below 246.
    double n = std::floor(from / s);
    if (std::abs((n + 1) * s - from) < 1e-9)
        n += 1;
    return s * n;
}

LiveSchedule::Entries LiveSchedule::entries(double from, bool lowFrequency) const
{
    return Entries(firstFrame(from, lowFrequency), step(lowFrequency), paused_);
}

std::optional<double> LiveSchedule::Entries::next()
{
    if (!started_) {
        started_ = true;
        return at_;
    }
    if (paused_)
        return std::nullopt;
    at_ += step_;
    return at_;
}

} // namespace zelvo::kit
