// What the faceplate mixers and the perform module show, at the ends of
// every range.
#include "ui/instrument/MixerFaces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zelvo::face {
namespace {

using Phase = TransitionModel::Phase;

TEST(MixerFaces, RecordSublabelAndBeatDisplay)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        bool recording;
        double seconds;
        const char* want;
    } records[] = {{false, 61.9, "set"}, {true, 0, "0:00"},     {true, 61.9, "1:01"},
                   {true, 3600, "60:00"}, {true, std::nan(""), "set"}, {true, inf, "set"},
                   {true, -1, "set"},     {true, 1e12, "set"}};
    for (const auto& r : records)
        EXPECT_EQ(recordSublabel(r.recording, r.seconds), QString::fromUtf8(r.want)) << r.seconds;

    const struct {
        BeatFXKind kind;
        int index;
        double bpm;
        const char* kindLine;
        const char* beatLine;
    } lines[] = {{BeatFXKind::echo, 0, 127.6, "ECHO", "1/8 128"},     {BeatFXKind::roll, 8, 0, "ROLL", "16 ---"},
                 {BeatFXKind::flanger, 2, 123.5, "FLANGER", "1/2 124"}, {BeatFXKind::reverb, 3, -4, "REVERB", "3/4 ---"},
                 {BeatFXKind::echo, 2, std::nan(""), "ECHO", "1/2 ---"},  {BeatFXKind::echo, 99, 120, "ECHO", "16 120"}};
    for (const auto& l : lines) {
        const BeatFXLines got = beatFXLines(l.kind, l.index, l.bpm);
        EXPECT_EQ(got.kind, QString::fromUtf8(l.kindLine));
        EXPECT_EQ(got.beats, QString::fromUtf8(l.beatLine)) << l.index << " " << l.bpm;
    }
    // "%.0f" rounds half to even, as the display's format does.
    EXPECT_EQ(beatFXLines(BeatFXKind::echo, 2, 124.5).beats, QStringLiteral("1/2 124"));

    EXPECT_EQ(cycleKind(BeatFXKind::echo, -1), BeatFXKind::reverb);
    EXPECT_EQ(cycleKind(BeatFXKind::reverb, +1), BeatFXKind::echo);
    EXPECT_EQ(cycleKind(BeatFXKind::echo, +1), BeatFXKind::roll);
    EXPECT_EQ(cycleKind(BeatFXKind::roll, -5), BeatFXKind::echo);
    EXPECT_EQ(stepBeat(0, -1), 0);
    EXPECT_EQ(stepBeat(8, +1), 8);
    EXPECT_EQ(stepBeat(2, +1), 3);
}

TEST(MixerFaces, BrowseDragStepsTheSameWhateverTheEventRate)
{
    // One 70-point drag upward delivered in 1, 5 and 200 move events: 5 steps each.
    for (const int events : {1, 5, 200}) {
        BrowseDrag drag;
        drag.begin(100);
        int steps = 0;
        for (int i = 1; i <= events; ++i)
            steps += drag.moveTo(100 - 70.0 * i / events);
        EXPECT_EQ(steps, 5) << events;
    }
    // Down and back up again nets out.
    BrowseDrag drag;
    drag.begin(0);
    int steps = drag.moveTo(28) + drag.moveTo(0);
    EXPECT_EQ(steps, 0);
    EXPECT_EQ(drag.moveTo(std::nan("")), 0);

    const std::vector<QUuid> ids{QUuid::createUuid(), QUuid::createUuid(), QUuid::createUuid()};
    const QUuid stranger = QUuid::createUuid();
    const struct {
        std::optional<QUuid> selected;
        int delta;
        int want;
    } cases[] = {{std::nullopt, 1, 1}, {std::nullopt, -1, 0}, {stranger, 1, 1}, {ids[2], 1, 2},
                 {ids[0], -3, 0},      {ids[0], 100, 2},      {ids[1], 0, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(browseStep(ids, c.selected, c.delta), ids[std::size_t(c.want)]) << c.delta;
    EXPECT_FALSE(browseStep({}, ids[0], 1));
}

TEST(MixerFaces, DeckTabsAndLabels)
{
    EXPECT_EQ(tabDecks(0), (std::array<int, 2>{0, 2}));
    EXPECT_EQ(tabDecks(1), (std::array<int, 2>{1, 3}));
    EXPECT_EQ(tabDecks(7), (std::array<int, 2>{1, 3}));
    const struct {
        int deck, active;
        bool playing, lit, blink;
    } tabs[] = {{0, 0, false, true, false}, {0, 0, true, true, false}, {2, 0, true, false, true},
                {2, 0, false, false, false}, {2, 2, true, true, false}};
    for (const auto& t : tabs) {
        const TabFace f = tabFace(t.deck, t.active, t.playing);
        EXPECT_EQ(f.label, QStringLiteral("Deck %1").arg(t.deck + 1));
        EXPECT_EQ(f.lit, t.lit);
        EXPECT_EQ(f.blink, t.blink) << t.deck << t.active << t.playing;
    }
    EXPECT_EQ(deckSublabel(2), QStringLiteral("deck 3"));
    QStringList order;
    for (const int i : kFourStripOrder)
        order << (i < 0 ? QStringLiteral("master") : stripLabel(i));
    EXPECT_EQ(order.join(QLatin1Char(' ')), QStringLiteral("CH3 CH1 master CH2 CH4"));
    EXPECT_EQ(pageCaption(true), QStringLiteral("auto mix \u00b7 queue"));
    EXPECT_EQ(pageCaption(false), QStringLiteral("cfx \u00b7 curve \u00b7 limiter"));
}

TEST(MixerFaces, MixKeysAndBarInEveryPhase)
{
    const QString left = QStringLiteral("\u25c0 Mix 1"), right = QStringLiteral("Mix 2 \u25b6"),
                  cancel = QStringLiteral("Cancel");
    const struct {
        Phase phase;
        int live;
        QString leftLabel;
        bool leftLit, leftBlink;
        QString rightLabel;
        bool rightLit, rightBlink;
        int litSlots;
        int firstSlot;
    } cases[] = {
        {Phase::idle(), 0, left, true, false, right, false, false, 0, -1},
        {Phase::idle(), 1, left, false, false, right, true, false, 0, -1},
        {Phase::starting(1), 0, left, true, false, cancel, true, true, 0, -1},
        {Phase::waitingDownbeat(0, 12), 1, cancel, true, true, right, true, false, 0, -1},
        {Phase::mixing(1, 0.5), 0, left, true, false, cancel, true, true, 16, 0},
        {Phase::mixing(0, 0.25), 1, cancel, true, true, right, true, false, 8, 24},
        {Phase::mixing(1, 0), 0, left, true, false, cancel, true, true, 0, -1},
        {Phase::mixing(0, 1), 1, cancel, true, true, right, true, false, 32, 0},
        {Phase::mixing(1, 7), 0, left, true, false, cancel, true, true, 32, 0},
        {Phase::mixing(1, std::nan("")), 0, left, true, false, cancel, true, true, 0, -1},
    };
    for (const auto& c : cases) {
        const MixKeyFace l = mixKey(0, c.phase, c.live, false);
        const MixKeyFace r = mixKey(1, c.phase, c.live, false);
        EXPECT_EQ(l.label, c.leftLabel);
        EXPECT_EQ(l.sublabel, QStringLiteral("human"));
        EXPECT_EQ(l.lit, c.leftLit);
        EXPECT_EQ(l.blink, c.leftBlink);
        EXPECT_EQ(r.label, c.rightLabel);
        EXPECT_EQ(r.lit, c.rightLit);
        EXPECT_EQ(r.blink, c.rightBlink);
        const auto lit = mixSlots(c.phase);
        int count = 0, first = -1;
        for (int k = 0; k < kMixSlots; ++k)
            if (lit[std::size_t(k)]) {
                ++count;
                if (first < 0)
                    first = k;
            }
        EXPECT_EQ(count, c.litSlots) << int(c.phase.kind) << " " << c.phase.value;
        EXPECT_EQ(first, c.firstSlot) << int(c.phase.kind) << " " << c.phase.value;
    }
    EXPECT_EQ(mixKey(1, Phase::idle(), 0, true).sublabel, QStringLiteral("zelvo-0"));
    EXPECT_EQ(mixKey(1, Phase::idle(), 0, false).sublabel, QStringLiteral("deck 2"));
}

TEST(MixerFaces, UpNextPanel)
{
    const struct {
        int queued, live;
        std::optional<QString> title;
        std::optional<double> score;
        bool autoQueue;
        const char* header;
        std::optional<QString> fit;
        bool good;
        const char* titleLine;
    } cases[] = {
        {3, 0, QStringLiteral("Second"), 0.705, false, "UP NEXT \u00b7 3 QUEUED \u2192 DECK 2", QStringLiteral("FIT 71"),
         true, "Second"},
        {1, 1, QStringLiteral("A"), 0.7, true, "UP NEXT \u00b7 1 QUEUED \u2192 DECK 1", QStringLiteral("FIT 70"), false,
         "A"},
        {1, 0, QStringLiteral("A"), 0.005, true, "UP NEXT \u00b7 1 QUEUED \u2192 DECK 2", QStringLiteral("FIT 1"), false,
         "A"},
        {1, 0, QStringLiteral("A"), std::nullopt, true, "UP NEXT \u00b7 1 QUEUED \u2192 DECK 2", std::nullopt, false,
         "A"},
        {0, 0, std::nullopt, std::nullopt, true, "UP NEXT \u00b7 0 QUEUED \u2192 DECK 2", std::nullopt, false,
         "AUTO IS LOOKING"},
        {2, 0, std::nullopt, 0.9, false, "UP NEXT \u00b7 2 QUEUED \u2192 DECK 2", std::nullopt, false,
         "TAP + ON A TRACK"},
        {1, 0, QStringLiteral("A"), std::nan(""), false, "UP NEXT \u00b7 1 QUEUED \u2192 DECK 2", std::nullopt, false,
         "A"},
    };
    for (const auto& c : cases) {
        const UpNextFace f = upNext(c.queued, c.live, c.title, c.score, c.autoQueue);
        EXPECT_EQ(f.header, QString::fromUtf8(c.header));
        EXPECT_EQ(f.fit, c.fit) << (c.score ? *c.score : -1);
        EXPECT_EQ(f.fitGood, c.good);
        EXPECT_EQ(f.title, QString::fromUtf8(c.titleLine));
        EXPECT_EQ(f.titleFound, c.title.has_value());
    }
    EXPECT_DOUBLE_EQ(guidePhase(2.0), 10.0);
}

} // namespace
} // namespace zelvo::face
