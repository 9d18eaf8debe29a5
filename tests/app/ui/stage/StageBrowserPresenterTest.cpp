#include "support/LibraryFixtures.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/MiniWave.h"
#include "ui/kit/Palette.h"
#include "ui/stage/StageBrowser.h"
#include "ui/stage/StageRow.h"

#include <gtest/gtest.h>
#include <cmath>
#include <limits>

namespace zelvo::stage {
namespace {

using kit::Stage::ash;
using kit::Stage::signal;
using Sort = AppModel::BrowserSort;
using Source = AppModel::BrowserSource;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(StageBrowserPresenter, TabsChipsAndEmptyTexts)
{
    const auto tabs = browser::tabs(Source::recent);
    ASSERT_EQ(tabs.size(), 4u);
    const char* names[] = {"collection", "outpaints", "recent", "queue"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tabs[std::size_t(i)].text, names[i]);
        EXPECT_EQ(tabs[std::size_t(i)].current, i == 2);
    }

    // Shown order, not case order; the title sort has no chip, so nothing is lit for it.
    const auto chips = browser::chips(Sort::harmony);
    QStringList texts, helps;
    for (const browser::Chip& chip : chips) {
        texts << chip.text;
        helps << chip.help;
        EXPECT_EQ(chip.current, chip.sort == Sort::harmony) << chip.text.toStdString();
    }
    EXPECT_EQ(texts, QStringList({"added", "bpm", "key", "energy", "tune", "harmony", "tempo", "intensity"}));
    EXPECT_EQ(helps, QStringList({"newest first", "slow to fast", "around the wheel", "hardest first",
                                  "sounds like it", "in key with it", "same tempo", "hits the same"}));
    for (const browser::Chip& chip : browser::chips(Sort::title))
        EXPECT_FALSE(chip.current);
    EXPECT_EQ(browser::sortHint(Sort::title), "by name");

    for (Source source : {Source::collection, Source::recent, Source::queue}) {
        EXPECT_EQ(browser::emptyText(source).title, "drop music here");
        EXPECT_EQ(browser::emptyText(source).line, "or press import");
    }
    EXPECT_EQ(browser::emptyText(Source::outpaints).title, "no zelvo-0 takes yet");
    EXPECT_EQ(browser::emptyText(Source::outpaints).line, "fork deck 1 to make one");
}

TEST(StageBrowserPresenter, RowCellsNeverConvertOutOfRangeNumbers)
{
    struct Case {
        double duration;
        const char* length;
    };
    for (const Case& c : {Case{59.9, "0:59"}, Case{60, "1:00"}, Case{3600, "60:00"}, Case{0, "—"}, Case{-3, "—"},
                          Case{1e300, "—"}, Case{kInf, "—"}, Case{kNaN, "—"}, Case{2147483647.5, "—"},
                          Case{2147483000.0, "35791383:20"}}) {
        SCOPED_TRACE(c.duration);
        EXPECT_EQ(rowLength(c.duration), QString::fromUtf8(c.length));
    }

    struct MatchCase {
        std::optional<double> match;
        const char* text;
        bool lit;
    };
    const TrackRecord plain = test::fixtureRecord({.title = "t"});
    for (const MatchCase& c : {MatchCase{0.999, "99", true}, MatchCase{0.75, "75", false},
                               MatchCase{0.751, "75", true}, MatchCase{0.0, "0", false},
                               MatchCase{std::nullopt, "", false}, MatchCase{kNaN, "", false},
                               MatchCase{kInf, "", false}, MatchCase{1e300, "", false}}) {
        SCOPED_TRACE(c.text);
        const StageRowLook look = stageRowLook(plain, false, false, c.match, false, 2);
        EXPECT_EQ(look.match, c.text);
        EXPECT_EQ(look.matchColour, c.lit ? signal() : ash());
    }

    // Tempo and key; a record without grid or key shows dashes, the key's in ash.
    TrackRecord bare = test::fixtureRecord({.title = "bare", .bpm = std::nullopt, .key = std::nullopt});
    bare.duration = 0;
    StageRowLook look = stageRowLook(bare, false, false, std::nullopt, false, 2);
    EXPECT_EQ(look.tempo, "—");
    EXPECT_EQ(look.key, "—");
    EXPECT_EQ(look.keyColour, ash());
    EXPECT_EQ(look.length, "—");
    EXPECT_FALSE(look.take);
    bare.grid = BeatGrid{};
    bare.grid->bpm = kNaN;
    EXPECT_EQ(stageRowLook(bare, false, false, std::nullopt, false, 2).tempo, "—");
    bare.grid->bpm = 123.45;
    EXPECT_EQ(stageRowLook(bare, false, false, std::nullopt, false, 2).tempo, "123.5");

    // 8A (A minor) sits at hue 7/12 with the minor values; 1B (B major) at hue 0.
    const QColor eightA = keyColour(MusicalKey(9, true));
    EXPECT_EQ(MusicalKey(9, true).camelot(), "8A");
    EXPECT_NEAR(eightA.hsvHueF(), 7.0 / 12, 1e-3);
    EXPECT_NEAR(eightA.hsvSaturationF(), 0.32, 1e-3);
    EXPECT_NEAR(eightA.valueF(), 0.86, 1e-3);
    const QColor oneB = keyColour(MusicalKey(11, false));
    EXPECT_EQ(MusicalKey(11, false).camelot(), "1B");
    EXPECT_NEAR(oneB.hsvHueF(), 0, 1e-3);
    EXPECT_NEAR(oneB.hsvSaturationF(), 0.45, 1e-3);
    EXPECT_NEAR(oneB.valueF(), 0.98, 1e-3);

    // Fits need a reference and both keys.
    const TrackRecord aMinor = test::fixtureRecord({.key = MusicalKey(9, true)});
    const TrackRecord cMajor = test::fixtureRecord({.key = MusicalKey(0, false)});
    const TrackRecord fSharp = test::fixtureRecord({.key = MusicalKey(6, false)});
    EXPECT_TRUE(fitsReference(aMinor, cMajor));
    EXPECT_FALSE(fitsReference(fSharp, cMajor));
    EXPECT_FALSE(fitsReference(aMinor, std::nullopt));
    EXPECT_FALSE(fitsReference(bare, cMajor));
    EXPECT_FALSE(fitsReference(cMajor, bare));
}

TEST(StageBrowserPresenter, MenuButtonsAndHelpFollowQueueTakeAndLayout)
{
    const auto texts = [](const StageRowLook& look) {
        QStringList out;
        for (const RowMenuItem& item : stageRowMenu(look))
            out << (item.kind == RowMenuItem::Kind::divider ? QStringLiteral("-") : item.text);
        return out;
    };
    TrackRecord take = test::fixtureRecord({.title = "take", .outpaint = OutpaintInfo{}});
    const TrackRecord plain = test::fixtureRecord({.title = "plain"});
    EXPECT_EQ(texts(stageRowLook(plain, false, false, {}, false, 2)),
              QStringList({"Load on Deck 1", "Load on Deck 2", "-", "Add to Queue", "-", "Show in Folder",
                           "Remove from Collection"}));
    EXPECT_EQ(texts(stageRowLook(take, true, false, {}, true, 4)),
              QStringList({"Load on Deck 1", "Load on Deck 2", "Load on Deck 3", "Load on Deck 4", "-",
                           "Remove from Queue", "Put This Take on Deck 2", "-", "Show in Folder",
                           "Remove from Collection"}));
    EXPECT_TRUE(stageRowLook(take, false, false, {}, false, 2).take);

    for (int decks : {2, 4}) {
        SCOPED_TRACE(decks);
        const StageRowGeometry g = stageRowGeometry(900, decks);
        ASSERT_EQ(int(g.decks.size()), decks);
        // Right-aligned buttons inside the 14 pt padding, cells in order, nothing overlapping.
        EXPECT_DOUBLE_EQ(g.queue.right(), 900 - 14);
        EXPECT_DOUBLE_EQ(g.decks.front().left() + decks * 25, g.queue.left());
        const std::vector<QRectF> order{g.dot, g.name, g.wave, g.tempo, g.key, g.length, g.match, g.decks.front()};
        for (std::size_t i = 1; i < order.size(); ++i)
            EXPECT_DOUBLE_EQ(order[i].left() - order[i - 1].right(), 12) << i;
        EXPECT_EQ(g.wave.size(), QSizeF(90, 14));
        EXPECT_DOUBLE_EQ(g.tempo.width(), 46);
        for (int i = 0; i < decks; ++i) {
            const RowHit hit = stageRowHit(g, g.decks[std::size_t(i)].center());
            EXPECT_EQ(hit, (RowHit{RowHit::Kind::deck, i}));
            EXPECT_EQ(stageRowHelp({}, hit), QStringLiteral("load on deck %1").arg(i + 1));
        }
        const RowHit queue = stageRowHit(g, g.queue.center());
        EXPECT_EQ(queue.kind, RowHit::Kind::queue);
        StageRowLook look;
        EXPECT_EQ(stageRowHelp(look, queue), "add to the queue");
        look.queued = true;
        EXPECT_EQ(stageRowHelp(look, queue), "remove from the queue");
        EXPECT_EQ(stageRowHit(g, g.wave.center()).kind, RowHit::Kind::row);
        EXPECT_EQ(stageRowHit(g, {g.queue.center().x(), 1}).kind, RowHit::Kind::row);
        EXPECT_TRUE(stageRowHelp(look, stageRowHit(g, g.name.center())).isEmpty());
    }
    // A row too narrow for its cells gives the name no negative width.
    EXPECT_GE(stageRowGeometry(100, 4).name.width(), 0);
}

TEST(MiniWavePresenter, WalksColumnsUpToTheShortestBand)
{
    WaveformData wave;
    for (int i = 0; i < 300; ++i) {
        wave.low.push_back(std::uint8_t(i % 256));
        wave.mid.push_back(255);
        wave.high.push_back(0);
    }
    // Nothing without a waveform, with fewer than two points or without width.
    WaveformData one;
    one.low = one.mid = one.high = {200};
    EXPECT_TRUE(kit::miniWaveBars(nullptr, 90, 14).peaks.empty());
    EXPECT_TRUE(kit::miniWaveBars(&one, 90, 14).peaks.empty());
    EXPECT_TRUE(kit::miniWaveBars(&wave, 0, 14).peaks.empty());
    EXPECT_TRUE(kit::miniWaveBars(&wave, kNaN, 14).peaks.empty());

    // 300 points over 90 columns: a step of 10/3, point ⌊x·10/3⌋ per column.
    kit::MiniWaveBars bars = kit::miniWaveBars(&wave, 90, 14);
    ASSERT_EQ(bars.peaks.size(), 90u);
    ASSERT_EQ(bars.cores.size(), 90u);
    EXPECT_EQ(bars.peaks[0], QRectF(0, 0, 1, 14)); // the mid band is full
    EXPECT_EQ(bars.cores[0], QRectF(0, 7, 1, 0.6)); // a silent low band keeps a hairline
    const int i = int(std::floor(45 * 10.0 / 3));
    EXPECT_NEAR(bars.cores[45].height(), 1.2 * 7 * (i / 255.0), 1e-9);
    EXPECT_DOUBLE_EQ(bars.cores[45].x(), 45);

    // Fewer points than columns: one point per column, then stop.
    WaveformData shortWave = wave;
    shortWave.low.resize(40);
    shortWave.mid.resize(40);
    shortWave.high.resize(40);
    EXPECT_EQ(kit::miniWaveBars(&shortWave, 90, 14).peaks.size(), 40u);

    // Bands of unequal length: the shortest decides, no band is read past its end.
    WaveformData ragged = wave;
    ragged.high.resize(25);
    bars = kit::miniWaveBars(&ragged, 90, 14);
    EXPECT_EQ(bars.peaks.size(), 25u);
    ragged.mid.clear();
    EXPECT_TRUE(kit::miniWaveBars(&ragged, 90, 14).peaks.empty());

    // Painted in two batches, at the given opacity.
    kit::RecordingCanvas canvas;
    kit::paintMiniWave(canvas, {3, 4}, kit::miniWaveBars(&wave, 90, 14), 0.8);
    const auto rects = canvas.of(kit::RecordingCanvas::Kind::rects);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_NEAR(rects[0].color.alphaF(), 0.55 * 0.8, 0.01);
    EXPECT_NEAR(rects[1].color.alphaF(), 0.9 * 0.8, 0.01);
    EXPECT_EQ(kit::miniWaveOpacity(false), 0.25);
}

} // namespace
} // namespace zelvo::stage
