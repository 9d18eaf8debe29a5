#pragma once
// One second-order filter section with the audio-EQ-cookbook low-pass and
// high-pass designs. Shared by the offline waveform band analysis and the mix
// engine's channel strip, so both hear the same crossovers.
namespace zelvo {

struct Biquad {
    // Coefficients normalised so that a0 = 1. The default section passes its
    // input through unchanged.
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
    // Transposed direct form II state.
    double z1 = 0.0;
    double z2 = 0.0;

    // Low-pass design at `cutoff` Hz for `sampleRate`, state zeroed. Any thread.
    static Biquad lowpass(double cutoff, double sampleRate, double q);
    // High-pass design at `cutoff` Hz for `sampleRate`, state zeroed. Any thread.
    static Biquad highpass(double cutoff, double sampleRate, double q);

    // Filters one sample. No allocation; safe on the audio thread. Only the
    // thread that owns the section.
    double tick(double x) noexcept
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    // Whether the state is exactly zero: silence in then gives silence out and
    // leaves the state as it is. Only the owning thread.
    bool atRest() const noexcept { return z1 == 0.0 && z2 == 0.0; }

    friend bool operator==(const Biquad&, const Biquad&) = default;
};

} // namespace zelvo
