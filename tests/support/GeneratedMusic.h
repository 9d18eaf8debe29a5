#pragma once
// Music made on the spot for analysis tests and benchmarks: drum patterns at a
// known tempo and downbeat, and chords in a known key. Deterministic.
#include <cstdint>
#include <vector>

namespace zelvo::test {

// Four-to-the-floor drums at `bpm`: a kick on every beat, much louder on each
// bar's first beat, and a closed hat between the beats. Beat 1
// of a bar falls at `downbeat` seconds (and every bar before and after it).
std::vector<float> drumLoop(double bpm, double downbeat, double seconds, double sampleRate);

// Closed hats only (nothing below a few hundred hertz), one on every beat, the
// bar's first much louder; beat 1 falls at `downbeat` seconds.
std::vector<float> hatLoop(double bpm, double downbeat, double seconds, double sampleRate);

// A chord of the given MIDI notes, each with a few harmonics, for `seconds`.
std::vector<float> chord(const std::vector<int>& midiNotes, double seconds, double sampleRate);

// Chords one after the other, each `secondsEach` long, repeated `repeats` times.
std::vector<float> progression(const std::vector<std::vector<int>>& chords, double secondsEach, int repeats,
                               double sampleRate);

// The triad on `rootMidi`: major (0 4 7) or minor (0 3 7), with the root
// doubled an octave up.
std::vector<int> triad(int rootMidi, bool minor);

// I–IV–V–I in the key of `tonicMidi` (i–iv–V–i in minor, with the leading tone).
std::vector<std::vector<int>> cadence(int tonicMidi, bool minor);

// Adds `other` into `into` (scaled), extending `into` when `other` is longer.
void mixInto(std::vector<float>& into, const std::vector<float>& other, float gain = 1.0f);

} // namespace zelvo::test
