// A sound card that goes away in the middle of a set: what the program plays
// on, and what flow and the transition do while nothing renders.
#include "AppTestSupport.h"
#include "FlowSupport.h"
#include "audio/AudioIO.h"
#include "models/AudioSystem.h"
#include "models/TransitionModel.h"
#include "platform/FakeAudioBackend.h"

#include <gtest/gtest.h>

#include <memory>

namespace zelvo {
namespace {

using Kind = TransitionModel::Phase::Kind;
using test::SetRig;

// The card is pulled out while a mix waits for its downbeat. From its first
// failed write the output no longer counts as running: the decks, which stop
// moving, do not call the mix off and flow writes nothing of its own. The
// output comes back on the built-in device and the mix completes there.
TEST(OutputLoss, ACardPulledOutBeforeTheDownbeatKeepsTheMixAndPlaysOnTheBuiltIn)
{
    SetRig set({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Charlie")}, {120.0, 60.0, 60.0}, 4);
    AppModel& app = set.app;
    FakeAudioBackend::Device builtIn;
    builtIn.uid = "builtin";
    builtIn.name = "Built-in Output";
    builtIn.transport = transport::builtIn;
    builtIn.nominalSampleRate = test::kSetRate;
    set.rig.backend->addDevice(builtIn);
    ASSERT_NO_FATAL_FAILURE(set.flowFromTwentySeconds());
    app.transition().mix(1);
    ASSERT_TRUE(set.playUntil([&] { return app.transition().phase().kind == Kind::waitingDownbeat; }, 2.0));

    const std::shared_ptr<AudioIO> lost = app.audio().io();
    const qsizetype lines = set.notes().size();
    set.rig.backend->vanishDevice(lost->device().id);
    EXPECT_FALSE(app.audio().outputRunning());
    // Frames pass on an output that renders nothing until the janitor finds it.
    for (int i = 0; i < 60 && app.audio().io() == lost; ++i)
        ASSERT_NO_FATAL_FAILURE(set.frame());
    EXPECT_EQ(app.transition().phase().kind, Kind::waitingDownbeat);
    EXPECT_EQ(set.notes().mid(lines), QStringList()) << set.log();
    ASSERT_TRUE(test::spinUntil([&] { return app.audio().io() && app.audio().io()->running(); }));
    EXPECT_EQ(app.audio().io()->device().uid, "builtin");
    EXPECT_TRUE(set.playUntil([&] { return set.mixedIn(set[1]); }, 20.0)) << set.log();
}

} // namespace
} // namespace zelvo
