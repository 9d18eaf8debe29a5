#pragma once
// Pure rules behind the model's strip: the big key's face, fill and pulse, the
// beat clock it pulses to, the chain and take read-outs, the re-roll gate, the
// queue line, the prompt's steppers and preset chips. Every value follows from
// model values (and a time) alone, so the widgets stay thin.
//
// Any thread (no state); the widgets call them on the main thread.
#include "state/AppLinks.h"
#include "generation/ForkSettings.h"
#include "library/BeatGrid.h"
#include "library/TrackRecord.h"

#include <QSizeF>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zelvo::stage {

// --- The big key.

enum class KeyAnimation { none, fill, pulse };

struct BigKeyLook {
    QString icon;      // the symbol name
    bool lit = false;  // paper face and ink text; else a dark face and paper text
    KeyAnimation animation = KeyAnimation::none;
    friend bool operator==(const BigKeyLook&, const BigKeyLook&) = default;
};
BigKeyLook bigKeyLook(AIStep step);
// Steps whose look moves on its own and so need frames: dreaming, drop it, armed.
bool stepAnimates(AIStep step);

// The key's frame and title size: 270 × 78 and 24 pt compact, else 300 × 104 and 28 pt.
QSizeF bigKeySize(bool compact);
double bigKeyTitleSize(bool compact);

// The progress fill's share of the key's width: at least 4 % (a sliver shows at
// 0), at most the whole key; an unreadable progress shows the sliver.
double fillShare(double progress);

// The beat pulse's border: opacity 0.5 + 0.5 k and ghost offset 2 + 2 k with
// k = 1 − φ; φ is the beat phase, else the free-running 2 × (t mod 0.5) of two
// pulses a second at clock time t (seconds).
struct PulseLook {
    double opacity = 0.5;
    double offset = 2;
};
PulseLook pulseLook(std::optional<double> beatPhase, double t);

// "tap: <title> · hold or shift-click: cancel / re-roll · FLX10: MIX POINT LINK".
QString bigKeyHelp(const QString& title);

// The fill eased out over 0.4 s from `from` to `to`, `elapsed` seconds after
// the change; the target at once from 0.4 s on (and for unreadable times).
double easedFill(double from, double to, double elapsed);
inline constexpr double kFillEase = 0.4;

// The position within the current beat, in [0, 1), of a deck whose record has
// `grid` and whose voice publishes `playing` at `position` seconds; none
// unless the voice exists, plays and the grid is usable on the stage.
std::optional<double> beatPhaseOf(const std::optional<BeatGrid>& grid, bool hasVoice, bool playing,
                                  double position);

// --- Takes and the chain.

// "chain in m:ss" from 1 s on, "chain · writing" below it, "chain · working"
// while a render runs, "chain paused · tap" while snoozed, else "chain on".
QString chainText(std::optional<double> countdown, bool busy, bool snoozed);
// "take i/n" (i 1-based; 0 when deck 2's record is not among the takes), or
// "no takes" when n is 0.
QString takeCounter(std::optional<int> index, int count);
// Re-roll needs a generated take on deck 2 and a workflow that is idle or failed.
bool canReroll(const std::optional<TrackRecord>& deckTwo, WorkflowLink::Phase phase);

// "queue · <title>" (lower case) of the first identifier that `lookup`
// resolves; none when flow is off or nothing resolves.
std::optional<QString> queueLine(bool flowOn, const std::vector<QUuid>& queue,
                                 const std::function<std::optional<TrackRecord>(const QUuid&)>& lookup);

// --- The prompt strip.

// The option after `value`, wrapping from the last to the first; a value not
// in the list counts as the first, so it moves to the second. `options` must
// not be empty.
int nextOption(std::int64_t value, const std::vector<int>& options);
// "16 bars", or "8" without a unit.
QString stepperText(std::int64_t value, const QString& unit);

// One of the four steppers: its title, options, unit and the setting it edits.
struct StepperKind {
    QString title;
    std::vector<int> options;
    QString unit;
    std::int64_t ForkSettings::*field;
};
const std::vector<StepperKind>& promptSteppers();
// `settings` with the stepper's setting moved to its next option.
ForkSettings stepped(const ForkSettings& settings, const StepperKind& kind);

// The preset chips lit for `prompt`: those whose prompt equals it exactly.
std::vector<bool> chipsSelected(const QString& prompt);

} // namespace zelvo::stage
