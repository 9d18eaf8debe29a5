#include "generation/InstallDriver.h"

#include "generation/BrainDownload.h"
#include "generation/BrainSupervisor.h"
#include "platform/Scheduler.h"

namespace zelvo {

// Named rather than anonymous: InstallDriver::Owned holds these by value.
namespace installdriver {

class SupervisorBrain final : public InstallDriver::Brain {
public:
    explicit SupervisorBrain(BrainSupervisor& supervisor) : supervisor_(supervisor) {}
    BrainStatus status() const override { return supervisor_.status(); }
    void install() override { supervisor_.install(); }
    QString home() const override { return supervisor_.paths().home; }

private:
    BrainSupervisor& supervisor_;
};

class AccountLink final : public InstallDriver::Account {
public:
    explicit AccountLink(KavriAccount& account) : account_(account) {}
    QString key() const override { return account_.key(); }
    bool checkOk() const override { return account_.check().isOk(); }
    std::vector<KavriAccount::ManifestFile> files() const override { return account_.files(); }

private:
    KavriAccount& account_;
};

} // namespace installdriver

struct InstallDriver::Owned {
    installdriver::SupervisorBrain brain;
    installdriver::AccountLink account;
};

InstallDriver::InstallDriver(Brain& brain, Account& account, BrainDownload& download, Scheduler& clock)
    : brain_(&brain), account_(&account), download_(&download), clock_(&clock)
{
}

InstallDriver::~InstallDriver() = default;

std::unique_ptr<InstallDriver> InstallDriver::over(BrainSupervisor& brain, KavriAccount& account,
                                                   BrainDownload& download, Scheduler& clock)
{
    using namespace installdriver;
    auto owned = std::make_unique<Owned>(Owned{SupervisorBrain(brain), AccountLink(account)});
    auto driver = std::make_unique<InstallDriver>(owned->brain, owned->account, download, clock);
    driver->owned_ = std::move(owned);
    return driver;
}

void InstallDriver::installBrain()
{
    if (!download_->checkSpace(brain_->home(), account_->files()))
        return; // the shortfall is in the download for the views to show
    download_->reset();
    brain_->install();
}

void InstallDriver::autoInstallTick()
{
    const BrainStatus status = brain_->status();
    if (status.kind == BrainStatus::Kind::installing) {
        const double now = clock_->uptime();
        if (!lastDownloadSample_ || now - *lastDownloadSample_ > kSampleInterval) {
            lastDownloadSample_ = now;
            download_->sample(brain_->home(), account_->files());
        }
        return;
    }
    if (status.kind != BrainStatus::Kind::notInstalled || !account_->checkOk())
        return;
    const QString key = account_->key();
    if (autoInstalledKey_ == key)
        return; // one automatic attempt per key
    autoInstalledKey_ = key;
    installBrain();
}

} // namespace zelvo
