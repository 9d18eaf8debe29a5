#include "platform/RecordingFile.h"

#include <sndfile.h>

#include <cerrno>
#include <cmath>

namespace zelvo {

namespace {

// errno when the library hit a system error, else the library's own code.
int statusOf(SNDFILE* file)
{
    const int code = sf_error(file);
    if (code == SF_ERR_SYSTEM && errno != 0)
        return errno;
    return code != 0 ? code : (errno != 0 ? errno : -1);
}

class SndfileRecording final : public RecordingFile {
public:
    explicit SndfileRecording(SNDFILE* file) : file_(file) {}
    ~SndfileRecording() override { close(); }

    bool write(const float* interleaved, std::int64_t frames) override
    {
        if (!file_)
            return fail(EBADF);
        errno = 0;
        const sf_count_t done = sf_writef_float(file_, interleaved, sf_count_t(frames));
        if (done != sf_count_t(frames))
            return fail(statusOf(file_));
        return true;
    }

    bool updateHeader() override
    {
        if (!file_)
            return fail(EBADF);
        errno = 0;
        sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        if (sf_error(file_) != SF_ERR_NO_ERROR)
            return fail(statusOf(file_));
        return true;
    }

    bool close() override
    {
        if (!file_)
            return true;
        SNDFILE* file = file_;
        file_ = nullptr;
        errno = 0;
        const int rc = sf_close(file);
        if (rc != 0)
            return fail(rc == SF_ERR_SYSTEM && errno != 0 ? errno : rc);
        return true;
    }

    int lastStatus() const override { return status_; }

private:
    bool fail(int status)
    {
        status_ = status;
        return false;
    }

    SNDFILE* file_;
    int status_ = 0;
};

} // namespace

std::unique_ptr<RecordingFile> createWavRecording(const std::string& path, double sampleRate,
                                                  RecordingFileFailure& failure)
{
    SF_INFO info{};
    info.samplerate = int(std::lround(sampleRate));
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    if (!(sampleRate >= 1.0) || !sf_format_check(&info)) {
        failure = {"recording format", SF_ERR_MALFORMED_FILE};
        return nullptr;
    }
    errno = 0;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        failure = {"create recording", statusOf(nullptr)};
        return nullptr;
    }
    auto recording = std::make_unique<SndfileRecording>(file);
    if (!recording->updateHeader()) {
        failure = {"prime recorder", recording->lastStatus()};
        return nullptr;
    }
    return recording;
}

} // namespace zelvo
