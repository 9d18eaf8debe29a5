#include "TestRenderers.h"

#include <cmath>
#include <numbers>

namespace zelvo::test {

void SineRenderer::render(int n, float* const* channels) noexcept
{
    const double step = 2.0 * std::numbers::pi * hz_ / sampleRate;
    for (int i = 0; i < n; ++i) {
        const float v = amplitude_ * float(std::sin(phase_));
        for (int c = 0; c < kChannels; ++c)
            channels[c][i] = v;
        phase_ += step;
        if (phase_ > 2.0 * std::numbers::pi)
            phase_ -= 2.0 * std::numbers::pi;
    }
    note(n);
}

} // namespace zelvo::test
