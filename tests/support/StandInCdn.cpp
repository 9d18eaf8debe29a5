#include "support/StandInCdn.h"

#include "support/StandInBrain.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QTcpSocket>

namespace zelvo::test {

StandInCdn::StandInCdn() : StandInCdn(Options{}) {}

StandInCdn::StandInCdn(Options options) : options_(std::move(options))
{
    process_.setProcessChannelMode(QProcess::SeparateChannels);
}

StandInCdn::~StandInCdn()
{
    stop();
}

QString StandInCdn::script()
{
    return QStringLiteral(ZELVO_SOURCE_DIR "/tests/support/kavri_cdn.py");
}

bool StandInCdn::start(double seconds)
{
    QStringList arguments{script(),
                          QStringLiteral("--port"),
                          QStringLiteral("0"),
                          QStringLiteral("--keys"),
                          options_.keys.join(QLatin1Char(',')),
                          QStringLiteral("--rate"),
                          QString::number(options_.rate, 'f', 0),
                          QStringLiteral("--log"),
                          dir_.filePath(QStringLiteral("requests.jsonl")),
                          // A stand-in left behind by a crashed test still goes away.
                          QStringLiteral("--max-seconds"),
                          QStringLiteral("300")};
    if (!options_.prefix.isEmpty())
        arguments << QStringLiteral("--prefix") << options_.prefix;
    if (!options_.revoked.isEmpty())
        arguments << QStringLiteral("--revoked") << options_.revoked.join(QLatin1Char(','));
    if (!options_.mode.isEmpty())
        arguments << QStringLiteral("--mode") << options_.mode;
    if (!options_.releaseVersion.isEmpty())
        arguments << QStringLiteral("--release-version") << options_.releaseVersion;
    if (!options_.releaseImage.isEmpty())
        arguments << QStringLiteral("--release-image") << options_.releaseImage;
    if (!options_.manifest.isEmpty()) {
        const QString path = dir_.filePath(QStringLiteral("manifest.json"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(options_.manifest) != options_.manifest.size())
            return false;
        arguments << QStringLiteral("--manifest") << path;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    env.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));
    process_.setProcessEnvironment(env);
    process_.start(QStringLiteral("python3"), arguments);
    if (!process_.waitForStarted(10000))
        return false;
    const bool ready = StandInBrain::spinUntil(
        [this] { return output().contains(QLatin1Char('\n')) || process_.state() == QProcess::NotRunning; },
        seconds);
    if (!ready || process_.state() != QProcess::Running)
        return false;
    const QByteArray first = output_.left(output_.indexOf('\n'));
    const QJsonObject line = QJsonDocument::fromJson(first).object();
    port_ = quint16(line.value(QLatin1String("port")).toInt());
    return port_ != 0;
}

void StandInCdn::stop()
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

QUrl StandInCdn::base() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2/").arg(port_).arg(options_.prefix));
}

QString StandInCdn::output()
{
    output_ += process_.readAllStandardOutput();
    output_ += process_.readAllStandardError();
    return QString::fromUtf8(output_);
}

bool StandInCdn::setMode(const QString& mode)
{
    // A plain blocking exchange: the tests' own event loop and network manager
    // stay out of it.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port_);
    if (!socket.waitForConnected(5000))
        return false;
    const QByteArray body = mode.toUtf8();
    const QByteArray request = "POST " + options_.prefix.toUtf8() + "/_mode HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        + "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    socket.write(request);
    if (!socket.waitForBytesWritten(5000))
        return false;
    QByteArray answer;
    while (socket.waitForReadyRead(5000))
        answer += socket.readAll();
    answer += socket.readAll();
    return answer.startsWith("HTTP/1.1 200");
}

QList<QJsonObject> StandInCdn::log() const
{
    return readJsonLines(dir_.filePath(QStringLiteral("requests.jsonl")));
}

QByteArray StandInCdn::fileBytes(const QString& path, qint64 size)
{
    QByteArray block;
    block.reserve(65536);
    for (int n = 0; n < 2048; ++n)
        block += QCryptographicHash::hash((path + QLatin1Char(':') + QString::number(n)).toUtf8(),
                                          QCryptographicHash::Sha256);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char(quint8(block[i % 65536]) ^ quint8((i / 65536) % 256));
    return bytes;
}

} // namespace zelvo::test
