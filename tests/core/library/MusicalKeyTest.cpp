#include "library/MusicalKey.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <cstdlib>
#include <limits>
#include <unordered_set>
#include <vector>

namespace zelvo {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

std::vector<MusicalKey> allKeys()
{
    std::vector<MusicalKey> keys;
    for (int pc = 0; pc < 12; ++pc)
        for (bool minor : {false, true})
            keys.emplace_back(pc, minor);
    return keys;
}

MusicalKey decoded(std::int64_t pitchClass, bool minor)
{
    QJsonObject o{{QStringLiteral("pitchClass"), qint64(pitchClass)}, {QStringLiteral("minor"), minor}};
    return MusicalKey::fromJson(o).value();
}

TEST(MusicalKeyTest, NamesAndCamelotCodes)
{
    EXPECT_EQ(MusicalKey(9, true).name(), QStringLiteral("Am"));
    EXPECT_EQ(MusicalKey(9, true).camelot(), QStringLiteral("8A"));
    EXPECT_EQ(MusicalKey(0, false).name(), QStringLiteral("C"));
    EXPECT_EQ(MusicalKey(0, false).camelot(), QStringLiteral("8B"));
    EXPECT_EQ(MusicalKey(6, false).name(), QString::fromUtf8("F\u266F"));
    EXPECT_EQ(MusicalKey(6, false).camelot(), QStringLiteral("2B"));
    EXPECT_EQ(MusicalKey(8, true).name(), QString::fromUtf8("A\u266Dm"));
    EXPECT_EQ(MusicalKey(8, true).camelot(), QStringLiteral("1A"));
    EXPECT_EQ(MusicalKey(0, true).name(), QStringLiteral("Cm"));
    EXPECT_EQ(MusicalKey(4, false).camelot(), QStringLiteral("12B"));
}

TEST(MusicalKeyTest, CamelotWheelStepsByFifthsAndPairsRelatives)
{
    QSet<QString> codes, names;
    for (const MusicalKey& k : allKeys()) {
        const std::int64_t n = k.camelotNumber();
        ASSERT_GE(n, 1);
        ASSERT_LE(n, 12);
        // A fifth up is the next number on the wheel.
        EXPECT_EQ(k.shifted(7).camelotNumber(), n % 12 + 1) << k.name().toStdString();
        codes.insert(k.camelot());
        names.insert(k.name());
    }
    EXPECT_EQ(codes.size(), 24);
    EXPECT_EQ(names.size(), 24);
    // A major key and its relative minor (three semitones down) share a number.
    for (int pc = 0; pc < 12; ++pc)
        EXPECT_EQ(MusicalKey(pc, false).camelotNumber(), MusicalKey(pc - 3, true).camelotNumber()) << pc;
}

TEST(MusicalKeyTest, InitialiserAndShiftReduceByFlooredModulo)
{
    EXPECT_EQ(MusicalKey(-1, false).pitchClass, 11);
    EXPECT_EQ(MusicalKey(24, true).pitchClass, 0);
    EXPECT_EQ(MusicalKey(14, true).pitchClass, 2);
    EXPECT_EQ(MusicalKey(kMin, false).pitchClass, 4); // -2^63 = 12 × q + 4
    EXPECT_EQ(MusicalKey(kMax, false).pitchClass, 7);

    const MusicalKey b = MusicalKey(0, false).shifted(-1);
    EXPECT_EQ(b, MusicalKey(11, false));
    EXPECT_EQ(b.camelot(), QStringLiteral("1B"));
    EXPECT_EQ(MusicalKey(9, true).shifted(-25), MusicalKey(8, true));
    EXPECT_EQ(MusicalKey(5, false).shifted(kMax).pitchClass, (5 + 7) % 12);
    EXPECT_EQ(MusicalKey(5, false).shifted(kMin).pitchClass, (5 + 4) % 12);
}

TEST(MusicalKeyTest, CompatibilityFollowsTheWheel)
{
    const MusicalKey a8(9, true); // 8A
    const auto byCode = [](const char* code) {
        for (const MusicalKey& k : allKeys())
            if (k.camelot() == QLatin1String(code))
                return k;
        ADD_FAILURE() << code;
        return MusicalKey(0, false);
    };
    for (const char* yes : {"8A", "7A", "9A", "8B"})
        EXPECT_TRUE(a8.isCompatible(byCode(yes))) << yes;
    for (const char* no : {"9B", "7B", "10A", "2A"})
        EXPECT_FALSE(a8.isCompatible(byCode(no))) << no;
    EXPECT_TRUE(byCode("12A").isCompatible(byCode("1A")));
    EXPECT_TRUE(byCode("1B").isCompatible(byCode("12B")));

    int compatiblePairs = 0;
    for (const MusicalKey& x : allKeys())
        for (const MusicalKey& y : allKeys()) {
            EXPECT_EQ(x.isCompatible(y), y.isCompatible(x));
            compatiblePairs += x.isCompatible(y);
        }
    EXPECT_EQ(compatiblePairs, 24 * 4); // itself, two neighbours, its relative
}

TEST(MusicalKeyTest, SyncShiftPicksTheSmallestTransposition)
{
    const MusicalKey c(0, false);
    EXPECT_EQ(c.syncShift(MusicalKey(7, false)), 0); // G is already a neighbour
    EXPECT_EQ(c.syncShift(MusicalKey(9, true)), 0);  // relative minor
    EXPECT_EQ(c.syncShift(MusicalKey(9, false)), 2); // D (neighbour, cost 5) before A itself (cost 6)
    EXPECT_EQ(c.syncShift(MusicalKey(6, false)), -1); // B and D♭ tie; the downward shift wins

    for (const MusicalKey& from : allKeys())
        for (const MusicalKey& to : allKeys()) {
            const std::int64_t k = from.syncShift(to);
            ASSERT_GE(k, -6);
            ASSERT_LE(k, 6);
            // The chosen shift mixes, and no smaller one does.
            EXPECT_TRUE(from.shifted(k).isCompatible(to)) << from.name().toStdString() << " " << to.name().toStdString();
            for (std::int64_t smaller = -std::llabs(k) + 1; smaller < std::llabs(k); ++smaller)
                EXPECT_FALSE(from.shifted(smaller).isCompatible(to)) << smaller;
        }
}

TEST(MusicalKeyTest, JsonKeepsTheStoredPitchClass)
{
    for (const MusicalKey& k : allKeys()) {
        const QByteArray text = QJsonDocument(k.toJson()).toJson();
        EXPECT_EQ(MusicalKey::fromJson(QJsonDocument::fromJson(text).object()), k);
    }
    // No reduction when reading: the value written back is the value read.
    const MusicalKey odd = decoded(14, false);
    EXPECT_EQ(odd.pitchClass, 14);
    EXPECT_NE(odd, MusicalKey(2, false));
    EXPECT_EQ(MusicalKey::fromJson(odd.toJson()), odd);

    const auto parse = [](const char* text) {
        return MusicalKey::fromJson(QJsonDocument::fromJson(QByteArray(text)).object());
    };
    EXPECT_EQ(parse(R"({"pitchClass": 3.0, "minor": true})"), MusicalKey(3, true));
    EXPECT_FALSE(parse(R"({"pitchClass": 3.5, "minor": true})").has_value());
    EXPECT_FALSE(parse(R"({"pitchClass": "3", "minor": true})").has_value());
    EXPECT_FALSE(parse(R"({"pitchClass": 3, "minor": 1})").has_value());
    EXPECT_FALSE(parse(R"({"pitchClass": 3})").has_value());
    EXPECT_FALSE(parse(R"({"minor": false})").has_value());
}

TEST(MusicalKeyTest, OutOfRangePitchClassReadsAsItsResidue)
{
    for (std::int64_t pc : {std::int64_t(12), std::int64_t(14), std::int64_t(-1), std::int64_t(-13), kMin, kMax})
        for (bool minor : {false, true}) {
            const MusicalKey stored = decoded(pc, minor);
            const MusicalKey reduced(pc, minor);
            EXPECT_EQ(stored.name(), reduced.name()) << pc;
            EXPECT_EQ(stored.camelot(), reduced.camelot()) << pc;
            EXPECT_EQ(stored.camelotNumber(), reduced.camelotNumber()) << pc;
            EXPECT_EQ(stored.shifted(5), reduced.shifted(5)) << pc;
            EXPECT_EQ(stored.shifted(kMax), reduced.shifted(kMax)) << pc;
            EXPECT_EQ(stored.syncShift(MusicalKey(3, true)), reduced.syncShift(MusicalKey(3, true))) << pc;
            EXPECT_TRUE(stored.isCompatible(reduced)) << pc;
        }
    EXPECT_EQ(decoded(14, false).name(), QStringLiteral("D"));
}

TEST(MusicalKeyTest, EqualKeysHashAlike)
{
    std::unordered_set<MusicalKey> set;
    for (const MusicalKey& k : allKeys())
        set.insert(k);
    for (const MusicalKey& k : allKeys())
        set.insert(MusicalKey(k.pitchClass + 12, k.minor));
    EXPECT_EQ(set.size(), 24u);
    EXPECT_NE(MusicalKey(9, true), MusicalKey(9, false));
}

} // namespace
} // namespace zelvo
