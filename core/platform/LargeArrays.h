#pragma once
// Memory hints for long sample arrays. A decoded track's channels run to tens of
// megabytes that are written once, front to back; touched page by page, the
// first write to each small page costs a fault. Asking for large pages cuts
// those faults by a factor of hundreds. Any thread but the audio thread.
#include <cstddef>

namespace zelvo {

// Asks the system to back `bytes` bytes from `data` with large pages where it
// can. A hint only: the memory's content and ownership are unchanged, and
// nothing happens for short arrays or where the system has no such pages.
void preferLargePages(void* data, std::size_t bytes);

} // namespace zelvo
