#pragma once
// The self-updater. It reads the content service's update feed at start and
// every six hours. When a newer release exists and the running release folder
// can be replaced in place, it downloads the image, checks its SHA-256 against
// the feed, unpacks it, checks the new copy's signature and publisher against
// the running copy, and stages it; a small script swaps it in after the
// program has quit. Otherwise it only reports the new version, for a download
// by hand.
//
// A release folder is named "KavriZelvo" and holds bin/kavri-zelvo and
// share/kavri-zelvo/ (with the signed file list and the publisher's key).
//
// Main thread only, unless a member says otherwise.
#include "update/FileDigest.h"
#include "update/ReleaseVersion.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Scheduler.h"

class QFile;
class QNetworkAccessManager;
class QNetworkReply;

namespace zelvo {

class LogSink;

class AppUpdate final : public QObject {
    Q_OBJECT
public:
    // ready: a verified update of `version` is staged; manual: a newer version
    // exists but is not staged; idle: nothing to offer.
    struct State {
        enum class Kind { ready, manual, idle };
        Kind kind = Kind::idle;
        std::optional<ReleaseVersion> version; // ready and manual

        static State ready(ReleaseVersion v) { return {Kind::ready, std::move(v)}; }
        static State manual(ReleaseVersion v) { return {Kind::manual, std::move(v)}; }
        static State idle() { return {}; }
        friend bool operator==(const State&, const State&) = default;
    };

    // What an asynchronous step gives back: on success its value (a path, a
    // tool's output, a digest), on failure the error's description.
    struct Outcome {
        bool ok = false;
        QString text;
        static Outcome success(QString value) { return {true, std::move(value)}; }
        static Outcome failure(QString reason) { return {false, std::move(reason)}; }
    };
    using Done = std::function<void(const Outcome&)>;

    // The outside programs the updater runs, by absolute path.
    struct Tools {
        QString tar = QStringLiteral("/usr/bin/tar");
        QString copy = QStringLiteral("/usr/bin/cp");
        QString minisign = QStringLiteral("/usr/bin/minisign");
        QString shell = QStringLiteral("/bin/sh");
    };

    // Everything taken from the running program; tests set their own.
    struct Options {
        std::optional<ReleaseVersion> current; // the running version
        QString bundle;                        // the running release folder; empty: not run from one
        QString folder;                        // the update folder
        Tools tools;
        LogSink* systemLog = nullptr;          // null: the system log
        qint64 pid = 0;                        // the process the swap waits for; 0: this one
        double feedTimeout = 15.0;             // seconds for the whole feed request
        double stallTimeout = 60.0;            // seconds without a byte of the image
    };

    // Seconds between two checks of the feed.
    static constexpr double checkInterval = 21600.0;

    // The running program's: the build's version; the release folder holding
    // the executable, when it lies in one ("<folder>/bin/kavri-zelvo" with the
    // folder named "KavriZelvo"); the update folder under the XDG data home.
    static Options standardOptions();

    // `network` (shared with the content service's other requests) and
    // `scheduler` must outlive the updater; `base` is the content service's
    // base URL. The first check runs from the scheduler at once, then one
    // every six hours.
    AppUpdate(Scheduler& scheduler, QNetworkAccessManager* network, const QUrl& base, QObject* parent = nullptr);
    AppUpdate(Scheduler& scheduler, QNetworkAccessManager* network, const QUrl& base, Options options,
              QObject* parent = nullptr);
    ~AppUpdate() override;

    const State& state() const { return state_; }
    // The verified new release folder waiting for the swap.
    const std::optional<QString>& staged() const { return staged_; }
    // A check (and its download) is running.
    bool busy() const { return busy_; }
    const std::optional<ReleaseVersion>& current() const { return options_.current; }
    const QString& bundle() const { return options_.bundle; }
    // The feed: the base with "zelvo/latest.json".
    const QUrl& latest() const { return latest_; }
    // The image: the base with "zelvo/download" (also for a download by hand).
    const QUrl& download() const { return download_; }
    // Downloads unpack here, one folder per version.
    const QString& folder() const { return options_.folder; }

    // One check of the feed, with download and staging when possible. Does
    // nothing without a running version or while a check runs.
    void check();
    // The running release folder and the folder holding it are both writable.
    bool canReplaceSelf() const;
    // Downloads, checks and unpacks `version`, or reuses a valid copy staged
    // earlier; gives the staged folder's path.
    void fetch(const ReleaseVersion& version, const QString& sha256, Done done);
    // Passes when `app` is signed by the key of `reference`, its files equal
    // its signed list, and both carry the same publisher.
    void verify(const QString& app, const QString& reference, Done done);
    // The publisher of a release folder: the signing key's id in upper-case
    // hexadecimal, or "not set". Any thread.
    static QString team(const QString& app);
    // The file's SHA-256 in lower-case hexadecimal. Any thread.
    static FileDigest sha256(const QString& path);
    // Runs `tool` with `arguments` (both output streams joined) and gives its
    // output; a non-zero exit fails with "<tool's file name>: <output>".
    void run(const QString& tool, const QStringList& arguments, Done done);
    // Starts the script that, once this process has ended, moves the staged
    // folder into the running one's place (restoring the old one if that
    // fails), removes the update folder and, with `relaunch`, starts the new
    // program. Returns the state to idle. Does nothing without a staged update.
    void swapAfterExit(bool relaunch);

    // The swap script's text; its arguments are the process id to wait for,
    // the staged folder, the running folder, "1" to relaunch, and the update
    // folder. Any thread.
    static QString swapScript();

signals:
    void stateChanged();
    void stagedChanged();
    void busyChanged();

private:
    void setState(const State& state);
    void setStaged(const std::optional<QString>& staged);
    void setBusy(bool busy);
    void dropFeed();
    void finishFeed(bool timedOut);
    void feedAnswered(const QByteArray& body);
    void stage(const ReleaseVersion& version, const QString& sha256);
    void downloadImage(const QString& versionFolder, const QString& target, const QString& sha256, Done done);
    void imageFinished(bool stalled);
    void unpack(const QString& versionFolder, const QString& target, Done done);
    void onWorker(std::function<Outcome()> work, Done done);
    void note(const QString& line);

    Scheduler* scheduler_;
    QNetworkAccessManager* network_;
    Options options_;
    QUrl latest_;
    QUrl download_;

    State state_;
    std::optional<QString> staged_;
    bool busy_ = false;

    Scheduler::TimerId firstCheck_ = 0;
    Scheduler::TimerId periodic_ = 0;

    QPointer<QNetworkReply> feed_;
    Scheduler::TimerId feedTimer_ = 0;
    bool feedOversize_ = false;

    // The image download in flight.
    struct Image;
    std::unique_ptr<Image> image_;
};

} // namespace zelvo
