#pragma once
// The value forms of the library collection's JSON that Qt does not give as
// they are stored: identifiers and dates. Pure functions; any thread.
//
// An identifier is the canonical 36-character hyphenated UUID, written in upper
// case and read in either case. A date is an ISO 8601 date-time in UTC with
// whole seconds and the Z designator (2026-03-01T09:30:00Z); no other form is
// read, since the collection's reader of record accepts no other.
#include <QDateTime>
#include <QString>
#include <QUuid>
#include <optional>

class QJsonValue;

namespace zelvo {

// The upper-case canonical text of an identifier: "0F8E...-...".
QString uuidText(const QUuid& id);
// Reads a canonical UUID string in either case; empty for anything else
// (braces, a missing hyphen, a non-hex digit, a non-string).
std::optional<QUuid> uuidFromJson(const QJsonValue& value);

// The whole-second UTC text of a date, fractions of a second dropped. Empty
// for an invalid date or one outside the years 1 ... 9999, which the form
// cannot hold.
QString dateText(const QDateTime& date);
// Reads the whole-second UTC form; empty for fractions, offsets, impossible
// dates and times, and non-strings.
std::optional<QDateTime> dateFromJson(const QJsonValue& value);

} // namespace zelvo
