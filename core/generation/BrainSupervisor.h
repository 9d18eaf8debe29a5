#pragma once
// The one object that looks after the local model server: its paths, its
// client on the server's port, the status the interface shows, the last health
// reply and the application-wide log.
//
// This build does not launch or adopt a server: the supervisor stays offline
// and its process operations do nothing. `note` writes to standard error.
//
// Main thread only.
#include "generation/BrainClient.h"
#include "generation/BrainHealth.h"
#include "generation/BrainPaths.h"
#include "generation/BrainStatus.h"
#include "platform/LogSink.h"

#include <QObject>
#include <QStringList>
#include <optional>

namespace zelvo {

class Scheduler;

class BrainSupervisor final : public QObject, public LogSink {
    Q_OBJECT
public:
    static constexpr int kLogLines = 400;

    // Keeps the paths and a client of "http://127.0.0.1:<port>"; starts nothing.
    // Main thread.
    BrainSupervisor(BrainPaths paths, int port, Scheduler& scheduler, QObject* parent = nullptr);

    const BrainPaths& paths() const { return paths_; }
    const BrainClient& client() const { return client_; }
    int port() const { return port_; }
    const BrainStatus& status() const { return status_; }
    const std::optional<BrainHealth>& health() const { return health_; }
    void setHealth(std::optional<BrainHealth> health);
    // True when a health reply is held and it lists missing files.
    bool weightsMissing() const;
    const QStringList& log() const { return log_; }
    bool renderInFlight() const { return renderInFlight_; }
    void setRenderInFlight(bool on) { renderInFlight_ = on; }

    // Process operations; nothing in this build. Main thread.
    void boot() {}
    void start(double warmSeconds) { (void)warmSeconds; }
    void stop() {}
    void install() {}
    void stopInstall() {}

    // Appends "app: <line>" (trimmed; empty lines are dropped) to the log and
    // to standard error. Main thread.
    void note(const QString& line) override;

signals:
    void statusChanged();
    void healthChanged();
    void logChanged();

private:
    BrainPaths paths_;
    int port_;
    BrainClient client_;
    BrainStatus status_ = BrainStatus::of(BrainStatus::Kind::offline);
    std::optional<BrainHealth> health_;
    QStringList log_;
    bool renderInFlight_ = false;
};

} // namespace zelvo
