#pragma once
// What a CDJ player in software control says, decoded. Trivially copyable, so
// the MIDI hub queues events without allocating.
#include <cstdint>
#include <optional>
#include <type_traits>
#include <variant>

namespace zelvo {

// A player button. `amount` carries the payload: a direction (+1 or -1) for
// search, trackSearch, beatJump and keyShift, a signed jump in beats for
// beatJumpBy, a loop length in beats for beatLoop, the hot-cue index 0 to 7
// for hotCue; 0 for the others.
struct CDJButton {
    enum class Kind : std::uint8_t {
        search,
        trackSearch,
        beatJump,
        beatJumpBy,
        beatLoop,
        hotCue,
        keyShift,
        play,
        cue,
        tempoReset,
        tempoRange,
        masterTempo,
        keySync,
        sync,
        master,
        jogMode,
        slipReverse,
        reverse,
        quantize,
        slip,
        loopIn,
        loopOut,
        reloopExit,
        callNext,
        callPrevious,
        cueLoopDelete,
        cueLoopMemory,
        browsePress,
        back,
        tagTrack,
        trackFilter,
        hotCueCallDelete,
        keyReset,
    };

    Kind kind = Kind::play;
    double amount = 0;

    static constexpr CDJButton of(Kind k, double amount = 0) { return {k, amount}; }
    // The integer payload (direction or hot-cue index).
    int step() const { return int(amount); }

    bool operator==(const CDJButton&) const = default;
};

// One struct per event case; CDJEvent's alternatives come in this order.
namespace CDJ {
struct Button {
    CDJButton button;
    bool down = false;
    bool operator==(const Button&) const = default;
};
struct Platter {
    double speed = 0; // -4 to +4
    bool operator==(const Platter&) const = default;
};
struct JogSide {
    double speed = 0; // -4 to +4, nothing between -0.5 and +0.5 but 0
    bool operator==(const JogSide&) const = default;
};
struct JogTouch {
    bool down = false;
    bool operator==(const JogTouch&) const = default;
};
struct Tempo {
    double value = 0; // -1 to +1
    bool operator==(const Tempo&) const = default;
};
struct Needle {
    std::optional<double> position; // 0 to 1; absent when the strip is let go
    bool operator==(const Needle&) const = default;
};
struct Browse {
    int delta = 0;
    bool operator==(const Browse&) const = default;
};
} // namespace CDJ

using CDJEvent = std::variant<CDJ::Button, CDJ::Platter, CDJ::JogSide, CDJ::JogTouch, CDJ::Tempo, CDJ::Needle,
                              CDJ::Browse>;

static_assert(std::is_trivially_copyable_v<CDJEvent>);

} // namespace zelvo
