#pragma once
// The stage's track browser: source tabs, the search field, the sort chips and
// the import key over a painted list of rows (see StageRow). It keeps no state
// of its own: the source, the search text, the sort, the selection and the
// list live in the state root and show here as they change. Only the rows in
// view are built and painted, from one reading of the list and the reference
// track per rebuild; a change of the selection scrolls its row to the centre.
// Files dropped on the panel are installed (adapters) or imported.
//
// Main thread only.
#include "state/AppModel.h"
#include "ui/stage/BrowserRows.h"
#include "ui/kit/MiniWave.h"
#include "ui/kit/UiEnv.h"
#include "ui/stage/Ghosts.h"
#include "ui/stage/StageRow.h"

#include <QAbstractScrollArea>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class QAbstractButton;
class QMenu;
class QMimeData;

namespace zelvo {

class OutpaintModel;

namespace stage {
class StageSides;
class StageField;
} // namespace stage

namespace browser {

struct Tab {
    AppModel::BrowserSource source;
    QString text; // lower case
    bool current = false;
};
// The four source tabs in order.
std::vector<Tab> tabs(AppModel::BrowserSource current);

struct Chip {
    AppModel::BrowserSort sort;
    QString text; // lower case
    QString help;
    bool current = false;
};
// The stage's eight chips in shown order: the first `kPlainChips` order the
// list by itself, the rest (after the "fits" label) relative to the reference.
// The title order has no chip.
inline constexpr int kPlainChips = 4;
std::vector<Chip> chips(AppModel::BrowserSort current);
// The help text of a sort ("newest first", ...).
QString sortHint(AppModel::BrowserSort sort);

struct EmptyText {
    QString title;
    QString line;
};
// What an empty list says for a source.
EmptyText emptyText(AppModel::BrowserSource source);

} // namespace browser

// The painted list of rows.
class StageBrowserList final : public QAbstractScrollArea {
    Q_OBJECT
public:
    StageBrowserList(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
    ~StageBrowserList() override;

    // What the stage reads of the controller (deck buttons, the double click's
    // deck); without it, the state root's controller link.
    void setSides(const stage::StageSides* sides);
    // Where "Put This Take on Deck 2" goes; without it the item does nothing.
    void setOutpaint(OutpaintModel* outpaint);

    // The records shown, as read at the last rebuild.
    const std::vector<TrackRecord>& records() const { return rows_.records(); }
    // Reads the list again now (a rebuild is otherwise queued once per turn).
    void rebuildNow();
    // The row's rectangle in viewport coordinates.
    QRect rowRect(int row) const;
    // The look of row `row` as it is painted now.
    stage::StageRowLook lookOf(int row);
    // The context menu of a row, its actions wired; null for no such row.
    std::unique_ptr<QMenu> menuFor(int row);
    // What dragging a row carries: its audio file's URL. Null for no such row.
    std::unique_ptr<QMimeData> mimeFor(int row) const;
    // Deck buttons per row: four under the four-deck layout, else two.
    int deckCount() const;
    // The deck the controller's left half drives.
    int leftDeck() const;
    // The scroll offset in points, and whether a scroll to the selection runs.
    int scrollOffset() const;
    bool scrolling() const { return animation_ != 0; }
    // Rows painted so far (benchmarks count visible rows only).
    std::int64_t rowsPainted() const { return rowsPainted_; }
    // The miniature waveform of a record, from the row cache or the library.
    const kit::MiniWaveBars* waveOf(const TrackRecord& record) { return rows_.waveOf(record); }

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
    void afterRead();
    void updateRange();
    void selectionChanged();
    void scrollToSelection();
    void stopAnimation();
    int rowAt(QPoint viewportPoint) const;
    stage::RowHit hitAt(QPoint viewportPoint, int row) const;
    void press(int row, const stage::RowHit& hit);
    void act(const stage::RowMenuItem& item, const TrackRecord& record);

    AppModel& model_;
    kit::UiEnv env_;
    const stage::StageSides* sides_ = nullptr;
    QPointer<OutpaintModel> outpaint_;
    // The list as last read, the queued ids and the rows' waveforms.
    BrowserRows rows_;
    bool scrollQueued_ = false;
    stage::Ghosts badge_;
    std::int64_t rowsPainted_ = 0;
    // The scroll to the selection: from, to, start (scheduler uptime).
    std::uint64_t animation_ = 0;
    double animFrom_ = 0, animTo_ = 0, animStart_ = 0;
    // A press on a row: where, which record, what it hit.
    std::optional<QPoint> pressAt_;
    QUuid pressId_;
    stage::RowHit pressHit_;
};

class StageBrowser final : public QWidget {
    Q_OBJECT
public:
    StageBrowser(AppModel& model, kit::UiEnv env, bool expanded, QWidget* parent = nullptr);
    bool expanded() const { return expanded_; }
    void setExpanded(bool expanded);
    // See StageBrowserList.
    void setSides(const stage::StageSides* sides) { list_->setSides(sides); }
    void setOutpaint(OutpaintModel* outpaint) { list_->setOutpaint(outpaint); }
    StageBrowserList* list() const { return list_; }
    // Handles dropped locations as a drop on the panel: true when a new record
    // joined the library or an adapter was installed.
    bool dropUrls(const QList<QUrl>& urls);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshHeader();

    AppModel& model_;
    kit::UiEnv env_;
    bool expanded_;
    StageBrowserList* list_ = nullptr;
    stage::StageField* search_ = nullptr;
    QWidget* header_ = nullptr;
    // The tabs and chips with the source or sort each stands for. Each key
    // carries its drawn state as the property "current".
    std::vector<std::pair<QAbstractButton*, int>> tabKeys_;
    std::vector<std::pair<QAbstractButton*, int>> chipKeys_;
};

} // namespace zelvo
