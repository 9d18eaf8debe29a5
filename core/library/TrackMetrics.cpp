#include "library/TrackMetrics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvo {

namespace {

double clampUnit(double v)
{
    if (std::isnan(v))
        return 0.0;
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

std::optional<TrackMetrics> TrackMetrics::from(const WaveformData& waveform)
{
    // A waveform read from disk may carry bands of unequal length; reading past
    // the shorter ones would be out of bounds, so only whole points count.
    const std::size_t n = std::min({waveform.low.size(), waveform.mid.size(), waveform.high.size()});
    if (n < 9)
        return std::nullopt;

    std::vector<double> level(n);
    double sl = 0.0, sm = 0.0, sh = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double l = waveform.low[i] / 255.0;
        const double m = waveform.mid[i] / 255.0;
        const double h = waveform.high[i] / 255.0;
        level[i] = (l + m + h) / 3.0;
        sl += l;
        sm += m;
        sh += h;
    }
    const double total = sl + sm + sh;
    const double brightness = total > 0.0 ? (sh + 0.5 * sm) / total : 0.5;

    double flux = 0.0;
    for (std::size_t i = 1; i < n; ++i)
        flux += std::fabs(level[i] - level[i - 1]);
    const double flow = std::min(6.0 * flux / double(n - 1), 1.0);

    std::vector<double> sorted = level;
    std::sort(sorted.begin(), sorted.end());
    // The loudest quarter, rounded up in size.
    const std::size_t topFrom = 3 * n / 4;
    double topSum = 0.0;
    for (std::size_t i = topFrom; i < n; ++i)
        topSum += sorted[i];
    const double topMean = topSum / double(n - topFrom);

    const double mean = total / (3.0 * double(n));
    const double energy = 0.2 * mean + 0.65 * topMean + 0.15 * flow;

    const double p10 = sorted[n / 10];
    const double p90 = sorted[9 * n / 10];
    const double dynamics = std::min(std::max(1.6 * (p90 - p10), 0.0), 1.0);

    return TrackMetrics{clampUnit(energy), clampUnit(brightness), dynamics};
}

QJsonObject TrackMetrics::toJson() const
{
    QJsonObject json;
    json.insert(QStringLiteral("energy"), energy);
    json.insert(QStringLiteral("brightness"), brightness);
    json.insert(QStringLiteral("dynamics"), dynamics);
    return json;
}

std::optional<TrackMetrics> TrackMetrics::fromJson(const QJsonObject& json)
{
    const QJsonValue e = json.value(QStringLiteral("energy"));
    const QJsonValue b = json.value(QStringLiteral("brightness"));
    const QJsonValue d = json.value(QStringLiteral("dynamics"));
    if (!e.isDouble() || !b.isDouble() || !d.isDouble())
        return std::nullopt;
    return TrackMetrics{e.toDouble(), b.toDouble(), d.toDouble()};
}

} // namespace zelvo
