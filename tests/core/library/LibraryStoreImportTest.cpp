#include "library/LibraryStore.h"
#include "library/WaveformFile.h"

#include "LibraryStoreSupport.h"
#include "support/AudioFixtures.h"
#include "support/RealtimeGuard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace zelvo;
using namespace zelvo::test;

namespace {

QStringList paths(const std::vector<TrackRecord>& records)
{
    QStringList out;
    for (const TrackRecord& record : records)
        out.append(record.path);
    return out;
}

class LibraryStoreImport : public ::testing::Test {
protected:
    QString music(const QString& relative) const { return rig.music() + "/" + relative; }
    void file(const QString& relative) { writeBytes(music(relative), "not really audio"); }
    int changes() const { return changes_; }
    LibraryStore& open(FakeAnalyses analyses = {})
    {
        LibraryStore& store = rig.open(std::move(analyses));
        changes_ = 0;
        QObject::connect(&store, &LibraryStore::tracksChanged, [this] { ++changes_; });
        return store;
    }

    StoreRig rig;
    int changes_ = 0;
};

} // namespace

TEST_F(LibraryStoreImport, FolderTreesYieldTheirVisibleRegularAudioFilesInPathOrder)
{
    file("b.wav");
    file("A.flac");
    file("c.txt");
    file("noextension");
    file("sub/deeper/Track.MP3");
    file("sub/x.Aiff");
    file(".hidden.wav");
    file(".hiddenfolder/inside.wav");
    file("sub/.also/inside.mp3");
    ASSERT_TRUE(QDir().mkpath(music("folder.mp3")));           // a folder named like audio
    file("folder.mp3/real.m4a");
    ASSERT_EQ(::mkfifo(QFile::encodeName(music("pipe.wav")).constData(), 0644), 0); // would block a decoder
    ASSERT_TRUE(QFile::link(music("sub"), music("linked"))); // a folder link is not entered
    ASSERT_TRUE(QFile::link(music("b.wav"), music("link-to-b.wav")));

    LibraryStore& store = open();
    const std::vector<TrackRecord> result = store.importItems({rig.music()});
    EXPECT_EQ(paths(result), (QStringList{music("A.flac"), music("b.wav"), music("folder.mp3/real.m4a"),
                                          music("link-to-b.wav"), music("sub/deeper/Track.MP3"),
                                          music("sub/x.Aiff")}));
    EXPECT_EQ(paths(store.tracks()), paths(result));
    EXPECT_EQ(changes(), 1); // one change for the whole call
    for (const TrackRecord& record : result) {
        EXPECT_FALSE(record.analyzed);
        EXPECT_EQ(record.added, rig.clock.now());
        EXPECT_EQ(record.hotCues.size(), 8u);
    }
    EXPECT_EQ(result[4].title, "Track");
}

TEST_F(LibraryStoreImport, KnownFilesAreReturnedNotAddedAndPathsAreSpelledOneWay)
{
    file("set/one.wav");
    file("set/two.wav");
    LibraryStore& store = open();
    const auto first = store.importItems({music("set/one.wav")});
    ASSERT_EQ(first.size(), 1u);

    // A folder and a file inside it, the file given with a relative path and a
    // detour: one new record, listed twice, the known one returned as it is.
    const QString working = QDir::currentPath();
    QDir::setCurrent(rig.music());
    const auto second = store.importItems({music("set/"), "./set/../set//two.wav"});
    QDir::setCurrent(working);
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(second[0], first[0]);
    EXPECT_EQ(second[1].path, music("set/two.wav"));
    EXPECT_EQ(second[1], second[2]);
    EXPECT_EQ(store.tracks().size(), 2u);

    const std::vector<TrackRecord> before = store.tracks();
    changes_ = 0;
    const auto third = store.importItems({music("set"), music("missing.wav"), music("nothing")});
    EXPECT_EQ(third.size(), 2u);
    EXPECT_EQ(store.tracks(), before);
    EXPECT_EQ(changes(), 0);
}

TEST_F(LibraryStoreImport, PathOrderIsByCodePointOfTheComposedText)
{
    // U+1F3B5 (beyond U+FFFF) sorts after U+FF21 by code point, though its
    // UTF-16 form starts with a lower unit. é composed and decomposed sort alike.
    const QString musical = QString::fromUcs4(U"\U0001F3B5.wav");
    const QString fullwidth = QString::fromUtf8("\uFF21.wav");
    const QString decomposed = QString::fromUtf8("e\u0301b.wav");
    const QString composed = QString::fromUtf8("\u00E9a.wav");
    for (const QString& name : {musical, fullwidth, decomposed, composed, QString("Z.wav"), QString("a.wav")})
        file(name);
    LibraryStore& store = open();
    EXPECT_EQ(paths(store.importItems({rig.music()})),
              (QStringList{music("Z.wav"), music("a.wav"), music(composed), music(decomposed), music(fullwidth),
                           music(musical)}));
}

TEST_F(LibraryStoreImport, EveryImportSchedulesASaveAndStartsTheQueue)
{
    LibraryStore& store = open();
    EXPECT_TRUE(store.importItems({music("nothing-here")}).empty());
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_EQ(rig.worker->waiting(), 0u);
    file("a.wav");
    store.importItems({music("a.wav")});
    EXPECT_EQ(rig.worker->waiting(), 1u);
}

TEST_F(LibraryStoreImport, AnalysisFillsTheRecordOneTrackAtATime)
{
    file("a.wav");
    file("b.wav");
    FakeAnalyses analyses;
    auto tagged = FakeAnalyses::success(200.0, 60);
    tagged.tags.title = "Real Title";
    tagged.tags.artist = "";
    analyses.byName["a.wav"] = tagged;
    LibraryStore& store = open(analyses);
    int analyzingChanges = 0;
    QObject::connect(&store, &LibraryStore::analyzingChanged, [&] { ++analyzingChanges; });

    store.importItems({rig.music()});
    TrackRecord keep = store.tracks()[0];
    keep.artist = "Before";
    keep.album = "Kept";
    keep.grid = BeatGrid(100.0, 1.0); // an edited grid stays
    store.update(keep);
    EXPECT_EQ(store.analyzing(), QSet<QUuid>{keep.id});
    EXPECT_EQ(rig.worker->waiting(), 1u); // one at a time

    ASSERT_TRUE(rig.worker->runNext());
    const TrackRecord a = *store.track(keep.id);
    EXPECT_TRUE(a.analyzed);
    EXPECT_EQ(a.duration, 200.0);
    EXPECT_EQ(a.grid, BeatGrid(100.0, 1.0));
    EXPECT_EQ(a.key, MusicalKey(9, true));
    EXPECT_EQ(a.loudnessDB, -9.5);
    EXPECT_EQ(a.metrics, TrackMetrics::from(testWaveform(60)));
    EXPECT_EQ(a.title, "Real Title");
    EXPECT_EQ(a.artist, "");     // an empty artist tag clears it
    EXPECT_EQ(a.album, "Kept");  // no album tag
    EXPECT_EQ(WaveformFile::read(store.waveformPath(a.id)), testWaveform(60));
    EXPECT_EQ(*store.waveform(a.id), testWaveform(60));

    EXPECT_EQ(store.analyzing(), QSet<QUuid>{store.tracks()[1].id});
    ASSERT_TRUE(rig.worker->runNext());
    EXPECT_EQ(store.tracks()[1].title, "b"); // no title tag keeps the file name
    EXPECT_TRUE(store.analyzing().isEmpty());
    EXPECT_FALSE(rig.worker->runNext());
    EXPECT_EQ(analyzingChanges, 4);
    EXPECT_FALSE(store.lastError());

    rig.clock.advance(0.61);
    rig.open(analyses);
    EXPECT_EQ(rig.store->tracks()[0].title, "Real Title");
    EXPECT_EQ(rig.worker->waiting(), 0u);
}

TEST_F(LibraryStoreImport, AnEmptyTitleTagKeepsTheFileName)
{
    file("named.wav");
    FakeAnalyses analyses;
    auto outcome = FakeAnalyses::success();
    outcome.tags.title = "";
    outcome.tags.album = "";
    analyses.byName["named.wav"] = outcome;
    LibraryStore& store = open(analyses);
    store.importItems({rig.music()});
    rig.worker->runAll();
    EXPECT_EQ(store.tracks()[0].title, "named");
    EXPECT_EQ(store.tracks()[0].album, "");
}

TEST_F(LibraryStoreImport, AFailedAnalysisIsReportedAndNeverRetried)
{
    file("broken.mp3");
    file("good.wav");
    FakeAnalyses analyses;
    analyses.byName["broken.mp3"] = FakeAnalyses::failure("open file failed (-5)");
    LibraryStore& store = open(analyses);
    int errors = 0;
    QObject::connect(&store, &LibraryStore::lastErrorChanged, [&] { ++errors; });
    store.importItems({rig.music()});
    rig.worker->runAll();
    EXPECT_EQ(store.lastError(), QString("broken: open file failed (-5)"));
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(store.tracks()[0].analyzed);
    EXPECT_EQ(store.tracks()[0].duration, 0.0);
    EXPECT_FALSE(QFileInfo::exists(store.waveformPath(store.tracks()[0].id)));
    EXPECT_TRUE(store.tracks()[1].analyzed);
    EXPECT_EQ(store.lastError(), QString("broken: open file failed (-5)")); // success does not clear it

    rig.clock.advance(1.0);
    rig.open(analyses);
    EXPECT_EQ(rig.worker->waiting(), 0u);
    EXPECT_EQ(analyses.asked->size(), 2);
}

TEST_F(LibraryStoreImport, AnalyserExceptionsBecomeFailures)
{
    file("throws.wav");
    LibraryStore::Options options;
    auto worker = std::make_unique<ManualAnalysisWorker>();
    ManualAnalysisWorker* manual = worker.get();
    options.supportDirectory = rig.support();
    options.outpaintDirectory = rig.home.file("takes");
    options.worker = std::move(worker);
    options.analyzer = [](const QString&) -> LibraryStore::AnalysisOutcome { throw std::runtime_error("boom"); };
    LibraryStore store(rig.clock, std::move(options));
    store.importItems({rig.music()});
    manual->runAll();
    EXPECT_EQ(store.lastError(), QString("throws: boom"));
    EXPECT_TRUE(store.tracks()[0].analyzed);
}

TEST_F(LibraryStoreImport, ImportingDuringAnAnalysisQueuesBehindIt)
{
    file("a.wav");
    LibraryStore& store = open();
    store.importItems({music("a.wav")});
    file("b.wav");
    file("c.wav");
    store.importItems({music("c.wav"), music("b.wav")});
    EXPECT_EQ(rig.worker->waiting(), 1u); // no second loop
    rig.worker->runNext();
    EXPECT_EQ(store.analyzing(), QSet<QUuid>{store.tracks()[1].id}); // b, next in list order
    EXPECT_EQ(rig.worker->runAll(), 2);
    for (const TrackRecord& record : store.tracks())
        EXPECT_TRUE(record.analyzed);
}

TEST_F(LibraryStoreImport, RemovingARecordDuringItsAnalysisDropsTheResult)
{
    file("a.wav");
    file("b.wav");
    LibraryStore& store = open();
    store.importItems({rig.music()});
    const QUuid a = store.tracks()[0].id;
    changes_ = 0;
    store.remove({a});
    EXPECT_EQ(changes(), 1);
    EXPECT_EQ(store.tracks().size(), 1u);
    EXPECT_TRUE(store.analyzing().contains(a));
    rig.worker->runNext();
    EXPECT_FALSE(QFileInfo::exists(store.waveformPath(a)));
    EXPECT_FALSE(store.track(a));
    EXPECT_EQ(store.analyzing(), QSet<QUuid>{store.tracks()[0].id}); // the loop goes on
    rig.worker->runAll();
    EXPECT_TRUE(store.tracks()[0].analyzed);

    // Removing unknown ids changes nothing but still saves.
    changes_ = 0;
    store.remove({QUuid::createUuid()});
    EXPECT_EQ(changes(), 0);
    EXPECT_TRUE(store.hasUnsavedChanges());
}

TEST_F(LibraryStoreImport, TheThreadWorkerHandsResultsBackToTheMainThread)
{
    file("a.wav");
    file("b.wav");
    auto mainThread = std::this_thread::get_id();
    auto analysed = std::make_shared<std::vector<std::thread::id>>();
    LibraryStore::Options options;
    options.supportDirectory = rig.support();
    options.outpaintDirectory = rig.home.file("takes");
    options.analyzer = [analysed](const QString&) {
        analysed->push_back(std::this_thread::get_id());
        return FakeAnalyses::success();
    };
    LibraryStore store(rig.clock, std::move(options)); // the real worker thread
    store.importItems({rig.music()});
    EXPECT_EQ(store.analyzing().size(), 1);
    // Bounded spin of the event loop until both results are back.
    QDeadlineTimer deadline(10000);
    while (!(store.tracks()[0].analyzed && store.tracks()[1].analyzed) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(store.tracks()[1].analyzed);
    EXPECT_TRUE(store.analyzing().isEmpty());
    ASSERT_EQ(analysed->size(), 2u);
    EXPECT_NE((*analysed)[0], mainThread);
}

TEST_F(LibraryStoreImport, DestroyingTheStoreDuringAnAnalysisIsSafe)
{
    file("a.wav");
    std::atomic<bool> release = false;
    {
        LibraryStore::Options options;
        options.supportDirectory = rig.support();
        options.outpaintDirectory = rig.home.file("takes");
        options.analyzer = [&release](const QString&) {
            while (!release.load())
                std::this_thread::yield();
            return FakeAnalyses::success();
        };
        LibraryStore store(rig.clock, std::move(options));
        store.importItems({rig.music()});
        release = true; // the store now waits for the job, then drops its result
    }
    QCoreApplication::processEvents(); // a completion posted for the gone store must not run
    // The import reached the file at destruction; the analysis result did not.
    LibraryStore& reopened = rig.open();
    ASSERT_EQ(reopened.tracks().size(), 1u);
    EXPECT_FALSE(reopened.tracks()[0].analyzed);
}

TEST_F(LibraryStoreImport, TheRealAnalyserReadsAudioAndTagsAndReportsBrokenFiles)
{
    const Audio tone = generate(2, 44100 * 6, 44100.0, sine(220.0, 44100.0));
    writeAudioFile(music("tagged.mp3").toStdString(), AudioFormat::mp3, tone, Tags{"Proper Name", "Someone", ""});
    writeAudioFile(music("plain.flac").toStdString(), AudioFormat::flac, tone);
    writeTextFile(music("broken.wav").toStdString(), "not audio at all");
    writeTruncatedCopy(music("plain.flac").toStdString(), music("cut.flac").toStdString(), 0.001);
    // A record still being copied in: its audio starts whole but ends early.
    writeTruncatedCopy(music("plain.flac").toStdString(), music("copying.flac").toStdString(), 0.6);

    StoreRig& r = rig;
    r.store.reset();
    auto worker = std::make_unique<ManualAnalysisWorker>();
    ManualAnalysisWorker* manual = worker.get();
    LibraryStore::Options options;
    options.supportDirectory = r.support();
    options.outpaintDirectory = r.home.file("takes");
    options.worker = std::move(worker); // the default analyser
    LibraryStore store(r.clock, std::move(options));
    store.importItems({rig.music()});
    EXPECT_EQ(manual->runAll(), 5);

    const auto byTitle = [&](const QString& title) -> const TrackRecord* {
        for (const TrackRecord& record : store.tracks()) {
            if (record.title == title)
                return &record;
        }
        return nullptr;
    };
    const TrackRecord* tagged = byTitle("Proper Name");
    ASSERT_TRUE(tagged);
    EXPECT_EQ(tagged->artist, "Someone");
    EXPECT_NEAR(tagged->duration, 6.0, 0.1);
    EXPECT_TRUE(tagged->grid && tagged->loudnessDB && tagged->metrics);
    const auto waveform = store.waveform(tagged->id);
    ASSERT_TRUE(waveform);
    EXPECT_NEAR(double(waveform->count()), 900.0, 20.0); // 150 points per second
    const TrackRecord* plain = byTitle("plain");
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->artist.isEmpty());

    // The broken files failed; the last one analysed is the one reported.
    for (const char* name : {"broken", "copying", "cut"}) {
        const TrackRecord* bad = byTitle(name);
        ASSERT_TRUE(bad) << name;
        EXPECT_TRUE(bad->analyzed);
        EXPECT_EQ(bad->duration, 0.0);
        EXPECT_FALSE(QFileInfo::exists(store.waveformPath(bad->id)));
    }
    ASSERT_TRUE(store.lastError());
    EXPECT_TRUE(store.lastError()->startsWith("cut: ")) << store.lastError()->toStdString();
    EXPECT_GT(store.lastError()->size(), 5);
}

TEST_F(LibraryStoreImport, FilesNoMusicHoldsEndAnalysedWithTheirErrorAndBoundedMemory)
{
    // Each used to take gigabytes to analyse, and a program killed for it found
    // the record unanalysed at every start.
    const struct {
        const char* name;
        std::string bytes;
        const char* error; // empty: analysed
    } cases[] = {
        {"hum.wav", wavBytes(1, 1, 12000), "hum: check sample rate (1 Hz) failed (-34)"},
        {"crowd.caf", cafBytes(44100, 1'000'000, 12000), "crowd: check channels (1000000) failed (-34)"},
        // A header claiming 4 GB over half a second holds half a second.
        {"liar.wav", wavBytes(8000, 1, 8000, 0xFFFFFFF0u), ""},
    };
    for (const auto& c : cases)
        writeTextFile(music(c.name).toStdString(), c.bytes);

    rig.store.reset();
    auto worker = std::make_unique<ManualAnalysisWorker>();
    ManualAnalysisWorker* manual = worker.get();
    LibraryStore::Options options;
    options.supportDirectory = rig.support();
    options.outpaintDirectory = rig.home.file("takes");
    options.worker = std::move(worker); // the default analyser
    LibraryStore store(rig.clock, std::move(options));
    for (const auto& c : cases) {
        const auto imported = store.importItems({music(c.name)});
        ASSERT_EQ(imported.size(), 1u);
        LargestAllocationScope watch;
        EXPECT_TRUE(manual->runNext()) << c.name;
        const auto record = store.track(imported[0].id);
        ASSERT_TRUE(record) << c.name;
        EXPECT_TRUE(record->analyzed) << c.name;
        if (*c.error) {
            EXPECT_EQ(store.lastError(), QString(c.error));
            EXPECT_EQ(record->duration, 0.0);
            EXPECT_LT(watch.largest(), 4u << 20) << c.name;
        } else {
            EXPECT_NEAR(record->duration, 0.5, 0.01);
            EXPECT_LT(watch.largest(), 16u << 20) << c.name;
        }
    }
}
