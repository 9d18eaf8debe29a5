#pragma once
// Where a generation window is cut: on the beat grid and in whole model latents,
// for a fork of a playing track, an extension of a take and a re-roll of a take.
#include "generation/ForkPlan.h"

namespace zelvo::ForkPlanner {

// The model works at 44.1 kHz in latents of 4096 samples.
inline constexpr double modelSampleRate = 44100.0;
inline constexpr double latentSeconds = 4096.0 / 44100.0;
// Context plus generation never exceed this.
inline constexpr double maxTotalSeconds = 190.0;
inline constexpr double minContextSeconds = 4.0;
// Eight latents.
inline constexpr double minGenerateSeconds = 32768.0 / 44100.0;

} // namespace zelvo::ForkPlanner
