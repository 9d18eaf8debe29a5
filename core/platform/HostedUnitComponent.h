#pragma once
// The processing component behind a HostedUnit: a stereo float audio stage that
// renders a requested number of frames into the caller's buffers, pulling its
// input through a callback. The time-pitch stage (over Rubber Band), the peak
// limiter and the reverb implement it; tests add stand-ins.
//
// Calls follow the unit's life: the set-up calls (stream format, maximum slice,
// input callback, initialize) on the main thread, in that order; then render,
// setParameter and reset on the audio thread only, never allocating or locking.
#include <cstdint>

namespace zelvo {

// Status codes of component calls: 0 is success; anything else is a failure the
// caller reports with the step that failed.
using UnitStatus = std::int32_t;
inline constexpr UnitStatus kUnitNoError = 0;
// Status of a call the component does not support, and of a component that is
// asked to render before it was initialised.
inline constexpr UnitStatus kUnitUninitialized = -10867;
inline constexpr UnitStatus kUnitInvalidProperty = -10879;
inline constexpr UnitStatus kUnitInvalidParameter = -10878;
inline constexpr UnitStatus kUnitFormatNotSupported = -10868;

// Fills `frames` samples of input into `left` and `right` (either may be null when
// the component has nowhere to put them; then nothing is written). Called by the
// component from inside `render`, on the same thread.
using UnitInputCallback = UnitStatus (*)(void* context, int frames, float* left, float* right);

class HostedUnitComponent {
public:
    enum class Scope { input, output };

    virtual ~HostedUnitComponent() = default;

    // Fixes the stream format of one side: the sample rate and the channel count
    // (the engine always asks for 2 channels of planar 32-bit float). Main thread.
    virtual UnitStatus setStreamFormat(Scope scope, double sampleRate, int channels) = 0;
    // Largest number of frames one render will ask for. Main thread, before
    // `initialize`.
    virtual UnitStatus setMaximumFramesPerSlice(int frames) = 0;
    // Where the component pulls its input from. Main thread, before `initialize`.
    virtual UnitStatus setInputCallback(UnitInputCallback callback, void* context) = 0;
    // Allocates everything the component needs for rendering. Main thread.
    virtual UnitStatus initialize() = 0;

    // Renders exactly `frames` (at most the maximum slice) into `left` and
    // `right`, pulling input through the callback as needed. Audio thread.
    virtual UnitStatus render(int frames, float* left, float* right) = 0;
    // Makes at least `frames` of output ready for later renders without handing
    // any out, pulling input as needed: the work those renders would do happens
    // now. Components that keep no output ahead do nothing. Audio thread.
    virtual UnitStatus prepare(int frames)
    {
        (void)frames;
        return kUnitNoError;
    }
    // Frames of output made but not yet rendered out. Audio thread.
    virtual int readyFrames() const { return 0; }

    // Push style, for a thread that feeds the component itself instead of letting
    // it pull through the callback. The thread that owns the unit, never
    // allocating or locking. Whether the component can be fed this way:
    virtual bool canFeed() const { return false; }
    // Input frames the component wants before it can make more output (at least 1).
    virtual int inputRequired() const { return 0; }
    // Processes `frames` (at most the maximum slice) of input.
    virtual UnitStatus feed(int frames, const float* left, const float* right)
    {
        (void)frames;
        (void)left;
        (void)right;
        return kUnitInvalidProperty;
    }
    // Moves up to `frames` of ready output into `left` and `right`; returns how
    // many it moved.
    virtual int retrieve(int frames, float* left, float* right)
    {
        (void)frames;
        (void)left;
        (void)right;
        return 0;
    }
    // Sets one parameter (global scope). Audio thread (or main thread before the
    // first render).
    virtual UnitStatus setParameter(std::uint32_t parameter, float value) = 0;
    // Reads one parameter back; `value` is untouched on failure. Any thread that
    // owns the unit.
    virtual UnitStatus getParameter(std::uint32_t parameter, float& value) const = 0;
    // Clears the component's history (delay lines, filter state, stretcher
    // buffers). Audio thread (or main thread while not rendering).
    virtual UnitStatus reset() = 0;
    // Delay from input to output in seconds, as rendered. Any thread that owns
    // the unit.
    virtual UnitStatus latencySeconds(double& seconds) const = 0;
};

} // namespace zelvo
