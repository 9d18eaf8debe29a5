#include "audio/MixerState.h"

namespace zelvo {

MixerState::MixerState(int channels)
    : channelPeak(std::size_t(channels < 0 ? 0 : channels))
    , effectiveTempo(std::size_t(channels < 0 ? 0 : channels))
{
    for (auto& t : effectiveTempo)
        t.store(1.0);
}

} // namespace zelvo
