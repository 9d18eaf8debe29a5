// The whole mix engine rendering 256-frame blocks at 48 kHz over 60 s of audio:
// two decks on the direct path, four decks with key lock at tempo 1.06, and the
// same with the filter on every channel plus the flanger and the reverb beat
// effect. p99_ms and max_ms are block render times against a budget of 5.33 ms
// (budget_p99 and budget_max as fractions of it). heap_MB: bytes on the heap
// taken by building one engine.
// Rows per way of getting the decks' time-pitch work done: as the engine builds
// it (key-locked decks rendered ahead on the engine's real-time worker thread),
// `_Alternating` (on the audio thread, decks alternating the slices their
// stretchers work in), `_OnDemand` (every stretcher works when its output runs
// out, so their bursts meet) and `_SamePhase` (all work ahead in the same
// slices). `_AheadUnpaced` renders ahead with the worker's rounds run on the
// benchmark's thread after each block, back to back: the CPU the work itself
// costs, without pacing or thread switches (its block times leave the rounds
// out).
// The key-lock rows play the audio thread honestly: the benchmark's thread asks
// for real-time priority (as the output backends do; it runs at normal priority
// when refused) and renders each block at its deadline, paced at real time, so
// the worker has the time between blocks it has on stage. x_realtime = seconds
// of audio per second of CPU used by the process (the benchmark's thread plus
// the engine's worker), so rows that render ahead and rows that do not compare
// alike. dry_blocks: deck renders whose rendered-ahead output was not ready in
// full. late_blocks: blocks that started more than a block after their deadline
// (the machine took the core away for that long: on a real device, a dropout
// already); the blocks after one are rendered back to back, leaving a worker on
// the same core no time, so dry_on_time counts the blocks with a short render
// and no late start in the four blocks before (0 on a sound machine).
// cpu_p99_ms, cpu_max_ms and budget_cpu_p99/budget_cpu_max: the same from the
// thread's CPU clock, which leaves out the time the benchmark's thread was
// preempted: on a busy machine the wall figures show other programs' time
// slices, while the audio thread itself runs at real-time priority.
// Every paced row prints the blocks around its slowest one (by the audio
// thread's CPU time) to stderr: the block's start on the monotonic clock (to
// find it in a profile), wall and CPU time as shares of the budget, minor faults
// (pages the audio thread touched for the first time), the cores the block
// started and ended on, the worker's CPU time since the render before, per deck
// whether it started a unit run (NEW), the input frames it queued for the
// worker, the requests it queued and the frames it played as silence; and under
// it the engine's stage times in microseconds (`MixEngine::lastStageTimes`).
// `BM_MixEngine_FixedWorkControl`: the control for a loaded machine, paced like
// the key-lock rows at the same priority, the same arithmetic every block and
// nothing else; its slowest block is what the machine alone takes from a
// real-time thread (scripts/bench-beside-load runs a row beside a busy loop per
// core).
// `BM_MixEngine_StopRestart/<frames>`: two key-locked decks on the engine's
// worker, paced at real time in slices of 32 to 4096 frames (or a 1024-frame
// period rendered as four slices of 256 back to back), stopped for 50 to 240 ms
// and played again: dry renders in the second after each restart (0 on a sound
// machine), block render times, the audio thread's wakes of the worker.
// `BM_MixEngine_IdleDecks/<state>`: four decks standing still in one state
// (empty, loaded and never played, ended key-locked at 1.06, ended on the
// direct path, paused, paused key-locked at 1.06, a load that never arrived, a
// take played out, cued and let go), 10 s paced at real time after they came
// to rest; the audio thread's CPU per block as a share of the budget (mean,
// p99, max). Empty decks 3 and 4 skip their channel strips, so every row with
// a track on all four decks runs two strips more than `empty`.
#include "audio/MixEngine.h"
#include "audio/MixerParams.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace zelvo;

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 256;
constexpr double kSeconds = 60.0;
constexpr double kBudgetMs = 1000.0 * kBlock / kRate;

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The benchmark's thread at the audio thread's priority while alive.
class AudioPriority {
public:
    AudioPriority()
    {
        pthread_getschedparam(pthread_self(), &policy_, &param_);
        sched_param rt{};
        rt.sched_priority = std::max(sched_get_priority_min(SCHED_FIFO), 10);
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &rt); // normal priority when refused
    }
    ~AudioPriority() { pthread_setschedparam(pthread_self(), policy_, &param_); }

private:
    int policy_ = SCHED_OTHER;
    sched_param param_{};
};

void addNanoseconds(timespec& t, long long ns)
{
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1'000'000'000) {
        t.tv_nsec -= 1'000'000'000;
        ++t.tv_sec;
    }
}

// Sleeps until the next block's deadline, one period after the last; true when
// the thread woke more than a period late (the machine kept the core from it).
bool awaitNextBlock(timespec& deadline, long long periodNs)
{
    addNanoseconds(deadline, periodNs);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double lateNs = double(now.tv_sec - deadline.tv_sec) * 1e9 + double(now.tv_nsec - deadline.tv_nsec);
    return lateNs > double(periodNs);
}

TrackBufferRef material(double seconds, unsigned seed)
{
    TrackBufferRef b(std::int64_t(seconds * kRate), kRate);
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    const float f = 0.03f + 0.01f * float(seed);
    for (std::int64_t i = 0; i < b->frames; ++i) {
        // A kick every half second over a tone and some noise.
        const float kick = (i % 24000) < 2400 ? 0.5f * std::sin(float(i % 24000) * 0.01f) : 0.0f;
        const float tone = 0.25f * std::sin(float(i) * f);
        b->left[i] = kick + tone + noise(rng);
        b->right[i] = kick + tone - noise(rng);
    }
    return b;
}

// What one block did, for the trace of the slowest block: its times, the
// pages the audio thread touched for the first time (minor faults), the cores
// it started and ended on, the worker's CPU time since the render before, and
// per deck what the voice did on the render-ahead path.
struct BlockTrace {
    double startS = 0.0; // the monotonic clock at the block's start, seconds (to find it in a profile)
    double wallMs = 0.0;
    double cpuMs = 0.0;
    long faults = 0;
    int cpuBefore = -1;
    int cpuAfter = -1;
    double workerMs = 0.0;
    std::array<DeckVoice::AheadTrace, MixEngine::deckCount> decks{};
    MixEngine::StageTimes stages{};
    bool traced = false; // an engine block (the control has no stages)
};

long minorFaults()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_minflt;
}

double clockMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The block's stage times in microseconds of wall time: where a slow block's
// time went. The beat effect on a channel runs inside that channel's strip.
void printStages(const MixEngine::StageTimes& st)
{
    auto us = [](std::int64_t ns) { return double(ns) / 1e3; };
    std::fprintf(stderr, "      stages us: sync %.1f  decks", us(st.sync));
    for (std::int64_t d : st.decks)
        std::fprintf(stderr, " %.1f", us(d));
    std::fprintf(stderr, "  wake %.1f  strips", us(st.wake));
    for (std::size_t c = 0; c < st.strips.size(); ++c) // * marks the strip that ran the beat effect
        std::fprintf(stderr, " %.1f%s", us(st.strips[c]), int(c) == st.beatChannel ? "*" : "");
    std::fprintf(stderr,
                 "  beatfx %.1f  reverb %.1f  master %.1f  limiter %.1f  meters %.1f  tap %.1f  phones %.1f"
                 "  record %.1f  output %.1f  total %.1f\n",
                 us(st.beatFX), us(st.reverb), us(st.master), us(st.limiter), us(st.meters), us(st.tap), us(st.phones),
                 us(st.record), us(st.output), us(st.total));
}

// Runs one block's work and notes its times, faults and cores in `t`.
template <typename Work>
void timeBlock(BlockTrace& t, Work&& work)
{
    const long faults = minorFaults();
    t.cpuBefore = sched_getcpu();
    t.startS = clockMs(CLOCK_MONOTONIC) / 1e3;
    const double c0 = threadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    t.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    t.cpuMs = threadCpuMs() - c0;
    t.cpuAfter = sched_getcpu();
    t.faults = minorFaults() - faults;
}

// Prints the blocks around the slowest one (by the audio thread's CPU time).
void printSlowest(const char* name, const std::vector<BlockTrace>& trace, int iteration)
{
    if (trace.empty())
        return;
    std::size_t slow = 0;
    for (std::size_t b = 1; b < trace.size(); ++b)
        if (trace[b].cpuMs > trace[slow].cpuMs)
            slow = b;
    std::fprintf(stderr, "%s run %d: slowest block %zu of %zu\n", name, iteration, slow, trace.size());
    const std::size_t from = slow >= 3 ? slow - 3 : 0;
    const std::size_t to = std::min(trace.size(), slow + 3);
    for (std::size_t b = from; b < to; ++b) {
        const BlockTrace& t = trace[b];
        std::fprintf(stderr,
                     "  %c block %6zu  at %.6f s  wall %5.1f %%  cpu %5.1f %%  faults %3ld  core %d->%d  worker %.3f ms |",
                     b == slow ? '>' : ' ', b, t.startS, 100.0 * t.wallMs / kBudgetMs, 100.0 * t.cpuMs / kBudgetMs,
                     t.faults, t.cpuBefore, t.cpuAfter, t.workerMs);
        if (!t.traced) {
            std::fprintf(stderr, "\n");
            continue;
        }
        for (const DeckVoice::AheadTrace& d : t.decks)
            std::fprintf(stderr, " %s in %4d req %d dry %3d |", d.newRun ? "NEW" : "   ", d.inputFrames, d.requests,
                         d.dryFrames);
        std::fprintf(stderr, "\n");
        printStages(t.stages);
    }
}

enum class Scene { twoDecksDirect, fourDecksKeyLock, fullFx };
enum class Work { ahead, aheadUnpaced, alternating, onDemand, samePhase };

const char* sceneName(Scene scene, Work work)
{
    const bool full = scene == Scene::fullFx;
    switch (work) {
    case Work::ahead: return full ? "FullFx" : "FourDecksKeyLock";
    case Work::alternating: return full ? "FullFx_Alternating" : "FourDecksKeyLock_Alternating";
    case Work::onDemand: return full ? "FullFx_OnDemand" : "FourDecksKeyLock_OnDemand";
    case Work::samePhase: return full ? "FullFx_SamePhase" : "FourDecksKeyLock_SamePhase";
    case Work::aheadUnpaced: return full ? "FullFx_AheadUnpaced" : "FourDecksKeyLock_AheadUnpaced";
    }
    return "MixEngine";
}

void runEngine(benchmark::State& state, Scene scene, Work work = Work::ahead)
{
    const char* traceName = sceneName(scene, work);
    // In-use heap, counting both arena blocks and blocks mapped on their own.
    auto heapInUse = [] {
        const struct mallinfo2 m = mallinfo2();
        return double(m.uordblks) + double(m.hblkhd);
    };
    const double before = heapInUse();
    auto engine = std::make_unique<MixEngine>(kRate, 4096);
    const double heapMB = (heapInUse() - before) / 1e6;

    if (work == Work::aheadUnpaced)
        engine->setRenderAhead(MixEngine::RenderAhead::manual);
    else if (work != Work::ahead)
        engine->setRenderAhead(MixEngine::RenderAhead::off);
    for (int i = 0; i < MixEngine::deckCount && (work == Work::onDemand || work == Work::samePhase); ++i)
        engine->deck(i)->setWorkPhase(work == Work::onDemand ? -1 : 0);
    const bool paced = scene != Scene::twoDecksDirect && work != Work::aheadUnpaced;
    const int decks = scene == Scene::twoDecksDirect ? 2 : 4;
    MixerParams& p = *engine->params();
    for (int i = 0; i < decks; ++i) {
        DeckVoice& d = *engine->deck(i);
        d.send(DeckCommand::load(material(64.0, unsigned(i + 1)), false));
        d.send(DeckCommand::setGrid(124.0 + i, 0.0));
        d.send(DeckCommand::keyLock(scene != Scene::twoDecksDirect));
        if (scene != Scene::twoDecksDirect)
            d.tempo().store(1.06);
        d.send(DeckCommand::play());
        p.channel(std::size_t(i)).sync.store(i > 0);
    }
    if (scene == Scene::fullFx) {
        for (int i = 0; i < decks; ++i)
            p.channel(std::size_t(i)).colorFX.store(i % 2 ? 0.5 : -0.5);
        p.colorFXKind.store(int(ColorFXKind::filter));
    }
    engine->setCueEnabled(true);

    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(kBlock, 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    const int blocks = int(kSeconds * kRate / kBlock);
    std::vector<double> times(static_cast<std::size_t>(blocks)), cpuTimes(static_cast<std::size_t>(blocks));
    std::vector<double> all, allCpu;

    std::optional<AudioPriority> priority;
    if (paced)
        priority.emplace();
    const long long periodNs = (long long)std::llround(1e9 * kBlock / kRate);
    double cpuSeconds = 0.0;
    std::int64_t dry = 0, late = 0, dryOnTime = 0;
    int lastLate = -1000;
    std::vector<BlockTrace> trace(static_cast<std::size_t>(blocks));
    clockid_t workerClock{};
    const bool tracingWorker = engine->renderAhead() == MixEngine::RenderAhead::thread
        && pthread_getcpuclockid(engine->aheadWorker(), &workerClock) == 0;
    int iteration = 0;
    double workerThen = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < decks; ++i)
            engine->deck(i)->send(DeckCommand::seek(0.5));
        engine->render(kBlock, ptrs, 4);
        engine->serviceAhead();
        state.ResumeTiming();
        const std::int64_t dryBefore = engine->aheadDryBlocks();
        const double cpuBefore = processCpuSeconds();
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        for (int b = 0; b < blocks; ++b) {
            if (paced && awaitNextBlock(deadline, periodNs)) {
                lastLate = b;
                ++late;
            }
            const std::int64_t dryNow = engine->aheadDryBlocks();
            if (scene == Scene::fullFx) {
                // The flanger on channel 1 and the reverb on the master take turns.
                const bool reverb = (b / 2000) % 2 == 1;
                p.beatFXKind.store(int(reverb ? BeatFXKind::reverb : BeatFXKind::flanger));
                p.beatFXTarget.store(reverb ? 0 : 1);
                p.beatFXOn.store(true);
            }
            BlockTrace& t = trace[std::size_t(b)];
            timeBlock(t, [&] { engine->render(kBlock, ptrs, 4); });
            times[std::size_t(b)] = t.wallMs;
            cpuTimes[std::size_t(b)] = t.cpuMs;
            for (int i = 0; i < MixEngine::deckCount; ++i)
                t.decks[std::size_t(i)] = engine->deck(i)->lastAheadTrace();
            t.stages = engine->lastStageTimes();
            t.traced = true;
            // The worker's time since the render before (it works between renders).
            const double workerNow = tracingWorker ? clockMs(workerClock) : 0.0;
            t.workerMs = b > 0 ? workerNow - workerThen : 0.0;
            workerThen = workerNow;
            engine->serviceAhead(); // the worker's round, in the unpaced row only
            const std::int64_t dryAfter = engine->aheadDryBlocks();
            if (dryAfter != dryNow && b - lastLate > 4)
                ++dryOnTime;
            benchmark::DoNotOptimize(bufs[0].data());
        }
        cpuSeconds += processCpuSeconds() - cpuBefore;
        dry += engine->aheadDryBlocks() - dryBefore;
        all.insert(all.end(), times.begin(), times.end());
        allCpu.insert(allCpu.end(), cpuTimes.begin(), cpuTimes.end());
        if (paced)
            printSlowest(traceName, trace, iteration);
        ++iteration;
    }
    std::sort(all.begin(), all.end());
    std::sort(allCpu.begin(), allCpu.end());
    const double cpuP99 = allCpu.empty() ? 0.0 : allCpu[std::size_t(double(allCpu.size() - 1) * 0.99)];
    const double cpuWorst = allCpu.empty() ? 0.0 : allCpu.back();
    const double p99 = all.empty() ? 0.0 : all[std::size_t(double(all.size() - 1) * 0.99)];
    const double worst = all.empty() ? 0.0 : all.back();
    state.counters["x_realtime"] = cpuSeconds > 0.0 ? double(state.iterations()) * kSeconds / cpuSeconds : 0.0;
    state.counters["dry_blocks"] = double(dry);
    state.counters["late_blocks"] = double(late);
    state.counters["dry_on_time"] = double(dryOnTime);
    state.counters["p99_ms"] = p99;
    state.counters["max_ms"] = worst;
    state.counters["budget_p99"] = p99 / kBudgetMs;
    state.counters["budget_max"] = worst / kBudgetMs;
    state.counters["cpu_p99_ms"] = cpuP99;
    state.counters["cpu_max_ms"] = cpuWorst;
    state.counters["budget_cpu_p99"] = cpuP99 / kBudgetMs;
    state.counters["budget_cpu_max"] = cpuWorst / kBudgetMs;
    state.counters["heap_MB"] = heapMB;
    engine->releaseRetiredBuffers();
}

// Four decks standing still, in one state each row: what the audio thread
// spends per block on decks that play nothing (an empty deck is the floor).
enum class Idle { empty, loaded, ended, endedDirect, paused, pausedKeyLocked, failedLoad, playedOutTake, cueReleased };

bool anyPlaying(MixEngine& engine)
{
    for (int i = 0; i < MixEngine::deckCount; ++i)
        if (engine.deck(i)->state().playing.load())
            return true;
    return false;
}

// Brings the four decks (key-locked at 1.06, decks 2…4 synced) into `idle`,
// rendering as fast as it can.
void reachIdle(MixEngine& engine, Idle idle, float* const* ptrs)
{
    MixerParams& p = *engine.params();
    auto renderFor = [&](int blocks) {
        for (int b = 0; b < blocks; ++b)
            engine.render(kBlock, ptrs, 4);
    };
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        DeckVoice& d = *engine.deck(i);
        d.send(DeckCommand::keyLock(true));
        d.tempo().store(idle == Idle::paused || idle == Idle::endedDirect ? 1.0 : 1.06);
        p.channel(std::size_t(i)).sync.store(i > 0);
        if (idle == Idle::empty)
            continue;
        if (idle == Idle::failedLoad) {
            d.send(DeckCommand::play()); // the load never reached the deck
            continue;
        }
        d.send(DeckCommand::load(material(idle == Idle::ended || idle == Idle::endedDirect ? 1.5 : 8.0, unsigned(i + 1)), false));
        d.send(DeckCommand::setGrid(124.0 + i, 0.0));
        if (idle == Idle::loaded)
            continue; // loaded, never played
        if (idle == Idle::cueReleased) {
            d.send(DeckCommand::setCuePoint(1.0));
            d.send(DeckCommand::seek(1.0));
        } else {
            d.send(DeckCommand::play());
        }
    }
    renderFor(200);
    for (int i = 0; i < MixEngine::deckCount; ++i) {
        DeckVoice& d = *engine.deck(i);
        if (idle == Idle::playedOutTake)
            d.send(DeckCommand::takeOver(material(1.0, unsigned(i + 11)), 0.2));
        else if (idle == Idle::paused || idle == Idle::pausedKeyLocked)
            d.send(DeckCommand::pause());
        else if (idle == Idle::cueReleased)
            d.send(DeckCommand::cue(true));
    }
    renderFor(200);
    if (idle == Idle::cueReleased)
        for (int i = 0; i < MixEngine::deckCount; ++i)
            engine.deck(i)->send(DeckCommand::cue(false));
    for (int b = 0; b < 4000 && anyPlaying(engine); ++b)
        renderFor(1);
    renderFor(400); // what was in flight settles
}

void runIdle(benchmark::State& state, Idle idle, const char* name)
{
    auto engine = std::make_unique<MixEngine>(kRate, 4096);
    engine->setCueEnabled(true);
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(kBlock, 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    reachIdle(*engine, idle, ptrs);
    if (anyPlaying(*engine)) {
        state.SkipWithError("the decks did not come to rest");
        return;
    }

    constexpr double kIdleSeconds = 10.0;
    const int blocks = int(kIdleSeconds * kRate / kBlock);
    std::vector<double> cpu;
    std::vector<BlockTrace> trace(static_cast<std::size_t>(blocks));
    AudioPriority priority;
    const long long periodNs = (long long)std::llround(1e9 * kBlock / kRate);
    int iteration = 0;
    for (auto _ : state) {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        for (int b = 0; b < blocks; ++b) {
            awaitNextBlock(deadline, periodNs);
            BlockTrace& t = trace[std::size_t(b)];
            timeBlock(t, [&] { engine->render(kBlock, ptrs, 4); });
            t.stages = engine->lastStageTimes();
            t.traced = true;
            cpu.push_back(t.cpuMs);
            benchmark::DoNotOptimize(bufs[0].data());
        }
        printSlowest(name, trace, iteration++);
    }
    std::sort(cpu.begin(), cpu.end());
    double sum = 0.0;
    for (double c : cpu)
        sum += c;
    state.counters["cpu_mean_ms"] = cpu.empty() ? 0.0 : sum / double(cpu.size());
    state.counters["budget_cpu_mean"] = cpu.empty() ? 0.0 : sum / double(cpu.size()) / kBudgetMs;
    state.counters["budget_cpu_p99"] = cpu.empty() ? 0.0 : cpu[std::size_t(double(cpu.size() - 1) * 0.99)] / kBudgetMs;
    state.counters["budget_cpu_max"] = cpu.empty() ? 0.0 : cpu.back() / kBudgetMs;
    engine->releaseRetiredBuffers();
}

// The fixed-work control: paced at real time at the audio thread's priority
// like the engine rows, the same arithmetic every block (a chain of dependent
// steps touching no memory: about 0.25 ms on a quiet machine here). Beside a
// load, its slowest block is what the machine takes from a real-time thread on
// its own; what an engine row's slowest block has beyond that is the engine's.
constexpr int kControlSteps = 150000;

double fixedWork(double seed)
{
    double x = seed;
    for (int i = 0; i < kControlSteps; ++i)
        x = x * 0.9999999 + 1e-7;
    return x;
}

void runControl(benchmark::State& state)
{
    const int blocks = int(kSeconds * kRate / kBlock);
    std::vector<double> cpu, wall;
    std::vector<BlockTrace> trace(static_cast<std::size_t>(blocks));
    AudioPriority priority;
    const long long periodNs = (long long)std::llround(1e9 * kBlock / kRate);
    std::int64_t late = 0;
    double x = 1.0;
    int iteration = 0;
    for (auto _ : state) {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        for (int b = 0; b < blocks; ++b) {
            late += awaitNextBlock(deadline, periodNs);
            BlockTrace& t = trace[std::size_t(b)];
            timeBlock(t, [&] {
                x = fixedWork(x);
                benchmark::DoNotOptimize(x);
            });
            cpu.push_back(t.cpuMs);
            wall.push_back(t.wallMs);
        }
        printSlowest("FixedWorkControl", trace, iteration++);
    }
    double sum = 0.0;
    for (double c : cpu)
        sum += c;
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    auto at = [](const std::vector<double>& v, double q) { return v.empty() ? 0.0 : v[std::size_t(double(v.size() - 1) * q)]; };
    state.counters["late_blocks"] = double(late);
    state.counters["cpu_mean_ms"] = cpu.empty() ? 0.0 : sum / double(cpu.size());
    state.counters["budget_p99"] = at(wall, 0.99) / kBudgetMs;
    state.counters["budget_max"] = at(wall, 1.0) / kBudgetMs;
    state.counters["budget_cpu_p99"] = at(cpu, 0.99) / kBudgetMs;
    state.counters["budget_cpu_max"] = at(cpu, 1.0) / kBudgetMs;
}

// Two key-locked decks (tempo 1.06 and 1.04) on the engine's own worker,
// paced at real time in slices of `frames` (`perBurst` of them back to back per
// period), stopped for 50, 100, 150, 200 and 240 ms while the slices keep
// coming and played again: the deck renders whose rendered-ahead output was
// not ready in the second after each restart (dry_after_restart, and per stop
// length dry_<ms>), and the block render times over the whole row.
void runStopRestart(benchmark::State& state, int frames, int perBurst, const char* name, int decks = 2)
{
    auto engine = std::make_unique<MixEngine>(kRate, 4096);
    engine->setCueEnabled(true);
    for (int i = 0; i < decks; ++i) {
        DeckVoice& d = *engine->deck(i);
        d.send(DeckCommand::load(material(64.0, unsigned(i + 1)), false));
        d.send(DeckCommand::setGrid(124.0 + i, 0.0));
        d.send(DeckCommand::keyLock(true));
        d.tempo().store(i == 0 ? 1.06 : 1.04 - 0.01 * (i - 1));
        d.send(DeckCommand::seek(0.5));
    }
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    const double budgetMs = 1000.0 * frames / kRate;
    const long long periodNs = (long long)std::llround(1e9 * frames * perBurst / kRate);
    const int perSecond = int(kRate / (frames * perBurst));
    constexpr std::array<int, 5> stops{50, 100, 150, 200, 240};
    std::array<std::int64_t, stops.size()> dryPerStop{};
    std::vector<double> wall, cpu;
    std::vector<BlockTrace> trace;
    std::int64_t late = 0;
    AudioPriority priority;
    clockid_t workerClock{};
    const bool tracingWorker = pthread_getcpuclockid(engine->aheadWorker(), &workerClock) == 0;
    double workerThen = 0.0;
    int iteration = 0;
    for (auto _ : state) {
        trace.clear();
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        auto period = [&](int count) {
            for (int p = 0; p < count; ++p) {
                const bool wasLate = awaitNextBlock(deadline, periodNs);
                late += wasLate;
                for (int s = 0; s < perBurst; ++s) {
                    BlockTrace t;
                    timeBlock(t, [&] { engine->render(frames, ptrs, 4); });
                    for (int i = 0; i < MixEngine::deckCount; ++i)
                        t.decks[std::size_t(i)] = engine->deck(i)->lastAheadTrace();
                    t.stages = engine->lastStageTimes();
                    t.traced = true;
                    const double workerNow = tracingWorker ? clockMs(workerClock) : 0.0;
                    t.workerMs = workerNow - workerThen;
                    workerThen = workerNow;
                    // Each dry render, with what the worker did since the block before.
                    bool dryNow = false;
                    for (int i = 0; i < decks; ++i)
                        dryNow = dryNow || t.decks[std::size_t(i)].dryFrames > 0;
                    if (dryNow)
                        std::fprintf(stderr,
                                     "%s run %d: dry block %zu at %.6f s%s, worker %.3f ms since the block before\n",
                                     name, iteration, trace.size(), t.startS, wasLate ? " (late start)" : "",
                                     t.workerMs);
                    wall.push_back(t.wallMs);
                    cpu.push_back(t.cpuMs);
                    trace.push_back(t);
                    benchmark::DoNotOptimize(bufs[0].data());
                }
            }
        };
        for (int i = 0; i < decks; ++i)
            engine->deck(i)->send(DeckCommand::play());
        period(perSecond);
        for (std::size_t k = 0; k < stops.size(); ++k) {
            for (int i = 0; i < decks; ++i)
                engine->deck(i)->send(DeckCommand::pause());
            period(int(std::lround(stops[k] / 1000.0 * perSecond)));
            for (int i = 0; i < decks; ++i)
                engine->deck(i)->send(DeckCommand::play());
            const std::int64_t before = engine->aheadDryBlocks();
            period(perSecond);
            dryPerStop[k] += engine->aheadDryBlocks() - before;
        }
        printSlowest(name, trace, iteration++);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    auto at = [](const std::vector<double>& v, double q) { return v.empty() ? 0.0 : v[std::size_t(double(v.size() - 1) * q)]; };
    std::int64_t dry = 0;
    for (std::size_t k = 0; k < stops.size(); ++k) {
        dry += dryPerStop[k];
        state.counters["dry_" + std::to_string(stops[k])] = double(dryPerStop[k]);
    }
    state.counters["dry_after_restart"] = double(dry);
    state.counters["late_blocks"] = double(late);
    state.counters["wakes"] = double(engine->aheadWorkerWakes());
    state.counters["p99_ms"] = at(wall, 0.99);
    state.counters["max_ms"] = at(wall, 1.0);
    state.counters["budget_p99"] = at(wall, 0.99) / budgetMs;
    state.counters["budget_max"] = at(wall, 1.0) / budgetMs;
    state.counters["cpu_p99_ms"] = at(cpu, 0.99);
    state.counters["cpu_max_ms"] = at(cpu, 1.0);
    engine->releaseRetiredBuffers();
}

// One key-locked deck at 1.06 on the engine's worker, called as a device
// calls: `burst` renders back to back when it opens (4: an ALSA device filling
// its buffer; 1: a device that does not), or, with `stall`, steadily for a
// second, then nothing for eight periods and eight renders back to back (the
// virtual output catching up). 1.5 s after the burst the deck stops for 100 ms
// and plays again: silence_ms is the time from the play to the first sound
// (the first sample above 0.01), lead_ms the read head's lead over what is
// heard just before the stop (in seconds of the source), dry the renders
// whose rendered-ahead output was not ready, over the row, and
// dry_after_burst those in the 0.3 s after the burst.
void runDeviceBurst(benchmark::State& state, int frames, int burst, bool stall)
{
    auto engine = std::make_unique<MixEngine>(kRate, 4096);
    engine->params()->channel(0).fader.store(1.0);
    engine->params()->channel(0).crossfaderAssign.store(0);
    DeckVoice& d = *engine->deck(0);
    d.send(DeckCommand::load(material(30.0, 7u), false));
    d.send(DeckCommand::keyLock(true));
    d.send(DeckCommand::seek(0.5));
    d.tempo().store(1.06);
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    const long long periodNs = (long long)std::llround(1e9 * frames / kRate);
    const int perSecond = int(kRate / frames);
    AudioPriority priority;
    double silenceMs = 0.0, leadMs = 0.0;
    std::int64_t dryAfterBurst = 0;
    for (auto _ : state) {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        auto render = [&](int count) {
            for (int k = 0; k < count; ++k)
                engine->render(frames, ptrs, 4);
        };
        auto steady = [&](int periods) {
            for (int p = 0; p < periods; ++p) {
                awaitNextBlock(deadline, periodNs);
                render(1);
            }
        };
        d.send(DeckCommand::play());
        if (stall) {
            steady(perSecond);
            addNanoseconds(deadline, 8 * periodNs); // nothing for eight periods
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
            render(8);
        } else {
            render(burst);
        }
        const std::int64_t dryBefore = engine->aheadDryBlocks();
        steady(int(0.3 * perSecond));
        dryAfterBurst = engine->aheadDryBlocks() - dryBefore;
        steady(int(1.2 * perSecond));
        leadMs = 1000.0 * (d.positionSeconds() - d.heardSeconds());
        d.send(DeckCommand::pause());
        steady(int(0.1 * perSecond));
        d.send(DeckCommand::play());
        std::int64_t silent = 0;
        for (bool heard = false; !heard && silent < std::int64_t(kRate);) {
            steady(1);
            for (int i = 0; i < frames && !heard; ++i, ++silent)
                heard = std::fabs(bufs[0][std::size_t(i)]) > 0.01f;
        }
        silenceMs = 1000.0 * double(silent) / kRate;
        d.send(DeckCommand::pause());
        steady(int(0.1 * perSecond));
    }
    state.counters["silence_ms"] = silenceMs;
    state.counters["lead_ms"] = leadMs;
    state.counters["dry"] = double(engine->aheadDryBlocks());
    state.counters["dry_after_burst"] = double(dryAfterBurst);
}

// One key-locked deck at 1.06, paced at real time in slices of `frames`,
// played for a second and paused: how far the deck stands past what was heard
// when it stopped, which is the music skipped when play goes on (skip_ms, in
// seconds of the source), with its time-pitch unit on the engine's worker
// (`ahead`) and on the audio thread (`audio_thread`). Worst of the iterations.
// `scratch`: the jog is touched in vinyl mode instead and held still, and
// jump_ms is how far the held record stands from what was heard at the touch.
void runPause(benchmark::State& state, int frames, bool scratch = false)
{
    double worst[2] = {0.0, 0.0};
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    const long long periodNs = (long long)std::llround(1e9 * frames / kRate);
    const int perSecond = int(kRate / frames);
    AudioPriority priority;
    for (auto _ : state)
        for (MixEngine::RenderAhead mode : {MixEngine::RenderAhead::thread, MixEngine::RenderAhead::off}) {
            auto engine = std::make_unique<MixEngine>(kRate, 4096, mode);
            DeckVoice& d = *engine->deck(0);
            d.send(DeckCommand::load(material(30.0, 7u), false));
            d.send(DeckCommand::keyLock(true));
            d.send(DeckCommand::quantize(false));
            d.send(DeckCommand::seek(0.5));
            d.tempo().store(1.06);
            d.send(DeckCommand::play());
            timespec deadline{};
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            auto steady = [&](int periods) {
                for (int p = 0; p < periods; ++p) {
                    awaitNextBlock(deadline, periodNs);
                    engine->render(frames, ptrs, 4);
                }
            };
            steady(perSecond);
            const double heard = d.state().position.load();
            d.send(scratch ? DeckCommand::jogTouch(true) : DeckCommand::pause());
            steady(int(0.1 * perSecond));
            const double skip = 1000.0 * (d.state().position.load() - heard);
            double& w = worst[mode == MixEngine::RenderAhead::thread ? 0 : 1];
            w = std::max(w, std::fabs(skip));
            engine->releaseRetiredBuffers();
        }
    state.counters[scratch ? "jump_ahead_ms" : "skip_ahead_ms"] = worst[0];
    state.counters[scratch ? "jump_audio_thread_ms" : "skip_audio_thread_ms"] = worst[1];
}

// One key-locked deck at 1.06 on quiet music with a click at its hot cue,
// paced at real time in slices of `frames`: it plays for a second, the device
// then asks for nothing for eight periods and for eight renders back to back
// (the virtual output catching up), and 0.3 s later the hot cue is pressed.
// cue_ms: the time from the press to the click heard, on the engine's worker
// (`ahead`) and on the audio thread (`audio_thread`). Worst of the iterations.
void runHotCueAfterBurst(benchmark::State& state, int frames)
{
    TrackBufferRef track = material(8.0, 7u);
    for (std::int64_t i = 0; i < track->frames; ++i) {
        track->left[i] *= 0.05f;
        track->right[i] *= 0.05f;
    }
    const double cueAt = 4.0;
    track->left[std::int64_t(cueAt * kRate)] = track->right[std::int64_t(cueAt * kRate)] = 1.0f;
    double worst[2] = {0.0, 0.0};
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    const long long periodNs = (long long)std::llround(1e9 * frames / kRate);
    const int perSecond = int(kRate / frames);
    AudioPriority priority;
    for (auto _ : state)
        for (MixEngine::RenderAhead mode : {MixEngine::RenderAhead::thread, MixEngine::RenderAhead::off}) {
            auto engine = std::make_unique<MixEngine>(kRate, 4096, mode);
            engine->params()->channel(0).fader.store(1.0);
            engine->params()->channel(0).crossfaderAssign.store(0);
            DeckVoice& d = *engine->deck(0);
            d.send(DeckCommand::load(track, false));
            d.send(DeckCommand::keyLock(true));
            d.send(DeckCommand::quantize(false));
            d.send(DeckCommand::setHotCue(0, cueAt));
            d.send(DeckCommand::seek(0.5));
            d.tempo().store(1.06);
            d.send(DeckCommand::play());
            timespec deadline{};
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            auto steady = [&](int periods) {
                for (int p = 0; p < periods; ++p) {
                    awaitNextBlock(deadline, periodNs);
                    engine->render(frames, ptrs, 4);
                }
            };
            steady(perSecond);
            addNanoseconds(deadline, 8 * periodNs); // nothing for eight periods
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
            for (int k = 0; k < 8; ++k)
                engine->render(frames, ptrs, 4);
            steady(int(0.3 * perSecond));
            d.send(DeckCommand::hotCue(0, true));
            d.send(DeckCommand::hotCue(0, false));
            std::int64_t at = 0, peakAt = 0;
            float peak = 0.0f;
            for (int p = 0; p < int(0.4 * perSecond); ++p) {
                steady(1);
                for (int i = 0; i < frames; ++i, ++at)
                    if (std::fabs(bufs[0][std::size_t(i)]) > peak) {
                        peak = std::fabs(bufs[0][std::size_t(i)]);
                        peakAt = at;
                    }
            }
            double& w = worst[mode == MixEngine::RenderAhead::thread ? 0 : 1];
            w = std::max(w, 1000.0 * double(peakAt) / kRate);
            engine->releaseRetiredBuffers();
        }
    state.counters["cue_ahead_ms"] = worst[0];
    state.counters["cue_audio_thread_ms"] = worst[1];
}

// Play sent before the engine's first render, which opens a device's output
// with four renders back to back (as the ALSA backend fills its buffer), then
// paced at real time in slices of `frames`: one key-locked deck, or four at
// different tempos, on the engine's worker, against the same decks on the
// audio thread. Decks 1 and 2 are heard through the direct outputs.
// lost_ms: the music after the start pad that never sounds (the output lined
// up with the audio thread's, wherever it starts, over the first 0.6 s);
// late_ms: how much later than on the audio thread it starts; peak32: the
// loudest of the first 32 samples after any stretch of silence, a step when
// large. Worst of the iterations and decks.
void runOpenBurst(benchmark::State& state, int frames, int decks)
{
    const long long periodNs = (long long)std::llround(1e9 * frames / kRate);
    const int slices = int(0.6 * kRate) / frames;
    const int measured = std::min(decks, 2);
    auto build = [&](MixEngine::RenderAhead mode) {
        auto engine = std::make_unique<MixEngine>(kRate, 4096, mode);
        engine->params()->directOuts.store(true);
        for (int i = 0; i < decks; ++i) {
            DeckVoice& d = *engine->deck(i);
            d.send(DeckCommand::load(material(30.0, unsigned(7 + i)), false));
            d.send(DeckCommand::keyLock(true));
            d.send(DeckCommand::seek(0.5));
            d.tempo().store(1.06 - 0.03 * i);
            d.send(DeckCommand::play());
        }
        return engine;
    };
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    auto record = [&](std::vector<std::vector<float>>& out) {
        for (int i = 0; i < measured; ++i)
            out[std::size_t(i)].insert(out[std::size_t(i)].end(), bufs[std::size_t(2 * i)].begin(),
                                       bufs[std::size_t(2 * i)].end());
    };
    std::vector<std::vector<float>> onDemand(static_cast<std::size_t>(measured));
    {
        auto engine = build(MixEngine::RenderAhead::off);
        for (int k = 0; k < slices; ++k) {
            engine->render(frames, ptrs, 4);
            record(onDemand);
        }
        engine->releaseRetiredBuffers();
    }
    const int pad = DeckVoice::aheadStartPadFrames(frames, kRate);
    double lostMs = 0.0, lateMs = 0.0, peak = 0.0;
    AudioPriority priority;
    for (auto _ : state) {
        auto engine = build(MixEngine::RenderAhead::thread);
        std::vector<std::vector<float>> heard(static_cast<std::size_t>(measured));
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        for (int k = 0; k < slices; ++k) {
            if (k >= 4)
                awaitNextBlock(deadline, periodNs);
            engine->render(frames, ptrs, 4);
            record(heard);
        }
        for (int i = 0; i < measured; ++i) {
            const std::vector<float>& a = heard[std::size_t(i)];
            const std::vector<float>& o = onDemand[std::size_t(i)];
            // The delay that lines the most samples up after the pad and its fade.
            const std::size_t from = std::size_t(pad + DeckVoice::kAheadFadeFrames);
            std::size_t bestDelay = 0, bestSame = 0;
            for (std::size_t delay = 0; delay < std::size_t(0.3 * kRate); delay += 1) {
                std::size_t same = 0;
                for (std::size_t f = from; f + delay < a.size(); f += 7)
                    same += a[f + delay] == o[f] ? 1 : 0;
                if (same > bestSame) {
                    bestSame = same;
                    bestDelay = delay;
                }
            }
            std::size_t lost = 0;
            for (std::size_t f = from; f + bestDelay < a.size(); ++f)
                lost += a[f + bestDelay] != o[f] ? 1 : 0;
            lostMs = std::max(lostMs, 1000.0 * double(lost) / kRate);
            lateMs = std::max(lateMs, 1000.0 * double(bestDelay) / kRate);
            int zeros = 0;
            for (std::size_t f = 0; f < a.size(); ++f) {
                if (a[f] == 0.0f) {
                    ++zeros;
                    continue;
                }
                if (zeros >= 32)
                    for (std::size_t g = f; g < std::min(f + 32, a.size()); ++g)
                        peak = std::max(peak, double(std::fabs(a[g])));
                zeros = 0;
            }
        }
        engine->releaseRetiredBuffers();
    }
    state.counters["lost_ms"] = lostMs;
    state.counters["late_ms"] = lateMs;
    state.counters["peak32"] = peak;
}

// Four key-locked decks at tempos 1.06, 1.03, 0.97 and 1.09 on the engine's
// worker, paced at real time in slices of `frames`, started in the same slice:
// before the device's first four renders, which come back to back
// (`open`), or 0.6 s after it stalled for eight periods and caught up with
// eight renders back to back (`catch_up`). Each deck is heard on its own (decks
// 1 and 2 on the master, 3 and 4 on the headphone bus, one side each).
// spread_ms: the most between two decks' first sounds (0: they come in
// together), worst of the iterations; first_ms: deck 1's first sound after
// the play, worst of the iterations.
void runStartTogether(benchmark::State& state, int frames, bool catchUp)
{
    const long long periodNs = (long long)std::llround(1e9 * frames / kRate);
    const int perSecond = int(kRate / frames);
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    AudioPriority priority;
    double spreadMs = 0.0, firstMs = 0.0;
    for (auto _ : state) {
        auto engine = std::make_unique<MixEngine>(kRate, 4096);
        MixerParams& p = *engine->params();
        p.master.store(1.0);
        p.limiter.store(false);
        for (int i = 0; i < MixEngine::deckCount; ++i) {
            DeckVoice& d = *engine->deck(i);
            TrackBufferRef track = material(30.0, unsigned(7 + i));
            float* silent = i % 2 == 0 ? track->right : track->left;
            std::fill(silent, silent + track->frames, 0.0f);
            d.send(DeckCommand::load(track, false));
            d.send(DeckCommand::keyLock(true));
            d.send(DeckCommand::seek(0.5));
            d.tempo().store(std::array{1.06, 1.03, 0.97, 1.09}[std::size_t(i)]);
            p.channel(i).crossfaderAssign.store(0);
            p.channel(i).fader.store(i < 2 ? 1.0 : 0.0);
            p.channel(i).cue.store(i >= 2);
        }
        std::array<std::int64_t, MixEngine::deckCount> first{-1, -1, -1, -1};
        std::int64_t since = -1;
        auto render = [&](int count) {
            for (int k = 0; k < count; ++k) {
                engine->render(frames, ptrs, 4);
                if (since < 0)
                    continue;
                for (int i = 0; i < MixEngine::deckCount; ++i)
                    for (int f = 0; f < frames && first[std::size_t(i)] < 0; ++f)
                        if (bufs[std::size_t(i)][std::size_t(f)] != 0.0f)
                            first[std::size_t(i)] = since + f;
                since += frames;
            }
        };
        timespec deadline{};
        auto steady = [&](int periods) {
            for (int k = 0; k < periods; ++k) {
                awaitNextBlock(deadline, periodNs);
                render(1);
            }
        };
        auto playAll = [&] {
            for (int i = 0; i < MixEngine::deckCount; ++i)
                engine->deck(i)->send(DeckCommand::play());
            since = 0;
        };
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        if (!catchUp) {
            playAll();
            render(4);
            clock_gettime(CLOCK_MONOTONIC, &deadline);
        } else {
            steady(perSecond / 2);
            addNanoseconds(deadline, 8 * periodNs); // nothing for eight periods
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
            render(8);
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            steady(int(0.6 * perSecond));
            playAll();
        }
        steady(int(0.6 * perSecond));
        const auto [least, most] = std::minmax_element(first.begin(), first.end());
        if (*least >= 0)
            spreadMs = std::max(spreadMs, 1000.0 * double(*most - *least) / kRate);
        else
            spreadMs = 1000.0; // a deck never came in
        firstMs = std::max(firstMs, 1000.0 * double(first[0]) / kRate);
        engine->releaseRetiredBuffers();
    }
    state.counters["spread_ms"] = spreadMs;
    state.counters["first_ms"] = firstMs;
}

// One key-locked deck at 1.06 with its worker's rounds run here after each
// render (`manual`), in slices of `frames`: 0.5 s of play, then the worker
// gone for 1 s (with `reverse`, the deck reversed half way through it), then
// back for 0.4 s; with `fromPlay`, gone from just after the play, having made
// only the run's first render. pos_error_ms: the position published then less
// the same deck's on the audio thread (positive: ahead); silence_ms: the sound
// missed, counted in dry renders' frames.
void runWorkerStall(benchmark::State& state, int frames, bool reverse = false, bool fromPlay = false)
{
    std::vector<float> bufs[4];
    for (auto& b : bufs)
        b.assign(std::size_t(frames), 0.0f);
    float* ptrs[4] = {bufs[0].data(), bufs[1].data(), bufs[2].data(), bufs[3].data()};
    const int before = fromPlay ? 1 : int(0.5 * kRate) / frames;
    const int gone = int(1.0 * kRate) / frames;
    const int after = int(0.4 * kRate) / frames;
    double errorMs = 0.0, silenceMs = 0.0;
    for (auto _ : state) {
        double position[2] = {0.0, 0.0};
        for (MixEngine::RenderAhead mode : {MixEngine::RenderAhead::off, MixEngine::RenderAhead::manual}) {
            auto engine = std::make_unique<MixEngine>(kRate, 4096, mode);
            DeckVoice& d = *engine->deck(0);
            d.send(DeckCommand::load(material(30.0, 7u), false));
            d.send(DeckCommand::keyLock(true));
            d.send(DeckCommand::seek(0.5));
            d.tempo().store(1.06);
            d.send(DeckCommand::play());
            for (int k = 0; k < before + gone + after; ++k) {
                if (reverse && k == before + gone / 2)
                    d.send(DeckCommand::reverse(true));
                engine->render(frames, ptrs, 4);
                if (fromPlay && k < before)
                    d.serviceAhead(1);
                else if (k < before || k >= before + gone)
                    engine->serviceAhead();
            }
            const bool ahead = mode == MixEngine::RenderAhead::manual;
            position[ahead] = d.state().position.load();
            if (ahead)
                silenceMs = 1000.0 * double(d.aheadDryFrames()) / kRate;
            engine->releaseRetiredBuffers();
        }
        errorMs = 1000.0 * (position[1] - position[0]);
    }
    state.counters["pos_error_ms"] = errorMs;
    state.counters["silence_ms"] = silenceMs;
}

void BM_MixEngine_Pause(benchmark::State& state, int frames) { runPause(state, frames); }

void BM_MixEngine_Scratch(benchmark::State& state, int frames) { runPause(state, frames, true); }

void BM_MixEngine_HotCueAfterBurst(benchmark::State& state, int frames) { runHotCueAfterBurst(state, frames); }

void BM_MixEngine_PlayBeforeOpen(benchmark::State& state, int frames, int decks)
{
    runOpenBurst(state, frames, decks);
}

void BM_MixEngine_DeviceBurst(benchmark::State& state, int frames, int burst, bool stall)
{
    runDeviceBurst(state, frames, burst, stall);
}

void BM_MixEngine_StartTogether(benchmark::State& state, int frames, bool catchUp)
{
    runStartTogether(state, frames, catchUp);
}

void BM_MixEngine_WorkerStall(benchmark::State& state, int frames) { runWorkerStall(state, frames); }

void BM_MixEngine_WorkerStallReverse(benchmark::State& state, int frames) { runWorkerStall(state, frames, true); }

void BM_MixEngine_WorkerStallFromPlay(benchmark::State& state, int frames)
{
    runWorkerStall(state, frames, false, true);
}

// The worker stalls at the deck's first play and the deck is reversed during
// the stall: it has never seen the stretcher in steady play.
void BM_MixEngine_WorkerStallFromPlayReverse(benchmark::State& state, int frames)
{
    runWorkerStall(state, frames, true, true);
}

void BM_MixEngine_FixedWorkControl(benchmark::State& state) { runControl(state); }

void BM_MixEngine_StopRestart(benchmark::State& state, int frames, int perBurst, const char* name, int decks = 2)
{
    runStopRestart(state, frames, perBurst, name, decks);
}

void BM_MixEngine_IdleDecks(benchmark::State& state, Idle idle, const char* name) { runIdle(state, idle, name); }

void BM_MixEngine_TwoDecksDirect(benchmark::State& state) { runEngine(state, Scene::twoDecksDirect); }
void BM_MixEngine_FourDecksKeyLock(benchmark::State& state) { runEngine(state, Scene::fourDecksKeyLock); }
void BM_MixEngine_FullFx(benchmark::State& state) { runEngine(state, Scene::fullFx); }
void BM_MixEngine_FourDecksKeyLock_Alternating(benchmark::State& state)
{
    runEngine(state, Scene::fourDecksKeyLock, Work::alternating);
}
void BM_MixEngine_FourDecksKeyLock_OnDemand(benchmark::State& state)
{
    runEngine(state, Scene::fourDecksKeyLock, Work::onDemand);
}
void BM_MixEngine_FourDecksKeyLock_SamePhase(benchmark::State& state)
{
    runEngine(state, Scene::fourDecksKeyLock, Work::samePhase);
}
void BM_MixEngine_FourDecksKeyLock_AheadUnpaced(benchmark::State& state)
{
    runEngine(state, Scene::fourDecksKeyLock, Work::aheadUnpaced);
}
void BM_MixEngine_FullFx_Alternating(benchmark::State& state) { runEngine(state, Scene::fullFx, Work::alternating); }
void BM_MixEngine_FullFx_OnDemand(benchmark::State& state) { runEngine(state, Scene::fullFx, Work::onDemand); }

// One run of a paced row, timed on the wall clock, in milliseconds.
void onceInRealTime(benchmark::internal::Benchmark* row)
{
    row->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
}

} // namespace

BENCHMARK(BM_MixEngine_TwoDecksDirect)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_MixEngine_FourDecksKeyLock)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FullFx)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FourDecksKeyLock_Alternating)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FourDecksKeyLock_OnDemand)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FourDecksKeyLock_SamePhase)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FourDecksKeyLock_AheadUnpaced)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FullFx_Alternating)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FullFx_OnDemand)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_MixEngine_FixedWorkControl)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, 64, 64, 1, "StopRestart/64")->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, 128, 128, 1, "StopRestart/128")->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, 256, 256, 1, "StopRestart/256")->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, 32, 32, 1, "StopRestart/32")->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, 1024, 1024, 1, "StopRestart/1024")->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, 4096, 4096, 1, "StopRestart/4096")->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, burst_4x256, 256, 4, "StopRestart/burst_4x256")->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StopRestart, four_decks_256, 256, 1, "StopRestart/four_decks_256", 4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_DeviceBurst, steady_256, 256, 1, false)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_DeviceBurst, alsa_open_256, 256, 4, false)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_DeviceBurst, catch_up_8_256, 256, 1, true)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_DeviceBurst, steady_512, 512, 1, false)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_DeviceBurst, alsa_open_512, 512, 4, false)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_DeviceBurst, catch_up_8_512, 512, 1, true)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_StartTogether, open_1024, 1024, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_StartTogether, catch_up_1024, 1024, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStall, 64, 64)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStall, 256, 256)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallReverse, 64, 64)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallReverse, 256, 256)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallFromPlay, 64, 64)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallFromPlay, 256, 256)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallFromPlay, 1024, 1024)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallFromPlayReverse, 64, 64)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallFromPlayReverse, 256, 256)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_WorkerStallFromPlayReverse, 1024, 1024)->Apply(onceInRealTime);
BENCHMARK_CAPTURE(BM_MixEngine_Pause, 256, 256)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_Pause, 1024, 1024)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_Scratch, 256, 256)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_Scratch, 1024, 1024)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_HotCueAfterBurst, 512, 512)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_HotCueAfterBurst, 1024, 1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_PlayBeforeOpen, one_deck_512, 512, 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_PlayBeforeOpen, four_decks_512, 512, 4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_PlayBeforeOpen, one_deck_1024, 1024, 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_PlayBeforeOpen, four_decks_1024, 1024, 4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, empty, Idle::empty, "IdleDecks/empty")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, loaded, Idle::loaded, "IdleDecks/loaded")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, ended, Idle::ended, "IdleDecks/ended")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, ended_direct, Idle::endedDirect, "IdleDecks/ended_direct")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, paused, Idle::paused, "IdleDecks/paused")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, paused_keylocked, Idle::pausedKeyLocked, "IdleDecks/paused_keylocked")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, failed_load, Idle::failedLoad, "IdleDecks/failed_load")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, played_out_take, Idle::playedOutTake, "IdleDecks/played_out_take")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_MixEngine_IdleDecks, cue_released, Idle::cueReleased, "IdleDecks/cue_released")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
