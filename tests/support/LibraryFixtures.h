#pragma once
// Library records with grids, keys and metrics, and a collection file holding
// them, for tests and benchmarks that need a library without audio files.
#include "library/TrackRecord.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace zelvo::test {

// The fields a test sets on a fixture record; the rest keep these defaults.
struct RecordFields {
    QString title{};
    QString artist = QStringLiteral("Artist");
    std::optional<double> bpm = 120.0;       // none: no grid
    std::optional<MusicalKey> key = MusicalKey(0, false);
    std::optional<double> energy = 0.5;      // none: no metrics
    QDateTime added = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    std::int64_t plays = 0;
    std::optional<OutpaintInfo> outpaint{};
    std::int64_t beatsPerBar = 4;
};

// An analysed record with a fresh identifier; the path names no real file.
TrackRecord fixtureRecord(const RecordFields& fields);
// Writes `records` as the collection file of the application support folder
// (under the current HOME/XDG), so the next library store starts with them.
void writeCollection(const std::vector<TrackRecord>& records);

} // namespace zelvo::test
