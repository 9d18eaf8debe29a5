#pragma once
// Time and timers. Every timed rule of the program (debounces, watchdogs, the
// janitor, note lifetimes, animation frames) goes through a Scheduler, so tests
// drive time by hand and never sleep.
#include <QDateTime>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QTimer;

namespace zelvo {

class Scheduler {
public:
    using TimerId = std::uint64_t;
    virtual ~Scheduler() = default;

    // Wall-clock date, for stored dates and time stamps. Any thread.
    virtual QDateTime now() const = 0;
    // Monotonic seconds since an arbitrary origin, for durations and time-outs.
    // Any thread.
    virtual double uptime() const = 0;

    // Runs `work` once, `seconds` from now, on the scheduler's thread (the main
    // thread). Returns an id for `cancel`; never 0. Main thread.
    virtual TimerId runAfter(double seconds, std::function<void()> work) = 0;
    // Runs `work` every `seconds` until cancelled. Main thread.
    virtual TimerId runEvery(double seconds, std::function<void()> work) = 0;
    // Stops a pending timer; unknown or finished ids are ignored. Main thread.
    virtual void cancel(TimerId id) = 0;
};

// The real scheduler: Qt timers on the thread that owns it (the main event loop).
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    QDateTime now() const override;
    double uptime() const override;
    TimerId runAfter(double seconds, std::function<void()> work) override;
    TimerId runEvery(double seconds, std::function<void()> work) override;
    void cancel(TimerId id) override;

private:
    TimerId start(double seconds, bool repeat, std::function<void()> work);

    TimerId next_ = 1;
    std::map<TimerId, QTimer*> timers_;
};

// A scheduler for tests: both clocks stand still until `advance` moves them
// together, running due timers in deadline order (ties in the order they were
// scheduled). Single-threaded.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC),
                             double uptime = 1000.0);

    QDateTime now() const override;
    double uptime() const override { return uptime_; }
    TimerId runAfter(double seconds, std::function<void()> work) override;
    TimerId runEvery(double seconds, std::function<void()> work) override;
    void cancel(TimerId id) override;

    // Moves time forward by `seconds`, firing every timer that falls due on the way
    // with the clocks set to its deadline.
    void advance(double seconds);
    // Fires what is due now without moving time.
    void runDue() { advance(0.0); }
    // Timers still pending.
    std::size_t pending() const { return timers_.size(); }

private:
    struct Timer {
        double due;
        double period; // 0 for one-shot
        std::uint64_t order;
        std::function<void()> work;
    };

    QDateTime start_;
    double startUptime_;
    double uptime_;
    TimerId next_ = 1;
    std::uint64_t order_ = 0;
    std::map<TimerId, Timer> timers_;
};

} // namespace zelvo
