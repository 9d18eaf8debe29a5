// The head start of a 10-minute track is written while two decks play on the
// virtual output, which asks for every slice at its real deadline: the write
// runs beside the audio and no slice comes late.
#include "state/AppModel.h"

#include "AppTestSupport.h"
#include "audio/AudioIO.h"
#include "generation/AheadEncoding.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "platform/VirtualOutputBackend.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

TEST(AheadEncodingSerial, ATenMinuteWriteBesideTwoPlayingDecksMakesNoSliceLate)
{
    test::AppRig rig;
    test::ScopedBackend<VirtualOutputBackend> output;
    BrainHealth health;
    health.ok = true;
    health.fastLoaded = true;
    rig.world.health = health;
    test::writeTone(rig.home.file("a.wav"), 30.0);
    test::writeTone(rig.home.file("b.wav"), 30.0);
    test::writeTone(rig.home.file("long.wav"), 600.0, 8000.0);
    AppModel& app = rig.make();
    std::vector<TrackRecord> records;
    for (const char* name : {"a.wav", "b.wav", "long.wav"})
        records.push_back(app.library().importItems({rig.home.file(name)}).at(0));
    app.boot();
    ASSERT_TRUE(test::spinUntil([&] { return app.audio().io() != nullptr; }, 20.0));
    const auto loaded = [&](int deck, const TrackRecord& record) {
        return app.deck(deck).track() && app.deck(deck).track()->id == record.id && !app.deck(deck).loading();
    };
    app.load(records[0].id, 0);
    app.load(records[1].id, 1);
    ASSERT_TRUE(test::spinUntil([&] { return loaded(0, records[0]) && loaded(1, records[1]); }, 30.0));
    // The two short loads were written ahead as well; let them finish first.
    ASSERT_TRUE(test::spinUntil([] { return ahead::writersInFlight() == 0; }, 30.0));
    app.deck(0).playPause();
    app.deck(1).playPause();
    test::spinUntil([] { return false; }, 0.5);
    const int underrunsBefore = app.audio().io()->underruns();

    app.load(records[2].id, 2);
    ASSERT_TRUE(test::spinUntil([&] { return loaded(2, records[2]); }, 60.0));
    // The load has landed and the main thread is free while the writer works.
    EXPECT_EQ(ahead::writersInFlight(), 1);
    ASSERT_TRUE(test::spinUntil([] { return ahead::writersInFlight() == 0; }, 60.0));

    EXPECT_EQ(app.audio().io()->underruns(), underrunsBefore);
    app.tick();
    EXPECT_TRUE(app.deck(0).live().playing);
    EXPECT_TRUE(app.deck(1).live().playing);
    const QString file = ahead::scratchFile(app.brainPaths().scratch(), records[2].id);
    EXPECT_EQ(QFileInfo(file).size(), 44 + qint64(600.0 * 44100.0) * 4);
    app.shutdown();
    rig.app.reset();
}

} // namespace
} // namespace zelvo
