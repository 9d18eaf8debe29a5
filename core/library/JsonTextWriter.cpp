#include "library/JsonTextWriter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <charconv>
#include <cmath>

namespace zelvo {

JsonTextWriter::JsonTextWriter(qsizetype reserve)
{
    out_.reserve(reserve);
}

void JsonTextWriter::newline()
{
    out_.append('\n');
    out_.append(qsizetype(levels_.size()) * 4, ' ');
}

void JsonTextWriter::beforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty())
        return;
    Level& level = levels_.back();
    if (!level.empty)
        out_.append(',');
    level.empty = false;
    newline();
}

void JsonTextWriter::beginObject()
{
    beforeValue();
    out_.append('{');
    levels_.push_back(Level{true, true});
}

void JsonTextWriter::endObject()
{
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty)
        newline();
    out_.append('}');
}

void JsonTextWriter::beginArray()
{
    beforeValue();
    out_.append('[');
    levels_.push_back(Level{false, true});
}

void JsonTextWriter::endArray()
{
    levels_.pop_back();
    newline();
    out_.append(']');
}

void JsonTextWriter::key(QLatin1StringView name)
{
    beforeValue();
    out_.append('"');
    out_.append(name.data(), name.size());
    out_.append("\": ", 3);
    afterKey_ = true;
}

void JsonTextWriter::string(const QString& text)
{
    beforeValue();
    escaped(text);
}

void JsonTextWriter::escaped(const QString& text)
{
    out_.append('"');
    const QByteArray utf8 = text.toUtf8();
    const char* p = utf8.constData();
    const char* end = p + utf8.size();
    const char* run = p;
    static const char hex[] = "0123456789abcdef";
    for (; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out_.append(run, p - run);
        run = p + 1;
        switch (c) {
        case '"': out_.append("\\\"", 2); break;
        case '\\': out_.append("\\\\", 2); break;
        case '\n': out_.append("\\n", 2); break;
        case '\r': out_.append("\\r", 2); break;
        case '\t': out_.append("\\t", 2); break;
        case '\b': out_.append("\\b", 2); break;
        case '\f': out_.append("\\f", 2); break;
        default: {
            const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out_.append(escaped, 6);
        }
        }
    }
    out_.append(run, end - run);
    out_.append('"');
}

void JsonTextWriter::number(double value)
{
    beforeValue();
    if (!std::isfinite(value)) {
        out_.append("null", 4);
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr - buffer);
}

void JsonTextWriter::integer(std::int64_t value)
{
    beforeValue();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr - buffer);
}

void JsonTextWriter::boolean(bool value)
{
    beforeValue();
    if (value)
        out_.append("true", 4);
    else
        out_.append("false", 5);
}

void JsonTextWriter::null()
{
    beforeValue();
    out_.append("null", 4);
}

void JsonTextWriter::value(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        null();
        break;
    case QJsonValue::Bool:
        boolean(value.toBool());
        break;
    case QJsonValue::Double: {
        // Qt keeps integers it was given as integers; write them exactly.
        const double d = value.toDouble();
        const qint64 i = value.toInteger(0);
        if (i == value.toInteger(1) && double(i) == d)
            integer(i);
        else
            number(d);
        break;
    }
    case QJsonValue::String:
        string(value.toString());
        break;
    case QJsonValue::Array: {
        beginArray();
        for (const QJsonValue& element : value.toArray())
            this->value(element);
        endArray();
        break;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        beginObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            beforeValue();
            escaped(it.key());
            out_.append(": ", 2);
            afterKey_ = true;
            this->value(it.value());
        }
        endObject();
        break;
    }
    }
}

QByteArray JsonTextWriter::take()
{
    if (levels_.empty() && !out_.isEmpty() && !out_.endsWith('\n'))
        out_.append('\n');
    return std::move(out_);
}

} // namespace zelvo
