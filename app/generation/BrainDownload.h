#pragma once
// The model installation's progress, measured on disk: the installer fetches
// the model files into the brain home (each as "<path>.part" while it arrives),
// and this model compares what lies there with the manifest's sizes, smooths a
// download rate from successive samples and words the result for the model
// key, the settings and the tour. It also checks, before an installation
// starts, that the disk holding the brain home has room for what is to come.
//
// Main thread only. File sizes and the free space are read synchronously.
#include "generation/KavriAccount.h"
#include "platform/Scheduler.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class BrainDownload final : public QObject {
    Q_OBJECT
public:
    using ManifestFile = KavriAccount::ManifestFile;
    // Bytes available to the user on the volume holding `folder` (an existing
    // folder), or none when it cannot be read.
    using CapacityProbe = std::function<std::optional<std::int64_t>(const QString& folder)>;

    // Room kept free beyond what is still to come, in bytes.
    static constexpr std::int64_t kMargin = 1'500'000'000;

    struct Sample {
        double at = 0.0; // Scheduler::uptime()
        std::int64_t done = 0;
        bool operator==(const Sample&) const = default;
    };

    // Samples on the process's monotonic clock; free space from the file system.
    explicit BrainDownload(QObject* parent = nullptr);
    // Samples on `clock`'s uptime (which must outlive this object); free space
    // from `capacity` when given, else from the file system.
    explicit BrainDownload(Scheduler& clock, CapacityProbe capacity = {}, QObject* parent = nullptr);
    ~BrainDownload() override;

    // Bytes of the manifest's files on disk, each counted up to its size.
    std::int64_t done() const { return done_; }
    // The manifest's sizes added up (at most 2^63 - 1).
    std::int64_t total() const { return total_; }
    // The smoothed download rate.
    double bytesPerSecond() const { return bytesPerSecond_; }
    // What the last failed space check said; none when the last check passed.
    const std::optional<QString>& shortfall() const { return shortfall_; }
    // The previous sample; not observed.
    const std::optional<Sample>& lastSample() const { return lastSample_; }

    // Something of the model lies on disk.
    bool started() const { return done_ >= 1 && total_ > 0; }
    // done / total, within 0...1; 0 without a total.
    double fraction() const;
    // The time still needed at the current rate; none while the rate is at most
    // 100 kB/s or nothing is left to fetch.
    std::optional<double> secondsLeft() const;
    // "3.2 of 9.8 gb", then " · " and the time left when known; "" without a total.
    QString shortText() const;
    // "3.2 of 9.8 gb · 100 mb/s · 1 min left", the rate and the time left only
    // when known; "" without a total.
    QString summary() const;
    // "under a minute left", "<n> min left" or "<x.x> h left" for `seconds`.
    static QString minutes(double seconds);

    // Measures the manifest's files under `home` and updates the rate.
    void sample(const QString& home, const std::vector<ManifestFile>& files);
    // Samples, then checks that the volume holding `home` (or the nearest
    // existing folder above it) has room for what is still to come plus the
    // margin; sets or clears `shortfall`. True when there is room, or when the
    // free space cannot be read.
    bool checkSpace(const QString& home, const std::vector<ManifestFile>& files);
    // Forgets the previous sample and the rate; the byte counts stay.
    void reset();

    // The free space of the volume holding `folder` (statvfs: blocks available
    // to unprivileged users × fragment size), or none when it cannot be read.
    static std::optional<std::int64_t> volumeCapacity(const QString& folder);
    // `home`, or the nearest folder above it that exists.
    static QString nearestExisting(const QString& home);
    // The size of the file at `path` (following links), or none when it is not
    // a regular file that can be read.
    static std::optional<std::int64_t> fileSize(const QString& path);

signals:
    void doneChanged();
    void totalChanged();
    void bytesPerSecondChanged();
    void shortfallChanged();

private:
    double now() const;
    void setDone(std::int64_t value);
    void setTotal(std::int64_t value);
    void setBytesPerSecond(double value);
    void setShortfall(std::optional<QString> value);

    std::unique_ptr<Scheduler> ownClock_;
    Scheduler* clock_;
    CapacityProbe capacity_;

    std::int64_t done_ = 0;
    std::int64_t total_ = 0;
    double bytesPerSecond_ = 0.0;
    std::optional<QString> shortfall_;
    std::optional<Sample> lastSample_;
};

} // namespace zelvo
