#include "models/TransitionModel.h"

#include "audio/DeckVoice.h"
#include "audio/MixerParams.h"
#include "models/DeckModel.h"
#include "models/DirectOutsSource.h"
#include "models/DropWorkflow.h"
#include "models/MixerModel.h"
#include "platform/UserDefaults.h"

#include <QPointer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace zelvo {

namespace {

const QString kStyleKey = QStringLiteral("mix.style");
const QString kBarsKey = QStringLiteral("mix.bars");

// The ease of every crossfader path: s(0) = 0, s(0.5) = 0.5, s(1) = 1.
double ease(double x)
{
    return x * x * (3.0 - 2.0 * x);
}

constexpr double kKill = -1.0;
constexpr double kBassSwapPoint = 0.5;
constexpr double kIncomingFilter = 0.6;
constexpr double kEchoStart = 0.8;
constexpr double kEchoShare = 0.7;
constexpr int kEchoBeatIndex = 2;
constexpr double kEchoLevel = 0.75;
constexpr double kEchoOff = 0.98;

} // namespace

TransitionModel::TransitionModel(UserDefaults& defaults, Scheduler& scheduler, QObject* parent)
    : QObject(parent), defaults_(defaults), scheduler_(scheduler), noteExpires_(QDateTime::fromMSecsSinceEpoch(0))
{
    // A missing key reads as 0, so a first start uses `fade`.
    const std::int64_t rawStyle = defaults_.integer(kStyleKey).value_or(0);
    setStyle(transitionStyleFromRaw(rawStyle).value_or(TransitionStyle::bassSwap));
    setBars(defaults_.integer(kBarsKey).value_or(kDefaultBars));
}

TransitionModel::~TransitionModel()
{
    stopTimer();
}

void TransitionModel::setLinks(Links links)
{
    clearLinks();
    links_ = std::move(links);
    for (int d = 0; d < 2; ++d) {
        DeckModel* deck = links_->decks[std::size_t(d)];
        if (!deck)
            continue;
        // Synchronous: a record installed at once reaches its voice right
        // after its track is shown, before the next frame.
        for (auto signal : {&DeckModel::loadingChanged, &DeckModel::trackChanged})
            deckWatch_.push_back(connect(deck, signal, this, [this, d] { incomingChanging(d); }));
    }
}

void TransitionModel::clearLinks()
{
    for (const QMetaObject::Connection& c : deckWatch_)
        disconnect(c);
    deckWatch_.clear();
    links_.reset();
}

void TransitionModel::setStyle(TransitionStyle style)
{
    defaults_.setInteger(kStyleKey, std::int64_t(style));
    if (style_ == style)
        return;
    style_ = style;
    emit styleChanged();
}

void TransitionModel::setBars(std::int64_t bars)
{
    defaults_.setInteger(kBarsKey, bars);
    if (bars_ == bars)
        return;
    bars_ = bars;
    emit barsChanged();
}

void TransitionModel::setPhase(const Phase& phase)
{
    if (phase_ == phase)
        return;
    phase_ = phase;
    emit phaseChanged();
}

void TransitionModel::setNote(std::optional<QString> note)
{
    noteExpires_ = scheduler_.now().addMSecs(qint64(kNoteLife * 1000.0));
    if (note_ == note)
        return;
    note_ = std::move(note);
    emit noteChanged();
}

int TransitionModel::liveDeck() const
{
    if (!links_ || !links_->mixer)
        return 0;
    return links_->mixer->crossfader() > 0.0 ? 1 : 0;
}

// --- Reading the decks

bool TransitionModel::deckPlaying(int deck) const
{
    const std::shared_ptr<DeckVoice> v = links_->decks[std::size_t(deck)]->voice();
    return v && v->state().playing.load();
}

bool TransitionModel::deckStopped(int deck) const
{
    // As the room hears it: a deck whose voice has not rendered since the
    // output started reads as it last stood, and a loading one has not stopped.
    const DeckModel::Reading r = links_->decks[std::size_t(deck)]->reading();
    return !r.playing() && !r.loading();
}

bool TransitionModel::deckPlayedOut(int deck) const
{
    const std::shared_ptr<DeckVoice> v = links_->decks[std::size_t(deck)]->voice();
    return v && v->state().duration.load() > 0.0
        && v->state().position.load() >= v->state().duration.load() - kPlayedOut;
}

double TransitionModel::deckPosition(int deck) const
{
    const std::shared_ptr<DeckVoice> v = links_->decks[std::size_t(deck)]->voice();
    return v ? v->state().position.load() : 0.0;
}

bool TransitionModel::outgoingDrivesClock(int to) const
{
    const int from = 1 - to;
    return BeatGrid::usable(links_->decks[std::size_t(from)]->grid()) && deckPlaying(from);
}

DeckState::Timeline TransitionModel::deckTimeline(int deck) const
{
    const std::shared_ptr<DeckVoice> v = links_->decks[std::size_t(deck)]->voice();
    return v ? v->state().timeline() : DeckState::Timeline{};
}

double TransitionModel::resetClock(int to)
{
    clockFromOutgoing_ = links_ && outgoingDrivesClock(to);
    const DeckState::Timeline t = links_ ? deckTimeline(clockFromOutgoing_ ? 1 - to : to) : DeckState::Timeline{};
    clockVoice_ = links_ ? links_->decks[std::size_t(clockFromOutgoing_ ? 1 - to : to)]->voice() : nullptr;
    clockLast_ = t.position + t.swapShift;
    clockValue_ = t.position;
    return clockValue_;
}

bool TransitionModel::voicePublished(int deck, const std::shared_ptr<DeckVoice>& voice,
                                     const DeckState::Timeline& t) const
{
    const VoiceSeen& seen = voicesSeen_[std::size_t(deck)];
    const bool same = !seen.voice.owner_before(voice) && !voice.owner_before(seen.voice);
    return same && t.writes >= seen.settledAt;
}

double TransitionModel::clock(int to)
{
    if (!links_)
        return 0.0;
    // A voice taken on by a deck counts once it has published a whole
    // timeline after its track came: `loaded` is stored as the load is carried
    // out, the position only at the end of that render.
    for (int d = 0; d < 2; ++d) {
        const std::shared_ptr<DeckVoice> v = links_->decks[std::size_t(d)]->voice();
        VoiceSeen& seen = voicesSeen_[std::size_t(d)];
        if (!v || !v->state().loaded.load()) {
            seen = VoiceSeen{};
            continue;
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (seen.voice.owner_before(v) || v.owner_before(seen.voice) || seen.voice.expired())
            seen = VoiceSeen{v, v->state().timeline().writes + 2};
    }
    const int source = outgoingDrivesClock(to) ? 1 - to : to;
    const bool fromOutgoing = source != to;
    const std::shared_ptr<DeckVoice> voice = links_->decks[std::size_t(source)]->voice();
    // No voice, or one that has not taken its track yet (the engine is being
    // rebuilt): no playhead to follow, and the clock stands.
    if (!voice || !voice->state().loaded.load())
        return clockValue_;
    const DeckState::Timeline t = voice->state().timeline();
    // The playhead with every swap's offset added back: a swap hands over a
    // buffer that continues the music, so the music did not move.
    const double music = t.position + t.swapShift;
    const bool sameVoice = !clockVoice_.owner_before(voice) && !voice.owner_before(clockVoice_);
    if (fromOutgoing != clockFromOutgoing_ || !sameVoice) {
        // The clock moves to another timeline: the other deck's (the outgoing
        // deck stopped, or started again), or a new voice's (an engine rebuild
        // starts every deck over, parked on its cue point): carry on from
        // where it stood, once that timeline holds the voice's position.
        if (!sameVoice && !voicePublished(source, voice, t))
            return clockValue_;
        clockFromOutgoing_ = fromOutgoing;
        clockVoice_ = voice;
    } else {
        // Forward with the music, and back with a loop, a seek or a jump.
        clockValue_ += music - clockLast_;
    }
    clockLast_ = music;
    return clockValue_;
}

std::optional<double> TransitionModel::outgoingMusicLeft(int to) const
{
    if (!clockFromOutgoing_ || !outgoingDrivesClock(to) || !links_->decks[std::size_t(1 - to)]->voice())
        return std::nullopt;
    return musicLeftOutgoing(to);
}

double TransitionModel::musicLeftOutgoing(int to) const
{
    return musicLeftOn(1 - to);
}

double TransitionModel::musicLeftOn(int deck) const
{
    const DeckModel& model = *links_->decks[std::size_t(deck)];
    const std::shared_ptr<DeckVoice> v = model.voice();
    if (!v)
        return std::numeric_limits<double>::infinity();
    const double duration = v->state().duration.load();
    const std::optional<double> musicEnd = model.musicEnd();
    const double end = musicEnd && *musicEnd < duration ? *musicEnd : duration;
    return std::max(end - v->state().position.load(), 0.0);
}

double TransitionModel::shortIncomingLeft(int to) const
{
    constexpr double none = std::numeric_limits<double>::infinity();
    const DeckModel& incoming = *links_->decks[std::size_t(to)];
    const std::shared_ptr<DeckVoice> v = incoming.voice();
    // A loop plays on for as long as it is held, a take may be written on
    // while it plays, and a deck in reverse plays toward its start: none of
    // them ends where its buffer does.
    if (!v || !deckPlaying(to) || v->state().loopActive.load() || v->state().reverseOn.load()
        || (incoming.track() && incoming.track()->outpaint))
        return none;
    // Less than eight bars is too little to bring up: it plays out under the
    // wait and the mix is called off, the outgoing record keeping the room.
    const double left = musicLeftOn(to);
    return left < 2.0 * kLastBars * BeatGrid::barOf(incoming.grid()) ? none : left;
}

double TransitionModel::incomingMargin(int to) const
{
    return kLastBars * BeatGrid::barOf(links_->decks[std::size_t(to)]->grid());
}

double TransitionModel::downbeatForShortIncoming(int to, double at, double now)
{
    if (at <= now || shortIncomingLeft(to) - (at - now) >= lengthSeconds_ + incomingMargin(to))
        return at;
    const double bar = nextBarLine(to, now);
    if (bar >= at)
        return at;
    movedToBar_ = true;
    startTime_ = bar;
    return bar;
}

double TransitionModel::nextBarLine(int to, double now) const
{
    const std::optional<BeatGrid> grid = links_->decks[std::size_t(1 - to)]->grid();
    if (!clockFromOutgoing_ || !grid)
        return now;
    const double bar = BeatGrid::barOf(grid);
    const double sinceFirst = deckPosition(1 - to) - grid->firstBeat;
    const double sinceBar = sinceFirst - bar * std::floor(sinceFirst / bar + 1e-9);
    return sinceBar < 1e-6 ? now : now + (bar - sinceBar);
}

std::optional<double> TransitionModel::beginsBeforeTheEnd(int to, double at, double now) const
{
    const std::optional<double> left = outgoingMusicLeft(to);
    if (!left || at - now < *left)
        return std::nullopt; // the downbeat comes while the record still plays
    const std::optional<BeatGrid> grid = links_->decks[std::size_t(1 - to)]->grid();
    const double bar = BeatGrid::barOf(grid);
    // The last bar line that leaves kLastBars bars of music: begin there, or
    // now when it has passed.
    const double over = *left - kLastBars * bar;
    if (over > 0.0) {
        const double position = deckPosition(1 - to);
        const double sinceBar = position - grid->firstBeat
            - bar * std::floor((position - grid->firstBeat) / bar + 1e-9);
        const double nextBar = bar - sinceBar;
        if (over >= nextBar - 1e-9)
            return now + nextBar + bar * std::floor((over - nextBar) / bar + 1e-9);
    }
    return now;
}

double TransitionModel::clockReading(int to) const
{
    if (!links_)
        return 0.0;
    const bool fromOutgoing = outgoingDrivesClock(to);
    if (fromOutgoing != clockFromOutgoing_)
        return clockValue_;
    // Another voice than the clock follows (or none, or one without its track
    // yet): the clock stands until it takes that voice on.
    const std::shared_ptr<DeckVoice> voice = links_->decks[std::size_t(fromOutgoing ? 1 - to : to)]->voice();
    const std::shared_ptr<DeckVoice> followed = clockVoice_.lock();
    if (!voice || voice != followed || !voice->state().loaded.load())
        return clockValue_;
    const DeckState::Timeline t = voice->state().timeline();
    return clockValue_ + (t.position + t.swapShift - clockLast_);
}

std::optional<TransitionModel::Wait> TransitionModel::waiting() const
{
    if (phase_.kind != Phase::Kind::waitingDownbeat || !links_ || !links_->decks[0] || !links_->decks[1])
        return std::nullopt;
    Wait wait;
    wait.clock = clockReading(phase_.to);
    wait.begins = phase_.value;
    if (const std::optional<double> early = beginsBeforeTheEnd(phase_.to, phase_.value, wait.clock)) {
        wait.begins = *early;
        wait.onPhrase = false;
    }
    // Moved to a bar line for a short incoming record: not the phrase either.
    if (movedToBar_)
        wait.onPhrase = false;
    return wait;
}

// --- Starting a mix

void TransitionModel::mix(int to)
{
    if (!links_ || to < 0 || to > 1 || !links_->decks[0] || !links_->decks[1] || !links_->mixer)
        return;
    Links& app = *links_;
    if (app.audio && app.audio->directOuts()) {
        setNote(QStringLiteral("THE DJM IS MIXING · BRING IT IN ON ITS FADER"));
        return;
    }
    if (phase_.kind != Phase::Kind::idle) {
        finish(true, std::nullopt, Ending::calledOff);
        return;
    }
    setNote(std::nullopt);
    DeckModel& incoming = *app.decks[std::size_t(to)];
    if (!incoming.track()) {
        setNote(to == 0 ? QStringLiteral("LOAD A TRACK ON DECK 1 FIRST")
                        : QStringLiteral("FORK SOMETHING ONTO DECK 2 FIRST"));
        return;
    }
    const int from = 1 - to;
    MixerModel& mixer = *app.mixer;
    mixer.channel(to).setSync(true);
    const std::shared_ptr<MixerParams> params = mixer.params();
    if (deckPlaying(from) && params)
        params->masterRequest.store(from);

    overdueSince_.reset();
    startedInPhase_ = false;
    startedOn_ = mixer.params();
    loadedOverSeen_ = false;
    const std::optional<QUuid> loading = incoming.loadingRecord();
    startOnLanding_ = !deckPlaying(to) && loading && *loading != incoming.track()->id;
    landingSeen_.reset();
    landingWaited_ = 0.0;
    if (deckPlaying(to)) {
        // Already playing: nothing to start.
    } else if (startOnLanding_) {
        // The record on its way is the one to bring in: starting what the
        // deck holds now (dropping a take in, or in phase) would play a
        // record about to be replaced, and the landing would stop it.
    } else {
        askStart(to);
    }
    // Read after the drop: dropping a ready fork of the mix puts the fork on
    // the deck, and that is the record this mix brings in.
    startsRecord_ = incoming.track() ? std::optional<QUuid>(incoming.track()->id) : std::nullopt;
    startsLoading_ = incoming.loadingRecord();
    xfStart_ = mixer.crossfader();
    lastXF_ = xfStart_;
    setPhase(Phase::starting(to));
    startTimer();
}

void TransitionModel::askStart(int to)
{
    Links& app = *links_;
    if (to == 1 && app.outpaint && !app.outpaint->dropStatus().isRefusal() && deckPlaying(0))
        app.outpaint->drop();
    else
        app.mixer->askAlignedStart(to);
}

void TransitionModel::startTimer()
{
    stopTimer();
    QPointer<TransitionModel> self(this);
    timer_ = scheduler_.runEvery(kFrameInterval, [self] {
        if (self)
            self->tick();
    });
}

void TransitionModel::stopTimer()
{
    if (timer_ != 0)
        scheduler_.cancel(timer_);
    timer_ = 0;
}

// --- The frame step

void TransitionModel::tick()
{
    if (!links_ || !links_->mixer || !links_->decks[0] || !links_->decks[1])
        return;
    Links& app = *links_;
    // While the output is rebuilt no deck plays or moves: the mix holds where
    // it stood (its clock carries across) and reads the decks again once the
    // new engine renders.
    if (app.audio && !app.audio->outputRunning())
        return;
    const bool running = phase_.kind == Phase::Kind::waitingDownbeat || phase_.kind == Phase::Kind::mixing;
    if (running && std::abs(app.mixer->crossfader() - lastXF_) > kHandTolerance) {
        setNote(QStringLiteral("YOU TOOK OVER"));
        if (app.handsOn)
            app.handsOn();
        finish(true, std::nullopt, Ending::tookOver);
        return;
    }
    if (phase_.kind == Phase::Kind::waitingDownbeat) {
        // A deck that was not playing when the mix started (the outgoing deck
        // stopped: the mix starts at once on the incoming deck's clock) cannot
        // call it off by not playing.
        for (int deck = 0; deck < 2; ++deck) {
            if (playedAtStart_[std::size_t(deck)] && deckStopped(deck)) {
                setNote(QStringLiteral("MIX CALLED OFF · A DECK STOPPED"));
                finish(true, std::nullopt, Ending::deckStopped);
                return;
            }
        }
    }
    switch (phase_.kind) {
    case Phase::Kind::mixing: stepMixing(phase_.to); break;
    case Phase::Kind::idle: stopTimer(); break;
    case Phase::Kind::waitingDownbeat: stepWaiting(phase_.to, phase_.value); break;
    case Phase::Kind::starting: stepStarting(phase_.to); break;
    }
}

bool TransitionModel::loadedOver(int to) const
{
    const DeckModel& incoming = *links_->decks[std::size_t(to)];
    const auto ours = [this](const QUuid& id) { return id == startsRecord_ || id == startsLoading_; };
    const std::optional<QUuid> loading = incoming.loadingRecord();
    return (incoming.track() && !ours(incoming.track()->id)) || (loading && !ours(*loading));
}

void TransitionModel::incomingChanging(int deck)
{
    if (!links_ || !links_->mixer || !links_->decks[0] || !links_->decks[1] || phase_.kind != Phase::Kind::starting
        || phase_.to != deck || startingItself_ || !loadedOver(deck))
        return;
    // The engine may render before the next frame calls the mix off: what it
    // was asked to start is taken back now, and the mix is called off at that
    // frame even if the load is over by then (given up, cancelled, the take
    // loaded again), since nothing is left armed to start the deck in place.
    loadedOverSeen_ = true;
    MixerModel& mixer = *links_->mixer;
    mixer.withdrawAlignedStart(deck);
    if (deck == 1 && mixer.dropArmed())
        mixer.disarmDrop();
}

void TransitionModel::stepStarting(int to)
{
    Links& app = *links_;
    const int from = 1 - to;
    DeckModel& incoming = *app.decks[std::size_t(to)];
    DeckModel& outgoing = *app.decks[std::size_t(from)];
    MixerModel& mixer = *app.mixer;

    // A record loaded over the incoming deck before it started (the take the
    // mix was to drop in, the record it was to start in phase) is the DJ's
    // now: the mix is called off as one before its downbeat is, and the new
    // record stands on the deck. Waiting on would start it at the take's drop
    // point, or hold the mix until deck 1 reaches that point.
    if (loadedOverSeen_ || loadedOver(to)) {
        setNote(QStringLiteral("MIX CALLED OFF · A DECK STOPPED"));
        finish(true, std::nullopt, Ending::deckStopped);
        return;
    }

    if (!deckPlaying(to)) {
        // A deck still loading (or reloading under a new output) starts once
        // its voice holds the record. After a new output came, decks between
        // two states (a buffer not yet taken, a voice that has not rendered
        // there yet) are not back yet: neither late nor unable to start.
        // A start asked of an output replaced before it rendered the request
        // is asked of the new one by the mixer, once the decks are back there.
        const bool carried = mixer.carriedAlignedStart() == to || (to == 1 && mixer.carriedDrop());
        const bool newOutput = carried || startedOn_.lock() != mixer.params();
        if (incoming.reading().loading() || (newOutput && (incoming.settling() || outgoing.settling()))) {
            overdueSince_.reset();
            // The record the mix waits for may never come (a read that
            // hangs): past a wait no decode needs, the mix ends and whoever
            // started it can go on. Only the time its load is in flight
            // with the output running counts (the frames stop while the
            // output is rebuilt, and one landed may still be settling).
            if (startOnLanding_ && incoming.loading()) {
                const double now = scheduler_.uptime();
                if (landingSeen_)
                    landingWaited_ += std::min(now - *landingSeen_, 4.0 * kFrameInterval);
                landingSeen_ = now;
                const std::optional<BeatGrid> grid = outgoing.grid() ? outgoing.grid() : incoming.grid();
                if (landingWaited_ > kLandingWaitBars * BeatGrid::barOf(grid))
                    finish(false, std::nullopt, Ending::couldNotStart);
            }
            return;
        }
        if (startOnLanding_) {
            // The record the mix waited for has landed and is started in
            // phase. A load that failed or was called off (flow's cue gives
            // way to the DJ's MIX key) leaves the deck's record as it was:
            // that is started as the mix would have started it at once.
            startOnLanding_ = false;
            if (incoming.track() && incoming.track()->id == startsLoading_) {
                mixer.askAlignedStart(to);
            } else {
                // A drop of a ready fork puts the fork on the deck at once:
                // that is the mix's own record, not one loaded over it.
                startingItself_ = true;
                askStart(to);
                startingItself_ = false;
            }
            // Read after the start, as at the mix's own (a drop may put a
            // ready fork on the deck).
            startsRecord_ = incoming.track() ? std::optional<QUuid>(incoming.track()->id) : std::nullopt;
            startsLoading_.reset();
            return;
        }
        const std::shared_ptr<DeckVoice> v = incoming.voice();
        // A deck parked at the end of its audio stops in the render that starts
        // it: waiting for it to play would hold the mix open for good.
        if (!carried && !mixer.dropArmed() && !(v && v->state().loaded.load() && !deckPlayedOut(to))) {
            finish(false, std::nullopt, Ending::couldNotStart);
            return;
        }
        // The engine starts it at its next render, or at the drop point. A
        // deck that has not started a bar or two after it should have (a
        // drop that only cued it, a start lost on the way) is started in
        // phase with the outgoing deck once; after that the mix ends, and
        // whoever started it (flow, the DJ) can go on.
        if (!startDue(to)) {
            overdueSince_.reset();
            return;
        }
        const double now = scheduler_.uptime();
        if (!overdueSince_)
            overdueSince_ = now;
        const std::optional<BeatGrid> grid = outgoing.grid() ? outgoing.grid() : incoming.grid();
        if (now - *overdueSince_ < kStartGraceBars * BeatGrid::barOf(grid))
            return;
        overdueSince_.reset();
        if (!startedInPhase_ && deckPlaying(from) && mixer.params()) {
            startedInPhase_ = true;
            if (to == 1)
                mixer.disarmDrop();
            mixer.askAlignedStart(to);
            return;
        }
        finish(false, std::nullopt, Ending::couldNotStart);
        return;
    }
    // Deck 2 plays while its drop still waits for deck 1 (a hand's play came
    // first): the drop has nothing left to start. Left armed, deck 1 reaching
    // its point would jump the deck on air, and deck 1 stopping first would
    // cue it back to its start, stopped.
    if (to == 1 && mixer.dropArmed())
        mixer.disarmDrop();

    // An unusable grid (tempo 0 or not finite, no beats in a bar) counts as
    // none: its bar would start the mix at once or never.
    const std::optional<BeatGrid> outGrid = outgoing.grid();
    // The clock starts on the playhead the downbeat is read from.
    const double pos = resetClock(to);
    if (clockFromOutgoing_) {
        const double barSeconds = BeatGrid::barOf(outGrid);
        startTime_ = outGrid->nextPhrase(pos, std::min(bars_, kLongestPhrase), barSeconds);
        lengthSeconds_ = barSeconds * double(bars_);
    } else {
        startTime_ = pos;
        lengthSeconds_ = BeatGrid::barOf(incoming.grid()) * double(bars_);
    }
    playedAtStart_ = {deckPlaying(0), deckPlaying(1)};
    // A short incoming record's mix begins on the next bar line (see stepWaiting).
    movedToBar_ = false;
    setPhase(Phase::waitingDownbeat(to, downbeatForShortIncoming(to, startTime_, pos)));

    Saved saved;
    for (std::size_t i = 0; i < saved.lows.size(); ++i) {
        saved.lows[i] = mixer.channel(int(i)).low();
        saved.colorFX[i] = mixer.channel(int(i)).colorFX();
    }
    saved.colorKind = mixer.colorFXKind();
    saved.fxKind = mixer.beatFXKind();
    saved.fxTarget = mixer.beatFXTarget();
    saved.fxBeats = mixer.beatFXBeatIndex();
    saved.fxOn = mixer.beatFXOn();
    saved.fxLevel = mixer.beatFXLevel();
    saved_ = saved;
    lastXF_ = mixer.crossfader();
}

bool TransitionModel::startDue(int to) const
{
    const Links& app = *links_;
    // A drop armed ahead of its point waits for deck 1 to reach it, as long
    // as deck 1 plays towards it.
    if (to == 1 && !app.mixer->carriedDrop()) {
        if (const std::shared_ptr<MixerParams> params = app.mixer->params()) {
            const double drop = params->dropOffset.load();
            if (!std::isnan(drop) && deckPlaying(0) && deckPosition(0) < drop)
                return false;
        }
    }
    return true;
}

void TransitionModel::stepWaiting(int to, double at)
{
    const double now = clock(to);
    // The incoming deck plays behind the crossfader while the mix waits for
    // its downbeat: a record too short for the wait and the mix would play
    // out under them at a fraction of its level. Once the phrase is further
    // off than that allows, the mix begins at the outgoing deck's next bar line.
    if (const double moved = downbeatForShortIncoming(to, at, now); moved != at) {
        at = moved;
        setPhase(Phase::waitingDownbeat(to, at));
    }
    if (at > now) {
        const std::optional<double> early = beginsBeforeTheEnd(to, at, now);
        if (!early || *early > now)
            return;
        startTime_ = now;
    }
    // The mix begins. A mix longer than the outgoing music left is cut to it:
    // the incoming deck is up when the outgoing record ends (at once when that
    // record has played out).
    // An outgoing deck that is not playing (stopped by hand, parked by an
    // engine rebuild) has no music left to hear, wherever its playhead stands:
    // the incoming deck comes up at once rather than fading in from silence.
    const double left = deckPlaying(1 - to) ? musicLeftOutgoing(to) : 0.0;
    lengthSeconds_ = std::min(lengthSeconds_, std::max(left + (now - startTime_), kShortestMix));
    // A short incoming record, with less music left than the mix and four
    // bars, gets half of it to come up in: the room hears it up for its
    // second half, not played out under the mix.
    if (const double incomingLeft = shortIncomingLeft(to); incomingLeft < lengthSeconds_ + incomingMargin(to))
        lengthSeconds_ = std::min(lengthSeconds_, std::max(incomingLeft / 2.0 + (now - startTime_), kShortestMix));
    MixerModel& mixer = *links_->mixer;
    xfStart_ = mixer.crossfader();
    lastXF_ = xfStart_;
    if (style_ == TransitionStyle::bassSwap)
        mixer.channel(to).setLow(kKill);
    if (style_ == TransitionStyle::filter) {
        mixer.setColorFXKind(ColorFXKind::filter);
        mixer.channel(to).setColorFX(kIncomingFilter);
    }
    setPhase(Phase::mixing(to, 0.0));
}

void TransitionModel::stepMixing(int to)
{
    const int from = 1 - to;
    // The incoming deck stopped (a hand paused it, a record was loaded over
    // it, it played out or did not start again) while the outgoing deck plays:
    // going on would fade the room down to a deck that stands. The mix is
    // called off as one before its downbeat is, and the outgoing record is
    // back at full level: the crossfader at its end.
    if (deckStopped(to) && deckPlaying(from)) {
        setNote(QStringLiteral("MIX CALLED OFF · A DECK STOPPED"));
        links_->mixer->setCrossfader(from != 0 ? 1.0 : -1.0);
        finish(true, std::nullopt, Ending::incomingStopped);
        return;
    }
    const double now = clock(to);
    // The outgoing deck stopped before its music ended (a hand, a record
    // loaded over it) while the incoming deck plays: the room hears only the
    // incoming deck, which comes up within a bar rather than over the rest of
    // the mix, as a mix from a stopped deck comes up at once. The progress
    // goes on from where it stands.
    if (deckStopped(1 - to) && deckPlaying(to)) {
        const double bar = BeatGrid::barOf(links_->decks[std::size_t(to)]->grid());
        const double done = std::clamp((now - startTime_) / std::max(lengthSeconds_, kShortestMix), 0.0, 1.0);
        if ((1.0 - done) * lengthSeconds_ > bar) {
            lengthSeconds_ = bar / (1.0 - done);
            startTime_ = now - done * lengthSeconds_;
            // Not a rounding back either.
            while ((now - startTime_) / lengthSeconds_ < done)
                startTime_ = std::nextafter(startTime_, -std::numeric_limits<double>::infinity());
        }
    }
    const double length = lengthSeconds_ > kShortestMix ? lengthSeconds_ : kShortestMix;
    double p = (now - startTime_) / length;
    if (!(p >= 0.0))
        p = 0.0; // negative or not a number
    p = std::min(p, 1.0);
    // Both records have played out: no playhead will move the clock again (a
    // deck at its end stops in the render that starts it). The mix was cut to
    // the outgoing record's music, so it is over: the incoming deck is up, and
    // the next record can come in. Decks stopped anywhere else (by hand, or
    // parked by an engine rebuild) hold the mix until one plays again.
    if (p < 1.0 && !deckPlaying(0) && !deckPlaying(1) && deckPlayedOut(0) && deckPlayedOut(1))
        p = 1.0;
    setPhase(Phase::mixing(to, p));
    apply(to, p);
    if (p >= 1.0)
        finish(true, to, Ending::completed);
}

bool TransitionModel::endStalled()
{
    if (!links_ || !links_->decks[0] || !links_->decks[1] || deckPlaying(0) || deckPlaying(1))
        return false;
    // A mix whose incoming deck never started: called off where it stands.
    if (phase_.kind == Phase::Kind::starting) {
        finish(true, std::nullopt, Ending::stalled);
        return true;
    }
    if (phase_.kind != Phase::Kind::mixing)
        return false;
    const int from = 1 - phase_.to;
    const bool outgoingOver = !links_->decks[std::size_t(from)]->track() || deckPlayedOut(from);
    finish(true, outgoingOver ? std::optional<int>(phase_.to) : std::nullopt, Ending::stalled);
    return true;
}

void TransitionModel::apply(int to, double p)
{
    if (!links_ || !saved_)
        return;
    MixerModel& mixer = *links_->mixer;
    const int from = 1 - to;
    const double target = to != 0 ? 1.0 : -1.0;
    double x = mixer.crossfader();
    switch (style_) {
    case TransitionStyle::fade:
        x = xfStart_ + ease(p) * (target - xfStart_);
        break;
    case TransitionStyle::bassSwap:
        if (p < kBassSwapPoint) {
            x = xfStart_ + ease(2.0 * p) * (0.0 - xfStart_);
            mixer.channel(to).setLow(kKill);
        } else {
            mixer.channel(to).setLow(saved_->lows[std::size_t(to)]);
            x = target * ease(2.0 * p - 1.0);
            mixer.channel(from).setLow(kKill);
        }
        break;
    case TransitionStyle::filter:
        mixer.channel(from).setColorFX(-0.92 * std::pow(p, 1.2));
        x = xfStart_ + ease(p) * (target - xfStart_);
        mixer.channel(to).setColorFX(std::max(0.0, kIncomingFilter * (1.0 - p / 0.75)));
        break;
    case TransitionStyle::echo:
        if (p < kEchoStart) {
            x = xfStart_ + ease(p / kEchoStart) * (0.0 - xfStart_) * kEchoShare;
        } else {
            mixer.setBeatFXKind(BeatFXKind::echo);
            mixer.setBeatFXTarget(0);
            mixer.setBeatFXBeatIndex(kEchoBeatIndex);
            mixer.setBeatFXLevel(kEchoLevel);
            mixer.setBeatFXOn(p < kEchoOff);
            const double w = std::min((p - kEchoStart) / (1.0 - kEchoStart), 1.0);
            x = target * ease(w);
        }
        break;
    }
    mixer.setCrossfader(std::clamp(x, -1.0, 1.0));
    lastXF_ = mixer.crossfader();
}

void TransitionModel::finish(bool restore, std::optional<int> snapTo, Ending why)
{
    stopTimer();
    ending_ = why;
    if (links_ && links_->mixer) {
        MixerModel& mixer = *links_->mixer;
        // A mix ended before its incoming deck started takes back the start
        // it asked of the engine (in phase, or at the take's drop point): the
        // deck stays as it stood rather than starting behind the crossfader
        // once the request is rendered.
        if (phase_.kind == Phase::Kind::starting) {
            mixer.withdrawAlignedStart(phase_.to);
            if (phase_.to == 1 && mixer.dropArmed())
                mixer.disarmDrop();
            overdueSince_.reset();
        }
        if (snapTo) {
            const int d = *snapTo;
            mixer.setCrossfader(d != 0 ? 1.0 : -1.0);
            if (const std::shared_ptr<MixerParams> params = mixer.params())
                params->masterRequest.store(d);
            mixer.channel(1 - d).setSync(true);
        }
        if (restore && saved_) {
            for (int i = 0; i < 2; ++i) {
                mixer.channel(i).setLow(saved_->lows[std::size_t(i)]);
                mixer.channel(i).setColorFX(saved_->colorFX[std::size_t(i)]);
            }
            mixer.setColorFXKind(saved_->colorKind);
            mixer.setBeatFXKind(saved_->fxKind);
            mixer.setBeatFXTarget(saved_->fxTarget);
            mixer.setBeatFXBeatIndex(saved_->fxBeats);
            mixer.setBeatFXLevel(saved_->fxLevel);
            mixer.setBeatFXOn(saved_->fxOn);
        }
    }
    saved_.reset();
    setPhase(Phase::idle());
}

} // namespace zelvo
