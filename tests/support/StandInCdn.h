#pragma once
// The stand-in content service (tests/support/kavri_cdn.py) as a child process
// for tests: launched on a free loopback port, stopped when the object goes.
// Its request log lives in a temporary folder of its own.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

namespace zelvo::test {

class StandInCdn {
public:
    struct Options {
        QString prefix;          // "/cdn": every path below it
        QStringList keys{QString::fromLatin1(validKey)};
        QStringList revoked;
        QByteArray manifest;     // the manifest's JSON text; empty: the default one
        double rate = 20e6;      // bytes per second of file bodies
        QString mode;            // the answer mode at start
        QString releaseVersion;  // the update feed's version; empty: the stand-in's own
        QString releaseImage;    // the file served as the update image
    };

    // The key the stand-in accepts unless told otherwise.
    static constexpr const char* validKey = "sk_kavri_standin_0001";

    StandInCdn();
    explicit StandInCdn(Options options);
    ~StandInCdn();
    StandInCdn(const StandInCdn&) = delete;
    StandInCdn& operator=(const StandInCdn&) = delete;

    // Launches the service and waits for its port line; false when it exits
    // or stays silent for `seconds`.
    bool start(double seconds = 20);
    // Sends SIGTERM and waits for the exit.
    void stop();

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port><prefix>/".
    QUrl base() const;
    // Switches the answer mode ("status=500", "hangup", "normal", …); blocks
    // until the service confirmed it. Returns false when it did not.
    bool setMode(const QString& mode);
    // Every request so far: "method", "path" and "headers".
    QList<QJsonObject> log() const;
    // Everything the process printed.
    QString output();

    // The body the stand-in serves for a file of the manifest.
    static QByteArray fileBytes(const QString& path, qint64 size);
    // The script's path in the source tree.
    static QString script();

private:
    Options options_;
    QTemporaryDir dir_;
    QProcess process_;
    QByteArray output_;
    quint16 port_ = 0;
};

} // namespace zelvo::test
