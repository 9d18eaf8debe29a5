#include "generation/ForkPlanner.h"

#include <algorithm>
#include <cmath>

namespace zelvo::ForkPlanner {

bool usable(const std::optional<BeatGrid>& grid)
{
    return BeatGrid::usable(grid);
}

namespace {

double barOf(const std::optional<BeatGrid>& grid)
{
    return BeatGrid::barOf(grid);
}

bool finite(const ForkPlan& p)
{
    return std::isfinite(p.seam) && std::isfinite(p.contextStart) && std::isfinite(p.contextSeconds)
        && std::isfinite(p.generateSeconds);
}

// The generation length from lengthBars, cut so context plus generation stay
// within the limit; nothing when less than the minimum is left. The "at least"
// tests are written so that NaN fails them.
std::optional<double> generation(double bar, double context, const ForkSettings& settings)
{
    double generate = latentAligned(bar * double(settings.lengthBars), Rounding::up);
    if (context + generate > maxTotalSeconds)
        generate = std::floor((maxTotalSeconds - context) / latentSeconds) * latentSeconds;
    if (!(generate >= minGenerateSeconds))
        return std::nullopt;
    return generate;
}

std::optional<ForkPlan> commonTail(double seam, double bar, const ForkSettings& settings)
{
    double context = latentAligned(bar * double(settings.contextBars), Rounding::toNearestOrEven);
    if (seam < context)
        context = std::floor(seam / latentSeconds) * latentSeconds;
    if (!(context >= minContextSeconds))
        return std::nullopt;
    const auto generate = generation(bar, context, settings);
    if (!generate)
        return std::nullopt;
    const ForkPlan plan{seam, seam - context, context, *generate};
    return finite(plan) ? std::optional(plan) : std::nullopt;
}

} // namespace

double latentAligned(double seconds, Rounding rule)
{
    const double latents = seconds / latentSeconds;
    double whole = 0;
    switch (rule) {
    case Rounding::toNearestOrAwayFromZero: whole = std::round(latents); break;
    case Rounding::toNearestOrEven: whole = std::nearbyint(latents); break;
    case Rounding::up: whole = std::ceil(latents); break;
    case Rounding::down: whole = std::floor(latents); break;
    case Rounding::towardZero: whole = std::trunc(latents); break;
    case Rounding::awayFromZero: whole = latents < 0 ? std::floor(latents) : std::ceil(latents); break;
    }
    return whole * latentSeconds;
}

std::optional<ForkPlan> fork(const std::optional<BeatGrid>& grid, double playhead, double duration,
                             const ForkSettings& settings, double minLeadSeconds)
{
    const double ahead = double(settings.aheadBars);
    if (!usable(grid)) {
        const double lead = std::max(barWithoutGrid * ahead, minLeadSeconds);
        double seam = playhead + lead;
        if (seam > duration - forkEndMargin)
            seam = duration;
        return commonTail(seam, barWithoutGrid, settings);
    }

    const double perBar = double(grid->beatsPerBar);
    const double beat = 60.0 / grid->bpm;
    const double bar = beat * perBar;
    const double first = grid->firstBeat;
    const double lead = std::max(ahead * bar, minLeadSeconds);
    const double b = (playhead + lead - first) / beat / perBar;
    double seam = first + beat * (std::round(b) * perBar);
    if (seam < playhead + minLeadSeconds)
        seam = first + beat * ((std::floor(b + 0.000001) + 1) * perBar);
    // The last bar line inside the track; it may come closer to the playhead
    // than the minimum lead.
    if (seam > duration - forkEndMargin)
        seam = first + beat * (std::floor((duration - first) / beat / perBar) * perBar);
    return commonTail(seam, bar, settings);
}

std::optional<ForkPlan> extend(double duration, const std::optional<BeatGrid>& grid, const ForkSettings& settings)
{
    const double seam = std::floor(duration / latentSeconds) * latentSeconds;
    return commonTail(seam, barOf(grid), settings);
}

std::optional<ForkPlan> reroll(double sourceOffset, double seam, const std::optional<BeatGrid>& grid,
                               const ForkSettings& settings)
{
    const double context = latentAligned(seam, Rounding::toNearestOrEven);
    if (!(context >= minContextSeconds))
        return std::nullopt;
    const auto generate = generation(barOf(grid), context, settings);
    if (!generate)
        return std::nullopt;
    const ForkPlan plan{sourceOffset + context, sourceOffset, context, *generate};
    return finite(plan) ? std::optional(plan) : std::nullopt;
}

double expectedRender(double totalSeconds, std::optional<double> secondsPerSecond)
{
    return secondsPerSecond.value_or(defaultRenderSpeed) * totalSeconds + 4.0;
}

double roomOrigin(double seam, double contextSeconds)
{
    return seam - contextSeconds;
}

} // namespace zelvo::ForkPlanner
