#include "ui/stage/MachinePresenters.h"

#include "ui/instrument/BrainModule.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/StagePresenters.h"

#include <algorithm>
#include <cmath>

namespace zelvo::stage {

BigKeyLook bigKeyLook(AIStep step)
{
    switch (step) {
    case AIStep::install: return {QStringLiteral("arrow.down.circle.fill"), true, KeyAnimation::none};
    case AIStep::wake: return {QStringLiteral("power"), true, KeyAnimation::none};
    case AIStep::waking: return {QStringLiteral("power"), false, KeyAnimation::none};
    case AIStep::installing: return {QStringLiteral("icloud.and.arrow.down"), false, KeyAnimation::fill};
    case AIStep::fork: return {QStringLiteral("arrow.triangle.branch"), true, KeyAnimation::none};
    case AIStep::loadRecord: return {QStringLiteral("square.and.arrow.down"), false, KeyAnimation::none};
    case AIStep::dreaming: return {QStringLiteral("waveform"), false, KeyAnimation::fill};
    case AIStep::dropIt: return {QStringLiteral("arrow.down.to.line"), true, KeyAnimation::pulse};
    case AIStep::armed: return {QStringLiteral("scope"), false, KeyAnimation::pulse};
    case AIStep::steer: return {QStringLiteral("arrow.forward.to.line"), false, KeyAnimation::none};
    }
    return {};
}

bool stepAnimates(AIStep step)
{
    return step == AIStep::dreaming || step == AIStep::dropIt || step == AIStep::armed;
}

QSizeF bigKeySize(bool compact)
{
    return compact ? QSizeF(270, 78) : QSizeF(300, 104);
}

double bigKeyTitleSize(bool compact)
{
    return compact ? 24 : 28;
}

double fillShare(double progress)
{
    if (!std::isfinite(progress))
        return 0.04;
    return std::clamp(progress, 0.04, 1.0);
}

PulseLook pulseLook(std::optional<double> beatPhase, double t)
{
    double phi = 0;
    if (beatPhase && std::isfinite(*beatPhase))
        phi = std::clamp(*beatPhase, 0.0, 1.0);
    else if (std::isfinite(t))
        phi = 2 * (t - 0.5 * std::floor(t / 0.5));
    phi = std::clamp(phi, 0.0, 1.0);
    const double k = 1 - phi;
    return {0.5 + 0.5 * k, 2 + 2 * k};
}

QString bigKeyHelp(const QString& title)
{
    return QStringLiteral("tap: ") + title + QStringLiteral(" · hold or shift-click: cancel / re-roll · FLX10: MIX POINT LINK");
}

double easedFill(double from, double to, double elapsed)
{
    if (!std::isfinite(from) || !std::isfinite(elapsed) || elapsed >= kFillEase)
        return to;
    const double u = std::clamp(elapsed / kFillEase, 0.0, 1.0);
    // Ease-out: fast at first, settling on the target.
    const double eased = 1 - (1 - u) * (1 - u) * (1 - u);
    return from + (to - from) * eased;
}

std::optional<double> beatPhaseOf(const std::optional<BeatGrid>& grid, bool hasVoice, bool playing,
                                  double position)
{
    if (!hasVoice || !playing || !usableGrid(grid) || !std::isfinite(position))
        return std::nullopt;
    const double u = (position - grid->firstBeat) / (60.0 / grid->bpm);
    if (!std::isfinite(u))
        return std::nullopt;
    // Rounding can put u − floor(u) on 1 for a u just below a whole number.
    const double phase = u - std::floor(u);
    return phase >= 1 ? 0.0 : phase;
}

QString chainText(std::optional<double> countdown, bool busy, bool snoozed)
{
    if (countdown && std::isfinite(*countdown)) {
        if (*countdown >= 1)
            return QStringLiteral("chain in ") + MachinePanel::clock(*countdown);
        return QStringLiteral("chain · writing");
    }
    if (busy)
        return QStringLiteral("chain · working");
    if (snoozed)
        return QStringLiteral("chain paused · tap");
    return QStringLiteral("chain on");
}

QString takeCounter(std::optional<int> index, int count)
{
    if (count <= 0)
        return QStringLiteral("no takes");
    return QString::asprintf("take %d/%d", index ? *index + 1 : 0, count);
}

bool canReroll(const std::optional<TrackRecord>& deckTwo, WorkflowLink::Phase phase)
{
    return deckTwo && deckTwo->outpaint && (phase == WorkflowLink::Phase::idle || phase == WorkflowLink::Phase::failed);
}

std::optional<QString> queueLine(bool flowOn, const std::vector<QUuid>& queue,
                                 const std::function<std::optional<TrackRecord>(const QUuid&)>& lookup)
{
    if (!flowOn)
        return std::nullopt;
    for (const QUuid& id : queue)
        if (const std::optional<TrackRecord> record = lookup(id))
            return QStringLiteral("queue · ") + record->title.toLower();
    return std::nullopt;
}

int nextOption(std::int64_t value, const std::vector<int>& options)
{
    const auto at = std::find(options.begin(), options.end(), value);
    const std::size_t i = at == options.end() ? 0 : std::size_t(at - options.begin());
    return options[(i + 1) % options.size()];
}

QString stepperText(std::int64_t value, const QString& unit)
{
    const QString number = QString::number(value);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

const std::vector<StepperKind>& promptSteppers()
{
    static const std::vector<StepperKind> steppers{
        {QStringLiteral("hears"), {4, 8, 16, 32}, QStringLiteral("bars"), &ForkSettings::contextBars},
        {QStringLiteral("writes"), {8, 16, 32, 64}, QStringLiteral("bars"), &ForkSettings::lengthBars},
        {QStringLiteral("ahead"), {4, 8, 16, 32}, QStringLiteral("bars"), &ForkSettings::aheadBars},
        {QStringLiteral("steps"), {4, 6, 8, 12, 16}, QString(), &ForkSettings::steps},
    };
    return steppers;
}

ForkSettings stepped(const ForkSettings& settings, const StepperKind& kind)
{
    ForkSettings next = settings;
    next.*kind.field = nextOption(settings.*kind.field, kind.options);
    return next;
}

std::vector<bool> chipsSelected(const QString& prompt)
{
    std::vector<bool> lit;
    for (const BrainModule::Preset& preset : BrainModule::presets())
        lit.push_back(preset.prompt == prompt);
    return lit;
}

} // namespace zelvo::stage
