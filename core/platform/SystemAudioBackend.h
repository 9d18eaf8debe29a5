#pragma once
// The program's sound system: the ALSA devices, then the virtual output, then
// aggregates over them.
#include <memory>

namespace zelvo {

class AudioBackend;

// Builds the system backend. Any thread but the audio thread.
std::shared_ptr<AudioBackend> makeSystemAudioBackend();

} // namespace zelvo
