#include "library/JsonInteger.h"

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

} // namespace zelvo
