#include "ui/kit/waves/WaveTiles.h"

#include "ui/kit/Canvas.h"

#include <algorithm>
#include <cmath>
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

// Fills `rects` (points, moved by dx) in `color` over the bitmap, snapped to
// whole device pixels: source-over, or screen for the ghosts.
void fillBars(QImage& image, const std::vector<QRectF>& rects, const QColor& color, double scale, double dx,
              bool screen)
{
    const QRgb src = qPremultiply(color.rgba());
    const std::uint32_t sa = qAlpha(src), sr = qRed(src), sg = qGreen(src), sb = qBlue(src);
    const std::uint32_t inv = 255 - sa;
    const int w = image.width();
    const int h = image.height();
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    auto scanLine = [&](int y) { return bits + stride * y; };
    auto screenOf = [](std::uint32_t s, std::uint32_t d) { return s + d - (s * d + 127) / 255; };
    QRgb lastIn = 0;
    QRgb lastOut = src;
    for (const QRectF& r : rects) {
        const int x0 = std::max(0, int(std::lround((r.left() + dx) * scale)));
        const int x1 = std::min(w, int(std::lround((r.right() + dx) * scale)));
        const int y0 = std::max(0, int(std::lround(r.top() * scale)));
        const int y1 = std::min(h, int(std::lround(r.bottom() * scale)));
        if (x1 <= x0)
            continue;
        if (sa == 255 && !screen) {
            for (int y = y0; y < y1; ++y)
                std::fill_n(reinterpret_cast<QRgb*>(scanLine(y)) + x0, x1 - x0, src);
            continue;
        }
        for (int y = y0; y < y1; ++y) {
            auto* line = reinterpret_cast<QRgb*>(scanLine(y));
            for (int x = x0; x < x1; ++x) {
                const QRgb d = line[x];
                if (d == 0) {
                    line[x] = src; // either mode over nothing
                } else if (screen) {
                    // Ghosts meet few distinct colours: keep the last answer.
                    if (d != lastIn) {
                        lastIn = d;
                        lastOut = qRgba(int(screenOf(sr, qRed(d))), int(screenOf(sg, qGreen(d))),
                                        int(screenOf(sb, qBlue(d))), int(screenOf(sa, qAlpha(d))));
                    }
                    line[x] = lastOut;
                } else
                    line[x] = src + byteMul(d, inv);
            }
        }
    }
}

// The three bands of every column in one pass: each device row takes the
// colour of the bands covering it, composed low, mid, high once up front; the
// result is what filling the bands one after the other gives.
void fillColumns(QImage& image, const std::vector<QRectF>& lows, const std::vector<QRectF>& mids,
                 const std::vector<QRectF>& highs, const WavePalette& palette, double scale, bool overGhosts)
{
    const QRgb band[3] = {qPremultiply(palette.low.rgba()), qPremultiply(palette.mid.rgba()),
                          qPremultiply(palette.high.rgba())};
    std::uint32_t composed[8];
    for (int bits = 0; bits < 8; ++bits) {
        std::uint32_t c = 0;
        for (int b = 0; b < 3; ++b)
            if (bits & (1 << b))
                c = band[b] + byteMul(c, 255 - qAlpha(band[b]));
        composed[bits] = c;
    }
    const int w = image.width();
    const int h = image.height();
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (std::size_t k = 0; k < lows.size(); ++k) {
        const QRectF* rects[3] = {&lows[k], &mids[k], &highs[k]};
        const int x0 = std::max(0, int(std::lround(lows[k].left() * scale)));
        const int x1 = std::min(w, int(std::lround(lows[k].right() * scale)));
        if (x1 <= x0)
            continue;
        int y0[3], y1[3];
        int top = h, bottom = 0;
        for (int b = 0; b < 3; ++b) {
            y0[b] = std::max(0, int(std::lround(rects[b]->top() * scale)));
            y1[b] = std::min(h, int(std::lround(rects[b]->bottom() * scale)));
            if (y1[b] > y0[b]) {
                top = std::min(top, y0[b]);
                bottom = std::max(bottom, y1[b]);
            }
        }
        for (int y = top; y < bottom; ++y) {
            const int cover = (y >= y0[0] && y < y1[0] ? 1 : 0) | (y >= y0[1] && y < y1[1] ? 2 : 0) |
                              (y >= y0[2] && y < y1[2] ? 4 : 0);
            if (!cover)
                continue;
            const std::uint32_t c = composed[cover];
            auto* line = reinterpret_cast<QRgb*>(bits + stride * y) + x0;
            if (!overGhosts || qAlpha(c) == 255) {
                std::fill_n(line, x1 - x0, c);
                continue;
            }
            for (int x = 0; x < x1 - x0; ++x)
                line[x] = c + byteMul(line[x], 255 - qAlpha(c));
        }
    }
}

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
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
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
    // Bars are whole device pixels, blended straight into the bitmap.
    if (!ghosts.empty()) {
        fillBars(image, ghosts, withAlphaF(WavePalette::ghostRed(), 0.5), scale, -1.5, true);
        fillBars(image, ghosts, withAlphaF(WavePalette::ghostCyan(), 0.45), scale, 1.5, true);
    }
    fillColumns(image, lows, mids, highs, palette, scale, !ghosts.empty());
    return image;
}

} // namespace zelvo::kit
