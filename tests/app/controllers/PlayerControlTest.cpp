// The CDJ player side of the controller model on the real decks and mixer:
// routing and its memory, the player events and the 33 buttons.
#include "ControllerRigSupport.h"

#include "audio/DeckVoice.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cmath>

namespace zelvo {
namespace {

using test::ControllerRig;
using B = CDJButton::Kind;
using Decks = std::map<std::int64_t, int>;

constexpr std::int64_t kPortA = 0x14200000;
constexpr std::int64_t kPortB = 0x14300000;
constexpr std::int64_t kC = 0x14400000;

MIDIHub::Player cdj(std::int64_t port, PlayerModel model = PlayerModel::cdj3000x)
{
    return {model, std::string(PlayerModels::model(model)), port};
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) { qputenv(name, value); }
    ~ScopedEnv() { qunsetenv(name_); }

private:
    const char* name_;
};

// A controller rig with players A (deck 1) and B (deck 2) connected and a
// drum track loaded on both decks.
struct PlayerRig : ControllerRig {
    PlayerRig()
    {
        model->updatePlayers({cdj(kPortA), cdj(kPortB, PlayerModel::cdj3000)});
        track = models.drumTrack(QStringLiteral("drums"), 20.0);
        models.load(0, track);
        models.load(1, track);
        run(0.05);
    }
    // Delivers one event of a player, stamped `at` (default: the clock's uptime).
    void send(std::int64_t port, CDJEvent event, std::optional<double> at = std::nullopt)
    {
        model->handle({MIDIHub::PlayerEvent{port, event, at.value_or(models.clock.uptime())}});
    }
    void button(std::int64_t port, CDJButton::Kind kind, bool down = true, double amount = 0)
    {
        send(port, CDJ::Button{CDJButton::of(kind, amount), down});
    }
    // Presses and releases.
    void tap(std::int64_t port, CDJButton::Kind kind, double amount = 0)
    {
        button(port, kind, true, amount);
        button(port, kind, false, amount);
    }
    void seek(int deck, double seconds)
    {
        models.deck(deck).voice()->send(DeckCommand::seek(seconds));
        run(0.06);
    }
    double position(int deck) { return models.state(deck).position.load(); }

    TrackRecord track;
};

TEST(PlayerControl, PlayersGetRememberedDecksTheirRigAndLogLines)
{
    ControllerRig rig;
    ControllerModel& m = *rig.model;
    m.updatePlayers({cdj(kPortA), cdj(kPortB, PlayerModel::cdj3000)});
    EXPECT_EQ(m.playerDecks(), (Decks{{kPortA, 0}, {kPortB, 1}}));
    EXPECT_EQ(ControllerModel::savedPlayerDecks(rig.models.defaults), m.playerDecks());
    EXPECT_EQ(rig.log.lines.last(),
              QStringLiteral("players: CDJ-3000X port 14200000 → deck 1, CDJ-3000 port 14300000 → deck 2"));
    EXPECT_EQ(m.lastSeen(), ControllerKind::flx4);
    EXPECT_TRUE(m.playerTimerRuns());
    using Rig = std::vector<AudioSystem::RigPlayer>;
    EXPECT_EQ(rig.host.rig, (Rig{{kPortA, 0, PlayerModel::cdj3000x}, {kPortB, 1, PlayerModel::cdj3000}}));

    // Swapping exchanges the first two players' decks, remembers and re-routes
    // them, and logs nothing.
    const qsizetype lines = rig.log.lines.size();
    m.swapPlayers();
    EXPECT_EQ(m.playerDecks(), (Decks{{kPortA, 1}, {kPortB, 0}}));
    EXPECT_EQ(ControllerModel::savedPlayerDecks(rig.models.defaults), m.playerDecks());
    EXPECT_EQ(rig.host.rig, (Rig{{kPortA, 1, PlayerModel::cdj3000x}, {kPortB, 0, PlayerModel::cdj3000}}));
    EXPECT_EQ(rig.log.lines.size(), lines);

    // A third player takes the free deck and makes the layout four decks.
    m.updatePlayers({cdj(kPortA), cdj(kPortB, PlayerModel::cdj3000), cdj(kC)});
    EXPECT_EQ(m.playerDecks(), (Decks{{kPortA, 1}, {kPortB, 0}, {kC, 2}}));
    EXPECT_EQ(m.lastSeen(), ControllerKind::flx10);

    // All gone: the timer stops, the saved decks stay, the kind stays.
    m.updatePlayers({});
    EXPECT_EQ(rig.log.lines.last(), QStringLiteral("players: none"));
    EXPECT_FALSE(m.playerTimerRuns());
    EXPECT_TRUE(m.playerDecks().empty());
    EXPECT_TRUE(rig.host.rig.empty());
    EXPECT_EQ(m.lastSeen(), ControllerKind::flx10);
    EXPECT_EQ(ControllerModel::savedPlayerDecks(rig.models.defaults), (Decks{{kPortA, 1}, {kPortB, 0}, {kC, 2}}));

    // Back in another order, and in a new model as after a relaunch: each
    // player finds its deck again and the timer starts anew.
    ControllerModel relaunched(rig.models.defaults, rig.models.clock, {}, &rig.log);
    relaunched.setHost(&rig.host);
    relaunched.updatePlayers({cdj(kC), cdj(kPortA)});
    EXPECT_EQ(relaunched.playerDecks(), (Decks{{kC, 2}, {kPortA, 1}}));
    EXPECT_TRUE(relaunched.playerTimerRuns());
    EXPECT_EQ(relaunched.lastSeen(), ControllerKind::flx4);
    // Swapping needs both of the first two players to have a deck; one alone does nothing.
    relaunched.updatePlayers({cdj(kPortA)});
    relaunched.swapPlayers();
    EXPECT_EQ(relaunched.playerDecks(), (Decks{{kPortA, 1}}));

    // Five new players: the fifth gets no deck, and its events are dropped
    // before the log and before they count as hands on.
    rig.models.defaults.remove(QStringLiteral("players.decks"));
    m.updatePlayers({cdj(1), cdj(2), cdj(3), cdj(4), cdj(0x1f)});
    EXPECT_EQ(m.playerDecks(), (Decks{{1, 0}, {2, 1}, {3, 2}, {4, 3}}));
    EXPECT_TRUE(rig.log.lines.last().endsWith(QStringLiteral("CDJ-3000X port 4 → deck 4, CDJ-3000X port 1f → deck 0")))
        << rig.log.lines.last().toStdString();
    EXPECT_EQ(rig.host.rig.size(), 4u);
    {
        ScopedEnv logging("KAVRI_PLAYER_LOG", "");
        const qsizetype before = rig.log.lines.size();
        const int hands = rig.hands;
        const auto touched = m.touchedAt();
        m.handle({MIDIHub::PlayerEvent{0x1f, CDJ::Button{CDJButton::of(B::play), true}, 1.0}});
        EXPECT_EQ(rig.log.lines.size(), before);
        EXPECT_EQ(rig.hands, hands);
        EXPECT_EQ(m.touchedAt(), touched);
        // A routed player logs each event, with its case and payload.
        m.handle({MIDIHub::PlayerEvent{4, CDJ::Tempo{0.5}, 1.0},
                  MIDIHub::PlayerEvent{2, CDJ::Button{CDJButton::of(B::hotCue, 3), false}, 1.0},
                  MIDIHub::PlayerEvent{1, CDJ::Needle{}, 1.0}});
        EXPECT_EQ(rig.log.lines.mid(before),
                  (QStringList{QStringLiteral("player 4 deck 4: tempo(0.5)"),
                               QStringLiteral("player 2 deck 2: button(hotCue(3), up)"),
                               QStringLiteral("player 1 deck 1: needle(none)")}));
        EXPECT_EQ(rig.hands, hands + 3);
    }
    const qsizetype before = rig.log.lines.size();
    m.handle({MIDIHub::PlayerEvent{4, CDJ::Tempo{0.5}, 1.0}});
    EXPECT_EQ(rig.log.lines.size(), before) << "no player log without the variable";
}

TEST(PlayerControl, StoredDeckMapsAreReadStrictly)
{
    struct Row {
        const char* stored; // JSON text of the stored value; null: nothing stored
        Decks expected;
    };
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    const Row rows[] = {
        {nullptr, {}},
        {R"([1, 2])", {}},
        {R"("7")", {}},
        {R"({"7": 1.5, "8": 1})", {}},
        {R"({"7": "1"})", {}},
        {R"({"7": true})", {}},
        {R"({"7": 1, "+7": 2})", {{7, 1}}},           // the canonical key wins over one sorted first
        {R"({"+7": 2, "07": 3})", {{7, 2}}},          // else the first in sorted order
        {R"({"-3": 0, "x1": 1, "": 2, "+": 3, "1 ": 0, " 1": 0, "0x10": 1, "1e3": 1, "-": 2})", {{-3, 0}}},
        {R"({"9223372036854775807": 2, "-9223372036854775808": 3, "9223372036854775808": 1,
             "-9223372036854775809": 1, "99999999999999999999": 0})",
         {{max, 2}, {min, 3}}},
        {R"({"5": 9, "6": -1})", {{5, 9}, {6, -1}}}, // kept; the assignment ignores them
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored ? row.stored : "none");
        test::TempHome home;
        UserDefaults defaults(home.file(QStringLiteral("defaults.json")));
        if (row.stored) {
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray("{\"v\": ") + row.stored + "}");
            ASSERT_TRUE(doc.isObject());
            defaults.setJson(QStringLiteral("players.decks"), doc.object().value(QStringLiteral("v")));
        }
        EXPECT_EQ(ControllerModel::savedPlayerDecks(defaults), row.expected);
    }

    // An unreadable map counts as empty and is replaced at the next change;
    // written keys are canonical decimal text.
    ControllerRig rig;
    rig.models.defaults.setJson(QStringLiteral("players.decks"), QJsonValue(QStringLiteral("garbage")));
    rig.model->updatePlayers({cdj(kPortB), cdj(-5)});
    EXPECT_EQ(rig.model->playerDecks(), (Decks{{kPortB, 0}, {-5, 1}}));
    const QJsonObject written = rig.models.defaults.json(QStringLiteral("players.decks"))->toObject();
    EXPECT_EQ(written.keys(), (QStringList{QStringLiteral("-5"), QString::number(kPortB)}));
    EXPECT_TRUE(rig.log.lines.last().endsWith(QStringLiteral("port -5 → deck 2")));
}

TEST(PlayerControl, PlatterAndJogScrubBySizedStepsAndBendWhilePlaying)
{
    PlayerRig rig;
    DeckModel& deck = rig.models.deck(0);
    rig.seek(0, 5.0);
    const double t0 = rig.models.clock.uptime();
    struct Step {
        CDJEvent event;
        double at; // seconds after t0
        double moved;
    };
    // Scrubs on a paused deck: the first message of a kind counts 0.01 s, later
    // ones the time since the previous one of the same player and kind, capped at
    // 0.05 s and never negative; the side scrubs at half the speed.
    const Step steps[] = {
        {CDJ::Platter{2.0}, 0.0, 0.02},
        {CDJ::Platter{2.0}, 0.2, 0.1},
        {CDJ::Platter{2.0}, 0.1, 0.0},
        {CDJ::Platter{-1.0}, 0.12, -0.02},
        {CDJ::JogSide{-1.0}, 0.13, -0.005},
        {CDJ::JogSide{-2.0}, 0.15, -0.02},
        // A touch (not sent outside vinyl mode) restarts both timings.
        {CDJ::JogTouch{true}, 0.16, 0.0},
        {CDJ::Platter{2.0}, 0.2, 0.02},
        {CDJ::JogSide{2.0}, 0.3, 0.01},
        {CDJ::JogTouch{false}, 0.3, 0.0},
        {CDJ::Platter{2.0}, 0.5, 0.02},
    };
    deck.setVinyl(false);
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const double before = rig.position(0);
        rig.send(kPortA, steps[i].event, t0 + steps[i].at);
        rig.run(0.02);
        EXPECT_NEAR(rig.position(0) - before, steps[i].moved, 1e-4);
    }
    // The other player's timing is its own: its first message counts 0.01 s.
    const double other = rig.position(1);
    rig.send(kPortB, CDJ::Platter{2.0}, t0 + 0.52);
    rig.run(0.02);
    EXPECT_NEAR(rig.position(1) - other, 0.02, 1e-4);

    // Playing outside vinyl mode: platter and side bend by speed × 0.04 (the
    // voice eases a bend off by itself), and the timer ends the bend between
    // 0.12 and 0.15 s after the last one.
    const DeckState& state = rig.models.state(0);
    deck.playPause();
    rig.run(0.1);
    for (const CDJEvent& event : {CDJEvent{CDJ::Platter{4.0}}, CDJEvent{CDJ::JogSide{-4.0}}}) {
        const bool up = std::holds_alternative<CDJ::Platter>(event);
        rig.send(kPortA, event);
        rig.models.render(64);
        EXPECT_NEAR(state.speed.load(), up ? 1.16 : 0.84, 0.03);
        rig.run(0.1);
        EXPECT_TRUE(rig.model->bending()[0]) << "still within 0.12 s";
        rig.run(0.06);
        EXPECT_FALSE(rig.model->bending()[0]) << "released";
        EXPECT_NEAR(state.speed.load(), 1.0, 1e-9);
    }
    // The bend does not touch the other decks.
    EXPECT_FALSE(rig.model->bending()[1]);

    // Vinyl mode: a touch is sent and held, and the platter then scrubs even
    // while playing, so no bend lingers after the release.
    deck.setVinyl(true);
    rig.send(kPortA, CDJ::JogTouch{true});
    EXPECT_TRUE(rig.model->jogHeld()[0]);
    rig.run(0.1);
    EXPECT_TRUE(deck.live().jogTouched);
    rig.send(kPortA, CDJ::Platter{4.0});
    EXPECT_FALSE(rig.model->bending()[0]);
    rig.send(kPortA, CDJ::JogTouch{false});
    EXPECT_FALSE(rig.model->jogHeld()[0]);
    rig.run(0.06);
    EXPECT_FALSE(deck.live().jogTouched);
}

TEST(PlayerControl, TempoNeedleBrowseAndHeldSearch)
{
    PlayerRig rig;
    ControllerModel& m = *rig.model;
    DeckModel& deck = rig.models.deck(1);

    // The tempo fader, with its centre detent, and its card showing the raw travel.
    struct Tempo {
        double v;
        double fader;
        const char* text;
    };
    for (const Tempo& t : {Tempo{0.01, 0.0, "+0.00%"}, Tempo{0.5, 0.5, "+5.00%"}, Tempo{-1.0, -1.0, "-10.00%"},
                           Tempo{-0.0119, 0.0, "+0.00%"}}) {
        SCOPED_TRACE(t.v);
        rig.models.clock.advance(0.01);
        rig.send(kPortB, CDJ::Tempo{t.v});
        EXPECT_EQ(deck.tempoFader(), t.fader);
        const double now = rig.models.clock.uptime();
        EXPECT_EQ(m.echo(), (ControllerModel::Echo{QStringLiteral("tempo1"), 1, QStringLiteral("deck 2 tempo"),
                                                   QString::fromUtf8(t.text), (t.v + 1) * 0.5, true, now}));
        EXPECT_EQ(m.touchedAt()[1], now);
    }

    // The needle seeks a paused deck only.
    rig.send(kPortB, CDJ::Needle{0.5});
    rig.run(0.02);
    EXPECT_NEAR(rig.position(1), 10.0, 1e-3);
    rig.send(kPortB, CDJ::Needle{});
    rig.run(0.02);
    EXPECT_NEAR(rig.position(1), 10.0, 1e-3);
    deck.playPause();
    rig.run(0.06);
    const double playing = rig.position(1);
    rig.send(kPortB, CDJ::Needle{0.1});
    rig.run(0.02);
    EXPECT_GT(rig.position(1), playing);
    deck.playPause();
    rig.run(0.06);

    // Browse steps the browser's selection and starts digging.
    const QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), c = QUuid::createUuid();
    rig.host.tracks = {a, b, c};
    rig.send(kPortA, CDJ::Browse{1});
    EXPECT_EQ(rig.host.selected, a);
    rig.send(kPortA, CDJ::Browse{5});
    EXPECT_EQ(rig.host.selected, c);
    EXPECT_EQ(m.browsedAt(), rig.models.clock.uptime());
    EXPECT_TRUE(m.digging());

    // A held search seeks 4 s of track per second, stops at 0 backwards, and
    // ends with its release.
    rig.seek(0, 0.2);
    rig.button(kPortA, B::search, true, -1);
    rig.run(0.2);
    EXPECT_EQ(rig.position(0), 0.0);
    rig.button(kPortA, B::search, false, -1);
    rig.button(kPortA, B::search, true, 1);
    rig.run(0.5);
    EXPECT_NEAR(rig.position(0), 2.0, 4.0 / 30.0 + 1e-6);
    rig.button(kPortA, B::search, false, 1);
    rig.run(0.05);
    const double released = rig.position(0);
    rig.run(0.2);
    EXPECT_EQ(rig.position(0), released);

    // A player unplugged while holding search leaves no deck seeking; the
    // other player's held search goes on.
    rig.button(kPortA, B::search, true, 1);
    rig.button(kPortB, B::search, true, 1);
    rig.run(0.1);
    m.updatePlayers({cdj(kPortB, PlayerModel::cdj3000)});
    EXPECT_EQ(m.searching(), (std::array<int, 4>{0, 1, 0, 0}));
    rig.run(0.05);
    const double stopped = rig.position(0);
    const double moving = rig.position(1);
    rig.run(0.3);
    EXPECT_EQ(rig.position(0), stopped);
    EXPECT_GT(rig.position(1), moving + 1.0);
}

// What a button may change, for comparing before and after.
struct Observed {
    std::vector<std::tuple<double, int, int, bool, bool, bool, bool, bool, double, double, bool>> decks;
    std::vector<std::string> calls;
    std::optional<ControllerModel::Echo> echo;
    bool browseOpen;
    ControllerHost::BrowserSort sort;
    std::optional<QUuid> selected;
    int masterRequest;
    double browsedAt;
    bool operator==(const Observed&) const = default;
};

Observed observe(PlayerRig& rig)
{
    Observed o;
    for (int d = 0; d < 2; ++d) {
        const DeckModel& k = rig.models.deck(d);
        o.decks.emplace_back(k.tempoFader(), int(k.tempoRange()), k.keyShift(), k.keyLock(), k.vinyl(), k.reverse(),
                             k.quantize(), k.slip(), k.beatJumpBeats(), k.autoLoopBeats(),
                             rig.models.mixer.channel(d).sync());
    }
    o.calls = rig.host.calls;
    o.echo = rig.model->echo();
    o.browseOpen = rig.host.open;
    o.sort = rig.host.sort;
    o.selected = rig.host.selected;
    o.masterRequest = rig.models.params().masterRequest.load();
    o.browsedAt = rig.model->browsedAt();
    return o;
}

TEST(PlayerControl, PressOnlyButtonsActAndShowTheirCardsAndTheirReleasesDoNothing)
{
    PlayerRig rig;
    const TrackRecord other = rig.models.drumTrack(QStringLiteral("other"), 10.0);
    using Sort = ControllerHost::BrowserSort;
    struct Card {
        const char* id;
        std::optional<int> deck;
        const char* title;
        const char* value;
    };
    struct Row {
        const char* name;
        std::int64_t port;
        B button;
        double amount;
        std::function<void()> before;
        std::vector<std::string> calls;
        std::optional<Card> card;
        std::function<void()> check;
    };
    DeckModel& d1 = rig.models.deck(0);
    DeckModel& d2 = rig.models.deck(1);
    ChannelModel& ch1 = rig.models.mixer.channel(0);
    const Row rows[] = {
        {"tempo reset", kPortA, B::tempoReset, 0, [&] { d1.setTempoFader(0.5); }, {},
         Card{"tempo0", 0, "deck 1 tempo", "reset"}, [&] { EXPECT_EQ(d1.tempoFader(), 0.0); }},
        {"tempo range", kPortB, B::tempoRange, 0, [&] { d2.setTempoRange(TempoRange::sixteen); }, {},
         Card{"range1", 1, "tempo range", "wide"}, [&] { EXPECT_EQ(d2.tempoRange(), TempoRange::wide); }},
        {"tempo range wraps", kPortB, B::tempoRange, 0, {}, {}, Card{"range1", 1, "tempo range", "±6"}, {}},
        {"master tempo", kPortA, B::masterTempo, 0, [&] { d1.setKeyLock(false); }, {},
         Card{"key0", 0, "master tempo", "on"}, [&] { EXPECT_TRUE(d1.keyLock()); }},
        {"key sync", kPortA, B::keySync, 0, [&] { rig.host.keySyncShift = -3; }, {"keySync 0"},
         Card{"key0", 0, "key sync", "-3"}, {}},
        {"key sync to none", kPortA, B::keySync, 0, [&] { rig.host.keySyncShift = 0; }, {"keySync 0"},
         Card{"key0", 0, "key sync", "off"}, {}},
        {"key up at the top", kPortA, B::keyShift, 1, [&] { d1.setKeyShift(12); }, {}, Card{"key0", 0, "key", "+12"},
         [&] { EXPECT_EQ(d1.keyShift(), 12); }},
        {"key down to none", kPortA, B::keyShift, -1, [&] { d1.setKeyShift(1); }, {}, Card{"key0", 0, "key", "0"}, {}},
        {"key down at the bottom", kPortA, B::keyShift, -1, [&] { d1.setKeyShift(-12); }, {},
         Card{"key0", 0, "key", "-12"}, {}},
        {"key reset", kPortA, B::keyReset, 0, [&] { d1.setKeyShift(5); }, {}, Card{"key0", 0, "key", "reset"},
         [&] { EXPECT_EQ(d1.keyShift(), 0); }},
        {"sync", kPortA, B::sync, 0, [&] { ch1.setSync(false); }, {}, Card{"sync0", 0, "sync", "on"},
         [&] { EXPECT_TRUE(ch1.sync()); }},
        {"master", kPortB, B::master, 0, [&] { rig.models.params().masterRequest.store(-1); }, {},
         Card{"sync1", 1, "sync", "master"}, [&] { EXPECT_EQ(rig.models.params().masterRequest.load(), 1); }},
        {"jog mode", kPortA, B::jogMode, 0, [&] { d1.setVinyl(true); }, {}, Card{"jog0", 0, "jog mode", "cdj"},
         [&] { EXPECT_FALSE(d1.vinyl()); }},
        {"reverse", kPortA, B::reverse, 0, [&] { d1.setReverse(false); }, {}, {}, [&] { EXPECT_TRUE(d1.reverse()); }},
        {"quantize", kPortA, B::quantize, 0, [&] { d1.setQuantize(false); }, {}, {}, [&] { EXPECT_TRUE(d1.quantize()); }},
        {"slip", kPortA, B::slip, 0, [&] { d1.setSlip(true); }, {}, {}, [&] { EXPECT_FALSE(d1.slip()); }},
        {"take forward on the model's deck", kPortB, B::callNext, 0, {}, {"stepTake 1"}, Card{"take", 1, "take", "next"},
         {}},
        {"take back on the model's deck", kPortB, B::callPrevious, 0, {}, {"stepTake -1"},
         Card{"take", 1, "take", "previous"}, {}},
        {"model key", kPortA, B::cueLoopMemory, 0, {}, {"aiPrimary"}, Card{"ai", 0, "zelvo-0", "fork"}, {}},
        {"model key, second", kPortA, B::cueLoopDelete, 0, {}, {"aiSecondary"}, Card{"ai", 0, "zelvo-0", "re-roll"}, {}},
        {"model key, second while rendering", kPortB, B::cueLoopDelete, 0, [&] { rig.host.busy = true; },
         {"aiSecondary"}, Card{"ai", 1, "zelvo-0", "cancel"}, [&] { rig.host.busy = false; }},
        {"tour forward", kPortA, B::cueLoopMemory, 0, [&] { rig.host.tour = ControllerHost::TourStep::other; },
         {"tourNext"}, {}, {}},
        {"tour back", kPortA, B::cueLoopDelete, 0, {}, {"tourBack"}, {},
         [&] { rig.host.tour = ControllerHost::TourStep::none; }},
        {"load", kPortB, B::browsePress, 0, [&] { rig.host.selected = other.id; }, {"load 1 track"},
         Card{"load1", 1, "loaded on deck 2", "other"}, [&] { EXPECT_EQ(rig.model->browsedAt(), 0.0); }},
        {"load nothing", kPortB, B::browsePress, 0, [&] { rig.host.selected.reset(); }, {"load 1 none"}, {}, {}},
        {"queue", kPortA, B::tagTrack, 0, [&] { rig.host.selected = other.id; },
         {"enqueue " + other.id.toString().toStdString()}, Card{"queue", std::nullopt, "queue", "added"}, {}},
        {"queue nothing", kPortA, B::tagTrack, 0, [&] { rig.host.selected.reset(); }, {}, {}, {}},
        {"browser", kPortA, B::back, 0, [&] { rig.host.open = false; }, {}, {}, [&] { EXPECT_TRUE(rig.host.open); }},
        {"sort", kPortA, B::trackFilter, 0, [&] { rig.host.sort = Sort::added; }, {},
         Card{"sort", std::nullopt, "order", "a–z"}, [&] { EXPECT_EQ(rig.host.sort, Sort::title); }},
        {"sort wraps", kPortA, B::trackFilter, 0, [&] { rig.host.sort = Sort::harmony; }, {},
         Card{"sort", std::nullopt, "order", "added"}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.before)
            row.before();
        rig.models.clock.advance(0.01);
        rig.host.calls.clear();
        const std::optional<ControllerModel::Echo> echoBefore = rig.model->echo();
        const auto touchedBefore = rig.model->touchedAt();
        rig.button(row.port, row.button, true, row.amount);
        EXPECT_EQ(rig.host.calls, row.calls);
        const double now = rig.models.clock.uptime();
        if (row.card) {
            ASSERT_TRUE(rig.model->echo());
            EXPECT_EQ(*rig.model->echo(),
                      (ControllerModel::Echo{QString::fromUtf8(row.card->id), row.card->deck,
                                             QString::fromUtf8(row.card->title), QString::fromUtf8(row.card->value),
                                             std::nullopt, false, now}));
        } else {
            EXPECT_EQ(rig.model->echo(), echoBefore);
        }
        // Every player press touches its deck; only cards with no deck leave
        // the other decks' stamps alone.
        const int deck = row.port == kPortA ? 0 : 1;
        EXPECT_EQ(rig.model->touchedAt()[std::size_t(deck)], now);
        EXPECT_EQ(rig.model->touchedAt()[std::size_t(1 - deck)], touchedBefore[std::size_t(1 - deck)]);
        if (row.check)
            row.check();
        rig.run(0.02);
        const Observed pressed = observe(rig);
        rig.button(row.port, row.button, false, row.amount);
        rig.run(0.02);
        EXPECT_EQ(observe(rig), pressed) << "the release does nothing";
    }

    // Nine sort presses come back to where they began.
    rig.host.sort = Sort::bpm;
    for (int i = 0; i < 9; ++i)
        rig.tap(kPortA, B::trackFilter);
    EXPECT_EQ(rig.host.sort, Sort::bpm);
}

TEST(PlayerControl, TransportLoopJumpAndTrackSearchKeys)
{
    PlayerRig rig;
    DeckModel& deck = rig.models.deck(0);
    const DeckState& state = rig.models.state(0);

    // Play toggles on the press; cue and slip reverse act on both edges.
    rig.tap(kPortA, B::play);
    rig.run(0.05);
    EXPECT_TRUE(state.playing.load());
    rig.tap(kPortA, B::play);
    rig.run(0.05);
    EXPECT_FALSE(state.playing.load());
    rig.seek(0, 0.0);
    rig.button(kPortA, B::cue, true);
    rig.run(0.05);
    EXPECT_TRUE(state.playing.load()) << "held at the cue point: previews";
    rig.button(kPortA, B::cue, false);
    rig.run(0.05);
    EXPECT_FALSE(state.playing.load());
    rig.button(kPortA, B::slipReverse, true);
    EXPECT_TRUE(deck.reverse());
    rig.button(kPortA, B::slipReverse, false);
    EXPECT_FALSE(deck.reverse());

    // Beat jumps: 120 bpm, a beat is 0.5 s.
    rig.seek(0, 10.0);
    rig.button(kPortA, B::beatJumpBy, true, -16);
    rig.run(0.06);
    EXPECT_EQ(deck.beatJumpBeats(), 16.0);
    EXPECT_NEAR(rig.position(0), 2.0, 1e-3);
    rig.button(kPortA, B::beatJump, true, 1);
    rig.run(0.06);
    EXPECT_NEAR(rig.position(0), 10.0, 1e-3);
    rig.button(kPortA, B::beatJumpBy, true, 0.5);
    rig.run(0.06);
    EXPECT_EQ(deck.beatJumpBeats(), 0.5);
    EXPECT_NEAR(rig.position(0), 10.25, 1e-3);

    // Beat loops: the same size again leaves the loop, another size starts one.
    rig.seek(0, 4.0);
    rig.button(kPortA, B::beatLoop, true, 4);
    rig.run(0.06);
    ASSERT_TRUE(deck.live().loopActive);
    EXPECT_NEAR(state.loopEnd.load() - state.loopStart.load(), 2.0, 1e-3);
    rig.button(kPortA, B::beatLoop, true, 8);
    rig.run(0.06);
    ASSERT_TRUE(deck.live().loopActive);
    EXPECT_EQ(deck.autoLoopBeats(), 8.0);
    EXPECT_NEAR(state.loopEnd.load() - state.loopStart.load(), 4.0, 1e-3);
    rig.button(kPortA, B::beatLoop, true, 8);
    rig.run(0.06);
    EXPECT_FALSE(deck.live().loopActive);
    // Loop in, out and exit go to the voice.
    rig.seek(0, 6.0);
    rig.tap(kPortA, B::loopIn);
    rig.seek(0, 7.0);
    rig.tap(kPortA, B::loopOut);
    rig.run(0.06);
    EXPECT_TRUE(deck.live().loopActive);
    EXPECT_NEAR(state.loopStart.load(), 6.0, 1e-3);
    rig.tap(kPortA, B::reloopExit);
    rig.run(0.06);
    EXPECT_FALSE(deck.live().loopActive);

    // Track search forward loads the next browser track; on the last one, and
    // always backwards, it restarts the track.
    const TrackRecord second = rig.models.drumTrack(QStringLiteral("second"), 10.0);
    const TrackRecord third = rig.models.drumTrack(QStringLiteral("third"), 10.0);
    rig.host.tracks = {rig.track.id, second.id, third.id};
    rig.host.calls.clear();
    rig.seek(0, 3.0);
    rig.tap(kPortA, B::trackSearch, 1);
    EXPECT_EQ(rig.host.selected, second.id);
    EXPECT_EQ(rig.host.calls, (std::vector<std::string>{"load 0 track"}));
    rig.run(0.06);
    EXPECT_NEAR(rig.position(0), 3.0, 1e-3);
    rig.tap(kPortA, B::trackSearch, -1);
    rig.run(0.06);
    EXPECT_EQ(rig.position(0), 0.0);
    rig.models.load(0, third);
    rig.seek(0, 3.0);
    rig.host.calls.clear();
    rig.tap(kPortA, B::trackSearch, 1);
    rig.run(0.06);
    EXPECT_TRUE(rig.host.calls.empty());
    EXPECT_EQ(rig.position(0), 0.0);
    EXPECT_EQ(rig.host.selected, second.id);

    // Call next and previous step between hot cues on a deck other than the model's.
    rig.host.calls.clear();
    for (const double cue : {2.0, 6.0}) {
        rig.seek(0, cue);
        rig.tap(kPortA, B::hotCue, cue == 2.0 ? 0 : 1);
    }
    rig.seek(0, 4.0);
    rig.tap(kPortA, B::callNext);
    rig.run(0.06);
    EXPECT_NEAR(rig.position(0), 6.0, 1e-3);
    rig.tap(kPortA, B::callPrevious);
    rig.run(0.06);
    EXPECT_NEAR(rig.position(0), 2.0, 1e-3);
    EXPECT_TRUE(rig.host.calls.empty()) << "no take steps from deck 1";
}

TEST(PlayerControl, TheDeleteKeyErasesHotCuesOfItsOwnPlayerOnly)
{
    PlayerRig rig;
    // Hot cue 4 (index 3) at 4 s on both decks.
    for (const auto& [port, deck] : {std::pair{kPortA, 0}, std::pair{kPortB, 1}}) {
        rig.seek(deck, 4.0);
        rig.tap(port, B::hotCue, 3);
        rig.run(0.06);
        ASSERT_NEAR(rig.models.deck(deck).live().hotCues[3], 4.0, 1e-3);
        rig.seek(deck, 10.0);
    }

    rig.button(kPortA, B::hotCueCallDelete, true);
    rig.models.clock.advance(0.01);
    rig.button(kPortA, B::hotCue, true, 3);
    EXPECT_EQ(rig.model->echo(), (ControllerModel::Echo{QStringLiteral("cue0"), 0, QStringLiteral("hot cue D"),
                                                        QStringLiteral("deleted"), std::nullopt, false,
                                                        rig.models.clock.uptime()}));
    rig.run(0.06);
    EXPECT_LT(rig.models.deck(0).live().hotCues[3], 0.0);
    EXPECT_FALSE(rig.models.state(0).playing.load());

    // The other player still calls its cue: held, it plays from the cue.
    rig.button(kPortB, B::hotCue, true, 3);
    rig.run(0.05);
    const DeckState& two = rig.models.state(1);
    EXPECT_TRUE(two.playing.load());
    // While B holds its delete key the release is not sent: the deck plays on.
    rig.button(kPortB, B::hotCueCallDelete, true);
    rig.button(kPortB, B::hotCue, false, 3);
    rig.run(0.05);
    EXPECT_TRUE(two.playing.load());
    // Delete let go first, then the hot-cue key: the release returns to the cue.
    rig.button(kPortB, B::hotCueCallDelete, false);
    rig.button(kPortB, B::hotCue, false, 3);
    rig.run(0.06);
    EXPECT_FALSE(two.playing.load());
    EXPECT_NEAR(rig.position(1), 4.0, 1e-3);
    EXPECT_NEAR(rig.models.deck(1).live().hotCues[3], 4.0, 1e-3);

    // A player unplugged while its delete key is held comes back calling its
    // cues, not deleting them.
    const std::vector<ControllerModel::Player> both = rig.model->players();
    rig.button(kPortB, B::hotCueCallDelete, true);
    std::vector<ControllerModel::Player> onlyA;
    for (const ControllerModel::Player& p : both)
        if (p.port == kPortA)
            onlyA.push_back(p);
    rig.model->updatePlayers(onlyA);
    rig.model->updatePlayers(both);
    rig.button(kPortB, B::hotCue, true, 3);
    rig.run(0.06);
    EXPECT_NEAR(rig.models.deck(1).live().hotCues[3], 4.0, 1e-3);
    EXPECT_TRUE(two.playing.load());
}

} // namespace
} // namespace zelvo
