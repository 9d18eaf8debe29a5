#include "generation/BrainScripts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace zelvo {

QString brainScripts()
{
    if (QCoreApplication::instance()) {
        const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("brain"));
        if (QFileInfo(QDir(beside).filePath(QStringLiteral("kavri_brain.py"))).isFile())
            return beside;
    }
    // This file lies in app/generation: two folders below the root.
    return QDir::cleanPath(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../../brain"));
}

} // namespace zelvo
