#include "ui/kit/SevenSegment.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/DotMatrix.h"
#include "ui/kit/Palette.h"

#include <QCache>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace zelvo::kit::SevenSegment {

const std::map<char32_t, std::uint8_t>& map()
{
    static const std::map<char32_t, std::uint8_t> table{
        {U'0', 0x3F}, {U'1', 0x06}, {U'2', 0x5B}, {U'3', 0x4F}, {U'4', 0x66}, {U'5', 0x6D}, {U'6', 0x7D},
        {U'7', 0x07}, {U'8', 0x7F}, {U'9', 0x6F}, {U'-', 0x40}, {U' ', 0x00}, {U'A', 0x77}, {U'b', 0x7C},
        {U'C', 0x39}, {U'd', 0x5E}, {U'E', 0x79}, {U'F', 0x71}, {U'H', 0x76}, {U'L', 0x38}, {U'P', 0x73},
        {U'r', 0x50}, {U'o', 0x5C}, {U'n', 0x54}, {U't', 0x78}, {U'U', 0x3E}, {U'_', 0x08},
    };
    return table;
}

std::vector<Cell> cells(const QString& text)
{
    std::vector<Cell> out;
    for (const QString& ch : DotMatrix::characters(text)) {
        if (ch == QLatin1String(".")) {
            out.push_back({0, true, true, false});
        } else if (ch == QLatin1String(":")) {
            out.push_back({0, true, false, true});
        } else {
            const QList<uint> codes = ch.toUcs4();
            std::uint8_t mask = 0;
            if (codes.size() == 1)
                if (auto it = map().find(char32_t(codes.front())); it != map().end())
                    mask = it->second;
            out.push_back({mask, false, false, false});
        }
    }
    return out;
}

std::array<QPolygonF, 7> segments(QPointF origin, double w, double h)
{
    const double x0 = origin.x(), y0 = origin.y();
    const double half = 0.05 * h, inset = 0.06 * h;
    const auto s = [h](double y) { return 0.06 * h * (1 - y / h); };
    const auto horizontal = [&](double y) {
        const double sh = s(y);
        return QPolygonF({QPointF(x0 + inset + sh, y0 + y), QPointF(x0 + inset + sh + half, y0 + y - half),
                          QPointF(x0 + w - inset + sh - half, y0 + y - half), QPointF(x0 + w - inset + sh, y0 + y),
                          QPointF(x0 + w - inset + sh - half, y0 + y + half),
                          QPointF(x0 + inset + sh + half, y0 + y + half)});
    };
    const auto vertical = [&](double xc, double y1, double y2, double st, double sb) {
        return QPolygonF({QPointF(xc + st, y0 + y1), QPointF(xc + st + half, y0 + y1 + half),
                          QPointF(xc + sb + half, y0 + y2 - half), QPointF(xc + sb, y0 + y2),
                          QPointF(xc + sb - half, y0 + y2 - half), QPointF(xc + st - half, y0 + y1 + half)});
    };
    const double right = x0 + w - half, left = x0 + half;
    const double upper1 = inset, upper2 = h / 2 - inset, lower1 = h / 2 + inset, lower2 = h - inset;
    return {horizontal(half),                                    // a
            vertical(right, upper1, upper2, 0.06 * h, 0.03 * h), // b
            vertical(right, lower1, lower2, 0.03 * h, 0.0),      // c
            horizontal(h - half),                                // d
            vertical(left, lower1, lower2, 0.03 * h, 0.0),       // e
            vertical(left, upper1, upper2, 0.06 * h, 0.03 * h),  // f
            horizontal(h / 2)};                                  // g
}

double advance(const Cell& cell, double height) { return (cell.isNarrow ? 0.18 : 0.66) * height; }

double width(const QString& text, double height)
{
    double w = 0;
    for (const Cell& c : cells(text))
        w += advance(c, height);
    return w;
}

namespace {

void drawCells(Canvas& canvas, const std::vector<Cell>& shown, const Look& look)
{
    const double h = look.height;
    QPainterPath lit, unlit;
    lit.setFillRule(Qt::WindingFill);
    unlit.setFillRule(Qt::WindingFill);
    double x = 0;
    for (const Cell& cell : shown) {
        if (!cell.isNarrow) {
            const auto outlines = segments(QPointF(x, 0), 0.52 * h, h);
            for (int i = 0; i < 7; ++i)
                ((cell.mask >> i) & 1 ? lit : unlit).addPolygon(outlines[size_t(i)]);
        } else {
            const double d = 0.1 * h;
            if (cell.dot)
                lit.addEllipse(QRectF(x, 0.88 * h, d, d));
            if (cell.colon) {
                lit.addEllipse(QRectF(x, 0.28 * h, d, d));
                lit.addEllipse(QRectF(x, 0.64 * h, d, d));
            }
        }
        x += advance(cell, h);
    }
    if (!unlit.isEmpty())
        canvas.fillPath(unlit, withAlpha(look.color, 0.06));
    if (lit.isEmpty())
        return;
    if (look.aberration) {
        canvas.fillPath(lit.translated(-1.2, 0), withAlpha(Palette::red(), 0.35));
        canvas.fillPath(lit.translated(1.2, 0), withAlpha(Palette::cyan(), 0.30));
    }
    canvas.fillPath(lit.translated(-0.035 * h, -0.035 * h), withAlpha(look.color, 0.18));
    canvas.fillPath(lit.translated(0.035 * h, 0.035 * h), withAlpha(look.color, 0.18));
    canvas.fillPath(lit, look.color);
}

} // namespace

void draw(Canvas& canvas, const Look& look) { drawCells(canvas, cells(look.text), look); }

namespace {

// One cell drawn with a margin wide enough for its fringes and bloom. Those
// stay inside the gap between digits, so cells drawn apart and laid side by
// side match the text drawn at once. A cell is kept per sub-pixel phase (in
// 64ths of a device pixel) so it lands on the same pixels as drawn in place.
double cellMargin(double height) { return 0.035 * height + 1.2 + 1.0; }

QImage renderedCell(const Cell& cell, const Look& look, double deviceScale, int phase64)
{
    static QCache<QString, QImage> cache(512);
    const QString key = QString::asprintf("%02x%d%d%d/%.3f/%08x/%d/%.3f/%d", cell.mask, int(cell.isNarrow),
                                          int(cell.dot), int(cell.colon), look.height, look.color.rgba(),
                                          int(look.aberration), deviceScale, phase64);
    if (QImage* hit = cache.object(key))
        return *hit;
    const int marginPx = int(std::ceil(cellMargin(look.height) * deviceScale));
    const QSize px(int(std::ceil(advance(cell, look.height) * deviceScale)) + 2 * marginPx + 1,
                   int(std::ceil(look.height * deviceScale)) + 2 * marginPx);
    QImage image(px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.translate(marginPx + phase64 / 64.0, marginPx);
        p.scale(deviceScale, deviceScale);
        PainterCanvas canvas(p);
        drawCells(canvas, {cell}, look);
    }
    cache.insert(key, new QImage(image));
    return image;
}

} // namespace

QImage rendered(const Look& look, double deviceScale)
{
    static QCache<QString, QImage> cache(64);
    const QString key = QString::asprintf("%.3f/%08x/%d/%.3f/", look.height, look.color.rgba(), int(look.aberration),
                                          deviceScale) + look.text;
    if (QImage* hit = cache.object(key))
        return *hit;
    const QSize px(int(std::ceil(width(look.text, look.height) * deviceScale)), int(std::ceil(look.height * deviceScale)));
    if (px.isEmpty() || px.width() > 16384 || px.height() > 16384)
        return {};
    QImage image(px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        const int marginPx = int(std::ceil(cellMargin(look.height) * deviceScale));
        double x = 0;
        for (const Cell& cell : cells(look.text)) {
            const double at = x * deviceScale;
            int whole = int(std::floor(at));
            int phase64 = int(std::lround((at - whole) * 64));
            if (phase64 == 64) {
                ++whole;
                phase64 = 0;
            }
            p.drawImage(QPoint(whole - marginPx, -marginPx), renderedCell(cell, look, deviceScale, phase64));
            x += advance(cell, look.height);
        }
    }
    image.setDevicePixelRatio(deviceScale);
    cache.insert(key, new QImage(image));
    return image;
}

} // namespace zelvo::kit::SevenSegment
