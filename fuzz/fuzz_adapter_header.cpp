// The adapter check reads only a file's length word and JSON header; a file it
// takes installs as an exact copy.
#include "FuzzSupport.h"

#include "generation/Adapters.h"

#include <QDir>

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString source = fuzz::scratchFile(QStringLiteral("style.safetensors"));
    fuzz::writeFile(source, fuzz::bytesOf(data, size));
    if (!Adapters::isAdapter(source))
        return 0;
    const QString models = fuzz::scratchFile(QStringLiteral("models"));
    QDir(models).removeRecursively();
    const QString name = Adapters::install(source, models);
    fuzz::require(name == QStringLiteral("style"), "an adapter installed under another name");
    fuzz::require(fuzz::readFile(models + QStringLiteral("/style.safetensors")) == fuzz::bytesOf(data, size),
                  "the installed adapter is not an exact copy");
    return 0;
}
