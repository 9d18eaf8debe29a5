#pragma once
// The user's personal key to the maker's content service: kept in a private
// file in the home folder, checked by fetching the model manifest with the key
// as a bearer token, and published with the check's outcome and the manifest's
// file list (which the model installation measures its progress against).
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Scheduler.h"

class QNetworkReply;

namespace zelvo {

class KavriAccount final : public QObject {
    Q_OBJECT
public:
    // One file of the model manifest: its path relative to the model server's
    // home folder and its size in bytes.
    struct ManifestFile {
        QString path;
        std::int64_t bytes = 0;
        bool operator==(const ManifestFile&) const = default;
    };

    // The outcome of the last check.
    class Check {
    public:
        enum class Kind { ok, bad, none, checking };

        static Check ok(int files, double gigabytes) { return Check(Kind::ok, files, gigabytes, {}); }
        static Check bad(QString text) { return Check(Kind::bad, 0, 0.0, std::move(text)); }
        static Check none() { return Check(); }
        static Check checking() { return Check(Kind::checking, 0, 0.0, {}); }

        Check() = default;
        Kind kind() const { return kind_; }
        bool isOk() const { return kind_ == Kind::ok; }
        // The manifest's entry count and total size in decimal gigabytes (ok only).
        int files() const { return files_; }
        double gigabytes() const { return gigabytes_; }
        // The text the views show unchanged (bad only).
        const QString& text() const { return text_; }
        bool operator==(const Check&) const = default;

    private:
        Check(Kind kind, int files, double gigabytes, QString text)
            : kind_(kind), files_(files), gigabytes_(gigabytes), text_(std::move(text))
        {
        }
        Kind kind_ = Kind::none;
        int files_ = 0;
        double gigabytes_ = 0.0;
        QString text_;
    };

    // The longest wait for the manifest, in seconds.
    static constexpr double checkTimeout = 15.0;

    // The key file: the home folder + ".kavri_key". Computed once. Main thread.
    static const QString& file();
    // The service's base URL: KAVRI_CDN when set, else the default base (a
    // value that is not an absolute URL stays as it is and makes every check
    // fail as unreachable). Computed once. Main thread.
    static const QUrl& cdn();
    // The page where a free key is obtained.
    static QUrl signUp();
    // The service's host name as the texts name it.
    static QString host();

    // Reads the key file at `keyFile` and, when it holds a key, posts a check
    // against `base` (it runs from the event loop, after the constructor).
    // The time-out runs on `scheduler`, which must outlive the account.
    // Main thread.
    explicit KavriAccount(Scheduler& scheduler, QUrl base = cdn(), QString keyFile = file(),
                          QObject* parent = nullptr);
    ~KavriAccount() override;

    const QString& key() const { return key_; }
    const Check& check() const { return check_; }
    const std::vector<ManifestFile>& files() const { return files_; }
    const QUrl& base() const { return base_; }
    const QString& keyFile() const { return keyFile_; }

    // The key for display: whole under 15 characters, else its first 10, "…"
    // and its last 4 (characters as the user sees them).
    QString masked() const;

    // Checks `key` against the service and sets `check` and `files`. A check
    // still running is dropped. Main thread.
    void verify();
    // Trims `text`; when something is left, stores it in the key file (mode
    // 0600), sets `key` and posts a check. A failed write sets `check` to the
    // save error and leaves `key` and the file as they were. Main thread.
    void save(const QString& text);
    // Deletes the key file and clears `key`, `check` and `files`. Main thread.
    void forget();

    // A manifest read from an answer's body: every entry of "files" counted,
    // the well-formed ones kept in order.
    struct Manifest {
        int entries = 0;
        std::vector<ManifestFile> files;
        double gigabytes = 0.0; // the kept files' bytes / 10^9
    };
    // The body as JSON text of any kind (object, array, scalar), or nothing
    // when it is not JSON. Any thread.
    static std::optional<QJsonValue> parseJson(const QByteArray& body);
    // The manifest in `json`, or nothing when it is not an object whose
    // "files" is an array of objects. An entry is kept when its "path" is a
    // relative path inside the model's folder and its "bytes" a whole number
    // from 0 to 2^63-1. Any thread.
    static std::optional<Manifest> readManifest(const QJsonValue& json);

    // The message texts. Any thread.
    static QString offlineText();
    static QString unrecognisedText();
    static QString statusText(int status);
    static QString saveErrorText(const QString& reason);

signals:
    void keyChanged();
    void checkChanged();
    void filesChanged();

private:
    struct Outcome;
    void setKey(const QString& key);
    void setCheck(const Check& check);
    void setFiles(std::vector<ManifestFile> files);
    void postVerify();
    void dropRequest();
    void finishRequest(bool timedOut);
    void apply(const QString& sentKey, const Outcome& outcome);

    Scheduler* scheduler_;
    QUrl base_;
    QString keyFile_;
    QString key_;
    Check check_;
    std::vector<ManifestFile> files_;

    QPointer<QNetworkReply> reply_;
    QString sentKey_;
    bool oversize_ = false;
    Scheduler::TimerId timer_ = 0;
};

} // namespace zelvo
