#pragma once
// Reading a required integer from a JSON value. Qt hands every number out as a
// double, so this is where a stored integer is checked to hold a whole value.
#include <cstdint>
#include <optional>

class QJsonValue;

namespace zelvo {

// The value as a signed 64-bit integer when it is a number with a whole value
// that fits (4 and 4.0 alike; integers past 2^53 intact when the text held them
// as integers); empty for fractions, out-of-range numbers and non-numbers.
// Any thread.
std::optional<std::int64_t> jsonInteger(const QJsonValue& value);

} // namespace zelvo
