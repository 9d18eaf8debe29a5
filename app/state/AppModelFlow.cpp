// Flow mode: the once-a-second driver that records what was heard, pauses the
// deck an automatic mix faded out, tops the queue up, lets the model fork deck
// 1's record and cues and mixes in the next record or the model's take.
#include "state/AppModel.h"

#include "audio/DeckCommand.h"
#include "audio/DeckVoice.h"
#include "audio/MixerParams.h"
#include "library/Similarity.h"
#include "models/AudioSystem.h"
#include "models/ChannelModel.h"
#include "models/DeckModel.h"
#include "models/EngineBinder.h"
#include "models/MixerModel.h"
#include "models/TransitionModel.h"
#include "platform/TextFormat.h"

#include <QMetaObject>
#include <algorithm>
#include <cmath>

namespace zelvo {
namespace {

constexpr double kBodyInterval = 1.0;
constexpr double kQuietBeforePause = 4.0;
// After flow pauses a deck, the rest of its check runs this much later, once
// the output has rendered the pause (a few buffers at most).
constexpr double kAfterPause = 0.25;
// Seconds a deck stands settled after an output restart while the play-on
// that flow, switched off, did not give it is still owed.
constexpr double kPlayOnOwed = 0.5;
constexpr double kForkContextMargin = 1.0;
constexpr double kForkEndMargin = 20.0;
constexpr std::int64_t kForkEndBars = 8;
constexpr double kForkHintSeconds = 4.0;
constexpr double kCueHintSeconds = 4.0;
constexpr double kPrepareWindow = 30.0;
constexpr double kMixWindow = 8.0;
constexpr double kLoadGiveUp = 20.0;
// A channel fader above this lets its deck be heard.
constexpr double kAudibleFader = 0.05;
constexpr double kTakeHoldOfLive = 75.0;
constexpr double kTakeOnAir = 180.0;
constexpr std::int64_t kStretchesToRelease = 2;
// A mix no deck plays is ended once it has stood this long with hands off:
// long enough for a new output unit to start the decks again (the decks play
// on as it is installed), well inside a bar.
constexpr double kStallGrace = 0.5;
// A deck played again from further back than this behind where it stood
// starts a new play (its cue, after it played out); nearer, the play goes on.
constexpr double kSamePlay = 0.5;
// A deck this near its record's cue point stands at its cue.
constexpr double kAtCue = 0.05;

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return double(from.msecsTo(to)) / 1000.0;
}

// A record's title for a line, or what to call it when the library lost it.
QByteArray titled(const std::optional<TrackRecord>& record, const char* otherwise)
{
    return record ? record->title.toUtf8() : QByteArray(otherwise);
}

} // namespace

template <typename T>
void AppModel::setFlow(T& field, T value)
{
    if (field == value)
        return;
    field = std::move(value);
    emit flowChanged();
}

// Flow reads every deck as the room hears it: the record its voice has
// taken, its state, position and duration from one write of the voice.
bool AppModel::voicePlaying(int deck) const
{
    return decks_[std::size_t(deck)]->reading().playing();
}

double AppModel::voicePosition(int deck) const
{
    return decks_[std::size_t(deck)]->reading().position;
}

double AppModel::voiceDuration(int deck) const
{
    return decks_[std::size_t(deck)]->reading().duration;
}

double AppModel::musicEndOf(int deck) const
{
    return decks_[std::size_t(deck)]->reading().end;
}

bool AppModel::handsOff() const
{
    return secondsBetween(handsOnAt(), scheduler_.now()) >= kHandsOff;
}

void AppModel::autoTick()
{
    // Steps 1 and 2. While the output is rebuilt the decks read as stopped:
    // flow waits for the new engine, which plays on what was playing.
    if (!autoQueue_ || audio_->directOuts() || !audio_->outputRunning())
        return;
    const QDateTime now = scheduler_.now();
    // Every tick, ahead of the body: what the room hears and what the user
    // asked for are noted at once, and a mix no deck plays is ended.
    noteTakenBack();
    yieldCueToPlay();
    noteOnAir();
    endStalledMix(now);
    // Step 3: the body runs at most once a second.
    if (lastAutoCheck_.isValid() && !(secondsBetween(lastAutoCheck_, now) > kBodyInterval))
        return;
    setFlow(lastAutoCheck_, now);
    if (!liveSince_.isValid())
        setFlow(liveSince_, now);
    // Step 4: every record playing on a deck is heard.
    QSet<QUuid> heard = heard_;
    for (int i = 0; i < kDecks; ++i)
        if (const std::optional<QUuid> record = decks_[std::size_t(i)]->reading().record;
            record && voicePlaying(i))
            heard.insert(*record);
    setFlow(heard_, std::move(heard));
    // Step 5: the live deck as last seen, and since when.
    const int live = transition_->liveDeck();
    if (live != flowLive_) {
        setFlow(flowLive_, live);
        setFlow(liveSince_, now);
        setFlow(stretchesAtLive_, outpaint_->stretchesWritten());
    }
    // A hand's crossfade from a record on air to another deck leaves the
    // first playing behind the crossfader, as a mix does, once the deck
    // brought up plays (then, or when a hand starts it later): it is the
    // faded-out deck, paused once it stays quiet with hands off. So is a play
    // the room heard and a hand then took off the air while the live deck
    // stayed where it was (the crossfader or its fader pulled away from it).
    // A play begun on it since the crossfade and never heard is the DJ's; so
    // is one flow found playing when it first looked.
    const int was = 1 - live;
    if (const std::optional<Play>& play = playSince_[std::size_t(was)];
        !flowMixedFrom_ && transition_->phase().kind == TransitionModel::Phase::Kind::idle && voicePlaying(live)
        && voicePlaying(was) && play
        && ((heardOn(was, recordOn(was)) && play->since < liveSince_) || (play->onAir && !isAudible(was))))
        setFlow(flowMixedFrom_, std::optional<int>(was));
    // Step 6. A deck just paused reads as playing until the output renders:
    // the rest waits rather than read it so, but only until the pause has
    // been rendered, not for the next second: the room may be waiting on it
    // (a record standing on air).
    if (quietOutgoing()) {
        setFlow(lastAutoCheck_, now.addMSecs(qint64((kAfterPause - kBodyInterval) * 1000.0)));
        return;
    }
    fillQueue();
    flowFork();
    cueNextInTime();
    // A record that landed and that its voice has not taken yet reads as
    // loading: flow looks again at the next tick, not a second later.
    for (int i = 0; i < 2; ++i)
        if (!decks_[std::size_t(i)]->loading() && decks_[std::size_t(i)]->reading().loading())
            setFlow(lastAutoCheck_, QDateTime());
}

void AppModel::noteTakenBack()
{
    // A request taken off the queue by the user is no request any more. It
    // was on air before it was requested: taken back, it is on air again, and
    // flow never brings it back. Flow's own cue of it, loading or landed, is
    // its turn, not a take-back.
    for (const QUuid& id : ledger_.requestedSet())
        if (std::find(queue_.begin(), queue_.end(), id) == queue_.end() && !flowLoads(id)
            && !ledger_.entry(id).cuedOn)
            ledger_.takeBack(id);
}

void AppModel::yieldCueToPlay()
{
    // Flow cues only onto a deck that stands. Started while the cue decodes
    // (a hand's play, the MIX key, the mix page, the model's key), the deck
    // plays the record it held, now the DJ's, and on air perhaps: the cue
    // landing would replace it. Flow never starts a deck it is loading, nor
    // mixes onto one. What the deck was asked counts a play sent and not
    // rendered yet, and not a pause flow sent before its cue.
    if (!autoCueing_)
        return;
    const AutoCueing cue = *autoCueing_;
    DeckModel& deck = *decks_[std::size_t(cue.deck)];
    const std::shared_ptr<DeckVoice> voice = deck.voice();
    const TransitionModel::Phase phase = transition_->phase();
    const bool mixOnto = phase.kind != TransitionModel::Phase::Kind::idle && phase.to == cue.deck;
    if (deck.loadingRecord() != cue.id || !deck.track() || !voice
        || !(mixOnto || voice->asked().playing))
        return;
    setFlow(autoCueing_, std::optional<AutoCueing>());
    deck.cancelLoad();
    const std::optional<TrackRecord> record = library_->track(cue.id);
    // Cued over the record it held already: the deck plays the cue's record,
    // and that play is the cue's own. It stays flow's cue there.
    if (deck.reading().record == cue.id) {
        brain_->note(formatText("flow: deck %d started with %s before its cue landed; it plays on from there",
                                cue.deck + 1, titled(record, "the cued record").constData()));
        return;
    }
    ledger_.uncueAny(formatText("flow: %s took deck %d before %s landed; it goes back to the head of the queue",
                                deck.track()->title.toUtf8().constData(), cue.deck + 1,
                                titled(record, "the cued record").constData()));
    queueFirst(cue.id);
}

void AppModel::noteOnAir()
{
    // What is on air is noted every tick: a record heard for less than a
    // second is heard all the same. The record on air is the one the voice
    // plays: a record that just landed over it is not, until the voice has
    // taken it.
    for (int i = 0; i < kDecks; ++i) {
        const DeckModel::Reading reading = decks_[std::size_t(i)]->reading();
        std::optional<Play>& since = playSince_[std::size_t(i)];
        if (!reading.stood && !reading.loading()) {
            playingAt_[std::size_t(i)] = reading.playing() ? std::optional<double>(reading.position) : std::nullopt;
            // A stretch of the chain spliced under the play is the same play,
            // heard already if the stretch it follows was, though the splice
            // came once the deck was faded out.
            if (since && reading.record && since->record != *reading.record
                && chainOf(since->record) == chainOf(*reading.record)) {
                if (ledger_.onAir(since->record) && !ledger_.requested(*reading.record))
                    ledger_.noteOnAir(*reading.record);
                since->record = *reading.record;
            }
            if (!reading.record || (since && since->record != *reading.record))
                since.reset();
            if (!reading.playing()) {
                if (since)
                    since->stands = true;
            } else if (!since || (since->stands && reading.position + kSamePlay < since->at)) {
                since = Play{*reading.record, scheduler_.now(), reading.position};
            } else {
                since->at = reading.position;
                since->stands = false;
            }
        }
        if (!reading.playing() || !reading.record || !isAudible(i))
            continue;
        if (since && since->record == *reading.record)
            since->onAir = true;
        // Flow's cue is heard from its own deck: a request for it has had its
        // turn, also when the cue was the record the deck held already.
        // (A request for the record playing now is cued on the other deck
        // while that one still plays.) So has a request heard in any play
        // that started after it was made (a mix of it called off, then a hand
        // bringing its deck up), but not in the play it was made during.
        const QDateTime requestedAt = ledger_.entry(*reading.record).requestedAt;
        const bool playAskedFor = since && since->record == *reading.record && requestedAt.isValid()
            && since->since > requestedAt;
        if (cuedOn(i, *reading.record) || playAskedFor) {
            ledger_.endRequest(*reading.record);
            ledger_.uncue(*reading.record);
        }
        if (!ledger_.requested(*reading.record))
            ledger_.noteOnAir(*reading.record);
    }
}

void AppModel::endStalledMix(const QDateTime& now)
{
    // A deck still loading, or one whose new voice has not rendered yet, is
    // not known to stand; nor is one without a voice, being rebuilt with the
    // engine: it reads as it last stood.
    const auto stands = [this](int deck) {
        const DeckModel::Reading reading = decks_[std::size_t(deck)]->reading();
        return !reading.stood && !reading.loading() && !reading.playing();
    };
    // Neither deck plays under a running mix: a hand paused one, a load over
    // the incoming deck stopped it, the output was restarted, the records
    // ended. Its clock will not move again. While hands are on, the DJ is
    // dealing with it; once they are off (at once when no hand did it) flow
    // ends it, and the next check carries the set on.
    const TransitionModel::Phase phase = transition_->phase();
    const bool stalled = (phase.kind == TransitionModel::Phase::Kind::mixing
                          || phase.kind == TransitionModel::Phase::Kind::starting)
        && stands(0) && stands(1);
    if (!stalled || !handsOff()) {
        setFlow(stalledSince_, std::optional<QDateTime>());
        return;
    }
    if (!stalledSince_) {
        setFlow(stalledSince_, std::optional<QDateTime>(now));
        return;
    }
    if (secondsBetween(*stalledSince_, now) < kStallGrace)
        return;
    setFlow(stalledSince_, std::optional<QDateTime>());
    if (!transition_->endStalled())
        return;
    brain_->note(formatText("flow: no deck played the mix onto deck %d at %.0f%%; ending it", phase.to + 1,
                            phase.value * 100.0));
    setFlow(lastAutoCheck_, QDateTime());
}

bool AppModel::handOver(int i, std::optional<double> at)
{
    std::optional<Handover>& handover = handover_[std::size_t(i)];
    DeckModel& deck = *decks_[std::size_t(i)];
    const std::shared_ptr<DeckVoice> voice = deck.voice();
    if (!handover || !voice)
        return false;
    if (!deck.track() || deck.track()->id != handover->record) {
        dropHandover(i);
        return false;
    }
    // Still decoding for the new rate: once it lands.
    if (!deck.buffer() || std::abs(deck.buffer()->sampleRate - voice->sampleRate()) > EngineBinder::kReloadRateDifference) {
        voice->awaitHandover();
        return false;
    }
    Handover taken = std::move(*handover);
    handover.reset();
    DeckTransport& transport = taken.transport;
    // The app decides only whether the deck plays on. Flow switched off a
    // moment before the play-on fell due (the DJ turning it off and on
    // around a device change) would leave the set silent: the deck keeps
    // what it was asked to do until it settles.
    bool playsOn = false;
    if (i < 2 && at && !audio_->directOuts()) {
        if (autoQueue_) {
            playsOn = true;
            playOnOwed_[std::size_t(i)].reset();
        } else {
            playOnOwed_[std::size_t(i)] = OwedPlayOn{taken.record, *at, QDateTime()};
        }
    }
    if (!playsOn) {
        transport.stand();
    } else if (!transport.playing_) {
        // It stood owed an earlier restart's play-on: it plays on from there.
        transport.pos_ = transport.slipPos_ = transport.scrubTarget_ = *at;
        transport.playing_ = true;
    }
    voice->handOver(transport, taken.since);
    if (playsOn)
        brain_->note(formatText("flow: the output restarted; deck %d plays %s on from %.1fs", i + 1,
                                deck.track()->title.toUtf8().constData(), transport.pos_));
    return true;
}

void AppModel::dropHandover(int i)
{
    handover_[std::size_t(i)].reset();
    const std::shared_ptr<DeckVoice> voice = decks_[std::size_t(i)]->voice();
    if (!voice)
        return;
    // Carried out on the voice already; what it awaited is over.
    voice->stopAwaiting();
}

void AppModel::playOn(int i, double at)
{
    if (audio_->directOuts())
        return;
    DeckModel& deck = *decks_[std::size_t(i)];
    const std::shared_ptr<DeckVoice> voice = deck.voice();
    if (!voice || !deck.buffer() || !deck.track())
        return;
    playOnOwed_[std::size_t(i)].reset();
    voice->send(DeckCommand::seek(at));
    voice->send(DeckCommand::play());
    brain_->note(formatText("flow: the output restarted; deck %d plays %s on from %.1fs", i + 1,
                            deck.track()->title.toUtf8().constData(), at));
}

void AppModel::settleOwedPlayOn()
{
    const QDateTime now = scheduler_.now();
    for (int i = 0; i < 2; ++i) {
        std::optional<OwedPlayOn>& owed = playOnOwed_[std::size_t(i)];
        if (!owed)
            continue;
        const DeckModel& deck = *decks_[std::size_t(i)];
        // Another record, or a load in flight: a hand or flow has taken the
        // deck since.
        if (recordOn(i) != owed->record || deck.loading()) {
            owed.reset();
            continue;
        }
        if (autoQueue_ && audio_->outputRunning()) {
            const double at = owed->at;
            owed.reset();
            playOn(i, at);
            // The play reads as stopped until the output renders it: the
            // rest of flow waits for that, as after a pause.
            setFlow(lastAutoCheck_, now.addMSecs(qint64((kAfterPause - kBodyInterval) * 1000.0)));
            continue;
        }
        const DeckModel::Reading reading = deck.reading();
        if (reading.stood || reading.loading())
            continue;
        // Started since (a hand, a mix onto it), or standing a while as
        // the DJ left it.
        if (reading.playing())
            owed.reset();
        else if (!owed->settled.isValid())
            owed->settled = now;
        else if (secondsBetween(owed->settled, now) >= kPlayOnOwed)
            owed.reset();
    }
}

void AppModel::flowDeckLoadEnded(int deck)
{
    // A deck decoded again for an output at another rate plays on from where
    // it stood once its record lands (see the deck's landed handler); a
    // reload that ended without landing gives that up. The load ends before
    // its buffer is installed: look once it is.
    if (deck < 2 && playOnAfterReload_[std::size_t(deck)] && !decks_[std::size_t(deck)]->loading())
        QMetaObject::invokeMethod(
            this,
            [this, deck] {
                if (playOnAfterReload_[std::size_t(deck)] && !decks_[std::size_t(deck)]->loading()) {
                    playOnAfterReload_[std::size_t(deck)].reset();
                    dropHandover(deck);
                }
            },
            Qt::QueuedConnection);
    if (autoQueue_ && autoCueing_ && autoCueing_->deck == deck && !decks_[std::size_t(deck)]->loading())
        setFlow(lastAutoCheck_, QDateTime());
}

void AppModel::flowDeckLanded(int deck)
{
    // A record the user put on a deck after it was on air (a request, a
    // record played again on purpose) may come in again; flow's own cue is
    // not the user's choice. A take extended under the deck keeps its record.
    const std::optional<TrackRecord>& landed = decks_[std::size_t(deck)]->track();
    const std::optional<QUuid> id = recordOn(deck);
    if (id != landedOn_[std::size_t(deck)]) {
        const std::optional<QUuid> was = landedOn_[std::size_t(deck)];
        landedOn_[std::size_t(deck)] = id;
        // The record when a hand put it there; none for flow's own load.
        const std::optional<QUuid> byHand = flowLoads(id, deck) ? std::nullopt : id;
        // A request put on a deck by hand: heard from here on as any record,
        // and, put there after it was on air, it may come in again. Flow's cue
        // of it has its turn once the room hears it from there.
        if (byHand) {
            ledger_.endRequest(*byHand);
            ledger_.clearOnAir(*byHand);
        }
        // A load by hand over a deck after its record was heard (stopping it
        // mid-record, or after it played out): for the set the deck stands as
        // when that record stopped, not with a record waiting for play.
        // A record loaded over the incoming deck of a running mix (from the
        // browser, no hand on the decks) stops that deck: the mix is called
        // off onto the outgoing record while that one plays, else it ends on
        // a deck that stands, and the record put there goes on once it does.
        const TransitionModel::Phase phase = transition_->phase();
        const bool mixRuns = phase.kind == TransitionModel::Phase::Kind::mixing
            || phase.kind == TransitionModel::Phase::Kind::waitingDownbeat;
        // A landing elsewhere leaves the record owed on another deck owed, and
        // so does one over a deck whose record another deck still holds.
        const auto heldElsewhere = [this, deck](const QUuid& record) {
            for (int i = 0; i < kDecks; ++i)
                if (i != deck && recordOn(i) == record)
                    return true;
            return false;
        };
        // Owed before it landed: its load was in flight onto this deck as the
        // mix ended. The record owed on another deck, put on this one too, is
        // a load over this deck like any other.
        const bool overIncoming = byHand
            && ((mixRuns && phase.to == deck) || (ledger_.owed(*byHand) && !heldElsewhere(*byHand)));
        if (overIncoming || (was && ledger_.owed(*was) && !heldElsewhere(*was)))
            ledger_.setOwed(overIncoming ? id : std::nullopt);
        // A second load over such a deck leaves it standing as the first did.
        if (deck < 2)
            ledger_.setStandsHeard(deck, heardOn(deck, was) && !overIncoming ? byHand : std::nullopt);
        if (cuedOn(deck, was) && !autoCueing_) {
            // The record flow cued here was replaced before it came in: it has
            // not played, so it goes back to the head of the queue.
            const std::optional<TrackRecord> record = library_->track(*was);
            ledger_.uncue(*was,
                          formatText("flow: %s took deck %d before %s came in; it goes back to the head of the queue",
                                     titled(landed, "another record").constData(), deck + 1,
                                     titled(record, "the cued record").constData()));
            queueFirst(*was);
        }
    }

    // The next record landing while the live deck stands (it played out) comes
    // in at once: a second's wait for the next check is a second of silence.
    const int live = transition_->liveDeck();
    if (autoQueue_ && deck != live && decks_[std::size_t(deck)]->track() && !voicePlaying(live))
        setFlow(lastAutoCheck_, QDateTime());
}

void AppModel::flowDeckLoadedAgain(int deck)
{
    // Loaded again onto the deck that held it (a record the user wants to
    // hear again, put back by hand): as a record loaded there after it was on
    // air, it may come in again, and a request for it is put on a deck by
    // hand as a load elsewhere puts it. Flow's own cue is not the user's
    // choice.
    const std::optional<TrackRecord>& track = decks_[std::size_t(deck)]->track();
    if (!track || landedOn_[std::size_t(deck)] != track->id || flowLoads(track->id, deck))
        return;
    ledger_.endRequest(track->id);
    ledger_.clearOnAir(track->id);
}

bool AppModel::quietOutgoing()
{
    if (!flowMixedFrom_ || transition_->phase().kind != TransitionModel::Phase::Kind::idle) {
        setFlow(quietSince_, std::optional<QDateTime>());
        return false;
    }
    const int out = *flowMixedFrom_;
    const QDateTime now = scheduler_.now();
    // A deck between two states (decoding its record again for an output at
    // another rate, owed the play-on of a restart, a new voice that has not
    // rendered) has not stopped: it stays the faded-out deck, as quiet as it
    // was, and is looked at again once it has settled.
    if (decks_[std::size_t(out)]->settling() || (out < 2 && playOnAfterReload_[std::size_t(out)]))
        return false;
    const bool off = handsOff();
    const bool gone = transition_->liveDeck() != out && voicePlaying(out);
    if (off && gone) {
        if (isAudible(out) || mixer_->channel(out).cue()) {
            // Still heard, or cued in the headphones: wait.
            setFlow(quietSince_, std::optional<QDateTime>());
        } else if (!quietSince_) {
            setFlow(quietSince_, std::optional<QDateTime>(now));
        } else if (readSet(now).liveDone) {
            // The live record is done and the room waits: the cue that
            // follows in this check stops the deck as it loads the next.
            return false;
        } else if (secondsBetween(*quietSince_, now) > kQuietBeforePause) {
            // A record never on air (the incoming deck of a mix that ended
            // short of it) waits at its start for its turn; one mixed out
            // stands where it was left.
            const std::optional<TrackRecord>& track = decks_[std::size_t(out)]->track();
            if (track && !ledger_.onAir(track->id)) {
                commandDeck(out, {DeckCommand::pause(), DeckCommand::seek(track->cuePoint)});
                brain_->note(formatText("flow: stopped deck %d, left playing unheard by a mix that ended before it",
                                        out + 1));
            } else {
                commandDeck(out, {DeckCommand::pause()});
                brain_->note(formatText("flow: stopped deck %d after its mix out", out + 1));
            }
            setFlow(flowMixedFrom_, std::optional<int>());
            setFlow(quietSince_, std::optional<QDateTime>());
            return true;
        }
        return false;
    }
    // Hands on: a deck faded out and playing on waits for them to come off,
    // whatever they touch; quiet, since it went quiet. A new play on it since
    // then (from further back, or another record) under a hand since then
    // made it the DJ's; the chain's take-over is no hand.
    const std::optional<Play>& play = playSince_[std::size_t(out)];
    if (gone && play && (!quietSince_ || play->since <= *quietSince_ || handsOnAt() < *quietSince_)) {
        if (isAudible(out) || mixer_->channel(out).cue())
            setFlow(quietSince_, std::optional<QDateTime>());
        else if (!quietSince_)
            setFlow(quietSince_, std::optional<QDateTime>(now));
        return false;
    }
    // The user took over, or the deck stopped or came back on air.
    setFlow(flowMixedFrom_, std::optional<int>());
    setFlow(quietSince_, std::optional<QDateTime>());
    return false;
}

void AppModel::fillQueue()
{
    const std::optional<TrackRecord> reference = referenceTrack();
    if (!reference || queue_.size() >= kQueueTarget)
        return;
    QSet<QUuid> excluded = heard_;
    for (const auto& deck : decks_)
        if (deck->track())
            excluded.insert(deck->track()->id);
    for (const QUuid& id : queue_)
        excluded.insert(id);
    // A record the mix-in has taken off the queue is not on its deck until the
    // load lands: it is no candidate either, or it would be queued a second time.
    if (autoCueing_)
        excluded.insert(autoCueing_->id);
    if (const std::optional<std::pair<int, QUuid>> cued = ledger_.cued())
        excluded.insert(cued->second);
    // A record whose load was given up has left the queue for good.
    excluded.unite(ledger_.givenUpSet());

    const std::optional<TrackMetrics> referenceMetrics = library_->metrics(reference->id);
    struct Scored {
        const TrackRecord* record;
        double score;
    };
    std::vector<Scored> scored;
    for (const TrackRecord& record : library_->tracks()) {
        if (record.outpaint || excluded.contains(record.id))
            continue;
        double score = Similarity::overall(record.bpm(), reference->bpm(), record.key, reference->key,
                                           library_->metrics(record.id), referenceMetrics);
        // A score that is not a number (damaged metrics) fits nothing.
        if (std::isnan(score))
            score = 0.0;
        scored.push_back({&record, score});
    }
    if (scored.empty())
        return;
    std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) { return a.score > b.score; });
    std::vector<QUuid> queue = queue_;
    const std::size_t wanted = std::min(kQueueTarget - queue_.size(), scored.size());
    for (std::size_t i = 0; i < wanted; ++i)
        if (scored[i].score > kFillThreshold)
            queue.push_back(scored[i].record->id);
    if (queue.size() != queue_.size())
        setQueue(std::move(queue));
}

void AppModel::flowFork()
{
    if (transition_->liveDeck() != 0 || transition_->phase().kind != TransitionModel::Phase::Kind::idle)
        return;
    if (outpaint_->rendering() || brain_->status().kind != BrainStatus::Kind::ready)
        return;
    const std::optional<TrackRecord>& record = decks_[0]->track();
    if (!record || record->outpaint || flowForked_ == record->id || !voicePlaying(0))
        return;
    if (isAudible(1))
        return;
    if (holdsTakeOf(1, record->id)) {
        setFlow(flowForked_, std::optional<QUuid>(record->id));
        return;
    }

    const double bar = BeatGrid::barOf(record->grid);
    const double position = voicePosition(0);
    const double end = musicEndOf(0);
    const ForkSettings& settings = outpaint_->settings();
    if (position < bar * double(settings.contextBars) + kForkContextMargin)
        return;
    setFlow(flowForked_, std::optional<QUuid>(record->id));
    // With a record queued, its cue is due mixLen + 30 s before the end and
    // goes ahead of a take still being written: a fork begun later would only
    // be called off.
    const double cueDue = bar * double(transition_->bars()) + kPrepareWindow;
    if (end - position <= bar * double(settings.aheadBars + kForkEndBars) + kForkEndMargin
        || (otherToBringIn(1) && end - position <= cueDue)) {
        brain_->note(QStringLiteral("flow: ") + record->title
                     + QStringLiteral(" is too near its end to fork; the next record gets it"));
        return;
    }
    brain_->note(QStringLiteral("flow: forking ") + record->title);
    showHint(QStringLiteral("FLOW \u00B7 ZELVO-0 IS LISTENING TO ") + record->title.toUpper(), kForkHintSeconds);
    // Flow calls off only the render this fork starts; a fork that starts
    // none (too little heard, the model busy) leaves flow none to call off.
    const std::int64_t before = outpaint_->runID();
    outpaint_->fork(false);
    setFlow(flowRun_, outpaint_->runID() != before ? std::optional<std::int64_t>(outpaint_->runID())
                                                    : std::optional<std::int64_t>());
}

void AppModel::followMixPhase()
{
    using Kind = TransitionModel::Phase::Kind;
    const TransitionModel::Phase was = mixSeen_;
    mixSeen_ = transition_->phase();
    // A mix begun onto a deck flow's cue is decoding onto takes the record
    // the deck holds: before the engine starts it.
    if (autoQueue_ && was.kind == Kind::idle && mixSeen_.kind != Kind::idle)
        yieldCueToPlay();
    if (mixSeen_.kind != Kind::idle || was.kind == Kind::idle)
        return;
    const TransitionModel::Ending why = transition_->lastEnding();
    const std::optional<std::pair<int, QUuid>> owed = ledger_.mixingIn();
    ledger_.mixIn(std::nullopt);
    const MixAftermath after = afterMix(was, why, owed);
    if (after.lookAgainNow)
        setFlow(lastAutoCheck_, QDateTime());
    if (after.owedLoad)
        ledger_.setOwed(after.owedLoad);
    noteMixEnd(was, why);
    if (after.pauseOnceQuiet) {
        setFlow(flowMixedFrom_, after.pauseOnceQuiet);
        setFlow(quietSince_, after.quietSinceNow ? std::optional<QDateTime>(scheduler_.now())
                                                 : std::optional<QDateTime>());
    }
    if (after.bringIn)
        bringIn(*after.bringIn);
    if (after.unheard == MixAftermath::Unheard::stays)
        return;
    const auto [deck, id] = *owed;
    const std::optional<TrackRecord> record = library_->track(id);
    switch (after.unheard) {
    case MixAftermath::Unheard::stays: break;
    case MixAftermath::Unheard::passedOver:
        ledger_.uncue(id, formatText("flow: passed over %s: it played out on deck %d before its mix began",
                                     titled(record, "a record").constData(), deck + 1));
        break;
    case MixAftermath::Unheard::cuedFromItsStart:
        commandDeck(deck, {DeckCommand::seek(record->cuePoint)});
        ledger_.write(id, ledger_.entry(id),
                      formatText("flow: the mix onto deck %d ended before %s was heard; it comes in from its start",
                                 deck + 1, record->title.toUtf8().constData()));
        break;
    case MixAftermath::Unheard::backToTheQueue: {
        queueFirst(id);
        const QString line = formatText("flow: the mix onto deck %d ended before %s was heard; it goes back to the "
                                        "head of the queue",
                                        deck + 1, titled(record, "its record").constData());
        // A request back in the queue waits for its turn there: taking it off
        // the queue now takes it back. Flow's own pick stays its cue until
        // heard.
        if (ledger_.requested(id))
            ledger_.uncue(id, line);
        else
            ledger_.write(id, ledger_.entry(id), line);
        break;
    }
    }
}

AppModel::MixAftermath AppModel::afterMix(const TransitionModel::Phase& was, TransitionModel::Ending why,
                                          const std::optional<std::pair<int, QUuid>>& owed) const
{
    using Ending = TransitionModel::Ending;
    MixAftermath after;
    // A mix over: what it left standing is flow's to look at on the next
    // tick, not a second later.
    const bool onItsOwn = why == Ending::completed || why == Ending::stalled;
    after.lookAgainNow = autoQueue_ && onItsOwn;
    // A record still decoding onto the incoming deck when the mix ends on its
    // own was loaded over it while the mix ran: owed as one landed then.
    if (const std::optional<QUuid> inFlight = decks_[std::size_t(was.to)]->loadingRecord();
        inFlight && onItsOwn && !flowLoads(inFlight, was.to))
        after.owedLoad = inFlight;
    // The mix owed the room a record on its incoming deck.
    const bool owedThere = owed && owed->first == was.to;
    const bool stillThere = owedThere && recordOn(was.to) == owed->second;
    if (why == Ending::completed) {
        // Whoever started it (flow, the MIX key, the mix page, the model's
        // key), the deck it faded out is paused once it stays quiet. It has
        // been quiet since the mix ended: a hand from before then (the one
        // that started the mix, or one on a deck while it ran) is no hand on
        // that deck.
        after.pauseOnceQuiet = 1 - was.to;
        after.quietSinceNow = true;
        // A mix that completed onto a deck a hand stopped before its record
        // was heard left that record unheard as a called-off one does.
        if (!owedThere || (stillThere && voicePlaying(was.to)))
            return after;
    } else {
        // The live deck stopped before the downbeat (a record loaded over it,
        // its end) while the incoming deck plays the record the mix owed the
        // room: nothing else is left to hear, so that deck comes in at once,
        // as a mix from a deck that stands comes up at once.
        const int out = 1 - was.to;
        if (why == Ending::deckStopped && autoQueue_ && handsOff() && was.to < 2 && stillThere
            && voicePlaying(was.to) && transition_->liveDeck() == out && !voicePlaying(out)
            && !decks_[std::size_t(out)]->settling() && mixer_->channel(was.to).fader() > kAudibleFader) {
            after.bringIn = was.to;
            return after;
        }
        // Its incoming deck left playing behind the crossfader (the outgoing
        // deck stopped under the mix, a hand took the crossfader short of
        // it) is paused as the deck a mix fades out is, once it stays quiet
        // with hands off, in place of the deck flow meant to mix out. One the
        // DJ kept playing by calling the mix off is theirs.
        if (why != Ending::calledOff && was.to < 2 && voicePlaying(was.to) && transition_->liveDeck() != was.to)
            after.pauseOnceQuiet = was.to;
    }
    // A record flow took from the queue and the called-off mix left unheard
    // has not been played: it goes back to the head of the queue.
    // A load over its deck sent it back already, with its line.
    // Heard from its deck as the mix ended, it has had its turn; a record
    // loaded over it there since speaks for itself, not for it.
    if (!owedThere || ledger_.onAir(owed->second) || (stillThere && isAudible(owed->first))
        || headsQueue(owed->second))
        return after;
    const auto [deck, id] = *owed;
    if (stillThere && decks_[std::size_t(deck)]->reading().state == DeckModel::Reading::State::playedOut) {
        // Shorter than the wait for its downbeat: cued again it would only
        // play out again.
        after.unheard = MixAftermath::Unheard::passedOver;
    } else if ((why == Ending::completed || why == Ending::incomingStopped) && cuedOn(deck, id)
               && !ledger_.requested(id) && library_->track(id)) {
        // Flow's own cue, stopped by a hand under a mix that completed onto
        // it or was called off for it: it stays flow's cue on its deck, and
        // comes in from its start once hands are off. The queue is the
        // user's alone.
        after.unheard = MixAftermath::Unheard::cuedFromItsStart;
    } else {
        after.unheard = MixAftermath::Unheard::backToTheQueue;
    }
    return after;
}

void AppModel::noteMixEnd(const TransitionModel::Phase& was, TransitionModel::Ending why)
{
    using Kind = TransitionModel::Phase::Kind;
    using Ending = TransitionModel::Ending;
    if (why == Ending::completed) {
        brain_->note(formatText("mix: onto deck %d complete", was.to + 1));
        return;
    }
    QString where;
    switch (was.kind) {
    case Kind::starting: where = QStringLiteral("before its deck started"); break;
    case Kind::waitingDownbeat: where = formatText("waiting for its downbeat at %.2fs", was.value); break;
    case Kind::mixing: where = formatText("mixing at %.0f%%", was.value * 100.0); break;
    case Kind::idle: break;
    }
    QString reason;
    switch (why) {
    case Ending::calledOff: reason = QStringLiteral("called off by hand"); break;
    case Ending::tookOver: reason = QStringLiteral("a hand took the crossfader"); break;
    case Ending::deckStopped: reason = QStringLiteral("a deck stopped before the downbeat"); break;
    case Ending::couldNotStart: reason = QStringLiteral("the incoming deck could not start"); break;
    case Ending::stalled: reason = QStringLiteral("no deck was playing"); break;
    case Ending::incomingStopped: reason = QStringLiteral("its incoming deck stopped"); break;
    case Ending::none:
    case Ending::completed: reason = QStringLiteral("no reason given"); break;
    }
    brain_->note(QStringLiteral("mix: onto deck %1 ended %2 \u2014 %3").arg(was.to + 1).arg(where, reason));
}

bool AppModel::bringInPlaying()
{
    const int live = transition_->liveDeck();
    const int idle = 1 - live;
    DeckModel& idleDeck = *decks_[std::size_t(idle)];
    // The live deck has stopped and the other plays: the playing deck is the
    // live one (`setDeck` says when: its fader up, its record not left
    // behind). Wherever the crossfader stands short of its end it keeps that
    // deck below full level (a mix called off after its outgoing record ended,
    // a crossfader left near the middle): it goes to the playing deck's end,
    // which becomes tempo master, and flow goes on from it. A deck faded down
    // on its own channel is the DJ's choice. A deck read as playing and asked
    // since to stop (flow's pause of a cue that played unheard, a hand's,
    // not rendered yet) is not brought in: the pause would stop it on air.
    const std::shared_ptr<DeckVoice> voice = idleDeck.voice();
    if (!voicePlaying(idle) || !idleDeck.track() || !voice || !voice->asked().playing || setDeck() != idle)
        return false;
    bringIn(idle);
    return true;
}

void AppModel::bringIn(int deck)
{
    mixer_->setCrossfader(deck != 0 ? 1.0 : -1.0);
    if (const std::shared_ptr<MixerParams> params = mixer_->params())
        params->masterRequest.store(deck);
    setFlow(flowMixedFrom_, std::optional<int>());
    setFlow(quietSince_, std::optional<QDateTime>());
    brain_->note(formatText("flow: deck %d stopped while deck %d plays %s; bringing deck %d in", 2 - deck, deck + 1,
                            decks_[std::size_t(deck)]->track()->title.toUtf8().constData(), deck + 1));
    // The set goes on from the deck brought in at the next tick, not a second
    // later: its record may be near its end, the next cue due at once.
    setFlow(lastAutoCheck_, QDateTime());
}

bool AppModel::queueSkips(const QUuid& id) const
{
    return skipReason(id).has_value();
}

std::optional<QString> AppModel::skipReason(const QUuid& id) const
{
    // With flow off the queue is only the user's list: nothing but a record
    // playing on air now is passed over.
    if (autoQueue_) {
        if (ledger_.onAir(id))
            return QStringLiteral("it was on air already");
        // A request is the user's wish to hear the record again, the one
        // playing now included: it is cued afresh on its turn.
        if (ledger_.requested(id))
            return std::nullopt;
    }
    const int live = transition_->liveDeck();
    for (int i = 0; i < kDecks; ++i) {
        if (recordOn(i) != id)
            continue;
        if (autoQueue_ && i == live && !playedOut(i))
            return QStringLiteral("it is on the live deck");
        if (voicePlaying(i) && (autoQueue_ || isAudible(i)))
            return formatText("it plays on deck %d", i + 1);
    }
    return std::nullopt;
}

void AppModel::notePassedOver(const QUuid& id, const QString& why)
{
    const std::optional<TrackRecord> record = library_->track(id);
    ledger_.passOver(id, why,
                     QStringLiteral("flow: passed over ") + (record ? record->title : QStringLiteral("a record"))
                         + QStringLiteral(" in the queue: ") + why);
}

bool AppModel::otherToBringIn(int idle) const
{
    return (mayMixIn(idle) && !voicePlaying(idle)) || autoCueing_ || nextQueuedRecord();
}

void AppModel::queueFirst(const QUuid& id)
{
    // Queued again further down meanwhile, it moves up: it has not played,
    // and its turn is next.
    if (headsQueue(id))
        return;
    std::vector<QUuid> queue = queue_;
    std::erase(queue, id);
    queue.insert(queue.begin(), id);
    setQueue(std::move(queue));
}

bool AppModel::playedOut(int deck) const
{
    return decks_[std::size_t(deck)]->reading().state == DeckModel::Reading::State::playedOut;
}

bool AppModel::holdsToCueInPlace(int deck) const
{
    const std::optional<QUuid> id = recordOn(deck);
    if (deck > 1 || !id || ledger_.heldOn(*id, deck))
        return false;
    // Its voice holds it, standing, playing or played out: a reload for a new
    // output rate that failed (its file gone) leaves the record on the deck
    // with nothing its voice can play, and it is cued afresh, as any record.
    // The other deck playing the same record (a request for the record playing
    // now) changes nothing: flow's cue is marked by deck, and only a play of
    // it from this deck, or one begun on any deck after the request, meets
    // the request.
    const DeckModel::Reading reading = decks_[std::size_t(deck)]->reading();
    return reading.record == id && (reading.stopped() || reading.playing());
}

bool AppModel::mayMixIn(int deck) const
{
    const std::optional<TrackRecord>& track = decks_[std::size_t(deck)]->track();
    if (!track)
        return false;
    // A deck still loading (a load, or the reload of an output restart) holds
    // nothing that can come in yet; one played out has nothing left.
    const DeckModel::Reading reading = decks_[std::size_t(deck)]->reading();
    if (reading.loading() || reading.state == DeckModel::Reading::State::playedOut)
        return false;
    // What the deck held before a load that was given up is not the record
    // flow meant to bring in.
    if (ledger_.heldOn(track->id, deck))
        return false;
    // Flow's own cue of the queue comes in on its turn: a request for the
    // record playing now is this very record again.
    if (cuedOn(deck, track->id))
        return true;
    // A record heard on air (the one an automatic mix faded out, say) is not
    // mixed in a second time, nor one that also plays on the other deck.
    // A request for a record heard before is cued afresh on its turn, not
    // taken from wherever a deck left it.
    if (heardBefore(track->id, deck))
        return false;
    return !(recordOn(1 - deck) == track->id && voicePlaying(1 - deck));
}

int AppModel::setDeck() const
{
    const int live = transition_->liveDeck();
    const int other = 1 - live;
    // A live deck between two states has not stopped: the set stays on it.
    if (voicePlaying(live) || decks_[std::size_t(live)]->settling())
        return live;
    // A record behind the crossfader is left behind only once the crossfader's
    // deck has had the set (its record heard, or owed to the room). A hand
    // that moved the crossfader onto a deck that never played took nothing
    // over: the set stays with the deck that plays.
    const bool liveHadSet = heardOn(live, recordOn(live)) || owesRoom(live) || decks_[std::size_t(live)]->loading();
    if (voicePlaying(other))
        return mixer_->channel(other).fader() > kAudibleFader && (!leftBehind(other) || !liveHadSet) ? other : live;
    return !heardOn(live, recordOn(live)) && !owesRoom(live) && heardOn(other, recordOn(other)) ? other : live;
}

bool AppModel::settleCue(const QDateTime& now)
{
    if (!autoCueing_)
        return true;
    const AutoCueing cue = *autoCueing_;
    DeckModel& deck = *decks_[std::size_t(cue.deck)];
    const std::optional<TrackRecord>& held = deck.track();
    // A cue of the record the deck held already (its reload for a new output
    // rate failed, its file gone) that failed in turn leaves that record on
    // the deck with nothing its voice can play: a failed load as any other.
    const bool failedOverItself = cue.replacing == cue.id && !deck.loading() && deck.error()
        && deck.reading().state == DeckModel::Reading::State::empty;
    // Over the record the deck held already, the cue shows from the start:
    // it has landed once its own decode has, not before. Until then a start
    // of the deck (a MIX key, a hand) yields the cue to that play.
    if (recordOn(cue.deck) == cue.id && deck.loadingRecord() != cue.id && !failedOverItself) {
        setFlow(autoCueing_, std::optional<AutoCueing>());
        return true;
    }
    // The deck still holds the record the cue was to replace.
    const bool keptOld = held && cue.replacing == held->id;
    if (!deck.loading()) {
        if (deck.error() && (!held || keptOld)) {
            // The load failed (a file gone, a drive unplugged, a damaged file):
            // nothing will land, so flow goes on at once with the next record.
            ledger_.setHeld(std::nullopt);
            setFlow(autoCueing_, std::optional<AutoCueing>());
            ledger_.uncueAny();
            const std::optional<TrackRecord> record = library_->track(cue.id);
            ledger_.giveUp(cue.id, formatText("flow: gave up loading %s on deck %d: %s; going on without it",
                                              titled(record, "a record").constData(), cue.deck + 1,
                                              deck.error()->toUtf8().constData()));
            return true;
        }
        if (held || deck.voice()) {
            // Something else was put on the deck (a take placed there, a load
            // by hand, the record it held loaded again): the cue never lands.
            // Its record has not played: it goes back to the head of the queue.
            setFlow(autoCueing_, std::optional<AutoCueing>());
            const std::optional<TrackRecord> record = library_->track(cue.id);
            ledger_.uncueAny(
                formatText("flow: %s took deck %d before %s landed; it goes back to the head of the queue",
                           titled(held, "another load").constData(), cue.deck + 1,
                           titled(record, "the cued record").constData()));
            queueFirst(cue.id);
            return true;
        }
    }
    if (secondsBetween(cue.since, now) <= kLoadGiveUp)
        return false;
    // The record has left the queue; it is not queued again. Whatever flow
    // does next on this deck (a cue, a mix of what it holds) supersedes the
    // late load, so it never lands over it.
    ledger_.setHeld(keptOld ? std::optional<std::pair<int, QUuid>>(std::pair<int, QUuid>(cue.deck, held->id))
                        : std::nullopt);
    setFlow(autoCueing_, std::optional<AutoCueing>());
    const std::optional<TrackRecord> record = library_->track(cue.id);
    ledger_.giveUp(cue.id, formatText("flow: gave up loading %s on deck %d after %.0fs; going on without it",
                                      titled(record, "a record").constData(), cue.deck + 1,
                                      kLoadGiveUp));
    return true;
}

AppModel::SetView AppModel::readSet(const QDateTime& now) const
{
    SetView set;
    set.now = now;
    set.live = setDeck();
    set.idle = 1 - set.live;
    set.livePlays = voicePlaying(set.live);
    // A live deck between two states is not done: flow looks again once it
    // has settled.
    set.liveDone = !set.livePlays && !decks_[std::size_t(set.live)]->settling()
        && heardOn(set.live, recordOn(set.live)) && !owesRoom(set.live);
    set.idlePlays = voicePlaying(set.idle);
    return set;
}

void AppModel::cueNextInTime()
{
    // Gates 1 and 2: a transition in progress, hands on.
    if (transition_->phase().kind != TransitionModel::Phase::Kind::idle || !handsOff())
        return;
    if (bringInPlaying())
        return;
    SetView set = readSet(scheduler_.now());
    if (playOwedRecord(set))
        return;
    // Gate 3: the live deck does not play, and its record is not done.
    if (!set.livePlays && !set.liveDone) {
        settleCue(set.now); // a load flow started is seen land, or given up, all the same
        return;
    }
    // Measures 4 to 7.
    measureRemaining(set);
    // Step 8: the preparation window.
    if (!(set.remaining < set.mixLen + kPrepareWindow))
        return;
    // Step 9: a fork of deck 1's record being written.
    if (!cueAheadOfRender(set))
        return;
    // Step 10: the pending load.
    if (!settleCue(set.now) || waitForForeignLoad(set))
        return;
    requeueCuePlayedOut();
    stopHeardOnIdle(set);
    if (rewindQueueHeadOnIdle(set))
        return;
    // Steps 11 and 12: cue from the queue.
    if (cueFromQueue(set))
        return;
    if (playHandLoadedLive(set))
        return;
    // Step 13: nothing on the idle deck to mix in, or it plays.
    if (set.idlePlays || !mayMixIn(set.idle))
        return;
    // Step 14: the mix window.
    if (set.remaining < set.mixLen + kMixWindow)
        startMix(set);
}

bool AppModel::playOwedRecord(const SetView& set)
{
    // The live deck stands, and nothing else is heard, with a record the set
    // owes the room: one loaded over it while a mix ran onto it, or flow's own
    // cue stopped before it was ever on air (a hand paused the incoming deck
    // and took the crossfader to it). It goes on at once.
    // (`mayMixIn` leaves out records on air, but for flow's own cue: a request
    // for a record heard before is cued to be heard again; it holds only for
    // a deck with a record.)
    DeckModel& liveDeck = *decks_[std::size_t(set.live)];
    const std::optional<TrackRecord>& liveTrack = liveDeck.track();
    if (set.livePlays || liveDeck.loading() || !mayMixIn(set.live))
        return false;
    const bool owed = (ledger_.owed(liveTrack->id) && !set.liveDone) || cuedOn(set.live, liveTrack->id);
    if (!owed || isAudible(set.idle) || !(mixer_->channel(set.live).fader() > kAudibleFader))
        return false;
    ledger_.setOwed(std::nullopt);
    // Sent back to the head of the queue by a mix that left it unheard, it
    // has its turn now, from its start.
    const bool itsTurn = headsQueue(liveTrack->id);
    if (!(itsTurn ? commandDeck(set.live, {DeckCommand::seek(liveTrack->cuePoint), DeckCommand::play()})
                  : commandDeck(set.live, {DeckCommand::play()})))
        return false;
    if (itsTurn)
        setQueue(std::vector<QUuid>(queue_.begin() + 1, queue_.end()));
    brain_->note(formatText("flow: deck %d stood silent on air with %s; playing it", set.live + 1,
                            liveTrack->title.toUtf8().constData()));
    return true;
}

void AppModel::measureRemaining(SetView& set) const
{
    DeckModel& liveDeck = *decks_[std::size_t(set.live)];
    const std::optional<TrackRecord>& liveTrack = liveDeck.track();
    set.mixLen = BeatGrid::barOf(liveDeck.grid()) * double(transition_->bars());
    const double liveFor = secondsBetween(liveSince_, set.now);
    set.plain = set.livePlays ? std::max(musicEndOf(set.live) - voicePosition(set.live), 0.0) : 0.0;
    set.remaining = set.plain;
    if (!liveTrack)
        return;
    if (set.live == 0) {
        // A take that cannot come in (one heard on air already) holds nothing
        // back: the next record is cued in time.
        set.takeOfLive = holdsTakeOf(set.idle, liveTrack->id) && mayMixIn(set.idle);
        if (set.takeOfLive && liveFor >= kTakeHoldOfLive)
            set.remaining = std::min(set.plain, set.mixLen);
        return;
    }
    if (!set.livePlays || !liveTrack->outpaint || outpaint_->chainSnooze())
        return;
    if ((aiStepSource_ ? aiStepSource_->aiStep() : aiStep()) != AIStep::steer && !outpaint_->rendering())
        return;
    // A take the model is still writing stays on air for about three minutes.
    const std::int64_t written = outpaint_->stretchesWritten() - stretchesAtLive_;
    set.remaining = written < kStretchesToRelease && liveFor < kTakeOnAir ? set.mixLen + (kTakeOnAir - liveFor)
                                                                          : set.mixLen;
    // A render that is not the chain's next stretch (a fork the user started)
    // keeps the chain from writing the take onward: the take's own end then
    // comes first, and the next record is in before it plays out.
    if (outpaint_->rendering() && !outpaint_->pendingIsExtension())
        set.remaining = std::min(set.remaining, set.plain);
}

bool AppModel::cueAheadOfRender(const SetView& set)
{
    if (set.live != 0 || !outpaint_->rendering() || outpaint_->pendingIsExtension())
        return true;
    // A take of deck 1's record is being written. Once the music left is
    // shorter than a mix and the cue window, the cue and the mix go ahead of
    // it and the render is called off, so a take landing late cannot push the
    // cued record off deck 2.
    // With more music left than that (a take's hold ran out), or nothing else
    // to bring in, the render is waited for.
    if (!(set.plain < set.mixLen + kPrepareWindow))
        return false;
    // Nothing else to bring in: the render is waited for, unless the live
    // deck is done and the room waits on it (a record put there by hand may
    // play meanwhile).
    if (!otherToBringIn(set.idle))
        return set.liveDone;
    // A render the user started is theirs: it is never called off, and the
    // set goes on around it. The next record comes in on time (or, with deck
    // 1 standing, once hands are off) while the render goes on; a take that
    // lands before that mix begins takes the cue's place and comes in
    // instead, and one that lands later waits for deck 2 to stop.
    if (flowRun_ != outpaint_->runID())
        return true;
    const std::optional<TrackRecord>& liveTrack = decks_[std::size_t(set.live)]->track();
    brain_->note(QStringLiteral("flow: no time left for zelvo-0's take of ")
                 + (liveTrack ? liveTrack->title : QStringLiteral("deck 1's record"))
                 + QStringLiteral("; the next record comes in"));
    setFlow(flowRun_, std::optional<std::int64_t>());
    outpaint_->callOff();
    return true;
}

bool AppModel::waitForForeignLoad(const SetView& set) const
{
    // A load on the idle deck that flow did not start (one by hand, the
    // reload of an output restart), or a record that landed and its voice has
    // not taken yet: flow waits for it rather than load over it. Its own load
    // given up on may be loaded over.
    const DeckModel& idleDeck = *decks_[std::size_t(set.idle)];
    const std::optional<QUuid> inFlight = idleDeck.loadingRecord();
    return idleDeck.reading().loading() && !(inFlight && ledger_.givenUp(*inFlight));
}

void AppModel::requeueCuePlayedOut()
{
    // Flow's cue played out unheard behind the crossfader (its mix was called
    // off, a hand started it there): it has not been played, and is cued again.
    // One heard from another deck meanwhile has had its turn all the same.
    const std::optional<std::pair<int, QUuid>> cued = ledger_.cued();
    if (!cued || cued->first > 1 || !playedOut(cued->first) || recordOn(cued->first) != cued->second)
        return;
    const std::optional<TrackRecord>& track = decks_[std::size_t(cued->first)]->track();
    // Heard elsewhere meanwhile, or back at the head of the queue already
    // (its called-off mix said so): nothing more to say.
    if (ledger_.onAir(cued->second) || headsQueue(cued->second)) {
        ledger_.uncue(cued->second);
        return;
    }
    ledger_.uncue(cued->second,
                  formatText("flow: %s played out unheard on deck %d; it goes back to the head of the queue",
                             track->title.toUtf8().constData(), cued->first + 1));
    queueFirst(cued->second);
}

void AppModel::stopHeardOnIdle(SetView& set)
{
    // The next record's cue is due and the idle deck plays, unheard, a record
    // that was on air already or stands requested (left running under the
    // crossfader by a mix): it is not brought back from there, and the next
    // record goes on its deck in time. A deck cued in the headphones is the
    // DJ's, until the live record is done.
    DeckModel& idleDeck = *decks_[std::size_t(set.idle)];
    const std::optional<TrackRecord>& idleTrack = idleDeck.track();
    if (!set.idlePlays || !idleTrack || !heardBefore(idleTrack->id, set.idle) || isAudible(set.idle)
        || (!set.liveDone && mixer_->channel(set.idle).cue()))
        return;
    commandDeck(set.idle, {DeckCommand::pause()});
    const char* const why = ledger_.standing(idleTrack->id) == SetLedger::Standing::requested
        ? "flow: stopped deck %d: %s played there unheard; it comes in on its turn"
        : "flow: stopped deck %d: %s was on air already";
    brain_->note(formatText(why, set.idle + 1, idleTrack->title.toUtf8().constData()));
    set.idlePlays = false;
}

bool AppModel::rewindQueueHeadOnIdle(const SetView& set)
{
    // The idle deck plays, unheard, the record at the head of the queue (a mix
    // into it was called off): it has not been played, and comes in from its
    // start on its turn.
    DeckModel& idleDeck = *decks_[std::size_t(set.idle)];
    const std::optional<TrackRecord>& idleTrack = idleDeck.track();
    if (!set.idlePlays || isAudible(set.idle) || !headsQueue(recordOn(set.idle)))
        return false;
    commandDeck(set.idle, {DeckCommand::pause(), DeckCommand::seek(idleTrack->cuePoint)});
    brain_->note(formatText("flow: stopped deck %d: %s played there unheard; it comes in on its turn", set.idle + 1,
                            idleTrack->title.toUtf8().constData()));
    setFlow(lastAutoCheck_, QDateTime());
    return true;
}

bool AppModel::cueFromQueue(const SetView& set)
{
    // No cue while flow's cue stands on the idle deck, with a take of the live
    // record waiting there, or while the idle deck plays. With the live record
    // done, whatever the idle deck holds comes in at once, whoever loaded it:
    // a cue now would only make the silence longer. A record loaded over the
    // incoming deck of a mix that was then called off onto the live record
    // is owed to the room: it comes in next, not a cue over it.
    DeckModel& idleDeck = *decks_[std::size_t(set.idle)];
    const std::optional<TrackRecord>& idleTrack = idleDeck.track();
    const std::optional<QUuid> replacing = recordOn(set.idle);
    if (cuedOn(set.idle, replacing) || set.takeOfLive || set.idlePlays
        || ((set.liveDone || owesRoom(set.idle)) && mayMixIn(set.idle)))
        return false;
    // Entries for records on air, on the live deck or on a deck that plays
    // are passed over and dropped, as are those the library no longer holds,
    // each with its line.
    auto head = queue_.begin();
    std::optional<TrackRecord> next;
    for (; head != queue_.end(); ++head) {
        if (const std::optional<QString> why = skipReason(*head)) {
            notePassedOver(*head, *why);
            continue;
        }
        if ((next = library_->track(*head)))
            break;
        notePassedOver(*head, QStringLiteral("it is no longer in the library"));
    }
    if (!next) {
        if (!queue_.empty())
            setQueue({});
        return false;
    }
    if (replacing == next->id && (mayMixIn(set.idle) || holdsToCueInPlace(set.idle))) {
        // Already on the idle deck: it is mixed in below.
        if (head != queue_.begin())
            setQueue(std::vector<QUuid>(head, queue_.end()));
        // Heard there or elsewhere before (a request for it, a mix of it
        // called off), or left by flow's own load: it is cued there again,
        // with no new load.
        return !mayMixIn(set.idle) && cueAgainInPlace(set, *next);
    }
    // Step 12: cue next onto the idle deck.
    setQueue(std::vector<QUuid>(head + 1, queue_.end()));
    mixer_->channel(set.idle).setSync(true);
    ledger_.setHeld(std::nullopt);
    ledger_.cue(next->id, set.idle,
                formatText("auto: cued %s on deck %d with %.0fs to go", next->title.toUtf8().constData(),
                           set.idle + 1, set.remaining));
    idleDeck.load(*next);
    setFlow(autoCueing_, std::optional<AutoCueing>(AutoCueing{next->id, set.idle, set.now, replacing}));
    showHint(QStringLiteral("FLOW \u00B7 CUEING ") + next->title.toUpper(), kCueHintSeconds);
    // A record put there by hand, not yet heard, makes way: say so.
    if (idleTrack && idleTrack->id != next->id && !heard_.contains(idleTrack->id))
        brain_->note(formatText("flow: %s, put on deck %d by hand, made way for %s from the queue",
                                idleTrack->title.toUtf8().constData(), set.idle + 1,
                                next->title.toUtf8().constData()));
    return true;
}

bool AppModel::cueAgainInPlace(const SetView& set, const TrackRecord& next)
{
    // Cued as a load would cue it: off the queue (it heads it here), the
    // channel synced, flow's cue on the deck. A request for it has its turn.
    setQueue(std::vector<QUuid>(queue_.begin() + 1, queue_.end()));
    mixer_->channel(set.idle).setSync(true);
    ledger_.setHeld(std::nullopt);
    ledger_.cue(next.id, set.idle,
                formatText("flow: %s stands on deck %d; it comes in from its start, with no new load",
                           next.title.toUtf8().constData(), set.idle + 1));
    // And left as a load leaves it: its own tempo and key, and no loop a
    // hand set there earlier, which would hold the record in it on air.
    DeckModel& idleDeck = *decks_[std::size_t(set.idle)];
    idleDeck.setTempoFader(0.0);
    idleDeck.setKeyShift(0);
    if (const std::shared_ptr<DeckVoice> voice = idleDeck.voice();
        voice && (voice->state().loopActive.load() || voice->state().loopStart.load() >= 0.0))
        commandDeck(set.idle, {DeckCommand::setLoop(-1.0, -1.0, false)});
    if (std::abs(voicePosition(set.idle) - next.cuePoint) <= kAtCue)
        return false;
    // It played on unheard (stopped just now, or earlier): back to its cue,
    // and the mix waits for the next tick, once the output has rendered it.
    commandDeck(set.idle, {DeckCommand::seek(next.cuePoint)});
    setFlow(lastAutoCheck_, QDateTime());
    return true;
}

bool AppModel::playHandLoadedLive(const SetView& set)
{
    // The live deck stands with a record put there by hand after it or the
    // record before it was heard, and nothing else can come in: the room
    // hears that one rather than silence. (A live record done is one the
    // deck holds.)
    DeckModel& liveDeck = *decks_[std::size_t(set.live)];
    const std::optional<TrackRecord>& liveTrack = liveDeck.track();
    if (!set.liveDone || autoCueing_ || mayMixIn(set.idle) || isAudible(set.idle) || ledger_.onAir(liveTrack->id)
        || liveDeck.reading().state != DeckModel::Reading::State::ready
        || !(mixer_->channel(set.live).fader() > kAudibleFader))
        return false;
    if (commandDeck(set.live, {DeckCommand::play()}))
        brain_->note(formatText("flow: nothing else to bring in; deck %d plays %s, put there by hand", set.live + 1,
                                liveTrack->title.toUtf8().constData()));
    return true;
}

void AppModel::startMix(const SetView& set)
{
    const TrackRecord incoming = *decks_[std::size_t(set.idle)]->track();
    if (set.liveDone)
        brain_->note(formatText("flow: deck %d has stopped; bringing %s in on deck %d at once", set.live + 1,
                                incoming.title.toUtf8().constData(), set.idle + 1));
    else
        brain_->note(formatText("flow: %lld-bar mix onto deck %d%s", static_cast<long long>(transition_->bars()),
                                set.idle + 1, set.takeOfLive ? " (zelvo-0's take of this record)" : ""));
    setFlow(flowMixedFrom_, std::optional<int>(set.live));
    // The record flow mixes in leaves the queue. Taken from it, here or by
    // flow's cue, it is owed to the room until the mix completes.
    std::vector<QUuid> queue = queue_;
    const bool queued = std::erase(queue, incoming.id) > 0;
    if (queued)
        setQueue(std::move(queue));
    ledger_.mixIn(queued || cuedOn(set.idle, incoming.id)
                      ? std::optional<std::pair<int, QUuid>>(std::pair<int, QUuid>(set.idle, incoming.id))
                      : std::nullopt);
    transition_->mix(set.idle);
}

bool AppModel::commandDeck(int deck, std::initializer_list<DeckCommand> commands)
{
    const std::shared_ptr<DeckVoice> voice = decks_[std::size_t(deck)]->voice();
    if (!voice)
        return false;
    for (const DeckCommand& command : commands)
        voice->send(command);
    return true;
}

bool AppModel::flowLoads(const std::optional<QUuid>& id, int deck) const
{
    return autoCueing_ && autoCueing_->id == id && (deck < 0 || autoCueing_->deck == deck);
}

bool AppModel::cuedOn(int deck, const std::optional<QUuid>& id) const
{
    return id && ledger_.entry(*id).cuedOn == deck;
}

QUuid AppModel::chainOf(const QUuid& id) const
{
    // The first take of the chain a stretch extends; any other record is its
    // own.
    const std::optional<TrackRecord> record = library_->track(id);
    return record && record->outpaint && record->outpaint->segmentOf ? *record->outpaint->segmentOf : id;
}

std::optional<QUuid> AppModel::recordOn(int deck) const
{
    const std::optional<TrackRecord>& track = decks_[std::size_t(deck)]->track();
    return track ? std::optional<QUuid>(track->id) : std::nullopt;
}

bool AppModel::headsQueue(const std::optional<QUuid>& id) const
{
    return !queue_.empty() && queue_.front() == id;
}

bool AppModel::heardOn(int deck, const std::optional<QUuid>& id) const
{
    return id && (heard_.contains(*id) || ledger_.standsHeardOn(*id, deck));
}

bool AppModel::owesRoom(int deck) const
{
    // Flow's cue (a request for a record played before included), or a record
    // loaded over the incoming deck of a mix, with its music still to play.
    const std::optional<QUuid> id = recordOn(deck);
    return id && decks_[std::size_t(deck)]->reading().state != DeckModel::Reading::State::playedOut
        && (ledger_.owed(*id) || cuedOn(deck, id));
}

bool AppModel::leftBehind(int deck) const
{
    const std::optional<QUuid> id = recordOn(deck);
    return id && !isAudible(deck) && (heardBefore(*id, deck) || headsQueue(id));
}

bool AppModel::holdsTakeOf(int deck, const QUuid& source) const
{
    const std::optional<TrackRecord>& track = decks_[std::size_t(deck)]->track();
    return track && track->outpaint && track->outpaint->sourceID == source && !voicePlaying(deck);
}

bool AppModel::heardBefore(const QUuid& id, int deck) const
{
    return !cuedOn(deck, id) && (ledger_.onAir(id) || ledger_.requested(id));
}

std::optional<AppModel::AutoCued> AppModel::autoCued() const
{
    const std::optional<std::pair<int, QUuid>> cued = ledger_.cued();
    return cued ? std::optional<AutoCued>(AutoCued{cued->first, cued->second}) : std::nullopt;
}

std::optional<AppModel::AutoCued> AppModel::passedOver() const
{
    const std::optional<std::pair<int, QUuid>> held = ledger_.held();
    return held ? std::optional<AutoCued>(AutoCued{held->first, held->second}) : std::nullopt;
}

} // namespace zelvo
