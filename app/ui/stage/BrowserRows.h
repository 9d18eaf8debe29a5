#pragma once
// What a browser list shows, read from the state root: the records, the
// reference track, each record's row by id and the queued ids. A change of the
// library, the source, the query, the sort, the queue, a deck's record or the
// reference queues one reading per event-loop turn; the crossfader picks the
// reference and moves often, so only a change of the reference itself counts.
// The owning list hears of every reading through `onRead`.
//
// Each record's miniature waveform bars are fetched on first use and kept by
// id, so a re-sort keeps them; a library change drops them. Only the bars are
// kept: the full waveform stays in the library's cache.
//
// Main thread only.
#include "state/AppModel.h"
#include "ui/kit/MiniWave.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMimeData;

namespace zelvo {

class BrowserRows final : public QObject {
public:
    // `waveWidth` × `waveHeight`: the size of the miniature waveform's bars.
    // Nothing is read until the owner calls `readNow`.
    BrowserRows(AppModel& model, double waveWidth, double waveHeight, std::function<void()> onRead);

    // Reads the list now, then calls `onRead`.
    void readNow();
    // Queues one reading on the next turn of the event loop (once however often).
    void requestRead();
    bool readQueued() const { return readQueued_; }

    const std::vector<TrackRecord>& records() const { return records_; }
    const std::optional<TrackRecord>& reference() const { return reference_; }
    // The row of record `id`, or -1 when the list does not hold it.
    int rowOf(const QUuid& id) const { return rowOf_.value(id, -1); }
    bool isQueued(const QUuid& id) const { return queued_.contains(id); }

    // The record's miniature waveform bars, fetched on first use; null while
    // the library has no waveform for it.
    const kit::MiniWaveBars* waveOf(const TrackRecord& record);
    bool hasWave(const QUuid& id) const { return waves_.contains(id); }

    // What dragging row `row` carries: its audio file's URL. Null for no such
    // row or a record without a file.
    std::unique_ptr<QMimeData> mimeFor(int row) const;

private:
    AppModel& model_;
    double waveWidth_;
    double waveHeight_;
    std::function<void()> onRead_;
    std::vector<TrackRecord> records_;
    std::optional<TrackRecord> reference_;
    QHash<QUuid, int> rowOf_;
    QSet<QUuid> queued_;
    bool readQueued_ = false;
    QHash<QUuid, std::optional<kit::MiniWaveBars>> waves_;
};

} // namespace zelvo
