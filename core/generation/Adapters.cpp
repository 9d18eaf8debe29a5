#include "generation/Adapters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace zelvo::Adapters {

namespace fs = std::filesystem;

namespace {

// Headers of 64 MiB or more are not adapters: a real adapter's header is a few
// kilobytes, and the bound keeps a hostile length word from costing memory.
constexpr std::uint64_t kHeaderLimit = std::uint64_t(1) << 26;

// The part of a file name before its extension, or nothing when the name has no
// extension ("notes", "trailing.", or a hidden name such as ".safetensors").
QString stemIfExtension(const QString& fileName, QString* extension)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == fileName.size() - 1)
        return {};
    *extension = fileName.mid(dot + 1);
    return fileName.left(dot);
}

bool hasAdapterExtension(const QString& fileName)
{
    QString extension;
    return !stemIfExtension(fileName, &extension).isEmpty()
        && extension.compare(QLatin1String("safetensors"), Qt::CaseInsensitive) == 0;
}

fs::path toPath(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString standardised(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

[[noreturn]] void throwErrno(const char* what, const fs::path& p)
{
    throw fs::filesystem_error(what, p, std::error_code(errno, std::generic_category()));
}

// Copies `from` into a new file `to` that is created owner-only from the start,
// so the adapter is never readable by others, even for a moment. The data is on
// disk before the function returns, so the rename that follows cannot expose a
// truncated file after a crash.
void copyPrivately(const fs::path& from, const fs::path& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throwErrno("open adapter", from);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        const int saved = errno;
        ::close(in);
        errno = saved;
        throwErrno("create", to);
    }
    auto fail = [&](const char* what, const fs::path& p) {
        const int saved = errno;
        ::close(in);
        ::close(out);
        std::error_code ignored;
        fs::remove(to, ignored);
        errno = saved;
        throwErrno(what, p);
    };
    // The umask may have taken bits away from 0600; set exactly that.
    if (::fchmod(out, 0600) != 0)
        fail("set permissions", to);

    std::vector<char> chunk(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("read", from);
        }
        if (got == 0)
            break;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = ::write(out, chunk.data() + done, std::size_t(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                fail("write", to);
            }
            done += put;
        }
    }
    if (::fsync(out) != 0)
        fail("sync", to);
    ::close(in);
    if (::close(out) != 0) {
        const int saved = errno;
        std::error_code ignored;
        fs::remove(to, ignored);
        errno = saved;
        throwErrno("close", to);
    }
}

} // namespace

InstallError::InstallError(Kind kind, const QString& fileName)
    : std::runtime_error((fileName + QStringLiteral(" isn't a zelvo-0 adapter")).toStdString())
    , kind_(kind)
    , fileName_(fileName)
{
}

InstallError InstallError::notAnAdapter(const QString& fileName)
{
    return InstallError(Kind::notAnAdapter, fileName);
}

QString InstallError::description() const
{
    return fileName_ + QStringLiteral(" isn't a zelvo-0 adapter");
}

bool isAdapter(const QString& path)
{
    const QFileInfo info(path);
    if (!hasAdapterExtension(info.fileName()))
        return false;
    // Only regular files are opened: a pipe or device with the right name would
    // block the caller or never end.
    if (!info.isFile())
        return false;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    unsigned char word[8];
    if (file.read(reinterpret_cast<char*>(word), 8) != 8)
        return false;
    std::uint64_t length = 0;
    for (int i = 7; i >= 0; --i)
        length = (length << 8) | word[i];
    if (length < 1 || length >= kHeaderLimit)
        return false;

    const qint64 available = std::max<qint64>(file.size() - 8, 0);
    const QByteArray header = file.read(std::min<qint64>(qint64(length), available));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(header, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject root = document.object();
    if (root.isEmpty())
        return false;

    const QJsonValue metadata = root.value(QLatin1String("__metadata__"));
    if (!metadata.isObject())
        return false;
    const QJsonObject entries = metadata.toObject();
    if (entries.isEmpty() || !entries.contains(QLatin1String("rank"))
        || !entries.contains(QLatin1String("alpha")))
        return false;

    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        if (it.key().endsWith(QLatin1String(".lora_A")))
            return true;
    }
    return false;
}

QString install(const QString& source, const QString& modelsFolder)
{
    const QString sourceName = QFileInfo(source).fileName();
    if (!isAdapter(source))
        throw InstallError::notAnAdapter(sourceName);

    const fs::path folder = toPath(modelsFolder);
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace);

    QString extension;
    const QString name = stemIfExtension(sourceName, &extension);
    const QString destination = QDir(modelsFolder).filePath(name + QStringLiteral(".safetensors"));
    if (standardised(destination) == standardised(source))
        return name;

    const fs::path temporary =
        toPath(QDir(modelsFolder).filePath(QStringLiteral(".") + name + QStringLiteral(".safetensors.part")));
    std::error_code ignored;
    fs::remove(temporary, ignored);
    copyPrivately(toPath(source), temporary);

    // rename() replaces an installed adapter of the same name atomically: readers
    // see either the old file or the new one, never a mixture.
    try {
        fs::rename(temporary, toPath(destination));
    } catch (...) {
        fs::remove(temporary, ignored);
        throw;
    }
    return name;
}

} // namespace zelvo::Adapters
