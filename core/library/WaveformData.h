#pragma once
// The three-band display waveform of a track: per slice of time one byte of
// level for the lows, the mids and the highs.
#include <QJsonObject>

#include <cstdint>
#include <optional>
#include <vector>

namespace zelvo {

struct WaveformData {
    // Points per second of audio; point i covers [i / pps, (i + 1) / pps).
    double pointsPerSecond = 150.0;
    // Band levels per point, 0...255. The three have the same length as made by
    // the analyser.
    std::vector<std::uint8_t> low;
    std::vector<std::uint8_t> mid;
    std::vector<std::uint8_t> high;

    // 150 points per second and no points. Any thread.
    static WaveformData empty() { return {}; }

    // Number of points: the length of the low band. Any thread.
    std::int64_t count() const { return std::int64_t(low.size()); }

    // This waveform cut at `seconds`, followed by every point of `other`; keeps this
    // waveform's points per second. A negative or non-number time cuts at 0, and a
    // band shorter than the cut keeps what it has. Any thread.
    WaveformData appending(const WaveformData& other, double seconds) const;

    // Keyed form: "pointsPerSecond" and the integer arrays "low", "mid", "high".
    // Any thread.
    QJsonObject toJson() const;
    // Reads the keyed form; none when a key is missing or a level is not an integer
    // in 0...255. Any thread.
    static std::optional<WaveformData> fromJson(const QJsonObject& json);

    friend bool operator==(const WaveformData&, const WaveformData&) = default;
};

} // namespace zelvo
