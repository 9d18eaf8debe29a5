#pragma once
// The deck's time-pitch stage over Rubber Band: stretches time by a playback
// rate (parameter 0, a ratio) and shifts pitch (parameter 1, in cents), both
// changeable between renders, in real-time mode on the calling thread.
#include "platform/HostedUnitComponent.h"

#include <memory>
#include <vector>

namespace zelvo {

class RubberBandTimePitch final : public HostedUnitComponent {
public:
    // Which stretcher engine runs: `finer` is R3 with its short window (exact pitch,
    // the one the decks use); `faster` is R2 with high pitch consistency (kept for
    // comparison in the benchmarks).
    enum class Engine { finer, faster };

    static constexpr std::uint32_t kParamRate = 0;  // playback rate, 1/32 … 32
    static constexpr std::uint32_t kParamPitch = 1; // cents, −2400 … 2400
    static constexpr float kMinRate = 1.0f / 32.0f;
    static constexpr float kMaxRate = 32.0f;
    static constexpr float kMaxCents = 2400.0f;

    // Main thread.
    explicit RubberBandTimePitch(Engine engine = Engine::finer);
    ~RubberBandTimePitch() override;

    UnitStatus setStreamFormat(Scope scope, double sampleRate, int channels) override;
    UnitStatus setMaximumFramesPerSlice(int frames) override;
    UnitStatus setInputCallback(UnitInputCallback callback, void* context) override;
    UnitStatus initialize() override;

    // Returns exactly `frames`: the pull/process/retrieve loop is bounded and any
    // shortfall is zero-filled, so a stalled stretcher cannot hang the caller.
    UnitStatus render(int frames, float* left, float* right) override;
    // Feeds the stretcher until `frames` of output are ready (bounded like
    // render); the next render of at most that many frames does no work.
    UnitStatus prepare(int frames) override;
    int readyFrames() const override;
    bool canFeed() const override { return true; }
    // The stretcher's own figure, capped at the maximum slice (256 when it names
    // none, as when pulling).
    int inputRequired() const override;
    UnitStatus feed(int frames, const float* left, const float* right) override;
    int retrieve(int frames, float* left, float* right) override;
    // Out-of-range values are clamped; a non-finite value counts as neutral.
    UnitStatus setParameter(std::uint32_t parameter, float value) override;
    UnitStatus getParameter(std::uint32_t parameter, float& value) const override;
    // Clears the stretcher and primes it again with its start pad of silence.
    UnitStatus reset() override;
    // The delay of the primed stretcher from input to output, measured once at
    // initialisation (the same after every reset).
    UnitStatus latencySeconds(double& seconds) const override;

private:
    struct Stretcher;

    // Pulls input and processes it until `frames` of output are ready, or the
    // input budget of one call is spent.
    void fill(int frames);
    void warmUp();
    void measureLatency();
    void prime();

    Engine engine_;
    double sampleRate_ = 0.0;
    int maxFrames_ = 4096;
    UnitInputCallback callback_ = nullptr;
    void* context_ = nullptr;
    float rate_ = 1.0f;
    float cents_ = 0.0f;
    std::size_t startDelay_ = 0;
    std::size_t latencyFrames_ = 0;
    std::unique_ptr<Stretcher> stretcher_;
    std::vector<float> inLeft_, inRight_;
};

} // namespace zelvo
