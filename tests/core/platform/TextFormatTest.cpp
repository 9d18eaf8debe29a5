#include "platform/TextFormat.h"

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

} // namespace
} // namespace zelvo
