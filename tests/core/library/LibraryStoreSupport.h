#pragma once
// Stand-ins for the library store's tests: an analysis worker stepped by hand,
// a log that keeps its lines, a fake analyser and small file helpers.
#include "library/AnalysisWorker.h"
#include "library/LibraryStore.h"
#include "platform/LogSink.h"
#include "platform/Scheduler.h"
#include "support/TempHome.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

namespace zelvo::test {

// Runs analysis jobs only when told, on the calling thread.
class ManualAnalysisWorker final : public AnalysisWorker {
public:
    void start(std::function<void()> job, std::function<void()> done) override;
    // Runs the oldest job and its completion; false when none waits.
    bool runNext();
    // Runs jobs until none waits; returns how many ran.
    int runAll();
    std::size_t waiting() const { return items_.size(); }

private:
    std::deque<std::pair<std::function<void()>, std::function<void()>>> items_;
};

class RecordingLog final : public LogSink {
public:
    void note(const QString& line) override { lines.append(line); }
    // True when some line contains `text`.
    bool mentions(const QString& text) const;
    QStringList lines;
};

// A fake analysis result keyed by file name: what the analyser answers for a
// file, or an error.
struct FakeAnalyses {
    QHash<QString, LibraryStore::AnalysisOutcome> byName;
    // Paths the analyser was asked about, in order.
    std::shared_ptr<QStringList> asked = std::make_shared<QStringList>();
    // Files not listed get this: a 120 bpm track of `duration` seconds.
    static LibraryStore::AnalysisOutcome success(double duration = 10.0, int points = 30);
    static LibraryStore::AnalysisOutcome failure(const QString& error);
    LibraryStore::Analyzer analyzer() const;
};

// A store over a temporary home with a manual clock and worker.
struct StoreRig {
    StoreRig();
    // Makes (or remakes) the store; the previous one is destroyed first.
    LibraryStore& open(FakeAnalyses analyses = {});
    void close() { store.reset(); }
    QString support() const { return home.file(QStringLiteral("support")); }
    QString music() const { return home.file(QStringLiteral("music")); }

    TempHome home;
    ManualScheduler clock;
    RecordingLog log;
    ManualAnalysisWorker* worker = nullptr; // owned by the store
    std::unique_ptr<LibraryStore> store;
};

// Writes `bytes` to `path`, creating folders; fails the test on error.
void writeBytes(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const QString& path);

// A waveform of `points` points whose bytes tell their band and position.
WaveformData testWaveform(int points, double pointsPerSecond = 150.0);

} // namespace zelvo::test
