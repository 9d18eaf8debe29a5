#include "ui/kit/ControlMath.h"

#include "ui/kit/Palette.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zelvo::kit {

double Range::clamp(double v) const
{
    if (!std::isfinite(v))
        return lo;
    return std::clamp(v, std::min(lo, hi), std::max(lo, hi));
}

double rangeFraction(double value, Range range)
{
    const double span = range.span();
    if (span == 0 || !std::isfinite(span) || !std::isfinite(value))
        return 0;
    return (value - range.lo) / span;
}

namespace {

// Truncates after clamping, so no out-of-range float reaches an integer cast.
int litFromFraction(double f, int segments, bool floorIt)
{
    if (segments <= 0 || !std::isfinite(f))
        return 0;
    const double k = floorIt ? std::floor(f * segments) : std::trunc(f * segments);
    return int(std::clamp(k, 0.0, double(segments)));
}

} // namespace

int ladderLitCount(double level, int segments)
{
    if (!std::isfinite(level))
        return 0;
    const double dB = 20.0 * std::log10(std::max(level, 0.000001));
    return litFromFraction((dB + 42.0) / 42.0, segments, true);
}

int meterLitCount(double level, int segments)
{
    if (!std::isfinite(level))
        return 0;
    const double f = level > 0 ? (20.0 * std::log10(level) + 42.0) / 42.0 : -54.0 / 42.0;
    return litFromFraction(std::clamp(f, 0.0, 1.0), segments, false);
}

namespace KnobMath {

std::vector<RingDot> ring(int dots, double p, bool bipolar, QPointF c, double size)
{
    std::vector<RingDot> out;
    if (dots <= 0)
        return out;
    const double radius = size / 2 + 4.5;
    for (int i = 0; i < dots; ++i) {
        const double t = dots == 1 ? 0.5 : double(i) / (dots - 1);
        bool lit;
        if (bipolar && p >= 0.5)
            lit = t >= 0.499 && t <= p + 0.001;
        else if (bipolar)
            lit = t >= p - 0.001 && t <= 0.501;
        else
            lit = t <= p + 0.001;
        const double a = angle(t) * M_PI / 180.0;
        out.push_back({QPointF(c.x() + radius * std::cos(a), c.y() + radius * std::sin(a)), t, lit});
    }
    return out;
}

double dragValue(double start, Range range, double dy, bool fine)
{
    const double m = fine ? 0.2 : 1.0;
    return range.clamp(start + m * range.span() * (-dy / travel));
}

double resetValue(std::optional<double> reset, bool bipolar, Range range)
{
    if (reset)
        return *reset;
    return bipolar ? range.mid() : range.lo;
}

} // namespace KnobMath

namespace FaderMath {

double capOffset(double value, Range range, bool invert, double length)
{
    const double f = rangeFraction(value, range);
    const double fp = invert ? 1 - f : f;
    return (fp - 0.5) * std::max(0.0, length - 20);
}

std::optional<double> dragValue(double start, Range range, double d, double length, bool fine, bool invert,
                                bool centerDetent)
{
    if (!(length > 20) || !std::isfinite(d))
        return std::nullopt;
    const double m = fine ? 0.25 : 1.0;
    double delta = m * (d / (length - 20)) * range.span();
    if (invert)
        delta = -delta;
    double value = range.clamp(start + delta);
    if (centerDetent && std::abs(value - range.mid()) < 0.015 * std::abs(range.span()))
        value = range.mid();
    return value;
}

double resetValue(std::optional<double> reset, bool centerDetent, Range range)
{
    if (reset)
        return *reset;
    return centerDetent ? range.mid() : range.lo;
}

std::vector<Tick> ticks(int count, double axisLength)
{
    std::vector<Tick> out;
    if (count <= 0)
        return out;
    if (count == 1)
        return {Tick{axisLength / 2, true}};
    for (int i = 0; i < count; ++i)
        out.push_back({(axisLength - 20) * i / (count - 1) + 10, i == 0 || i == count - 1 || i == count / 2});
    return out;
}

} // namespace FaderMath

namespace LiveKnobMath {

double dragValue(double start, Range range, double dy) { return range.clamp(start + range.span() * (-dy / travel)); }

std::optional<std::pair<double, double>> valueArc(double p, bool bipolar)
{
    const double a = bipolar ? std::min(p, 0.5) : 0.0;
    const double b = bipolar ? std::max(p, 0.5) : p;
    if (!(b - a > 0.004))
        return std::nullopt;
    return std::make_pair(a, b);
}

} // namespace LiveKnobMath

namespace LiveFaderMath {

double capPosition(double value, Range range, double axis, bool vertical, bool invert)
{
    if (!(axis > 12))
        return std::max(0.0, axis) / 2;
    const double p = std::clamp(rangeFraction(value, range), 0.0, 1.0);
    const double q = flipped(vertical, invert) ? 1 - p : p;
    return 6 + (axis - 12) * q;
}

std::optional<double> touchValue(double location, Range range, double axis, bool vertical, bool invert)
{
    if (!(axis > 12) || !std::isfinite(location))
        return std::nullopt;
    double t = std::clamp((location - 6) / (axis - 12), 0.0, 1.0);
    if (flipped(vertical, invert))
        t = 1 - t;
    return range.lo + t * range.span();
}

} // namespace LiveFaderMath

namespace LadderMath {

std::vector<Segment> segments(double level, int count, QSizeF size)
{
    std::vector<Segment> out;
    if (count <= 0)
        return out;
    const int k = ladderLitCount(level, count);
    const double s = (size.height() - (count - 1) * 1.5) / count;
    for (int i = 0; i < count; ++i) {
        const QRectF r(0, size.height() - s * (i + 1) - i * 1.5, size.width(), s);
        out.push_back({r, i < count - 2 ? Palette::glow() : Palette::red(), i < k});
    }
    return out;
}

} // namespace LadderMath

namespace MeterMath {

QColor segmentColor(int i, int count, int lit)
{
    if (i >= lit || count <= 0)
        return withAlpha(Stage::line(), 0.7);
    const double r = double(i) / count;
    if (r > 0.86)
        return Stage::rbRed();
    if (r > 0.66)
        return Stage::rbAmber();
    return Stage::rbGreen();
}

} // namespace MeterMath

namespace KeyMath {

bool lampOn(bool lit, bool blink, double frameTime)
{
    if (!blink)
        return lit;
    if (!lit)
        return false;
    // Seconds since 2001 times 3 exceed 2^31: keep the whole part in 64 bits.
    const double thirds = std::floor(std::isfinite(frameTime) ? frameTime * 3.0 : 0.0);
    const auto n = std::int64_t(std::clamp(thirds, -9.0e18, 9.0e18));
    return n % 2 == 0;
}

} // namespace KeyMath

} // namespace zelvo::kit
