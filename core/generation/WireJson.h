#pragma once
// Strict reading of JSON values on the model server's wire. Integers are read
// with jsonInteger (library/JsonFields.h), as the library's stored JSON is.
#include <QJsonValue>

namespace zelvo {

// True when the key is missing or holds JSON null: both mean absent. Any thread.
inline bool wireAbsent(const QJsonValue& value) { return value.isUndefined() || value.isNull(); }

} // namespace zelvo
