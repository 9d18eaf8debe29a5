#pragma once
// Pure rules behind the faceplate's crate browser: the analysis line, the sort
// bar's keys and read-out, every cell of a track row, the queue key, the row's
// context menu, the energy meter's bars and the empty list's texts. Values
// follow from the records and model values alone, so the widgets stay thin.
//
// Any thread (no state); the widgets call them on the main thread.
#include "state/AppModel.h"
#include "library/TrackRecord.h"

#include <QColor>
#include <QRectF>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>
#include <vector>

namespace zelvo::kit {
class Canvas;
}

namespace zelvo::crate {

// "ANALYZE n": the distinct records that are being analysed or wait for it
// (a record under analysis is also unanalysed, and counts once). None while
// nothing is being analysed, whatever waits.
std::optional<QString> analysisLine(const QSet<QUuid>& analyzing, const std::vector<TrackRecord>& tracks);
// "42 TRACKS".
QString trackCount(std::size_t count);

struct SourceKey {
    AppModel::BrowserSource source;
    QString label;
    bool lit = false;
};
std::vector<SourceKey> sourceKeys(AppModel::BrowserSource current);

struct SortKey {
    AppModel::BrowserSort sort;
    QString label; // also the stored raw value
    double width = 44;
    bool relative = false;
    bool lit = false;
};
// The nine keys in bar order: five absolute, then tune, harmony, tempo, intensity.
std::vector<SortKey> sortKeys(AppModel::BrowserSort current);
bool isRelative(AppModel::BrowserSort sort);

// The bar's right end: the caption of an absolute sort, or the reference's
// title (upper case; "NOTHING PLAYING" dimmed without one) for a relative one.
struct SortReadout {
    QString text;
    bool title = false; // a dot-matrix title, else a silk caption
    bool dim = false;
};
SortReadout sortReadout(AppModel::BrowserSort sort, const std::optional<QString>& referenceTitle);

// How the sort bar shares its width. At its own widths (the keys' given
// widths, `spacing` 4 between its parts, 8-point margins, room for the full
// read-out) the bar needs about 620 points, more than a narrow glass has. Then
// the keys give first: the spacing narrows to 2, then every key narrows by one
// common factor, none below its floor (`floors`, where its label still reads);
// the read-out's room shrinks only once every key stands at its floor. With
// room to spare the keys keep their given widths and the read-out its place at
// the right end.
struct SortBarFit {
    std::vector<double> keys; // widths in bar order
    double spacing = 4;       // between the parts (12 gaps: the spacer has one either side)
    double room = 0;          // from the last gap after the keys to the right margin
};
constexpr double kSortSpacing = 4;
constexpr double kSortSpacingFloor = 2;
constexpr int kSortGaps = 12;
// `fixed`: margins, divider and the word "like"; `readout`: the room the read-out wants.
SortBarFit fitSortBar(double width, const std::vector<double>& widths, const std::vector<double>& floors,
                      double fixed, double readout);
// A key's floor: its label at `legible` of its size inside the key's 3-point
// insets, never wider than the key's own width.
double sortKeyFloor(double labelWidth, double width, double legible = 0.8);

// `text` when `fits` takes it; else its longest run of whole words that fits
// with "…" after it; else "…" alone when that fits; else nothing. Words are
// separated by spaces; a word is never cut.
QString shortenAtWord(const QString& text, const std::function<bool(const QString&)>& fits);
// The dot-matrix cells (of `pitch`) in `width` points, at most `most`.
int cellsWithin(double width, double pitch, int most);
// What `cells` dot-matrix cells show of `text` (normalised): its first
// characters, as the display cuts a text longer than its cells.
QString firstCells(const QString& text, int cells);

struct EmptyState {
    QString title;
    QString line;
};
EmptyState emptyState(AppModel::BrowserSource source);

// The cells of one row.
struct RowCells {
    bool take = false;
    QString title;
    QString artist; // empty: no artist shown
    QString tempo;  // "···" while analysed, "%.2f", "—"
    QString key;    // Camelot code or "—"
    QColor keyColour;
    QString length; // "m:ss" or "—"
    QString match;  // whole percent or "—"
    QColor matchColour;
    int energyBars = 0; // lit bars of five
};
RowCells rowCells(const TrackRecord& track, bool analyzing, std::optional<double> energy,
                  std::optional<double> match);
// "%.2f" of a finite tempo, else "—".
QString tempoCell(const std::optional<double>& bpm, bool analyzing);
// Whole seconds as "m:ss"; "—" for none, a non-finite or an out-of-range length.
QString lengthCell(double seconds);
// Whole percent of a finite score in 0…(int range); "—" otherwise.
QString matchCell(std::optional<double> match);
QColor matchColour(std::optional<double> match);
// The key wheel colour: hue by Camelot number, paler and darker for minor keys.
QColor keyColour(const MusicalKey& key);
// Bars lit for `energy` (none counts 0; non-finite lights none).
int litBars(std::optional<double> energy);
// The meter's five bars in a 26-point frame of `height`, with their fills.
void paintEnergyMeter(kit::Canvas& canvas, QPointF origin, double height, int lit);
// Bar i's rectangle (3 wide, 4 + 1.6 i high, centred in `height`).
QRectF energyBar(int i, double height);

struct QueueKey {
    QString label; // "+" or "✓"
    QString help;  // "Add to queue" / "Remove from queue"
    bool inverted = false;
};
QueueKey queueKey(bool queued);

struct MenuItem {
    enum class Kind { load, divider, enqueue, moveUp, moveDown, dequeue, placeTake, reveal, remove };
    Kind kind;
    QString text;
    int deck = -1;
    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};
std::vector<MenuItem> menuItems(bool queued, bool take);

// Deck 1's record key compared with a row's: both present and compatible.
bool compatible(const std::optional<MusicalKey>& deckOne, const std::optional<MusicalKey>& row);

// The table's nine columns.
struct Column {
    QString title;
    double width; // 0: the flexible column
    Qt::Alignment align;
};
const std::vector<Column>& columns();
// Each column's x and width in a row `width` points wide (8-point margins, 6 between).
std::vector<std::pair<double, double>> columnSpans(double width);

} // namespace zelvo::crate
