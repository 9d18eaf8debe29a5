#pragma once
// Forward FFT of real 32-bit float frames, for the offline analysis (onset
// envelope, chromagram).
//
// Scale. Every output is TWICE the plain discrete Fourier sum:
//
//     X[k] = 2 × Σ_{n=0}^{N−1} x[n]·w[n]·e^(−2πi·k·n/N)
//
// (the scale of a packed real FFT). So a full-scale sine at bin k (period N/k
// samples, amplitude A, no window) gives |X[k]| = A·N, and DC of level c gives
// |X[0]| = 2·c·N. Bin 0 holds the DC term alone.
//
// Use. Make one RealFFT per thread (per analysis call, say) and feed it every
// frame:
//
//     RealFFT fft(1024);
//     if (!fft.isValid()) ...;                  // power-of-two sizes only
//     const std::vector<float> window = hannWindow(1024);
//     std::vector<float> mags(fft.binCount());  // N/2 bins, k = 0 … N/2 − 1
//     fft.magnitudes(std::span(samples).subspan(i * hop, 1024), window, mags);
//
// All RealFFT objects of one size share one FFTW plan, made the first time the
// size is asked for with FFTW_ESTIMATE, so the algorithm (and every bit of the
// results) is the same on every run and in every thread. Planning is serialised
// by a process-wide lock; plans are kept for the life of the process. Each
// object owns its own aligned scratch buffers, so any number of objects run in
// parallel on different threads; one object is used by one thread at a time.
// Nothing here is for the audio thread (construction allocates and may lock).
#include <complex>
#include <cstddef>
#include <span>

namespace zelvo {

class RealFFT {
public:
    // A transform of `n` samples. Valid when n is a power of two from 2 to
    // 2^24 and FFTW could plan it; otherwise isValid() is false and every
    // transform returns false. Worker or main thread.
    explicit RealFFT(std::size_t n);
    ~RealFFT();
    RealFFT(RealFFT&& other) noexcept;
    RealFFT& operator=(RealFFT&& other) noexcept;
    RealFFT(const RealFFT&) = delete;
    RealFFT& operator=(const RealFFT&) = delete;

    // Whether the transform can be used. Any thread.
    bool isValid() const { return plan_ != nullptr; }
    // N, the frame length (0 when invalid). Any thread.
    std::size_t size() const { return plan_ ? n_ : 0; }
    // N/2, the length of `magnitudes` and `powers` output. Any thread.
    std::size_t binCount() const { return size() / 2; }

    // |X[k]| for k = 0 … N/2 − 1 (scale above) of `samples` multiplied
    // element-wise by `window` (an empty window means none). `samples` and a
    // non-empty `window` hold N values and `out` N/2; otherwise, or when the
    // transform is invalid, returns false and leaves `out` untouched. The thread
    // that owns this object.
    bool magnitudes(std::span<const float> samples, std::span<const float> window, std::span<float> out);
    // |X[k]|² for k = 0 … N/2 − 1, as `magnitudes` otherwise.
    bool powers(std::span<const float> samples, std::span<const float> window, std::span<float> out);
    // The complex X[k] for k = 0 … N/2 (N/2 + 1 values, Nyquist included), at the
    // same doubled scale; as `magnitudes` otherwise.
    bool spectrum(std::span<const float> samples, std::span<const float> window,
                  std::span<std::complex<float>> out);

    struct Plan; // an FFTW plan; defined where FFTW is included

private:
    bool transform(std::span<const float> samples, std::span<const float> window);
    void release();

    std::size_t n_ = 0;
    const Plan* plan_ = nullptr;
    float* input_ = nullptr;   // N samples, FFTW-aligned
    float* output_ = nullptr;  // N/2 + 1 interleaved complex values, FFTW-aligned
};

} // namespace zelvo
