#include "RecordingSupport.h"

#include <sndfile.h>

namespace zelvo::test {

WavContents readWav(const std::string& path)
{
    WavContents out;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return out;
    out.ok = true;
    out.sampleRate = info.samplerate;
    out.channels = info.channels;
    out.format = info.format;
    out.samples.resize(std::size_t(info.frames * info.channels));
    sf_readf_float(f, out.samples.data(), info.frames);
    sf_close(f);
    return out;
}

} // namespace zelvo::test
