#include "audio/DeckVoice.h"

#include "audio/FlushDenormals.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <utility>

namespace zelvo {

namespace {

bool finite(double x) { return std::isfinite(x); }
// A stopped deck this close to its cue point, in seconds, stands on it: the
// cue button previews from there.
constexpr double kAtCue = 0.005;

// The slowest rate the time-pitch unit stretches to. A key-locked deck slower
// than that (the tempo fader's wide range at its bottom) reads its track
// directly, as it would without key lock: it stands still at tempo 0. On the
// unit it would creep on at this rate while its position stood, and a
// render-ahead worker, given no input for a rate of 0, would make nothing.
// It goes back to the unit once faster than twice that, so a rate wavering
// about the slowest (a synced deck's corrections) does not start a run of the
// unit, with its quiet start, again and again.
constexpr double kSlowestStretch = 1.0 / 32.0;
constexpr double kBackToStretch = 2.0 * kSlowestStretch;

// Rounds to the nearest integer, halves away from zero.
double roundAway(double x) { return std::round(x); }

// Render-ahead ring sizes. Chunks of 256 frames; the input ring holds four of
// the longest slices at four times the speed plus the lead, the output ring
// eight longest slices plus 4096 frames of what was missed and is skipped.
constexpr int kAheadChunk = 256;
// Input the stretcher may want beyond one slice before it makes the next
// slice's output: its analysis window. Measured: 1536 frames is the least that
// leaves no render short over slices of 64 to 1024 frames at rates 0.6 to 1.5,
// key-locked or shifting pitch only (1500 is not enough), at 44.1 and 48 kHz,
// where the unit's latency is 1407 frames.
constexpr int kAheadHopLead = 1536;
constexpr int kAheadHopLeadLatency = 1407;
// The window is a span of frames that the unit picks by sample rate, in
// steps, and its latency follows it: 2687 frames at 88.2 and 96 kHz and 5247
// at 176.4 and 192 kHz, where the same renders needed some 2600 and 5000
// frames of lead. So the lead grows with the latency, in the share measured
// at 48 kHz, and is never less than there (a unit with a shorter window, at
// 32 kHz and below, keeps the lead it always had).
int hopLeadFor(double latencyFrames)
{
    const std::int64_t latency =
        std::isfinite(latencyFrames) ? std::llround(std::clamp(latencyFrames, 0.0, double(1 << 20))) : 0;
    const std::int64_t scaled = (latency * kAheadHopLead + kAheadHopLeadLatency - 1) / kAheadHopLeadLatency;
    return int(std::max<std::int64_t>(kAheadHopLead, scaled));
}
// Renders the worker is asked for ahead of the audio thread: the time it has to
// make one render's output. With one, bursts of the four stretchers' hops and
// the machine's own left a few dozen renders a minute short on one core; with
// two, nearly only those after the machine took the core away for longer.
constexpr int kAheadSlack = 2;
// And never less than this much audio ahead, whatever the slice length: a
// stretcher's hop (and two decks' hops meeting) takes the worker about as long
// whether the slices are short or long, so two slices of 64 frames (2.7 ms)
// left renders short after the worker's heavier rounds; two of 256 (10.7 ms)
// do not. Counted in whole slices, so the worker still renders what the audio
// thread would.
constexpr double kAheadLeastSeconds = 0.0105;
// The least silence a new unit run starts with, in whole slices: the worker
// resets the unit and feeds it the window before the first output it is asked
// for is due, which took it 1.3 ms for two decks (so a pad of one or two
// 64-frame slices left the render after it short). The unit's own output starts with
// some 10 ms of near silence (below 0.0001 for the first 480 frames at 48 kHz),
// so nothing audible is lost.
constexpr double kAheadPadSeconds = 0.005;
// What each further run starting in the same slice adds to the pad: the worker
// makes every run's first output before any run's later ones, and four
// stretchers' first rounds at 64 frames (a reset, a window of input and the
// renders ahead each) took it up to 9 ms in all on a loaded machine, and at
// 256 frames (making and skipping the pad's output too) over 16 ms at times.
constexpr double kAheadPadPerRunSeconds = 0.004;
// The share of the unit's latency its output stays near silent at a run's
// start: music near full scale stayed below 0.001 for a quarter of it and
// below 0.01 for three quarters, at rates 0.6 to 1.5. A pad within half of it
// loses nothing and starts without a step; a longer one fades in.
constexpr double kAheadQuietShare = 0.5;
// A dry ring is made up by skipping the output missed; beyond this many frames
// (the worker fell far behind) the unit run starts over instead, from the
// point heard.
constexpr std::int64_t kAheadMaxOwed = 16384;
// The most output of the unit a render on the audio thread drops (the output
// of the input read past a track's end before a move off it): this many of
// its own lengths, and never less than kDropLeast frames.
constexpr std::int64_t kDropPerRender = 8;
constexpr std::int64_t kDropLeast = 1024;
// The input added to a run's lead for a worker that ran short (a deck slowed
// a long way) is part of the lead while the deck is slower than this many
// times the fastest rate it ran short at.
constexpr double kTopUpSpeedUp = 2.0;

int chunksFor(std::int64_t frames) { return int((frames + kAheadChunk - 1) / kAheadChunk); }

// Wrapping comparison of run numbers.
bool olderRun(std::uint32_t a, std::uint32_t b) { return std::int32_t(a - b) < 0; }

// A count of frames tagged with its unit run, in one word that crosses
// between threads whole: the run in the high half, the frames (rounded,
// saturated) in the low one.
std::uint64_t packRunFrames(std::uint32_t run, double frames)
{
    constexpr double lo = double(std::numeric_limits<std::int32_t>::min());
    constexpr double hi = double(std::numeric_limits<std::int32_t>::max());
    const auto n = std::int32_t(std::isfinite(frames) ? std::llround(std::clamp(frames, lo, hi)) : 0);
    return (std::uint64_t(run) << 32) | std::uint32_t(n);
}
// The frames of `run` in such a word; 0 when it holds another run's.
double runFrames(std::uint64_t word, std::uint32_t run)
{
    return std::uint32_t(word >> 32) == run ? double(std::int32_t(std::uint32_t(word))) : 0.0;
}

// The worker's shortfalls in a unit run, in one word that crosses between
// threads whole: the run in the high half, then the count of rounds it ran
// short (16 bits, never 0 once it has) and the fastest of the rates those
// rounds were put down to (16 bits, in steps of kShortRateStep, rounded up
// and saturated), so the rate read always goes with the count read beside
// it.
constexpr double kShortRateStep = 1.0 / 4096.0;
struct RunShort {
    std::uint32_t count = 0;
    float rate = 0.0f;
};
std::uint64_t packRunShort(std::uint32_t run, RunShort s)
{
    const double steps = std::isfinite(s.rate) ? std::ceil(std::max(double(s.rate), 0.0) / kShortRateStep) : 65535.0;
    const auto rate = std::uint32_t(std::min(steps, 65535.0));
    return (std::uint64_t(run) << 32) | (std::uint64_t(s.count & 0xffffu) << 16) | rate;
}
// The shortfalls of `run` in such a word; none when it holds another run's.
RunShort runShort(std::uint64_t word, std::uint32_t run)
{
    if (std::uint32_t(word >> 32) != run)
        return {};
    return {std::uint32_t(word >> 16) & 0xffffu, float(double(word & 0xffffu) * kShortRateStep)};
}

// Whole slices of `span` frames, at least `count` of them, making at least
// `seconds` of audio.
int wholeSlices(int span, int count, double seconds, double sampleRate)
{
    const double sr = std::isfinite(sampleRate) && sampleRate > 0.0 ? sampleRate : 48000.0;
    const int piece = std::max(span, 1);
    const int least = int(std::ceil(seconds * sr));
    return std::max(count, (least + piece - 1) / piece) * piece;
}

} // namespace

// One render the worker runs the unit for, as the audio thread would have: the
// unit's rate and pitch set, its output filled to `frames` from the queued
// input and taken out. Each one stands for the audio thread's next render, so
// the unit sees the very calls it would see on the audio thread.
struct AheadRequest {
    int frames = 0;
    std::uint32_t generation = 0;
    float rate = 1.0f;
    float pitch = 0.0f;
    // The first of a unit run: the unit is reset first.
    bool reset = false;
};

struct DeckVoice::Ahead {
    Ahead(int maxFrames, int hopLead)
        : input(chunksFor(4 * (4 * std::int64_t(maxFrames) + hopLead)), kAheadChunk)
        , output(chunksFor(8 * std::int64_t(maxFrames) + 4096), kAheadChunk)
        , requests(512)
        , accLeft(std::size_t(maxFrames), 0.0f)
        , accRight(std::size_t(maxFrames), 0.0f)
    {
    }
    AheadRing input;
    AheadRing output;
    AheadQueue<AheadRequest> requests;
    // The newest unit run the audio thread started; older work is skipped.
    std::atomic<std::uint32_t> latest{0};
    std::atomic<std::int64_t> dryBlocks{0};
    std::atomic<std::int64_t> dryFrames{0};
    std::atomic<std::int64_t> lateFrames{0};
    std::atomic<std::int64_t> requested{0};
    // The input the unit holds once it has made a render's output (besides
    // its latency), averaged over the last quarter second of its runs' steady
    // play; NaN until known. Written by the worker, read by the audio thread.
    std::atomic<double> unitHold{std::numeric_limits<double>::quiet_NaN()};
    // What it holds by rate and render length, measured at set-up: stands in
    // until the worker has seen steady play. Read by the audio thread.
    UnitHolds holds{};
    // Rounds in which the worker stopped because the input the unit asked for
    // was not queued yet, counted per unit run with the fastest of the rates
    // they are put down to (`packRunShort`), so a count never passes from
    // one run to the next, and the audio thread learns the rate the worker
    // ran short at, not that of the render that first sees the count. A
    // round is put down to the slowest rate asked of the worker from the
    // render it stopped in on: a render slowed far asks for little input,
    // and the render before it, still faster, then lacks the input its
    // output needs. Written by the worker, read by the audio thread.
    std::atomic<std::uint64_t> inputShort{0};
    // The input the run's renders were asked at (frames by the rate each
    // asked for) less the input the output made for them stands for (by the
    // rates it was made at), over the renders served so far: what the
    // stretcher's rate changes moved between the two. A unit slowed far makes
    // its output in one long stretch at the slow rate and asks for no input
    // until that is taken, whatever rate the later renders ask at. The run
    // in the high half, whole frames (two's complement, saturated) in the
    // low one. Written by the worker, read by the audio thread.
    std::atomic<std::uint64_t> askedOverMade{0};

    // The worker's side: the run the unit is in, the render it is working on
    // (whether its rate is set, the input fed for it so far), and the input
    // gathered for the unit's next feed.
    bool running = false;
    std::uint32_t generation = 0;
    float rate = -1.0f;
    float pitch = -99999.0f;
    std::optional<AheadRequest> current;
    bool started = false;
    double fed = 0.0;
    // Input fed in the unit's run, the input its output taken so far stands
    // for (at the rates it was made at), the output taken, and their running
    // mean hold.
    double runFed = 0.0;
    double runUsed = 0.0;
    double runMade = 0.0;
    std::int64_t runOut = 0;
    double holdMean = 0.0;
    bool holdKnown = false;
    // The unit's output ready for the renders to come.
    MadeOutput made;
    std::vector<float> accLeft, accRight;
    int acc = 0;
    int need = 0;
};

DeckVoice::DeckVoice(double sampleRate, int maxFrames, Bare)
    : sampleRate_(sampleRate > 0.0 ? sampleRate : 48000.0), maxFrames_(std::max(1, maxFrames))
{
}

DeckVoice::DeckVoice(double sampleRate, int maxFrames)
    : sampleRate_(sampleRate > 0.0 ? sampleRate : 48000.0), maxFrames_(std::max(1, maxFrames))
{
    try {
        timePitch_ = std::make_unique<HostedUnit>(units::kFormatConverter, units::kTimePitch, sampleRate_, maxFrames_);
    } catch (const std::exception&) {
        // Without the unit the deck plays on the direct path only.
        timePitch_.reset();
    }
    if (timePitch_) {
        timePitch_->setSource(this);
        timePitchLatencyFrames_ = timePitch_->latencySeconds() * sampleRate_;
        aheadHopLead_ = hopLeadFor(timePitchLatencyFrames_);
        dropLeft_.assign(std::size_t(maxFrames_), 0.0f);
        dropRight_.assign(std::size_t(maxFrames_), 0.0f);
    }
}

DeckVoice::~DeckVoice()
{
    disableRenderAhead();
    // The audio thread is gone: this thread may consume both rings.
    if (buffer_)
        buffer_->release();
    if (held_ && held_->carriesBuffer())
        held_->buffer->release();
    while (std::optional<DeckCommand> c = commands_.pop())
        if (c->carriesBuffer())
            c->buffer->release();
    releaseRetiredBuffers();
}

bool DeckVoice::send(const DeckCommand& command)
{
    using K = DeckCommand::Kind;
    if (!commands_.push(command)) {
        // Lost: the reference the command carried would otherwise leak.
        if (command.carriesBuffer())
            command.buffer->release();
        return false;
    }
    switch (command.kind) {
    case K::load:
    case K::swap:
    case K::takeOver:
    case K::seek:
    case K::play:
    case K::pause:
    case K::cue:
    case K::setCuePoint:
    case K::handOver:
        sentTransport_[std::size_t(sent_) % kSentKept] = {sent_, command.kind, command.a, command.flag,
                                                          command.buffer != nullptr};
        break;
    default:
        break;
    }
    // Awaiting a handover: the buffer the record comes back with closes the
    // list; what follows it installs the record, before the handover.
    if (awaiting_ && !awaitClosed_) {
        if (command.carriesBuffer())
            awaitClosed_ = true;
        else if (command.kind != K::handOver && awaited_.size() < std::size_t(kCommandCapacity))
            awaited_.push_back(command);
    }
    ++sent_;
    return true;
}

void DeckVoice::awaitHandover()
{
    if (awaiting_)
        return;
    awaiting_ = true;
    awaitClosed_ = false;
    awaited_.clear();
}

std::vector<DeckCommand> DeckVoice::stopAwaiting()
{
    awaiting_ = awaitClosed_ = false;
    return std::exchange(awaited_, {});
}

bool DeckVoice::handOver(const DeckTransport& seconds, const std::vector<DeckCommand>& since)
{
    std::vector<DeckCommand> after = since;
    const std::vector<DeckCommand> kept = stopAwaiting();
    after.insert(after.end(), kept.begin(), kept.end());
    // The command goes in right behind its transport: the ring is single
    // producer, so the transport is there when the command is taken.
    const bool queued = handovers_.push(seconds) && send(DeckCommand::handOver(seconds.pos_, seconds.playing_));
    for (const DeckCommand& c : after)
        send(c);
    return queued;
}

DeckTransport DeckVoice::handoverOnceStopped() const
{
    if (!stopped_)
        return DeckTransport{}.scaled(1.0 / sampleRate_);
    DeckTransport t = static_cast<const DeckTransport&>(*stopped_).scaled(1.0 / stopped_->sampleRate_);
    t.reverse_ = false;
    return t;
}

DeckVoice::Asked DeckVoice::asked() const
{
    using K = DeckCommand::Kind;
    const std::int64_t taken = state_.commandsTakenAcquire();
    Asked a{state_.loaded.load(), state_.playing.load(), state_.timeline().position};
    double cuePoint = state_.cuePoint.load();
    // Play while the cue button is held latches the play for its release.
    bool cueing = state_.cueing.load();
    bool latched = false;
    for (std::int64_t n = std::max(taken, sent_ - std::int64_t(kSentKept)); n < sent_; ++n) {
        const SentTransport& c = sentTransport_[std::size_t(n) % kSentKept];
        if (c.number != n)
            continue; // not a transport command
        switch (c.kind) {
        case K::load:
            a.loaded = c.buffer;
            if (!c.buffer || !c.flag) {
                a.playing = cueing = false;
                a.position = cuePoint = 0.0;
            }
            break;
        case K::swap:
            if (finite(c.a)) {
                a.position = std::max(a.position - c.a, 0.0);
                cuePoint = std::max(cuePoint - c.a, 0.0);
            }
            break;
        case K::takeOver:
            a.loaded = c.buffer;
            a.playing = c.buffer;
            cueing = false;
            a.position = finite(c.a) ? std::max(c.a, 0.0) : 0.0;
            break;
        case K::seek:
            if (finite(c.a))
                a.position = std::max(c.a, 0.0);
            break;
        case K::setCuePoint:
            if (finite(c.a))
                cuePoint = c.a;
            break;
        case K::play:
            // Play pressed while playing stops the deck.
            if (!a.loaded)
                break;
            if (cueing)
                latched = true;
            else
                a.playing = !a.playing;
            break;
        case K::pause:
            a.playing = false;
            break;
        case K::handOver:
            // The transport of the voice this one replaces: where it stands
            // and whether it plays on, its holds over.
            if (a.loaded) {
                a.playing = c.flag;
                if (finite(c.a))
                    a.position = std::max(c.a, 0.0);
                cueing = latched = false;
            }
            break;
        case K::cue:
            // Pressed while playing, the deck goes back to its cue and
            // stands; stopped on its cue, it plays while held; stopped
            // elsewhere, the cue moves there. Let go after a preview, the
            // deck stands unless play latched.
            if (c.flag && a.loaded) {
                if (a.playing && !cueing) {
                    a.playing = false;
                    a.position = cuePoint;
                } else if (!a.playing && std::fabs(a.position - cuePoint) < kAtCue) {
                    a.playing = cueing = true;
                    latched = false;
                } else if (!a.playing) {
                    cuePoint = a.position;
                }
            } else if (!c.flag && cueing) {
                cueing = false;
                a.playing = latched;
                latched = false;
            }
            break;
        default:
            break;
        }
    }
    return a;
}

DeckVoice::Asked DeckVoice::askedOnceStopped()
{
    // A running output still takes this voice's commands: a second taker
    // could carry one out twice, lose one, or release a buffer twice.
    const bool rendered = rendered_.load();
    assert(!rendered && "askedOnceStopped on a voice a running output renders");
    if (rendered)
        return asked();
    if (!stopped_) {
        stopped_.reset(new DeckVoice(sampleRate_, maxFrames_, Bare{}));
        stopped_->copyTransportOf(*this);
    }
    DeckVoice& copy = *stopped_;
    // Nothing renders this voice again: this thread takes its commands. A
    // buffer-carrying command waits for a free retirement slot, which
    // releasing the copy's retired buffers makes.
    const auto carryOut = [this, &copy](const DeckCommand& c) {
        // A handover still waiting goes with its command.
        if (c.kind == DeckCommand::Kind::handOver)
            if (std::optional<DeckTransport> t = handovers_.pop())
                copy.handovers_.push(*t);
        while (!copy.apply(c))
            copy.releaseRetiredBuffers();
    };
    if (held_) {
        carryOut(*held_);
        held_.reset();
    }
    while (std::optional<DeckCommand> c = commands_.pop())
        carryOut(*c);
    copy.releaseRetiredBuffers();
    // A platter held in vinyl mode stands where it was scrubbed to.
    const double at = copy.jogTouched_ && copy.vinyl_ ? copy.clampToBuffer(copy.scrubTarget_) : copy.pos_;
    return {copy.buffer_ != nullptr, copy.playing_, std::max(at, 0.0) / copy.sampleRate_};
}

DeckTransport DeckTransport::scaled(double factor) const
{
    const auto mark = [factor](double frames) { return frames < 0.0 ? -1.0 : frames * factor; };
    DeckTransport t = *this;
    t.pos_ *= factor;
    t.swapShift_ *= factor;
    t.slipPos_ *= factor;
    t.cuePoint_ *= factor;
    for (double& h : t.hotCues_)
        h = mark(h);
    t.loopStart_ = mark(loopStart_);
    t.loopEnd_ = mark(loopEnd_);
    t.scrubTarget_ *= factor;
    t.scrubSpeed_ *= factor;
    return t;
}

void DeckTransport::stand()
{
    playing_ = cueing_ = cueLatch_ = jogTouched_ = false;
    hotCueHeld_ = -1;
    scrubSpeed_ = 0.0;
    bend_ = 0.0;
}

void DeckVoice::copyTransportOf(const DeckVoice& from)
{
    // The transport the audio thread left, whole, but at the position heard
    // rather than the read head the time-pitch unit runs ahead of.
    static_cast<DeckTransport&>(*this) = from;
    buffer_ = from.buffer_;
    if (buffer_)
        buffer_->retain();
    pos_ = clampToBuffer(from.state_.timeline().position * sampleRate_);
    scrubTarget_ = from.jogTouched_ ? from.scrubTarget_ : pos_;
    slipPos_ = from.diversionActive() ? from.slipPos_ : pos_;
    publishedCueRevision_ = cueRevision_;
    state_.beginTimeline();
    state_.position.store(pos_ / sampleRate_);
    state_.swapShift.store(swapShift_ / sampleRate_);
    state_.endTimeline();
}

int DeckVoice::releaseRetiredBuffers()
{
    int released = 0;
    while (std::optional<TrackBuffer*> p = retired_.pop()) {
        if (*p)
            (*p)->release();
        ++released;
    }
    return released;
}

// ---------------------------------------------------------------------------
// Command handling

void DeckVoice::drain()
{
    if (held_) {
        if (!apply(*held_))
            return; // still no free retirement slot
        held_.reset();
        ++taken_;
    }
    while (std::optional<DeckCommand> c = commands_.pop()) {
        if (!apply(*c)) {
            // Back-pressure: the retired ring is full. Keep the command (and its
            // buffer) for the next render rather than drop or free anything here.
            held_ = *c;
            return;
        }
        ++taken_;
    }
}

bool DeckVoice::apply(const DeckCommand& command)
{
    const bool divertedBefore = diversionActive();
    if (command.kind == DeckCommand::Kind::load || command.kind == DeckCommand::Kind::swap
        || command.kind == DeckCommand::Kind::takeOver) {
        if (!replaceBuffer(command.buffer))
            return false;
    }
    applyCommand(command);
    slipBookkeeping(divertedBefore);
    return true;
}

bool DeckVoice::replaceBuffer(TrackBuffer* next)
{
    if (buffer_ && buffer_ != next) {
        if (!retired_.push(buffer_))
            return false;
    } else if (buffer_ && buffer_ == next) {
        // The same buffer sent again carries a second reference: retire that one.
        if (!retired_.push(next))
            return false;
        return true;
    }
    buffer_ = next;
    return true;
}

void DeckVoice::publishBufferFacts()
{
    // Whoever sees the new `loaded` (with acquire ordering) sees at least the
    // timeline writes counted before it: the next complete one follows the load.
    std::atomic_thread_fence(std::memory_order_release);
    state_.loaded.store(buffer_ != nullptr);
    state_.duration.store(buffer_ ? buffer_->duration() : 0.0);
}

double DeckVoice::beatLengthSeconds() const { return hasGrid_ ? grid_.beatLength() : 0.5; }

double DeckVoice::beatFrames() const { return beatLengthSeconds() * sampleRate_; }

double DeckVoice::beatIndex(double frames) const
{
    return (frames / sampleRate_ - grid_.firstBeat) / beatLengthSeconds();
}

double DeckVoice::clampToBuffer(double frames) const
{
    const std::int64_t n = frameCount();
    if (n <= 0 || !finite(frames))
        return frames > 0.0 && n > 0 ? double(n - 1) : 0.0;
    return std::clamp(frames, 0.0, double(n - 1));
}

bool DeckVoice::diversionActive() const
{
    return slip_ && (loopActive_ || reverse_ || (jogTouched_ && vinyl_) || hotCueHeld_ >= 0);
}

void DeckVoice::slipBookkeeping(bool divertedBefore)
{
    if (!divertedBefore) {
        if (!slip_ || !diversionActive())
            slipPos_ = pos_;
        return;
    }
    if (slip_ && !loopActive_ && !reverse_ && !(jogTouched_ && vinyl_) && hotCueHeld_ < 0) {
        pos_ = clampToBuffer(slipPos_);
        if (jogTouched_)
            scrubTarget_ = pos_;
    }
}

void DeckVoice::resetTimePitch()
{
    // On the render-ahead path the worker resets the unit when the new run
    // reaches it (`run_.restart`).
    if (!ahead_ && timePitch_)
        timePitch_->reset();
    run_ = UnitRun{};
}

void DeckVoice::applyCommand(const DeckCommand& c)
{
    using K = DeckCommand::Kind;
    const double sr = sampleRate_;
    switch (c.kind) {
    case K::load:
        if (!c.flag) {
            cuePoint_ = 0.0;
            loopActive_ = false;
            pos_ = slipPos_ = 0.0;
            playing_ = cueing_ = false;
            loopStart_ = loopEnd_ = -1.0;
            hotCues_.fill(-1.0);
            hasGrid_ = false;
            resetTimePitch();
        } else {
            // The same track again, perhaps longer: a deck playing out its
            // end plays on into it from what was heard.
            if (run_.ending)
                leaveRunWhereHeard();
            pos_ = clampToBuffer(pos_);
            slipPos_ = clampToBuffer(slipPos_);
        }
        publishBufferFacts();
        break;
    case K::swap: {
        // A continuation spliced on while the deck plays out its old end: the
        // run made up to that end is left, and the deck plays on from what was
        // heard, into the new music.
        if (run_.ending)
            leaveRunWhereHeard();
        const double d = finite(c.a) ? c.a * sr : 0.0;
        const double before = pos_;
        pos_ = clampToBuffer(pos_ - d);
        swapShift_ += before - pos_;
        slipPos_ = clampToBuffer(slipPos_ - d);
        scrubTarget_ -= d;
        cuePoint_ = std::max(cuePoint_ - d, 0.0);
        for (double& h : hotCues_)
            if (h >= 0.0) {
                h -= d;
                if (h < 0.0)
                    h = -1.0;
            }
        if (loopStart_ >= 0.0) {
            loopStart_ -= d;
            loopEnd_ -= d;
            if (loopStart_ < 0.0) {
                loopStart_ = loopEnd_ = -1.0;
                loopActive_ = false;
            }
        }
        publishBufferFacts();
        ++cueRevision_;
        break;
    }
    case K::takeOver: {
        // The new buffer goes on from the music heard last (a take taking over
        // the deck, the chain's next stretch): the jump to its time is no
        // seek, so it counts with the swaps' (a mix the deck drives runs on).
        // The music heard is the position and shift last published: a swap or
        // take-over earlier in this render has moved neither yet.
        const double music = (state_.position.load() + state_.swapShift.load()) * sr;
        loopActive_ = false;
        loopStart_ = loopEnd_ = -1.0;
        hotCues_.fill(-1.0);
        hasGrid_ = false;
        pos_ = slipPos_ = clampToBuffer(finite(c.a) ? c.a * sr : 0.0);
        swapShift_ = music - pos_;
        hotCueHeld_ = -1;
        playing_ = true;
        cueing_ = false;
        resetTimePitch();
        publishBufferFacts();
        break;
    }
    case K::setGrid:
        grid_ = BeatGrid(c.a, c.b, 4);
        // A grid with a NaN first beat would turn every quantized position into
        // NaN; it counts as no grid, like an unusable tempo.
        hasGrid_ = c.a > 20.0 && c.a < 400.0 && finite(c.a) && finite(c.b);
        break;
    case K::cue:
        cueButton(c.flag);
        break;
    case K::hotCue:
        hotCuePad(c.index, c.flag);
        break;
    case K::setHotCue:
        if (c.index >= 0 && c.index < DeckState::kHotCues && !std::isnan(c.a))
            hotCues_[std::size_t(c.index)] = c.a >= 0.0 && finite(c.a) ? c.a * sr : -1.0;
        break;
    case K::setCuePoint:
        if (finite(c.a))
            cuePoint_ = c.a * sr;
        break;
    case K::seek: {
        const double p = clampToBuffer(c.a * sr);
        pos_ = slipPos_ = p;
        if (jogTouched_)
            scrubTarget_ = p;
        break;
    }
    case K::autoLoop: {
        const double length = beatFrames() * c.a;
        // A loop must have a finite, positive length: wrapping by a zero or NaN
        // length would make the position NaN.
        if (!finite(length) || length < 1.0)
            break;
        if (loopActive_ && std::fabs((loopEnd_ - loopStart_) - length) < 2.0) {
            loopActive_ = false;
            break;
        }
        // The loop starts from the beat the DJ has heard, not the read head,
        // which runs ahead of the sound while the time-pitch unit plays.
        const double here = heardFrames();
        const double start = quantized()
            ? sr * (grid_.firstBeat + beatLengthSeconds() * std::floor(beatIndex(here) + 0.000001))
            : here;
        loopStart_ = start;
        loopEnd_ = start + length;
        loopActive_ = true;
        if (loopEnd_ <= pos_)
            wrapIntoLoop();
        break;
    }
    case K::loopResize:
        if (!std::isnan(c.a) && loopStart_ >= 0.0 && loopStart_ < loopEnd_) {
            double length = (loopEnd_ - loopStart_) * c.a;
            if (!finite(length))
                break;
            length = std::max(length, 32.0);
            loopEnd_ = loopStart_ + length;
            if (loopActive_ && loopEnd_ <= pos_)
                wrapIntoLoop();
        }
        break;
    case K::setLoop:
        if (!finite(c.a) || !finite(c.b))
            break;
        loopStart_ = c.a * sr;
        loopEnd_ = c.b * sr;
        if (c.flag) {
            loopActive_ = c.a < c.b;
            if (loopActive_)
                pos_ = loopStart_;
        } else {
            loopActive_ = false;
        }
        break;
    case K::beatJump: {
        const double jump = beatFrames() * c.a;
        if (!finite(jump))
            break;
        pos_ = clampToBuffer(pos_ + jump);
        if (loopActive_) {
            loopStart_ += jump;
            loopEnd_ += jump;
        }
        if (!slip_)
            slipPos_ = pos_;
        break;
    }
    case K::jogTouch:
        if (c.flag) {
            if (!jogTouched_) {
                // A hold in vinyl mode takes the record where the sound is,
                // not at the read head the unit runs ahead of it.
                if (vinyl_)
                    leaveRunWhereHeard(false);
                scrubTarget_ = pos_;
                scrubSpeed_ = 0.0;
                jogTouched_ = true;
            }
        } else {
            jogTouched_ = false;
            scrubSpeed_ = 0.0;
        }
        break;
    case K::jogScrub:
        if (!finite(c.a))
            break;
        if (jogTouched_ && vinyl_)
            scrubTarget_ += c.a * sr;
        else if (playing_)
            bend_ = std::clamp(c.a * 8.0, -0.9, 0.9);
        else
            pos_ = slipPos_ = clampToBuffer(pos_ + c.a * sr);
        break;
    case K::jogBend:
        if (!std::isnan(c.a))
            bend_ = std::clamp(c.a, -0.9, 0.9);
        break;
    case K::slip:
        // Told again that slip is on (a deck's settings sent to a voice that
        // took it over), the music beneath keeps its place.
        if (slip_ != c.flag)
            slipPos_ = pos_;
        slip_ = c.flag;
        break;
    case K::reverse:
        if (reverse_ != c.flag) {
            // Playing out the end, the read head stands there: it turns back
            // from what was heard.
            if (run_.ending)
                leaveRunWhereHeard();
            // The worker is behind, the sound gone: the deck turns as the
            // audio thread's unit would, what it holds past the point heard
            // after it, rather than the lead queued for the worker. Not while
            // an earlier turn is still to be heard: a run started again holds
            // all of its lead one way.
            else if (ahead_ && playing_ && usedTimePitch_ && !run_.restart && run_.missed > 0
                     && !turnToHear(std::max(lastRate_, 0.0f)))
                restartBehindWorker();
            run_.takenAtTurn = run_.taken;
        }
        reverse_ = c.flag;
        break;
    case K::quantize:
        quantize_ = c.flag;
        break;
    case K::vinyl:
        if (c.flag && !vinyl_ && jogTouched_) {
            // The platter already held starts scratching from what was heard.
            leaveRunWhereHeard(false);
            scrubTarget_ = pos_;
            scrubSpeed_ = 0.0;
        }
        vinyl_ = c.flag;
        break;
    case K::keyLock:
        // The run made at the old setting is left where the sound is: the
        // music between it and the read head is not skipped.
        if (usedTimePitch_)
            leaveRunWhereHeard();
        else
            resetTimePitch();
        keyLock_ = c.flag;
        break;
    case K::alignPhase: {
        if (!hasGrid_ || !finite(c.a))
            break;
        const double b = beatIndex(pos_);
        double e = (b - std::floor(b)) - c.a;
        if (e > 0.5)
            e -= 1.0;
        if (e < -0.5)
            e += 1.0;
        pos_ = clampToBuffer(pos_ - beatFrames() * e);
        break;
    }
    case K::play:
        if (!buffer_)
            break; // nothing to play: a deck without a track stays stopped
        if (cueing_ || hotCueHeld_ >= 0)
            cueLatch_ = true;
        else if (playing_)
            stopWhereHeard();
        else
            playing_ = true;
        break;
    case K::pause:
        stopWhereHeard();
        break;
    case K::loopIn: {
        const double here = heardFrames();
        const double start =
            quantized() ? sr * (grid_.firstBeat + beatLengthSeconds() * roundAway(beatIndex(here))) : here;
        loopStart_ = start;
        if (!(loopEnd_ > start))
            loopEnd_ = -1.0;
        loopActive_ = false;
        break;
    }
    case K::loopOut: {
        if (loopStart_ < 0.0)
            break;
        double end = heardFrames();
        if (quantized()) {
            const double n = std::max(roundAway((end - loopStart_) / beatFrames()), 1.0);
            end = loopStart_ + n * beatFrames();
        }
        if (end > loopStart_ + 64.0) {
            loopEnd_ = end;
            loopActive_ = true;
            // The read head may already be past an end set where the sound is.
            // Rendering wraps it back by one loop length; a loop shorter than
            // the read head's lead needs more, so it wraps here, keeping its
            // place in the loop's cycle. So does a read head standing at the
            // track's end, which rendering no longer moves.
            const double length = loopEnd_ - loopStart_;
            if (pos_ >= loopEnd_ + length || (run_.ending && pos_ >= loopEnd_))
                wrapIntoLoop();
        }
        break;
    }
    case K::handOver:
        takeHandover();
        break;
    case K::reloopExit:
        if (loopActive_)
            loopActive_ = false;
        else if (loopStart_ >= 0.0 && loopStart_ < loopEnd_) {
            loopActive_ = true;
            pos_ = loopStart_;
        }
        break;
    }
}

void DeckVoice::takeHandover()
{
    const std::optional<DeckTransport> handed = handovers_.pop();
    if (!handed)
        return;
    // The voice's own counts go on: the cue changes it made, and the shift
    // its swaps put between its read head and the music heard.
    const std::int64_t revision = cueRevision_;
    const double shift = swapShift_;
    static_cast<DeckTransport&>(*this) = handed->scaled(sampleRate_);
    cueRevision_ = revision;
    swapShift_ = shift;
    reverse_ = false;
    pos_ = clampToBuffer(pos_);
    slipPos_ = clampToBuffer(slipPos_);
    if (!jogTouched_)
        scrubTarget_ = pos_;
    if (!buffer_)
        playing_ = cueing_ = false; // nothing to play
    resetTimePitch();
}

void DeckVoice::cueButton(bool down)
{
    if (!buffer_)
        return;
    const double sr = sampleRate_;
    if (down) {
        if (!playing_) {
            if (std::fabs(pos_ - cuePoint_) < kAtCue * sr) {
                cueLatch_ = false;
                playing_ = true;
                cueing_ = true;
            } else {
                const double here = heardFrames();
                const double p = quantized() ? sr * grid_.nearestBeat(here / sr) : here;
                cuePoint_ = pos_ = p;
                ++cueRevision_;
            }
        } else if (!cueing_) {
            playing_ = false;
            pos_ = cuePoint_;
            leaveUnitRun();
        }
        return;
    }
    if (!cueing_)
        return;
    cueing_ = false;
    if (cueLatch_) {
        cueLatch_ = false;
    } else {
        playing_ = false;
        pos_ = cuePoint_;
        leaveUnitRun();
    }
}

void DeckVoice::hotCuePad(int index, bool down)
{
    if (!buffer_ || index < 0 || index >= DeckState::kHotCues)
        return;
    const double sr = sampleRate_;
    double& cue = hotCues_[std::size_t(index)];
    if (down) {
        if (cue >= 0.0 && playing_ && !cueing_) {
            // The jump is heard after the output queued ahead of the sound:
            // within a device's burst that is far more than a slice's lead,
            // and the deck starts a fresh run from the cue instead, heard
            // after the unit's own latency. Its phase in the beat is then
            // that of the point the music would have reached by then.
            const bool fresh = freshRunForJump();
            double from = pos_;
            if (fresh) {
                const double ahead = timePitchLatencyFrames_ * double(lastRate_) * currentSpeed_;
                from = heardFrames() + (reverse_ ? -ahead : ahead);
                leaveUnitRun(false);
            }
            double target = cue;
            if (quantized())
                target += (from / sr - (grid_.firstBeat + beatLengthSeconds() * roundAway(beatIndex(from)))) * sr;
            pos_ = clampToBuffer(target);
            if (slip_)
                hotCueHeld_ = index;
        } else if (cue >= 0.0) {
            pos_ = cue;
            hotCueHeld_ = index;
            cueLatch_ = false;
            playing_ = true;
        } else {
            // Stored where the DJ heard the press, not at the read head.
            const double here = heardFrames();
            cue = quantized() ? sr * grid_.nearestBeat(here / sr) : here;
            ++cueRevision_;
        }
        return;
    }
    if (index != hotCueHeld_)
        return;
    hotCueHeld_ = -1;
    if (cueLatch_) {
        cueLatch_ = false;
    } else if (!slip_) {
        playing_ = false;
        pos_ = cue;
        leaveUnitRun();
    }
}

// ---------------------------------------------------------------------------
// Operations of the mix engine

void DeckVoice::start()
{
    hotCueHeld_ = -1;
    playing_ = true;
    cueing_ = false;
    resetTimePitch();
}

bool DeckVoice::freshRunForJump() const
{
    if (!ahead_ || !usedTimePitch_ || run_.restart)
        return false;
    const std::int64_t queued = run_.requested - run_.rendered;
    return queued > std::int64_t(aheadHorizonFrames(aheadLongest_, sampleRate_));
}

void DeckVoice::stopWhereHeard()
{
    // Play goes on from here and CUE stores this point: the music between the
    // sound and the read head is never skipped.
    if (playing_ && usedTimePitch_)
        pos_ = clampToBuffer(heardFrames());
    playing_ = false;
    leaveUnitRun();
}

void DeckVoice::leaveRunWhereHeard(bool resetUnit)
{
    if (playing_ && usedTimePitch_) {
        pos_ = clampToBuffer(heardFrames());
        if (!slip_ || !diversionActive())
            slipPos_ = pos_;
    }
    leaveUnitRun(resetUnit);
}

void DeckVoice::leaveUnitRun(bool resetUnit)
{
    if (!usedTimePitch_)
        return;
    if (ahead_)
        dropAheadRun();
    if (resetUnit)
        resetTimePitch();
    else
        run_ = UnitRun{};
    usedTimePitch_ = false;
}

void DeckVoice::rtCue(double seconds)
{
    drain();
    const double p = clampToBuffer(finite(seconds) ? seconds * sampleRate_ : 0.0);
    pos_ = slipPos_ = p;
    hotCueHeld_ = -1;
    playing_ = cueing_ = false;
    resetTimePitch();
}

void DeckVoice::rtDropIn(double seconds)
{
    rtCue(seconds);
    playing_ = buffer_ != nullptr;
}

void DeckVoice::rtStartAligned(std::optional<double> barFraction)
{
    drain();
    if (!buffer_)
        return;
    if (barFraction && hasGrid_ && finite(*barFraction)) {
        const double t = pos_ / sampleRate_;
        const double bar = beatLengthSeconds() * double(grid_.beatsPerBar);
        const double k0 = std::floor((t - grid_.firstBeat) / bar);
        double best = t;
        bool found = false;
        for (double k = k0 - 1.0; k <= k0 + 1.0; k += 1.0) {
            const double candidate = grid_.firstBeat + bar * (k + *barFraction);
            if (candidate < 0.0 || !finite(candidate))
                continue;
            if (!found || std::fabs(candidate - t) < std::fabs(best - t)) {
                best = candidate;
                found = true;
            }
        }
        pos_ = slipPos_ = clampToBuffer(best * sampleRate_);
    }
    slipPos_ = pos_;
    start();
}

// ---------------------------------------------------------------------------
// Rendering

void DeckVoice::render(int frames, float* left, float* right)
{
    drain();
    if (frames <= 0)
        return;
    const bool workSlice = workPhase_ >= 0 && int(slices_++ & 1u) == workPhase_;
    renderedStill_ = false;
    if (!buffer_) {
        std::memset(left, 0, sizeof(float) * std::size_t(frames));
        std::memset(right, 0, sizeof(float) * std::size_t(frames));
        renderedStill_ = true;
        publish(0.0f, 0.0f);
        return;
    }

    double tempo = tempo_.load();
    if (!finite(tempo))
        tempo = 0.0; // a broken cell stands the deck still rather than poison its position
    double keyShift = keyShift_.load();
    if (!finite(keyShift))
        keyShift = 0.0;
    blockTempo_ = tempo;
    const bool scratching = jogTouched_ && vinyl_;
    const double sync = finite(syncCorrection_) ? syncCorrection_ : 1.0;

    const double lockedRate = sync * tempo * (1.0 + bend_);
    belowStretch_ = keyLock_ && lockedRate < (belowStretch_ ? kBackToStretch : kSlowestStretch);
    const bool timePitchPath = timePitch_ && !scratching && playing_ && !belowStretch_
        && (std::fabs(float(keyShift)) > 0.001f || (keyLock_ && std::fabs(sync * tempo - 1.0) > 0.0001));

    aheadAsked_ = false;
    aheadBehind_ = false;
    aheadTrace_ = {};
    if (timePitchPath && ahead_) {
        lastRate_ = keyLock_ ? float(sync * tempo * (1.0 + bend_)) : 1.0f;
        lastPitch_ = float(keyShift * 100.0);
        if (!usedTimePitch_) {
            resetTimePitch();
            usedTimePitch_ = true;
        }
        currentSpeed_ = keyLock_ ? 1.0 : sync * tempo * (1.0 + bend_);
        if (!run_.restart)
            leaveEndForMove(); // a new run leaves the end anyway
        renderAhead(frames, left, right, lastRate_, lastPitch_);
        noteWorkerQuiet(frames);
        aheadAsked_ = true;
    } else if (timePitchPath) {
        const float rate = keyLock_ ? float(sync * tempo * (1.0 + bend_)) : 1.0f;
        if (rate != lastRate_) {
            timePitch_->set(units::kTimePitchRate, rate);
            lastRate_ = rate;
        }
        const float pitch = float(keyShift * 100.0);
        if (pitch != lastPitch_) {
            timePitch_->set(units::kTimePitchPitch, pitch);
            lastPitch_ = pitch;
        }
        if (!usedTimePitch_) {
            resetTimePitch();
            usedTimePitch_ = true;
        }
        currentSpeed_ = keyLock_ ? 1.0 : sync * tempo * (1.0 + bend_);
        leaveEndForMove();
        // Each frame out of the unit stands for its input at the rate it was
        // made at (output made ahead before a rate change included).
        run_.backlog -= renderUnit(frames, left, right);
        if (workSlice) {
            (void)timePitch_->prepare(frames);
            run_.made.keep(timePitch_->readyFrames(), double(lastRate_));
        }
        if (endHeard())
            stopAtEnd();
    } else {
        if (usedTimePitch_ && playing_ && !scratching) {
            // Off the unit while playing (tempo back to 1.0, key shift off,
            // or slower than the unit stretches): the direct read goes on
            // from what was heard, not from the read head ahead of it.
            pos_ = clampToBuffer(heardFrames());
            if (!slip_ || !diversionActive())
                slipPos_ = pos_;
        }
        if (ahead_ && usedTimePitch_)
            dropAheadRun();
        run_.ending = false; // what the run held for the track's end is not heard
        usedTimePitch_ = false;
        readSource(frames, left, right, tempo, scratching, std::nullopt);
        renderedStill_ = readStill_;
    }

    if (bend_ != 0.0) {
        bend_ *= 0.85;
        if (std::fabs(bend_) < 0.001)
            bend_ = 0.0;
    }

    float peakL = 0.0f, peakR = 0.0f;
    for (int i = 0; !renderedStill_ && i < frames; ++i) {
        peakL = std::max(peakL, std::fabs(left[i]));
        peakR = std::max(peakR, std::fabs(right[i]));
    }
    publish(peakL, peakR);
}

// ---------------------------------------------------------------------------
// Render-ahead

int DeckVoice::aheadHorizonFrames(int span, double sampleRate)
{
    return wholeSlices(span, kAheadSlack, kAheadLeastSeconds, sampleRate);
}

int DeckVoice::aheadLeadFrames(int frames, double rate) const
{
    const double r = std::isfinite(rate) ? std::clamp(rate, 0.0, 32.0) : 1.0;
    return int(std::ceil(double(aheadHorizonFrames(frames, sampleRate_)) * r)) + aheadHopLead_;
}

int DeckVoice::aheadStartPadFrames(int span, double sampleRate, int runs)
{
    // Three or four runs' first two renders are more than one long slice of
    // work for the worker (four decks' took it 17 ms of a 21 ms slice of 1024
    // frames on a loaded machine): they get a second slice.
    const int more = std::clamp(runs, 1, 4) - 1;
    return wholeSlices(span, more >= 2 ? 2 : 1, kAheadPadSeconds + kAheadPadPerRunSeconds * double(more), sampleRate);
}

int DeckVoice::aheadQuietFrames() const { return int(timePitchLatencyFrames_ * kAheadQuietShare); }

int DeckVoice::startPadFor(int runs) const { return aheadStartPadFrames(run_.padSpan, sampleRate_, runs); }

void DeckVoice::shareAheadStart(int runs)
{
    if (!ahead_ || !aheadTrace_.newRun || run_.restart || runs <= 1)
        return;
    // The runs start together, later by what they share beyond one run's pad:
    // none of them cuts that much into its music.
    run_.holdLeast = std::max<std::int64_t>(startPadFor(runs) - run_.padTotal, 0);
    aheadBehind_ = false;
}

void DeckVoice::setAheadSpan(int frames, int burst)
{
    aheadSpan_ = std::clamp(frames, 0, maxFrames_);
    const int b = std::clamp(burst, 0, maxFrames_);
    if (b > 0 && b <= aheadBurst_)
        aheadBurstBefore_ = aheadBurst_; // a new burst: the last one was played whole
    aheadBurst_ = b;
}

int DeckVoice::stallPace(int frames) const
{
    // The worker can only work between bursts: it has stalled once it made
    // nothing for two of them. Told how the device calls, that is the burst
    // under way or the one just played (after a device's one-off burst,
    // its steady period within a slice), not the burst the lead still
    // covers for the next second, which would let a short stall cost its
    // time.
    if (aheadBurst_ <= 0)
        return std::max({aheadLongest_, frames, aheadSpan_});
    return std::max({aheadLongest_, frames, aheadBurst_, aheadBurstBefore_});
}

void DeckVoice::noteWorkerQuiet(int frames)
{
    // Requests taken since the last render show the worker at work; requests
    // waiting and none taken, for whatever run, show it kept away. A run the
    // DJ starts then finds it stalled at once, not a horizon after the press.
    Ahead& a = *ahead_;
    const int free = a.requests.freeSlots();
    const bool took = free > requestsFreeSeen_ - aheadTrace_.requests;
    workerQuiet_ = took || free >= a.requests.capacity() ? 0 : workerQuiet_ + frames;
    requestsFreeSeen_ = free;
}

std::optional<DeckVoice::HeldRender> DeckVoice::heldRender(int frames) const
{
    if (!aheadStartHeld())
        return std::nullopt;
    // As the hold in renderAhead sees it at a render of `frames`.
    const std::int64_t pad = std::min<std::int64_t>(run_.pad, frames);
    if (pad >= frames)
        return std::nullopt; // the pad still plays through this render
    HeldRender h;
    h.rest = frames - pad;
    h.span = std::max({aheadLongest_, frames, aheadSpan_});
    h.pace = stallPace(frames);
    h.made = ahead_->output.readableFrames(aheadGeneration_);
    h.ready = h.made - (run_.owed + pad);
    h.want = h.rest + std::max(h.span - frames, 0);
    const auto most = std::int64_t(kAheadMaxHoldSeconds * sampleRate_);
    h.atLimit = run_.held >= most;
    h.ends = h.atLimit || (run_.held >= run_.holdLeast && h.ready >= h.want);
    return h;
}

bool DeckVoice::holdFindsStall(const HeldRender& h) const
{
    // A worker that has made no more of the run's output for a horizon of
    // the device's bursts (two bursts: it can only work between them;
    // one slice's horizon to make the first past the pad without bursts)
    // has stalled, whether or not it made some before; so has one that took
    // none of the voice's requests for that long, the run's or those before
    // it (a press moments before a stalled worker comes back). Once stalled
    // in a hold, the rest of the hold, while it catches up, counts as
    // stalled too.
    const std::int64_t idle = h.made > run_.madeHeld ? 0 : run_.idle;
    const std::int64_t horizon = aheadHorizonFrames(h.pace, sampleRate_);
    return run_.stalled || (h.ready < h.want && (idle + h.rest > horizon || workerQuiet_ > horizon));
}

bool DeckVoice::aheadStartReady(int frames) const
{
    if (!aheadStartHeld())
        return true;
    const std::optional<HeldRender> h = heldRender(frames);
    return h && h->ends; // none: the pad still plays through this render
}

bool DeckVoice::aheadStartStalled(int frames) const
{
    const std::optional<HeldRender> h = heldRender(frames);
    return h && holdFindsStall(*h);
}

bool DeckVoice::enableRenderAhead()
{
    if (ahead_)
        return true;
    if (!timePitch_ || !timePitch_->canFeed())
        return false;
    ahead_ = std::make_unique<Ahead>(maxFrames_, aheadHopLead_);
    run_.restart = true;
    workerQuiet_ = 0;
    requestsFreeSeen_ = ahead_->requests.freeSlots();
    usedTimePitch_ = false;
    // A deck that has to go on without its worker before the worker has
    // seen the unit in steady play still turns after what the unit holds.
    ahead_->holds = unitHoldsAtSetUp();
    return true;
}

DeckVoice::UnitHolds DeckVoice::unitHoldsAtSetUp()
{
    // The same for every unit of the kind (told by its latency) at a sample
    // rate: measured once.
    struct Known {
        double sampleRate;
        int maxFrames;
        double latency;
        UnitHolds holds;
    };
    static std::mutex lock;
    static std::vector<Known> known;
    const std::lock_guard<std::mutex> guard(lock);
    for (const Known& k : known)
        if (k.sampleRate == sampleRate_ && k.maxFrames == maxFrames_ && k.latency == timePitchLatencyFrames_)
            return k.holds;
    UnitHolds holds{};
    for (std::size_t i = 0; i < kHoldRates.size(); ++i)
        holds[i] = measureUnitHolds(kHoldRates[i]);
    known.push_back({sampleRate_, maxFrames_, timePitchLatencyFrames_, holds});
    return holds;
}

std::array<double, DeckVoice::kHoldLengths> DeckVoice::measureUnitHolds(float rate)
{
    // A run of the unit as the worker makes one, in short slices, on
    // music-like input, noting each feed: the input it took and the output
    // it made. When it asks for input and how much output each feed makes
    // does not depend on how its output is taken out (nor on the input), so
    // renders of each length are played over those feeds afterwards, as the
    // audio thread would make them from the run's start. What the unit holds
    // rises and falls with its hops: the mean is taken over many of them.
    HostedUnit& unit = *timePitch_;
    const FlushDenormals flush; // as the worker runs the unit
    constexpr int kSlice = kHoldShortest;
    unit.reset();
    unit.set(units::kTimePitchRate, rate);
    unit.set(units::kTimePitchPitch, 0.0f);
    std::vector<float> inLeft(static_cast<std::size_t>(maxFrames_)), inRight(static_cast<std::size_t>(maxFrames_));
    std::vector<float> outLeft(static_cast<std::size_t>(kSlice)), outRight(static_cast<std::size_t>(kSlice));
    // Past the run's start, over 16384 frames (0.15 s at least): the mean of
    // fewer of the unit's hops wanders from one rate to the next.
    const auto from = std::int64_t(0.1 * sampleRate_);
    const auto to = from + std::max(std::int64_t(0.15 * sampleRate_), std::int64_t(16384));
    const double budget = double(kSlice) * 33.0 + 4.0 * double(maxFrames_) + 16384.0;
    struct Feed {
        int input;
        int output;
    };
    std::vector<Feed> feeds;
    std::int64_t t = 0;
    for (std::int64_t out = 0; out < to; out += kSlice) {
        for (double slice = 0.0; unit.readyFrames() < kSlice && slice < budget;) {
            const int need = std::clamp(unit.inputRequired(), 1, maxFrames_);
            for (std::size_t i = 0; i < std::size_t(need); ++i, ++t) {
                const double x = double(t);
                inLeft[i] = float(0.3 * std::sin(x * 0.031) + 0.2 * std::sin(x * 0.0071));
                inRight[i] = float(0.3 * std::sin(x * 0.027) - 0.1 * std::sin(x * 0.19));
            }
            const int ready = unit.readyFrames();
            unit.feed(need, inLeft.data(), inRight.data());
            feeds.push_back({need, unit.readyFrames() - ready});
            slice += need;
        }
        unit.retrieve(std::min(kSlice, unit.readyFrames()), outLeft.data(), outRight.data());
    }
    unit.reset();

    std::array<double, kHoldLengths> holds{};
    for (int c = 0; c < kHoldLengths; ++c) {
        const int length = kSlice << c;
        std::size_t next = 0;
        std::int64_t ready = 0;
        double fed = 0.0;
        double sum = 0.0;
        int counted = 0;
        for (std::int64_t out = 0; out + length <= to; out += length) {
            while (ready < length && next < feeds.size()) {
                fed += feeds[next].input;
                ready += feeds[next].output;
                ++next;
            }
            if (ready < length)
                break; // the unit stalled: what came before stands
            ready -= length;
            if (out >= from) {
                sum += fed - double(out + length) * double(rate);
                ++counted;
            }
        }
        holds[std::size_t(c)] = counted > 0 && std::isfinite(sum) ? std::max(sum / counted, 0.0) : 0.0;
    }
    return holds;
}

double DeckVoice::steadyUnitHold(float rate) const
{
    static_assert(kHoldRates.front() < 1.0f && kHoldRates.back() > 1.0f,
                  "rates on both sides of the track's own speed");
    if (!ahead_)
        return 0.0;
    const double refined = ahead_->unitHold.load(std::memory_order_relaxed);
    if (finite(refined))
        return refined;
    // The render length's largest power-of-two factor picks the column.
    const int longest = std::max(aheadLongest_, 1);
    const int factor = longest & -longest;
    int c = 0;
    while (c + 1 < kHoldLengths && (kHoldShortest << c) < factor)
        ++c;
    // Interpolated in rate on the rate's side of the track's own speed,
    // held flat past that side's outermost rates.
    std::size_t first = 0;
    while (first < kHoldRates.size() && kHoldRates[first] < 1.0f)
        ++first;
    std::size_t lo = rate < 1.0f ? 0 : first;
    const std::size_t hi = rate < 1.0f ? first - 1 : kHoldRates.size() - 1;
    if (!(rate > kHoldRates[lo]))
        return ahead_->holds[lo][std::size_t(c)];
    if (!(rate < kHoldRates[hi]))
        return ahead_->holds[hi][std::size_t(c)];
    while (lo + 1 < hi && rate > kHoldRates[lo + 1])
        ++lo;
    const double f = double(rate - kHoldRates[lo]) / double(kHoldRates[lo + 1] - kHoldRates[lo]);
    const double a = ahead_->holds[lo][std::size_t(c)];
    const double b = ahead_->holds[lo + 1][std::size_t(c)];
    return a + (b - a) * f;
}

void DeckVoice::disableRenderAhead()
{
    if (!ahead_)
        return;
    ahead_.reset();
    if (timePitch_)
        timePitch_->reset();
    lastRate_ = -1.0f;
    lastPitch_ = -99.0f;
    usedTimePitch_ = false;
}

std::int64_t DeckVoice::aheadDryBlocks() const { return ahead_ ? ahead_->dryBlocks.load() : 0; }

std::int64_t DeckVoice::aheadDryFrames() const { return ahead_ ? ahead_->dryFrames.load() : 0; }

std::int64_t DeckVoice::aheadLateFrames() const { return ahead_ ? ahead_->lateFrames.load() : 0; }

void DeckVoice::dropAheadRun()
{
    // What is queued for the run will never be heard: the worker skips input and
    // requests of runs older than the newest, so it does no more work for it.
    ++aheadGeneration_;
    ahead_->latest.store(aheadGeneration_, std::memory_order_release);
    run_.restart = true;
    run_.restartBehind = false;
}

std::int64_t DeckVoice::aheadRequests() const { return ahead_ ? ahead_->requested.load() : 0; }

void DeckVoice::renderAhead(int frames, float* left, float* right, float rate, float pitch)
{
    Ahead& a = *ahead_;
    const bool start = run_.restart;
    // A run the voice starts again because the worker fell behind goes on
    // in time with the deck: it does not wait for the worker as a run the DJ
    // started does, or a stalled worker would hold it back again and again.
    const bool startBehind = start && run_.restartBehind;
    aheadTrace_.newRun = start;
    if (start) {
        ++aheadGeneration_;
        a.latest.store(aheadGeneration_, std::memory_order_release);
        UnitRun next{};
        if (startBehind) {
            // It goes on from where the run it replaces left the point heard,
            // a unit latency behind the read head, and from a turn of the
            // deck not yet heard. A move off the track's end meanwhile leaves
            // the end.
            static_cast<RunHeard&>(next) = run_;
            if (next.ending && pos_ != next.endAt)
                next.ending = false;
        }
        run_ = next;
        run_.restart = false;
        run_.behind = startBehind;
    }

    // The worker is asked for output up to two renders past this render (in
    // requests of a render's length, as the audio thread would render them),
    // with the input that output stands for, read at the speed of the unit's
    // input, and the stretcher's window (`aheadLeadShort`: the lead is
    // measured, not counted). A new run also asks for this render's output
    // (the unit's start pad, skipped: the worker cannot have it ready now). Renders
    // count at the longest length the voice has rendered, so a render longer
    // than the ones before is short only the first time.
    // A device that asks for several slices back to back (`aheadSpan_`, the
    // longest such burst lately) needs its output two bursts ahead: the worker can
    // only work between bursts. A run's start pad lasts that long too.
    aheadLongest_ = std::max(aheadLongest_, frames);
    const int piece = aheadLongest_;
    const int span = std::max(piece, aheadSpan_);
    const std::int64_t due = std::max<std::int64_t>(
        run_.rendered + frames + std::int64_t(aheadHorizonFrames(span, sampleRate_)) - run_.requested, 0);
    const int requests = int((due + piece - 1) / piece);
    LeadShort lead = aheadLeadShort(due, rate, start);
    std::int64_t n = std::int64_t(std::floor(lead.plain));
    // A turn of the deck made while the worker was gone is heard first, in
    // silence: the unit's run then starts from the point heard.
    if (chunksFor(n) > a.input.freeChunks() || a.requests.freeSlots() < requests
        || (startBehind && turnToHear(rate))) {
        goOnWithoutWorker(frames, left, right, rate, startBehind);
        return;
    }
    if (startBehind) {
        // Until now the deck went on as the audio thread's unit would, with
        // what that unit holds: the new unit holds nothing yet.
        const double waited = latencyWaited(rate);
        pos_ = clampToBuffer(heardFrames());
        if (!slip_ || !diversionActive())
            slipPos_ = pos_;
        const double carry = run_.carry;
        static_cast<RunHeard&>(run_) = RunHeard{};
        run_.carry = carry;
        leadBehindRun(rate, false, waited);
    }
    // The top-up for a worker that ran short goes in as far as the ring
    // has room; what is missing is queued at the next renders.
    n = std::clamp<std::int64_t>(std::int64_t(std::floor(lead.all)), n,
                                 std::int64_t(a.input.freeChunks()) * a.input.chunkFrames());
    run_.carry = lead.all - std::floor(lead.all);
    lead.next.queued += double(n);
    // The input goes in before the requests, so a worker that takes a
    // request finds its input there.
    while (n > 0) {
        AheadChunk* c = a.input.writable();
        const int m = int(std::min<std::int64_t>(n, a.input.chunkFrames()));
        readUnitInput(m, c->left, c->right);
        c->frames = m;
        c->generation = aheadGeneration_;
        a.input.commit();
        aheadTrace_.inputFrames += m;
        n -= m;
    }
    for (std::int64_t left = due; left > 0; left -= piece) {
        const int m = int(std::min<std::int64_t>(left, piece));
        if (a.requests.push({m, aheadGeneration_, rate, pitch, start && left == due})) {
            a.requested.fetch_add(1, std::memory_order_relaxed);
            ++aheadTrace_.requests;
        }
    }
    run_.requested += due;
    run_.rendered += frames;
    // Its input and requests are in: the lead they make is the run's.
    run_.lead = lead.next;
    if (start) {
        run_.padSpan = piece;
        run_.pad = run_.padTotal = startPadFor(1);
        run_.fade = run_.padTotal > aheadQuietFrames() ? kAheadFadeFrames : 0;
        run_.holding = !startBehind;
        run_.holdLeast = 0;
        run_.held = 0;
    }
    // The hold this render finds, as the engine saw it before the render
    // (`aheadStartReady`, `aheadStartStalled`): one reckoning for both, so
    // runs released together by the engine begin their music together.
    const std::optional<HeldRender> held = heldRender(frames);
    // The start pad plays as silence and its output is skipped when it comes.
    const int pad = int(std::min<std::int64_t>(run_.pad, frames));
    run_.pad -= pad;
    run_.owed += pad;
    if (run_.behind) {
        run_.missed += pad; // its time passes as the deck goes on
        run_.missedInput += double(pad) * double(rate);
    }
    std::memset(left, 0, sizeof(float) * std::size_t(pad));
    std::memset(right, 0, sizeof(float) * std::size_t(pad));

    if (held) {
        // The run's music has not begun. Until the worker has this render's
        // output ready, and that of the rest of a burst the device may be
        // in, the run waits in silence and starts that much later: renders
        // that come back to back (a device opening, catching up) leave the
        // worker no time, and missing output now would cut the music.
        const HeldRender& h = *held;
        const int rest = int(h.rest);
        if (!h.ends || (run_.partnersWait && !h.atLimit)) {
            std::memset(left + pad, 0, sizeof(float) * std::size_t(rest));
            std::memset(right + pad, 0, sizeof(float) * std::size_t(rest));
            // A stalled worker (`holdFindsStall`): the time it held the run
            // past the start shared with others passes as for output
            // missed, so the deck starts on time, in silence, and what the
            // worker makes of that time is skipped. The start pad's time has
            // passed as well, and so does the rest of the hold while the
            // worker catches up. A worker that keeps making some, only
            // slower, starts the run later. Runs started together stay in
            // step: a stall on any of them passes the time for all.
            run_.stalled = run_.partnersWait ? run_.partnersStalled : holdFindsStall(h);
            if (h.made > run_.madeHeld) {
                run_.madeHeld = h.made;
                run_.idle = 0;
            }
            run_.idle += rest;
            std::int64_t passing = 0;
            if (run_.stalled) {
                passing = std::max<std::int64_t>(run_.held + rest - run_.holdLeast - run_.passed, 0);
                if (run_.passed == 0 && run_.missed == 0 && !run_.behind) {
                    run_.missed = run_.owed;
                    run_.missedInput = double(run_.owed) * double(rate);
                }
                run_.passed += passing;
                run_.owed += passing;
                run_.missed += passing;
                run_.missedInput += double(passing) * double(rate);
            }
            run_.held += rest;
            run_.rendered += passing - rest; // none of the held output was due
            a.lateFrames.fetch_add(rest, std::memory_order_relaxed);
            // Runs starting together wait for each other first: only a hold
            // past that finds the worker behind.
            aheadBehind_ = run_.held > run_.holdLeast && h.ready < h.want;
            return;
        }
        run_.holding = false;
    }

    // The output: older runs' output is dropped unread; output missed while the
    // ring was dry is skipped first, so the deck stays on time.
    int got = pad;
    double consumed = 0.0;
    while (got < frames) {
        AheadChunk* c = a.output.readable();
        if (!c)
            break;
        if (c->generation != aheadGeneration_) {
            a.output.pop();
            continue;
        }
        if (atDrop()) {
            // Output of the input read past the end before a move off it.
            const int drop = int(std::min<std::int64_t>(run_.drops[run_.dropFirst % kDrops].frames, c->remaining()));
            c->taken += drop;
            tookOutput(drop, true);
        } else if (run_.owed > 0) {
            const int skip = int(untilDrop(std::min<std::int64_t>(run_.owed, c->remaining())));
            c->taken += skip;
            run_.owed -= skip;
            if (run_.missed > run_.owed) {
                // The oldest of it is skipped first: what is left stands for
                // its share of the input.
                run_.missedInput *= double(run_.owed) / double(run_.missed);
                run_.missed = run_.owed;
            }
            consumed += double(skip) * double(c->rate);
            tookOutput(skip, false);
        } else {
            const int m = int(untilDrop(std::min(frames - got, c->remaining())));
            std::memcpy(left + got, c->left + c->taken, sizeof(float) * std::size_t(m));
            std::memcpy(right + got, c->right + c->taken, sizeof(float) * std::size_t(m));
            c->taken += m;
            got += m;
            consumed += double(m) * double(c->rate);
            tookOutput(m, false);
        }
        if (c->remaining() == 0)
            a.output.pop();
    }
    run_.backlog -= consumed;
    // A pad that cut into the music: the sound after it fades in.
    for (int i = pad; i < got && run_.fade > 0; ++i, --run_.fade) {
        const float g = 1.0f - float(run_.fade) / float(kAheadFadeFrames);
        left[i] *= g;
        right[i] *= g;
    }
    // Nothing made for the next render (past the start pad): the worker is a
    // slice behind its pacing, or was kept from its core.
    aheadBehind_ = run_.pad == 0 && !a.output.readable();
    if (got < frames) {
        std::memset(left + got, 0, sizeof(float) * std::size_t(frames - got));
        std::memset(right + got, 0, sizeof(float) * std::size_t(frames - got));
        aheadTrace_.dryFrames = frames - got;
        run_.fade = kAheadFadeFrames; // the sound comes back without a step
        a.dryBlocks.fetch_add(1, std::memory_order_relaxed);
        a.dryFrames.fetch_add(frames - got, std::memory_order_relaxed);
        run_.owed += frames - got;
        run_.missed += frames - got;
        run_.missedInput += double(frames - got) * double(rate);
        if (run_.owed > kAheadMaxOwed)
            restartBehindWorker();
    }
    if (endHeard()) {
        // The output carrying the track's last frame is out (or was missed,
        // its time passed): the deck stops at the end.
        stopAtEnd();
        aheadBehind_ = false;
    }
}

DeckVoice::LeadShort DeckVoice::aheadLeadShort(std::int64_t due, float rate, bool start) const
{
    const Ahead& a = *ahead_;
    // The worker ran out of input the unit asked for with later renders
    // already asked of it: slowed a long way (tempo down from 1.06 to 0.1,
    // say), the unit holds several hundred frames more than the plain lead
    // allows for, and the input for each render then comes too late for its
    // output. The lead gets half the stretcher's window on top each time,
    // up to twice the window in a run. The top-up stays part of the lead
    // whenever the deck is slower than twice the fastest rate it ran short
    // at, so a deck slowed again later in the run has it at once, and at
    // faster rates, where no worker ran short, the lead is the plain one.
    // The rate is the one the worker ran short at, which it reports with its
    // count: a quick dip's shortfall is mostly seen at a render already back
    // near the deck's tempo, and that rate would keep the top-up (and every
    // jump a top-up later) for as long as the deck plays on near it. The
    // worker puts a shortfall down to the slowest rate asked of it from the
    // render it stopped in on, so a fader slid down and straight back, whose
    // worker stops in the first render on the way down, has its top-up in
    // the lead no longer than the dip either.
    AheadLead next = run_.lead;
    const RunShort shortNow = runShort(a.inputShort.load(std::memory_order_relaxed), aheadGeneration_);
    if (shortNow.count != next.shortSeen) {
        next.shortSeen = shortNow.count;
        next.shortRate = std::max(next.shortRate, shortNow.rate);
        next.topUp = std::min<std::int64_t>(next.topUp + aheadHopLead_ / 2, 2 * std::int64_t(aheadHopLead_));
    }
    // The lead this rate needs: the input the renders asked of the worker
    // and not yet made stand for, at the rates they were asked at, and the
    // stretcher's window. The lead the worker holds: the input queued and
    // not yet taken, and what its unit holds (fed, less what the output
    // taken out of it stands for, at the rates it was made at). Of those
    // the audio thread knows the input queued and asked; the worker reports
    // the difference between what the renders it made were asked at and
    // what their output stands for. So input queued for output the unit
    // then made at another rate (a unit slowed far makes one long stretch
    // of output at the slow rate and asks for no input until it is taken,
    // while later renders ask at the rate the deck is back at) is given
    // back, whatever made it: less is queued until the lead is what the
    // rate needs. Input counts as read when queued, so the point heard does
    // not move; a jump is heard after the lead the worker holds.
    if (start)
        next.asked += run_.carry; // the fraction of a frame the last run left
    next.asked += double(due) * double(rate);
    const double differs = runFrames(a.askedOverMade.load(std::memory_order_relaxed), aheadGeneration_);
    const double plain = next.asked + double(aheadHopLead_) - next.queued - differs;
    const bool slow = double(rate) < kTopUpSpeedUp * double(next.shortRate);
    const double all = plain + (slow ? double(next.topUp) : 0.0);
    return {std::max(all, 0.0), std::max(plain, 0.0), next};
}

void DeckVoice::restartBehindWorker()
{
    // The output missed counts as heard (its time has passed): the new run
    // starts where the sound stands now, not from the read head a lead
    // ahead of it, so the deck comes back on time.
    // At the rate the point heard is reckoned at (never below 0).
    const double rate = std::max(double(lastRate_), 0.0);
    const double waited = latencyWaited(float(rate));
    pos_ = clampToBuffer(heardFrames());
    if (!slip_ || !diversionActive())
        slipPos_ = pos_;
    dropAheadRun();
    run_ = UnitRun{};
    run_.restartBehind = true;
    leadBehindRun(float(rate), true, waited);
}

double DeckVoice::latencyWaited(float rate) const
{
    // The unit's output passed so far in the run, in input frames: what it
    // read less what it holds, the output owed (missed, or the start pad's)
    // counting as passed. A run under way has waited out all of its
    // latency; one the DJ started moments ago only what has passed since,
    // its point heard standing on the start until the rest has.
    const double latency = timePitchLatencyFrames_ * double(rate);
    const double speed = std::fabs(currentSpeed_);
    if (!(speed > 0.0) || !finite(latency))
        return std::max(latency, 0.0);
    double owed = 0.0;
    if (ahead_) {
        const std::int64_t missed = std::min(run_.missed, run_.owed);
        owed = (run_.missed > 0 ? run_.missedInput * double(missed) / double(run_.missed) : 0.0)
            + double(run_.owed - missed) * double(rate);
    }
    const double passed = run_.taken / speed - (run_.backlog - owed);
    return std::clamp(passed, 0.0, std::max(latency, 0.0));
}

bool DeckVoice::turnToHear(float rate) const
{
    // A rate that is not positive never reaches the turn: waiting for it
    // would keep the sound away for good.
    if (!(run_.takenAtTurn > 0.0) || !(rate > 0.0f))
        return false;
    const double lag = (run_.backlog + timePitchLatencyFrames_ * double(rate)) * std::fabs(currentSpeed_);
    return run_.taken - run_.takenAtTurn < lag;
}

void DeckVoice::leadBehindRun(float rate, bool withHold, double waited)
{
    // The unit's first output of the new run stands for its input's start a
    // latency later, while the deck went on playing: the run starts that far
    // ahead, in the direction of travel and inside an active loop. Of the
    // latency, only the part the point heard has waited out: the rest it
    // still stands for, as the audio thread's unit started with the run
    // would.
    const double hold = withHold ? steadyUnitHold(rate) : 0.0;
    const double held = finite(hold) ? hold : 0.0;
    const double latency = std::clamp(waited, 0.0, std::max(timePitchLatencyFrames_ * double(rate), 0.0));
    const double lead = (latency + held) * std::fabs(currentSpeed_);
    if (!finite(lead) || lead <= 0.0)
        return;
    // Counted as read by the unit: the point heard lies a latency behind the
    // read head from the run's first render on, as in a run under way.
    run_.taken = lead;
    run_.backlog = held;
    if (reverse_) {
        pos_ = clampToBuffer(pos_ - lead);
    } else {
        pos_ = clampToBuffer(pos_ + lead);
        if (loopActive_ && loopStart_ < loopEnd_ && pos_ >= loopEnd_)
            wrapIntoLoop();
    }
    if (!slip_ || !diversionActive())
        slipPos_ = pos_;
}

void DeckVoice::goOnWithoutWorker(int frames, float* left, float* right, float rate, bool behind)
{
    // The worker is so far behind that its rings are full of work it has
    // not done (it stalled): nothing more can be queued, so the deck goes on
    // in time without it, as silence, reading its track at the speed the
    // unit would, and starts a new run from there once there is room again.
    // Only the sound is lost, never the deck's place in the track. What it
    // reads counts as heard at once, a unit latency behind the read head, as
    // the unit would make it: a turn of the deck meanwhile is heard after
    // that latency, and a tempo moved moves the point heard as on the unit.
    if (behind) {
        run_.restart = true; // the run started again in this render: again at the next
        run_.restartBehind = true;
    } else {
        restartBehindWorker();
    }
    double want = double(frames) * double(rate) + run_.carry;
    auto n = std::int64_t(std::floor(std::max(want, 0.0)));
    run_.carry = want - double(n);
    for (; n > 0;) {
        const int m = int(std::min<std::int64_t>(n, maxFrames_));
        readUnitInput(m, dropLeft_.data(), dropRight_.data());
        n -= m;
    }
    run_.backlog -= double(frames) * double(rate);
    if (endHeard())
        stopAtEnd();
    state_.speed.store(playing_ ? currentSpeed_ : 0.0); // the unit's reader's speed, as on the unit
    std::memset(left, 0, sizeof(float) * std::size_t(frames));
    std::memset(right, 0, sizeof(float) * std::size_t(frames));
    aheadTrace_.dryFrames = frames;
    ahead_->dryBlocks.fetch_add(1, std::memory_order_relaxed);
    ahead_->dryFrames.fetch_add(frames, std::memory_order_relaxed);
    aheadBehind_ = true;
}

bool DeckVoice::serviceAhead(int renders)
{
    if (!ahead_)
        return false;
    Ahead& a = *ahead_;
    HostedUnit& unit = *timePitch_;
    const std::uint32_t latest = a.latest.load(std::memory_order_acquire);
    bool progress = false;
    auto setRate = [&](float rate, float pitch) {
        if (rate != a.rate) {
            unit.set(units::kTimePitchRate, rate);
            a.rate = rate;
        }
        if (pitch != a.pitch) {
            unit.set(units::kTimePitchPitch, pitch);
            a.pitch = pitch;
        }
    };
    // Input of runs nobody will hear goes first, so a worker that was gone long
    // enough for the input ring to fill up frees it at once.
    while (AheadChunk* c = a.input.readable()) {
        if (!olderRun(c->generation, latest))
            break;
        a.input.pop();
        progress = true;
    }
    for (int done = 0; done < renders;) {
        if (!a.current) {
            a.current = a.requests.pop();
            a.started = false;
            a.fed = 0.0;
            if (!a.current)
                break;
        }
        const AheadRequest& r = *a.current;
        if (olderRun(r.generation, latest) || (!r.reset && (!a.running || r.generation != a.generation))) {
            a.current.reset(); // a render nobody will hear
            progress = true;
            continue;
        }
        if (!a.started) {
            // What the audio thread does at the start of a render: the rate and
            // pitch, then the reset that starts a run (primed at them). Output
            // made so far was made at the rate before.
            a.made.keep(unit.readyFrames(), double(a.rate));
            setRate(r.rate, r.pitch);
            if (r.reset) {
                unit.reset();
                a.made.clear();
                a.running = true;
                a.generation = r.generation;
                a.acc = 0;
                a.need = 0;
                a.runFed = 0.0;
                a.runUsed = 0.0;
                a.runMade = 0.0;
                a.runOut = 0;
            }
            a.started = true;
            progress = true;
        }
        // Fill the unit's output to the render's length from the queued input,
        // bounded as on the audio thread; wait for input that is not there yet.
        const double budget = double(r.frames) * 33.0 + 4.0 * double(maxFrames_) + 16384.0;
        bool waiting = false;
        bool newer = false;
        while (unit.readyFrames() < r.frames && a.fed < budget) {
            if (a.need == 0)
                a.need = std::clamp(unit.inputRequired(), 1, maxFrames_);
            while (a.acc < a.need) {
                AheadChunk* c = a.input.readable();
                if (!c)
                    break;
                if (olderRun(c->generation, a.generation)) {
                    a.input.pop(); // input of an earlier run
                    continue;
                }
                if (c->generation != a.generation) {
                    newer = true; // the audio thread started another run since
                    break;
                }
                const int m = std::min(a.need - a.acc, c->remaining());
                std::memcpy(a.accLeft.data() + a.acc, c->left + c->taken, sizeof(float) * std::size_t(m));
                std::memcpy(a.accRight.data() + a.acc, c->right + c->taken, sizeof(float) * std::size_t(m));
                c->taken += m;
                a.acc += m;
                if (c->remaining() == 0)
                    a.input.pop();
            }
            if (a.acc < a.need) {
                waiting = true;
                break;
            }
            unit.feed(a.need, a.accLeft.data(), a.accRight.data());
            a.fed += a.need;
            a.runFed += a.need;
            a.acc = 0;
            a.need = 0;
            progress = true;
        }
        if (newer) {
            a.current.reset(); // this render belongs to a run nobody will hear
            progress = true;
            continue;
        }
        if (waiting) {
            // The audio thread has asked for a later render's output while
            // this one still lacks its input: short, not merely early.
            if (!a.requests.empty()) {
                RunShort now = runShort(a.inputShort.load(std::memory_order_relaxed), a.generation);
                now.count = (now.count + 1) & 0xffffu;
                if (now.count == 0)
                    now.count = 1; // 0 stands for none
                // The renders asked since count too: this one's input is
                // short because a slower render after it asked for little.
                float slowest = r.rate;
                a.requests.forEachQueued([&](const AheadRequest& q) {
                    if (q.generation == a.generation)
                        slowest = std::min(slowest, q.rate);
                });
                now.rate = std::max(now.rate, slowest);
                a.inputShort.store(packRunShort(a.generation, now), std::memory_order_relaxed);
            }
            break;
        }
        // Take the render's output out, once the ring has room for all of it.
        if (a.output.freeChunks() < chunksFor(r.frames))
            break;
        int left = r.frames;
        a.made.keep(unit.readyFrames(), double(a.rate));
        while (left > 0) {
            AheadChunk* c = a.output.writable();
            const int want = std::min(left, a.output.chunkFrames());
            int m = unit.readyFrames() > 0 ? unit.retrieve(std::min(want, unit.readyFrames()), c->left, c->right) : 0;
            // The input the chunk stands for, by the rates its output was
            // made at (a shortfall's silence at the render's).
            const double input = a.made.take(m, double(a.rate)) + double(std::max(want - m, 0)) * double(a.rate);
            if (m < want) {
                // A stalled stretcher: the shortfall is silence, as on the audio thread.
                std::memset(c->left + m, 0, sizeof(float) * std::size_t(want - m));
                std::memset(c->right + m, 0, sizeof(float) * std::size_t(want - m));
                m = want;
            }
            c->frames = m;
            c->generation = a.generation;
            c->rate = float(input / double(m));
            a.runMade += double(c->rate) * double(m);
            left -= m;
            a.output.commit();
        }
        a.runOut += r.frames;
        a.runUsed += double(r.frames) * double(a.rate);
        a.askedOverMade.store(packRunFrames(a.generation, a.runUsed - a.runMade), std::memory_order_relaxed);
        if (double(a.runOut) > 0.1 * sampleRate_) {
            // Past the unit's start: the input it holds now, as the audio
            // thread's unit would after the same render.
            const double hold = a.runFed - a.runUsed;
            const double weight = std::min(double(r.frames) / (0.25 * sampleRate_), 1.0);
            a.holdMean = a.holdKnown ? a.holdMean + (hold - a.holdMean) * weight : hold;
            a.holdKnown = true;
            if (std::isfinite(a.holdMean))
                a.unitHold.store(std::max(a.holdMean, 0.0), std::memory_order_relaxed);
        }
        a.current.reset();
        progress = true;
        ++done;
    }
    return progress;
}

void DeckVoice::provide(int frames, float* left, float* right) { readUnitInput(frames, left, right); }

void DeckVoice::readUnitInput(int frames, float* left, float* right)
{
    // A move off the end is seen at the start of the render (`leaveEndForMove`).
    const bool ended = run_.ending;
    readSource(frames, left, right, keyLock_ ? 1.0 : blockTempo_, false, currentSpeed_, true);
    // Past the track's end the read head stands and the sound fades out; that
    // input moves the position heard no further.
    int moved = ended ? 0 : frames - readStandFrames_;
    if (readEndedAt_ >= 0) {
        // The track ended here: the deck plays on, the playing deck it sounds
        // like (a cue, play or hot cue acts on it as on a playing deck), until
        // the output made from this input is heard.
        run_.ending = true;
        run_.pastEnd = 0;
        moved = readEndedAt_ + 1;
    }
    if (run_.ending) {
        run_.endAt = pos_;
        run_.pastEnd += frames - moved;
    }
    run_.backlog += double(moved);
    run_.taken += double(moved) * currentSpeed_;
    if (readStandFrames_ > 0) {
        // Standing at the start: the unit still takes (and holds) that input,
        // but it is all heard at the start. A stand that began in this input
        // replaces one from before, long heard.
        run_.backlog += double(readStandFrames_);
        if (run_.standFrames == 0 || run_.taken != run_.standAt) {
            run_.standAt = run_.taken;
            run_.standFrames = 0;
        }
        run_.standFrames += readStandFrames_;
    }
}

void DeckVoice::leaveEndForMove()
{
    if (!run_.ending || pos_ == run_.endAt)
        return;
    run_.ending = false;
    const double rate = lastRate_ > 0.0f ? double(lastRate_) : 1.0;
    const auto frames = std::int64_t(std::llround(double(run_.pastEnd) / rate));
    if (frames > 0 && run_.dropCount < kDrops) {
        // The unit turns input frame k of its run into output frame
        // latency + k / rate: the music read up to the end comes out over the
        // next (backlog + latency) / rate frames, after the stretches still
        // to drop, and the input past the end right after it.
        std::int64_t at = run_.out
            + std::llround(std::max(run_.backlog + timePitchLatencyFrames_ * rate, 0.0) / rate);
        for (std::size_t i = 0; i < run_.dropCount; ++i)
            at += run_.drops[(run_.dropFirst + i) % kDrops].frames;
        run_.drops[(run_.dropFirst + run_.dropCount) % kDrops] = {at, frames};
        ++run_.dropCount;
        // The worker makes the dropped output too: it counts as rendered, so
        // the output asked of it stays that far ahead of the sound.
        if (ahead_)
            run_.rendered += frames;
    } else {
        // Nothing to drop, or too many moves in one lead: that input is
        // heard as what it is.
        run_.backlog += double(run_.pastEnd);
        run_.taken += double(run_.pastEnd) * currentSpeed_;
    }
    run_.pastEnd = 0;
}

std::int64_t DeckVoice::untilDrop(std::int64_t most) const
{
    if (run_.dropCount == 0)
        return most;
    return std::clamp<std::int64_t>(run_.drops[run_.dropFirst % kDrops].at - run_.out, 0, most);
}

bool DeckVoice::atDrop() const { return run_.dropCount > 0 && run_.drops[run_.dropFirst % kDrops].at <= run_.out; }

void DeckVoice::tookOutput(std::int64_t frames, bool dropped)
{
    run_.out += frames;
    if (!dropped)
        return;
    Drop& d = run_.drops[run_.dropFirst % kDrops];
    d.frames -= frames;
    if (d.frames <= 0) {
        run_.dropFirst = (run_.dropFirst + 1) % kDrops;
        --run_.dropCount;
    }
}

double DeckVoice::renderUnitPart(int frames, float* left, float* right)
{
    const double rate = double(lastRate_);
    run_.made.keep(timePitch_->readyFrames(), rate);
    const int ready = timePitch_->readyFrames();
    (void)timePitch_->render(frames, left, right);
    // What the call made, then took from the front.
    run_.made.made(std::max<std::int64_t>(std::int64_t(timePitch_->readyFrames()) + frames - ready, 0), rate);
    const double input = run_.made.take(frames, rate);
    run_.made.keep(timePitch_->readyFrames(), rate);
    return input;
}

double DeckVoice::renderUnit(int frames, float* left, float* right)
{
    // The unit's work for dropped output costs the audio thread as much as
    // output heard: a render drops at most a few renders' worth (and what is
    // left waits for the next render, this one going silent for the rest), so
    // a move late in the lead never makes one render many times dearer.
    std::int64_t budget = std::max(kDropPerRender * frames, kDropLeast);
    int done = 0;
    double input = 0.0;
    while (done < frames) {
        if (atDrop()) {
            if (budget <= 0) {
                std::memset(left + done, 0, sizeof(float) * std::size_t(frames - done));
                std::memset(right + done, 0, sizeof(float) * std::size_t(frames - done));
                break;
            }
            const int m = int(std::min({run_.drops[run_.dropFirst % kDrops].frames, budget, std::int64_t(maxFrames_)}));
            (void)renderUnitPart(m, dropLeft_.data(), dropRight_.data());
            tookOutput(m, true);
            budget -= m;
            continue;
        }
        const int m = int(untilDrop(frames - done));
        input += renderUnitPart(m, left + done, right + done);
        tookOutput(m, false);
        done += m;
    }
    return input;
}

bool DeckVoice::endHeard() const
{
    // Everything read up to the end has come out of the unit: the position
    // heard has reached the read head standing there.
    return run_.ending && playing_ && heardFrames() >= std::min(run_.endAt, double(frameCount() - 2)) - 0.5;
}

void DeckVoice::stopAtEnd()
{
    // The render that carried the track's last frame: the deck stops there,
    // and the next render leaves the unit's run.
    run_.ending = false;
    playing_ = cueing_ = false;
    state_.speed.store(0.0);
}

void DeckVoice::readSource(int frames, float* left, float* right, double tempoRatio, bool scratching,
                           std::optional<double> speedOverride, bool feedingUnit)
{
    readStill_ = false;
    readEndedAt_ = -1;
    readStandFrames_ = 0;
    const std::int64_t n = frameCount();
    if (!buffer_ || n < 2) {
        // Nothing readable: a buffer needs two frames for the last position.
        std::memset(left, 0, sizeof(float) * std::size_t(frames));
        std::memset(right, 0, sizeof(float) * std::size_t(frames));
        readStill_ = true;
        if (buffer_) {
            pos_ = slipPos_ = 0.0;
            if (playing_)
                playing_ = cueing_ = false;
            state_.speed.store(0.0);
        }
        return;
    }
    const float* srcL = buffer_->left;
    const float* srcR = buffer_->right;
    const double last = double(n - 2);
    const double sync = finite(syncCorrection_) ? syncCorrection_ : 1.0;
    double speed = speedOverride ? *speedOverride : sync * tempoRatio * (1.0 + bend_);
    if (!finite(speed))
        speed = 0.0;
    // Whether the read head moves: a playing deck's, unless the unit's input
    // has reached the track's end.
    bool moving = playing_ && !(feedingUnit && run_.ending);
    if (!moving && !scratching && gain_ < 0.0001f) {
        // Standing still and faded out: nothing to read. The fade has ended
        // for good (it would otherwise creep through denormal values on every
        // frame for as long as the deck stands), and the position settles as
        // the frame loop below would leave it.
        gain_ = 0.0f;
        std::memset(left, 0, sizeof(float) * std::size_t(frames));
        std::memset(right, 0, sizeof(float) * std::size_t(frames));
        readStill_ = true;
        const double p = finite(pos_) ? pos_ : 0.0;
        if (p >= last) {
            pos_ = last;
            if (!feedingUnit)
                cueing_ = false;
        } else {
            pos_ = std::max(p, 0.0);
        }
        if (!slip_ || !diversionActive() || !finite(slipPos_))
            slipPos_ = pos_;
        state_.speed.store(playing_ ? speed : 0.0);
        return;
    }
    double p = finite(pos_) ? pos_ : 0.0;
    const double a = std::exp(-1.0 / (sampleRate_ * 0.012));
    const bool looping = loopActive_;
    // Reading the unit's input, the source frames it had read before this
    // input: the worker's input is counted after it is read, the audio
    // thread's before. A wrap is noted against the input that follows it.
    const double takenBefore = feedingUnit ? run_.taken : run_.taken - double(frames) * currentSpeed_;

    for (int f = 0; f < frames; ++f) {
        double step;
        if (scratching) {
            scrubSpeed_ += (1.0 - a) * ((scrubTarget_ - p) / (0.02 * sampleRate_) - scrubSpeed_) * 4.0;
            if (!finite(scrubSpeed_))
                scrubSpeed_ = 0.0;
            step = scrubSpeed_;
        } else {
            step = moving ? (reverse_ ? -speed : speed) : 0.0;
            // Played backwards into the track's start, the read head stands
            // there: the frames read from now on carry it no further.
            if (step < 0.0 && p <= 0.0)
                ++readStandFrames_;
        }

        const float target = ((moving || scratching) && p >= 0.0 && p <= last) ? 1.0f : 0.0f;
        gain_ += (target - gain_) * 0.004f;

        if (gain_ < 0.0001f && step == 0.0) {
            left[f] = right[f] = 0.0f;
        } else {
            // Every read index stays inside the buffer, whatever the position.
            double ip = std::floor(p);
            float t = float(p - ip);
            std::int64_t i = std::int64_t(std::clamp(ip, 0.0, double(n - 1)));
            if (ip < 0.0 || ip > double(n - 1))
                t = 0.0f;
            const std::int64_t im1 = std::max<std::int64_t>(i - 1, 0);
            const std::int64_t i1 = std::min<std::int64_t>(i + 1, n - 1);
            const std::int64_t i2 = std::min<std::int64_t>(i + 2, n - 1);
            auto cubic = [t](float ym1, float y0, float y1, float y2) {
                const float c1 = 0.5f * (y1 - ym1);
                const float c2 = ym1 - 2.5f * y0 + 2.0f * y1 - 0.5f * y2;
                const float c3 = 1.5f * (y0 - y1) + 0.5f * (y2 - ym1);
                return y0 + t * (c1 + t * (c2 + t * c3));
            };
            left[f] = gain_ * cubic(srcL[im1], srcL[i], srcL[i1], srcL[i2]);
            right[f] = gain_ * cubic(srcR[im1], srcR[i], srcR[i1], srcR[i2]);
        }

        if (moving && !scratching)
            slipPos_ += speed;

        double next = p + step;
        if (looping && !reverse_ && step > 0.0 && loopEnd_ <= next && loopStart_ < loopEnd_) {
            next -= (loopEnd_ - loopStart_);
            if (speedOverride)
                noteWrap(takenBefore + double(f + 1) * currentSpeed_, loopEnd_ - loopStart_);
        }
        if (next >= last) {
            p = last;
            if (!scratching && moving)
                readEndedAt_ = f;
            if (!scratching) {
                moving = false;
                // Feeding the unit, the deck stops once this input is heard.
                if (!feedingUnit)
                    playing_ = cueing_ = false;
            }
        } else {
            p = std::max(next, 0.0);
        }
    }
    pos_ = p;
    if (!slip_ || !diversionActive())
        slipPos_ = pos_;
    if (!finite(slipPos_))
        slipPos_ = pos_;
    state_.speed.store(scratching ? scrubSpeed_ : (playing_ ? speed : 0.0));
}

double DeckVoice::heardFrames() const
{
    if (!usedTimePitch_)
        return std::max(pos_, 0.0);
    // Since its reset the unit turns input frame k into output frame
    // latency + k / rate. So the next frame heard is the input the unit holds
    // (made ahead or not yet processed) plus its latency behind the read head,
    // however the unit's work falls across slices; each input frame advanced
    // the source by the speed it was read at.
    // Until the first input comes out (the unit's start pad plays first) the
    // deck stands where the unit started reading, as a direct deck stands on
    // its cue.
    const double rate = double(lastRate_);
    // Output missed while the worker was behind is skipped when it comes: that
    // much of the music has passed already.
    const double missed = ahead_ && run_.missed > 0
        ? run_.missedInput * double(std::min(run_.missed, run_.owed)) / double(run_.missed)
        : 0.0;
    const double inputLag = std::max(run_.backlog - missed + timePitchLatencyFrames_ * rate, 0.0);
    double lag = inputLag * currentSpeed_;
    if (run_.standFrames > 0 && currentSpeed_ > 0.0) {
        // Input read while the read head stood at the track's start moved it
        // nowhere: the source lies that much less far behind, and none at
        // all while the sound plays the stand.
        const double after = std::max(run_.taken - run_.standAt, 0.0) / currentSpeed_;
        const double stand = double(run_.standFrames);
        if (inputLag > after)
            lag = (inputLag > after + stand ? inputLag - stand : after) * currentSpeed_;
    }
    lag = std::min(lag, run_.taken);
    // The lag lies behind the read head in its direction of travel: what was
    // read since the deck last turned round went that way, what came before
    // it the other way.
    const double thisWay = std::min(lag, std::max(run_.taken - run_.takenAtTurn, 0.0));
    const double travelled = thisWay - (lag - thisWay);
    double heard = pos_ - (reverse_ ? -travelled : travelled);
    // The read head's jumps back into a loop made from input still to be
    // heard are undone: the sound still plays the music before them. This
    // holds whether the loop is still on and whatever its length now.
    const double heardAt = run_.taken - lag;
    const std::size_t kept = std::min(run_.wrapCount, kLoopWraps);
    std::size_t undone = 0;
    for (; undone < kept; ++undone) {
        const LoopWrap& w = run_.wraps[(run_.wrapCount - 1 - undone) % kLoopWraps];
        if (w.takenAt <= heardAt)
            break;
        heard += w.length;
    }
    // Past the end of the loop the read head is in (an end set behind the
    // read head, wraps older than those kept) the point heard folds into the
    // loop's cycle.
    const double length = loopEnd_ - loopStart_;
    if (loopActive_ && length > 0.0 && pos_ >= loopStart_ && pos_ <= loopEnd_ && heard >= loopEnd_)
        heard = loopStart_ + std::fmod(heard - loopStart_, length);
    return std::clamp(heard, 0.0, std::max(double(frameCount() - 2), 0.0));
}

void DeckVoice::wrapIntoLoop()
{
    const double was = pos_;
    pos_ = loopStart_ + std::fmod(pos_ - loopStart_, loopEnd_ - loopStart_);
    noteWrap(run_.taken, was - pos_);
}

void DeckVoice::MadeOutput::made(std::int64_t n, double rate)
{
    if (n <= 0)
        return;
    if (count > 0) {
        Stretch& newest = stretches[(first + count - 1) % kStretches];
        if (newest.rate == rate || count == kStretches) {
            const std::int64_t all = newest.frames + n;
            newest.rate = (double(newest.frames) * newest.rate + double(n) * rate) / double(all);
            newest.frames = all;
            frames += n;
            return;
        }
    }
    stretches[(first + count) % kStretches] = {n, rate};
    ++count;
    frames += n;
}

double DeckVoice::MadeOutput::take(std::int64_t n, double rate)
{
    double input = 0.0;
    while (n > 0 && count > 0) {
        Stretch& oldest = stretches[first];
        const std::int64_t m = std::min(n, oldest.frames);
        input += double(m) * oldest.rate;
        oldest.frames -= m;
        frames -= m;
        n -= m;
        if (oldest.frames == 0) {
            first = (first + 1) % kStretches;
            --count;
        }
    }
    return input + double(std::max<std::int64_t>(n, 0)) * rate;
}

void DeckVoice::MadeOutput::keep(std::int64_t ready, double rate)
{
    if (ready > frames)
        made(ready - frames, rate);
    else if (ready < frames)
        (void)take(frames - ready, rate); // gone without being noted: the oldest
}

void DeckVoice::noteWrap(double takenAt, double length)
{
    if (!(length > 0.0) || !finite(takenAt))
        return;
    run_.wraps[run_.wrapCount % kLoopWraps] = {takenAt, length};
    ++run_.wrapCount;
}

void DeckVoice::publish(float peakL, float peakR)
{
    const double sr = sampleRate_;
    state_.beginTimeline();
    state_.position.store(heardFrames() / sr);
    state_.swapShift.store(swapShift_ / sr);
    state_.endTimeline();
    state_.slipPosition.store(slipPos_ / sr);
    state_.playing.store(playing_);
    state_.cueing.store(cueing_ || hotCueHeld_ >= 0);
    state_.cuePoint.store(cuePoint_ / sr);
    state_.loopStart.store(loopStart_ < 0.0 ? -1.0 : loopStart_ / sr);
    state_.loopEnd.store(loopEnd_ < 0.0 ? -1.0 : loopEnd_ / sr);
    state_.loopActive.store(loopActive_);
    state_.slipOn.store(slip_);
    state_.reverseOn.store(reverse_);
    state_.quantizeOn.store(quantize_);
    state_.keyLockOn.store(keyLock_);
    state_.vinylOn.store(vinyl_);
    state_.jogTouched.store(jogTouched_);
    for (std::size_t i = 0; i < hotCues_.size(); ++i)
        state_.hotCues[i].store(hotCues_[i] < 0.0 ? -1.0 : hotCues_[i] / sr);
    state_.peakL.store(std::max(state_.peakL.load() * 0.93, double(peakL)));
    state_.peakR.store(std::max(state_.peakR.load() * 0.93, double(peakR)));
    // The cue cells above are visible to anyone who reads the revision with
    // acquire ordering (DeckState::cueRevisionAcquire).
    if (cueRevision_ != publishedCueRevision_) {
        std::atomic_thread_fence(std::memory_order_release);
        state_.cueRevision.store(cueRevision_);
        publishedCueRevision_ = cueRevision_;
    }
    std::atomic_thread_fence(std::memory_order_release);
    state_.commandsTaken.store(taken_);
}

} // namespace zelvo
