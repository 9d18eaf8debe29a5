#pragma once
// How well two tracks fit one after the other, by tempo, key and intensity; each
// score is in 0...1. The automatic queue rates library tracks against the one
// playing with these. Pure functions, no allocation; any thread.
#include "library/MusicalKey.h"
#include "library/TrackMetrics.h"

#include <optional>

namespace zelvo::Similarity {

// Tempo fit of `a` measured against `b`: 1 at equal tempo (half and double time
// count as equal), falling linearly to 0 at 8 % apart. Not symmetric. 0 when a
// tempo is missing or not positive. Any thread.
double tempo(std::optional<double> a, std::optional<double> b);

// Harmonic fit on the Camelot wheel: same key 1, relative major/minor 0.85, a
// neighbour 0.8, two steps 0.45, a neighbour across modes 0.4, else 0. Any thread.
double key(const std::optional<MusicalKey>& a, const std::optional<MusicalKey>& b);

// Energy and brightness fit (dynamics takes no part). Any thread.
double intensity(const std::optional<TrackMetrics>& a, const std::optional<TrackMetrics>& b);

// 0.4 × key + 0.35 × tempo + 0.25 × intensity; a missing value zeroes only its
// own term. Any thread.
double overall(std::optional<double> bpmA, std::optional<double> bpmB, const std::optional<MusicalKey>& keyA,
               const std::optional<MusicalKey>& keyB, const std::optional<TrackMetrics>& metricsA,
               const std::optional<TrackMetrics>& metricsB);

} // namespace zelvo::Similarity
