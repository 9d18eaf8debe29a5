#pragma once
// Where the model server's scripts lie: the installed copy beside the program,
// else the source tree's brain folder (a build run from its tree).
#include <QString>

namespace zelvo {

// `<executableDirectory>/../share/kavri-zelvo/brain` when it holds
// "kavri_brain.py", else the source tree's "brain" folder, returned without
// checking that it exists. Any thread.
QString brainScriptsFor(const QString& executableDirectory);

// The same for the running program's own executable. Any thread.
QString brainScripts();

} // namespace zelvo
