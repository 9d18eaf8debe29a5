#pragma once
// What a deck publishes on every render: single-word cells written by the deck's
// voice on the audio thread and read by anyone (the deck model polls them).
// Times are seconds of the track. A reader combining several cells may see values
// from two different renders; the cue revision and the timeline are the
// exceptions (see below).
#include "audio/AtomicCells.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <thread>

namespace zelvo {

class DeckState {
public:
    static constexpr int kHotCues = 8;

    DeckState() = default;
    DeckState(const DeckState&) = delete;
    DeckState& operator=(const DeckState&) = delete;

    AtomicDouble position{0.0};     // play position, ≥ 0; lags by the time-pitch latency while in use
    // Seconds by which every swap or take-over so far moved the playhead back
    // (each hands over a buffer that continues the music heard, so the same
    // music goes on at another time of the new buffer): position + swapShift
    // runs on with the music across them. Read it with the position through
    // `timeline`.
    AtomicDouble swapShift{0.0};
    AtomicDouble slipPosition{0.0}; // where playback would be without the slip diversion
    AtomicDouble duration{0.0};     // buffer length; 0 without a buffer
    AtomicBool playing{false};
    AtomicBool cueing{false};       // the cue button or a hot cue is held
    AtomicDouble cuePoint{0.0};
    AtomicDouble loopStart{-1.0};   // −1 when unset
    AtomicDouble loopEnd{-1.0};     // −1 when unset
    AtomicBool loopActive{false};
    AtomicDouble speed{1.0};        // source frames per output frame in the last render
    AtomicBool slipOn{false};
    AtomicBool reverseOn{false};
    AtomicBool quantizeOn{true};
    AtomicBool keyLockOn{true};
    AtomicBool vinylOn{true};
    AtomicBool jogTouched{false};
    AtomicDouble peakL{0.0};        // held peak of the deck's output, decaying by 0.93 per render
    AtomicDouble peakR{0.0};
    AtomicBool loaded{false};
    std::array<AtomicDouble, kHotCues> hotCues{AtomicDouble(-1.0), AtomicDouble(-1.0), AtomicDouble(-1.0),
                                               AtomicDouble(-1.0), AtomicDouble(-1.0), AtomicDouble(-1.0),
                                               AtomicDouble(-1.0), AtomicDouble(-1.0)};
    // Counts the cue changes the voice made itself (cue button, empty hot cue
    // pad, swap). It is stored after the cue cells of the same render, with
    // release ordering: read it with `cueRevisionAcquire` and the cue point and hot
    // cues read afterwards are at least as new. Written only by the voice.
    AtomicInt cueRevision{0};
    // Counts the commands the voice has carried out. Stored after the other
    // cells of the render that carried them out, with release ordering: read
    // it with acquire ordering (`commandsTakenAcquire`) and the cells read
    // afterwards are at least as new. Written only by the voice.
    AtomicInt commandsTaken{0};
    std::int64_t commandsTakenAcquire() const noexcept
    {
        const std::int64_t taken = commandsTaken.load();
        std::atomic_thread_fence(std::memory_order_acquire);
        return taken;
    }

    // The position and swap shift of one render. Written by the voice between
    // `beginTimeline` and `endTimeline`; a reader that overlaps a write reads
    // again until it does not, so it never pairs one render's position with
    // another's shift. The voice never waits for a reader. Not on the audio
    // thread: a reader may wait for the voice to finish its write (a few
    // stores, unless the voice was preempted in between).
    struct Timeline {
        double position = 0.0;
        double swapShift = 0.0;
        // The writes counted when it was read (even: none open). A timeline
        // read with `writes` ≥ w + 2 was written after one read with w.
        std::int64_t writes = 0;
    };
    Timeline timeline() const noexcept
    {
        for (int attempt = 0;; ++attempt) {
            const std::int64_t before = timelineWrites.load();
            std::atomic_thread_fence(std::memory_order_acquire);
            Timeline t{position.load(), swapShift.load(), before};
            std::atomic_thread_fence(std::memory_order_acquire);
            if ((before & 1) == 0 && timelineWrites.load() == before)
                return t;
            // A write still open after many tries: the voice's thread lost its
            // core mid-write; let it have one.
            if (attempt >= 64)
                std::this_thread::yield();
        }
    }
    // The voice's side of `timeline`. Audio thread.
    void beginTimeline() noexcept
    {
        timelineWrites.store(timelineWrites.load() + 1);
        std::atomic_thread_fence(std::memory_order_release);
    }
    void endTimeline() noexcept
    {
        std::atomic_thread_fence(std::memory_order_release);
        timelineWrites.store(timelineWrites.load() + 1);
    }
    // Odd while the voice writes the position and the swap shift.
    AtomicInt timelineWrites{0};

    // The cue revision, with acquire ordering. Any thread.
    std::int64_t cueRevisionAcquire() const noexcept
    {
        const std::int64_t r = cueRevision.load();
        std::atomic_thread_fence(std::memory_order_acquire);
        return r;
    }
};

} // namespace zelvo
