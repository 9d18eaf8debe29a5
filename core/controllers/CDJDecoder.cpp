#include "controllers/CDJDecoder.h"

#include <algorithm>

namespace zelvo::CDJDecoder {

namespace {
using K = CDJButton::Kind;

std::optional<CDJButton> button(int note)
{
    switch (note) {
    case 0: return CDJButton::of(K::play);
    case 1: return CDJButton::of(K::cue);
    case 2: return CDJButton::of(K::search, 1);
    case 3: return CDJButton::of(K::search, -1);
    case 4: return CDJButton::of(K::trackSearch, 1);
    case 5: return CDJButton::of(K::trackSearch, -1);
    case 6: return CDJButton::of(K::quantize);
    case 7: return CDJButton::of(K::slip);
    case 9: return CDJButton::of(K::tempoReset);
    case 10: return CDJButton::of(K::tempoRange);
    case 11: return CDJButton::of(K::masterTempo);
    case 12: return CDJButton::of(K::jogMode);
    case 13: return CDJButton::of(K::cueLoopMemory);
    case 14: return CDJButton::of(K::callNext);
    case 15: return CDJButton::of(K::callPrevious);
    case 16: return CDJButton::of(K::cueLoopDelete);
    case 17: return CDJButton::of(K::browsePress);
    case 18: return CDJButton::of(K::back);
    case 19: return CDJButton::of(K::tagTrack);
    case 20: return CDJButton::of(K::trackFilter);
    case 21: return CDJButton::of(K::master);
    case 22: return CDJButton::of(K::sync);
    case 24: return CDJButton::of(K::slipReverse);
    case 25: return CDJButton::of(K::reverse);
    case 26: return CDJButton::of(K::hotCueCallDelete);
    case 35: return CDJButton::of(K::loopIn);
    case 36: return CDJButton::of(K::loopOut);
    case 37: return CDJButton::of(K::reloopExit);
    case 54: return CDJButton::of(K::beatJump, 1);
    case 55: return CDJButton::of(K::beatJump, -1);
    case 72: return CDJButton::of(K::keySync);
    case 73: return CDJButton::of(K::keyShift, 1);
    case 74: return CDJButton::of(K::keyShift, -1);
    case 75: return CDJButton::of(K::keyReset);
    default: break;
    }
    if (note >= 27 && note <= 34)
        return CDJButton::of(K::hotCue, note - 27);
    if (auto beats = loopSize(note))
        return CDJButton::of(K::beatLoop, *beats);
    if (note >= 56 && note <= 71) {
        // 56 +0.5, 57 -0.5, 58 +1, 59 -1, ... 70 +64, 71 -64.
        const double beats = double(1 << ((note - 56) / 2)) / 2.0;
        return CDJButton::of(K::beatJumpBy, note % 2 == 0 ? beats : -beats);
    }
    return std::nullopt;
}
} // namespace

std::optional<double> loopSize(int note)
{
    switch (note) {
    case 38: return 0.0625;
    case 39: return 0.125;
    case 40: return 0.25;
    case 41: return 0.5;
    case 42: return 1.0;
    case 43: return 2.0;
    case 44: return 4.0;
    case 45: return 8.0;
    case 46: return 16.0;
    case 47: return 32.0;
    case 48: return 1.0 / 3.0;
    case 49: return 0.75;
    case 50: return 3.0;
    case 51: return 6.0;
    case 52: return 9.0;
    case 76: return 1.5;
    case 77: return 5.0;
    case 78: return 7.0;
    default: return std::nullopt;
    }
}

double platterSpeed(std::uint8_t value)
{
    const int v = value & 0x7F;
    if (v == 64)
        return 0;
    if (v > 64)
        return double(v - 64) / 63.0 * 4.0;
    return -double(64 - v) / 64.0 * 4.0;
}

double sideSpeed(std::uint8_t value)
{
    const int v = value & 0x7F;
    if (v == 64)
        return 0;
    if (v >= 65)
        return double(v - 65) / 62.0 * 3.5 + 0.5;
    return -(double(63 - v) / 63.0 * 3.5 + 0.5);
}

std::optional<CDJEvent> decode(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const int type = status >> 4;
    const int d1 = data1 & 0x7F;
    const int d2 = data2 & 0x7F;
    if (type == 0x8 || type == 0x9) {
        const bool down = type == 0x9 && d2 != 0;
        if (d1 == 23)
            return CDJ::JogTouch{down};
        if (auto b = button(d1))
            return CDJ::Button{*b, down};
        return std::nullopt;
    }
    if (type != 0xB)
        return std::nullopt;
    switch (d1) {
    case 0x10: return CDJ::Platter{platterSpeed(std::uint8_t(d2))};
    case 0x1C:
        return d2 == 0 ? CDJ::Needle{std::nullopt} : CDJ::Needle{double(d2 - 1) / 126.0};
    case 0x1D: return CDJ::Tempo{std::clamp(double(d2 - 64) / 63.0, -1.0, 1.0)};
    case 0x30: return CDJ::JogSide{sideSpeed(std::uint8_t(d2))};
    case 0x4F: return CDJ::Browse{d2 < 64 ? d2 : d2 - 128};
    default: return std::nullopt;
    }
}

} // namespace zelvo::CDJDecoder
