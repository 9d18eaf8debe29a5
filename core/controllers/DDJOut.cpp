#include "controllers/DDJOut.h"

#include <algorithm>
#include <cmath>

namespace zelvo::DDJOut {

namespace {

constexpr std::uint8_t data(int value)
{
    return std::uint8_t(value & 0x7F);
}

constexpr std::uint8_t channel(int value)
{
    return std::uint8_t(value & 0x0F);
}

constexpr std::uint8_t on(bool value)
{
    return value ? 0x7F : 0x00;
}

constexpr int positiveDegrees(int degrees)
{
    return (degrees % 360 + 360) % 360;
}

// Rounds halves away from zero and clamps to lo...hi, all in floating point, so
// no value, however large, reaches an integer conversion out of range. Callers
// map non-finite inputs to 0 first; a finite input whose scaling overflows to
// infinity still clamps to the end of the range.
int roundedClamped(double x, double lo, double hi)
{
    if (std::isnan(x))
        return int(lo);
    return int(std::clamp(std::round(x), lo, hi));
}

constexpr std::uint8_t jogChannelNote = 0x9F;
constexpr std::uint8_t jogChannelControl = 0xBF;

} // namespace

Bytes note(int deck, std::uint8_t n, std::uint8_t value)
{
    return {std::uint8_t(0x90 | channel(deck)), data(n), data(value)};
}

Bytes pad(int deck, bool shift, std::uint8_t n, std::uint8_t value)
{
    return {std::uint8_t(0x90 | channel(7 + 2 * deck + (shift ? 1 : 0))), data(n), data(value)};
}

Bytes beatFX(std::uint8_t n, std::uint8_t value)
{
    return {0x94, data(n), data(value)};
}

Bytes global(std::uint8_t n, std::uint8_t value)
{
    return {0x96, data(n), data(value)};
}

Bytes meter(int deck, double level)
{
    // A huge level overflows to infinity in the product and still clamps to 127.
    const double scaled = std::isfinite(level) ? level * 127.0 : 0.0;
    return {std::uint8_t(0xB0 | channel(deck)), 0x02, std::uint8_t(roundedClamped(scaled, 0, 127))};
}

Bytes jog14(std::uint8_t msb, std::uint8_t lsb, int value)
{
    const int v = std::clamp(value, 0, 16383);
    return {jogChannelControl, data(msb), data(v >> 7), jogChannelControl, data(lsb), data(v)};
}

Bytes jogMarker(int deck, int degrees)
{
    return jog14(data(16 + deck), data(48 + deck), positiveDegrees(degrees));
}

Bytes jogBPM(int deck, double bpm)
{
    const double tenths = std::isfinite(bpm) ? bpm * 10.0 : 0.0;
    return jog14(data(20 + deck), data(52 + deck), roundedClamped(tenths, 0, 16383));
}

Bytes jogSpeed(int deck, double percent)
{
    const double tenths = std::isfinite(percent) ? (percent + 100.0) * 10.0 : 0.0;
    return jog14(data(24 + deck), data(56 + deck), roundedClamped(tenths, 0, 16383));
}

Bytes jogCue(int deck, std::optional<int> degrees)
{
    // 16383 stands for no cue point.
    return jog14(data(28 + deck), data(60 + deck), degrees ? positiveDegrees(*degrees) : 16383);
}

Bytes jogTime(int deck, double seconds, bool remaining)
{
    // Whole seconds, never negative; the seconds byte comes from the uncapped
    // minutes, so past 99 minutes the display shows 99 and the true seconds.
    // Everything stays in floating point, exact for whole numbers, so any
    // finite duration is safe.
    const double s = std::isfinite(seconds) && seconds > 0 ? std::trunc(seconds) : 0.0;
    const double minutes = std::floor(s / 60.0);
    const double second = std::fmod(s, 60.0);
    return {jogChannelControl, data(66 + 2 * deck), std::uint8_t(std::min(minutes, 99.0)),
            jogChannelControl, data(67 + 2 * deck), std::uint8_t(second),
            jogChannelNote,    data(20 + deck),     on(remaining)};
}

Bytes jogFlag(std::uint8_t base, int deck, bool value)
{
    return {jogChannelNote, data(base + deck), on(value)};
}

Bytes jogMaster(int deck, bool value)
{
    return jogFlag(24, deck, value);
}

Bytes jogSync(int deck, bool value)
{
    return jogFlag(28, deck, value);
}

Bytes jogKeyLock(int deck, bool value)
{
    return jogFlag(32, deck, value);
}

Bytes jogInfo(int deck, bool visible)
{
    return {jogChannelNote, data(93 + deck), on(!visible)};
}

Bytes jogKeyFormat(bool camelot)
{
    return {jogChannelNote, 91, on(camelot)};
}

Bytes jogRing(int deck, bool value)
{
    return {jogChannelControl, data(9 + deck), std::uint8_t(value ? 0x01 : 0x00)};
}

Bytes jogKey(int deck, std::uint8_t code, int shift)
{
    const std::uint8_t status = std::uint8_t(0xB0 | channel(deck));
    // Clamp the shift before adding, so no shift overflows.
    return {status, 73, data(code), status, 74, std::uint8_t(std::clamp(shift, -12, 12) + 13)};
}

std::uint8_t keyCode(int pitchClass, bool minor)
{
    const int pc = (pitchClass % 12 + 12) % 12;
    return std::uint8_t(minor ? 2 * ((pc + 3) % 12) + 2 : 2 * pc + 1);
}

} // namespace zelvo::DDJOut
