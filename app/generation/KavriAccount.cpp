#include "generation/KavriAccount.h"

#include "generation/ContentService.h"
#include "library/JsonFields.h"
#include "platform/AtomicFile.h"
#include "platform/Folders.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

namespace zelvo {

namespace {

// A key file larger than this holds no key.
constexpr qint64 kLargestKeyFile = 64 * 1024;
// A manifest answer larger than this is not read to its end.
constexpr qint64 kLargestManifest = 16 * 1024 * 1024;

// The key as the file holds it, or "" when the file is missing, unreadable,
// too large or not valid UTF-8.
QString readKeyFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(kLargestKeyFile + 1);
    if (bytes.size() > kLargestKeyFile || file.error() != QFileDevice::NoError)
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return {};
    return text.trimmed();
}

// A key that cannot go into a header line as it is: control characters and
// line separators could end the header and start another.
bool unsendable(const QString& key)
{
    for (const QChar c : key) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            return true;
    }
    return false;
}

// A manifest path the installer can place under the model server's home:
// relative, no "." or ".." component, no empty component, no NUL.
bool safeRelativePath(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return false;
    for (const QStringView part : QStringView(path).split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

} // namespace

struct KavriAccount::Outcome {
    Check check;
    std::optional<std::vector<ManifestFile>> files;
};

const QString& KavriAccount::file()
{
    static const QString path = Folders::home() + QStringLiteral("/.kavri_key");
    return path;
}

const QUrl& KavriAccount::cdn()
{
    static const QUrl base = [] {
        if (!qEnvironmentVariableIsSet("KAVRI_CDN"))
            return ContentService::defaultBase();
        return QUrl(qEnvironmentVariable("KAVRI_CDN"), QUrl::StrictMode);
    }();
    return base;
}

QUrl KavriAccount::signUp()
{
    return ContentService::signUpPage();
}

QString KavriAccount::host()
{
    return ContentService::host();
}

QString KavriAccount::offlineText()
{
    return QStringLiteral("couldn't reach ") + ContentService::host() + QStringLiteral(" — offline?");
}

QString KavriAccount::unrecognisedText()
{
    const QUrl page = ContentService::signUpPage();
    return QStringLiteral("that key isn't recognised — get one at ") + page.host() + page.path();
}

QString KavriAccount::statusText(int status)
{
    return QStringLiteral("the cdn answered ") + QString::number(status) + QStringLiteral(" — try again in a minute");
}

QString KavriAccount::saveErrorText(const QString& reason)
{
    return QStringLiteral("couldn't save the key: ") + reason;
}

KavriAccount::KavriAccount(Scheduler& scheduler, QUrl base, QString keyFile, QObject* parent)
    : QObject(parent), scheduler_(&scheduler), base_(std::move(base)), keyFile_(std::move(keyFile))
{
    key_ = readKeyFile(keyFile_);
    if (!key_.isEmpty())
        postVerify();
}

KavriAccount::~KavriAccount()
{
    dropRequest();
}

QString KavriAccount::masked() const
{
    // Characters as the user sees them: an emoji or an accented letter made of
    // several code points is one, and is never cut in half.
    std::vector<qsizetype> starts;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, key_);
    for (qsizetype at = finder.position(); at >= 0 && at < key_.size(); at = finder.toNextBoundary())
        starts.push_back(at);
    const qsizetype count = qsizetype(starts.size());
    if (count < 15)
        return key_;
    return key_.left(starts[10]) + QChar(0x2026) + key_.mid(starts[std::size_t(count - 4)]);
}

void KavriAccount::postVerify()
{
    QMetaObject::invokeMethod(this, &KavriAccount::verify, Qt::QueuedConnection);
}

void KavriAccount::verify()
{
    dropRequest();
    if (key_.isEmpty()) {
        setCheck(Check::none());
        return;
    }
    if (unsendable(key_)) {
        // The service would not recognise it either; it never goes on the wire.
        setCheck(Check::bad(unrecognisedText()));
        return;
    }
    if (!base_.isValid() || base_.isRelative()) {
        setCheck(Check::bad(offlineText()));
        return;
    }
    setCheck(Check::checking());

    QNetworkRequest request(ContentService::join(base_, u"weights/manifest"));
    request.setRawHeader("Authorization", "Bearer " + key_.toUtf8());
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    sentKey_ = key_;
    QNetworkReply* reply = ContentService::network()->get(request);
    reply_ = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply == reply_)
            finishRequest(false);
    });
    oversize_ = false;
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received > kLargestManifest && reply == reply_) {
            oversize_ = true; // no manifest is that large: not read to its end
            reply->abort();
        }
    });
    timer_ = scheduler_->runAfter(checkTimeout, [this] {
        timer_ = 0;
        if (reply_)
            finishRequest(true);
    });
}

void KavriAccount::dropRequest()
{
    if (timer_) {
        scheduler_->cancel(timer_);
        timer_ = 0;
    }
    if (QNetworkReply* reply = reply_.data()) {
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

std::optional<QJsonValue> KavriAccount::parseJson(const QByteArray& body)
{
    // Wrapped in brackets, any JSON text is one element of an array, so a bare
    // number, string or null reads as well as an object does.
    QByteArray wrapped;
    wrapped.reserve(body.size() + 2);
    wrapped.append('[').append(body).append(']');
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return std::nullopt;
    return document.array().first();
}

std::optional<KavriAccount::Manifest> KavriAccount::readManifest(const QJsonValue& json)
{
    if (!json.isObject())
        return std::nullopt;
    const QJsonValue list = json.toObject().value(QLatin1String("files"));
    if (!list.isArray())
        return std::nullopt;
    const QJsonArray entries = list.toArray();
    Manifest manifest;
    double bytes = 0.0;
    for (const QJsonValue& value : entries) {
        if (!value.isObject())
            return std::nullopt;
        ++manifest.entries;
        const QJsonObject entry = value.toObject();
        const QJsonValue path = entry.value(QLatin1String("path"));
        const std::optional<std::int64_t> size = jsonInteger(entry.value(QLatin1String("bytes")));
        if (!path.isString() || !safeRelativePath(path.toString()) || !size || *size < 0)
            continue;
        manifest.files.push_back({path.toString(), *size});
        bytes += double(*size);
    }
    manifest.gigabytes = bytes / 1e9;
    return manifest;
}

void KavriAccount::finishRequest(bool timedOut)
{
    QNetworkReply* reply = reply_.data();
    reply_ = nullptr;
    if (timer_) {
        scheduler_->cancel(timer_);
        timer_ = 0;
    }
    reply->disconnect(this);
    const QString sentKey = sentKey_;
    sentKey_.clear();

    Outcome outcome;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = timedOut ? QNetworkReply::TimeoutError : reply->error();
    const bool networkLayer = error != QNetworkReply::NoError && int(error) < 200;
    if (timedOut)
        reply->abort();
    if (oversize_) {
        outcome.check = Check::bad(statusText(statusAttribute.toInt()));
    } else if (networkLayer) {
        // Refused, closed, aborted, timed out, TLS, proxy: the service was not
        // reached, even when a status line had arrived.
        outcome.check = Check::bad(offlineText());
    } else if (!statusAttribute.isValid() && error != QNetworkReply::NoError) {
        outcome.check = Check::bad(offlineText());
    } else {
        const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
        if (status == 401 || status == 403) {
            outcome.check = Check::bad(unrecognisedText());
        } else if (status == 200) {
            const std::optional<QJsonValue> json = parseJson(reply->readAll());
            if (!json) {
                // Not JSON: a captive portal or a proxy's page, not the service.
                outcome.check = Check::bad(offlineText());
            } else if (const std::optional<Manifest> manifest = readManifest(*json)) {
                outcome.check = Check::ok(manifest->entries, manifest->gigabytes);
                outcome.files = manifest->files;
            } else {
                outcome.check = Check::bad(statusText(200));
            }
        } else {
            outcome.check = Check::bad(statusText(status));
        }
    }
    reply->deleteLater();
    apply(sentKey, outcome);
}

void KavriAccount::apply(const QString& sentKey, const Outcome& outcome)
{
    // An answer about a key that is no longer the current one (saved over or
    // forgotten meanwhile) says nothing about the current key.
    if (sentKey != key_)
        return;
    if (outcome.files)
        setFiles(*outcome.files);
    setCheck(outcome.check);
}

void KavriAccount::save(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return;
    QString error;
    if (!writeFileAtomically(keyFile_, trimmed.toUtf8(), &error, true, mode_t(0600))) {
        dropRequest();
        setCheck(Check::bad(saveErrorText(error)));
        return;
    }
    dropRequest();
    setKey(trimmed);
    // The previous outcome belongs to the previous key: nothing may act on it
    // until the new key has been checked.
    setCheck(Check::checking());
    postVerify();
}

void KavriAccount::forget()
{
    QFile::remove(keyFile_);
    dropRequest();
    setKey(QString());
    setCheck(Check::none());
    setFiles({});
}

void KavriAccount::setKey(const QString& key)
{
    if (key == key_)
        return;
    key_ = key;
    emit keyChanged();
}

void KavriAccount::setCheck(const Check& check)
{
    if (check == check_)
        return;
    check_ = check;
    emit checkChanged();
}

void KavriAccount::setFiles(std::vector<ManifestFile> files)
{
    if (files == files_)
        return;
    files_ = std::move(files);
    emit filesChanged();
}

} // namespace zelvo
