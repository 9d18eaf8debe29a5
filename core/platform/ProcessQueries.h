#pragma once
// Questions about other processes, answered from /proc. Each reads a few small
// files and returns at once; all may block the calling thread briefly.
#include <QList>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace zelvo::ProcessQueries {

// The command line of `pid`: its arguments joined by spaces, ending in a line
// feed; empty when the process is gone or its command line is unreadable or
// not UTF-8. Any thread.
QString commandLine(qint64 pid);

// The lowest pid holding a socket that listens on TCP `port` (IPv4 or IPv6, any
// address); nothing when no process we may inspect listens there. Any thread.
std::optional<qint64> processHoldingPort(int port);

// Every descendant of `pid`, breadth first and ascending within a generation,
// without `pid` itself. Any thread.
QList<qint64> descendants(qint64 pid);

// A process we did not launch, pinned by a pidfd: once opened, a signal reaches
// this very process or nobody, even if its pid is later reused.
class PinnedProcess {
public:
    // Opens a pidfd on `pid`; invalid when the process is gone or pid is not
    // above 1. Any thread.
    explicit PinnedProcess(qint64 pid);
    ~PinnedProcess();
    PinnedProcess(PinnedProcess&& other) noexcept;
    PinnedProcess& operator=(PinnedProcess&& other) noexcept;
    PinnedProcess(const PinnedProcess&) = delete;
    PinnedProcess& operator=(const PinnedProcess&) = delete;

    bool isValid() const { return fd_ >= 0; }
    qint64 pid() const { return pid_; }
    // The command line, read after the pin was taken (see `commandLine`).
    QString commandLine() const;
    // Sends `signal`; false when invalid, gone or refused. Any thread.
    bool sendSignal(int signal) const;

private:
    qint64 pid_ = 0;
    int fd_ = -1;
};

} // namespace zelvo::ProcessQueries
