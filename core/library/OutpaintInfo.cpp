#include "library/OutpaintInfo.h"

#include "library/CollectionJson.h"
#include "library/HashMix.h"
#include "library/JsonFields.h"
#include "library/JsonTextWriter.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>

namespace zelvo {

namespace {

const QString kSourceID = QStringLiteral("sourceID");
const QString kSourceTitle = QStringLiteral("sourceTitle");
const QString kPrompt = QStringLiteral("prompt");
const QString kSeed = QStringLiteral("seed");
const QString kSeam = QStringLiteral("seam");
const QString kSourceOffset = QStringLiteral("sourceOffset");
const QString kGenerations = QStringLiteral("generations");
const QString kRenderSeconds = QStringLiteral("renderSeconds");
const QString kSegmentOf = QStringLiteral("segmentOf");

double finiteOrZero(double value, const QString& key, QStringList* repairs)
{
    if (std::isfinite(value))
        return value;
    if (repairs)
        repairs->append(QStringLiteral("outpaint %1 was not a finite number; written as 0").arg(key));
    return 0.0;
}

} // namespace

QJsonObject OutpaintInfo::toJson(QStringList* repairs) const
{
    return jsonObjectOf(*this, repairs);
}

void OutpaintInfo::writeJson(JsonTextWriter& writer, QStringList* repairs) const
{
    // Keys in sorted order.
    writer.beginObject();
    writer.key(QLatin1StringView("generations"));
    writer.integer(generations);
    writer.key(QLatin1StringView("prompt"));
    writer.string(prompt);
    writer.key(QLatin1StringView("renderSeconds"));
    writer.number(finiteOrZero(renderSeconds, kRenderSeconds, repairs));
    writer.key(QLatin1StringView("seam"));
    writer.number(finiteOrZero(seam, kSeam, repairs));
    writer.key(QLatin1StringView("seed"));
    writer.integer(seed);
    if (segmentOf) {
        writer.key(QLatin1StringView("segmentOf"));
        writer.string(uuidText(*segmentOf));
    }
    if (sourceID) {
        writer.key(QLatin1StringView("sourceID"));
        writer.string(uuidText(*sourceID));
    }
    writer.key(QLatin1StringView("sourceOffset"));
    writer.number(finiteOrZero(sourceOffset, kSourceOffset, repairs));
    writer.key(QLatin1StringView("sourceTitle"));
    writer.string(sourceTitle);
    writer.endObject();
}

std::optional<OutpaintInfo> OutpaintInfo::fromJson(const QJsonObject& object)
{
    OutpaintInfo info;
    // Optional identifiers: missing or null is absent; anything else must be a UUID.
    const auto optionalId = [&](const QString& key, std::optional<QUuid>& out) {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || value.isNull())
            return true;
        out = uuidFromJson(value);
        return out.has_value();
    };
    if (!optionalId(kSourceID, info.sourceID) || !readString(object, kSourceTitle, info.sourceTitle)
        || !readString(object, kPrompt, info.prompt) || !readInteger(object, kSeed, info.seed)
        || !readNumber(object, kSeam, info.seam) || !readNumber(object, kSourceOffset, info.sourceOffset)
        || !readInteger(object, kGenerations, info.generations)
        || !readNumber(object, kRenderSeconds, info.renderSeconds) || !optionalId(kSegmentOf, info.segmentOf))
        return std::nullopt;
    return info;
}

} // namespace zelvo

std::size_t std::hash<zelvo::OutpaintInfo>::operator()(const zelvo::OutpaintInfo& info) const noexcept
{
    using zelvo::hashDouble;
    using zelvo::hashMix;
    std::size_t seed = 0;
    hashMix(seed, info.sourceID ? qHash(*info.sourceID) : 0x51u);
    hashMix(seed, qHash(info.sourceTitle));
    hashMix(seed, qHash(info.prompt));
    hashMix(seed, std::hash<std::int64_t>{}(info.seed));
    hashMix(seed, hashDouble(info.seam));
    hashMix(seed, hashDouble(info.sourceOffset));
    hashMix(seed, std::hash<std::int64_t>{}(info.generations));
    hashMix(seed, hashDouble(info.renderSeconds));
    hashMix(seed, info.segmentOf ? qHash(*info.segmentOf) : 0x53u);
    return seed;
}
