#include "platform/SystemAudioBackend.h"

#include "platform/AlsaBackend.h"
#include "platform/CompositeAudioBackend.h"
#include "platform/VirtualOutputBackend.h"

namespace zelvo {

std::shared_ptr<AudioBackend> makeSystemAudioBackend()
{
    return std::make_shared<CompositeAudioBackend>(std::vector<std::shared_ptr<AudioBackend>>{
        std::make_shared<AlsaBackend>(), std::make_shared<VirtualOutputBackend>()});
}

} // namespace zelvo
