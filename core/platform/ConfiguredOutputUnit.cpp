#include "platform/ConfiguredOutputUnit.h"

#include <algorithm>

namespace zelvo {

OSStatus ConfiguredOutputUnit::setClientFormat(double sampleRate, int channels)
{
    if (initialized_ || !(sampleRate > 0) || channels <= 0)
        return kStatusUnsupportedFormat;
    if (OSStatus s = acceptsFormat(sampleRate, channels); s != 0)
        return s;
    rate_ = sampleRate;
    clientChannels_ = channels;
    return 0;
}

OSStatus ConfiguredOutputUnit::setChannelMap(std::span<const int> map)
{
    map_.assign(map.begin(), map.end());
    return 0;
}

OSStatus ConfiguredOutputUnit::setMaxFramesPerSlice(int frames)
{
    maxFrames_ = std::clamp(frames, 1, 1 << 16);
    return 0;
}

OSStatus ConfiguredOutputUnit::setRenderCallback(RenderFunction render, void* context)
{
    render_ = render;
    context_ = context;
    return 0;
}

OSStatus ConfiguredOutputUnit::acceptsFormat(double, int)
{
    return 0;
}

} // namespace zelvo
