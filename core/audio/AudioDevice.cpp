#include "audio/AudioDevice.h"

#include <algorithm>

namespace zelvo {

std::vector<int> AudioDevice::channelPairs() const
{
    std::vector<int> pairs;
    const int limit = std::max(outputChannels - 1, 1);
    for (int c = 0; c < limit; c += 2)
        pairs.push_back(c);
    return pairs;
}

} // namespace zelvo

std::size_t std::hash<zelvo::AudioDevice>::operator()(const zelvo::AudioDevice& d) const noexcept
{
    std::size_t h = std::hash<std::uint32_t>()(d.id);
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>()(d.uid));
    mix(std::hash<std::string>()(d.name));
    mix(std::hash<int>()(d.outputChannels));
    mix(std::hash<double>()(d.nominalSampleRate));
    mix(std::hash<int>()(d.bufferSizeRange.lower));
    mix(std::hash<int>()(d.bufferSizeRange.upper));
    mix(std::hash<std::string>()(d.transport));
    return h;
}
