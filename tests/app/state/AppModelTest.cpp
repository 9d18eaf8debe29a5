// The state root on stand-in neighbours and the scripted device backend:
// construction and boot order, settings, engine wiring, the tick, shutdown,
// the launch arguments and the state dump.
#include "state/AppModel.h"

#include "AppTestSupport.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "library/TrackBuffer.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace zelvo {
namespace {

using test::AppRig;

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// Advances the manual clock in steps while the event loop delivers decodes and
// device results, until `done` holds or `seconds` of manual time have passed.
bool advanceUntil(AppRig& rig, const std::function<bool()>& done, double seconds)
{
    for (double t = 0; t <= seconds; t += 0.05) {
        if (done())
            return true;
        rig.scheduler.advance(0.05);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return test::spinUntil(done, 5.0);
}

TEST(AppModel, BuildsItsNeighboursInOrderAndBootsThemInOrder)
{
    AppRig rig;
    qputenv("KAVRI_BRAIN_PORT", "+8123");
    AppModel& app = rig.make();
    qunsetenv("KAVRI_BRAIN_PORT");
    EXPECT_EQ(rig.world.journal, QStringList({"make workflow", "make controller", "make account", "make update",
                                              "make download", "make tour", "brain scripts", "make brain 8123"}));
    EXPECT_EQ(app.brainPaths().scriptsDirectory, QStringLiteral("/nowhere/brain"));

    rig.world.journal.clear();
    app.boot();
    app.boot(); // once
    EXPECT_EQ(rig.world.journal, QStringList({"brain.boot", "controller.start", "tour.firstRun"}));

    // The tick runs every 0.05 s from boot on.
    rig.world.journal.clear();
    rig.scheduler.advance(0.2);
    EXPECT_EQ(rig.world.journal.count(QStringLiteral("workflow.tick")), 4);

    qputenv("KAVRI_BRAIN_PORT", "70000");
    AppRig other;
    other.make();
    qunsetenv("KAVRI_BRAIN_PORT");
    EXPECT_TRUE(other.world.journal.contains(QStringLiteral("make brain 7431")));
}

TEST(AppModel, RestoresEachSettingAndWritesItBack)
{
    const QString a = QStringLiteral("0F8E7C6B-5A49-4837-A625-14131211100F");
    const QString b = QStringLiteral("1f8e7c6b-5a49-4837-a625-14131211100f");
    struct Case {
        const char* name;
        std::function<void(UserDefaults&)> stored;
        QStringList arguments;
        std::function<void(const AppModel&, const UserDefaults&)> check;
    };
    const Case cases[] = {
        {"queue drops what is no identifier",
         [&](UserDefaults& d) { d.setStringList("set.queue", {a, "not-a-uuid", b, "{" + a + "}"}); },
         {},
         [&](const AppModel& app, const UserDefaults& d) {
             ASSERT_EQ(app.queue().size(), 2u);
             EXPECT_EQ(d.stringList("set.queue"), QStringList({a, b.toUpper()}));
         }},
        {"queue of another type",
         [](UserDefaults& d) { d.setString("set.queue", "x"); },
         {},
         [](const AppModel& app, const UserDefaults& d) {
             EXPECT_TRUE(app.queue().empty());
             EXPECT_EQ(d.stringList("set.queue"), QStringList());
         }},
        {"sort missing", [](UserDefaults&) {}, {},
         [](const AppModel& app, const UserDefaults& d) {
             EXPECT_EQ(app.browserSort(), AppModel::BrowserSort::added);
             EXPECT_EQ(d.string("browser.sort"), QStringLiteral("ADDED"));
             EXPECT_EQ(app.autoQueue(), false);
             EXPECT_EQ(d.boolean("set.auto"), false);
             EXPECT_FALSE(app.classicFaceplate());
             EXPECT_FALSE(d.contains("screen.classic"));
         }},
        {"sort with an en dash", [](UserDefaults& d) { d.setString("browser.sort", QStringLiteral("A\u2013Z")); }, {},
         [](const AppModel& app, const UserDefaults&) { EXPECT_EQ(app.browserSort(), AppModel::BrowserSort::title); }},
        {"sort with a hyphen", [](UserDefaults& d) { d.setString("browser.sort", "A-Z"); }, {},
         [](const AppModel& app, const UserDefaults& d) {
             EXPECT_EQ(app.browserSort(), AppModel::BrowserSort::added);
             EXPECT_EQ(d.string("browser.sort"), QStringLiteral("ADDED"));
         }},
        {"sort of another type", [](UserDefaults& d) { d.setInteger("browser.sort", 2); }, {},
         [](const AppModel& app, const UserDefaults&) { EXPECT_EQ(app.browserSort(), AppModel::BrowserSort::added); }},
        {"flow on", [](UserDefaults& d) { d.setBoolean("set.auto", true); }, {},
         [](const AppModel& app, const UserDefaults&) { EXPECT_TRUE(app.autoQueue()); }},
        {"classic for this run only", [](UserDefaults& d) { d.setBoolean("screen.classic", false); }, {"--classic"},
         [](const AppModel& app, const UserDefaults& d) {
             EXPECT_TRUE(app.classicFaceplate());
             EXPECT_EQ(d.boolean("screen.classic"), false);
         }},
        {"classic stored", [](UserDefaults& d) { d.setBoolean("screen.classic", true); }, {},
         [](const AppModel& app, const UserDefaults&) { EXPECT_TRUE(app.classicFaceplate()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppRig rig;
        c.stored(*rig.defaults);
        const AppModel& app = rig.make(c.arguments);
        c.check(app, *rig.defaults);
        // What was written is on disk, not only in memory.
        c.check(app, UserDefaults(rig.defaults->filePath()));
    }
}

TEST(AppModel, PersistedSettersWriteAndNotifyOnlyOnChange)
{
    AppRig rig;
    AppModel& app = rig.make();
    QSignalSpy sort(&app, &AppModel::browserSortChanged);
    app.setBrowserSort(AppModel::BrowserSort::harmony);
    app.setBrowserSort(AppModel::BrowserSort::harmony);
    EXPECT_EQ(sort.count(), 1);
    EXPECT_EQ(UserDefaults(rig.defaults->filePath()).string("browser.sort"), QStringLiteral("HARMONY"));
    app.setClassicFaceplate(true);
    EXPECT_EQ(UserDefaults(rig.defaults->filePath()).boolean("screen.classic"), true);
    QSignalSpy page(&app, &AppModel::performPageChanged);
    app.setPerformPage(AppModel::PerformPage::mix);
    EXPECT_EQ(page.count(), 0);
}

TEST(AppModel, HandsAreOffAtStartAndOnAfterATouch)
{
    AppRig rig;
    AppModel& app = rig.make();
    ASSERT_TRUE(app.handsOnAt().isValid());
    // Far enough back for the 45 s rule, and no overflow on the way.
    EXPECT_GT(app.handsOnAt().secsTo(rig.scheduler.now()), 1'000'000'000LL);
    EXPECT_GT(app.handsOnAt().msecsTo(rig.scheduler.now()), 0);

    app.deck(0).playPause();
    EXPECT_EQ(app.handsOnAt(), rig.scheduler.now());
    rig.scheduler.advance(10);
    ASSERT_TRUE(rig.world.controllerHandsOn);
    rig.world.controllerHandsOn();
    EXPECT_EQ(app.handsOnAt(), rig.scheduler.now());

    // The links are cut before the models go.
    rig.app.reset();
    EXPECT_FALSE(rig.world.controllerHandsOn);
}

TEST(AppModel, EngineWiringMutesDirectOutputsAndClearsTheLockOfDecksOneAndTwoOnly)
{
    AppRig rig;
    rig.addOutput();
    AppModel& app = rig.make({"--mute"});
    ASSERT_TRUE(rig.bootWithOutput());
    const std::shared_ptr<MixerParams> params = app.audio().io()->engine().params();
    // "--mute" ran before the first engine came up.
    EXPECT_TRUE(params->directMute.load());
    EXPECT_EQ(app.mixer().master(), 0.0);
    EXPECT_TRUE(app.muteDirect());

    const TrackRecord record = TrackRecord::forFile(rig.home.file("x.wav"), rig.scheduler.now());
    const TrackBufferRef buffer(4800, 48000.0);
    for (const int deck : {2, 3, 0, 1}) {
        params->lockOffset.store(1.5);
        app.deck(deck).install(record, buffer, nullptr, false);
        EXPECT_EQ(std::isnan(params->lockOffset.load()), deck < 2) << "deck " << deck + 1;
    }

    // A mute given while an engine runs reaches it at once, and every later engine.
    app.binder().setMuteDirect(false);
    EXPECT_FALSE(params->directMute.load());
    app.binder().setMuteDirect(true);
    EXPECT_TRUE(params->directMute.load());
    const std::int64_t generation = app.audio().generation();
    app.audio().restart();
    ASSERT_TRUE(test::spinUntil([&] { return app.audio().generation() > generation && app.audio().io(); }));
    ASSERT_TRUE(test::settle());
    EXPECT_TRUE(app.audio().io()->engine().params()->directMute.load());
}

// Each engine after the first hands the decks their tracks again only when its
// rate moved by more than half a hertz from the engine it replaces.
TEST(AppModel, ANewEngineReloadsTheDecksOnlyWhenItsRateMoves)
{
    AppRig rig;
    const auto device = [&](const char* uid, double rate) {
        FakeAudioBackend::Device d;
        d.uid = uid;
        d.name = uid;
        d.nominalSampleRate = rate;
        return rig.backend->addDevice(d);
    };
    rig.backend->setDefaultOutput(device("out.44100", 44100.0));
    device("out.48000", 48000.0);
    device("out.48000.3", 48000.3);
    AppModel& app = rig.make();
    std::array<int, 4> decodes{};
    std::array<double, 4> decodedAt{};
    for (int i = 0; i < 4; ++i) {
        app.deck(i).setDecoder([&decodes, &decodedAt, i](const QString&, double rate) {
            ++decodes[std::size_t(i)];
            decodedAt[std::size_t(i)] = rate;
            return TrackBufferRef(4800, rate);
        });
        const TrackRecord record = TrackRecord::forFile(rig.home.file(QStringLiteral("deck%1.wav").arg(i)),
                                                        rig.scheduler.now());
        app.deck(i).install(record, TrackBufferRef(4800, 44100.0), nullptr, false);
    }

    struct Row {
        const char* uid; // empty: the first engine, at boot
        double rate;
        bool reloads;
    };
    int reloads = 0;
    for (const Row& row : {Row{"", 44100.0, false}, Row{"out.48000", 48000.0, true},
                           Row{"out.48000.3", 48000.3, false}, Row{"out.48000", 48000.0, false},
                           Row{"out.44100", 44100.0, true}}) {
        SCOPED_TRACE(row.rate);
        const std::int64_t generation = app.audio().generation();
        if (*row.uid)
            app.audio().setDeviceUID(QString::fromLatin1(row.uid));
        else
            app.boot();
        ASSERT_TRUE(test::spinUntil([&] { return app.audio().generation() > generation && app.audio().io(); }));
        ASSERT_EQ(app.audio().io()->engine().sampleRate(), row.rate);
        reloads += row.reloads ? 1 : 0;
        if (row.reloads) {
            ASSERT_TRUE(test::spinUntil([&] {
                return std::all_of(decodes.begin(), decodes.end(), [&](int n) { return n == reloads; });
            }));
        }
        ASSERT_TRUE(test::settle());
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(decodes[std::size_t(i)], reloads) << "deck " << i + 1;
            if (row.reloads) {
                EXPECT_EQ(decodedAt[std::size_t(i)], row.rate) << "deck " << i + 1;
            }
        }
    }
}

TEST(AppModel, TickReadsTheEngineOnlyWithAnOutputAndNotifiesOnlyOnChange)
{
    AppRig rig;
    AppModel& app = rig.make();
    QSignalSpy live(&app, &AppModel::engineLiveChanged);
    // No output: the other steps still run and the readings stay.
    app.tick();
    EXPECT_EQ(rig.world.journal.count(QStringLiteral("workflow.tick")), 1);
    EXPECT_EQ(app.engineLive(), AppModel::EngineLive{});
    EXPECT_EQ(live.count(), 0);

    rig.addOutput();
    ASSERT_TRUE(rig.bootWithOutput());
    MixerState& state = *app.audio().io()->engine().state();
    state.masterDeck.store(1);
    state.recording.store(true);
    // The readings are in place when the workflow's step runs.
    AppModel::EngineLive seen;
    rig.world.onWorkflowTick = [&] { seen = app.engineLive(); };
    app.tick();
    EXPECT_EQ(seen, (AppModel::EngineLive{1, true}));
    app.tick();
    EXPECT_EQ(live.count(), 1);
    state.recording.store(false);
    app.tick();
    EXPECT_EQ(live.count(), 2);
    EXPECT_EQ(app.engineLive(), (AppModel::EngineLive{1, false}));
}

TEST(AppModel, ShutdownHandsOverAStagedUpdateOnlyAndRunsOnce)
{
    for (const bool ready : {false, true}) {
        AppRig rig;
        rig.world.updateReady = ready;
        AppModel& app = rig.make();
        app.boot();
        test::writeTone(rig.home.file("a.wav"), 0.5);
        app.library().importItems({rig.home.file("a.wav")});
        ASSERT_TRUE(app.library().hasUnsavedChanges());
        rig.world.journal.clear();
        app.shutdown();
        app.shutdown();
        QStringList expected{"brain.stopInstall", "brain.stop"};
        if (ready)
            expected.prepend("update.swap(0)");
        EXPECT_EQ(rig.world.journal, expected);
        EXPECT_FALSE(app.library().hasUnsavedChanges());
        EXPECT_TRUE(app.isShutDown());
    }
}

TEST(AppModel, ATourAtBootClosesTheBrowser)
{
    for (const bool tour : {false, true}) {
        AppRig rig;
        rig.world.tourStartsOnFirstRun = tour;
        AppModel& app = rig.make({"--browse"});
        EXPECT_TRUE(app.browseOpen());
        app.boot();
        EXPECT_EQ(app.browseOpen(), !tour);
    }
}

TEST(LaunchArguments, ImportRelativePathsMuteAndFx)
{
    AppRig rig;
    test::writeTone(rig.home.file("a.wav"), 0.5);
    test::writeTone(rig.home.file("b.wav"), 0.5);
    test::writeTone(rig.home.file("c.wav"), 0.5);
    const QString previous = QDir::currentPath();
    QDir::setCurrent(rig.home.path());
    AppModel& app = rig.make({"--import", "a.wav", "b.wav", "--mute", "c.wav", "--fx"});
    app.boot();
    QDir::setCurrent(previous);
    ASSERT_EQ(app.library().tracks().size(), 2u);
    EXPECT_EQ(app.library().tracks()[0].path, rig.home.file("a.wav"));
    EXPECT_EQ(app.library().tracks()[1].path, rig.home.file("b.wav"));
    EXPECT_TRUE(app.muteDirect());
    EXPECT_EQ(app.mixer().master(), 0.0);
    EXPECT_EQ(app.performPage(), AppModel::PerformPage::fx);

    AppRig bare;
    AppModel& other = bare.make({"--import", "--mute"});
    other.boot();
    EXPECT_TRUE(other.library().tracks().empty());
    EXPECT_TRUE(other.muteDirect());
    EXPECT_EQ(other.performPage(), AppModel::PerformPage::mix);
}

TEST(LaunchArguments, LoadWaitsForAnOutputThenLoadsAndPlays)
{
    AppRig rig;
    test::writeTone(rig.home.file("a.wav"), 2.0);
    FakeAudioBackend::Device device;
    device.uid = "slow";
    device.name = "Slow";
    device.hangOnInitialize = true;
    rig.backend->setDefaultOutput(rig.backend->addDevice(device));
    AppModel& app = rig.make({"--import", rig.home.file("a.wav"), "--load", "--play"});
    app.boot();
    ASSERT_TRUE(test::spinUntil([&] { return rig.backend->hungCount() == 1; }));
    // The output hangs: nothing is loaded while the polls go on.
    rig.scheduler.advance(0.6);
    for (int i = 0; i < 10; ++i) {
        rig.scheduler.advance(0.1);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(app.deck(0).track());
    EXPECT_FALSE(app.deck(0).loading());

    rig.backend->releaseHangs();
    ASSERT_TRUE(test::spinUntil([&] { return app.audio().io() != nullptr; }));
    ASSERT_TRUE(advanceUntil(rig, [&] { return app.deck(0).track() && !app.deck(0).loading(); }, 1.0));
    EXPECT_EQ(app.deck(0).track()->title, QStringLiteral("a"));
    rig.backend->pump(0.2);
    app.tick();
    EXPECT_TRUE(app.deck(0).live().playing);
}

TEST(LaunchArguments, LoadDoesNothingWithoutANewRecord)
{
    struct Case {
        const char* name;
        QStringList arguments;
        bool knownBefore;
    };
    const Case cases[] = {
        {"no import", {"--load", "--play"}, false},
        {"already in the library", {"--import", "a.wav", "--load", "--play"}, true},
        {"no audio", {"--import", "notes.txt", "--load"}, false},
        {"missing file", {"--import", "gone.wav", "--load"}, false},
        {"import without operands", {"--import", "--load"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppRig rig;
        test::writeTone(rig.home.file("a.wav"), 0.5);
        QFile text(rig.home.file("notes.txt"));
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("not audio");
        text.close();
        if (c.knownBefore) {
            // A first run of the same home imports the file.
            AppModel& first = rig.make();
            first.library().importItems({rig.home.file("a.wav")});
            first.library().flush();
            rig.app.reset();
        }
        rig.addOutput();
        QStringList arguments;
        for (const QString& a : c.arguments)
            arguments << (a.startsWith("--") ? a : rig.home.file(a));
        AppModel& app = rig.make(arguments);
        ASSERT_TRUE(rig.bootWithOutput());
        rig.scheduler.advance(12.0);
        QCoreApplication::processEvents();
        EXPECT_FALSE(app.deck(0).track());
        EXPECT_FALSE(app.deck(0).loading());
    }
}

TEST(StateDump, WithoutAnOutput)
{
    AppRig rig;
    rig.backend->setHasOutputComponent(false);
    const QString path = rig.home.file("state.json");
    AppModel& app = rig.make({"--dump-state", path, "2"});
    app.boot();
    rig.scheduler.advance(1.9);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(rig.world.journal.contains("terminate"));
    rig.scheduler.advance(0.2);
    ASSERT_TRUE(rig.world.journal.contains("terminate"));
    const QJsonObject dump = readJson(path);
    EXPECT_EQ(dump.keys(), QStringList({"aiStep", "decks", "directOuts", "echo", "engineDirect", "master", "output",
                                        "peaks", "players", "routes"}));
    ASSERT_FALSE(app.audio().io());
    EXPECT_EQ(dump["output"].toArray(), QJsonArray({"", "", 0, -1, -1}));
    EXPECT_EQ(dump["peaks"].toArray(), QJsonArray({0, 0}));
    EXPECT_EQ(dump["engineDirect"], false);
    EXPECT_EQ(dump["master"], 0);
    EXPECT_EQ(dump["aiStep"], "waking"); // no supervisor report yet
    EXPECT_EQ(dump["echo"], "");
    EXPECT_EQ(dump["routes"].toArray(), QJsonArray());
    const QJsonArray decks = dump["decks"].toArray();
    ASSERT_EQ(decks.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(decks[i]["deck"], i + 1);
        EXPECT_EQ(decks[i]["position"], 0);
        EXPECT_EQ(decks[i]["track"], "");
        EXPECT_EQ(decks[i]["tempoPercent"], 0);
    }
}

TEST(StateDump, WithAnOutputReadsTheEngineAndTheModels)
{
    AppRig rig;
    rig.addOutput();
    rig.world.players = 2;
    rig.world.echo = QStringLiteral("TEMPO: +1.2%");
    const QString path = rig.home.file("state.json");
    AppModel& app = rig.make({"--dump-state", path, "3"});
    ASSERT_TRUE(rig.bootWithOutput());
    app.deck(1).setTempoRange(TempoRange::wide);
    app.deck(1).setTempoFader(0.25);
    app.deck(2).setKeyShift(-3);
    app.deck(3).setAutoLoopBeats(8);
    app.mixer().channel(0).setSync(true);
    MixerState& state = *app.audio().io()->engine().state();
    state.masterDeck.store(1);
    state.channelPeak[0].store(0.5);
    rig.scheduler.advance(3.0);
    ASSERT_TRUE(rig.world.journal.contains("terminate"));
    const QJsonObject dump = readJson(path);
    EXPECT_EQ(dump["output"].toArray(), QJsonArray({"Fake Out", "fake.out", 2, 0, -1}));
    EXPECT_EQ(dump["master"], 2);
    EXPECT_EQ(dump["peaks"].toArray(), QJsonArray({0.5, 0}));
    EXPECT_EQ(dump["players"], 2);
    EXPECT_EQ(dump["echo"], "TEMPO: +1.2%");
    const QJsonArray decks = dump["decks"].toArray();
    EXPECT_EQ(decks[0]["sync"], true);
    EXPECT_EQ(decks[1]["tempoRange"], "WIDE");
    EXPECT_EQ(decks[1]["tempoPercent"], 25);
    EXPECT_EQ(decks[0]["tempoRange"], QStringLiteral("\u00B110"));
    EXPECT_EQ(decks[2]["keyShift"], -3);
    EXPECT_EQ(decks[3]["loopBeats"], 8);
}

TEST(StateDump, MalformedArgumentsAreIgnored)
{
    for (const QStringList& arguments :
         {QStringList{"--dump-state", "5", "PATH"}, QStringList{"--dump-state", "PATH"},
          QStringList{"--dump-state", "PATH", "nan"}, QStringList{"--dump-state"}}) {
        AppRig rig;
        const QString path = rig.home.file("state.json");
        QStringList filled;
        for (const QString& a : arguments)
            filled << (a == "PATH" ? path : a);
        AppModel& app = rig.make(filled);
        app.boot();
        rig.scheduler.advance(10.0);
        EXPECT_FALSE(rig.world.journal.contains("terminate")) << filled.join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(QFile::exists(rig.home.file("5")));
    }
}

} // namespace
} // namespace zelvo
