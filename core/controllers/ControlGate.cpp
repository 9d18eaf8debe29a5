#include "controllers/ControlGate.h"

#include <cmath>

namespace zelvo {

bool ControlGate::pass(double value, double time)
{
    // No reading of a real control is NaN or infinite; one that is must not
    // become the anchor, or no later reading could be compared with it.
    if (!std::isfinite(value))
        return false;
    const bool atEnd = value <= 0.001 || value >= 0.999;
    if (!anchor) {
        anchor = value;
        return atEnd;
    }
    const double d = std::abs(value - *anchor);
    if (time - moving < window) {
        if (d >= keepAlive) {
            anchor = value;
            moving = time;
        }
        return true;
    }
    if (d >= grab || (value != *anchor && atEnd)) {
        anchor = value;
        moving = time;
        return true;
    }
    return false;
}

} // namespace zelvo
