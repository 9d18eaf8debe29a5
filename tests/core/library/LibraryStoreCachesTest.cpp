#include "library/LibraryStore.h"
#include "library/WaveformFile.h"

#include "LibraryStoreSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace zelvo;
using namespace zelvo::test;

namespace {

class LibraryStoreCaches : public ::testing::Test {
protected:
    // A library of `count` analysed records without metrics, each with a
    // waveform file of `points` points (none when 0).
    LibraryStore& openWith(int count, int points)
    {
        QJsonArray records;
        ids.clear();
        QDir().mkpath(rig.support() + "/waveforms");
        for (int i = 0; i < count; ++i) {
            TrackRecord record = TrackRecord::forFile(QString("/m/%1.wav").arg(i), rig.clock.now());
            record.analyzed = true;
            records.append(record.toJson());
            ids.push_back(record.id);
            if (points > 0) {
                EXPECT_TRUE(WaveformFile::write(rig.support() + "/waveforms/" + uuidText(record.id) + ".wf",
                                                testWaveform(points + i)));
            }
        }
        writeBytes(rig.support() + "/collection.json", QJsonDocument(records).toJson());
        LibraryStore& store = rig.open();
        changes = 0;
        QObject::connect(&store, &LibraryStore::tracksChanged, [this] { ++changes; });
        return store;
    }
    QByteArray savedCollection() const { return readBytes(rig.support() + "/collection.json"); }
    static QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

    StoreRig rig;
    std::vector<QUuid> ids;
    int changes = 0;
};

} // namespace

TEST_F(LibraryStoreCaches, TrackAndUpdate)
{
    LibraryStore& store = openWith(2, 0);
    EXPECT_EQ(store.track(ids[1])->path, "/m/1.wav");
    EXPECT_FALSE(store.track(QUuid::createUuid()));

    TrackRecord stranger = *store.track(ids[0]);
    stranger.id = QUuid::createUuid();
    store.update(stranger);
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_EQ(changes, 0);

    TrackRecord edited = *store.track(ids[1]);
    edited.plays = 5;
    store.update(edited);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(store.tracks()[1].plays, 5);
    store.update(edited); // the same value again: saved, but no change to observe
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(store.hasUnsavedChanges());
}

TEST_F(LibraryStoreCaches, WaveformsComeFromTheFileOnceAndMissesAreNotRemembered)
{
    LibraryStore& store = openWith(1, 0);
    const QUuid id = ids[0];
    EXPECT_FALSE(store.waveform(id));
    // Malformed and truncated files are misses too.
    writeBytes(store.waveformPath(id), QByteArray(11, 'x'));
    EXPECT_FALSE(store.waveform(id));

    ASSERT_TRUE(WaveformFile::write(store.waveformPath(id), testWaveform(40)));
    const auto first = store.waveform(id);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, testWaveform(40));
    QFile::remove(store.waveformPath(id));
    EXPECT_EQ(store.waveform(id), first); // served from memory

    // Any id with a file is served, record or not; a stored waveform replaces the entry.
    const QUuid loose = QUuid::createUuid();
    store.storeWaveform(testWaveform(12), loose);
    EXPECT_EQ(*store.waveform(loose), testWaveform(12));
    EXPECT_EQ(WaveformFile::read(store.waveformPath(loose)), testWaveform(12));
    store.storeWaveform(testWaveform(13), loose);
    EXPECT_EQ(*store.waveform(loose), testWaveform(13));
    EXPECT_EQ(*first, testWaveform(40)); // a reference handed out never changes
}

TEST_F(LibraryStoreCaches, MetricsAreComputedOnceAndWrittenBackTogether3sLater)
{
    LibraryStore& store = openWith(100, 30);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        rig.clock.advance(0.005);
        const auto metrics = store.metrics(ids[i]);
        ASSERT_TRUE(metrics);
        EXPECT_EQ(metrics, TrackMetrics::from(testWaveform(30 + int(i))));
    }
    // The second request is served from memory even with the file gone.
    QFile::remove(store.waveformPath(ids[0]));
    EXPECT_EQ(store.metrics(ids[0]), TrackMetrics::from(testWaveform(30)));
    EXPECT_FALSE(store.tracks()[0].metrics);

    rig.clock.advance(2.99);
    EXPECT_EQ(changes, 0);
    rig.clock.advance(0.02);
    EXPECT_EQ(changes, 1); // one change for all hundred
    EXPECT_EQ(store.tracks()[99].metrics, TrackMetrics::from(testWaveform(129)));
    EXPECT_FALSE(QJsonDocument::fromJson(savedCollection()).array().at(0).toObject().contains("metrics"));
    rig.clock.advance(0.55);
    EXPECT_FALSE(QJsonDocument::fromJson(savedCollection()).array().at(0).toObject().contains("metrics"));
    rig.clock.advance(0.1);
    EXPECT_TRUE(QJsonDocument::fromJson(savedCollection()).array().at(99).toObject().contains("metrics"));
}

TEST_F(LibraryStoreCaches, MetricsNoneWithoutRecordOrWaveformAndStoredOnesWin)
{
    LibraryStore& store = openWith(2, 0);
    EXPECT_FALSE(store.metrics(QUuid::createUuid()));
    EXPECT_FALSE(store.metrics(ids[0]));
    ASSERT_TRUE(WaveformFile::write(store.waveformPath(ids[0]), testWaveform(5))); // under 9 points
    EXPECT_FALSE(store.metrics(ids[0]));
    EXPECT_EQ(rig.clock.pending(), 0u);

    ASSERT_TRUE(WaveformFile::write(store.waveformPath(ids[1]), testWaveform(50)));
    ASSERT_TRUE(store.metrics(ids[1]));
    // Metrics stored in the record meanwhile (as analysis does) are kept.
    TrackRecord record = *store.track(ids[1]);
    record.metrics = TrackMetrics{0.1, 0.2, 0.3};
    store.update(record);
    rig.clock.advance(3.1);
    EXPECT_EQ(store.track(ids[1])->metrics, (TrackMetrics{0.1, 0.2, 0.3}));
    // ...and the cache keeps what it computed first.
    EXPECT_EQ(store.metrics(ids[1]), TrackMetrics::from(testWaveform(50)));
}

TEST_F(LibraryStoreCaches, FlushWritesComputedMetricsNotYetWrittenBack)
{
    LibraryStore& store = openWith(1, 30);
    ASSERT_TRUE(store.metrics(ids[0]));
    rig.clock.advance(1.0);
    rig.close();
    LibraryStore& reopened = rig.open();
    EXPECT_EQ(reopened.tracks()[0].metrics, TrackMetrics::from(testWaveform(30)));
}

TEST_F(LibraryStoreCaches, WarmUpFillsEveryRecordGivingTheThreadBackEvery16)
{
    openWith(40, 20);
    rig.close();
    // A clock that counts the zero-delay timers the warm-up runs its slices on.
    class SliceCounter final : public Scheduler {
    public:
        explicit SliceCounter(ManualScheduler& inner) : inner_(inner) {}
        QDateTime now() const override { return inner_.now(); }
        double uptime() const override { return inner_.uptime(); }
        TimerId runAfter(double seconds, std::function<void()> work) override
        {
            if (seconds == 0.0)
                ++slices;
            return inner_.runAfter(seconds, std::move(work));
        }
        TimerId runEvery(double seconds, std::function<void()> work) override
        {
            return inner_.runEvery(seconds, std::move(work));
        }
        void cancel(TimerId id) override { inner_.cancel(id); }
        int slices = 0;

    private:
        ManualScheduler& inner_;
    } clock(rig.clock);

    LibraryStore::Options options;
    options.supportDirectory = rig.support();
    options.outpaintDirectory = rig.home.file("takes");
    options.worker = std::make_unique<ManualAnalysisWorker>();
    LibraryStore store(clock, std::move(options));
    TrackRecord withMetrics = *store.track(ids[3]);
    withMetrics.metrics = TrackMetrics{0.5, 0.5, 0.5};
    store.update(withMetrics);
    rig.clock.advance(1.0);

    store.warmMetrics();
    EXPECT_FALSE(store.tracks()[0].metrics); // nothing runs inside the call
    rig.clock.runDue();
    // The start, then a yield after the records at positions 0, 16 and 32.
    EXPECT_EQ(clock.slices, 4);
    EXPECT_FALSE(store.tracks()[0].metrics); // written back later, all at once
    rig.clock.advance(3.01);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i == 3)
            EXPECT_EQ(store.tracks()[i].metrics, (TrackMetrics{0.5, 0.5, 0.5}));
        else
            EXPECT_EQ(store.tracks()[i].metrics, TrackMetrics::from(testWaveform(20 + int(i)))) << i;
    }
}

TEST_F(LibraryStoreCaches, AddOutpaintReplacesInPlaceOrAppends)
{
    LibraryStore& store = openWith(3, 0);
    TrackRecord take = TrackRecord::forFile(store.outpaintDirectory() + "/take.wav", rig.clock.now());
    take.outpaint = OutpaintInfo{ids[0], "0", "prompt", 7, 8.0, 0.0, 1, 12.0, std::nullopt};
    store.addOutpaint(take, testWaveform(25));
    EXPECT_EQ(store.tracks().back(), take);
    EXPECT_EQ(WaveformFile::read(store.waveformPath(take.id)), testWaveform(25));
    EXPECT_EQ(rig.worker->waiting(), 0u); // no analysis for takes
    EXPECT_EQ(changes, 1);

    TrackRecord middle = *store.track(ids[1]);
    middle.title = "now a take";
    middle.outpaint = take.outpaint;
    store.addOutpaint(middle, testWaveform(26));
    EXPECT_EQ(store.tracks().size(), 4u);
    EXPECT_EQ(store.tracks()[1], middle);
    EXPECT_EQ(*store.waveform(middle.id), testWaveform(26));
    rig.clock.advance(0.61);
    EXPECT_EQ(QJsonDocument::fromJson(savedCollection()).array().size(), 4);
}

TEST_F(LibraryStoreCaches, RemovalLeavesCachesAndWaveformFiles)
{
    LibraryStore& store = openWith(2, 30);
    ASSERT_TRUE(store.waveform(ids[0]));
    store.remove({ids[0]});
    EXPECT_TRUE(QFileInfo::exists(store.waveformPath(ids[0])));
    EXPECT_EQ(*store.waveform(ids[0]), testWaveform(30));
    EXPECT_FALSE(store.metrics(ids[0])); // metrics need a record
}
