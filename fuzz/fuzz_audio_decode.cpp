// Audio files through the deck's decode, whole and as a range: a clean error
// or a buffer within the length cap, never a crash or a runaway allocation.
// The first byte picks the file's extension, the next two the range; the rest
// is the file.
#include "FuzzSupport.h"

#include "library/AudioFileIO.h"

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

namespace {
const char* const kExtensions[] = {"wav", "mp3", "flac", "m4a", "aiff", "caf", "aac", "mp4"};
constexpr double kMostSeconds = 4 * 3600;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const QString path = fuzz::scratchFile(QStringLiteral("track.") + QLatin1String(kExtensions[data[0] % 8]));
    fuzz::writeFile(path, fuzz::bytesOf(data + 3, size - 3));
    const std::filesystem::path file = path.toStdString();

    for (double rate : {48000.0, 44100.0}) {
        try {
            const TrackBufferRef buffer = AudioFileIO::decode(file, rate);
            fuzz::require(buffer->frames > 0 && buffer->sampleRate == rate, "a decode returned no audio");
            fuzz::require(double(buffer->frames) <= kMostSeconds * rate, "a decode passed the length cap");
        } catch (const AudioFileError&) {
        }
    }

    const AudioFileIO::Range range{double(data[1]) / 16.0 - 2.0, double(data[2]) / 8.0};
    try {
        const TrackBufferRef part = AudioFileIO::decode(file, 48000.0, range);
        const double wanted = (range.upper - std::max(range.lower, 0.0)) * 48000.0;
        fuzz::require(part->frames > 0 && double(part->frames) <= wanted, "a range decode delivered more than wanted");
    } catch (const AudioFileError&) {
    }
    return 0;
}
