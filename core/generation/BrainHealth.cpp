#include "generation/BrainHealth.h"

#include "generation/WireJson.h"
#include "library/JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zelvo {
namespace {

// Reads the report's keys, remembering the first that failed.
class Reader {
public:
    explicit Reader(const QJsonObject& o) : o_(o) {}

    bool failed() const { return !error_.isEmpty(); }
    const QString& error() const { return error_; }

    template <class T, class Convert>
    std::optional<T> optional(const char* key, Convert convert)
    {
        const QJsonValue v = o_.value(QLatin1String(key));
        if (wireAbsent(v))
            return std::nullopt;
        std::optional<T> out = convert(v);
        if (!out)
            fail(key, "has the wrong type");
        return out;
    }

    template <class T, class Convert>
    T required(const char* key, Convert convert)
    {
        if (wireAbsent(o_.value(QLatin1String(key)))) {
            fail(key, "is missing");
            return T{};
        }
        return optional<T>(key, convert).value_or(T{});
    }

private:
    void fail(const char* key, const char* what)
    {
        if (error_.isEmpty())
            error_ = QStringLiteral("health report: \"%1\" %2").arg(QLatin1String(key), QLatin1String(what));
    }

    const QJsonObject& o_;
    QString error_;
};

std::optional<bool> asBool(const QJsonValue& v)
{
    return v.isBool() ? std::optional<bool>(v.toBool()) : std::nullopt;
}

std::optional<QString> asString(const QJsonValue& v)
{
    return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
}

std::optional<double> asNumber(const QJsonValue& v)
{
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

std::optional<QStringList> asStrings(const QJsonValue& v)
{
    if (!v.isArray())
        return std::nullopt;
    QStringList out;
    for (const QJsonValue& item : v.toArray()) {
        if (!item.isString())
            return std::nullopt;
        out.append(item.toString());
    }
    return out;
}

std::optional<QList<BrainModel>> asModels(const QJsonValue& v)
{
    if (!v.isArray())
        return std::nullopt;
    QList<BrainModel> out;
    for (const QJsonValue& item : v.toArray()) {
        if (!item.isObject())
            return std::nullopt;
        const QJsonObject o = item.toObject();
        const QJsonValue name = o.value(QLatin1String("name"));
        const QJsonValue kind = o.value(QLatin1String("kind"));
        if (!name.isString() || !kind.isString())
            return std::nullopt;
        out.append(BrainModel{name.toString(), kind.toString()});
    }
    return out;
}

std::optional<std::map<QString, qint64>> asTrackCounts(const QJsonValue& v)
{
    if (!v.isObject())
        return std::nullopt;
    std::map<QString, qint64> out;
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const auto n = jsonInteger(it.value());
        if (!n)
            return std::nullopt;
        out[it.key()] = *n;
    }
    return out;
}

} // namespace

std::optional<BrainHealth> BrainHealth::decode(const QByteArray& body, QString* why)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        if (why) {
            *why = parseError.error != QJsonParseError::NoError
                ? QStringLiteral("health report is not JSON: %1").arg(parseError.errorString())
                : QStringLiteral("health report is not a JSON object");
        }
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Reader r(o);
    BrainHealth h;
    h.ok = r.required<bool>("ok", asBool);
    h.state = r.required<QString>("state", asString);
    h.dit = r.required<QString>("dit", asString);
    h.warm = r.required<bool>("warm", asBool);
    h.latents = r.optional<qint64>("latents", jsonInteger);
    h.missing = r.required<QStringList>("missing", asStrings);
    h.activeGB = r.required<double>("active_gb", asNumber);
    h.peakGB = r.required<double>("peak_gb", asNumber);
    h.lastElapsed = r.optional<double>("last_elapsed", asNumber);
    h.models = r.required<QList<BrainModel>>("models", asModels);
    h.model = r.optional<QString>("model", asString);
    h.modelsDir = r.optional<QString>("models_dir", asString);
    h.fast = r.optional<QString>("fast", asString);
    h.pid = r.optional<qint64>("pid", jsonInteger);
    h.fastLoaded = r.optional<bool>("fast_loaded", asBool);
    h.tracksReady = r.optional<std::map<QString, qint64>>("tracks_ready", asTrackCounts);
    if (r.failed()) {
        if (why)
            *why = r.error();
        return std::nullopt;
    }
    return h;
}

} // namespace zelvo
