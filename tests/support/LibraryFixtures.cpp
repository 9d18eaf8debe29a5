#include "support/LibraryFixtures.h"

#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace zelvo::test {

TrackRecord fixtureRecord(const RecordFields& fields)
{
    TrackRecord record = TrackRecord::forFile(QStringLiteral("/music/") + fields.title + QStringLiteral(".wav"), fields.added);
    record.id = QUuid::createUuid();
    record.title = fields.title;
    record.artist = fields.artist;
    record.duration = 300.0;
    if (fields.bpm)
        record.grid = BeatGrid(*fields.bpm, 0.0, fields.beatsPerBar);
    record.key = fields.key;
    if (fields.energy)
        record.metrics = TrackMetrics{*fields.energy, 0.5, 0.5};
    record.analyzed = true;
    record.plays = fields.plays;
    record.outpaint = fields.outpaint;
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
