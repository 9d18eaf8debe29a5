#include "audio/HostedUnitRegistry.h"

#include "audio/PeakLimiter.h"
#include "audio/Reverb.h"
#include "platform/RubberBandTimePitch.h"

#include <mutex>
#include <vector>

namespace zelvo {

namespace {

// An in-place stereo effect as a component: it pulls its input into the output
// buffers and processes them there.
template <typename Effect>
class EffectComponent : public HostedUnitComponent {
public:
    UnitStatus setStreamFormat(Scope, double sampleRate, int channels) override
    {
        if (channels != 2 || !(sampleRate > 0.0))
            return kUnitFormatNotSupported;
        sampleRate_ = sampleRate;
        return kUnitNoError;
    }
    UnitStatus setMaximumFramesPerSlice(int frames) override { return frames > 0 ? kUnitNoError : kUnitInvalidProperty; }
    UnitStatus setInputCallback(UnitInputCallback callback, void* context) override
    {
        callback_ = callback;
        context_ = context;
        return kUnitNoError;
    }
    UnitStatus initialize() override
    {
        if (sampleRate_ <= 0.0)
            return kUnitFormatNotSupported;
        effect_.prepare(sampleRate_);
        initialized_ = true;
        return kUnitNoError;
    }
    UnitStatus render(int frames, float* left, float* right) override
    {
        if (!initialized_ || !left || !right)
            return kUnitUninitialized;
        if (callback_)
            callback_(context_, frames, left, right);
        effect_.process(left, right, frames);
        return kUnitNoError;
    }
    UnitStatus reset() override
    {
        effect_.reset();
        return kUnitNoError;
    }

protected:
    Effect effect_;
    double sampleRate_ = 0.0;
    bool initialized_ = false;

private:
    UnitInputCallback callback_ = nullptr;
    void* context_ = nullptr;
};

class LimiterComponent final : public EffectComponent<PeakLimiter> {
public:
    UnitStatus setParameter(std::uint32_t parameter, float value) override
    {
        switch (parameter) {
        case units::kLimiterAttack: effect_.setAttack(value); return kUnitNoError;
        case units::kLimiterDecay: effect_.setDecay(value); return kUnitNoError;
        case units::kLimiterPreGain: effect_.setPreGainDb(value); return kUnitNoError;
        default: return kUnitInvalidParameter;
        }
    }
    UnitStatus getParameter(std::uint32_t parameter, float& value) const override
    {
        switch (parameter) {
        case units::kLimiterAttack: value = float(effect_.attack()); return kUnitNoError;
        case units::kLimiterDecay: value = float(effect_.decay()); return kUnitNoError;
        case units::kLimiterPreGain: value = float(effect_.preGainDb()); return kUnitNoError;
        default: return kUnitInvalidParameter;
        }
    }
    UnitStatus latencySeconds(double& seconds) const override
    {
        if (!initialized_)
            return kUnitUninitialized;
        seconds = double(effect_.latencyFrames()) / sampleRate_;
        return kUnitNoError;
    }
};

class ReverbComponent final : public EffectComponent<Reverb> {
public:
    UnitStatus setParameter(std::uint32_t parameter, float value) override
    {
        switch (parameter) {
        case units::kReverbDryWet: effect_.setDryWetPercent(value); return kUnitNoError;
        case units::kReverbDecayAt0Hz: effect_.setDecayLow(value); return kUnitNoError;
        case units::kReverbDecayAtNyquist: effect_.setDecayHigh(value); return kUnitNoError;
        default: return kUnitInvalidParameter;
        }
    }
    UnitStatus getParameter(std::uint32_t parameter, float& value) const override
    {
        switch (parameter) {
        case units::kReverbDryWet: value = float(effect_.dryWetPercent()); return kUnitNoError;
        case units::kReverbDecayAt0Hz: value = float(effect_.decayLow()); return kUnitNoError;
        case units::kReverbDecayAtNyquist: value = float(effect_.decayHigh()); return kUnitNoError;
        default: return kUnitInvalidParameter;
        }
    }
    UnitStatus latencySeconds(double& seconds) const override
    {
        seconds = 0.0;
        return kUnitNoError;
    }
};

struct Entry {
    std::uint64_t id;
    std::uint32_t type;
    std::uint32_t subtype;
    HostedUnitFactory factory;
};

struct Overrides {
    std::mutex mutex;
    std::vector<Entry> entries;
    std::uint64_t nextId = 1;
};

Overrides& overrides()
{
    static Overrides instance;
    return instance;
}

HostedUnitFactory builtIn(std::uint32_t type, std::uint32_t subtype)
{
    if (type == units::kFormatConverter && subtype == units::kTimePitch)
        return [] { return std::make_unique<RubberBandTimePitch>(RubberBandTimePitch::Engine::finer); };
    if (type == units::kEffect && subtype == units::kPeakLimiter)
        return [] { return std::make_unique<LimiterComponent>(); };
    if (type == units::kEffect && subtype == units::kReverb)
        return [] { return std::make_unique<ReverbComponent>(); };
    return {};
}

} // namespace

HostedUnitFactory HostedUnitRegistry::find(std::uint32_t type, std::uint32_t subtype)
{
    {
        Overrides& o = overrides();
        std::lock_guard lock(o.mutex);
        for (auto it = o.entries.rbegin(); it != o.entries.rend(); ++it)
            if (it->type == type && it->subtype == subtype)
                return it->factory;
    }
    return builtIn(type, subtype);
}

HostedUnitRegistry::Override::Override(std::uint32_t type, std::uint32_t subtype, HostedUnitFactory factory)
{
    Overrides& o = overrides();
    std::lock_guard lock(o.mutex);
    id_ = o.nextId++;
    o.entries.push_back({id_, type, subtype, std::move(factory)});
}

HostedUnitRegistry::Override::~Override()
{
    Overrides& o = overrides();
    std::lock_guard lock(o.mutex);
    std::erase_if(o.entries, [&](const Entry& e) { return e.id == id_; });
}

} // namespace zelvo
