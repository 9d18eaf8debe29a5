#include "generation/ForkSettings.h"

#include "generation/Caption.h"
#include "library/JsonInteger.h"
#include "platform/UserDefaults.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace zelvo {

namespace {

bool readInteger(const QJsonObject& o, const char* key, std::int64_t& out)
{
    const auto v = jsonInteger(o.value(QLatin1String(key)));
    if (!v)
        return false;
    out = *v;
    return true;
}

bool readNumber(const QJsonObject& o, const char* key, double& out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble())
        return false;
    out = v.toDouble();
    return true;
}

bool readBool(const QJsonObject& o, const char* key, bool& out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isBool())
        return false;
    out = v.toBool();
    return true;
}

bool readString(const QJsonObject& o, const char* key, QString& out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        return false;
    out = v.toString();
    return true;
}

} // namespace

QString ForkSettings::defaultPrompt()
{
    return Caption::trained();
}

QJsonObject ForkSettings::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("aheadBars"), qint64(aheadBars));
    o.insert(QStringLiteral("contextBars"), qint64(contextBars));
    o.insert(QStringLiteral("lengthBars"), qint64(lengthBars));
    o.insert(QStringLiteral("steps"), qint64(steps));
    o.insert(QStringLiteral("guidance"), guidance);
    o.insert(QStringLiteral("seed"), qint64(seed));
    o.insert(QStringLiteral("lockSeed"), lockSeed);
    o.insert(QStringLiteral("prompt"), prompt);
    o.insert(QStringLiteral("negativePrompt"), negativePrompt);
    if (model)
        o.insert(QStringLiteral("model"), *model);
    o.insert(QStringLiteral("loraStrength"), loraStrength);
    return o;
}

std::optional<ForkSettings> ForkSettings::fromJson(const QJsonObject& o)
{
    ForkSettings s;
    if (!readInteger(o, "aheadBars", s.aheadBars) || !readInteger(o, "contextBars", s.contextBars)
        || !readInteger(o, "lengthBars", s.lengthBars) || !readInteger(o, "steps", s.steps)
        || !readNumber(o, "guidance", s.guidance) || !readInteger(o, "seed", s.seed)
        || !readBool(o, "lockSeed", s.lockSeed) || !readString(o, "prompt", s.prompt)
        || !readString(o, "negativePrompt", s.negativePrompt) || !readNumber(o, "loraStrength", s.loraStrength))
        return std::nullopt;
    const QJsonValue model = o.value(QLatin1String("model"));
    if (model.isUndefined() || model.isNull())
        s.model.reset();
    else if (model.isString())
        s.model = model.toString();
    else
        return std::nullopt;
    return s;
}

QByteArray ForkSettings::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<ForkSettings> ForkSettings::decode(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(document.object());
}

ForkSettings ForkSettings::restore(const UserDefaults& defaults)
{
    if (const auto data = defaults.data(QLatin1String(defaultsKey))) {
        if (auto settings = decode(*data))
            return *settings;
    }
    return ForkSettings{};
}

bool ForkSettings::store(UserDefaults& defaults) const
{
    return defaults.setData(QLatin1String(defaultsKey), encode());
}

} // namespace zelvo
