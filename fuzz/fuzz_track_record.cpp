// Stored records: a record the reader takes is written back by both writers
// (the object form and the collection's text encoder) and reads back equal.
#include "FuzzSupport.h"

#include "library/JsonTextWriter.h"
#include "library/TrackRecord.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace zelvo;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initialize(argc, argv);
    return 0;
}

namespace {

void roundTrip(const QJsonValue& value)
{
    if (!value.isObject())
        return;
    const std::optional<TrackRecord> record = TrackRecord::fromJson(value.toObject());
    if (!record)
        return;
    const auto again = TrackRecord::fromJson(record->toJson());
    fuzz::require(again && *again == *record, "a record read back from its object form differs");

    JsonTextWriter writer;
    record->writeJson(writer);
    const QJsonDocument text = QJsonDocument::fromJson(writer.take());
    fuzz::require(text.isObject(), "the collection encoder wrote a record that is not a JSON object");
    const auto fromText = TrackRecord::fromJson(text.object());
    fuzz::require(fromText && *fromText == *record, "a record read back from the collection text differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QJsonDocument document = QJsonDocument::fromJson(fuzz::bytesOf(data, size).toByteArray());
    if (document.isObject())
        roundTrip(document.object());
    else if (document.isArray())
        for (const QJsonValue& value : document.array())
            roundTrip(value);
    return 0;
}
