#pragma once
// Energy, brightness and dynamics of a track, each in 0...1, condensed from its
// three-band waveform; the automatic queue ranks tracks by them.
#include "library/WaveformData.h"

#include <QJsonObject>

#include <optional>

namespace zelvo {

struct TrackMetrics {
    // Loudness of the busy parts and overall activity.
    double energy = 0.0;
    // Weight of the highs (and half the mids) against the whole.
    double brightness = 0.0;
    // Spread between quiet and loud passages.
    double dynamics = 0.0;

    // Metrics of a waveform; none under 9 points. Only points present in all three
    // bands count. Any thread.
    static std::optional<TrackMetrics> from(const WaveformData& waveform);

    // Keyed form: "energy", "brightness", "dynamics". Any thread.
    QJsonObject toJson() const;
    // Reads the keyed form; none unless all three keys hold numbers. Any thread.
    static std::optional<TrackMetrics> fromJson(const QJsonObject& json);

    friend bool operator==(const TrackMetrics&, const TrackMetrics&) = default;
};

} // namespace zelvo
