#pragma once
// A streaming writer of pretty-printed JSON text (four-space indent, one member
// or element per line), for documents too large to build as Qt JSON objects
// first. The caller writes object keys in the order they should appear.
// Numbers are written in the shortest form that reads back to the same double;
// a non-finite number has no JSON form and the caller must not pass one (it is
// written as null). One writer per document; any thread.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace zelvo {

class JsonTextWriter {
public:
    explicit JsonTextWriter(qsizetype reserve = 0);

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The key of the next member; the next call writes its value.
    void key(QLatin1StringView name);

    void string(const QString& text);
    void number(double value);
    void integer(std::int64_t value);
    void boolean(bool value);
    void null();
    // Any Qt JSON value, objects with their keys in Qt's (sorted) order.
    void value(const QJsonValue& value);

    // The text so far, with a final newline once the outermost value is closed.
    QByteArray take();

private:
    void beforeValue();
    void newline();
    void escaped(const QString& text);

    QByteArray out_;
    struct Level {
        bool object;
        bool empty;
    };
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

// The Qt object of a value that writes itself with `writeJson(writer, repairs)`:
// the text form read back, so the streamed text stays the one encoder.
template <class Value>
QJsonObject jsonObjectOf(const Value& value, QStringList* repairs)
{
    JsonTextWriter writer;
    value.writeJson(writer, repairs);
    return QJsonDocument::fromJson(writer.take()).object();
}

} // namespace zelvo
