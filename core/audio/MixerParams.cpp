#include "audio/MixerParams.h"

#include <limits>

namespace zelvo {

namespace {
std::vector<std::shared_ptr<ChannelParams>> makeChannels(int count)
{
    std::vector<std::shared_ptr<ChannelParams>> channels;
    for (int i = 0; i < count; ++i)
        channels.push_back(std::make_shared<ChannelParams>(i % 2 == 0 ? -1 : 1));
    return channels;
}
} // namespace

ChannelParams::ChannelParams(int side)
    : crossfaderAssign(side)
{
}

MixerParams::MixerParams(int count)
    : channels(makeChannels(count))
    , dropOffset(std::numeric_limits<double>::quiet_NaN())
    , lockOffset(std::numeric_limits<double>::quiet_NaN())
{
}

} // namespace zelvo
