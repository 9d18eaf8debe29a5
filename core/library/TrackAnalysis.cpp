#include "library/TrackAnalysis.h"

namespace zelvo {

QJsonObject TrackAnalysis::toJson() const
{
    QJsonObject json;
    json.insert(QStringLiteral("duration"), duration);
    json.insert(QStringLiteral("grid"), grid.toJson());
    if (key)
        json.insert(QStringLiteral("key"), key->toJson());
    json.insert(QStringLiteral("loudnessDB"), loudnessDB);
    if (metrics)
        json.insert(QStringLiteral("metrics"), metrics->toJson());
    json.insert(QStringLiteral("waveform"), waveform.toJson());
    return json;
}

std::optional<TrackAnalysis> TrackAnalysis::fromJson(const QJsonObject& json)
{
    const QJsonValue duration = json.value(QStringLiteral("duration"));
    const QJsonValue loudness = json.value(QStringLiteral("loudnessDB"));
    const QJsonValue grid = json.value(QStringLiteral("grid"));
    const QJsonValue waveform = json.value(QStringLiteral("waveform"));
    if (!duration.isDouble() || !loudness.isDouble() || !grid.isObject() || !waveform.isObject())
        return std::nullopt;

    TrackAnalysis a;
    a.duration = duration.toDouble();
    a.loudnessDB = loudness.toDouble();
    const auto g = BeatGrid::fromJson(grid.toObject());
    const auto w = WaveformData::fromJson(waveform.toObject());
    if (!g || !w)
        return std::nullopt;
    a.grid = *g;
    a.waveform = *w;

    const QJsonValue key = json.value(QStringLiteral("key"));
    if (!key.isUndefined()) {
        const auto k = key.isObject() ? MusicalKey::fromJson(key.toObject()) : std::nullopt;
        if (!k)
            return std::nullopt;
        a.key = *k;
    }
    const QJsonValue metrics = json.value(QStringLiteral("metrics"));
    if (!metrics.isUndefined()) {
        const auto m = metrics.isObject() ? TrackMetrics::fromJson(metrics.toObject()) : std::nullopt;
        if (!m)
            return std::nullopt;
        a.metrics = *m;
    }
    return a;
}

} // namespace zelvo
