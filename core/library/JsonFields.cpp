#include "library/JsonFields.h"

#include <QJsonObject>
#include <QJsonValue>

namespace zelvo {

std::optional<std::int64_t> jsonInteger(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // toInteger answers its default for a fraction or a value past 64 bits; asking
    // with two different defaults tells that apart from a stored value.
    const qint64 a = value.toInteger(0);
    if (a != value.toInteger(1))
        return std::nullopt;
    return std::int64_t(a);
}

bool readString(const QJsonObject& object, QStringView key, QString& out)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

bool readNumber(const QJsonObject& object, QStringView key, double& out)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return false;
    out = value.toDouble();
    return true;
}

bool readInteger(const QJsonObject& object, QStringView key, std::int64_t& out)
{
    const std::optional<std::int64_t> value = jsonInteger(object.value(key));
    if (!value)
        return false;
    out = *value;
    return true;
}

bool readBool(const QJsonObject& object, QStringView key, bool& out)
{
    const QJsonValue value = object.value(key);
    if (!value.isBool())
        return false;
    out = value.toBool();
    return true;
}

} // namespace zelvo
