#pragma once
// The worker side of a finished render and the pure rules of takes: the splice
// of the generated file onto what it continues, the take file's name and its
// writing, and the list of takes of one source.
#include "generation/ForkPlan.h"
#include "generation/OutpaintComposer.h"
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"
#include "library/WaveformData.h"

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo::TakeWork {

// Seconds of the equal-power crossfade at a take's seam.
inline constexpr double kSpliceCrossfade = 0.03;
// Waveform points per second of a take.
inline constexpr double kWaveformPoints = 150.0;
// Characters of a title kept in a take's file name.
inline constexpr int kTitleCharacters = 60;
// Longest file name the file systems take, in bytes.
inline constexpr int kNameBytes = 255;

struct Spliced {
    TrackBufferRef buffer;                     // stereo, at the prefix's rate
    std::shared_ptr<const WaveformData> waveform;
    std::optional<OutpaintComposer::SpliceReport> report;
};

// Decodes the generated file at the prefix's rate, splices it onto the prefix
// from `segmentStart` on, and computes the take's waveform. Throws what
// decoding throws (AudioFileError). Any thread but the audio thread.
Spliced splice(const QString& generatedPath, const TrackBuffer& prefix, double segmentStart, const ForkPlan& plan,
               std::optional<double> generatedOrigin);

// "yyMMdd-HHmmss" of the date in local time, ASCII digits. Any thread.
QString stamp(const QDateTime& date);
// The title with every "/" (and NUL) replaced by "-", cut to its first 60
// characters (grapheme clusters). Any thread.
QString base(const QString& title);
// The file name base + `kind` (" — fork " or " — chain ") + stamp, then " n"
// when `number` > 1, then ".wav"; whole characters are dropped from the end of
// the base until the name fits kNameBytes of UTF-8. Any thread.
QString fileName(const QString& base, const QString& kind, const QString& stamp, int number);
// Where a take file goes: the outpaints folder and the parts of its name.
struct TakeName {
    QString folder;
    QString base;  // base(title)
    QString kind;  // " — fork " or " — chain "
    QString stamp; // stamp(now)
    int number = 1;

    // folder + fileName(base, kind, stamp, number). Any thread.
    QString path() const;
    // Moves `number` on to the first name (from the current one) for which
    // `taken` is false. Any thread.
    void skipTaken(const std::function<bool(const QString& path)>& taken);
};

// Writes the take as 32-bit float stereo WAV at the buffer's rate: into a
// hidden temporary file in `path`'s folder, then renamed to `path`; when a file
// appeared there meanwhile, to fallback.path() and the numbers after it. Never
// replaces a file. Returns the path written. Throws AudioFileError on failure
// and leaves no file behind. Any thread but the audio thread.
QString write(const TrackBuffer& buffer, const QString& path, TakeName fallback);

// The takes of `source` in `library`: records whose provenance names it and
// which are no chain segment, oldest `added` first, ties in library order.
// Any thread, on a library it is given.
std::vector<TrackRecord> takesOf(const std::vector<TrackRecord>& library, const std::optional<QUuid>& source);

} // namespace zelvo::TakeWork
