#pragma once
// The mixer's beat-synchronised effect: echo, roll and flanger timed in beats of
// the master tempo. The reverb kind is the engine's hosted reverb on a send bus;
// this block leaves its samples alone.
#include "audio/Delay.h"
#include "audio/Smoothed.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zelvo {

// The beat effect kind; the raw values are what the mixer cells carry.
enum class BeatFXKind : int { echo = 0, roll = 1, flanger = 2, reverb = 3 };

// Every kind in raw-value order. Any thread.
inline constexpr std::array<BeatFXKind, 4> allBeatFXKinds{BeatFXKind::echo, BeatFXKind::roll, BeatFXKind::flanger,
                                                          BeatFXKind::reverb};
// The kind with this raw value; none outside 0…3. Any thread.
std::optional<BeatFXKind> beatFXKindFromRaw(std::int64_t raw) noexcept;
// "ECHO", "ROLL", "FLANGER" or "REVERB". Any thread.
std::string_view label(BeatFXKind kind) noexcept;

// The length of one beat in seconds at `bpm`: 60/bpm, or 1.5 s (the slowest the
// effects allow) at 40 BPM and below or for a tempo that is not finite. Any thread.
double beatSecondsFor(double bpm) noexcept;

class BeatFX {
public:
    // State at `sampleRate`: 8 s echo lines, 8 s roll buffers, 30 ms flanger lines.
    // Allocates: not on the audio thread.
    explicit BeatFX(double sampleRate);

    // Processes one stereo sample in place. `beats` is the effect length in beats
    // (a non-finite, zero or negative length counts as the shortest, 1/8 beat),
    // `bpm` the tempo it follows, `level` the level/depth knob in 0…1. Audio thread.
    void tick(double& left, double& right, BeatFXKind kind, bool on, double beats, double bpm, double level) noexcept;
    // Whether a tick of `kind` with the effect `off` would leave every sample and
    // every bit of state as it is, so the tick can be left out: switched off,
    // its wet level at exactly zero, and an echo whose lines hold only zeros, or
    // a roll with nothing captured. The flanger's sweep always moves. Audio thread.
    bool atRest(BeatFXKind kind, bool on) const noexcept;

    Delay echoL, echoR;
    std::vector<double> rollL, rollR;
    std::size_t rollWrite = 0, rollLength = 0, rollRead = 0;
    bool rollCaptured = false;
    Delay flangeL, flangeR;
    // Flanger sweep position in cycles, 0 ≤ phase < 1.
    double phase = 0.0;
    double sampleRate;
    Smoothed wet;
};

} // namespace zelvo
