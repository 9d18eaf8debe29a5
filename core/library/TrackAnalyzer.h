#pragma once
// The offline analyser: turns decoded audio into the display waveform, the beat
// grid, the key, the loudness and the energy metrics the library keeps per track.
// Every function is pure and may run on any thread, several at once.
#include "library/WaveformData.h"

#include <cstdint>
#include <span>

namespace zelvo::TrackAnalyzer {

// Three-band display waveform of mono samples (full scale 1.0): crossovers at
// 250 Hz and 2500 Hz, one point per trunc(sampleRate / pointsPerSecond) samples,
// levels as the square root of each band's peak against the loudest band's.
// Any thread.
WaveformData computeWaveform(std::span<const float> samples, double sampleRate, double pointsPerSecond);

} // namespace zelvo::TrackAnalyzer
