// Audio files through the import's analysis entry: decode at the analysis rate,
// the analyser and the tag reader. A failure is a described error; a success
// a duration within the length cap.
#include "FuzzSupport.h"

#include "library/LibraryStore.h"

#include <cmath>

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

namespace {
const char* const kExtensions[] = {"wav", "mp3", "flac", "m4a", "aiff", "caf", "aac", "mp4"};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QString path = fuzz::scratchFile(QStringLiteral("import.") + QLatin1String(kExtensions[data[0] % 8]));
    fuzz::writeFile(path, fuzz::bytesOf(data + 1, size - 1));
    const LibraryStore::AnalysisOutcome outcome = LibraryStore::analyzeFile(path);
    if (!outcome.analysis) {
        fuzz::require(!outcome.error.isEmpty(), "a failed analysis without a description");
        return 0;
    }
    const double duration = outcome.analysis->duration;
    fuzz::require(std::isfinite(duration) && duration > 0 && duration <= 4 * 3600, "an analysed duration out of range");
    return 0;
}
