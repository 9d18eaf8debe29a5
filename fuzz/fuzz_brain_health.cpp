// The model server's health body: read strictly, and a refused body says
// which key failed.
#include "FuzzSupport.h"

#include "generation/BrainHealth.h"

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QString why;
    const auto health = BrainHealth::decode(fuzz::bytesOf(data, size).toByteArray(), &why);
    fuzz::require(health.has_value() == why.isEmpty(), "a refused health body without a reason, or a read one with");
    return 0;
}
