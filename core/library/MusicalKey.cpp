#include "library/MusicalKey.h"

#include "library/HashMix.h"
#include "library/JsonFields.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <cstdlib>

namespace zelvo {

namespace {

constexpr const char16_t* kNames[12] = {
    u"C", u"D\u266D", u"D", u"E\u266D", u"E", u"F", u"F\u266F", u"G", u"A\u266D", u"A", u"B\u266D", u"B",
};
constexpr std::int64_t kCamelotMinor[12] = {5, 12, 7, 2, 9, 4, 11, 6, 1, 8, 3, 10};
constexpr std::int64_t kCamelotMajor[12] = {8, 3, 10, 5, 12, 7, 2, 9, 4, 11, 6, 1};

// Floored modulo 12: always 0...11, for every 64-bit value.
std::int64_t mod12(std::int64_t v) noexcept
{
    const std::int64_t r = v % 12;
    return r < 0 ? r + 12 : r;
}

std::int64_t camelotDistance(const MusicalKey& a, const MusicalKey& b) noexcept
{
    const std::int64_t d = std::llabs(a.camelotNumber() - b.camelotNumber());
    return std::min(d, 12 - d);
}

} // namespace

MusicalKey::MusicalKey(std::int64_t pc, bool isMinor) noexcept
    : pitchClass(mod12(pc)), minor(isMinor)
{
}

QString MusicalKey::name() const
{
    QString text = QString::fromUtf16(kNames[mod12(pitchClass)]);
    if (minor)
        text += QLatin1Char('m');
    return text;
}

std::int64_t MusicalKey::camelotNumber() const noexcept
{
    const std::int64_t pc = mod12(pitchClass);
    return minor ? kCamelotMinor[pc] : kCamelotMajor[pc];
}

QString MusicalKey::camelot() const
{
    return QString::number(camelotNumber()) + QLatin1Char(minor ? 'A' : 'B');
}

MusicalKey MusicalKey::shifted(std::int64_t semitones) const noexcept
{
    // Reduce both terms first: the sum of two stored 64-bit values could overflow.
    return MusicalKey(mod12(pitchClass) + mod12(semitones), minor);
}

bool MusicalKey::isCompatible(const MusicalKey& other) const noexcept
{
    const std::int64_t distance = camelotDistance(*this, other);
    return minor != other.minor ? distance == 0 : distance <= 1;
}

std::int64_t MusicalKey::syncShift(const MusicalKey& target) const noexcept
{
    std::int64_t best = 0;
    std::int64_t bestCost = -1;
    for (std::int64_t k = -6; k <= 6; ++k) {
        const MusicalKey candidate = shifted(k);
        if (!candidate.isCompatible(target))
            continue;
        const std::int64_t cost = 2 * std::llabs(k) + (candidate.camelotNumber() != target.camelotNumber() ? 1 : 0);
        // Strictly lower only: among equal costs the most negative shift stays.
        if (bestCost < 0 || cost < bestCost) {
            best = k;
            bestCost = cost;
        }
    }
    return best;
}

QJsonObject MusicalKey::toJson() const
{
    return QJsonObject{
        {QStringLiteral("pitchClass"), qint64(pitchClass)},
        {QStringLiteral("minor"), minor},
    };
}

std::optional<MusicalKey> MusicalKey::fromJson(const QJsonObject& object)
{
    const QJsonValue pc = object.value(QLatin1String("pitchClass"));
    const QJsonValue isMinor = object.value(QLatin1String("minor"));
    const std::optional<std::int64_t> stored = jsonInteger(pc);
    if (!stored || !isMinor.isBool())
        return std::nullopt;
    MusicalKey key(0, isMinor.toBool());
    key.pitchClass = *stored; // as stored: no reduction
    return key;
}

} // namespace zelvo

std::size_t std::hash<zelvo::MusicalKey>::operator()(const zelvo::MusicalKey& key) const noexcept
{
    std::size_t seed = 0;
    zelvo::hashMix(seed, std::hash<std::int64_t>()(key.pitchClass));
    zelvo::hashMix(seed, key.minor ? 1u : 2u);
    return seed;
}
