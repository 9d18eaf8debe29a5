#include "library/AudioFileError.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

constexpr std::int32_t code(char a, char b, char c, char d)
{
    return std::int32_t((std::uint32_t(std::uint8_t(a)) << 24) | (std::uint32_t(std::uint8_t(b)) << 16)
                        | (std::uint32_t(std::uint8_t(c)) << 8) | std::uint32_t(std::uint8_t(d)));
}

TEST(AudioFileErrorTest, FourCCPrintsLettersDigitsAndSpacesElseDecimal)
{
    EXPECT_EQ(fourCC(code('w', 'h', 't', ' ')), "wht ");
    EXPECT_EQ(fourCC(code('A', 'b', '1', '9')), "Ab19");
    EXPECT_EQ(fourCC(-50), "-50");
    EXPECT_EQ(fourCC(code('t', 'y', 'p', '?')), std::to_string(code('t', 'y', 'p', '?')));
    EXPECT_EQ(fourCC(0), "0");
    // FFmpeg's tagged error codes are negative and print with their sign.
    EXPECT_EQ(fourCC(-1094995529), "-1094995529");
    // A high byte above 127 is not ASCII even if the rest is.
    EXPECT_EQ(fourCC(code('\xE9', 'a', 'b', 'c')), std::to_string(code('\xE9', 'a', 'b', 'c')));
}

TEST(AudioFileErrorTest, DescriptionsNameTheStepOrTheFile)
{
    const auto os = AudioFileError::os("create take.wav", code('w', 'h', 't', ' '));
    EXPECT_EQ(os.kind(), AudioFileError::Kind::os);
    EXPECT_EQ(os.step(), "create take.wav");
    EXPECT_STREQ(os.what(), "create take.wav failed (wht )");
    EXPECT_EQ(AudioFileError::os("seek", -22).description(), "seek failed (-22)");

    const auto empty = AudioFileError::empty("/music/sets/silence.wav");
    EXPECT_EQ(empty.kind(), AudioFileError::Kind::empty);
    EXPECT_EQ(empty.url(), std::filesystem::path("/music/sets/silence.wav"));
    EXPECT_EQ(empty.description(), "silence.wav holds no audio");

    // Thrown and caught as a standard exception, as other areas will.
    try {
        throw AudioFileError::os("write", 2);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "write failed (2)");
    }
}

} // namespace
} // namespace zelvo
