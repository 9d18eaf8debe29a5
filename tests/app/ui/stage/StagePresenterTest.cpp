#include "state/AppModel.h"
#include "ui/kit/Palette.h"
#include "ui/stage/DeckCardPieces.h"
#include "ui/stage/StageKeys.h"
#include "ui/stage/StageMotion.h"
#include "ui/stage/StagePresenters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo::stage {
namespace {

using kit::Stage::ash;
using kit::Stage::ashDim;
using kit::Stage::bone;
using kit::Stage::paper;
using kit::Stage::signal;

TEST(StagePresenter, DeckOrderAndTargeting)
{
    EXPECT_EQ(deckOrder(false), (std::vector<int>{0, 1}));
    EXPECT_EQ(deckOrder(true), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(isTargeted(0, 0, 1));
    EXPECT_TRUE(isTargeted(1, 0, 1));
    EXPECT_FALSE(isTargeted(2, 0, 1));
    EXPECT_TRUE(isTargeted(2, 2, 1));
    EXPECT_FALSE(isTargeted(0, 2, 1));
}

TEST(StagePresenter, LaneHeightsClampAndDecideTheTallForm)
{
    struct Case {
        double screen;
        bool browsing;
        bool four;
        double height;
    };
    const Case cases[] = {
        {1080, false, false, 112}, {1080, true, false, 112}, {900, false, true, 64},
        {810, false, false, 64},   {900, true, false, 112},  {700, true, true, 103},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(laneHeight(c.screen, c.browsing, c.four), c.height) << c.screen;
    EXPECT_TRUE(laneIsTall(80, true));
    EXPECT_FALSE(laneIsTall(79.9, true));
    EXPECT_FALSE(laneIsTall(112, false));
    EXPECT_EQ(laneFrameHeight(112, false), kFoldedLane);
    EXPECT_EQ(laneFrameHeight(90, true), 90);
}

TEST(StagePresenter, EaseInOutStartsAndEndsSlowlyAndIsSymmetric)
{
    EXPECT_EQ(easeInOut(0), 0);
    EXPECT_EQ(easeInOut(1), 1);
    EXPECT_EQ(easeInOut(-0.5), 0);
    EXPECT_EQ(easeInOut(2), 1);
    EXPECT_EQ(easeInOut(std::nan("")), 1);
    EXPECT_NEAR(easeInOut(0.5), 0.5, 1e-9);
    EXPECT_LT(easeInOut(0.1), 0.05);
    double last = 0;
    for (int i = 1; i < 100; ++i) {
        const double t = i / 100.0;
        EXPECT_NEAR(easeInOut(t) + easeInOut(1 - t), 1, 1e-9) << t;
        EXPECT_GT(easeInOut(t), last) << t;
        last = easeInOut(t);
    }
}

TEST(StagePresenter, FaceplateFitsWithinBothAspectLimits)
{
    EXPECT_EQ(faceplateFit(1600, 1080), (FaceplateFit{1, 1600, 1080}));
    EXPECT_EQ(faceplateFit(2000, 1080), (FaceplateFit{1, 2000, 1080}));
    const FaceplateFit wide = faceplateFit(3000, 1000);
    EXPECT_NEAR(wide.scale, 1000.0 / 1080, 1e-12);
    EXPECT_EQ(wide.width, 2400);
    EXPECT_NEAR(wide.height, 1080, 1e-9);
    EXPECT_NEAR(wide.scale * wide.width, 2222.2, 0.1);
    const FaceplateFit tall = faceplateFit(1200, 1200);
    EXPECT_EQ(tall.scale, 0.75);
    EXPECT_EQ(tall.width, 1600);
    EXPECT_EQ(tall.height, 1500);
    // A window without width or height lays out nothing.
    EXPECT_EQ(faceplateFit(0, 1080), FaceplateFit{});
    EXPECT_EQ(faceplateFit(1600, 0), FaceplateFit{});
    EXPECT_EQ(faceplateFit(std::nan(""), 1080), FaceplateFit{});
}

TEST(StagePresenter, ClocksTruncateAndRefuseUnrepresentableTimes)
{
    struct Case {
        double seconds;
        QString deck;
        QString machine;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {0, "0:00.0", "0:00"},       {29.99, "0:29.9", "0:29"},   {59.99, "0:59.9", "0:59"},
        {60, "1:00.0", "1:00"},      {75.9, "1:15.9", "1:15"},    {83.46, "1:23.4", "1:23"},
        {3599.5, "59:59.5", "59:59"}, {3600, "60:00.0", "60:00"}, {inf, "", ""},
        {-inf, "", ""},              {std::nan(""), "", ""},      {1e300, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeckCard::clock(c.seconds), c.deck) << c.seconds;
        EXPECT_EQ(MachinePanel::clock(c.seconds), c.machine) << c.seconds;
    }
}

TEST(StagePresenter, BeatCounterOverPhrasePositions)
{
    const BeatGrid grid(120, 0.5, 4); // a beat every 0.5 s, a bar every 2 s
    const auto at = [&](double bars) { return 0.5 + bars * 2.0; };
    struct Case {
        double bars;
        int beat;
        QString phrase;
        bool urgent;
    };
    const Case cases[] = {
        {0, 1, "", false},           {16, 1, "", false},           {12.0, 1, "phrase in 4", false},
        {15.5, 3, "phrase in 1", true}, {14.75, 4, "phrase in 2", false}, {11.9, 4, "", false},
        {-0.25, 4, "", false},       {32 + 13.2, 1, "phrase in 3", false},
    };
    for (const Case& c : cases) {
        const BeatFace face = beatFace(at(c.bars), grid, true);
        EXPECT_EQ(face.beat, c.beat) << c.bars;
        EXPECT_TRUE(face.showPhrase) << c.bars;
        EXPECT_EQ(face.phrase, c.phrase) << c.bars;
        EXPECT_EQ(face.phraseUrgent, c.urgent) << c.bars;
    }
    // Stopped: no lit box, no phrase frame.
    const BeatFace stopped = beatFace(at(12), grid, false);
    EXPECT_EQ(stopped.beat, 0);
    EXPECT_FALSE(stopped.showPhrase);
    // 3/4 lights boxes 1 to 3 in turn, never 4.
    const BeatGrid waltz(120, 0, 3);
    for (int beat = 0; beat < 9; ++beat)
        EXPECT_EQ(beatFace(beat * 0.5 + 0.1, waltz, true).beat, beat % 3 + 1);
    // A bar of more than four beats lights nothing past the fourth box.
    EXPECT_EQ(beatFace(4 * 0.5 + 0.1, BeatGrid(120, 0, 7), true).beat, 0);
}

TEST(StagePresenter, UnusableGridsLightNothingAndCountNoPhrase)
{
    const std::optional<BeatGrid> grids[] = {
        std::nullopt,
        BeatGrid(120, 0, 0),
        BeatGrid(120, 0, -4),
        BeatGrid(0, 0, 4),
        BeatGrid(std::nan(""), 0, 4),
        BeatGrid(120, std::numeric_limits<double>::infinity(), 4),
    };
    for (const auto& grid : grids) {
        const BeatFace face = beatFace(10, grid, true);
        EXPECT_EQ(face.beat, 0);
        EXPECT_FALSE(face.showPhrase);
        EXPECT_TRUE(face.phrase.isEmpty());
    }
}

TEST(StagePresenter, KeyShiftsWrapBothWays)
{
    const MusicalKey aMinor(9, true);
    EXPECT_EQ(keyText(std::nullopt, 0), QStringLiteral("\u2014"));
    EXPECT_EQ(keyText(aMinor, 0), aMinor.camelot());
    EXPECT_EQ(keyText(aMinor, 1), MusicalKey(10, true).camelot() + "+1");
    EXPECT_EQ(keyText(aMinor, 3), MusicalKey(0, true).camelot() + "+3");
    EXPECT_EQ(keyText(aMinor, -13), MusicalKey(8, true).camelot() + "-13");
    EXPECT_EQ(keyText(MusicalKey(0, false), -1), MusicalKey(11, false).camelot() + "-1");
}

TEST(StagePresenter, AiBufferNeedsAPlayingTake)
{
    EXPECT_EQ(AppModel::aiBufferOf(true, true, true, 100, 70), 30.0);
    EXPECT_EQ(AppModel::aiBufferOf(true, true, true, 100, 120), 0.0);
    EXPECT_EQ(AppModel::aiBufferOf(true, true, true, std::nan(""), 1), 0.0);
    EXPECT_EQ(AppModel::aiBufferOf(false, true, true, 100, 70), std::nullopt);
    EXPECT_EQ(AppModel::aiBufferOf(true, false, true, 100, 70), std::nullopt);
    EXPECT_EQ(AppModel::aiBufferOf(true, true, false, 100, 70), std::nullopt);
}

HeaderInputs loaded()
{
    HeaderInputs in;
    in.hasTrack = true;
    in.title = "Night Drive";
    in.artist = "Someone";
    in.duration = 200;
    in.position = 100;
    in.gridBpm = 124;
    return in;
}

TEST(StagePresenter, HeaderTextsForEmptyLoadingErrorAndTakeDecks)
{
    HeaderInputs empty;
    HeaderFace face = headerFace(empty);
    EXPECT_EQ(face.title, "empty");
    EXPECT_EQ(face.titleColor, ashDim());
    EXPECT_EQ(face.artist, " ");
    EXPECT_EQ(face.tempo, QStringLiteral("\u2014"));
    EXPECT_EQ(face.key, QStringLiteral("\u2014"));
    EXPECT_EQ(face.clock, "");
    EXPECT_EQ(face.badge, "1");

    HeaderInputs model;
    model.deck = 1;
    model.isAI = true;
    face = headerFace(model);
    EXPECT_EQ(face.title, "zelvo-0's deck");
    EXPECT_TRUE(face.modelTag);
    EXPECT_EQ(face.titleGhost, 0);

    HeaderInputs loading = empty;
    loading.loading = true;
    EXPECT_EQ(headerFace(loading).title, QStringLiteral("loading\u2026"));
    EXPECT_EQ(headerFace(loading).titleColor, ashDim());
    HeaderInputs reloading = loaded();
    reloading.loading = true;
    EXPECT_EQ(headerFace(reloading).titleColor, paper());

    HeaderInputs failed = loaded();
    failed.error = "The file could not be read";
    face = headerFace(failed);
    EXPECT_EQ(face.artist, "The file could not be read");
    EXPECT_EQ(face.artistColor, kit::Stage::ghostRed());
    EXPECT_EQ(face.title, "Night Drive");

    HeaderInputs take = loaded();
    take.deck = 1;
    take.isAI = true;
    take.aiBuffer = 20.0;
    take.master = true;
    take.sync = take.loop = take.slip = true;
    face = headerFace(take);
    EXPECT_EQ(face.titleGhost, 1);
    EXPECT_EQ(face.chips, (std::vector<ChipFace>{{"+20s written", false},
                                                {"master", true},
                                                {"sync", true},
                                                {"loop", true},
                                                {"slip", true}}));
    take.aiBuffer = 20.5;
    EXPECT_EQ(headerFace(take).chips.front(), (ChipFace{"+20s written", true}));
    // Never on another deck.
    HeaderInputs other = take;
    other.deck = 0;
    other.isAI = false;
    EXPECT_EQ(headerFace(other).chips.front().text, "master");
}

TEST(StagePresenter, HeaderClockTempoAndOffsetThresholds)
{
    struct Case {
        double position;
        std::optional<double> musicEnd;
        bool playing;
        QString clock;
        QColor colour;
    };
    const Case cases[] = {
        {170, std::nullopt, true, "0:30.0", paper()},  {170.1, std::nullopt, true, "0:29.9", signal()},
        {170.1, std::nullopt, false, "0:29.9", paper()}, {100, 500.0, true, "1:40.0", paper()},
        {150, 120.0, true, "0:00.0", signal()},
    };
    for (const Case& c : cases) {
        HeaderInputs in = loaded();
        in.position = c.position;
        in.musicEnd = c.musicEnd;
        in.playing = c.playing;
        const HeaderFace face = headerFace(in);
        EXPECT_EQ(face.clock, c.clock) << c.position;
        EXPECT_EQ(face.clockColor, c.colour) << c.position;
    }
    struct Offset {
        double ratio;
        QString text;
        QColor colour;
    };
    const Offset offsets[] = {{1.0004, "+0.0%", ash()}, {1.001, "+0.1%", bone()}, {0.97, "-3.0%", bone()}};
    for (const Offset& o : offsets) {
        HeaderInputs in = loaded();
        in.tempoRatio = o.ratio;
        const HeaderFace face = headerFace(in);
        EXPECT_EQ(face.offset, o.text) << o.ratio;
        EXPECT_EQ(face.offsetColor, o.colour) << o.ratio;
    }
    HeaderInputs in = loaded();
    in.tempoRatio = 1.05;
    EXPECT_EQ(headerFace(in).tempo, "130.2");
    in.gridBpm = 0;
    EXPECT_EQ(headerFace(in).tempo, QStringLiteral("\u2014"));
}

} // namespace
} // namespace zelvo::stage
