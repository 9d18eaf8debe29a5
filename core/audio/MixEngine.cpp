#include "audio/MixEngine.h"

#include "audio/AheadPacing.h"
#include "audio/FlushDenormals.h"
#include "audio/GainLaws.h"
#include "audio/HostedUnitRegistry.h"
#include "library/AudioFileError.h"
#include "platform/RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>

#include <pthread.h>
#include <sched.h>
#include <time.h>

namespace zelvo {

namespace {

constexpr double lowCrossover = 250.0;
constexpr double highCrossover = 2500.0;
constexpr double meterFall = 0.92;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

float clip(float x) noexcept { return std::clamp(x, -1.0f, 1.0f); }

// The monotonic clock in nanoseconds: a read of the shared clock page, no
// system call where the kernel offers one.
std::int64_t monotonicNs() noexcept
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + std::int64_t(t.tv_nsec);
}

// A control cell is read through this: a value that is not finite (a broken
// writer) counts as the control's resting value. Fed to a smoother, a filter or
// a delay line, one NaN would otherwise stay in its state for the engine's
// life and silence, or fill with noise, everything after it.
double control(const AtomicDouble& cell, double resting) noexcept
{
    const double value = cell.load();
    return std::isfinite(value) ? value : resting;
}

std::unique_ptr<HostedUnit> makeLimiter(double sampleRate, int maxFrames)
{
    try {
        auto unit = std::make_unique<HostedUnit>(units::kEffect, units::kPeakLimiter, sampleRate, maxFrames);
        unit->set(units::kLimiterAttack, 0.002f);
        unit->set(units::kLimiterDecay, 0.06f);
        unit->set(units::kLimiterPreGain, 0.0f);
        return unit;
    } catch (const AudioFileError&) {
        return nullptr; // the master runs without a limiter
    }
}

std::unique_ptr<HostedUnit> makeReverb(double sampleRate, int maxFrames)
{
    try {
        auto unit = std::make_unique<HostedUnit>(units::kEffect, units::kReverb, sampleRate, maxFrames);
        unit->set(units::kReverbDryWet, 100.0f);
        unit->set(units::kReverbDecayAt0Hz, 4.5f);
        unit->set(units::kReverbDecayAtNyquist, 2.2f);
        return unit;
    } catch (const AudioFileError&) {
        return nullptr; // the reverb beat effect is silent
    }
}

} // namespace

// The global cells, read once per slice.
struct MixEngine::SliceControls {
    double crossfader;
    double curve;
    ColorFXKind colorKind;
    double colorParameter;
    BeatFXKind beatKind;
    bool beatOn;
    std::int64_t target;
    double beats;
    double level;
    double beatTempo;
};

// Where a channel's smoothed controls are heading this slice.
struct MixEngine::StripTargets {
    float trim;
    float eq[3]; // high, mid, low
    float fader;
    float xf;
    float color;
};

MixEngine::ChannelDsp::ChannelDsp(double rate)
    : isoL(rate, lowCrossover, highCrossover)
    , isoR(rate, lowCrossover, highCrossover)
    , colorFX(rate)
    , trim(1.0f, 12.0f, float(rate))
    , fader(0.0f, 12.0f, float(rate))
    , xf(1.0f, 12.0f, float(rate))
    , eq{Smoothed(1.0f, 20.0f, float(rate)), Smoothed(1.0f, 20.0f, float(rate)), Smoothed(1.0f, 20.0f, float(rate))}
    , cfx(0.0f, 25.0f, float(rate))
{
}

MixEngine::MixEngine(double sampleRate, int maxFrames, RenderAhead ahead)
    : sampleRate_(sampleRate)
    , maxFrames_(std::max(maxFrames, 1))
    , params_(std::make_shared<MixerParams>(deckCount))
    , state_(std::make_shared<MixerState>(deckCount))
    , mixL_(std::size_t(maxFrames_))
    , mixR_(std::size_t(maxFrames_))
    , cueL_(std::size_t(maxFrames_))
    , cueR_(std::size_t(maxFrames_))
    , sendL_(std::size_t(maxFrames_))
    , sendR_(std::size_t(maxFrames_))
    , beatFX_(sampleRate)
    , masterSmooth_(0.8f, 12.0f, float(sampleRate))
    , limiter_(makeLimiter(sampleRate, maxFrames_))
    , reverb_(makeReverb(sampleRate, maxFrames_))
    , masterTap_(std::make_shared<MasterTap>(sampleRate, tapSeconds))
    , recorder_(sampleRate)
{
    for (int i = 0; i < deckCount; ++i) {
        decks_[std::size_t(i)] = std::make_shared<DeckVoice>(sampleRate, maxFrames_);
        // Decks 1 and 3 key-lock in even slices, 2 and 4 in odd ones.
        decks_[std::size_t(i)]->setWorkPhase(i % 2);
        deckL_[std::size_t(i)].assign(std::size_t(maxFrames_), 0.0f);
        deckR_[std::size_t(i)].assign(std::size_t(maxFrames_), 0.0f);
    }
    channels_.reserve(deckCount);
    for (int i = 0; i < deckCount; ++i)
        channels_.emplace_back(sampleRate);
    sem_init(&wake_, 0, 0);
    setRenderAhead(ahead);
}

MixEngine::~MixEngine()
{
    stopWorker();
    sem_destroy(&wake_);
    stopRecording();
    releaseRetiredBuffers();
}

// ---------------------------------------------------------------------------
// Render

void MixEngine::render(int frames, float* const* buffers, int bufferCount) noexcept
{
    const std::int64_t started = monotonicNs();
    stages_ = StageTimes{};
    lapAt_ = started;
    // Filters fading into silence would otherwise settle on subnormal values and
    // take the processor's slow path on every sample for as long as they stand.
    const FlushDenormals flush;
    const bool master = buffers && bufferCount >= 2 && buffers[0] && buffers[1];
    const bool cue = buffers && bufferCount >= 4 && buffers[2] && buffers[3];
    for (int offset = 0; offset < frames;) {
        const int n = std::min(frames - offset, maxFrames_);
        renderSlice(n);
        if (master) {
            std::copy_n(mixL_.data(), n, buffers[0] + offset);
            std::copy_n(mixR_.data(), n, buffers[1] + offset);
        }
        if (cue) {
            std::copy_n(cueL_.data(), n, buffers[2] + offset);
            std::copy_n(cueR_.data(), n, buffers[3] + offset);
        }
        lap(stages_.output);
        bursts_.endedAt = lapAt_;
        offset += n;
    }
    stages_.total = lapAt_ - started;
    if (frames > 0) {
        const double elapsed = double(stages_.total) / 1e9;
        const double ratio = elapsed / (double(frames) / sampleRate_);
        state_->dspLoad.store(0.9 * state_->dspLoad.load() + 0.1 * ratio);
    }
}

void MixEngine::renderSlice(int n) noexcept
{
    MixerParams& p = *params_;
    MixerState& s = *state_;

    if (ahead_ == RenderAhead::thread) {
        // How the device calls (this slice begins now, at `lapAt_`): the voices
        // ask the worker for output two of its bursts ahead, since the worker
        // can only work between them.
        bursts_ = noteSlice(bursts_, lapAt_, n, sampleRate_);
        for (const auto& deck : decks_)
            deck->setAheadSpan(int(std::min<std::int64_t>(bursts_.span, maxFrames_)),
                               int(std::min<std::int64_t>(bursts_.burstFrames, maxFrames_)));
    }
    runRequests();
    lap(stages_.sync);
    if (startedTogether_ != 0)
        releaseStartsTogether(n);
    bool askedAhead = false;
    bool wakeNow = false;
    int runs = 0;
    for (int i = 0; i < deckCount; ++i) {
        DeckVoice& deck = *decks_[std::size_t(i)];
        deck.render(n, deckL_[std::size_t(i)].data(), deckR_[std::size_t(i)].data());
        askedAhead = askedAhead || deck.askedAhead();
        runs += deck.askedAhead() && deck.lastAheadTrace().newRun ? 1 : 0;
        // A new unit run's next output is due a pad from now; a voice with
        // nothing ready for its next render needs the worker now too.
        wakeNow = wakeNow || (deck.askedAhead() && (deck.lastAheadTrace().newRun || deck.aheadBehind()));
        lap(stages_.decks[std::size_t(i)]);
    }
    // Runs that began together share the worker for their first output, and
    // their music begins in the same render.
    if (runs > 1) {
        // A group still held from an earlier slice gives way to the new one:
        // its runs go on as each one's output is ready, not held to the
        // longest hold for partners nobody checks any more.
        for (int i = 0; i < deckCount; ++i)
            if ((startedTogether_ & (1u << i)) != 0)
                decks_[std::size_t(i)]->waitForPartners(false);
        startedTogether_ = 0;
        for (int i = 0; i < deckCount; ++i) {
            DeckVoice& deck = *decks_[std::size_t(i)];
            deck.shareAheadStart(runs);
            if (deck.askedAhead() && deck.lastAheadTrace().newRun && deck.aheadStartHeld()) {
                startedTogether_ |= 1u << i;
                startedTogetherRun_[std::size_t(i)] = deck.aheadRun();
            }
        }
    }
    // The worker makes the next slices' time-pitch output now; decks that stand
    // still or play on the direct path ask for nothing, and it parks. It paces
    // itself by the slices published here (AheadPacing); this thread wakes it
    // only from parking, at the first slice of a new unit run, and when a voice
    // has nothing ready for its next render (the worker fell a slice behind).
    if (ahead_ == RenderAhead::thread && askedAhead) {
        aheadNextAt_.store(nextSliceAt(bursts_, sampleRate_), std::memory_order_relaxed);
        aheadSliceNs_.store(bursts_.lastNs, std::memory_order_relaxed);
        aheadSlices_.store(aheadSlices_.load(std::memory_order_relaxed) + 1); // the only writer
        // Sequentially consistent with the worker's park: it sees this slice, or
        // this sees it parked.
        const bool parked = workerParked_.load() && workerParked_.exchange(false);
        if (parked || wakeNow) {
            workerWakes_.fetch_add(1, std::memory_order_relaxed);
            sem_post(&wake_);
        }
    }
    lap(stages_.wake);

    if (p.directOuts.load()) {
        directOutsSlice(n);
        return;
    }

    std::fill_n(mixL_.data(), n, 0.0f);
    std::fill_n(mixR_.data(), n, 0.0f);
    std::fill_n(cueL_.data(), n, 0.0f);
    std::fill_n(cueR_.data(), n, 0.0f);
    std::fill_n(sendL_.data(), n, 0.0f);
    std::fill_n(sendR_.data(), n, 0.0f);

    const double masterBPM = s.masterBPM.load();
    const SliceControls c{
        control(p.crossfader, 0.0),
        control(p.crossfaderCurve, 0.0),
        colorFXKindFromRaw(p.colorFXKind.load()).value_or(ColorFXKind::filter),
        control(p.colorFXParameter, 0.0),
        beatFXKindFromRaw(p.beatFXKind.load()).value_or(BeatFXKind::echo),
        p.beatFXOn.load(),
        p.beatFXTarget.load(),
        control(p.beatFXBeats, beatFractions.front()),
        control(p.beatFXLevel, 0.0),
        masterBPM > 0.0 ? masterBPM : 120.0,
    };

    for (int i = 0; i < deckCount; ++i) {
        const StripTargets t = stripTargets(i, c);
        // Channels 3 and 4 cost nothing while their decks are empty, and no
        // channel does while its deck stands still and its strip is at rest.
        const DeckVoice& deck = *decks_[std::size_t(i)];
        if ((i >= 2 && !deck.isLoaded()) || (skipStill_ && deck.renderedStill() && stripAtRest(i, c, t))) {
            restStrip(i, t);
        } else {
            channelStrip(i, n, c, t);
            ++stripSlices_[std::size_t(i)];
            if (c.target == i + 1 && c.beatKind != BeatFXKind::reverb)
                stages_.beatChannel = i;
        }
        lap(stages_.strips[std::size_t(i)]);
    }

    // The beat effect on the master.
    if (c.target == 0) {
        if (c.beatKind == BeatFXKind::reverb) {
            if (c.beatOn) {
                const float level = float(c.level);
                for (int f = 0; f < n; ++f) {
                    sendL_[std::size_t(f)] = mixL_[std::size_t(f)] * level;
                    sendR_[std::size_t(f)] = mixR_[std::size_t(f)] * level;
                }
            }
        } else if (!beatFX_.atRest(c.beatKind, c.beatOn)) {
            // An echo switched off whose tail has died away (or a roll switched
            // off) passes the master through unchanged and moves no state: left
            // out, it neither costs the slice nor walks its 8 s lines.
            for (int f = 0; f < n; ++f) {
                double l = mixL_[std::size_t(f)], r = mixR_[std::size_t(f)];
                beatFX_.tick(l, r, c.beatKind, c.beatOn, c.beats, c.beatTempo, c.level);
                mixL_[std::size_t(f)] = float(l);
                mixR_[std::size_t(f)] = float(r);
            }
        }
    }
    lap(stages_.beatFX);

    // The reverb runs while its kind is chosen, on or off, so its tail rings out.
    if (c.beatKind == BeatFXKind::reverb && reverb_) {
        const float decay = float(c.beats * 1.2 + 0.6);
        if (decay != reverbDecay_) {
            reverb_->set(units::kReverbDecayAt0Hz, decay);
            reverbDecay_ = decay;
        }
        reverb_->process(n, sendL_.data(), sendR_.data());
        for (int f = 0; f < n; ++f) {
            mixL_[std::size_t(f)] += sendL_[std::size_t(f)];
            mixR_[std::size_t(f)] += sendR_[std::size_t(f)];
        }
    }
    lap(stages_.reverb);

    const float masterGain = float(faderGain(control(p.master, 0.0)));
    for (int f = 0; f < n; ++f) {
        const float g = masterSmooth_.next(masterGain);
        mixL_[std::size_t(f)] *= g;
        mixR_[std::size_t(f)] *= g;
    }
    lap(stages_.master);

    if (p.limiter.load() && limiter_)
        limiter_->process(n, mixL_.data(), mixR_.data());
    lap(stages_.limiter);

    float peakL = 0.0f, peakR = 0.0f;
    for (int f = 0; f < n; ++f) {
        const float l = clip(mixL_[std::size_t(f)]);
        const float r = clip(mixR_[std::size_t(f)]);
        mixL_[std::size_t(f)] = l;
        mixR_[std::size_t(f)] = r;
        peakL = std::max(peakL, std::abs(l));
        peakR = std::max(peakR, std::abs(r));
    }
    s.masterPeakL.store(std::max(s.masterPeakL.load() * meterFall, double(peakL)));
    s.masterPeakR.store(std::max(s.masterPeakR.load() * meterFall, double(peakR)));
    lap(stages_.meters);

    masterTap_->write(n, mixL_.data(), mixR_.data());
    lap(stages_.tap);

    if (cueEnabled_.load()) {
        const float m = float((control(p.cueMix, -1.0) + 1.0) / 2.0);
        const float phones = float(faderGain(control(p.phones, 0.0)));
        float peak = 0.0f;
        for (int f = 0; f < n; ++f) {
            const std::size_t k = std::size_t(f);
            cueL_[k] = clip(((1.0f - m) * cueL_[k] + m * mixL_[k]) * phones);
            cueR_[k] = clip(((1.0f - m) * cueR_[k] + m * mixR_[k]) * phones);
            peak = std::max(peak, std::abs(cueL_[k]));
        }
        s.cuePeak.store(std::max(s.cuePeak.load() * meterFall, double(peak)));
    }
    lap(stages_.phones);

    record(n, mixL_.data(), mixR_.data());
    lap(stages_.record);
}

void MixEngine::lap(std::int64_t& stage) noexcept
{
    const std::int64_t now = monotonicNs();
    stage += now - lapAt_;
    lapAt_ = now;
}

std::int64_t MixEngine::StageTimes::allDecks() const noexcept
{
    std::int64_t sum = 0;
    for (std::int64_t t : decks)
        sum += t;
    return sum;
}

std::int64_t MixEngine::StageTimes::allStrips() const noexcept
{
    std::int64_t sum = 0;
    for (std::int64_t t : strips)
        sum += t;
    return sum;
}

MixEngine::StripTargets MixEngine::stripTargets(int i, const SliceControls& c) const noexcept
{
    const ChannelParams& cp = params_->channel(std::size_t(i));
    const std::int64_t side = cp.crossfaderAssign.load();
    return StripTargets{
        float(trimGain(control(cp.trim, 0.0))),
        {float(isolatorGain(control(cp.high, 0.0))), float(isolatorGain(control(cp.mid, 0.0))),
         float(isolatorGain(control(cp.low, 0.0)))},
        float(faderGain(control(cp.fader, 0.0))),
        side == 0 ? 1.0f : float(crossfaderGain(side < 0 ? -1 : 1, c.crossfader, c.curve)),
        float(control(cp.colorFX, 0.0)),
    };
}

bool MixEngine::stripAtRest(int i, const SliceControls& c, const StripTargets& t) const noexcept
{
    // The beat effect's lines and sweep move on every tick it gets here, unless
    // it rests.
    if (c.target == i + 1 && c.beatKind != BeatFXKind::reverb && !beatFX_.atRest(c.beatKind, c.beatOn))
        return false;
    const ChannelDsp& ch = channels_[std::size_t(i)];
    return ch.isoL.atRest() && ch.isoR.atRest() && ch.colorFX.atRest(c.colorKind, double(ch.cfx.value))
        && ch.colorFX.atRest(c.colorKind, double(t.color));
}

void MixEngine::restStrip(int i, const StripTargets& t) noexcept
{
    // Silence through a strip at rest is silence whatever its gains, so the
    // smoothers go straight to where a running strip would have glided: a deck
    // that starts again is heard at the settings of the moment.
    ChannelDsp& ch = channels_[std::size_t(i)];
    ch.trim.value = t.trim;
    for (int b = 0; b < 3; ++b)
        ch.eq[b].value = t.eq[b];
    ch.fader.value = t.fader;
    ch.xf.value = t.xf;
    ch.cfx.value = t.color;
    AtomicDouble& meter = state_->channelPeak[std::size_t(i)];
    meter.store(meter.load() * meterFall);
}

void MixEngine::channelStrip(int i, int n, const SliceControls& c, const StripTargets& t) noexcept
{
    const ChannelParams& cp = params_->channel(std::size_t(i));
    ChannelDsp& ch = channels_[std::size_t(i)];
    const float* inL = deckL_[std::size_t(i)].data();
    const float* inR = deckR_[std::size_t(i)].data();

    const float trimTarget = t.trim;
    const float* eqTarget = t.eq;
    const float faderTarget = t.fader;
    const float xfTarget = t.xf;
    const float colorTarget = t.color;
    const bool cue = cp.cue.load();
    const bool beatHere = c.target == i + 1 && c.beatKind != BeatFXKind::reverb;
    const bool sendHere = c.target == i + 1 && c.beatKind == BeatFXKind::reverb && c.beatOn;
    const float sendLevel = float(c.level);

    double peak = 0.0;
    for (int f = 0; f < n; ++f) {
        const std::size_t k = std::size_t(f);
        const float trim = ch.trim.next(trimTarget);
        const float high = ch.eq[0].next(eqTarget[0]);
        const float mid = ch.eq[1].next(eqTarget[1]);
        const float low = ch.eq[2].next(eqTarget[2]);
        double left = ch.isoL.tick(double(trim * inL[k]), low, mid, high);
        double right = ch.isoR.tick(double(trim * inR[k]), low, mid, high);

        const float amount = ch.cfx.next(colorTarget);
        ch.colorFX.tick(left, right, c.colorKind, amount, c.colorParameter);

        if (beatHere)
            beatFX_.tick(left, right, c.beatKind, c.beatOn, c.beats, c.beatTempo, c.level);

        peak = std::max({peak, std::abs(left), std::abs(right)});

        const float l = float(left), r = float(right);
        if (cue) {
            cueL_[k] += l;
            cueR_[k] += r;
        }
        const float g = ch.fader.next(faderTarget) * ch.xf.next(xfTarget);
        mixL_[k] += g * l;
        mixR_[k] += g * r;
        if (sendHere) {
            sendL_[k] += g * l * sendLevel;
            sendR_[k] += g * r * sendLevel;
        }
    }
    AtomicDouble& meter = state_->channelPeak[std::size_t(i)];
    meter.store(std::max(meter.load() * meterFall, peak));
}

// ---------------------------------------------------------------------------
// Direct outs and recording

void MixEngine::directOutsSlice(int n) noexcept
{
    MixerState& s = *state_;
    float peak1 = 0.0f, peak2 = 0.0f, peakL = 0.0f, peakR = 0.0f;
    for (int f = 0; f < n; ++f) {
        const std::size_t k = std::size_t(f);
        mixL_[k] = clip(deckL_[0][k]);
        mixR_[k] = clip(deckR_[0][k]);
        cueL_[k] = clip(deckL_[1][k]);
        cueR_[k] = clip(deckR_[1][k]);
        peak1 = std::max({peak1, std::abs(mixL_[k]), std::abs(mixR_[k])});
        peak2 = std::max({peak2, std::abs(cueL_[k]), std::abs(cueR_[k])});
        sendL_[k] = clip(mixL_[k] + cueL_[k]);
        sendR_[k] = clip(mixR_[k] + cueR_[k]);
        peakL = std::max(peakL, std::abs(sendL_[k]));
        peakR = std::max(peakR, std::abs(sendR_[k]));
    }
    s.channelPeak[0].store(std::max(s.channelPeak[0].load() * meterFall, double(peak1)));
    s.channelPeak[1].store(std::max(s.channelPeak[1].load() * meterFall, double(peak2)));
    for (std::size_t i = 2; i < std::size_t(deckCount); ++i)
        s.channelPeak[i].store(s.channelPeak[i].load() * meterFall);
    s.masterPeakL.store(std::max(s.masterPeakL.load() * meterFall, double(peakL)));
    s.masterPeakR.store(std::max(s.masterPeakR.load() * meterFall, double(peakR)));
    lap(stages_.meters);

    masterTap_->write(n, sendL_.data(), sendR_.data());
    lap(stages_.tap);
    record(n, sendL_.data(), sendR_.data());
    lap(stages_.record);

    if (params_->directMute.load()) {
        std::fill_n(mixL_.data(), n, 0.0f);
        std::fill_n(mixR_.data(), n, 0.0f);
        std::fill_n(cueL_.data(), n, 0.0f);
        std::fill_n(cueR_.data(), n, 0.0f);
    }
}

void MixEngine::record(int n, const float* left, const float* right) noexcept
{
    const std::int64_t taken = recorder_.record(n, left, right);
    const std::int64_t id = recorder_.lastRecordedId();
    if (id == 0)
        return;
    if (id != recordingId_) {
        recordingId_ = id;
        recordedFrames_ = 0;
    }
    recordedFrames_ += taken;
    state_->recordedSeconds.store(double(recordedFrames_) / sampleRate_);
}

void MixEngine::startRecording(const std::filesystem::path& path)
{
    stopRecording();
    RecordingFileFailure failure{};
    std::unique_ptr<RecordingFile> file = createWavRecording(path.string(), sampleRate_, failure);
    if (!file)
        throw AudioFileError::os(failure.step, failure.status);
    recorder_.start(std::move(file));
    state_->recording.store(true);
}

void MixEngine::stopRecording()
{
    if (!recorder_.active())
        return;
    recorder_.stop();
    state_->recording.store(false);
}

Recorder::Status MixEngine::recordingStatus() const
{
    return recorder_.status(recorder_.currentId());
}

// ---------------------------------------------------------------------------
// Render-ahead worker

void MixEngine::setRenderAhead(RenderAhead mode)
{
    stopWorker();
    ahead_ = RenderAhead::off;
    bool any = false;
    for (const auto& deck : decks_) {
        if (mode == RenderAhead::off)
            deck->disableRenderAhead();
        else
            any = deck->enableRenderAhead() || any;
    }
    if (mode == RenderAhead::off || !any)
        return;
    ahead_ = mode;
    if (mode == RenderAhead::thread)
        startWorker();
}

void MixEngine::startWorker()
{
    stopWorker_.store(false);
    workerParked_.store(false);
    try {
        worker_ = std::thread([this] { workerLoop(); });
    } catch (const std::system_error&) {
        // No thread: every deck renders on the audio thread.
        ahead_ = RenderAhead::off;
        for (const auto& deck : decks_)
            deck->disableRenderAhead();
    }
}

void MixEngine::stopWorker()
{
    if (!worker_.joinable())
        return;
    stopWorker_.store(true);
    sem_post(&wake_);
    worker_.join();
    while (sem_trywait(&wake_) == 0) {
    }
}

namespace {

// Waits until `at` on the monotonic clock or a post, whichever comes first; a
// post that came meanwhile counts too, and several count as one.
void waitUntilNs(sem_t& wake, std::int64_t at)
{
    timespec t{};
    t.tv_sec = time_t(at / 1'000'000'000);
    t.tv_nsec = long(at % 1'000'000'000);
    while (sem_clockwait(&wake, CLOCK_MONOTONIC, &t) != 0 && errno == EINTR) {
    }
    while (sem_trywait(&wake) == 0) {
    }
}

} // namespace

void MixEngine::workerLoop()
{
    // One step below the audio thread, which asks for max(min, 10); normal
    // priority when the system refuses.
    sched_param param{};
    param.sched_priority = std::max(sched_get_priority_min(SCHED_FIFO), 10) - 1;
    if (param.sched_priority >= sched_get_priority_min(SCHED_FIFO))
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    // The units run as they would on the audio thread, subnormals flushed.
    const FlushDenormals flush;

    // A stop is seen within this long, also while parked.
    constexpr std::int64_t stopCheck = 20'000'000;
    AheadPace pace{aheadSlices_.load()};
    while (!stopWorker_.load()) {
        AheadSlices newest;
        newest.count = aheadSlices_.load();
        newest.nextAt = aheadNextAt_.load(std::memory_order_relaxed);
        newest.sliceNs = aheadSliceNs_.load(std::memory_order_relaxed);
        const std::int64_t now = monotonicNs();
        const AheadLook look = paceAhead(pace, newest, now);
        pace = look.pace;
        switch (look.what) {
        case AheadLook::Do::serve:
            serveDecks();
            break; // more may have come meanwhile
        case AheadLook::Do::sleep:
            waitUntilNs(wake_, std::min(look.until, now + stopCheck));
            break;
        case AheadLook::Do::park:
            workerParked_.store(true);
            if (aheadSlices_.load() != pace.seen && workerParked_.exchange(false))
                break; // a slice came as it parked, and nobody woke it
            waitUntilNs(wake_, now + stopCheck);
            break;
        }
    }
    workerParked_.store(false);
}

void MixEngine::releaseStartsTogether(int n) noexcept
{
    // A run that began its music, or was left for another, is out of the
    // group; the rest wait until all of them have their output ready (each
    // waits on its own at most the longest hold, and they started together).
    // A worker stalled on any of them holds them all: the time passes for
    // all of them alike, so they come back on time and in step.
    bool ready = true;
    bool stalled = false;
    for (int i = 0; i < deckCount; ++i) {
        const DeckVoice& deck = *decks_[std::size_t(i)];
        if ((startedTogether_ & (1u << i)) == 0)
            continue;
        if (!deck.aheadStartHeld() || deck.aheadRun() != startedTogetherRun_[std::size_t(i)]) {
            startedTogether_ &= ~(1u << i);
        } else {
            ready = ready && deck.aheadStartReady(n);
            stalled = stalled || deck.aheadStartStalled(n);
        }
    }
    for (int i = 0; i < deckCount; ++i)
        if ((startedTogether_ & (1u << i)) != 0)
            decks_[std::size_t(i)]->waitForPartners(!ready, stalled);
    if (ready)
        startedTogether_ = 0;
}

void MixEngine::serviceAhead()
{
    if (ahead_ != RenderAhead::manual)
        return;
    const FlushDenormals flush;
    serveDecks();
}

void MixEngine::serveDecks()
{
    // One render of each deck at a time: decks whose runs began together all
    // get their first output before any gets its later ones.
    for (bool any = true; any;) {
        any = false;
        for (const auto& deck : decks_)
            any = deck->serviceAhead(1) || any;
    }
}

std::int64_t MixEngine::aheadDryBlocks() const
{
    std::int64_t dry = 0;
    for (const auto& deck : decks_)
        dry += deck->aheadDryBlocks();
    return dry;
}

int MixEngine::releaseRetiredBuffers()
{
    int released = 0;
    for (const auto& deck : decks_)
        released += deck->releaseRetiredBuffers();
    return released;
}

// ---------------------------------------------------------------------------
// Drop-in, aligned start and tempo sync

void MixEngine::runRequests() noexcept
{
    dropIn();
    alignedStart();
    updateSync();
}

void MixEngine::dropIn() noexcept
{
    AtomicDouble& request = params_->dropOffset;
    const double d = request.load();
    if (std::isnan(d))
        return;
    DeckVoice& deck1 = *decks_[0];
    DeckVoice& deck2 = *decks_[1];
    // The second of deck 2's track that lines up with what is heard of deck 1
    // now (a key-locked deck reads its track ahead of what is heard).
    const double t = deck1.heardSeconds() - d;
    if (deck1.isPlaying()) {
        if (t < 0.0)
            return; // waits until deck 1 reaches the drop point
        request.store(nan);
        params_->lockOffset.store(d);
        deck2.rtDropIn(t);
    } else {
        request.store(nan);
        params_->lockOffset.store(d);
        deck2.rtCue(std::max(t, 0.0));
    }
}

void MixEngine::alignedStart() noexcept
{
    AtomicInt& request = params_->alignStart;
    const std::int64_t a = request.load();
    if (a != 0 && a != 1)
        return;
    request.store(-1);
    DeckVoice& deck = *decks_[std::size_t(a)];
    const DeckVoice& other = *decks_[std::size_t(1 - a)];
    if (other.isPlaying() && other.hasGrid()) {
        const BeatGrid& g = other.grid();
        const double beats = (other.heardSeconds() - g.firstBeat) / (60.0 / g.bpm);
        const double bars = beats / double(g.beatsPerBar);
        deck.rtStartAligned(bars - std::trunc(bars));
    } else {
        deck.rtStartAligned(std::nullopt);
    }
}

void MixEngine::updateSync() noexcept
{
    MixerParams& p = *params_;
    MixerState& s = *state_;

    // Any request is consumed; only a deck index is acted on.
    const std::int64_t request = p.masterRequest.load();
    if (request != -1) {
        p.masterRequest.store(-1);
        if (request >= 0 && request < deckCount)
            masterIndex_ = int(request);
    }

    auto qualifies = [&](int i) {
        const DeckVoice& d = *decks_[std::size_t(i)];
        return d.isPlaying() && d.hasGrid();
    };
    if (masterIndex_ < 0 || !qualifies(masterIndex_)) {
        int chosen = -1;
        for (int i = 0; i < deckCount && chosen < 0; ++i)
            if (qualifies(i) && !p.channel(std::size_t(i)).sync.load())
                chosen = i;
        for (int i = 0; i < deckCount && chosen < 0; ++i)
            if (qualifies(i))
                chosen = i;
        if (chosen >= 0)
            masterIndex_ = chosen;
    }
    s.masterDeck.store(masterIndex_);

    std::array<double, deckCount> tempo{};
    for (int i = 0; i < deckCount; ++i)
        tempo[std::size_t(i)] = decks_[std::size_t(i)]->tempo().load();

    auto publish = [&](int i, double correction) {
        // A tempo cell holding something absurd must not turn into a NaN speed.
        if (!std::isfinite(correction))
            correction = 1.0;
        decks_[std::size_t(i)]->setSyncCorrection(correction);
        effectiveTempo_[std::size_t(i)] = correction * tempo[std::size_t(i)];
        s.effectiveTempo[std::size_t(i)].store(effectiveTempo_[std::size_t(i)]);
    };

    if (masterIndex_ < 0 || !decks_[std::size_t(masterIndex_)]->hasGrid()) {
        for (int i = 0; i < deckCount; ++i)
            publish(i, 1.0);
        holdLock();
        return;
    }

    const DeckVoice& master = *decks_[std::size_t(masterIndex_)];
    const double masterBPM = master.grid().bpm * tempo[std::size_t(masterIndex_)];
    s.masterBPM.store(masterBPM);

    auto beatPhase = [](const DeckVoice& d) {
        const BeatGrid& g = d.grid();
        const double b = (d.state().position.load() - g.firstBeat) / (60.0 / g.bpm);
        return b - std::floor(b);
    };

    for (int i = 0; i < deckCount; ++i) {
        const DeckVoice& deck = *decks_[std::size_t(i)];
        if (i == masterIndex_ || !p.channel(std::size_t(i)).sync.load() || !deck.hasGrid()) {
            publish(i, 1.0);
            continue;
        }
        double ratio = masterBPM / deck.grid().bpm;
        // One fold only: far-apart tempos follow at half or double time.
        if (ratio > 1.5)
            ratio *= 0.5;
        else if (ratio < 0.75)
            ratio *= 2.0;
        double correction = ratio / std::max(tempo[std::size_t(i)], 0.01);
        if (deck.isPlaying() && master.isPlaying()) {
            double e = beatPhase(deck) - beatPhase(master);
            if (e > 0.5)
                e -= 1.0;
            else if (e < -0.5)
                e += 1.0;
            s.phaseError.store(e);
            if (std::abs(e) > 0.004) {
                // A deck ahead slows by up to 2 %, one behind speeds up by up to 2 %.
                const double k = 0.12 * e;
                correction *= k < 0.02 ? 1.0 - std::max(k, -0.02) : 0.98;
            }
        }
        publish(i, correction);
    }
    holdLock();
}

void MixEngine::holdLock() noexcept
{
    AtomicDouble& lock = params_->lockOffset;
    const double offset = lock.load();
    if (std::isnan(offset))
        return;
    DeckVoice& deck1 = *decks_[0];
    DeckVoice& deck2 = *decks_[1];
    if (deck1.isPlaying() && deck2.isPlaying()) {
        // Positive: deck 2 is late, as heard.
        const double drift = (deck1.heardSeconds() - offset) - deck2.heardSeconds();
        if (std::abs(drift) <= 0.08) {
            const double k = 0.5 * drift;
            const double factor = k < 0.02 ? 1.0 + std::max(k, -0.02) : 1.02;
            const double tempo2 = deck2.tempo().load();
            double correction = factor * effectiveTempo_[0] / std::max(tempo2, 0.01);
            if (!std::isfinite(correction))
                correction = 1.0;
            deck2.setSyncCorrection(correction);
            effectiveTempo_[1] = correction * tempo2;
            state_->effectiveTempo[1].store(effectiveTempo_[1]);
            return;
        }
    }
    // Either deck stopped, or a jump or scratch moved them apart: released for good.
    lock.store(nan);
}

} // namespace zelvo
