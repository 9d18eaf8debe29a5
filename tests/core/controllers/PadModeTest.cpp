#include "controllers/PadMode.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(PadModeTest, ParsesTheArgumentAfterTheFirstFlag)
{
    using Args = std::vector<std::string>;
    EXPECT_EQ(padModeFromArguments({}), PadMode::hotCue);
    EXPECT_EQ(padModeFromArguments(Args{"app", "--pad-mode"}), PadMode::hotCue);
    EXPECT_EQ(padModeFromArguments(Args{"app", "--pad-mode", "FX"}), PadMode::padFX);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "padfx"}), PadMode::padFX);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "BeatJump"}), PadMode::beatJump);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "jump"}), PadMode::beatJump);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "loop"}), PadMode::beatLoop);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "beatloop"}), PadMode::beatLoop);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "Key"}), PadMode::key);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "ai"}), PadMode::ai);
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "pads"}), PadMode::hotCue);
    // Only the first flag counts.
    EXPECT_EQ(padModeFromArguments(Args{"--pad-mode", "key", "--pad-mode", "ai"}), PadMode::key);
}

} // namespace
} // namespace zelvo
