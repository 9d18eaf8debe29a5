#include "ui/instrument/BrainPresenters.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace zelvo::brainface {

namespace {
// `value` with `digits` decimals, rounded half to even on the exact binary
// value, whatever the process's locale.
QString fixed(double value, int digits)
{
    char buffer[400];
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
    if (result.ec != std::errc())
        return QString();
    return QString::fromLatin1(buffer, qsizetype(result.ptr - buffer));
}

bool fitsInt(double value)
{
    return std::isfinite(value) && value > double(std::numeric_limits<int>::min()) &&
           value < double(std::numeric_limits<int>::max());
}
} // namespace

QString headline(const HeadlineInput& in)
{
    using K = OutpaintPhase::Kind;
    switch (in.phase.kind) {
    case K::rendering:
        if (in.phase.stage == QLatin1String("queued"))
            return QStringLiteral("WAITING FOR ZELVO-0\u2026");
        if (in.phase.stage == QLatin1String("sample"))
            return QStringLiteral("DREAMING %1/%2").arg(in.phase.step).arg(in.phase.total);
        return QString(in.phase.stage).replace(QLatin1Char('_'), QLatin1Char(' ')).toUpper();
    case K::failed: return in.phase.message;
    case K::capturing: return QStringLiteral("LISTENING TO DECK");
    case K::composing: return QStringLiteral("SPLICING SEAM");
    case K::idle: break;
    }
    if (in.notice && in.now < in.noticeUntil)
        return *in.notice;
    switch (in.drop.kind) {
    case DropStatus::Kind::ready:
        if (!in.deckTwoPlaying)
            return QStringLiteral("FORK READY \u00B7 DROP IT");
        break;
    case DropStatus::Kind::waiting:
        return QString::fromUtf8("FORK READY \u00B7 DECK 1 IN ") + fixed(in.drop.seconds, 0) + QLatin1Char('S');
    case DropStatus::Kind::armed:
        if (!(in.drop.seconds > 0.5))
            return QStringLiteral("DROP ARMED");
        return QString::fromUtf8("DROP ARMED \u00B7 ") + fixed(in.drop.seconds, 0) + QLatin1Char('S');
    case DropStatus::Kind::refused: break;
    }
    return in.status.label();
}

bool failed(const OutpaintPhase& phase, const BrainStatus& status)
{
    return phase.kind == OutpaintPhase::Kind::failed || status.kind == BrainStatus::Kind::failed;
}

int litSegments(double progress, int segments)
{
    const double lit = progress * segments;
    if (!fitsInt(lit) || lit <= 0)
        return 0;
    return std::min(segments, int(lit));
}

QString takeCounter(std::optional<int> index, std::size_t count)
{
    if (count == 0)
        return QStringLiteral("--/--");
    return QStringLiteral("%1/%2").arg(index.value_or(-1) + 1).arg(qulonglong(count));
}

SeedLine seedLine(const std::optional<std::int64_t>& seed)
{
    if (!seed)
        return {QStringLiteral("NO TAKE ON DECK 2"), true};
    return {QStringLiteral("SEED %1").arg(*seed), false};
}

KeyFace dropKey(const DropStatus& status)
{
    using K = DropStatus::Kind;
    KeyFace face{QStringLiteral("Drop"), {}, status.kind != K::refused, status.kind == K::armed};
    switch (status.kind) {
    case K::armed: face.sublabel = QStringLiteral("armed \u00B7 tap off"); break;
    case K::waiting: face.sublabel = QStringLiteral("arm"); break;
    case K::ready: face.sublabel = QStringLiteral("in sync"); break;
    case K::refused:
        face.sublabel = status.reason.isEmpty() ? QStringLiteral("on the one") : status.reason.toLower();
        break;
    }
    return face;
}

ActionKey actionKey(const BrainStatus& status, bool busy, const QString& brainSize)
{
    using K = BrainStatus::Kind;
    if (status.kind == K::failed || status.kind == K::offline)
        return {Action::wake, {QStringLiteral("Wake"), QStringLiteral("zelvo-0"), true, false}};
    if (status.kind == K::notInstalled)
        return {Action::install, {QStringLiteral("Install"), brainSize.toUpper(), true, true}};
    if (busy)
        return {Action::cancel, {QStringLiteral("Cancel"), QStringLiteral("render"), false, true}};
    return {Action::fork, {QStringLiteral("Fork"), QStringLiteral("deck 1 \u2192 zelvo-0"), true, false}};
}

std::optional<QString> cycleModel(const QList<BrainModel>& models, const std::optional<QString>& current)
{
    std::vector<std::optional<QString>> choices;
    for (const BrainModel& model : models)
        choices.push_back(model.kind == QLatin1String("base") ? std::nullopt : std::optional<QString>(model.name));
    if (choices.empty())
        return current;
    // No match counts as the first choice, so an unlisted model moves to the second.
    std::size_t next = 1;
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i] == current) {
            next = i + 1;
            break;
        }
    return choices[next % choices.size()];
}

bool showsModelKey(const std::optional<BrainHealth>& health)
{
    return health && health->models.size() > 1;
}

double stepperIndex(const std::vector<int>& options, std::int64_t value)
{
    for (std::size_t i = 0; i < options.size(); ++i)
        if (options[i] == value)
            return double(i);
    return 0;
}

std::optional<int> stepperValue(const std::vector<int>& options, double knob)
{
    if (options.empty() || !std::isfinite(knob))
        return std::nullopt;
    const double last = double(options.size() - 1);
    const long i = std::lround(std::clamp(knob, 0.0, last));
    return options[std::size_t(i)];
}

QString stepperReadout(std::int64_t value, const QString& unit)
{
    return QString::number(value) + unit;
}

QString guideText(double guidance)
{
    return QStringLiteral("guide ") + fixed(guidance, 1);
}

QString modelName(const std::optional<QString>& model)
{
    return model ? model->toUpper() : QStringLiteral("BASE");
}

QString memoryText(double gigabytes)
{
    return fixed(gigabytes, 1) + QStringLiteral("GB");
}

QString lastRenderText(double seconds)
{
    return QStringLiteral("LAST ") + fixed(seconds, 1) + QLatin1Char('S');
}

} // namespace zelvo::brainface
