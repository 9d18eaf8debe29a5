#include "WavFileSupport.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace zelvo::test {
namespace {

void put16(QByteArray& b, quint16 v)
{
    char raw[2];
    qToLittleEndian(v, raw);
    b.append(raw, 2);
}

void put32(QByteArray& b, quint32 v)
{
    char raw[4];
    qToLittleEndian(v, raw);
    b.append(raw, 4);
}

void chunk(QByteArray& file, const char* id, const QByteArray& body)
{
    file.append(id, 4);
    put32(file, static_cast<quint32>(body.size()));
    file.append(body);
    if (body.size() % 2)
        file.append('\0');
}

bool writeFile(const QString& path, int rate, int channels, int bits, bool isFloat, const QByteArray& samples,
               WavLayout layout)
{
    const int frameBytes = channels * bits / 8;
    QByteArray fmt;
    put16(fmt, layout.extensible ? 0xFFFE : (isFloat ? 3 : 1));
    put16(fmt, static_cast<quint16>(channels));
    put32(fmt, static_cast<quint32>(rate));
    put32(fmt, static_cast<quint32>(rate * frameBytes));
    put16(fmt, static_cast<quint16>(frameBytes));
    put16(fmt, static_cast<quint16>(bits));
    if (layout.extensible) {
        put16(fmt, 22);
        put16(fmt, static_cast<quint16>(bits));
        put32(fmt, channels == 1 ? 0x4 : 0x3);
        put16(fmt, isFloat ? 3 : 1); // sub-format GUID: the tag, then the fixed tail
        fmt.append(QByteArray::fromHex("000000001000800000AA00389B71"));
    }
    QByteArray body("WAVE");
    if (layout.extraChunks)
        chunk(body, "LIST", QByteArray("INFOISFT\x05\0\0\0test\0", 17)); // odd size: padded
    chunk(body, "fmt ", fmt);
    if (layout.extraChunks) {
        QByteArray fact;
        put32(fact, static_cast<quint32>(samples.size() / frameBytes));
        chunk(body, "fact", fact);
        QByteArray peak(8 + 8 * channels, '\0');
        chunk(body, "PEAK", peak);
    }
    chunk(body, "data", samples);
    QByteArray file("RIFF");
    put32(file, static_cast<quint32>(body.size()));
    file.append(body);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size();
}

} // namespace

std::vector<float> WavFile::samples() const
{
    std::vector<float> out;
    if (format == 3 && bits == 32) {
        out.resize(data.size() / 4);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = qFromLittleEndian<float>(data.constData() + 4 * i);
    } else if (format == 1 && bits == 16) {
        for (int16_t v : pcm16())
            out.push_back(static_cast<float>(v) / 32768.0f);
    }
    return out;
}

std::vector<int16_t> WavFile::pcm16() const
{
    std::vector<int16_t> out(bits == 16 ? data.size() / 2 : 0);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = qFromLittleEndian<qint16>(data.constData() + 2 * i);
    return out;
}

std::optional<WavFile> readWav(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray raw = in.readAll();
    if (raw.size() < 12 || !raw.startsWith("RIFF") || raw.mid(8, 4) != "WAVE")
        return std::nullopt;
    if (qFromLittleEndian<quint32>(raw.constData() + 4) != static_cast<quint32>(raw.size() - 8))
        return std::nullopt; // the RIFF size must cover the file exactly
    WavFile wav;
    qsizetype pos = 12;
    bool haveFmt = false;
    bool haveData = false;
    while (pos + 8 <= raw.size()) {
        const QByteArray id = raw.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(raw.constData() + pos + 4);
        if (pos + 8 + static_cast<qsizetype>(size) > raw.size())
            return std::nullopt;
        wav.chunks.append(id);
        const char* body = raw.constData() + pos + 8;
        if (id == "fmt ") {
            wav.format = qFromLittleEndian<quint16>(body);
            wav.channels = qFromLittleEndian<quint16>(body + 2);
            wav.rate = static_cast<int>(qFromLittleEndian<quint32>(body + 4));
            wav.bits = qFromLittleEndian<quint16>(body + 14);
            if (wav.format == 0xFFFE)
                wav.format = qFromLittleEndian<quint16>(body + 24);
            const int align = qFromLittleEndian<quint16>(body + 12);
            if (align != wav.channels * wav.bits / 8
                || qFromLittleEndian<quint32>(body + 8) != static_cast<quint32>(wav.rate * align))
                return std::nullopt;
            haveFmt = true;
        } else if (id == "data") {
            wav.data = raw.mid(pos + 8, size);
            haveData = true;
        }
        pos += 8 + size + (size & 1);
    }
    if (!haveFmt || !haveData)
        return std::nullopt;
    return wav;
}

bool writeWav(const QString& path, int rate, int channels, const std::vector<float>& interleaved, WavLayout layout)
{
    if (!layout.floatSamples)
        return writeWav16(path, rate, channels, toPcm16(interleaved), layout);
    QByteArray bytes(static_cast<qsizetype>(interleaved.size() * 4), '\0');
    for (size_t i = 0; i < interleaved.size(); ++i)
        qToLittleEndian(interleaved[i], bytes.data() + 4 * i);
    return writeFile(path, rate, channels, 32, true, bytes, layout);
}

bool writeWav16(const QString& path, int rate, int channels, const std::vector<int16_t>& interleaved,
                WavLayout layout)
{
    QByteArray bytes(static_cast<qsizetype>(interleaved.size() * 2), '\0');
    for (size_t i = 0; i < interleaved.size(); ++i)
        qToLittleEndian(interleaved[i], bytes.data() + 2 * i);
    layout.floatSamples = false;
    return writeFile(path, rate, channels, 16, false, bytes, layout);
}

std::vector<float> beatTrack(double bpm, qint64 frames, int rate, int channels)
{
    std::vector<float> out(static_cast<size_t>(frames * channels));
    const double beat = 60.0 / bpm * rate;
    const double pitches[4] = {440.0, 554.4, 659.3, 880.0};
    for (qint64 n = 0; n < frames; ++n) {
        const qint64 index = static_cast<qint64>(n / beat);
        const double since = (n - index * beat) / rate;
        const double pitch = pitches[(index / 4) % 4];
        const double v = 0.15 * std::sin(2 * M_PI * 97.0 * n / rate)
            + 0.5 * std::exp(-since * 60.0) * std::sin(2 * M_PI * pitch * since);
        for (int c = 0; c < channels; ++c)
            out[static_cast<size_t>(n * channels + c)] = static_cast<float>(v);
    }
    return out;
}

std::vector<int16_t> toPcm16(const std::vector<float>& samples)
{
    std::vector<int16_t> out(samples.size());
    std::transform(samples.begin(), samples.end(), out.begin(), [](float v) {
        return static_cast<int16_t>(std::clamp(std::lround(v * 32767.0), -32768L, 32767L));
    });
    return out;
}

} // namespace zelvo::test
