// Showing a file in the file manager: the freedesktop FileManager1 interface
// selects it in a folder window; without a file manager on the session bus
// the folder opens as any location does.
#include "ui/kit/UiEnv.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStringList>

namespace zelvo::kit {

void SystemDesktopServices::revealFile(const QString& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openUrl(folderUrlOf(path));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString()} << QString();
    // The call is asynchronous: the main thread never waits for the bus. An
    // error (no such service, a time-out) opens the folder instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 3000));
    const QUrl folder = folderUrlOf(path);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [folder](QDBusPendingCallWatcher* w) {
        if (w->isError())
            QDesktopServices::openUrl(folder);
        w->deleteLater();
    });
}

} // namespace zelvo::kit
