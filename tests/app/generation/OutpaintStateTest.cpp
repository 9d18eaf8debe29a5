// The workflow's stored state, take files and names, the take list and the
// placement of takes on deck 2, without a model server.
#include "WorkflowRigSupport.h"

#include "generation/TakeWork.h"
#include "library/AudioFileError.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sndfile.h>

namespace zelvo::test {
namespace {

TEST(OutpaintState, SettingsComeFromTheDefaultsAndEveryAssignmentStoresThem)
{
    TempHome home;
    const QString file = home.file(QStringLiteral("defaults.json"));
    ManualScheduler clock;
    {
        UserDefaults defaults(file);
        defaults.setData(QStringLiteral("fork.settings"), QByteArray("{not json"));
        OutpaintModel model(defaults, clock);
        EXPECT_EQ(model.settings(), ForkSettings());
        EXPECT_EQ(defaults.data(QStringLiteral("fork.settings")), QByteArray("{not json")) << "written back at start";
        EXPECT_FALSE(defaults.contains(QStringLiteral("fork.renderRate")));

        int changed = 0;
        QObject::connect(&model, &OutpaintModel::settingsChanged, [&changed] { ++changed; });
        defaults.remove(QStringLiteral("fork.settings"));
        model.setSettings(model.settings());
        EXPECT_EQ(changed, 0);
        EXPECT_EQ(defaults.data(QStringLiteral("fork.settings")), ForkSettings().encode()) << "equal value stored";

        ForkSettings next = model.settings();
        next.seed = 77;
        model.setSettings(next);
        EXPECT_EQ(changed, 1);
    }
    UserDefaults reopened(file);
    OutpaintModel model(reopened, clock);
    EXPECT_EQ(model.settings().seed, 77);
}

TEST(OutpaintState, OnlyAUsableStoredRenderRateIsRead)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        const char* name;
        std::function<void(UserDefaults&)> store;
        std::optional<double> expected;
    };
    const std::vector<Row> rows = {
        {"missing", [](UserDefaults&) {}, std::nullopt},
        {"real", [](UserDefaults& d) { d.setReal(QStringLiteral("fork.renderRate"), 0.42); }, 0.42},
        {"zero", [](UserDefaults& d) { d.setReal(QStringLiteral("fork.renderRate"), 0.0); }, 0.0},
        {"integer", [](UserDefaults& d) { d.setInteger(QStringLiteral("fork.renderRate"), 2); }, 2.0},
        {"NaN", [nan](UserDefaults& d) { d.setReal(QStringLiteral("fork.renderRate"), nan); }, std::nullopt},
        {"infinite", [inf](UserDefaults& d) { d.setReal(QStringLiteral("fork.renderRate"), inf); }, std::nullopt},
        {"negative", [](UserDefaults& d) { d.setReal(QStringLiteral("fork.renderRate"), -0.5); }, std::nullopt},
        {"text", [](UserDefaults& d) { d.setString(QStringLiteral("fork.renderRate"), QStringLiteral("1")); },
         std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome home;
        UserDefaults defaults(home.file(QStringLiteral("defaults.json")));
        row.store(defaults);
        ManualScheduler clock;
        OutpaintModel model(defaults, clock);
        EXPECT_EQ(model.renderRate(), row.expected);
        if (row.expected) {
            EXPECT_EQ(defaults.real(QStringLiteral("fork.renderRate")), row.expected) << "written back as a number";
        }
    }
}

TEST(OutpaintState, PhaseProgressAndBusy)
{
    struct Row {
        OutpaintPhase phase;
        double progress;
        bool busy;
    };
    const std::vector<Row> rows = {
        {OutpaintPhase::rendering(QStringLiteral("decode"), 3, 8), 0.95, true},
        {OutpaintPhase::rendering(QStringLiteral("sample"), 4, 8), 0.475, true},
        {OutpaintPhase::rendering(QStringLiteral("sample"), 0, 0), 0.05, true},
        {OutpaintPhase::rendering(QStringLiteral("sample"), 3, -2), 0.05 + 0.85 * 3, true},
        {OutpaintPhase::capturing(), 0.02, true},
        {OutpaintPhase::composing(), 0.98, true},
        {OutpaintPhase::failed(QStringLiteral("x")), 0.0, false},
        {OutpaintPhase::idle(), 0.0, false},
    };
    for (const Row& row : rows) {
        EXPECT_NEAR(row.phase.progress(), row.progress, 1e-12);
        EXPECT_EQ(row.phase.busy(), row.busy);
    }
    EXPECT_NE(OutpaintPhase::rendering(QStringLiteral("a"), 1, 2), OutpaintPhase::rendering(QStringLiteral("a"), 2, 2));
    EXPECT_NE(OutpaintPhase::failed(QStringLiteral("a")), OutpaintPhase::failed(QStringLiteral("b")));
}

TEST(TakeNames, BaseStampAndLength)
{
    EXPECT_EQ(TakeWork::base(QStringLiteral("Intro/Outro")), QStringLiteral("Intro-Outro"));
    const QString sixtyOne = QString(61, QLatin1Char('a'));
    EXPECT_EQ(TakeWork::base(sixtyOne), QString(60, QLatin1Char('a')));
    // "é" as e + combining acute: 62 such characters are cut to 60 whole ones.
    QString combining;
    for (int i = 0; i < 62; ++i)
        combining += QStringLiteral("e\u0301");
    EXPECT_EQ(TakeWork::base(combining).size(), 120);

    EXPECT_EQ(TakeWork::stamp(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC)), QStringLiteral("260304-050607"));
    EXPECT_EQ(TakeWork::fileName(QStringLiteral("A"), QStringLiteral(" — fork "), QStringLiteral("260304-050607"), 1),
              QStringLiteral("A — fork 260304-050607.wav"));
    EXPECT_EQ(TakeWork::fileName(QStringLiteral("A"), QStringLiteral(" — chain "), QStringLiteral("s"), 3),
              QStringLiteral("A — chain s 3.wav"));

    // Sixty four-byte characters: the name loses whole characters until it fits.
    QString wide;
    for (int i = 0; i < 60; ++i)
        wide += QString::fromUcs4(U"\U0001F941");
    const QString name = TakeWork::fileName(TakeWork::base(wide), QStringLiteral(" — fork "),
                                            QStringLiteral("260304-050607"), 12);
    EXPECT_LE(name.toUtf8().size(), TakeWork::kNameBytes);
    EXPECT_TRUE(name.endsWith(QStringLiteral(" — fork 260304-050607 12.wav")));
    EXPECT_EQ(name.toUcs4().front(), U'\U0001F941') << "no half character left";
}

TEST(TakeFiles, WriteNeverReplacesAFileAndLeavesNothingOnFailure)
{
    TempHome home;
    const QString folder = home.file(QStringLiteral("takes"));
    QDir().mkpath(folder);
    TakeWork::TakeName name{folder, QStringLiteral("Song"), QStringLiteral(" — fork "), QStringLiteral("260101-120000"), 1};
    const QString first = name.path();
    QFile existing(first);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("an earlier take");
    existing.close();

    TrackBufferRef buffer(4800, 48000.0);
    buffer->left[10] = 0.25f;
    buffer->right[10] = -0.5f;
    name.skipTaken([](const QString& path) { return QFile::exists(path); });
    EXPECT_EQ(name.number, 2);
    TakeWork::TakeName fallback = name;
    fallback.number = 2;
    // Asked for the taken name, it moves on instead of replacing.
    const QString written = TakeWork::write(*buffer, first, fallback);
    EXPECT_EQ(written, folder + QStringLiteral("/Song — fork 260101-120000 2.wav"));
    QFile old(first);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("an earlier take"));

    SF_INFO info{};
    SNDFILE* file = sf_open(written.toUtf8().constData(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, 4800);
    std::vector<float> frames(std::size_t(info.frames) * 2);
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    EXPECT_EQ(frames[20], 0.25f);
    EXPECT_EQ(frames[21], -0.5f);

    // A folder that is not there: an error, and no file anywhere.
    const QString missing = home.file(QStringLiteral("gone/Song.wav"));
    EXPECT_THROW(TakeWork::write(*buffer, missing, fallback), AudioFileError);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(Takes, ListOrderSegmentsAndIndex)
{
    WorkflowRig w(false);
    const TrackRecord source = w.rig.drumTrack(QStringLiteral("Source"), 8.0);
    const TrackRecord other = w.rig.drumTrack(QStringLiteral("Other"), 8.0);
    EXPECT_TRUE(w.model->takes().empty()) << "both decks empty";
    EXPECT_FALSE(w.model->takeIndex());

    const QDateTime ten(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC);
    const TrackRecord a = w.addTake(source, 0, ten, std::nullopt, 4.0);
    const TrackRecord c = w.addTake(source, 0, ten.addSecs(300), std::nullopt, 4.0);
    const TrackRecord b = w.addTake(source, 0, ten.addSecs(120), std::nullopt, 4.0);
    const TrackRecord b2 = w.addTake(source, 0, ten.addSecs(120), std::nullopt, 4.0);
    const TrackRecord segment = w.addTake(source, 0, ten.addSecs(600), b.id, 4.0);
    w.addTake(other, 0, ten, std::nullopt, 4.0);

    w.rig.load(0, source);
    w.rig.load(1, other);
    auto ids = [&] {
        std::vector<QUuid> list;
        for (const TrackRecord& r : w.model->takes())
            list.push_back(r.id);
        return list;
    };
    EXPECT_EQ(ids(), (std::vector<QUuid>{a.id, b.id, b2.id, c.id})) << "deck 2 plain: deck 1's takes";
    EXPECT_FALSE(w.model->takeIndex());

    w.rig.load(1, *w.rig.library->track(segment.id));
    EXPECT_EQ(ids(), (std::vector<QUuid>{a.id, b.id, b2.id, c.id}));
    EXPECT_EQ(w.model->takeIndex(), 1) << "a segment stands for its first take";
    w.rig.load(0, other);
    EXPECT_EQ(w.model->takes().size(), 4u) << "deck 2's take names the source";
}

// Deck 2 plays (or not) a take of `source` 12 s in, with tempo and key set; a
// new take is placed from its file.
struct Placement : ::testing::Test {
    void SetUp() override
    {
        source = w.rig.drumTrack(QStringLiteral("Source"), 60.0);
        other = w.rig.drumTrack(QStringLiteral("Other"), 30.0);
        old = w.addTake(source, 40.0, QDateTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC));
    }
    void holdOldTake(bool playing)
    {
        w.rig.load(1, *w.rig.library->track(old.id));
        DeckModel& deck2 = w.rig.deck(1);
        deck2.setTempoRange(TempoRange::sixteen);
        deck2.setTempoFader(0.25);
        deck2.setKeyShift(-2);
        w.rig.engine->deck(1)->send(DeckCommand::seek(12.0));
        w.rig.render(64);
        if (playing) {
            deck2.playPause();
            w.rig.render(64);
        }
    }
    void place(const TrackRecord& take)
    {
        bool done = false;
        w.model->placeTake(take, {}, nullptr, [&done] { done = true; });
        ASSERT_TRUE(spinUntil([&done] { return done; }));
        w.rig.render(64);
    }
    double position(int deck) { return w.rig.state(deck).position.load(); }
    bool playing(int deck) { return w.rig.state(deck).playing.load(); }

    WorkflowRig w{false};
    TrackRecord source, other, old;
};

TEST_F(Placement, SameSourceWhilePlayingResumesAtTheMatchingMomentWithTempoAndKey)
{
    for (double offset : {40.0, 48.0, 60.0}) {
        SCOPED_TRACE(offset);
        holdOldTake(true);
        const double before = position(1);
        const TrackRecord take = w.addTake(source, offset, QDateTime::currentDateTimeUtc());
        place(take);
        DeckModel& deck2 = w.rig.deck(1);
        EXPECT_EQ(deck2.track()->id, take.id);
        EXPECT_TRUE(playing(1));
        const double expected = std::max(before + 40.0 - offset, 0.0);
        EXPECT_NEAR(position(1), expected, 0.01); // a vinyl start ramps up
        EXPECT_EQ(deck2.tempoRange(), TempoRange::sixteen);
        EXPECT_EQ(deck2.tempoFader(), 0.25);
        EXPECT_EQ(deck2.keyShift(), -2);
        old = take;
    }
}

TEST_F(Placement, OutcomeTable)
{
    struct Row {
        const char* name;
        bool deck2Playing;
        bool deck1PlaysSource;
        bool sameSource;
        bool expectDrop;
        bool expectPlaying;
        double expectPosition; // in the new take (source offset 44)
    };
    const std::vector<Row> rows = {
        {"playing, deck 1 plays the source", true, true, true, true, false, 0.0},
        {"playing, another record", true, false, false, false, false, 0.0},
        {"stopped, same source", false, false, true, false, false, 8.0},
        {"stopped, another record", false, true, false, false, false, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        w.rig.params().dropOffset.store(std::numeric_limits<double>::quiet_NaN());
        if (row.sameSource) {
            holdOldTake(row.deck2Playing);
        } else {
            const TrackRecord foreign = w.addTake(other, 3.0, QDateTime::currentDateTimeUtc());
            w.rig.load(1, foreign);
            w.rig.deck(1).setTempoFader(0.3);
            w.rig.deck(1).setKeyShift(3);
            if (row.deck2Playing) {
                w.rig.deck(1).playPause();
                w.rig.render(64);
            }
        }
        w.rig.load(0, source);
        if (row.deck1PlaysSource) {
            w.rig.deck(0).playPause();
            w.rig.render(64);
        }
        const TrackRecord take = w.addTake(source, 44.0, QDateTime::currentDateTimeUtc());
        bool done = false;
        w.model->placeTake(take, {}, nullptr, [&done] { done = true; });
        ASSERT_TRUE(spinUntil([&done] { return done; }));
        const double drop = w.rig.params().dropOffset.load();
        EXPECT_EQ(!std::isnan(drop), row.expectDrop);
        if (row.expectDrop) {
            EXPECT_EQ(drop, 44.0);
        }
        w.rig.render(64);
        EXPECT_FALSE(playing(1)) << "the placement never starts deck 2 here";
        if (!row.expectDrop) {
            EXPECT_EQ(playing(1), row.expectPlaying);
            EXPECT_NEAR(position(1), row.expectPosition, 1e-6);
        }
        if (!row.sameSource) {
            EXPECT_EQ(w.rig.deck(1).tempoFader(), 0.0);
            EXPECT_EQ(w.rig.deck(1).keyShift(), 0);
        }
        w.rig.params().dropOffset.store(std::numeric_limits<double>::quiet_NaN());
        if (playing(0))
            w.rig.deck(0).playPause();
        w.rig.render(64);
    }
}

TEST_F(Placement, ALoadReplacedByALaterOneGivesUp)
{
    holdOldTake(true);
    const TrackRecord take = w.addTake(source, 40.0, QDateTime::currentDateTimeUtc());
    bool done = false;
    w.model->placeTake(take, {}, nullptr, [&done] { done = true; });
    w.rig.deck(1).load(other); // the newer load wins
    ASSERT_TRUE(spinUntil([&done] { return done; }));
    ASSERT_TRUE(spinUntil([&] { return !w.rig.deck(1).loading(); }));
    w.rig.render(64);
    EXPECT_EQ(w.rig.deck(1).track()->id, other.id);
    EXPECT_FALSE(playing(1));
    EXPECT_EQ(w.rig.deck(1).tempoFader(), 0.0) << "nothing restored onto another record";
}

TEST_F(Placement, SwapInKeepsPositionTempoKeyAndTransport)
{
    holdOldTake(true);
    w.rig.run(0.5);
    DeckModel& deck2 = w.rig.deck(1);
    const double before = position(1);
    int timelines = 0;
    deck2.setOnNewTimeline([&timelines] { ++timelines; });
    TrackRecord next = *deck2.track();
    next.id = QUuid::createUuid();
    next.grid = BeatGrid(120.0, 0.25, 4);
    TrackBufferRef buffer(48000 * 30, 48000.0);
    ASSERT_TRUE(deck2.swapIn(next, buffer, nullptr, 10.0));
    w.rig.render(64);
    EXPECT_EQ(timelines, 1);
    EXPECT_EQ(deck2.track()->id, next.id);
    EXPECT_TRUE(deck2.buffer() == buffer);
    EXPECT_TRUE(playing(1));
    EXPECT_NEAR(position(1), before - 10.0, 3e-3);
    EXPECT_EQ(deck2.tempoFader(), 0.25);
    EXPECT_EQ(deck2.keyShift(), -2);
    deck2.setOnNewTimeline({});
}

} // namespace
} // namespace zelvo::test
