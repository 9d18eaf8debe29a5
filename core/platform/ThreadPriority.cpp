#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zelvo {

void lowerCurrentThreadPriority()
{
    // On Linux the nice value belongs to the thread named by its id.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, tid, 10);
}

} // namespace zelvo
