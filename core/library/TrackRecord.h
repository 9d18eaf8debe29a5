#pragma once
// One entry of the library: where the audio file lies, what to call it, what
// the analyser found in it, where the performer left cues, when it was added,
// how often it was played, and for a generated take what it was made from.
// A plain value; any thread.
#include "library/BeatGrid.h"
#include "library/MusicalKey.h"
#include "library/OutpaintInfo.h"
#include "library/TrackMetrics.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zelvo {

class JsonTextWriter;

struct TrackRecord {
    QUuid id;                                   // identity of the record
    QString path;                               // absolute path of the audio file
    QString title;                              // display title
    QString artist;                             // display artist
    QString album;                              // display album
    double duration = 0.0;                      // seconds of audio
    std::optional<BeatGrid> grid;               // detected or edited beat grid
    std::optional<MusicalKey> key;              // detected key
    std::optional<double> loudnessDB;           // mean-square loudness, dB full scale
    std::optional<TrackMetrics> metrics;        // energy, brightness, dynamics
    double cuePoint = 0.0;                      // main cue, seconds
    std::vector<std::optional<double>> hotCues; // one slot per pad, seconds; empty slot = none
    QDateTime added;                            // when the record was made
    bool analyzed = false;                      // the analysis queue has processed it
    std::optional<OutpaintInfo> outpaint;       // provenance of a generated take
    std::int64_t plays = 0;                     // times played

    // Slots a new record gets, one per performance pad.
    static constexpr std::size_t kHotCueSlots = 8;

    // A fresh record for the audio file at `path`: a new random id, the file
    // name without its last extension as title, eight empty hot-cue slots, added
    // at `added`, everything else empty or 0. Touches no file. Any thread.
    static TrackRecord forFile(const QString& path, const QDateTime& added);

    // A file URL of `path`. Any thread.
    QUrl url() const { return QUrl::fromLocalFile(path); }
    // The grid's tempo, when there is a grid. Any thread.
    std::optional<double> bpm() const { return grid ? std::optional<double>(grid->bpm) : std::nullopt; }
    // True for a generated take. Any thread.
    bool isOutpaint() const { return outpaint.has_value(); }

    // The stored form: keys named after the fields, absent optionals left out.
    // Numbers JSON cannot hold (NaN, infinities) are never written: an optional
    // one is left out, a required one written as 0, and each is described in
    // `repairs` when given. Any thread.
    QJsonObject toJson(QStringList* repairs = nullptr) const;
    // The same form written as text, keys sorted: the collection's encoder,
    // which builds no intermediate objects. Any thread.
    void writeJson(JsonTextWriter& writer, QStringList* repairs = nullptr) const;
    // Reads the stored form, all or nothing: empty when a required key is
    // missing or holds the wrong kind of value. Unknown keys are ignored; a null
    // optional reads as absent; "hotCues" is kept as long as it is. Any thread.
    static std::optional<TrackRecord> fromJson(const QJsonObject& object);

    // Every field equal, numbers compared numerically.
    friend bool operator==(const TrackRecord&, const TrackRecord&) = default;
};

} // namespace zelvo

template <>
struct std::hash<zelvo::TrackRecord> {
    // Consistent with ==: 0.0 and -0.0 hash alike. Any thread.
    std::size_t operator()(const zelvo::TrackRecord& record) const noexcept;
};
