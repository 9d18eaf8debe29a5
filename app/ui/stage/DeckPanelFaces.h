#pragma once
// What a stage deck panel shows, as pure functions of model values: the tempo
// range labels and percentage, the transport lamps, the loop and jump lengths,
// the jog display's centre texts and drawing, and the pad mirror's chips, pad
// faces and hardware-hit flash. The widgets read the models once per paint and
// draw only what these return, so tests check the rules without a window.
//
// Any thread (no state); the widgets call them on the main thread.
#include "controllers/PadMode.h"
#include "library/MusicalKey.h"
#include "models/TempoRange.h"
#include "ui/kit/Canvas.h"
#include "ui/stage/StageSides.h"

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QString>

#include <array>
#include <optional>
#include <utility>

namespace zelvo::stage {

// The panel's system font at `px` logical pixels.
QFont panelFont(double px, QFont::Weight weight, bool mono);

// "%+.2f%%" of (ratio − 1) × 100: "+0.00%" at rest, "-3.25%", "+12.00%".
QString tempoPercentText(double tempoRatio);

// The transport keys' lamps from the deck's published state.
struct TransportLamps {
    bool cueLit = false;   // cueing, or loaded and not playing
    bool playing = false;  // the play key is green and shows the pause symbol
    friend bool operator==(const TransportLamps&, const TransportLamps&) = default;
};
TransportLamps transportLamps(bool loaded, bool playing, bool cueing);

// A loop or jump length in beats as the panel shows it: the whole part from 1
// up ("4", "1" for 1.5), "1/n" below 1 when 1/b is (nearly) whole, otherwise
// the reduced fraction ("3/4" for 0.75). "—" for a length that is not a
// positive finite number.
QString loopBeatsText(double beats);

// ---- Jog display

// What the jog display reads for one frame.
struct JogInput {
    bool loaded = false;
    bool playing = false;
    bool jogTouched = false;
    bool isAI = false;
    bool hasVoice = false;
    double position = 0;   // seconds, from the voice
    double duration = 0;
    double cuePoint = 0;
    std::optional<double> seam; // where a take's generated part starts
    double gridBpm = 0;         // 0 without a track or grid
    double ratio = 1;           // the engine's effective tempo, else the fader's
    std::optional<MusicalKey> key;
    int keyShift = 0;
};

struct JogCentre {
    QString tempo;     // "%.1f", or "—" at 0
    QString key;       // the shifted key's code, or empty
    QString remaining; // "-m:ss.d", or empty without a duration
    bool remainingUrgent = false; // under 30 s left while playing
    friend bool operator==(const JogCentre&, const JogCentre&) = default;
};
JogCentre jogCentre(const JogInput& in);

// A clockwise fraction of a turn from 12 o'clock (0 … 1) as Qt's arc angle in
// degrees (counter-clockwise from 3 o'clock): 0 → 90, 0.25 → 0, 0.5 → −90.
double jogQtAngle(double fraction);
// The arc from fraction `a` to `b` (clockwise) at radius `radius` around `c`.
QPainterPath jogRing(QPointF c, double radius, double a, double b);
// The spoke's screen angle in degrees (y down, 0 = 3 o'clock): one turn per
// 1.8 s of track position, pointing at 12 o'clock at 0, 1.8, 3.6 s …
double jogSpokeDegrees(double position);
// Draws the face, the rings, the take arcs, the cue marker, the spoke and
// the touch ring (not the centre texts) in a `size` box.
void paintJog(kit::Canvas& canvas, QSizeF size, const JogInput& in);
// Draws the centre's three lines, centred in a `size` box.
void paintJogCentre(kit::Canvas& canvas, QSizeF size, const JogCentre& centre);

// ---- Pad mirror

// The six pad modes in chip order, and each chip's text.
inline constexpr std::array<PadMode, 6> padMirrorModes{PadMode::hotCue, PadMode::padFX, PadMode::beatJump,
                                                       PadMode::ai,     PadMode::key,   PadMode::beatLoop};
QString padChipText(PadMode mode);

struct PadChipLook {
    QColor text;
    QColor fill;
    double ghostOffset = 0; // red and cyan fringes only on the unselected model chip
};
PadChipLook padChipLook(PadMode chip, PadMode current);

struct PadLook {
    QColor fill;
    QColor text;
};
PadLook padLook(bool lit, PadMode mode);

// Seconds since pad `pad` of `deck` was hit; 9 when the latest hit is another pad's.
double padAge(const std::optional<PadHitStamp>& hit, int deck, int pad, double uptime);
// The flash overlay's strength: 1 at the hit, fading to 0 over 0.35 s.
double padFlash(double age);
// Whether the mirror of `deck` animates: its latest hit is under 0.4 s old.
bool padFlashing(const std::optional<PadHitStamp>& hit, int deck, double uptime);

} // namespace zelvo::stage
