// Key-locked decks rendered ahead on the engine's own worker at a device's
// pace: the worker keeps up without being woken on every slice, and runs that
// start together get their first output in time. They measure wall-clock
// pacing, so they run alone (and CI runs them again from an optimised build,
// where the worker's rounds take what they take in use).
#include "audio/DeckVoice.h"
#include "audio/MixEngine.h"

#include "DeckVoiceSupport.h"
#include "support/CountingTimePitch.h"
#include "support/RealtimeGuard.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

using namespace zelvo;
using namespace zelvo::test;

namespace {

constexpr double kSerialRate = 48000.0;

TrackBufferRef serialMusic(double seconds)
{
    return busyMusic(seconds, kSerialRate);
}

// How long a thread has waited for a core while ready to run (the kernel's
// run-queue delay, in ns, from its `schedstat`), or −1 where the kernel does
// not say.
std::int64_t runQueueWaitNs(const std::string& schedstat)
{
    std::ifstream f(schedstat);
    std::int64_t ran = 0, waited = 0;
    return f >> ran >> waited ? waited : -1;
}

// The calling thread's run-queue delay. Only this thread's: a worker kept
// from its core is the engine's to survive, not an excuse.
std::int64_t ownRunQueueWaitNs() { return runQueueWaitNs("/proc/thread-self/schedstat"); }

// The run-queue delay of this process's thread `tid` (−1: not known).
std::int64_t threadRunQueueWaitNs(long tid)
{
    return tid > 0 ? runQueueWaitNs("/proc/self/task/" + std::to_string(tid) + "/schedstat") : -1;
}

// The test's thread kept from its core for more than `limitNs` since `since`
// (a reading of ownRunQueueWaitNs), as the kernel measured it.
bool ownThreadWaited(std::int64_t since, std::int64_t limitNs)
{
    const std::int64_t now = ownRunQueueWaitNs();
    return since >= 0 && now >= 0 && now - since > limitNs;
}

// The ids of this process's threads, sorted (empty where the kernel does not
// say).
std::vector<long> threadIds()
{
    std::vector<long> ids;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        char* end = nullptr;
        const std::string name = task.path().filename().string();
        const long id = std::strtol(name.c_str(), &end, 10);
        if (end != name.c_str() && *end == '\0')
            ids.push_back(id);
    }
    if (error)
        ids.clear();
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The kernel's id of the engine's render-ahead worker, or −1 where it is not
// known. Linux makes a thread's CPU clock id from its thread id (~id << 3,
// with the bits for a thread's scheduler clock below), so the worker's handle
// gives it; the id must be one of `begun`, the threads that began with the
// engine, or it is not trusted.
long workerThreadId(MixEngine& engine, const std::vector<long>& begun)
{
    clockid_t clock{};
    if (pthread_getcpuclockid(engine.aheadWorker(), &clock) != 0 || (clock & 7) != 6)
        return -1;
    const long id = long(~(clock >> 3));
    return std::find(begun.begin(), begun.end(), id) != begun.end() ? id : -1;
}

// The threads in `after` that are not in `before` (both from threadIds).
std::vector<long> threadsBegun(const std::vector<long>& before, const std::vector<long>& after)
{
    std::vector<long> begun;
    if (!before.empty())
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(begun));
    return begun;
}

// While alive, the calling thread runs at the priority a device's thread asks
// for (the output backends ask for SCHED_FIFO 10, one step above the
// engine's worker), as the audio thread does in use: the worker never takes
// its core from under it, so a stall measured on it is the machine's, never
// the worker's own work. Where the system refuses, nothing changes.
class DeviceThreadPriority {
public:
    DeviceThreadPriority()
    {
        pthread_getschedparam(pthread_self(), &policy_, &param_);
        sched_param device{};
        device.sched_priority = std::max(sched_get_priority_min(SCHED_FIFO), 10);
        raised_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &device) == 0;
    }
    ~DeviceThreadPriority()
    {
        if (raised_)
            pthread_setschedparam(pthread_self(), policy_, &param_);
    }
    DeviceThreadPriority(const DeviceThreadPriority&) = delete;
    DeviceThreadPriority& operator=(const DeviceThreadPriority&) = delete;

private:
    int policy_ = SCHED_OTHER;
    sched_param param_{};
    bool raised_ = false;
};

enum class Start { fromStop, keyLockOn, tempoCrossing };

// The engine, on its own worker or with the worker's rounds run by hand, and
// the buffers of its four outputs, rendered in slices of `frames`.
struct FourDecks {
    FourDecks(MixEngine::RenderAhead ahead, int frames)
        : engine(kSerialRate, 4096, ahead), frames(frames)
    {
        for (std::size_t i = 0; i < bufs.size(); ++i) {
            bufs[i].assign(std::size_t(frames), 0.0f);
            ptrs[i] = bufs[i].data();
        }
    }
    // The first decks, one for each of `tracks`, key-locked at `tempo` and
    // playing.
    void play(const std::vector<TrackBufferRef>& tracks, double tempo)
    {
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            DeckVoice& d = *engine.deck(int(i));
            sendOk(d, DeckCommand::load(tracks[i], false));
            sendOk(d, DeckCommand::keyLock(true));
            sendOk(d, DeckCommand::play());
            d.tempo().store(tempo);
        }
    }
    void render() { engine.render(frames, ptrs.data(), int(ptrs.size())); }

    MixEngine engine;
    int frames;
    std::array<std::vector<float>, 4> bufs;
    std::array<float*, 4> ptrs{};
};

// At `stop` every deck leaves its unit run (a pause, key lock off, tempo 1.0);
// at `restart` every deck starts a new one in the same slice.
void changeFourDecks(MixEngine& engine, Start how, bool restart)
{
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        DeckVoice& d = *engine.deck(i);
        if (how == Start::fromStop)
            sendOk(d, restart ? DeckCommand::play() : DeckCommand::pause());
        else if (how == Start::keyLockOn)
            sendOk(d, DeckCommand::keyLock(restart));
        else
            d.tempo().store(restart ? 1.03 : 1.0);
    }
}

// Tries of a case that came in late (under the sanitizers, whose slower
// rounds are not timed, one).
#ifndef ZELVO_SANITIZED
constexpr int kTries = 3;
#else
constexpr int kTries = 1;
#endif

// How four runs started together at a device's pace came in.
struct StartAtPace {
    // Frames the decks held, together, past the start the runs share (their
    // first output was not ready in time), and the first slice after the
    // start whose render ran dry within the runs' first 60 ms (−1: none).
    std::int64_t heldBeyond = 0;
    int dryAt = -1;
    // How late the latest deck came in: the frames it held past the shared
    // start and those it missed in the renders of its first 60 ms.
    std::int64_t lateFrames = 0;
    // From the start on: how long the kernel kept this thread (the audio
    // thread) and the engine's worker waiting for a core while ready to run,
    // each on its own thread, in ns (−1: not known).
    std::int64_t ownWaitNs = -1;
    std::int64_t workerWaitNs = -1;
    // The audio thread never waited, locked or allocated.
    bool clean = true;
    bool onTime() const { return heldBeyond == 0 && dryAt < 0; }
    std::int64_t lateNs() const { return std::int64_t(double(lateFrames) * 1e9 / kSerialRate); }
    // A cause the kernel measured for coming in late: the audio thread or the
    // worker, one of them on its own, kept from its core at least as long as
    // the latest deck came in late.
    bool machineLate() const
    {
        const std::int64_t late = lateNs();
        return (ownWaitNs >= 0 && ownWaitNs >= late) || (workerWaitNs >= 0 && workerWaitNs >= late);
    }
    static std::string us(std::int64_t ns) { return ns < 0 ? "not known" : std::to_string(ns / 1000) + " us"; }
    std::string cause() const
    {
        return "held " + std::to_string(heldBeyond) + " frames past the shared start, first dry slice "
            + std::to_string(dryAt) + ", late " + std::to_string(lateNs() / 1000)
            + " us; kept from a core: audio thread " + us(ownWaitNs) + ", worker " + us(workerWaitNs)
            + (machineLate() ? " (the machine)" : " (no cause measured)");
    }
};

// Four key-locked decks on the engine's own worker, rendered in slices of
// `frames` at a device's pace, leave their runs after 0.3 s and start new
// ones together 0.1 s later (`how`).
StartAtPace startFourRunsAtPace(const std::vector<TrackBufferRef>& tracks, int frames, Start how)
{
    StartAtPace got;
    const std::vector<long> threadsBefore = threadIds();
    FourDecks rig(MixEngine::RenderAhead::thread, frames);
    MixEngine& engine = rig.engine;
    const long worker = workerThreadId(engine, threadsBegun(threadsBefore, threadIds()));
    EXPECT_GT(worker, 0) << "the worker's thread id is not known: no late try can be excused";
    EXPECT_EQ(engine.renderAhead(), MixEngine::RenderAhead::thread);
    rig.play(tracks, 1.03);
    const auto period = std::chrono::nanoseconds(std::int64_t(frames * 1e9 / kSerialRate));
    const int slices = int(0.55 * kSerialRate) / frames;
    const int before = int(0.3 * kSerialRate) / frames; // the decks stop or leave the worker
    const int startAt = before + int(0.1 * kSerialRate) / frames; // and start runs together
    const int watched = std::max(4, int(0.06 * kSerialRate) / frames);
    // What runs starting together wait for each other before their music.
    const std::int64_t shared = DeckVoice::aheadStartPadFrames(frames, kSerialRate, MixEngine::deckCount)
        - DeckVoice::aheadStartPadFrames(frames, kSerialRate, 1);
    const DeviceThreadPriority device;
    std::int64_t dryBefore = 0, waitedAtStart = -1, workerAtStart = -1;
    bool measured = false;
    std::array<std::int64_t, MixEngine::deckCount> heldBefore{}, dryFramesBefore{}, missed{};
    auto next = std::chrono::steady_clock::now();
    RealtimeProbe probe;
    for (int s = 0; s < slices; ++s) {
        if (s == before || s == startAt)
            changeFourDecks(engine, how, s == startAt);
        if (s == startAt) {
            dryBefore = engine.aheadDryBlocks();
            waitedAtStart = ownRunQueueWaitNs();
            workerAtStart = threadRunQueueWaitNs(worker);
            for (int i = 0; i < MixEngine::deckCount; ++i) {
                heldBefore[std::size_t(i)] = engine.deck(i)->aheadLateFrames();
                dryFramesBefore[std::size_t(i)] = engine.deck(i)->aheadDryFrames();
            }
        }
        {
            AudioThreadScope audio;
            rig.render();
        }
        if (s >= startAt && s < startAt + watched && got.dryAt < 0 && engine.aheadDryBlocks() != dryBefore)
            got.dryAt = s - startAt;
        if (s + 1 == startAt + watched)
            for (int i = 0; i < MixEngine::deckCount; ++i)
                missed[std::size_t(i)] = engine.deck(i)->aheadDryFrames() - dryFramesBefore[std::size_t(i)];
        // What kept the threads from their cores counts from the start until
        // the runs' first 60 ms are past and none holds: later waits decide
        // nothing checked here.
        bool holding = false;
        for (int i = 0; i < MixEngine::deckCount; ++i)
            holding = holding || engine.deck(i)->aheadStartHeld();
        if (!measured && s + 1 >= startAt + watched && (!holding || s + 1 == slices)) {
            measured = true;
            const auto since = [](std::int64_t at, std::int64_t now) { return at >= 0 && now >= 0 ? now - at : -1; };
            got.ownWaitNs = since(waitedAtStart, ownRunQueueWaitNs());
            got.workerWaitNs = since(workerAtStart, threadRunQueueWaitNs(worker));
        }
        next = std::max(next + period, std::chrono::steady_clock::now());
        std::this_thread::sleep_until(next);
    }
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        const auto d = std::size_t(i);
        const std::int64_t held = std::max<std::int64_t>(engine.deck(i)->aheadLateFrames() - heldBefore[d] - shared, 0);
        got.heldBeyond = std::max(got.heldBeyond, held);
        got.lateFrames = std::max(got.lateFrames, held + missed[d]);
    }
    got.clean = bool(probe.clean());
    return got;
}

// How the audio thread woke its worker over one try of two decks played,
// paused and played again at a device's pace in slices of 256 frames.
struct WakesAtPace {
    static constexpr int kSlices = 240;
    static constexpr int kBehindAllowed = 12;
    // Wakes the probe counted and the engine counted, slices this thread
    // stalled in, slices after which a deck had nothing ready (stalls
    // aside), and the loudest sample of deck 1.
    std::int64_t wakes = 0;
    std::int64_t engineWakes = 0;
    int stalls = 0;
    int behindSlices = 0;
    float loudest = 0.0f;
    bool clean = true;
    std::int64_t wakesAllowed() const { return 4 + stalls + kBehindAllowed; }
    bool withinBounds() const { return behindSlices <= kBehindAllowed && wakes <= wakesAllowed(); }
};

WakesAtPace wakesAtPace(const std::vector<TrackBufferRef>& tracks)
{
    WakesAtPace got;
    FourDecks rig(MixEngine::RenderAhead::thread, 256);
    MixEngine& engine = rig.engine;
    EXPECT_EQ(engine.renderAhead(), MixEngine::RenderAhead::thread);
    rig.play(tracks, 1.04);
    const DeviceThreadPriority device;
    std::int64_t waitedBefore = ownRunQueueWaitNs();
    RealtimeProbe probe;
    auto next = std::chrono::steady_clock::now();
    auto last = next;
    auto lastDone = next;
    for (int s = 0; s < WakesAtPace::kSlices; ++s) {
        for (int i = 0; i < int(tracks.size()) && (s == 100 || s == 130); ++i)
            sendOk(*engine.deck(i), s == 100 ? DeckCommand::pause() : DeckCommand::play());
        const auto at = std::chrono::steady_clock::now();
        {
            AudioThreadScope audio;
            rig.render();
        }
        const auto done = std::chrono::steady_clock::now();
        const auto late = std::chrono::microseconds(8000);
        const bool starved = ownThreadWaited(waitedBefore, 500'000);
        waitedBefore = ownRunQueueWaitNs();
        const bool stalled = s > 0 && (at - last > late || done - lastDone > late || starved);
        lastDone = done;
        last = at;
        const bool behind = engine.deck(0)->aheadBehind() || engine.deck(1)->aheadBehind();
        got.stalls += stalled ? 1 : 0;
        got.behindSlices += behind && !stalled ? 1 : 0;
        for (float x : rig.bufs[0])
            got.loudest = std::max(got.loudest, std::abs(x));
        // The next slice one slice of audio later, as a device asks (after a
        // stall, not all at once).
        next = std::max(next + std::chrono::microseconds(5333), std::chrono::steady_clock::now());
        std::this_thread::sleep_until(next);
    }
    got.clean = bool(probe.clean());
    got.wakes = probe.counts().wakes;
    got.engineWakes = engine.aheadWorkerWakes();
    return got;
}

} // namespace

TEST(RenderAheadSerial, TheAudioThreadWakesItsWorkerOnlyFromRest)
{
    // Two key-locked decks on the engine's own worker, rendered at a device's
    // pace: the worker keeps up on its own timer, and the audio thread's only
    // wakes come with the decks' first slice, which starts their unit runs and
    // rouses the worker from rest, and with the first slice after they stood
    // still for a while, never one per slice. A slice after which a deck has
    // nothing ready wakes it too: a dozen of those per run at most, whatever
    // the worker does, so a worker late on every slice fails here. A stall of
    // this thread (measured: a slice started or published late, or the kernel
    // kept it waiting for a core) may park the worker and so wake it once
    // more; a worker kept from its core is not excused, but a try that came
    // out of bounds is tried again: a fault wakes too often on every try,
    // while the machine taking the worker's core now and then does not.
    const std::vector<TrackBufferRef> tracks{serialMusic(3.0), serialMusic(4.0)};
    WakesAtPace last;
    bool clean = true;
    int tries = 0;
    while (tries < kTries) {
        last = wakesAtPace(tracks);
        clean = clean && last.clean;
        ++tries;
        if (last.withinBounds())
            break;
    }
    EXPECT_TRUE(clean) << "the audio thread waited, locked or allocated";
    EXPECT_GE(last.wakes, 2);
    EXPECT_LE(last.behindSlices, WakesAtPace::kBehindAllowed)
        << "of " << WakesAtPace::kSlices << " slices left a deck with nothing ready, " << tries << " tries";
    EXPECT_LE(last.wakes, last.wakesAllowed()) << "with " << last.stalls << " slices stalled, " << tries << " tries";
    EXPECT_EQ(last.wakes, last.engineWakes);
    EXPECT_GT(last.loudest, 0.05f); // the worker's output was heard
}

TEST(RenderAheadSerial, FourDecksStartingRunsTogetherNeverRunDry)
{
    // Four key-locked decks play for a while, then start unit runs in the
    // same slice: together from a stop, key lock on together, tempo crossing
    // 1.0 together. The worker makes each run's first output before any
    // deck's later output (checked here with the worker's rounds run by hand,
    // where the order is exact), so with the engine's own worker at a device's
    // pace the runs come in on time: none holds past the start the runs
    // share, and no render of their first 60 ms (at least four slices) runs
    // dry; later ones are the machine's to keep (the worker may not run in
    // real time).
    // A busy machine may keep this thread or the worker from its core, as
    // the kernel measures: what is excused for that is said below.
    std::vector<TrackBufferRef> tracks;
    for (int i = 0; i < MixEngine::deckCount; ++i)
        tracks.push_back(serialMusic(3.0 + 0.2 * i));

    for (int frames : {64, 256, 1024})
        for (Start how : {Start::fromStop, Start::keyLockOn, Start::tempoCrossing}) {
            SCOPED_TRACE(testing::Message() << frames << " frames, start " << int(how) << ", by hand");
            CountingTimePitchInstall units;
            FourDecks rig(MixEngine::RenderAhead::manual, frames);
            MixEngine& engine = rig.engine;
            ASSERT_EQ(units.made(), MixEngine::deckCount);
            rig.play(tracks, 1.03);
            const int before = int(0.3 * kSerialRate) / frames;
            const int startAt = before + int(0.1 * kSerialRate) / frames;
            for (int s = 0; s < startAt + 8; ++s) {
                if (s == before || s == startAt)
                    changeFourDecks(engine, how, s == startAt);
                if (s == startAt)
                    units.events().clear();
                rig.render();
                engine.serviceAhead();
            }
            ASSERT_EQ(units.events().lost(), 0);
            // Output of each unit since its reset for the new run; when a unit
            // gives its run's first output, no other has given more than one
            // render's (a render asks for `frames` here).
            std::array<bool, MixEngine::deckCount> reset{};
            std::array<std::int64_t, MixEngine::deckCount> given{};
            int firsts = 0;
            for (const TimePitchEvent& e : units.events().recorded()) {
                const auto u = std::size_t(e.unit);
                if (e.frames < 0) {
                    reset[u] = true;
                    given[u] = 0;
                    continue;
                }
                if (!reset[u])
                    continue;
                if (given[u] == 0) {
                    ++firsts;
                    const std::int64_t most = *std::max_element(given.begin(), given.end());
                    EXPECT_LE(most, frames) << "deck " << u + 1 << "'s first output came after another deck's later output";
                }
                given[u] += e.frames;
            }
            EXPECT_EQ(firsts, MixEngine::deckCount) << "every deck started a run and gave output";
        }

    // A late try is tried again, up to three tries, and logged with what the
    // kernel measured from the start until the runs were in: how long this
    // thread (the audio thread) and the engine's worker, each on its own
    // thread, waited for a core while ready to run. A late try has a measured
    // cause only where one of those two waits, on its own, lasted at least as
    // long as the latest deck came in late (the frames it held past the
    // shared start and those it missed in its first 60 ms, as time at the
    // rate); a shorter wait, or one on any other thread, explains nothing. A
    // worker at fault is late on most tries and by more than it waited; a
    // machine busy with other work now and then is not. Excused: a case whose
    // retries and last late try all had such a cause (in three cases of the
    // nine at most). Not excused: a late try with no cause measured in more
    // than one case (a fault showing in one try of thirty fails about one run
    // in thirty), or a last try late without a cause.
    int excused = 0;
    int unexplained = 0;
    for (int frames : {64, 256, 1024})
        for (Start how : {Start::fromStop, Start::keyLockOn, Start::tempoCrossing}) {
            SCOPED_TRACE(testing::Message() << frames << " frames, start " << int(how));
            StartAtPace last;
            bool clean = true;
            bool unexplainedTry = false;
            int tries = 0;
            while (tries < kTries) {
                last = startFourRunsAtPace(tracks, frames, how);
                clean = clean && last.clean;
                ++tries;
                if (last.onTime())
                    break;
                unexplainedTry = unexplainedTry || !last.machineLate();
                std::printf("[ late     ] %d frames, start %d, try %d: %s\n", frames, int(how), tries,
                            last.cause().c_str());
            }
            EXPECT_TRUE(clean) << "the audio thread waited, locked or allocated";
#ifndef ZELVO_SANITIZED
            unexplained += unexplainedTry ? 1 : 0;
            if (!last.onTime() && last.machineLate() && !unexplainedTry) {
                ++excused;
                std::printf("[ excused  ] %d frames, start %d\n", frames, int(how));
                continue;
            }
            EXPECT_EQ(last.heldBeyond, 0) << "frames held past the runs' shared start, " << tries << " tries";
            EXPECT_TRUE(last.dryAt < 0) << "dry " << last.dryAt << " slices after the start, " << tries << " tries";
#else
            // The sanitizers make the worker's rounds several times longer than
            // the pads are made for: only the real-time rules are checked here.
            (void)tries;
#endif
        }
    EXPECT_LE(unexplained, 1) << "of 9 cases came in late with no cause measured";
    EXPECT_LE(excused, 3) << "of 9 cases came in late, the machine keeping a thread from its core each time";
}
