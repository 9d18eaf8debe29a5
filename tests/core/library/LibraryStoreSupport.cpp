#include "LibraryStoreSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace zelvo::test {

void ManualAnalysisWorker::start(std::function<void()> job, std::function<void()> done)
{
    items_.emplace_back(std::move(job), std::move(done));
}

bool ManualAnalysisWorker::runNext()
{
    if (items_.empty())
        return false;
    auto [job, done] = std::move(items_.front());
    items_.pop_front();
    job();
    done();
    return true;
}

int ManualAnalysisWorker::runAll()
{
    int count = 0;
    while (runNext())
        ++count;
    return count;
}

bool RecordingLog::mentions(const QString& text) const
{
    for (const QString& line : lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

LibraryStore::AnalysisOutcome FakeAnalyses::success(double duration, int points)
{
    TrackAnalysis analysis;
    analysis.duration = duration;
    analysis.grid = BeatGrid(120.0, 0.25);
    analysis.key = MusicalKey(9, true);
    analysis.loudnessDB = -9.5;
    analysis.waveform = testWaveform(points);
    analysis.metrics = TrackMetrics::from(analysis.waveform);
    return LibraryStore::AnalysisOutcome{analysis, {}, {}};
}

LibraryStore::AnalysisOutcome FakeAnalyses::failure(const QString& error)
{
    return LibraryStore::AnalysisOutcome{std::nullopt, {}, error};
}

LibraryStore::Analyzer FakeAnalyses::analyzer() const
{
    return [byName = byName, asked = asked](const QString& path) {
        asked->append(path);
        const QString name = QFileInfo(path).fileName();
        const auto it = byName.constFind(name);
        return it != byName.constEnd() ? *it : success();
    };
}

StoreRig::StoreRig()
{
    QDir().mkpath(music());
}

LibraryStore& StoreRig::open(FakeAnalyses analyses)
{
    store.reset();
    auto manual = std::make_unique<ManualAnalysisWorker>();
    worker = manual.get();
    LibraryStore::Options options;
    options.supportDirectory = support();
    options.outpaintDirectory = home.file(QStringLiteral("takes"));
    options.analyzer = analyses.analyzer();
    options.worker = std::move(manual);
    options.log = &log;
    store = std::make_unique<LibraryStore>(clock, std::move(options));
    return *store;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

WaveformData testWaveform(int points, double pointsPerSecond)
{
    WaveformData waveform;
    waveform.pointsPerSecond = pointsPerSecond;
    for (int i = 0; i < points; ++i) {
        waveform.low.push_back(std::uint8_t(i % 200));
        waveform.mid.push_back(std::uint8_t((i * 3 + 1) % 256));
        waveform.high.push_back(std::uint8_t((i * 7 + 2) % 256));
    }
    return waveform;
}

} // namespace zelvo::test
