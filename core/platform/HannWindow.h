#pragma once
// The normalised periodic Hann window used by the spectral analysis.
//
//     w[n] = kHannScale × (1 − cos(2πn / N)),  n = 0 … N − 1,
//     kHannScale = sqrt(2/3) ≈ 0.8164966
//
// Periodic: w[0] = 0 and the window is symmetric about n = N/2 (w[N/2] is the
// peak, 2·sqrt(2/3) ≈ 1.633), so it tiles a signal cut into N-sample frames.
// Normalised: the constant makes the mean of w² exactly 1, so windowing keeps
// a stationary signal's power on average. The constant scales every magnitude
// an FFT of a windowed frame yields; it is fixed here once for the whole
// program, and analysis results depend on it.
#include <cstddef>
#include <vector>

namespace zelvo {

inline constexpr double kHannScale = 0.81649658092772603273; // sqrt(2/3)

// The window of length n (computed in double precision, stored as float);
// empty for n = 0. Any thread (allocates: not the audio thread).
std::vector<float> hannWindow(std::size_t n);

} // namespace zelvo
