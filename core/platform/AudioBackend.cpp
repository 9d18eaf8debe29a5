#include "platform/AudioBackend.h"

#include <cstring>

namespace zelvo {

void applyChannelMap(std::span<const int> map, const float* const* client, int clientChannels,
                     float* const* device, int deviceChannels, int frames) noexcept
{
    for (int c = 0; c < deviceChannels; ++c) {
        const int source = c < int(map.size()) ? map[std::size_t(c)] : -1;
        if (source >= 0 && source < clientChannels)
            std::memcpy(device[c], client[source], sizeof(float) * std::size_t(frames));
        else
            std::memset(device[c], 0, sizeof(float) * std::size_t(frames));
    }
}

} // namespace zelvo
