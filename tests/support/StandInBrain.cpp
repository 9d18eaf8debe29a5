#include "support/StandInBrain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTimer>

namespace zelvo::test {

StandInBrain::StandInBrain(std::map<QString, QString> environment) : environment_(std::move(environment))
{
    QDir(home_.path()).mkpath(QStringLiteral("zelvo-0/optimized/mlx"));
    QDir(home_.path()).mkpath(QStringLiteral("scratch"));
    QDir(home_.path()).mkpath(QStringLiteral("models"));
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

StandInBrain::~StandInBrain()
{
    stop();
}

QString StandInBrain::script()
{
    return QStringLiteral(ZELVO_SOURCE_DIR "/brain/kavri_brain.py");
}

quint16 StandInBrain::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

bool StandInBrain::spinUntil(const std::function<bool()>& done, double seconds)
{
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000));
    QTimer wake; // bounds each wait, so the deadline is seen even when nothing happens
    wake.start(10);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QUrl StandInBrain::base() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_));
}

QString StandInBrain::output()
{
    output_ += process_.readAll();
    return QString::fromUtf8(output_);
}

bool StandInBrain::start(quint16 port, double seconds)
{
    port_ = port ? port : freePort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("KAVRI_BRAIN_HOME"));
    env.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    env.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    // A stand-in left behind by a crashed test still goes away by itself.
    env.insert(QStringLiteral("KAVRI_BRAIN_LIFETIME"), QStringLiteral("300"));
    env.insert(QStringLiteral("KAVRI_BRAIN_STEP_DELAY"), QStringLiteral("0.005"));
    for (const auto& [key, value] : environment_) {
        if (value.isEmpty())
            env.remove(key);
        else
            env.insert(key, value);
    }
    process_.setProcessEnvironment(env);
    process_.start(QStringLiteral("python3"),
                   {script(), QStringLiteral("--runtime"), runtime(), QStringLiteral("--warm"), QStringLiteral("48.0"),
                    QStringLiteral("--port"), QString::number(port_)});
    if (!process_.waitForStarted(10000))
        return false;
    return spinUntil(
               [this] {
                   return output().contains(QStringLiteral("\"event\": \"ready\""))
                       || process_.state() == QProcess::NotRunning;
               },
               seconds)
        && process_.state() == QProcess::Running;
}

void StandInBrain::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    output();
}

QList<QJsonObject> StandInBrain::log() const
{
    return readJsonLines(home_.filePath(QStringLiteral("brain-requests.jsonl")));
}

QList<QJsonObject> readJsonLines(const QString& path)
{
    QList<QJsonObject> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            entries.append(doc.object());
    }
    return entries;
}

} // namespace zelvo::test
