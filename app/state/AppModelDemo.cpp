// "--demo": the stage set up from the library with no hands on it. The newest
// generated take goes on deck 2 and its source on deck 1, both just before the
// seam; the variants start them, fill decks 3 and 4, fork or extend.
//
// Each wait (output polls, loads, the pause after starting) is a scheduler
// callback or a load's completion that ends quietly once the state root is gone.
#include "state/AppModel.h"

#include "audio/AudioIO.h"
#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/MixerModel.h"

#include <QPointer>
#include <algorithm>

namespace zelvo {
namespace {

// Takes this long or longer are never chosen.
constexpr double kLongestTake = 400.0;
// Both decks stand this far before the seam.
constexpr double kLeadIn = 6.0;
constexpr double kCrossfader = -0.35;
constexpr double kPlayPause = 2.0;
// Decks 3 and 4: records longer than this, placed at kFourAt seconds.
constexpr double kFourLongerThan = 120.0;
constexpr double kFourAt = 60.0;

void seekVoice(const DeckModel& deck, double seconds)
{
    if (const std::shared_ptr<DeckVoice> voice = deck.voice())
        voice->send(DeckCommand::seek(seconds));
}

} // namespace

struct AppModel::DemoRun {
    TrackRecord source;
    TrackRecord take;
    OutpaintInfo info;
    bool play = false;
    bool fork = false;
    bool extend = false;
    std::vector<TrackRecord> four;
};

void AppModel::stageDemo(bool play, bool fork, bool extend)
{
    std::vector<TrackRecord> candidates;
    for (const TrackRecord& record : library_->tracks()) {
        if (!record.outpaint || record.outpaint->segmentOf || !(record.duration < kLongestTake))
            continue;
        const std::optional<QUuid>& sourceID = record.outpaint->sourceID;
        if (!sourceID || !library_->track(*sourceID))
            continue;
        candidates.push_back(record);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const TrackRecord& a, const TrackRecord& b) { return a.added < b.added; });
    if (candidates.empty())
        return;
    const TrackRecord& take = candidates.back();
    std::optional<TrackRecord> source = library_->track(*take.outpaint->sourceID);
    if (!source)
        return;

    auto run = std::make_shared<DemoRun>();
    run->source = std::move(*source);
    run->take = take;
    run->info = *take.outpaint;
    run->play = play;
    run->fork = fork;
    run->extend = extend;
    demoWaitForOutput(std::move(run), kOutputPolls);
}

void AppModel::demoWaitForOutput(std::shared_ptr<DemoRun> run, int pollsLeft)
{
    const QPointer<AppModel> self(this);
    if (!audio_->io() && pollsLeft > 0) {
        scheduler_.runAfter(kOutputPoll, [self, run, pollsLeft] {
            if (self)
                self->demoWaitForOutput(run, pollsLeft - 1);
        });
        return;
    }
    // Without an output the loads still go ahead; their decks skip the seeks.
    deck(0).load(run->source, [self, run] {
        if (!self)
            return;
        self->deck(1).load(run->take, [self, run] {
            if (self)
                self->demoPlace(run);
        });
    });
}

void AppModel::demoPlace(std::shared_ptr<DemoRun> run)
{
    seekVoice(deck(0), std::max(run->info.sourceOffset + run->info.seam - kLeadIn, 0.0));
    seekVoice(deck(1), std::max(run->info.seam - kLeadIn, 0.0));
    mixer_->channel(1).setSync(true);
    mixer_->setCrossfader(kCrossfader);
    if (!run->play) {
        demoFour(std::move(run), 0);
        return;
    }
    deck(0).playPause();
    deck(1).playPause();
    const QPointer<AppModel> self(this);
    scheduler_.runAfter(kPlayPause, [self, run] {
        if (self)
            self->demoFour(run, 0);
    });
}

void AppModel::demoFour(std::shared_ptr<DemoRun> run, std::size_t next)
{
    if (!arguments_.contains(QStringLiteral("--demo-four"))) {
        demoFinish(std::move(run));
        return;
    }
    if (next == 0) {
        run->four.clear();
        for (const TrackRecord& record : library_->tracks())
            if (!record.outpaint && record.duration > kFourLongerThan && run->four.size() < 2)
                run->four.push_back(record);
    }
    if (next < run->four.size()) {
        const int index = 2 + int(next);
        const QPointer<AppModel> self(this);
        deck(index).load(run->four[next], [self, run, index, next] {
            if (!self)
                return;
            seekVoice(self->deck(index), kFourAt);
            self->demoFour(run, next + 1);
        });
        return;
    }
    // Deck 4 stays paused at its place; deck 3 starts only when it got a record.
    if (run->play && !run->four.empty())
        deck(2).playPause();
    demoFinish(std::move(run));
}

void AppModel::demoFinish(std::shared_ptr<DemoRun> run)
{
    if (run->fork)
        outpaint_->fork(true);
    if (run->extend)
        outpaint_->extend(false);
}

} // namespace zelvo
