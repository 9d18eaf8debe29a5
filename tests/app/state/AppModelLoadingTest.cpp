// Loading records onto decks, importing music and adapters, recording the
// master output and the model server's head start on loaded tracks, on the
// state root with stand-in neighbours, the scripted device backend and, for the
// head start, the stand-in model server on 127.0.0.1.
#include "state/AppModel.h"

#include "generation/AheadEncoding.h"
#include "AppTestSupport.h"
#include "audio/AudioIO.h"
#include "audio/MixEngine.h"
#include "generation/BrainClient.h"
#include "library/CollectionJson.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "platform/UserDefaults.h"
#include "support/StandInBrain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::AppRig;

// --- Fixtures

const QByteArray kAdapterHeader =
    R"({"__metadata__":{"rank":"16","alpha":"32"},)"
    R"("blocks.0.attn.q.lora_A":{"dtype":"F32","shape":[16,4],"data_offsets":[0,256]},)"
    R"("blocks.0.attn.q.lora_B":{"dtype":"F32","shape":[4,16],"data_offsets":[256,512]}})";

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void writeAdapter(const QString& path)
{
    QByteArray word(8, '\0');
    for (int i = 0; i < 8; ++i)
        word[i] = char((quint64(kAdapterHeader.size()) >> (8 * i)) & 0xff);
    writeBytes(path, word + kAdapterHeader + QByteArray(512, '\x11'));
}

// What a WAV file's header says, and whether its data chunk fills the file.
struct WavInfo {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    qint64 frames = 0;
    bool whole = false;
};

std::optional<WavInfo> readWav(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    const auto le = [&bytes](qsizetype at, int width) {
        quint32 value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = (value << 8) | quint8(bytes.at(at + i));
        return value;
    };
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    WavInfo info;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const qint64 size = le(at + 4, 4);
        if (id == "fmt " && at + 24 <= bytes.size()) {
            info.channels = int(le(at + 10, 2));
            info.rate = int(le(at + 12, 4));
            info.bits = int(le(at + 22, 2));
        } else if (id == "data" && info.channels > 0 && info.bits > 0) {
            info.frames = size / (info.channels * info.bits / 8);
            info.whole = at + 8 + size == bytes.size();
            return info;
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

// Imports the files (named in the rig's home) and returns their records in order.
std::vector<TrackRecord> importFiles(AppModel& app, AppRig& rig, const QStringList& names)
{
    std::vector<TrackRecord> records;
    for (const QString& name : names)
        for (TrackRecord& record : app.library().importItems({rig.home.file(name)}))
            records.push_back(std::move(record));
    return records;
}

bool loaded(const DeckModel& deck, const TrackRecord& record)
{
    return deck.track() && deck.track()->id == record.id && !deck.loading();
}

// --- Loading

TEST(Loading, LoadsOnlyLibraryRecordsOntoValidDecksAndClosesTheBrowser)
{
    struct Case {
        const char* name;
        int deck;
        bool removed;
        bool noId;
        bool lands;
    };
    const Case cases[] = {
        {"deck 1", 0, false, false, true},
        {"deck 4", 3, false, false, true},
        {"no identifier", 0, false, true, false},
        {"removed from the library", 1, true, false, false},
        {"deck index 4", 4, false, false, false},
        {"deck index -1", -1, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppRig rig;
        test::writeTone(rig.home.file("a.wav"), 0.5);
        rig.addOutput();
        AppModel& app = rig.make({"--browse"});
        ASSERT_TRUE(rig.bootWithOutput());
        const TrackRecord record = importFiles(app, rig, {"a.wav"}).at(0);
        if (c.removed)
            app.library().remove({record.id});
        ASSERT_TRUE(app.browseOpen());

        app.load(c.noId ? std::nullopt : std::optional<QUuid>(record.id), c.deck);

        EXPECT_EQ(app.browseOpen(), !c.lands);
        for (int i = 0; i < AppModel::kDecks; ++i) {
            SCOPED_TRACE(i);
            if (c.lands && i == c.deck) {
                EXPECT_TRUE(test::spinUntil([&] { return loaded(app.deck(i), record); }));
            } else {
                EXPECT_FALSE(app.deck(i).loading());
                EXPECT_FALSE(app.deck(i).track());
            }
        }
    }
}

// --- Import and adapters

TEST(Import, SplitsAdaptersFromMusicAndInstallsEveryAdapter)
{
    struct Case {
        const char* name;
        QStringList chosen;      // files under the rig's home; "music/" is a folder of audio
        QStringList installed;   // adapter files expected in the models folder
        QStringList notices;     // every notice set, in order
        std::optional<QString> model;
        int imported;            // records in the library afterwards
    };
    const Case cases[] = {
        {"a folder and two adapters",
         {"music", "warm.safetensors", "Dark Room.safetensors"},
         {"warm.safetensors", "Dark Room.safetensors"},
         {"ADAPTER IN \u00B7 DARK ROOM"},
         QStringLiteral("Dark Room"),
         2},
        {"a bad file between good adapters",
         {"warm.safetensors", "notes.safetensors", "late.safetensors"},
         {"warm.safetensors", "late.safetensors"},
         {"ADAPTER IN \u00B7 LATE"},
         QStringLiteral("late"),
         0},
        {"nothing chosen", {}, {}, {}, std::nullopt, 0},
        {"music only", {"music"}, {}, {}, std::nullopt, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppRig rig;
        QDir().mkpath(rig.home.file("music/deep"));
        test::writeTone(rig.home.file("music/one.wav"), 0.2);
        test::writeTone(rig.home.file("music/deep/two.wav"), 0.2);
        writeAdapter(rig.home.file("warm.safetensors"));
        writeAdapter(rig.home.file("Dark Room.safetensors"));
        writeAdapter(rig.home.file("late.safetensors"));
        writeBytes(rig.home.file("notes.safetensors"), "not an adapter");
        AppModel& app = rig.make();
        const std::optional<QString> modelBefore = app.outpaint().settings().model;
        QStringList paths;
        for (const QString& name : c.chosen)
            paths << rig.home.file(name);

        app.importItems(paths);

        EXPECT_EQ(int(app.library().tracks().size()), c.imported);
        const QDir models(app.brainPaths().models());
        for (const QString& name : c.installed)
            EXPECT_TRUE(models.exists(name)) << name.toStdString();
        EXPECT_FALSE(models.exists("notes.safetensors"));
        EXPECT_EQ(rig.world.notices, c.notices);
        EXPECT_EQ(app.outpaint().settings().model, c.model ? c.model : modelBefore);
        if (c.notices.isEmpty()) {
            EXPECT_FALSE(app.outpaint().noticeUntil().isValid());
        }
    }
}

TEST(Import, InstallFailuresShowTheirTextForFourSecondsAndTheModelIsPersisted)
{
    AppRig rig;
    writeAdapter(rig.home.file("first.safetensors"));
    writeBytes(rig.home.file("Second.bin"), "plain bytes");
    AppModel& app = rig.make();
    const QDateTime now = rig.scheduler.now();

    app.installAdapters({rig.home.file("first.safetensors"), rig.home.file("Second.bin")});

    // The second's refusal shows, then the first's success replaces it.
    EXPECT_EQ(rig.world.notices,
              (QStringList{"SECOND.BIN ISN'T A ZELVO-0 ADAPTER", "ADAPTER IN \u00B7 FIRST"}));
    EXPECT_EQ(app.outpaint().noticeUntil(), now.addSecs(4));
    EXPECT_EQ(ForkSettings::restore(*rig.defaults).model, QStringLiteral("first"));

    // A models folder that cannot be made: the system's text, and nothing installed.
    rig.world.notices.clear();
    rig.scheduler.advance(10.0);
    QDir().mkpath(QFileInfo(app.brainPaths().models()).path());
    QDir(app.brainPaths().models()).removeRecursively();
    writeBytes(app.brainPaths().models(), "a file where the folder goes");
    writeAdapter(rig.home.file("third.safetensors"));
    app.installAdapters({rig.home.file("third.safetensors")});
    ASSERT_EQ(rig.world.notices.size(), 1);
    EXPECT_EQ(rig.world.notices[0], rig.world.notices[0].toUpper());
    EXPECT_FALSE(rig.world.notices[0].startsWith("ADAPTER IN"));
    EXPECT_EQ(app.outpaint().noticeUntil(), rig.scheduler.now().addSecs(4));
    EXPECT_EQ(ForkSettings::restore(*rig.defaults).model, QStringLiteral("first"));
}

// --- Recording

std::shared_ptr<MixerState> engineState(AppModel& app)
{
    return app.audio().io()->engine().state();
}

void renderFor(AppRig& rig, double seconds)
{
    rig.backend->pump(seconds);
    rig.app->tick();
}

TEST(Recording, StartsAndStopsAFileNamedByTheClockInTheRecordingsFolder)
{
    AppRig rig;
    rig.addOutput();
    AppModel& app = rig.make();
    app.toggleRecording(); // no engine yet: nothing
    EXPECT_FALSE(app.recordingURL());
    ASSERT_TRUE(rig.bootWithOutput());
    rig.scheduler.advance(5.0 * 3600 + 59 * 60 + 25.4);
    const QString folder = QFileInfo(app.library().outpaintDirectory()).dir().filePath("recordings");
    EXPECT_EQ(app.recordingsFolder(), folder);
    ASSERT_FALSE(QFileInfo::exists(folder));
    QSignalSpy urlChanged(&app, &AppModel::recordingURLChanged);

    // Two recordings within one second keep both files.
    QStringList files;
    for (int take = 0; take < 2; ++take) {
        SCOPED_TRACE(take);
        app.toggleRecording();
        ASSERT_TRUE(app.recordingURL());
        files << *app.recordingURL();
        renderFor(rig, 0.5);
        EXPECT_TRUE(app.engineLive().recording);
        app.toggleRecording();
        renderFor(rig, 0.1);
        EXPECT_FALSE(app.engineLive().recording);
        EXPECT_EQ(app.recordingURL(), files.back());
    }
    EXPECT_EQ(files, (QStringList{folder + "/kavri zelvo set 2026-01-01T175925Z.wav",
                                  folder + "/kavri zelvo set 2026-01-01T175925Z 2.wav"}));
    EXPECT_EQ(urlChanged.count(), 2);
    ASSERT_TRUE(app.audio().io()->engine().waitForRecordingFiles(std::chrono::seconds(10)));
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const std::optional<WavInfo> wav = readWav(file);
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->channels, 2);
        EXPECT_TRUE(wav->whole);
        EXPECT_GT(wav->frames, 48000 / 4);
    }
}

TEST(Recording, AFailedStartStaysOffNamesTheFileAndIsLogged)
{
    AppRig rig;
    rig.addOutput();
    AppModel& app = rig.make();
    ASSERT_TRUE(rig.bootWithOutput());
    // A file where the recordings folder goes: neither the folder nor the file can be made.
    writeBytes(app.recordingsFolder(), "in the way");
    rig.world.journal.clear();

    app.toggleRecording();

    ASSERT_TRUE(app.recordingURL());
    EXPECT_TRUE(app.recordingURL()->startsWith(app.recordingsFolder() + "/kavri zelvo set "));
    EXPECT_FALSE(engineState(app)->recording.load());
    renderFor(rig, 0.1);
    EXPECT_FALSE(app.engineLive().recording);
    ASSERT_EQ(rig.world.journal.filter("brain.note").size(), 1);
    EXPECT_TRUE(rig.world.journal.filter("brain.note")[0].startsWith("brain.note record: "));
}

TEST(Recording, ARecordingWhoseFileFailedIsStoppedByTheTickOnce)
{
    AppRig rig;
    rig.addOutput();
    AppModel& app = rig.make();
    ASSERT_TRUE(rig.bootWithOutput());
    app.toggleRecording();
    renderFor(rig, 0.2);
    ASSERT_TRUE(app.engineLive().recording);
    rig.world.journal.clear();

    engineState(app)->recordingFailed.store(true);
    for (int i = 0; i < 5; ++i)
        renderFor(rig, 0.05);

    EXPECT_FALSE(engineState(app)->recording.load());
    EXPECT_FALSE(app.engineLive().recording);
    EXPECT_EQ(rig.world.journal.filter("brain.note record: ").size(), 1);
}

// --- Ahead-encoding

BrainHealth healthWith(std::optional<bool> fastLoaded)
{
    BrainHealth health;
    health.ok = true;
    health.fastLoaded = fastLoaded;
    return health;
}

QList<QJsonObject> prepares(const test::StandInBrain& brain)
{
    QList<QJsonObject> out;
    for (const QJsonObject& entry : brain.log())
        if (entry["kind"].toString() == "request" && entry["path"].toString() == "/prepare")
            out.append(QJsonDocument::fromJson(entry["body"].toString().toUtf8()).object());
    return out;
}

QStringList scratchNames(const AppModel& app)
{
    return QDir(app.brainPaths().scratch()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

struct AheadRig {
    AheadRig()
    {
        EXPECT_TRUE(brain.start());
        rig.world.brainBase = brain.base();
    }
    test::StandInBrain brain;
    AppRig rig;
};

TEST(AheadEncoding, WritesAndPreparesOnlyWhenTheFastHalfIsLoaded)
{
    struct Case {
        const char* name;
        std::optional<BrainHealth> health;
        bool writes;
    };
    const Case cases[] = {
        {"no health", std::nullopt, false},
        {"fast_loaded missing", healthWith(std::nullopt), false},
        {"fast_loaded false", healthWith(false), false},
        {"fast_loaded true", healthWith(true), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AheadRig ahead;
        AppRig& rig = ahead.rig;
        rig.world.health = c.health;
        test::writeTone(rig.home.file("a.wav"), 1.5, 48000.0);
        rig.addOutput();
        AppModel& app = rig.make();
        ASSERT_TRUE(rig.bootWithOutput());
        const TrackRecord record = importFiles(app, rig, {"a.wav"}).at(0);

        app.load(record.id, 1);
        ASSERT_TRUE(test::spinUntil([&] { return loaded(app.deck(1), record); }));
        ASSERT_TRUE(test::spinUntil([] { return AppModel::aheadWritesInFlight() == 0; }));
        const QString key = BrainClient::trackKey(record.id, app.deck(1).buffer()->frames);
        const QString file = ahead::scratchFile(app.brainPaths().scratch(), record.id);
        EXPECT_EQ(QFileInfo(file).fileName(), "track-" + uuidText(record.id).left(8) + ".wav");

        if (!c.writes) {
            test::spinUntil([] { return false; }, 0.3);
            EXPECT_TRUE(scratchNames(app).isEmpty());
            EXPECT_TRUE(prepares(ahead.brain).isEmpty());
            continue;
        }
        ASSERT_TRUE(test::spinUntil([&] { return !prepares(ahead.brain).isEmpty(); }));
        const QJsonObject body = prepares(ahead.brain)[0];
        EXPECT_EQ(body["track"].toString(), key);
        EXPECT_EQ(body["audio"].toString(), file);
        EXPECT_EQ(scratchNames(app), QStringList{QFileInfo(file).fileName()});
        const std::optional<WavInfo> wav = readWav(file);
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->rate, 44100);
        EXPECT_EQ(wav->bits, 16);
        EXPECT_EQ(wav->channels, 2);
        EXPECT_TRUE(wav->whole);
        const TrackBufferRef& buffer = app.deck(1).buffer();
        EXPECT_EQ(wav->frames, std::llround(double(buffer->frames) * 44100.0 / buffer->sampleRate));
    }
}

TEST(AheadEncoding, OneTrackOnTwoDecksAtOnceLeavesOneWholeFile)
{
    AheadRig ahead;
    AppRig& rig = ahead.rig;
    rig.world.health = healthWith(true);
    test::writeTone(rig.home.file("a.wav"), 20.0, 48000.0);
    rig.addOutput();
    AppModel& app = rig.make();
    ASSERT_TRUE(rig.bootWithOutput());
    const TrackRecord record = importFiles(app, rig, {"a.wav"}).at(0);

    app.load(record.id, 0);
    app.load(record.id, 2);
    ASSERT_TRUE(test::spinUntil([&] { return loaded(app.deck(0), record) && loaded(app.deck(2), record); }));
    ASSERT_TRUE(test::spinUntil([&] { return prepares(ahead.brain).size() == 2; }));
    ASSERT_TRUE(test::spinUntil([] { return AppModel::aheadWritesInFlight() == 0; }));

    const QString file = ahead::scratchFile(app.brainPaths().scratch(), record.id);
    const QList<QJsonObject> bodies = prepares(ahead.brain);
    EXPECT_EQ(bodies[0], bodies[1]);
    EXPECT_EQ(bodies[0]["audio"].toString(), file);
    // No temporary file is left, and the one file is whole.
    EXPECT_EQ(scratchNames(app), QStringList{QFileInfo(file).fileName()});
    const std::optional<WavInfo> wav = readWav(file);
    ASSERT_TRUE(wav);
    EXPECT_TRUE(wav->whole);
    EXPECT_EQ(wav->frames, std::llround(20.0 * 44100.0));
}

TEST(AheadEncoding, AnUnwritableScratchFolderIsSilentAndLeavesNothing)
{
    AheadRig ahead;
    AppRig& rig = ahead.rig;
    rig.world.health = healthWith(true);
    test::writeTone(rig.home.file("a.wav"), 1.0, 48000.0);
    rig.addOutput();
    AppModel& app = rig.make();
    ASSERT_TRUE(rig.bootWithOutput());
    const TrackRecord record = importFiles(app, rig, {"a.wav"}).at(0);
    writeBytes(app.brainPaths().scratch(), "a file where the folder goes");
    rig.world.journal.clear();

    app.load(record.id, 0);
    ASSERT_TRUE(test::spinUntil([&] { return loaded(app.deck(0), record); }));
    ASSERT_TRUE(test::spinUntil([] { return AppModel::aheadWritesInFlight() == 0; }));
    test::spinUntil([] { return false; }, 0.3);

    EXPECT_TRUE(prepares(ahead.brain).isEmpty());
    EXPECT_TRUE(rig.world.journal.filter("brain.note").isEmpty());
    EXPECT_EQ(QDir(rig.home.file(".local/share/KavriZelvo/brain")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"scratch"});
}

TEST(AheadEncoding, AFailedWriteRemovesItsTemporaryFile)
{
    test::TempHome home;
    const QString scratch = home.file("scratch");
    QDir().mkpath(scratch);
    const TrackBufferRef buffer(48000, 48000.0);
    // The target is a folder: the write succeeds, the rename cannot replace it.
    const QString file = ahead::scratchFile(scratch, QUuid::createUuid());
    QDir().mkpath(file + "/inside");
    EXPECT_FALSE(ahead::writeScratch(*buffer, file));
    EXPECT_EQ(QDir(scratch).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
    // And a plain write replaces an earlier file whole.
    QDir(file).removeRecursively();
    writeBytes(file, QByteArray(1 << 20, 'x'));
    EXPECT_TRUE(ahead::writeScratch(*buffer, file));
    const std::optional<WavInfo> wav = readWav(file);
    ASSERT_TRUE(wav);
    EXPECT_TRUE(wav->whole);
    EXPECT_EQ(wav->frames, 44100);
}

} // namespace
} // namespace zelvo
