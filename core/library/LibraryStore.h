#pragma once
// The one owner of the user's library on the main thread: the records, the
// collection file and the waveform files, the import of audio files, the
// background analysis queue, the waveform and metrics caches and the takes the
// model writes.
//
// Files: the support folder holds "collection.json" (a pretty-printed JSON
// array of records with sorted keys) and the folder "waveforms" (one
// "<UPPER-CASE-UUID>.wf" per analysed track). The takes folder is created here
// and filled by the generation workflow.
//
// Saving is debounced: every change asks for a save, and the collection is
// written 0.6 s after the last request, whole and atomically (a temporary file
// renamed over the old one). `flush()` writes a pending save at once; the
// destructor calls it, so nothing changed just before quitting is lost.
//
// A collection file that exists but cannot be read or decoded loads as an empty
// library; before the first save would overwrite it, it is moved aside to
// "collection.json.unreadable-<yyyyMMdd-HHmmss>" and the move is logged. When
// the move fails nothing is saved, so the user's file is never overwritten.
//
// Observers: `tracksChanged` fires once per import call, per write-back of
// computed metrics, per load and per single-record change; never for an
// assignment that leaves the records equal.
//
// Main thread only, except where a function says otherwise.
#include "library/AnalysisWorker.h"
#include "library/TrackAnalysis.h"
#include "library/TrackMetrics.h"
#include "library/TrackRecord.h"
#include "library/WaveformData.h"
#include "platform/AudioTags.h"
#include "platform/Scheduler.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <utility>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class LogSink;

class LibraryStore final : public QObject {
    Q_OBJECT

public:
    // What the analysis of one file gives: the analysis and the file's tags, or
    // the description of the failure that stopped it (only decoding fails).
    struct AnalysisOutcome {
        std::optional<TrackAnalysis> analysis;
        AudioTags tags;
        QString error; // meaningful when `analysis` is empty
    };
    // Analyses the audio file at a path. Runs on the analysis worker's thread,
    // one file at a time; must not touch the store.
    using Analyzer = std::function<AnalysisOutcome(const QString& path)>;

    struct Options {
        // Empty: Folders::applicationSupport().
        QString supportDirectory;
        // Empty: "kavri zelvo/outpaints" in Folders::music().
        QString outpaintDirectory;
        // Empty: analyzeFile.
        Analyzer analyzer;
        // Empty: a ThreadAnalysisWorker.
        std::unique_ptr<AnalysisWorker> worker;
        // Where the store notes what it did to protect the user's files; may be null.
        LogSink* log = nullptr;
    };

    // Seconds of quiet before a requested save is written.
    static constexpr double kSaveDelay = 0.6;
    // Seconds of quiet before computed metrics are written into the records.
    static constexpr double kMetricsWritebackDelay = 3.0;

    // Creates the folders (failures ignored) and loads the collection
    // synchronously; starts the analysis of unanalysed records. Main thread.
    LibraryStore(Scheduler& scheduler, Options options);
    // The same with the default folders, analyser and worker. Main thread.
    explicit LibraryStore(Scheduler& scheduler);
    // Writes a pending save, then stops the timers and the worker (waiting for
    // a running analysis to end). Main thread.
    ~LibraryStore() override;

    LibraryStore(const LibraryStore&) = delete;
    LibraryStore& operator=(const LibraryStore&) = delete;

    // --- State. Main thread.

    // The library, in insertion order.
    const std::vector<TrackRecord>& tracks() const { return tracks_; }
    // Ids of the records whose analysis is running (one at most).
    const QSet<QUuid>& analyzing() const { return analyzing_; }
    // "<title>: <reason>" of the last analysis failure, none before the first.
    const std::optional<QString>& lastError() const { return lastError_; }
    const QString& supportDirectory() const { return supportDirectory_; }
    const QString& outpaintDirectory() const { return outpaintDirectory_; }
    // The collection file.
    QString collectionPath() const;
    // The waveform file of a record, whether or not it exists.
    QString waveformPath(const QUuid& id) const;

    // --- Saving. Main thread.

    // Asks for the collection to be written kSaveDelay after the last request.
    void scheduleSave();
    // Writes a requested but unwritten save now, with any computed metrics not
    // yet in the records. Returns true when the file holds the library
    // afterwards (also when nothing was pending). Called at shutdown.
    bool flush();
    // True while a change has not reached the collection file.
    bool hasUnsavedChanges() const { return dirty_; }
    // The collection file's bytes for the current records. Non-finite numbers
    // are repaired (and logged) as TrackRecord::toJson describes.
    QByteArray encodeCollection() const;

    // --- Import and analysis. Main thread.

    // Extensions (lower case) of the files the library takes in.
    static const QStringList& audioExtensions();
    // True when the lower-cased extension of the file name is an audio extension.
    static bool isAudioFileName(const QString& name);
    // Takes in every audio file among `paths` (files, and folders searched
    // through without following folder links or entering hidden folders; only
    // regular files count). Returns the record of every audio file found, new or
    // already known, in ascending order of path; new records are appended to
    // the library. Then schedules a save and starts the analysis queue.
    std::vector<TrackRecord> importItems(const QStringList& paths);
    // Starts the analysis queue unless it runs already.
    void analyzePending();
    // Takes the records with these ids out of the library; files and caches stay.
    void remove(const QSet<QUuid>& ids);

    // --- Records, caches and takes. Main thread.

    // The record with this id.
    std::optional<TrackRecord> track(const QUuid& id) const;
    // Replaces the record with the same id and schedules a save; nothing when
    // the library holds no such record.
    void update(const TrackRecord& record);
    // The display waveform: from memory, else from its file. Shared, never
    // changed in place; a newer waveform replaces the cache entry.
    std::shared_ptr<const WaveformData> waveform(const QUuid& id);
    // The metrics: from memory, the record, or computed from the waveform (and
    // then written into the record kMetricsWritebackDelay later).
    std::optional<TrackMetrics> metrics(const QUuid& id);
    // Computes the metrics of every record without them, a slice at a time,
    // giving the main thread back between slices.
    void warmMetrics();
    // Caches the waveform and writes its file.
    void storeWaveform(const WaveformData& waveform, const QUuid& id);
    // Registers a generated take: stores its waveform, then replaces the record
    // with the same id in place or appends it, and schedules a save.
    void addOutpaint(const TrackRecord& record, const WaveformData& waveform);

    // --- Pure services.

    // The waveform file's bytes (see WaveformFile); empty when it cannot be
    // stored. Any thread.
    static std::optional<QByteArray> encodeWaveform(const WaveformData& waveform);
    // The waveform in a file's bytes; empty when they are short or its points per
    // second are not a positive finite number. Any thread.
    static std::optional<WaveformData> decodeWaveform(QByteArrayView bytes);
    // The title, artist and album tags of an audio file. Blocks; worker thread.
    static AudioTags metadata(const QString& path);
    // Relabels generated takes named under the earlier scheme (a title ending
    // " ⟶ AI", an artist starting "SA3·M / seed ") with the current model name.
    // True when a record changed. Any thread.
    static bool renameTakes(std::vector<TrackRecord>& records);
    // Analyses the file as TrackAnalyzer::analyze does and reads its tags. The
    // analyser the application uses. Worker thread.
    static AnalysisOutcome analyzeFile(const QString& path);

signals:
    // The records changed (see the header comment for how often).
    void tracksChanged();
    // A record's analysis started or ended.
    void analyzingChanged();
    // A new analysis failure was recorded.
    void lastErrorChanged();

private:
    void load();
    bool save();
    bool moveUnreadableCollectionAside();
    void note(const QString& line) const;
    void setTracks(std::vector<TrackRecord> records);
    void analyzeNext();
    void finishAnalysis(const QUuid& id, AnalysisOutcome outcome);
    void scheduleMetricsWriteback();
    void writeBackMetrics();
    using WarmList = std::vector<std::pair<std::size_t, QUuid>>;
    void warmSlice(std::shared_ptr<WarmList> items, std::size_t next);
    void cacheWaveform(const QUuid& id, const WaveformData& waveform);
    qsizetype indexOf(const QUuid& id) const;

    Scheduler& scheduler_;
    Analyzer analyzer_;
    std::unique_ptr<AnalysisWorker> worker_;
    LogSink* log_;
    QString supportDirectory_;
    QString outpaintDirectory_;

    std::vector<TrackRecord> tracks_;
    QSet<QUuid> analyzing_;
    std::optional<QString> lastError_;

    QHash<QUuid, std::shared_ptr<const WaveformData>> waveformCache_;
    QHash<QUuid, TrackMetrics> metricsCache_;
    QHash<QUuid, TrackMetrics> pendingMetrics_;

    Scheduler::TimerId saveTimer_ = 0;
    Scheduler::TimerId metricsTimer_ = 0;
    Scheduler::TimerId warmTimer_ = 0;
    bool analysisRunning_ = false;
    bool dirty_ = false;
    // The collection file could not be read; it is moved aside before the first save.
    bool unreadableCollection_ = false;
    // Records whose unstorable numbers have been logged already.
    mutable QSet<QUuid> repairedRecords_;
};

} // namespace zelvo
