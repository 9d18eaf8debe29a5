#pragma once
// Timed transitions of the stage's layout: a progress from 0 to 1 over a
// duration, eased in and out, advanced on the shared live clock at 60 frames a
// second from the scheduler's uptime. Still renders, frozen processes, hidden
// views and environments without a clock skip the movement and show its end.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <cstdint>
#include <functional>

namespace zelvo::stage {

// The standard ease-in-out curve (a cubic Bézier through (0.42, 0) and
// (0.58, 1)) at `t`, clamped to 0…1; a non-finite `t` gives 1.
double easeInOut(double t);

class Motion {
public:
    // `apply` is called with the eased progress on every frame, last with 1.
    Motion(kit::UiEnv env, std::function<void(double eased)> apply);
    ~Motion();
    Motion(const Motion&) = delete;
    Motion& operator=(const Motion&) = delete;

    // Starts over from 0 (applied at once) to run for `seconds`; with no time
    // to run, or when the environment cannot animate, applies the end at once.
    void start(double seconds);
    // Applies the end now and stops.
    void finish();
    bool running() const { return tick_ != 0; }

    // Whether views in `env` may move now: a live clock on a visible display,
    // not a still render, not a frozen process.
    static bool canAnimate(const kit::UiEnv& env);

private:
    void step();
    void stop();

    kit::UiEnv env_;
    double duration_ = 0;
    std::function<void(double)> apply_;
    double started_ = 0;
    std::uint64_t tick_ = 0;
};

} // namespace zelvo::stage
