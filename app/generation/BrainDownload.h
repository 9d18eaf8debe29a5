#pragma once
// The model installation's progress as measured on disk. This build measures
// nothing: every figure stays at its initial value.
//
// Main thread only.
#include <QDateTime>
#include <QObject>
#include <cstdint>
#include <optional>

namespace zelvo {

class BrainDownload final : public QObject {
    Q_OBJECT
public:
    explicit BrainDownload(QObject* parent = nullptr) : QObject(parent) {}

    std::int64_t done() const { return done_; }
    std::int64_t total() const { return total_; }
    double bytesPerSecond() const { return bytesPerSecond_; }
    // Bytes missing on the disk for the installation, when too few are free.
    const std::optional<std::int64_t>& shortfall() const { return shortfall_; }
    const std::optional<QDateTime>& lastSample() const { return lastSample_; }
    // Whether a download was measured at all.
    bool started() const { return total_ > 0; }
    // done ÷ total, 0 without a total.
    double fraction() const { return total_ > 0 ? double(done_) / double(total_) : 0.0; }

private:
    std::int64_t done_ = 0;
    std::int64_t total_ = 0;
    double bytesPerSecond_ = 0.0;
    std::optional<std::int64_t> shortfall_;
    std::optional<QDateTime> lastSample_;
};

} // namespace zelvo
