#include "platform/UserDefaults.h"

#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <sys/resource.h>

namespace zelvo {
namespace {

using Limits = std::numeric_limits<double>;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

TEST(UserDefaultsTest, StandardFileLivesInTheConfigFolderAndIsMadeOnFirstWrite)
{
    test::TempHome home;
    const QString expected = home.file(".config/KavriZelvo/defaults.json");
    EXPECT_EQ(UserDefaults::defaultPath(), expected);

    UserDefaults defaults;
    EXPECT_TRUE(defaults.keys().isEmpty());
    EXPECT_FALSE(QFile::exists(expected)); // reading never writes
    EXPECT_TRUE(defaults.setString("audio.device", "hw:1"));
    EXPECT_TRUE(QFile::exists(expected));
    EXPECT_EQ(UserDefaults().string("audio.device"), "hw:1");
}

TEST(UserDefaultsTest, EveryTypeSurvivesTheFileBitForBit)
{
    test::TempHome home;
    const QString path = home.file("settings/defaults.json");
    const double quietNaN = Limits::quiet_NaN();
    const QByteArray binary("\0\x01\xff\x80{\"x\"}\0", 10);
    const QJsonObject forkSettings{{"barsAhead", 2}, {"prompt", "deep house"}, {"seed", QJsonValue::Null}};
    {
        UserDefaults defaults(path);
        EXPECT_TRUE(defaults.setInteger("int.256", 256));
        EXPECT_TRUE(defaults.setReal("real.256", 256.0));
        EXPECT_TRUE(defaults.setInteger("int.max", std::numeric_limits<std::int64_t>::max()));
        EXPECT_TRUE(defaults.setInteger("int.min", std::numeric_limits<std::int64_t>::min()));
        EXPECT_TRUE(defaults.setInteger("int.odd", (std::int64_t(1) << 53) + 1));
        EXPECT_TRUE(defaults.setReal("real.nan", quietNaN));
        EXPECT_TRUE(defaults.setReal("real.inf", Limits::infinity()));
        EXPECT_TRUE(defaults.setReal("real.-inf", -Limits::infinity()));
        EXPECT_TRUE(defaults.setReal("real.-0", -0.0));
        EXPECT_TRUE(defaults.setReal("real.tiny", Limits::denorm_min()));
        EXPECT_TRUE(defaults.setReal("real.max", Limits::max()));
        EXPECT_TRUE(defaults.setReal("real.third", 1.0 / 3.0));
        EXPECT_TRUE(defaults.setBoolean("set.auto", true));
        EXPECT_TRUE(defaults.setBoolean("tour.seen.v1", false));
        EXPECT_TRUE(defaults.setString("browser.sort", QString::fromUtf8("A–Z")));
        EXPECT_TRUE(defaults.setString("string.nul", QString::fromUtf8("a\0b", 3)));
        EXPECT_TRUE(defaults.setString("string.empty", ""));
        EXPECT_TRUE(defaults.setStringList("set.queue", {"0F8E7B2A-1C3D-4E5F-8A9B-0C1D2E3F4A5B", ""}));
        EXPECT_TRUE(defaults.setStringList("list.empty", {}));
        EXPECT_TRUE(defaults.setData("data.binary", binary));
        EXPECT_TRUE(defaults.setData("data.empty", QByteArray()));
        EXPECT_TRUE(defaults.setJson("fork.settings", forkSettings));
        EXPECT_TRUE(defaults.setJson("json.null", QJsonValue::Null));
        EXPECT_TRUE(defaults.setJson("json.array", QJsonArray{1, "two", 3.5}));
    }

    const UserDefaults loaded(path);
    EXPECT_EQ(loaded.keys().size(), 24);
    EXPECT_EQ(loaded.integer("int.256"), 256);
    EXPECT_EQ(loaded.real("real.256"), 256.0);
    // 256 and 256.0 stay apart: each reads as absent through the other type.
    EXPECT_FALSE(loaded.real("int.256"));
    EXPECT_FALSE(loaded.integer("real.256"));
    EXPECT_EQ(loaded.type("int.256"), UserDefaults::Type::Integer);
    EXPECT_EQ(loaded.type("real.256"), UserDefaults::Type::Double);

    EXPECT_EQ(loaded.integer("int.max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(loaded.integer("int.min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(loaded.integer("int.odd"), (std::int64_t(1) << 53) + 1);
    for (const auto& [key, value] :
         std::initializer_list<std::pair<const char*, double>>{{"real.nan", quietNaN},
                                                               {"real.inf", Limits::infinity()},
                                                               {"real.-inf", -Limits::infinity()},
                                                               {"real.-0", -0.0},
                                                               {"real.tiny", Limits::denorm_min()},
                                                               {"real.max", Limits::max()},
                                                               {"real.third", 1.0 / 3.0}}) {
        const auto read = loaded.real(key);
        ASSERT_TRUE(read) << key;
        EXPECT_TRUE(sameBits(*read, value)) << key << " read " << *read;
    }
    EXPECT_EQ(loaded.boolean("set.auto"), true);
    EXPECT_EQ(loaded.boolean("tour.seen.v1"), false);
    EXPECT_EQ(loaded.string("browser.sort"), QString::fromUtf8("A–Z"));
    EXPECT_EQ(loaded.string("string.nul"), QString::fromUtf8("a\0b", 3));
    EXPECT_EQ(loaded.string("string.empty"), QString(""));
    EXPECT_EQ(loaded.stringList("set.queue"), QStringList({"0F8E7B2A-1C3D-4E5F-8A9B-0C1D2E3F4A5B", ""}));
    EXPECT_EQ(loaded.stringList("list.empty"), QStringList());
    EXPECT_EQ(loaded.data("data.binary"), binary);
    EXPECT_EQ(loaded.data("data.empty"), QByteArray());
    EXPECT_EQ(loaded.json("fork.settings"), QJsonValue(forkSettings));
    EXPECT_EQ(loaded.json("json.null"), QJsonValue(QJsonValue::Null));
    EXPECT_EQ(loaded.json("json.array"), QJsonValue(QJsonArray{1, "two", 3.5}));

    // The file is plain JSON a person can read, with the big integer kept as text.
    const QJsonObject values = QJsonDocument::fromJson(readFile(path)).object().value("values").toObject();
    EXPECT_EQ(values.value("int.max").toObject().value("value"), QJsonValue("9223372036854775807"));
    EXPECT_EQ(values.value("set.auto").toObject().value("type"), QJsonValue("bool"));
}

TEST(UserDefaultsTest, AValueReadAsAnotherTypeIsAbsentAndASetReplacesTheType)
{
    test::TempHome home;
    UserDefaults defaults(home.file("d.json"));
    defaults.setInteger("audio.buffer", 512);
    EXPECT_FALSE(defaults.real("audio.buffer"));
    EXPECT_FALSE(defaults.boolean("audio.buffer"));
    EXPECT_FALSE(defaults.string("audio.buffer"));
    EXPECT_FALSE(defaults.stringList("audio.buffer"));
    EXPECT_FALSE(defaults.data("audio.buffer"));
    EXPECT_FALSE(defaults.json("audio.buffer"));
    EXPECT_FALSE(defaults.integer("audio.missing"));

    // A Boolean is not an integer (and 0/1 are not Booleans) either.
    defaults.setBoolean("set.auto", true);
    defaults.setInteger("mix.style", 1);
    EXPECT_FALSE(defaults.integer("set.auto"));
    EXPECT_FALSE(defaults.boolean("mix.style"));

    defaults.setString("audio.buffer", "512");
    EXPECT_FALSE(defaults.integer("audio.buffer"));
    EXPECT_EQ(defaults.string("audio.buffer"), "512");
    EXPECT_EQ(UserDefaults(home.file("d.json")).string("audio.buffer"), "512");

    EXPECT_TRUE(defaults.remove("audio.buffer"));
    EXPECT_TRUE(defaults.remove("never.there"));
    EXPECT_FALSE(defaults.contains("audio.buffer"));
    EXPECT_FALSE(UserDefaults(home.file("d.json")).contains("audio.buffer"));
    EXPECT_TRUE(UserDefaults(home.file("d.json")).contains("set.auto"));
}

// Makes every write past `bytes` in a file fail with EFBIG for the life of the
// object (a full disk, as far as the writer can tell). Works as root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST(UserDefaultsTest, AFailedSaveKeepsTheOldFileAndIsRetried)
{
    test::TempHome home;
    const QString folder = home.file("cfg");
    const QString path = folder + "/defaults.json";
    UserDefaults defaults(path);
    ASSERT_TRUE(defaults.setString("audio.device", "old"));
    const QByteArray before = readFile(path);
    ASSERT_FALSE(before.isEmpty());

    {
        FileSizeLimit full(rlim_t(before.size()) + 16);
        EXPECT_FALSE(defaults.setString("fork.prompt", QString(4096, 'x')));
    }
    EXPECT_TRUE(defaults.hasUnsavedChanges());
    EXPECT_FALSE(defaults.lastError().isEmpty());
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(filesIn(folder), QStringList{"defaults.json"}); // no temporary left behind
    EXPECT_EQ(defaults.string("fork.prompt"), QString(4096, 'x')); // memory keeps it

    // Setting the same value again is not "unchanged": the disk still lacks it.
    EXPECT_TRUE(defaults.setString("fork.prompt", QString(4096, 'x')));
    EXPECT_FALSE(defaults.hasUnsavedChanges());
    EXPECT_TRUE(defaults.lastError().isEmpty());
    EXPECT_EQ(UserDefaults(path).string("fork.prompt"), QString(4096, 'x'));
}

TEST(UserDefaultsTest, AnUnreadableFileLoadsEmptyAndIsMovedAsideBeforeItIsOverwritten)
{
    test::TempHome home;
    const QString folder = home.file("cfg");
    const QString path = folder + "/defaults.json";
    for (const QByteArray& garbage : {QByteArray("{\"version\": 1, \"values\": {\"audio.dev"),
                                      QByteArray("[1, 2, 3]"),
                                      QByteArray("{\"version\": 2, \"values\": {}}"),
                                      QByteArray("\xff\xfe binary")}) {
        QDir(folder).removeRecursively();
        writeFile(path, garbage);
        UserDefaults defaults(path);
        EXPECT_TRUE(defaults.keys().isEmpty());
        EXPECT_EQ(readFile(path), garbage); // loading alone touches nothing

        ASSERT_TRUE(defaults.setBoolean("set.auto", true));
        const QStringList files = filesIn(folder);
        ASSERT_EQ(files.size(), 2) << garbage.constData();
        EXPECT_TRUE(files[1].startsWith("defaults.json.corrupt-")) << files[1].toStdString();
        EXPECT_EQ(folder + "/" + files[1], defaults.movedAsidePath());
        EXPECT_EQ(readFile(defaults.movedAsidePath()), garbage);
        EXPECT_EQ(UserDefaults(path).boolean("set.auto"), true);

        // Only the damaged file is set aside, once.
        ASSERT_TRUE(defaults.setBoolean("set.auto", false));
        EXPECT_EQ(filesIn(folder).size(), 2);
    }
}

TEST(UserDefaultsTest, ReadableEntriesOfAPartlyDamagedFileSurviveAndTheFileIsKeptAside)
{
    test::TempHome home;
    const QString path = home.file("defaults.json");
    const QByteArray text = R"({"version": 1, "values": {
        "audio.buffer": {"type": "integer", "value": "256"},
        "audio.cue":    {"type": "integer", "value": "12x"},
        "audio.master": {"type": "integer", "value": 3},
        "mix.bars":     {"type": "double",  "value": "nan(0x1)x"},
        "set.auto":     {"type": "colour",  "value": true},
        "set.queue":    {"type": "strings", "value": ["A", 7]},
        "data.blob":    {"type": "data",    "value": "***"},
        "fork.renderRate": {"type": "double", "value": "0.75"}}})";
    writeFile(path, text);

    UserDefaults defaults(path);
    EXPECT_EQ(defaults.keys(), QStringList({"audio.buffer", "fork.renderRate"}));
    EXPECT_EQ(defaults.integer("audio.buffer"), 256);
    EXPECT_EQ(defaults.real("fork.renderRate"), 0.75);
    EXPECT_FALSE(defaults.lastError().isEmpty());

    ASSERT_TRUE(defaults.setInteger("audio.cue", -1));
    EXPECT_EQ(readFile(defaults.movedAsidePath()), text);
    const UserDefaults reloaded(path);
    EXPECT_EQ(reloaded.keys(), QStringList({"audio.buffer", "audio.cue", "fork.renderRate"}));
    EXPECT_TRUE(reloaded.movedAsidePath().isEmpty());
    EXPECT_TRUE(reloaded.lastError().isEmpty());
}

} // namespace
} // namespace zelvo
