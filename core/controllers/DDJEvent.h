#pragma once
// What a DDJ controller says, decoded: one value per MIDI message, in the
// controller's own terms (decks from 0, 14-bit controls scaled to 0...1). The
// application maps these to actions on the main thread.
//
// Every type here is trivially copyable, so the MIDI hub's queues copy events
// on the receive thread without allocating.
#include <cstdint>
#include <optional>
#include <type_traits>
#include <variant>

namespace zelvo {

// The page of a pad: the upper nibble of the pad's note number.
enum class HardwarePadMode : std::uint8_t {
    hotCue = 0,
    padFX1 = 1,
    beatJump = 2,
    sampler = 3,
    keyboard = 4,
    padFX2 = 5,
    beatLoop = 6,
    keyShift = 7,
};

enum class JogSurface : std::uint8_t { platter, platterNudge, side, search };

enum class MixerKnob : std::uint8_t { tempo, trim, high, mid, low, fader, colorFX };

// A deck button. `padMode` carries a pad page and `part` a part index; the
// other kinds carry nothing.
struct DeckKey {
    enum class Kind : std::uint8_t {
        padMode,
        part,
        play,
        cue,
        sync,
        syncLong,
        tempoReset,
        tempoRange,
        keySync,
        keySyncLong,
        loopIn,
        loopOut,
        reloop,
        loopHalve,
        loopDouble,
        callBack,
        callForward,
        beatJumpBack,
        beatJumpForward,
        slipReverse,
        quantize,
        slip,
        shift,
        headphoneCue,
        mixPointLink,
        mixPointBack,
        mixPointForward,
    };

    Kind kind = Kind::play;
    // The pad page's raw value for `padMode`, the part index for `part`, else 0.
    int payload = 0;

    static constexpr DeckKey of(Kind k) { return {k, 0}; }
    static constexpr DeckKey padModeKey(HardwarePadMode m) { return {Kind::padMode, int(m)}; }
    static constexpr DeckKey partKey(int index) { return {Kind::part, index}; }
    HardwarePadMode padMode() const { return HardwarePadMode(payload); }

    bool operator==(const DeckKey&) const = default;
};

// One struct per event case; DDJEvent's alternatives come in this order.
namespace DDJ {
struct Key {
    DeckKey key;
    int deck = 0;
    bool shift = false; // the controller sent the button's shifted note
    bool down = false;
    bool operator==(const Key&) const = default;
};
struct Pad {
    int deck = 0;
    HardwarePadMode mode = HardwarePadMode::hotCue;
    int page = 0; // 0 or 1
    int pad = 0;  // 0 to 7
    bool shift = false;
    bool down = false;
    bool operator==(const Pad&) const = default;
};
struct Jog {
    int deck = 0;
    JogSurface surface = JogSurface::platter;
    int delta = 0; // ticks
    bool operator==(const Jog&) const = default;
};
struct JogTouch {
    int deck = 0;
    bool down = false;
    bool operator==(const JogTouch&) const = default;
};
struct Knob {
    MixerKnob knob = MixerKnob::tempo;
    int deck = 0;
    double value = 0; // 0...1
    bool operator==(const Knob&) const = default;
};
struct Crossfader {
    double value = 0;
    bool operator==(const Crossfader&) const = default;
};
struct CrossfaderAssign {
    int deck = 0;
    int side = 0; // -1, 0 or +1
    bool operator==(const CrossfaderAssign&) const = default;
};
struct DeckSelect {
    int deck = 0;
    bool operator==(const DeckSelect&) const = default;
};
struct Browse {
    int delta = 0;
    bool operator==(const Browse&) const = default;
};
struct Zoom {
    int delta = 0;
    bool operator==(const Zoom&) const = default;
};
struct BrowsePress {
    bool shift = false;
    bool operator==(const BrowsePress&) const = default;
};
struct Load {
    int deck = 0;
    bool operator==(const Load&) const = default;
};
struct HeadphonesMix {
    double value = 0;
    bool operator==(const HeadphonesMix&) const = default;
};
struct ColorFXSelect {
    int effect = 0; // 0 to 5
    bool operator==(const ColorFXSelect&) const = default;
};
struct BeatFXOn {
    bool shift = false;
    bool down = false;
    bool operator==(const BeatFXOn&) const = default;
};
struct BeatFXBeat {
    int step = 0; // -1 or +1
    bool operator==(const BeatFXBeat&) const = default;
};
struct BeatFXSelect {
    int effect = 0; // 0 to 13
    bool operator==(const BeatFXSelect&) const = default;
};
struct BeatFXStep {
    int step = 0; // -1 or +1
    bool operator==(const BeatFXStep&) const = default;
};
struct BeatFXChannel {
    // 1 to 4 a channel, 0 the master, absent for the other positions.
    std::optional<int> channel;
    bool operator==(const BeatFXChannel&) const = default;
};
struct BeatFXLevel {
    double value = 0;
    bool operator==(const BeatFXLevel&) const = default;
};
struct Back {
    bool operator==(const Back&) const = default;
};
struct View {
    bool operator==(const View&) const = default;
};
} // namespace DDJ

using DDJEvent = std::variant<DDJ::Key, DDJ::Pad, DDJ::Jog, DDJ::JogTouch, DDJ::Knob, DDJ::Crossfader,
                              DDJ::CrossfaderAssign, DDJ::DeckSelect, DDJ::Browse, DDJ::Zoom, DDJ::BrowsePress,
                              DDJ::Load, DDJ::HeadphonesMix, DDJ::ColorFXSelect, DDJ::BeatFXOn, DDJ::BeatFXBeat,
                              DDJ::BeatFXSelect, DDJ::BeatFXStep, DDJ::BeatFXChannel, DDJ::BeatFXLevel, DDJ::Back,
                              DDJ::View>;

static_assert(std::is_trivially_copyable_v<DDJEvent>);
static_assert(std::is_trivially_copyable_v<std::optional<DDJEvent>>);

} // namespace zelvo
