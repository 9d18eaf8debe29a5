#include "ui/kit/waves/WavePainter.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/Palette.h"
#include "ui/kit/waves/WaveTiles.h"

#include <cmath>

namespace zelvo::kit {

QPainterPath triangle(QPointF a, QPointF b, QPointF c)
{
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    return path;
}

std::optional<BeatGrid> usableGrid(const std::optional<BeatGrid>& grid)
{
    if (!grid || !grid->isValid() || !std::isfinite(grid->firstBeat) || grid->beatsPerBar < 1)
        return std::nullopt;
    return grid;
}

double WaveformPainter::barWidth(double columnWidth)
{
    return columnWidth <= 2 ? std::max(columnWidth, 0.8) : std::max(columnWidth - 0.6, 0.8);
}

PainterBars WaveformPainter::bars(const WaveformData& data, const QRectF& rect, double t0, double t1, int columns,
                                  std::optional<double> dimBefore, std::optional<double> aiFrom)
{
    PainterBars out;
    if (WaveMath::usablePoints(data) < 1 || !WaveMath::usableRate(data.pointsPerSecond) || !std::isfinite(t0) ||
        !std::isfinite(t1) || !(t1 > t0) || columns <= 0 || !(rect.height() > 0))
        return out;
    const double w = rect.width() / columns;
    const double hh = rect.height() / 2;
    const double y0 = rect.center().y();
    const double s = (t1 - t0) / columns;
    const double bw = barWidth(w);
    for (int c = 0; c < columns; ++c) {
        const double t = t0 + s * c;
        if (t < 0)
            continue;
        const std::optional<BandPeaks> peaks = WaveMath::columnPeaks(data, t, s);
        if (!peaks)
            break;
        const double heights[3] = {hh * peaks->low / 255.0, hh * peaks->mid / 255.0 * 0.78,
                                   hh * peaks->high / 255.0 * 0.5};
        const double x = rect.left() + w * c;
        const bool dim = dimBefore && t < *dimBefore;
        for (int b = 0; b < 3; ++b)
            (dim ? out.dim[b] : out.bright[b]).emplace_back(x, y0 - heights[b], bw, 2 * heights[b]);
        if (aiFrom && t >= *aiFrom)
            out.ghost.emplace_back(x, y0 - heights[0], bw, 2 * heights[0]);
    }
    return out;
}

namespace {

std::vector<QRectF> shifted(const std::vector<QRectF>& rects, double dx)
{
    std::vector<QRectF> out;
    out.reserve(rects.size());
    for (const QRectF& r : rects)
        out.push_back(r.translated(dx, 0));
    return out;
}

void fillGroup(Canvas& canvas, const std::vector<QRectF>& rects, const QColor& color, double opacity)
{
    if (!rects.empty())
        canvas.fillRects(rects, withAlpha(color, std::clamp(opacity, 0.0, 1.0)));
}

} // namespace

void WaveformPainter::draw(const WaveformData& data, Canvas& canvas, const QRectF& rect, double t0, double t1,
                           int columns, std::optional<double> dimBefore, std::optional<double> aiFrom,
                           double intensity)
{
    const PainterBars b = bars(data, rect, t0, t1, columns, dimBefore, aiFrom);
    const double k = std::isfinite(intensity) ? intensity : 1.0;
    if (!b.ghost.empty()) {
        fillGroup(canvas, shifted(b.ghost, -1.8), Palette::red(), 0.42 * k);
        fillGroup(canvas, shifted(b.ghost, 1.8), Palette::cyan(), 0.36 * k);
    }
    const QColor* colours[3] = {&Palette::bronze(), &Palette::bone(), &Palette::glow()};
    const double dimAlpha[3] = {0.35, 0.28, 0.30};
    const double brightAlpha[3] = {0.9, 0.78, 0.95};
    for (int i = 0; i < 3; ++i)
        fillGroup(canvas, b.dim[i], *colours[i], dimAlpha[i] * k);
    for (int i = 0; i < 3; ++i)
        fillGroup(canvas, b.bright[i], *colours[i], brightAlpha[i] * k);
}

DotSquares dotSquares(const QString& text, QPointF origin, double pitch, int columns)
{
    DotSquares out;
    if (columns <= 0)
        return out;
    QStringList chars = DotMatrix::characters(DotMatrix::normalize(text));
    while (chars.size() > columns)
        chars.removeLast();
    while (chars.size() < columns)
        chars << QStringLiteral(" ");
    const double dot = 0.74 * pitch;
    const double grow = 0.3 * pitch;
    for (int k = 0; k < columns; ++k) {
        const DotMatrix::Glyph& glyph = DotMatrix::glyphFor(chars[k]);
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c) {
                const QRectF square(origin.x() + (6 * k + c) * pitch, origin.y() + r * pitch, dot, dot);
                if (glyph[std::size_t(r)] & (1 << (4 - c))) {
                    out.lit.push_back(square);
                    out.halo.push_back(square.adjusted(-grow, -grow, grow, grow));
                } else {
                    out.unlit.push_back(square);
                }
            }
    }
    return out;
}

void drawDotText(Canvas& canvas, const QString& text, QPointF origin, double pitch, int columns, const QColor& color,
                 double alpha, bool aberration)
{
    const DotSquares d = dotSquares(text, origin, pitch, columns);
    fillGroup(canvas, d.unlit, color, 0.055);
    if (aberration) {
        fillGroup(canvas, shifted(d.lit, -0.45 * pitch), Palette::red(), 0.32 * alpha);
        fillGroup(canvas, shifted(d.lit, 0.45 * pitch), Palette::cyan(), 0.28 * alpha);
    }
    fillGroup(canvas, d.halo, color, 0.1 * alpha);
    fillGroup(canvas, d.lit, color, 0.95 * alpha);
}

} // namespace zelvo::kit
