#include "library/CollectionJson.h"
#include "library/TrackRecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace zelvo;

namespace {

const QDateTime kAdded(QDate(2026, 3, 1), QTime(9, 30, 0), Qt::UTC);

QJsonObject parse(const char* text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.object();
}

// A record with every optional present.
TrackRecord fullRecord()
{
    TrackRecord record = TrackRecord::forFile(QStringLiteral("/music/set/One.flac"), kAdded);
    record.artist = QStringLiteral("Artist");
    record.album = QStringLiteral("Album");
    record.duration = 312.5;
    record.grid = BeatGrid(124.0, 0.12);
    record.key = MusicalKey(7, false);
    record.loudnessDB = -8.25;
    record.metrics = TrackMetrics{0.7, 0.4, 0.2};
    record.cuePoint = 16.5;
    record.hotCues[0] = 1.5;
    record.hotCues[5] = 200.0;
    record.analyzed = true;
    record.outpaint = OutpaintInfo{QUuid::createUuid(), QStringLiteral("Source"), QStringLiteral("deep bass"),
                                   (std::int64_t(1) << 62) + 3, 8.0, 120.25, 2, 14.5, QUuid::createUuid()};
    record.plays = 9007199254740993; // 2^53 + 1: not a double
    return record;
}

const char* const kMinimal = R"({
    "id": "0f8e5a52-1c2d-4e3f-9a0b-c1d2e3f4a5b6", "path": "\/music\/a.mp3", "title": "a",
    "artist": "", "album": "", "duration": 0, "cuePoint": 0, "hotCues": [null, 2.5, null],
    "added": "2026-12-06T02:54:07Z", "analyzed": false, "plays": 0})";

} // namespace

TEST(TrackRecord, FreshRecordForAFile)
{
    const TrackRecord record = TrackRecord::forFile(QStringLiteral("/music/a.b.mp3"), kAdded);
    EXPECT_EQ(record.path, QStringLiteral("/music/a.b.mp3"));
    EXPECT_EQ(record.title, QStringLiteral("a.b"));
    EXPECT_TRUE(record.artist.isEmpty());
    EXPECT_TRUE(record.album.isEmpty());
    EXPECT_EQ(record.duration, 0.0);
    EXPECT_EQ(record.cuePoint, 0.0);
    ASSERT_EQ(record.hotCues.size(), 8u);
    for (const auto& cue : record.hotCues)
        EXPECT_FALSE(cue.has_value());
    EXPECT_FALSE(record.analyzed);
    EXPECT_EQ(record.plays, 0);
    EXPECT_FALSE(record.grid || record.key || record.loudnessDB || record.metrics || record.outpaint);
    EXPECT_FALSE(record.id.isNull());
    EXPECT_NE(record.id, TrackRecord::forFile(record.path, kAdded).id);
    EXPECT_EQ(record.added, kAdded);
    EXPECT_EQ(record.url().toLocalFile(), record.path);

    EXPECT_EQ(TrackRecord::forFile(QStringLiteral("/music/README"), kAdded).title, QStringLiteral("README"));
    EXPECT_EQ(TrackRecord::forFile(QStringLiteral("/music/.wav"), kAdded).title, QStringLiteral(".wav"));
    EXPECT_EQ(TrackRecord::forFile(QStringLiteral("/music/x.y/z"), kAdded).title, QStringLiteral("z"));
}

TEST(TrackRecord, MinimalRecordWritesElevenSortedKeysWithUpperCaseIdAndWholeSeconds)
{
    TrackRecord record = TrackRecord::forFile(QStringLiteral("/music/a.mp3"), kAdded.addMSecs(750));
    const QJsonObject json = record.toJson();
    EXPECT_EQ(json.keys(), (QStringList{"added", "album", "analyzed", "artist", "cuePoint", "duration", "hotCues",
                                        "id", "path", "plays", "title"}));
    EXPECT_EQ(json.value("id").toString(), record.id.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(json.value("added").toString(), QStringLiteral("2026-03-01T09:30:00Z"));
    EXPECT_EQ(json.value("hotCues").toArray().size(), 8);

    // The fraction is not stored: the record read back is a different value.
    const auto back = TrackRecord::fromJson(json);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->added, kAdded);
    EXPECT_NE(*back, record);
}

TEST(TrackRecord, FullRecordRoundTripsExactlyThroughText)
{
    const TrackRecord record = fullRecord();
    const QByteArray text = QJsonDocument(record.toJson()).toJson();
    const auto back = TrackRecord::fromJson(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, record);
    EXPECT_EQ(back->plays, 9007199254740993);
    EXPECT_EQ(back->outpaint->seed, (std::int64_t(1) << 62) + 3);
    EXPECT_EQ(std::hash<TrackRecord>{}(*back), std::hash<TrackRecord>{}(record));
}

TEST(TrackRecord, ReadsEscapedSlashesLowerCaseIdsNullSlotsAndIgnoresUnknownKeys)
{
    QJsonObject json = parse(kMinimal);
    json.insert("somethingNew", QJsonArray{1, 2});
    json.insert("grid", QJsonValue::Null);
    json.insert("metrics", QJsonValue::Null);
    const auto record = TrackRecord::fromJson(json);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->path, QStringLiteral("/music/a.mp3"));
    EXPECT_EQ(record->id, QUuid::fromString(QStringLiteral("0F8E5A52-1C2D-4E3F-9A0B-C1D2E3F4A5B6")));
    ASSERT_EQ(record->hotCues.size(), 3u); // neither filled up to 8 nor cut
    EXPECT_FALSE(record->hotCues[0]);
    EXPECT_EQ(record->hotCues[1], 2.5);
    EXPECT_FALSE(record->grid);
    EXPECT_FALSE(record->metrics);
    EXPECT_FALSE(record->toJson().contains("somethingNew"));
}

TEST(TrackRecord, EveryRequiredKeyIsRequired)
{
    const QJsonObject good = parse(kMinimal);
    ASSERT_TRUE(TrackRecord::fromJson(good));
    for (const QString& key : good.keys()) {
        QJsonObject missing = good;
        missing.remove(key);
        EXPECT_FALSE(TrackRecord::fromJson(missing)) << "without " << key.toStdString();
        QJsonObject null = good;
        null.insert(key, QJsonValue::Null);
        EXPECT_FALSE(TrackRecord::fromJson(null)) << key.toStdString() << " null";
    }
}

TEST(TrackRecord, ValuesOfTheWrongFormFailTheRecord)
{
    const QJsonObject good = parse(kMinimal);
    const std::pair<const char*, QJsonValue> bad[] = {
        {"plays", 1.5},
        {"plays", "3"},
        {"plays", 1e30},
        {"duration", "12"},
        {"analyzed", 1},
        {"hotCues", QJsonArray{1.0, "2"}},
        {"hotCues", QJsonObject{}},
        {"id", "{0f8e5a52-1c2d-4e3f-9a0b-c1d2e3f4a5b6}"},
        {"id", "0f8e5a521c2d4e3f9a0bc1d2e3f4a5b6"},
        {"id", "0f8e5a52-1c2d-4e3f-9a0b-c1d2e3f4a5bg"},
        {"added", "2026-12-06T02:54:07.250Z"},
        {"added", "2026-12-06T02:54:07+00:00"},
        {"added", "2026-12-06 02:54:07Z"},
        {"added", "2026-02-30T02:54:07Z"},
        {"added", "2026-12-06T24:00:00Z"},
        {"grid", "120"},
        {"grid", QJsonObject{{"bpm", 120}}},
        {"key", QJsonObject{{"pitchClass", 1.5}, {"minor", true}}},
        {"loudnessDB", "loud"},
        {"metrics", QJsonObject{{"energy", 1}}},
        {"outpaint", QJsonArray{}},
    };
    for (const auto& [key, value] : bad) {
        QJsonObject json = good;
        json.insert(key, value);
        EXPECT_FALSE(TrackRecord::fromJson(json)) << key << " = " << QJsonDocument(QJsonArray{value}).toJson().toStdString();
    }
    QJsonObject whole = good;
    whole.insert("plays", 4.0);
    ASSERT_TRUE(TrackRecord::fromJson(whole));
    EXPECT_EQ(TrackRecord::fromJson(whole)->plays, 4);
}

TEST(OutpaintInfo, OptionalIdsAndRequiredFields)
{
    const QJsonObject good{{"sourceTitle", "S"}, {"prompt", "p"}, {"seed", 42},        {"seam", 8.0},
                           {"sourceOffset", 1.5}, {"generations", 1}, {"renderSeconds", 3.0}};
    const auto info = OutpaintInfo::fromJson(good);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->sourceID);
    EXPECT_FALSE(info->segmentOf);
    EXPECT_EQ(info->toJson().keys().size(), 7);
    for (const QString& key : good.keys()) {
        QJsonObject missing = good;
        missing.remove(key);
        EXPECT_FALSE(OutpaintInfo::fromJson(missing)) << key.toStdString();
    }
    QJsonObject fractional = good;
    fractional.insert("generations", 1.5);
    EXPECT_FALSE(OutpaintInfo::fromJson(fractional));
    QJsonObject badId = good;
    badId.insert("segmentOf", "nope");
    EXPECT_FALSE(OutpaintInfo::fromJson(badId));
    QJsonObject nullIds = good;
    nullIds.insert("sourceID", QJsonValue::Null);
    nullIds.insert("segmentOf", QJsonValue::Null);
    EXPECT_TRUE(OutpaintInfo::fromJson(nullIds));
}

TEST(TrackRecord, NonFiniteNumbersAreNeverWritten)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    TrackRecord record = fullRecord();
    record.duration = inf;
    record.cuePoint = nan;
    record.loudnessDB = -inf;
    record.hotCues[0] = nan;
    record.grid->bpm = nan;
    record.metrics->energy = nan;
    record.outpaint->seam = nan;
    record.outpaint->renderSeconds = inf;

    QStringList repairs;
    const QByteArray text = QJsonDocument(record.toJson(&repairs)).toJson();
    EXPECT_EQ(repairs.size(), 8) << repairs.join('\n').toStdString();

    const auto back = TrackRecord::fromJson(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(back) << text.toStdString();
    EXPECT_EQ(back->duration, 0.0);
    EXPECT_EQ(back->cuePoint, 0.0);
    EXPECT_FALSE(back->loudnessDB);
    EXPECT_FALSE(back->hotCues[0]);
    EXPECT_EQ(back->hotCues[5], 200.0);
    EXPECT_FALSE(back->grid);
    EXPECT_FALSE(back->metrics);
    ASSERT_TRUE(back->outpaint);
    EXPECT_EQ(back->outpaint->seam, 0.0);
    EXPECT_EQ(back->outpaint->renderSeconds, 0.0);
    EXPECT_EQ(back->outpaint->prompt, record.outpaint->prompt);

    // A date the stored form cannot hold is written as the epoch, not as "".
    TrackRecord undated = fullRecord();
    undated.added = QDateTime();
    repairs.clear();
    EXPECT_EQ(undated.toJson(&repairs).value("added").toString(), QStringLiteral("1970-01-01T00:00:00Z"));
    EXPECT_EQ(repairs.size(), 1);
}

TEST(TrackRecord, EqualityCoversEveryFieldAndHashingAgrees)
{
    const TrackRecord a = fullRecord();
    TrackRecord b = a;
    EXPECT_EQ(a, b);
    b.hotCues[7] = 0.5;
    EXPECT_NE(a, b);
    b = a;
    b.hotCues.pop_back();
    EXPECT_NE(a, b);
    b = a;
    b.outpaint->generations = 3;
    EXPECT_NE(a, b);
    b = a;
    b.cuePoint = 0.0;
    TrackRecord c = a;
    c.cuePoint = -0.0;
    EXPECT_EQ(b, c);
    EXPECT_EQ(std::hash<TrackRecord>{}(b), std::hash<TrackRecord>{}(c));
}

TEST(CollectionJson, DatesAndIdsInTheirOneForm)
{
    EXPECT_EQ(dateText(QDateTime(QDate(2026, 12, 6), QTime(2, 54, 7, 999), Qt::UTC)),
              QStringLiteral("2026-12-06T02:54:07Z"));
    // Another time zone is written in UTC.
    EXPECT_EQ(dateText(QDateTime(QDate(2026, 12, 6), QTime(3, 54, 7), Qt::OffsetFromUTC, 3600)),
              QStringLiteral("2026-12-06T02:54:07Z"));
    EXPECT_TRUE(dateText(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC)).isEmpty());
    EXPECT_EQ(dateFromJson(QJsonValue("2024-02-29T23:59:59Z")),
              QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC));
    EXPECT_FALSE(dateFromJson(QJsonValue("2023-02-29T23:59:59Z")));
    EXPECT_FALSE(dateFromJson(QJsonValue("2026-12-06T02:54:60Z")));
    EXPECT_FALSE(dateFromJson(QJsonValue("2026-12-06t02:54:07z")));

    const QUuid id = QUuid::createUuid();
    EXPECT_EQ(uuidText(id), uuidText(id).toUpper());
    EXPECT_EQ(uuidFromJson(QJsonValue(uuidText(id).toLower())), id);
    EXPECT_EQ(uuidFromJson(QJsonValue("00000000-0000-0000-0000-000000000000")), QUuid());
    EXPECT_FALSE(uuidFromJson(QJsonValue(42)));
}
