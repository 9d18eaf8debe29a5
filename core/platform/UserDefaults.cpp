#include "platform/UserDefaults.h"

#include "platform/Folders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <charconv>
#include <cstring>

namespace zelvo {

namespace {

// The file: {"version": 1, "values": {"<key>": {"type": "<tag>", "value": ...}}}.
// Integers and doubles are written as text so that no JSON reader rounds them.
constexpr int kFormatVersion = 1;
const QString kVersion = QStringLiteral("version");
const QString kValues = QStringLiteral("values");
const QString kType = QStringLiteral("type");
const QString kValue = QStringLiteral("value");

const char* const kTags[] = {"integer", "double", "bool", "string", "strings", "data", "json"};

std::optional<UserDefaults::Type> typeFromTag(const QString& tag)
{
    for (std::size_t i = 0; i < std::size(kTags); ++i) {
        if (tag == QLatin1String(kTags[i]))
            return UserDefaults::Type(i);
    }
    return std::nullopt;
}

QString integerText(std::int64_t value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

// The shortest text that reads back to exactly the same double; "nan", "-nan",
// "inf" and "-inf" for the special values.
QString doubleText(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

template <typename T>
std::optional<T> parseNumber(const QJsonValue& json)
{
    if (!json.isString())
        return std::nullopt;
    const QByteArray text = json.toString().toLatin1();
    T value{};
    const char* end = text.constData() + text.size();
    const auto result = std::from_chars(text.constData(), end, value);
    if (result.ec != std::errc() || result.ptr != end || text.isEmpty())
        return std::nullopt;
    return value;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

UserDefaults::UserDefaults(QString filePath)
    : path_(std::move(filePath))
{
    load();
}

QString UserDefaults::defaultPath()
{
    return Folders::config() + QStringLiteral("/defaults.json");
}

void UserDefaults::load()
{
    QFile file(path_);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        damaged_ = true;
        error_ = QStringLiteral("cannot read %1: %2").arg(path_, file.errorString());
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonObject root = document.object();
    if (parseError.error != QJsonParseError::NoError || !document.isObject()
        || root.value(kVersion) != QJsonValue(kFormatVersion) || !root.value(kValues).isObject()) {
        damaged_ = true;
        error_ = QStringLiteral("unreadable settings file %1").arg(path_);
        return;
    }

    const QJsonObject values = root.value(kValues).toObject();
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const auto type = typeFromTag(entry.value(kType).toString());
        const QJsonValue raw = entry.value(kValue);
        std::optional<Value> value;
        if (type && entry.contains(kValue)) {
            switch (*type) {
            case Type::Integer:
                if (const auto v = parseNumber<std::int64_t>(raw))
                    value = *v;
                break;
            case Type::Double:
                if (const auto v = parseNumber<double>(raw))
                    value = *v;
                break;
            case Type::Boolean:
                if (raw.isBool())
                    value = raw.toBool();
                break;
            case Type::String:
                if (raw.isString())
                    value = raw.toString();
                break;
            case Type::StringList:
                if (raw.isArray()) {
                    QStringList list;
                    bool ok = true;
                    for (const QJsonValue& item : raw.toArray()) {
                        ok = ok && item.isString();
                        list.append(item.toString());
                    }
                    if (ok)
                        value = list;
                }
                break;
            case Type::Data:
                if (raw.isString()) {
                    const auto decoded = QByteArray::fromBase64Encoding(
                        raw.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
                    if (decoded)
                        value = *decoded;
                }
                break;
            case Type::Json:
                value = raw;
                break;
            }
        }
        if (value) {
            values_.emplace(it.key(), std::move(*value));
        } else {
            // Keep what can be read, but the file is not rewritten over the
            // entry we could not read before a copy of it is set aside.
            damaged_ = true;
            error_ = QStringLiteral("unreadable entry \"%1\" in %2").arg(it.key(), path_);
        }
    }
}

template <typename T>
std::optional<T> UserDefaults::get(const QString& key) const
{
    const auto it = values_.find(key);
    if (it == values_.end() || !std::holds_alternative<T>(it->second))
        return std::nullopt;
    return std::get<T>(it->second);
}

std::optional<std::int64_t> UserDefaults::integer(const QString& key) const { return get<std::int64_t>(key); }
std::optional<double> UserDefaults::real(const QString& key) const { return get<double>(key); }
std::optional<bool> UserDefaults::boolean(const QString& key) const { return get<bool>(key); }
std::optional<QString> UserDefaults::string(const QString& key) const { return get<QString>(key); }
std::optional<QStringList> UserDefaults::stringList(const QString& key) const { return get<QStringList>(key); }
std::optional<QByteArray> UserDefaults::data(const QString& key) const { return get<QByteArray>(key); }
std::optional<QJsonValue> UserDefaults::json(const QString& key) const { return get<QJsonValue>(key); }

std::optional<UserDefaults::Type> UserDefaults::type(const QString& key) const
{
    const auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return Type(it->second.index());
}

QStringList UserDefaults::keys() const
{
    QStringList result;
    for (const auto& entry : values_)
        result.append(entry.first);
    return result;
}

bool UserDefaults::setInteger(const QString& key, std::int64_t value) { return store(key, value); }
bool UserDefaults::setReal(const QString& key, double value) { return store(key, value); }
bool UserDefaults::setBoolean(const QString& key, bool value) { return store(key, value); }
bool UserDefaults::setString(const QString& key, const QString& value) { return store(key, value); }
bool UserDefaults::setStringList(const QString& key, const QStringList& value) { return store(key, value); }
bool UserDefaults::setData(const QString& key, const QByteArray& value) { return store(key, value); }

bool UserDefaults::setJson(const QString& key, const QJsonValue& value)
{
    if (value.isUndefined())
        return remove(key);
    return store(key, value);
}

bool UserDefaults::remove(const QString& key)
{
    if (values_.erase(key) != 0)
        dirty_ = true;
    return save();
}

bool UserDefaults::store(const QString& key, Value value)
{
    const auto it = values_.find(key);
    if (it != values_.end() && it->second.index() == value.index()) {
        // Doubles compare by their bits: NaN equals the same NaN, -0 is not 0.
        const bool unchanged = std::holds_alternative<double>(value)
            ? sameBits(std::get<double>(value), std::get<double>(it->second))
            : it->second == value;
        if (unchanged)
            return save();
    }
    values_.insert_or_assign(key, std::move(value));
    dirty_ = true;
    return save();
}

bool UserDefaults::save()
{
    if (!dirty_)
        return true;
    if (damaged_ && !moveDamagedFileAside())
        return false;

    const QFileInfo info(path_);
    if (!QDir().mkpath(info.absolutePath())) {
        error_ = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    // Unbuffered, and written in a loop: a buffered QSaveFile that meets a short
    // write (a full disk, a file-size limit) can still commit the truncated
    // file. Here a short write is retried, and the retry reports the error.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error_ = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
        return false;
    }
    const QByteArray bytes = encode();
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 chunk = file.write(bytes.constData() + written, bytes.size() - written);
        if (chunk <= 0)
            break;
        written += chunk;
    }
    if (written != bytes.size() || !file.commit()) {
        error_ = QStringLiteral("cannot write %1: %2").arg(path_, file.errorString());
        file.cancelWriting();
        return false;
    }
    dirty_ = false;
    error_.clear();
    return true;
}

bool UserDefaults::moveDamagedFileAside()
{
    if (!QFileInfo::exists(path_)) {
        damaged_ = false;
        return true;
    }
    const QString stem = path_ + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = stem;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = stem + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path_, target)) {
        error_ = QStringLiteral("cannot move the unreadable settings file %1 aside").arg(path_);
        return false;
    }
    movedAside_ = target;
    damaged_ = false;
    return true;
}

QByteArray UserDefaults::encode() const
{
    QJsonObject values;
    for (const auto& [key, value] : values_) {
        QJsonObject entry;
        entry.insert(kType, QLatin1String(kTags[value.index()]));
        switch (Type(value.index())) {
        case Type::Integer:
            entry.insert(kValue, integerText(std::get<std::int64_t>(value)));
            break;
        case Type::Double:
            entry.insert(kValue, doubleText(std::get<double>(value)));
            break;
        case Type::Boolean:
            entry.insert(kValue, std::get<bool>(value));
            break;
        case Type::String:
            entry.insert(kValue, std::get<QString>(value));
            break;
        case Type::StringList:
            entry.insert(kValue, QJsonArray::fromStringList(std::get<QStringList>(value)));
            break;
        case Type::Data:
            entry.insert(kValue, QString::fromLatin1(std::get<QByteArray>(value).toBase64()));
            break;
        case Type::Json:
            entry.insert(kValue, std::get<QJsonValue>(value));
            break;
        }
        values.insert(key, entry);
    }
    QJsonObject root;
    root.insert(kVersion, kFormatVersion);
    root.insert(kValues, values);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace zelvo
