// The installer script alone, against the stand-in content service.
#include "InstallScriptSupport.h"

#include "generation/BrainPaths.h"
#include "generation/BrainSupervisor.h"
#include "platform/ProcessQueries.h"
#include "platform/Scheduler.h"
#include "platform/TextFormat.h"
#include "support/StandInBrain.h"
#include "support/StandInCdn.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <set>

namespace zelvo {
namespace {

using test::InstallerRun;
using test::manifestOf;
using test::StandInBrain;
using test::StandInCdn;

const QString kKey = QString::fromLatin1(StandInCdn::validKey);

// A home folder with a key file; the brain home inside it.
class ScriptRig {
public:
    ScriptRig() { writeKey(kKey); }

    void writeKey(const QString& key)
    {
        QFile file(dir_.filePath(QStringLiteral(".kavri_key")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(key.toUtf8() + "\n");
    }
    void removeKey() { QFile::remove(dir_.filePath(QStringLiteral(".kavri_key"))); }

    QString home() const { return dir_.path(); }
    QString brain() const { return dir_.filePath(QStringLiteral("brain")); }
    QString at(const QString& relative) const { return brain() + QLatin1Char('/') + relative; }

    std::map<QString, QString> environment(const QString& cdn, std::map<QString, QString> extra = {}) const
    {
        std::map<QString, QString> env{{QStringLiteral("HOME"), home()},
                                       {QStringLiteral("KAVRI_CDN"), cdn},
                                       {QStringLiteral("KAVRI_BRAIN_HOME"), brain()},
                                       {QStringLiteral("KAVRI_INSTALL_EXIT"), {}},
                                       {QStringLiteral("KAVRI_INSTALL_ERROR"), {}},
                                       {QStringLiteral("KAVRI_INSTALL_HANG"), {}},
                                       {QStringLiteral("KAVRI_INSTALL_NEURAL_FAIL"), {}},
                                       {QStringLiteral("KAVRI_INSTALL_SILENCE"), {}}};
        for (auto& [name, value] : extra)
            env[name] = value;
        return env;
    }

private:
    QTemporaryDir dir_;
};

QStringList withoutWeightLines(const QStringList& lines)
{
    QStringList kept;
    for (const QString& line : lines)
        if (!line.startsWith(QStringLiteral("::weight ")))
            kept << line;
    return kept;
}

int fileRequests(const StandInCdn& cdn)
{
    int count = 0;
    for (const QJsonObject& entry : cdn.log())
        count += entry.value(QLatin1String("path")).toString().contains(QStringLiteral("/weights/file/"));
    return count;
}

TEST(InstallScriptTest, InstallsTheRuntimeAndTheModelFilesAsTheyArrive)
{
    const QList<std::pair<QString, qint64>> files{{QStringLiteral("zelvo-0/weights/config.json"), 1'000'000},
                                                  {QStringLiteral("zelvo-0/weights/model.safetensors"), 12'000'000},
                                                  {QStringLiteral("zelvo-0/weights/empty.bin"), 0}};
    StandInCdn::Options options;
    options.prefix = QStringLiteral("/cdn");
    options.manifest = manifestOf(files);
    StandInCdn cdn(options);
    ASSERT_TRUE(cdn.start());
    ScriptRig rig;
    // The base is joined as the application joins it: its query is dropped.
    const QString base = QStringLiteral("http://127.0.0.1:%1/cdn?from=test").arg(cdn.port());

    std::set<qint64> partSizes;
    const QString part = rig.at(QStringLiteral("zelvo-0/weights/model.safetensors.part"));
    InstallerRun run(rig.environment(base));
    ASSERT_EQ(run.finish(60, [&] {
                  const QFileInfo info(part);
                  if (info.exists() && info.size() > 0 && info.size() < 12'000'000)
                      partSizes.insert(info.size());
              }),
              0)
        << run.lines().join(QLatin1Char('\n')).toStdString();

    const QStringList lines = run.lines();
    EXPECT_EQ(withoutWeightLines(lines), (QStringList{QStringLiteral("::stage runtime"), QStringLiteral("::stage python"),
                                                      QStringLiteral("::stage weights"), QStringLiteral("::stage local")}));
    const QRegularExpression weight(QStringLiteral("^::weight \\d+\\.\\d of 0\\.0 gb$"));
    int weights = 0;
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("::weight "))) {
            ++weights;
            EXPECT_TRUE(weight.match(line).hasMatch()) << line.toStdString();
        }
    }
    EXPECT_GE(weights, 3) << "one line after each file at least";
    EXPECT_GE(partSizes.size(), 2u) << "the partial file grows as the bytes arrive";

    for (const auto& [path, bytes] : files) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(test::fileContents(rig.at(path)), StandInCdn::fileBytes(path, bytes));
        EXPECT_FALSE(QFileInfo::exists(rig.at(path + QStringLiteral(".part"))));
    }
    const QJsonDocument saved = QJsonDocument::fromJson(test::fileContents(rig.at(QStringLiteral("manifest.json"))));
    EXPECT_EQ(saved.array(), QJsonDocument::fromJson(manifestOf(files)).object().value(QLatin1String("files")).toArray());
    const QFileInfo python(rig.at(QStringLiteral("zelvo-0/optimized/mlx/.venv/bin/python")));
    EXPECT_TRUE(python.isSymLink());
    EXPECT_TRUE(python.isExecutable());
    EXPECT_TRUE(BrainPaths(QString(), rig.brain()).isInstalled());

    QStringList paths;
    for (const QJsonObject& entry : cdn.log()) {
        paths << entry.value(QLatin1String("path")).toString();
        EXPECT_EQ(entry.value(QLatin1String("headers")).toObject().value(QLatin1String("Authorization")).toString(),
                  QStringLiteral("Bearer ") + kKey);
    }
    EXPECT_EQ(paths, (QStringList{QStringLiteral("/cdn/weights/manifest"),
                                  QStringLiteral("/cdn/weights/file/zelvo-0/weights/config.json"),
                                  QStringLiteral("/cdn/weights/file/zelvo-0/weights/model.safetensors"),
                                  QStringLiteral("/cdn/weights/file/zelvo-0/weights/empty.bin")}));

    // A second run fetches only what is not complete: a file cut short, and
    // none of the complete ones.
    QFile cut(rig.at(QStringLiteral("zelvo-0/weights/config.json")));
    ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
    ASSERT_TRUE(cut.resize(10));
    cut.close();
    InstallerRun again(rig.environment(base));
    ASSERT_EQ(again.finish(60), 0);
    EXPECT_EQ(fileRequests(cdn), 4);
    EXPECT_EQ(test::fileContents(rig.at(QStringLiteral("zelvo-0/weights/config.json"))),
              StandInCdn::fileBytes(QStringLiteral("zelvo-0/weights/config.json"), 1'000'000));
}

TEST(InstallScriptTest, RefusesAndFailsWithAReasonAndAnExitStatus)
{
    const QString small = QStringLiteral("zelvo-0/weights/a.bin");
    const QByteArray good = manifestOf({{small, 300'000}, {QStringLiteral("zelvo-0/weights/b.bin"), 200'000}});
    QTemporaryDir outside;
    const QString escape = outside.filePath(QStringLiteral("escaped.bin"));
    struct Case {
        const char* name;
        QByteArray manifest; // empty: the good one
        QString mode;
        std::optional<QString> key; // none: no key file
        std::map<QString, QString> extra;
        int exit;
        const char* error; // the start of the ::error line
        bool manifestSaved;
    };
    const Case cases[] = {
        {"no key", {}, {}, std::nullopt, {}, 3, "::error no kavri key", false},
        {"blank key", {}, {}, QStringLiteral("  \n"), {}, 3, "::error no kavri key", false},
        {"unknown key", {}, {}, QStringLiteral("sk_kavri_nobody"), {}, 3, "::error the cdn answered 401", false},
        {"server error", {}, QStringLiteral("status=500"), kKey, {}, 3, "::error the cdn answered 500", false},
        {"hang-up", {}, QStringLiteral("hangup"), kKey, {}, 3, "::error couldn't reach the cdn", false},
        {"not json", {}, QStringLiteral("html"), kKey, {}, 3, "::error the manifest isn't readable", false},
        {"an array", {}, QStringLiteral("array"), kKey, {}, 3, "::error the manifest has no file list", false},
        {"files as text", {}, QStringLiteral("files-string"), kKey, {}, 3, "::error the manifest has no file list",
         false},
        {"bad sizes", {}, QStringLiteral("files-mixed"), kKey, {}, 3, "::error the manifest has a malformed entry",
         false},
        {"absolute path", manifestOf({{escape, 10}}), {}, kKey, {}, 3, "::error the manifest names an unsafe path",
         false},
        {"parent path", manifestOf({{QStringLiteral("zelvo-0/../../escaped.bin"), 10}}), {}, kKey, {}, 3,
         "::error the manifest names an unsafe path", false},
        {"empty path", manifestOf({{QString(), 10}}), {}, kKey, {}, 3, "::error the manifest names an unsafe path",
         false},
        {"silent service", {}, QStringLiteral("slow=4"), kKey, {{QStringLiteral("KAVRI_INSTALL_SILENCE"), "1"}}, 3,
         "::error couldn't reach the cdn (silent too long)", false},
        {"no address", {}, {}, kKey, {{QStringLiteral("KAVRI_CDN"), QStringLiteral("not an address")}}, 3,
         "::error couldn't reach the cdn", false},
        {"missing file", {}, QStringLiteral("file-404=") + small, kKey, {}, 3, "::error the cdn answered 404 for",
         true},
        {"file cut short", {}, QStringLiteral("file-cut=") + small, kKey, {}, 4,
         "::error zelvo-0/weights/a.bin arrived with 150000 of 300000 bytes", true},
    };
    StandInCdn::Options sharedOptions;
    sharedOptions.manifest = good;
    StandInCdn shared(sharedOptions);
    ASSERT_TRUE(shared.start());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<StandInCdn> own;
        if (!c.manifest.isEmpty()) {
            StandInCdn::Options options;
            options.manifest = c.manifest;
            own.emplace(options);
            ASSERT_TRUE(own->start());
        } else {
            ASSERT_TRUE(shared.setMode(c.mode.isEmpty() ? QStringLiteral("normal") : c.mode));
        }
        const StandInCdn& cdn = own ? *own : shared;
        ScriptRig rig;
        if (c.key)
            rig.writeKey(*c.key);
        else
            rig.removeKey();
        InstallerRun run(rig.environment(cdn.base().toString(), c.extra));
        EXPECT_EQ(run.finish(30), c.exit);
        const QStringList lines = run.lines();
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.last().startsWith(QString::fromUtf8(c.error))) << lines.last().toStdString();
        EXPECT_EQ(lines.mid(0, 2), (QStringList{QStringLiteral("::stage runtime"), QStringLiteral("::stage python")}));
        EXPECT_EQ(QFileInfo::exists(rig.at(QStringLiteral("manifest.json"))), c.manifestSaved);
        EXPECT_FALSE(QFileInfo::exists(escape));
        EXPECT_FALSE(QFileInfo::exists(rig.home() + QStringLiteral("/escaped.bin")));
        if (c.exit == 4) {
            EXPECT_EQ(QFileInfo(rig.at(small + QStringLiteral(".part"))).size(), 150'000) << "the partial file stays";
            EXPECT_FALSE(QFileInfo::exists(rig.at(small)));
        }
    }
}

TEST(InstallScriptTest, TestKnobsAndTheNeuralEngineBuild)
{
    struct Case {
        const char* name;
        QStringList arguments;
        std::map<QString, QString> extra;
        int exit;
        QStringList lines; // the protocol lines ("::…"), in order
        bool built;        // neural-engine.ok exists afterwards
    };
    const QStringList runtime{QStringLiteral("::stage runtime"), QStringLiteral("::stage python")};
    const Case cases[] = {
        {"failing exit", {}, {{QStringLiteral("KAVRI_INSTALL_EXIT"), QStringLiteral("7")}}, 7, runtime, false},
        {"error line",
         {},
         {{QStringLiteral("KAVRI_INSTALL_ERROR"), QStringLiteral("out of cheese")}},
         1,
         runtime + QStringList{QStringLiteral("::error out of cheese")},
         false},
        {"neural engine", {QStringLiteral("--neural-engine")}, {}, 0, {}, true},
        {"failing neural engine",
         {QStringLiteral("--neural-engine")},
         {{QStringLiteral("KAVRI_INSTALL_NEURAL_FAIL"), QStringLiteral("5")}},
         5,
         {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptRig rig;
        // Nothing listens here: a run that reached the network would fail.
        InstallerRun run(rig.environment(QStringLiteral("http://127.0.0.1:9/"), c.extra), c.arguments);
        EXPECT_EQ(run.finish(30), c.exit);
        QStringList protocol;
        QStringList plain;
        for (const QString& line : run.lines())
            (line.startsWith(QStringLiteral("::")) ? protocol : plain) << line;
        EXPECT_EQ(protocol, c.lines);
        if (c.arguments.contains(QStringLiteral("--neural-engine"))) {
            EXPECT_GE(plain.size(), 2) << "a few plain lines for the log";
        }
        EXPECT_EQ(QFileInfo::exists(rig.at(QStringLiteral("zelvo-0/optimized/mlx/neural-engine.ok"))), c.built);
    }
}

// A SIGTERM to the script alone ends the download it runs.
TEST(InstallScriptTest, ATerminatedInstallerEndsItsDownload)
{
    StandInCdn::Options options;
    options.manifest = manifestOf({{QStringLiteral("zelvo-0/weights/slow.bin"), 20'000'000}});
    options.rate = 1e6;
    StandInCdn cdn(options);
    ASSERT_TRUE(cdn.start());
    ScriptRig rig;
    InstallerRun run(rig.environment(cdn.base().toString()));
    const qint64 pid = run.process().processId();
    const QString part = rig.at(QStringLiteral("zelvo-0/weights/slow.bin.part"));
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return QFileInfo(part).size() > 0; }, 20));
    const QList<qint64> helpers = ProcessQueries::descendants(pid);
    ASSERT_FALSE(helpers.isEmpty());
    EXPECT_TRUE(ProcessQueries::commandLine(helpers.first()).contains(QStringLiteral("install_fetch.py")));

    ASSERT_EQ(::kill(pid_t(pid), SIGTERM), 0);
    EXPECT_EQ(run.finish(10), 143);
    EXPECT_TRUE(StandInBrain::spinUntil(
        [&] {
            for (const qint64 helper : helpers)
                if (test::processAlive(helper))
                    return false;
            return true;
        },
        10));
    const qint64 stopped = QFileInfo(part).size();
    StandInBrain::spinUntil([] { return false; }, 0.5);
    EXPECT_EQ(QFileInfo(part).size(), stopped) << "nothing writes on after the end";
}

// The hanging installer, stopped the way the application stops it at quit.
TEST(InstallScriptTest, StopInstallEndsAHangingInstallerWithItsChildren)
{
    test::TempHome home;
    qputenv("KAVRI_INSTALL_HANG", "1");
    qputenv("KAVRI_CDN", "http://127.0.0.1:9/");
    ManualScheduler clock;
    BrainSupervisor supervisor(BrainPaths(QStringLiteral(ZELVO_SOURCE_DIR "/brain"), home.file(QStringLiteral("brain"))),
                               StandInBrain::freePort(), clock);
    supervisor.install();
    qunsetenv("KAVRI_INSTALL_HANG");
    qunsetenv("KAVRI_CDN");
    ASSERT_TRUE(supervisor.installerRunning());
    const qint64 pid = supervisor.installerPid();
    QList<qint64> family;
    ASSERT_TRUE(StandInBrain::spinUntil(
        [&] {
            family = ProcessQueries::descendants(pid);
            // a child and its child, and the runtime's lines read
            return family.size() >= 2 && supervisor.status() == BrainStatus::installing(QStringLiteral("python"));
        },
        20));

    supervisor.stopInstall();
    family.prepend(pid);
    EXPECT_TRUE(StandInBrain::spinUntil(
        [&] {
            for (const qint64 member : family)
                if (test::processAlive(member))
                    return false;
            return true;
        },
        10));
}

} // namespace
} // namespace zelvo
