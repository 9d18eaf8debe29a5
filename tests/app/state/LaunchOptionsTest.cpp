// Numbers from the launch arguments and the environment: window sizes, the
// faceplate canvas, delays and the model server's port.
#include "state/LaunchOptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace zelvo::launch {
namespace {

QStringList args(std::initializer_list<const char*> list)
{
    QStringList out{QStringLiteral("kavri-zelvo")};
    for (const char* a : list)
        out << QString::fromUtf8(a);
    return out;
}

TEST(LaunchOptions, WindowOperandGivesTwoFiniteNumbersOrNothing)
{
    struct Case {
        QStringList arguments;
        std::optional<QSizeF> size;
    };
    const Case cases[] = {
        {args({"--window", "1280x800"}), QSizeF(1280, 800)},
        {args({"--window", "1280X800"}), QSizeF(1280, 800)},
        {args({"--window", "x1280xx800x"}), QSizeF(1280, 800)},       // empty pieces dropped
        {args({"--window", "1280.5xwidex800"}), QSizeF(1280.5, 800)}, // a word is skipped
        {args({"--window", "1280x800x600"}), std::nullopt},
        {args({"--window", "1280"}), std::nullopt},
        {args({"--window", "nanx800"}), std::nullopt},
        {args({"--window", "infx800"}), std::nullopt},
        {args({"--window", "1e999x800"}), std::nullopt},
        {args({"--window", "0x10x800"}), std::nullopt}, // hexadecimal splits into pieces: three numbers
        {args({"--window", "1e300x800"}), QSizeF(kLargestSide, 800)},
        {args({"--window", "-5x800"}), QSizeF(0, 800)},
        {args({"--window", "300x200", "--window", "1x1"}), QSizeF(300, 200)},
        {args({"--window"}), std::nullopt},
        {args({}), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(forcedWindowSize(c.arguments), c.size) << c.arguments.join(' ').toStdString();
}

TEST(LaunchOptions, DesignSizeKeepsOneSideAtItsBaseWithinTheLimits)
{
    struct Case {
        std::optional<QSizeF> window;
        QSizeF canvas;
    };
    const Case cases[] = {
        {std::nullopt, {1600, 1080}},
        {QSizeF(0, 800), {1600, 1080}},
        {QSizeF(1280, -1), {1600, 1080}},
        {QSizeF(1600, 1080), {1600, 1080}},
        {QSizeF(800, 540), {1600, 1080}},
        {QSizeF(2000, 1000), {2160, 1080}},
        {QSizeF(1600, 1300), {1600, 1300}},
        {QSizeF(10000, 1000), {2400, 1080}},           // width at its limit
        {QSizeF(1000, 10000), {1600, 1500}},           // height at its limit
        {QSizeF(kLargestSide, 0.001), {2400, 1080}},   // extreme proportions stay finite
        {QSizeF(0.001, kLargestSide), {1600, 1500}},
    };
    for (const Case& c : cases) {
        const QSizeF canvas = designSize(c.window);
        EXPECT_NEAR(canvas.width(), c.canvas.width(), 1e-9);
        EXPECT_NEAR(canvas.height(), c.canvas.height(), 1e-9);
    }
}

TEST(LaunchOptions, SnapshotDelayPrefersTheArgumentThenTheEnvironment)
{
    struct Case {
        QStringList arguments;
        std::optional<QByteArray> environment;
        double delay;
    };
    const Case cases[] = {
        {args({"--snapshot-delay", "1.5"}), QByteArray("7"), 1.5},
        {args({"--snapshot-delay", "soon"}), QByteArray("7"), 7.0},
        {args({"--snapshot-delay", "soon"}), std::nullopt, 4.0},
        {args({"--snapshot-delay"}), QByteArray("2.25"), 2.25},
        {args({"--snapshot-delay"}), std::nullopt, 4.0},
        {args({}), QByteArray("nan"), 4.0},
        {args({}), QByteArray("inf"), 4.0},
        {args({}), QByteArray(" 3"), 4.0},
        {args({"--snapshot-delay", "-2"}), QByteArray("7"), 0.0},
        {args({"--snapshot-delay", "1e300"}), std::nullopt, kLongestDelay},
        {args({"--snapshot-delay", "1e999"}), QByteArray("5"), 5.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(snapshotDelay(c.arguments, c.environment), c.delay) << c.arguments.join(' ').toStdString();
}

TEST(LaunchOptions, BrainPortTakesDigitsWithinThePortRange)
{
    struct Case {
        std::optional<QByteArray> value;
        int port;
    };
    const Case cases[] = {
        {std::nullopt, 7431},
        {QByteArray(""), 7431},
        {QByteArray("8123"), 8123},
        {QByteArray("+8123"), 8123},
        {QByteArray("008123"), 8123},
        {QByteArray("65535"), 65535},
        {QByteArray("1"), 1},
        {QByteArray("0"), 7431},
        {QByteArray("-80"), 7431},
        {QByteArray("65536"), 7431},
        {QByteArray("99999999999999999999999"), 7431},
        {QByteArray(" 8123"), 7431},
        {QByteArray("8123 "), 7431},
        {QByteArray("81 23"), 7431},
        {QByteArray("port"), 7431},
        {QByteArray("0x1F"), 7431},
        {QByteArray("8123.0"), 7431},
    };
    for (const Case& c : cases)
        EXPECT_EQ(brainPort(c.value), c.port) << (c.value ? c.value->toStdString() : "(unset)");
}

TEST(LaunchOptions, DumpRequestNeedsAPathAndANumber)
{
    const auto request = dumpRequest(args({"--dump-state", "/tmp/state.json", "5"}));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->path, QStringLiteral("/tmp/state.json"));
    EXPECT_EQ(request->delay, 5.0);
    EXPECT_EQ(dumpRequest(args({"--dump-state", "/tmp/a.json", "-3"}))->delay, 0.0);
    EXPECT_EQ(dumpRequest(args({"--dump-state", "/tmp/a.json", "1e12"}))->delay, kLongestDelay);
    for (const QStringList& malformed : {args({"--dump-state", "5", "/tmp/state.json"}),
                                         args({"--dump-state", "/tmp/state.json"}), args({"--dump-state"}),
                                         args({"--dump-state", "/tmp/a.json", "nan"}),
                                         args({"--dump-state", "/tmp/a.json", "inf"})})
        EXPECT_FALSE(dumpRequest(malformed)) << malformed.join(' ').toStdString();
}

TEST(LaunchOptions, ImportOperandsEndAtTheNextOption)
{
    EXPECT_EQ(importOperands(args({"--import", "a.wav", "dir", "--mute", "b.wav"})), QStringList({"a.wav", "dir"}));
    EXPECT_EQ(importOperands(args({"--import", "--mute", "a.wav"})), QStringList());
    EXPECT_EQ(importOperands(args({"--play", "--import", "a.wav", "-b.wav"})), QStringList({"a.wav", "-b.wav"}));
    EXPECT_EQ(importOperands(args({"--import", "a.wav", "--import", "b.wav"})), QStringList({"a.wav"}));
    EXPECT_EQ(importOperands(args({"a.wav"})), QStringList());
}

} // namespace
} // namespace zelvo::launch
