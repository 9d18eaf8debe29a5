#pragma once
// The stand-in model server (brain/kavri_brain.py) as a child process for tests
// and benchmarks: launched with the application's command line on a free
// loopback port with a throw-away brain home, stopped when the object goes.
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <map>

namespace zelvo::test {

// The JSON objects of a stand-in's request log, one per line, in order; lines
// that are not objects are skipped. Empty when the file cannot be read.
QList<QJsonObject> readJsonLines(const QString& path);

class StandInBrain {
public:
    // `environment` adds to (or, with an empty value, removes from) the
    // server's environment: the fault modes and knobs of the stand-in.
    explicit StandInBrain(std::map<QString, QString> environment = {});
    ~StandInBrain();
    StandInBrain(const StandInBrain&) = delete;
    StandInBrain& operator=(const StandInBrain&) = delete;

    // Launches the server on `port` (0: a free one) and waits until it prints its
    // ready line; false when it exits or stays silent for `seconds`.
    bool start(quint16 port = 0, double seconds = 20);
    // Sends SIGTERM and waits for the exit.
    void stop();

    quint16 port() const { return port_; }
    QUrl base() const;
    // The brain home, its scratch folder and the runtime folder on the command line.
    QString home() const { return home_.path(); }
    QString scratch() const { return home_.filePath(QStringLiteral("scratch")); }
    QString runtime() const { return home_.filePath(QStringLiteral("zelvo-0/optimized/mlx")); }
    // Everything the server printed so far (standard output and error).
    QString output();
    QProcess& process() { return process_; }
    // The server's JSON-lines log of requests and step stamps, in order.
    QList<QJsonObject> log() const;

    // The path of the stand-in script in the source tree.
    static QString script();
    // A TCP port on 127.0.0.1 that was free a moment ago.
    static quint16 freePort();
    // Runs the event loop until `done` holds or `seconds` pass; returns `done()`.
    static bool spinUntil(const std::function<bool()>& done, double seconds = 10);

private:
    std::map<QString, QString> environment_;
    QTemporaryDir home_;
    QProcess process_;
    QByteArray output_;
    quint16 port_ = 0;
};

} // namespace zelvo::test
