// "--demo": the stage set up from the library. Generated takes and their
// sources are real WAV files in the library; the decks play on the engine of
// the scripted device, rendered by hand on the manual clock.
#include "state/AppModel.h"

#include "AppTestSupport.h"
#include "audio/DeckVoice.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cmath>

namespace zelvo {
namespace {

using test::AppRig;

// Low-rate files keep the long records small; the engine resamples them.
constexpr double kFileRate = 8000.0;

struct Take {
    const char* name;
    const char* source;           // file name of the source record
    double seam = 12.0;
    double sourceOffset = 3.0;
    int addedMinute = 0;          // minutes after the clock's start
    double duration = 20.0;       // what the record says
    bool segment = false;
    bool sourceRemoved = false;
};

struct Plain {
    const char* name;
    double seconds;               // the file's length and the record's duration
};

class DemoRig {
public:
    // Imports the plain records, then the takes (in the given library order).
    DemoRig(QStringList arguments, const std::vector<Plain>& plains, const std::vector<Take>& takes,
            bool output = true)
    {
        if (output)
            rig.addOutput();
        else {
            FakeAudioBackend::Device device;
            device.uid = "slow";
            device.hangOnInitialize = true;
            hanging = rig.backend->addDevice(device);
            rig.backend->setDefaultOutput(hanging);
        }
        arguments.prepend("--demo");
        app = &rig.make(arguments);
        for (const Plain& plain : plains) {
            test::writeTone(rig.home.file(plain.name), plain.seconds, kFileRate);
            TrackRecord record = app->library().importItems({rig.home.file(plain.name)}).at(0);
            record.duration = plain.seconds;
            record.added = rig.scheduler.now().addDays(-1);
            app->library().update(record);
            ids[plain.name] = record.id;
        }
        QSet<QUuid> removed;
        for (const Take& take : takes) {
            test::writeTone(rig.home.file(take.name), 20.0, kFileRate);
            TrackRecord record = app->library().importItems({rig.home.file(take.name)}).at(0);
            OutpaintInfo info;
            info.sourceID = take.sourceRemoved ? QUuid::createUuid() : ids.value(take.source);
            info.seam = take.seam;
            info.sourceOffset = take.sourceOffset;
            if (take.segment)
                info.segmentOf = ids.value(take.source);
            record.outpaint = info;
            record.duration = take.duration;
            record.added = rig.scheduler.now().addSecs(60 * take.addedMinute);
            app->library().update(record);
            ids[take.name] = record.id;
        }
    }

    // Runs the manual clock in 0.05 s steps with renders, `seconds` long.
    void run(double seconds)
    {
        for (double t = 0; t < seconds; t += 0.05) {
            rig.scheduler.advance(0.05);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (app->audio().io())
                rig.backend->pump(0.05);
            app->tick();
        }
    }

    // Boots and runs the clock until no deck loads any more.
    void bootAndSettle(double seconds = 1.0)
    {
        app->boot();
        test::spinUntil([&] { return app->audio().io() != nullptr; }, 5.0);
        for (int i = 0; i < 200; ++i) {
            run(0.05);
            bool busy = false;
            for (int d = 0; d < AppModel::kDecks; ++d)
                busy = busy || app->deck(d).loading();
            if (!busy && i > 4)
                break;
            test::spinUntil([] { return false; }, 0.01);
        }
        run(seconds);
    }

    std::optional<QUuid> trackOn(int deck) const
    {
        const auto& track = app->deck(deck).track();
        return track ? std::optional<QUuid>(track->id) : std::nullopt;
    }

    double position(int deck) const
    {
        const std::shared_ptr<DeckVoice> voice = app->deck(deck).voice();
        return voice ? voice->state().position.load() : -1.0;
    }

    // Lets a hanging output open after all, so no attempt outlives the test.
    void releaseOutput()
    {
        if (!hanging)
            return;
        rig.backend->device(*hanging).hangOnInitialize = false;
        rig.backend->releaseHangs();
        test::spinUntil([&] { return app->audio().io() != nullptr; }, 10.0);
        test::settle();
    }

    AppRig rig;
    AppModel* app = nullptr;
    std::optional<AudioObjectId> hanging;
    QHash<QString, QUuid> ids;
};

TEST(StageDemo, ChoosesTheNewestUsableTakeAndItsSource)
{
    struct Case {
        const char* name;
        std::vector<Take> takes;
        const char* chosen; // null: nothing loads
    };
    const std::vector<Plain> sources = {{"one.wav", 40.0}, {"two.wav", 40.0}};
    const Case cases[] = {
        {"the newer of two, whatever the library order",
         {{"new.wav", "two.wav", 12, 3, 5}, {"old.wav", "one.wav", 12, 3, 1}},
         "new.wav"},
        {"segments, long takes and orphans are never chosen",
         {{"plain.wav", "one.wav", 12, 3, 1},
          {"segment.wav", "two.wav", 12, 3, 9, 20, true},
          {"long.wav", "two.wav", 12, 3, 9, 400.0},
          {"orphan.wav", "two.wav", 12, 3, 9, 20, false, true}},
         "plain.wav"},
        {"only unusable takes", {{"long.wav", "two.wav", 12, 3, 9, 400.0}}, nullptr},
        {"no takes", {}, nullptr},
        {"an empty library", {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool empty = QString(c.name) == "an empty library";
        DemoRig demo({"--play", "--demo-four", "--demo-fork"}, empty ? std::vector<Plain>{} : sources, c.takes);
        demo.bootAndSettle();
        if (!c.chosen) {
            for (int d = 0; d < AppModel::kDecks; ++d)
                EXPECT_FALSE(demo.trackOn(d));
            EXPECT_FALSE(demo.app->mixer().channel(1).sync());
            EXPECT_TRUE(demo.rig.world.journal.filter("workflow.fork").isEmpty());
            continue;
        }
        const Take* take = nullptr;
        for (const Take& t : c.takes)
            if (QString(t.name) == c.chosen)
                take = &t;
        EXPECT_EQ(demo.trackOn(1), demo.ids.value(c.chosen));
        EXPECT_EQ(demo.trackOn(0), demo.ids.value(take->source));
        EXPECT_FALSE(demo.trackOn(2));
    }
}

TEST(StageDemo, PlacesBothDecksBeforeTheSeamSyncsChannelTwoAndLeansTheCrossfader)
{
    struct Case {
        double seam, sourceOffset;
        double deck1, deck2;
    };
    const Case cases[] = {
        {12.0, 3.0, 9.0, 6.0},
        {4.0, 10.0, 8.0, 0.0}, // the seam 4 s in: deck 2 at 0, deck 1 at the offset less 2 s
        {4.0, 1.0, 0.0, 0.0},  // and deck 1 clamped at 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seam * 100 + c.sourceOffset);
        DemoRig demo({}, {{"source.wav", 40.0}}, {{"take.wav", "source.wav", c.seam, c.sourceOffset}});
        demo.bootAndSettle();
        ASSERT_TRUE(demo.trackOn(1));
        EXPECT_NEAR(demo.position(0), c.deck1, 0.01);
        EXPECT_NEAR(demo.position(1), c.deck2, 0.01);
        EXPECT_FALSE(demo.app->deck(0).live().playing);
        EXPECT_FALSE(demo.app->deck(1).live().playing);
        EXPECT_TRUE(demo.app->mixer().channel(1).sync());
        EXPECT_FALSE(demo.app->mixer().channel(0).sync());
        EXPECT_DOUBLE_EQ(demo.app->mixer().crossfader(), -0.35);
    }
}

TEST(StageDemo, PlayStartsBothDecksAndTheLaterStepsWaitTwoSeconds)
{
    struct Case {
        QStringList arguments;
        QStringList journal; // fork and extend calls after the pause
        bool playing;
    };
    const Case cases[] = {
        {{}, {}, false},
        {{"--demo-fork", "--demo-extend"}, {"workflow.fork(1)", "workflow.extend(0)"}, false},
        {{"--play", "--demo-fork"}, {"workflow.fork(1)"}, true},
        {{"--play", "--demo-extend"}, {"workflow.extend(0)"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        DemoRig demo(c.arguments, {{"source.wav", 40.0}}, {{"take.wav", "source.wav"}});
        demo.bootAndSettle(0.5);
        ASSERT_TRUE(demo.trackOn(1));
        EXPECT_EQ(demo.app->deck(0).live().playing, c.playing);
        EXPECT_EQ(demo.app->deck(1).live().playing, c.playing);
        const auto calls = [&] {
            QStringList out;
            for (const QString& line : demo.rig.world.journal)
                if (line.startsWith("workflow.fork") || line.startsWith("workflow.extend"))
                    out << line;
            return out;
        };
        if (c.playing) {
            EXPECT_TRUE(calls().isEmpty());
            // Both started together: still in step.
            EXPECT_NEAR(demo.position(0) - demo.position(1), 3.0, 0.05);
            demo.run(1.6);
        }
        EXPECT_EQ(calls(), c.journal);
    }
}

TEST(StageDemo, FourDecksTakeTheFirstTwoLongRecordsAtSixtySeconds)
{
    struct Case {
        const char* name;
        std::vector<Plain> plains;
        bool play;
        std::vector<const char*> onDecks; // decks 3 and 4
    };
    const Case cases[] = {
        {"none long enough", {{"short.wav", 100.0}}, true, {}},
        {"one", {{"short.wav", 100.0}, {"long.wav", 121.0}}, true, {"long.wav"}},
        {"three, the first two taken", {{"a.wav", 125.0}, {"b.wav", 130.0}, {"c.wav", 140.0}}, true,
         {"a.wav", "b.wav"}},
        {"two without play", {{"a.wav", 125.0}, {"b.wav", 130.0}}, false, {"a.wav", "b.wav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Plain> plains = c.plains;
        plains.push_back({"source.wav", 40.0});
        QStringList arguments{"--demo-four"};
        if (c.play)
            arguments << "--play";
        DemoRig demo(arguments, plains, {{"take.wav", "source.wav"}});
        demo.bootAndSettle(0.5);
        demo.run(1.6); // the pause after starting
        demo.bootAndSettle(0.2);
        for (std::size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            const int deck = 2 + int(i);
            if (i >= c.onDecks.size()) {
                EXPECT_FALSE(demo.trackOn(deck));
                EXPECT_FALSE(demo.app->deck(deck).live().playing);
                continue;
            }
            EXPECT_EQ(demo.trackOn(deck), demo.ids.value(c.onDecks[i]));
            const bool plays = c.play && deck == 2;
            EXPECT_EQ(demo.app->deck(deck).live().playing, plays);
            if (plays)
                EXPECT_GT(demo.position(deck), 60.0);
            else
                EXPECT_NEAR(demo.position(deck), 60.0, 0.01);
        }
    }
}

TEST(StageDemo, WithoutAnOutputThePlacementStillRunsAfterThePolls)
{
    DemoRig demo({"--demo-fork"}, {{"source.wav", 40.0}}, {{"take.wav", "source.wav"}}, false);
    demo.app->boot();
    demo.run(9.0);
    EXPECT_FALSE(demo.app->mixer().channel(1).sync());
    demo.run(1.5);
    // No engine: the loads find no voice, the rest goes on.
    EXPECT_TRUE(demo.app->mixer().channel(1).sync());
    EXPECT_DOUBLE_EQ(demo.app->mixer().crossfader(), -0.35);
    EXPECT_EQ(demo.rig.world.journal.filter("workflow.fork"), QStringList{"workflow.fork(1)"});
    demo.releaseOutput();
    EXPECT_EQ(AudioSystem::attemptsInFlight(), 0);
}

} // namespace
} // namespace zelvo
