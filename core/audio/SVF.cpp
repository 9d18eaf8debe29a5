#include "audio/SVF.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zelvo {

void SVF::set(double cutoff, double q, double sampleRate) noexcept
{
    // Written so that a NaN cutoff fails the first test and lands on the floor
    // instead of reaching tan().
    if (!(cutoff >= 10.0))
        cutoff = 10.0;
    cutoff = std::min(cutoff, 0.49 * sampleRate);
    g = std::tan(std::numbers::pi * cutoff / sampleRate);
    k = 1.0 / std::max(q, 0.05);
    a1 = 1.0 / (1.0 + g * (g + k));
    a2 = g * a1;
    a3 = g * a2;
}

} // namespace zelvo
