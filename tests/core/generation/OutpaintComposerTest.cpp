#include "generation/OutpaintComposer.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

namespace OC = OutpaintComposer;
constexpr double kTwoPi = 6.283185307179586;

using Fill = std::function<float(std::int64_t)>;

TrackBufferRef make(std::int64_t frames, double rate, const Fill& left, const Fill& right = {})
{
    TrackBufferRef b(frames, rate);
    for (std::int64_t i = 0; i < frames; ++i) {
        b->left[i] = left(i);
        b->right[i] = right ? right(i) : left(i);
    }
    return b;
}

Fill tone(double amplitude, double hz, double rate)
{
    return [=](std::int64_t i) { return float(amplitude * std::sin(kTwoPi * hz * double(i) / rate)); };
}

Fill constant(float v)
{
    return [=](std::int64_t) { return v; };
}

// A sample value that names its frame: frame k holds ((k % 1000) + 1) / 2500, so a
// value and its neighbour's ratio tell where in the ramp a sample came from.
float ramp(std::int64_t k)
{
    return float((k % 1000) + 1) / 2500.0f;
}

ForkPlan plan(double contextStart, double seam)
{
    return ForkPlan{seam, contextStart, seam - contextStart, 20.0};
}

TEST(OutpaintComposerLevelTest, BodyLevelIsTheUpperQuartileOfWindows)
{
    const double sr = 1000;
    // Up to one 250 ms window, the body level is the plain rms.
    auto short_ = make(250, sr, tone(0.5, 7, sr));
    EXPECT_FLOAT_EQ(OC::bodyLevel(*short_, 0, 250, sr), OC::rms(*short_, 0, 250));

    // Half silence, half a steady tone: the tone's level, not the average.
    auto half = make(4000, sr, [](std::int64_t i) { return i < 2000 ? 0.0f : (i % 2 ? 0.3f : -0.3f); });
    EXPECT_NEAR(OC::bodyLevel(*half, 0, 4000, sr), 0.3f, 1e-6);
    EXPECT_NEAR(OC::rms(*half, 0, 4000), 0.3f / std::sqrt(2.0f), 1e-5);

    // Stretches outside the buffer measure nothing rather than reading past it.
    EXPECT_EQ(OC::rms(*half, -1, 10), 0.0f);
    EXPECT_EQ(OC::rms(*half, 4000, 10), 0.0f);
    EXPECT_EQ(OC::bodyLevel(*half, 3990, 1000, sr), OC::rms(*half, 3990, 10));
    EXPECT_EQ(OC::bodyLevel(*half, -5, 1000, sr), 0.0f);
    // The two channels are averaged.
    auto lopsided = make(100, sr, constant(0.4f), constant(0.0f));
    EXPECT_FLOAT_EQ(OC::rms(*lopsided, 0, 100), 0.2f);
}

TEST(OutpaintComposerMixTest, MixAheadReadsEachVoiceAtItsRateAndPosition)
{
    // A 48 kHz voice whose samples are their own frame index / 1e6, played at
    // rate 1.5 into a 44.1 kHz mix starting 0.5 s in.
    auto src = make(96000, 48000, [](std::int64_t i) { return float(i) * 1e-6f; });
    auto out = OC::mixAhead({{src, 0.5, 1.5, 1.0f}}, 1.0, 44100);
    ASSERT_EQ(out->frames, 44100);
    EXPECT_DOUBLE_EQ(out->sampleRate, 44100);
    for (std::int64_t i : {0, 1, 1000, 20000}) {
        const double p = 24000 + double(i) * 1.5 * 48000 / 44100;
        EXPECT_NEAR(out->left[i], p * 1e-6, 1e-6) << i;
        EXPECT_NEAR(out->right[i], p * 1e-6, 1e-6) << i;
    }
    // The source runs out at frame 96000, after (96000 - 24000) / (1.5 * 48000 / 44100) output frames.
    const auto last = std::int64_t((96000 - 1 - 24000) / (1.5 * 48000 / 44100));
    EXPECT_GT(out->left[last - 1], 0.09f);
    for (std::int64_t i = last + 1; i < out->frames; ++i)
        ASSERT_EQ(out->left[i], 0.0f) << i;
}

TEST(OutpaintComposerMixTest, MixAheadSumsWithoutLimitingAndSkipsQuietVoices)
{
    const double sr = 44100;
    auto a = make(44100, sr, constant(0.8f));
    auto b = make(44100, sr, constant(0.7f));
    auto mix = OC::mixAhead({{a, 0, 1, 1.0f}, {b, 0, 1, 1.0f}, {b, 0, 1, 0.0005f}}, 0.5, sr);
    EXPECT_FLOAT_EQ(mix->left[100], 1.5f);

    auto silent = OC::mixAhead({{a, 0, 1, 0.0005f}, {b, 0, 1, 0.0f}}, 2.0, sr);
    ASSERT_EQ(silent->frames, 88200);
    for (std::int64_t i = 0; i < silent->frames; ++i)
        ASSERT_EQ(silent->left[i], 0.0f);

    // Nonsense positions and rates add nothing instead of reading at random.
    auto odd = OC::mixAhead({{a, std::nan(""), 1, 1.0f}, {a, 1e300, 1, 1.0f}, {a, -1e300, 1, 1.0f},
                             {a, 0, std::numeric_limits<double>::infinity(), 1.0f}},
                            0.1, sr);
    for (std::int64_t i = 0; i < odd->frames; ++i)
        ASSERT_EQ(odd->left[i], 0.0f);
    EXPECT_EQ(OC::mixAhead({{a, 0, 1, 1.0f}}, -3, sr)->frames, 0);
}

TEST(OutpaintComposerJoinTest, JoinBringsTheAheadMixToTheRoomLevel)
{
    const double sr = 44100;
    auto room = make(44100 * 5, sr, tone(0.8, 220, sr));
    auto quiet = make(44100 * 2, sr, tone(0.05, 220, sr));
    auto out = OC::join(*room, *quiet);
    ASSERT_EQ(out->frames, room->frames + quiet->frames);
    // Raised by at most 4x, even though 16x would match.
    EXPECT_NEAR(OC::bodyLevel(*out, room->frames + 4410, 44100, sr), 4 * OC::bodyLevel(*quiet, 0, 88200, sr),
                1e-4);
    for (std::int64_t i = 0; i < room->frames; ++i)
        ASSERT_EQ(out->left[i], room->left[i]) << "the heard audio is kept as it was";

    auto half = make(44100 * 2, sr, tone(0.4, 220, sr));
    auto matched = OC::join(*room, *half);
    EXPECT_NEAR(OC::bodyLevel(*matched, room->frames + 4410, 44100, sr), OC::bodyLevel(*room, 0, room->frames, sr),
                1e-3);

    // A silent ahead mix stays silent after the 50 ms crossfade, and unscaled.
    auto silence = make(44100, sr, constant(0.0f));
    auto joined = OC::join(*room, *silence);
    const std::int64_t x = 2205;
    for (std::int64_t i = x; i < silence->frames; ++i)
        ASSERT_EQ(joined->left[room->frames + i], 0.0f);
    // The room's last frames fade out over the first 50 ms of the ahead part.
    EXPECT_NEAR(joined->left[room->frames], room->left[room->frames - x], 1e-3);
    EXPECT_LT(std::fabs(joined->left[room->frames + x - 1]), 0.01f);
}

// A room whose 250 ms windows alternate loud and quiet, starting quiet: its
// first window alone reads 0.033, its body 0.14.
Fill beatingRoom(double sr)
{
    const std::int64_t w = std::int64_t(sr * 0.25);
    return [=](std::int64_t i) {
        const float level = (i / w) % 2 ? 0.14f : 0.033f;
        return level * std::sqrt(2.0f) * float(std::sin(kTwoPi * 330.0 * double(i) / sr));
    };
}

// The ahead gain by the length of the room: the mixer's level (times the master
// gain) below 16 whole windows, the room's body level from there on.
TEST(OutpaintComposerJoinTest, JoinMatchesOnlyFromARoomLongEnoughToMeasure)
{
    const double sr = 44100;
    ASSERT_EQ(OC::kMinimumMatchSeconds, 4.0);
    auto longRoom = make(std::int64_t(sr * 30), sr, beatingRoom(sr));
    auto quiet = make(std::int64_t(sr * 3), sr, tone(0.05, 220, sr));
    auto loud = make(std::int64_t(sr * 3), sr, tone(0.5, 220, sr));
    struct Row {
        double roomSeconds;
        bool matched;
    };
    const Row rows[] = {{0.37, false}, {1.0, false}, {3.99, false}, {4.0, true}, {10.0, true}, {30.0, true}};
    for (const Row& row : rows) {
        for (const auto* ahead : {&quiet, &loud}) {
            for (const float master : {1.0f, 0.5f}) {
                SCOPED_TRACE(testing::Message() << row.roomSeconds << " s room, ahead " << (ahead == &quiet ? "quiet" : "loud")
                                                << ", master " << master);
                const std::int64_t R = std::int64_t(std::llround(sr * row.roomSeconds));
                TrackBufferRef room(R, sr);
                std::copy_n(longRoom->left, R, room->left);
                std::copy_n(longRoom->right, R, room->right);
                const TrackBuffer& a = **ahead;
                auto out = OC::join(*room, a, master);
                float expected = master;
                if (row.matched) {
                    // Today's rule: the last 10 s heard against the whole ahead mix.
                    const std::int64_t heard = std::min<std::int64_t>(R, std::int64_t(sr * 10));
                    const float target = OC::bodyLevel(*room, R - heard, heard, sr);
                    expected = std::clamp(target / OC::bodyLevel(a, 0, a.frames, sr), 0.25f, 4.0f);
                    EXPECT_NEAR(target, 0.14f, 0.01f) << "the body, not the quiet windows";
                }
                const std::int64_t after = std::int64_t(sr * 0.1); // past the crossfade
                EXPECT_NEAR(OC::rms(*out, R + after, 44100) / OC::rms(a, after, 44100), expected, 1e-4);
            }
        }
    }
    // What the short rooms would have been given by chance: a quiet first window
    // against a loud ahead mix is the floor of 0.25 (-12 dB).
    EXPECT_LT(OC::bodyLevel(*longRoom, 0, std::int64_t(sr * 0.37), sr) / OC::bodyLevel(*loud, 0, loud->frames, sr),
              0.1f);
    EXPECT_FALSE(OC::measurable(std::int64_t(sr * 4) - 1, sr));
    EXPECT_TRUE(OC::measurable(std::int64_t(sr * 4), sr));
    EXPECT_TRUE(OC::measurable(192000, 48000));
    EXPECT_FALSE(OC::measurable(1000, 0.5)) << "no whole window at all";
}

TEST(OutpaintComposerJoinTest, JoinOfEmptyPartsIsSafe)
{
    auto empty = make(0, 44100, constant(0));
    auto some = make(100, 44100, constant(0.25f));
    EXPECT_EQ(OC::join(*empty, *some)->frames, 100);
    EXPECT_EQ(OC::join(*empty, *some)->left[0], 0.25f) << "no room: nothing to fade from";
    EXPECT_EQ(OC::join(*some, *empty)->frames, 100);
}

class RoomContextTest : public ::testing::Test {
protected:
    static constexpr double sr = 1000;
    // The room is a steady square of 0.2; the take a ramp that names its frames.
    TrackBufferRef room = make(20000, sr, [](std::int64_t i) { return i % 2 ? 0.2f : -0.2f; });
    TrackBufferRef take = make(30000, sr, ramp);
};

TEST_F(RoomContextTest, PlayheadAtOrPastTheSeamGivesRoomThenTheTakeAfterTheSeam)
{
    for (double position : {12.0, 15.0}) {
        auto out = OC::roomContext(*room, *take, position, 12.0, 8.0, 100, std::nullopt);
        ASSERT_EQ(out->frames, 8100);
        for (std::int64_t i = 0; i < 8000; ++i)
            ASSERT_EQ(out->left[i], room->left[12000 + i]) << "room tail at its own level";
        for (std::int64_t i = 0; i < 100; ++i)
            ASSERT_EQ(out->left[8000 + i], take->left[12000 + i]);
    }
    // Near the end of the take the margin holds only what exists, then silence.
    auto end = OC::roomContext(*room, *take, 30.0, 29.95, 8.0, 100, std::nullopt);
    EXPECT_EQ(end->left[8049], take->left[29999]);
    EXPECT_EQ(end->left[8050], 0.0f);
}

TEST_F(RoomContextTest, TheTakeAheadFollowsTheRoomWhichTakesItsLevel)
{
    // Playhead 8 s, seam 12 s: 4 s of take, 4 s of room before it.
    auto out = OC::roomContext(*room, *take, 8.0, 12.0, 8.0, 50, std::nullopt);
    ASSERT_EQ(out->frames, 8050);
    for (std::int64_t i = 50; i < 4000; ++i)
        ASSERT_EQ(out->left[4000 + i], take->left[8000 + i]);
    const float takeLevel = OC::bodyLevel(*take, 8000, 4000, sr);
    EXPECT_NEAR(OC::bodyLevel(*out, 0, 4000, sr), takeLevel, 1e-4) << "room brought to the take's level";
    for (std::int64_t i = 0; i < 50; ++i)
        ASSERT_EQ(out->left[8000 + i], take->left[12000 + i]);

    // Less than a second of take ahead: the room keeps its own level.
    auto close = OC::roomContext(*room, *take, 11.5, 12.0, 8.0, 0, std::nullopt);
    EXPECT_EQ(close->left[0], room->left[20000 - 7500]);
    EXPECT_EQ(close->left[7449], room->left[19949]);
}

// Only the room's last half second goes into the context, but its level is read
// over the last 4 s of the capture: a quiet tail does not double the room.
TEST_F(RoomContextTest, AShortRoomPartIsMatchedByTheLevelOfALongerStretch)
{
    // The capture: 0.2 for 19.5 s, then a quiet last half second of 0.05.
    auto capture = make(20000, sr, [](std::int64_t i) { return (i % 2 ? 1.0f : -1.0f) * (i < 19500 ? 0.2f : 0.05f); });
    auto loudTake = make(30000, sr, [](std::int64_t i) { return i % 2 ? 0.3f : -0.3f; });
    // Playhead 4.5 s, seam 12 s, context 8 s: 7.5 s of take, 0.5 s of room.
    auto out = OC::roomContext(*capture, *loudTake, 4.5, 12.0, 8.0, 0, std::nullopt);
    EXPECT_NEAR(out->left[100], -0.05f * 1.5f, 1e-6) << "gain 0.3 / 0.2, not the clamp of 0.3 / 0.05";
    EXPECT_NEAR(out->left[101], 0.05f * 1.5f, 1e-6);

    // A capture shorter than 4 s cannot be measured: the room keeps its level.
    auto brief = make(3000, sr, [](std::int64_t i) { return i % 2 ? 0.1f : -0.1f; });
    auto unmatched = OC::roomContext(*brief, *loudTake, 4.5, 12.0, 8.0, 0, std::nullopt);
    EXPECT_EQ(unmatched->left[101], 0.1f);
    // From 4 s of capture on, it is matched as before.
    auto enough = make(4000, sr, [](std::int64_t i) { return i % 2 ? 0.1f : -0.1f; });
    auto matched = OC::roomContext(*enough, *loudTake, 4.5, 12.0, 8.0, 0, std::nullopt);
    EXPECT_NEAR(matched->left[101], 0.2f, 1e-6) << "0.3 / 0.1, clamped to 2";
}

TEST_F(RoomContextTest, ShortRoomLeavesSilenceAndANegativePlayheadCountsAsZero)
{
    auto shortRoom = make(1000, sr, constant(0.1f));
    auto out = OC::roomContext(*shortRoom, *take, 3.0, 5.0, 8.0, 0, std::nullopt);
    // 2 s of take, 1 s of room, 5 s of silence before it.
    for (std::int64_t i = 0; i < 5000; ++i)
        ASSERT_EQ(out->left[i], 0.0f);
    EXPECT_NE(out->left[5000], 0.0f);

    auto fromZero = OC::roomContext(*room, *take, 0.0, 5.0, 8.0, 10, std::nullopt);
    auto negative = OC::roomContext(*room, *take, -4.0, 5.0, 8.0, 10, std::nullopt);
    ASSERT_EQ(fromZero->frames, negative->frames);
    for (std::int64_t i = 0; i < fromZero->frames; ++i)
        ASSERT_EQ(fromZero->left[i], negative->left[i]) << i;
    // 5 s of take from its start, 3 s of room.
    EXPECT_EQ(negative->left[3100], take->left[100]);

    // A seam before the take's start or nonsense sizes do not read outside it.
    auto odd = OC::roomContext(*room, *take, 0.0, -3.0, -2.0, -5, std::nullopt);
    EXPECT_EQ(odd->frames, 0);
    auto beyond = OC::roomContext(*room, *take, 0.0, 1e9, 8.0, 10, std::nullopt);
    EXPECT_EQ(beyond->frames, 8010);
}

TEST_F(RoomContextTest, IncomingRecordIsMixedOverTheTakeAtTheTakesLevel)
{
    auto record = make(20000, 2000, tone(0.5, 50, 2000));
    const OC::Incoming incoming{record, 1.0, 1.0, 0.55f, 0.95f};
    auto plain = OC::roomContext(*room, *take, 6.0, 12.0, 8.0, 0, std::nullopt);
    auto mixed = OC::roomContext(*room, *take, 6.0, 12.0, 8.0, 0, incoming);
    // The room part is untouched; the take part changes, but keeps roughly its level.
    for (std::int64_t i = 0; i < 2000; ++i)
        ASSERT_EQ(mixed->left[i], plain->left[i]);
    const float before = OC::bodyLevel(*plain, 2000, 6000, sr);
    const float after = OC::bodyLevel(*mixed, 2000, 6000, sr);
    EXPECT_NEAR(after, before, 0.1f * before);
    int changed = 0;
    for (std::int64_t i = 2000; i < 8000; ++i)
        changed += mixed->left[i] != plain->left[i];
    EXPECT_GT(changed, 5000);
    // The fade-in starts from nothing: frame 0 of the stretch is only ducked and rescaled.
    EXPECT_NEAR(mixed->left[2000] / plain->left[2000], mixed->left[2001] / plain->left[2001], 0.05);
}

TEST(OutpaintComposerMixIncomingTest, StaysInsideTheTarget)
{
    auto target = make(1000, 1000, constant(0.1f));
    auto record = make(5000, 1000, constant(0.5f));
    OC::mixIncoming({record, 0, 1, 1, 1}, *target, 900, 500, 1000);
    OC::mixIncoming({record, 0, 1, 1, 1}, *target, -50, 100, 1000);
    EXPECT_EQ(target->left[100], 0.1f);
    EXPECT_NE(target->left[999], 0.1f);
}

class SpliceTest : public ::testing::Test {
protected:
    OC::SpliceReport report;
    std::function<void(const OC::SpliceReport&)> keepReport = [this](const OC::SpliceReport& r) { report = r; };
    int reports = 0;
};

TEST_F(SpliceTest, GeneratedAudioIsAlignedOnTheContextStart)
{
    const double sr = 1000;
    auto source = make(20000, sr, tone(0.3, 5, sr));
    auto generated = make(18000, sr, ramp);
    // Generated frame 0 stands for source frame 2000; the seam is at 10 s.
    auto out = OC::splice(*source, 4.0, *generated, plan(2.0, 10.0), std::nullopt, 0.03, keepReport);
    ASSERT_EQ(out->frames, 6000 + 10000);
    // Frame 8000 of the generated audio (ramp value 1) lands right on the seam.
    EXPECT_NEAR(out->left[6000] / report.gain, ramp(8000), 1e-6);
    EXPECT_NEAR(out->left[6001] / out->left[6000], 2.0, 1e-5);
    for (std::int64_t i = 0; i < 6000 - 30; ++i)
        ASSERT_EQ(out->left[i], source->left[4000 + i]);

    // An explicit origin overrides the plan's context start.
    auto shifted = OC::splice(*source, 4.0, *generated, plan(2.0, 10.0), 3.5, 0.03, keepReport);
    ASSERT_EQ(shifted->frames, 6000 + 11500);
    EXPECT_NEAR(shifted->left[6000] / report.gain, ramp(6500), 1e-6);
}

TEST_F(SpliceTest, CrossfadeSpansTheRequestedFramesWhenBothSidesHaveThem)
{
    const double sr = 44100;
    auto source = make(44100 * 20, sr, constant(0.5f));
    // The generated audio is silent before the seam, so the crossfade region is
    // exactly where the kept source dips below 0.5.
    auto generated = make(44100 * 30, sr, [](std::int64_t i) { return i < 44100 * 8 ? 0.0f : 0.5f; });
    auto dips = [](const TrackBuffer& out, std::int64_t keep) {
        std::int64_t n = 0;
        for (std::int64_t i = 0; i < keep; ++i)
            n += out.left[i] < 0.5f;
        return n;
    };
    auto out = OC::splice(*source, 0.0, *generated, plan(2.0, 10.0), std::nullopt, 0.03);
    EXPECT_EQ(dips(*out, 441000), 1323);
    EXPECT_NEAR(out->left[441000 - 1323], 0.5f, 1e-3);
    EXPECT_LT(out->left[441000 - 1], 0.001f);

    // Only 500 frames of kept source: the crossfade covers those.
    auto shortKeep = OC::splice(*source, 10.0 - 500 / sr, *generated, plan(2.0, 10.0), std::nullopt, 0.03);
    EXPECT_EQ(dips(*shortKeep, 500), 500);
    // Generated audio with only 300 frames before the seam.
    auto lateStart = make(44100 * 5, sr, [](std::int64_t i) { return i < 300 ? 0.0f : 0.5f; });
    auto shortGen = OC::splice(*source, 0.0, *lateStart, plan(2.0, 10.0), 10.0 - 300 / sr, 0.03);
    EXPECT_EQ(dips(*shortGen, 441000), 300);
}

TEST_F(SpliceTest, LevelsAreMatchedWithinBounds)
{
    const double sr = 8000;
    auto source = make(8000 * 40, sr, tone(0.4, 110, sr));
    struct Case {
        double amplitude;
        float gain;
    };
    for (const Case c : {Case{0.4, 1.0f}, Case{0.3, 4.0f / 3.0f}, Case{0.1, 2.0f}, Case{0.85, 0.5f}}) {
        auto generated = make(8000 * 60, sr, tone(c.amplitude, 110, sr));
        reports = 0;
        auto out = OC::splice(*source, 5.0, *generated, plan(10.0, 35.0), std::nullopt, 0.03,
                              [&](const OC::SpliceReport& r) { report = r; ++reports; });
        EXPECT_EQ(reports, 1);
        EXPECT_NEAR(report.gain, c.gain, 0.01f) << c.amplitude;
        EXPECT_NEAR(report.sourceRMS, 0.4 / std::sqrt(2.0), 1e-3);
        EXPECT_NEAR(report.generatedRMS, c.amplitude / std::sqrt(2.0), 2e-3);
        EXPECT_NEAR(report.tailRMS, report.gain * report.generatedRMS, 2e-3);
        EXPECT_EQ(out->frames, 30 * 8000 + 35 * 8000);
        // The peak covers the whole result, the crossfade's equal-power bump included.
        float peak = 0;
        for (std::int64_t i = 0; i < out->frames; ++i)
            peak = std::max({peak, std::fabs(out->left[i]), std::fabs(out->right[i])});
        EXPECT_EQ(report.peak, peak);
        EXPECT_GE(peak, std::max(0.4, c.amplitude * c.gain) - 1e-3);
    }

    // A silent continuation is never divided by: gain 1 and silence after the seam.
    auto silent = make(8000 * 60, sr, constant(0.0f));
    auto out = OC::splice(*source, 5.0, *silent, plan(10.0, 35.0), std::nullopt, 0.03, keepReport);
    EXPECT_EQ(report.gain, 1.0f);
    EXPECT_EQ(report.tailRMS, 0.0f);
    EXPECT_EQ(out->left[30 * 8000 + 100], 0.0f);
}

TEST_F(SpliceTest, SecondLookCorrectsALevelThrownOffByTheBodyMeasure)
{
    const double sr = 8000;
    auto source = make(8000 * 40, sr, tone(0.4, 110, sr));
    // Quiet before the seam and for most of the way, loud in its last quarter:
    // the upper quartile of the generated part reads loud, the result then reads
    // quieter than the source, and the second look raises it again.
    auto generated = make(8000 * 60, sr, [&](std::int64_t i) {
        const double a = i < 8000 * 50 ? 0.2 : 0.6;
        return float(a * std::sin(kTwoPi * 110 * double(i) / sr));
    });
    auto out = OC::splice(*source, 5.0, *generated, plan(10.0, 35.0), std::nullopt, 0.03, keepReport);
    EXPECT_NEAR(report.tailRMS, report.sourceRMS, 0.03f);
    EXPECT_LE(report.gain, 2.0f);
    EXPECT_GE(report.gain, 0.5f);
}

TEST_F(SpliceTest, GeneratedAudioThatStopsAtOrBeforeTheSeamAddsNoTail)
{
    const double sr = 1000;
    auto source = make(20000, sr, tone(0.3, 5, sr));

    // It reaches the seam exactly: the kept source, crossfaded into the generated
    // frames before the seam, and no continuation.
    auto reaching = make(8000, sr, constant(0.0f));
    auto out = OC::splice(*source, 4.0, *reaching, plan(2.0, 10.0), std::nullopt, 0.03, keepReport);
    ASSERT_EQ(out->frames, 6000);
    EXPECT_EQ(report.tailRMS, 0.0f);
    EXPECT_EQ(out->left[5969], source->left[9969]);
    EXPECT_NE(out->left[5990], source->left[9990]);

    // It ends before the seam: nothing of it exists around the seam, so the kept
    // source comes back untouched (no crossfade, nothing read past its end).
    for (std::int64_t frames : {7999, 3000, 0}) {
        auto shortGen = make(frames, sr, constant(0.7f));
        auto kept = OC::splice(*source, 4.0, *shortGen, plan(2.0, 10.0), std::nullopt, 0.03, keepReport);
        ASSERT_EQ(kept->frames, 6000) << frames;
        for (std::int64_t i = 0; i < 6000; ++i)
            ASSERT_EQ(kept->left[i], source->left[4000 + i]) << frames << " " << i;
        EXPECT_EQ(report.tailRMS, 0.0f);
    }
}

TEST_F(SpliceTest, OffsetsPastTheSeamNeverReadOutOfBounds)
{
    const double sr = 1000;
    auto source = make(20000, sr, tone(0.3, 5, sr));
    auto generated = make(18000, sr, ramp);

    // The kept source would start after the seam: nothing of it is kept.
    auto noKeep = OC::splice(*source, 12.0, *generated, plan(2.0, 10.0), std::nullopt, 0.03);
    ASSERT_EQ(noKeep->frames, 10000);
    EXPECT_NEAR(noKeep->left[1] / noKeep->left[0], 2.0, 1e-5);

    // The generated origin lies after the seam: its frame 0 starts at the seam,
    // and there is nothing to crossfade with.
    auto late = OC::splice(*source, 4.0, *generated, plan(2.0, 10.0), 11.0, 0.03);
    ASSERT_EQ(late->frames, 6000 + 18000);
    for (std::int64_t i = 0; i < 6000; ++i)
        ASSERT_EQ(late->left[i], source->left[4000 + i]);

    // Negative offsets, a seam past the source's end and a negative crossfade.
    auto odd = OC::splice(*source, -3.0, *generated, plan(-5.0, 25.0), std::nullopt, -1.0);
    EXPECT_EQ(odd->frames, 20000);
    auto nan = OC::splice(*source, std::nan(""), *generated, plan(2.0, 10.0), std::nan(""), std::nan(""));
    EXPECT_EQ(nan->frames, 10000 + 8000);
}

TEST_F(SpliceTest, SoftLimiterBendsPeaksBelowTheCeiling)
{
    const double sr = 1000;
    auto source = make(5000, sr, constant(1.5f), constant(-0.5f));
    auto none = make(0, sr, constant(0));
    auto out = OC::splice(*source, 0.0, *none, plan(1.0, 5.0), std::nullopt, 0.03, keepReport);
    EXPECT_LT(out->left[0], 0.98f);
    EXPECT_GT(out->left[0], 0.979f);
    EXPECT_EQ(out->right[0], -0.5f) << "samples at or below the knee are untouched";
    EXPECT_EQ(report.peak, out->left[0]);

    // However loud the continuation, nothing exceeds the ceiling, and the knee is smooth.
    auto loud = make(20000, sr, [](std::int64_t i) { return float(40.0 * std::sin(0.37 * double(i))); });
    auto limited = OC::splice(*source, 0.0, *loud, plan(1.0, 5.0), std::nullopt, 0.03, keepReport);
    for (std::int64_t i = 0; i < limited->frames; ++i) {
        ASSERT_LE(std::fabs(limited->left[i]), 0.98f) << i;
        ASSERT_LE(std::fabs(limited->right[i]), 0.98f) << i;
    }
    EXPECT_LE(report.peak, 0.98f);
    auto knee = make(3, sr, [](std::int64_t i) { return 0.88f + 0.0001f * float(i); });
    auto bent = OC::splice(*knee, 0.0, *none, plan(0.0, 0.003), std::nullopt, 0.0);
    EXPECT_EQ(bent->left[0], 0.88f);
    EXPECT_NEAR(bent->left[1], 0.8801f, 1e-6);
}

TEST(OutpaintComposerMonoTest, AveragesTheChannels)
{
    auto b = make(3, 44100, [](std::int64_t i) { return float(i); }, constant(1.0f));
    EXPECT_EQ(OC::mono(*b), (std::vector<float>{0.5f, 1.0f, 1.5f}));
    EXPECT_TRUE(OC::mono(*make(0, 44100, constant(0))).empty());
}

} // namespace
} // namespace zelvo
