#include "state/DesktopServices.h"

#include <QFileInfo>

namespace zelvo {

QUrl folderUrlOf(const QString& path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absolutePath());
}

void DesktopServices::revealFile(const QString& path)
{
    openUrl(folderUrlOf(path));
}

} // namespace zelvo
