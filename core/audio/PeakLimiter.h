#pragma once
// Look-ahead brick-wall peak limiter for the master bus: the signal is delayed by
// the attack time while the gain ramps down ahead of every peak, so no output
// sample ever exceeds the ceiling (1.0, 0 dBFS). Both channels share one gain, so
// the stereo image does not move.
#include <cstdint>
#include <vector>

namespace zelvo {

class PeakLimiter {
public:
    static constexpr float kCeiling = 1.0f;
    static constexpr double kMinAttack = 0.0005;
    static constexpr double kMaxAttack = 0.03;

    // Sizes the look-ahead for the longest attack at `sampleRate` and clears the
    // state. Main thread.
    void prepare(double sampleRate);
    // Attack (look-ahead) time in seconds, 0.0005 … 0.03. A change clears the
    // look-ahead history. Audio thread after `prepare`.
    void setAttack(double seconds);
    // Time constant of the gain's recovery after a peak, seconds (≥ 0.001). Audio
    // thread.
    void setDecay(double seconds);
    // Gain before limiting, dB (−40 … 40). Audio thread.
    void setPreGainDb(double db);
    double attack() const { return attack_; }
    double decay() const { return decay_; }
    double preGainDb() const { return preGainDb_; }

    // Limits `frames` samples of each channel in place. Non-finite input samples
    // count as silence. Audio thread.
    void process(float* left, float* right, int frames);
    // Clears the look-ahead and the gain history. Audio thread.
    void reset();
    // Delay of the output behind the input, in frames.
    int latencyFrames() const { return lookahead_ - 1; }

private:
    double sampleRate_ = 48000.0;
    double attack_ = 0.002;
    double decay_ = 0.06;
    double preGainDb_ = 0.0;
    float preGain_ = 1.0f;
    float release_ = 0.0f;  // one-pole coefficient of the recovery
    int lookahead_ = 1;     // L: frames of look-ahead (the attack)
    int capacity_ = 1;      // ring sizes, for the longest attack

    // Delayed input, per channel (ring of `capacity_`).
    std::vector<float> delayL_, delayR_;
    // Sliding minimum of the required gain over the last L frames: a monotonic
    // queue of (frame index, gain), ring of `capacity_ + 1`.
    std::vector<std::int64_t> minIndex_;
    std::vector<float> minGain_;
    int minHead_ = 0, minCount_ = 0;
    // Smoothed envelope values of the last L frames and their sum (box filter).
    std::vector<float> envRing_;
    double envSum_ = 0.0;
    float envelope_ = 1.0f;
    std::int64_t frame_ = 0;
};

} // namespace zelvo
