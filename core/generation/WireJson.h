#pragma once
// Strict reading of JSON values on the model server's wire.
#include <QJsonValue>
#include <optional>

namespace zelvo {

// The value as an integer: a JSON number with no fractional part that fits in
// 64 bits; nothing for anything else (a fraction, a string, a bool). Any thread.
std::optional<qint64> wireInteger(const QJsonValue& value);

// True when the key is missing or holds JSON null: both mean absent. Any thread.
inline bool wireAbsent(const QJsonValue& value) { return value.isUndefined() || value.isNull(); }

} // namespace zelvo
