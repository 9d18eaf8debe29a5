// Child processes and the /proc queries, on real processes.
#include "platform/ChildProcess.h"
#include "platform/ProcessQueries.h"
#include "support/StandInBrain.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelvo {
namespace {

using test::StandInBrain;

// A launched child and everything it reported.
struct Launched {
    std::unique_ptr<ChildProcess> process;
    QByteArray output;
    QByteArray outputAtExit; // what had arrived when `finished` came
    std::optional<int> status;
    bool closed = false;

    explicit Launched(ChildProcess::Options options)
    {
        QString error;
        process = ChildProcess::launch(options, &error);
        EXPECT_TRUE(process) << error.toStdString();
        if (!process)
            return;
        QObject::connect(process.get(), &ChildProcess::output, [this](const QByteArray& b) { output += b; });
        QObject::connect(process.get(), &ChildProcess::outputClosed, [this] { closed = true; });
        QObject::connect(process.get(), &ChildProcess::finished, [this](int s) {
            status = s;
            outputAtExit = output;
        });
    }
    bool waitExit(double seconds = 10) { return StandInBrain::spinUntil([this] { return status.has_value(); }, seconds); }
};

ChildProcess::Options shell(const QString& script, QStringList environment = {})
{
    return {QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, std::move(environment), false};
}

int niceOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -100;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(16).toInt(); // field 19 of the whole line
}

TEST(ChildProcessTest, ExitCodesAndSignalDeaths)
{
    struct Case {
        const char* script;
        int status;
    };
    const Case cases[] = {
        {"exit 0", 0},
        {"exit 3", 3},
        {"exit 255", 255},
        {"kill -TERM $$", SIGTERM},
        {"kill -KILL $$", SIGKILL},
        {"kill -SEGV $$", SIGSEGV},
    };
    for (const Case& c : cases) {
        Launched run(shell(QString::fromLatin1(c.script)));
        ASSERT_TRUE(run.waitExit()) << c.script;
        EXPECT_EQ(*run.status, c.status) << c.script;
        EXPECT_FALSE(run.process->isRunning());
        EXPECT_FALSE(run.process->terminate()) << "a reaped child is never signalled";
    }
}

// A child must not inherit an ignored or blocked SIGTERM from us: a server that
// cannot be stopped would hold its port for ever.
TEST(ChildProcessTest, SignalStateIsResetForTheChild)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction saved {};
    sigaction(SIGTERM, &ignore, &saved);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    Launched run({QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, {}, false});
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    sigaction(SIGTERM, &saved, nullptr);

    ASSERT_TRUE(run.process);
    EXPECT_TRUE(run.process->terminate());
    ASSERT_TRUE(run.waitExit());
    EXPECT_EQ(*run.status, SIGTERM);
}

TEST(ChildProcessTest, OutputEnvironmentDescriptorsAndNice)
{
    // A descriptor of ours without close-on-exec must not reach the child.
    const int leaky = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    Launched run(shell(QStringLiteral("echo out; echo err >&2; echo \"v=$ZELVO_PROBE\"; cat; "
                                 "readlink /proc/$$/fd/0; /bin/ls -1 /proc/self/fd | tr '\\n' ' '"),
                  {QStringLiteral("ZELVO_PROBE=42"), QStringLiteral("PATH=/usr/bin:/bin")}));
    ::close(leaky);
    ASSERT_TRUE(run.waitExit());
    EXPECT_EQ(*run.status, 0);
    EXPECT_EQ(QString::fromUtf8(run.outputAtExit),
              QStringLiteral("out\nerr\nv=42\n/dev/null\n0 1 2 3 ")); // 3: the folder ls reads

    Launched utility({QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, {}, true});
    Launched normal({QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, {}, false});
    EXPECT_EQ(niceOf(utility.process->pid()), 10);
    EXPECT_EQ(niceOf(normal.process->pid()), niceOf(::getpid()));
    utility.process->terminate();
    normal.process->terminate();
    EXPECT_TRUE(utility.waitExit() && normal.waitExit());
}

// What a child printed just before exiting arrives before its exit, also when a
// grandchild keeps the pipe open; the grandchild's later output still comes.
TEST(ChildProcessTest, OutputBeforeExitWhileAGrandchildHoldsThePipe)
{
    Launched run(shell(QStringLiteral("(sleep 0.5; printf late) & printf 'Address already in use'; exit 1")));
    ASSERT_TRUE(run.waitExit());
    EXPECT_EQ(*run.status, 1);
    EXPECT_EQ(run.outputAtExit, QByteArray("Address already in use"));
    EXPECT_FALSE(run.closed);
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return run.closed; }));
    EXPECT_EQ(run.output, QByteArray("Address already in uselate"));
}

TEST(ChildProcessTest, LaunchFailureAndReleasedHandle)
{
    QString error;
    EXPECT_FALSE(ChildProcess::launch({QStringLiteral("/nonexistent/program"), {}, {}, false}, &error));
    EXPECT_EQ(error, QStringLiteral("No such file or directory"));

    pid_t pid = 0;
    {
        Launched run({QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, {}, false});
        pid = run.process->pid();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(::kill(pid, 0), 0) << "releasing the handle leaves the child running";
    // Until the spawned child has replaced its image, its command line reads empty.
    const QString expected = QStringLiteral("/bin/sleep 30\n");
    StandInBrain::spinUntil([&] { return ProcessQueries::commandLine(pid) == expected; });
    EXPECT_EQ(ProcessQueries::commandLine(pid), expected);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

TEST(ProcessQueriesTest, CommandLineOfMissingOrOddProcesses)
{
    EXPECT_EQ(ProcessQueries::commandLine(0), QString());
    EXPECT_EQ(ProcessQueries::commandLine(-1), QString());
    EXPECT_EQ(ProcessQueries::commandLine(4194305), QString()); // above the kernel's largest pid
    EXPECT_TRUE(ProcessQueries::commandLine(::getpid()).endsWith(QLatin1Char('\n')));
    EXPECT_FALSE(ProcessQueries::PinnedProcess(0).isValid());
    EXPECT_FALSE(ProcessQueries::PinnedProcess(1).isValid()) << "init is never pinned";
    EXPECT_FALSE(ProcessQueries::PinnedProcess(4194305).sendSignal(0));
}

TEST(ProcessQueriesTest, PortHolderOnBothFamiliesAndInAChild)
{
    const quint16 free = StandInBrain::freePort();
    EXPECT_EQ(ProcessQueries::processHoldingPort(free), std::nullopt);
    EXPECT_EQ(ProcessQueries::processHoldingPort(0), std::nullopt);
    EXPECT_EQ(ProcessQueries::processHoldingPort(70000), std::nullopt);

    QTcpServer v4;
    ASSERT_TRUE(v4.listen(QHostAddress::LocalHost, 0));
    EXPECT_EQ(ProcessQueries::processHoldingPort(v4.serverPort()), ::getpid());
    QTcpServer v6;
    if (v6.listen(QHostAddress::LocalHostIPv6, 0)) {
        EXPECT_EQ(ProcessQueries::processHoldingPort(v6.serverPort()), ::getpid());
    }

    const quint16 port = StandInBrain::freePort();
    Launched child({QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import socket,sys,time\ns=socket.socket()\ns.bind(('127.0.0.1',%1))\n"
                               "s.listen()\nprint('up',flush=True)\ntime.sleep(30)")
                    .arg(port)},
               {},
               false});
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return child.output.contains("up"); }));
    EXPECT_EQ(ProcessQueries::processHoldingPort(port), child.process->pid());
    child.process->terminate();
    ASSERT_TRUE(child.waitExit());
    EXPECT_EQ(ProcessQueries::processHoldingPort(port), std::nullopt);
}

TEST(ProcessQueriesTest, DescendantsBreadthFirst)
{
    // Two children, then a grandchild under the second.
    Launched tree(shell(QStringLiteral("sleep 30 & sh -c 'sleep 30 & wait' & echo up; wait")));
    const qint64 root = tree.process->pid();
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return ProcessQueries::descendants(root).size() == 3; }));
    const QList<qint64> found = ProcessQueries::descendants(root);
    ASSERT_EQ(found.size(), 3);
    EXPECT_LT(found[0], found[1]);
    // The third is a child of the second, not of the root.
    EXPECT_EQ(ProcessQueries::descendants(found[1]), QList<qint64>{found[2]});
    EXPECT_TRUE(ProcessQueries::descendants(found[0]).isEmpty());
    EXPECT_TRUE(ProcessQueries::descendants(4194305).isEmpty());

    for (auto it = found.rbegin(); it != found.rend(); ++it)
        ProcessQueries::PinnedProcess(*it).sendSignal(SIGKILL);
    tree.process->sendSignal(SIGKILL);
    EXPECT_TRUE(tree.waitExit());
}

} // namespace
} // namespace zelvo
