#pragma once
// The frame schedule of live views: a whole-number divisor of 60 frames per
// second, aligned to multiples of the step since 2001-01-01 UTC so views at
// equal rates tick together. A pure value; any thread.
#include <QDateTime>
#include <optional>

namespace zelvo::kit {

// Seconds since 2001-01-01 00:00:00 UTC, the reference date of frame times.
double secondsSinceReference(const QDateTime& date);

class LiveSchedule {
public:
    // Paused when `paused`, when `fps` ≤ 0, or when the process is frozen.
    LiveSchedule(double fps, bool paused);

    // The first rate of 60, 30, 20, 15, 12, 10, 6, 5, 4, 3, 2, 1 not above `fps`; 1 below that.
    static double snappedRate(double fps);
    // True when the environment holds KAVRI_FREEZE (any value); read once.
    static bool frozen();

    double interval() const { return interval_; }
    bool paused() const { return paused_; }
    // The step: the interval, or 1 s in low-frequency mode when the interval is shorter.
    double step(bool lowFrequency = false) const;
    // The first frame at or before `from` (seconds since the reference).
    double firstFrame(double from, bool lowFrequency = false) const;

    // Frame times from a start, produced lazily: a paused schedule yields its
    // first frame and then ends.
    class Entries {
    public:
        std::optional<double> next();

    private:
        friend class LiveSchedule;
        Entries(double first, double step, bool paused) : at_(first), step_(step), paused_(paused) {}
        double at_;
        double step_;
        bool paused_;
        bool started_ = false;
    };
    Entries entries(double from, bool lowFrequency = false) const;

private:
    double interval_;
    bool paused_;
};

} // namespace zelvo::kit
