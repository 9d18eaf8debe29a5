#include "FlowSupport.h"

#include "audio/DeckVoice.h"
#include "library/TrackBuffer.h"
#include "models/DeckModel.h"

#include <stdexcept>

namespace zelvo::test {
namespace {

AppModel& built(FlowRig& rig, const std::vector<TrackRecord>& records, QStringList arguments)
{
    writeCollection(records);
    rig.addOutput();
    AppModel& app = rig.make(std::move(arguments));
    if (!rig.bootWithOutput())
        throw std::runtime_error("no output");
    return app;
}

} // namespace

FlowRig::FlowRig(const std::vector<TrackRecord>& records, QStringList arguments)
    : model(built(*this, records, std::move(arguments)))
{
    model.setAIStepSource(&aiStep);
}

void FlowRig::put(int deck, const TrackRecord& record)
{
    model.deck(deck).install(record, TrackBufferRef(4800, 48000.0), nullptr, false);
}

DeckState& FlowRig::cells(int deck)
{
    // The voice publishes through these cells; tests write them in its place.
    return const_cast<DeckState&>(model.deck(deck).voice()->state());
}

void FlowRig::publish(int deck, bool playing, double position, double duration)
{
    DeckState& state = cells(deck);
    state.playing.store(playing);
    state.position.store(position);
    state.duration.store(duration);
}

void FlowRig::after(double seconds)
{
    scheduler.advance(seconds);
    model.tick();
}

QStringList FlowRig::notes() const
{
    QStringList lines;
    for (const QString& line : world.journal)
        if (line.startsWith(QStringLiteral("brain.note ")))
            lines << line.mid(11);
    return lines;
}

} // namespace zelvo::test
