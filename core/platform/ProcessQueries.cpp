#include "platform/ProcessQueries.h"

#include <QByteArray>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace zelvo::ProcessQueries {

namespace {

// A whole small file from /proc (their sizes read as 0, so read to the end).
std::optional<QByteArray> readProcFile(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            data.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        ::close(fd);
        if (n < 0)
            return std::nullopt;
        return data;
    }
}

// Pids of /proc in ascending order.
std::vector<qint64> allPids()
{
    std::vector<qint64> pids;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return pids;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && pid > 0)
            pids.push_back(pid);
    }
    ::closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

// Inodes of the sockets in one /proc/net/tcp table listening on `port`. The
// kernel lists every listening socket before any other (it walks the listening
// hash, then the established one), and walking the established hash is what
// makes the whole table slow to read; so reading stops at the first row in
// another state.
void listeningInodes(const char* table, int port, std::set<unsigned long long>& inodes)
{
    const int fd = ::open(table, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    QByteArray pending;
    bool header = true;
    bool done = false;
    char buffer[16384];
    while (!done) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, n);
        qsizetype start = 0;
        for (qsizetype end = pending.indexOf('\n'); end >= 0 && !done; end = pending.indexOf('\n', start)) {
            const QByteArray line = pending.mid(start, end - start);
            start = end + 1;
            if (header) { // column names
                header = false;
                continue;
            }
            // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 10)
                continue;
            if (fields[3] != "0A") {
                done = true;
                break;
            }
            const qsizetype colon = fields[1].lastIndexOf(':');
            if (colon < 0)
                continue;
            bool ok = false;
            const int localPort = fields[1].mid(colon + 1).toInt(&ok, 16);
            if (!ok || localPort != port)
                continue;
            const unsigned long long inode = fields[9].toULongLong(&ok);
            if (ok && inode != 0)
                inodes.insert(inode);
        }
        pending.remove(0, start);
    }
    ::close(fd);
}

bool holdsSocket(qint64 pid, const std::set<unsigned long long>& inodes)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/fd", static_cast<long long>(pid));
    DIR* dir = ::opendir(path);
    if (!dir)
        return false;
    bool found = false;
    const int dirFd = ::dirfd(dir);
    char link[128];
    while (!found) {
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        if (entry->d_name[0] == '.')
            continue;
        const ssize_t n = ::readlinkat(dirFd, entry->d_name, link, sizeof link - 1);
        if (n <= 0)
            continue;
        link[n] = '\0';
        if (std::strncmp(link, "socket:[", 8) != 0)
            continue;
        char* end = nullptr;
        const unsigned long long inode = std::strtoull(link + 8, &end, 10);
        found = end && *end == ']' && inodes.count(inode) > 0;
    }
    ::closedir(dir);
    return found;
}

constexpr qint64 kLargestPid = 2147483647;

} // namespace

QString commandLine(qint64 pid)
{
    if (pid <= 0 || pid > kLargestPid)
        return {};
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/cmdline", static_cast<long long>(pid));
    std::optional<QByteArray> data = readProcFile(path);
    if (!data || data->isEmpty())
        return {};
    if (data->endsWith('\0'))
        data->chop(1);
    data->replace('\0', ' ');
    data->append('\n');
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(*data);
    if (decoder.hasError())
        return {};
    return text;
}

std::optional<qint64> processHoldingPort(int port)
{
    if (port < 1 || port > 65535)
        return std::nullopt;
    std::set<unsigned long long> inodes;
    listeningInodes("/proc/net/tcp", port, inodes);
    listeningInodes("/proc/net/tcp6", port, inodes);
    if (inodes.empty())
        return std::nullopt;
    for (const qint64 pid : allPids()) {
        if (holdsSocket(pid, inodes))
            return pid;
    }
    return std::nullopt;
}

QList<qint64> descendants(qint64 root)
{
    // One pass over every process's parent, then a walk over the tree.
    std::map<qint64, std::vector<qint64>> children;
    char path[64];
    for (const qint64 pid : allPids()) {
        std::snprintf(path, sizeof path, "/proc/%lld/stat", static_cast<long long>(pid));
        const std::optional<QByteArray> stat = readProcFile(path);
        if (!stat)
            continue;
        // "pid (comm) state ppid ...": comm may hold anything, ')' included.
        const qsizetype close = stat->lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat->mid(close + 1).simplified().split(' ');
        if (fields.size() < 2)
            continue;
        bool ok = false;
        const qint64 parent = fields[1].toLongLong(&ok);
        if (ok)
            children[parent].push_back(pid); // ascending, as the pids are
    }
    QList<qint64> result;
    qsizetype next = 0;
    auto addChildrenOf = [&](qint64 pid) {
        const auto it = children.find(pid);
        if (it == children.end())
            return;
        for (const qint64 child : it->second) {
            if (child != root && !result.contains(child))
                result.append(child);
        }
    };
    addChildrenOf(root);
    while (next < result.size())
        addChildrenOf(result[next++]);
    return result;
}

PinnedProcess::PinnedProcess(qint64 pid) : pid_(pid)
{
    if (pid > 1 && pid <= kLargestPid)
        fd_ = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
}

PinnedProcess::~PinnedProcess()
{
    if (fd_ >= 0)
        ::close(fd_);
}

PinnedProcess::PinnedProcess(PinnedProcess&& other) noexcept
    : pid_(other.pid_), fd_(std::exchange(other.fd_, -1))
{
}

PinnedProcess& PinnedProcess::operator=(PinnedProcess&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        pid_ = other.pid_;
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

QString PinnedProcess::commandLine() const
{
    return isValid() ? ProcessQueries::commandLine(pid_) : QString();
}

bool PinnedProcess::sendSignal(int signal) const
{
    return isValid() && ::syscall(SYS_pidfd_send_signal, fd_, signal, nullptr, 0) == 0;
}

} // namespace zelvo::ProcessQueries
