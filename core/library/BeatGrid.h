#pragma once
// The tempo map of a track: a constant tempo, the time of one downbeat and the
// number of beats in a bar, with beat, bar and phrase arithmetic.
//
// All times are seconds on the track's own timeline (0 = start of the file); beat
// positions count from `firstBeat`. The arithmetic follows IEEE rules: a grid
// with tempo 0 answers infinities and NaNs, and `isValid` tells a usable grid.
// The only guarded cases are those C++ leaves undefined (see beatInBar and
// nextPhrase). A plain value; every function is pure and may run on any thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class QJsonObject;

namespace zelvo {

struct BeatGrid {
    double bpm = 0.0;             // tempo in beats per minute
    double firstBeat = 0.0;       // seconds; a beat that is also the first beat of a bar
    std::int64_t beatsPerBar = 4; // beats in one bar

    BeatGrid() = default;
    BeatGrid(double bpm, double firstBeat, std::int64_t beatsPerBar = 4) noexcept
        : bpm(bpm), firstBeat(firstBeat), beatsPerBar(beatsPerBar) {}

    // 60 / bpm, in seconds.
    double beatLength() const noexcept { return 60.0 / bpm; }
    // beatLength × beatsPerBar, in seconds.
    double barLength() const noexcept { return beatLength() * double(beatsPerBar); }
    // True for a finite tempo strictly between 20 and 400 bpm; says nothing about
    // firstBeat or beatsPerBar.
    bool isValid() const noexcept;

    // The bar assumed for a track without a usable grid, in seconds.
    static constexpr double barWithoutGrid = 2.0;
    // A grid that bar arithmetic can use: a finite tempo above 0 and at least
    // one beat per bar. Every bar length in the program goes through here.
    static bool usable(const std::optional<BeatGrid>& grid) noexcept;
    // One bar of a usable grid (60 / bpm × beatsPerBar); barWithoutGrid for no
    // grid or an unusable one, so the result is always finite and above 0.
    static double barOf(const std::optional<BeatGrid>& grid) noexcept;

    // Fractional beat position of time t.
    double beat(double t) const noexcept;
    // Time of beat position b.
    double timeOfBeat(double b) const noexcept;
    // Time of the beat nearest to t (halves round away from the first beat).
    double nearestBeat(double t) const noexcept;
    // Time of the beat at or before t; a time within a millionth of a beat before a
    // beat counts as on it.
    double previousBeat(double t) const noexcept;
    // Time of the first beat after t (a time on a beat gives the following one).
    double nextBeat(double t) const noexcept;
    // Time of the bar line nearest to t.
    double nearestBar(double t) const noexcept;
    // Time of the first bar line after t (tolerance a millionth of a bar).
    double nextBar(double t) const noexcept;
    // Time of the first phrase boundary after t + notBefore, a phrase being
    // max(bars, 1) bars. NaN when the phrase length in beats does not fit a
    // signed 64-bit integer (as for a grid whose bars have no beats).
    double nextPhrase(double t, std::int64_t bars, double notBefore) const noexcept;
    // Position within the current beat, in [0, 1).
    double phase(double t) const noexcept;
    // 1-based beat within the bar, 1 ... beatsPerBar; counts backwards correctly
    // before firstBeat. Answers 1 when beatsPerBar < 1 or the beat index is not a
    // finite number that fits a signed 64-bit integer.
    std::int64_t beatInBar(double t) const noexcept;
    // Beat-phase difference of the slave against the master, in beats, in
    // [-0.5, 0.5]; positive when the slave is ahead. Bars are ignored.
    static double phaseError(const BeatGrid& slave, double slaveTime, const BeatGrid& master,
                             double masterTime) noexcept;
    // The same grid on a timeline that starts d seconds later, its first beat
    // wrapped into [0, barLength).
    BeatGrid shifted(double d) const noexcept;

    // The stored form: {"bpm", "firstBeat", "beatsPerBar"}. Main thread or workers.
    QJsonObject toJson() const;
    // Reads the stored form; empty when a key is missing, "bpm" or "firstBeat" is
    // not a number, or "beatsPerBar" is not an integral number that fits 64 bits.
    static std::optional<BeatGrid> fromJson(const QJsonObject& object);

    // Field by field, by IEEE comparison (a NaN tempo equals nothing).
    friend bool operator==(const BeatGrid&, const BeatGrid&) = default;
};

} // namespace zelvo

template <>
struct std::hash<zelvo::BeatGrid> {
    // Consistent with ==: 0.0 and -0.0 hash alike. Any thread.
    std::size_t operator()(const zelvo::BeatGrid& grid) const noexcept;
};
