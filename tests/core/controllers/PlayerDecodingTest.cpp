#include "controllers/CDJDecoder.h"
#include "controllers/PlayerRouting.h"
#include "support/ControllerPrinting.h"

#include <gtest/gtest.h>

#include <vector>

namespace zelvo {
namespace {

using B = CDJButton::Kind;
using Event = std::optional<CDJEvent>;

std::optional<CDJButton> expectedButton(int note)
{
    struct Row {
        int note;
        CDJButton button;
    };
    static const std::vector<Row> rows = {
        {0, CDJButton::of(B::play)},
        {1, CDJButton::of(B::cue)},
        {2, CDJButton::of(B::search, 1)},
        {3, CDJButton::of(B::search, -1)},
        {4, CDJButton::of(B::trackSearch, 1)},
        {5, CDJButton::of(B::trackSearch, -1)},
        {6, CDJButton::of(B::quantize)},
        {7, CDJButton::of(B::slip)},
        {9, CDJButton::of(B::tempoReset)},
        {10, CDJButton::of(B::tempoRange)},
        {11, CDJButton::of(B::masterTempo)},
        {12, CDJButton::of(B::jogMode)},
        {13, CDJButton::of(B::cueLoopMemory)},
        {14, CDJButton::of(B::callNext)},
        {15, CDJButton::of(B::callPrevious)},
        {16, CDJButton::of(B::cueLoopDelete)},
        {17, CDJButton::of(B::browsePress)},
        {18, CDJButton::of(B::back)},
        {19, CDJButton::of(B::tagTrack)},
        {20, CDJButton::of(B::trackFilter)},
        {21, CDJButton::of(B::master)},
        {22, CDJButton::of(B::sync)},
        {24, CDJButton::of(B::slipReverse)},
        {25, CDJButton::of(B::reverse)},
        {26, CDJButton::of(B::hotCueCallDelete)},
        {35, CDJButton::of(B::loopIn)},
        {36, CDJButton::of(B::loopOut)},
        {37, CDJButton::of(B::reloopExit)},
        {38, CDJButton::of(B::beatLoop, 0.0625)},
        {39, CDJButton::of(B::beatLoop, 0.125)},
        {40, CDJButton::of(B::beatLoop, 0.25)},
        {41, CDJButton::of(B::beatLoop, 0.5)},
        {42, CDJButton::of(B::beatLoop, 1)},
        {43, CDJButton::of(B::beatLoop, 2)},
        {44, CDJButton::of(B::beatLoop, 4)},
        {45, CDJButton::of(B::beatLoop, 8)},
        {46, CDJButton::of(B::beatLoop, 16)},
        {47, CDJButton::of(B::beatLoop, 32)},
        {48, CDJButton::of(B::beatLoop, 1.0 / 3.0)},
        {49, CDJButton::of(B::beatLoop, 0.75)},
        {50, CDJButton::of(B::beatLoop, 3)},
        {51, CDJButton::of(B::beatLoop, 6)},
        {52, CDJButton::of(B::beatLoop, 9)},
        {54, CDJButton::of(B::beatJump, 1)},
        {55, CDJButton::of(B::beatJump, -1)},
        {56, CDJButton::of(B::beatJumpBy, 0.5)},
        {57, CDJButton::of(B::beatJumpBy, -0.5)},
        {58, CDJButton::of(B::beatJumpBy, 1)},
        {59, CDJButton::of(B::beatJumpBy, -1)},
        {60, CDJButton::of(B::beatJumpBy, 2)},
        {61, CDJButton::of(B::beatJumpBy, -2)},
        {62, CDJButton::of(B::beatJumpBy, 4)},
        {63, CDJButton::of(B::beatJumpBy, -4)},
        {64, CDJButton::of(B::beatJumpBy, 8)},
        {65, CDJButton::of(B::beatJumpBy, -8)},
        {66, CDJButton::of(B::beatJumpBy, 16)},
        {67, CDJButton::of(B::beatJumpBy, -16)},
        {68, CDJButton::of(B::beatJumpBy, 32)},
        {69, CDJButton::of(B::beatJumpBy, -32)},
        {70, CDJButton::of(B::beatJumpBy, 64)},
        {71, CDJButton::of(B::beatJumpBy, -64)},
        {72, CDJButton::of(B::keySync)},
        {73, CDJButton::of(B::keyShift, 1)},
        {74, CDJButton::of(B::keyShift, -1)},
        {75, CDJButton::of(B::keyReset)},
        {76, CDJButton::of(B::beatLoop, 1.5)},
        {77, CDJButton::of(B::beatLoop, 5)},
        {78, CDJButton::of(B::beatLoop, 7)},
    };
    for (const auto& r : rows) {
        if (r.note == note)
            return r.button;
    }
    if (note >= 27 && note <= 34)
        return CDJButton::of(B::hotCue, note - 27);
    return std::nullopt;
}

TEST(PlayerDecoding, EveryNoteInEveryFormOnAnyChannel)
{
    struct Form {
        std::uint8_t type, velocity;
        bool down;
    };
    constexpr Form forms[] = {{0x90, 0x7F, true}, {0x90, 0x01, true}, {0x90, 0x00, false}, {0x80, 0x7F, false}};
    for (int channel = 0; channel < 16; ++channel) {
        for (int note = 0; note < 128; ++note) {
            for (auto f : forms) {
                Event want;
                if (note == 23)
                    want = CDJ::JogTouch{f.down};
                else if (auto b = expectedButton(note))
                    want = CDJ::Button{*b, f.down};
                EXPECT_EQ(CDJDecoder::decode(std::uint8_t(f.type | channel), std::uint8_t(note), f.velocity), want)
                    << "channel " << channel << " note " << note << " type " << int(f.type);
            }
        }
    }
}

TEST(PlayerDecoding, ControlsAndTheirScales)
{
    struct Row {
        std::uint8_t cc, value;
        Event want;
    };
    const std::vector<Row> rows = {
        {0x10, 64, CDJ::Platter{0}},
        {0x10, 127, CDJ::Platter{4}},
        {0x10, 0, CDJ::Platter{-4}},
        {0x10, 32, CDJ::Platter{-2}},
        {0x30, 64, CDJ::JogSide{0}},
        {0x30, 65, CDJ::JogSide{0.5}},
        {0x30, 63, CDJ::JogSide{-0.5}},
        {0x30, 127, CDJ::JogSide{4}},
        {0x30, 0, CDJ::JogSide{-4}},
        {0x1C, 0, CDJ::Needle{}},
        {0x1C, 1, CDJ::Needle{0.0}},
        {0x1C, 127, CDJ::Needle{1.0}},
        {0x1C, 64, CDJ::Needle{63 / 126.0}},
        {0x1D, 0, CDJ::Tempo{-1}},
        {0x1D, 1, CDJ::Tempo{-1}},
        {0x1D, 64, CDJ::Tempo{0}},
        {0x1D, 127, CDJ::Tempo{1}},
        {0x1D, 2, CDJ::Tempo{-62 / 63.0}},
        {0x4F, 1, CDJ::Browse{1}},
        {0x4F, 63, CDJ::Browse{63}},
        {0x4F, 64, CDJ::Browse{-64}},
        {0x4F, 127, CDJ::Browse{-1}},
        {0x11, 64, std::nullopt},
        {0x00, 64, std::nullopt},
    };
    for (int channel : {0, 5, 15}) {
        for (const auto& r : rows) {
            EXPECT_EQ(CDJDecoder::decode(std::uint8_t(0xB0 | channel), r.cc, r.value), r.want)
                << "cc " << int(r.cc) << " value " << int(r.value);
        }
    }
    // Side speed never lands strictly between -0.5 and +0.5 except at 0, and
    // both scales grow with the value.
    for (int v = 1; v < 128; ++v) {
        const double side = CDJDecoder::sideSpeed(std::uint8_t(v));
        EXPECT_TRUE(side == 0 || std::abs(side) >= 0.5) << v;
        EXPECT_GT(side, CDJDecoder::sideSpeed(std::uint8_t(v - 1))) << v;
        EXPECT_GT(CDJDecoder::platterSpeed(std::uint8_t(v)), CDJDecoder::platterSpeed(std::uint8_t(v - 1))) << v;
    }
    for (std::uint8_t status : {0xA0, 0xC0, 0xD0, 0xE0, 0xF8, 0x00})
        EXPECT_EQ(CDJDecoder::decode(status, 0x00, 0x7F), std::nullopt) << int(status);
}

TEST(PlayerRouting, AssignDecksKeepsFreeSavedDecksThenFillsTheLowest)
{
    using Map = std::map<std::int64_t, int>;
    struct Case {
        std::vector<std::int64_t> ports;
        Map saved;
        Map want;
    };
    const std::vector<Case> cases = {
        {{7, 3}, {{3, 0}}, {{3, 0}, {7, 1}}},
        // Two ports saved on one deck: the earlier port keeps it.
        {{7, 3}, {{7, 0}, {3, 0}}, {{7, 0}, {3, 1}}},
        // Saved decks out of range are ignored.
        {{7, 3}, {{7, 5}, {3, -1}}, {{7, 0}, {3, 1}}},
        {{7}, {{7, 4}}, {{7, 0}}},
        {{1, 2, 3, 4, 5}, {}, {{1, 0}, {2, 1}, {3, 2}, {4, 3}}},
        // A fifth port with a saved deck that is free takes it; the unsaved
        // port left over gets none.
        {{1, 2, 3, 4, 5}, {{5, 2}}, {{5, 2}, {1, 0}, {2, 1}, {3, 3}}},
        {{10, 20}, {{30, 0}, {20, 3}}, {{20, 3}, {10, 0}}},
        // 64-bit ports.
        {{0x1'2345'6789, -1}, {{0x1'2345'6789, 1}}, {{0x1'2345'6789, 1}, {-1, 0}}},
        // The same port twice keeps its first deck.
        {{9, 9, 8}, {}, {{9, 0}, {8, 1}}},
        {{}, {{1, 0}}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlayerRouting::assignDecks(c.ports, c.saved), c.want);
}

} // namespace
} // namespace zelvo
