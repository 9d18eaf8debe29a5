#include "library/BeatGrid.h"

#include "library/HashMix.h"
#include "library/JsonFields.h"

#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zelvo {

namespace {

// Added before flooring so a time a hair before a line counts as on it.
constexpr double kTolerance = 1e-6;

// The integer a finite double in the signed 64-bit range truncates to; empty for
// NaN, infinities and values out of range, whose conversion C++ leaves undefined.
std::optional<std::int64_t> toInt64(double v)
{
    // -2^63 is exact in a double; 2^63 is the first value past the range.
    if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0))
        return std::nullopt;
    return std::int64_t(v);
}

double frac(double v) { return v - std::floor(v); }

} // namespace

bool BeatGrid::isValid() const noexcept
{
    return bpm > 20.0 && std::isfinite(bpm) && bpm < 400.0;
}

bool BeatGrid::usable(const std::optional<BeatGrid>& grid) noexcept
{
    // A tempo within a hair of 0 still overflows the bar: that counts as unusable too.
    return grid && std::isfinite(grid->bpm) && grid->bpm > 0.0 && grid->beatsPerBar >= 1
        && std::isfinite(60.0 / grid->bpm * double(grid->beatsPerBar));
}

double BeatGrid::barOf(const std::optional<BeatGrid>& grid) noexcept
{
    return usable(grid) ? 60.0 / grid->bpm * double(grid->beatsPerBar) : barWithoutGrid;
}

double BeatGrid::beat(double t) const noexcept
{
    return (t - firstBeat) / beatLength();
}

double BeatGrid::timeOfBeat(double b) const noexcept
{
    return beatLength() * b + firstBeat;
}

double BeatGrid::nearestBeat(double t) const noexcept
{
    return beatLength() * std::round(beat(t)) + firstBeat;
}

double BeatGrid::previousBeat(double t) const noexcept
{
    return beatLength() * std::floor(beat(t) + kTolerance) + firstBeat;
}

double BeatGrid::nextBeat(double t) const noexcept
{
    return beatLength() * (std::floor(beat(t) + kTolerance) + 1.0) + firstBeat;
}

double BeatGrid::nearestBar(double t) const noexcept
{
    const double bar = double(beatsPerBar);
    return beatLength() * (std::round(beat(t) / bar) * bar) + firstBeat;
}

double BeatGrid::nextBar(double t) const noexcept
{
    const double bar = double(beatsPerBar);
    return beatLength() * ((std::floor(beat(t) / bar + kTolerance) + 1.0) * bar) + firstBeat;
}

double BeatGrid::nextPhrase(double t, std::int64_t bars, double notBefore) const noexcept
{
    std::int64_t beats = 0;
    if (__builtin_mul_overflow(std::max<std::int64_t>(bars, 1), beatsPerBar, &beats))
        return std::numeric_limits<double>::quiet_NaN();
    const double phrase = double(beats);
    const double y = (t + notBefore - firstBeat) / beatLength();
    return beatLength() * ((std::floor(y / phrase + kTolerance) + 1.0) * phrase) + firstBeat;
}

double BeatGrid::phase(double t) const noexcept
{
    return frac(beat(t));
}

std::int64_t BeatGrid::beatInBar(double t) const noexcept
{
    const std::optional<std::int64_t> b = toInt64(std::floor(beat(t) + kTolerance));
    if (!b || beatsPerBar < 1)
        return 1;
    // The remainder has the sign of b; lifting a negative one into [0, beatsPerBar)
    // this way cannot overflow, where (r + beatsPerBar) could.
    const std::int64_t r = *b % beatsPerBar;
    return (r < 0 ? r + beatsPerBar : r) + 1;
}

double BeatGrid::phaseError(const BeatGrid& slave, double slaveTime, const BeatGrid& master,
                            double masterTime) noexcept
{
    const double ps = frac((slaveTime - slave.firstBeat) / (60.0 / slave.bpm));
    const double pm = frac((masterTime - master.firstBeat) / (60.0 / master.bpm));
    double e = ps - pm;
    if (e > 0.5)
        e -= 1.0;
    if (e < -0.5)
        e += 1.0;
    return e;
}

BeatGrid BeatGrid::shifted(double d) const noexcept
{
    const double f = firstBeat - d;
    const double bar = barLength();
    return BeatGrid(bpm, f - bar * std::floor(f / bar), beatsPerBar);
}

QJsonObject BeatGrid::toJson() const
{
    return QJsonObject{
        {QStringLiteral("bpm"), bpm},
        {QStringLiteral("firstBeat"), firstBeat},
        {QStringLiteral("beatsPerBar"), qint64(beatsPerBar)},
    };
}

std::optional<BeatGrid> BeatGrid::fromJson(const QJsonObject& object)
{
    const QJsonValue bpm = object.value(QLatin1String("bpm"));
    const QJsonValue firstBeat = object.value(QLatin1String("firstBeat"));
    const std::optional<std::int64_t> beatsPerBar = jsonInteger(object.value(QLatin1String("beatsPerBar")));
    if (!bpm.isDouble() || !firstBeat.isDouble() || !beatsPerBar)
        return std::nullopt;
    return BeatGrid(bpm.toDouble(), firstBeat.toDouble(), *beatsPerBar);
}

} // namespace zelvo

std::size_t std::hash<zelvo::BeatGrid>::operator()(const zelvo::BeatGrid& grid) const noexcept
{
    std::size_t seed = 0;
    zelvo::hashMix(seed, zelvo::hashDouble(grid.bpm));
    zelvo::hashMix(seed, zelvo::hashDouble(grid.firstBeat));
    zelvo::hashMix(seed, std::hash<std::int64_t>()(grid.beatsPerBar));
    return seed;
}
