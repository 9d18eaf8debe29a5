#include "state/AppUpdate.h"

#include "generation/ContentService.h"
#include "platform/Folders.h"
#include "platform/SystemLog.h"
#include "update/BuildVersion.h"
#include "update/ReleaseManifest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStringDecoder>
#include <QThreadPool>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace zelvo {

namespace fs = std::filesystem;

namespace {

const QString kBundleName = QStringLiteral("KavriZelvo");
const QString kExecutable = QStringLiteral("bin/kavri-zelvo");
// No feed is anywhere near this long; a longer answer is not read to its end.
constexpr qint64 kLargestFeed = 1024 * 1024;

fs::path native(const QString& path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

// Something is at `path`, a dangling symbolic link included.
bool existsHere(const QString& path)
{
    std::error_code error;
    return fs::symlink_status(native(path), error).type() != fs::file_type::not_found && !error;
}

bool writable(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// Removes a tree on a worker thread, detached: nobody waits for it and its
// result is ignored.
void removeTreeDetached(const QString& path)
{
    QThreadPool::globalInstance()->start([path] {
        std::error_code error;
        fs::remove_all(native(path), error);
    });
}

QString utf8OrEmpty(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString() : text;
}

} // namespace

// The image download in flight: the reply, the temporary file it goes into
// and the stall timer.
struct AppUpdate::Image {
    QPointer<QNetworkReply> reply;
    std::unique_ptr<QFile> file;
    QString versionFolder;
    QString target;
    QString sha256;
    Done done;
    Scheduler::TimerId stall = 0;
    bool stalled = false;
    QString writeError;
};

AppUpdate::Options AppUpdate::standardOptions()
{
    Options options;
    options.current = ReleaseVersion::parse(buildVersion());
    // The executable as the kernel knows it, links resolved.
    const QFileInfo executable(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    const QDir bin = executable.absoluteDir();
    QDir root = bin;
    if (bin.dirName() == QLatin1String("bin") && root.cdUp() && root.dirName() == kBundleName
        && QFileInfo(root.filePath(QStringLiteral("share/kavri-zelvo"))).isDir()
        && executable.fileName() == QFileInfo(kExecutable).fileName())
        options.bundle = root.absolutePath();
    options.folder = Folders::dataHome() + QStringLiteral("/KavriZelvo/updates");
    return options;
}

AppUpdate::AppUpdate(Scheduler& scheduler, QNetworkAccessManager* network, const QUrl& base, QObject* parent)
    : AppUpdate(scheduler, network, base, standardOptions(), parent)
{
}

AppUpdate::AppUpdate(Scheduler& scheduler, QNetworkAccessManager* network, const QUrl& base, Options options,
                     QObject* parent)
    : QObject(parent),
      scheduler_(&scheduler),
      network_(network),
      options_(std::move(options)),
      latest_(ContentService::join(base, u"zelvo/latest.json")),
      download_(ContentService::join(base, u"zelvo/download"))
{
    if (options_.pid == 0)
        options_.pid = QCoreApplication::applicationPid();
    firstCheck_ = scheduler_->runAfter(0.0, [this] {
        firstCheck_ = 0;
        check();
    });
    periodic_ = scheduler_->runEvery(checkInterval, [this] { check(); });
}

AppUpdate::~AppUpdate()
{
    if (firstCheck_)
        scheduler_->cancel(firstCheck_);
    scheduler_->cancel(periodic_);
    dropFeed();
    // A tool still running is stopped; its end reaches nobody.
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        process->disconnect(this);
        delete process;
    }
    if (image_) {
        if (image_->stall)
            scheduler_->cancel(image_->stall);
        if (QNetworkReply* reply = image_->reply.data()) {
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }
}

void AppUpdate::setState(const State& state)
{
    if (state == state_)
        return;
    state_ = state;
    emit stateChanged();
}

void AppUpdate::setStaged(const std::optional<QString>& staged)
{
    if (staged == staged_)
        return;
    staged_ = staged;
    emit stagedChanged();
}

void AppUpdate::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    emit busyChanged();
}

void AppUpdate::note(const QString& line)
{
    if (options_.systemLog) {
        options_.systemLog->note(line);
        return;
    }
    static SystemLog system;
    system.note(line);
}

bool AppUpdate::canReplaceSelf() const
{
    if (options_.bundle.isEmpty())
        return false;
    const QFileInfo info(options_.bundle);
    return writable(options_.bundle) && writable(info.absolutePath());
}

// ---- The feed ----

void AppUpdate::check()
{
    if (!options_.current || busy_)
        return;
    setBusy(true);

    QNetworkRequest request(latest_);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    QNetworkReply* reply = network_->get(request);
    feed_ = reply;
    feedOversize_ = false;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply == feed_)
            finishFeed(false);
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received > kLargestFeed && reply == feed_) {
            feedOversize_ = true;
            reply->abort();
        }
    });
    feedTimer_ = scheduler_->runAfter(options_.feedTimeout, [this] {
        feedTimer_ = 0;
        if (feed_)
            finishFeed(true);
    });
}

void AppUpdate::dropFeed()
{
    if (feedTimer_) {
        scheduler_->cancel(feedTimer_);
        feedTimer_ = 0;
    }
    if (QNetworkReply* reply = feed_.data()) {
        feed_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void AppUpdate::finishFeed(bool timedOut)
{
    QNetworkReply* reply = feed_.data();
    feed_ = nullptr;
    if (feedTimer_) {
        scheduler_->cancel(feedTimer_);
        feedTimer_ = 0;
    }
    reply->disconnect(this);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool answered = !timedOut && !feedOversize_ && reply->error() == QNetworkReply::NoError && status == 200;
    const QByteArray body = answered ? reply->readAll() : QByteArray();
    if (timedOut)
        reply->abort();
    reply->deleteLater();
    if (!answered) {
        setBusy(false); // feed failures of any kind are silent
        return;
    }
    feedAnswered(body);
}

void AppUpdate::feedAnswered(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    const QJsonObject feed = document.object();
    const QJsonValue versionText = feed.value(QLatin1String("version"));
    std::optional<ReleaseVersion> version;
    if (error.error == QJsonParseError::NoError && document.isObject() && versionText.isString())
        version = ReleaseVersion::parse(versionText.toString());
    if (!version || !(*version > *options_.current)) {
        setBusy(false);
        return;
    }
    if (state_.kind == State::Kind::ready && !(*version > *state_.version)) {
        setBusy(false); // that update is already staged
        return;
    }
    const QJsonValue digest = feed.value(QLatin1String("sha256"));
    if (!canReplaceSelf() || !digest.isString()) {
        setState(State::manual(*version));
        setBusy(false);
        return;
    }
    stage(*version, digest.toString());
}

void AppUpdate::stage(const ReleaseVersion& version, const QString& sha256)
{
    fetch(version, sha256, [this, version](const Outcome& outcome) {
        if (outcome.ok) {
            setStaged(outcome.text);
            setState(State::ready(version));
        } else {
            note(QStringLiteral("kavri zelvo update ") + version.description() + QStringLiteral(": ") + outcome.text);
            setState(State::manual(version));
        }
        setBusy(false);
    });
}

// ---- Download, unpack, verify ----

void AppUpdate::fetch(const ReleaseVersion& version, const QString& sha256, Done done)
{
    const QString versionFolder = options_.folder + QLatin1Char('/') + version.description();
    const QString target = versionFolder + QLatin1Char('/') + QFileInfo(options_.bundle).fileName();
    if (existsHere(target)) {
        verify(target, options_.bundle, [this, versionFolder, target, sha256, done](const Outcome& outcome) {
            if (outcome.ok)
                done(Outcome::success(target)); // staged earlier and still valid
            else
                downloadImage(versionFolder, target, sha256, done);
        });
        return;
    }
    downloadImage(versionFolder, target, sha256, std::move(done));
}

void AppUpdate::downloadImage(const QString& versionFolder, const QString& target, const QString& sha256, Done done)
{
    std::error_code error;
    fs::remove_all(native(options_.folder), error); // a failure here is ignored
    error.clear();
    fs::create_directories(native(versionFolder), error);
    if (error) {
        done(Outcome::failure(QString::fromStdString(error.message())));
        return;
    }
    // A temporary file beside the image's final name: the rename stays within
    // one file system.
    auto file = std::make_unique<QFile>(versionFolder + QStringLiteral("/update.dmg.download"));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        done(Outcome::failure(file->errorString()));
        return;
    }

    QNetworkRequest request(download_);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply* reply = network_->get(request);

    image_ = std::make_unique<Image>();
    image_->reply = reply;
    image_->file = std::move(file);
    image_->versionFolder = versionFolder;
    image_->target = target;
    image_->sha256 = sha256;
    image_->done = std::move(done);

    auto armStall = [this] {
        if (image_->stall)
            scheduler_->cancel(image_->stall);
        image_->stall = scheduler_->runAfter(options_.stallTimeout, [this] {
            image_->stall = 0;
            image_->stalled = true;
            imageFinished(true);
        });
    };
    armStall();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, armStall] {
        if (!image_ || image_->reply != reply)
            return;
        armStall();
        const QByteArray bytes = reply->readAll();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status != 200 || !image_->writeError.isEmpty())
            return; // an error page is not the image
        if (image_->file->write(bytes) != bytes.size()) {
            image_->writeError = image_->file->errorString();
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (image_ && image_->reply == reply)
            imageFinished(false);
    });
}

void AppUpdate::imageFinished(bool stalled)
{
    std::unique_ptr<Image> image = std::move(image_);
    if (image->stall)
        scheduler_->cancel(image->stall);
    QNetworkReply* reply = image->reply.data();
    int status = 0;
    QNetworkReply::NetworkError networkError = QNetworkReply::NoError;
    QString networkText;
    if (reply) {
        reply->disconnect(this);
        status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray rest = reply->readAll();
        if (!stalled && status == 200 && image->writeError.isEmpty() && image->file->write(rest) != rest.size())
            image->writeError = image->file->errorString();
        networkError = reply->error();
        networkText = reply->errorString();
        reply->abort();
        reply->deleteLater();
    }
    const QString temporary = image->file->fileName();
    const bool flushed = image->file->flush();
    if (image->writeError.isEmpty() && !flushed)
        image->writeError = image->file->errorString();
    image->file->close();

    auto fail = [&](const QString& reason) {
        QFile::remove(temporary);
        image->done(Outcome::failure(reason));
    };
    if (stalled)
        return fail(QStringLiteral("the download stalled — no data for ") + QString::number(options_.stallTimeout)
                    + QStringLiteral(" s"));
    if (!image->writeError.isEmpty())
        return fail(image->writeError);
    if (status == 0 && networkError != QNetworkReply::NoError)
        return fail(networkText);
    if (status != 200)
        return fail(QStringLiteral("the download answered ") + QString::number(status));
    if (networkError != QNetworkReply::NoError)
        return fail(networkText);

    const QString imagePath = image->versionFolder + QStringLiteral("/update.dmg");
    std::error_code error;
    fs::rename(native(temporary), native(imagePath), error);
    if (error)
        return fail(QString::fromStdString(error.message()));

    const QString expected = image->sha256.toLower();
    const QString versionFolder = image->versionFolder;
    const QString target = image->target;
    Done done = image->done;
    onWorker(
        [imagePath] {
            const FileDigest digest = sha256(imagePath);
            return digest.ok() ? Outcome::success(digest.hex) : Outcome::failure(digest.error);
        },
        [this, expected, versionFolder, target, done](const Outcome& digest) {
            if (!digest.ok)
                return done(digest);
            if (digest.text != expected)
                return done(Outcome::failure(QStringLiteral("the download doesn't match its hash")));
            unpack(versionFolder, target, done);
        });
}

void AppUpdate::unpack(const QString& versionFolder, const QString& target, Done done)
{
    const QString imagePath = versionFolder + QStringLiteral("/update.dmg");
    const QString mount = versionFolder + QStringLiteral("/mount");
    std::error_code error;
    fs::create_directory(native(mount), error);
    if (error)
        return done(Outcome::failure(QString::fromStdString(error.message())));

    const QStringList extract{QStringLiteral("-x"), QStringLiteral("-p"), QStringLiteral("--no-same-owner"),
                              QStringLiteral("-f"), imagePath,          QStringLiteral("-C"),
                              mount};
    run(options_.tools.tar, extract, [this, imagePath, mount, target, done](const Outcome& extracted) {
        if (!extracted.ok) {
            removeTreeDetached(mount); // what a failed extraction left
            return done(extracted);
        }
        // From here on every way out removes the unpacked tree.
        auto finish = [mount, done](const Outcome& outcome) {
            removeTreeDetached(mount);
            done(outcome);
        };
        const QString inside = mount + QLatin1Char('/') + QFileInfo(options_.bundle).fileName();
        run(options_.tools.copy, {QStringLiteral("-a"), inside, target},
            [this, imagePath, target, finish](const Outcome& copied) {
                if (!copied.ok)
                    return finish(copied);
                verify(target, options_.bundle, [imagePath, target, finish](const Outcome& verified) {
                    if (!verified.ok)
                        return finish(verified);
                    QFile::remove(imagePath); // a failure is ignored
                    finish(Outcome::success(target));
                });
            });
    });
}

void AppUpdate::verify(const QString& app, const QString& reference, Done done)
{
    const QString key = reference + QLatin1Char('/') + QLatin1String(ReleaseManifest::publicKeyPath);
    const QString manifest = app + QLatin1Char('/') + QLatin1String(ReleaseManifest::manifestPath);
    // Only the running copy's own key is trusted; the id a key carries proves
    // nothing by itself, since anyone making a key chooses it.
    run(options_.tools.minisign,
        {QStringLiteral("-V"), QStringLiteral("-q"), QStringLiteral("-p"), key, QStringLiteral("-m"), manifest},
        [this, app, reference, done](const Outcome& signature) {
            if (!signature.ok)
                return done(signature);
            onWorker(
                [app] {
                    const QString mismatch = ReleaseManifest::check(app);
                    return mismatch.isEmpty() ? Outcome::success({}) : Outcome::failure(mismatch);
                },
                [app, reference, done](const Outcome& files) {
                    if (!files.ok)
                        return done(files);
                    const QString a = team(app);
                    const QString b = team(reference);
                    if (a == b && a != QLatin1String("not set"))
                        return done(Outcome::success({}));
                    done(Outcome::failure(QStringLiteral("signed by ") + a + QStringLiteral(", not ") + b));
                });
        });
}

QString AppUpdate::team(const QString& app)
{
    const QString notSet = QStringLiteral("not set");
    QFile file(app + QLatin1Char('/') + QLatin1String(ReleaseManifest::signaturePath));
    if (!file.open(QIODevice::ReadOnly))
        return notSet;
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    if (lines.size() < 2)
        return notSet;
    // Two algorithm bytes, the signer's 8-byte key id (little-endian), the
    // 64-byte signature.
    const auto result = QByteArray::fromBase64Encoding(lines[1].trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray& bytes = result.decoded;
    if (!result || bytes.size() != 74 || bytes[0] != 'E' || (bytes[1] != 'd' && bytes[1] != 'D'))
        return notSet;
    quint64 id = 0;
    for (int i = 9; i >= 2; --i)
        id = (id << 8) | quint8(bytes[i]);
    // As minisign prints key ids: upper case, no leading zeros.
    return QString::number(id, 16).toUpper();
}

FileDigest AppUpdate::sha256(const QString& path)
{
    return sha256OfFile(path);
}

void AppUpdate::run(const QString& tool, const QStringList& arguments, Done done)
{
    auto* process = new QProcess(this);
    process->setProgram(tool);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    // Exactly one of the two handlers below answers.
    auto answered = std::make_shared<bool>(false);
    connect(process, &QProcess::finished, this,
            [process, tool, done, answered](int code, QProcess::ExitStatus status) {
                if (std::exchange(*answered, true))
                    return;
                const QString output = utf8OrEmpty(process->readAll());
                process->deleteLater();
                if (status == QProcess::NormalExit && code == 0)
                    return done(Outcome::success(output));
                done(Outcome::failure(QFileInfo(tool).fileName() + QStringLiteral(": ") + output.trimmed()));
            });
    connect(process, &QProcess::errorOccurred, this, [process, done, answered](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || std::exchange(*answered, true))
            return;
        const QString reason = process->errorString();
        process->deleteLater();
        done(Outcome::failure(reason));
    });
    process->start();
}

void AppUpdate::onWorker(std::function<Outcome()> work, Done done)
{
    QPointer<AppUpdate> self(this);
    QThreadPool::globalInstance()->start([self, work = std::move(work), done = std::move(done)]() mutable {
        Outcome outcome = work();
        // Back on the main thread; the application object outlives the updater.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, outcome = std::move(outcome), done = std::move(done)] {
                if (self)
                    done(outcome);
            },
            Qt::QueuedConnection);
    });
}

// ---- The swap ----

QString AppUpdate::swapScript()
{
    // $1 the process to wait for, $2 the staged folder, $3 the running one,
    // $4 "1" to relaunch, $5 the update folder. Paths are only ever expanded
    // inside double quotes, never pasted into the text.
    const QStringList lines{
        QStringLiteral(R"(while /bin/kill -0 "$1" 2>/dev/null; do /bin/sleep 0.2; done)"),
        QStringLiteral(R"(old="$3.updating-$$")"),
        QStringLiteral(R"(/bin/mv "$3" "$old" || exit 1)"),
        QStringLiteral(R"(if /bin/mv "$2" "$3"; then /bin/rm -rf "$old"; else /bin/mv "$old" "$3"; fi)"),
        QStringLiteral(R"(/bin/rm -rf "$5")"),
        QStringLiteral(R"([ "$4" = 1 ] && /usr/bin/setsid -f "$3/bin/kavri-zelvo" </dev/null >/dev/null 2>&1)"),
        QStringLiteral("exit 0"),
    };
    return lines.join(QLatin1Char('\n'));
}

void AppUpdate::swapAfterExit(bool relaunch)
{
    if (!staged_)
        return;
    setState(State::idle());
    QProcess process;
    process.setProgram(options_.tools.shell);
    process.setArguments({QStringLiteral("-c"), swapScript(), QStringLiteral("swap"), QString::number(options_.pid),
                          *staged_, options_.bundle, relaunch ? QStringLiteral("1") : QStringLiteral("0"),
                          options_.folder});
    // The script outlives this process: it holds none of its pipes.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached(); // a failure to start is ignored
}

} // namespace zelvo
