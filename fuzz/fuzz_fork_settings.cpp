// The fork settings stored in the user defaults: what decodes encodes back to
// settings that decode equal.
#include "FuzzSupport.h"

#include "generation/ForkSettings.h"

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto settings = ForkSettings::decode(fuzz::bytesOf(data, size).toByteArray());
    if (!settings)
        return 0;
    const auto again = ForkSettings::decode(settings->encode());
    fuzz::require(again && *again == *settings, "fork settings do not read back equal");
    return 0;
}
