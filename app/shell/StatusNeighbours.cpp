#include "shell/StatusNeighbours.h"

#include "state/AppUpdate.h"
#include "shell/StandardNeighbours.h"
#include "generation/BrainDownload.h"
#include "generation/BrainSupervisor.h"
#include "generation/KavriAccount.h"

namespace zelvo {
namespace {

class StandardStatus final : public StatusLink {
public:
    explicit StandardStatus(StandardNeighbours& neighbours) : n_(neighbours)
    {
        if (ControllerModel* c = n_.controller) {
            connect(c, &ControllerModel::connectedChanged, this, &StatusLink::controllerChanged);
            connect(c, &ControllerModel::surfaceChoiceChanged, this, &StatusLink::controllerChanged);
            connect(c, &ControllerModel::lastSeenChanged, this, &StatusLink::controllerChanged);
            connect(c, &ControllerModel::playersChanged, this, &StatusLink::playersChanged);
            connect(c, &ControllerModel::playerDecksChanged, this, &StatusLink::playersChanged);
        }
        if (KavriAccount* a = n_.account) {
            connect(a, &KavriAccount::keyChanged, this, &StatusLink::accountChanged);
            connect(a, &KavriAccount::checkChanged, this, &StatusLink::accountChanged);
        }
        if (BrainDownload* d = n_.download) {
            connect(d, &BrainDownload::doneChanged, this, &StatusLink::downloadChanged);
            connect(d, &BrainDownload::totalChanged, this, &StatusLink::downloadChanged);
            connect(d, &BrainDownload::shortfallChanged, this, &StatusLink::downloadChanged);
        }
        if (BrainSupervisor* b = n_.brain) {
            connect(b, &BrainSupervisor::statusChanged, this, &StatusLink::brainStatusChanged);
            connect(b, &BrainSupervisor::logChanged, this, &StatusLink::brainLogChanged);
        }
        if (AppUpdate* u = n_.update)
            connect(u, &AppUpdate::stateChanged, this, &StatusLink::updateChanged);
    }

    std::optional<MIDIHub::Connection> connected() const override
    {
        return n_.controller ? n_.controller->connected() : std::nullopt;
    }
    std::vector<MIDIHub::Player> players() const override
    {
        return n_.controller ? n_.controller->players() : std::vector<MIDIHub::Player>{};
    }
    ControllerKind layout() const override
    {
        return n_.controller ? n_.controller->layout() : ControllerKind::flx4;
    }
    SurfaceChoice surfaceChoice() const override
    {
        return n_.controller ? n_.controller->surfaceChoice() : SurfaceChoice::automatic;
    }
    void setSurfaceChoice(SurfaceChoice choice) override
    {
        if (n_.controller)
            n_.controller->setSurfaceChoice(choice);
    }

    std::map<std::int64_t, int> playerDecks() const override
    {
        return n_.controller ? n_.controller->playerDecks() : std::map<std::int64_t, int>{};
    }
    void swapPlayers() override
    {
        if (n_.controller)
            n_.controller->swapPlayers();
    }

    QString accountKey() const override { return n_.account ? n_.account->key() : QString(); }
    QString accountMasked() const override { return n_.account ? n_.account->masked() : QString(); }
    KavriAccount::Check accountCheck() const override
    {
        return n_.account ? n_.account->check() : KavriAccount::Check::none();
    }
    void saveKey(const QString& text) override
    {
        if (n_.account)
            n_.account->save(text);
    }
    void forgetKey() override
    {
        if (n_.account)
            n_.account->forget();
    }

    double downloadFraction() const override { return n_.download ? n_.download->fraction() : 0.0; }
    std::optional<QString> shortfall() const override
    {
        return n_.download ? n_.download->shortfall() : std::nullopt;
    }

    QStringList brainLog() const override { return n_.brain ? n_.brain->log() : QStringList(); }
    QString brainLogFile() const override { return BrainSupervisor::logURL(); }

    Update update() const override
    {
        if (!n_.update)
            return {};
        const AppUpdate::State& state = n_.update->state();
        const QString version = state.version ? state.version->description() : QString();
        switch (state.kind) {
        case AppUpdate::State::Kind::ready: return {Update::Kind::ready, version};
        case AppUpdate::State::Kind::manual: return {Update::Kind::manual, version};
        case AppUpdate::State::Kind::idle: break;
        }
        return {};
    }
    QUrl updateDownload() const override { return n_.update ? n_.update->download() : QUrl(); }

private:
    StandardNeighbours& n_;
};

} // namespace

std::unique_ptr<StatusLink> makeStatusLink(StandardNeighbours& neighbours)
{
    return std::make_unique<StandardStatus>(neighbours);
}

} // namespace zelvo
