// A process killed in the middle of saving never leaves a torn collection or
// waveform file. The test program runs itself as the child: the disabled test
// below saves in a loop until it is killed.
#include "library/LibraryStore.h"
#include "library/WaveformFile.h"

#include "LibraryStoreSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <cstdio>
#include <gtest/gtest.h>

using namespace zelvo;
using namespace zelvo::test;

namespace {

const char* const kChildDirectory = "ZELVO_SAVE_CHILD_DIR";
constexpr int kRecords = 500;
const char* const kLongTitle = "long ";

LibraryStore::Options childOptions(const QString& directory)
{
    LibraryStore::Options options;
    options.supportDirectory = directory;
    options.outpaintDirectory = directory + "/takes";
    options.worker = std::make_unique<ManualAnalysisWorker>();
    return options;
}

TrackRecord record(int i, const QDateTime& added)
{
    TrackRecord r = TrackRecord::forFile(QString("/music/track %1.flac").arg(i), added);
    r.analyzed = true;
    r.duration = 180.0 + i;
    r.grid = BeatGrid(120.0 + i % 20, 0.1);
    r.key = MusicalKey(i % 12, i % 2 == 0);
    r.loudnessDB = -9.0;
    r.metrics = TrackMetrics{0.5, 0.4, 0.3};
    for (int slot = 0; slot < 8; ++slot)
        r.hotCues[std::size_t(slot)] = 10.0 * slot + i;
    return r;
}

} // namespace

// The child: rewrites every record and waveform and saves, over and over,
// until killed. Titles are long in odd rounds and short in even ones, so a
// collection mixing the two would be a torn one. Prints one dot per save.
TEST(LibraryStoreCrashChild, DISABLED_SavesUntilKilled)
{
    const QString directory = qEnvironmentVariable(kChildDirectory);
    ASSERT_FALSE(directory.isEmpty());
    ManualScheduler clock;
    LibraryStore store(clock, childOptions(directory));
    ASSERT_EQ(store.tracks().size(), std::size_t(kRecords));
    for (int round = 1;; ++round) {
        const std::vector<TrackRecord> records = store.tracks();
        for (const TrackRecord& r : records) {
            TrackRecord changed = r;
            changed.title = round % 2 ? QString(kLongTitle) + QString(300, QLatin1Char('x')) : QString("short");
            changed.plays = round;
            store.update(changed);
            store.storeWaveform(testWaveform(3000 + round % 7), r.id);
        }
        ASSERT_TRUE(store.flush());
        std::fputc('.', stdout);
        std::fflush(stdout);
    }
}

TEST(LibraryStoreCrash, KillingASavingProcessNeverLeavesATornFile)
{
    TempHome home;
    const QString directory = home.file("support");
    {
        // The starting library, saved by a store of our own.
        ManualScheduler clock;
        LibraryStore store(clock, childOptions(directory));
        for (int i = 0; i < kRecords; ++i)
            store.addOutpaint(record(i, clock.now()), testWaveform(3000));
        ASSERT_TRUE(store.flush());
    }

    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kChildDirectory, directory);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=LibraryStoreCrashChild.*", "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(child.waitForStarted(10000));
        // Let it save a few times, a different number each round, then kill it
        // wherever it is.
        const int saves = 1 + round % 4;
        QByteArray dots;
        QDeadlineTimer deadline(60000);
        while (dots.count('.') < saves && !deadline.hasExpired() && child.state() == QProcess::Running) {
            child.waitForReadyRead(1000);
            dots += child.readAllStandardOutput();
        }
        ASSERT_GE(dots.count('.'), saves) << child.readAllStandardError().toStdString();
        // The child is somewhere in its next save; give it a different share of
        // that save each round before the kill lands.
        child.waitForFinished((round * 7) % 45);
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));

        RecordingLog log;
        ManualScheduler clock;
        LibraryStore::Options options = childOptions(directory);
        options.log = &log;
        LibraryStore store(clock, std::move(options));
        EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join('\n').toStdString();
        ASSERT_EQ(store.tracks().size(), std::size_t(kRecords));
        const bool longTitles = store.tracks()[0].title.startsWith(kLongTitle);
        const std::int64_t plays = store.tracks()[0].plays;
        for (const TrackRecord& r : store.tracks()) {
            EXPECT_EQ(r.title.startsWith(kLongTitle), longTitles);
            EXPECT_EQ(r.plays, plays);
            const auto waveform = WaveformFile::read(store.waveformPath(r.id));
            ASSERT_TRUE(waveform) << r.title.toStdString();
        }
    }
    // Temporary files a killed writer leaves behind are litter, never the collection.
    for (const QString& name : QDir(directory).entryList(QDir::Files))
        EXPECT_TRUE(name == "collection.json" || name.startsWith("collection.json.")) << name.toStdString();
}
