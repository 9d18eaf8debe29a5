#include "library/Similarity.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zelvo::Similarity {

double tempo(std::optional<double> a, std::optional<double> b)
{
    if (!a || !b || !(*a > 0.0) || !(*b > 0.0))
        return 0.0;
    double r = *a / *b;
    // An endless or non-number ratio can neither be folded nor match.
    if (!std::isfinite(r) || r == 0.0)
        return 0.0;
    while (r > 1.42)
        r /= 2.0;
    while (r < 0.71)
        r *= 2.0;
    return std::max(1.0 - std::fabs(r - 1.0) / 0.08, 0.0);
}

double key(const std::optional<MusicalKey>& a, const std::optional<MusicalKey>& b)
{
    if (!a || !b)
        return 0.0;
    // Compared as the keys they name (a stored pitch class may lie outside 0...11).
    const MusicalKey x(a->pitchClass, a->minor);
    const MusicalKey y(b->pitchClass, b->minor);
    if (x == y)
        return 1.0;
    const std::int64_t d0 = std::llabs(x.camelotNumber() - y.camelotNumber());
    const std::int64_t d = std::min(d0, 12 - d0);
    if (x.minor != y.minor)
        return d == 0 ? 0.85 : d == 1 ? 0.4 : 0.0;
    return d == 1 ? 0.8 : d == 2 ? 0.45 : 0.0;
}

double intensity(const std::optional<TrackMetrics>& a, const std::optional<TrackMetrics>& b)
{
    if (!a || !b)
        return 0.0;
    const double e = std::min(std::fabs(a->energy - b->energy) / 0.35, 1.0);
    const double br = std::min(std::fabs(a->brightness - b->brightness) / 0.4, 1.0);
    const double score = 0.75 * (1.0 - e) + 0.25 * (1.0 - br);
    return score < 0.0 ? 0.0 : score;
}

double overall(std::optional<double> bpmA, std::optional<double> bpmB, const std::optional<MusicalKey>& keyA,
               const std::optional<MusicalKey>& keyB, const std::optional<TrackMetrics>& metricsA,
               const std::optional<TrackMetrics>& metricsB)
{
    return 0.4 * key(keyA, keyB) + 0.35 * tempo(bpmA, bpmB) + 0.25 * intensity(metricsA, metricsB);
}

} // namespace zelvo::Similarity
