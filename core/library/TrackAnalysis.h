#pragma once
// Everything the analyser tells about one track's sound.
#include "library/BeatGrid.h"
#include "library/MusicalKey.h"
#include "library/TrackMetrics.h"
#include "library/WaveformData.h"

#include <QJsonObject>

#include <optional>

namespace zelvo {

struct TrackAnalysis {
    // Seconds: frames / sample rate of the analysed buffer.
    double duration = 0.0;
    // Detected tempo map, always 4 beats per bar.
    BeatGrid grid{120.0, 0.0, 4};
    // None when the audio gives too little to judge.
    std::optional<MusicalKey> key;
    // Mean-square level of the mono mix in dB relative to full scale; about −120
    // for silence.
    double loudnessDB = -120.0;
    // None for waveforms under 9 points.
    std::optional<TrackMetrics> metrics;
    // 150 points per second.
    WaveformData waveform;

    // Keyed form: "duration", "grid", "key", "loudnessDB", "metrics", "waveform";
    // "key" and "metrics" only when present. Any thread.
    QJsonObject toJson() const;
    // Reads the keyed form; a missing "key" or "metrics" reads as none, any other
    // missing or unreadable field gives none. Any thread.
    static std::optional<TrackAnalysis> fromJson(const QJsonObject& json);

    friend bool operator==(const TrackAnalysis&, const TrackAnalysis&) = default;
};

} // namespace zelvo
