#include "generation/InstallDriver.h"

#include "generation/BrainDownload.h"
#include "platform/Scheduler.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using Kind = BrainStatus::Kind;

class FakeBrain final : public InstallDriver::Brain {
public:
    BrainStatus status() const override { return current; }
    void install() override { ++installs; }
    QString home() const override { return folder; }

    BrainStatus current = BrainStatus::of(Kind::notInstalled);
    int installs = 0;
    QString folder;
};

class FakeAccount final : public InstallDriver::Account {
public:
    QString key() const override { return currentKey; }
    bool checkOk() const override { return ok; }
    std::vector<KavriAccount::ManifestFile> files() const override { return manifest; }

    QString currentKey = QStringLiteral("sk_kavri_one");
    bool ok = true;
    std::vector<KavriAccount::ManifestFile> manifest;
};

class InstallDriverTest : public ::testing::Test {
protected:
    InstallDriverTest()
    {
        brain.folder = dir.filePath(QStringLiteral("brain"));
    }

    QTemporaryDir dir;
    ManualScheduler clock;
    FakeBrain brain;
    FakeAccount account;
    std::optional<std::int64_t> capacity = 1'000'000'000'000;
    int capacityReads = 0;
    BrainDownload download{clock, [this](const QString&) {
                               ++capacityReads;
                               return capacity;
                           }};
    InstallDriver driver{brain, account, download, clock};
};

TEST_F(InstallDriverTest, SamplesOnlyWhileInstallingAndAtMostEveryHalfSecond)
{
    struct Step {
        double after;
        BrainStatus status;
        bool samples;
    };
    const Step steps[] = {
        {0.0, BrainStatus::of(Kind::offline), false},
        {0.0, BrainStatus::installing(QStringLiteral("runtime")), true}, // the first tick samples
        {0.25, BrainStatus::installing(QStringLiteral("weights 0.1 of 9.8 gb")), false},
        {0.25, BrainStatus::installing(QStringLiteral("weights 0.2 of 9.8 gb")), false}, // exactly 0.5 s
        {0.25, BrainStatus::installing(QStringLiteral("weights 0.3 of 9.8 gb")), true},
        {1.0, BrainStatus::failed(QStringLiteral("install exit 3")), false},
        {1.0, BrainStatus::of(Kind::offline), false},
    };
    std::optional<double> sampledAt;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.status.label().toStdString());
        clock.advance(step.after);
        brain.current = step.status;
        driver.autoInstallTick();
        if (step.samples)
            sampledAt = clock.uptime();
        EXPECT_EQ(driver.lastDownloadSample(), sampledAt);
        EXPECT_EQ(download.lastSample().has_value(), sampledAt.has_value());
        if (download.lastSample()) {
            EXPECT_EQ(download.lastSample()->at, *sampledAt);
        }
    }
    EXPECT_EQ(brain.installs, 0) << "an installation never starts from these states";
}

TEST_F(InstallDriverTest, StartsOneAutomaticInstallationPerCheckedKey)
{
    struct Step {
        BrainStatus status;
        bool checkOk;
        const char* key;
        int installs; // total so far
    };
    const Step steps[] = {
        {BrainStatus::of(Kind::notInstalled), false, "sk_kavri_one", 0}, // not checked yet
        {BrainStatus::of(Kind::checking), true, "sk_kavri_one", 0},
        {BrainStatus::of(Kind::offline), true, "sk_kavri_one", 0},
        {BrainStatus::failed(QStringLiteral("exit 1")), true, "sk_kavri_one", 0},
        {BrainStatus::of(Kind::ready), true, "sk_kavri_one", 0},
        {BrainStatus::of(Kind::notInstalled), true, "sk_kavri_one", 1},
        {BrainStatus::of(Kind::notInstalled), true, "sk_kavri_one", 1}, // the same key never twice
        {BrainStatus::failed(QStringLiteral("install exit 4")), true, "sk_kavri_one", 1},
        {BrainStatus::of(Kind::notInstalled), true, "sk_kavri_one", 1},
        {BrainStatus::of(Kind::notInstalled), false, "sk_kavri_two", 1}, // a new key, not yet checked
        {BrainStatus::of(Kind::notInstalled), true, "sk_kavri_two", 2},
        {BrainStatus::of(Kind::notInstalled), true, "sk_kavri_one", 3}, // back to the first: it differs again
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.key + std::string(" ") + step.status.label().toStdString());
        brain.current = step.status;
        account.ok = step.checkOk;
        account.currentKey = QString::fromLatin1(step.key);
        driver.autoInstallTick();
        clock.advance(0.05);
        EXPECT_EQ(brain.installs, step.installs);
    }
    EXPECT_EQ(driver.autoInstalledKey(), QStringLiteral("sk_kavri_one"));
}

TEST_F(InstallDriverTest, AFailedSpaceCheckIsNotRepeatedForTheSameKey)
{
    account.manifest = {{QStringLiteral("zelvo-0/weights/a.bin"), 4'000'000'000}};
    capacity = 5'000'000'000;
    for (int i = 0; i < 10; ++i) {
        driver.autoInstallTick();
        clock.advance(0.05);
    }
    EXPECT_EQ(brain.installs, 0);
    EXPECT_EQ(capacityReads, 1);
    EXPECT_EQ(download.shortfall(), QStringLiteral("needs 5.5 gb free \u2014 5.0 gb free now"));

    // Room made and a new key entered: one more attempt, which now starts and
    // measures its rate afresh.
    capacity = 6'000'000'000;
    account.currentKey = QStringLiteral("sk_kavri_two");
    driver.autoInstallTick();
    EXPECT_EQ(capacityReads, 2);
    EXPECT_EQ(brain.installs, 1);
    EXPECT_FALSE(download.shortfall());
    EXPECT_FALSE(download.lastSample());

    // A manual start checks too; without a manifest it needs only the margin,
    // and a capacity that cannot be read lets it proceed.
    account.manifest.clear();
    capacity = 1'499'999'999;
    driver.installBrain();
    EXPECT_EQ(brain.installs, 1);
    EXPECT_EQ(download.shortfall(), QStringLiteral("needs 1.5 gb free \u2014 1.5 gb free now"));
    capacity = std::nullopt;
    driver.installBrain();
    EXPECT_EQ(brain.installs, 2);
    EXPECT_EQ(driver.autoInstalledKey(), QStringLiteral("sk_kavri_two")) << "a manual start is not an automatic one";
}

} // namespace
} // namespace zelvo
