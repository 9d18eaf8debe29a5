#pragma once
// Control-to-gain laws and the beat-effect length table, shared by the mix
// engine, the offline mix of a fork's context, the controller code and the
// mixer views. Pure functions: any thread, the audio thread included.
#include <array>
#include <string>

namespace zelvo {

// Input trim knob (−1…1) to linear gain: +9 dB at +1, unity at 0, 30 dB of cut
// towards −1, silence at −0.995 and below.
double trimGain(double x) noexcept;
// Isolator band knob (−1…1) to linear gain: up to +6 dB above 0, a steep cut
// below, and a full kill at −0.985 and below.
double isolatorGain(double x) noexcept;
// Fader position to gain: clamp(x, 0, 1)^1.7.
double faderGain(double x) noexcept;
// Crossfader gain of a channel on `side` (−1 A, 0 thru, +1 B) at `position`
// (−1 full A … +1 full B), blending the constant-power law (curve 0) into a sharp
// cut in the last 3 % of travel (curve 1).
double crossfaderGain(int side, double position, double curve) noexcept;
// The same law for a channel index: channel 0 on side A, every other on side B.
double crossfaderGainForChannel(int channel, double position, double curve) noexcept;

// The beat-effect lengths in beats, indexed by the mixer's beat setting.
inline constexpr std::array<double, 9> beatFractions{0.125, 0.25, 0.5, 0.75, 1.0, 2.0, 4.0, 8.0, 16.0};
// "1/8", "1/4", "1/2", "3/4" for those fractions; any other length truncated to
// an integer in decimal ("1" … "16"; "0" for a length that is not finite).
std::string beatFractionLabel(double beats);

} // namespace zelvo
