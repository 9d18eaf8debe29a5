// The state root's side of the model key, the hint, flow mode's status line
// and the guide: one reading of its models, handed to the pure rules.
#include "state/AppModel.h"

#include "audio/DeckState.h"
#include "audio/DeckVoice.h"
#include "models/AudioSystem.h"
#include "models/DeckModel.h"
#include "models/TransitionModel.h"

namespace zelvo {

void AppModel::setModelKeyLink(std::unique_ptr<ModelKeyLink> link)
{
    modelKey_ = link ? std::move(link) : std::make_unique<ModelKeyLink>();
}

ModelKeyLink& AppModel::modelKey() const
{
    return *modelKey_;
}

keysteps::Inputs AppModel::stepInputs() const
{
    keysteps::Inputs in;
    in.now = scheduler_.now();
    in.status = modelKey_->brainStatus();
    in.health = modelKey_->brainHealth();
    in.key = modelKey_->accountKey();
    in.check = modelKey_->accountCheck();
    in.download = modelKey_->download();
    in.phase = modelKey_->phase();
    in.readyMix = modelKey_->hasReadyMix();
    in.pendingIsExtension = modelKey_->pendingIsExtension();
    in.bridging = modelKey_->bridging();
    in.stretchesWritten = modelKey_->stretchesWritten();
    in.drop = outpaint_->dropStatus();
    in.model = modelKey_->settingsModel();
    for (std::size_t i = 0; i < 2; ++i) {
        const DeckModel& deck = *decks_[i];
        in.decks[i].track = deck.track();
        const DeckModel::Reading reading = deck.reading();
        in.decks[i].playing = reading.playing();
        in.decks[i].position = reading.position;
    }
    in.deckOneLivePlaying = decks_[0]->live().playing;
    in.transition = transition_->phase();
    in.wait = transition_->waiting();
    in.note = transition_->note();
    in.noteExpires = transition_->noteExpires();
    in.liveDeck = transition_->liveDeck();
    in.directOuts = audio_->directOuts();
    in.autoQueue = autoQueue_;
    in.handsOnAt = handsOnAt();
    in.liveSince = liveSince_;
    in.stretchesAtLive = stretchesAtLive_;
    in.nextQueued = nextQueuedRecord();
    if (autoQueue_) {
        const int live = setDeck();
        in.setDeck = live;
        const std::optional<TrackRecord>& liveTrack = decks_[std::size_t(live)]->track();
        // As flow reads it: the live record was heard and stands, or a record
        // was loaded by hand over it after it was heard; a deck between two
        // states has not stopped.
        in.liveEnded = liveTrack && !in.decks[std::size_t(live)].playing && !decks_[std::size_t(live)]->settling()
            && (heard_.contains(liveTrack->id) || ledger_.standsHeardOn(liveTrack->id, live));
        if (mayMixIn(1 - live))
            in.comingIn = decks_[std::size_t(1 - live)]->track();
        else if (autoCueing_)
            in.comingIn = library_->track(autoCueing_->id);
        else
            in.comingIn = in.nextQueued;
    }
    in.hint = hint_;
    in.hintUntil = hintUntil_;
    return in;
}

std::optional<TrackRecord> AppModel::nextQueuedRecord() const
{
    for (const QUuid& id : queue_)
        if (!queueSkips(id))
            if (std::optional<TrackRecord> record = library_->track(id))
                return record;
    return std::nullopt;
}

// --- The model key

AppModel::AIStep AppModel::aiStep() const
{
    return keysteps::step(stepInputs());
}

void AppModel::aiPrimary()
{
    const keysteps::Inputs in = stepInputs();
    switch (keysteps::tapAction(in)) {
    case keysteps::Tap::nothing: return;
    case keysteps::Tap::openSettings: setShowSettings(true); return;
    case keysteps::Tap::installBrain: installBrain(); return;
    case keysteps::Tap::wake: brain_->start(kWarmSeconds); return;
    case keysteps::Tap::fork: outpaint_->fork(true); return;
    case keysteps::Tap::dropMix: modelKey_->dropMix(); return;
    case keysteps::Tap::drop: outpaint_->drop(); return;
    case keysteps::Tap::mixToDeckTwo: transition_->mix(1); return;
    case keysteps::Tap::extend: outpaint_->extend(false); return;
    }
}

void AppModel::aiSecondary()
{
    switch (keysteps::pressAction(stepInputs())) {
    case keysteps::Press::nothing: return;
    case keysteps::Press::cancel: modelKey_->cancel(); return;
    case keysteps::Press::reroll: modelKey_->reroll(); return;
    }
}

QString AppModel::aiStepTitle() const
{
    return keysteps::title(stepInputs());
}

QString AppModel::aiStepDetail() const
{
    return keysteps::detail(stepInputs());
}

QString AppModel::modelStatus() const
{
    return keysteps::modelStatus(modelKey_->brainStatus());
}

QString AppModel::modelLine() const
{
    return keysteps::modelLine(stepInputs());
}

QString AppModel::brainSize() const
{
    return keysteps::brainSize(modelKey_->accountCheck());
}

QString AppModel::downloadDetail() const
{
    return keysteps::downloadDetail(stepInputs());
}

std::optional<QString> AppModel::installedModel(const QString& name) const
{
    return keysteps::installedModel(modelKey_->brainHealth(), name);
}

// --- The hint and flow mode's marks

void AppModel::setHint(const std::optional<QString>& hint)
{
    if (hint == hint_)
        return;
    hint_ = hint;
    emit hintChanged();
}

void AppModel::setHintUntil(const QDateTime& until)
{
    if (until == hintUntil_)
        return;
    hintUntil_ = until;
    emit hintUntilChanged();
}

QString AppModel::flowLine() const
{
    return keysteps::flowLine(stepInputs());
}

QString AppModel::guide() const
{
    return keysteps::guide(stepInputs());
}

} // namespace zelvo
