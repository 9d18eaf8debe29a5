#pragma once
// Slanted seven-segment digits: the character masks, the cells of a text and
// the segment outlines. Pure functions; any thread.
#include <QColor>
#include <QImage>
#include <QPolygonF>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace zelvo::kit {

class Canvas;

namespace SevenSegment {

// Bit 0 a (top), 1 b (upper right), 2 c (lower right), 3 d (bottom), 4 e (lower
// left), 5 f (upper left), 6 g (middle).
const std::map<char32_t, std::uint8_t>& map();

struct Cell {
    std::uint8_t mask = 0;
    bool isNarrow = false;
    bool dot = false;
    bool colon = false;
    bool operator==(const Cell&) const = default;
};
// One cell per character; "." and ":" are narrow cells of their own. The text
// is not case-folded: a character outside the map is a blank full-width cell.
std::vector<Cell> cells(const QString& text);
// The seven outlines a…g of one digit whose box is w × h at `origin`.
std::array<QPolygonF, 7> segments(QPointF origin, double w, double h);

// Horizontal advance of a cell for digits `height` tall.
double advance(const Cell& cell, double height);
double width(const QString& text, double height);

struct Look {
    QString text;
    double height = 40;
    QColor color;
    bool aberration = false;
};
// Fills unlit, fringes, the two bloom copies and the lit set (at most six fills).
void draw(Canvas& canvas, const Look& look);
// The read-out drawn once into an image at `deviceScale` pixels per point and
// kept: antialiased segment fills cost about a millisecond, and a read-out
// repaints far more often than its text changes.
QImage rendered(const Look& look, double deviceScale);

} // namespace SevenSegment

} // namespace zelvo::kit
