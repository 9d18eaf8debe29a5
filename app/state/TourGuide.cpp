#include "state/TourGuide.h"

#include <QDir>
#include <QFileInfo>

namespace zelvo {

QString tourGuidePath(const QString& dataFolder, const QString& brainScripts)
{
    static const QString kName = QStringLiteral("kavri-zelvo-guide.pdf");
    const QString installed = QDir(dataFolder).filePath(kName);
    const QString chosen = QFileInfo(installed).isFile()
                               ? installed
                               : QDir(QFileInfo(QDir::cleanPath(brainScripts)).path()).filePath(QStringLiteral("docs/") + kName);
    return QFileInfo(chosen).isFile() ? QDir::cleanPath(chosen) : QString();
}

} // namespace zelvo
