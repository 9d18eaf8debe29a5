#pragma once
// The 5 × 7 dot-matrix character set, text normalisation and the geometry of a
// dot-matrix read-out. Pure functions; any thread.
#include <QColor>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace zelvo::kit {

class Canvas;

namespace DotMatrix {

using Glyph = std::array<std::uint8_t, 7>; // rows top first; bit 4 is the left column
// The character table, keyed by Unicode code point.
const std::map<char32_t, Glyph>& glyphs();
// The glyph of one character (a grapheme); the space glyph when it has none.
const Glyph& glyphFor(const QString& character);

// Strips accents, upper-cases, and keeps flats; sharps become "#", long arrows
// short ones.
QString normalize(const QString& text);
// Characters (graphemes) of a text.
QStringList characters(const QString& text);

// Cell count: `columns` when given (at least 1), else the characters of `text`, at least 1.
int cellCount(const QString& text, std::optional<int> columns);
// Characters shown in `cells` cells: the marquee when `scrollPhase` is given
// and the normalised text is longer than the cells, else the first cells,
// padded with spaces. A negative or non-finite phase counts as 0.
QStringList shown(const QString& text, int cells, std::optional<double> scrollPhase);

struct Look {
    QString text;
    double pitch = 2;
    std::optional<int> columns;
    QColor color;
    bool dim = false;
    bool aberration = false;
    std::optional<double> scrollPhase;
};
struct Sets {
    std::vector<QRectF> lit, halo, unlit;
};
QSizeF size(const Look& look);
Sets dots(const Look& look);
// Fills the sets: unlit, fringes, halo, lit (at most five fills).
void draw(Canvas& canvas, const Look& look);

} // namespace DotMatrix

} // namespace zelvo::kit
