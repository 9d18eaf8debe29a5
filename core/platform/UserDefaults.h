#pragma once
// The user defaults: the program's settings as typed values under dotted keys
// ("audio.device", "fork.settings"), kept in one JSON file.
//
// Every value carries its type. A value stored as one type and read as another
// reads as absent, so a caller falls back to its default exactly as when the
// key is missing. Integers are 64-bit and doubles keep every bit of their
// value (including NaN, the infinities and -0), which plain JSON numbers
// cannot do.
//
// Saving: every setter that changes the stored value writes the whole file at
// once, atomically (a temporary file renamed over the old one), so a crash or a
// full disk leaves the previous file intact. Setting a value equal to the stored
// one writes nothing. A write that fails keeps the value in memory, reports
// false and is retried by the next setter or by `save()`.
//
// A missing file loads as empty. A file that cannot be read as this store's
// format also loads as empty (or with the entries that could be read), and is
// moved aside to "<name>.corrupt-<yyyyMMdd-HHmmss>" just before it is first
// overwritten, so nothing the user had disappears silently.
//
// Main thread only: the store is a plain object without locks.
#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <variant>

namespace zelvo {

class UserDefaults {
public:
    enum class Type { Integer, Double, Boolean, String, StringList, Data, Json };

    // Opens the store kept in `filePath` and loads what it holds. Main thread.
    explicit UserDefaults(QString filePath = defaultPath());

    // The standard file: "defaults.json" in Folders::config(). Any thread.
    static QString defaultPath();

    // The file this store reads and writes. Main thread.
    const QString& filePath() const { return path_; }

    // Readers: the stored value when the key holds one of this type, else
    // nothing. Main thread.
    std::optional<std::int64_t> integer(const QString& key) const;
    std::optional<double> real(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    std::optional<QStringList> stringList(const QString& key) const;
    // Binary data, any bytes (for example a JSON document a caller encoded).
    std::optional<QByteArray> data(const QString& key) const;
    // A JSON value kept readable in the file. An undefined QJsonValue is never
    // stored (setJson of one removes the key).
    std::optional<QJsonValue> json(const QString& key) const;

    // The type of the value under `key`, nothing when absent. Main thread.
    std::optional<Type> type(const QString& key) const;
    // Whether the key holds a value of any type. Main thread.
    bool contains(const QString& key) const { return values_.count(key) != 0; }
    // Every key, in sorted order. Main thread.
    QStringList keys() const;

    // Writers: store the value (replacing one of any type) and save when it
    // changed. Return false when the save failed (see `lastError`). Main thread.
    bool setInteger(const QString& key, std::int64_t value);
    bool setReal(const QString& key, double value);
    bool setBoolean(const QString& key, bool value);
    bool setString(const QString& key, const QString& value);
    bool setStringList(const QString& key, const QStringList& value);
    bool setData(const QString& key, const QByteArray& value);
    bool setJson(const QString& key, const QJsonValue& value);
    // Removes the key; saves when it was present. Main thread.
    bool remove(const QString& key);

    // Writes the file now if anything is unsaved. Returns true when the file
    // matches memory afterwards. Main thread.
    bool save();
    // True while a change is not yet on disk (a failed write). Main thread.
    bool hasUnsavedChanges() const { return dirty_; }
    // The reason of the last failed load, move-aside or save; empty when the
    // last save succeeded. Main thread.
    const QString& lastError() const { return error_; }
    // Where a damaged file was moved aside by this store, empty when none was.
    // Main thread.
    const QString& movedAsidePath() const { return movedAside_; }

private:
    // Alternatives in the order of Type.
    using Value = std::variant<std::int64_t, double, bool, QString, QStringList, QByteArray, QJsonValue>;

    template <typename T>
    std::optional<T> get(const QString& key) const;
    void load();
    bool store(const QString& key, Value value);
    bool moveDamagedFileAside();
    QByteArray encode() const;

    QString path_;
    std::map<QString, Value> values_;
    bool dirty_ = false;
    bool damaged_ = false; // the file on disk holds something we could not read
    QString error_;
    QString movedAside_;
};

} // namespace zelvo
