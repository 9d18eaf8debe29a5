#include "library/TrackRecord.h"

#include "library/CollectionJson.h"
#include "library/HashMix.h"
#include "library/JsonFields.h"
#include "library/JsonTextWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>

namespace zelvo {

namespace {

const QString kId = QStringLiteral("id");
const QString kPath = QStringLiteral("path");
const QString kTitle = QStringLiteral("title");
const QString kArtist = QStringLiteral("artist");
const QString kAlbum = QStringLiteral("album");
const QString kDuration = QStringLiteral("duration");
const QString kGrid = QStringLiteral("grid");
const QString kKey = QStringLiteral("key");
const QString kLoudness = QStringLiteral("loudnessDB");
const QString kMetrics = QStringLiteral("metrics");
const QString kCuePoint = QStringLiteral("cuePoint");
const QString kHotCues = QStringLiteral("hotCues");
const QString kAdded = QStringLiteral("added");
const QString kAnalyzed = QStringLiteral("analyzed");
const QString kOutpaint = QStringLiteral("outpaint");
const QString kPlays = QStringLiteral("plays");

// The date written when a record's own cannot be: the epoch.
const QString kFallbackDate = QStringLiteral("1970-01-01T00:00:00Z");

void note(QStringList* repairs, const QString& text)
{
    if (repairs)
        repairs->append(text);
}

double requiredNumber(double value, const QString& key, QStringList* repairs)
{
    if (std::isfinite(value))
        return value;
    note(repairs, QStringLiteral("%1 was not a finite number; written as 0").arg(key));
    return 0.0;
}

bool isPresent(const QJsonValue& value)
{
    return !value.isUndefined() && !value.isNull();
}

} // namespace

TrackRecord TrackRecord::forFile(const QString& path, const QDateTime& added)
{
    TrackRecord record;
    record.id = QUuid::createUuid();
    record.path = path;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    // The last extension goes; a name that is all extension (".wav") or ends in a
    // bare dot has none to lose.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    record.title = dot > 0 && dot + 1 < name.size() ? name.left(dot) : name;
    record.hotCues.assign(kHotCueSlots, std::nullopt);
    record.added = added;
    return record;
}

QJsonObject TrackRecord::toJson(QStringList* repairs) const
{
    return jsonObjectOf(*this, repairs);
}

void TrackRecord::writeJson(JsonTextWriter& writer, QStringList* repairs) const
{
    // Keys in sorted order.
    writer.beginObject();
    QString date = dateText(added);
    if (date.isEmpty()) {
        note(repairs, QStringLiteral("added was not a storable date; written as %1").arg(kFallbackDate));
        date = kFallbackDate;
    }
    writer.key(QLatin1StringView("added"));
    writer.string(date);
    writer.key(QLatin1StringView("album"));
    writer.string(album);
    writer.key(QLatin1StringView("analyzed"));
    writer.boolean(analyzed);
    writer.key(QLatin1StringView("artist"));
    writer.string(artist);
    writer.key(QLatin1StringView("cuePoint"));
    writer.number(requiredNumber(cuePoint, kCuePoint, repairs));
    writer.key(QLatin1StringView("duration"));
    writer.number(requiredNumber(duration, kDuration, repairs));
    if (grid) {
        if (std::isfinite(grid->bpm) && std::isfinite(grid->firstBeat)) {
            writer.key(QLatin1StringView("grid"));
            writer.value(grid->toJson());
        } else {
            note(repairs, QStringLiteral("grid held a non-finite number; left out"));
        }
    }
    writer.key(QLatin1StringView("hotCues"));
    writer.beginArray();
    for (const std::optional<double>& cue : hotCues) {
        if (cue && std::isfinite(*cue)) {
            writer.number(*cue);
        } else {
            if (cue)
                note(repairs, QStringLiteral("a hot cue was not a finite number; its slot left empty"));
            writer.null();
        }
    }
    writer.endArray();
    writer.key(QLatin1StringView("id"));
    writer.string(uuidText(id));
    if (key) {
        writer.key(QLatin1StringView("key"));
        writer.value(key->toJson());
    }
    if (loudnessDB) {
        if (std::isfinite(*loudnessDB)) {
            writer.key(QLatin1StringView("loudnessDB"));
            writer.number(*loudnessDB);
        } else {
            note(repairs, QStringLiteral("loudnessDB was not a finite number; left out"));
        }
    }
    if (metrics) {
        if (std::isfinite(metrics->energy) && std::isfinite(metrics->brightness)
            && std::isfinite(metrics->dynamics)) {
            writer.key(QLatin1StringView("metrics"));
            writer.value(metrics->toJson());
        } else {
            note(repairs, QStringLiteral("metrics held a non-finite number; left out"));
        }
    }
    if (outpaint) {
        writer.key(QLatin1StringView("outpaint"));
        outpaint->writeJson(writer, repairs);
    }
    writer.key(QLatin1StringView("path"));
    writer.string(path);
    writer.key(QLatin1StringView("plays"));
    writer.integer(plays);
    writer.key(QLatin1StringView("title"));
    writer.string(title);
    writer.endObject();
}

std::optional<TrackRecord> TrackRecord::fromJson(const QJsonObject& object)
{
    TrackRecord record;

    const auto id = uuidFromJson(object.value(kId));
    if (!id)
        return std::nullopt;
    record.id = *id;

    if (!readString(object, kPath, record.path) || !readString(object, kTitle, record.title)
        || !readString(object, kArtist, record.artist) || !readString(object, kAlbum, record.album)
        || !readNumber(object, kDuration, record.duration))
        return std::nullopt;

    if (const QJsonValue value = object.value(kGrid); isPresent(value)) {
        if (!value.isObject() || !(record.grid = BeatGrid::fromJson(value.toObject())))
            return std::nullopt;
    }
    if (const QJsonValue value = object.value(kKey); isPresent(value)) {
        if (!value.isObject() || !(record.key = MusicalKey::fromJson(value.toObject())))
            return std::nullopt;
    }
    if (const QJsonValue value = object.value(kLoudness); isPresent(value)) {
        if (!value.isDouble())
            return std::nullopt;
        record.loudnessDB = value.toDouble();
    }
    if (const QJsonValue value = object.value(kMetrics); isPresent(value)) {
        if (!value.isObject() || !(record.metrics = TrackMetrics::fromJson(value.toObject())))
            return std::nullopt;
    }

    if (!readNumber(object, kCuePoint, record.cuePoint))
        return std::nullopt;
    const QJsonValue cues = object.value(kHotCues);
    if (!cues.isArray())
        return std::nullopt;
    const QJsonArray cueArray = cues.toArray();
    record.hotCues.reserve(std::size_t(cueArray.size()));
    for (const QJsonValue& cue : cueArray) {
        if (cue.isNull())
            record.hotCues.emplace_back(std::nullopt);
        else if (cue.isDouble())
            record.hotCues.emplace_back(cue.toDouble());
        else
            return std::nullopt;
    }
    const auto added = dateFromJson(object.value(kAdded));
    if (!added)
        return std::nullopt;
    record.added = *added;

    if (!readBool(object, kAnalyzed, record.analyzed))
        return std::nullopt;
    if (const QJsonValue value = object.value(kOutpaint); isPresent(value)) {
        if (!value.isObject() || !(record.outpaint = OutpaintInfo::fromJson(value.toObject())))
            return std::nullopt;
    }
    if (!readInteger(object, kPlays, record.plays))
        return std::nullopt;
    return record;
}

} // namespace zelvo

std::size_t std::hash<zelvo::TrackRecord>::operator()(const zelvo::TrackRecord& record) const noexcept
{
    using zelvo::hashDouble;
    using zelvo::hashMix;
    std::size_t seed = 0;
    hashMix(seed, qHash(record.id));
    hashMix(seed, qHash(record.path));
    hashMix(seed, qHash(record.title));
    hashMix(seed, qHash(record.artist));
    hashMix(seed, qHash(record.album));
    hashMix(seed, hashDouble(record.duration));
    hashMix(seed, record.grid ? std::hash<zelvo::BeatGrid>{}(*record.grid) : 0x11u);
    hashMix(seed, record.key ? std::hash<zelvo::MusicalKey>{}(*record.key) : 0x12u);
    hashMix(seed, record.loudnessDB ? hashDouble(*record.loudnessDB) : 0x13u);
    if (record.metrics) {
        hashMix(seed, hashDouble(record.metrics->energy));
        hashMix(seed, hashDouble(record.metrics->brightness));
        hashMix(seed, hashDouble(record.metrics->dynamics));
    } else {
        hashMix(seed, 0x14u);
    }
    hashMix(seed, hashDouble(record.cuePoint));
    hashMix(seed, record.hotCues.size());
    for (const std::optional<double>& cue : record.hotCues)
        hashMix(seed, cue ? hashDouble(*cue) : 0x15u);
    hashMix(seed, record.added.isValid() ? std::hash<qint64>{}(record.added.toMSecsSinceEpoch()) : 0x16u);
    hashMix(seed, record.analyzed ? 1u : 2u);
    hashMix(seed, record.outpaint ? std::hash<zelvo::OutpaintInfo>{}(*record.outpaint) : 0x17u);
    hashMix(seed, std::hash<std::int64_t>{}(record.plays));
    return seed;
}
