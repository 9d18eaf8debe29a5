#pragma once
// Pure geometry, lit sets and drag maths of the drawn controls. Widgets draw
// only what these return; tests check them without widgets. Any thread.
#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <optional>
#include <vector>

namespace zelvo::kit {

struct Range {
    double lo = 0;
    double hi = 1;
    double span() const { return hi - lo; }
    double mid() const { return (lo + hi) / 2; }
    double clamp(double v) const;
};

// (value − lo) / (hi − lo), not clamped; 0 for an empty range or a value that
// is not a finite number, so no NaN reaches a drawing or a binding.
double rangeFraction(double value, Range range);

// The level scale shared by ladders and meters: 20 × log10(level) from −42 dB
// (nothing lit) to 0 dB (everything lit). Lit segments of `segments`; a
// non-finite level and zero or fewer segments light nothing.
int ladderLitCount(double level, int segments);
int meterLitCount(double level, int segments);

namespace KnobMath {
constexpr double travel = 160; // points of drag that cover the whole range
struct RingDot {
    QPointF centre;
    double t;
    bool lit;
};
// Ring dots around centre `c` of a knob of diameter `size`. A single dot sits at the top.
std::vector<RingDot> ring(int dots, double p, bool bipolar, QPointF c, double size);
// Value after a vertical drag of `dy` points (down positive) from `start`.
double dragValue(double start, Range range, double dy, bool fine);
double resetValue(std::optional<double> reset, bool bipolar, Range range);
// Screen angle in degrees (clockwise from +x) of fraction p on the 270° sweep.
inline double angle(double p) { return p * 270.0 + 135.0; }
} // namespace KnobMath

namespace FaderMath {
struct Tick {
    double centre; // along the axis
    bool major;
};
// Cap centre's offset from the frame's centre along the axis.
double capOffset(double value, Range range, bool invert, double length);
// Value after a drag of `d` points along the axis from `start`; nullopt when
// the fader has no travel (length ≤ 20) and so ignores drags.
std::optional<double> dragValue(double start, Range range, double d, double length, bool fine, bool invert,
                                bool centerDetent);
double resetValue(std::optional<double> reset, bool centerDetent, Range range);
// Ticks along an axis of `axisLength`; a single tick sits in the middle.
std::vector<Tick> ticks(int count, double axisLength);
} // namespace FaderMath

namespace LiveKnobMath {
constexpr double travel = 140;
double dragValue(double start, Range range, double dy);
// Value arc as fractions [a, b]; nullopt when it is too short to draw (≤ 0.004).
std::optional<std::pair<double, double>> valueArc(double p, bool bipolar);
} // namespace LiveKnobMath

namespace LiveFaderMath {
// Whether the fader shows hi at the top (vertical) or lo at the right (horizontal).
inline bool flipped(bool vertical, bool invert) { return vertical != invert; }
// Cap centre along the axis from the top or left edge.
double capPosition(double value, Range range, double axis, bool vertical, bool invert);
// Value for a touch at `location` along the axis; nullopt when the axis is too
// short (≤ 12) to map a touch.
std::optional<double> touchValue(double location, Range range, double axis, bool vertical, bool invert);
} // namespace LiveFaderMath

namespace LadderMath {
struct Segment {
    QRectF rect;
    QColor color;
    bool lit;
};
// Segments bottom (index 0) first for a ladder of `size`.
std::vector<Segment> segments(double level, int count, QSizeF size);
} // namespace LadderMath

namespace MeterMath {
// Colour of segment i of `count` (lit or not).
QColor segmentColor(int i, int count, int lit);
} // namespace MeterMath

namespace KeyMath {
// A lit blinking lamp is on for the first third of every two thirds of a second.
bool lampOn(bool lit, bool blink, double frameTime);
} // namespace KeyMath

} // namespace zelvo::kit
