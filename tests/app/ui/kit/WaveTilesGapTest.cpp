// The tiles' bars in device pixels: a 1.6-point bar every 2 points covers
// whole pixels fully and the pixel it ends in by its share, so every column
// keeps a visible gap at any backing scale.
#include "ui/kit/waves/WaveTiles.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace zelvo::kit {
namespace {

// Every point at full level in all three bands.
WaveformData loud(int points, double pps)
{
    WaveformData w;
    w.pointsPerSecond = pps;
    w.low.assign(std::size_t(points), 255);
    w.mid.assign(std::size_t(points), 255);
    w.high.assign(std::size_t(points), 255);
    return w;
}

// How much of device pixel column [x, x + 1) the bars of the first columns cover.
double coverage(int x, double scale)
{
    double covered = 0;
    for (int k = 0; k < WaveTiles::kColumns; ++k) {
        const double left = 2.0 * k * scale, right = (2.0 * k + WaveTiles::kBarWidth) * scale;
        covered += std::max(0.0, std::min(right, x + 1.0) - std::max(left, double(x)));
        if (left > x + 1)
            break;
    }
    return covered;
}

TEST(WaveTilesGap, GapPixelsShowTheBackgroundAtEveryScale)
{
    const WaveformData data = loud(4000, 100);
    const double tileSeconds = 512 / 100.0; // one point per column and more
    for (double scale : {1.0, 1.5, 2.0}) {
        const QImage tile = WaveTiles::render(data, 0, tileSeconds, 40, scale, WavePalette::live(), std::nullopt);
        ASSERT_EQ(tile.width(), int(512 * scale));
        // The centre line, where all three bands lie on each other.
        const int y = tile.height() / 2;
        const int full = qAlpha(tile.pixel(0, y));
        ASSERT_GT(full, 240) << scale;
        const QRgb bar = tile.pixel(0, y);
        for (int x = 0; x < 80 * int(scale); ++x) {
            const QRgb px = tile.pixel(x, y);
            const double share = coverage(x, scale);
            EXPECT_NEAR(qAlpha(px), share * full, 2.5) << "scale " << scale << " x " << x;
            // A partly covered pixel is the bar's colour at that share, not another hue.
            EXPECT_NEAR(qRed(px), share * qRed(bar), 2.5) << "scale " << scale << " x " << x;
            EXPECT_NEAR(qBlue(px), share * qBlue(bar), 2.5) << "scale " << scale << " x " << x;
        }
    }
    // At 1×, sampled across the tile: each column's second pixel is at most
    // 60 % bar, so 40 % of it shows what lies beneath.
    const QImage tile = WaveTiles::render(data, 0, tileSeconds, 40, 1.0, WavePalette::live(), std::nullopt);
    const int y = tile.height() / 2;
    const int full = qAlpha(tile.pixel(0, y));
    for (int k : {0, 1, 17, 64, 128, 200, 255}) {
        EXPECT_EQ(qAlpha(tile.pixel(2 * k, y)), full) << k;
        EXPECT_LE(qAlpha(tile.pixel(2 * k + 1, y)), 0.6 * full + 2) << k;
        EXPECT_GE(qAlpha(tile.pixel(2 * k + 1, y)), 0.6 * full - 2) << k;
    }
}

} // namespace
} // namespace zelvo::kit
