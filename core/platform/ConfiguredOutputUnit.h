#pragma once
// The configuration half every output unit shares: the client format, channel
// map, largest slice and render callback the device layer sets before
// initialise, kept in one place. A unit derives from it and implements only
// initialise, start, stop and its own checks.
#include "platform/AudioBackend.h"

#include <vector>

namespace zelvo {

class ConfiguredOutputUnit : public OutputUnit {
public:
    // Stores the client format. Refuses (kStatusUnsupportedFormat) after
    // initialise, for a rate or channel count that is not positive, and for what
    // acceptsFormat refuses. The thread that drives the unit.
    OSStatus setClientFormat(double sampleRate, int channels) override;
    // Stores the channel map. The thread that drives the unit.
    OSStatus setChannelMap(std::span<const int> map) override;
    // Stores the largest slice, kept within 1 ... 65536. The thread that drives the unit.
    OSStatus setMaxFramesPerSlice(int frames) override;
    // Stores the callback and its context. The thread that drives the unit.
    OSStatus setRenderCallback(RenderFunction render, void* context) override;

protected:
    // Whether the device can take this (already sane) client format; 0 when it
    // can, else the status to report. The default takes any.
    virtual OSStatus acceptsFormat(double sampleRate, int channels);
    // Whether everything initialise needs has been set.
    bool configured() const { return render_ != nullptr && clientChannels_ > 0; }
    // Renders one slice of the client channels. Audio thread only.
    void renderClient(float* const* channels, int frames) noexcept { render_(context_, channels, clientChannels_, frames); }

    double rate_ = 0;
    int clientChannels_ = 0;
    std::vector<int> map_;
    int maxFrames_ = 4096;
    RenderFunction render_ = nullptr;
    void* context_ = nullptr;
    // Set by the unit once initialise succeeded: the format is fixed from then on.
    bool initialized_ = false;
};

} // namespace zelvo
