// The eight pads of a deck on real decks, mixer and engine, with the
// workflow's remaining actions on a fake.
#include "PerformanceSupport.h"

#include "audio/DeckCommand.h"
#include "models/MixerModel.h"

#include <climits>
#include <gtest/gtest.h>

namespace zelvo::test {
namespace {

using Label = AppModel::PadLabel;

std::vector<bool> lights(const AppModel& app, const DeckModel& deck, PadMode mode)
{
    std::vector<bool> lit;
    for (int i = 0; i < 8; ++i)
        lit.push_back(app.padLit(deck, mode, i));
    return lit;
}

std::vector<Label> labels(const AppModel& app, const DeckModel& deck, PadMode mode)
{
    std::vector<Label> all;
    for (int i = 0; i < 8; ++i)
        all.push_back(app.padLabel(deck, mode, i));
    return all;
}

TEST(PerformancePads, HotCuesSetTriggerReleaseEraseAndShowTheirTimes)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    AppModel& app = r.app();
    DeckModel& deck = r.deck(0);
    const DeckState& s = r.state(0);
    EXPECT_EQ(labels(app, deck, PadMode::hotCue)[0], (Label{"A", "set"}));

    // An empty pad stores the playhead; a stored one plays while held.
    app.pressPad(deck, PadMode::hotCue, 0, true, false);
    app.pressPad(deck, PadMode::hotCue, 0, false, false);
    deck.voice()->send(DeckCommand::setHotCue(1, 75.9));
    // A collection may hold any finite time; the label stays within "m:ss" of an int.
    deck.voice()->send(DeckCommand::setHotCue(7, 1e300));
    r.render();
    EXPECT_EQ(lights(app, deck, PadMode::hotCue), (std::vector<bool>{true, true, false, false, false, false, false, true}));
    const std::vector<Label> shown = labels(app, deck, PadMode::hotCue);
    EXPECT_EQ(shown[0], (Label{"A", "0:00"}));
    EXPECT_EQ(shown[1], (Label{"B", "1:15"}));
    EXPECT_EQ(shown[2], (Label{"C", "set"}));
    EXPECT_EQ(shown[7], (Label{"H", "35791394:07"}));

    app.pressPad(deck, PadMode::hotCue, 1, true, false);
    r.render();
    EXPECT_TRUE(s.cueing.load());
    // A release with the erase modifier sends nothing: the held cue keeps playing.
    app.pressPad(deck, PadMode::hotCue, 1, false, true);
    r.render();
    EXPECT_TRUE(s.cueing.load());
    app.pressPad(deck, PadMode::hotCue, 1, false, false);
    r.render();
    EXPECT_FALSE(s.cueing.load());

    // Erase deletes; its release neither sets nor plays.
    app.pressPad(deck, PadMode::hotCue, 0, true, true);
    app.pressPad(deck, PadMode::hotCue, 0, false, true);
    r.render();
    EXPECT_FALSE(app.padLit(deck, PadMode::hotCue, 0));
    EXPECT_FALSE(s.cueing.load());
    EXPECT_EQ(app.padLabel(deck, PadMode::hotCue, 0), (Label{"A", "set"}));
}

TEST(PerformancePads, PadEffectsSetTheEffectAndOnlyTheLitPadsReleaseStopsIt)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    AppModel& app = r.app();
    MixerModel& mixer = app.mixer();
    const std::vector<Label> expected = {{"echo", "1/2"},   {"echo", "1/4"},   {"roll", "1/4"}, {"roll", "1/8"},
                                         {"flange", "4"},   {"flange", "1"},   {"verb", "1/2"}, {"verb", "1"}};
    EXPECT_EQ(labels(app, r.deck(1), PadMode::padFX), expected);
    for (int pad = 0; pad < 8; ++pad) {
        SCOPED_TRACE(pad);
        app.pressPad(r.deck(1), PadMode::padFX, pad, true, false);
        EXPECT_EQ(mixer.beatFXKind(), AppModel::padFX[std::size_t(pad)].kind);
        EXPECT_EQ(mixer.beatFXBeatIndex(), AppModel::padFX[std::size_t(pad)].beatIndex);
        EXPECT_EQ(mixer.beatFXTarget(), 2);
        EXPECT_TRUE(mixer.beatFXOn());
        std::vector<bool> only(8, false);
        only[std::size_t(pad)] = true;
        EXPECT_EQ(lights(app, r.deck(1), PadMode::padFX), only);
        EXPECT_EQ(lights(app, r.deck(0), PadMode::padFX), std::vector<bool>(8, false));
        // Another pad's release, or the other deck's, leaves it on.
        app.pressPad(r.deck(1), PadMode::padFX, (pad + 1) % 8, false, false);
        app.pressPad(r.deck(0), PadMode::padFX, pad, false, false);
        EXPECT_TRUE(mixer.beatFXOn());
        app.pressPad(r.deck(1), PadMode::padFX, pad, false, false);
        EXPECT_FALSE(mixer.beatFXOn());
    }
}

TEST(PerformancePads, JumpsKeysAndLoopsActOnTheDeck)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    AppModel& app = r.app();
    DeckModel& deck = r.deck(1);
    const DeckState& s = r.state(1);

    // Jumps: pads 4-7 forward, 0-3 back, by 1, 4, 8, 16 beats (0.5 s a beat).
    app.pressPad(deck, PadMode::beatJump, 5, true, false);
    app.pressPad(deck, PadMode::beatJump, 4, true, false);
    app.pressPad(deck, PadMode::beatJump, 4, false, false);
    r.render();
    EXPECT_NEAR(s.position.load(), 2.5, 1e-3);
    app.pressPad(deck, PadMode::beatJump, 1, true, false);
    r.render();
    EXPECT_NEAR(s.position.load(), 0.5, 1e-3);
    EXPECT_EQ(lights(app, deck, PadMode::beatJump), (std::vector<bool>{false, true, false, false, false, true, false, false}));
    EXPECT_EQ(labels(app, deck, PadMode::beatJump),
              (std::vector<Label>{{"◀ 1", "back"}, {"◀ 4", "back"}, {"◀ 8", "back"}, {"◀ 16", "back"},
                                  {"▶ 1", "fwd"}, {"▶ 4", "fwd"}, {"▶ 8", "fwd"}, {"▶ 16", "fwd"}}));

    // Key: shifts toggle, pad 3 key-syncs and lights for any shift, pad 7 locks.
    EXPECT_EQ(labels(app, deck, PadMode::key),
              (std::vector<Label>{{"-3", "semi"}, {"-2", "semi"}, {"-1", "semi"}, {"k.sync", "match"}, {"+1", "semi"},
                                  {"+2", "semi"}, {"+3", "semi"}, {"lock", "on"}}));
    app.pressPad(deck, PadMode::key, 5, true, false);
    EXPECT_EQ(deck.keyShift(), 2);
    EXPECT_EQ(lights(app, deck, PadMode::key), (std::vector<bool>{false, false, false, true, false, true, false, true}));
    EXPECT_EQ(app.padLabel(deck, PadMode::key, 3), (Label{"k.sync", "clear"}));
    app.pressPad(deck, PadMode::key, 5, true, false);
    EXPECT_EQ(deck.keyShift(), 0);
    app.pressPad(deck, PadMode::key, 0, true, false);
    app.pressPad(deck, PadMode::key, 0, false, false);
    EXPECT_EQ(deck.keyShift(), -3);
    app.pressPad(deck, PadMode::key, 7, true, false);
    EXPECT_FALSE(deck.keyLock());
    EXPECT_EQ(app.padLabel(deck, PadMode::key, 7), (Label{"lock", "off"}));
    app.pressPad(deck, PadMode::key, 3, true, false);
    EXPECT_EQ(r.rig.world.journal, QStringList{"keySync(1)"});

    // Loops: the active length's pad leaves the loop; another length sets its own.
    EXPECT_EQ(labels(app, deck, PadMode::beatLoop),
              (std::vector<Label>{{"1/4", "loop"}, {"1/2", "loop"}, {"1", "loop"}, {"2", "loop"}, {"4", "loop"},
                                  {"8", "loop"}, {"16", "loop"}, {"32", "loop"}}));
    EXPECT_EQ(lights(app, deck, PadMode::beatLoop), std::vector<bool>(8, false));
    app.pressPad(deck, PadMode::beatLoop, 4, true, false);
    r.render();
    EXPECT_TRUE(s.loopActive.load());
    EXPECT_NEAR(s.loopEnd.load() - s.loopStart.load(), 2.0, 1e-3);
    EXPECT_EQ(lights(app, deck, PadMode::beatLoop), (std::vector<bool>{false, false, false, false, true, false, false, false}));
    app.pressPad(deck, PadMode::beatLoop, 4, true, false);
    r.render();
    EXPECT_FALSE(s.loopActive.load());
    app.pressPad(deck, PadMode::beatLoop, 5, true, false);
    r.render();
    EXPECT_NEAR(s.loopEnd.load() - s.loopStart.load(), 4.0, 1e-3);
    app.pressPad(deck, PadMode::beatLoop, 4, true, false);
    r.render();
    EXPECT_TRUE(s.loopActive.load());
    EXPECT_NEAR(s.loopEnd.load() - s.loopStart.load(), 2.0, 1e-3);
    EXPECT_EQ(deck.autoLoopBeats(), 4.0);
}

TEST(PerformancePads, ModelPadsFollowTheWorkflowAndIndicesOutsideTheEightDoNothing)
{
    PerformanceRig r;
    ASSERT_TRUE(r.booted);
    AppModel& app = r.app();
    DeckModel& deck = r.deck(0);
    EXPECT_EQ(labels(app, deck, PadMode::ai),
              (std::vector<Label>{{"fork", "the mix → zelvo-0"}, {"drop", "in sync"}, {"extend", "continue"},
                                  {"re-roll", "same spot"}, {"◀ take", "previous"}, {"take ▶", "next"},
                                  {"chain", "always on"}, {"cancel", "render"}}));
    r.fake.snoozed = true;
    EXPECT_EQ(lights(app, deck, PadMode::ai), std::vector<bool>(8, false));
    r.fake.rendering = true;
    r.rig.world.dropStatus = DropStatus::waiting(3.0);
    EXPECT_EQ(lights(app, deck, PadMode::ai), (std::vector<bool>{true, true, false, false, false, false, false, true}));
    for (int pad = 0; pad < 8; ++pad) {
        app.pressPad(deck, PadMode::ai, pad, true, false);
        app.pressPad(deck, PadMode::ai, pad, false, false);
    }
    EXPECT_EQ(r.rig.world.journal, (QStringList{"workflow.fork(1)", "workflow.drop", "workflow.extend(0)", "reroll",
                                                "stepTake(-1)", "stepTake(1)", "resumeChain", "cancel"}));
    EXPECT_TRUE(app.padLit(deck, PadMode::ai, 6));

    // Outside 0-7: no action, no light, no text, in every mode.
    r.rig.world.journal.clear();
    app.mixer().setBeatFXOn(true);
    app.mixer().setBeatFXTarget(1);
    deck.voice()->send(DeckCommand::setHotCue(0, 1.0));
    r.render();
    for (PadMode mode : {PadMode::hotCue, PadMode::padFX, PadMode::beatJump, PadMode::ai, PadMode::key, PadMode::beatLoop})
        for (int index : {-1, 8, 9, INT_MIN, INT_MAX}) {
            for (int edges = 0; edges < 4; ++edges)
                app.pressPad(deck, mode, index, edges & 1, edges & 2);
            EXPECT_FALSE(app.padLit(deck, mode, index)) << int(mode) << " " << index;
            EXPECT_EQ(app.padLabel(deck, mode, index), Label{}) << int(mode) << " " << index;
        }
    r.render();
    EXPECT_TRUE(r.rig.world.journal.isEmpty());
    EXPECT_EQ(deck.keyShift(), 0);
    EXPECT_TRUE(deck.keyLock());
    EXPECT_EQ(deck.beatJumpBeats(), 4.0);
    EXPECT_TRUE(app.mixer().beatFXOn());
    EXPECT_NEAR(r.state(0).position.load(), 0.0, 1e-9);
    EXPECT_FALSE(r.state(0).loopActive.load());
    EXPECT_EQ(r.state(0).hotCues[0].load(), 1.0);
}

} // namespace
} // namespace zelvo::test
