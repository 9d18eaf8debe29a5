#include "platform/NoReplaceRename.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zelvo {

namespace {

RenameOutcome failure(int code, QString* error)
{
    if (code == EEXIST)
        return RenameOutcome::nameTaken;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(code));
    return RenameOutcome::failed;
}

} // namespace

RenameOutcome renameWithoutReplacing(const QString& from, const QString& to, QString* error)
{
    const QByteArray source = from.toLocal8Bit();
    const QByteArray target = to.toLocal8Bit();
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return RenameOutcome::renamed;
    const int code = errno;
    if (code != EINVAL && code != ENOSYS && code != ENOTSUP && code != EPERM)
        return failure(code, error);
    // The file system cannot rename without replacing: a hard link cannot
    // replace either.
    if (::link(source.constData(), target.constData()) != 0)
        return failure(errno, error);
    ::unlink(source.constData());
    return RenameOutcome::renamed;
}

} // namespace zelvo
