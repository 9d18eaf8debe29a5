#include "update/ReleaseVersion.h"

#include <QList>
#include <limits>

namespace zelvo {

namespace {

// A base-10 integer with an optional sign, digits only, that fits 64 bits.
std::optional<std::int64_t> parsePiece(QStringView piece)
{
    bool negative = false;
    if (piece.startsWith(QLatin1Char('+')) || piece.startsWith(QLatin1Char('-'))) {
        negative = piece.front() == QLatin1Char('-');
        piece = piece.mid(1);
    }
    if (piece.isEmpty())
        return std::nullopt;
    // Accumulated as a negative number, whose range reaches one further.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (const QChar c : piece) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const int digit = c.unicode() - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

} // namespace

std::optional<ReleaseVersion> ReleaseVersion::parse(QStringView text)
{
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (!text.isEmpty() && blank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    if (text.startsWith(QLatin1Char('v')) || text.startsWith(QLatin1Char('V')))
        text = text.mid(1);

    std::vector<std::int64_t> parts;
    for (const QStringView piece : text.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        const std::optional<std::int64_t> value = parsePiece(piece);
        if (!value)
            return std::nullopt;
        parts.push_back(*value);
    }
    if (parts.empty())
        return std::nullopt;
    return ReleaseVersion(std::move(parts));
}

QString ReleaseVersion::description() const
{
    QString text;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('.');
        text += QString::number(parts_[i]);
    }
    return text;
}

std::strong_ordering operator<=>(const ReleaseVersion& a, const ReleaseVersion& b)
{
    const std::size_t length = std::max(a.parts_.size(), b.parts_.size());
    for (std::size_t i = 0; i < length; ++i) {
        const std::int64_t x = i < a.parts_.size() ? a.parts_[i] : 0;
        const std::int64_t y = i < b.parts_.size() ? b.parts_[i] : 0;
        if (x != y)
            return x <=> y;
    }
    return std::strong_ordering::equal;
}

} // namespace zelvo
