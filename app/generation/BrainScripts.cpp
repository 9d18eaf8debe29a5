#include "generation/BrainScripts.h"

#include <QDir>
#include <QFileInfo>

#ifndef KAVRI_SOURCE_BRAIN_DIR
#error "KAVRI_SOURCE_BRAIN_DIR names the source tree's brain folder"
#endif

namespace zelvo {

QString brainScriptsFor(const QString& executableDirectory)
{
    const QString installed =
        QDir::cleanPath(executableDirectory + QStringLiteral("/../share/kavri-zelvo/brain"));
    if (QFileInfo::exists(installed + QStringLiteral("/kavri_brain.py")))
        return installed;
    return QStringLiteral(KAVRI_SOURCE_BRAIN_DIR);
}

QString brainScripts()
{
    const QFileInfo executable(QStringLiteral("/proc/self/exe"));
    return brainScriptsFor(QFileInfo(executable.symLinkTarget()).absolutePath());
}

} // namespace zelvo
