#pragma once
// The waveform file: one track's display waveform in a small binary file, so
// lanes and overviews draw at the next launch without decoding the audio.
//
// Layout, little-endian, no padding: points per second (binary64, 8 bytes),
// count (unsigned 32-bit, 4 bytes), then count bytes each of the low, mid and
// high bands. A well-formed file is 12 + 3 × count bytes; bytes past that are
// ignored. There is no magic number or version.
#include "library/WaveformData.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace zelvo::WaveformFile {

// The file's bytes. Empty when the waveform cannot be stored: more points than
// the count field holds, bands of unequal length (which would make the file
// claim bytes it does not have), or points per second that are not a positive
// finite number. Any thread.
std::optional<QByteArray> encode(const WaveformData& waveform);

// The waveform the bytes hold; empty when they are shorter than the header or
// than the bands it announces (a truncated write), or when the points per second
// are not a positive finite number (views divide by them). Any thread.
std::optional<WaveformData> decode(QByteArrayView bytes);

// Writes the encoded waveform to `path` through a temporary file renamed over
// the old one, so a crash leaves either the old file or the new one, never a
// torn one. Returns false (with the reason in `error` when given) when the
// waveform cannot be encoded or the file cannot be written. Any thread.
bool write(const QString& path, const WaveformData& waveform, QString* error = nullptr);

// Reads and decodes the file at `path`; empty when it is missing, unreadable or
// malformed. Any thread.
std::optional<WaveformData> read(const QString& path);

} // namespace zelvo::WaveformFile
