#pragma once
// Builders of the MIDI messages sent to a DDJ-FLX4 or DDJ-FLX10: button and
// pad LEDs, level meters and the jog-wheel displays. Each returns complete
// three-byte channel messages (never running status); the caller concatenates
// one feedback pass and sends it through the MIDI hub. A button's LED is
// addressed by the note the button sends.
//
// Every data byte is kept to seven bits, so no argument can put a status byte
// into the stream. Doubles that are NaN or infinite count as 0. Any thread.
#include <cstdint>
#include <optional>
#include <vector>

namespace zelvo::DDJOut {

using Bytes = std::vector<std::uint8_t>;

// Deck LED on the deck's channel: 0x90 + deck, note, value.
Bytes note(int deck, std::uint8_t note, std::uint8_t value);
// Pad LED on channel 7 + 2 * deck (+1 for the shifted layer).
Bytes pad(int deck, bool shift, std::uint8_t note, std::uint8_t value);
// Beat-effect LED on channel 4.
Bytes beatFX(std::uint8_t note, std::uint8_t value);
// Global LED on channel 6.
Bytes global(std::uint8_t note, std::uint8_t value);
// Level meter: controller 2 on the deck's channel, `level` (0...1) * 127 rounded
// and clamped to 0...127.
Bytes meter(int deck, double level);

// Jog displays, channel 15. A 14-bit value, clamped to 0...16383, as the MSB
// control change then the LSB one.
Bytes jog14(std::uint8_t msb, std::uint8_t lsb, int value);
// The position marker, in degrees (taken modulo 360, never negative).
Bytes jogMarker(int deck, int degrees);
// The tempo in tenths of a beat per minute.
Bytes jogBPM(int deck, double bpm);
// The tempo offset in tenths of a percent plus 1000 (0 % is 1000).
Bytes jogSpeed(int deck, double percent);
// The cue point's angle; none sends 16383, "no cue point".
Bytes jogCue(int deck, std::optional<int> degrees);
// Minutes (capped at 99) and seconds of the minute of `seconds` truncated
// (negative counts as 0), then the remaining-time flag: nine bytes.
Bytes jogTime(int deck, double seconds, bool remaining);
Bytes jogFlag(std::uint8_t base, int deck, bool on);
Bytes jogMaster(int deck, bool on);
Bytes jogSync(int deck, bool on);
Bytes jogKeyLock(int deck, bool on);
// Inverted on the wire: 0x7F hides the information.
Bytes jogInfo(int deck, bool visible);
// One message for the whole controller.
Bytes jogKeyFormat(bool camelot);
Bytes jogRing(int deck, bool on);
// The key on the deck's own channel: controller 73 the key code, controller 74
// the key shift in semitones (-12...+12) as 1...25.
Bytes jogKey(int deck, std::uint8_t code, int shift);

// The display's key code 1 to 24: a major key is 2 * pc + 1, a minor key the
// even code just above its relative major. `pitchClass` is taken modulo 12.
std::uint8_t keyCode(int pitchClass, bool minor);

} // namespace zelvo::DDJOut
