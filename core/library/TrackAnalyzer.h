#pragma once
// The offline analyser: turns decoded audio into the display waveform, the beat
// grid, the key, the loudness and the energy metrics the library keeps per track.
// Every function is pure and may run on any thread, several at once; none fails
// for lack of material: what cannot be told is absent or a fixed default.
#include "library/BeatGrid.h"
#include "library/MusicalKey.h"
#include "library/TrackAnalysis.h"
#include "library/WaveformData.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace zelvo {
class TrackBuffer;
}

namespace zelvo::TrackAnalyzer {

// The rate tracks are decoded at for analysis.
inline constexpr double analysisRate = 22050.0;
// The tempo range the library folds detected tempos into.
inline constexpr double defaultMinBpm = 78.0;
inline constexpr double defaultMaxBpm = 156.0;

// Onset strength per analysis frame.
struct OnsetEnvelope {
    std::vector<float> env;  // full-band, detrended log spectral flux
    std::vector<float> kick; // the same below about 160 Hz
    double fps = 0.0;        // frames per second
    double offset = 0.0;     // seconds: the centre of frame 0
};

// Analyses a decoded track at its own rate: waveform, grid (tempo folded into
// [minBpm, maxBpm)), key, loudness and metrics of the mono mix. Reads the buffer,
// which must not be written meanwhile; never fails. Any thread.
TrackAnalysis analyze(const TrackBuffer& buffer, double minBpm = defaultMinBpm, double maxBpm = defaultMaxBpm);

// Decodes a file at `analysisRate` and analyses it with the default tempo range.
// Throws what decoding throws (AudioFileError); nothing else fails. Any thread
// but the audio thread.
TrackAnalysis analyze(const std::filesystem::path& url);

// Mean-square level of mono samples in dB relative to full scale, the mean square
// floored at 1e-12 in single precision (about −120 dB; also for no samples).
// Any thread.
double loudnessDB(std::span<const float> samples);

// Three-band display waveform of mono samples (full scale 1.0): crossovers at
// 250 Hz and 2500 Hz, one point per trunc(sampleRate / pointsPerSecond) samples,
// levels as the square root of each band's peak against the loudest band's.
// Any thread.
WaveformData computeWaveform(std::span<const float> samples, double sampleRate, double pointsPerSecond);

// Log-compressed spectral-flux onset envelope over frames of `frame` samples (a
// power of two) every `hop` samples. Empty (fps and offset 0) for at most
// 4 × frame samples or when the transform cannot be set up. The envelope leads
// the hits slightly (a frame is stamped with its centre, while its flux rises as
// soon as the hit enters it). Any thread.
OnsetEnvelope onsetEnvelope(std::span<const float> samples, double sampleRate, int frame, int hop);

// Beat grid of mono samples, the tempo folded into [minBpm, maxBpm) and snapped
// to an integer within 0.06; always 4 beats per bar. Under about four seconds:
// 120 bpm with the first beat at 0. A range whose upper bound is not a positive
// finite number leaves the tempo unfolded. Any thread.
BeatGrid detectGrid(std::span<const float> samples, double sampleRate, double minBpm, double maxBpm);

// Key of mono samples from a chromagram of 8192-sample frames correlated with the
// major and minor key profiles; none for 16384 samples or fewer, or silence.
// Any thread.
std::optional<MusicalKey> detectKey(std::span<const float> samples, double sampleRate);

// The last step of key detection: the tonic and mode whose profile correlates
// best with a chromagram (index = pitch class). On equal correlations the lower
// tonic wins, and major over minor. Any thread.
MusicalKey keyFromChroma(const std::array<double, 12>& chroma);

} // namespace zelvo::TrackAnalyzer
