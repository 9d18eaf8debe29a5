#pragma once
// WAV files for the model server tests: written in the layouts the server must
// read (16-bit PCM, 32-bit float, the extensible header, extra chunks) and read
// back strictly, so a test sees the header fields the server wrote.
#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace zelvo::test {

struct WavFile {
    int format = 0; // 1: integer PCM, 3: float (the extensible header resolved)
    int channels = 0;
    int rate = 0;
    int bits = 0;
    QList<QByteArray> chunks; // chunk ids in file order
    QByteArray data;          // the sample bytes

    qint64 frames() const { return channels && bits ? data.size() / (channels * bits / 8) : 0; }
    // Interleaved samples scaled to -1..1 (16-bit divided by 32768).
    std::vector<float> samples() const;
    // Interleaved 16-bit samples (16-bit files only).
    std::vector<int16_t> pcm16() const;
};

struct WavLayout {
    bool floatSamples = false; // 32-bit float, else 16-bit PCM
    bool extensible = false;   // WAVE_FORMAT_EXTENSIBLE header
    bool extraChunks = false;  // LIST before fmt, fact and PEAK before data
};

std::optional<WavFile> readWav(const QString& path);
bool writeWav(const QString& path, int rate, int channels, const std::vector<float>& interleaved, WavLayout layout = {});
bool writeWav16(const QString& path, int rate, int channels, const std::vector<int16_t>& interleaved,
                WavLayout layout = {});

// A test signal at `rate`: a soft 97 Hz tone throughout (so no stretch is
// silent) and a decaying tone burst on each beat, its pitch changing every bar
// so that no two of four bars are alike. Interleaved, identical channels.
std::vector<float> beatTrack(double bpm, qint64 frames, int rate, int channels);
std::vector<int16_t> toPcm16(const std::vector<float>& samples);

} // namespace zelvo::test
