#include "platform/HannWindow.h"

#include <cmath>
#include <numbers>

namespace zelvo {

std::vector<float> hannWindow(std::size_t n)
{
    std::vector<float> window(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double phase = 2.0 * std::numbers::pi * double(i) / double(n);
        window[i] = float(kHannScale * (1.0 - std::cos(phase)));
    }
    return window;
}

} // namespace zelvo
