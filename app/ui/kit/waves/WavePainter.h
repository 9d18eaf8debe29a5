#pragma once
// The canvas-drawn waveforms' shared routines: the band painter (columns of
// centred bars, a dimmed stretch, ghosts under generated audio), the dot-matrix
// label drawn straight into a canvas, and the grid and time arithmetic of the
// lanes. Main thread (the arithmetic: any thread).
#include "library/BeatGrid.h"
#include "library/WaveformData.h"

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <optional>
#include <vector>

namespace zelvo::kit {

class Canvas;

// A closed triangle through three points (the lanes' cue and loop markers).
QPainterPath triangle(QPointF a, QPointF b, QPointF c);

// A grid the lanes can count on: a valid tempo, a finite first beat and at
// least one beat per bar. Anything else counts as no grid.
std::optional<BeatGrid> usableGrid(const std::optional<BeatGrid>& grid);

// The bars one painter pass draws, by group (tests read them).
struct PainterBars {
    std::vector<QRectF> ghost;
    std::vector<QRectF> dim[3];    // low, mid, high
    std::vector<QRectF> bright[3]; // low, mid, high
};

namespace WaveformPainter {
double barWidth(double columnWidth);
PainterBars bars(const WaveformData& data, const QRectF& rect, double t0, double t1, int columns,
                 std::optional<double> dimBefore, std::optional<double> aiFrom);
// Draws seconds t0…t1 of `data` across `rect` in `columns` columns, one
// `fillRects` per group. `intensity` 1 is the look both callers draw.
void draw(const WaveformData& data, Canvas& canvas, const QRectF& rect, double t0, double t1, int columns,
          std::optional<double> dimBefore, std::optional<double> aiFrom, double intensity = 1.0);
} // namespace WaveformPainter

// The dots of a dot label: lit, halo and unlit squares.
struct DotSquares {
    std::vector<QRectF> lit;
    std::vector<QRectF> halo;
    std::vector<QRectF> unlit;
};
// The text normalised, cut to `columns` cells or padded with blanks.
DotSquares dotSquares(const QString& text, QPointF origin, double pitch, int columns);
void drawDotText(Canvas& canvas, const QString& text, QPointF origin, double pitch, int columns, const QColor& color,
                 double alpha, bool aberration);

} // namespace zelvo::kit
