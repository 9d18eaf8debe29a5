#pragma once
// Where the field guide is: "kavri-zelvo-guide.pdf" in the install's data
// folder, else "docs/kavri-zelvo-guide.pdf" in the parent of the model
// server's scripts folder.
//
// QtCore only. Main thread.
#include <QString>

namespace zelvo {

// The guide's path, empty when the chosen place holds no file.
QString tourGuidePath(const QString& dataFolder, const QString& brainScripts);

} // namespace zelvo
