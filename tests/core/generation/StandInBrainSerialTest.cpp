// Timing of the stand-in model server, run alone: a long render is written by
// slicing bytes, well within a second.
#include "generation/BrainClient.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"

#include "WavFileSupport.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::StandInBrain;

TEST(StandInBrainSerialTest, AThreeMinuteRenderIsWrittenWellUnderASecond)
{
    StandInBrain brain(std::map<QString, QString>{{"KAVRI_BRAIN_STEP_DELAY", "0"}});
    ASSERT_TRUE(brain.start());
    OutpaintRequest r;
    r.context = brain.scratch() + "/ctx-LONG.wav";
    r.contextSeconds = 16.0;
    r.seconds = 16.0 + 180.0;
    r.steps = 1;
    r.seed = 5;
    r.out = brain.scratch() + "/gen-LONG.wav";
    ASSERT_TRUE(test::writeWav(r.context, 44100, 2, test::beatTrack(126, 16 * 44100 + 2048, 44100, 2)));

    ManualScheduler clock;
    BrainClient client(brain.base(), clock);
    QObject context;
    std::optional<BrainEvent::Done> done;
    bool ended = false;
    BrainStream stream = client.outpaint(
        r, &context,
        [&](const BrainEvent& e) {
            if (const auto* d = e.as<BrainEvent::Done>())
                done = *d;
        },
        [&](const std::optional<BrainFailure>&) { ended = true; });
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return ended; }, 30));
    ASSERT_TRUE(done.has_value());
    EXPECT_DOUBLE_EQ(done->seconds, 196.0);
    // The server's own clock, from the request to "done": reading the context,
    // estimating the tempo, building and writing 196 s of stereo.
    EXPECT_LT(done->elapsed, 0.8);
    EXPECT_EQ(test::readWav(r.out)->frames(), 196 * 44100);
}

} // namespace
} // namespace zelvo
