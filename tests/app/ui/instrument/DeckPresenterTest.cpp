// The faceplate deck's pure parts: the display window's texts, the transport
// lamps, the pad-mode row and pad grid, the loop row, and the jog wheel's
// gesture maths and command delivery through a ring that can refuse.
#include "ui/instrument/DeckPresenters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <numbers>

namespace zelvo {
namespace {

using namespace deckface;

constexpr double kDeckNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDeckInf = std::numeric_limits<double>::infinity();

TEST(DeckPresenter, HeaderTexts)
{
    const auto base = [] {
        HeaderInput in;
        in.title = QStringLiteral("Night Drive");
        in.artist = QStringLiteral("Oda");
        in.bpm = 124;
        in.duration = 161.75;
        in.position = 20;
        in.key = MusicalKey(9, true); // 8A
        return in;
    };
    struct Case {
        const char* name;
        std::function<void(HeaderInput&)> edit;
        std::function<void(const HeaderFace&)> check;
    };
    const std::vector<Case> cases{
        {"plain deck 1", [](HeaderInput&) {},
         [](const HeaderFace& f) {
             EXPECT_EQ(f.deckLabel, "DECK 1 · HUMAN");
             EXPECT_TRUE(f.badges.isEmpty());
             EXPECT_EQ(f.title, "Night Drive");
             EXPECT_EQ(f.subLine, "Oda");
             EXPECT_FALSE(f.subIsError);
             EXPECT_EQ(f.bpm, "124.00");
             EXPECT_EQ(f.pitch, " +0.0%");
             EXPECT_EQ(f.range, "±10");
             EXPECT_EQ(f.clock, "-02:21.7");
             EXPECT_EQ(f.key, "KEY 8A");
             EXPECT_EQ(f.clockMode, "REMAIN");
         }},
        {"no track",
         [](HeaderInput& in) {
             in = HeaderInput();
             in.index = 3;
         },
         [](const HeaderFace& f) {
             EXPECT_EQ(f.deckLabel, "DECK 4 · HUMAN");
             EXPECT_EQ(f.title, "NO TRACK");
             EXPECT_EQ(f.subLine, "");
             EXPECT_EQ(f.bpm, "---.--");
             EXPECT_EQ(f.key, "KEY --");
             EXPECT_EQ(f.clock, "-00:00.0");
         }},
        {"loading with an error, model deck, all badges",
         [](HeaderInput& in) {
             in.loading = true;
             in.error = QStringLiteral("FILE NOT FOUND");
             in.isAI = true;
             in.index = 1;
             in.master = in.sync = in.loopActive = true;
         },
         [](const HeaderFace& f) {
             EXPECT_EQ(f.title, "LOADING…");
             EXPECT_EQ(f.subLine, "FILE NOT FOUND");
             EXPECT_TRUE(f.subIsError);
             EXPECT_EQ(f.deckLabel, "DECK 2 · ZELVO-0");
             EXPECT_EQ(f.badges, (QStringList{"MASTER", "SYNC", "LOOP"}));
         }},
        {"elapsed, slow tempo, pitch down",
         [](HeaderInput& in) {
             in.showRemaining = false;
             in.position = 83.99;
             in.bpm = 90;
             in.ratio = 0.95;
             in.range = TempoRange::wide;
         },
         [](const HeaderFace& f) {
             EXPECT_EQ(f.clock, " 01:23.9");
             EXPECT_EQ(f.clockMode, "ELAPSED");
             EXPECT_EQ(f.bpm, " 85.50");
             EXPECT_EQ(f.pitch, " -5.0%");
             EXPECT_EQ(f.range, "WIDE");
         }},
        {"no grid, fader up 8 %",
         [](HeaderInput& in) {
             in.bpm = 0;
             in.ratio = 1.08;
         },
         [](const HeaderFace& f) {
             EXPECT_EQ(f.bpm, "---.--");
             EXPECT_EQ(f.pitch, " +8.0%");
         }},
        {"wide pitch", [](HeaderInput& in) { in.ratio = 1.16; },
         [](const HeaderFace& f) { EXPECT_EQ(f.pitch, "+16.0%"); }},
        {"past the end", [](HeaderInput& in) { in.position = 500; },
         [](const HeaderFace& f) { EXPECT_EQ(f.clock, "-00:00.0"); }},
        {"non-finite readings",
         [](HeaderInput& in) {
             in.position = kDeckNaN;
             in.ratio = kDeckInf;
             in.showRemaining = false;
         },
         [](const HeaderFace& f) {
             EXPECT_EQ(f.clock, " --:--.-");
             EXPECT_EQ(f.bpm, "---.--");
         }},
        {"huge time clamps", [](HeaderInput& in) { in.duration = 1e300; },
         [](const HeaderFace& f) { EXPECT_TRUE(f.clock.startsWith("-")); }},
        {"key shifts wrap",
         [](HeaderInput& in) {
             in.key = MusicalKey(0, false); // C = 8B
             in.keyShift = -1;              // B = 1B
         },
         [](const HeaderFace& f) { EXPECT_EQ(f.key, "KEY 1B -1"); }},
        {"twelve up is the same key",
         [](HeaderInput& in) {
             in.key = MusicalKey(0, false);
             in.keyShift = 12;
         },
         [](const HeaderFace& f) { EXPECT_EQ(f.key, "KEY 8B +12"); }},
        {"21 characters stand still",
         [](HeaderInput& in) { in.title = QString(21, QLatin1Char('a')); },
         [](const HeaderFace& f) { EXPECT_FALSE(f.titleScrolls); }},
        {"22 characters scroll", [](HeaderInput& in) { in.title = QString(22, QLatin1Char('a')); },
         [](const HeaderFace& f) { EXPECT_TRUE(f.titleScrolls); }},
        {"combining marks count once",
         [](HeaderInput& in) {
             QString t;
             for (int i = 0; i < 21; ++i)
                 t += QStringLiteral("e\u0301");
             in.title = t; // 42 code units, 21 characters
         },
         [](const HeaderFace& f) { EXPECT_FALSE(f.titleScrolls); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeaderInput in = base();
        c.edit(in);
        c.check(header(in));
    }
    EXPECT_EQ(timeString(83.46), "01:23.4");
    EXPECT_EQ(clampInt(1e20), std::numeric_limits<int>::max());
    EXPECT_EQ(clampInt(-1e20), std::numeric_limits<int>::min());
}

TEST(DeckPresenter, TransportLamps)
{
    struct Case {
        bool loaded, playing, cueing, atCue;
        bool cueLit, cueBlink, playLit;
    };
    for (const Case& c : std::vector<Case>{
             {false, false, false, true, false, false, false},  // empty deck
             {true, false, false, false, true, true, false},    // stopped off the cue point
             {true, false, false, true, true, false, false},    // parked on the cue
             {true, true, false, false, false, false, true},    // playing
             {true, true, true, false, true, false, true},      // cue held
         }) {
        const TransportLamps l = deckface::transport(c.loaded, c.playing, c.cueing, c.atCue);
        EXPECT_EQ(l.cueLit, c.cueLit);
        EXPECT_EQ(l.cueBlink, c.cueBlink);
        EXPECT_EQ(l.playLit, c.playLit);
    }
}

TEST(DeckPresenter, ModeRowWithAndWithoutShift)
{
    const auto labels = [](PadMode m, bool shift, DeckFlags f = {}) {
        QStringList out;
        QString lit;
        for (const ModeKey& k : modeRow(m, shift, f)) {
            out << k.label;
            lit += k.lit ? QLatin1Char('1') : QLatin1Char('0');
        }
        return out.join('|') + " " + lit;
    };
    EXPECT_EQ(labels(PadMode::hotCue, false), "Hot Cue|Pad FX|Beat Jump|ZELVO-0 1000");
    EXPECT_EQ(labels(PadMode::beatLoop, false), "Hot Cue|Pad FX|Loop|ZELVO-0 0010");
    EXPECT_EQ(labels(PadMode::key, false), "Hot Cue|Pad FX|Beat Jump|Key 0001");
    EXPECT_EQ(labels(PadMode::key, true, {true, false, true}), "slip|quantize|vinyl|key shift 1011");

    using K = ModePress::Kind;
    EXPECT_EQ(modePress(2, PadMode::beatLoop, false).mode, PadMode::beatJump);
    EXPECT_EQ(modePress(3, PadMode::key, false).mode, PadMode::ai);
    EXPECT_EQ(modePress(3, PadMode::hotCue, true).mode, PadMode::key);
    EXPECT_EQ(modePress(3, PadMode::key, true).mode, PadMode::ai);
    EXPECT_EQ(modePress(0, PadMode::padFX, true).kind, K::slip);
    EXPECT_EQ(modePress(1, PadMode::padFX, true).kind, K::quantize);
    EXPECT_EQ(modePress(2, PadMode::padFX, true).kind, K::vinyl);
}

TEST(DeckPresenter, GridTextsAndLampsPerMode)
{
    GridInput in;
    in.lit = {true, false, true, false, false, false, false, true};
    in.hotCues = {7.9, -1, 83.7, -1, -1, -1, -1, -1};
    const auto row = [](const std::array<PadFace, 8>& pads, bool sub) {
        QStringList out;
        for (const PadFace& p : pads)
            out << (sub ? p.sublabel : p.label);
        return out.join('|');
    };

    in.mode = PadMode::hotCue;
    auto pads = grid(in);
    EXPECT_EQ(row(pads, false), "A|B|C|D|E|F|G|H");
    EXPECT_EQ(row(pads, true), "0:07|—|1:23|—|—|—|—|0:00");
    EXPECT_TRUE(pads[0].lit && pads[0].releases);

    in.mode = PadMode::padFX;
    pads = grid(in);
    EXPECT_EQ(row(pads, false), "Echo|Echo|Roll|Roll|Flange|Flange|Verb|Verb");
    EXPECT_TRUE(pads[5].releases);

    in.mode = PadMode::beatJump;
    pads = grid(in);
    EXPECT_EQ(row(pads, false), "◀ 1|◀ 4|◀ 8|◀ 16|▶ 1|▶ 4|▶ 8|▶ 16");
    EXPECT_EQ(row(pads, true), "back|back|back|back|fwd|fwd|fwd|fwd");
    for (const PadFace& p : pads)
        EXPECT_FALSE(p.lit || p.releases); // jumps never light here

    in.mode = PadMode::beatLoop;
    pads = grid(in);
    EXPECT_EQ(row(pads, false), "1/4|1/2|1|2|4|8|16|32");
    EXPECT_FALSE(pads[0].releases);

    in.mode = PadMode::ai;
    pads = grid(in);
    EXPECT_EQ(pads[0].label, "Fork");
    EXPECT_EQ(pads[7].sublabel, "render");

    // Key mode and its sync target by partner rule.
    in.mode = PadMode::key;
    pads = grid(in);
    EXPECT_EQ(row(pads, false), "-3|-2|-1|K.Sync|+1|+2|+3|Lock");
    EXPECT_EQ(pads[3].sublabel, "no key yet");
    in.partnerKey = MusicalKey(9, true); // 8A
    in.partnerShift = -2;                // 6A
    EXPECT_EQ(grid(in)[3].sublabel, "to 6A");
    in.keyShift = 1;
    EXPECT_EQ(grid(in)[3].sublabel, "back to key");
    in.ownKey = MusicalKey(0, false);
    EXPECT_EQ(grid(in)[3].sublabel, "back to 8B");

    const auto active = [](int side) { return side == 0 ? 2 : 3; };
    EXPECT_EQ(partnerDeck(0, active), 1);
    EXPECT_EQ(partnerDeck(1, active), 0);
    EXPECT_EQ(partnerDeck(2, active), 3);
    EXPECT_EQ(partnerDeck(3, active), 2);
    EXPECT_EQ(cueTime(-3), "0:00");
    EXPECT_EQ(cueTime(kDeckNaN), "0:00");
}

TEST(DeckPresenter, LoopRowAndJumpSizes)
{
    EXPECT_EQ(beatLabel(4), "4");
    EXPECT_EQ(beatLabel(1.5), "1");
    EXPECT_EQ(beatLabel(0.5), "1/2");
    EXPECT_EQ(beatLabel(0.03125), "1/32");
    EXPECT_EQ(beatLabel(0), "--");
    EXPECT_EQ(beatLabel(kDeckNaN), "--");

    LoopInput in;
    in.loopSet = true;
    LoopFace f = loopRow(in);
    EXPECT_EQ(f.autoLoop.label, "4 Beat");
    EXPECT_TRUE(f.in.lit);
    EXPECT_FALSE(f.out.lit);
    EXPECT_EQ(f.jumpLegend, "jump 4");
    in.loopActive = true;
    in.shift = true;
    in.master = true;
    f = loopRow(in);
    EXPECT_FALSE(f.in.lit);
    EXPECT_EQ(f.in.label, "½×");
    EXPECT_EQ(f.out.label, "2×");
    EXPECT_EQ(f.autoLoop.label, "Reloop");
    EXPECT_TRUE(f.autoLoop.lit);
    EXPECT_EQ(f.sync.label, "Master");
    EXPECT_TRUE(f.sync.lit); // the master lamp under shift, not the channel's sync
    in.shift = false;
    EXPECT_FALSE(loopRow(in).sync.lit);
    in.beatJumpBeats = kDeckInf;
    EXPECT_EQ(loopRow(in).jumpLegend, "jump --");

    EXPECT_EQ(nextJumpSize(1, -1), 1);
    EXPECT_EQ(nextJumpSize(32, +1), 32);
    EXPECT_EQ(nextJumpSize(4, -1), 2);
    EXPECT_EQ(nextJumpSize(4, +1), 8);
    EXPECT_EQ(nextJumpSize(kDeckNaN, +1), 8);
}

TEST(DeckPresenter, JogCommandsFromSampleSequences)
{
    using K = JogCommand::Kind;
    constexpr double pi = std::numbers::pi;
    const auto at = [](double r, double a) { return QPointF(r * std::cos(a), r * std::sin(a)); };

    // Platter: 80 points out touches at once, then only scrubs.
    JogGesture platter(218, 1.8);
    auto c = platter.sample(at(80, 0), 0, true);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0], (JogCommand{K::touch, 0, true}));
    c = platter.sample(at(80, pi / 2), 0.1, true);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].kind, K::scrub);
    EXPECT_NEAR(c[0].value, 0.45, 1e-9); // a quarter turn of 1.8 s
    // Wandering onto the ring stays a platter drag.
    c = platter.sample(at(100, pi / 2 + 0.1), 0.2, true);
    EXPECT_EQ(c[0].kind, K::scrub);
    EXPECT_EQ(platter.end(true), (std::vector<JogCommand>{{K::touch, 0, false}}));

    // Ring: 95 points out never touches; bends, with the dt floor and the clamp.
    JogGesture ring(218, 1.8);
    EXPECT_TRUE(ring.sample(at(95, 0), 1.0, true).empty());
    c = ring.sample(at(95, 0.001), 1.0, true); // same instant: as if 1/240 s passed
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].kind, K::bend);
    EXPECT_NEAR(c[0].value, 0.001 * 240 * 0.02, 1e-9);
    c = ring.sample(at(95, 1.0), 1.001, true);
    EXPECT_EQ(c[0].value, 0.5);
    c = ring.sample(at(95, 0.0), 1.002, true);
    EXPECT_EQ(c[0].value, -0.5);
    EXPECT_TRUE(ring.end(true).empty());

    // Crossing nine o'clock is a small step, not nearly a turn.
    JogGesture cross(218, 1.8);
    cross.sample(at(50, pi - 0.05), 0, true);
    c = cross.sample(at(50, -pi + 0.05), 0.01, true);
    EXPECT_NEAR(c[0].value, 0.1 / (2 * pi) * 1.8, 1e-9);
    c = cross.sample(at(50, pi - 0.05), 0.02, true);
    EXPECT_NEAR(c[0].value, -0.1 / (2 * pi) * 1.8, 1e-9);

    // Without a voice nothing is sent.
    JogGesture none(218, 1.8);
    EXPECT_TRUE(none.sample(at(50, 0), 0, false).empty());
    EXPECT_TRUE(none.sample(at(50, 1), 0.1, false).empty());
    EXPECT_TRUE(none.end(false).empty());

    // Drawing helpers.
    EXPECT_EQ(progressStrokes(0, 10), 0);
    EXPECT_EQ(progressStrokes(10, 10), 60);
    EXPECT_EQ(progressStrokes(5, 0), 0);
    EXPECT_EQ(jogCaption(true, false, true), "CDJ");
    EXPECT_EQ(jogCaption(true, true, true), "VINYL");
    EXPECT_EQ(jogCaption(false, false, false), "SEARCH");
    const JogGeometry g = jogGeometry(218);
    EXPECT_EQ(g.Rp, 93);
    EXPECT_EQ(g.Rl, 46.5);
}

TEST(DeckPresenter, RefusedJogCommandsAreCarriedAndRetried)
{
    using K = JogCommand::Kind;
    std::vector<JogCommand> taken;
    int room = 0; // commands the ring still takes
    const JogSender::Send send = [&](const JogCommand& c) {
        if (room <= 0)
            return false;
        --room;
        taken.push_back(c);
        return true;
    };
    JogSender sender;
    room = 2;
    sender.deliver({{K::touch, 0, true}, {K::scrub, 0.1, false}}, send);
    // The ring is full: two scrubs and the release are refused.
    EXPECT_TRUE(sender.deliver({{K::scrub, 0.2, false}, {K::scrub, 0.3, false}, {K::touch, 0, false}}, send));
    EXPECT_NEAR(sender.carriedScrub(), 0.5, 1e-12);
    EXPECT_TRUE(sender.releaseWaiting());
    // A bend never jumps the queue.
    sender.deliver({{K::bend, 0.1, false}}, send);
    EXPECT_EQ(taken.size(), 2u);
    // Room for one: the carried scrub goes first, the release still waits.
    room = 1;
    EXPECT_TRUE(sender.flush(send));
    room = 5;
    EXPECT_FALSE(sender.flush(send));
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_EQ(taken[2].kind, K::scrub);
    EXPECT_NEAR(taken[2].value, 0.5, 1e-12); // the distance stays exact
    EXPECT_EQ(taken[3], (JogCommand{K::touch, 0, false}));

    // A new touch while a release waits: the voice was never let go.
    room = 0;
    sender.deliver({{K::touch, 0, false}}, send);
    EXPECT_TRUE(sender.releaseWaiting());
    sender.deliver({{K::touch, 0, true}}, send);
    EXPECT_FALSE(sender.waiting());
}

} // namespace
} // namespace zelvo
