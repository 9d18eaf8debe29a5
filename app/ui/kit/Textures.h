#pragma once
// Procedural faceplate textures: the brushed plate and the walnut cheeks are
// drawn from a fixed pseudo-random sequence, so they look the same on every
// launch and in still renders. Main thread (the cache); the draw functions are
// pure.
#include <QImage>
#include <QSizeF>
#include <cstdint>

namespace zelvo::kit {

class Canvas;

// SplitMix64: each draw yields a double in [0, 1).
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t nextBits();
    double next() { return double(nextBits() >> 11) / 9007199254740992.0; }

private:
    std::uint64_t state_;
};

namespace Textures {
constexpr std::uint64_t faceplateSeed = 0x5EED;
// Draws the brushed plate of `size` points; returns the speckles drawn.
long long drawFaceplate(Canvas& canvas, QSizeF size);
void drawWalnutCheek(Canvas& canvas, QSizeF size, std::uint64_t seed);
// Cached images at `deviceScale` pixels per point, one per size, scale and seed.
QImage faceplate(QSizeF size, double deviceScale);
QImage walnutCheek(QSizeF size, double deviceScale, std::uint64_t seed);
// Drops every cached image (benchmarks time the first render).
void clearCache();
} // namespace Textures

} // namespace zelvo::kit
