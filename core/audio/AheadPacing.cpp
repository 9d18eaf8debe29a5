#include "audio/AheadPacing.h"

#include <algorithm>

namespace zelvo {

SliceBursts noteSlice(const SliceBursts& before, std::int64_t startedAt, int frames, double sampleRate) noexcept
{
    SliceBursts b = before;
    const bool continues = b.lastNs > 0 && startedAt - b.endedAt < b.lastNs / 4;
    if (!continues) {
        b.burstAt = startedAt;
        b.burstFrames = 0;
    }
    b.burstFrames += std::max(frames, 0);
    const std::int64_t sinceWindow = startedAt - b.windowAt;
    if (!b.windowOpen || sinceWindow >= SliceBursts::kSpanWindowNs || sinceWindow < 0) {
        // A new window; the one before counts only when it just ended (a
        // device silent for a whole window shows nothing of its old bursts).
        // A burst under way counts in full in the window it ends in.
        const bool adjoining = b.windowOpen && sinceWindow >= 0 && sinceWindow < 2 * SliceBursts::kSpanWindowNs;
        b.earlierMost = adjoining ? b.windowMost : 0;
        b.windowMost = 0;
        b.windowAt = startedAt;
        b.windowOpen = true;
    }
    b.windowMost = std::max(b.windowMost, b.burstFrames);
    b.span = std::max(b.windowMost, b.earlierMost);
    b.lastNs = sampleRate > 0.0 ? std::int64_t(double(std::max(frames, 0)) * 1e9 / sampleRate) : 0;
    return b;
}

std::int64_t nextSliceAt(const SliceBursts& bursts, double sampleRate) noexcept
{
    return bursts.burstAt + (sampleRate > 0.0 ? std::int64_t(double(bursts.burstFrames) * 1e9 / sampleRate) : 0);
}

AheadLook paceAhead(const AheadPace& pace, const AheadSlices& newest, std::int64_t now) noexcept
{
    AheadLook look;
    look.pace = pace;
    if (newest.count != pace.seen) {
        look.pace.seen = newest.count;
        look.what = AheadLook::Do::serve;
        return look;
    }
    if (newest.count == 0)
        return look; // nothing rendered ahead yet: parked
    // Only the newest slice counts: its length and when the device asks again
    // come from what the device did, never from how long the decks stood still.
    // A slice not there when due is looked for again every eighth of a slice;
    // one that does not come within two slices (and 4 ms) means the decks or
    // the device stopped, and the worker parks until the audio thread wakes it.
    const std::int64_t slice = std::max<std::int64_t>(newest.sliceNs, 1);
    const std::int64_t step = std::max<std::int64_t>(slice / 8, 20'000);
    const std::int64_t grace = std::max<std::int64_t>(2 * slice, 4'000'000);
    look.what = AheadLook::Do::sleep;
    if (now < newest.nextAt)
        look.until = newest.nextAt + step;
    else if (now < newest.nextAt + grace)
        look.until = now + step;
    else
        look.what = AheadLook::Do::park;
    return look;
}

} // namespace zelvo
