#pragma once
// One shared clock for every live view: one timer per snapped frame rate in
// use, armed on the scheduler for the next multiple of the step since 2001, so
// views at equal rates tick on the same instants. No timer runs while no window
// can be seen, nor when the process is frozen. Main thread.
#include <QObject>
#include <cstdint>
#include <functional>
#include <map>

namespace zelvo {
class Scheduler;
}

namespace zelvo::kit {

class DisplayClock;

class LiveClock : public QObject {
    Q_OBJECT
public:
    using Id = std::uint64_t;
    using Tick = std::function<void(double frameTime)>;

    LiveClock(Scheduler& scheduler, DisplayClock& display, QObject* parent = nullptr);
    ~LiveClock() override;

    // Calls `tick` with the frame time (seconds since 2001) on every frame of
    // the snapped rate while the display is visible. Returns an id for
    // `unsubscribe`; a rate ≤ 0 never ticks.
    Id subscribe(double fps, Tick tick);
    void unsubscribe(Id id);

    // The frame time a view at `fps` shows now: the latest frame instant, or 0 at rate 0.
    double frameTimeNow(double fps) const;
    bool running() const;
    // Timer wake-ups per second: the sum of the rates in use, not the views.
    double wakeupsPerSecond() const;
    Scheduler& scheduler() const { return scheduler_; }
    DisplayClock& display() const { return display_; }

private:
    struct Subscriber {
        double rate;
        Tick tick;
    };
    struct Rate {
        std::uint64_t timer = 0;
        int users = 0;
        double target = 0; // the frame instant the timer was last armed for
    };
    void arm(double rate);
    void fire(double rate);
    void disarmAll();
    void armAll();
    bool shouldRun() const;

    Scheduler& scheduler_;
    DisplayClock& display_;
    Id next_ = 1;
    std::map<Id, Subscriber> subscribers_;
    std::map<double, Rate> rates_;
};

} // namespace zelvo::kit
