#pragma once
// The one object that looks after the local model server: it adopts a server
// that already answers, replaces one left by another copy of the program or
// launches its own; polls its health every 2 s into the status the interface
// shows; restarts a dead server and wins back a port held by a stuck one; runs
// the installer and the neural-engine build; and keeps the application log.
//
// Main thread only (except `note`, which other threads may call: their lines
// are posted to the main thread). Every wait runs on the injected Scheduler;
// health replies and child-process events arrive on the Qt event loop.
// Destroying the supervisor leaves the server running.
#include "generation/BrainClient.h"
#include "generation/BrainHealth.h"
#include "generation/BrainPaths.h"
#include "generation/BrainStatus.h"
#include "generation/BrainStream.h"
#include "platform/LogSink.h"
#include "platform/Scheduler.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class BrainSupervisor final : public QObject, public LogSink {
    Q_OBJECT
public:
    static constexpr int kLogLines = 400;
    static constexpr int kDefaultPort = 7431;
    static constexpr qint64 kLogFileLimit = 5'000'000; // bytes; a larger file is started afresh
    static constexpr double kPollInterval = 2.0;       // seconds from the end of one poll to the next
    static constexpr double kAutoStartGate = 10.0;     // seconds between restarts by the poll

    // Keeps the paths and a client of "http://127.0.0.1:<port>" (a port outside
    // 1...65535 becomes 7431) and creates the scratch folder; starts nothing.
    BrainSupervisor(BrainPaths paths, int port, Scheduler& scheduler, QObject* parent = nullptr);
    ~BrainSupervisor() override;

    const BrainStatus& status() const { return status_; }
    // The last health reply; none while the server does not answer.
    const std::optional<BrainHealth>& health() const { return health_; }
    // True when a health reply is held and it lists missing files.
    bool weightsMissing() const { return health_ && !health_->missing.isEmpty(); }
    // The in-memory log, oldest first, at most 400 lines.
    const QStringList& log() const { return log_; }
    const BrainPaths& paths() const { return paths_; }
    const BrainClient& client() const { return client_; }
    int port() const { return port_; }

    // Set by the generation workflow while a take renders: the poll then rests
    // and the server's stage lines leave the status alone.
    bool renderInFlight() const { return renderInFlight_; }
    void setRenderInFlight(bool on);

    // The server this supervisor launched last, while it has not been stopped.
    bool serverRunning() const;
    qint64 serverPid() const;
    // The installer or neural-engine build launched last, while not stopped.
    bool installerRunning() const;
    qint64 installerPid() const;
    int reclaimAttempts() const { return reclaimAttempts_; }
    bool neuralEngineTried() const { return neuralEngineTried_; }

    // Starts the boot-and-poll task: adopt, replace or start the server once,
    // then poll every 2 s. Calling it again restarts the task.
    void boot();
    // Launches the server unless ours runs or no runtime is installed.
    void start(double warmSeconds);
    // Asks the server to terminate and forgets it; its exit sets the status.
    void stop();
    // Runs the installer unless one runs.
    void install();
    // Stops a running installer or neural-engine build with all its descendants,
    // the deepest first. The status is left as it is.
    void stopInstall();

    // Appends "app: " + `line` to the log. Any thread.
    void note(const QString& line) override;

    // The log file: "brain.log" in the logs folder. Any thread.
    static QString logURL();
    // What a line of the installer or the server does to the status, if anything.
    // Any thread.
    static std::optional<BrainStatus> statusForLine(const QString& line, bool renderInFlight);

signals:
    void statusChanged();
    void healthChanged();
    void weightsMissingChanged();
    void logChanged();
    void renderInFlightChanged();

private:
    struct Child;
    using ChildPtr = std::shared_ptr<Child>;
    enum class ChildRole { server, installer, neuralEngineBuild };

    void bootSequence(quint64 task);
    void probeUntilGone(quint64 task, int probesLeft);
    void schedulePoll(quint64 task);
    void poll(quint64 task);
    void pollFailed();
    void handlePortInUse();
    void endStuckServer(qint64 pid);
    void buildNeuralEngine();

    ChildPtr launch(ChildRole role, const QString& program, const QStringList& arguments,
                    const QStringList& environment, bool utility, QString* error);
    void childOutput(Child& child, const QStringList& lines);
    void childFinished(const ChildPtr& child, int status);
    void serverExited(Child& child, int status);
    void pruneRetired();

    void setStatus(const BrainStatus& status);
    void setHealth(std::optional<BrainHealth> health);
    void adopt(const BrainHealth& reply);
    void interpret(const QString& line);
    void append(const QString& text);
    void writeLogLine(const QString& text);

    BrainPaths paths_;
    int port_;
    Scheduler* scheduler_;
    BrainClient client_;
    BrainStatus status_;
    std::optional<BrainHealth> health_;
    QStringList log_;
    bool renderInFlight_ = false;

    ChildPtr server_;
    ChildPtr installer_;
    std::vector<ChildPtr> retired_; // stopped or replaced children not yet gone
    quint64 launches_ = 0;          // serial of the server launched last
    BrainStream warmStream_;        // the warm request after the neural-engine build

    quint64 task_ = 0; // the boot-and-poll task; older callbacks do nothing
    Scheduler::TimerId pollTimer_ = 0;
    int reclaimAttempts_ = 0;
    std::optional<double> lastAutoStart_; // uptime; none is the distant past
    bool neuralEngineTried_ = false;

    enum class LogFile { notOpened, open, unavailable };
    LogFile logFileState_ = LogFile::notOpened;
    int logFd_ = -1;
};

} // namespace zelvo
