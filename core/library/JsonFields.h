#pragma once
// Reading typed fields of stored JSON objects. Qt hands every number out as a
// double and every missing key as undefined; these tell a field of the wanted
// kind from anything else, so a reader can refuse a record all or nothing.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

class QJsonObject;
class QJsonValue;

namespace zelvo {

// The value as a signed 64-bit integer when it is a number with a whole value
// that fits (4 and 4.0 alike; integers past 2^53 intact when the text held them
// as integers); empty for fractions, out-of-range numbers and non-numbers.
// Any thread.
std::optional<std::int64_t> jsonInteger(const QJsonValue& value);

// Each sets `out` and answers true when `object[key]` holds a value of its kind
// (a whole number that fits 64 bits for readInteger); otherwise answers false
// and leaves `out` as it was. Any thread.
bool readString(const QJsonObject& object, QStringView key, QString& out);
bool readNumber(const QJsonObject& object, QStringView key, double& out);
bool readInteger(const QJsonObject& object, QStringView key, std::int64_t& out);
bool readBool(const QJsonObject& object, QStringView key, bool& out);

} // namespace zelvo
