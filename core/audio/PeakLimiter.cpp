#include "audio/PeakLimiter.h"

#include <algorithm>
#include <cmath>

namespace zelvo {

// How the ceiling is guaranteed: h[n] is the smallest gain any input frame in the
// last L frames needs; the envelope follows h down at once and back up with the
// decay, never above it; the applied gain is the mean of the last L envelope
// values; the output is the input delayed by L − 1. Every one of the L values
// averaged for the frame that leaves now saw that frame inside its window, so the
// mean is at most the gain that frame needs. A last clamp absorbs rounding.

void PeakLimiter::prepare(double sampleRate)
{
    sampleRate_ = sampleRate > 0.0 ? sampleRate : 48000.0;
    capacity_ = std::max(1, int(std::ceil(kMaxAttack * sampleRate_)) + 1);
    delayL_.assign(std::size_t(capacity_), 0.0f);
    delayR_.assign(std::size_t(capacity_), 0.0f);
    minIndex_.assign(std::size_t(capacity_) + 1, 0);
    minGain_.assign(std::size_t(capacity_) + 1, 1.0f);
    envRing_.assign(std::size_t(capacity_), 1.0f);
    setDecay(decay_);
    setPreGainDb(preGainDb_);
    setAttack(attack_);
}

void PeakLimiter::setAttack(double seconds)
{
    if (!std::isfinite(seconds))
        return;
    attack_ = std::clamp(seconds, kMinAttack, kMaxAttack);
    lookahead_ = std::clamp(int(std::lround(attack_ * sampleRate_)), 1, capacity_);
    reset();
}

void PeakLimiter::setDecay(double seconds)
{
    if (!std::isfinite(seconds))
        return;
    decay_ = std::max(seconds, 0.001);
    release_ = float(1.0 - std::exp(-1.0 / (decay_ * sampleRate_)));
}

void PeakLimiter::setPreGainDb(double db)
{
    if (!std::isfinite(db))
        return;
    preGainDb_ = std::clamp(db, -40.0, 40.0);
    preGain_ = float(std::pow(10.0, preGainDb_ / 20.0));
}

void PeakLimiter::reset()
{
    std::fill(delayL_.begin(), delayL_.end(), 0.0f);
    std::fill(delayR_.begin(), delayR_.end(), 0.0f);
    std::fill(envRing_.begin(), envRing_.end(), 1.0f);
    minHead_ = 0;
    minCount_ = 0;
    envSum_ = double(lookahead_);
    envelope_ = 1.0f;
    frame_ = 0;
}

void PeakLimiter::process(float* left, float* right, int frames)
{
    if (delayL_.empty() || frames <= 0)
        return;
    const int L = lookahead_;
    const int queueSize = capacity_ + 1;
    for (int i = 0; i < frames; ++i) {
        float l = left[i] * preGain_;
        float r = right[i] * preGain_;
        if (!std::isfinite(l))
            l = 0.0f;
        if (!std::isfinite(r))
            r = 0.0f;
        const float peak = std::max(std::fabs(l), std::fabs(r));
        const float need = peak > kCeiling ? kCeiling / peak : 1.0f;

        // Sliding minimum over the window [frame − L + 1, frame].
        while (minCount_ > 0) {
            const int back = (minHead_ + minCount_ - 1) % queueSize;
            if (minGain_[std::size_t(back)] < need)
                break;
            --minCount_;
        }
        {
            const int slot = (minHead_ + minCount_) % queueSize;
            minIndex_[std::size_t(slot)] = frame_;
            minGain_[std::size_t(slot)] = need;
            ++minCount_;
        }
        while (minIndex_[std::size_t(minHead_)] <= frame_ - L) {
            minHead_ = (minHead_ + 1) % queueSize;
            --minCount_;
        }
        const float hold = minGain_[std::size_t(minHead_)];

        envelope_ = hold < envelope_ ? hold : std::min(hold, envelope_ + (hold - envelope_) * release_);

        const std::size_t slot = std::size_t(frame_ % L);
        envSum_ += double(envelope_) - double(envRing_[slot]);
        envRing_[slot] = envelope_;
        const float gain = std::min(1.0f, float(envSum_ / double(L)));

        // The ring slot of this frame holds the input of L frames ago; the delay
        // is L − 1, so read the slot written L − 1 frames ago.
        const std::size_t out = std::size_t((frame_ + 1) % L);
        delayL_[slot] = l;
        delayR_[slot] = r;
        const float dl = delayL_[out];
        const float dr = delayR_[out];
        left[i] = std::clamp(dl * gain, -kCeiling, kCeiling);
        right[i] = std::clamp(dr * gain, -kCeiling, kCeiling);
        ++frame_;
    }
}

} // namespace zelvo
