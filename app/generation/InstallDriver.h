#pragma once
// Starts the model installation and follows it: `installBrain()` is the one
// way an installation starts (it refuses when the disk lacks room), and
// `autoInstallTick()`, a step of the application's tick, starts it by itself
// once per checked key and samples the download's progress while it runs.
//
// Main thread only.
#include "generation/BrainStatus.h"
#include "generation/KavriAccount.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class BrainDownload;
class BrainSupervisor;
class Scheduler;

class InstallDriver final {
public:
    // What the driver uses of the model server's supervisor.
    class Brain {
    public:
        virtual ~Brain() = default;
        virtual BrainStatus status() const = 0;
        virtual void install() = 0;
        virtual QString home() const = 0;
    };
    // What the driver uses of the CDN account.
    class Account {
    public:
        virtual ~Account() = default;
        virtual QString key() const = 0;
        // The last check of the current key succeeded.
        virtual bool checkOk() const = 0;
        virtual std::vector<KavriAccount::ManifestFile> files() const = 0;
    };

    // Seconds between progress samples while the installer runs (more than).
    static constexpr double kSampleInterval = 0.5;

    // Every argument must outlive the driver.
    InstallDriver(Brain& brain, Account& account, BrainDownload& download, Scheduler& clock);
    ~InstallDriver();
    InstallDriver(const InstallDriver&) = delete;
    InstallDriver& operator=(const InstallDriver&) = delete;

    // A driver over the program's own supervisor and account, which must
    // outlive it.
    static std::unique_ptr<InstallDriver> over(BrainSupervisor& brain, KavriAccount& account, BrainDownload& download,
                                               Scheduler& clock);

    // Checks the free space; when there is room, resets the rate and starts
    // the installer (which does nothing while one runs). The key is not looked
    // at: callers that need one check it first.
    void installBrain();
    // While installing: a progress sample, more than 0.5 s after the last.
    // Otherwise, when the key's check is ok and the model is not installed: one
    // automatic installation per key.
    void autoInstallTick();

    // The key for which an automatic installation was last started.
    const std::optional<QString>& autoInstalledKey() const { return autoInstalledKey_; }
    // When the tick last sampled (Scheduler::uptime); none before the first.
    const std::optional<double>& lastDownloadSample() const { return lastDownloadSample_; }

private:
    struct Owned;

    Brain* brain_;
    Account* account_;
    BrainDownload* download_;
    Scheduler* clock_;
    std::unique_ptr<Owned> owned_; // the adapters made by `over`

    std::optional<QString> autoInstalledKey_;
    std::optional<double> lastDownloadSample_;
};

} // namespace zelvo
