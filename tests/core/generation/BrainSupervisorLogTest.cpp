// The supervisor's value rules: status labels, the output line protocol, output
// cut into lines, and the application log in memory and on disk.
#include "generation/BrainSupervisor.h"
#include "generation/OutputLines.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using Kind = BrainStatus::Kind;

TEST(BrainStatusTest, LabelsAndEquality)
{
    const std::pair<BrainStatus, const char*> cases[] = {
        {BrainStatus::installing(QStringLiteral("weights 3/7")), "INSTALL \u00B7 WEIGHTS 3/7"},
        {BrainStatus::loading(QStringLiteral("straße")), "LOADING \u00B7 STRASSE"},
        {BrainStatus::failed(QStringLiteral("exit 1")), "FAULT \u00B7 EXIT 1"},
        {BrainStatus::of(Kind::checking), "CHECKING"},
        {BrainStatus::of(Kind::notInstalled), "NOT INSTALLED"},
        {BrainStatus::of(Kind::offline), "OFFLINE"},
        {BrainStatus::of(Kind::starting), "WAKING"},
        {BrainStatus::of(Kind::ready), "READY"},
        {BrainStatus::of(Kind::rendering), "RENDERING"},
    };
    for (const auto& [status, label] : cases)
        EXPECT_EQ(status.label(), QString::fromUtf8(label));
    EXPECT_EQ(BrainStatus(), BrainStatus::of(Kind::checking));
    EXPECT_NE(BrainStatus::failed(QStringLiteral("a")), BrainStatus::failed(QStringLiteral("b")));
    EXPECT_NE(BrainStatus::failed(QStringLiteral("a")), BrainStatus::loading(QStringLiteral("a")));
    EXPECT_EQ((BrainStatus{Kind::ready, QStringLiteral("ignored")}), BrainStatus::of(Kind::ready));
}

TEST(BrainStatusTest, LineProtocol)
{
    struct Case {
        const char* line;
        bool rendering;
        std::optional<BrainStatus> status;
    };
    const Case cases[] = {
        {"::stage venv", false, BrainStatus::installing("venv")},
        {"::stage ", false, BrainStatus::installing("")},
        {"::weight 12% of 3 GB", false, BrainStatus::installing("weights 12% of 3 GB")},
        {"::weight ", false, std::nullopt},
        {"::weights 12%", false, std::nullopt},
        {"::error disk full", false, BrainStatus::failed("disk full")},
        {"::error disk full", true, BrainStatus::failed("disk full")},
        {R"({"event": "stage", "stage": "loading weights"})", false, BrainStatus::loading("loading weights")},
        {R"({"event": "stage", "stage": "loading weights"})", true, std::nullopt},
        {R"({"event":"stage","stage":"x"})", false, std::nullopt}, // not written the server's way
        {R"({"event": "ready"})", false, BrainStatus::of(Kind::ready)},
        {R"({"event": "ready"})", true, BrainStatus::of(Kind::ready)},
        {R"(log: "event": "stage")", false, BrainStatus::loading(": ")},
        {"kavri_brain: cannot listen on 127.0.0.1:7431: Address already in use", false, std::nullopt},
        {"  ::stage indented", false, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BrainSupervisor::statusForLine(QString::fromUtf8(c.line), c.rendering), c.status)
            << c.line << " rendering=" << c.rendering;
    }
}

TEST(OutputLinesTest, LinesAcrossReads)
{
    OutputLines lines;
    // A line and a two-byte character cut across reads, CR LF cut between its bytes.
    EXPECT_EQ(lines.feed("Address alre"), QStringList());
    EXPECT_EQ(lines.feed("ady in use\r"), QStringList{QStringLiteral("Address already in use")});
    EXPECT_EQ(lines.feed("\n::error caf\xC3"), QStringList());
    EXPECT_EQ(lines.feed("\xA9\n\n\rbad \xFF byte\nrest"),
              (QStringList{QStringLiteral("::error caf\u00E9"), QStringLiteral("bad \uFFFD byte")}));
    EXPECT_EQ(lines.finish(), QStringList{QStringLiteral("rest")});
    EXPECT_EQ(lines.finish(), QStringList());

    // A line that never ends is handed on once it passes 64 KiB.
    const QByteArray big(OutputLines::kLongestLine, 'x');
    EXPECT_EQ(lines.feed(big), QStringList());
    const QStringList out = lines.feed("y");
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out[0].size(), OutputLines::kLongestLine + 1);
    EXPECT_EQ(lines.feed("z\nnext\n"), (QStringList{QStringLiteral("z"), QStringLiteral("next")}));
}

class SupervisorLogTest : public ::testing::Test {
protected:
    std::unique_ptr<BrainSupervisor> make()
    {
        return std::make_unique<BrainSupervisor>(BrainPaths(home_.file("scripts"), home_.file("brain")), 7431,
                                                 clock_);
    }
    QByteArray logFile() const
    {
        QFile file(BrainSupervisor::logURL());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    test::TempHome home_;
    ManualScheduler clock_{QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::LocalTime)};
};

TEST_F(SupervisorLogTest, MemoryAndFileLines)
{
    auto supervisor = make();
    EXPECT_EQ(supervisor->status(), BrainStatus::of(Kind::checking));
    EXPECT_TRUE(QDir(home_.file("brain/scratch")).exists());
    EXPECT_EQ(BrainSupervisor::logURL(), home_.file(".local/state/KavriZelvo/brain.log"));
    int changes = 0;
    QObject::connect(supervisor.get(), &BrainSupervisor::logChanged, [&] { ++changes; });

    supervisor->note(QStringLiteral("flow: queued\u2003\n"));
    supervisor->note(QString());
    supervisor->note(QStringLiteral("\u00A0"));
    EXPECT_EQ(supervisor->log(),
              (QStringList{QStringLiteral("app: flow: queued"), QStringLiteral("app:"), QStringLiteral("app:")}));
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(QString::fromUtf8(logFile()), QStringLiteral("2026-03-04 05:06:07  app: flow: queued\n"
                                                           "2026-03-04 05:06:07  app:\n"
                                                           "2026-03-04 05:06:07  app:\n"));

    for (int i = 0; i < 401; ++i)
        supervisor->note(QString::number(i));
    ASSERT_EQ(supervisor->log().size(), BrainSupervisor::kLogLines);
    EXPECT_EQ(supervisor->log().first(), QStringLiteral("app: 1"));
    EXPECT_EQ(supervisor->log().last(), QStringLiteral("app: 400"));
    EXPECT_EQ(logFile().count('\n'), 404) << "the file keeps every line";

    // Another thread's note is posted to the main thread.
    QThread* worker = QThread::create([&] { supervisor->note(QStringLiteral("from a worker")); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_TRUE(test::StandInBrain::spinUntil(
        [&] { return supervisor->log().last() == QStringLiteral("app: from a worker"); }, 5));
}

TEST_F(SupervisorLogTest, SizeThresholdAtTheFirstLine)
{
    for (const qint64 size : {BrainSupervisor::kLogFileLimit, BrainSupervisor::kLogFileLimit + 1}) {
        QDir().mkpath(QFileInfo(BrainSupervisor::logURL()).absolutePath());
        QFile file(BrainSupervisor::logURL());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_TRUE(file.resize(size));
        file.close();
        auto supervisor = make();
        supervisor->note(QStringLiteral("hello"));
        const qint64 line = QByteArray("2026-03-04 05:06:07  app: hello\n").size();
        EXPECT_EQ(QFileInfo(BrainSupervisor::logURL()).size(),
                  size > BrainSupervisor::kLogFileLimit ? line : size + line)
            << size;
    }
}

TEST_F(SupervisorLogTest, UnopenableFileKeepsTheMemoryLog)
{
    // A folder where the file should be: even root cannot open it for writing.
    ASSERT_TRUE(QDir().mkpath(BrainSupervisor::logURL()));
    auto supervisor = make();
    supervisor->note(QStringLiteral("one"));
    supervisor->note(QStringLiteral("two"));
    EXPECT_EQ(supervisor->log(), (QStringList{QStringLiteral("app: one"), QStringLiteral("app: two")}));
    EXPECT_TRUE(QFileInfo(BrainSupervisor::logURL()).isDir());
}

// What `start` needs before it launches anything, and the port the client uses.
TEST_F(SupervisorLogTest, StartPreconditionsAndPort)
{
    for (const int port : {0, -1, 65536, 7431}) {
        const BrainSupervisor odd(BrainPaths(home_.file("scripts"), home_.file("brain")), port, clock_);
        EXPECT_EQ(odd.port(), 7431) << port;
        EXPECT_EQ(odd.client().base().toString(), QStringLiteral("http://127.0.0.1:7431")) << port;
    }

    auto supervisor = make();
    supervisor->start(48); // no interpreter: nothing happens, not even to the status
    EXPECT_EQ(supervisor->status(), BrainStatus::of(Kind::checking));
    EXPECT_TRUE(supervisor->log().isEmpty());

    // An interpreter that cannot run: the system's description of the failure.
    const QString python = supervisor->paths().python();
    QDir().mkpath(QFileInfo(python).absolutePath());
    QFile file(python);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/nonexistent/interpreter\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    supervisor->start(48);
    EXPECT_EQ(supervisor->status(), BrainStatus::failed(QStringLiteral("No such file or directory")));
    EXPECT_FALSE(supervisor->serverRunning());
}

} // namespace
} // namespace zelvo
