#pragma once
// What the faceplate deck shows and sends, as pure functions of model values:
// the display window's texts, the transport lamps, the pad-mode row and pad
// grid, the loop row, and the jog wheel's gesture maths. The widgets in
// DeckView.cpp only draw these and forward presses. Any thread.
#include "controllers/PadMode.h"
#include "library/MusicalKey.h"
#include "models/TempoRange.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace zelvo::deckface {

// A double as an int, clamped to the int range; NaN gives 0.
int clampInt(double value);
// Characters as the reader sees them (grapheme clusters).
int characterCount(const QString& text);

// --- Display window.
// "mm:ss.d" with the tenths cut off; "--:--.-" for a non-finite time.
QString timeString(double seconds);
// "KEY --", "KEY 8A" or the shifted key with its shift ("KEY 10A +2").
QString keyText(const std::optional<MusicalKey>& key, int keyShift);

struct HeaderInput {
    int index = 0;
    bool isAI = false;
    bool loading = false;
    std::optional<QString> title; // none: no track loaded
    QString artist;
    std::optional<QString> error;
    bool master = false;
    bool sync = false;
    bool loopActive = false;
    double bpm = 0;   // the grid's tempo, 0 without one
    double ratio = 1; // the playing tempo ratio
    TempoRange range = TempoRange::ten;
    double position = 0;
    double duration = 0;
    bool showRemaining = true;
    std::optional<MusicalKey> key;
    int keyShift = 0;
};

struct HeaderFace {
    QString deckLabel;
    QStringList badges; // "MASTER", "SYNC", "LOOP" as they are on
    QString title;
    bool titleScrolls = false;
    QString subLine;
    bool subIsError = false;
    QString bpm;
    QString pitch;
    QString range;
    QString clock;
    QString key;
    QString clockMode;
};
HeaderFace header(const HeaderInput& in);
// A title of this many characters or more scrolls.
constexpr int kMarqueeAt = 22;

// --- Transport keys.
struct TransportLamps {
    bool cueLit = false;
    bool cueBlink = false;
    bool playLit = false;
};
TransportLamps transport(bool loaded, bool playing, bool cueing, bool atCue);

// --- Pad-mode row.
struct ModeKey {
    QString label;
    bool lit = false;
};
struct DeckFlags {
    bool slip = false;
    bool quantize = false;
    bool vinyl = false;
};
std::array<ModeKey, 4> modeRow(PadMode current, bool shift, DeckFlags flags);
// What a press of mode key `key` (0…3) does.
struct ModePress {
    enum class Kind { setMode, slip, quantize, vinyl } kind = Kind::setMode;
    PadMode mode = PadMode::hotCue;
};
ModePress modePress(int key, PadMode current, bool shift);

// --- Pad grid.
// The deck whose key the key-sync pad aims at: 0 ↔ 1; 2 and 3 take the deck
// driven by the other half of the controller.
int partnerDeck(int index, const std::function<int(int side)>& activeDeck);

struct GridInput {
    PadMode mode = PadMode::hotCue;
    std::array<bool, 8> lit{};             // the application's padLit
    std::array<double, 8> hotCues{-1, -1, -1, -1, -1, -1, -1, -1};
    int keyShift = 0;
    std::optional<MusicalKey> ownKey;
    std::optional<MusicalKey> partnerKey;  // the partner's track key
    int partnerShift = 0;
};
struct PadFace {
    QString label;
    QString sublabel;
    bool lit = false;
    bool releases = false; // the pad's release reaches the application too
};
std::array<PadFace, 8> grid(const GridInput& in);
// "m:ss" of a hot cue, cut to whole seconds.
QString cueTime(double seconds);
// Loop lengths: whole beats, or "1/n" below one beat.
QString loopLength(double beats);

// --- Loop row.
// Whole beats truncated ("4"), or "1/n" below one beat; "--" for a count
// that is not a positive finite number.
QString beatLabel(double beats);
struct LoopInput {
    bool shift = false;
    bool loopSet = false;
    bool loopActive = false;
    double autoLoopBeats = 4;
    double beatJumpBeats = 4;
    bool sync = false;
    bool master = false;
};
struct LoopKeyFace {
    QString label;
    QString legend;
    QString shiftLegend;
    bool lit = false;
};
struct LoopFace {
    LoopKeyFace in, out, autoLoop, sync;
    QString jumpLegend; // under the "◀" "▶" pair
};
LoopFace loopRow(const LoopInput& in);
// The beat-jump size after a shifted "◀" (direction < 0) or "▶": halves down to
// 1 or doubles up to 32; a size that is not finite starts again from 4.
double nextJumpSize(double beats, int direction);

// --- Jog wheel.
struct JogGeometry {
    double cx, cy, R, Rp, Rl;
};
JogGeometry jogGeometry(double size);
// The platter's rotation in radians at `position` track seconds.
double platterAngle(double position, double secondsPerTurn);
// Elapsed progress strokes of 60 (0 unless the duration is above 0).
int progressStrokes(double position, double duration);
// "CDJ", "VINYL" or "SEARCH".
QString jogCaption(bool hasVoice, bool vinylOn, bool playing);

// A command the wheel sends to its deck's voice.
struct JogCommand {
    enum class Kind { touch, scrub, bend } kind = Kind::touch;
    double value = 0; // scrub seconds or bend amount
    bool down = false; // touch
    friend bool operator==(const JogCommand&, const JogCommand&) = default;
};

// One drag on the wheel. Points are relative to the wheel's centre, in
// points; times in seconds. Nothing is produced without a voice.
class JogGesture {
public:
    JogGesture(double size, double secondsPerTurn) : size_(size), secondsPerTurn_(secondsPerTurn) {}
    std::vector<JogCommand> sample(QPointF p, double time, bool hasVoice);
    std::vector<JogCommand> end(bool hasVoice);
    bool dragging() const { return lastAngle_.has_value(); }
    bool touchingTop() const { return touchingTop_; }

private:
    double size_;
    double secondsPerTurn_;
    std::optional<double> lastAngle_;
    std::optional<double> lastTime_;
    bool touchingTop_ = false;
};

// Delivers a wheel's commands through a send that may refuse (a full command
// ring). A refused scrub is carried into the next scrub, so the distance stays
// exact; a refused release is kept and retried ahead of anything later; a
// bend is only sent when nothing waits ahead of it (a bend fades by itself).
class JogSender {
public:
    using Send = std::function<bool(const JogCommand&)>;
    // Sends `commands` in order; returns whether anything still waits.
    bool deliver(const std::vector<JogCommand>& commands, const Send& send);
    // Retries what waits; true when something still does.
    bool flush(const Send& send);
    bool waiting() const { return releaseWaiting_ || carriedScrub_ != 0.0; }
    double carriedScrub() const { return carriedScrub_; }
    bool releaseWaiting() const { return releaseWaiting_; }

private:
    double carriedScrub_ = 0;
    bool releaseWaiting_ = false;
};

} // namespace zelvo::deckface
