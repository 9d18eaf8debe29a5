#include "library/WaveformData.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace zelvo {

namespace {

QJsonArray bandToJson(const std::vector<std::uint8_t>& band)
{
    QJsonArray array;
    for (std::uint8_t v : band)
        array.append(int(v));
    return array;
}

std::optional<std::vector<std::uint8_t>> bandFromJson(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    std::vector<std::uint8_t> band;
    band.reserve(std::size_t(array.size()));
    for (const QJsonValue& v : array) {
        if (!v.isDouble())
            return std::nullopt;
        const double d = v.toDouble();
        if (!(d >= 0.0 && d <= 255.0) || d != std::floor(d))
            return std::nullopt;
        band.push_back(std::uint8_t(d));
    }
    return band;
}

} // namespace

WaveformData WaveformData::appending(const WaveformData& other, double seconds) const
{
    // c = min(count, trunc(seconds × pps)), worked out in floating point so that a
    // huge, negative or non-number product cannot overflow the conversion.
    const double k = std::trunc(seconds * pointsPerSecond);
    std::size_t c = 0;
    if (k >= double(low.size()))
        c = low.size();
    else if (k > 0.0)
        c = std::size_t(k);
    const auto join = [c](const std::vector<std::uint8_t>& mine, const std::vector<std::uint8_t>& theirs) {
        const std::size_t kept = std::min(c, mine.size());
        std::vector<std::uint8_t> out;
        out.reserve(kept + theirs.size());
        out.insert(out.end(), mine.begin(), mine.begin() + std::ptrdiff_t(kept));
        out.insert(out.end(), theirs.begin(), theirs.end());
        return out;
    };
    WaveformData result;
    result.pointsPerSecond = pointsPerSecond;
    result.low = join(low, other.low);
    result.mid = join(mid, other.mid);
    result.high = join(high, other.high);
    return result;
}

QJsonObject WaveformData::toJson() const
{
    QJsonObject json;
    json.insert(QStringLiteral("pointsPerSecond"), pointsPerSecond);
    json.insert(QStringLiteral("low"), bandToJson(low));
    json.insert(QStringLiteral("mid"), bandToJson(mid));
    json.insert(QStringLiteral("high"), bandToJson(high));
    return json;
}

std::optional<WaveformData> WaveformData::fromJson(const QJsonObject& json)
{
    const QJsonValue pps = json.value(QStringLiteral("pointsPerSecond"));
    if (!pps.isDouble())
        return std::nullopt;
    auto low = bandFromJson(json.value(QStringLiteral("low")));
    auto mid = bandFromJson(json.value(QStringLiteral("mid")));
    auto high = bandFromJson(json.value(QStringLiteral("high")));
    if (!low || !mid || !high)
        return std::nullopt;
    WaveformData w;
    w.pointsPerSecond = pps.toDouble();
    w.low = std::move(*low);
    w.mid = std::move(*mid);
    w.high = std::move(*high);
    return w;
}

} // namespace zelvo
