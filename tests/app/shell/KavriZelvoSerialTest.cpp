// The built program, started as a user would: offscreen, in a temporary home,
// with the model server and the content service aimed at closed loopback
// ports. Serial: the second test plays in real time on the virtual output.
#include "AppTestSupport.h"
#include "library/AudioFileIO.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"
#include "platform/VirtualOutputBackend.h"
#include "support/AudioFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/types.h>

namespace zelvo {
namespace {

using test::ProgramRun;
using test::closedPort;

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void expectClean(const ProgramRun& run)
{
    EXPECT_FALSE(run.crashed) << run.errors.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains("Sanitizer")) << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains("runtime error")) << run.errors.toStdString();
}

TEST(KavriZelvo, ABareStartDumpsItsStateAndQuitsThroughShutdown)
{
    test::TempHome home;
    test::writeTone(home.file("tone.wav"), 1.0);
    const QString dump = home.file("state.json");
    // The dump comes before the library's delayed save: only the shutdown's
    // flush can have written the imported record.
    const ProgramRun run = test::runProgram(QStringLiteral(KAVRI_ZELVO_PROGRAM), home,
                                            {"--import", "tone.wav", "--dump-state", dump, "0"}, 30.0);
    expectClean(run);
    const QJsonObject state = readJson(dump);
    ASSERT_FALSE(state.isEmpty()) << run.errors.toStdString();
    EXPECT_EQ(state["decks"].toArray().size(), 4);
    // A fresh home: the model server is being checked or is not installed.
    EXPECT_TRUE(QStringList({"waking", "install zelvo-0"}).contains(state["aiStep"].toString()))
        << state["aiStep"].toString().toStdString();
    QFile collection(QDir(Folders::applicationSupport()).filePath("collection.json"));
    ASSERT_TRUE(collection.open(QIODevice::ReadOnly));
    EXPECT_TRUE(collection.readAll().contains("tone.wav"));

    const ProgramRun bare =
        test::runProgram(QStringLiteral(KAVRI_ZELVO_PROGRAM), home, {"--dump-state", dump, "2"}, 30.0);
    expectClean(bare);
    EXPECT_FALSE(readJson(dump).isEmpty());
}

TEST(KavriZelvo, QuitsNormallyOnTerminalAndServiceSignals)
{
    test::TempHome home;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("KAVRI_BRAIN_PORT", QString::number(closedPort()));
        environment.insert("KAVRI_CDN", QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KAVRI_ZELVO_PROGRAM), {});
        ASSERT_TRUE(process.waitForStarted(10000));
        // Let it come up (the defaults file is written while the state root is built).
        const QString defaultsFile = UserDefaults::defaultPath();
        QFile::remove(defaultsFile);
        ASSERT_TRUE(test::spinUntil([&] { return QFile::exists(defaultsFile); }, 20.0));
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
}

TEST(KavriZelvo, PlaysAnImportedTrackOnTheVirtualOutput)
{
    test::TempHome home;
    test::writeTone(home.file("tone.wav"), 20.0);
    // Whatever sound cards the machine has, play on the virtual output.
    QDir().mkpath(Folders::config());
    UserDefaults(UserDefaults::defaultPath()).setString("audio.device", VirtualOutputBackend::kUID);
    const QString dump = home.file("state.json");
    const QString capture = home.file("capture.wav");
    // The dump's delay counts from the start, before the import, the load and
    // the decode: a sanitized build on a busy machine spends over 2.5 s there,
    // so the deck is given several seconds to be heard.
    const ProgramRun run = test::runProgram(QStringLiteral(KAVRI_ZELVO_PROGRAM), home,
                                            {"--import", "tone.wav", "--load", "--play", "--dump-state", dump, "8"}, 30.0,
                                            {"KAVRI_VIRTUAL_CAPTURE=" + capture});
    expectClean(run);
    const QJsonObject state = readJson(dump);
    ASSERT_FALSE(state.isEmpty()) << run.errors.toStdString();
    EXPECT_EQ(state["output"].toArray()[1], VirtualOutputBackend::kUID);
    const QJsonObject deck = state["decks"].toArray()[0].toObject();
    EXPECT_EQ(deck["track"], "tone");
    EXPECT_EQ(deck["playing"], true);
    EXPECT_GT(deck["position"].toDouble(), 0.5);

    // The capture holds the tone: its level, and its pitch counted in zero crossings.
    const TrackBufferRef heard = AudioFileIO::decode(capture.toStdString(), 48000.0);
    ASSERT_TRUE(heard);
    std::int64_t start = 0;
    while (start < heard->frames && std::abs(heard->left[start]) < 0.01f)
        ++start;
    const std::int64_t frames = std::min<std::int64_t>(heard->frames - start, 48000);
    ASSERT_GT(frames, 24000) << "less than half a second of the track was heard";
    EXPECT_GT(test::rms(heard->left + start, frames), 0.1);
    int crossings = 0;
    for (std::int64_t i = start + 1; i < start + frames; ++i)
        crossings += (heard->left[i - 1] < 0.0f) != (heard->left[i] < 0.0f) ? 1 : 0;
    const double pitch = crossings / 2.0 / (double(frames) / 48000.0);
    EXPECT_NEAR(pitch, 440.0, 10.0);
}

} // namespace
} // namespace zelvo
