#pragma once
// One line of the stage browser: what it shows of a library record (fit dot,
// name with the take badge, miniature waveform, tempo, key, length, match and
// the deck and queue buttons), where each part lies, what a point on it hits,
// and the items of its context menu. Pure functions; the browser's list
// paints rows and acts on them.
//
// Main thread only.
#include "library/TrackRecord.h"
#include "ui/kit/MiniWave.h"

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <optional>
#include <vector>

namespace zelvo::kit {
class Canvas;
}

namespace zelvo::stage {

class Ghosts;

// Height of a row in points.
inline constexpr double kStageRowHeight = 30;

// What one row shows.
struct StageRowLook {
    bool selected = false;
    bool fits = false;
    bool take = false;   // a generated take: badge and the extra menu item
    bool queued = false;
    int decks = 2;       // deck buttons and "Load on Deck" items
    QString title;
    QString artist;
    QString tempo;       // "%.1f" of the grid's tempo, else "—"
    QString key;         // Camelot code, else "—"
    QColor keyColour;
    QString length;      // "m:ss", else "—"
    QString match;       // whole percent without a sign, else empty
    QColor matchColour;
};

// The row's cells. A duration that is not a positive number of seconds that
// fits the clock, a tempo that is not finite or a match that is not a finite
// fraction show "—" (or an empty match), never a converted out-of-range number.
StageRowLook stageRowLook(const TrackRecord& track, bool selected, bool fits, std::optional<double> match,
                          bool queued, int decks);
// "m:ss" of the whole seconds; "—" for none, a non-finite or an out-of-range time.
QString rowLength(double seconds);
// The whole number of match × 100, truncated; empty for none or a non-finite value.
QString rowMatch(std::optional<double> match);
// The colour of a Camelot code on the wheel: hue by number, paler and darker for minor.
QColor keyColour(const MusicalKey& key);
// The record's key is compatible with the reference's; false when either has
// no key or there is no reference.
bool fitsReference(const TrackRecord& track, const std::optional<TrackRecord>& reference);

// Where the parts of a row of `width` points lie, in row coordinates.
struct StageRowGeometry {
    QRectF dot;
    QRectF name;
    QRectF wave;
    QRectF tempo;
    QRectF key;
    QRectF length;
    QRectF match;
    std::vector<QRectF> decks;
    QRectF queue;
};
StageRowGeometry stageRowGeometry(double width, int decks);

// What a point of the row hits: a deck button (with its index), the queue
// button or the row itself.
struct RowHit {
    enum class Kind { row, deck, queue };
    Kind kind = Kind::row;
    int deck = -1;
    friend bool operator==(const RowHit&, const RowHit&) = default;
};
RowHit stageRowHit(const StageRowGeometry& geometry, QPointF point);
// The help text at a point: the buttons' texts, none elsewhere.
QString stageRowHelp(const StageRowLook& look, const RowHit& hit);

// One item of the context menu, in order.
struct RowMenuItem {
    enum class Kind { load, divider, enqueue, dequeue, placeTake, reveal, remove };
    Kind kind;
    QString text;
    int deck = -1;
    friend bool operator==(const RowMenuItem&, const RowMenuItem&) = default;
};
std::vector<RowMenuItem> stageRowMenu(const StageRowLook& look);

// Paints the row at the origin; `wave` holds the row's miniature waveform
// (null: none yet). `badge` caches the take badge's double image.
void paintStageRow(kit::Canvas& canvas, const StageRowLook& look, const StageRowGeometry& geometry,
                   const kit::MiniWaveBars* wave, Ghosts& badge, double pixelRatio);

// The stage's system-font face at `size` points.
QFont stageRowFont(double size, QFont::Weight weight, bool mono);

} // namespace zelvo::stage
