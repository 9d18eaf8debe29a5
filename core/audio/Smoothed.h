#pragma once
// A one-pole smoother that glides a control value towards its target without
// clicks. A plain value owned by one thread (the audio thread).
namespace zelvo {

class Smoothed {
public:
    // Starts at `value`. `timeMs` is the time constant: after timeMs milliseconds of
    // calls to next() at `sampleRate`, the output has covered 63 % of a step. A time
    // of 0 gives coefficient 1 (next() jumps to the target). Computed in single
    // precision: 30 ms at 48 kHz is 0.00069421530f. Any thread.
    Smoothed(float value, float timeMs, float sampleRate) noexcept;

    // Moves `value` by coeff of the way to `target` and returns it. Owner's thread.
    float next(float target) noexcept
    {
        value += (target - value) * coeff_;
        return value;
    }

    // The fraction of the remaining distance covered per call. Any thread.
    float coeff() const noexcept { return coeff_; }

    // The current output; the owner may also set it directly (to jump).
    float value;

private:
    float coeff_;
};

} // namespace zelvo
