#include "support/LibraryFixtures.h"

#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace zelvo::test {

TrackRecord fixtureRecord(const RecordSpec& spec)
{
    TrackRecord record = TrackRecord::forFile(QStringLiteral("/music/") + spec.title + QStringLiteral(".wav"), spec.added);
    record.id = QUuid::createUuid();
    record.title = spec.title;
    record.artist = spec.artist;
    record.duration = 300.0;
    if (spec.bpm)
        record.grid = BeatGrid(*spec.bpm, 0.0, spec.beatsPerBar);
    record.key = spec.key;
    if (spec.energy)
        record.metrics = TrackMetrics{*spec.energy, 0.5, 0.5};
    record.analyzed = true;
    record.plays = spec.plays;
    record.outpaint = spec.outpaint;
    return record;
}

void writeCollection(const std::vector<TrackRecord>& records)
{
    const QString folder = Folders::applicationSupport();
    QDir().mkpath(folder);
    QJsonArray array;
    for (const TrackRecord& record : records)
        array.append(record.toJson());
    QFile file(folder + QStringLiteral("/collection.json"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace zelvo::test
