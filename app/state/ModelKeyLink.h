#pragma once
// What the model key, the hint lines and the guide read of the model server's
// supervisor, the CDN account, the model download and the generation workflow
// beyond the state root's own links, and the workflow actions the key calls beyond `WorkflowLink`.
// The program builds it over the real classes (ModelKeyNeighbours); tests hand
// in fakes. Without one the state root reads a server that is still being
// checked, no key, no download and an idle workflow.
//
// Main thread only.
#include "generation/BrainHealth.h"
#include "generation/BrainStatus.h"
#include "generation/KavriAccount.h"
#include "generation/OutpaintModel.h"
#include "library/TrackRecord.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace zelvo {

class ModelKeyLink {
public:
    // The model installation's progress as the key words it.
    struct Download {
        // Something of the model lies on disk.
        bool started = false;
        // done / total, 0 ... 1.
        double fraction = 0.0;
        // Why the disk lacks room for the installation; none when it has room.
        std::optional<QString> shortfall;
        // "3.2 of 9.8 gb · 4 min left" and the longer summary with the rate.
        QString shortText;
        QString summary;
    };

    virtual ~ModelKeyLink() = default;

    // The supervisor.
    virtual BrainStatus brainStatus() const { return BrainStatus::of(BrainStatus::Kind::checking); }
    // The last health reply; none while the server has not answered.
    virtual std::optional<BrainHealth> brainHealth() const { return std::nullopt; }

    // The CDN account.
    virtual QString accountKey() const { return {}; }
    virtual KavriAccount::Check accountCheck() const { return KavriAccount::Check::none(); }

    // The model installation.
    virtual Download download() const { return {}; }

    // The generation workflow, beyond `WorkflowLink`.
    virtual OutpaintPhase phase() const { return OutpaintPhase::idle(); }
    // A finished fork of the two-deck mix waits to be dropped.
    virtual bool hasReadyMix() const { return false; }
    virtual bool pendingIsExtension() const { return false; }
    // The take being written as a bridge into the next record.
    virtual std::optional<TrackRecord> bridging() const { return std::nullopt; }
    virtual std::int64_t stretchesWritten() const { return 0; }
    // The model or adapter the next render asks for; none for the server's default.
    virtual std::optional<QString> settingsModel() const { return QStringLiteral("zelvo-0"); }
    virtual void dropMix() {}
    virtual void cancel() {}
    virtual void reroll() {}
};

} // namespace zelvo
