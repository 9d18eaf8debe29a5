// Waveform files: whatever decodes has a drawable rate and bands of one
// length, and encodes back to the bytes it came from.
#include "FuzzSupport.h"

#include "library/WaveformFile.h"

#include <cmath>

using namespace zelvo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes = fuzz::bytesOf(data, size);
    const auto waveform = WaveformFile::decode(bytes);
    if (!waveform)
        return 0;
    fuzz::require(std::isfinite(waveform->pointsPerSecond) && waveform->pointsPerSecond > 0,
                  "a waveform decoded with a rate no view can divide by");
    fuzz::require(waveform->mid.size() == waveform->low.size() && waveform->high.size() == waveform->low.size(),
                  "bands of unequal length");
    const auto again = WaveformFile::encode(*waveform);
    fuzz::require(again && *again == bytes.first(again->size()), "the waveform does not encode to its own bytes");
    return 0;
}
