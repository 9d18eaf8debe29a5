#include "support/ProgramRun.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>

namespace zelvo::test {

int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

ProgramRun runProgram(const QString& program, const TempHome& home, const QStringList& arguments, double seconds,
                      const QStringList& extraEnvironment)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("KAVRI_CDN", QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    environment.insert("KAVRI_BRAIN_PORT", QString::number(closedPort()));
    environment.insert("KAVRI_BRAIN_HOME", home.file("brain"));
    for (const QString& entry : extraEnvironment)
        environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home.path());
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(10000))
        return run;
    run.started = true;
    if (!process.waitForFinished(int(seconds * 1000))) {
        process.kill();
        process.waitForFinished();
        run.errors = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    run.finished = true;
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

ProgramRun runSnapshot(const QString& program, const TempHome& home, const QString& name,
                       const QStringList& arguments, double seconds)
{
    const QString png = QDir(QStringLiteral(ZELVO_BINARY_DIR)).filePath(name);
    QFile::remove(png);
    ProgramRun run = runProgram(program, home, arguments + QStringList{QStringLiteral("--snapshot"), png}, seconds);
    run.snapshot = png;
    return run;
}

} // namespace zelvo::test
