// Record look-up and replacement, the waveform and metrics caches, the metrics
// write-back and warm-up, and the registration of generated takes.
#include "library/LibraryStore.h"

#include "library/CollectionJson.h"
#include "library/WaveformFile.h"
#include "platform/LogSink.h"

namespace zelvo {

namespace {

// The warm-up gives the main thread back after this much work even when the
// every-16-records rule has not come round, so one slice never stalls the
// interface for long (long waveforms cost a few milliseconds each).
constexpr double kWarmSliceBudget = 0.012;
constexpr std::size_t kWarmYieldEvery = 16;

} // namespace

std::optional<TrackRecord> LibraryStore::track(const QUuid& id) const
{
    const qsizetype index = indexOf(id);
    if (index < 0)
        return std::nullopt;
    return tracks_[std::size_t(index)];
}

void LibraryStore::update(const TrackRecord& record)
{
    const qsizetype index = indexOf(record.id);
    if (index < 0)
        return;
    TrackRecord& stored = tracks_[std::size_t(index)];
    if (!(stored == record)) {
        stored = record;
        emit tracksChanged();
    }
    scheduleSave();
}

std::shared_ptr<const WaveformData> LibraryStore::waveform(const QUuid& id)
{
    if (const auto cached = waveformCache_.constFind(id); cached != waveformCache_.constEnd())
        return *cached;
    std::optional<WaveformData> stored = WaveformFile::read(waveformPath(id));
    if (!stored)
        return nullptr; // misses are not remembered: the file may appear later
    auto shared = std::make_shared<const WaveformData>(std::move(*stored));
    waveformCache_.insert(id, shared);
    return shared;
}

std::optional<TrackMetrics> LibraryStore::metrics(const QUuid& id)
{
    if (const auto cached = metricsCache_.constFind(id); cached != metricsCache_.constEnd())
        return *cached;
    const qsizetype index = indexOf(id);
    if (index < 0)
        return std::nullopt;
    if (const std::optional<TrackMetrics>& own = tracks_[std::size_t(index)].metrics) {
        metricsCache_.insert(id, *own);
        return own;
    }
    const std::shared_ptr<const WaveformData> wave = waveform(id);
    if (!wave)
        return std::nullopt;
    const std::optional<TrackMetrics> computed = TrackMetrics::from(*wave);
    if (!computed)
        return std::nullopt;
    metricsCache_.insert(id, *computed);
    pendingMetrics_.insert(id, *computed);
    scheduleMetricsWriteback();
    return computed;
}

void LibraryStore::scheduleMetricsWriteback()
{
    if (metricsTimer_)
        scheduler_.cancel(metricsTimer_);
    metricsTimer_ = scheduler_.runAfter(kMetricsWritebackDelay, [this] {
        metricsTimer_ = 0;
        writeBackMetrics();
    });
}

void LibraryStore::writeBackMetrics()
{
    if (pendingMetrics_.isEmpty())
        return;
    const QHash<QUuid, TrackMetrics> taken = std::exchange(pendingMetrics_, {});
    bool changed = false;
    for (TrackRecord& record : tracks_) {
        if (record.metrics)
            continue; // metrics the analysis stored meanwhile win
        if (const auto it = taken.constFind(record.id); it != taken.constEnd()) {
            record.metrics = *it;
            changed = true;
        }
    }
    if (changed)
        emit tracksChanged();
    scheduleSave();
}

void LibraryStore::warmMetrics()
{
    // Positions in the list at this moment of the records without metrics.
    auto items = std::make_shared<WarmList>();
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        if (!tracks_[i].metrics)
            items->emplace_back(i, tracks_[i].id);
    }
    if (warmTimer_)
        scheduler_.cancel(warmTimer_);
    warmTimer_ = scheduler_.runAfter(0.0, [this, items] {
        warmTimer_ = 0;
        warmSlice(items, 0);
    });
}

void LibraryStore::warmSlice(std::shared_ptr<WarmList> items, std::size_t next)
{
    const double start = scheduler_.uptime();
    while (next < items->size()) {
        const auto [position, id] = (*items)[next++];
        metrics(id);
        const bool due = position % kWarmYieldEvery == 0 || scheduler_.uptime() - start >= kWarmSliceBudget;
        if (due && next < items->size()) {
            warmTimer_ = scheduler_.runAfter(0.0, [this, items, next] {
                warmTimer_ = 0;
                warmSlice(items, next);
            });
            return;
        }
    }
}

void LibraryStore::cacheWaveform(const QUuid& id, const WaveformData& waveform)
{
    waveformCache_.insert(id, std::make_shared<const WaveformData>(waveform));
}

void LibraryStore::storeWaveform(const WaveformData& waveform, const QUuid& id)
{
    cacheWaveform(id, waveform);
    QString error;
    if (!WaveformFile::write(waveformPath(id), waveform, &error))
        note(QStringLiteral("waveform of %1 not written — %2").arg(uuidText(id), error));
}

void LibraryStore::addOutpaint(const TrackRecord& record, const WaveformData& waveform)
{
    storeWaveform(waveform, record.id);
    const qsizetype index = indexOf(record.id);
    if (index >= 0) {
        TrackRecord& stored = tracks_[std::size_t(index)];
        if (!(stored == record)) {
            stored = record;
            emit tracksChanged();
        }
    } else {
        tracks_.push_back(record);
        emit tracksChanged();
    }
    scheduleSave();
}

} // namespace zelvo
