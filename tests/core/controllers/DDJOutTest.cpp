#include "controllers/DDJOut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace zelvo {
namespace {

using Bytes = DDJOut::Bytes;
constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

TEST(DDJOut, EveryBuilderGivesItsBytes)
{
    struct Row {
        const char* what;
        Bytes got, want;
    };
    const std::vector<Row> rows = {
        {"note", DDJOut::note(1, 0x0B, 0x7F), {0x91, 0x0B, 0x7F}},
        {"note deck 3", DDJOut::note(3, 0x54, 0x00), {0x93, 0x54, 0x00}},
        {"pad shift", DDJOut::pad(1, true, 0x03, 0x7F), {0x9A, 0x03, 0x7F}},
        {"pad deck 0", DDJOut::pad(0, false, 0x10, 0x2A), {0x97, 0x10, 0x2A}},
        {"pad deck 3 shift", DDJOut::pad(3, true, 0x77, 0x01), {0x9E, 0x77, 0x01}},
        {"beatFX", DDJOut::beatFX(0x47, 0x7F), {0x94, 0x47, 0x7F}},
        {"global", DDJOut::global(0x03, 0x00), {0x96, 0x03, 0x00}},
        {"meter over", DDJOut::meter(0, 1.2), {0xB0, 0x02, 0x7F}},
        {"meter under", DDJOut::meter(0, -0.1), {0xB0, 0x02, 0x00}},
        {"meter half", DDJOut::meter(0, 0.5), {0xB0, 0x02, 0x40}},
        {"meter deck 2", DDJOut::meter(2, 1.0), {0xB2, 0x02, 0x7F}},
        {"meter just under a half step", DDJOut::meter(1, 0.5 / 127 - 1e-9), {0xB1, 0x02, 0x00}},
        {"jog14", DDJOut::jog14(20, 52, 1280), {0xBF, 0x14, 0x0A, 0xBF, 0x34, 0x00}},
        {"jog14 over", DDJOut::jog14(20, 52, 20000), {0xBF, 0x14, 0x7F, 0xBF, 0x34, 0x7F}},
        {"jog14 negative", DDJOut::jog14(20, 52, -5), {0xBF, 0x14, 0x00, 0xBF, 0x34, 0x00}},
        {"marker", DDJOut::jogMarker(1, 90), {0xBF, 17, 0x00, 0xBF, 49, 90}},
        {"marker -1", DDJOut::jogMarker(0, -1), {0xBF, 16, 359 >> 7, 0xBF, 48, 359 & 0x7F}},
        {"marker -90", DDJOut::jogMarker(0, -90), {0xBF, 16, 270 >> 7, 0xBF, 48, 270 & 0x7F}},
        {"marker 720", DDJOut::jogMarker(0, 720), {0xBF, 16, 0, 0xBF, 48, 0}},
        {"marker int min", DDJOut::jogMarker(0, std::numeric_limits<int>::min()),
         {0xBF, 16, 232 >> 7, 0xBF, 48, 232 & 0x7F}},
        {"bpm", DDJOut::jogBPM(0, 128.0), {0xBF, 20, 1280 >> 7, 0xBF, 52, 1280 & 0x7F}},
        {"bpm half up", DDJOut::jogBPM(3, 120.05), {0xBF, 23, 1201 >> 7, 0xBF, 55, 1201 & 0x7F}},
        {"speed 0", DDJOut::jogSpeed(0, 0), {0xBF, 24, 1000 >> 7, 0xBF, 56, 1000 & 0x7F}},
        {"speed -8", DDJOut::jogSpeed(1, -8), {0xBF, 25, 920 >> 7, 0xBF, 57, 920 & 0x7F}},
        {"speed +8", DDJOut::jogSpeed(2, 8), {0xBF, 26, 1080 >> 7, 0xBF, 58, 1080 & 0x7F}},
        {"speed -0.05 rounds away", DDJOut::jogSpeed(0, -100.05), {0xBF, 24, 0, 0xBF, 56, 0}},
        {"cue", DDJOut::jogCue(1, 180), {0xBF, 29, 1, 0xBF, 61, 180 - 128}},
        {"cue negative", DDJOut::jogCue(0, -360), {0xBF, 28, 0, 0xBF, 60, 0}},
        {"no cue", DDJOut::jogCue(2, std::nullopt), {0xBF, 0x1E, 0x7F, 0xBF, 0x3E, 0x7F}},
        {"time", DDJOut::jogTime(1, 125.9, true), {0xBF, 0x44, 0x02, 0xBF, 0x45, 0x05, 0x9F, 0x15, 0x7F}},
        {"time zero", DDJOut::jogTime(0, 0.99, false), {0xBF, 66, 0, 0xBF, 67, 0, 0x9F, 20, 0x00}},
        {"time negative", DDJOut::jogTime(0, -30, false), {0xBF, 66, 0, 0xBF, 67, 0, 0x9F, 20, 0x00}},
        {"time 99:59", DDJOut::jogTime(2, 5999.5, false), {0xBF, 70, 99, 0xBF, 71, 59, 0x9F, 22, 0x00}},
        {"time past 99 min", DDJOut::jogTime(3, 6017, true), {0xBF, 72, 99, 0xBF, 73, 17, 0x9F, 23, 0x7F}},
        {"time days", DDJOut::jogTime(0, 86400 * 3 + 41, false), {0xBF, 66, 99, 0xBF, 67, 41, 0x9F, 20, 0x00}},
        {"flag", DDJOut::jogFlag(40, 2, true), {0x9F, 42, 0x7F}},
        {"master", DDJOut::jogMaster(1, true), {0x9F, 25, 0x7F}},
        {"sync", DDJOut::jogSync(3, false), {0x9F, 31, 0x00}},
        {"key lock", DDJOut::jogKeyLock(0, true), {0x9F, 32, 0x7F}},
        {"info visible", DDJOut::jogInfo(1, true), {0x9F, 94, 0x00}},
        {"info hidden", DDJOut::jogInfo(1, false), {0x9F, 94, 0x7F}},
        {"key format", DDJOut::jogKeyFormat(true), {0x9F, 91, 0x7F}},
        {"key format off", DDJOut::jogKeyFormat(false), {0x9F, 91, 0x00}},
        {"ring", DDJOut::jogRing(2, true), {0xBF, 11, 0x01}},
        {"ring off", DDJOut::jogRing(0, false), {0xBF, 9, 0x00}},
        {"key", DDJOut::jogKey(1, 5, 0), {0xB1, 73, 5, 0xB1, 74, 13}},
        {"key shift top", DDJOut::jogKey(0, 5, 20), {0xB0, 73, 5, 0xB0, 74, 0x19}},
        {"key shift bottom", DDJOut::jogKey(0, 5, -20), {0xB0, 73, 5, 0xB0, 74, 0x01}},
        {"key shift ends", DDJOut::jogKey(0, 5, 12), {0xB0, 73, 5, 0xB0, 74, 25}},
        {"key shift int max", DDJOut::jogKey(0, 5, std::numeric_limits<int>::max()), {0xB0, 73, 5, 0xB0, 74, 25}},
        {"key shift int min", DDJOut::jogKey(0, 5, std::numeric_limits<int>::min()), {0xB0, 73, 5, 0xB0, 74, 1}},
        // No argument puts a status byte into the stream.
        {"note data kept to 7 bits", DDJOut::note(0, 0x8B, 0xFF), {0x90, 0x0B, 0x7F}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.got, r.want) << r.what;
}

TEST(DDJOut, NonFiniteAndHugeInputsStayInRange)
{
    struct Row {
        const char* what;
        Bytes got, want;
    };
    const Bytes zero14bpm = {0xBF, 20, 0, 0xBF, 52, 0};
    const Bytes top14bpm = {0xBF, 20, 0x7F, 0xBF, 52, 0x7F};
    const Bytes zeroSpeed = {0xBF, 24, 0, 0xBF, 56, 0};
    const Bytes topSpeed = {0xBF, 24, 0x7F, 0xBF, 56, 0x7F};
    const Bytes zeroTime = {0xBF, 66, 0, 0xBF, 67, 0, 0x9F, 20, 0};
    const std::vector<Row> rows = {
        {"meter NaN", DDJOut::meter(0, nan), {0xB0, 0x02, 0}},
        {"meter +inf", DDJOut::meter(0, inf), {0xB0, 0x02, 0}},
        {"meter -inf", DDJOut::meter(0, -inf), {0xB0, 0x02, 0}},
        {"meter huge", DDJOut::meter(0, 1e308), {0xB0, 0x02, 0x7F}},
        {"meter huge negative", DDJOut::meter(0, -1e308), {0xB0, 0x02, 0}},
        {"bpm NaN", DDJOut::jogBPM(0, nan), zero14bpm},
        {"bpm inf", DDJOut::jogBPM(0, inf), zero14bpm},
        {"bpm huge", DDJOut::jogBPM(0, 1e300), top14bpm},
        {"bpm 3e9", DDJOut::jogBPM(0, 3e9), top14bpm},
        {"bpm huge negative", DDJOut::jogBPM(0, -1e300), zero14bpm},
        {"speed NaN", DDJOut::jogSpeed(0, nan), zeroSpeed},
        {"speed -inf", DDJOut::jogSpeed(0, -inf), zeroSpeed},
        {"speed huge", DDJOut::jogSpeed(0, 1e308), topSpeed},
        {"time NaN", DDJOut::jogTime(0, nan, false), zeroTime},
        {"time inf", DDJOut::jogTime(0, inf, false), zeroTime},
        {"time huge", DDJOut::jogTime(0, 1e300, false),
         {0xBF, 66, 99, 0xBF, 67, std::uint8_t(std::fmod(1e300, 60.0)), 0x9F, 20, 0}},
        {"time 2^40", DDJOut::jogTime(0, 1099511627776.0, false),
         {0xBF, 66, 99, 0xBF, 67, std::uint8_t(1099511627776 % 60), 0x9F, 20, 0}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r.got, r.want) << r.what;
}

TEST(DDJOut, KeyCodesOfAllTwentyFourKeys)
{
    // Major keys by pitch class from C: odd codes 1 to 23.
    for (int pc = 0; pc < 12; ++pc)
        EXPECT_EQ(DDJOut::keyCode(pc, false), 2 * pc + 1) << pc;
    // Minor keys sit just above their relative major (three semitones up).
    const int minorCodes[12] = {8, 10, 12, 14, 16, 18, 20, 22, 24, 2, 4, 6};
    for (int pc = 0; pc < 12; ++pc)
        EXPECT_EQ(DDJOut::keyCode(pc, true), minorCodes[pc]) << pc;
    EXPECT_EQ(DDJOut::keyCode(9, true), 2);
    EXPECT_EQ(DDJOut::keyCode(0, false), 1);
    EXPECT_EQ(DDJOut::keyCode(-1, false), 23);
    EXPECT_EQ(DDJOut::keyCode(-13, true), DDJOut::keyCode(11, true));
    EXPECT_EQ(DDJOut::keyCode(24 + 7, false), 15);
}

} // namespace
} // namespace zelvo
