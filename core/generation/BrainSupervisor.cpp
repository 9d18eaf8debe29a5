#include "generation/BrainSupervisor.h"

#include "generation/OutputLines.h"
#include "platform/ChildProcess.h"
#include "platform/Folders.h"
#include "platform/ProcessQueries.h"
#include "platform/TextFormat.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QFileInfo>
#include <QPointer>
#include <QProcessEnvironment>
#include <QThread>
#include <QUrl>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zelvo {

namespace {

const QString kServerScriptName = QStringLiteral("kavri_brain.py");
constexpr qint64 kLargestPid = 2147483647;
constexpr int kBootProbes = 50;
constexpr double kProbePause = 0.1;
constexpr double kTermGrace = 0.6;
constexpr double kKillGrace = 0.3;
constexpr int kReclaimLimit = 3;
constexpr double kWarmSeconds = 48.0;
constexpr double kNeuralEngineWarmSeconds = 96.0;

int validPort(int port)
{
    return port >= 1 && port <= 65535 ? port : BrainSupervisor::kDefaultPort;
}

// The warm seconds as the server's command line takes them: "48.0", "12.5".
QString warmText(double seconds)
{
    if (std::isfinite(seconds) && seconds == std::floor(seconds) && std::fabs(seconds) < 1e15)
        return formatText("%.1f", seconds);
    return QString::number(seconds, 'g', QLocale::FloatingPointShortest);
}

// The program's own environment with `additions` set.
QStringList environmentWith(std::initializer_list<std::pair<QString, QString>> additions)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : additions)
        environment.insert(key, value);
    return environment.toStringList();
}

} // namespace

// One launched child: its process, its output lines and whether it said its
// port was taken. The process object goes through the event loop when the
// record goes, so a record may be dropped from inside the process's own signal.
struct BrainSupervisor::Child {
    ChildRole role;
    quint64 serial = 0;
    std::unique_ptr<ChildProcess> process;
    OutputLines lines;
    bool portInUse = false;

    ~Child()
    {
        if (process) {
            process->disconnect();
            process.release()->deleteLater();
        }
    }
    bool running() const { return process && process->isRunning(); }
};

BrainSupervisor::BrainSupervisor(BrainPaths paths, int port, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , paths_(std::move(paths))
    , port_(validPort(port))
    , scheduler_(&scheduler)
    , client_(QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(port_)), scheduler)
{
    QDir().mkpath(paths_.scratch());
}

BrainSupervisor::~BrainSupervisor()
{
    if (pollTimer_)
        scheduler_->cancel(pollTimer_);
    if (logFd_ >= 0)
        ::close(logFd_);
}

// ---------------------------------------------------------------------------
// Fields

void BrainSupervisor::setStatus(const BrainStatus& status)
{
    if (status == status_)
        return;
    status_ = status;
    emit statusChanged();
}

void BrainSupervisor::setHealth(std::optional<BrainHealth> health)
{
    if (health == health_)
        return;
    const bool wasMissing = weightsMissing();
    health_ = std::move(health);
    emit healthChanged();
    if (weightsMissing() != wasMissing)
        emit weightsMissingChanged();
}

void BrainSupervisor::setRenderInFlight(bool on)
{
    if (on == renderInFlight_)
        return;
    renderInFlight_ = on;
    emit renderInFlightChanged();
}

bool BrainSupervisor::serverRunning() const { return server_ && server_->running(); }
qint64 BrainSupervisor::serverPid() const { return server_ ? server_->process->pid() : 0; }
bool BrainSupervisor::installerRunning() const { return installer_ && installer_->running(); }
qint64 BrainSupervisor::installerPid() const { return installer_ ? installer_->process->pid() : 0; }

// A reply that answered: hold it and show whether the model is complete.
void BrainSupervisor::adopt(const BrainHealth& reply)
{
    setHealth(reply);
    setStatus(reply.missing.isEmpty() ? BrainStatus::of(BrainStatus::Kind::ready)
                                      : BrainStatus::of(BrainStatus::Kind::notInstalled));
}

// ---------------------------------------------------------------------------
// Boot and poll

void BrainSupervisor::boot()
{
    if (pollTimer_)
        scheduler_->cancel(pollTimer_);
    pollTimer_ = 0;
    bootSequence(++task_);
}

void BrainSupervisor::schedulePoll(quint64 task)
{
    if (task != task_)
        return;
    QPointer<BrainSupervisor> self(this);
    pollTimer_ = scheduler_->runAfter(kPollInterval, [self, task] {
        if (self && task == self->task_) {
            self->pollTimer_ = 0;
            self->poll(task);
        }
    });
}

void BrainSupervisor::bootSequence(quint64 task)
{
    client_.health(this, [this, task](BrainClient::HealthResult result) {
        if (task != task_)
            return;
        const BrainHealth* reply = std::get_if<BrainHealth>(&result);
        if (!reply) {
            if (paths_.isInstalled())
                start(kWarmSeconds);
            else
                setStatus(BrainStatus::of(BrainStatus::Kind::notInstalled));
            schedulePoll(task);
            return;
        }
        // Another copy's server is replaced only when we have a runtime of our
        // own, and only a process that runs a server script: never pid 0 or -1
        // (a whole group), init, ourselves or a program that is not a server.
        const qint64 pid = reply->pid.value_or(0);
        if (paths_.isInstalled() && pid > 1 && pid <= kLargestPid && pid != ::getpid()) {
            const ProcessQueries::PinnedProcess other(pid);
            const QString command = other.commandLine();
            if (!command.contains(paths_.server()) && command.contains(kServerScriptName)) {
                append(formatText("replacing a brain from another copy of the app (pid %lld)",
                                  static_cast<long long>(pid)));
                other.sendSignal(SIGTERM);
                probeUntilGone(task, kBootProbes);
                return;
            }
        }
        append(QStringLiteral("attached to running brain (") + reply->dit + QStringLiteral(", ") + reply->state
               + QLatin1Char(')'));
        adopt(*reply);
        schedulePoll(task);
    });
}

// Gives a terminated server time to let go of the port: up to 50 health probes,
// 0.1 s apart while it still answers; then starts ours.
void BrainSupervisor::probeUntilGone(quint64 task, int probesLeft)
{
    if (task != task_)
        return;
    if (probesLeft == 0) {
        start(kWarmSeconds);
        schedulePoll(task);
        return;
    }
    client_.health(this, [this, task, probesLeft](BrainClient::HealthResult result) {
        if (task != task_)
            return;
        if (std::holds_alternative<BrainHealth>(result)) {
            QPointer<BrainSupervisor> self(this);
            scheduler_->runAfter(kProbePause, [self, task, probesLeft] {
                if (self)
                    self->probeUntilGone(task, probesLeft - 1);
            });
        } else {
            probeUntilGone(task, probesLeft - 1);
        }
    });
}

void BrainSupervisor::poll(quint64 task)
{
    if (renderInFlight_ || status_.kind == BrainStatus::Kind::installing) {
        schedulePoll(task);
        return;
    }
    client_.health(this, [this, task](BrainClient::HealthResult result) {
        if (task != task_)
            return;
        if (const BrainHealth* reply = std::get_if<BrainHealth>(&result)) {
            setHealth(*reply);
            reclaimAttempts_ = 0;
            if (reply->fast == QStringLiteral("missing") && reply->missing.isEmpty())
                buildNeuralEngine();
            if (reply->state == QStringLiteral("loading"))
                setStatus(BrainStatus::loading(QStringLiteral("weights")));
            else if (reply->state == QStringLiteral("busy"))
                setStatus(BrainStatus::of(BrainStatus::Kind::rendering));
            else
                adopt(*reply);
        } else {
            pollFailed();
        }
        schedulePoll(task);
    });
}

void BrainSupervisor::pollFailed()
{
    setHealth(std::nullopt);
    if (serverRunning()) {
        setStatus(BrainStatus::of(BrainStatus::Kind::starting));
        return;
    }
    if (!paths_.isInstalled()) {
        setStatus(BrainStatus::of(BrainStatus::Kind::notInstalled));
        return;
    }
    const double now = scheduler_->uptime();
    if (!lastAutoStart_ || now - *lastAutoStart_ > kAutoStartGate) {
        lastAutoStart_ = now;
        if (const std::optional<qint64> holder = ProcessQueries::processHoldingPort(port_)) {
            if (!ProcessQueries::commandLine(*holder).contains(kServerScriptName)) {
                setStatus(BrainStatus::failed(formatText("port %d is taken by another program", port_)));
                return;
            }
        }
        append(QStringLiteral("brain isn't running \u2014 starting it"));
        reclaimAttempts_ = 0;
        start(kWarmSeconds);
        return;
    }
    if (status_.kind != BrainStatus::Kind::failed && status_.kind != BrainStatus::Kind::offline)
        setStatus(BrainStatus::of(BrainStatus::Kind::offline));
}

// ---------------------------------------------------------------------------
// Children

BrainSupervisor::ChildPtr BrainSupervisor::launch(ChildRole role, const QString& program,
                                                  const QStringList& arguments, const QStringList& environment,
                                                  bool utility, QString* error)
{
    pruneRetired();
    ChildProcess::Options options;
    options.program = program;
    options.arguments = arguments;
    options.environment = environment;
    options.utility = utility;
    std::unique_ptr<ChildProcess> process = ChildProcess::launch(options, error);
    if (!process)
        return nullptr;
    auto child = std::make_shared<Child>();
    child->role = role;
    child->process = std::move(process);
    Child* raw = child.get();
    std::weak_ptr<Child> weak = child;
    connect(raw->process.get(), &ChildProcess::output, this,
            [this, raw](const QByteArray& bytes) { childOutput(*raw, raw->lines.feed(bytes)); });
    connect(raw->process.get(), &ChildProcess::outputClosed, this,
            [this, raw] { childOutput(*raw, raw->lines.finish()); });
    connect(raw->process.get(), &ChildProcess::finished, this, [this, weak](int status) {
        if (const ChildPtr child = weak.lock())
            childFinished(child, status);
    });
    return child;
}

void BrainSupervisor::childOutput(Child& child, const QStringList& lines)
{
    for (const QString& line : lines) {
        if (child.role == ChildRole::server && line.contains(QStringLiteral("Address already in use")))
            child.portInUse = true;
        append(line);
        if (child.role != ChildRole::neuralEngineBuild)
            interpret(line);
    }
}

void BrainSupervisor::childFinished(const ChildPtr& child, int status)
{
    // A line the child left unfinished is its last.
    childOutput(*child, child->lines.finish());
    switch (child->role) {
    case ChildRole::server:
        serverExited(*child, status);
        break;
    case ChildRole::installer:
        if (status != 0) {
            setStatus(BrainStatus::failed(formatText("install exit %d", status)));
        } else {
            append(QStringLiteral("install complete"));
            setStatus(BrainStatus::of(BrainStatus::Kind::offline));
            start(kWarmSeconds);
        }
        break;
    case ChildRole::neuralEngineBuild:
        append(formatText("neural engine build exit %d", status));
        if (status == 0) {
            warmStream_ = client_.warm(
                kNeuralEngineWarmSeconds, this, [](const BrainEvent&) {},
                [](const std::optional<BrainFailure>&) {});
        }
        break;
    }
}

void BrainSupervisor::serverExited(Child& child, int status)
{
    append(formatText("brain exited (%d)", status));
    // A server replaced by a newer launch says nothing about the newer one.
    if (child.serial != launches_)
        return;
    if (child.portInUse) {
        child.portInUse = false;
        handlePortInUse();
        return;
    }
    if (status == 0 || status == SIGTERM)
        setStatus(BrainStatus::of(BrainStatus::Kind::offline));
    else
        setStatus(BrainStatus::failed(formatText("exit %d", status)));
}

void BrainSupervisor::pruneRetired()
{
    std::erase_if(retired_, [](const ChildPtr& child) { return !child->running(); });
}

void BrainSupervisor::start(double warmSeconds)
{
    if (serverRunning() || !paths_.isInstalled())
        return;
    setStatus(BrainStatus::of(BrainStatus::Kind::starting));
    const QStringList arguments{paths_.server(),         QStringLiteral("--runtime"), paths_.runtime(),
                                QStringLiteral("--warm"), warmText(warmSeconds),       QStringLiteral("--port"),
                                QString::number(port_)};
    const QStringList environment = environmentWith(
        {{QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1")},
         {QStringLiteral("TOKENIZERS_PARALLELISM"), QStringLiteral("false")}});
    QString error;
    ChildPtr child = launch(ChildRole::server, paths_.python(), arguments, environment, true, &error);
    if (!child) {
        setStatus(BrainStatus::failed(error));
        return;
    }
    child->serial = ++launches_;
    if (server_)
        retired_.push_back(std::move(server_));
    server_ = std::move(child);
    append(formatText("brain launched pid %lld", static_cast<long long>(server_->process->pid())));
}

void BrainSupervisor::stop()
{
    if (!server_)
        return;
    server_->process->terminate();
    retired_.push_back(std::move(server_));
}

void BrainSupervisor::install()
{
    if (installerRunning())
        return;
    setStatus(BrainStatus::installing(QStringLiteral("runtime")));
    const QStringList environment = environmentWith({{QStringLiteral("KAVRI_BRAIN_HOME"), paths_.home},
                                                     {QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1")}});
    QString error;
    ChildPtr child = launch(ChildRole::installer, QStringLiteral("/bin/bash"), {paths_.installer()}, environment,
                            false, &error);
    if (!child) {
        setStatus(BrainStatus::failed(error));
        return;
    }
    if (installer_)
        retired_.push_back(std::move(installer_));
    installer_ = std::move(child);
}

void BrainSupervisor::stopInstall()
{
    if (!installerRunning())
        return;
    // Pin every descendant before the first signal, then end the deepest first.
    std::vector<ProcessQueries::PinnedProcess> family;
    for (const qint64 pid : ProcessQueries::descendants(installer_->process->pid()))
        family.emplace_back(pid);
    for (auto it = family.rbegin(); it != family.rend(); ++it)
        it->sendSignal(SIGTERM);
    installer_->process->terminate();
    retired_.push_back(std::move(installer_));
}

void BrainSupervisor::buildNeuralEngine()
{
    if (neuralEngineTried_ || installerRunning())
        return;
    neuralEngineTried_ = true;
    append(QStringLiteral("building zelvo-0's neural engine half in the background"));
    const QStringList environment = environmentWith({{QStringLiteral("KAVRI_BRAIN_HOME"), paths_.home},
                                                     {QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1")}});
    QString error;
    ChildPtr child = launch(ChildRole::neuralEngineBuild, QStringLiteral("/bin/bash"),
                            {paths_.installer(), QStringLiteral("--neural-engine")}, environment, true, &error);
    if (!child) {
        append(QStringLiteral("neural engine build didn't start: ") + error);
        return;
    }
    if (installer_)
        retired_.push_back(std::move(installer_));
    installer_ = std::move(child);
}

// ---------------------------------------------------------------------------
// Port recovery

void BrainSupervisor::handlePortInUse()
{
    client_.health(this, [this](BrainClient::HealthResult result) {
        if (const BrainHealth* reply = std::get_if<BrainHealth>(&result)) {
            reclaimAttempts_ = 0;
            append(QStringLiteral("port already in use by a working brain \u2014 attached to it"));
            adopt(*reply);
            return;
        }
        ++reclaimAttempts_;
        if (reclaimAttempts_ >= kReclaimLimit) {
            setStatus(BrainStatus::failed(formatText("port %d is taken by something that isn't answering", port_)));
            append(formatText("giving up on port %d; quit whatever holds it and press Wake", port_));
            return;
        }
        const std::optional<qint64> holder = ProcessQueries::processHoldingPort(port_);
        if (!holder) {
            // Whoever held the port let go of it: try again.
            start(kWarmSeconds);
            return;
        }
        endStuckServer(*holder);
    });
}

// Ends a server script that holds our port without answering; any other holder
// is never signalled.
void BrainSupervisor::endStuckServer(qint64 pid)
{
    auto holder = std::make_shared<ProcessQueries::PinnedProcess>(pid);
    if (pid == ::getpid() || !holder->commandLine().contains(kServerScriptName)) {
        setStatus(BrainStatus::failed(formatText("port %d is taken by another program", port_)));
        append(formatText("port %d is held by a process that isn't a brain \u2014 not touching it", port_));
        return;
    }
    append(formatText("port %d held by a stuck brain (pid %lld) \u2014 ending it", port_, static_cast<long long>(pid)));
    holder->sendSignal(SIGTERM);
    QPointer<BrainSupervisor> self(this);
    scheduler_->runAfter(kTermGrace, [self, holder] {
        if (!self)
            return;
        if (ProcessQueries::processHoldingPort(self->port_) == holder->pid())
            holder->sendSignal(SIGKILL);
        self->scheduler_->runAfter(kKillGrace, [self] {
            if (self)
                self->start(kWarmSeconds);
        });
    });
}

// ---------------------------------------------------------------------------
// Output lines

std::optional<BrainStatus> BrainSupervisor::statusForLine(const QString& line, bool renderInFlight)
{
    static const QString stagePrefix = QStringLiteral("::stage ");
    static const QString weightPrefix = QStringLiteral("::weight ");
    static const QString errorPrefix = QStringLiteral("::error ");
    if (line.startsWith(stagePrefix))
        return BrainStatus::installing(line.mid(stagePrefix.size()));
    if (line.startsWith(weightPrefix)) {
        const QString rest = line.mid(weightPrefix.size());
        if (rest.isEmpty())
            return std::nullopt;
        return BrainStatus::installing(QStringLiteral("weights ") + rest);
    }
    if (line.startsWith(errorPrefix))
        return BrainStatus::failed(line.mid(errorPrefix.size()));
    if (line.contains(QStringLiteral("\"event\": \"stage\""))) {
        // The stage is the last quoted string of the line.
        QStringList pieces = line.split(QLatin1Char('"'), Qt::SkipEmptyParts);
        pieces.removeLast();
        if (!pieces.isEmpty()) {
            if (renderInFlight)
                return std::nullopt;
            return BrainStatus::loading(pieces.last());
        }
    }
    if (line.contains(QStringLiteral("\"event\": \"ready\"")))
        return BrainStatus::of(BrainStatus::Kind::ready);
    return std::nullopt;
}

void BrainSupervisor::interpret(const QString& line)
{
    if (const std::optional<BrainStatus> status = statusForLine(line, renderInFlight_))
        setStatus(*status);
}

// ---------------------------------------------------------------------------
// Log

QString BrainSupervisor::logURL()
{
    return Folders::logs() + QStringLiteral("/brain.log");
}

void BrainSupervisor::note(const QString& line)
{
    if (QThread::currentThread() != thread()) {
        // Dropped when the supervisor is gone by then.
        QMetaObject::invokeMethod(this, [this, line] { note(line); }, Qt::QueuedConnection);
        return;
    }
    append(QStringLiteral("app: ") + line);
}

void BrainSupervisor::append(const QString& text)
{
    const QString line = text.trimmed();
    if (line.isEmpty())
        return;
    log_.append(line);
    if (log_.size() > kLogLines)
        log_.remove(0, log_.size() - kLogLines);
    writeLogLine(line);
    emit logChanged();
}

void BrainSupervisor::writeLogLine(const QString& text)
{
    if (logFileState_ == LogFile::notOpened) {
        const QString path = logURL();
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QFileInfo existing(path);
        if (existing.isFile() && existing.size() > kLogFileLimit)
            QFile::remove(path);
        logFd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        logFileState_ = logFd_ >= 0 ? LogFile::open : LogFile::unavailable;
    }
    if (logFileState_ != LogFile::open)
        return;
    const QDateTime local = scheduler_->now().toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    const QByteArray bytes = (formatText("%04d-%02d-%02d %02d:%02d:%02d  ", date.year(), date.month(), date.day(),
                                         time.hour(), time.minute(), time.second())
                              + text + QLatin1Char('\n'))
                                 .toUtf8();
    // One write per line, appended at the end even if another writer moved it,
    // so a crash keeps every line before it. A failed write is ignored.
    const ssize_t written = ::write(logFd_, bytes.constData(), static_cast<size_t>(bytes.size()));
    (void)written;
}

} // namespace zelvo
