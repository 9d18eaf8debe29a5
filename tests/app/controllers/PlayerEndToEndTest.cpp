// Two simulated CDJ players on virtual MIDI ports, through the hub, the
// controller model and the real decks, with the audio system on the scripted
// device backend routing each deck to its player's sound card.
#include "ControllerRigSupport.h"

#include "audio/CoreAudioHAL.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "platform/FakeAudioBackend.h"
#include "platform/MicrophonePermission.h"
#include "support/ScopedBackend.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::ControllerRig;
using test::SimulatedCdj;

constexpr std::uint32_t kA = 0x14200000;
constexpr std::uint32_t kB = 0x14300000;

bool audioSettled()
{
    return test::spinUntil([] { return AudioSystem::attemptsInFlight() == 0; });
}

TEST(PlayerEndToEnd, TwoPlayersDriveTheirOwnDecksAndCardsAndAreRememberedAcrossReconnection)
{
    test::ScopedBackend<FakeAudioBackend> backend;
    auto add = [&](const std::string& uid, const std::string& name, std::uint32_t transport) {
        FakeAudioBackend::Device d;
        d.uid = uid;
        d.name = name;
        d.transport = transport;
        return backend->addDevice(d);
    };
    backend->setDefaultOutput(add("builtin", "Built-in Output", transport::builtIn));
    // Sorted by UID, player B's card comes first: only the USB locations pair
    // deck 1 with player A's card.
    add("AppleUSBAudioEngine:Pioneer:CDJ-3000:14300000:1", "CDJ-3000 B", transport::usb);
    add("AppleUSBAudioEngine:Pioneer:CDJ-3000X:14200000:1", "CDJ-3000X A", transport::usb);
    test::TempHome audioHome;
    UserDefaults audioDefaults(audioHome.file(QStringLiteral("defaults.json")));
    audioDefaults.setString(QStringLiteral("audio.device"), QStringLiteral("builtin"));
    ManualScheduler audioClock;
    GrantedMicrophonePermission permission;
    AudioSystem audio(audioDefaults, audioClock, permission);
    audio.boot();
    ASSERT_TRUE(audioSettled());

    ControllerRig rig;
    rig.host.audio = &audio;
    const TrackRecord track = rig.models.drumTrack(QStringLiteral("drums"), 30.0);
    rig.models.load(0, track);
    rig.models.load(1, track);
    rig.model->start();
    std::optional<SimulatedCdj> a, b;
    a.emplace(*rig.midi, PlayerModel::cdj3000x, kA, 3);
    b.emplace(*rig.midi, PlayerModel::cdj3000, kB, 14);
    rig.settle();
    using Decks = std::map<std::int64_t, int>;
    ASSERT_EQ(rig.model->playerDecks(), (Decks{{kA, 0}, {kB, 1}}));
    ASSERT_TRUE(audioSettled());
    const std::map<int, QString> routes{{0, QStringLiteral("cdj-3000x a")}, {1, QStringLiteral("cdj-3000 b")}};
    EXPECT_EQ(audio.rigRoutes(), routes);
    EXPECT_TRUE(audio.directOuts());

    const DeckState& one = rig.models.state(0);
    const DeckState& two = rig.models.state(1);
    // Play on each player: the release of play does nothing, in either form.
    a->press(0);
    a->release(0);
    b->press(0);
    b->release(0, test::Release::noteOff);
    rig.run(0.1);
    EXPECT_TRUE(one.playing.load());
    EXPECT_TRUE(two.playing.load());

    // Player B's tempo fader to the top with master tempo off: deck 2 plays
    // 10 % fast, deck 1 as it was.
    ASSERT_TRUE(rig.models.deck(1).keyLock());
    b->press(11);
    b->release(11);
    b->control(29, 127);
    rig.run(0.1);
    EXPECT_FALSE(rig.models.deck(1).keyLock());
    EXPECT_TRUE(rig.models.deck(0).keyLock());
    EXPECT_NEAR(two.speed.load(), 1.10, 1e-9);
    EXPECT_NEAR(one.speed.load(), 1.0, 1e-9);
    ASSERT_TRUE(rig.model->echo());
    EXPECT_EQ(rig.model->echo()->title, QStringLiteral("deck 2 tempo"));
    EXPECT_EQ(rig.model->echo()->value, QStringLiteral("+10.00%"));

    // Player A's platter bends deck 1 only.
    a->control(16, 127);
    rig.settle();
    rig.models.render(64);
    EXPECT_GT(one.speed.load(), 1.05);
    EXPECT_NEAR(two.speed.load(), 1.10, 1e-9);
    rig.run(0.3);
    EXPECT_FALSE(rig.model->bending()[0]);

    // Hot cue A on player A is set on deck 1 alone; pressed again later it
    // jumps back there.
    a->press(27);
    a->release(27);
    rig.run(0.1);
    const double cue = rig.models.deck(0).live().hotCues[0];
    ASSERT_GE(cue, 0.0);
    EXPECT_LT(rig.models.deck(1).live().hotCues[0], 0.0);
    rig.run(1.0);
    a->press(27);
    rig.settle();
    rig.models.render(64);
    // Within a quarter beat: a quantized jump keeps the beat's phase.
    EXPECT_NEAR(one.position.load(), cue, 0.26);
    a->release(27);

    // Player A pauses and holds search; unplugged while holding, its deck
    // stops seeking, and player B keeps its deck.
    a->press(0);
    rig.run(0.1);
    a->press(2);
    rig.run(0.3);
    EXPECT_GT(one.position.load(), cue + 1.0);
    a->unplug();
    rig.settle();
    EXPECT_EQ(rig.model->playerDecks(), (Decks{{kB, 1}}));
    rig.run(0.05);
    const double left = one.position.load();
    rig.run(0.3);
    EXPECT_EQ(one.position.load(), left);

    // Both gone, then back in the other order on other channels: each finds
    // its deck and its card again.
    b->unplug();
    rig.settle();
    EXPECT_EQ(rig.log.lines.last(), QStringLiteral("players: none"));
    ASSERT_TRUE(audioSettled());
    EXPECT_TRUE(audio.rigRoutes().empty());
    b.emplace(*rig.midi, PlayerModel::cdj3000, kB, 0);
    rig.settle();
    a.emplace(*rig.midi, PlayerModel::cdj3000x, kA, 9);
    rig.settle();
    EXPECT_EQ(rig.model->playerDecks(), (Decks{{kA, 0}, {kB, 1}}));
    ASSERT_TRUE(audioSettled());
    EXPECT_EQ(audio.rigRoutes(), routes);
    // Deck 2 played on through it all, and the returned player B drives it.
    const double before = two.position.load();
    rig.run(0.1);
    EXPECT_NEAR(two.position.load() - before, 0.11, 0.01);
    b->control(29, 64);
    b->press(0);
    rig.run(0.1);
    EXPECT_FALSE(two.playing.load());
    EXPECT_EQ(rig.models.deck(1).tempoFader(), 0.0);

    rig.host.audio = nullptr;
    backend->releaseHangs();
}

} // namespace
} // namespace zelvo
