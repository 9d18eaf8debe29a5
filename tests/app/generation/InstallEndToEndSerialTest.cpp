// The whole installation on one machine, in real time: the key check against
// the stand-in content service, the automatic start by the tick, the stand-in
// installer fetching the model files while the download measures them, and the
// stand-in model server started afterwards.
#include "InstallScriptSupport.h"

#include "generation/BrainDownload.h"
#include "generation/BrainPaths.h"
#include "generation/BrainSupervisor.h"
#include "generation/InstallDriver.h"
#include "generation/KavriAccount.h"
#include "platform/ProcessQueries.h"
#include "platform/Scheduler.h"
#include "support/StandInBrain.h"
#include "support/StandInCdn.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <set>

namespace zelvo {
namespace {

using test::manifestOf;
using test::StandInBrain;
using test::StandInCdn;

constexpr double kBound = 60.0; // seconds for a whole scenario

// Everything the application builds for the installation, in a temporary home
// with the environment the application passes on to its children.
class Installation {
public:
    explicit Installation(double rate, const QByteArray& fast = "ready")
    {
        StandInCdn::Options options;
        options.manifest = manifestOf({{QStringLiteral("zelvo-0/weights/config.json"), 4'000'000},
                                       {QStringLiteral("zelvo-0/weights/model-00001.safetensors"), 20'000'000},
                                       {QStringLiteral("zelvo-0/weights/model-00002.safetensors"), 16'000'000}});
        options.rate = rate;
        cdn_.emplace(options);
        ok = cdn_->start();
        const QString brainHome = home_.file(QStringLiteral("brain"));
        const quint16 port = StandInBrain::freePort();
        qputenv("KAVRI_CDN", cdn_->base().toString().toUtf8());
        qputenv("KAVRI_BRAIN_HOME", brainHome.toUtf8());
        qputenv("KAVRI_BRAIN_PORT", QByteArray::number(port));
        qputenv("KAVRI_BRAIN_FAST", fast);
        qputenv("PYTHONDONTWRITEBYTECODE", "1");
        QFile key(home_.file(QStringLiteral(".kavri_key")));
        ok = ok && key.open(QIODevice::WriteOnly) && key.write(StandInCdn::validKey) > 0;
        key.close();

        account.emplace(clock, cdn_->base(), key.fileName());
        supervisor.emplace(BrainPaths(QStringLiteral(ZELVO_SOURCE_DIR "/brain"), brainHome), int(port), clock);
        // Room enough, whatever the test machine's disk holds.
        download.emplace(clock, [](const QString&) { return std::optional<std::int64_t>(1'000'000'000'000); });
        driver = InstallDriver::over(*supervisor, *account, *download, clock);
    }

    ~Installation()
    {
        clock.cancel(ticker_);
        if (supervisor) {
            supervisor->stopInstall();
            supervisor->stop();
            StandInBrain::spinUntil([this] { return !supervisor->serverRunning() && !supervisor->installerRunning(); },
                                    10);
        }
        for (const char* name : {"KAVRI_CDN", "KAVRI_BRAIN_HOME", "KAVRI_BRAIN_PORT", "KAVRI_BRAIN_FAST"})
            qunsetenv(name);
    }

    // Boots the supervisor and starts the application's 20 Hz tick.
    void boot()
    {
        supervisor->boot();
        ticker_ = clock.runEvery(0.05, [this] {
            driver->autoInstallTick();
            if (supervisor->status().kind == BrainStatus::Kind::installing) {
                doneWhileInstalling.insert(download->done());
                fastestWhileInstalling = std::max(fastestWhileInstalling, download->bytesPerSecond());
            }
        });
    }

    // Runs the event loop until `done` holds, within what is left of the bound.
    bool until(const std::function<bool()>& done) { return StandInBrain::spinUntil(done, remaining()); }
    double remaining() const { return std::max(0.0, kBound - double(elapsed_.elapsed()) / 1000.0); }
    int logged(const QString& text) const { return int(supervisor->log().filter(text).size()); }
    QString brainHome() const { return home_.file(QStringLiteral("brain")); }

    bool ok = false;
    QtScheduler clock;
    std::optional<KavriAccount> account;
    std::optional<BrainSupervisor> supervisor;
    std::optional<BrainDownload> download;
    std::unique_ptr<InstallDriver> driver;
    std::set<std::int64_t> doneWhileInstalling;
    double fastestWhileInstalling = 0.0;

private:
    QElapsedTimer elapsed_ = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    test::TempHome home_;
    std::optional<StandInCdn> cdn_;
    Scheduler::TimerId ticker_ = 0;
};

TEST(InstallEndToEndTest, TheCheckedKeyInstallsTheModelAndTheServerStarts)
{
    Installation app(20e6, "until-built");
    ASSERT_TRUE(app.ok);
    app.boot();

    ASSERT_TRUE(app.until([&] { return app.account->check().isOk(); }));
    ASSERT_TRUE(app.until([&] { return app.supervisor->status().kind == BrainStatus::Kind::installing; }))
        << app.supervisor->status().label().toStdString();
    EXPECT_EQ(app.driver->autoInstalledKey(), QString::fromLatin1(StandInCdn::validKey));

    ASSERT_TRUE(app.until([&] { return app.supervisor->status().kind != BrainStatus::Kind::installing; }));
    EXPECT_EQ(app.logged(QStringLiteral("install complete")), 1) << app.supervisor->log().join('\n').toStdString();
    EXPECT_GE(app.doneWhileInstalling.size(), 3u) << "done grows while the files arrive";
    EXPECT_GT(app.fastestWhileInstalling, 0.0);
    EXPECT_EQ(app.download->total(), 40'000'000);

    ASSERT_TRUE(app.until([&] {
        return app.supervisor->status() == BrainStatus::of(BrainStatus::Kind::ready) && app.supervisor->health()
            && app.supervisor->health()->missing.isEmpty();
    })) << app.supervisor->status().label().toStdString();

    // The server reported its neural-engine half missing: built once, after
    // which it reports it ready.
    const QString built = app.brainHome() + QStringLiteral("/zelvo-0/optimized/mlx/neural-engine.ok");
    ASSERT_TRUE(app.until([&] {
        return app.logged(QStringLiteral("neural engine build exit 0")) == 1 && app.supervisor->health()
            && app.supervisor->health()->fast == QStringLiteral("ready");
    })) << app.supervisor->log().join('\n').toStdString();
    EXPECT_TRUE(QFileInfo::exists(built));
    EXPECT_EQ(app.logged(QStringLiteral("building zelvo-0's neural engine half")), 1);
    EXPECT_EQ(app.logged(QStringLiteral("install complete")), 1) << "one automatic installation";
}

TEST(InstallEndToEndTest, QuittingMidDownloadLeavesNoChildBehind)
{
    Installation app(4e6);
    ASSERT_TRUE(app.ok);
    app.boot();
    ASSERT_TRUE(app.until([&] {
        return app.supervisor->status().text.startsWith(QStringLiteral("weights")) && app.download->done() > 0;
    })) << app.supervisor->status().label().toStdString();

    QList<qint64> family = ProcessQueries::descendants(app.supervisor->installerPid());
    family.prepend(app.supervisor->installerPid());
    ASSERT_GE(family.size(), 2);
    // What the state root does at quit.
    app.supervisor->stopInstall();
    app.supervisor->stop();
    EXPECT_TRUE(app.until([&] {
        for (const qint64 pid : family)
            if (test::processAlive(pid))
                return false;
        return true;
    }));
    EXPECT_FALSE(app.supervisor->serverRunning());
    const std::int64_t done = app.download->done();
    EXPECT_LT(done, app.download->total());
}

} // namespace
} // namespace zelvo
