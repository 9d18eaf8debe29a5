#include "audio/Smoothed.h"

#include <cmath>

namespace zelvo {

Smoothed::Smoothed(float v, float timeMs, float sampleRate) noexcept
    : value(v)
    // Single precision throughout, so the coefficient is the same float on every
    // machine that rounds expf correctly; timeMs 0 gives exp(-inf) = 0, coeff 1.
    , coeff_(1.0f - std::exp(-1.0f / (timeMs * 0.001f * sampleRate)))
{
}

} // namespace zelvo
