#include "FlowSupport.h"

#include "audio/DeckVoice.h"
#include "library/TrackBuffer.h"
#include "models/DeckModel.h"

#include "library/AudioFileIO.h"

#include <condition_variable>
#include <mutex>
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

struct HeldDecode::State {
    QStringList paths;
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    int holding = 0;
    std::uint64_t releases = 0;
};

HeldDecode::HeldDecode(QString path) : HeldDecode(QStringList{std::move(path)}) {}

HeldDecode::HeldDecode(QStringList paths) : state_(std::make_shared<State>())
{
    state_->paths = std::move(paths);
}

HeldDecode::~HeldDecode()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->open = true;
        state_->holding = 0;
    }
    state_->released.notify_all();
}

DeckModel::Decoder HeldDecode::decoder() const
{
    return [state = state_](const QString& path, double sampleRate) {
        if (state->paths.contains(path)) {
            std::unique_lock<std::mutex> lock(state->mutex);
            const std::uint64_t ticket = state->releases;
            ++state->holding;
            state->released.wait(lock, [&] { return state->open || state->releases != ticket; });
        }
        return AudioFileIO::decode(std::filesystem::path(path.toStdString()), sampleRate);
    };
}

bool HeldDecode::holding() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->holding > 0;
}

void HeldDecode::release()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        // Counted as let go at once, so the frame after the release waits
        // for the decode to land.
        ++state_->releases;
        state_->holding = 0;
    }
    state_->released.notify_all();
}

} // namespace zelvo::test
