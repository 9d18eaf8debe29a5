#pragma once
// The stage lane's waveform cache: the three-band waveform rendered once into
// bitmap tiles 512 points wide (256 columns of 1.6-point bars, one every 2
// points) and then only placed while the playhead moves. A tile set is kept for
// one track, point count, zoom, height, backing scale and palette; any change
// of those empties it. Main thread.
#include "library/WaveformData.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QUuid>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace zelvo::kit {

class Canvas;

struct WavePalette {
    int id = 1;
    QColor low;
    QColor mid;
    QColor high;

    static const WavePalette& live();
    static const WavePalette& quiet();
    static const QColor& ghostRed();
    static const QColor& ghostCyan();
    static const QColor& offColor();
    // The lane's colours: bright when the deck is heard, dim otherwise; each
    // switched-off part (0 low, 1 mid, 2 high) greyed, with its own id.
    static WavePalette forDeck(bool audible, const std::array<bool, 3>& partsOff);
};

// Band levels of one column.
struct BandPeaks {
    std::uint8_t low = 0;
    std::uint8_t mid = 0;
    std::uint8_t high = 0;
};

namespace WaveMath {
// Points present in all three bands.
std::int64_t usablePoints(const WaveformData& data);
// A rate that can index points: finite and above 0.
bool usableRate(double pointsPerSecond);
// The largest levels over the points a column from `t` lasting `span` seconds
// covers (at least one point); none when the column starts at or past the end,
// before 0, or the waveform cannot be indexed.
std::optional<BandPeaks> columnPeaks(const WaveformData& data, double t, double span);
// The waveform's length in seconds; 0 when it cannot be indexed.
double seconds(const WaveformData& data);
// Rounds halves away from zero into an int, saturating; 0 for a non-number.
int roundedInt(double v);
// Truncates towards zero into an int, saturating; 0 for a non-number.
int truncatedInt(double v);
} // namespace WaveMath

class WaveTiles {
public:
    static constexpr double kTileWidth = 512;
    static constexpr int kColumns = 256;
    static constexpr double kBarWidth = 1.6;
    static constexpr int kKeep = 24;

    struct Key {
        QUuid track;
        std::int64_t points = 0;
        int pxPerSecond = 0; // points per second × 100
        int height = 0;
        int scale = 0; // × 10
        int palette = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    static Key makeKey(const QUuid& track, std::int64_t points, double pointsPerSecondOnScreen, double height,
                       double scale, int paletteId);

    // Draws the span t0…t1 of `data` across `rect`, rendering missing tiles.
    // Tiles at both ends overhang the rect; the caller clips.
    void draw(const WaveformData& data, const QUuid& track, Canvas& canvas, const QRectF& rect, double t0,
              double t1, double scale, const WavePalette& palette, std::optional<double> aiFrom);

    // One tile: `index` of length `tileSeconds`, `height` points high.
    static QImage render(const WaveformData& data, std::int64_t index, double tileSeconds, double height,
                         double scale, const WavePalette& palette, std::optional<double> aiFrom);

    const std::optional<Key>& key() const { return key_; }
    std::vector<std::int64_t> cachedIndices() const;
    // Tiles rendered since creation (tests and benchmarks).
    int renders() const { return renders_; }

private:
    std::optional<Key> key_;
    std::map<std::int64_t, QImage> tiles_;
    int renders_ = 0;
};

} // namespace zelvo::kit
