#include "platform/TextFormat.h"
#include "support/CommaLocale.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(TextFormat, FormatsAsTheCLibraryDoesInTheCLocale)
{
    // Ties round as printf rounds the exact binary value, which is where
    // Qt's own formatter differs.
    EXPECT_EQ(formatText("%.1f", 0.25), "0.2");
    EXPECT_EQ(formatText("%.0f", 2.5), "2");
    EXPECT_EQ(formatText("%.0f", 3.5), "4");
    EXPECT_EQ(formatText("%.2f", 1.005), "1.00");
    EXPECT_EQ(formatText("%.1f gb · %d%%", 12.35, 40), QString::fromUtf8("12.3 gb · 40%"));
    EXPECT_EQ(formatText("%f %f", 1.0 / 0.0, -1.0 / 0.0), "inf -inf");
    EXPECT_EQ(formatText("%08x", 0xbeefu), "0000beef");

    // Longer than the small buffer: formatted in full.
    const QString wide = formatText("%0600d|", 7);
    EXPECT_EQ(wide.size(), 601);
    EXPECT_TRUE(wide.endsWith("7|"));
}

TEST(TextFormat, KeepsThePointUnderACommaLocale)
{
    // The application takes the C library's locale from the environment: a
    // German one makes snprintf print "0,4", never formatText.
    const test::CommaLocale german;
    ASSERT_TRUE(german.active()) << german.why().toStdString();
    EXPECT_EQ(formatText("%.0f%%", 41.6), "42%");
    EXPECT_EQ(formatText("%.1f gb", 9.75), "9.8 gb");
    EXPECT_EQ(formatText("%.0fs", 12.4), "12s");
    EXPECT_EQ(formatText("%d:%02d", 1, 5), "1:05");
    EXPECT_EQ(formatText("%d%%", 99), "99%");
    EXPECT_EQ(formatText("%.3f|%g", 1234.5678, 0.5), "1234.568|0.5");
}

} // namespace
} // namespace zelvo
