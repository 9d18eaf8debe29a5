#include "generation/BrainDownload.h"

#include "platform/Scheduler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

namespace zelvo {
namespace {

using File = BrainDownload::ManifestFile;
constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

// A file of `size` bytes that takes no room on disk.
void sparse(const QString& path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite)) << path.toStdString();
    ASSERT_TRUE(file.resize(size));
}

class BrainDownloadTest : public ::testing::Test {
protected:
    QString home() const { return dir_.filePath(QStringLiteral("brain")); }
    QString at(const QString& relative) const { return home() + QLatin1Char('/') + relative; }

    BrainDownload& download()
    {
        if (!download_)
            download_ = std::make_unique<BrainDownload>(clock_, [this](const QString& folder) {
                asked.push_back(folder);
                return capacity;
            });
        return *download_;
    }

    // Leaves the download at exactly `done` of `total` bytes with a rate of
    // `rate`: two samples 1 s apart, `rate` bytes gained.
    void measure(std::int64_t done, std::int64_t total, double rate)
    {
        const std::vector<File> files{{QStringLiteral("m.bin"), total}};
        sparse(at(QStringLiteral("m.bin.part")), done - std::int64_t(rate));
        download().sample(home(), files);
        clock_.advance(1.0);
        sparse(at(QStringLiteral("m.bin.part")), done);
        download().sample(home(), files);
    }

    QTemporaryDir dir_;
    ManualScheduler clock_;
    std::unique_ptr<BrainDownload> download_;
    std::optional<std::int64_t> capacity = kLargest;
    QStringList asked;
};

TEST_F(BrainDownloadTest, CountsWholeAndPartialFilesUpToTheirManifestSize)
{
    sparse(at(QStringLiteral("w/both.bin")), 100);
    sparse(at(QStringLiteral("w/both.bin.part")), 300);
    sparse(at(QStringLiteral("w/part.bin.part")), 500);
    sparse(at(QStringLiteral("w/whole.bin")), 700);
    sparse(at(QStringLiteral("w/large.bin")), 5000); // larger than its entry
    QDir().mkpath(at(QStringLiteral("w/folder.bin")));
    const std::vector<File> files{
        {QStringLiteral("w/both.bin"), 1000},   {QStringLiteral("w/part.bin"), 1000},
        {QStringLiteral("w/whole.bin"), 700},   {QStringLiteral("w/missing.bin"), 1000},
        {QStringLiteral("w/large.bin"), 1000},  {QStringLiteral("w/folder.bin"), 1000},
        {QStringLiteral("/w/whole.bin"), 1000}, // an absolute entry still lies under the home
    };
    int doneSignals = 0;
    QObject::connect(&download(), &BrainDownload::doneChanged, [&] { ++doneSignals; });

    download().sample(home(), files);
    EXPECT_EQ(download().done(), 300 + 500 + 700 + 0 + 1000 + 0 + 700);
    EXPECT_EQ(download().total(), 6700);
    download().sample(home() + QLatin1Char('/'), files);
    EXPECT_EQ(doneSignals, 1) << "an unchanged sum is not announced again";

    // Files removed: the sum falls, and the rate is left as it was.
    clock_.advance(1.0);
    QFile::remove(at(QStringLiteral("w/large.bin")));
    download().sample(home(), files);
    EXPECT_EQ(download().done(), 2200);
    EXPECT_EQ(download().bytesPerSecond(), 0.0);
    EXPECT_EQ(download().lastSample(), (BrainDownload::Sample{1001.0, 2200}));
    EXPECT_LE(download().fraction(), 1.0);
}

// Sizes come from the network: sums that would overflow stop at the largest
// 64-bit value.
TEST_F(BrainDownloadTest, SaturatesSumsOfHugeManifestSizes)
{
    sparse(at(QStringLiteral("a.bin")), 1000);
    const std::vector<File> files{
        {QStringLiteral("a.bin"), kLargest}, {QStringLiteral("b.bin"), kLargest}, {QStringLiteral("c.bin"), kLargest}};
    capacity = kLargest - 1;
    EXPECT_FALSE(download().checkSpace(home(), files));
    EXPECT_EQ(download().total(), kLargest);
    EXPECT_EQ(download().done(), 1000);
    EXPECT_EQ(download().shortfall(), QStringLiteral("needs 9223372036.9 gb free \u2014 9223372036.9 gb free now"));
    capacity = kLargest;
    EXPECT_TRUE(download().checkSpace(home(), files));
}

TEST_F(BrainDownloadTest, SmoothsTheRateOverSamplesMoreThanAFifthOfASecondApart)
{
    const std::vector<File> files{{QStringLiteral("m.bin"), 10'000'000'000}};
    const QString part = at(QStringLiteral("m.bin.part"));
    struct Step {
        double after;        // seconds since the previous sample
        std::int64_t size;   // the .part file's size
        double rate;         // bytesPerSecond afterwards
    };
    const Step steps[] = {
        {0.0, 0, 0.0},                     // the first sample only records where it starts
        {0.5, 50'000'000, 100'000'000.0},  // the first rate is taken as it is
        {0.5, 75'000'000, 92'500'000.0},   // then 0.85 × old + 0.15 × 50 MB/s
        {0.19, 175'000'000, 92'500'000.0}, // too close for a rate ...
        {0.25, 175'000'000, 0.85 * 92'500'000.0}, // ... but the sample moved on: nothing gained since
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.size);
        clock_.advance(step.after);
        sparse(part, step.size);
        download().sample(home(), files);
        EXPECT_DOUBLE_EQ(download().bytesPerSecond(), step.rate);
        EXPECT_EQ(download().done(), step.size);
    }

    download().reset();
    EXPECT_EQ(download().bytesPerSecond(), 0.0);
    EXPECT_FALSE(download().lastSample());
    EXPECT_EQ(download().done(), 175'000'000) << "the counts stay until the next sample";
    clock_.advance(1.0);
    sparse(part, 200'000'000);
    download().sample(home(), files);
    EXPECT_EQ(download().bytesPerSecond(), 0.0) << "after a reset the first sample only records";
}

TEST_F(BrainDownloadTest, ChecksTheSpaceStillNeededOnTheNearestExistingFolder)
{
    const std::vector<File> two{{QStringLiteral("a.bin"), 4'000'000'000}, {QStringLiteral("b.bin"), 4'000'000'000}};
    sparse(at(QStringLiteral("a.bin.part")), 1'000'000'000);
    struct Case {
        std::vector<File> files;
        std::optional<std::int64_t> capacity;
        bool room;
        const char* shortfall;
    };
    const Case cases[] = {
        {two, 5'200'000'000, false, "needs 8.5 gb free \u2014 5.2 gb free now"},
        {two, 8'499'999'999, false, "needs 8.5 gb free \u2014 8.5 gb free now"},
        {two, 8'500'000'000, true, nullptr},
        {two, std::nullopt, true, nullptr}, // an unreadable capacity lets it proceed
        {{}, 1'499'999'999, false, "needs 1.5 gb free \u2014 1.5 gb free now"},
        {{}, 1'500'000'000, true, nullptr},
        {two, 0, false, "needs 8.5 gb free \u2014 0.0 gb free now"},
    };
    int changes = 0;
    QObject::connect(&download(), &BrainDownload::shortfallChanged, [&] { ++changes; });
    int expectedSignals = 0;
    std::optional<QString> previous;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shortfall ? c.shortfall : "room");
        capacity = c.capacity;
        EXPECT_EQ(download().checkSpace(home(), c.files), c.room);
        const std::optional<QString> expected =
            c.shortfall ? std::optional<QString>(QString::fromUtf8(c.shortfall)) : std::nullopt;
        EXPECT_EQ(download().shortfall(), expected);
        expectedSignals += expected != previous;
        previous = expected;
    }
    EXPECT_EQ(changes, expectedSignals);

    // A home that does not exist yet is measured on the folder above it.
    asked.clear();
    download().checkSpace(dir_.filePath(QStringLiteral("not/there/yet/")), two);
    EXPECT_EQ(asked, QStringList{dir_.path()});
    EXPECT_EQ(BrainDownload::nearestExisting(QStringLiteral("/no-such-folder-here/x")), QStringLiteral("/"));
    EXPECT_EQ(BrainDownload::nearestExisting(QStringLiteral("no-such-relative/x")), QStringLiteral("."));
    EXPECT_FALSE(BrainDownload::volumeCapacity(dir_.filePath(QStringLiteral("missing"))));
    EXPECT_GT(BrainDownload::volumeCapacity(dir_.path()).value_or(0), 0);
}

TEST_F(BrainDownloadTest, WordsTheProgressOnBothSidesOfItsThresholds)
{
    struct Case {
        std::int64_t done, total;
        double rate;
        bool started;
        double fraction;
        std::optional<double> left;
        const char* shortText;
        const char* summary;
    };
    const Case cases[] = {
        {3'200'000'000, 9'800'000'000, 100'000'000.0, true, 3.2 / 9.8, 66.0,
         "3.2 of 9.8 gb \u00B7 1 min left", "3.2 of 9.8 gb \u00B7 100 mb/s \u00B7 1 min left"},
        {3'200'000'000, 9'800'000'000, 100'000.0, true, 3.2 / 9.8, std::nullopt, "3.2 of 9.8 gb", "3.2 of 9.8 gb"},
        {3'200'000'000, 9'800'000'000, 100'001.0, true, 3.2 / 9.8, 6'600'000'000.0 / 100'001.0,
         "3.2 of 9.8 gb \u00B7 18.3 h left", "3.2 of 9.8 gb \u00B7 0 mb/s \u00B7 18.3 h left"},
        {1'000'000, 1'000'000, 500'000.0, true, 1.0, std::nullopt, "0.0 of 0.0 gb", "0.0 of 0.0 gb \u00B7 0 mb/s"},
        {1, 1'000'000'000, 0.0, true, 1e-9, std::nullopt, "0.0 of 1.0 gb", "0.0 of 1.0 gb"},
        {0, 1'000'000'000, 0.0, false, 0.0, std::nullopt, "0.0 of 1.0 gb", "0.0 of 1.0 gb"},
        {0, 0, 0.0, false, 0.0, std::nullopt, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        download_.reset();
        measure(c.done, c.total, c.rate);
        ASSERT_EQ(download().done(), c.done);
        ASSERT_DOUBLE_EQ(download().bytesPerSecond(), c.rate);
        EXPECT_EQ(download().started(), c.started);
        EXPECT_DOUBLE_EQ(download().fraction(), c.fraction);
        EXPECT_EQ(download().secondsLeft().has_value(), c.left.has_value());
        if (c.left && download().secondsLeft()) {
            EXPECT_DOUBLE_EQ(*download().secondsLeft(), *c.left);
        }
        EXPECT_EQ(download().shortText(), QString::fromUtf8(c.shortText));
        EXPECT_EQ(download().summary(), QString::fromUtf8(c.summary));
    }

    const std::pair<double, const char*> minutes[] = {
        {-1.0, "under a minute left"}, {59.0, "under a minute left"}, {59.999, "under a minute left"},
        {60.0, "1 min left"},          {89.0, "1 min left"},          {90.0, "2 min left"},
        {150.0, "3 min left"},         {5399.0, "90 min left"},       {5400.0, "1.5 h left"},
        {9000.0, "2.5 h left"},        {9180.0, "2.5 h left"},        {36000.0, "10.0 h left"},
    };
    for (const auto& [seconds, text] : minutes)
        EXPECT_EQ(BrainDownload::minutes(seconds), QString::fromUtf8(text)) << seconds;
}

} // namespace
} // namespace zelvo
