#include "CountingTimePitch.h"

#include "audio/FlushDenormals.h"
#include "platform/RubberBandTimePitch.h"

#include <algorithm>

namespace zelvo::test {

namespace {

class CountingTimePitch final : public HostedUnitComponent {
public:
    CountingTimePitch(TimePitchWork& work, TimePitchEvents& events, int index)
        : work_(work), events_(events), index_(index)
    {
    }

    UnitStatus setStreamFormat(Scope scope, double sampleRate, int channels) override
    {
        return inner_.setStreamFormat(scope, sampleRate, channels);
    }
    UnitStatus setMaximumFramesPerSlice(int frames) override { return inner_.setMaximumFramesPerSlice(frames); }
    UnitStatus setInputCallback(UnitInputCallback callback, void* context) override
    {
        callback_ = callback;
        context_ = context;
        return inner_.setInputCallback(&CountingTimePitch::pull, this);
    }
    UnitStatus initialize() override { return inner_.initialize(); }
    UnitStatus render(int frames, float* left, float* right) override
    {
        note();
        work_.outputCalls.fetch_add(1);
        events_.record(index_, frames);
        return inner_.render(frames, left, right);
    }
    UnitStatus prepare(int frames) override
    {
        note();
        work_.outputCalls.fetch_add(1);
        return inner_.prepare(frames);
    }
    int readyFrames() const override { return inner_.readyFrames(); }
    bool canFeed() const override { return inner_.canFeed(); }
    int inputRequired() const override { return inner_.inputRequired(); }
    UnitStatus feed(int frames, const float* left, const float* right) override
    {
        note();
        work_.input.fetch_add(frames);
        return inner_.feed(frames, left, right);
    }
    int retrieve(int frames, float* left, float* right) override
    {
        note();
        work_.outputCalls.fetch_add(1);
        events_.record(index_, frames);
        return inner_.retrieve(frames, left, right);
    }
    UnitStatus setParameter(std::uint32_t parameter, float value) override
    {
        return inner_.setParameter(parameter, value);
    }
    UnitStatus getParameter(std::uint32_t parameter, float& value) const override
    {
        return inner_.getParameter(parameter, value);
    }
    UnitStatus reset() override
    {
        work_.resets.fetch_add(1);
        events_.record(index_, -1);
        return inner_.reset();
    }
    UnitStatus latencySeconds(double& seconds) const override { return inner_.latencySeconds(seconds); }

private:
    void note()
    {
        if (!FlushDenormals::active())
            work_.unflushed.fetch_add(1);
    }
    static UnitStatus pull(void* context, int frames, float* left, float* right)
    {
        auto* self = static_cast<CountingTimePitch*>(context);
        self->work_.input.fetch_add(frames);
        return self->callback_ ? self->callback_(self->context_, frames, left, right) : kUnitNoError;
    }

    TimePitchWork& work_;
    TimePitchEvents& events_;
    const int index_;
    RubberBandTimePitch inner_;
    UnitInputCallback callback_ = nullptr;
    void* context_ = nullptr;
};

} // namespace

void TimePitchEvents::record(int unit, int frames)
{
    const std::int64_t at = next_.fetch_add(1);
    if (at < std::int64_t(log_.size()))
        log_[std::size_t(at)] = TimePitchEvent{unit, frames};
}

std::vector<TimePitchEvent> TimePitchEvents::recorded() const
{
    const auto kept = std::min<std::int64_t>(next_.load(), std::int64_t(log_.size()));
    return {log_.begin(), log_.begin() + kept};
}

std::int64_t TimePitchEvents::lost() const
{
    return std::max<std::int64_t>(next_.load() - std::int64_t(log_.size()), 0);
}

CountingTimePitchInstall::CountingTimePitchInstall()
    : work_(std::make_shared<std::vector<std::unique_ptr<TimePitchWork>>>())
    , events_(std::make_shared<TimePitchEvents>(std::size_t(1) << 16))
    , override_(units::kFormatConverter, units::kTimePitch, [work = work_, events = events_] {
        work->push_back(std::make_unique<TimePitchWork>());
        return std::make_unique<CountingTimePitch>(*work->back(), *events, int(work->size()) - 1);
    })
{
}

} // namespace zelvo::test
