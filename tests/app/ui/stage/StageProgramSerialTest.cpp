// The whole program: an imported file loaded and the stage rendered to a PNG,
// kept in the build folder for review.
#include "AppTestSupport.h"
#include "KitTestSupport.h"
#include "ui/kit/Palette.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace zelvo::stage {
namespace {

int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

TEST(StageProgram, ImportLoadAndSnapshotDrawTheStage)
{
    test::TempHome home;
    const QString wav = home.file("Music/beat.wav");
    QDir().mkpath(home.file("Music"));
    test::writeTone(wav, 4.0);
    const QString png = QStringLiteral(ZELVO_BINARY_DIR "/stage-snapshot.png");
    QFile::remove(png);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("KAVRI_CDN", QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    environment.insert("KAVRI_BRAIN_PORT", QString::number(closedPort()));
    environment.insert("KAVRI_BRAIN_HOME", home.file("brain"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home.path());
    process.start(QStringLiteral(KAVRI_ZELVO_PROGRAM), {"--import", wav, "--load", "--snapshot", png});
    ASSERT_TRUE(process.waitForStarted(10000));
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << process.readAllStandardError().toStdString();

    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, {4, 600}), kit::Stage::ink()));
    // Lane 1's header: the targeted badge and the loaded title in paper.
    EXPECT_TRUE(kit::test::near(kit::test::pixelAt(image, {14 + 12 + 4, 14 + 40 + 10 + 14 + 2}), kit::Stage::paper(), 8));
}

} // namespace
} // namespace zelvo::stage
