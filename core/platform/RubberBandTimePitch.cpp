#include "platform/RubberBandTimePitch.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelvo {

using RubberBand::RubberBandStretcher;

struct RubberBandTimePitch::Stretcher {
    std::unique_ptr<RubberBandStretcher> rb;
};

namespace {

RubberBandStretcher::Options optionsFor(RubberBandTimePitch::Engine engine)
{
    RubberBandStretcher::Options options = RubberBandStretcher::OptionProcessRealTime
        | RubberBandStretcher::OptionThreadingNever | RubberBandStretcher::OptionPitchHighConsistency;
    if (engine == RubberBandTimePitch::Engine::finer)
        options |= RubberBandStretcher::OptionEngineFiner | RubberBandStretcher::OptionWindowShort;
    else
        options |= RubberBandStretcher::OptionEngineFaster;
    return options;
}

float clampRate(float rate)
{
    if (!std::isfinite(rate))
        return 1.0f;
    return std::clamp(rate, RubberBandTimePitch::kMinRate, RubberBandTimePitch::kMaxRate);
}

float clampCents(float cents)
{
    if (!std::isfinite(cents))
        return 0.0f;
    return std::clamp(cents, -RubberBandTimePitch::kMaxCents, RubberBandTimePitch::kMaxCents);
}

double pitchScale(float cents) { return std::exp2(double(cents) / 1200.0); }

} // namespace

RubberBandTimePitch::RubberBandTimePitch(Engine engine) : engine_(engine), stretcher_(std::make_unique<Stretcher>()) {}

RubberBandTimePitch::~RubberBandTimePitch() = default;

UnitStatus RubberBandTimePitch::setStreamFormat(Scope, double sampleRate, int channels)
{
    if (channels != 2 || !(sampleRate >= 8000.0 && sampleRate <= 768000.0))
        return kUnitFormatNotSupported;
    if (stretcher_->rb)
        return kUnitInvalidProperty; // the format is fixed once initialised
    sampleRate_ = sampleRate;
    return kUnitNoError;
}

UnitStatus RubberBandTimePitch::setMaximumFramesPerSlice(int frames)
{
    if (frames <= 0 || stretcher_->rb)
        return kUnitInvalidProperty;
    maxFrames_ = frames;
    return kUnitNoError;
}

UnitStatus RubberBandTimePitch::setInputCallback(UnitInputCallback callback, void* context)
{
    callback_ = callback;
    context_ = context;
    return kUnitNoError;
}

UnitStatus RubberBandTimePitch::initialize()
{
    if (sampleRate_ <= 0.0)
        return kUnitFormatNotSupported;
    inLeft_.assign(std::size_t(maxFrames_), 0.0f);
    inRight_.assign(std::size_t(maxFrames_), 0.0f);
    stretcher_->rb = std::make_unique<RubberBandStretcher>(std::size_t(std::lround(sampleRate_)), 2,
                                                           optionsFor(engine_), 1.0 / double(rate_),
                                                           pitchScale(cents_));
    // Never more than this per process call, so the stretcher sizes its buffers
    // now and never reallocates on the audio thread.
    stretcher_->rb->setMaxProcessSize(std::size_t(maxFrames_));
    warmUp();
    measureLatency();
    prime();
    return kUnitNoError;
}

void RubberBandTimePitch::warmUp()
{
    // The stretcher's internal resampler rebuilds its state whenever the pitch
    // changes and after every reset, and it reallocates only when the new state
    // needs more room than the old one had. Running it once through the most
    // demanding pitch ratios now (the extremes, which need the longest filter
    // history, and ratios far from simple fractions, which need the most filter
    // phases), on both of its alternating states, leaves room for any later
    // ratio, so pitch changes and resets on the audio thread never allocate.
    RubberBandStretcher& rb = *stretcher_->rb;
    std::fill(inLeft_.begin(), inLeft_.end(), 0.0f);
    std::fill(inRight_.begin(), inRight_.end(), 0.0f);
    const float* in[2] = {inLeft_.data(), inRight_.data()};
    float* out[2] = {inLeft_.data(), inRight_.data()};
    // The phase count is the numerator of the rational ratio the resampler picks
    // for its ratio (the inverse of the pitch scale); denominators are capped at
    // 96000 / ratio, so no ratio up to 4 (−2400 cents) needs more than about
    // 96004 phases. These two ratios just under 4 are picked exactly and need
    // 96003 and 96001.
    constexpr double kScales[] = {4.0, 0.25, 24001.0 / 96003.0, 24001.0 / 96001.0, 1.0};
    const std::size_t chunk = std::min<std::size_t>(std::size_t(maxFrames_), 512);
    for (int round = 0; round < 2; ++round) {
        for (double scale : kScales) {
            rb.setPitchScale(scale);
            // Until the stretcher has produced output at this ratio, which means
            // its resampler has run.
            for (int pulls = 0; pulls < 256; ++pulls) {
                rb.process(in, chunk, false);
                if (rb.available() > 0)
                    break;
            }
            while (rb.available() > 0)
                rb.retrieve(out, std::min<std::size_t>(std::size_t(rb.available()), chunk));
            std::fill(inLeft_.begin(), inLeft_.end(), 0.0f);
            std::fill(inRight_.begin(), inRight_.end(), 0.0f);
        }
    }
    rb.setPitchScale(pitchScale(cents_));
    rb.reset();
}

void RubberBandTimePitch::measureLatency()
{
    // The warmed-up resampler keeps its longest history, which adds to the delay
    // the stretcher reports; so the delay is measured as rendered: an impulse
    // after the start pad, and where its peak comes out.
    RubberBandStretcher& rb = *stretcher_->rb;
    rb.reset();
    prime();
    const std::size_t chunk = std::min<std::size_t>(std::size_t(maxFrames_), 512);
    const std::size_t span = startDelay_ + 16384;
    std::vector<float> outL(span), outR(span);
    std::fill(inLeft_.begin(), inLeft_.end(), 0.0f);
    std::fill(inRight_.begin(), inRight_.end(), 0.0f);
    inLeft_[0] = inRight_[0] = 1.0f;
    const float* in[2] = {inLeft_.data(), inRight_.data()};
    std::size_t got = 0;
    for (int pulls = 0; pulls < 1024 && got < span; ++pulls) {
        rb.process(in, chunk, false);
        inLeft_[0] = inRight_[0] = 0.0f;
        while (rb.available() > 0 && got < span) {
            float* out[2] = {outL.data() + got, outR.data() + got};
            got += rb.retrieve(out, std::min<std::size_t>(std::size_t(rb.available()), span - got));
        }
    }
    std::size_t peak = 0;
    for (std::size_t i = 1; i < got; ++i)
        if (std::fabs(outL[i]) > std::fabs(outL[peak]))
            peak = i;
    latencyFrames_ = got > 0 && std::fabs(outL[peak]) > 0.1f ? peak : startDelay_;
    rb.reset();
}

void RubberBandTimePitch::prime()
{
    RubberBandStretcher& rb = *stretcher_->rb;
    // The pad of silence lines the first real input up with the start of the
    // stretcher's delay; that delay is kept in the output (not trimmed), and the
    // deck compensates its published position by it.
    std::size_t pad = rb.getPreferredStartPad();
    std::fill(inLeft_.begin(), inLeft_.end(), 0.0f);
    std::fill(inRight_.begin(), inRight_.end(), 0.0f);
    const float* in[2] = {inLeft_.data(), inRight_.data()};
    while (pad > 0) {
        const std::size_t n = std::min(pad, std::size_t(maxFrames_));
        rb.process(in, n, false);
        pad -= n;
    }
    startDelay_ = rb.getStartDelay();
}

void RubberBandTimePitch::fill(int frames)
{
    RubberBandStretcher& rb = *stretcher_->rb;
    // Input that one call may consume at most: the fastest rate reads 32 source
    // frames per output frame; the slack covers the stretcher's own window. A
    // stalled stretcher stops here rather than hang the caller.
    const double inputBudget = double(frames) * (double(kMaxRate) + 1.0) + 4.0 * double(maxFrames_) + 16384.0;
    double fed = 0.0;
    for (int pulls = 0; rb.available() < frames; ++pulls) {
        if (fed >= inputBudget || pulls >= 8192)
            break;
        std::size_t want = rb.getSamplesRequired();
        if (want == 0)
            want = 256;
        const int n = int(std::min(want, std::size_t(maxFrames_)));
        if (callback_)
            callback_(context_, n, inLeft_.data(), inRight_.data());
        else {
            std::memset(inLeft_.data(), 0, sizeof(float) * std::size_t(n));
            std::memset(inRight_.data(), 0, sizeof(float) * std::size_t(n));
        }
        const float* in[2] = {inLeft_.data(), inRight_.data()};
        rb.process(in, std::size_t(n), false);
        fed += n;
    }
}

UnitStatus RubberBandTimePitch::render(int frames, float* left, float* right)
{
    if (frames <= 0)
        return kUnitNoError;
    if (!stretcher_->rb || !left || !right) {
        if (left)
            std::memset(left, 0, sizeof(float) * std::size_t(frames));
        if (right)
            std::memset(right, 0, sizeof(float) * std::size_t(frames));
        return kUnitUninitialized;
    }
    RubberBandStretcher& rb = *stretcher_->rb;
    fill(frames);
    int produced = 0;
    while (produced < frames && rb.available() > 0) {
        const int n = std::min(rb.available(), frames - produced);
        float* out[2] = {left + produced, right + produced};
        const std::size_t got = rb.retrieve(out, std::size_t(n));
        if (got == 0)
            break;
        produced += int(got);
    }
    if (produced < frames) {
        std::memset(left + produced, 0, sizeof(float) * std::size_t(frames - produced));
        std::memset(right + produced, 0, sizeof(float) * std::size_t(frames - produced));
    }
    return kUnitNoError;
}

UnitStatus RubberBandTimePitch::prepare(int frames)
{
    if (!stretcher_->rb)
        return kUnitUninitialized;
    if (frames > 0)
        fill(frames);
    return kUnitNoError;
}

int RubberBandTimePitch::readyFrames() const
{
    return stretcher_->rb ? std::max(stretcher_->rb->available(), 0) : 0;
}

int RubberBandTimePitch::inputRequired() const
{
    if (!stretcher_->rb)
        return 256;
    const std::size_t want = stretcher_->rb->getSamplesRequired();
    return int(std::min(want == 0 ? std::size_t(256) : want, std::size_t(maxFrames_)));
}

UnitStatus RubberBandTimePitch::feed(int frames, const float* left, const float* right)
{
    if (!stretcher_->rb)
        return kUnitUninitialized;
    if (frames <= 0 || !left || !right)
        return kUnitNoError;
    const float* in[2] = {left, right};
    stretcher_->rb->process(in, std::size_t(std::min(frames, maxFrames_)), false);
    return kUnitNoError;
}

int RubberBandTimePitch::retrieve(int frames, float* left, float* right)
{
    if (!stretcher_->rb || frames <= 0 || !left || !right)
        return 0;
    float* out[2] = {left, right};
    const int n = std::min(frames, std::max(stretcher_->rb->available(), 0));
    return n > 0 ? int(stretcher_->rb->retrieve(out, std::size_t(n))) : 0;
}

UnitStatus RubberBandTimePitch::setParameter(std::uint32_t parameter, float value)
{
    switch (parameter) {
    case kParamRate:
        rate_ = clampRate(value);
        if (stretcher_->rb)
            stretcher_->rb->setTimeRatio(1.0 / double(rate_));
        return kUnitNoError;
    case kParamPitch:
        cents_ = clampCents(value);
        if (stretcher_->rb)
            stretcher_->rb->setPitchScale(pitchScale(cents_));
        return kUnitNoError;
    default:
        return kUnitInvalidParameter;
    }
}

UnitStatus RubberBandTimePitch::getParameter(std::uint32_t parameter, float& value) const
{
    switch (parameter) {
    case kParamRate:
        value = rate_;
        return kUnitNoError;
    case kParamPitch:
        value = cents_;
        return kUnitNoError;
    default:
        return kUnitInvalidParameter;
    }
}

UnitStatus RubberBandTimePitch::reset()
{
    if (!stretcher_->rb)
        return kUnitUninitialized;
    stretcher_->rb->reset();
    prime();
    return kUnitNoError;
}

UnitStatus RubberBandTimePitch::latencySeconds(double& seconds) const
{
    if (!stretcher_->rb || sampleRate_ <= 0.0)
        return kUnitUninitialized;
    seconds = double(latencyFrames_) / sampleRate_;
    return kUnitNoError;
}

} // namespace zelvo
