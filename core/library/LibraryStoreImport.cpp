// Import of audio files and the analysis queue of the library store.
#include "library/LibraryStore.h"

#include "library/AudioFileError.h"
#include "library/CollectionJson.h"
#include "library/TrackAnalyzer.h"
#include "library/WaveformFile.h"
#include "platform/LogSink.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <exception>
#include <filesystem>

namespace zelvo {

namespace {

// A collected file: its path as stored, and the key it sorts by.
struct Candidate {
    QString path;
    std::u32string key;
};

// Unicode code points of the composed (NFC) text: QString's own order compares
// UTF-16 units, which puts characters beyond U+FFFF before U+E000...U+FFFF.
std::u32string sortKey(const QString& path)
{
    const QList<uint> ucs4 = path.normalized(QString::NormalizationForm_C).toUcs4();
    return std::u32string(ucs4.begin(), ucs4.end());
}

// The one spelling of a path for enumerated and directly given files alike:
// absolute, with "." and ".." resolved and no doubled or trailing slash.
QString cleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// Regular files only (links to regular files included): a folder, FIFO, socket
// or device named like an audio file is not a track, and opening a FIFO would
// block the decoder for good.
bool isRegularFile(const QFileInfo& info)
{
    return info.isFile();
}

} // namespace

const QStringList& LibraryStore::audioExtensions()
{
    static const QStringList extensions = {
        QStringLiteral("mp3"), QStringLiteral("wav"), QStringLiteral("aif"),  QStringLiteral("aiff"),
        QStringLiteral("flac"), QStringLiteral("m4a"), QStringLiteral("aac"), QStringLiteral("alac"),
        QStringLiteral("caf"), QStringLiteral("mp4")};
    return extensions;
}

bool LibraryStore::isAudioFileName(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    if (dot < 0 || dot < slash)
        return false;
    const QStringView extension = QStringView(name).mid(dot + 1);
    for (const QString& known : audioExtensions()) {
        if (extension.compare(known, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

std::vector<TrackRecord> LibraryStore::importItems(const QStringList& paths)
{
    std::vector<Candidate> found;
    for (const QString& given : paths) {
        const QString path = cleanAbsolute(given);
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        if (info.isDir()) {
            // Hidden entries (names starting with a dot) are neither listed nor
            // entered; without FollowSymlinks linked folders are not entered.
            QDirIterator it(path, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString file = it.next();
                if (isAudioFileName(it.fileName()) && isRegularFile(it.fileInfo()))
                    found.push_back(Candidate{file, {}});
            }
        } else if (isAudioFileName(info.fileName()) && isRegularFile(info)) {
            found.push_back(Candidate{path, {}});
        }
    }
    for (Candidate& candidate : found)
        candidate.key = sortKey(candidate.path);
    std::stable_sort(found.begin(), found.end(),
                     [](const Candidate& a, const Candidate& b) { return a.key < b.key; });

    // First record per path, built once per call: a linear search per file
    // would make a large import into a large library quadratic.
    QHash<QString, std::size_t> byPath;
    byPath.reserve(qsizetype(tracks_.size() + found.size()));
    for (std::size_t i = tracks_.size(); i-- > 0;)
        byPath.insert(tracks_[i].path, i);

    std::vector<TrackRecord> result;
    result.reserve(found.size());
    bool added = false;
    const QDateTime now = scheduler_.now();
    for (const Candidate& candidate : found) {
        const auto known = byPath.constFind(candidate.path);
        if (known != byPath.constEnd()) {
            result.push_back(tracks_[*known]);
            continue;
        }
        TrackRecord record = TrackRecord::forFile(candidate.path, now);
        byPath.insert(record.path, tracks_.size());
        tracks_.push_back(record);
        result.push_back(std::move(record));
        added = true;
    }
    if (added)
        emit tracksChanged();
    scheduleSave();
    analyzePending();
    return result;
}

void LibraryStore::remove(const QSet<QUuid>& ids)
{
    const auto end = std::remove_if(tracks_.begin(), tracks_.end(),
                                    [&](const TrackRecord& record) { return ids.contains(record.id); });
    const bool removed = end != tracks_.end();
    tracks_.erase(end, tracks_.end());
    if (removed)
        emit tracksChanged();
    scheduleSave();
}

// ---------------------------------------------------------------- analysis queue

void LibraryStore::analyzePending()
{
    if (analysisRunning_)
        return;
    analyzeNext();
}

void LibraryStore::analyzeNext()
{
    const auto next = std::find_if(tracks_.begin(), tracks_.end(), [this](const TrackRecord& record) {
        return !record.analyzed && !analyzing_.contains(record.id);
    });
    if (next == tracks_.end()) {
        analysisRunning_ = false;
        return;
    }
    analysisRunning_ = true;
    const QUuid id = next->id;
    const QString path = next->path;
    analyzing_.insert(id);
    emit analyzingChanged();

    auto outcome = std::make_shared<AnalysisOutcome>();
    worker_->start(
        [analyzer = analyzer_, path, outcome] {
            try {
                *outcome = analyzer(path);
            } catch (const std::exception& error) {
                *outcome = AnalysisOutcome{std::nullopt, {}, QString::fromUtf8(error.what())};
            } catch (...) {
                *outcome = AnalysisOutcome{std::nullopt, {}, QStringLiteral("the analysis failed")};
            }
        },
        // The worker belongs to the store and never delivers after it is gone.
        [this, id, outcome] { finishAnalysis(id, std::move(*outcome)); });
}

void LibraryStore::finishAnalysis(const QUuid& id, AnalysisOutcome outcome)
{
    analyzing_.remove(id);
    emit analyzingChanged();

    const qsizetype index = indexOf(id);
    if (index < 0) {
        // Removed while it was analysed: the result has nowhere to go.
        analyzeNext();
        return;
    }
    TrackRecord record = tracks_[std::size_t(index)];
    if (outcome.analysis) {
        TrackAnalysis& analysis = *outcome.analysis;
        record.duration = analysis.duration;
        if (!record.grid)
            record.grid = analysis.grid;
        if (!record.key)
            record.key = analysis.key;
        record.loudnessDB = analysis.loudnessDB;
        record.metrics = analysis.metrics;
        if (outcome.tags.title && !outcome.tags.title->isEmpty())
            record.title = *outcome.tags.title;
        if (outcome.tags.artist)
            record.artist = *outcome.tags.artist;
        if (outcome.tags.album)
            record.album = *outcome.tags.album;
        storeWaveform(analysis.waveform, id);
    } else {
        const QString error = record.title + QStringLiteral(": ") + outcome.error;
        if (lastError_ != error) {
            lastError_ = error;
            emit lastErrorChanged();
        }
    }
    record.analyzed = true;
    update(record);
    analyzeNext();
}

LibraryStore::AnalysisOutcome LibraryStore::analyzeFile(const QString& path)
{
    AnalysisOutcome outcome;
    try {
        outcome.analysis = TrackAnalyzer::analyze(std::filesystem::path(QFile::encodeName(path).toStdString()));
    } catch (const AudioFileError& error) {
        outcome.error = QString::fromStdString(error.description());
        return outcome;
    }
    // The tags are read after the audio, and only for audio that decoded.
    outcome.tags = metadata(path);
    return outcome;
}

} // namespace zelvo
