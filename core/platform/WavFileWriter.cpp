#include "platform/WavFileWriter.h"

#include <sndfile.h>

namespace zelvo {

WavFileWriter::~WavFileWriter()
{
    close();
}

int WavFileWriter::create(const std::string& path, int sampleRate, bool sixteenBit)
{
    close();
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (sixteenBit ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file_)
        return sf_error(nullptr);
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return 0;
}

int WavFileWriter::write(const float* interleaved, std::int64_t frames)
{
    if (!file_)
        return SF_ERR_UNRECOGNISED_FORMAT;
    if (frames <= 0)
        return 0;
    if (sf_writef_float(file_, interleaved, frames) != frames) {
        const int status = sf_error(file_);
        return status != 0 ? status : SF_ERR_SYSTEM;
    }
    return 0;
}

int WavFileWriter::updateHeader()
{
    if (!file_)
        return SF_ERR_UNRECOGNISED_FORMAT;
    sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    return sf_error(file_);
}

int WavFileWriter::close()
{
    if (!file_)
        return 0;
    const int status = sf_close(file_);
    file_ = nullptr;
    return status;
}

} // namespace zelvo
