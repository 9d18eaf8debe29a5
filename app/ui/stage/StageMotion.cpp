#include "ui/stage/StageMotion.h"

#include "platform/Scheduler.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/LiveClock.h"
#include "ui/kit/LiveSchedule.h"

#include <algorithm>
#include <cmath>

namespace zelvo::stage {
namespace {

// One coordinate of the cubic Bézier from 0 to 1 with control values a and b.
double bezier(double a, double b, double s)
{
    const double r = 1 - s;
    return 3 * r * r * s * a + 3 * r * s * s * b + s * s * s;
}

} // namespace

double easeInOut(double t)
{
    if (!std::isfinite(t) || t >= 1)
        return 1;
    if (t <= 0)
        return 0;
    // x(s) rises monotonically: find s with x(s) = t by bisection.
    double lo = 0, hi = 1;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2;
        (bezier(0.42, 0.58, mid) < t ? lo : hi) = mid;
    }
    return bezier(0, 1, (lo + hi) / 2);
}

Motion::Motion(kit::UiEnv env, std::function<void(double)> apply) : env_(env), apply_(std::move(apply))
{
}

Motion::~Motion() { stop(); }

bool Motion::canAnimate(const kit::UiEnv& env)
{
    return env.liveClock && env.scheduler && !env.snapshotMode && !kit::LiveSchedule::frozen() &&
           env.liveClock->display().visible();
}

void Motion::start(double seconds)
{
    if (!(seconds > 0) || !std::isfinite(seconds) || !canAnimate(env_)) {
        finish();
        return;
    }
    duration_ = seconds;
    started_ = env_.scheduler->uptime();
    apply_(0);
    if (!tick_)
        tick_ = env_.liveClock->subscribe(60, [this](double) { step(); });
}

void Motion::step()
{
    const double t = (env_.scheduler->uptime() - started_) / duration_;
    if (t >= 1) {
        finish();
        return;
    }
    apply_(easeInOut(t));
}

void Motion::finish()
{
    stop();
    apply_(1);
}

void Motion::stop()
{
    if (tick_ && env_.liveClock)
        env_.liveClock->unsubscribe(tick_);
    tick_ = 0;
}

} // namespace zelvo::stage
