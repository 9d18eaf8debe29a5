#include "platform/Scheduler.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace zelvo {

namespace {

int toMilliseconds(double seconds)
{
    if (!(seconds > 0))
        return 0;
    return int(std::min(std::ceil(seconds * 1000.0), 2.0e9));
}

const QElapsedTimer& processClock()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}

} // namespace

QtScheduler::QtScheduler() = default;

QtScheduler::~QtScheduler()
{
    for (auto& [id, timer] : timers_)
        delete timer;
}

QDateTime QtScheduler::now() const
{
    return QDateTime::currentDateTimeUtc();
}

double QtScheduler::uptime() const
{
    return double(processClock().nsecsElapsed()) * 1e-9;
}

Scheduler::TimerId QtScheduler::runAfter(double seconds, std::function<void()> work)
{
    return start(seconds, false, std::move(work));
}

Scheduler::TimerId QtScheduler::runEvery(double seconds, std::function<void()> work)
{
    return start(seconds, true, std::move(work));
}

Scheduler::TimerId QtScheduler::start(double seconds, bool repeat, std::function<void()> work)
{
    const TimerId id = next_++;
    auto* timer = new QTimer();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(!repeat);
    timer->setInterval(toMilliseconds(seconds));
    QObject::connect(timer, &QTimer::timeout, timer, [this, id, repeat, work = std::move(work)] {
        if (!repeat) {
            // Forget the timer before running, so the work may schedule or cancel freely.
            auto it = timers_.find(id);
            if (it != timers_.end()) {
                it->second->deleteLater();
                timers_.erase(it);
            }
        }
        work();
    });
    timers_[id] = timer;
    timer->start();
    return id;
}

void QtScheduler::cancel(TimerId id)
{
    auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

ManualScheduler::ManualScheduler(QDateTime start, double uptime)
    : start_(std::move(start)), startUptime_(uptime), uptime_(uptime)
{
}

QDateTime ManualScheduler::now() const
{
    return start_.addMSecs(qint64(std::llround((uptime_ - startUptime_) * 1000.0)));
}

Scheduler::TimerId ManualScheduler::runAfter(double seconds, std::function<void()> work)
{
    const TimerId id = next_++;
    timers_[id] = Timer{uptime_ + std::max(seconds, 0.0), 0.0, order_++, std::move(work)};
    return id;
}

Scheduler::TimerId ManualScheduler::runEvery(double seconds, std::function<void()> work)
{
    const TimerId id = next_++;
    // A zero period would fire forever within one advance; treat it as one millisecond.
    const double period = std::max(seconds, 0.001);
    timers_[id] = Timer{uptime_ + period, period, order_++, std::move(work)};
    return id;
}

void ManualScheduler::cancel(TimerId id)
{
    timers_.erase(id);
}

void ManualScheduler::advance(double seconds)
{
    const double end = uptime_ + std::max(seconds, 0.0);
    for (;;) {
        auto due = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due > end)
                continue;
            if (due == timers_.end() || it->second.due < due->second.due
                || (it->second.due == due->second.due && it->second.order < due->second.order))
                due = it;
        }
        if (due == timers_.end())
            break;
        uptime_ = std::max(uptime_, due->second.due);
        std::function<void()> work = due->second.work;
        if (due->second.period > 0) {
            due->second.due += due->second.period;
            due->second.order = order_++;
        } else {
            timers_.erase(due);
        }
        work();
    }
    uptime_ = end;
}

} // namespace zelvo
