// The supervisor with real children on a hand-moved clock: the stand-in server,
// fixture scripts in place of the server and the installer, and listeners that
// are not servers.
#include "generation/BrainSupervisor.h"
#include "platform/ChildProcess.h"
#include "platform/ProcessQueries.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <csignal>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelvo {
namespace {

using Kind = BrainStatus::Kind;
using test::StandInBrain;

QString python3()
{
    if (QFileInfo(QStringLiteral("/usr/bin/python3")).isExecutable())
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

// A Python fixture that stands where the server script should be: it binds the
// port given as its last argument, listens, never answers and, when asked,
// ignores SIGTERM.
QString stuckServer(bool ignoreTerm)
{
    return QStringLiteral("import signal, socket, sys, time\n"
                          "%1\n"
                          "s = socket.socket()\n"
                          "s.bind(('127.0.0.1', int(sys.argv[-1])))\n"
                          "s.listen(16)\n"
                          "print('up', flush=True)\n"
                          "time.sleep(60)\n")
        .arg(ignoreTerm ? QStringLiteral("signal.signal(signal.SIGTERM, signal.SIG_IGN)") : QString());
}

class BrainSupervisorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Servers a crashed test leaves behind go away by themselves.
        qputenv("KAVRI_BRAIN_LIFETIME", "120");
        qputenv("KAVRI_BRAIN_STEP_DELAY", "0.005");
        qputenv("PYTHONDONTWRITEBYTECODE", "1");
        port_ = StandInBrain::freePort();
    }

    void TearDown() override
    {
        if (HasFailure() && supervisor_)
            qWarning().noquote() << supervisor_->log().join(QLatin1Char('\n'));
        for (const char* name : {"KAVRI_BRAIN_LIFETIME", "KAVRI_BRAIN_STEP_DELAY", "PYTHONDONTWRITEBYTECODE",
                                 "FIXTURE_EXIT", "FIXTURE_SLEEP"})
            qunsetenv(name);
        finish();
    }

    // Drops the supervisor and ends every child it launched.
    void finish()
    {
        if (supervisor_) {
            supervisor_->stopInstall();
            supervisor_->stop();
            supervisor_.reset();
        }
        // Children the supervisor launched and nobody reaped yet.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const qint64 pid : launched_) {
            if (::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == 0) {
                ::kill(static_cast<pid_t>(pid), SIGKILL);
                ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
            }
        }
    }

    QString brainHome() const { return home_.file(brainName_); }
    QString sourceScripts() const { return QStringLiteral(ZELVO_SOURCE_DIR "/brain"); }

    void installRuntime()
    {
        const BrainPaths paths(sourceScripts(), brainHome());
        QDir().mkpath(QFileInfo(paths.python()).absolutePath());
        ASSERT_TRUE(QFile::link(python3(), paths.python()));
    }

    // A scripts folder of its own holding `files` (name, text).
    QString scripts(const std::map<QString, QString>& files)
    {
        const QString folder = home_.file(QStringLiteral("scripts-%1").arg(++folders_));
        QDir().mkpath(folder);
        for (const auto& [name, text] : files) {
            QFile file(folder + QLatin1Char('/') + name);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(text.toUtf8());
        }
        return folder;
    }
    // The stand-in server, copied into a scripts folder of another copy of the program.
    QString copiedServer()
    {
        QFile source(StandInBrain::script());
        EXPECT_TRUE(source.open(QIODevice::ReadOnly));
        return scripts({{QStringLiteral("kavri_brain.py"), QString::fromUtf8(source.readAll())}});
    }

    BrainSupervisor& make(const QString& scriptsFolder)
    {
        supervisor_ = std::make_unique<BrainSupervisor>(BrainPaths(scriptsFolder, brainHome()), port_, clock_);
        QObject::connect(supervisor_.get(), &BrainSupervisor::statusChanged,
                         [this] { statuses_.append(supervisor_->status()); });
        QObject::connect(supervisor_.get(), &BrainSupervisor::logChanged, [this] {
            const QString& line = supervisor_->log().last();
            if (line.startsWith(QStringLiteral("brain launched pid ")))
                launched_.append(line.mid(19).toLongLong());
        });
        return *supervisor_;
    }

    // Runs the event loop until `done` holds, moving the clock by `step` every
    // 10 ms of real time when given.
    bool until(const std::function<bool()>& done, double step = 0, double seconds = 20)
    {
        QElapsedTimer since;
        since.start();
        return StandInBrain::spinUntil(
            [&] {
                if (step > 0 && since.elapsed() >= 10) {
                    clock_.advance(step);
                    since.restart();
                }
                return done();
            },
            seconds);
    }
    bool statusIs(const BrainStatus& status, double step = 0)
    {
        return until([&] { return supervisor_->status() == status; }, step);
    }
    bool logged(const QString& text) const
    {
        return std::any_of(supervisor_->log().begin(), supervisor_->log().end(),
                           [&](const QString& line) { return line.contains(text); });
    }
    bool waitLogged(const QString& text, double step = 0)
    {
        return until([&] { return logged(text); }, step);
    }
    int count(const QString& text) const
    {
        return static_cast<int>(std::count_if(supervisor_->log().begin(), supervisor_->log().end(),
                                              [&](const QString& line) { return line.contains(text); }));
    }
    bool everShown(const BrainStatus& status) const { return statuses_.contains(status); }

    // Starts a process of our own (not through the supervisor).
    std::unique_ptr<ChildProcess> spawn(const QString& program, const QStringList& arguments, QByteArray* output)
    {
        ChildProcess::Options options{program, arguments, QProcessEnvironment::systemEnvironment().toStringList(),
                                      false};
        auto child = ChildProcess::launch(options);
        EXPECT_TRUE(child);
        QObject::connect(child.get(), &ChildProcess::output, [output](const QByteArray& b) { *output += b; });
        return child;
    }

    test::TempHome home_;
    ManualScheduler clock_;
    quint16 port_ = 0;
    std::unique_ptr<BrainSupervisor> supervisor_;
    QList<BrainStatus> statuses_;
    QList<qint64> launched_;
    int folders_ = 0;
    QString brainName_ = QStringLiteral("brain");
};

// No runtime, then ours started by the poll; its lines drive the status; a
// restart ends ready; after a stop alone the server is offline.
TEST_F(BrainSupervisorTest, StartsOursAndRestarts)
{
    BrainSupervisor& s = make(sourceScripts());
    s.boot();
    ASSERT_TRUE(statusIs(BrainStatus::of(Kind::notInstalled)));

    installRuntime();
    clock_.advance(2.0); // the poll fails, nothing holds the port: start
    ASSERT_TRUE(waitLogged(QStringLiteral("brain isn't running \u2014 starting it")));
    EXPECT_EQ(s.status(), BrainStatus::of(Kind::starting));
    ASSERT_TRUE(s.serverRunning());
    EXPECT_TRUE(logged(QStringLiteral("brain launched pid %1").arg(s.serverPid())));
    ASSERT_TRUE(statusIs(BrainStatus::of(Kind::ready)));
    EXPECT_TRUE(everShown(BrainStatus::loading(QStringLiteral("loading weights"))));
    EXPECT_TRUE(ProcessQueries::commandLine(s.serverPid())
                    .endsWith(QStringLiteral(" --warm 48.0 --port %1\n").arg(port_)));

    clock_.advance(2.0);
    ASSERT_TRUE(until([&] { return s.health().has_value(); }));
    EXPECT_EQ(s.health()->pid, s.serverPid());
    EXPECT_EQ(s.status(), BrainStatus::of(Kind::ready));

    // Restart: the old server's exit does not overrule the new one.
    const qint64 first = s.serverPid();
    s.stop();
    s.start(48);
    ASSERT_NE(s.serverPid(), first);
    ASSERT_TRUE(waitLogged(QStringLiteral("brain exited (15)")));
    ASSERT_TRUE(statusIs(BrainStatus::of(Kind::ready)));
    EXPECT_TRUE(s.serverRunning());

    // A stop alone: the exit of the latest server still shows.
    s.stop();
    EXPECT_TRUE(statusIs(BrainStatus::of(Kind::offline)));
}

// Boot adopts our own or any server when we have no runtime, and replaces
// another copy's server only with a runtime of our own.
TEST_F(BrainSupervisorTest, BootAdoptsOrReplaces)
{
    struct Case {
        const char* name;
        bool ownScripts;
        bool runtime;
        bool replaced;
    };
    const Case cases[] = {
        {"our own server", true, true, false},
        {"another copy, no runtime here", false, false, false},
        {"another copy, runtime here", false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        finish();
        brainName_ = QString::fromLatin1(c.name);
        statuses_.clear();
        port_ = StandInBrain::freePort();
        if (c.runtime)
            installRuntime();
        StandInBrain other;
        ASSERT_TRUE(other.start(port_));
        BrainSupervisor& s = make(c.ownScripts ? sourceScripts() : copiedServer());
        s.boot();
        if (!c.replaced) {
            ASSERT_TRUE(statusIs(BrainStatus::of(Kind::ready)));
            EXPECT_TRUE(logged(QStringLiteral("attached to running brain (stand-in, idle)")));
            EXPECT_EQ(other.process().state(), QProcess::Running);
            EXPECT_FALSE(s.serverRunning());
            continue;
        }
        ASSERT_TRUE(waitLogged(QStringLiteral("replacing a brain from another copy of the app (pid %1)")
                                   .arg(other.process().processId()),
                               0.1));
        ASSERT_TRUE(until([&] { return s.serverRunning(); }, 0.1));
        EXPECT_EQ(other.process().exitStatus(), QProcess::CrashExit);
        EXPECT_TRUE(statusIs(BrainStatus::of(Kind::ready)));
        EXPECT_FALSE(s.health().has_value()) << "the other copy's reply is not kept";
    }
}

// Whatever pid a reply names, boot signals only another copy's server script:
// never pid 0 or -1, init, ourselves, an impossible pid or a program that is
// not a server.
TEST_F(BrainSupervisorTest, BootNeverSignalsWhatIsNotAnotherServer)
{
    installRuntime();
    QByteArray ignored;
    auto bystander = spawn(QStringLiteral("/bin/sleep"), {QStringLiteral("60")}, &ignored);
    const qint64 pids[] = {0, -1, 1, ::getpid(), 2147483648LL, bystander->pid()};
    for (const qint64 pid : pids) {
        SCOPED_TRACE(pid);
        StandInBrain other(std::map<QString, QString>{{QStringLiteral("KAVRI_BRAIN_HEALTH_PATCH"), QStringLiteral("{\"pid\": %1}").arg(pid)}});
        ASSERT_TRUE(other.start(port_));
        BrainSupervisor& s = make(copiedServer());
        s.boot();
        ASSERT_TRUE(statusIs(BrainStatus::of(Kind::ready)));
        EXPECT_TRUE(logged(QStringLiteral("attached to running brain")));
        EXPECT_EQ(other.process().state(), QProcess::Running);
        EXPECT_TRUE(bystander->isRunning());
        supervisor_.reset();
        other.stop();
        port_ = StandInBrain::freePort();
    }
    bystander->terminate();
}

// The poll's reply rows, and a render in flight that keeps the poll resting.
TEST_F(BrainSupervisorTest, PollReplyRows)
{
    struct Case {
        const char* patch;
        BrainStatus status;
    };
    const Case cases[] = {
        {R"({"state": "loading"})", BrainStatus::loading(QStringLiteral("weights"))},
        {R"({"state": "busy", "missing": ["a.bin"]})", BrainStatus::of(Kind::rendering)},
        {R"({"state": "idle", "missing": ["a.bin"]})", BrainStatus::of(Kind::notInstalled)},
        {R"({"state": "anything"})", BrainStatus::of(Kind::ready)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.patch);
        StandInBrain other(std::map<QString, QString>{{QStringLiteral("KAVRI_BRAIN_HEALTH_PATCH"), QString::fromUtf8(c.patch)}});
        ASSERT_TRUE(other.start(port_));
        BrainSupervisor& s = make(sourceScripts());
        s.setRenderInFlight(true);
        s.boot();
        ASSERT_TRUE(until([&] { return s.health().has_value(); }));
        const BrainStatus adopted = s.status();
        clock_.advance(2.0); // resting while a take renders
        EXPECT_EQ(s.status(), adopted);
        s.setRenderInFlight(false);
        clock_.advance(2.0);
        EXPECT_TRUE(statusIs(c.status));
        EXPECT_EQ(s.weightsMissing(), QString::fromUtf8(c.patch).contains(QStringLiteral("a.bin")));
        supervisor_.reset();
        other.stop();
        port_ = StandInBrain::freePort();
    }
}

// Failed polls: a foreign listener shows as such and is left alone; within 10 s
// of the poll's last start the status goes offline; a running server of ours
// that does not answer is starting.
TEST_F(BrainSupervisorTest, PollFailureRowsAndTheGate)
{
    installRuntime();
    BrainSupervisor& s = make(scripts({{QStringLiteral("kavri_brain.py"),
                                        QStringLiteral("print('{\"event\": \"ready\"}', flush=True)\n"
                                                       "import time; time.sleep(float(__import__('os').environ.get('FIXTURE_SLEEP', '0')))\n")}}));
    s.boot(); // nothing answers: ours starts, says ready and exits 0
    ASSERT_TRUE(waitLogged(QStringLiteral("brain exited (0)")));
    ASSERT_TRUE(statusIs(BrainStatus::of(Kind::offline)));

    {
        QTcpServer foreign;
        ASSERT_TRUE(foreign.listen(QHostAddress::LocalHost, port_));
        clock_.advance(2.0);                      // the poll asks a listener that never answers
        ASSERT_TRUE(statusIs(BrainStatus::failed(QStringLiteral("port %1 is taken by another program").arg(port_)),
                             0.1));
        EXPECT_EQ(count(QStringLiteral("brain launched")), 1);
    }

    StandInBrain other;
    ASSERT_TRUE(other.start(port_));
    ASSERT_TRUE(statusIs(BrainStatus::of(Kind::ready), 0.1));
    other.stop();
    ASSERT_TRUE(statusIs(BrainStatus::of(Kind::offline), 0.1)) << "within 10 s of the last automatic start";
    EXPECT_EQ(count(QStringLiteral("brain launched")), 1);
    ASSERT_TRUE(waitLogged(QStringLiteral("brain isn't running \u2014 starting it"), 0.1));

    // A server of ours that runs but does not answer.
    qputenv("FIXTURE_SLEEP", "30");
    ASSERT_TRUE(until([&] { return s.serverRunning() && s.status() == BrainStatus::of(Kind::ready); }, 0.1));
    clock_.advance(2.0);
    EXPECT_TRUE(statusIs(BrainStatus::of(Kind::starting), 0.1));
    qunsetenv("FIXTURE_SLEEP");
}

// A stuck server script on our port: SIGTERM, and SIGKILL 0.6 s later only if
// it still holds the port; then ours starts.
TEST_F(BrainSupervisorTest, StuckServerIsEnded)
{
    installRuntime();
    for (const bool ignoresTerm : {true, false}) {
        SCOPED_TRACE(ignoresTerm);
        const QString stuck = scripts({{QStringLiteral("kavri_brain.py"), stuckServer(ignoresTerm)}}) +
                              QStringLiteral("/kavri_brain.py");
        QByteArray output;
        auto holder = spawn(python3(), {stuck, QString::number(port_)}, &output);
        std::optional<int> holderExit;
        QObject::connect(holder.get(), &ChildProcess::finished, [&](int status) { holderExit = status; });
        ASSERT_TRUE(until([&] { return output.contains("up"); }));

        statuses_.clear();
        BrainSupervisor& s = make(sourceScripts());
        s.start(48);
        ASSERT_TRUE(waitLogged(QStringLiteral("brain exited (1)")));
        clock_.advance(2.1); // the health request to the stuck server times out
        ASSERT_TRUE(waitLogged(QStringLiteral("port %1 held by a stuck brain (pid %2) \u2014 ending it")
                                   .arg(port_)
                                   .arg(holder->pid())));
        EXPECT_EQ(s.reclaimAttempts(), 1);
        clock_.advance(0.6);
        ASSERT_TRUE(until([&] { return holderExit.has_value(); }));
        EXPECT_EQ(*holderExit, ignoresTerm ? SIGKILL : SIGTERM);
        clock_.advance(0.3);
        ASSERT_TRUE(statusIs(BrainStatus::of(Kind::ready)));
        EXPECT_FALSE(everShown(BrainStatus::failed(QStringLiteral("exit 1"))));
        supervisor_->stop();
        ASSERT_TRUE(waitLogged(QStringLiteral("brain exited (15)")));
        supervisor_.reset();
        port_ = StandInBrain::freePort();
    }
}

// Port recovery against a listener that is not a server, against nobody at all
// (up to the third attempt), and the reset by a good reply.
TEST_F(BrainSupervisorTest, PortRecoveryBranches)
{
    installRuntime();
    {
        QTcpServer foreign;
        ASSERT_TRUE(foreign.listen(QHostAddress::LocalHost, port_));
        BrainSupervisor& s = make(sourceScripts());
        s.start(48);
        ASSERT_TRUE(waitLogged(QStringLiteral("brain exited (1)")));
        clock_.advance(2.1);
        ASSERT_TRUE(statusIs(BrainStatus::failed(QStringLiteral("port %1 is taken by another program").arg(port_))));
        EXPECT_TRUE(logged(QStringLiteral("port %1 is held by a process that isn't a brain \u2014 not touching it")
                               .arg(port_)));
        EXPECT_FALSE(everShown(BrainStatus::failed(QStringLiteral("exit 1"))));
        supervisor_.reset();
    }

    // A server that says its port is taken while nothing listens there.
    const QString folder = scripts({{QStringLiteral("kavri_brain.py"),
                                     QStringLiteral("import sys\nprint('OSError: [Errno 98] Address already in use')\n"
                                                    "sys.exit(1)\n")}});
    statuses_.clear();
    BrainSupervisor& s = make(folder);
    s.start(48);
    const BrainStatus givenUp =
        BrainStatus::failed(QStringLiteral("port %1 is taken by something that isn't answering").arg(port_));
    ASSERT_TRUE(statusIs(givenUp));
    EXPECT_EQ(count(QStringLiteral("brain launched pid")), 3);
    EXPECT_EQ(s.reclaimAttempts(), 3);
    EXPECT_TRUE(logged(QStringLiteral("giving up on port %1; quit whatever holds it and press Wake").arg(port_)));
    EXPECT_FALSE(everShown(BrainStatus::failed(QStringLiteral("port %1 is taken by another program").arg(port_))));

    // A manual start of a working server does not reset the count; a good poll does.
    QFile::remove(folder + QStringLiteral("/kavri_brain.py"));
    ASSERT_TRUE(QFile::copy(StandInBrain::script(), folder + QStringLiteral("/kavri_brain.py")));
    s.start(48);
    ASSERT_TRUE(statusIs(BrainStatus::of(Kind::ready)));
    EXPECT_EQ(s.reclaimAttempts(), 3);
    s.boot();
    ASSERT_TRUE(waitLogged(QStringLiteral("attached to running brain")));
    clock_.advance(2.0);
    EXPECT_TRUE(until([&] { return s.reclaimAttempts() == 0; }));
}

// The installer's lines and exit codes; a second install while one runs; the
// installer stopped with all its descendants.
TEST_F(BrainSupervisorTest, InstallerRuns)
{
    const QString installer = QStringLiteral("echo \"home=$KAVRI_BRAIN_HOME unbuffered=$PYTHONUNBUFFERED\"\n"
                                             "echo '::stage venv'\n"
                                             "echo '::weights 10%'\n"
                                             "echo '::weight 40%'\n"
                                             "[ \"$FIXTURE_EXIT\" = 1 ] && echo '::error disk full'\n"
                                             "exit $FIXTURE_EXIT\n");
    struct Case {
        const char* exit;
        QList<BrainStatus> statuses;
    };
    const QList<BrainStatus> lines = {BrainStatus::installing(QStringLiteral("runtime")),
                                      BrainStatus::installing(QStringLiteral("venv")),
                                      BrainStatus::installing(QStringLiteral("weights 40%"))};
    const Case cases[] = {
        {"0", lines + QList<BrainStatus>{BrainStatus::of(Kind::offline)}},
        {"3", lines + QList<BrainStatus>{BrainStatus::failed(QStringLiteral("install exit 3"))}},
        {"1", lines + QList<BrainStatus>{BrainStatus::failed(QStringLiteral("disk full")),
                                         BrainStatus::failed(QStringLiteral("install exit 1"))}},
    };
    const QString folder = scripts({{QStringLiteral("install.sh"), installer}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exit);
        qputenv("FIXTURE_EXIT", c.exit);
        statuses_.clear();
        BrainSupervisor& s = make(folder);
        s.install();
        ASSERT_TRUE(until([&] { return !s.installerRunning(); }));
        ASSERT_TRUE(until([&] { return statuses_.size() == c.statuses.size(); }, 0, 5))
            << [&] { QStringList l; for (const auto& x : statuses_) l << x.label(); return l.join(" | ").toStdString(); }();
        EXPECT_EQ(statuses_, c.statuses);
        EXPECT_TRUE(logged(QStringLiteral("home=%1 unbuffered=1").arg(brainHome())));
        EXPECT_EQ(logged(QStringLiteral("install complete")), QByteArray(c.exit) == "0");
        EXPECT_TRUE(logged(QStringLiteral("::weights 10%")));
        supervisor_.reset();
    }

    // Three generations, each recording its depth when SIGTERM reaches it.
    const QString family = scripts({{QStringLiteral("install.sh"),
                                     QStringLiteral("depth=${1:-0}\n"
                                                    "trap 'echo $depth >> \"$KAVRI_BRAIN_HOME/stopped\"; exit 0' TERM\n"
                                                    "[ $depth -lt 2 ] && bash \"$0\" $((depth + 1)) &\n"
                                                    "echo \"up $depth\"\n"
                                                    "while :; do sleep 30 & wait $!; done\n")}});
    BrainSupervisor& s = make(family);
    s.install();
    const qint64 pid = s.installerPid();
    ASSERT_TRUE(until([&] { return count(QStringLiteral("up ")) == 3; }));
    s.install();
    EXPECT_EQ(s.installerPid(), pid) << "a second install while one runs does nothing";
    const QList<qint64> descendants = ProcessQueries::descendants(pid);
    const BrainStatus before = s.status();
    s.stopInstall();
    EXPECT_FALSE(s.installerRunning());
    EXPECT_EQ(s.status(), before);
    ASSERT_TRUE(until([&] {
        QFile file(brainHome() + QStringLiteral("/stopped"));
        return file.open(QIODevice::ReadOnly) && file.readAll().count('\n') == 3;
    }));
    QFile file(brainHome() + QStringLiteral("/stopped"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> depths = file.readAll().split('\n');
    depths.removeAll(QByteArray());
    std::sort(depths.begin(), depths.end());
    EXPECT_EQ(depths, (QList<QByteArray>{"0", "1", "2"}));
    for (const qint64 child : descendants) // the sleeps too
        EXPECT_TRUE(until([&] { return ProcessQueries::commandLine(child).isEmpty(); })) << child;
}

// The order in which stopInstall ends an installer's family, read from the
// order in which its three generations record their SIGTERM. The family runs
// at a real-time priority on the one CPU this thread is pinned to while it
// signals, so each member handles its signal before the next one is sent and
// the record follows the order of the signals, not the scheduler's whims.
TEST_F(BrainSupervisorTest, StopInstallEndsTheDeepestGenerationFirst)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int cpu = -1;
    for (int i = 0; i < CPU_SETSIZE; ++i) {
        if (CPU_ISSET(i, &allowed))
            cpu = i; // the highest this test may use
    }
    ASSERT_GE(cpu, 0);
    qputenv("FIXTURE_CPU", QByteArray::number(cpu));
    const QString family = scripts({{QStringLiteral("install.sh"),
                                     QStringLiteral("depth=${1:-0}\n"
                                                    "trap 'echo $depth >> \"$KAVRI_BRAIN_HOME/stopped\"; exit 0' TERM\n"
                                                    "if [ $depth = 0 ]; then\n"
                                                    "  taskset -pc \"$FIXTURE_CPU\" $$ >/dev/null 2>&1 &&\n"
                                                    "  chrt -f -p 10 $$ >/dev/null 2>&1 &&\n"
                                                    "  echo on > \"$KAVRI_BRAIN_HOME/realtime\"\n"
                                                    "fi\n"
                                                    // a builtin wait: no helper child to signal
                                                    "mkfifo \"$KAVRI_BRAIN_HOME/hold-$depth\"\n"
                                                    "exec 3<>\"$KAVRI_BRAIN_HOME/hold-$depth\"\n"
                                                    "if [ $depth -lt 2 ]; then bash \"$0\" $((depth + 1)) & fi\n"
                                                    "echo \"up $depth\"\n"
                                                    "while :; do read -u 3 line; done\n")}});
    BrainSupervisor& s = make(family);
    s.install();
    qunsetenv("FIXTURE_CPU");
    const qint64 pid = s.installerPid();
    ASSERT_TRUE(until([&] { return count(QStringLiteral("up ")) == 3; }));
    const QList<qint64> descendants = ProcessQueries::descendants(pid);
    ASSERT_EQ(descendants.size(), 2);
    const bool realtime = QFile::exists(brainHome() + QStringLiteral("/realtime"));

    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    s.stopInstall();
    ASSERT_EQ(::sched_setaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_FALSE(s.installerRunning());

    QByteArray stopped;
    ASSERT_TRUE(until([&] {
        QFile file(brainHome() + QStringLiteral("/stopped"));
        stopped = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        return stopped.count('\n') == 3;
    }));
    QList<QByteArray> order = stopped.split('\n');
    order.removeAll(QByteArray());
    for (const qint64 member : descendants)
        EXPECT_TRUE(until([&] { return ProcessQueries::commandLine(member).isEmpty(); })) << member;
    if (!realtime)
        GTEST_SKIP() << "no real-time priority here: all three stopped, order not checked";
    EXPECT_EQ(order, (QList<QByteArray>{"2", "1", "0"}));
}

// The neural-engine build: once, only when nothing else is missing, its output
// only logged, then the 96 s warm request.
TEST_F(BrainSupervisorTest, NeuralEngineBuild)
{
    const QString folder = scripts({{QStringLiteral("install.sh"),
                                     QStringLiteral("echo \"args: $*\"\necho '::error not a status'\n"
                                                    "echo '::stage nor this'\nexit 0\n")}});
    for (const bool missingWeights : {false, true}) {
        SCOPED_TRACE(missingWeights);
        StandInBrain other(std::map<QString, QString>{{QStringLiteral("KAVRI_BRAIN_FAST"), QStringLiteral("missing")}});
        if (missingWeights) {
            QFile manifest(other.home() + QStringLiteral("/manifest.json"));
            ASSERT_TRUE(manifest.open(QIODevice::WriteOnly));
            manifest.write(R"([{"path": "models/absent.safetensors", "bytes": 10}])");
        }
        ASSERT_TRUE(other.start(port_));
        statuses_.clear();
        BrainSupervisor& s = make(folder); // no runtime: the answering server is adopted
        s.boot();
        ASSERT_TRUE(until([&] { return s.health().has_value(); }));
        const BrainStatus adopted = s.status();
        auto healthRequests = [&] {
            const QList<QJsonObject> entries = other.log();
            return std::count_if(entries.begin(), entries.end(), [](const QJsonObject& e) {
                return e.value(QStringLiteral("path")) == QStringLiteral("/health");
            });
        };
        if (missingWeights) {
            ASSERT_TRUE(until([&] { return healthRequests() >= 5; }, 0.1));
            EXPECT_FALSE(s.neuralEngineTried());
            EXPECT_FALSE(logged(QStringLiteral("neural engine")));
        } else {
            ASSERT_TRUE(waitLogged(QStringLiteral("neural engine build exit 0"), 0.1));
            const auto seen = healthRequests();
            ASSERT_TRUE(until([&] { return healthRequests() >= seen + 3; }, 0.1));
            EXPECT_EQ(count(QStringLiteral("building zelvo-0's neural engine half in the background")), 1);
            EXPECT_TRUE(logged(QStringLiteral("args: --neural-engine")));
            EXPECT_TRUE(logged(QStringLiteral("::error not a status")));
            ASSERT_TRUE(until([&] {
                for (const QJsonObject& entry : other.log()) {
                    if (entry.value(QStringLiteral("path")) == QStringLiteral("/warm"))
                        return QJsonDocument::fromJson(entry.value(QStringLiteral("body")).toString().toUtf8())
                                   .object()
                                   .value(QStringLiteral("seconds"))
                                   .toDouble()
                            == 96;
                }
                return false;
            }));
        }
        EXPECT_EQ(statuses_, QList<BrainStatus>{adopted}) << "the build never moves the status";
        supervisor_.reset();
        other.stop();
        port_ = StandInBrain::freePort();
    }
}

} // namespace
} // namespace zelvo
