#pragma once
// Pure rules behind the faceplate's model module: the headline and its
// precedence, the progress segments, the takes counter, the seed line, the
// Drop key, the action key by server status, model cycling and the stepper
// knob's index mapping. Values follow from model values and a time alone.
//
// Any thread (no state); the widgets call them on the main thread.
#include "generation/BrainHealth.h"
#include "generation/BrainModel.h"
#include "generation/BrainStatus.h"
#include "generation/OutpaintModel.h"
#include "models/DropWorkflow.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace zelvo::brainface {

// What the headline reads besides the phase.
struct HeadlineInput {
    OutpaintPhase phase;
    std::optional<QString> notice;
    QDateTime noticeUntil;
    QDateTime now;
    DropStatus drop = DropStatus::refused({});
    bool deckTwoPlaying = false;
    BrainStatus status;
};
QString headline(const HeadlineInput& in);
// Red, without aberration: the phase or the server has failed.
bool failed(const OutpaintPhase& phase, const BrainStatus& status);

// Segments lit of `segments` for a progress; none for a non-finite or negative one.
int litSegments(double progress, int segments = 40);
// "--/--", or (index + 1) "/" count with a missing index counting as −1.
QString takeCounter(std::optional<int> index, std::size_t count);
// "SEED n" for a take on deck 2, else "NO TAKE ON DECK 2" (dim).
struct SeedLine {
    QString text;
    bool dim = false;
};
SeedLine seedLine(const std::optional<std::int64_t>& seed);

struct KeyFace {
    QString label;
    QString sublabel;
    bool lit = false;
    bool blink = false;
    friend bool operator==(const KeyFace&, const KeyFace&) = default;
};
KeyFace dropKey(const DropStatus& status);

enum class Action { wake, install, cancel, fork };
struct ActionKey {
    Action action;
    KeyFace face;
};
ActionKey actionKey(const BrainStatus& status, bool busy, const QString& brainSize);

// The model after `current` among the listed choices (a base model stands for
// the stock one, none); an unlisted current moves to the second choice.
std::optional<QString> cycleModel(const QList<BrainModel>& models, const std::optional<QString>& current);
// Whether the module shows a model key.
bool showsModelKey(const std::optional<BrainHealth>& health);

// The stepper knob's index of `value` (0 for an unlisted value).
double stepperIndex(const std::vector<int>& options, std::int64_t value);
// The option a knob value selects: nearest index (halves away from zero),
// clamped; none for a non-finite knob value.
std::optional<int> stepperValue(const std::vector<int>& options, double knob);
// "16BAR".
QString stepperReadout(std::int64_t value, const QString& unit);
// "guide 1.5".
QString guideText(double guidance);
// "MODEL" name: upper-cased model, or "BASE".
QString modelName(const std::optional<QString>& model);
// "%.1fGB", "LAST %.1fS".
QString memoryText(double gigabytes);
QString lastRenderText(double seconds);

} // namespace zelvo::brainface
