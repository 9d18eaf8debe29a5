#pragma once
// One audio component (time-pitch, peak limiter or reverb) hosted for use on the
// audio thread, either as a generator that pulls its input from a
// HostedUnitSource (the deck's time-pitch stage) or as an in-place effect on the
// caller's buffers (the master limiter and reverb). The stream is two channels of
// planar 32-bit float at the engine's rate.
#include "audio/HostedUnitRegistry.h"
#include "audio/HostedUnitSource.h"
#include "platform/HostedUnitComponent.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zelvo {

class HostedUnit {
public:
    // Finds the component of `type`/`subtype`, fixes its format and maximum slice
    // and initialises it. Throws AudioFileError naming the failed step ("find unit
    // <subtype in decimal>" with status −1, "instantiate unit", "unit input
    // format", "unit output format", "unit input callback", "initialize unit").
    // Main thread.
    HostedUnit(std::uint32_t type, std::uint32_t subtype, double sampleRate, int maxFrames);
    ~HostedUnit();
    HostedUnit(const HostedUnit&) = delete;
    HostedUnit& operator=(const HostedUnit&) = delete;

    // Runs the unit for `frames` into `left`/`right`; its input comes from
    // `source` (silence without one). Slices of more than `maxFrames` are rendered
    // in parts. Returns the component's status (the first failure). Audio thread.
    UnitStatus render(int frames, float* left, float* right);
    // Makes at least `frames` (at most `maxFrames`) of output ready for the next
    // render, pulling input from `source` now. Audio thread.
    UnitStatus prepare(int frames);
    // Output made but not yet rendered out, in frames. Audio thread.
    int readyFrames() const { return unit_->readyFrames(); }
    // Push style (see HostedUnitComponent): whether the unit can be fed by its
    // owner, what it wants next, feeding it and taking its output. The thread
    // that owns the unit.
    bool canFeed() const { return unit_->canFeed(); }
    int inputRequired() const { return unit_->inputRequired(); }
    UnitStatus feed(int frames, const float* left, const float* right) { return unit_->feed(frames, left, right); }
    int retrieve(int frames, float* left, float* right) { return unit_->retrieve(frames, left, right); }
    // Runs the unit as an in-place effect, in slices of at most `maxFrames`; a
    // slice that fails keeps its dry input. Audio thread.
    void process(int frames, float* left, float* right);
    // Sets a parameter (global scope). Audio thread, or main thread before use.
    UnitStatus set(std::uint32_t parameter, float value);
    // Reads a parameter back; NaN when it cannot be read. Any thread owning the unit.
    float get(std::uint32_t parameter) const;
    // Clears the unit's history. Audio thread, or main thread before use.
    void reset();
    // The unit's latency; 0 when it cannot be read. Any thread owning the unit.
    double latencySeconds() const;

    // The generator's input. Not owned: the source outlives the unit (a deck owns
    // its unit). Set on the main thread before rendering.
    HostedUnitSource* source() const { return source_; }
    void setSource(HostedUnitSource* source) { source_ = source; }

    int maxFrames() const { return maxFrames_; }
    // Sample time of the next render: frames rendered so far.
    double sampleTime() const { return sampleTime_; }

private:
    static UnitStatus input(void* context, int frames, float* left, float* right);

    std::unique_ptr<HostedUnitComponent> unit_;
    int maxFrames_;
    double sampleTime_ = 0.0;
    std::vector<float> outLeft_, outRight_;
    const float* inPlaceLeft_ = nullptr;
    const float* inPlaceRight_ = nullptr;
    HostedUnitSource* source_ = nullptr;
};

} // namespace zelvo
