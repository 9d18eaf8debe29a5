#pragma once
// Opening places outside the program (folders, web pages, documents): what the
// state root and the screens ask of the desktop. The program hands in the
// system's services; tests hand in recorders. Main thread.
#include <QString>
#include <QUrl>

namespace zelvo {

class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    virtual bool openUrl(const QUrl& url) = 0;
    // Shows the file at `path` selected in the file manager; this default opens
    // the folder that holds it through `openUrl`.
    virtual void revealFile(const QString& path);
};

// The folder holding the file at `path`, as a local URL.
QUrl folderUrlOf(const QString& path);

} // namespace zelvo
