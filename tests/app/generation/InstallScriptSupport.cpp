#include "InstallScriptSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QThread>

namespace zelvo::test {

QString installerScript()
{
    return QStringLiteral(ZELVO_SOURCE_DIR "/brain/install.sh");
}

bool processAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    // "<pid> (<name>) <state> ...": the name may hold spaces and parentheses.
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() && text[close + 2] != 'Z' && text[close + 2] != 'X';
}

QByteArray manifestOf(const QList<std::pair<QString, qint64>>& files)
{
    QJsonArray list;
    for (const auto& [path, bytes] : files)
        list.append(QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("bytes"), bytes}});
    return QJsonDocument(QJsonObject{{QStringLiteral("model"), QStringLiteral("zelvo-0")},
                                     {QStringLiteral("files"), list}})
        .toJson(QJsonDocument::Compact);
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

InstallerRun::InstallerRun(const std::map<QString, QString>& environment, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    env.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    for (const auto& [name, value] : environment) {
        if (value.isEmpty())
            env.remove(name);
        else
            env.insert(name, value);
    }
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("/bin/bash"), QStringList{installerScript()} + arguments);
    process_.waitForStarted(10000);
}

InstallerRun::~InstallerRun()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

int InstallerRun::finish(double seconds, const std::function<void()>& watch)
{
    QElapsedTimer timer;
    timer.start();
    while (process_.state() != QProcess::NotRunning && timer.elapsed() < qint64(seconds * 1000)) {
        process_.waitForFinished(10);
        if (watch)
            watch();
    }
    output_ += process_.readAll();
    if (process_.state() != QProcess::NotRunning || process_.exitStatus() != QProcess::NormalExit)
        return -1;
    return process_.exitCode();
}

QStringList InstallerRun::lines()
{
    output_ += process_.readAll();
    return QString::fromUtf8(output_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace zelvo::test
