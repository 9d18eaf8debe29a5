#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// fsync of the folder, so the rename survives a power failure.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error, bool durable,
                         std::optional<mode_t> mode)
{
    const QFileInfo target(path);
    QTemporaryFile temp(path + QStringLiteral(".XXXXXX"));
    temp.setAutoRemove(true);
    if (!temp.open()) {
        setError(error, QStringLiteral("cannot create a temporary file beside %1: %2").arg(path, temp.errorString()));
        return false;
    }
    // Written in a loop: one short write (a full disk, a size limit) must not
    // pass for a whole file.
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 chunk = temp.write(bytes.constData() + written, bytes.size() - written);
        if (chunk <= 0)
            break;
        written += chunk;
    }
    if (written != bytes.size() || !temp.flush()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, temp.errorString()));
        return false;
    }
    if (mode) {
        // A secret must never be readable by others, so a mode that cannot be
        // set fails the whole write.
        if (::fchmod(temp.handle(), *mode) != 0) {
            setError(error, QStringLiteral("cannot set the permissions of %1: %2")
                                .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
    } else {
        const QFileDevice::Permissions permissions = target.exists()
            ? target.permissions()
            : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        temp.setPermissions(permissions);
    }
    if (durable && ::fsync(temp.handle()) != 0) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    const QByteArray from = QFile::encodeName(temp.fileName());
    const QByteArray to = QFile::encodeName(path);
    // POSIX rename replaces the target in one step; QFile::rename would refuse
    // an existing target.
    if (::rename(from.constData(), to.constData()) != 0) {
        setError(error, QStringLiteral("cannot replace %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    temp.setAutoRemove(false); // it is the target now
    if (durable)
        syncFolder(target.absolutePath());
    return true;
}

} // namespace zelvo
