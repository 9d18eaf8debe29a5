// The stand-in model server's long render: 196 s of stereo written whole, in
// order, from a 16 s context. (How fast it is written is measured by
// bench_Brain, BM_Brain_LongRender.)
#include "generation/BrainClient.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"

#include "WavFileSupport.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::StandInBrain;

TEST(StandInBrainLongRender, AThreeMinuteRenderIsWrittenWhole)
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
    EXPECT_GE(done->elapsed, 0.0);
    const auto out = test::readWav(r.out);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->frames(), 196 * 44100);
    EXPECT_EQ(out->channels, 2);
}

} // namespace
} // namespace zelvo
