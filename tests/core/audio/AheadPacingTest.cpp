// The render-ahead worker's pacing, driven with made-up slice times: a device
// calling at its cadence (with some jitter, or in bursts of slices rendered
// back to back), decks that stop for a while and play again, and a worker that
// looks only when the pacing rule says (or when the audio thread wakes it, as
// the engine does: at the first slice of a new unit run, and to rouse it from
// parking). Every slice asks for output as the voices do (two of the longest
// slices or bursts past itself and at least 10.5 ms; a run starts with a pad
// of silence of whole bursts, at least 5 ms); the output must be made with
// a quarter of a slice to spare before the slice that plays it begins.
#include "audio/AheadPacing.h"
#include "audio/DeckVoice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

using namespace zelvo;

namespace pacing_test {

constexpr double kRate = 48000.0;
constexpr std::int64_t kMs = 1'000'000;
// How late a thread wakes after its timer, or after the audio thread's post.
constexpr std::int64_t kTimerLate = 60'000;
constexpr std::int64_t kPostLate = 40'000;

struct Slice {
    std::int64_t at = 0; // when the device asked for it
    int frames = 0;
    bool ahead = false;  // a deck rendered ahead in it
    bool newRun = false; // the first slice of a unit run
};

std::int64_t lengthNs(int frames) { return std::int64_t(double(frames) * 1e9 / kRate); }

// A device asking for `frames` at a time, `perBurst` slices back to back per
// period, for `seconds`; the decks stand still for `stopMs` from 1 s on. Each
// period starts up to a fifth of it late.
std::vector<Slice> device(int frames, int perBurst, double seconds, int stopMs, unsigned seed)
{
    std::mt19937 rng(seed);
    const std::int64_t period = lengthNs(frames * perBurst);
    std::uniform_int_distribution<std::int64_t> late(0, period / 5);
    const std::int64_t render = std::min<std::int64_t>(lengthNs(frames) / 5, 150'000);
    const std::int64_t stopFrom = 1000 * kMs, stopTo = stopFrom + stopMs * kMs;
    std::vector<Slice> slices;
    bool wasAhead = false;
    for (std::int64_t start = 0; start < std::int64_t(seconds * 1e9); start += period) {
        std::int64_t at = start + late(rng);
        for (int s = 0; s < perBurst; ++s, at += render) {
            Slice slice{at, frames, !(at >= stopFrom && at < stopTo), false};
            slice.newRun = slice.ahead && !wasAhead;
            wasAhead = slice.ahead;
            slices.push_back(slice);
        }
    }
    return slices;
}

struct Outcome {
    int late = 0;     // requests served too late
    int requests = 0; // requests checked
    int looks = 0;    // times the worker looked
    int looksInStop = 0;
};

// Runs the worker against `slices` with the pacing rule; the audio thread
// publishes a slice a little after it began (once the voices rendered).
Outcome run(const std::vector<Slice>& slices, std::int64_t stopFrom, std::int64_t stopTo)
{
    const std::size_t n = slices.size();
    std::vector<std::int64_t> published(n);
    std::vector<AheadSlices> after(n);
    std::vector<std::int64_t> longest(n);
    SliceBursts bursts;
    AheadSlices pub;
    for (std::size_t i = 0; i < n; ++i) {
        bursts = noteSlice(bursts, slices[i].at, slices[i].frames, kRate);
        longest[i] = bursts.span;
        const std::int64_t render = std::min<std::int64_t>(lengthNs(slices[i].frames) / 5, 150'000);
        published[i] = slices[i].at + render / 2;
        bursts.endedAt = slices[i].at + render;
        if (slices[i].ahead)
            pub = AheadSlices{pub.count + 1, nextSliceAt(bursts, kRate), lengthNs(slices[i].frames)};
        after[i] = pub;
    }

    Outcome out;
    std::vector<std::int64_t> servedAt(n, -1);
    AheadPace pace;
    bool parked = true;
    std::int64_t wakeAt = 0;
    std::size_t applied = 0; // slices published by the worker's time
    constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
    for (;;) {
        // The worker's next look: its timer, or the audio thread's post.
        std::int64_t w = parked ? never : wakeAt + kTimerLate;
        for (std::size_t i = applied; i < n && published[i] < w; ++i)
            if (slices[i].ahead && (parked || slices[i].newRun)) {
                w = published[i] + kPostLate;
                break;
            }
        if (w == never)
            break;
        while (applied < n && published[applied] <= w)
            ++applied;
        if (applied == n && !parked && w > slices.back().at + 1000 * kMs)
            break;
        ++out.looks;
        if (w >= stopFrom && w < stopTo)
            ++out.looksInStop;
        const AheadSlices seen = applied > 0 ? after[applied - 1] : AheadSlices{};
        for (;;) {
            const AheadLook look = paceAhead(pace, seen, w);
            pace = look.pace;
            if (look.what == AheadLook::Do::serve) {
                for (std::size_t i = 0; i < applied; ++i)
                    if (slices[i].ahead && servedAt[i] < 0)
                        servedAt[i] = w;
                continue;
            }
            parked = look.what == AheadLook::Do::park;
            wakeAt = std::max(look.until, w);
            break;
        }
    }

    // What each slice asked for, as a voice asks, and when it is played.
    std::int64_t rendered = 0, requested = 0, longestSlice = 0;
    std::size_t runStart = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (!slices[k].ahead)
            continue;
        if (slices[k].newRun) {
            rendered = requested = 0;
            runStart = k;
        }
        longestSlice = std::max<std::int64_t>(longestSlice, slices[k].frames);
        const std::int64_t span = std::max(longestSlice, longest[k]);
        // A run starts with a pad of silence, as the voice plays it.
        const std::int64_t first = slices[k].newRun ? DeckVoice::aheadStartPadFrames(int(span), kRate) : requested;
        requested = std::max(requested, rendered + slices[k].frames + DeckVoice::aheadHorizonFrames(int(span), kRate));
        rendered += slices[k].frames;
        // A device's first moments go by before its bursts are known.
        if (requested <= first || slices[k].at < 50 * kMs)
            continue;
        // The slice of this run that plays frame `first`.
        std::int64_t frame = 0;
        for (std::size_t j = runStart; j < n && slices[j].ahead; ++j) {
            if (frame + slices[j].frames > first) {
                ++out.requests;
                if (servedAt[k] < 0 || servedAt[k] > slices[j].at - lengthNs(slices[j].frames) / 4) {
                    if (out.late++ == 0)
                        ADD_FAILURE() << "slice " << k << " at " << slices[k].at / 1e6 << " ms served at "
                                  << servedAt[k] / 1e6 << " ms, played at " << slices[j].at / 1e6 << " ms";
                }
                break;
            }
            frame += slices[j].frames;
        }
    }
    return out;
}


TEST(AheadPacing, EveryRequestIsServedInTimeAfterAStopOfAnyLength)
{
    for (int frames : {32, 64, 128, 256, 1024, 4096})
        for (int stopMs : {0, 50, 100, 150, 200, 240, 300, 1000}) {
            SCOPED_TRACE(testing::Message() << frames << " frames, stop " << stopMs << " ms");
            const double seconds = 2.0 + stopMs / 1000.0;
            const Outcome o = run(device(frames, 1, seconds, stopMs, unsigned(frames + stopMs)), 1000 * kMs,
                                  (1000 + stopMs) * kMs);
            EXPECT_GT(o.requests, 10);
            EXPECT_EQ(o.late, 0) << "of " << o.requests;
            // The worker looks a few times a slice at most, and parks in a long stop.
            const int slicesPlayed = int(seconds * kRate / frames);
            EXPECT_LE(o.looks, 4 * slicesPlayed + 20);
            if (stopMs >= 300) {
                EXPECT_LE(o.looksInStop, 64);
            }
        }
}

TEST(AheadPacing, ADeviceCallingInBurstsIsServedInTime)
{
    // A 1024-frame period rendered as four slices of 256 back to back (and as
    // two of 512, and 4096 as sixteen of 256), with and without a stop.
    struct Case {
        int frames, perBurst;
    };
    for (const Case c : {Case{256, 4}, Case{512, 2}, Case{256, 16}, Case{64, 4}})
        for (int stopMs : {0, 100, 240}) {
            SCOPED_TRACE(testing::Message() << c.perBurst << " x " << c.frames << " frames, stop " << stopMs << " ms");
            const Outcome o = run(device(c.frames, c.perBurst, 3.0, stopMs, unsigned(c.frames * c.perBurst + stopMs)),
                                  1000 * kMs, (1000 + stopMs) * kMs);
            EXPECT_GT(o.requests, 10);
            EXPECT_EQ(o.late, 0) << "of " << o.requests;
        }
}

TEST(AheadPacing, TheLeadFollowsHowTheDeviceCallsNow)
{
    // A device that opens with four renders back to back (its buffer filled
    // before it starts), then calls once a period, stalls at 3 s and catches up
    // with eight back to back: the span the lead covers rises with each burst
    // and is back to one period within 1.5 s of it. A device that calls in
    // bursts of four all the time keeps the span of four.
    for (int frames : {64, 256, 512, 1024, 4096}) {
        SCOPED_TRACE(testing::Message() << frames << " frames");
        const std::int64_t period = lengthNs(frames);
        const std::int64_t render = std::min<std::int64_t>(period / 5, 150'000);
        SliceBursts b;
        std::int64_t at = 1000 * kMs; // monotonic time is far from 0
        // Renders back to back, then the device asks again a period later.
        auto call = [&](int backToBack) {
            for (int k = 0; k < backToBack; ++k, at += render) {
                b = noteSlice(b, at, frames, kRate);
                b.endedAt = at + render;
            }
            at += period - render;
        };
        auto playFor = [&](std::int64_t ns) {
            for (const std::int64_t until = at + ns; at < until;)
                call(1);
        };
        call(4);
        EXPECT_EQ(b.span, 4 * frames) << "the start burst is covered";
        playFor(1500 * kMs);
        EXPECT_EQ(b.span, frames) << "1.5 s after the start burst";
        playFor(1500 * kMs);
        at += 8 * period; // the stall
        call(8);
        EXPECT_EQ(b.span, 8 * frames) << "the catch-up is covered";
        playFor(300 * kMs);
        EXPECT_EQ(b.span, 8 * frames) << "and stays covered for a while";
        playFor(1200 * kMs);
        EXPECT_EQ(b.span, frames) << "1.5 s after the catch-up";

        SliceBursts steady;
        at += 5000 * kMs;
        for (std::int64_t until = at + 3000 * kMs; at < until; at += 4 * period - 4 * render)
            for (int k = 0; k < 4; ++k, at += render) {
                steady = noteSlice(steady, at, frames, kRate);
                steady.endedAt = at + render;
                if (at > until - 2000 * kMs) {
                    ASSERT_EQ(steady.span, 4 * frames) << "a device calling in bursts keeps its span";
                }
            }
    }
}

} // namespace pacing_test
