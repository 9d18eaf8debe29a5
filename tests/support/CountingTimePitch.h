#pragma once
// The real time-pitch stage, wrapped so tests can count the work a deck gives
// it: frames pulled through its input callback or fed to it, renders, and
// output taken out. The counters are atomics, so a test may read them while a
// worker thread drives the unit.
#include "audio/HostedUnitRegistry.h"
#include "platform/HostedUnitComponent.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelvo::test {

struct TimePitchWork {
    // Input frames the unit took, pulled (audio thread) or fed (worker).
    std::atomic<std::int64_t> input{0};
    // Calls that asked it for output: renders, prepares, retrieves.
    std::atomic<std::int64_t> outputCalls{0};
    std::atomic<std::int64_t> resets{0};
    // Calls made while subnormal values were not flushed to zero on the caller's thread.
    std::atomic<std::int64_t> unflushed{0};

    std::int64_t total() const { return input.load() + outputCalls.load() + resets.load(); }
};

// A reset of one unit, or output taken out of it (retrieved or rendered), in
// the order the units' callers made them.
struct TimePitchEvent {
    int unit = 0;    // in the order the units were made
    int frames = -1; // frames asked for; -1 for a reset
};

// The events of all units, kept in a log sized up front (so recording neither
// allocates nor locks); events past its size are counted, not kept.
class TimePitchEvents {
public:
    explicit TimePitchEvents(std::size_t capacity) : log_(capacity) {}
    void record(int unit, int frames);
    // Events recorded so far, at most the log's size. Read it once the units'
    // threads are done with them.
    std::vector<TimePitchEvent> recorded() const;
    std::int64_t lost() const;
    // Forgets what was recorded. While no unit runs.
    void clear() { next_.store(0); }

private:
    std::vector<TimePitchEvent> log_;
    std::atomic<std::int64_t> next_{0};
};

// While alive, every deck voice built gets the real stage behind a counter; the
// counters of the units made so far, in the order they were made, and the
// order of their resets and output.
class CountingTimePitchInstall {
public:
    CountingTimePitchInstall();
    int made() const { return int(work_->size()); }
    const TimePitchWork& work(int i) const { return *(*work_)[std::size_t(i)]; }
    TimePitchEvents& events() { return *events_; }

private:
    std::shared_ptr<std::vector<std::unique_ptr<TimePitchWork>>> work_;
    std::shared_ptr<TimePitchEvents> events_;
    HostedUnitRegistry::Override override_;
};

} // namespace zelvo::test
