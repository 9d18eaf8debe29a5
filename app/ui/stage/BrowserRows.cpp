#include "ui/stage/BrowserRows.h"

#include "library/LibraryStore.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"

#include <QMimeData>
#include <QTimer>

namespace zelvo {

BrowserRows::BrowserRows(AppModel& model, double waveWidth, double waveHeight, std::function<void()> onRead)
    : model_(model), waveWidth_(waveWidth), waveHeight_(waveHeight), onRead_(std::move(onRead))
{
    connect(&model_.library(), &LibraryStore::tracksChanged, this, [this] {
        waves_.clear();
        requestRead();
    });
    connect(&model_, &AppModel::browserQueryChanged, this, &BrowserRows::requestRead);
    connect(&model_, &AppModel::browserSourceChanged, this, &BrowserRows::requestRead);
    connect(&model_, &AppModel::browserSortChanged, this, &BrowserRows::requestRead);
    connect(&model_, &AppModel::queueChanged, this, &BrowserRows::requestRead);
    for (int deck = 0; deck < AppModel::kDecks; ++deck)
        connect(&model_.deck(deck), &DeckModel::trackChanged, this, &BrowserRows::requestRead);
    connect(&model_.mixer(), &MixerModel::crossfaderChanged, this, [this] {
        const std::optional<TrackRecord> reference = model_.referenceTrack();
        if ((reference ? reference->id : QUuid()) != (reference_ ? reference_->id : QUuid()))
            requestRead();
    });
}

void BrowserRows::requestRead()
{
    if (readQueued_)
        return;
    readQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        if (readQueued_)
            readNow();
    });
}

void BrowserRows::readNow()
{
    readQueued_ = false;
    records_ = model_.browserTracks();
    reference_ = model_.referenceTrack();
    rowOf_.clear();
    rowOf_.reserve(qsizetype(records_.size()));
    for (int i = 0; i < int(records_.size()); ++i)
        rowOf_.insert(records_[std::size_t(i)].id, i);
    queued_.clear();
    for (const QUuid& id : model_.queue())
        queued_.insert(id);
    if (onRead_)
        onRead_();
}

const kit::MiniWaveBars* BrowserRows::waveOf(const TrackRecord& record)
{
    auto it = waves_.find(record.id);
    if (it == waves_.end()) {
        const std::shared_ptr<const WaveformData> waveform = model_.library().waveform(record.id);
        std::optional<kit::MiniWaveBars> bars;
        if (waveform)
            bars = kit::miniWaveBars(waveform.get(), waveWidth_, waveHeight_);
        it = waves_.insert(record.id, std::move(bars));
    }
    return it->has_value() ? &**it : nullptr;
}

std::unique_ptr<QMimeData> BrowserRows::mimeFor(int row) const
{
    if (row < 0 || row >= int(records_.size()) || records_[std::size_t(row)].path.isEmpty())
        return nullptr;
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({records_[std::size_t(row)].url()});
    return mime;
}

} // namespace zelvo
