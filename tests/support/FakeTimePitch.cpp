#include "FakeTimePitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelvo::test {

FakeTimePitch::FakeTimePitch(double latencySeconds) : latencySeconds_(latencySeconds) {}

UnitStatus FakeTimePitch::setStreamFormat(Scope, double sampleRate, int channels)
{
    if (channels != 2 || sampleRate <= 0.0)
        return kUnitFormatNotSupported;
    sampleRate_ = sampleRate;
    return kUnitNoError;
}

UnitStatus FakeTimePitch::setMaximumFramesPerSlice(int frames)
{
    maxFrames_ = frames;
    return kUnitNoError;
}

UnitStatus FakeTimePitch::setInputCallback(UnitInputCallback callback, void* context)
{
    callback_ = callback;
    context_ = context;
    return kUnitNoError;
}

UnitStatus FakeTimePitch::initialize()
{
    latencyFrames_ = int(std::lround(latencySeconds_ * sampleRate_));
    inLeft_.assign(std::size_t(maxFrames_), 0.0f);
    inRight_.assign(std::size_t(maxFrames_), 0.0f);
    delayLeft_.assign(std::size_t(latencyFrames_ + 1), 0.0f);
    delayRight_.assign(std::size_t(latencyFrames_ + 1), 0.0f);
    return kUnitNoError;
}

UnitStatus FakeTimePitch::render(int frames, float* left, float* right)
{
    record({Event::Kind::render, 0, 0.0f, frames});
    const int n = std::min(frames, maxFrames_);
    if (callback_)
        callback_(context_, n, inLeft_.data(), inRight_.data());
    pulled_ += n;
    const int size = latencyFrames_ + 1;
    for (int i = 0; i < n; ++i) {
        delayLeft_[std::size_t(delayPos_)] = inLeft_[std::size_t(i)];
        delayRight_[std::size_t(delayPos_)] = inRight_[std::size_t(i)];
        const int out = (delayPos_ + 1) % size;
        left[i] = delayLeft_[std::size_t(out)];
        right[i] = delayRight_[std::size_t(out)];
        delayPos_ = out;
    }
    for (int i = n; i < frames; ++i)
        left[i] = right[i] = 0.0f;
    return kUnitNoError;
}

UnitStatus FakeTimePitch::setParameter(std::uint32_t parameter, float value)
{
    record({Event::Kind::parameter, parameter, value, 0});
    if (parameter == units::kTimePitchRate)
        rate_ = value;
    else if (parameter == units::kTimePitchPitch)
        cents_ = value;
    else
        return kUnitInvalidParameter;
    return kUnitNoError;
}

UnitStatus FakeTimePitch::getParameter(std::uint32_t parameter, float& value) const
{
    if (parameter == units::kTimePitchRate)
        value = rate_;
    else if (parameter == units::kTimePitchPitch)
        value = cents_;
    else
        return kUnitInvalidParameter;
    return kUnitNoError;
}

UnitStatus FakeTimePitch::reset()
{
    record({Event::Kind::reset, 0, 0.0f, 0});
    std::fill(delayLeft_.begin(), delayLeft_.end(), 0.0f);
    std::fill(delayRight_.begin(), delayRight_.end(), 0.0f);
    delayPos_ = 0;
    return kUnitNoError;
}

UnitStatus FakeTimePitch::latencySeconds(double& seconds) const
{
    seconds = sampleRate_ > 0.0 ? double(latencyFrames_) / sampleRate_ : 0.0;
    return kUnitNoError;
}

void FakeTimePitch::record(const Event& e)
{
    if (count_ < kLogSize)
        log_[std::size_t(count_)] = e;
    ++count_;
}

int FakeTimePitch::resets() const
{
    int n = 0;
    for (int i = 0; i < eventCount(); ++i)
        n += log_[std::size_t(i)].kind == Event::Kind::reset;
    return n;
}

int FakeTimePitch::parameterSets(std::uint32_t parameter) const
{
    int n = 0;
    for (int i = 0; i < eventCount(); ++i)
        n += log_[std::size_t(i)].kind == Event::Kind::parameter && log_[std::size_t(i)].parameter == parameter;
    return n;
}

FakeTimePitchInstall::FakeTimePitchInstall(double latencySeconds)
    : last_(std::make_shared<FakeTimePitch*>(nullptr))
    , made_(std::make_shared<int>(0))
    , override_(units::kFormatConverter, units::kTimePitch, [last = last_, made = made_, latencySeconds] {
        auto fake = std::make_unique<FakeTimePitch>(latencySeconds);
        *last = fake.get();
        ++*made;
        return fake;
    })
{
}

NoTimePitch::NoTimePitch() : override_(units::kFormatConverter, units::kTimePitch, HostedUnitFactory{}) {}

} // namespace zelvo::test
