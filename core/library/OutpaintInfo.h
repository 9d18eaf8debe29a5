#pragma once
// What a generated take was made from: the source track, the prompt and seed,
// where the generated audio begins, and the chain of extensions it belongs to.
// A plain value; any thread.
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace zelvo {

class JsonTextWriter;

struct OutpaintInfo {
    std::optional<QUuid> sourceID; // the record the take was generated from
    QString sourceTitle;           // the source's title when the take was made
    QString prompt;                // the text prompt the model was given
    std::int64_t seed = 0;         // the generation seed
    double seam = 0.0;             // seconds from the take's start to the generated audio
    double sourceOffset = 0.0;     // seconds: where the take's first sample lies in the source
    std::int64_t generations = 1;  // 1 for a take of a track; +1 per extension
    double renderSeconds = 0.0;    // how long the model took to render it
    std::optional<QUuid> segmentOf; // first take of the chain this one extends

    // The stored form, keys named after the fields, absent optionals left out.
    // A non-finite number cannot be stored: it is written as 0 and described
    // in `repairs` when given. Any thread.
    QJsonObject toJson(QStringList* repairs = nullptr) const;
    // The same form written as text, keys sorted. Any thread.
    void writeJson(JsonTextWriter& writer, QStringList* repairs = nullptr) const;
    // Reads the stored form; empty when a required key is missing or holds the
    // wrong kind of value ("seed" and "generations" must be whole numbers, the
    // identifiers canonical UUIDs). A null optional reads as absent. Any thread.
    static std::optional<OutpaintInfo> fromJson(const QJsonObject& object);

    friend bool operator==(const OutpaintInfo&, const OutpaintInfo&) = default;
};

} // namespace zelvo

template <>
struct std::hash<zelvo::OutpaintInfo> {
    // Consistent with ==: 0.0 and -0.0 hash alike. Any thread.
    std::size_t operator()(const zelvo::OutpaintInfo& info) const noexcept;
};
