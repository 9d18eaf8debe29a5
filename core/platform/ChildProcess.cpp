#include "platform/ChildProcess.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zelvo {

namespace {

QString systemError(int code)
{
    char buffer[256];
    // The GNU variant returns the text (not always in `buffer`).
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

int openPidfd(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// posix_spawn's attributes and file actions, released on every path.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup()
    {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
};

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::launch(const Options& options, QString* error)
{
    auto fail = [error](int code) -> std::unique_ptr<ChildProcess> {
        if (error)
            *error = systemError(code);
        return nullptr;
    };

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return fail(errno);
    const int readEnd = fds[0];
    const int writeEnd = fds[1];

    SpawnSetup setup;
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attr, &empty);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd, 1);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd, 2);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    const QByteArray program = options.program.toLocal8Bit();
    std::vector<QByteArray> argStorage;
    argStorage.push_back(program);
    for (const QString& argument : options.arguments)
        argStorage.push_back(argument.toLocal8Bit());
    std::vector<QByteArray> envStorage;
    for (const QString& entry : options.environment)
        envStorage.push_back(entry.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argStorage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& e : envStorage)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.constData(), &setup.actions, &setup.attr, argv.data(), envp.data());
    ::close(writeEnd);
    if (spawned != 0) {
        ::close(readEnd);
        return fail(spawned);
    }
    if (options.utility)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 10);

    // The child is ours and not yet reaped, so the pid cannot have been reused.
    const int pidfd = openPidfd(pid);
    if (pidfd < 0) {
        const int code = errno;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(readEnd);
        return fail(code);
    }
    ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) | O_NONBLOCK);
    return std::unique_ptr<ChildProcess>(new ChildProcess(pid, pidfd, readEnd));
}

ChildProcess::ChildProcess(pid_t pid, int pidfd, int pipe) : pid_(pid), pidfd_(pidfd), pipe_(pipe)
{
    exitWatch_ = new QSocketNotifier(pidfd_, QSocketNotifier::Read, this);
    connect(exitWatch_, &QSocketNotifier::activated, this, [this] { reap(); });
    pipeWatch_ = new QSocketNotifier(pipe_, QSocketNotifier::Read, this);
    connect(pipeWatch_, &QSocketNotifier::activated, this, [this] { drainPipe(); });
}

ChildProcess::~ChildProcess()
{
    delete exitWatch_;
    delete pipeWatch_;
    if (pidfd_ >= 0)
        ::close(pidfd_);
    if (pipe_ >= 0)
        ::close(pipe_);
}

bool ChildProcess::sendSignal(int signal)
{
    if (exited_ || pidfd_ < 0)
        return false;
    return ::syscall(SYS_pidfd_send_signal, pidfd_, signal, nullptr, 0) == 0;
}

bool ChildProcess::terminate()
{
    return sendSignal(SIGTERM);
}

void ChildProcess::drainPipe()
{
    if (pipe_ < 0)
        return;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(pipe_, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        const int error = n < 0 ? errno : 0;
        if (error == EINTR)
            continue;
        if (!bytes.isEmpty())
            emit output(bytes);
        if (n == 0 || (error != EAGAIN && error != EWOULDBLOCK)) {
            closePipe();
            emit outputClosed();
        }
        return;
    }
}

void ChildProcess::closePipe()
{
    delete pipeWatch_;
    pipeWatch_ = nullptr;
    ::close(pipe_);
    pipe_ = -1;
}

void ChildProcess::reap()
{
    int raw = 0;
    const pid_t reaped = ::waitpid(pid_, &raw, WNOHANG);
    if (reaped == 0)
        return; // not yet: the notifier fires again
    delete exitWatch_;
    exitWatch_ = nullptr;
    ::close(pidfd_);
    pidfd_ = -1;
    exited_ = true;
    if (reaped < 0)
        status_ = -1; // reaped elsewhere: the status is lost
    else if (WIFSIGNALED(raw))
        status_ = WTERMSIG(raw);
    else
        status_ = WEXITSTATUS(raw);
    // What the child wrote before it exited is handled before its exit.
    drainPipe();
    emit finished(status_);
}

} // namespace zelvo
