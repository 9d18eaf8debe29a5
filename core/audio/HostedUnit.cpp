#include "audio/HostedUnit.h"

#include "library/AudioFileError.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace zelvo {

namespace {

[[noreturn]] void fail(const std::string& step, UnitStatus status)
{
    throw AudioFileError::os(step, status);
}

} // namespace

HostedUnit::HostedUnit(std::uint32_t type, std::uint32_t subtype, double sampleRate, int maxFrames)
    : maxFrames_(std::max(1, maxFrames))
{
    HostedUnitFactory factory = HostedUnitRegistry::find(type, subtype);
    if (!factory)
        fail("find unit " + std::to_string(subtype), -1);
    unit_ = factory();
    if (!unit_)
        fail("instantiate unit", -1);
    if (UnitStatus s = unit_->setStreamFormat(HostedUnitComponent::Scope::input, sampleRate, 2))
        fail("unit input format", s);
    if (UnitStatus s = unit_->setStreamFormat(HostedUnitComponent::Scope::output, sampleRate, 2))
        fail("unit output format", s);
    // A component that keeps its own slice limit still never gets more than
    // maxFrames from us, so its refusal changes nothing.
    (void)unit_->setMaximumFramesPerSlice(maxFrames_);
    outLeft_.assign(std::size_t(maxFrames_), 0.0f);
    outRight_.assign(std::size_t(maxFrames_), 0.0f);
    if (UnitStatus s = unit_->setInputCallback(&HostedUnit::input, this))
        fail("unit input callback", s);
    if (UnitStatus s = unit_->initialize())
        fail("initialize unit", s);
}

HostedUnit::~HostedUnit() = default;

UnitStatus HostedUnit::input(void* context, int frames, float* left, float* right)
{
    auto* self = static_cast<HostedUnit*>(context);
    if (!self || !left || !right || frames <= 0)
        return kUnitNoError;
    const std::size_t bytes = sizeof(float) * std::size_t(frames);
    if (self->inPlaceLeft_ && self->inPlaceRight_) {
        if (left != self->inPlaceLeft_)
            std::memmove(left, self->inPlaceLeft_, bytes);
        if (right != self->inPlaceRight_)
            std::memmove(right, self->inPlaceRight_, bytes);
    } else if (self->source_) {
        self->source_->provide(frames, left, right);
    } else {
        std::memset(left, 0, bytes);
        std::memset(right, 0, bytes);
    }
    return kUnitNoError;
}

UnitStatus HostedUnit::render(int frames, float* left, float* right)
{
    UnitStatus result = kUnitNoError;
    for (int offset = 0; offset < frames; offset += maxFrames_) {
        const int n = std::min(frames - offset, maxFrames_);
        const UnitStatus s = unit_->render(n, left + offset, right + offset);
        sampleTime_ += n;
        if (s != kUnitNoError && result == kUnitNoError)
            result = s;
    }
    return result;
}

UnitStatus HostedUnit::prepare(int frames)
{
    if (frames <= 0)
        return kUnitNoError;
    return unit_->prepare(std::min(frames, maxFrames_));
}

void HostedUnit::process(int frames, float* left, float* right)
{
    for (int offset = 0; offset < frames; offset += maxFrames_) {
        const int n = std::min(frames - offset, maxFrames_);
        inPlaceLeft_ = left + offset;
        inPlaceRight_ = right + offset;
        const UnitStatus s = unit_->render(n, outLeft_.data(), outRight_.data());
        sampleTime_ += n;
        if (s == kUnitNoError) {
            std::memcpy(left + offset, outLeft_.data(), sizeof(float) * std::size_t(n));
            std::memcpy(right + offset, outRight_.data(), sizeof(float) * std::size_t(n));
        }
    }
    inPlaceLeft_ = nullptr;
    inPlaceRight_ = nullptr;
}

UnitStatus HostedUnit::set(std::uint32_t parameter, float value) { return unit_->setParameter(parameter, value); }

float HostedUnit::get(std::uint32_t parameter) const
{
    float value = 0.0f;
    if (unit_->getParameter(parameter, value) != kUnitNoError)
        return std::nanf("");
    return value;
}

void HostedUnit::reset() { (void)unit_->reset(); }

double HostedUnit::latencySeconds() const
{
    double seconds = 0.0;
    if (unit_->latencySeconds(seconds) != kUnitNoError || !std::isfinite(seconds) || seconds < 0.0)
        return 0.0;
    return seconds;
}

} // namespace zelvo
