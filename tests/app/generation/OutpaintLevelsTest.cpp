// Levels through the generation workflow on the engine rendered by hand and the
// stand-in model server (which continues a context with its own bars, so a
// take's level follows its context): the fork of the mix against what the room
// heard, the quiet-continuation warning, the incoming record's ramp in a room
// capture, and the re-roll that has no window.
#include "WorkflowRigSupport.h"

#include "audio/GainLaws.h"
#include "generation/ForkPlanner.h"
#include "generation/OutpaintComposer.h"
#include "library/AudioFileIO.h"
#include "platform/TextFormat.h"
#include "support/AudioFixtures.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>

namespace zelvo::test {
namespace {

namespace OC = OutpaintComposer;
constexpr double kTwoPi = 6.283185307179586;

// Writes a stereo WAV at the engine's rate of a sine of `hz` whose rms follows
// `level` (a function of the time in seconds).
void writeTone(ModelRig& rig, const QString& path, double seconds, double hz, const std::function<double(double)>& level)
{
    const double rate = rig.engine->sampleRate();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const Audio audio = generate(2, std::int64_t(seconds * rate), rate, [&](int, std::int64_t frame) {
        const double t = double(frame) / rate;
        return float(level(t) * std::sqrt(2.0) * std::sin(kTwoPi * hz * t));
    });
    writeAudioFile(path.toStdString(), AudioFormat::wav16, audio);
}

TrackRecord importTone(ModelRig& rig, const QString& name, double seconds, double hz,
                       const std::function<double(double)>& level)
{
    const QString path = rig.home.file(QStringLiteral("music/") + name + QStringLiteral(".wav"));
    writeTone(rig, path, seconds, hz, level);
    return rig.import(path);
}

// 250 ms windows that alternate loud (0.14 rms) and quiet (0.033 rms), loud
// first from the track's start.
double beating(double t)
{
    return std::fmod(t, 0.5) < 0.25 ? 0.14 : 0.033;
}

// The body level of a stretch read with the windows in their best phase: the
// material's loud and quiet windows are 250 ms long, so a measure whose windows
// straddle them would read the two stretches differently.
float body(const TrackBuffer& b, std::int64_t from, std::int64_t count)
{
    const std::int64_t w = std::int64_t(b.sampleRate * 0.25);
    float best = 0.0f;
    for (int k = 0; k < 8; ++k) {
        const std::int64_t shift = w * k / 8;
        best = std::max(best, OC::bodyLevel(b, from + shift, count - shift, b.sampleRate));
    }
    return best;
}

double dB(double ratio)
{
    return 20.0 * std::log10(ratio);
}

void seek(ModelRig& rig, int deck, double seconds)
{
    rig.deck(deck).voice()->send(DeckCommand::seek(seconds));
    rig.render(64);
}

struct Levels : ::testing::Test {
    void start()
    {
        w = std::make_unique<WorkflowRig>();
        w->model->setSettings(shortSettings());
    }
    void learnRate(double rate)
    {
        w->rig.defaults.setReal(QString::fromLatin1(OutpaintModel::renderRateKey), rate);
        w->model = std::make_unique<OutpaintModel>(w->rig.defaults, w->rig.clock);
        w->model->setApp(w->links);
        w->model->setSettings(shortSettings());
    }
    OutpaintModel& m() { return *w->model; }
    std::unique_ptr<WorkflowRig> w;
};

// A fork of the mix of two decks playing beating material in step, with the
// master below unity: the take's body after the seam is the body the room heard.
// At the default render rate only about 0.37 s of the context was heard (one
// window, here a quiet one), which used to set the whole take's level; with a
// learnt fast rate the room is long enough to match to.
TEST_F(Levels, AForkOfTheMixComesBackAtTheLevelTheRoomHeard)
{
    // Where in the beat the short room would begin. With enough room the level
    // follows the matching of old, whose 250 ms windows read this material by
    // where they fall (about ±2 dB between the heard part and the ahead mix);
    // that fork is timed where both fall alike.
    struct Case {
        const char* what;
        std::optional<double> rate;
        int contextBars;
        bool shortRoom;
        double phase;
    };
    const Case cases[] = {
        {"default render rate", std::nullopt, 3, true, 0.25}, // a quiet window
        {"learnt fast rate", 0.2, 16, false, 0.07},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        if (c.rate)
            learnRate(*c.rate);
        ForkSettings settings = shortSettings();
        settings.contextBars = c.contextBars;
        m().setSettings(settings);
        const TrackRecord one = importTone(w->rig, QStringLiteral("One"), 90.0, 220.0, beating);
        const TrackRecord two = importTone(w->rig, QStringLiteral("Two"), 90.0, 330.0, beating);
        w->rig.load(0, one);
        w->rig.load(1, two);
        w->rig.mixer.setMaster(0.8); // -3.3 dB after the channels
        for (int d : {0, 1}) {
            seek(w->rig, d, 1.0);
            w->rig.deck(d).playPause();
        }
        // Long enough for the tap to hold what the fork hears, then on to the
        // moment the heard part begins with a quiet window.
        w->rig.run(c.shortRoom ? 3.0 : 20.0);
        // The short room: the 4-latent floor, ending one engine slice behind the
        // playhead.
        const double heardShort =
            16384.0 / 44100.0 + double(MasterTap::writerLead) / w->rig.engine->sampleRate();
        ASSERT_TRUE(w->rig.runUntil(
            [&] {
                const double start = std::fmod(w->rig.state(0).position.load() - heardShort, 0.5);
                return start > c.phase && start < c.phase + 0.02;
            },
            2.0));

        const MasterTap& tap = *w->rig.engine->masterTap();
        const std::optional<MasterTap::Snapshot> heard = tap.snapshot(std::min(tap.available(), 8.0));
        ASSERT_TRUE(heard && heard->buffer);
        const float master = body(*heard->buffer, 0, heard->buffer->frames);
        ASSERT_GT(master, 0.05f);

        m().fork(true);
        ASSERT_TRUE(m().pendingPlan());
        const ForkPlan plan = *m().pendingPlan();
        const QString line = w->log.starting(QStringLiteral("fork the mix:")).value(0);
        const double heardSeconds = line.section(QLatin1Char(','), 1, 1).section(QLatin1Char('s'), 0, 0).toDouble();
        if (c.shortRoom)
            EXPECT_LT(heardSeconds, 0.5) << line.toStdString();
        else
            EXPECT_GT(heardSeconds, OC::kMinimumMatchSeconds) << line.toStdString();
        ASSERT_TRUE(w->settle(60));
        ASSERT_TRUE(m().readyMix());
        const TrackBuffer& take = *m().readyMix()->buffer;
        const std::int64_t seam = std::int64_t(std::llround(plan.seam * take.sampleRate));
        const std::int64_t skip = std::int64_t(take.sampleRate * 0.5);
        ASSERT_GT(take.frames, seam + 4 * skip);
        const float continuation = body(take, seam + skip, take.frames - seam - skip);
        EXPECT_NEAR(dB(continuation / master), 0.0, 1.5)
            << "take " << continuation << " against the master's " << master;
        w.reset();
    }
}

// A continuation that stays far below its source even at the largest gain is
// reported in the log; one that matches is not.
TEST_F(Levels, AContinuationThatStaysQuietIsReported)
{
    const QString warning = QStringLiteral("splice: the continuation came back quiet even after matching");
    struct Case {
        const char* what;
        std::function<double(double)> level;
        bool warned;
    };
    const Case cases[] = {
        // Loud up to 30 s, then 26 dB down: the context before a seam at 38 s is
        // quiet, the source's last 30 s mostly loud.
        {"a quiet context after a loud source", [](double t) { return t < 30.0 ? 0.2 : 0.01; }, true},
        {"a steady source", [](double) { return 0.2; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        const TrackRecord source = importTone(w->rig, QStringLiteral("Source"), 60.0, 220.0, c.level);
        w->rig.load(0, source);
        w->forkDeck1(36.0);
        ASSERT_TRUE(m().pendingPlan());
        ASSERT_EQ(m().pendingPlan()->seam, 38.0);
        ASSERT_TRUE(w->settle());
        EXPECT_EQ(m().phase(), OutpaintPhase::idle());
        ASSERT_EQ(w->log.starting(QStringLiteral("splice: take ")).size(), 1);
        EXPECT_EQ(w->log.starting(warning).size(), c.warned ? 1 : 0) << w->log.lines.join('\n').toStdString();
        w.reset();
    }
}

// A room capture that bridges into deck 1's record: the record comes in at
// max(deck 1's heard gain, 0.55) and rises to 0.95 by the seam, whatever the
// stretch's level correction does to both ends alike.
TEST_F(Levels, TheIncomingRecordRampsUpAcrossTheRoomCapture)
{
    struct Case {
        const char* what;
        double fader;
        double from;
    };
    const Case cases[] = {
        {"deck 1's fader closed", 0.0, 0.55},
        {"deck 1's fader at 0.9", 0.9, faderGain(0.9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        // Deck 2 plays a quiet take of another record; deck 1 a steady tone.
        const TrackRecord other = importTone(w->rig, QStringLiteral("Other"), 60.0, 110.0, [](double) { return 0.01; });
        const TrackRecord incoming = importTone(w->rig, QStringLiteral("Incoming"), 60.0, 1000.0, [](double) { return 0.2; });
        const QString takePath = w->rig.home.file(QStringLiteral("takes/Take.wav"));
        writeTone(w->rig, takePath, 40.0, 110.0, [](double) { return 0.01; });
        TrackRecord take = TrackRecord::forFile(takePath, w->rig.clock.now());
        take.duration = 40.0;
        take.grid = BeatGrid(120.0, 0.0, 4);
        OutpaintInfo info;
        info.sourceID = other.id;
        info.sourceTitle = other.title;
        info.seam = 8.0;
        take.outpaint = info;
        w->rig.library->addOutpaint(take, WaveformData{});
        w->rig.load(0, incoming);
        w->rig.load(1, take);
        w->rig.mixer.channel(0).setCrossfaderAssign(0);
        w->rig.mixer.channel(0).setFader(c.fader);
        for (int d : {0, 1}) {
            seek(w->rig, d, 2.0);
            w->rig.deck(d).playPause();
        }
        w->rig.run(8.0);

        const QStringList before = w->scratchFiles();
        const double position = w->rig.state(1).position.load();
        m().extend(false);
        ASSERT_EQ(m().notice(), QStringLiteral("LISTENING TO THE ROOM"));
        ASSERT_TRUE(m().pendingPlan());
        const ForkPlan plan = *m().pendingPlan();
        QString capture;
        for (const QString& name : w->scratchFiles()) {
            if (!before.contains(name) && name.startsWith(QStringLiteral("room-")))
                capture = QDir(w->brain->scratch()).filePath(name);
        }
        ASSERT_FALSE(capture.isEmpty());
        const TrackBufferRef context = AudioFileIO::decode(capture.toStdString(), 44100.0);
        ASSERT_TRUE(context);

        // The take part runs from the playhead to the seam, at most the context.
        const double sr = context->sampleRate;
        const double takePart = std::min(plan.seam - position, plan.contextSeconds);
        ASSERT_GT(takePart, 3.0);
        const std::int64_t from = std::int64_t(std::llround((plan.contextSeconds - takePart) * sr));
        const std::int64_t count = std::int64_t(std::llround(takePart * sr));
        const std::int64_t window = std::int64_t(sr * 0.2);
        // Past the half-second fade-in, and the last 200 ms before the seam.
        const std::int64_t early = from + std::int64_t(sr * 0.6);
        const std::int64_t late = from + count - window;
        auto gainAt = [&](std::int64_t frame) {
            const double t = double(frame - from) / double(count - 1);
            return c.from + t * (0.95 - c.from);
        };
        const double expected = gainAt(late + window / 2) / gainAt(early + window / 2);
        const double measured = OC::rms(*context, late, window) / OC::rms(*context, early, window);
        EXPECT_NEAR(measured, expected, 0.03 * expected) << "from " << c.from << " to 0.95";
        ASSERT_TRUE(w->settle());
        w.reset();
    }
}

// A take whose seam leaves no window of at least 4 s to re-render, or no room
// to write under the length limit, cannot be re-rolled; nothing starts.
TEST_F(Levels, ATakeWithoutAWindowCannotBeReRolled)
{
    start();
    const TrackRecord source = w->rig.drumTrack(QStringLiteral("Source"), 30.0);
    for (const double seam : {3.0, 189.5}) {
        SCOPED_TRACE(seam);
        TrackRecord take = w->addTake(source, 2.0, w->rig.clock.now());
        take.outpaint->seam = seam;
        w->rig.library->update(take);
        w->rig.load(1, take);
        m().reroll();
        EXPECT_EQ(m().phase(), OutpaintPhase::failed(QStringLiteral("CAN'T RE-ROLL THIS TAKE")));
        EXPECT_FALSE(m().hasTask());
        EXPECT_EQ(m().runID(), 0);
        EXPECT_FALSE(w->renderInFlight);
    }
}

} // namespace
} // namespace zelvo::test
