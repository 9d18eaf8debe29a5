// The crate browser's and the model module's rules: thresholds at their edges,
// the headline's precedence, the action keys by status and the knob mappings.
#include "support/LibraryFixtures.h"
#include "ui/instrument/BrainPresenters.h"
#include "ui/instrument/CratePresenters.h"
#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo {
namespace {

using crate::RowCells;
using Source = AppModel::BrowserSource;
using Sort = AppModel::BrowserSort;
constexpr double kCrateInf = std::numeric_limits<double>::infinity();
const double kCrateNaN = std::nan("");

TEST(CratePresenter, AnalysisLineCountsEachRecordOnce)
{
    test::RecordFields fields;
    TrackRecord a = test::fixtureRecord(fields), b = test::fixtureRecord(fields), c = test::fixtureRecord(fields);
    a.analyzed = false; // under analysis: in both sets, counts once
    b.analyzed = false; // waiting
    EXPECT_EQ(crate::analysisLine({a.id}, {a, b, c}), QStringLiteral("ANALYZE 2"));
    EXPECT_EQ(crate::analysisLine({a.id}, {a}), QStringLiteral("ANALYZE 1"));
    EXPECT_EQ(crate::analysisLine({c.id}, {a, b, c}), QStringLiteral("ANALYZE 3"));
    EXPECT_EQ(crate::analysisLine({}, {a, b, c}), std::nullopt); // hidden while nothing runs
    EXPECT_EQ(crate::trackCount(42), QStringLiteral("42 TRACKS"));
}

TEST(CratePresenter, RowCellsAtTheirEdges)
{
    struct Case {
        const char* what;
        double duration;
        std::optional<double> match;
        std::optional<double> energy;
        const char* length;
        const char* matchText;
        bool ember;
        int bars;
    };
    const Case cases[] = {
        {"59.9 s cuts down", 59.9, 0.999, 0.08, "0:59", "99", true, 0},
        {"4:07", 247.2, 0.75, 0.0801, "4:07", "75", false, 1},
        {"0.76 is ember", 61, 0.76, 0.27, "1:01", "76", true, 1},
        {"zero length", 0, std::nullopt, 0.2701, "\u2014", "\u2014", false, 2},
        {"negative", -3, 0.0, 0.84, "\u2014", "0", false, 4},
        {"all bars", 1, 1.0, 0.85, "0:01", "100", true, 5},
        {"no energy", 1, 0.5, std::nullopt, "0:01", "50", false, 0},
        {"infinite length", kCrateInf, kCrateInf, kCrateInf, "\u2014", "\u2014", false, 0},
        {"NaN everywhere", kCrateNaN, kCrateNaN, kCrateNaN, "\u2014", "\u2014", false, 0},
        {"beyond int", 1e12, 1e10, -kCrateInf, "\u2014", "\u2014", false, 0},
    };
    for (const Case& c : cases) {
        test::RecordFields fields;
        fields.title = QStringLiteral("t");
        TrackRecord record = test::fixtureRecord(fields);
        record.duration = c.duration;
        const RowCells cells = crate::rowCells(record, false, c.energy, c.match);
        EXPECT_EQ(cells.length, QString::fromUtf8(c.length)) << c.what;
        EXPECT_EQ(cells.match, QString::fromUtf8(c.matchText)) << c.what;
        EXPECT_EQ(cells.matchColour == kit::Palette::ember(), c.ember) << c.what;
        EXPECT_EQ(cells.energyBars, c.bars) << c.what;
    }
}

TEST(CratePresenter, TempoKeyBadgeAndColours)
{
    test::RecordFields fields;
    fields.bpm = 124.0;
    fields.key = MusicalKey(9, true); // A minor: 8A
    TrackRecord record = test::fixtureRecord(fields);
    EXPECT_EQ(crate::rowCells(record, false, {}, {}).tempo, "124.00");
    // Under analysis the tempo shows dots even with an earlier grid.
    EXPECT_EQ(crate::rowCells(record, true, {}, {}).tempo, QString::fromUtf8("\u00B7\u00B7\u00B7"));
    EXPECT_EQ(crate::rowCells(record, false, {}, {}).key, "8A");
    EXPECT_FALSE(crate::rowCells(record, false, {}, {}).take);
    EXPECT_EQ(crate::tempoCell(kCrateNaN, false), QString::fromUtf8("\u2014"));
    fields.bpm.reset();
    fields.key.reset();
    fields.outpaint = OutpaintInfo{};
    record = test::fixtureRecord(fields);
    const RowCells bare = crate::rowCells(record, false, {}, {});
    EXPECT_EQ(bare.tempo, QString::fromUtf8("\u2014"));
    EXPECT_EQ(bare.key, QString::fromUtf8("\u2014"));
    EXPECT_TRUE(bare.take);

    // Major: saturation 0.5, brightness 1; minor paler and darker; hue by number.
    const QColor major = crate::keyColour(MusicalKey(0, false)); // 8B
    const QColor minor = crate::keyColour(MusicalKey(9, true));  // 8A
    EXPECT_NEAR(major.hsvSaturationF(), 0.5, 0.01);
    EXPECT_NEAR(major.valueF(), 1.0, 0.01);
    EXPECT_NEAR(minor.hsvSaturationF(), 0.35, 0.01);
    EXPECT_NEAR(minor.valueF(), 0.86, 0.01);
    EXPECT_NEAR(major.hsvHueF(), 7.0 / 12.0, 0.01);
    EXPECT_NEAR(minor.hsvHueF(), major.hsvHueF(), 0.01);

    // Compatibility needs both keys.
    EXPECT_TRUE(crate::compatible(MusicalKey(9, true), MusicalKey(0, false)));
    EXPECT_FALSE(crate::compatible(std::nullopt, MusicalKey(0, false)));
    EXPECT_FALSE(crate::compatible(MusicalKey(0, false), std::nullopt));
}

TEST(CratePresenter, EnergyMeterBarsThroughTheCanvas)
{
    kit::RecordingCanvas canvas;
    crate::paintEnergyMeter(canvas, QPointF(10, 0), 22, 2);
    const auto& ops = canvas.ops();
    ASSERT_EQ(ops.size(), 2u);
    // Lit first (two, ember), then the three unlit; heights 4 + 1.6 i, centred.
    ASSERT_EQ(ops[0].rects.size(), 2u);
    ASSERT_EQ(ops[1].rects.size(), 3u);
    EXPECT_EQ(ops[0].rects[0], QRectF(10, 9, 3, 4));
    EXPECT_EQ(ops[0].rects[1], QRectF(14.5, 8.2, 3, 5.6));
    EXPECT_NEAR(ops[1].rects[2].height(), 10.4, 1e-9);
    EXPECT_NEAR(ops[1].rects[2].x(), 10 + 4 * 4.5, 1e-9);
}

TEST(CratePresenter, SortKeysReadoutSourcesQueueAndMenu)
{
    const std::vector<crate::SortKey> keys = crate::sortKeys(Sort::harmony);
    QStringList labels;
    for (const crate::SortKey& k : keys)
        labels << k.label + (k.lit ? "*" : "") + QString::number(k.width);
    EXPECT_EQ(labels, QStringList({"ADDED44", QString::fromUtf8("A\u2013Z44"), "BPM44", "KEY44", "ENERGY44", "TUNE54",
                                   "HARMONY*54", "TEMPO54", "INTENSITY54"}));
    EXPECT_EQ(crate::sortReadout(Sort::tune, std::nullopt).text, "NOTHING PLAYING");
    EXPECT_TRUE(crate::sortReadout(Sort::tune, std::nullopt).dim);
    EXPECT_EQ(crate::sortReadout(Sort::tempo, QStringLiteral("Long Song")).text, "LONG SONG");
    EXPECT_FALSE(crate::sortReadout(Sort::tempo, QStringLiteral("Long Song")).dim);
    EXPECT_EQ(crate::sortReadout(Sort::bpm, QStringLiteral("Long Song")).text, "slow to fast");
    EXPECT_FALSE(crate::sortReadout(Sort::energy, QStringLiteral("x")).title);

    QStringList sources;
    for (const crate::SourceKey& k : crate::sourceKeys(Source::recent))
        sources << k.label + (k.lit ? "*" : "");
    EXPECT_EQ(sources, QStringList({"COLLECTION", "OUTPAINTS", "RECENT*", "QUEUE"}));
    EXPECT_EQ(crate::emptyState(Source::outpaints).title, "NO OUTPAINTS YET");
    EXPECT_EQ(crate::emptyState(Source::queue).line, QString::fromUtf8("or press import \u00B7 Ctrl+O"));

    EXPECT_EQ(crate::queueKey(false).label, "+");
    EXPECT_EQ(crate::queueKey(true).label, QString::fromUtf8("\u2713"));
    EXPECT_EQ(crate::queueKey(true).help, "Remove from queue");

    const auto texts = [](bool queued, bool take) {
        QStringList out;
        for (const crate::MenuItem& item : crate::menuItems(queued, take))
            out << (item.text.isEmpty() ? QStringLiteral("-") : item.text);
        return out;
    };
    EXPECT_EQ(texts(false, false), QStringList({"Load to Deck 1", "Load to Deck 2 (zelvo-0)", "-", "Add to Queue", "-",
                                                "Show in Folder", "Remove from Collection"}));
    EXPECT_EQ(texts(true, true),
              QStringList({"Load to Deck 1", "Load to Deck 2 (zelvo-0)", "-", "Move Up in Queue", "Move Down in Queue",
                           "Remove from Queue", "Put This Take on Deck 2", "-", "Show in Folder",
                           "Remove from Collection"}));

    // Columns: the flexible one takes what the others leave.
    const auto spans = crate::columnSpans(600);
    EXPECT_DOUBLE_EQ(spans[1].second, 600 - 16 - 48 - 346);
    EXPECT_DOUBLE_EQ(spans[8].first + spans[8].second, 592);
}

TEST(CratePresenter, ShortenedReadoutsKeepWholeWords)
{
    const QString e = QStringLiteral("\u2026");
    struct Case {
        const char* text;
        int most; // characters that fit
        QString shown;
    };
    const Case cases[] = {
        {"NEWEST FIRST", 12, QStringLiteral("NEWEST FIRST")},
        {"NEWEST FIRST", 11, QStringLiteral("NEWEST") + e},
        {"AROUND THE WHEEL", 15, QStringLiteral("AROUND THE") + e},
        {"AROUND THE WHEEL", 10, QStringLiteral("AROUND") + e},
        {"NOTHING PLAYING", 8, QStringLiteral("NOTHING") + e},
        // Not even the first word: the ellipsis alone, then nothing.
        {"NOTHING PLAYING", 7, e},
        {"SUPERCALIFRAGILISTIC", 5, e},
        {"X Y", 0, QString()},
        // Runs of spaces count as one break; the ellipsis follows the word.
        {"  DOUBLE  SPACED  WORDS ", 15, QStringLiteral("DOUBLE SPACED") + e},
        {"", 0, QString()},
    };
    for (const Case& c : cases) {
        const int most = c.most;
        const QString shown = crate::shortenAtWord(QString::fromUtf8(c.text),
                                                   [most](const QString& t) { return t.size() <= most; });
        EXPECT_EQ(shown, c.shown) << c.text << " in " << c.most;
    }
    // Cells of 1.1 points: n cells take (6n − 1) × 1.1.
    EXPECT_EQ(crate::cellsWithin(105, 1.1, 16), 16);
    EXPECT_EQ(crate::cellsWithin(104, 1.1, 16), 15);
    EXPECT_EQ(crate::cellsWithin(400, 1.1, 16), 16);
    EXPECT_EQ(crate::cellsWithin(5.6, 1.1, 16), 1);
    EXPECT_EQ(crate::cellsWithin(5.4, 1.1, 16), 0);
    EXPECT_EQ(crate::cellsWithin(-3, 1.1, 16), 0);
    EXPECT_EQ(crate::cellsWithin(kCrateNaN, 1.1, 16), 0);
    EXPECT_EQ(crate::cellsWithin(kCrateInf, 1.1, 16), 0);
}

TEST(CratePresenter, TheSortBarsKeysGiveFirstDownToTheirFloors)
{
    const std::vector<double> widths{44, 44, 44, 44, 44, 54, 54, 54, 54};
    const std::vector<double> floors{30, 20, 20, 20, 36, 25, 40, 30, 47};
    const double fixed = 16 + 1 + 15, readout = 104.5;
    const auto total = [&](const crate::SortBarFit& fit) {
        double sum = fixed + crate::kSortGaps * fit.spacing + fit.room;
        for (double w : fit.keys)
            sum += w;
        return sum;
    };
    // Room to spare: the given widths, and the spare goes to the read-out's side.
    crate::SortBarFit wide = crate::fitSortBar(900, widths, floors, fixed, readout);
    EXPECT_EQ(wide.keys, widths);
    EXPECT_EQ(wide.spacing, 4);
    EXPECT_NEAR(total(wide), 900, 1e-9);
    // A little short: only the spacing gives.
    const double natural = fixed + 436 + 12 * 4 + readout;
    crate::SortBarFit tight = crate::fitSortBar(natural - 12, widths, floors, fixed, readout);
    EXPECT_EQ(tight.keys, widths);
    EXPECT_NEAR(tight.spacing, 3, 1e-9);
    EXPECT_NEAR(tight.room, readout, 1e-9);
    // Shorter: the keys narrow by one factor, the short labels' keys more, none
    // below its floor, and the read-out keeps its room.
    crate::SortBarFit narrow = crate::fitSortBar(476, widths, floors, fixed, readout);
    EXPECT_EQ(narrow.spacing, 2);
    EXPECT_NEAR(narrow.room, readout, 1e-6);
    EXPECT_NEAR(total(narrow), 476, 1e-6);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        EXPECT_GE(narrow.keys[i], floors[i] - 1e-9) << i;
        EXPECT_LT(narrow.keys[i], widths[i]) << i;
    }
    EXPECT_EQ(narrow.keys[8], 47) << "INTENSITY holds at its floor";
    EXPECT_NEAR(narrow.keys[1] / 44, narrow.keys[5] / 54, 1e-6) << "keys above their floors share one factor";
    // Past every floor only the read-out's room gives; nothing goes negative.
    crate::SortBarFit floored = crate::fitSortBar(420, widths, floors, fixed, readout);
    EXPECT_EQ(floored.keys, floors);
    EXPECT_NEAR(floored.room, 420 - fixed - 24 - 268, 1e-9);
    for (double bad : {-5.0, kCrateNaN, kCrateInf}) {
        const crate::SortBarFit fit = crate::fitSortBar(bad, widths, floors, fixed, readout);
        EXPECT_EQ(fit.keys, floors) << bad;
        EXPECT_EQ(fit.room, 0) << bad;
    }
    // A floor wider than the key or not a number never widens it.
    EXPECT_EQ(crate::fitSortBar(0, {44}, {60}, 0, 0).keys, std::vector<double>{44});
    EXPECT_EQ(crate::fitSortBar(0, {44}, {kCrateNaN}, 0, 0).keys, std::vector<double>{44});
    EXPECT_EQ(crate::sortKeyFloor(40, 54), 38);
    EXPECT_EQ(crate::sortKeyFloor(60, 54), 54);
    EXPECT_EQ(crate::sortKeyFloor(kCrateNaN, 54), 54);

    // The read-out's cells show a title's first characters, normalised.
    EXPECT_EQ(crate::firstCells(QStringLiteral("Caf\u00e9 del Mar (extended)"), 16),
              QStringLiteral("CAFE DEL MAR (EX"));
    EXPECT_EQ(crate::firstCells(QStringLiteral("NOTHING PLAYING"), 16), QStringLiteral("NOTHING PLAYING"));
    EXPECT_EQ(crate::firstCells(QStringLiteral("abc"), 0), QString());
}

TEST(BrainPresenter, HeadlinePrecedence)
{
    const QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(20, 0), Qt::UTC);
    const BrainStatus ready = BrainStatus::of(BrainStatus::Kind::ready);
    struct Case {
        const char* what;
        OutpaintPhase phase;
        std::optional<QString> notice;
        double noticeIn;
        DropStatus drop;
        bool playing;
        BrainStatus status;
        QString want;
    };
    const Case cases[] = {
        {"queued", OutpaintPhase::rendering("queued", 0, 8), "N", 5, DropStatus::ready(0), false, ready,
         QString::fromUtf8("WAITING FOR ZELVO-0\u2026")},
        {"sample", OutpaintPhase::rendering("sample", 3, 8), {}, 0, DropStatus::refused({}), false, ready,
         "DREAMING 3/8"},
        {"decode", OutpaintPhase::rendering("decode", 0, 0), {}, 0, DropStatus::refused({}), false, ready, "DECODE"},
        {"underscore", OutpaintPhase::rendering("load_model", 0, 0), {}, 0, DropStatus::refused({}), false, ready,
         "LOAD MODEL"},
        {"failed text as is", OutpaintPhase::failed("Server said no"), "N", 5, DropStatus::ready(0), false, ready,
         "Server said no"},
        {"capturing", OutpaintPhase::capturing(), {}, 0, DropStatus::refused({}), false, ready, "LISTENING TO DECK"},
        {"composing", OutpaintPhase::composing(), {}, 0, DropStatus::refused({}), false, ready, "SPLICING SEAM"},
        {"notice before expiry", OutpaintPhase::idle(), "SAVED", 0.001, DropStatus::ready(0), false, ready, "SAVED"},
        {"notice at expiry", OutpaintPhase::idle(), "SAVED", 0, DropStatus::refused({}), false, ready, "READY"},
        {"ready, deck 2 still", OutpaintPhase::idle(), {}, 0, DropStatus::ready(0), false, ready,
         QString::fromUtf8("FORK READY \u00B7 DROP IT")},
        {"ready, deck 2 playing", OutpaintPhase::idle(), {}, 0, DropStatus::ready(0), true, ready, "READY"},
        {"waiting 12.6", OutpaintPhase::idle(), {}, 0, DropStatus::waiting(12.6), false, ready,
         QString::fromUtf8("FORK READY \u00B7 DECK 1 IN 13S")},
        {"waiting 12.5 half to even", OutpaintPhase::idle(), {}, 0, DropStatus::waiting(12.5), false, ready,
         QString::fromUtf8("FORK READY \u00B7 DECK 1 IN 12S")},
        {"armed 0.4", OutpaintPhase::idle(), {}, 0, DropStatus::armed(0.4), false, ready, "DROP ARMED"},
        {"armed 0.5", OutpaintPhase::idle(), {}, 0, DropStatus::armed(0.5), false, ready, "DROP ARMED"},
        {"armed 3.2", OutpaintPhase::idle(), {}, 0, DropStatus::armed(3.2), false, ready,
         QString::fromUtf8("DROP ARMED \u00B7 3S")},
        {"refused falls through", OutpaintPhase::idle(), {}, 0, DropStatus::refused("DECK 1 EMPTY"), false,
         BrainStatus::loading("weights"), QString::fromUtf8("LOADING \u00B7 WEIGHTS")},
        {"offline", OutpaintPhase::idle(), {}, 0, DropStatus::refused({}), false,
         BrainStatus::of(BrainStatus::Kind::offline), "OFFLINE"},
        {"starting", OutpaintPhase::idle(), {}, 0, DropStatus::refused({}), false,
         BrainStatus::of(BrainStatus::Kind::starting), "WAKING"},
    };
    for (const Case& c : cases) {
        brainface::HeadlineInput in{c.phase, c.notice, now.addMSecs(qint64(c.noticeIn * 1000)), now, c.drop,
                                    c.playing, c.status};
        EXPECT_EQ(brainface::headline(in), c.want) << c.what;
    }
    EXPECT_TRUE(brainface::failed(OutpaintPhase::failed("x"), ready));
    EXPECT_TRUE(brainface::failed(OutpaintPhase::idle(), BrainStatus::failed("x")));
    EXPECT_FALSE(brainface::failed(OutpaintPhase::idle(), ready));
}

TEST(BrainPresenter, KeysCountersAndProgress)
{
    using K = BrainStatus::Kind;
    struct Case {
        BrainStatus status;
        bool busy;
        brainface::Action want;
    };
    const Case cases[] = {
        {BrainStatus::failed("x"), false, brainface::Action::wake},
        {BrainStatus::of(K::offline), true, brainface::Action::wake},
        {BrainStatus::of(K::notInstalled), false, brainface::Action::install},
        {BrainStatus::installing("1%"), true, brainface::Action::cancel},
        {BrainStatus::loading("x"), false, brainface::Action::fork},
        {BrainStatus::of(K::checking), false, brainface::Action::fork},
        {BrainStatus::of(K::starting), true, brainface::Action::cancel},
        {BrainStatus::of(K::ready), false, brainface::Action::fork},
        {BrainStatus::of(K::rendering), true, brainface::Action::cancel},
    };
    for (const Case& c : cases)
        EXPECT_EQ(brainface::actionKey(c.status, c.busy, "~10 gb").action, c.want) << c.status.label().toStdString();
    EXPECT_EQ(brainface::actionKey(BrainStatus::of(K::notInstalled), false, "~10 gb").face,
              (brainface::KeyFace{"Install", "~10 GB", true, true}));
    EXPECT_EQ(brainface::actionKey(BrainStatus::of(K::ready), true, "").face,
              (brainface::KeyFace{"Cancel", "render", false, true}));

    EXPECT_EQ(brainface::dropKey(DropStatus::refused("DECK 1 EMPTY")),
              (brainface::KeyFace{"Drop", "deck 1 empty", false, false}));
    EXPECT_EQ(brainface::dropKey(DropStatus::refused({})).sublabel, "on the one");
    EXPECT_EQ(brainface::dropKey(DropStatus::armed(2)), (brainface::KeyFace{"Drop", QString::fromUtf8("armed \u00B7 tap off"), true, true}));
    EXPECT_EQ(brainface::dropKey(DropStatus::waiting(2)).sublabel, "arm");
    EXPECT_EQ(brainface::dropKey(DropStatus::ready(0)).sublabel, "in sync");

    EXPECT_EQ(brainface::takeCounter(std::nullopt, 0), "--/--");
    EXPECT_EQ(brainface::takeCounter(std::nullopt, 3), "0/3");
    EXPECT_EQ(brainface::takeCounter(1, 3), "2/3");
    EXPECT_EQ(brainface::seedLine(42).text, "SEED 42");
    EXPECT_TRUE(brainface::seedLine(std::nullopt).dim);

    for (const auto& [progress, lit] : std::vector<std::pair<double, int>>{
             {0.5, 20}, {0.999, 39}, {1.0, 40}, {0.0249, 0}, {0.025, 1}, {-0.1, 0}, {kCrateNaN, 0}, {kCrateInf, 0}, {2.0, 40}})
        EXPECT_EQ(brainface::litSegments(progress), lit) << progress;

    EXPECT_EQ(brainface::guideText(1.25), "guide 1.2"); // half to even, as printf
    EXPECT_EQ(brainface::memoryText(9.96), "10.0GB");
    EXPECT_EQ(brainface::lastRenderText(12.34), "LAST 12.3S");
    EXPECT_EQ(brainface::modelName(std::nullopt), "BASE");
    EXPECT_EQ(brainface::modelName(QStringLiteral("acid-lora")), "ACID-LORA");
}

TEST(BrainPresenter, ModelCyclingAndStepperKnob)
{
    const QList<BrainModel> three{{"zelvo-0", "base"}, {"A", "lora"}, {"B", "lora"}};
    std::optional<QString> model;
    model = brainface::cycleModel(three, model);
    EXPECT_EQ(model, QStringLiteral("A"));
    model = brainface::cycleModel(three, model);
    EXPECT_EQ(model, QStringLiteral("B"));
    model = brainface::cycleModel(three, model);
    EXPECT_EQ(model, std::nullopt);
    // An unlisted model moves to the second choice.
    EXPECT_EQ(brainface::cycleModel(three, QStringLiteral("zelvo-0")), QStringLiteral("A"));
    const QList<BrainModel> two{{"A", "lora"}, {"B", "lora"}};
    EXPECT_EQ(brainface::cycleModel(two, QStringLiteral("gone")), QStringLiteral("B"));
    EXPECT_EQ(brainface::cycleModel(two, QStringLiteral("B")), QStringLiteral("A"));
    EXPECT_EQ(brainface::cycleModel({}, QStringLiteral("B")), QStringLiteral("B"));
    BrainHealth health;
    EXPECT_FALSE(brainface::showsModelKey(std::nullopt));
    health.models = {{"zelvo-0", "base"}};
    EXPECT_FALSE(brainface::showsModelKey(health));
    health.models = three;
    EXPECT_TRUE(brainface::showsModelKey(health));

    const std::vector<int> bars{4, 8, 16, 32};
    const std::vector<int> steps{4, 6, 8, 12, 16};
    EXPECT_EQ(brainface::stepperIndex(bars, 16), 2);
    EXPECT_EQ(brainface::stepperIndex(steps, 10), 0); // unlisted
    struct Turn {
        const std::vector<int>* options;
        double knob;
        std::optional<int> want;
    };
    const Turn turns[] = {
        {&bars, 3, 32},   {&bars, 2, 16},   {&steps, 1.4, 6},     {&steps, 1.5, 8}, {&steps, 2.5, 12},
        {&steps, -3, 4},  {&steps, 99, 16}, {&steps, kCrateNaN, {}},   {&steps, kCrateInf, {}}, {&steps, -kCrateInf, {}},
        {&bars, 1e300, 32},
    };
    for (const Turn& t : turns)
        EXPECT_EQ(brainface::stepperValue(*t.options, t.knob), t.want) << t.knob;
    EXPECT_EQ(brainface::stepperReadout(16, "BAR"), "16BAR");
    EXPECT_EQ(brainface::stepperReadout(10, ""), "10");
}

} // namespace
} // namespace zelvo
