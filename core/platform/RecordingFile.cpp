#include "platform/RecordingFile.h"

#include "platform/WavFileWriter.h"

#include <cmath>


namespace zelvo {

namespace {

class WavRecording final : public RecordingFile {
public:
    bool write(const float* interleaved, std::int64_t frames) override { return ok(wav.write(interleaved, frames)); }
    bool updateHeader() override { return ok(wav.updateHeader()); }
    bool close() override { return ok(wav.close()); }
    int lastStatus() const override { return status_; }

    bool ok(int status)
    {
        if (status != 0)
            status_ = status;
        return status == 0;
    }

    WavFileWriter wav;

private:
    int status_ = 0;
};

} // namespace

std::unique_ptr<RecordingFile> createWavRecording(const std::string& path, double sampleRate,
                                                  RecordingFileFailure& failure)
{
    // The file's format is fixed when it is made; a rate it cannot carry is a
    // format failure, found before anything touches the disk.
    if (!(sampleRate >= 1.0 && sampleRate <= 1e7)) {
        failure = {"recording format", 1 /* SF_ERR_UNRECOGNISED_FORMAT */};
        return nullptr;
    }
    auto recording = std::make_unique<WavRecording>();
    const int created = recording->wav.create(path, int(std::lround(sampleRate)), false);
    if (created != 0 || !recording->wav.isOpen()) {
        failure = {"create recording", created != 0 ? created : -1};
        return nullptr;
    }
    // The header is written before any sample, so even an empty recording is a
    // valid file.
    if (!recording->updateHeader()) {
        failure = {"prime recorder", recording->lastStatus()};
        return nullptr;
    }
    return recording;
}

} // namespace zelvo
