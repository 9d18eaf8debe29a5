#pragma once
// Where the model server's scripts lie.
#include <QString>

namespace zelvo {

// "brain" beside the program when it holds "kavri_brain.py", else "brain" at
// the root of the source tree (a build run from its tree), unchecked. Main thread.
QString brainScripts();

} // namespace zelvo
