#include "generation/WireJson.h"

#include <cmath>

namespace zelvo {

std::optional<qint64> wireInteger(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    // 2^63 bounds the 64-bit range; both ends are exact in a double.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(d) || std::floor(d) != d || d < -limit || d >= limit)
        return std::nullopt;
    // toInteger keeps integers beyond 2^53 exact when the parser stored them so.
    return value.toInteger(static_cast<qint64>(d));
}

} // namespace zelvo
