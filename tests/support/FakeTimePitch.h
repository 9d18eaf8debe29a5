#pragma once
// A stand-in for the deck's time-pitch component: passes its input through,
// delayed by a declared latency, and logs every parameter change, reset and
// render into a fixed log (no allocation while rendering), so tests of the deck
// can check exact sample values and positions on the time-pitch path.
#include "audio/HostedUnitRegistry.h"
#include "platform/HostedUnitComponent.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace zelvo::test {

class FakeTimePitch final : public HostedUnitComponent {
public:
    struct Event {
        enum class Kind { parameter, reset, render } kind;
        std::uint32_t parameter = 0;
        float value = 0.0f;
        int frames = 0;
    };

    explicit FakeTimePitch(double latencySeconds);

    UnitStatus setStreamFormat(Scope scope, double sampleRate, int channels) override;
    UnitStatus setMaximumFramesPerSlice(int frames) override;
    UnitStatus setInputCallback(UnitInputCallback callback, void* context) override;
    UnitStatus initialize() override;
    UnitStatus render(int frames, float* left, float* right) override;
    UnitStatus setParameter(std::uint32_t parameter, float value) override;
    UnitStatus getParameter(std::uint32_t parameter, float& value) const override;
    UnitStatus reset() override;
    UnitStatus latencySeconds(double& seconds) const override;

    // The log, oldest first (at most kLogSize events are kept).
    static constexpr int kLogSize = 16384;
    int eventCount() const { return std::min(count_, kLogSize); }
    const Event& event(int i) const { return log_[std::size_t(i)]; }
    int resets() const;
    int parameterSets(std::uint32_t parameter) const;
    float rate() const { return rate_; }
    float cents() const { return cents_; }
    int latencyFrames() const { return latencyFrames_; }
    // Frames pulled from the input so far.
    std::int64_t pulled() const { return pulled_; }

private:
    void record(const Event& e);

    double latencySeconds_;
    double sampleRate_ = 0.0;
    int maxFrames_ = 4096;
    int latencyFrames_ = 0;
    UnitInputCallback callback_ = nullptr;
    void* context_ = nullptr;
    float rate_ = 1.0f;
    float cents_ = 0.0f;
    std::vector<float> inLeft_, inRight_;
    std::vector<float> delayLeft_, delayRight_;
    int delayPos_ = 0;
    std::int64_t pulled_ = 0;
    std::array<Event, kLogSize> log_{};
    int count_ = 0;
};

// Makes FakeTimePitch the time-pitch component while alive. Main thread.
class FakeTimePitchInstall {
public:
    explicit FakeTimePitchInstall(double latencySeconds = 0.0);
    // The fake made most recently (by the last deck voice built), or null.
    FakeTimePitch* last() const { return *last_; }
    int made() const { return *made_; }

private:
    std::shared_ptr<FakeTimePitch*> last_;
    std::shared_ptr<int> made_;
    HostedUnitRegistry::Override override_;
};

// Hides the time-pitch component while alive (construction of the unit fails).
class NoTimePitch {
public:
    NoTimePitch();

private:
    HostedUnitRegistry::Override override_;
};

} // namespace zelvo::test
