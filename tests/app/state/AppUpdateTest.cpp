#include "state/AppUpdate.h"

#include "UpdateSupport.h"
#include "generation/ContentService.h"
#include "support/StandInBrain.h"
#include "support/StandInCdn.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {

void PrintTo(const AppUpdate::State& state, std::ostream* out)
{
    static const char* const names[] = {"ready", "manual", "idle"};
    *out << names[int(state.kind)];
    if (state.version)
        *out << "(" << state.version->description().toStdString() << ")";
}

namespace {

using test::StandInBrain;
using test::StandInCdn;
using State = AppUpdate::State;

ReleaseVersion version(const char* text)
{
    return *ReleaseVersion::parse(QString::fromLatin1(text));
}

bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// A running release 0.1.0, a newer signed release 0.2.0 as an image on the
// stand-in service, and one updater at a time over them.
class UpdateRig {
public:
    UpdateRig()
    {
        installed_ = test::makeRelease(dir_.filePath(QStringLiteral("install")), QStringLiteral("0.1.0"),
                                       &test::publisherKey(), &test::publisherKey());
        const QString newer = test::makeRelease(dir_.filePath(QStringLiteral("build")), QStringLiteral("0.2.0"),
                                                &test::publisherKey(), &test::publisherKey(), marker());
        test::makeImage(newer, image());
    }

    QString path(const QString& relative) const { return dir_.filePath(relative); }
    const QString& installed() const { return installed_; }
    QString image() const { return path(QStringLiteral("image.tgz")); }
    QString folder() const { return path(QStringLiteral("updates")); }
    QString marker() const { return path(QStringLiteral("relaunched")); }
    QString stagedPath(const char* v) const { return folder() + QLatin1Char('/') + QLatin1String(v) + QStringLiteral("/KavriZelvo"); }

    bool startCdn()
    {
        StandInCdn::Options options;
        options.releaseVersion = QStringLiteral("0.2.0");
        options.releaseImage = image();
        cdn = std::make_unique<StandInCdn>(options);
        return cdn->start();
    }

    AppUpdate::Options options() const
    {
        AppUpdate::Options options;
        options.current = version("0.1.0");
        options.bundle = installed_;
        options.folder = folder();
        options.systemLog = const_cast<test::RecordingLog*>(&log);
        return options;
    }

    AppUpdate& open(AppUpdate::Options options, QUrl base = {})
    {
        update.reset();
        log.lines.clear();
        update = std::make_unique<AppUpdate>(clock, ContentService::network(), base.isEmpty() ? cdn->base() : base,
                                             std::move(options));
        return *update;
    }
    AppUpdate& open() { return open(options()); }

    // Runs the first (or a due) check and waits until it has finished.
    bool checkAndSettle(double seconds = 30)
    {
        clock.runDue();
        if (!update->busy())
            update->check();
        return StandInBrain::spinUntil([this] { return !update->busy(); }, seconds);
    }

    int requests(const char* route) const
    {
        int count = 0;
        for (const QJsonObject& entry : cdn->log())
            count += entry.value(QLatin1String("path")).toString().endsWith(QLatin1String(route));
        return count;
    }

    // The outcome of one asynchronous step.
    static AppUpdate::Outcome await(const std::function<void(AppUpdate::Done)>& step, double seconds = 30)
    {
        std::optional<AppUpdate::Outcome> outcome;
        step([&outcome](const AppUpdate::Outcome& o) { outcome = o; });
        StandInBrain::spinUntil([&outcome] { return outcome.has_value(); }, seconds);
        return outcome.value_or(AppUpdate::Outcome::failure(QStringLiteral("(no answer)")));
    }

    test::TempHome home;
    ManualScheduler clock;
    test::RecordingLog log;
    std::unique_ptr<StandInCdn> cdn;
    std::unique_ptr<AppUpdate> update;

private:
    QTemporaryDir dir_;
    QString installed_;
};

TEST(AppUpdateTest, FeedsThatOfferNothingNewChangeNothing)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.startCdn());
    AppUpdate& update = rig.open();
    EXPECT_EQ(update.latest().path(), rig.cdn->base().path() + QStringLiteral("zelvo/latest.json"));
    EXPECT_EQ(update.download().path(), rig.cdn->base().path() + QStringLiteral("zelvo/download"));
    const char* const modes[] = {"version=0.1.0", "version=v0.1",      "version=0.0.9", "feed=html",
                                 "feed=array",    "feed=no-version",   "feed=bad-version", "feed=number",
                                 "feed-status=404", "feed-status=500",
                                 "version=0.2.0 feed=huge"}; // not read to its end
    int feeds = 0;
    for (const char* mode : modes) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(rig.cdn->setMode(QString::fromLatin1(mode)));
        ASSERT_TRUE(rig.checkAndSettle());
        EXPECT_EQ(rig.requests("/zelvo/latest.json"), ++feeds);
        EXPECT_EQ(update.state(), State::idle());
        EXPECT_TRUE(rig.log.lines.empty());
    }
    EXPECT_EQ(rig.requests("/zelvo/download"), 0);

    // Six hours on, the feed is read again by itself.
    rig.clock.advance(AppUpdate::checkInterval - 1);
    EXPECT_FALSE(update.busy());
    rig.clock.advance(1);
    EXPECT_TRUE(update.busy());
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return !update.busy(); }));
    EXPECT_EQ(rig.requests("/zelvo/latest.json"), ++feeds);

    // Without a running version nothing is asked at all.
    AppUpdate::Options unversioned = rig.options();
    unversioned.current.reset();
    rig.open(unversioned);
    ASSERT_TRUE(rig.checkAndSettle());
    EXPECT_EQ(rig.requests("/zelvo/latest.json"), feeds);
}

TEST(AppUpdateTest, AnUnreachableOrSilentFeedIsDroppedQuietly)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.startCdn());
    AppUpdate& refused = rig.open(rig.options(),
                                  QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(StandInBrain::freePort())));
    ASSERT_TRUE(rig.checkAndSettle());
    EXPECT_EQ(refused.state(), State::idle());

    AppUpdate& silent = rig.open();
    ASSERT_TRUE(rig.cdn->setMode(QStringLiteral("feed-slow=30")));
    rig.clock.runDue();
    ASSERT_TRUE(silent.busy());
    StandInBrain::spinUntil([&] { return rig.requests("/zelvo/latest.json") == 1; });
    rig.clock.advance(14.9);
    EXPECT_TRUE(silent.busy());
    rig.clock.advance(0.1); // the feed's 15 s are up
    EXPECT_FALSE(silent.busy());
    EXPECT_EQ(silent.state(), State::idle());
    EXPECT_TRUE(rig.log.lines.empty());
}

TEST(AppUpdateTest, StagesANewerSignedReleaseOnceAndOnlyRechecksNewerOnes)
{
    for (const char* mode : {"normal", "digest=upper"}) {
        SCOPED_TRACE(mode);
        UpdateRig rig;
        ASSERT_TRUE(rig.startCdn());
        ASSERT_TRUE(rig.cdn->setMode(QString::fromLatin1(mode)));
        AppUpdate& update = rig.open();
        int stateChanges = 0;
        QObject::connect(&update, &AppUpdate::stateChanged, [&] { ++stateChanges; });
        rig.clock.runDue();
        update.check(); // busy: ignored
        ASSERT_TRUE(rig.checkAndSettle());
        EXPECT_EQ(rig.requests("/zelvo/latest.json"), 1);
        EXPECT_EQ(rig.requests("/zelvo/download"), 1);
        ASSERT_EQ(update.state(), State::ready(version("0.2.0"))) << (rig.log.lines.empty() ? "" : rig.log.lines[0].toStdString());
        EXPECT_EQ(update.staged(), rig.stagedPath("0.2.0"));
        EXPECT_EQ(test::readText(*update.staged() + QStringLiteral("/share/kavri-zelvo/version.txt")), "0.2.0");
        EXPECT_FALSE(exists(rig.folder() + QStringLiteral("/0.2.0/update.dmg")));
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_FALSE(exists(rig.folder() + QStringLiteral("/0.2.0/mount")));

        // The same version again: already staged, nothing downloaded.
        ASSERT_TRUE(rig.checkAndSettle());
        EXPECT_EQ(rig.requests("/zelvo/download"), 1);
        EXPECT_EQ(stateChanges, 1);
        // A newer one replaces it.
        ASSERT_TRUE(rig.cdn->setMode(QStringLiteral("version=0.3")));
        ASSERT_TRUE(rig.checkAndSettle());
        EXPECT_EQ(rig.requests("/zelvo/download"), 2);
        EXPECT_EQ(update.state(), State::ready(version("0.3")));
        EXPECT_FALSE(exists(rig.stagedPath("0.2.0"))); // the folder was emptied first
        EXPECT_TRUE(rig.log.lines.empty());
    }
}

TEST(AppUpdateTest, WhatCannotBeStagedIsOfferedForADownloadByHand)
{
    struct Case {
        const char* name;
        const char* mode;
        std::function<void(UpdateRig&, AppUpdate::Options&)> setup;
        int downloads;
        QString logged; // after "kavri zelvo update 0.2.0: "; null: no line
    };
    const std::vector<Case> cases = {
        {"no digest", "digest=none", {}, 0, {}},
        {"not run from a release folder", "normal", [](UpdateRig&, AppUpdate::Options& o) { o.bundle.clear(); }, 0, {}},
        {"wrong digest", "digest=wrong", {}, 1, QStringLiteral("the download doesn't match its hash")},
        {"image missing", "image-status=404", {}, 1, QStringLiteral("the download answered 404")},
        {"image refused", "image-status=503", {}, 1, QStringLiteral("the download answered 503")},
        {"unsigned running copy", "normal",
         [](UpdateRig& rig, AppUpdate::Options&) {
             QFile::remove(rig.installed() + QStringLiteral("/share/kavri-zelvo/release.manifest.minisig"));
         },
         1, QStringLiteral("signed by ") + test::publisherKey().id + QStringLiteral(", not not set")},
        {"running copy without a key", "normal",
         [](UpdateRig& rig, AppUpdate::Options&) {
             QFile::remove(rig.installed() + QStringLiteral("/share/kavri-zelvo/update.pub"));
         },
         1, QStringLiteral("minisign: ")},
        {"image signed by another key", "normal",
         [](UpdateRig& rig, AppUpdate::Options&) {
             const QString other = test::makeRelease(rig.path(QStringLiteral("other")), QStringLiteral("0.2.0"),
                                                     &test::strangerKey(), &test::strangerKey());
             test::makeImage(other, rig.image());
         },
         1, QStringLiteral("minisign: ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        ASSERT_TRUE(rig.startCdn());
        ASSERT_TRUE(rig.cdn->setMode(QString::fromLatin1(c.mode)));
        AppUpdate::Options options = rig.options();
        if (c.setup)
            c.setup(rig, options);
        AppUpdate& update = rig.open(options);
        ASSERT_TRUE(rig.checkAndSettle());
        EXPECT_EQ(update.state(), State::manual(version("0.2.0")));
        EXPECT_FALSE(update.staged());
        EXPECT_EQ(rig.requests("/zelvo/download"), c.downloads);
        if (c.logged.isNull()) {
            EXPECT_TRUE(rig.log.lines.empty());
        } else {
            ASSERT_EQ(rig.log.lines.size(), 1u);
            EXPECT_TRUE(rig.log.lines[0].startsWith(QStringLiteral("kavri zelvo update 0.2.0: ") + c.logged))
                << rig.log.lines[0].toStdString();
        }
        // A manual state is checked again: the next feed offers the same.
        ASSERT_TRUE(rig.checkAndSettle());
        EXPECT_EQ(rig.requests("/zelvo/latest.json"), 2);
    }
}

TEST(AppUpdateTest, AReadOnlyInstallationIsNeverReplaced)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "the superuser may write anywhere";
    UpdateRig rig;
    ASSERT_TRUE(rig.startCdn());
    const QString parent = QFileInfo(rig.installed()).absolutePath();
    for (const QString& locked : {rig.installed(), parent}) {
        SCOPED_TRACE(locked.toStdString());
        ::chmod(QFile::encodeName(locked).constData(), 0555);
        AppUpdate& update = rig.open();
        EXPECT_FALSE(update.canReplaceSelf());
        ASSERT_TRUE(rig.checkAndSettle());
        EXPECT_EQ(update.state(), State::manual(version("0.2.0")));
        ::chmod(QFile::encodeName(locked).constData(), 0755);
    }
    EXPECT_EQ(rig.requests("/zelvo/download"), 0);
    EXPECT_TRUE(rig.open().canReplaceSelf());
}

TEST(AppUpdateTest, AStalledImageFailsAfterSixtySecondsWithoutData)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.startCdn());
    ASSERT_TRUE(rig.cdn->setMode(QStringLiteral("image-stall")));
    AppUpdate& update = rig.open();
    rig.clock.runDue();
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return rig.requests("/zelvo/download") == 1; }));
    StandInBrain::spinUntil([] { return false; }, 0.5); // the first half arrives
    EXPECT_TRUE(update.busy());
    rig.clock.advance(60);
    EXPECT_FALSE(update.busy());
    EXPECT_EQ(update.state(), State::manual(version("0.2.0")));
    ASSERT_EQ(rig.log.lines.size(), 1u);
    EXPECT_EQ(rig.log.lines[0], QStringLiteral("kavri zelvo update 0.2.0: the download stalled — no data for 60 s"));
    EXPECT_FALSE(exists(rig.folder() + QStringLiteral("/0.2.0/update.dmg.download")));
}

TEST(AppUpdateTest, FetchReportsEachToolsFailureAndAlwaysRemovesTheUnpackedTree)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.startCdn());
    const QString fakes = rig.path(QStringLiteral("fakes"));
    test::writeScript(fakes + QStringLiteral("/tar"), QStringLiteral("echo 'not an archive'; exit 2"));
    test::writeScript(fakes + QStringLiteral("/cp"), QStringLiteral("echo '  no space left  ' >&2; exit 1"));
    test::writeScript(fakes + QStringLiteral("/minisign"), QStringLiteral("echo 'Signature verification failed'; exit 1"));
    struct Case {
        const char* name;
        std::function<void(AppUpdate::Tools&)> tools;
        QString failure; // null: passes
    };
    const std::vector<Case> cases = {
        {"extraction fails", [&](AppUpdate::Tools& t) { t.tar = fakes + QStringLiteral("/tar"); },
         QStringLiteral("tar: not an archive")},
        {"copy fails", [&](AppUpdate::Tools& t) { t.copy = fakes + QStringLiteral("/cp"); },
         QStringLiteral("cp: no space left")},
        {"signature fails", [&](AppUpdate::Tools& t) { t.minisign = fakes + QStringLiteral("/minisign"); },
         QStringLiteral("minisign: Signature verification failed")},
        // The copy the failed signature check left behind is sound: reused.
        {"real tools", [](AppUpdate::Tools&) {}, {}},
    };
    const QString sha = AppUpdate::sha256(rig.image()).hex;
    int downloads = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppUpdate::Options options = rig.options();
        c.tools(options.tools);
        AppUpdate& update = rig.open(options);
        // Left over from an earlier download: gone before the next one.
        QDir().mkpath(rig.folder() + QStringLiteral("/0.1.5/junk"));
        const AppUpdate::Outcome outcome =
            UpdateRig::await([&](AppUpdate::Done done) { update.fetch(version("0.2.0"), sha.toUpper(), done); });
        const bool reused = c.failure.isNull();
        downloads += reused ? 0 : 1;
        EXPECT_EQ(rig.requests("/zelvo/download"), downloads);
        EXPECT_EQ(exists(rig.folder() + QStringLiteral("/0.1.5")), reused);
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_FALSE(exists(rig.folder() + QStringLiteral("/0.2.0/mount")));
        if (c.failure.isNull()) {
            ASSERT_TRUE(outcome.ok) << outcome.text.toStdString();
            EXPECT_EQ(outcome.text, rig.stagedPath("0.2.0"));
        } else {
            EXPECT_FALSE(outcome.ok);
            EXPECT_EQ(outcome.text, c.failure);
        }
    }

    // A damaged staged copy is downloaded again.
    AppUpdate& update = rig.open();
    auto fetch = [&] { return UpdateRig::await([&](AppUpdate::Done done) { update.fetch(version("0.2.0"), sha, done); }); };
    QFile::remove(rig.stagedPath("0.2.0") + QStringLiteral("/share/kavri-zelvo/version.txt"));
    EXPECT_TRUE(fetch().ok);
    EXPECT_EQ(rig.requests("/zelvo/download"), downloads + 1);
    EXPECT_EQ(test::readText(rig.stagedPath("0.2.0") + QStringLiteral("/share/kavri-zelvo/version.txt")), "0.2.0");

    // A tool that cannot start fails with the reason.
    AppUpdate::Options missing = rig.options();
    missing.tools.tar = fakes + QStringLiteral("/no-such-tool");
    AppUpdate& broken = rig.open(missing);
    QFile::remove(rig.stagedPath("0.2.0") + QStringLiteral("/bin/kavri-zelvo"));
    EXPECT_FALSE(UpdateRig::await([&](AppUpdate::Done done) { broken.fetch(version("0.2.0"), sha, done); }).ok);
}

TEST(AppUpdateTest, VerifiesSignatureFilesAndPublisher)
{
    UpdateRig rig;
    AppUpdate& update = rig.open(rig.options(), QUrl(QStringLiteral("http://127.0.0.1:9/")));
    EXPECT_EQ(AppUpdate::team(rig.installed()), test::publisherKey().id);
    EXPECT_NE(test::publisherKey().id, test::strangerKey().id);

    using Change = std::function<void(const QString& app)>;
    struct Case {
        const char* name;
        Change change;
        QString failure; // null: passes; else the text's start
    };
    const QString prefix = QStringLiteral("files don't match the signed list: ");
    const std::vector<Case> cases = {
        {"signed", [](const QString&) {}, {}},
        {"file changed", [](const QString& a) { test::writeScript(a + QStringLiteral("/bin/kavri-zelvo"), QStringLiteral("rm -rf ~")); },
         prefix + QStringLiteral("bin/kavri-zelvo")},
        // Every other difference of the tree is the file list's own test; here one
        // of them stands for the step being wired in.
        {"signed by another key",
         [](const QString& a) { test::signRelease(a, test::strangerKey()); }, QStringLiteral("minisign: ")},
        {"signature missing",
         [](const QString& a) { QFile::remove(a + QStringLiteral("/share/kavri-zelvo/release.manifest.minisig")); },
         QStringLiteral("minisign: ")},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString app = test::makeRelease(rig.path(QStringLiteral("candidate-%1").arg(++n)), QStringLiteral("0.2.0"),
                                              &test::publisherKey(), &test::publisherKey());
        c.change(app);
        const AppUpdate::Outcome outcome =
            UpdateRig::await([&](AppUpdate::Done done) { update.verify(app, rig.installed(), done); });
        if (c.failure.isNull()) {
            EXPECT_TRUE(outcome.ok) << outcome.text.toStdString();
        } else {
            EXPECT_FALSE(outcome.ok);
            EXPECT_TRUE(outcome.text.startsWith(c.failure)) << outcome.text.toStdString();
        }
    }

    // The running copy's key decides, not the key the candidate brings along.
    const QString foreign = test::makeRelease(rig.path(QStringLiteral("foreign")), QStringLiteral("0.2.0"),
                                           &test::strangerKey(), &test::strangerKey());
    EXPECT_EQ(AppUpdate::team(foreign), test::strangerKey().id);
    EXPECT_FALSE(UpdateRig::await([&](AppUpdate::Done done) { update.verify(foreign, rig.installed(), done); }).ok);

    // A missing or malformed signature names no publisher.
    const QString signature = foreign + QStringLiteral("/share/kavri-zelvo/release.manifest.minisig");
    for (const QByteArray& text : {QByteArray("untrusted comment: x\n"), QByteArray("untrusted comment: x\n!!!!\n"),
                                   QByteArray("untrusted comment: x\nRWQAAAAAAAAAAA==\n")}) {
        QFile file(signature);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        EXPECT_EQ(AppUpdate::team(foreign), QStringLiteral("not set"));
    }
    QFile::remove(signature);
    EXPECT_EQ(AppUpdate::team(foreign), QStringLiteral("not set"));
}

TEST(AppUpdateTest, RunJoinsOutputAndNamesTheToolOnFailure)
{
    UpdateRig rig;
    AppUpdate& update = rig.open(rig.options(), QUrl(QStringLiteral("http://127.0.0.1:9/")));
    const QString tool = rig.path(QStringLiteral("tools/speak"));
    test::writeScript(tool, QStringLiteral("echo out; echo err >&2; [ \"$1\" = ok ] || exit 3"));
    const auto ok = UpdateRig::await([&](AppUpdate::Done done) { update.run(tool, {QStringLiteral("ok")}, done); });
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(ok.text, QStringLiteral("out\nerr\n"));
    const auto failed = UpdateRig::await([&](AppUpdate::Done done) { update.run(tool, {}, done); });
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.text, QStringLiteral("speak: out\nerr"));
}

// ---- The swap ----

class SwapRig {
public:
    SwapRig()
    {
        QDir().mkpath(dir.filePath(QStringLiteral("work")));
        bundle = test::makeRelease(dir.filePath(QStringLiteral("install")), QStringLiteral("0.1.0"), nullptr, nullptr);
        updates = dir.filePath(QStringLiteral("updates"));
        staged = test::makeRelease(updates + QStringLiteral("/0.2.0"), QStringLiteral("0.2.0"), nullptr, nullptr,
                                   dir.filePath(QStringLiteral("relaunched")));
    }

    // Starts the script as the updater does, but as a child the test can wait for.
    void start(qint64 pid, bool relaunch)
    {
        script.setWorkingDirectory(dir.filePath(QStringLiteral("work")));
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start(QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"), AppUpdate::swapScript(), QStringLiteral("swap"), QString::number(pid),
                      staged, bundle, relaunch ? QStringLiteral("1") : QStringLiteral("0"), updates});
    }
    bool finish()
    {
        return StandInBrain::spinUntil([this] { return script.state() == QProcess::NotRunning; }, 20)
            && script.exitStatus() == QProcess::NormalExit;
    }
    QString version() const { return test::readText(bundle + QStringLiteral("/share/kavri-zelvo/version.txt")); }
    QStringList besideBundle() const { return QDir(QFileInfo(bundle).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden); }

    QTemporaryDir dir;
    QString bundle;
    QString updates;
    QString staged;
    QProcess script;
};

TEST(SwapScriptTest, WaitsForTheProgramThenSwapsAndRelaunchesOnlyOnRequest)
{
    for (const bool relaunch : {false, true}) {
        SCOPED_TRACE(relaunch);
        SwapRig rig;
        QProcess program; // stands for the quitting application
        program.start(QStringLiteral("/bin/sleep"), {QStringLiteral("0.8")});
        ASSERT_TRUE(program.waitForStarted());
        rig.start(program.processId(), relaunch);
        StandInBrain::spinUntil([] { return false; }, 0.3);
        EXPECT_EQ(rig.script.state(), QProcess::Running);
        EXPECT_EQ(rig.version(), "0.1.0");
        ASSERT_TRUE(rig.finish());
        EXPECT_EQ(program.state(), QProcess::NotRunning);
        EXPECT_EQ(rig.script.exitCode(), 0);
        EXPECT_EQ(rig.version(), "0.2.0");
        EXPECT_EQ(rig.besideBundle(), QStringList{QStringLiteral("KavriZelvo")}); // the old copy is gone
        EXPECT_FALSE(exists(rig.updates));
        const QString marker = rig.dir.filePath(QStringLiteral("relaunched"));
        if (relaunch)
            EXPECT_TRUE(StandInBrain::spinUntil([&] { return test::readText(marker) == "0.2.0\n"; }, 10));
        else
            EXPECT_FALSE(StandInBrain::spinUntil([&] { return exists(marker); }, 0.5));
    }
}

TEST(SwapScriptTest, RestoresTheOldCopyWhenTheMoveFails)
{
    SwapRig rig;
    rig.staged = rig.updates + QStringLiteral("/0.2.0/missing");
    rig.start(999999999, true);
    ASSERT_TRUE(rig.finish());
    EXPECT_EQ(rig.version(), "0.1.0");
    EXPECT_EQ(rig.besideBundle(), QStringList{QStringLiteral("KavriZelvo")});
    EXPECT_FALSE(exists(rig.dir.filePath(QStringLiteral("relaunched"))));
}

TEST(SwapScriptTest, AnUpdateFolderWithShellCharactersIsRemovedAndNothingElse)
{
    SwapRig rig;
    // A sibling the pasted text of such a path would reach, and a command it would run.
    const QString base = rig.dir.filePath(QStringLiteral("home"));
    QDir().mkpath(base + QStringLiteral("/victim"));
    const QString hostile = base + QStringLiteral("/a\" \"victim\" \"$(touch pwned)`touch pwned2`$HOME\\'x/updates");
    ASSERT_TRUE(QDir().mkpath(hostile + QStringLiteral("/0.2.0")));
    ASSERT_TRUE(QDir().rename(rig.staged, hostile + QStringLiteral("/0.2.0/KavriZelvo")));
    rig.staged = hostile + QStringLiteral("/0.2.0/KavriZelvo");
    rig.updates = hostile;
    rig.start(999999999, false);
    ASSERT_TRUE(rig.finish());
    EXPECT_EQ(rig.version(), "0.2.0");
    EXPECT_FALSE(exists(hostile));
    EXPECT_TRUE(exists(base + QStringLiteral("/victim")));
    EXPECT_TRUE(QDir(rig.dir.filePath(QStringLiteral("work"))).isEmpty());
}

TEST(AppUpdateTest, EndToEndAReadyUpdateIsSwappedInAfterTheProgramQuits)
{
    UpdateRig rig;
    ASSERT_TRUE(rig.startCdn());
    QProcess program; // stands for this program, which the script waits for
    program.start(QStringLiteral("/bin/sleep"), {QStringLiteral("1")});
    ASSERT_TRUE(program.waitForStarted());
    AppUpdate::Options options = rig.options();
    options.pid = program.processId();
    AppUpdate& update = rig.open(options);
    EXPECT_TRUE(update.canReplaceSelf());
    update.swapAfterExit(false); // nothing staged: nothing happens
    ASSERT_TRUE(rig.checkAndSettle());
    ASSERT_EQ(update.state(), State::ready(version("0.2.0")));

    int stateChanges = 0;
    QObject::connect(&update, &AppUpdate::stateChanged, [&] { ++stateChanges; });
    update.swapAfterExit(false); // as at shutdown: no relaunch
    EXPECT_EQ(update.state(), State::idle());
    EXPECT_EQ(stateChanges, 1);
    const QString installedVersion = rig.installed() + QStringLiteral("/share/kavri-zelvo/version.txt");
    EXPECT_EQ(test::readText(installedVersion), "0.1.0");
    ASSERT_TRUE(StandInBrain::spinUntil([&] { return !exists(rig.folder()); }, 20));
    EXPECT_EQ(program.state(), QProcess::NotRunning);
    EXPECT_EQ(test::readText(installedVersion), "0.2.0");
    EXPECT_EQ(AppUpdate::team(rig.installed()), test::publisherKey().id);
    EXPECT_FALSE(StandInBrain::spinUntil([&] { return exists(rig.marker()); }, 0.5));
}

} // namespace
} // namespace zelvo
