#include "ControllerRigSupport.h"

#include "audio/GainLaws.h"
#include "controllers/DDJOut.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"
#include "platform/FakeUsbBackend.h"
#include "platform/UsbHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>

namespace zelvo {
namespace {

using test::ControllerRig;
using test::FakeHost;
using test::SimulatedDdj;
using K = DeckKey::Kind;

// The (controller, 14-bit value) a jog-display builder's two messages set.
std::pair<std::uint8_t, int> jogValue(const DDJOut::Bytes& bytes)
{
    return {bytes[1], (int(bytes[2]) << 7) | int(bytes[5])};
}

std::uint8_t lamp(const SimulatedDdj::Received& r, int deck, std::uint8_t note)
{
    const auto found = r.lamps.find({std::uint8_t(0x90 + deck), note});
    return found == r.lamps.end() ? 255 : found->second;
}

DDJEvent key(K kind, int deck = 0, bool shift = false, bool down = true, int payload = 0)
{
    return DDJ::Key{DeckKey{kind, payload}, deck, shift, down};
}

TEST(ControllerModel, ConnectsHandshakesOffTheMainThreadAndSendsTheWholeStateOnce)
{
    // A device that is missing and one this user may not open both count -1;
    // the log tells them apart and points at the udev rule.
    struct Row {
        bool present;
        bool denied;
        std::set<int> rejected;
        QString line;
    };
    for (const Row& row :
         {Row{true, false, {}, QStringLiteral("7/7 accepted")}, Row{true, false, {3}, QStringLiteral("6/7 accepted")},
          Row{false, false, {}, QStringLiteral("-1/7 accepted \u00B7 no FLX10 found on USB")},
          Row{true, true, {},
              QStringLiteral("-1/7 accepted \u00B7 USB access to the FLX10 denied: install the udev rule "
                             "/etc/udev/rules.d/70-kavri-zelvo-flx10.rules (see the README)")}}) {
        SCOPED_TRACE(row.line.toStdString());
        auto usb = std::make_shared<FakeUsbBackend>();
        usb->present = row.present;
        usb->denyOpen = row.denied;
        usb->rejected = row.rejected;
        const auto previous = UsbBackends::install(usb);
        std::thread::id handshakeThread;
        {
            ControllerRig rig({}, [&](ControllerKind kind) {
                handshakeThread = std::this_thread::get_id();
                return ControllerKinds::hostHandshake(kind);
            });
            rig.model->start();
            SimulatedDdj& ddj = rig.plug(ControllerKind::flx10);
            ASSERT_TRUE(rig.waitForLog(QStringLiteral("controller: host handshake")));
            EXPECT_EQ(rig.log.lines, (QStringList{QStringLiteral("controller: DDJ-FLX10 on DDJ-FLX10"),
                                                  QStringLiteral("controller: host handshake ") + row.line}));
            EXPECT_EQ(usb->opens(), row.present && !row.denied ? 1 : 0);
            EXPECT_NE(handshakeThread, std::this_thread::get_id());
            EXPECT_EQ(rig.host.preferred, (std::vector<std::optional<ControllerKind>>{ControllerKind::flx10}));
            EXPECT_EQ(rig.model->layout(), ControllerKind::flx10);
            EXPECT_EQ(rig.models.defaults.string(QStringLiteral("surface.last")), QStringLiteral("flx10"));

            SimulatedDdj::Received r = ddj.received();
            EXPECT_EQ(r.error, "");
            // The key format and the four info flags go first, one send each.
            const auto format = DDJOut::jogKeyFormat(true);
            EXPECT_EQ(r.lamps.at({format[0], format[1]}), format[2]);
            for (int d = 0; d < 4; ++d) {
                const auto info = DDJOut::jogInfo(d, true);
                EXPECT_EQ(r.lamps.at({info[0], info[1]}), info[2]);
                EXPECT_EQ(lamp(r, d, 27), 127) << "hot cue pad-mode lamp of deck " << d;
                EXPECT_EQ(r.meters.at(d), 0);
            }
            // An unchanged second pass sends nothing.
            const std::size_t sends = r.sends;
            rig.model->tick();
            rig.settle();
            EXPECT_EQ(ddj.received().sends, sends);

            ddj.unplug();
            rig.settle();
            EXPECT_EQ(rig.log.lines.last(), QStringLiteral("controller: unplugged"));
            EXPECT_EQ(rig.host.preferred.back(), std::nullopt);
            EXPECT_FALSE(rig.model->connected());
        }
        UsbBackends::install(previous);
    }
}

TEST(ControllerModel, ReconnectingResendsEverythingOnlyForANewPortAndAnFlx4GetsOnlyItsOwn)
{
    ControllerRig rig;
    rig.model->start();
    SimulatedDdj& ddj = rig.plug(ControllerKind::flx4);
    rig.model->selectDeck(3);
    const std::size_t sends = ddj.received().sends;
    // The same controller on the same port: no change.
    rig.model->connectionChanged(MIDIHub::Connection{ControllerKind::flx4, "DDJ-FLX4"});
    EXPECT_EQ(rig.model->rightDeck(), 3);
    // Another port name of the same kind: a change, everything again.
    rig.model->connectionChanged(MIDIHub::Connection{ControllerKind::flx4, "DDJ-FLX4 #2"});
    rig.settle();
    EXPECT_EQ(rig.model->rightDeck(), 1);
    EXPECT_GT(ddj.received().sends, sends);

    const SimulatedDdj::Received r = ddj.received();
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(r.jogValues.empty());
    for (const auto& [address, value] : r.lamps) {
        const int channel = address.first & 0x0F;
        EXPECT_NE(channel, 2) << "deck 3 is not on an FLX4";
        EXPECT_NE(channel, 3) << "deck 4 is not on an FLX4";
        EXPECT_NE(channel, 6) << "no colour-effect buttons on an FLX4";
        if (channel <= 1) {
            for (const int flx10Only : {53, 64, 21, 13, 14, 15, 74, 20})
                EXPECT_NE(address.second, flx10Only) << "note " << flx10Only;
        }
    }
    EXPECT_EQ(lamp(r, 0, 77), 0) << "the FLX4's reloop lamp";
    EXPECT_EQ(r.meters.size(), 2u);
}

TEST(ControllerModel, LampsFollowTheDecksAndTheCueBlinks)
{
    ControllerRig rig;
    rig.model->start();
    SimulatedDdj& ddj = rig.plug(ControllerKind::flx10);
    const TrackRecord track = rig.models.drumTrack(QStringLiteral("drums.wav"));
    rig.models.load(0, track);
    rig.run(0.1);
    auto r = ddj.received();
    EXPECT_EQ(lamp(r, 0, 11), 0) << "paused at the cue: PLAY dark";
    EXPECT_EQ(lamp(r, 0, 12), 127) << "paused at the cue: CUE steady";

    // Play, then pause away from the cue: CUE blinks 0.4 s on, 0.4 s off.
    ddj.press(0, 11);
    ddj.release(0, 11);
    rig.run(0.5);
    r = ddj.received();
    EXPECT_EQ(lamp(r, 0, 11), 127);
    EXPECT_EQ(lamp(r, 0, 71), 127);
    EXPECT_EQ(lamp(r, 0, 12), 0);
    ddj.press(0, 11);
    rig.run(0.1);
    std::set<int> cue;
    for (int i = 0; i < 10; ++i) {
        rig.run(0.1);
        cue.insert(lamp(ddj.received(), 0, 12));
        EXPECT_EQ(lamp(ddj.received(), 0, 11), 0);
    }
    EXPECT_EQ(cue, (std::set<int>{0, 127}));

    // Sync, headphone cue, key shift, quantize, slip, parts and the beat effect.
    rig.models.mixer.channel(0).setSync(true);
    rig.models.mixer.channel(0).setCue(true);
    rig.models.mixer.channel(0).togglePart(1);
    rig.models.deck(0).setKeyShift(-1);
    rig.models.deck(0).setQuantize(false);
    rig.models.deck(0).setSlip(true);
    rig.models.mixer.setBeatFXOn(true);
    rig.host.tour = ControllerHost::TourStep::machine;
    std::set<int> link;
    for (int i = 0; i < 10; ++i) {
        rig.run(0.1);
        link.insert(lamp(ddj.received(), 0, 74));
    }
    r = ddj.received();
    EXPECT_EQ(link, (std::set<int>{0, 127})) << "the link key blinks on the machine step";
    for (const auto& [note, value] : std::vector<std::pair<std::uint8_t, int>>{
             {88, 127}, {84, 127}, {101, 127}, {53, 0}, {64, 127}, {13, 127}, {14, 0}, {15, 127}})
        EXPECT_EQ(lamp(r, 0, note), value) << "note " << int(note);
    EXPECT_EQ(r.lamps.at({0x94, 71}), 127);
    const auto sync = DDJOut::jogSync(0, true);
    EXPECT_EQ(r.lamps.at({sync[0], sync[1]}), sync[2]);
    EXPECT_EQ(r.keys.at(0).second, 12) << "key shift -1 as 1...25";
    // Colour-effect buttons: one lit.
    rig.model->handle({DDJ::ColorFXSelect{2}});
    rig.run(0.1);
    r = ddj.received();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(r.lamps.at({0x96, std::uint8_t(i)}), i == 2 ? 127 : 0);
}

TEST(ControllerModel, PadsShowTheirModeColoursAndTheTourLightShows)
{
    ControllerRig rig;
    rig.model->start();
    SimulatedDdj& ddj = rig.plug(ControllerKind::flx10);
    rig.host.lit = [](int deck, int pad) { return deck == 1 && pad % 2 == 0; };
    rig.model->handle({key(K::padMode, 1, false, true, int(HardwarePadMode::sampler))});
    EXPECT_EQ(rig.models.deck(1).padMode(), PadMode::ai);
    rig.run(0.1);
    auto r = ddj.received();
    for (int pad = 0; pad < 8; ++pad) {
        const std::uint8_t note = std::uint8_t(3 * 16 + pad);
        const int expected = pad % 2 == 0 ? 42 : 0;
        EXPECT_EQ(r.lamps.at({std::uint8_t(0x90 + 7 + 2), note}), expected) << pad;
        EXPECT_EQ(r.lamps.at({std::uint8_t(0x90 + 7 + 3), note}), expected) << "shift layer " << pad;
    }
    EXPECT_EQ(lamp(r, 1, 34), 127);
    EXPECT_EQ(lamp(r, 1, 27), 0);

    // The tour's shows, straight from their rule.
    struct Row {
        ControllerHost::TourStep step;
        double elapsed;
        ControllerKind kind;
        int deck;
        std::optional<std::array<int, 8>> pads;
    };
    using S = ControllerHost::TourStep;
    const std::vector<Row> rows{
        {S::go, 0.1, ControllerKind::flx10, 0, std::array<int, 8>{42, 36, 10, 22, 49, 56, 1, 16}},
        {S::go, 0.3, ControllerKind::flx4, 0, std::array<int, 8>{0, 0, 0, 0, 0, 0, 0, 0}},
        {S::go, 0.5, ControllerKind::flx4, 1, std::array<int, 8>{127, 127, 127, 127, 127, 127, 127, 127}},
        {S::go, 1.2, ControllerKind::flx4, 0, std::nullopt},
        {S::welcome, 0.0, ControllerKind::flx4, 0, std::array<int, 8>{127, 0, 0, 0, 127, 0, 0, 0}},
        // p = 9 × 0.5 − position: positions 2, 3 and 4 lie in [1.5, 4.5).
        {S::welcome, 0.5, ControllerKind::flx10, 0, std::array<int, 8>{0, 0, 22, 49, 0, 0, 22, 49}},
        {S::welcome, 0.5, ControllerKind::flx10, 1, std::array<int, 8>{56, 0, 0, 0, 56, 0, 0, 0}},
        {S::machine, 0.5, ControllerKind::flx10, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        const auto show = ControllerModel::tourShow(row.step, row.elapsed, row.kind, row.deck);
        ASSERT_EQ(show.has_value(), row.pads.has_value()) << row.elapsed;
        if (!show)
            continue;
        for (int pad = 0; pad < 8; ++pad)
            EXPECT_EQ((*show)(pad), (*row.pads)[std::size_t(pad)]) << int(row.step) << " " << row.elapsed << " pad "
                                                                   << pad;
    }
}

TEST(ControllerModel, MetersAndTheJogDisplayHoldUpToEngineReadings)
{
    ControllerRig rig;
    rig.model->start();
    SimulatedDdj& ddj = rig.plug(ControllerKind::flx10);
    const TrackRecord track = rig.models.drumTrack(QStringLiteral("drums.wav"), 20.0, 120.0);
    rig.models.load(2, track);
    rig.models.deck(2).setTempoFader(0.5); // ±10 %: ratio 1.05
    rig.models.deck(2).playPause();
    rig.host.master = 2;
    rig.run(1.0);
    auto r = ddj.received();
    EXPECT_GT(r.meters.at(2), 20) << "drums playing";
    EXPECT_EQ(r.meters.at(3), 0);
    MixerState& engine = *rig.models.engine->state();
    const double ratio = engine.effectiveTempo[2].load();
    EXPECT_NEAR(ratio, 1.05, 1e-9);
    const auto expectJog = [&](const DDJOut::Bytes& bytes, const char* what) {
        if (bytes.size() == 3) {
            ASSERT_TRUE(r.lamps.count({bytes[0], bytes[1]})) << what;
            EXPECT_EQ(r.lamps.at({bytes[0], bytes[1]}), bytes[2]) << what;
            return;
        }
        const auto [controller, value] = jogValue(bytes);
        ASSERT_TRUE(r.jogValues.count(controller)) << what;
        EXPECT_EQ(r.jogValues.at(controller), value) << what;
    };
    expectJog(DDJOut::jogBPM(2, 126.0), "bpm");
    expectJog(DDJOut::jogSpeed(2, 5.0), "speed");
    expectJog(DDJOut::jogMaster(2, true), "master");
    expectJog(DDJOut::jogMaster(1, false), "not master");
    expectJog(DDJOut::jogCue(3, std::nullopt), "no cue on an empty deck");

    // Readings that are not numbers, or huge, show as nothing and never
    // overflow; with no engine the meters go dark and the deck's own ratio counts.
    rig.models.deck(2).playPause();
    rig.run(0.2);
    struct Row {
        double tempo;
        double bpm;
        double percent;
    };
    for (const Row& row : {Row{std::nan(""), 0, 0}, Row{INFINITY, 0, 0}, Row{1e300, 0, 0}, Row{-1e300, 0, 0}}) {
        engine.effectiveTempo[2].store(row.tempo);
        rig.model->tick();
        rig.settle();
        r = ddj.received();
        EXPECT_EQ(r.error, "");
        if (!std::isfinite(row.tempo)) {
            expectJog(DDJOut::jogBPM(2, 0.0), "bpm");
            expectJog(DDJOut::jogSpeed(2, 0.0), "speed");
        }
    }
    engine.effectiveTempo[2].store(1.0);
    for (const double peak : {std::nan(""), double(INFINITY), 1.0, 0.00794, 1e-9}) {
        engine.channelPeak[2].store(peak);
        rig.model->tick();
        rig.settle();
        const int expected = peak == 1.0 ? 127 : 0; // −42 dB and below is dark
        EXPECT_EQ(ddj.received().meters.at(2), expected) << peak;
    }
    engine.channelPeak[2].store(1.0);
    rig.host.withEngine = false;
    rig.model->tick();
    rig.settle();
    r = ddj.received();
    for (int d = 0; d < 4; ++d)
        EXPECT_EQ(r.meters.at(d), 0);
    expectJog(DDJOut::jogSpeed(2, 5.0), "the deck's own tempo ratio");
}

TEST(ControllerModel, SurfaceChoiceLastKindAndForcedLayout)
{
    struct Row {
        QStringList arguments;
        std::optional<QString> storedChoice;
        std::optional<QString> storedLast;
        ControllerModel::SurfaceChoice choice;
        std::optional<ControllerKind> forced;
        ControllerKind layout;
    };
    using C = ControllerModel::SurfaceChoice;
    const std::vector<Row> rows{
        {{}, std::nullopt, std::nullopt, C::automatic, std::nullopt, ControllerKind::flx4},
        {{}, QStringLiteral("FLX10"), std::nullopt, C::flx10, std::nullopt, ControllerKind::flx10},
        {{}, QStringLiteral("flx10"), QStringLiteral("flx10"), C::automatic, std::nullopt, ControllerKind::flx10},
        {{}, QStringLiteral("FLX4"), QStringLiteral("flx10"), C::flx4, std::nullopt, ControllerKind::flx4},
        {{QStringLiteral("x"), QStringLiteral("--surface"), QStringLiteral("FLX10")}, QStringLiteral("FLX4"),
         std::nullopt, C::flx4, ControllerKind::flx10, ControllerKind::flx10},
        {{QStringLiteral("x"), QStringLiteral("--surface"), QStringLiteral("wide")}, std::nullopt, std::nullopt,
         C::automatic, std::nullopt, ControllerKind::flx4},
        {{QStringLiteral("x"), QStringLiteral("--surface")}, std::nullopt, QStringLiteral("flx10"), C::automatic,
         std::nullopt, ControllerKind::flx10},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString() + " " + row.storedChoice.value_or("-").toStdString());
        test::ModelRig models;
        if (row.storedChoice)
            models.defaults.setString(QStringLiteral("surface.choice"), *row.storedChoice);
        if (row.storedLast)
            models.defaults.setString(QStringLiteral("surface.last"), *row.storedLast);
        ControllerModel model(models.defaults, models.clock, row.arguments, nullptr);
        EXPECT_EQ(model.surfaceChoice(), row.choice);
        EXPECT_EQ(model.forced(), row.forced);
        EXPECT_EQ(model.layout(), row.layout);
        EXPECT_EQ(models.defaults.string(QStringLiteral("surface.choice")), ControllerModel::rawValue(row.choice));
        model.setSurfaceChoice(C::flx4);
        EXPECT_EQ(models.defaults.string(QStringLiteral("surface.choice")), QStringLiteral("FLX4"));
    }

    test::ModelRig models;
    ControllerModel model(models.defaults, models.clock, {}, nullptr);
    model.selectDeck(3);
    EXPECT_EQ(std::pair(model.leftDeck(), model.rightDeck()), std::pair(0, 3));
    model.selectDeck(2);
    EXPECT_EQ(std::pair(model.leftDeck(), model.rightDeck()), std::pair(2, 3));
    EXPECT_EQ(model.activeDeck(0), 2);
    EXPECT_EQ(model.activeDeck(1), 3);

    // The browse fold ends digging 6 s after the last step; 0 ends it at once.
    model.setBrowsedAt(models.clock.uptime());
    EXPECT_TRUE(model.digging());
    models.clock.advance(5.0);
    model.setBrowsedAt(models.clock.uptime());
    models.clock.advance(5.0);
    EXPECT_TRUE(model.digging()) << "the second step moved the fold";
    models.clock.advance(1.1);
    EXPECT_FALSE(model.digging());
    model.setBrowsedAt(models.clock.uptime());
    model.setBrowsedAt(0);
    EXPECT_FALSE(model.digging());
    const std::size_t pending = models.clock.pending();
    models.clock.advance(7.0);
    EXPECT_FALSE(model.digging());
    EXPECT_LE(models.clock.pending(), pending);
    // "--echo-demo" shows a low-band card every 0.25 s.
    ControllerRig demo({QStringLiteral("x"), QStringLiteral("--echo-demo")});
    demo.model->start();
    EXPECT_FALSE(demo.model->echo());
    demo.models.clock.advance(0.25);
    ASSERT_TRUE(demo.model->echo());
    EXPECT_EQ(*demo.model->echo(), (ControllerModel::Echo{"low0", 0, "ch1 low", "-12.4 db", 0.31, true,
                                                          demo.models.clock.uptime()}));
    EXPECT_EQ(demo.model->touchedAt()[0], demo.models.clock.uptime());
}

TEST(ControllerModel, KnobsPassTheirGateAndEchoTheirReading)
{
    ControllerRig rig;
    rig.model->start();
    rig.plug(ControllerKind::flx10);
    MixerModel& mixer = rig.models.mixer;
    struct Row {
        DDJEvent event;
        QString id;
        std::optional<int> deck;
        QString title;
        QString value;
        bool bipolar;
    };
    const auto knob = [](MixerKnob k, int deck, double v) -> DDJEvent { return DDJ::Knob{k, deck, v}; };
    const QString cfx = QString::fromUtf8(label(mixer.colorFXKind()).data()).toLower();
    const QString fx = QString::fromUtf8(label(mixer.beatFXKind()).data()).toLower();
    const std::vector<Row> rows{
        {knob(MixerKnob::trim, 0, 1.0), "trim0", 0, "ch1 trim", "+9.0 db", true},
        {knob(MixerKnob::trim, 0, 0.505), "trim0", 0, "ch1 trim", "0 db", true},
        {knob(MixerKnob::trim, 0, 0.25), "trim0", 0, "ch1 trim", QString::asprintf("%+.1f db", 20 * std::log10(trimGain(-0.5))), true},
        {knob(MixerKnob::low, 1, 0.0), "low1", 1, "ch2 low", "kill", true},
        {knob(MixerKnob::high, 2, 0.75), "hi2", 2, "ch3 hi", QString::asprintf("%+.1f db", 20 * std::log10(isolatorGain(0.5))), true},
        {knob(MixerKnob::mid, 3, 0.505), "mid3", 3, "ch4 mid", "0 db", true},
        {knob(MixerKnob::fader, 1, 0.504), "fader1", 1, "ch2 fader", "50", false},
        {knob(MixerKnob::tempo, 1, 1.0), "tempo1", 1, "deck 2 tempo", "+10.00%", true},
        {knob(MixerKnob::tempo, 1, 0.25), "tempo1", 1, "deck 2 tempo", "-5.00%", true},
        {knob(MixerKnob::colorFX, 0, 0.505), "cfx0", 0, "ch1 " + cfx, "off", true},
        {knob(MixerKnob::colorFX, 0, 0.0), "cfx0", 0, "ch1 " + cfx, "-100", true},
        {DDJ::Crossfader{0.75}, "xf", std::nullopt, "crossfader", "+50", true},
        {DDJ::Crossfader{1.0}, "xf", std::nullopt, "crossfader", "b", true},
        {DDJ::Crossfader{0.0}, "xf", std::nullopt, "crossfader", "a", true},
        {DDJ::HeadphonesMix{0.2}, "phones", std::nullopt, "phones mix", "cue", true},
        {DDJ::HeadphonesMix{0.9}, "phones", std::nullopt, "phones mix", "master", true},
        {DDJ::BeatFXLevel{0.5}, "fxlevel", std::nullopt, fx + " level", "50", false},
    };
    // Each control first moves onto an end of travel (a first reading passes
    // only there), then to the reading under test while it is moving.
    const auto atEnd = [](DDJEvent event, double end) {
        std::visit(
            [end](auto& e) {
                if constexpr (requires { e.value; })
                    e.value = e.value < 0.5 ? 1.0 : 0.0;
                (void)end;
            },
            event);
        return event;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id.toStdString() + " " + row.value.toStdString());
        rig.models.clock.advance(1.0);
        rig.model->handle({atEnd(row.event, 0)});
        rig.models.clock.advance(0.01);
        rig.model->handle({row.event});
        ASSERT_TRUE(rig.model->echo());
        const ControllerModel::Echo& echo = *rig.model->echo();
        EXPECT_EQ(echo.id, row.id);
        EXPECT_EQ(echo.deck, row.deck);
        EXPECT_EQ(echo.title, row.title);
        EXPECT_EQ(echo.value, row.value);
        EXPECT_EQ(echo.bipolar, row.bipolar);
        EXPECT_EQ(echo.stamp, rig.models.clock.uptime());
        if (row.deck) {
            EXPECT_EQ(rig.model->touchedAt()[std::size_t(*row.deck)], echo.stamp);
        }
    }
    EXPECT_EQ(mixer.channel(0).trim(), -0.5);
    EXPECT_EQ(mixer.channel(3).mid(), 0.0) << "the centre detent";
    EXPECT_EQ(mixer.channel(1).fader(), 0.504) << "a fader is never centred";
    EXPECT_EQ(mixer.crossfader(), -1.0);
    EXPECT_DOUBLE_EQ(mixer.cueMix(), 0.8);
    EXPECT_EQ(rig.models.deck(1).tempoFader(), -0.5);

    // The gates: a control at rest holds back jitter, passes a real move, and a
    // new connection asks every control for its pickup again.
    rig.models.clock.advance(1.0);
    const int hands = rig.hands;
    rig.model->handle({knob(MixerKnob::fader, 1, 0.51)});
    EXPECT_EQ(mixer.channel(1).fader(), 0.504);
    EXPECT_EQ(rig.hands, hands) << "a refused reading is no touch";
    rig.model->handle({knob(MixerKnob::fader, 1, 0.6)});
    EXPECT_EQ(mixer.channel(1).fader(), 0.6);
    EXPECT_EQ(rig.hands, hands + 1);
    rig.model->handle({DDJ::HeadphonesMix{0.1}, DDJ::BeatFXLevel{0.9}});
    EXPECT_EQ(rig.hands, hands + 1) << "phones and effect level never count as hands on";
    rig.model->connectionChanged(MIDIHub::Connection{ControllerKind::flx10, "other"});
    rig.model->handle({knob(MixerKnob::fader, 1, 0.3)});
    EXPECT_EQ(mixer.channel(1).fader(), 0.6) << "the first reading after a connection passes only at an end";
}

TEST(ControllerModel, EventsAndDeckKeysReachTheirActions)
{
    ControllerRig rig;
    rig.model->start();
    rig.plug(ControllerKind::flx10);
    DeckModel& deck = rig.models.deck(0);
    MixerModel& mixer = rig.models.mixer;
    FakeHost& host = rig.host;
    const QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), c = QUuid::createUuid();
    host.tracks = {a, b, c};
    using Strings = std::vector<std::string>;
    struct Row {
        const char* what;
        std::vector<DDJEvent> events;
        std::function<void()> check;
    };
    const std::vector<Row> rows{
        {"shift press and release", {key(K::shift, 0, false, true)}, [&] { EXPECT_TRUE(deck.shift()); }},
        {"shift release", {key(K::shift, 0, false, false)}, [&] { EXPECT_FALSE(deck.shift()); }},
        {"play release does nothing", {key(K::play, 0, false, false)}, [&] { EXPECT_FALSE(deck.live().playing); }},
        {"sync toggles", {key(K::sync, 2)}, [&] {
             EXPECT_TRUE(mixer.channel(2).sync());
             EXPECT_EQ(rig.model->echo()->value, "on");
         }},
        {"shift sync asks for master", {key(K::sync, 3, true)}, [&] {
             EXPECT_EQ(rig.models.params().masterRequest.load(), 3);
             EXPECT_EQ(rig.model->echo()->value, "master");
             rig.models.params().masterRequest.store(-1);
         }},
        {"sync long", {key(K::syncLong, 1)}, [&] { EXPECT_EQ(rig.models.params().masterRequest.load(), 1); }},
        {"tempo range", {key(K::tempoRange, 0)}, [&] {
             EXPECT_EQ(deck.tempoRange(), TempoRange::sixteen);
             EXPECT_EQ(rig.model->echo()->value, "±16");
         }},
        {"key sync", {key(K::keySync, 0)}, [&] {
             EXPECT_EQ(host.take(), (Strings{"keySync 0"}));
             EXPECT_EQ(rig.model->echo()->title, "key sync");
             EXPECT_EQ(rig.model->echo()->value, "+2");
         }},
        {"key sync long", {key(K::keySyncLong, 0)}, [&] { EXPECT_EQ(deck.keyShift(), 0); }},
        {"shift key sync locks", {key(K::keySync, 0, true)}, [&] {
             EXPECT_FALSE(deck.keyLock());
             EXPECT_EQ(rig.model->echo()->value, "off");
         }},
        {"beat jump sizes", {key(K::beatJumpBack, 0, true), key(K::beatJumpBack, 0, true), key(K::beatJumpBack, 0, true)},
         [&] { EXPECT_EQ(deck.beatJumpBeats(), 1.0); }},
        {"beat jump up", {key(K::beatJumpForward, 0, true), key(K::callForward, 0, true), key(K::beatJumpForward, 0, true),
                          key(K::beatJumpForward, 0, true), key(K::beatJumpForward, 0, true), key(K::beatJumpForward, 0, true)},
         [&] { EXPECT_EQ(deck.beatJumpBeats(), 32.0); }},
        {"quantize, slip, reverse", {key(K::quantize), key(K::slip), key(K::slipReverse, 0, true)}, [&] {
             EXPECT_FALSE(deck.quantize());
             EXPECT_TRUE(deck.slip());
             EXPECT_TRUE(deck.reverse());
         }},
        {"reverse while held", {key(K::slipReverse, 0, false, true), key(K::slipReverse, 0, false, false)},
         [&] { EXPECT_FALSE(deck.reverse()); }},
        {"headphone cue", {key(K::headphoneCue, 1)}, [&] { EXPECT_TRUE(mixer.channel(1).cue()); }},
        {"part", {key(K::part, 0, false, true, 2)}, [&] {
             EXPECT_TRUE(mixer.channel(0).partsOff()[2]);
             EXPECT_EQ(rig.model->echo()->title, "inst");
             EXPECT_EQ(rig.model->echo()->value, "out");
         }},
        {"pad mode", {key(K::padMode, 0, false, true, int(HardwarePadMode::beatLoop))}, [&] {
             EXPECT_EQ(deck.padMode(), PadMode::beatLoop);
             EXPECT_EQ(rig.model->echo()->value, "loop");
         }},
        {"pads", {DDJ::Pad{2, HardwarePadMode::hotCue, 1, 5, true, true}, DDJ::Pad{2, HardwarePadMode::keyShift, 0, 3, false, false}},
         [&] {
             EXPECT_EQ(host.take(), (Strings{"pad 2 0 5 down erase", "pad 2 4 3 up"}));
             EXPECT_EQ(rig.models.deck(2).padMode(), PadMode::key);
             EXPECT_EQ(rig.model->hardwarePads()[2], HardwarePadMode::keyShift);
             EXPECT_EQ(rig.model->padHit()->pad, 5);
         }},
        {"generation keys", {key(K::mixPointLink), key(K::mixPointLink, 1, true), key(K::mixPointBack), key(K::mixPointForward, 0, true)},
         [&] {
             EXPECT_EQ(host.take(), (Strings{"aiPrimary", "aiSecondary", "stepTake -1", "reroll"}));
             EXPECT_EQ(rig.model->echo()->value, "re-roll");
         }},
        {"the link key steps the tour", {key(K::mixPointLink), key(K::mixPointLink, 0, true)}, [&] {
             EXPECT_EQ(host.take(), (Strings{"tourNext", "tourBack"}));
         }},
        {"browse", {DDJ::Browse{1}, DDJ::Browse{5}}, [&] {
             EXPECT_EQ(host.selected, c);
             EXPECT_TRUE(rig.model->digging());
         }},
        {"browse back from nothing", {DDJ::Browse{-1}}, [&] { EXPECT_EQ(host.selected, c); }},
        {"load ends digging", {DDJ::Load{1}}, [&] {
             EXPECT_EQ(host.take(), (Strings{"load 1 track"}));
             EXPECT_FALSE(rig.model->digging());
         }},
        {"browse press", {DDJ::BrowsePress{false}, DDJ::BrowsePress{true}}, [&] {
             EXPECT_EQ(host.take(), (Strings{"enqueue " + c.toString().toStdString(), "loadNext"}));
         }},
        {"zoom", {DDJ::Zoom{1}}, [&] { EXPECT_DOUBLE_EQ(host.zoom, 1 / 1.15); }},
        {"zoom limits", {DDJ::Zoom{40}, DDJ::Zoom{-3}, DDJ::Zoom{-90}}, [&] { EXPECT_EQ(host.zoom, 6.0); }},
        {"back and view", {DDJ::Back{}, DDJ::Back{}, DDJ::View{}}, [&] {
             EXPECT_EQ(host.source, ControllerHost::BrowserSource::recent);
             EXPECT_TRUE(host.open);
         }},
        {"colour effect", {DDJ::ColorFXSelect{2}}, [&] {
             EXPECT_EQ(mixer.colorFXKind(), ColorFXKind::crush);
             EXPECT_EQ(rig.model->echo()->value, "crush");
         }},
        {"beat effect", {DDJ::BeatFXSelect{6}, DDJ::BeatFXStep{1}, DDJ::BeatFXBeat{-1}, DDJ::BeatFXOn{false, true}, DDJ::BeatFXOn{false, false}},
         [&] {
             EXPECT_EQ(mixer.beatFXKind(), BeatFXKind::reverb);
             EXPECT_TRUE(mixer.beatFXOn());
             EXPECT_EQ(rig.model->echo()->title, "reverb");
         }},
        {"beat effect channel", {DDJ::BeatFXChannel{4}, DDJ::BeatFXChannel{std::nullopt}}, [&] {
             EXPECT_EQ(mixer.beatFXTarget(), 4);
         }},
        {"deck select and assign", {DDJ::DeckSelect{3}, DDJ::CrossfaderAssign{3, 0}}, [&] {
             EXPECT_EQ(rig.model->rightDeck(), 3);
             EXPECT_EQ(mixer.channel(3).crossfaderAssign(), 0);
         }},
        {"jog touch without vinyl", {key(K::shift), DDJ::Jog{0, JogSurface::platterNudge, 1}, DDJ::JogTouch{0, true}}, [&] {
             EXPECT_FALSE(deck.vinyl());
             EXPECT_FALSE(rig.model->jogHeld()[0]);
         }},
        {"jog touch with vinyl", {DDJ::Jog{0, JogSurface::platter, 1}, DDJ::JogTouch{0, true}}, [&] {
             EXPECT_TRUE(deck.vinyl());
             EXPECT_TRUE(rig.model->jogHeld()[0]);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (std::string_view(row.what) == "browse back from nothing")
            host.selected.reset();
        if (std::string_view(row.what) == "the link key steps the tour")
            host.tour = ControllerHost::TourStep::other;
        const int hands = rig.hands;
        rig.models.clock.advance(0.01);
        rig.model->handle(row.events);
        row.check();
        host.take();
        host.tour = ControllerHost::TourStep::none;
        EXPECT_EQ(rig.hands, hands + int(row.events.size())) << "each of these is hands on";
    }
    // Nothing happens without a connection.
    rig.model->connectionChanged(std::nullopt);
    rig.model->handle({key(K::headphoneCue, 1)});
    EXPECT_TRUE(mixer.channel(1).cue());
}

TEST(ControllerModel, JogWheelsScrubBendAndSearchAndCallsJumpBetweenHotCues)
{
    ControllerRig rig;
    rig.model->start();
    rig.plug(ControllerKind::flx10);
    const TrackRecord track = rig.models.drumTrack(QStringLiteral("drums.wav"), 30.0);
    rig.models.load(0, track);
    rig.run(0.1);
    DeckModel& deck = rig.models.deck(0);
    const DeckState& state = rig.models.state(0);
    const auto jog = [&](JogSurface surface, int delta) {
        rig.model->handle({DDJ::Jog{0, surface, delta}});
        rig.run(0.05);
    };
    // A paused deck scrubs from the platter, touched or not: 5760 ticks are 1.8 s.
    double at = state.position.load();
    jog(JogSurface::platter, 576);
    EXPECT_NEAR(state.position.load() - at, 0.18, 1e-3);
    at = state.position.load();
    jog(JogSurface::side, -288);
    EXPECT_NEAR(state.position.load() - at, -0.09, 1e-3);
    // Search moves 21.6 s a turn, never before the start.
    at = state.position.load();
    jog(JogSurface::search, 1440);
    EXPECT_NEAR(state.position.load() - at, 5.4, 1e-3);
    jog(JogSurface::search, -5760 * 2);
    EXPECT_EQ(state.position.load(), 0.0);

    // Hot cues at 4, 8 and 12 s; calls step between them.
    for (const double cue : {4.0, 8.0, 12.0}) {
        deck.voice()->send(DeckCommand::seek(cue));
        rig.run(0.05);
        deck.voice()->send(DeckCommand::hotCue(int(cue / 4), true));
        deck.voice()->send(DeckCommand::hotCue(int(cue / 4), false));
        rig.run(0.05);
    }
    deck.voice()->send(DeckCommand::seek(8.02));
    rig.run(0.1);
    rig.model->handle({key(K::callForward)});
    rig.run(0.05);
    EXPECT_NEAR(state.position.load(), 12.0, 1e-3) << "8 lies within 0.05 s: the next is 12";
    rig.model->handle({key(K::callBack)});
    rig.run(0.05);
    EXPECT_NEAR(state.position.load(), 8.0, 1e-3);
    rig.model->handle({key(K::callBack)});
    rig.run(0.05);
    EXPECT_NEAR(state.position.load(), 4.0, 1e-3);
    rig.model->handle({key(K::callBack)});
    rig.run(0.05);
    EXPECT_NEAR(state.position.load(), 4.0, 1e-3) << "no cue before 3.5 s: nothing";

    // A playing deck bends; the feedback ends the bend 0.06 s after the last step.
    deck.playPause();
    rig.run(0.2);
    jog(JogSurface::platter, 200);
    EXPECT_GT(state.speed.load(), 1.0);
    rig.run(0.2);
    EXPECT_NEAR(state.speed.load(), 1.0, 1e-9) << "the bend is released";
    // Touched, the platter scrubs the playing deck instead.
    rig.model->handle({DDJ::JogTouch{0, true}});
    rig.run(0.1);
    EXPECT_TRUE(rig.model->jogHeld()[0]);
    ASSERT_TRUE(deck.live().jogTouched);
    rig.model->handle({DDJ::JogTouch{0, false}});
    rig.run(0.05);
    EXPECT_FALSE(deck.live().jogTouched);
}

TEST(ControllerModel, SimulatedControllersDriveTheDecksAndReadTheirStateBack)
{
    for (const ControllerKind kind : {ControllerKind::flx10, ControllerKind::flx4}) {
        SCOPED_TRACE(int(kind));
        ControllerRig rig;
        rig.model->start();
        SimulatedDdj& ddj = rig.plug(kind);
        const TrackRecord track = rig.models.drumTrack(QStringLiteral("drums.wav"), 30.0);
        rig.models.load(1, track);
        rig.run(0.1);
        // Play deck 2, then pull its fader down past the pickup.
        ddj.press(1, 11);
        ddj.release(1, 11);
        ddj.knob(1, 0x13, 16383);
        rig.run(0.05);
        ddj.knob(1, 0x13, 8192);
        rig.run(0.5);
        EXPECT_TRUE(rig.models.deck(1).live().playing);
        EXPECT_NEAR(rig.models.mixer.channel(1).fader(), 8192.0 / 16383.0, 1e-3);
        EXPECT_NEAR(rig.models.params().channel(1).fader.load(), 8192.0 / 16383.0, 1e-3);
        ASSERT_TRUE(rig.model->echo());
        EXPECT_EQ(rig.model->echo()->title, "ch2 fader");
        // A hot cue pad reaches the pads, and the platter bends the playing deck.
        ddj.pad(1, false, HardwarePadMode::hotCue, 0, 2, true);
        ddj.jog(1, JogSurface::platter, 30);
        rig.settle();
        EXPECT_EQ(rig.host.take(), (std::vector<std::string>{"pad 1 0 2 down"}));
        rig.run(0.5);

        const SimulatedDdj::Received r = ddj.received();
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(lamp(r, 1, 11), 127);
        EXPECT_EQ(lamp(r, 1, 12), 0);
        EXPECT_GT(r.meters.at(1), 0);
        EXPECT_EQ(r.meters.at(0), 0);
        if (kind == ControllerKind::flx10) {
            const auto bpm = jogValue(DDJOut::jogBPM(1, 120.0));
            EXPECT_EQ(r.jogValues.at(bpm.first), bpm.second);
            const auto speed = jogValue(DDJOut::jogSpeed(1, 0.0));
            EXPECT_EQ(r.jogValues.at(speed.first), speed.second);
            EXPECT_EQ(r.keys.count(1), 1u);
        } else {
            EXPECT_TRUE(r.jogValues.empty());
        }
    }
}

TEST(ControllerModel, AFloodOfPlatterSpinsFadersAndKeysArrivesWhole)
{
    ControllerRig rig;
    rig.model->start();
    SimulatedDdj& ddj = rig.plug(ControllerKind::flx10);
    const TrackRecord track = rig.models.drumTrack(QStringLiteral("drums.wav"), 30.0);
    std::array<double, 4> start{};
    for (int d = 0; d < 4; ++d) {
        rig.models.load(d, track);
        rig.models.deck(d).setVinyl(false);
    }
    rig.run(0.1);
    for (int d = 0; d < 4; ++d) {
        start[std::size_t(d)] = rig.models.state(d).position.load();
        ddj.knob(d, 0x13, 0); // the faders' pickup at the bottom
    }
    rig.run(0.1);
    std::array<int, 4> ticks{};
    std::array<int, 4> presses{};
    std::array<int, 4> lastFader{};
    // One second in 5 ms steps: every deck spins, moves its fader and now and
    // then presses its headphone cue; the engine renders each step.
    for (int step = 0; step < 200; ++step) {
        for (int d = 0; d < 4; ++d) {
            const int delta = 1 + (step + d) % 7;
            ddj.jog(d, JogSurface::side, delta);
            ticks[std::size_t(d)] += delta;
            lastFader[std::size_t(d)] = (step * 80 + d * 500) % 16384;
            ddj.knob(d, 0x13, lastFader[std::size_t(d)]);
            if ((step + d) % 9 == 0) {
                ddj.press(d, 0x54);
                ddj.release(d, 0x54);
                ++presses[std::size_t(d)];
            }
        }
        rig.settle();
        rig.models.render(240);
        rig.models.clock.advance(0.005);
    }
    rig.run(0.2);
    for (int d = 0; d < 4; ++d) {
        SCOPED_TRACE(d);
        const double moved = rig.models.state(d).position.load() - start[std::size_t(d)];
        EXPECT_NEAR(moved, ticks[std::size_t(d)] * 1.8 / 5760.0, 1e-6) << "every scrub arrived";
        EXPECT_EQ(rig.models.mixer.channel(d).cue(), presses[std::size_t(d)] % 2 == 1);
        EXPECT_NEAR(rig.models.mixer.channel(d).fader(), lastFader[std::size_t(d)] / 16383.0, 1e-9);
    }
}

} // namespace
} // namespace zelvo
