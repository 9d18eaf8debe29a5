#include "ui/kit/LiveClock.h"

#include "platform/Scheduler.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/LiveSchedule.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvo::kit {

LiveClock::LiveClock(Scheduler& scheduler, DisplayClock& display, QObject* parent)
    : QObject(parent), scheduler_(scheduler), display_(display)
{
    connect(&display_, &DisplayClock::visibleChanged, this, [this](bool visible) {
        if (visible)
            armAll();
        else
            disarmAll();
    });
}

LiveClock::~LiveClock() { disarmAll(); }

bool LiveClock::shouldRun() const { return display_.visible() && !LiveSchedule::frozen(); }

LiveClock::Id LiveClock::subscribe(double fps, Tick tick)
{
    const Id id = next_++;
    if (!(fps > 0)) {
        subscribers_[id] = Subscriber{0, std::move(tick)};
        return id;
    }
    const double rate = LiveSchedule::snappedRate(fps);
    subscribers_[id] = Subscriber{rate, std::move(tick)};
    Rate& r = rates_[rate];
    if (r.users++ == 0 && shouldRun())
        arm(rate);
    return id;
}

void LiveClock::unsubscribe(Id id)
{
    auto it = subscribers_.find(id);
    if (it == subscribers_.end())
        return;
    const double rate = it->second.rate;
    subscribers_.erase(it);
    if (rate <= 0)
        return;
    auto r = rates_.find(rate);
    if (r != rates_.end() && --r->second.users == 0) {
        if (r->second.timer)
            scheduler_.cancel(r->second.timer);
        rates_.erase(r);
    }
}

double LiveClock::frameTimeNow(double fps) const
{
    if (!(fps > 0))
        return 0;
    return LiveSchedule(fps, false).firstFrame(secondsSinceReference(scheduler_.now()));
}

bool LiveClock::running() const
{
    for (const auto& [rate, r] : rates_)
        if (r.timer)
            return true;
    return false;
}

double LiveClock::wakeupsPerSecond() const
{
    double sum = 0;
    for (const auto& [rate, r] : rates_)
        if (r.timer)
            sum += rate;
    return sum;
}

void LiveClock::arm(double rate)
{
    const double step = 1.0 / rate;
    const double now = secondsSinceReference(scheduler_.now());
    double next = LiveSchedule(rate, false).firstFrame(now) + step;
    // Rounding can leave the next instant a hair in the past or on `now`.
    if (next - now < step * 1e-3)
        next += step;
    // The wall clock reads in whole milliseconds and timers land to the
    // millisecond, so a timer can fire a little before its frame: aiming at
    // that frame again would tick it twice.
    Rate& r = rates_[rate];
    if (next < r.target + step * 0.5)
        next = r.target + step;
    r.target = next;
    r.timer = scheduler_.runAfter(next - now, [this, rate] { fire(rate); });
}

void LiveClock::fire(double rate)
{
    auto it = rates_.find(rate);
    if (it == rates_.end())
        return;
    it->second.timer = 0;
    // The frame this firing was armed for, even when it lands a little early.
    const double frame = std::max(frameTimeNow(rate), it->second.target);
    // A subscriber may unsubscribe (or subscribe) from its tick: collect first.
    std::vector<Id> due;
    for (const auto& [id, s] : subscribers_)
        if (s.rate == rate)
            due.push_back(id);
    for (Id id : due)
        if (auto s = subscribers_.find(id); s != subscribers_.end()) {
            // A copy: the tick may unsubscribe itself, which destroys the stored one.
            const Tick tick = s->second.tick;
            tick(frame);
        }
    if (rates_.count(rate) && shouldRun() && rates_[rate].timer == 0)
        arm(rate);
}

void LiveClock::disarmAll()
{
    for (auto& [rate, r] : rates_)
        if (r.timer) {
            scheduler_.cancel(r.timer);
            r.timer = 0;
        }
}

void LiveClock::armAll()
{
    if (!shouldRun())
        return;
    for (auto& [rate, r] : rates_)
        if (!r.timer)
            arm(rate);
}

} // namespace zelvo::kit
