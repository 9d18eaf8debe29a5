#include "generation/ForkSettings.h"

#include "generation/Caption.h"
#include "library/JsonFields.h"
#include "platform/UserDefaults.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

namespace zelvo {

QString ForkSettings::defaultPrompt()
{
    return Caption::trained();
}

QJsonObject ForkSettings::toJson() const
{
    // JSON has no NaN or infinity (Qt would write null, and the strict reader would
    // then throw away every setting): a non-finite number is stored as its default.
    const ForkSettings defaults;
    const auto finite = [](double v, double fallback) { return std::isfinite(v) ? v : fallback; };
    QJsonObject o;
    o.insert(QStringLiteral("aheadBars"), qint64(aheadBars));
    o.insert(QStringLiteral("contextBars"), qint64(contextBars));
    o.insert(QStringLiteral("lengthBars"), qint64(lengthBars));
    o.insert(QStringLiteral("steps"), qint64(steps));
    o.insert(QStringLiteral("guidance"), finite(guidance, defaults.guidance));
    o.insert(QStringLiteral("seed"), qint64(seed));
    o.insert(QStringLiteral("lockSeed"), lockSeed);
    o.insert(QStringLiteral("prompt"), prompt);
    o.insert(QStringLiteral("negativePrompt"), negativePrompt);
    if (model)
        o.insert(QStringLiteral("model"), *model);
    o.insert(QStringLiteral("loraStrength"), finite(loraStrength, defaults.loraStrength));
    return o;
}

std::optional<ForkSettings> ForkSettings::fromJson(const QJsonObject& o)
{
    ForkSettings s;
    if (!readInteger(o, u"aheadBars", s.aheadBars) || !readInteger(o, u"contextBars", s.contextBars)
        || !readInteger(o, u"lengthBars", s.lengthBars) || !readInteger(o, u"steps", s.steps)
        || !readNumber(o, u"guidance", s.guidance) || !readInteger(o, u"seed", s.seed)
        || !readBool(o, u"lockSeed", s.lockSeed) || !readString(o, u"prompt", s.prompt)
        || !readString(o, u"negativePrompt", s.negativePrompt) || !readNumber(o, u"loraStrength", s.loraStrength))
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
