#pragma once
// The crate browser's track table: a header of nine column titles over the
// browser list, one painted line per record. Only the rows in view are
// painted, from one reading of the list per change of its inputs; each row's
// miniature waveform is fetched once and kept by record id, so a re-sort keeps
// it. A press selects, a double click loads onto deck 1, the row's keys load
// or queue, a drag carries the record's file and the context menu offers the
// row's actions. In a still render it paints the first nine rows, unscrolled.
//
// Main thread only.
#include "state/AppModel.h"
#include "ui/stage/BrowserRows.h"
#include "ui/instrument/CratePresenters.h"
#include "ui/kit/MiniWave.h"
#include "ui/kit/UiEnv.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QMimeData;

namespace zelvo {

class OutpaintModel;

class TrackTable final : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr double kHeader = 18;
    static constexpr double kRow = 22;
    static constexpr int kSnapshotRows = 9;

    TrackTable(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);

    // Where "Put This Take on Deck 2" goes; without it the item does nothing.
    void setOutpaint(OutpaintModel* outpaint) { outpaint_ = outpaint; }
    const std::vector<TrackRecord>& records() const { return rows_.records(); }
    // Reads the list again now (otherwise once per turn after a change).
    void rebuildNow();
    // Times the list was read (one per change of its inputs, never per row).
    int reads() const { return reads_; }
    // Row `row`'s rectangle in viewport pixels.
    QRect rowRect(int row) const;
    // What a point of a row hits: 0 the row, 1 load deck 1, 2 load deck 2, 3 queue.
    int hitAt(QPoint viewportPoint, int row) const;
    std::unique_ptr<QMenu> menuFor(int row);
    std::unique_ptr<QMimeData> mimeFor(int row) const;
    // The row's cells as painted now.
    crate::RowCells cellsOf(int row) const;
    // The cached miniature waveform of a record, fetched on first use.
    const kit::MiniWaveBars* waveOf(const TrackRecord& record) { return rows_.waveOf(record); }
    bool hasWave(const QUuid& id) const { return rows_.hasWave(id); }
    int rowAtPoint(QPoint viewportPoint) const { return rowAt(viewportPoint); }

signals:
    // The list was read again (its count may have changed).
    void listRead();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    double scale() const;
    void afterRead();
    void updateRange();
    int rowAt(QPoint point) const;
    void act(const crate::MenuItem& item, const TrackRecord& record);
    void pressKey(int row, int hit);

    AppModel& model_;
    kit::UiEnv env_;
    QPointer<OutpaintModel> outpaint_;
    // The list as last read, the queued ids and the rows' waveforms.
    BrowserRows rows_;
    std::optional<MusicalKey> deckOneKey_;
    int reads_ = 0;
    std::optional<QPoint> pressAt_;
    QUuid pressId_;
    int pressHit_ = 0;
};

} // namespace zelvo
