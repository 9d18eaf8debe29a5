#include "platform/LargeArrays.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace zelvo {

namespace {

// Below a few large pages the hint buys nothing.
constexpr std::size_t kLeastBytes = std::size_t(8) << 20;

} // namespace

void preferLargePages(void* data, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    if (!data || bytes < kLeastBytes)
        return;
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0)
        return;
    // The hint covers whole pages inside the array, never memory beside it.
    const auto size = std::uintptr_t(page);
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + size - 1) / size * size;
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / size * size;
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

} // namespace zelvo
