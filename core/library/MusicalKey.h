#pragma once
// The key of a track: a tonic pitch class and a mode, with its note name, its
// Camelot code and the harmonic-mixing tests built on the Camelot wheel (twelve
// positions a fifth apart; "A" for minor, "B" for major).
//
// A pitch class outside 0...11 can only come from a stored file (the initialiser
// reduces it, decoding keeps it as stored). Names, Camelot codes, shifts and the
// mixing tests read such a key as its residue modulo 12, the key the initialiser
// would have made, so they never index past their tables.
// A plain value; every function may run on any thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class QJsonObject;
class QString;

namespace zelvo {

struct MusicalKey {
    std::int64_t pitchClass; // tonic: 0 = C, 1 = C♯/D♭, ... 11 = B
    bool minor;              // true for a minor key

    // Stores the pitch class reduced into 0...11 by floored modulo (-1 gives 11).
    MusicalKey(std::int64_t pitchClass, bool minor) noexcept;

    // The note name, with "m" after it for a minor key: "A♭m", "F♯", "Cm".
    QString name() const;
    // The position on the Camelot wheel, 1...12.
    std::int64_t camelotNumber() const noexcept;
    // The Camelot code: the number and "A" (minor) or "B" (major), such as "8A".
    QString camelot() const;
    // The key `semitones` higher (or lower when negative), mode unchanged.
    MusicalKey shifted(std::int64_t semitones) const noexcept;
    // True when the two keys mix: same mode and at most one step apart on the
    // wheel, or relative major and minor (same number). Symmetric.
    bool isCompatible(const MusicalKey& other) const noexcept;
    // The transposition in -6...+6 semitones that makes this key mix with
    // `target`: the smallest one, an exact Camelot match before a neighbour at the
    // same size, the downward one on a tie; 0 when none mixes.
    std::int64_t syncShift(const MusicalKey& target) const noexcept;

    // The stored form: {"pitchClass", "minor"}. Main thread or workers.
    QJsonObject toJson() const;
    // Reads the stored form, keeping the pitch class as stored; empty when a key
    // is missing, "pitchClass" is not a whole number that fits 64 bits or
    // "minor" is not a Boolean.
    static std::optional<MusicalKey> fromJson(const QJsonObject& object);

    friend bool operator==(const MusicalKey&, const MusicalKey&) = default;
};

} // namespace zelvo

template <>
struct std::hash<zelvo::MusicalKey> {
    // Over the pitch class, then the mode. Any thread.
    std::size_t operator()(const zelvo::MusicalKey& key) const noexcept;
};
