#include "platform/Scheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <vector>

namespace zelvo {
namespace {

TEST(ManualSchedulerTest, FiresTimersInDeadlineOrderWithTheClocksAtTheirDeadline)
{
    ManualScheduler s;
    const double t0 = s.uptime();
    const QDateTime d0 = s.now();
    std::vector<std::pair<int, double>> fired;
    s.runAfter(0.6, [&] { fired.push_back({1, s.uptime() - t0}); });
    s.runAfter(0.2, [&] { fired.push_back({2, s.uptime() - t0}); });
    s.runAfter(0.2, [&] { fired.push_back({3, s.uptime() - t0}); });
    const auto cancelled = s.runAfter(0.3, [&] { fired.push_back({4, 0}); });
    s.cancel(cancelled);

    s.advance(0.5);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].first, 2);
    EXPECT_EQ(fired[1].first, 3);
    EXPECT_NEAR(fired[0].second, 0.2, 1e-9);
    EXPECT_NEAR(s.uptime() - t0, 0.5, 1e-9);
    EXPECT_EQ(d0.msecsTo(s.now()), 500);

    s.advance(0.1);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[2].first, 1);
    EXPECT_EQ(s.pending(), 0u);
}

TEST(ManualSchedulerTest, RepeatingTimersAndTimersScheduledFromWork)
{
    ManualScheduler s;
    int ticks = 0;
    int late = 0;
    Scheduler::TimerId every = 0;
    every = s.runEvery(0.05, [&] {
        if (++ticks == 3)
            s.runAfter(0.0, [&] { ++late; }); // due at once, within the same advance
        if (ticks == 10)
            s.cancel(every);
    });
    s.advance(1.0);
    EXPECT_EQ(ticks, 10);
    EXPECT_EQ(late, 1);
    EXPECT_EQ(s.pending(), 0u);
}

TEST(QtSchedulerTest, RunsOnTheEventLoopAndCancels)
{
    QtScheduler s;
    bool fired = false;
    bool cancelledFired = false;
    const double start = s.uptime();
    s.runAfter(0.01, [&] { fired = true; });
    s.cancel(s.runAfter(0.0, [&] { cancelledFired = true; }));
    QElapsedTimer guard;
    guard.start();
    while (!fired && guard.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(fired);
    EXPECT_FALSE(cancelledFired);
    EXPECT_GE(s.uptime() - start, 0.009);
}

} // namespace
} // namespace zelvo
