#pragma once
// Pickup for one knob or fader: lets a control that is being moved pass every
// reading, and holds back the jitter of a control at rest and the arbitrary
// first reading of a control not yet seen.
#include <limits>
#include <optional>

namespace zelvo {

// Main thread (one gate per control in the controller model); no locking.
struct ControlGate {
    // Distance from the anchor that wakes a control at rest.
    static constexpr double grab = 0.02;
    // Distance from the anchor that renews the movement window.
    static constexpr double keepAlive = 0.008;
    // Seconds after the last accepted movement during which every reading passes.
    static constexpr double window = 0.35;

    // The last accepted value; absent until the first reading.
    std::optional<double> anchor;
    // Time in seconds of the last accepted movement.
    double moving = -std::numeric_limits<double>::infinity();

    // Whether `value` (0...1), read at `time` (monotonic seconds), may be
    // applied. The first reading passes only at an end of travel (<= 0.001 or
    // >= 0.999); a moving control passes everything; a resting one must travel
    // `grab`, or move onto an end. A non-finite reading never passes and
    // changes nothing.
    bool pass(double value, double time);
};

} // namespace zelvo
