#pragma once
// A library of `count` varied records for the browser lists' benchmarks: titles,
// artists, tempos, keys, energies, dates added and lengths all differ, so every
// sort has work to do.
#include "support/LibraryFixtures.h"

#include <QDate>
#include <QDateTime>

#include <vector>

namespace zelvo::bench {

inline std::vector<TrackRecord> records(int count)
{
    std::vector<TrackRecord> out;
    out.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        test::RecordFields fields;
        fields.title = QStringLiteral("track %1 of the long night").arg(i);
        fields.artist = QStringLiteral("artist %1").arg(i % 97);
        fields.bpm = 118.0 + (i % 17);
        fields.key = MusicalKey(i % 12, i % 3 == 0);
        fields.energy = (i % 10) / 10.0;
        fields.added = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i);
        out.push_back(test::fixtureRecord(fields));
        out.back().duration = 180 + i % 200;
    }
    return out;
}

} // namespace zelvo::bench
