#include "generation/BrainDownload.h"

#include "platform/TextFormat.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace zelvo {

namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
constexpr double kGigabyte = 1e9;
constexpr double kMegabyte = 1e6;
// Below this rate no speed and no time left are shown.
constexpr double kSlowestShownRate = 100'000.0;
// Samples closer together than this give no rate.
constexpr double kShortestRateWindow = 0.2;
constexpr double kKeptRate = 0.85;

const QString kSeparator = QStringLiteral(" \u00B7 ");

// Sizes come from a manifest fetched over the network: their sum may not fit.
std::int64_t addSaturating(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? kLargest : std::numeric_limits<std::int64_t>::min();
    return sum;
}

QString byteCounts(std::int64_t done, std::int64_t total)
{
    return formatText("%.1f of %.1f gb", double(done) / kGigabyte, double(total) / kGigabyte);
}

} // namespace

BrainDownload::BrainDownload(QObject* parent)
    : QObject(parent), ownClock_(std::make_unique<QtScheduler>()), clock_(ownClock_.get())
{
}

BrainDownload::BrainDownload(Scheduler& clock, CapacityProbe capacity, QObject* parent)
    : QObject(parent), clock_(&clock), capacity_(std::move(capacity))
{
}

BrainDownload::~BrainDownload() = default;

double BrainDownload::now() const
{
    return clock_->uptime();
}

// ---------------------------------------------------------------------------
// Derived values and texts

double BrainDownload::fraction() const
{
    if (total_ < 1)
        return 0.0;
    return std::min(double(done_) / double(total_), 1.0);
}

std::optional<double> BrainDownload::secondsLeft() const
{
    if (!(bytesPerSecond_ > kSlowestShownRate) || done_ >= total_)
        return std::nullopt;
    return double(total_ - done_) / bytesPerSecond_;
}

QString BrainDownload::shortText() const
{
    if (total_ < 1)
        return {};
    QString text = byteCounts(done_, total_);
    if (const std::optional<double> left = secondsLeft())
        text += kSeparator + minutes(*left);
    return text;
}

QString BrainDownload::summary() const
{
    if (total_ < 1)
        return {};
    QString text = byteCounts(done_, total_);
    if (bytesPerSecond_ > kSlowestShownRate)
        text += kSeparator + formatText("%.0f mb/s", bytesPerSecond_ / kMegabyte);
    if (const std::optional<double> left = secondsLeft())
        text += kSeparator + minutes(*left);
    return text;
}

QString BrainDownload::minutes(double seconds)
{
    if (seconds < 60.0)
        return QStringLiteral("under a minute left");
    if (seconds < 5400.0)
        return formatText("%.0f min left", std::round(seconds / 60.0));
    return formatText("%.1f h left", seconds / 3600.0);
}

// ---------------------------------------------------------------------------
// Measuring

std::optional<std::int64_t> BrainDownload::fileSize(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return std::nullopt;
    return std::int64_t(info.st_size);
}

void BrainDownload::sample(const QString& home, const std::vector<ManifestFile>& files)
{
    // The entry's path is joined as text: an absolute entry path still lies
    // under the home, as the installer places it.
    const QString root = home.endsWith(QLatin1Char('/')) ? home : home + QLatin1Char('/');
    std::int64_t sum = 0;
    std::int64_t total = 0;
    for (const ManifestFile& file : files) {
        const std::int64_t bytes = std::max<std::int64_t>(file.bytes, 0);
        const QString path = root + file.path;
        std::int64_t size = 0;
        if (const std::optional<std::int64_t> whole = fileSize(path))
            size = *whole;
        if (const std::optional<std::int64_t> part = fileSize(path + QStringLiteral(".part")))
            size = std::max(size, *part);
        sum = addSaturating(sum, std::min(size, bytes));
        total = addSaturating(total, bytes);
    }

    const double at = now();
    if (lastSample_ && at - lastSample_->at > kShortestRateWindow && sum >= lastSample_->done) {
        double rate = double(sum - lastSample_->done) / (at - lastSample_->at);
        if (bytesPerSecond_ != 0.0)
            rate = kKeptRate * bytesPerSecond_ + (1.0 - kKeptRate) * rate;
        setBytesPerSecond(rate);
    }
    lastSample_ = Sample{at, sum};
    setDone(sum);
    setTotal(total);
}

QString BrainDownload::nearestExisting(const QString& home)
{
    QString path = home;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    for (;;) {
        struct stat info {};
        if (!path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0)
            return path;
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            return QStringLiteral(".");
        if (slash == 0)
            return QStringLiteral("/");
        path.truncate(slash);
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
    }
}

std::optional<std::int64_t> BrainDownload::volumeCapacity(const QString& folder)
{
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return std::nullopt;
    unsigned long long bytes = 0;
    if (__builtin_mul_overflow(static_cast<unsigned long long>(info.f_bavail),
                               static_cast<unsigned long long>(info.f_frsize), &bytes)
        || bytes > static_cast<unsigned long long>(kLargest))
        return kLargest;
    return std::int64_t(bytes);
}

bool BrainDownload::checkSpace(const QString& home, const std::vector<ManifestFile>& files)
{
    sample(home, files);
    const std::int64_t needed = addSaturating(std::max<std::int64_t>(total_ - done_, 0), kMargin);
    const QString folder = nearestExisting(home);
    const std::optional<std::int64_t> capacity = capacity_ ? capacity_(folder) : volumeCapacity(folder);
    if (!capacity || *capacity >= needed) {
        setShortfall(std::nullopt);
        return true;
    }
    setShortfall(formatText("needs %.1f gb free \u2014 %.1f gb free now", double(needed) / kGigabyte,
                            double(*capacity) / kGigabyte));
    return false;
}

void BrainDownload::reset()
{
    lastSample_.reset();
    setBytesPerSecond(0.0);
}

// ---------------------------------------------------------------------------
// Observed fields

void BrainDownload::setDone(std::int64_t value)
{
    if (value == done_)
        return;
    done_ = value;
    emit doneChanged();
}

void BrainDownload::setTotal(std::int64_t value)
{
    if (value == total_)
        return;
    total_ = value;
    emit totalChanged();
}

void BrainDownload::setBytesPerSecond(double value)
{
    if (value == bytesPerSecond_)
        return;
    bytesPerSecond_ = value;
    emit bytesPerSecondChanged();
}

void BrainDownload::setShortfall(std::optional<QString> value)
{
    if (value == shortfall_)
        return;
    shortfall_ = std::move(value);
    emit shortfallChanged();
}

} // namespace zelvo
