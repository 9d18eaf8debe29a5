#pragma once
// The planned generation window: a context the model hears, ending at the seam,
// and the seconds it writes after the seam. All fields are seconds on the
// timeline of the audio the context is cut from.

namespace zelvo {

struct ForkPlan {
    double seam = 0;           // where the generated audio begins
    double contextStart = 0;   // always seam - contextSeconds
    double contextSeconds = 0; // whole model latents
    double generateSeconds = 0;// whole model latents

    // Context plus generation. Any thread.
    double totalSeconds() const { return contextSeconds + generateSeconds; }
    // The context in model latents, rounded half away from zero. Any thread.
    long long contextLatents() const;

    friend bool operator==(const ForkPlan&, const ForkPlan&) = default;
};

} // namespace zelvo
