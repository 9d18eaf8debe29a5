#include "shell/ModelKeyNeighbours.h"

#include "shell/StandardNeighbours.h"
#include "generation/BrainDownload.h"
#include "generation/BrainSupervisor.h"
#include "generation/KavriAccount.h"
#include "generation/OutpaintModel.h"

namespace zelvo {
namespace {

class StandardModelKey final : public ModelKeyLink {
public:
    explicit StandardModelKey(StandardNeighbours& neighbours) : n_(neighbours) {}

    BrainStatus brainStatus() const override
    {
        return n_.brain ? n_.brain->status() : ModelKeyLink::brainStatus();
    }
    std::optional<BrainHealth> brainHealth() const override
    {
        return n_.brain ? n_.brain->health() : std::nullopt;
    }
    QString accountKey() const override { return n_.account ? n_.account->key() : QString(); }
    KavriAccount::Check accountCheck() const override
    {
        return n_.account ? n_.account->check() : KavriAccount::Check::none();
    }
    Download download() const override
    {
        if (!n_.download)
            return {};
        return {n_.download->started(), n_.download->fraction(), n_.download->shortfall(), n_.download->shortText(),
                n_.download->summary()};
    }

    OutpaintPhase phase() const override { return n_.outpaint ? n_.outpaint->phase() : OutpaintPhase::idle(); }
    bool hasReadyMix() const override { return n_.outpaint && n_.outpaint->readyMix().has_value(); }
    bool pendingIsExtension() const override { return n_.outpaint && n_.outpaint->pendingIsExtension(); }
    std::optional<TrackRecord> bridging() const override
    {
        return n_.outpaint ? n_.outpaint->bridging() : std::nullopt;
    }
    std::int64_t stretchesWritten() const override { return n_.outpaint ? n_.outpaint->stretchesWritten() : 0; }
    std::optional<QString> settingsModel() const override
    {
        return n_.outpaint ? n_.outpaint->settings().model : ModelKeyLink::settingsModel();
    }
    void dropMix() override
    {
        if (n_.outpaint)
            n_.outpaint->dropMix();
    }
    void cancel() override
    {
        if (n_.outpaint)
            n_.outpaint->cancel();
    }
    void reroll() override
    {
        if (n_.outpaint)
            n_.outpaint->reroll();
    }

private:
    StandardNeighbours& n_;
};

} // namespace

std::unique_ptr<ModelKeyLink> makeModelKeyLink(StandardNeighbours& neighbours)
{
    return std::make_unique<StandardModelKey>(neighbours);
}

} // namespace zelvo
