#pragma once
// Where a generation window is cut: on the beat grid and in whole model latents,
// for a fork of a playing track, an extension of a take and a re-roll of a take.
//
// Every context and generation length returned is a whole number of latents;
// the context is at least 4 s, the generation at least 8 latents, and together
// they never exceed 190 s. A grid whose tempo is not a positive finite number,
// or whose bars have fewer than one beat, counts as no grid (bars of 2 s). All
// functions are pure and may run on any thread; none fails other than by
// returning nothing, and a plan never holds a number that is not finite.
#include "generation/ForkPlan.h"
#include "generation/ForkSettings.h"
#include "library/BeatGrid.h"

#include <optional>

namespace zelvo::ForkPlanner {

// The model works at 44.1 kHz in latents of 4096 samples.
inline constexpr double modelSampleRate = 44100.0;
inline constexpr double latentSeconds = 4096.0 / 44100.0;
// Context plus generation never exceed this.
inline constexpr double maxTotalSeconds = 190.0;
inline constexpr double minContextSeconds = 4.0;
// Eight latents.
inline constexpr double minGenerateSeconds = 32768.0 / 44100.0;
// The bar length used without a (usable) grid.
inline constexpr double barWithoutGrid = BeatGrid::barWithoutGrid;
// A fork's seam stays this far inside the track's end.
inline constexpr double forkEndMargin = 0.05;
// Seconds of work per second of audio until a render has been timed.
inline constexpr double defaultRenderSpeed = 0.7;

enum class Rounding { toNearestOrAwayFromZero, toNearestOrEven, up, down, towardZero, awayFromZero };

// True for a grid the planner cuts on: a finite positive tempo and at least
// one beat per bar. Any other grid, and none, stands for bars of 2 s.
bool usable(const std::optional<BeatGrid>& grid);

// seconds / latentSeconds rounded by `rule`, times latentSeconds.
double latentAligned(double seconds, Rounding rule);

// The window for forking a track at `playhead` (seconds) of `duration`: the seam
// on the bar line nearest to the playhead plus the lead, at least
// `minLeadSeconds` ahead where the track allows it.
std::optional<ForkPlan> fork(const std::optional<BeatGrid>& grid, double playhead, double duration,
                             const ForkSettings& settings, double minLeadSeconds);
// The window that continues a take of `duration` seconds from its end.
std::optional<ForkPlan> extend(double duration, const std::optional<BeatGrid>& grid, const ForkSettings& settings);
// The window that renders a take again from its own context: `sourceOffset` is
// where the take's context began in the source, `seam` how many seconds of
// context the take starts with.
std::optional<ForkPlan> reroll(double sourceOffset, double seam, const std::optional<BeatGrid>& grid,
                               const ForkSettings& settings);
// Expected wall-clock seconds of a render: speed (default 0.7) × total + 4.
double expectedRender(double totalSeconds, std::optional<double> secondsPerSecond);
// seam − contextSeconds: the start of a context that ends at the seam.
double roomOrigin(double seam, double contextSeconds);

} // namespace zelvo::ForkPlanner
