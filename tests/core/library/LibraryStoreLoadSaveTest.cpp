#include "library/LibraryStore.h"

#include "LibraryStoreSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace zelvo;
using namespace zelvo::test;

namespace {

// A stored record in the collection's form, analysed unless told otherwise.
QJsonObject storedRecord(const QString& path, bool analyzed = true)
{
    TrackRecord record = TrackRecord::forFile(path, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC));
    record.analyzed = analyzed;
    return record.toJson();
}

QByteArray collection(const QJsonArray& records)
{
    return QJsonDocument(records).toJson();
}

QStringList asideFiles(const StoreRig& rig)
{
    return QDir(rig.support()).entryList({QStringLiteral("collection.json.unreadable-*")}, QDir::Files);
}

class LibraryStoreLoadSave : public ::testing::Test {
protected:
    QString collectionPath() const { return rig.support() + "/collection.json"; }
    StoreRig rig;
};

} // namespace

TEST_F(LibraryStoreLoadSave, FirstStartCreatesFoldersAndSchedulesNothing)
{
    LibraryStore& store = rig.open();
    EXPECT_TRUE(QFileInfo(rig.support() + "/waveforms").isDir());
    EXPECT_TRUE(QFileInfo(rig.home.file("takes")).isDir());
    EXPECT_TRUE(store.tracks().empty());
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_EQ(rig.clock.pending(), 0u);
    EXPECT_EQ(rig.worker->waiting(), 0u);
    rig.close();
    EXPECT_FALSE(QFileInfo::exists(collectionPath())); // nothing to write
}

TEST(LibraryStoreFolders, DefaultsFollowTheXdgFolders)
{
    TempHome home;
    ManualScheduler clock;
    LibraryStore::Options options;
    options.worker = std::make_unique<ManualAnalysisWorker>();
    LibraryStore store(clock, std::move(options));
    EXPECT_EQ(store.supportDirectory(), home.file(".local/share/KavriZelvo"));
    EXPECT_EQ(store.outpaintDirectory(), home.file("Music/kavri zelvo/outpaints"));
    EXPECT_TRUE(QFileInfo(home.file(".local/share/KavriZelvo/waveforms")).isDir());
    EXPECT_TRUE(QFileInfo(store.outpaintDirectory()).isDir());
}

TEST_F(LibraryStoreLoadSave, ABurstOfChangesIsWrittenOnce0_6sAfterTheLast)
{
    LibraryStore& store = rig.open();
    store.importItems({}); // asks for a save with nothing in it
    for (int i = 0; i < 10; ++i) {
        rig.clock.advance(0.05);
        store.scheduleSave();
    }
    rig.clock.advance(0.59);
    EXPECT_FALSE(QFileInfo::exists(collectionPath()));
    rig.clock.advance(0.02);
    ASSERT_TRUE(QFileInfo::exists(collectionPath()));
    EXPECT_EQ(readBytes(collectionPath()).trimmed(), QByteArray("[\n]"));
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_EQ(QDir(rig.support()).entryList(QDir::Files), QStringList{"collection.json"}); // no temporaries
}

TEST_F(LibraryStoreLoadSave, SavedCollectionReadsBackAsTheSameRecords)
{
    writeBytes(rig.music() + "/a.wav", "x");
    writeBytes(rig.music() + "/b.wav", "x");
    LibraryStore& store = rig.open();
    store.importItems({rig.music()});
    rig.worker->runAll();
    TrackRecord edited = store.tracks()[0];
    edited.hotCues[3] = 42.25;
    edited.plays = 3;
    edited.added = QDateTime(QDate(2026, 5, 5), QTime(1, 2, 3), Qt::UTC);
    store.update(edited);
    rig.clock.advance(1.0);
    const std::vector<TrackRecord> before = store.tracks();

    const QByteArray text = readBytes(collectionPath());
    EXPECT_TRUE(text.startsWith("[\n    {\n")); // pretty-printed
    const QJsonObject first = QJsonDocument::fromJson(text).array().at(0).toObject();
    EXPECT_EQ(first.keys().first(), QStringLiteral("added")); // sorted keys

    rig.open();
    // The manual clock stands on whole seconds, so `added` survives exactly.
    EXPECT_EQ(rig.store->tracks(), before);
    EXPECT_FALSE(rig.store->hasUnsavedChanges());
}

TEST_F(LibraryStoreLoadSave, FlushWritesAPendingSaveAtOnceAndTheDestructorFlushes)
{
    writeBytes(rig.music() + "/a.wav", "x");
    LibraryStore& store = rig.open();
    store.importItems({rig.music() + "/a.wav"});
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.flush());
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_EQ(QJsonDocument::fromJson(readBytes(collectionPath())).array().size(), 1);
    EXPECT_EQ(rig.clock.pending(), 0u); // the debounced save was taken over

    // A change 0.1 s before the store goes away still reaches the file.
    TrackRecord record = store.tracks()[0];
    record.cuePoint = 12.0;
    store.update(record);
    rig.clock.advance(0.1);
    rig.close();
    rig.open();
    ASSERT_EQ(rig.store->tracks().size(), 1u);
    EXPECT_EQ(rig.store->tracks()[0].cuePoint, 12.0);
}

TEST_F(LibraryStoreLoadSave, AnalysedCollectionStartsNoAnalysisAndOneUnanalysedRecordDoes)
{
    writeBytes(collectionPath(), collection({storedRecord("/m/a.wav"), storedRecord("/m/b.wav")}));
    rig.open();
    EXPECT_EQ(rig.store->tracks().size(), 2u);
    EXPECT_EQ(rig.worker->waiting(), 0u);
    EXPECT_TRUE(rig.store->analyzing().isEmpty());

    writeBytes(collectionPath(), collection({storedRecord("/m/a.wav"), storedRecord("/m/b.wav", false)}));
    rig.open();
    EXPECT_EQ(rig.worker->waiting(), 1u);
    EXPECT_EQ(rig.store->analyzing(), QSet<QUuid>{rig.store->tracks()[1].id});
    EXPECT_EQ(rig.clock.pending(), 0u); // loading alone writes nothing
}

TEST_F(LibraryStoreLoadSave, UnreadableCollectionsAreMovedAsideBeforeTheFirstSave)
{
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    QJsonObject badRecord = storedRecord("/m/b.wav");
    badRecord.insert("plays", 1.5);
    const Case cases[] = {
        {"invalid JSON", "[{\"id\": "},
        {"not a list", "{\"tracks\": []}"},
        {"one bad record", collection({storedRecord("/m/a.wav"), badRecord})},
        {"a null where a number is required", collection({storedRecord("/m/a.wav")}).replace("\"cuePoint\": 0", "\"cuePoint\": null")},
        {"an empty file", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(rig.support()).removeRecursively();
        writeBytes(collectionPath(), c.bytes);
        rig.log.lines.clear();
        LibraryStore& store = rig.open();
        EXPECT_TRUE(store.tracks().empty());
        EXPECT_TRUE(rig.log.mentions("empty library"));
        // Loading leaves the file alone.
        EXPECT_EQ(readBytes(collectionPath()), c.bytes);
        EXPECT_TRUE(asideFiles(rig).isEmpty());

        writeBytes(rig.music() + "/new.wav", "x");
        store.importItems({rig.music() + "/new.wav"});
        rig.clock.advance(1.0);
        const QStringList aside = asideFiles(rig);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(QRegularExpression("^collection\\.json\\.unreadable-\\d{8}-\\d{6}$").match(aside[0]).hasMatch())
            << aside[0].toStdString();
        EXPECT_EQ(readBytes(rig.support() + "/" + aside[0]), c.bytes);
        EXPECT_TRUE(rig.log.mentions(aside[0]));
        EXPECT_EQ(QJsonDocument::fromJson(readBytes(collectionPath())).array().size(), 1);

        // Later saves overwrite only the new collection.
        store.scheduleSave();
        rig.clock.advance(1.0);
        EXPECT_EQ(asideFiles(rig).size(), 1);
    }
}

TEST_F(LibraryStoreLoadSave, ACollectionThatCannotBeOpenedIsKeptToo)
{
    // A folder where the file should be: opening it for reading fails even as root.
    ASSERT_TRUE(QDir().mkpath(collectionPath()));
    writeBytes(collectionPath() + "/inside", "keep me");
    LibraryStore& store = rig.open();
    EXPECT_TRUE(store.tracks().empty());
    store.scheduleSave();
    rig.clock.advance(1.0);
    const QStringList aside = QDir(rig.support()).entryList({"collection.json.unreadable-*"}, QDir::Dirs);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readBytes(rig.support() + "/" + aside[0] + "/inside"), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(collectionPath()).isFile());
}

TEST_F(LibraryStoreLoadSave, WhenTheUnreadableFileCannotBeMovedNothingIsSaved)
{
    // A support folder so deep that the collection's path fits the system's
    // limit but the time-stamped name beside it does not: the move fails
    // whatever the user's rights.
    QString deep = rig.home.file("deep");
    const int target = 4096 - 16 - 20; // room for "/collection.json", not for the suffix
    while (deep.size() < target)
        deep += "/" + QString(std::min<qsizetype>(200, target - deep.size() - 1), QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString path = deep + "/collection.json";
    writeBytes(path, "not json");

    auto worker = std::make_unique<ManualAnalysisWorker>();
    LibraryStore::Options options;
    options.supportDirectory = deep;
    options.outpaintDirectory = rig.home.file("takes");
    options.worker = std::move(worker);
    options.log = &rig.log;
    {
        LibraryStore store(rig.clock, std::move(options));
        writeBytes(rig.music() + "/new.wav", "x");
        store.importItems({rig.music() + "/new.wav"});
        rig.clock.advance(1.0);
        EXPECT_EQ(readBytes(path), QByteArray("not json"));
        EXPECT_TRUE(store.hasUnsavedChanges());
        EXPECT_TRUE(rig.log.mentions("not saving over it"));
        EXPECT_FALSE(store.flush());
    }
    EXPECT_EQ(readBytes(path), QByteArray("not json")); // not even at the end
}

TEST_F(LibraryStoreLoadSave, ReadsTheFormsOtherWritersUse)
{
    // Escaped slashes, lower-case ids, null optionals, unknown keys.
    const QByteArray text = R"([{"id":"0f8e5a52-1c2d-4e3f-9a0b-c1d2e3f4a5b6","path":"\/m\/a.mp3",
        "title":"a","artist":"","album":"","duration":1,"grid":null,"key":null,"loudnessDB":null,
        "metrics":null,"outpaint":null,"cuePoint":0,"hotCues":[null],"added":"2026-12-06T02:54:07Z",
        "analyzed":true,"plays":2,"rating":5}])";
    writeBytes(collectionPath(), text);
    LibraryStore& store = rig.open();
    ASSERT_EQ(store.tracks().size(), 1u);
    EXPECT_EQ(store.tracks()[0].path, "/m/a.mp3");
    EXPECT_EQ(store.tracks()[0].plays, 2);
    EXPECT_EQ(rig.clock.pending(), 0u);
}

TEST_F(LibraryStoreLoadSave, FractionalSecondDatesFailTheCollection)
{
    QJsonObject record = storedRecord("/m/a.wav");
    record.insert("added", "2026-12-06T02:54:07.5Z");
    writeBytes(collectionPath(), collection({record}));
    EXPECT_TRUE(rig.open().tracks().empty());
}

TEST_F(LibraryStoreLoadSave, ANaNCuePointIsSavedAsZeroAndTheCollectionStaysReadable)
{
    writeBytes(rig.music() + "/a.wav", "x");
    LibraryStore& store = rig.open();
    store.importItems({rig.music() + "/a.wav"});
    TrackRecord record = store.tracks()[0];
    record.cuePoint = std::nan("");
    record.hotCues[2] = std::numeric_limits<double>::infinity();
    record.loudnessDB = std::nan("");
    store.update(record);
    rig.clock.advance(1.0);
    EXPECT_TRUE(rig.log.mentions("cuePoint was not a finite number"));
    const qsizetype lines = rig.log.lines.size();
    store.scheduleSave();
    rig.clock.advance(1.0);
    EXPECT_EQ(rig.log.lines.size(), lines); // reported once, not at every save

    rig.open();
    ASSERT_EQ(rig.store->tracks().size(), 1u);
    EXPECT_EQ(rig.store->tracks()[0].cuePoint, 0.0);
    EXPECT_FALSE(rig.store->tracks()[0].hotCues[2]);
    EXPECT_FALSE(rig.store->tracks()[0].loudnessDB);
}

TEST_F(LibraryStoreLoadSave, OldTakeLabelsAreMigratedOnLoadAndSavedOnce)
{
    QJsonObject take = storedRecord("/m/take.wav");
    take.insert("title", QString::fromUtf8("Groove \u27F6 AI"));
    take.insert("artist", QString::fromUtf8("SA3\u00B7M / seed 42"));
    take.insert("outpaint", OutpaintInfo{}.toJson());
    writeBytes(collectionPath(), collection({storedRecord("/m/a.wav"), take}));

    LibraryStore& store = rig.open();
    int changes = 0;
    QObject::connect(&store, &LibraryStore::tracksChanged, [&] { ++changes; });
    EXPECT_EQ(store.tracks()[1].title, QString::fromUtf8("Groove \u27F6 zelvo-0"));
    EXPECT_EQ(store.tracks()[1].artist, QString::fromUtf8("zelvo-0 \u00B7 seed 42"));
    EXPECT_EQ(rig.clock.pending(), 1u);
    rig.clock.advance(0.61);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(readBytes(collectionPath()).contains("zelvo-0 \xC2\xB7 seed 42"));

    const QByteArray saved = readBytes(collectionPath());
    rig.open();
    EXPECT_EQ(rig.clock.pending(), 0u); // nothing left to rewrite
    rig.clock.advance(5.0);
    EXPECT_EQ(readBytes(collectionPath()), saved);
}

TEST(LibraryStoreMigration, RenameTakesRules)
{
    const QDateTime added(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    const auto take = [&](const QString& title, const QString& artist, bool generated = true) {
        TrackRecord record = TrackRecord::forFile("/m/t.wav", added);
        record.title = title;
        record.artist = artist;
        if (generated)
            record.outpaint = OutpaintInfo{};
        return record;
    };
    const QString arrow = QString::fromUtf8(" \u27F6 ");
    const QString dot = QString::fromUtf8("\u00B7");
    std::vector<TrackRecord> records = {
        take("Groove" + arrow + "AI", "SA3" + dot + "M / seed 7"),
        take(arrow + "AI", "SA3" + dot + "M / seed "),
        take("Groove" + arrow + "AI", "SA3" + dot + "M / seed 7", false), // not a take
        take("Groove" + arrow + "AI ", "sa3" + dot + "M / seed 7"),        // trailing space, lower case
        take("Groove" + arrow + "ai", "SA3" + QString::fromUtf8("\u0387") + "M / seed 9"), // canonical dot
    };
    EXPECT_TRUE(LibraryStore::renameTakes(records));
    EXPECT_EQ(records[0].title, "Groove" + arrow + "zelvo-0");
    EXPECT_EQ(records[0].artist, "zelvo-0 " + dot + " seed 7");
    EXPECT_EQ(records[1].title, arrow + "zelvo-0");
    EXPECT_EQ(records[1].artist, "zelvo-0 " + dot + " seed ");
    EXPECT_EQ(records[2].title, "Groove" + arrow + "AI");
    EXPECT_EQ(records[3].title, "Groove" + arrow + "AI ");
    EXPECT_EQ(records[3].artist, "sa3" + dot + "M / seed 7");
    EXPECT_EQ(records[4].title, "Groove" + arrow + "ai");
    EXPECT_EQ(records[4].artist, "zelvo-0 " + dot + " seed 9");

    EXPECT_FALSE(LibraryStore::renameTakes(records)); // idempotent
    std::vector<TrackRecord> none;
    EXPECT_FALSE(LibraryStore::renameTakes(none));
}
