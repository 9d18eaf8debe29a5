// A long chain on the stand-in model server: deck 2 plays a take that the chain
// extends stretch after stretch. What the process holds in audio buffers stays
// within a few takes, however many stretches were written.
#include "WorkflowRigSupport.h"

#include "library/TrackBuffer.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zelvo::test {
namespace {

std::int64_t bytesOf(const TrackBufferRef& buffer)
{
    return buffer ? 2 * buffer->frames * std::int64_t(sizeof(float)) : 0;
}

TEST(ChainMemory, TwentyStretchesHoldNoMoreThanAFewTakes)
{
    WorkflowRig w;
    w.model->setSettings(shortSettings());
    const TrackRecord source = w.rig.drumTrack(QStringLiteral("Source"), 30.0);
    w.rig.load(0, source);
    w.forkDeck1(6.0);
    ASSERT_TRUE(w.settle());
    DeckModel& deck2 = w.rig.deck(1);
    ASSERT_TRUE(deck2.track() && deck2.track()->outpaint);
    deck2.playPause();
    w.rig.mixer.setCrossfader(1.0);

    const std::int64_t fixed = bytesOf(w.rig.deck(0).buffer());
    std::int64_t largestTake = bytesOf(deck2.buffer());
    std::int64_t most = TrackBuffer::liveBytes();
    std::int64_t seen = w.model->stretchesWritten();
    // 20 stretches of 8 s need about 160 s of play; a stall ends the loop.
    for (double played = 0.0; w.model->stretchesWritten() < 20 && played < 400.0; played += 0.05) {
        w.rig.run(0.05);
        w.model->tick();
        if (w.model->busy() || w.model->hasTask()) {
            ASSERT_TRUE(w.settle());
        }
        ASSERT_TRUE(w.rig.state(1).playing.load()) << "deck 2 ran out after " << played << " s";
        if (w.model->stretchesWritten() != seen) {
            seen = w.model->stretchesWritten();
            w.rig.render(64); // the engine hands back the buffer it swapped out
            largestTake = std::max(largestTake, bytesOf(deck2.buffer()));
        }
        most = std::max(most, TrackBuffer::liveBytes());
    }
    ASSERT_GE(w.model->stretchesWritten(), 20) << w.log.lines.join(QLatin1Char('\n')).toStdString();
    // Each segment is the take from a little before the context on: it does not
    // grow with the chain.
    EXPECT_LT(largestTake, 60 * 48000 * 2 * std::int64_t(sizeof(float))) << "a minute of audio at most";
    // Deck 1's record, the take playing and the next one being spliced (with
    // its decoded render): a few takes, whatever the number of stretches.
    EXPECT_LE(most, fixed + 3 * largestTake) << "most " << most << ", fixed " << fixed << ", take " << largestTake;
}

} // namespace
} // namespace zelvo::test
