#pragma once
// The per-channel colour effect: a resonant filter sweep, a bit crusher, filtered
// noise and a short cross-fed stereo echo, all driven by one bipolar knob.
#include "audio/Delay.h"
#include "audio/SVF.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelvo {

// The colour effect shared by all channels; the raw values are what the mixer
// cells carry.
enum class ColorFXKind : int { filter = 0, crush = 1, noise = 2, space = 3 };

// Every kind in raw-value order. Any thread.
inline constexpr std::array<ColorFXKind, 4> allColorFXKinds{ColorFXKind::filter, ColorFXKind::crush,
                                                            ColorFXKind::noise, ColorFXKind::space};
// The kind with this raw value; none outside 0…3. Any thread.
std::optional<ColorFXKind> colorFXKindFromRaw(std::int64_t raw) noexcept;
// "FILTER", "CRUSH", "NOISE" or "SPACE". Any thread.
std::string_view label(ColorFXKind kind) noexcept;

class ColorFX {
public:
    // State for one stereo channel at `sampleRate`. Allocates its echo lines: not
    // on the audio thread.
    explicit ColorFX(double sampleRate);

    // Processes one stereo sample in place. `amount` is the channel's colour knob
    // (−1…1; below 0.02 in magnitude the sample passes and no state moves),
    // `parameter` the mixer-wide colour parameter (0…1, the filter's resonance).
    // Audio thread (the owner's).
    void tick(double& left, double& right, ColorFXKind kind, double amount, double parameter) noexcept;
    // Whether ticking silence with `kind` at `amount` gives exact silence and
    // moves no state, so the ticks may be left out: the knob is off, or the
    // kind's filter or echo lines hold exact zeros. The crusher's hold clock and
    // the noise source run whenever they are on, so those kinds are never at
    // rest while engaged. Owner's thread.
    bool atRest(ColorFXKind kind, double amount) const noexcept;

    SVF svfL, svfR;
    double holdL = 0.0, holdR = 0.0, holdCount = 0.0;
    std::uint32_t noiseSeed = 0x9E3779B9u;
    SVF noiseSVF;
    Delay spaceL, spaceR;
    double sampleRate;
    // −1 until the filter's coefficients were first computed.
    double lastCutoff = -1.0;
};

} // namespace zelvo
