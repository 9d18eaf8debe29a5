// The key text both deck screens show under a key shift, with stored pitch
// classes at the ends of the 64-bit range (a stored file can hold any).
#include "models/TempoRange.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace zelvo;

namespace {

MusicalKey stored(std::int64_t pitchClass, bool minor)
{
    MusicalKey key(0, minor);
    key.pitchClass = pitchClass; // as decoding keeps it
    return key;
}

} // namespace

TEST(TempoRange, ShiftedKeyTextWrapsAndSignsTheShift)
{
    constexpr std::int64_t top = std::numeric_limits<std::int64_t>::max(); // ≡ 7 (G)
    constexpr std::int64_t bottom = std::numeric_limits<std::int64_t>::min(); // ≡ 4 (E)
    struct Case {
        MusicalKey key;
        int shift;
        const char* gap;
        MusicalKey shown;
        const char* suffix;
    };
    const Case cases[] = {
        {MusicalKey(9, true), 0, " ", MusicalKey(9, true), ""},
        {MusicalKey(9, true), 2, " ", MusicalKey(11, true), " +2"},
        {MusicalKey(0, false), -1, "", MusicalKey(11, false), "-1"},
        {MusicalKey(0, false), 12, "", MusicalKey(0, false), "+12"},
        {MusicalKey(9, true), -13, "", MusicalKey(8, true), "-13"},
        {stored(top, true), 0, "", MusicalKey(7, true), ""},
        {stored(top, true), 1, "", MusicalKey(8, true), "+1"},
        {stored(bottom, false), -1, " ", MusicalKey(3, false), " -1"},
        {stored(-1, false), 1, "", MusicalKey(0, false), "+1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shiftedKeyText(c.key, c.shift, QString::fromUtf8(c.gap)),
                  c.shown.camelot() + QString::fromUtf8(c.suffix))
            << c.key.pitchClass << " " << c.shift;
}
