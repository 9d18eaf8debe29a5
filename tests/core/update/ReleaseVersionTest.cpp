#include "update/ReleaseVersion.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

std::optional<ReleaseVersion> v(const char* text)
{
    return ReleaseVersion::parse(QString::fromUtf8(text));
}

TEST(ReleaseVersionTest, ParsesOrRefusesTexts)
{
    struct Case {
        const char* text;
        const char* description; // nullptr: no version
    };
    const Case cases[] = {
        {"1.4.2", "1.4.2"},
        {" \tv2.0 ", "2.0"},
        {"V2.0.0", "2.0.0"},
        {"1..3", "1.3"},
        {".7.", "7"},
        {"007.010", "7.10"},
        {"+1.-2", "1.-2"},
        {"9223372036854775807", "9223372036854775807"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"9223372036854775808", nullptr}, // past 64 bits
        {"1.99999999999999999999", nullptr},
        {"", nullptr},
        {"v", nullptr},
        {"...", nullptr},
        {"vv1", nullptr},
        {"1.x", nullptr},
        {"1.2-beta", nullptr},
        {"1. 2", nullptr},
        {"1.2\n", nullptr}, // only spaces and tabs are trimmed
        {"+", nullptr},
        {"1.\xd9\xa3", nullptr}, // a digit of another script
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<ReleaseVersion> parsed = v(c.text);
        ASSERT_EQ(parsed.has_value(), c.description != nullptr);
        if (parsed) {
            EXPECT_EQ(parsed->description().toStdString(), c.description);
        }
    }
}

TEST(ReleaseVersionTest, OrdersNumericallyWithMissingPartsAsZero)
{
    struct Case {
        const char* a;
        const char* b;
        int order; // sign of a - b
    };
    const Case cases[] = {
        {"2.0", "2.0.0", 0},
        {"v2.0", " 2.0.0 ", 0},
        {"1.2", "1.2.0.0", 0},
        {"2.0.1", "2.0", 1},
        {"1.10", "1.9", 1},
        {"1.9.9", "1.10", -1},
        {"0.1.0", "0.2", -1},
        {"1.-1", "1", -1},
        {"3", "2.99", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        const ReleaseVersion a = *v(c.a);
        const ReleaseVersion b = *v(c.b);
        EXPECT_EQ(a < b, c.order < 0);
        EXPECT_EQ(b < a, c.order > 0);
        EXPECT_EQ(a == b, c.order == 0);
        EXPECT_EQ(a >= b, c.order >= 0);
    }
}

} // namespace
} // namespace zelvo
