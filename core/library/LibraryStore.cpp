// The store's construction, collection load and save, and the take-label
// migration. Import and analysis live in LibraryStoreImport.cpp, the caches and
// takes in LibraryStoreCaches.cpp.
#include "library/LibraryStore.h"

#include "library/CollectionJson.h"
#include "library/JsonTextWriter.h"
#include "library/WaveformFile.h"
#include "platform/AtomicFile.h"
#include "platform/Folders.h"
#include "platform/LogSink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zelvo {

namespace {

const QString kCollectionName = QStringLiteral("collection.json");
const QString kWaveformFolder = QStringLiteral("waveforms");

} // namespace

LibraryStore::LibraryStore(Scheduler& scheduler, Options options)
    : scheduler_(scheduler)
    , analyzer_(options.analyzer ? std::move(options.analyzer) : Analyzer(&LibraryStore::analyzeFile))
    , worker_(options.worker ? std::move(options.worker) : std::make_unique<ThreadAnalysisWorker>())
    , log_(options.log)
    , supportDirectory_(options.supportDirectory.isEmpty() ? Folders::applicationSupport()
                                                           : QDir::cleanPath(options.supportDirectory))
    , outpaintDirectory_(options.outpaintDirectory.isEmpty()
                             ? Folders::music() + QStringLiteral("/kavri zelvo/outpaints")
                             : QDir::cleanPath(options.outpaintDirectory))
{
    // Creating the waveform folder creates the support folder too. Failures
    // surface later as failed reads and writes.
    QDir().mkpath(supportDirectory_ + QLatin1Char('/') + kWaveformFolder);
    QDir().mkpath(outpaintDirectory_);
    load();
}

LibraryStore::LibraryStore(Scheduler& scheduler)
    : LibraryStore(scheduler, Options())
{
}

LibraryStore::~LibraryStore()
{
    flush();
    for (Scheduler::TimerId* timer : {&saveTimer_, &metricsTimer_, &warmTimer_}) {
        if (*timer)
            scheduler_.cancel(*timer);
        *timer = 0;
    }
    // Waits for a running analysis; its completion is dropped with the worker.
    worker_.reset();
}

QString LibraryStore::collectionPath() const
{
    return supportDirectory_ + QLatin1Char('/') + kCollectionName;
}

QString LibraryStore::waveformPath(const QUuid& id) const
{
    return supportDirectory_ + QLatin1Char('/') + kWaveformFolder + QLatin1Char('/') + uuidText(id)
        + QStringLiteral(".wf");
}

void LibraryStore::note(const QString& line) const
{
    if (log_)
        log_->note(QStringLiteral("library: ") + line);
}

void LibraryStore::setTracks(std::vector<TrackRecord> records)
{
    if (records == tracks_)
        return;
    tracks_ = std::move(records);
    emit tracksChanged();
}

qsizetype LibraryStore::indexOf(const QUuid& id) const
{
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        if (tracks_[i].id == id)
            return qsizetype(i);
    }
    return -1;
}

// ---------------------------------------------------------------- loading

void LibraryStore::load()
{
    QFile file(collectionPath());
    if (!file.exists())
        return;

    QString problem;
    std::vector<TrackRecord> records;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
    } else {
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            problem = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        } else {
            QJsonParseError parseError;
            const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
            if (parseError.error != QJsonParseError::NoError) {
                problem = QStringLiteral("%1 is not valid JSON (%2 at byte %3)")
                              .arg(file.fileName(), parseError.errorString())
                              .arg(parseError.offset);
            } else if (!document.isArray()) {
                problem = QStringLiteral("%1 does not hold a list of records").arg(file.fileName());
            } else {
                const QJsonArray array = document.array();
                records.reserve(std::size_t(array.size()));
                for (qsizetype i = 0; i < array.size(); ++i) {
                    const QJsonValue value = array.at(i);
                    std::optional<TrackRecord> record;
                    if (value.isObject())
                        record = TrackRecord::fromJson(value.toObject());
                    if (!record) {
                        problem = QStringLiteral("record %1 of %2 cannot be read").arg(i).arg(file.fileName());
                        break;
                    }
                    records.push_back(std::move(*record));
                }
            }
        }
    }

    if (!problem.isEmpty()) {
        // All or nothing, as the collection has always been read: the library
        // starts empty, and the file is kept for the user (moved aside before
        // the first save).
        unreadableCollection_ = true;
        note(problem + QStringLiteral(" — starting with an empty library; the file is kept"));
        return;
    }

    const bool migrated = renameTakes(records);
    setTracks(std::move(records));
    if (migrated)
        scheduleSave();
    for (const TrackRecord& record : tracks_) {
        if (!record.analyzed) {
            analyzePending();
            break;
        }
    }
}

// ---------------------------------------------------------------- saving

void LibraryStore::scheduleSave()
{
    dirty_ = true;
    if (saveTimer_)
        scheduler_.cancel(saveTimer_);
    saveTimer_ = scheduler_.runAfter(kSaveDelay, [this] {
        saveTimer_ = 0;
        save();
    });
}

bool LibraryStore::flush()
{
    if (metricsTimer_) {
        scheduler_.cancel(metricsTimer_);
        metricsTimer_ = 0;
        writeBackMetrics();
    }
    if (saveTimer_) {
        scheduler_.cancel(saveTimer_);
        saveTimer_ = 0;
    }
    if (!dirty_)
        return true;
    return save();
}

QByteArray LibraryStore::encodeCollection() const
{
    // About a kilobyte per analysed record.
    JsonTextWriter writer(qsizetype(tracks_.size()) * 1200 + 16);
    QStringList repairs;
    writer.beginArray();
    for (const TrackRecord& record : tracks_) {
        record.writeJson(writer, &repairs);
        if (repairs.isEmpty())
            continue;
        // Once per record and process: the value stays in memory and would
        // otherwise be reported at every save.
        if (!repairedRecords_.contains(record.id)) {
            repairedRecords_.insert(record.id);
            for (const QString& repair : std::as_const(repairs))
                note(QStringLiteral("\"%1\" (%2): %3").arg(record.title, uuidText(record.id), repair));
        }
        repairs.clear();
    }
    writer.endArray();
    return writer.take();
}

bool LibraryStore::save()
{
    if (unreadableCollection_ && !moveUnreadableCollectionAside())
        return false;
    QString error;
    if (!writeFileAtomically(collectionPath(), encodeCollection(), &error, true)) {
        // Kept dirty: the next change or flush tries again.
        note(QStringLiteral("the collection was not saved — ") + error);
        return false;
    }
    dirty_ = false;
    return true;
}

bool LibraryStore::moveUnreadableCollectionAside()
{
    const QString path = collectionPath();
    if (!QFileInfo::exists(path)) {
        unreadableCollection_ = false;
        return true;
    }
    const QString stem =
        path + QStringLiteral(".unreadable-") + scheduler_.now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = stem;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = stem + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, target)) {
        note(QStringLiteral("cannot move the unreadable collection %1 aside — not saving over it").arg(path));
        return false;
    }
    note(QStringLiteral("kept the unreadable collection as %1").arg(target));
    unreadableCollection_ = false;
    return true;
}

// ---------------------------------------------------------------- migration

bool LibraryStore::renameTakes(std::vector<TrackRecord>& records)
{
    // Characters compare by canonical equivalence, so the tests run on the
    // composed (NFC) form; the arrow, the middle dot and ASCII are unchanged by it.
    static const QString oldTitleSuffix = QStringLiteral(" \u27F6 AI");
    static const QString oldArtistPrefix = QStringLiteral("SA3\u00B7M / seed ");
    static const QString newModel = QStringLiteral("zelvo-0");
    static const QString newArtistPrefix = QStringLiteral("zelvo-0 \u00B7 seed ");

    bool changed = false;
    for (TrackRecord& record : records) {
        if (!record.outpaint)
            continue;
        const QString title = record.title.normalized(QString::NormalizationForm_C);
        if (title.endsWith(oldTitleSuffix)) {
            // "X ⟶ AI" loses its last two characters, "AI".
            record.title = title.left(title.size() - 2) + newModel;
            changed = true;
        }
        const QString artist = record.artist.normalized(QString::NormalizationForm_C);
        if (artist.startsWith(oldArtistPrefix)) {
            record.artist = newArtistPrefix + artist.mid(oldArtistPrefix.size());
            changed = true;
        }
    }
    return changed;
}

// ---------------------------------------------------------------- waveform files

std::optional<QByteArray> LibraryStore::encodeWaveform(const WaveformData& waveform)
{
    return WaveformFile::encode(waveform);
}

std::optional<WaveformData> LibraryStore::decodeWaveform(QByteArrayView bytes)
{
    return WaveformFile::decode(bytes);
}

AudioTags LibraryStore::metadata(const QString& path)
{
    return readTags(path);
}

} // namespace zelvo
