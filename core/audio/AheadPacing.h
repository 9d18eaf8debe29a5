#pragma once
// The render-ahead worker's pacing, as plain functions of the slice times and
// the clock, so tests can drive them with made-up times. The audio thread
// notes how the device calls it (`noteSlice`) and publishes the newest slice in
// which a deck rendered ahead (`AheadSlices`); the worker, on its own timer,
// decides from that and the clock whether to work, when to look again, or to
// park until the audio thread wakes it (`paceAhead`). All times are
// nanoseconds of the monotonic clock.
#include <cstdint>

namespace zelvo {

// How a device calls the engine: slices rendered back to back form a burst (a
// device whose period is longer than the slices it asks for, or one catching
// up), and the device asks again once it has played the burst.
//
// The span the worker's lead covers is the most frames of one burst within the
// last window or two (`kSpanWindowNs`): a device that calls in bursts all the
// time keeps it, while the burst every device makes once (filling its buffer
// when it opens or recovers, catching up after a stall) raises it only until
// the windows have passed, so the lead and a run's start pad come back to what
// the device's steady calling needs.
struct SliceBursts {
    static constexpr std::int64_t kSpanWindowNs = 600'000'000;

    std::int64_t burstAt = 0;     // when the current burst's first slice began
    std::int64_t burstFrames = 0; // frames rendered in it so far
    std::int64_t endedAt = 0;     // when the last slice ended (set by the caller)
    std::int64_t lastNs = 0;      // the last slice's length of audio
    bool windowOpen = false;      // a window has begun
    std::int64_t windowAt = 0;    // when the current window began
    std::int64_t windowMost = 0;  // the most frames in one burst in the current window
    std::int64_t earlierMost = 0; // the same in the window before it
    std::int64_t span = 0;        // the larger of the two: the burst the lead covers now
};

// `before` with a slice of `frames` that began at `startedAt`: a slice that
// begins less than a quarter of the last slice's length after it ended
// continues its burst.
SliceBursts noteSlice(const SliceBursts& before, std::int64_t startedAt, int frames, double sampleRate) noexcept;
// When the device should ask for the slice after the burst so far.
std::int64_t nextSliceAt(const SliceBursts& bursts, double sampleRate) noexcept;

// What the audio thread publishes after a slice in which a deck rendered ahead.
struct AheadSlices {
    std::uint64_t count = 0; // such slices so far
    std::int64_t nextAt = 0; // when the device should ask for the slice after the newest
    std::int64_t sliceNs = 0; // the newest slice's length of audio
};

// What the worker knows between looks.
struct AheadPace {
    std::uint64_t seen = 0; // slices whose requests it took on
};

struct AheadLook {
    enum class Do { serve, sleep, park };
    Do what = Do::park;
    std::int64_t until = 0; // sleep: when to look again
    AheadPace pace;         // what the worker knows after this look
};

// The pacing rule: serve new slices at once; otherwise sleep until a little
// after the device should have asked for the next slice, then look again in
// short steps, and park once it is well overdue. Sleeps end early when the
// audio thread wakes the worker (the first slice of a new unit run, whose next
// slice is due one slice later; any slice while it is parked).
AheadLook paceAhead(const AheadPace& pace, const AheadSlices& newest, std::int64_t now) noexcept;

} // namespace zelvo
