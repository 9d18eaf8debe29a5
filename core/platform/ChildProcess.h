#pragma once
// A child process whose exit is watched on the main event loop through a
// pidfd, with standard output and standard error merged into one pipe.
//
// Unlike QProcess, dropping the handle leaves the child running: the model
// server outlives the object that launched it. The child is signalled only
// through its pidfd and never once it has been reaped, so a recycled pid is
// never hit.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;

namespace zelvo {

class ChildProcess final : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString program;          // the executable's path
        QStringList arguments;    // without the program itself
        QStringList environment;  // the child's whole environment, "KEY=value"
        bool utility = false;     // run at nice 10 (background work)
    };

    // Starts `options.program` with standard input from /dev/null, output and
    // errors in one pipe, no other descriptor inherited, the signal mask empty
    // and every signal at its default action. On failure returns null and sets
    // `error` to the system's description. Main thread.
    static std::unique_ptr<ChildProcess> launch(const Options& options, QString* error = nullptr);

    // Closes our ends; the child keeps running. Main thread.
    ~ChildProcess() override;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // True until the exit was seen. Main thread.
    bool isRunning() const { return !exited_; }
    // The exit code, or the signal number of a signal death; -1 while running.
    int exitStatus() const { return status_; }

    // Sends `signal` through the pidfd; false once the child is reaped or when
    // the system refuses. Main thread.
    bool sendSignal(int signal);
    bool terminate();

signals:
    // Bytes the child wrote, in order, as they arrive. Before `finished`, all
    // that the pipe held at the exit has been delivered; later bytes (from a
    // grandchild holding the pipe) still come.
    void output(const QByteArray& bytes);
    // Every writer of the pipe closed it.
    void outputClosed();
    // The child exited and was reaped: its exit code, or the signal number.
    void finished(int status);

private:
    ChildProcess(pid_t pid, int pidfd, int pipe);
    void drainPipe();
    void reap();
    void closePipe();

    pid_t pid_;
    int pidfd_;
    int pipe_;
    bool exited_ = false;
    int status_ = -1;
    QSocketNotifier* exitWatch_ = nullptr;
    QSocketNotifier* pipeWatch_ = nullptr;
};

} // namespace zelvo
