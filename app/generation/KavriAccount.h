#pragma once
// The user's key for the content service, the outcome of its last check and
// the model manifest's files. This build reads no key and checks nothing: the
// account stays empty and its operations do nothing.
//
// Main thread only.
#include <QObject>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <vector>

namespace zelvo {

class KavriAccount final : public QObject {
    Q_OBJECT
public:
    struct Check {
        enum class Kind { ok, bad, none, checking };
        Kind kind = Kind::none;
        std::int64_t files = 0;  // for ok
        double gigabytes = 0.0;  // for ok
        QString message;         // for bad
        friend bool operator==(const Check&, const Check&) = default;
    };
    struct ManifestFile {
        QString path;
        std::int64_t bytes = 0;
        friend bool operator==(const ManifestFile&, const ManifestFile&) = default;
    };

    explicit KavriAccount(QObject* parent = nullptr);

    const QString& key() const { return key_; }
    const Check& check() const { return check_; }
    const std::vector<ManifestFile>& files() const { return files_; }
    // The key for display: whole below 15 characters, else its first 10, "…"
    // and its last 4. Main thread.
    QString masked() const;
    // The page where a free key is obtained.
    static QUrl signUp();

    void verify() {}
    void save(const QString& text) { (void)text; }
    void forget() {}

signals:
    void keyChanged();
    void checkChanged();
    void filesChanged();

private:
    QString key_;
    Check check_;
    std::vector<ManifestFile> files_;
};

} // namespace zelvo
