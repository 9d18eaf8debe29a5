#pragma once
// Helpers for the tests of the installer script: running it against the
// stand-in content service, reading files it wrote, and telling whether a
// process still runs.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QList>
#include <functional>
#include <map>
#include <utility>

namespace zelvo::test {

// The installer in the source tree.
QString installerScript();

// Whether `pid` still runs (a zombie waiting to be reaped does not).
bool processAlive(qint64 pid);

// A manifest's JSON text listing `files` (path, bytes).
QByteArray manifestOf(const QList<std::pair<QString, qint64>>& files);

// The file's bytes, or an empty array when it cannot be read.
QByteArray fileContents(const QString& path);

// One run of the installer: `/bin/bash install.sh [arguments]` with the
// environment of the tests plus `environment` (an empty value removes a
// variable). Standard output and error are read together.
class InstallerRun {
public:
    InstallerRun(const std::map<QString, QString>& environment, const QStringList& arguments = {});
    ~InstallerRun();

    QProcess& process() { return process_; }
    // Runs the event loop until the script exits or `seconds` pass, calling
    // `watch` every 10 ms meanwhile; returns the exit status, or -1 when the
    // script is still running or was killed by a signal.
    int finish(double seconds = 30, const std::function<void()>& watch = {});
    // Every output line so far.
    QStringList lines();

private:
    QProcess process_;
    QByteArray output_;
};

} // namespace zelvo::test
