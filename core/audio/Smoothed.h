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

    // Moves `value` by coeff of the way to `target` and returns it; a step too
    // small to change the value lands on the target, so a glide ends exactly
    // there (otherwise it would sit a rounding step away for good, or, with
    // subnormals flushed, on a value like 3e-36 whose step flushes to zero, and
    // the state it feeds would never rest). Owner's thread.
    float next(float target) noexcept
    {
        const float moved = value + (target - value) * coeff_;
        value = moved == value ? target : moved;
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
