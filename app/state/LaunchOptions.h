#pragma once
// Reading the launch arguments and environment values that carry numbers:
// window sizes, delays and the model server's port. Only finite decimal
// numbers count ("nan", "inf", hexadecimal and words do not); delays below 0
// count as 0, and sizes and delays are clamped to what windows and timers take.
//
// Pure functions; any thread.
#include <QByteArray>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <optional>

namespace zelvo::launch {

// The longest delay a timer takes, in seconds (its milliseconds fit an int).
inline constexpr double kLongestDelay = 2.0e6;
// The largest side of a window, in points.
inline constexpr double kLargestSide = 16384.0;
// The snapshot delay when none is given.
inline constexpr double kSnapshotDelay = 4.0;
// The model server's port when none is given.
inline constexpr int kBrainPort = 7431;
// The faceplate's base canvas and its limits, in points.
inline constexpr double kCanvasWidth = 1600.0, kCanvasHeight = 1080.0;
inline constexpr double kCanvasWidestWidth = 2400.0, kCanvasTallestHeight = 1500.0;

// A decimal number: optional sign, digits with an optional fraction, an
// optional exponent; finite. Nothing else, no blanks.
std::optional<double> parseDecimal(const QString& text);
// A delay in seconds: a decimal number, negative as 0, at most kLongestDelay.
std::optional<double> parseDelay(const QString& text);

// The argument after the first `option`, when there is one.
std::optional<QString> operandOf(const QStringList& arguments, const QString& option);

// "--window <w>x<h>": the operand lower-cased, split at every "x" with empty
// pieces dropped, the pieces that are numbers kept; exactly two numbers are
// width and height, each clamped to 0…kLargestSide. Otherwise none.
std::optional<QSizeF> forcedWindowSize(const QStringList& arguments);

// The faceplate canvas for a window size: 1600 × 1080 without a size or for a
// side of 0 or less; else scaled so one side stays at its base and the other
// fills the window's proportions, within 2400 × 1500.
QSizeF designSize(const std::optional<QSizeF>& window);

// The snapshot delay: the number after "--snapshot-delay", else the
// environment's `KAVRI_SNAPSHOT_DELAY` value, else 4 s.
double snapshotDelay(const QStringList& arguments, const std::optional<QByteArray>& environment);

// The model server's port from `KAVRI_BRAIN_PORT`'s value: an optional sign and
// digits only, within 1…65535; anything else (missing, empty, blanks, letters,
// out of range) gives 7431.
int brainPort(const std::optional<QByteArray>& environment);

// "--dump-state <path> <seconds>": both operands present and the delay a
// number. Otherwise none.
struct DumpRequest {
    QString path;
    double delay = 0.0;
};
std::optional<DumpRequest> dumpRequest(const QStringList& arguments);

// The operands of the first "--import": every argument after it up to the next
// one that begins with "--".
QStringList importOperands(const QStringList& arguments);

} // namespace zelvo::launch
