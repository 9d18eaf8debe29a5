#pragma once
// Scheduling priority of background threads.

namespace zelvo {

// Lowers the calling thread below ordinary threads (nice 10), so background
// work such as analysis yields to the interface; the audio thread's real-time
// class stays far above both. Failures are ignored. Any thread, for itself.
void lowerCurrentThreadPriority();

} // namespace zelvo
