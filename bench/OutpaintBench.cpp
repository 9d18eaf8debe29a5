// Speed of a finished render's worker side and of the take list.
#include "generation/TakeWork.h"
#include "library/AudioFileIO.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>

namespace {

using namespace zelvo;

TrackBufferRef music(double seconds, double rate, double amplitude, double hz)
{
    const auto frames = std::int64_t(seconds * rate);
    TrackBufferRef b(frames, rate);
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double env = 0.6 + 0.4 * std::sin(6.283185307179586 * 2.0 * t);
        b->left[i] = float(amplitude * env * std::sin(6.283185307179586 * hz * t));
        b->right[i] = float(amplitude * env * std::sin(6.283185307179586 * hz * 1.01 * t));
    }
    return b;
}

// A 90 s stereo 44.1 kHz generated file (30 s heard, 60 s written) decoded to
// 48 kHz and spliced onto the 48 kHz prefix from its start: a 180 s take, its
// mono fold and 150 points/s waveform, written as a 32-bit file (left to the
// system to flush).
void BM_Outpaint_PostRender(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString generated = dir.filePath(QStringLiteral("gen-BENCH000.wav"));
    AudioFileIO::writeWAV(std::filesystem::path(generated.toStdString()), *music(90, 44100, 0.35, 112), std::nullopt,
                          16);
    const auto prefix = music(200, 48000, 0.5, 110);
    const ForkPlan plan{120.0, 90.0, 30.0, 60.0};
    TakeWork::TakeName name{dir.path(), QStringLiteral("Bench"), QStringLiteral(" — fork "),
                            QStringLiteral("260101-120000"), 1};
    double seconds = 0;
    for (auto _ : state) {
        const TakeWork::Spliced take = TakeWork::splice(generated, *prefix, 0.0, plan, std::nullopt);
        seconds = take.buffer->duration();
        const QString path = TakeWork::write(*take.buffer, name.path(), name);
        state.PauseTiming();
        QFile::remove(path);
        state.ResumeTiming();
    }
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Outpaint_PostRender)->Unit(benchmark::kMillisecond)->UseRealTime();

// The take list and the index of deck 2's take in a library of 20,000
// records, 2,000 of them takes of 100 sources.
void BM_Outpaint_Takes(benchmark::State& state)
{
    std::vector<TrackRecord> library;
    std::vector<QUuid> sources;
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < 100; ++i)
        sources.push_back(QUuid::createUuid());
    for (int i = 0; i < 20000; ++i) {
        TrackRecord record = TrackRecord::forFile(QStringLiteral("/music/track %1.mp3").arg(i), start.addSecs(i * 37 % 9973));
        if (i % 10 == 0) {
            OutpaintInfo info;
            info.sourceID = sources[std::size_t(i / 10) % sources.size()];
            if (i % 30 == 0)
                info.segmentOf = QUuid::createUuid();
            record.outpaint = info;
        }
        library.push_back(std::move(record));
    }
    const QUuid held = library[10 * 100 * 7].id; // a take of source 0
    std::size_t found = 0;
    for (auto _ : state) {
        const std::vector<TrackRecord> takes = TakeWork::takesOf(library, sources[0]);
        const std::vector<TrackRecord> again = TakeWork::takesOf(library, sources[0]);
        for (std::size_t i = 0; i < again.size(); ++i) {
            if (again[i].id == held)
                found = i;
        }
        benchmark::DoNotOptimize(takes.size());
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_Outpaint_Takes)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
