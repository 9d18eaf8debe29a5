#pragma once
// The real time-pitch stage, wrapped so tests can count the work a deck gives
// it: frames pulled through its input callback or fed to it, renders, and
// output taken out. The counters are atomics, so a test may read them while a
// worker thread drives the unit.
#include "audio/HostedUnitRegistry.h"
#include "platform/HostedUnitComponent.h"

#include <atomic>
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

// While alive, every deck voice built gets the real stage behind a counter; the
// counters of the units made so far, in the order they were made.
class CountingTimePitchInstall {
public:
    CountingTimePitchInstall();
    int made() const { return int(work_->size()); }
    const TimePitchWork& work(int i) const { return *(*work_)[std::size_t(i)]; }

private:
    std::shared_ptr<std::vector<std::unique_ptr<TimePitchWork>>> work_;
    HostedUnitRegistry::Override override_;
};

} // namespace zelvo::test
