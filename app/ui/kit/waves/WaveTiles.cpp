#include "ui/kit/waves/WaveTiles.h"

#include "ui/kit/Canvas.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace zelvo::kit {

namespace {

QColor srgb(double r, double g, double b, double a)
{
    QColor c;
    c.setRgbF(float(r), float(g), float(b), float(a));
    return c;
}

QColor withAlphaF(const QColor& color, double alpha)
{
    QColor c = color;
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

// x × a / 255 on all four channels at once.
inline std::uint32_t byteMul(std::uint32_t x, std::uint32_t a)
{
    std::uint32_t t = (x & 0xff00ffu) * a;
    t = ((t + ((t >> 8) & 0xff00ffu) + 0x800080u) >> 8) & 0xff00ffu;
    x = ((x >> 8) & 0xff00ffu) * a;
    x = (x + ((x >> 8) & 0xff00ffu) + 0x800080u) & 0xff00ff00u;
    return x | t;
}

// Where a bar from `left` to `right` (device pixels) lies in pixel columns:
// the columns it covers whole, [full0, full1), and at most one partly covered
// column either side with the share it covers (0…255). Bars that end inside
// a pixel blend into it by that share, so a 1.6-point bar at a 2-point pitch
// leaves its gap visible at any backing scale.
struct Span {
    int full0 = 0, full1 = 0;
    int edge[2] = {-1, -1};
    std::uint32_t cover[2] = {0, 0};
};

Span spanOf(double left, double right, int width)
{
    Span s;
    const double l = std::max(0.0, left), r = std::min(double(width), right);
    if (!(r > l))
        return s;
    const int first = int(std::floor(l));
    const int last = int(std::ceil(r)) - 1; // the last column touched
    const auto share = [](double covered) {
        return std::uint32_t(std::clamp(std::lround(covered * 255.0), 0L, 255L));
    };
    if (first == last) {
        const std::uint32_t c = share(r - l);
        if (c == 255) {
            s.full0 = first;
            s.full1 = first + 1;
        } else if (c > 0) {
            s.edge[0] = first;
            s.cover[0] = c;
        }
        return s;
    }
    s.full0 = first;
    s.full1 = last + 1;
    const std::uint32_t head = share(double(first + 1) - l);
    if (head < 255) {
        s.full0 = first + 1;
        if (head > 0) {
            s.edge[0] = first;
            s.cover[0] = head;
        }
    }
    const std::uint32_t tail = share(r - double(last));
    if (tail < 255) {
        s.full1 = last;
        if (tail > 0) {
            s.edge[1] = last;
            s.cover[1] = tail;
        }
    }
    return s;
}

// Source-over of premultiplied `src` onto `d`.
inline std::uint32_t over(std::uint32_t src, std::uint32_t d)
{
    return src + byteMul(d, 255 - qAlpha(src));
}

// The ghosts: `rects` (points, moved by dx) in one colour, screened over what
// lies beneath. Rows snap to whole device pixels; columns blend by how much of
// each pixel a bar covers.
class GhostPass {
public:
    GhostPass(const std::vector<QRectF>& rects, const QColor& color, double scale, double dx, int width, int height)
        : src_(qPremultiply(color.rgba()))
    {
        bars_.reserve(rects.size());
        for (const QRectF& r : rects) {
            Bar bar{spanOf((r.left() + dx) * scale, (r.right() + dx) * scale, width),
                    std::max(0, int(std::lround(r.top() * scale))),
                    std::min(height, int(std::lround(r.bottom() * scale))),
                    {0, 0}};
            if (bar.y1 <= bar.y0 ||
                (bar.span.full1 <= bar.span.full0 && bar.span.edge[0] < 0 && bar.span.edge[1] < 0))
                continue;
            for (int e = 0; e < 2; ++e)
                bar.edgeSrc[e] = byteMul(src_, bar.span.cover[e]);
            bars_.push_back(bar);
        }
        // Row by row only the bars reaching the row are visited: the tallest first.
        std::stable_sort(bars_.begin(), bars_.end(), [](const Bar& l, const Bar& r) { return l.y0 < r.y0; });
    }

    // Every bar spans rows mirrored about the bitmap's middle.
    bool mirrored(int height) const
    {
        for (const Bar& bar : bars_)
            if (bar.y0 + bar.y1 != height)
                return false;
        return true;
    }

    void paintRow(QRgb* line, int y)
    {
        for (const Bar& bar : bars_) {
            if (bar.y0 > y)
                break;
            if (y >= bar.y1)
                continue;
            for (int e = 0; e < 2; ++e)
                if (bar.span.edge[e] >= 0)
                    line[bar.span.edge[e]] = screen(bar.edgeSrc[e], line[bar.span.edge[e]], edge_[e]);
            for (int x = bar.span.full0; x < bar.span.full1; ++x)
                line[x] = screen(src_, line[x], whole_[x & 1]);
        }
    }

private:
    struct Bar {
        Span span;
        int y0, y1;
        std::uint32_t edgeSrc[2];
    };
    // The last answer for one source, kept: ghosts meet few distinct colours.
    struct Kept {
        QRgb src = 0, in = 0, out = 0;
    };
    static std::uint32_t channel(std::uint32_t s, std::uint32_t d) { return s + d - (s * d + 127) / 255; }
    static QRgb screen(QRgb s, QRgb d, Kept& kept)
    {
        if (d == 0)
            return s; // over nothing
        if (d != kept.in || s != kept.src) {
            kept.src = s;
            kept.in = d;
            kept.out = qRgba(int(channel(qRed(s), qRed(d))), int(channel(qGreen(s), qGreen(d))),
                             int(channel(qBlue(s), qBlue(d))), int(channel(qAlpha(s), qAlpha(d))));
        }
        return kept.out;
    }

    QRgb src_;
    std::vector<Bar> bars_;
    Kept edge_[2];
    Kept whole_[2];
};

// The three bands of every column: each device row takes the colour of the
// bands covering it, composed low, mid, high once up front, so the result is
// what filling the bands one after the other gives. A column's partly covered
// pixels take that colour at their share.
class ColumnPass {
public:
    ColumnPass(const std::vector<QRectF>& lows, const std::vector<QRectF>& mids, const std::vector<QRectF>& highs,
               const WavePalette& palette, double scale, int width, int height)
    {
        const QRgb band[3] = {qPremultiply(palette.low.rgba()), qPremultiply(palette.mid.rgba()),
                              qPremultiply(palette.high.rgba())};
        for (int bits = 0; bits < 8; ++bits) {
            std::uint32_t c = 0;
            for (int b = 0; b < 3; ++b)
                if (bits & (1 << b))
                    c = over(band[b], c);
            composed_[bits] = c;
        }
        columns_.reserve(lows.size());
        for (std::size_t k = 0; k < lows.size(); ++k) {
            const QRectF* rects[3] = {&lows[k], &mids[k], &highs[k]};
            Column c;
            c.span = spanOf(lows[k].left() * scale, lows[k].right() * scale, width);
            if (c.span.full1 <= c.span.full0 && c.span.edge[0] < 0 && c.span.edge[1] < 0)
                continue;
            for (int e = 0; e < 2; ++e)
                c.table[e] = c.span.edge[e] >= 0 ? tableFor(c.span.cover[e]) : -1;
            c.top = height;
            c.bottom = 0;
            for (int b = 0; b < 3; ++b) {
                c.y0[b] = std::max(0, int(std::lround(rects[b]->top() * scale)));
                c.y1[b] = std::min(height, int(std::lround(rects[b]->bottom() * scale)));
                if (c.y1[b] > c.y0[b]) {
                    c.top = std::min(c.top, c.y0[b]);
                    c.bottom = std::max(c.bottom, c.y1[b]);
                }
            }
            if (c.bottom > c.top)
                columns_.push_back(c);
        }
        std::stable_sort(columns_.begin(), columns_.end(),
                         [](const Column& l, const Column& r) { return l.top < r.top; });
    }

    bool mirrored(int height) const
    {
        for (const Column& c : columns_)
            for (int b = 0; b < 3; ++b)
                if (c.y1[b] > c.y0[b] && c.y0[b] + c.y1[b] != height)
                    return false;
        return true;
    }

    void paintRow(QRgb* row, int y)
    {
        for (const Column& c : columns_) {
            if (c.top > y)
                break;
            if (y >= c.bottom)
                continue;
            const int cover = (y >= c.y0[0] && y < c.y1[0] ? 1 : 0) | (y >= c.y0[1] && y < c.y1[1] ? 2 : 0) |
                              (y >= c.y0[2] && y < c.y1[2] ? 4 : 0);
            if (!cover)
                continue;
            for (int e = 0; e < 2; ++e)
                if (c.table[e] >= 0) {
                    QRgb& d = row[c.span.edge[e]];
                    const std::uint32_t s = shares_[std::size_t(c.table[e])][std::size_t(cover)];
                    if (!d) {
                        d = s;
                    } else {
                        if (d != kept_[e].in || s != kept_[e].src)
                            kept_[e] = {s, d, over(s, d)};
                        d = kept_[e].out;
                    }
                }
            const int x0 = c.span.full0, x1 = c.span.full1;
            const std::uint32_t colour = composed_[cover];
            if (qAlpha(colour) == 255) {
                for (int x = x0; x < x1; ++x)
                    row[x] = colour;
                continue;
            }
            for (int x = x0; x < x1; ++x)
                row[x] = over(colour, row[x]);
        }
    }

private:
    struct Column {
        Span span;
        int table[2];
        int y0[3], y1[3];
        int top, bottom;
    };
    struct Kept {
        QRgb src = 0, in = 0, out = 0;
    };
    // The composed colours at an edge pixel's share; at whole and half scales
    // every column has the same shares, so there are few tables.
    int tableFor(std::uint32_t cover)
    {
        for (std::size_t i = 0; i < shareOf_.size(); ++i)
            if (shareOf_[i] == cover)
                return int(i);
        std::array<std::uint32_t, 8> table;
        for (int bits = 0; bits < 8; ++bits)
            table[std::size_t(bits)] = byteMul(composed_[bits], cover);
        shares_.push_back(table);
        shareOf_.push_back(cover);
        return int(shares_.size()) - 1;
    }

    std::uint32_t composed_[8];
    std::vector<std::array<std::uint32_t, 8>> shares_;
    std::vector<std::uint32_t> shareOf_;
    std::vector<Column> columns_;
    Kept kept_[2];
};

} // namespace

const WavePalette& WavePalette::live()
{
    static const WavePalette p{1, srgb(45 / 255.0, 123 / 255.0, 1.0, 1.0), srgb(1.0, 159 / 255.0, 46 / 255.0, 0.9),
                               srgb(0.97, 0.96, 0.94, 0.95)};
    return p;
}

const WavePalette& WavePalette::quiet()
{
    static const WavePalette p{2, srgb(22.5 / 255.0, 61.5 / 255.0, 0.5, 1.0), srgb(0.5, 79.5 / 255.0, 23 / 255.0, 0.9),
                               srgb(0.55, 0.54, 0.52, 0.9)};
    return p;
}

const QColor& WavePalette::ghostRed()
{
    static const QColor c(217, 83, 79);
    return c;
}

const QColor& WavePalette::ghostCyan()
{
    static const QColor c(111, 195, 210);
    return c;
}

const QColor& WavePalette::offColor()
{
    static const QColor c = srgb(0.22, 0.21, 0.19, 0.9);
    return c;
}

WavePalette WavePalette::forDeck(bool audible, const std::array<bool, 3>& partsOff)
{
    WavePalette p = audible ? live() : quiet();
    if (!partsOff[0] && !partsOff[1] && !partsOff[2])
        return p;
    p.id = p.id * 10 + (partsOff[0] ? 1 : 0) + (partsOff[1] ? 2 : 0) + (partsOff[2] ? 4 : 0);
    if (partsOff[0])
        p.low = offColor();
    if (partsOff[1])
        p.mid = offColor();
    if (partsOff[2])
        p.high = offColor();
    return p;
}

// --- Arithmetic

std::int64_t WaveMath::usablePoints(const WaveformData& data)
{
    return std::int64_t(std::min({data.low.size(), data.mid.size(), data.high.size()}));
}

bool WaveMath::usableRate(double pointsPerSecond)
{
    return std::isfinite(pointsPerSecond) && pointsPerSecond > 0;
}

double WaveMath::seconds(const WaveformData& data)
{
    if (!usableRate(data.pointsPerSecond))
        return 0;
    return double(usablePoints(data)) / data.pointsPerSecond;
}

std::optional<BandPeaks> WaveMath::columnPeaks(const WaveformData& data, double t, double span)
{
    const std::int64_t n = usablePoints(data);
    const double p = data.pointsPerSecond;
    if (n < 1 || !usableRate(p) || !std::isfinite(t) || t < 0)
        return std::nullopt;
    const double first = std::trunc(t * p);
    if (!(first < double(n)))
        return std::nullopt;
    const std::int64_t j0 = std::int64_t(first);
    double last = std::trunc((t + span) * p);
    std::int64_t e = j0 + 1;
    if (std::isfinite(last) && last > double(e))
        e = last < double(n) ? std::int64_t(last) : n;
    e = std::min(e, n);
    BandPeaks peaks;
    for (std::int64_t j = j0; j < e; ++j) {
        const auto i = std::size_t(j);
        peaks.low = std::max(peaks.low, data.low[i]);
        peaks.mid = std::max(peaks.mid, data.mid[i]);
        peaks.high = std::max(peaks.high, data.high[i]);
    }
    return peaks;
}

int WaveMath::roundedInt(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = std::round(v); // halves away from zero
    if (r >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (r <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(r);
}

int WaveMath::truncatedInt(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = std::trunc(v);
    if (r >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (r <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(r);
}

// --- Tiles

WaveTiles::Key WaveTiles::makeKey(const QUuid& track, std::int64_t points, double pointsPerSecondOnScreen,
                                  double height, double scale, int paletteId)
{
    return Key{track,
               points,
               WaveMath::roundedInt(pointsPerSecondOnScreen * 100.0),
               WaveMath::roundedInt(height),
               WaveMath::truncatedInt(scale * 10.0),
               paletteId};
}

std::vector<std::int64_t> WaveTiles::cachedIndices() const
{
    std::vector<std::int64_t> out;
    for (const auto& [i, image] : tiles_)
        out.push_back(i);
    return out;
}

void WaveTiles::draw(const WaveformData& data, const QUuid& track, Canvas& canvas, const QRectF& rect, double t0,
                     double t1, double scale, const WavePalette& palette, std::optional<double> aiFrom)
{
    const std::int64_t n = WaveMath::usablePoints(data);
    if (n < 1 || !WaveMath::usableRate(data.pointsPerSecond) || !std::isfinite(t0) || !std::isfinite(t1) ||
        !(t1 > t0) || !(rect.width() > 1) || !(rect.height() > 0) || !std::isfinite(scale) || !(scale > 0))
        return;
    const double v = rect.width() / (t1 - t0);
    if (!std::isfinite(v) || !(v > 0))
        return;
    const Key key = makeKey(track, n, v, rect.height(), scale, palette.id);
    if (!key_ || !(*key_ == key)) {
        key_ = key;
        tiles_.clear();
    }
    const double T = kTileWidth / v;
    const double fi0 = std::floor(t0 / T);
    const double fi1 = std::floor(t1 / T);
    const double end = WaveMath::seconds(data);
    // A rect thousands of tiles wide is no screen's: draw nothing rather than stall.
    if (!std::isfinite(fi0) || !std::isfinite(fi1) || fi1 < 0 || fi0 > 1e12 || fi1 - fi0 > 4096)
        return;
    const std::int64_t i0 = std::int64_t(std::max(fi0, -1e12));
    const std::int64_t i1 = std::int64_t(std::min(fi1, 1e12));
    for (std::int64_t i = std::max<std::int64_t>(i0, 0); i <= i1; ++i) {
        const double start = double(i) * T;
        if (!(start < end))
            break;
        auto it = tiles_.find(i);
        if (it == tiles_.end()) {
            it = tiles_.emplace(i, render(data, i, T, rect.height(), scale, palette, aiFrom)).first;
            ++renders_;
        }
        canvas.drawImage(QRectF(rect.left() + v * (start - t0), rect.top(), kTileWidth, rect.height()), it->second);
    }
    if (int(tiles_.size()) > kKeep) {
        for (auto it = tiles_.begin(); it != tiles_.end();) {
            if (it->first < i0 - 4 || it->first > i1 + 4)
                it = tiles_.erase(it);
            else
                ++it;
        }
    }
}

QImage WaveTiles::render(const WaveformData& data, std::int64_t index, double tileSeconds, double height, double scale,
                         const WavePalette& palette, std::optional<double> aiFrom)
{
    const int w = std::max(1, WaveMath::truncatedInt(kTileWidth * scale));
    const int h = std::max(1, WaveMath::truncatedInt(height * scale));
    // Painted in device pixels by hand; the image takes its pixel ratio only
    // once done (a painter on an image does not scale by a ratio below one).
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    const double c0 = height / 2;
    const double a = c0 - 1;
    const double step = tileSeconds / kColumns;
    std::vector<QRectF> lows, mids, highs, ghosts;
    lows.reserve(kColumns);
    mids.reserve(kColumns);
    highs.reserve(kColumns);
    for (int k = 0; k < kColumns; ++k) {
        const double t = double(index) * tileSeconds + k * step;
        const std::optional<BandPeaks> peaks = WaveMath::columnPeaks(data, t, step);
        if (!peaks)
            break;
        const double x = 2.0 * k;
        const double hl = a * peaks->low / 255.0;
        const double hm = a * peaks->mid / 255.0 * 0.8;
        const double hh = a * peaks->high / 255.0 * 0.52;
        lows.emplace_back(x, c0 - hl, kBarWidth, 2 * hl);
        mids.emplace_back(x, c0 - hm, kBarWidth, 2 * hm);
        highs.emplace_back(x, c0 - hh, kBarWidth, 2 * hh);
        if (aiFrom && t >= *aiFrom)
            ghosts.push_back(lows.back());
    }
    // Row by row, each row cleared and then taking the ghosts and the bands
    // while it is in the cache.
    std::optional<GhostPass> red, cyan;
    if (!ghosts.empty()) {
        red.emplace(ghosts, withAlphaF(WavePalette::ghostRed(), 0.5), scale, -1.5, w, h);
        cyan.emplace(ghosts, withAlphaF(WavePalette::ghostCyan(), 0.45), scale, 1.5, w, h);
    }
    ColumnPass bands(lows, mids, highs, palette, scale, w, h);
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    // Bars are centred on the middle line: when every bar's rows mirror about
    // the middle, so do the bitmap's rows, and the lower half is a copy.
    const bool mirrored = bands.mirrored(h) && (!red || (red->mirrored(h) && cyan->mirrored(h)));
    const int painted = mirrored ? (h + 1) / 2 : h;
    for (int y = 0; y < painted; ++y) {
        auto* line = reinterpret_cast<QRgb*>(bits + stride * y);
        std::fill_n(line, w, QRgb(0));
        if (red) {
            red->paintRow(line, y);
            cyan->paintRow(line, y);
        }
        bands.paintRow(line, y);
    }
    for (int y = painted; y < h; ++y)
        std::memcpy(bits + stride * y, bits + stride * (h - 1 - y), std::size_t(w) * sizeof(QRgb));
    image.setDevicePixelRatio(scale);
    return image;
}

} // namespace zelvo::kit
