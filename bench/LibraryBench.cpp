// The library store's main-thread work at collection scale: loading and saving
// 10,000 fully analysed records (8 hot cues, grid, key, metrics: about 0.9 KB
// each pretty-printed), importing 5,000 new files into such a library with the
// analysis held, and the longest main-thread slice of the metrics warm-up over
// records with five-minute waveforms. Files live in a temporary home on a warm
// page cache.
#include "library/LibraryStore.h"
#include "library/WaveformFile.h"
#include "platform/AtomicFile.h"
#include "platform/Scheduler.h"
#include "support/TempHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <benchmark/benchmark.h>
#include <deque>

using namespace zelvo;

namespace {

// Holds analysis jobs without running them.
class HeldWorker final : public AnalysisWorker {
public:
    void start(std::function<void()>, std::function<void()>) override { ++held; }
    int held = 0;
};

// A scheduler that times every callback it runs, to find the longest slice.
class TimingScheduler final : public Scheduler {
public:
    QDateTime now() const override { return inner.now(); }
    double uptime() const override
    {
        // The real clock, so the warm-up's time budget works as in the program.
        return double(clock.nsecsElapsed()) * 1e-9;
    }
    TimerId runAfter(double seconds, std::function<void()> work) override
    {
        return inner.runAfter(seconds, [this, work = std::move(work)] {
            QElapsedTimer t;
            t.start();
            work();
            longest = std::max(longest, double(t.nsecsElapsed()) * 1e-6);
            ++slices;
        });
    }
    TimerId runEvery(double seconds, std::function<void()> work) override
    {
        return inner.runEvery(seconds, std::move(work));
    }
    void cancel(TimerId id) override { inner.cancel(id); }

    ManualScheduler inner;
    QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    double longest = 0.0; // milliseconds
    int slices = 0;
};

TrackRecord analysedRecord(int i, const QDateTime& added)
{
    TrackRecord record =
        TrackRecord::forFile(QStringLiteral("/home/dj/Music/Library/Artist %1/Album %2/%3 - Track title number %4.flac")
                                 .arg(i % 400)
                                 .arg(i % 37)
                                 .arg(i % 20 + 1)
                                 .arg(i),
                             added);
    record.title = QStringLiteral("Track title number %1 (Extended Mix)").arg(i);
    record.artist = QStringLiteral("Artist %1").arg(i % 400);
    record.album = QStringLiteral("Album %1").arg(i % 37);
    record.duration = 240.0 + (i % 300) * 0.731;
    record.grid = BeatGrid(118.0 + (i % 160) * 0.1, 0.0317 * (i % 30));
    record.key = MusicalKey(i % 12, i % 3 == 0);
    record.loudnessDB = -7.25 - (i % 90) * 0.0173;
    record.metrics = TrackMetrics{0.61234567 + (i % 7) * 0.01, 0.4187654 + (i % 5) * 0.01, 0.2765432};
    record.cuePoint = 0.1234 * (i % 40);
    for (int slot = 0; slot < 8; ++slot)
        record.hotCues[std::size_t(slot)] = 12.3456789 * (slot + 1) + i % 13;
    record.analyzed = true;
    record.plays = i % 23;
    return record;
}

QByteArray collectionOf(int count, bool withMetrics)
{
    const QDateTime added(QDate(2026, 3, 1), QTime(9, 30), Qt::UTC);
    QJsonArray array;
    for (int i = 0; i < count; ++i) {
        TrackRecord record = analysedRecord(i, added);
        if (!withMetrics)
            record.metrics.reset();
        array.append(record.toJson());
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
}

LibraryStore::Options options(const QString& support, const QString& takes)
{
    LibraryStore::Options o;
    o.supportDirectory = support;
    o.outpaintDirectory = takes;
    o.worker = std::make_unique<HeldWorker>();
    return o;
}

void BM_Library_Load10k(benchmark::State& state)
{
    test::TempHome home;
    const QString support = home.file("support");
    const QByteArray bytes = collectionOf(10000, true);
    writeFile(support + "/collection.json", bytes);
    ManualScheduler clock;
    for (auto _ : state) {
        LibraryStore store(clock, options(support, home.file("takes")));
        if (store.tracks().size() != 10000)
            state.SkipWithError("the collection did not load");
        benchmark::DoNotOptimize(store.tracks().data());
    }
    state.counters["bytes_per_record"] = double(bytes.size()) / 10000.0;
}

void BM_Library_Save10k(benchmark::State& state)
{
    test::TempHome home;
    const QString support = home.file("support");
    writeFile(support + "/collection.json", collectionOf(10000, true));
    ManualScheduler clock;
    LibraryStore store(clock, options(support, home.file("takes")));
    const QString path = store.collectionPath();
    // Encode and atomic replace, without waiting for the disk.
    for (auto _ : state) {
        const QByteArray bytes = store.encodeCollection();
        if (!writeFileAtomically(path, bytes))
            state.SkipWithError("the collection was not written");
    }
}

void BM_Library_Save10kWithFlush(benchmark::State& state)
{
    test::TempHome home;
    const QString support = home.file("support");
    writeFile(support + "/collection.json", collectionOf(10000, true));
    ManualScheduler clock;
    LibraryStore store(clock, options(support, home.file("takes")));
    // The store's own save: as above, plus the data and the rename on disk.
    for (auto _ : state) {
        store.scheduleSave();
        if (!store.flush())
            state.SkipWithError("the collection was not written");
    }
}

void BM_Library_Import5k(benchmark::State& state)
{
    test::TempHome home;
    const QString support = home.file("support");
    const QByteArray bytes = collectionOf(10000, true);
    const QString folder = home.file("incoming");
    for (int i = 0; i < 5000; ++i)
        writeFile(folder + QStringLiteral("/Label %1/Release %2/%3.wav").arg(i % 50).arg(i % 500).arg(i), {});
    ManualScheduler clock;
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(support + "/collection.json", bytes);
        auto store = std::make_unique<LibraryStore>(clock, options(support, home.file("takes")));
        state.ResumeTiming();
        const auto found = store->importItems({folder});
        state.PauseTiming();
        if (found.size() != 5000 || store->tracks().size() != 15000)
            state.SkipWithError("the import went wrong");
        store.reset();
        state.ResumeTiming();
    }
}

void BM_Library_WarmMetricsSlice(benchmark::State& state)
{
    test::TempHome home;
    const QString support = home.file("support");
    const int records = 400;
    const QByteArray bytes = collectionOf(records, false);
    // Five-minute waveforms at 150 points per second.
    {
        TimingScheduler clock;
        writeFile(support + "/collection.json", bytes);
        LibraryStore store(clock, options(support, home.file("takes")));
        WaveformData waveform;
        waveform.pointsPerSecond = 150.0;
        for (int p = 0; p < 300 * 150; ++p) {
            waveform.low.push_back(std::uint8_t((p * 13) % 256));
            waveform.mid.push_back(std::uint8_t((p * 7) % 200));
            waveform.high.push_back(std::uint8_t((p * 3) % 180));
        }
        for (const TrackRecord& record : store.tracks())
            WaveformFile::write(store.waveformPath(record.id), waveform);
    }
    double longest = 0.0;
    int slices = 0;
    for (auto _ : state) {
        state.PauseTiming();
        writeFile(support + "/collection.json", bytes);
        auto clock = std::make_unique<TimingScheduler>();
        auto store = std::make_unique<LibraryStore>(*clock, options(support, home.file("takes")));
        state.ResumeTiming();
        store->warmMetrics();
        clock->inner.runDue();
        state.PauseTiming();
        longest = std::max(longest, clock->longest);
        slices = clock->slices;
        store.reset();
        state.ResumeTiming();
    }
    state.counters["longest_slice_ms"] = longest;
    state.counters["slices"] = slices;
    state.counters["records"] = records;
}

} // namespace

BENCHMARK(BM_Library_Load10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Library_Save10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Library_Save10kWithFlush)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Library_Import5k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Library_WarmMetricsSlice)->Unit(benchmark::kMillisecond);
