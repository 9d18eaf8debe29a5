#pragma once
// The generation workflow on the performance models' rig: the model, its links
// to the rig's library, decks and mixer, a log that keeps its lines, and the
// stand-in model server on loopback.
#include "ModelRigSupport.h"
#include "generation/BrainClient.h"
#include "generation/OutpaintModel.h"
#include "platform/LogSink.h"
#include "support/StandInBrain.h"

#include <QStringList>
#include <map>
#include <memory>

namespace zelvo::test {

class KeptLog final : public LogSink {
public:
    void note(const QString& line) override
    {
        lines << line;
        if (onNote)
            onNote(line);
    }
    // Lines that start with `prefix`.
    QStringList starting(const QString& prefix) const;
    QStringList lines;
    std::function<void(const QString&)> onNote;
};

struct WorkflowRig {
    // Without `server`, no model server runs (the client points nowhere).
    explicit WorkflowRig(bool server = true, std::map<QString, QString> environment = {});
    ~WorkflowRig();

    // Waits until the render in flight has ended (not busy, task released).
    bool settle(double seconds = 30);
    // Files left in the server's scratch folder.
    QStringList scratchFiles() const;
    // A take of `source` in the library: a WAV of drums in the takes folder.
    TrackRecord addTake(const TrackRecord& source, double sourceOffset, const QDateTime& added,
                        std::optional<QUuid> segmentOf = std::nullopt, double seconds = 20.0);
    // Starts a fork of deck 1 as the fork action does, seam at least `lead` s
    // after `playhead`.
    void forkDeck1(double playhead, bool live = false, bool automatic = false);

    ModelRig rig;
    std::unique_ptr<StandInBrain> brain;
    std::unique_ptr<BrainClient> client;
    KeptLog log;
    bool renderInFlight = false;
    std::shared_ptr<OutpaintModel::Links> links;
    std::unique_ptr<OutpaintModel> model;
};

// Settings for short renders: bars of 2 s at 120 bpm, 3 heard, 4 written.
ForkSettings shortSettings();

} // namespace zelvo::test
