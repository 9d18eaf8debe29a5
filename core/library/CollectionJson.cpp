#include "library/CollectionJson.h"

#include <QJsonValue>

namespace zelvo {

namespace {

bool isHex(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The value of `count` decimal digits at `at`; the caller has checked them.
int digits(const QString& text, qsizetype at, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (text[at + i].unicode() - u'0');
    return value;
}

} // namespace

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromJson(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < 36; ++i) {
        const char16_t c = text[i].unicode();
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != u'-' : !isHex(c))
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

QString dateText(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    const QDateTime utc = date.toUTC();
    const QDate day = utc.date();
    const QTime time = utc.time();
    if (day.year() < 1 || day.year() > 9999)
        return {};
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", day.year(), day.month(), day.day(),
                             time.hour(), time.minute(), time.second());
}

std::optional<QDateTime> dateFromJson(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString();
    // yyyy-MM-ddTHH:mm:ssZ, exactly.
    static constexpr char16_t kShape[] = u"dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != 20)
        return std::nullopt;
    for (qsizetype i = 0; i < 20; ++i) {
        const char16_t want = kShape[i];
        const char16_t c = text[i].unicode();
        if (want == u'd' ? !isDigit(c) : c != want)
            return std::nullopt;
    }
    const QDate day(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
    // QTime refuses hour 24 and second 60, which this form cannot express either.
    const QTime time(digits(text, 11, 2), digits(text, 14, 2), digits(text, 17, 2));
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(day, time, Qt::UTC);
}

} // namespace zelvo
