#include "library/WaveformFile.h"

#include "platform/AtomicFile.h"

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

namespace zelvo::WaveformFile {

namespace {
constexpr qsizetype kHeader = 12;

// Views divide by the points per second; nothing else can be drawn.
bool drawableRate(double pointsPerSecond)
{
    return std::isfinite(pointsPerSecond) && pointsPerSecond > 0.0;
}
} // namespace

std::optional<QByteArray> encode(const WaveformData& waveform)
{
    const std::size_t count = waveform.low.size();
    if (count > std::numeric_limits<quint32>::max() || waveform.mid.size() != count
        || waveform.high.size() != count || !drawableRate(waveform.pointsPerSecond))
        return std::nullopt;
    QByteArray bytes(kHeader + 3 * qsizetype(count), Qt::Uninitialized);
    char* out = bytes.data();
    qToLittleEndian(waveform.pointsPerSecond, out);
    qToLittleEndian(quint32(count), out + 8);
    if (count > 0) {
        std::memcpy(out + kHeader, waveform.low.data(), count);
        std::memcpy(out + kHeader + count, waveform.mid.data(), count);
        std::memcpy(out + kHeader + 2 * count, waveform.high.data(), count);
    }
    return bytes;
}

std::optional<WaveformData> decode(QByteArrayView bytes)
{
    if (bytes.size() < kHeader)
        return std::nullopt;
    const char* in = bytes.data();
    WaveformData waveform;
    waveform.pointsPerSecond = qFromLittleEndian<double>(in);
    if (!drawableRate(waveform.pointsPerSecond))
        return std::nullopt;
    const std::uint64_t count = qFromLittleEndian<quint32>(in + 8);
    // 64-bit arithmetic: a count near 2^32 cannot wrap.
    if (std::uint64_t(bytes.size()) < std::uint64_t(kHeader) + 3 * count)
        return std::nullopt;
    const auto* base = reinterpret_cast<const std::uint8_t*>(in) + kHeader;
    waveform.low.assign(base, base + count);
    waveform.mid.assign(base + count, base + 2 * count);
    waveform.high.assign(base + 2 * count, base + 3 * count);
    return waveform;
}

bool write(const QString& path, const WaveformData& waveform, QString* error)
{
    const std::optional<QByteArray> bytes = encode(waveform);
    if (!bytes) {
        if (error)
            *error = QStringLiteral(
                "the waveform cannot be stored (bands of unequal length, too many points or no points per second)");
        return false;
    }
    return writeFileAtomically(path, *bytes, error);
}

std::optional<WaveformData> read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return decode(bytes);
}

} // namespace zelvo::WaveformFile
