#include "generation/OutpaintRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace zelvo {

std::optional<QByteArray> OutpaintRequest::encode() const
{
    for (double v : {contextSeconds, seconds, cfg, loraStrength.value_or(0), contextStart.value_or(0)}) {
        if (!std::isfinite(v))
            return std::nullopt;
    }
    QJsonObject o;
    o.insert(QStringLiteral("context"), context);
    o.insert(QStringLiteral("context_seconds"), contextSeconds);
    o.insert(QStringLiteral("seconds"), seconds);
    o.insert(QStringLiteral("prompt"), prompt);
    o.insert(QStringLiteral("negative_prompt"), negativePrompt);
    o.insert(QStringLiteral("steps"), steps);
    o.insert(QStringLiteral("cfg"), cfg);
    o.insert(QStringLiteral("seed"), seed);
    o.insert(QStringLiteral("out"), out);
    if (model)
        o.insert(QStringLiteral("model"), *model);
    if (loraStrength)
        o.insert(QStringLiteral("lora_strength"), *loraStrength);
    if (track)
        o.insert(QStringLiteral("track"), *track);
    if (contextStart)
        o.insert(QStringLiteral("context_start"), *contextStart);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace zelvo
