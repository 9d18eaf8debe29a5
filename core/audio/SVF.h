#pragma once
// Trapezoidal (zero-delay feedback) state-variable filter: one second-order
// section that gives low-pass, band-pass and high-pass outputs at once.
// A plain value owned by one thread (the audio thread in the engine).
namespace zelvo {

struct SVF {
    // The three simultaneous outputs of one tick.
    struct Outputs {
        double low;
        double band;
        double high;
    };

    // Designs for `cutoff` Hz (clamped to 10 Hz … 0.49·sampleRate; a NaN cutoff
    // counts as 10 Hz) and resonance `q` (at least 0.05). Keeps the state. Owner's thread.
    void set(double cutoff, double q, double sampleRate) noexcept;
    // One sample through the filter. Owner's thread.
    Outputs tick(double x) noexcept
    {
        const double d = x - ic2;
        const double band = a1 * ic1 + a2 * d;
        const double low = ic2 + a2 * ic1 + a3 * d;
        ic1 = 2.0 * band - ic1;
        ic2 = 2.0 * low - ic2;
        return {low, band, x - k * band - low};
    }
    // Zeroes the integrator state, keeping the coefficients. Owner's thread.
    void reset() noexcept { ic1 = ic2 = 0.0; }
    // Whether the state is exactly zero: silence in then gives silence out and
    // moves nothing. Owner's thread.
    bool atRest() const noexcept { return ic1 == 0.0 && ic2 == 0.0; }

    double ic1 = 0.0, ic2 = 0.0;
    double g = 0.0, k = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
};

} // namespace zelvo
