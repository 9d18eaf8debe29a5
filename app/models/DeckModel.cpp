#include "models/DeckModel.h"

#include "library/AudioFileError.h"
#include "library/AudioFileIO.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace zelvo {

namespace {

// The harvest re-reads the cue cells when the revision moved under it; after
// this many tries it leaves the change for the next tick.
constexpr int kHarvestAttempts = 4;

// Rates closer than this count as the same engine rate.
constexpr double kRateTolerance = 0.5;
// Shown when the voice's command ring is full and a track could not be handed over:
// the deck keeps playing what it had.
const char* const kDeckBusy = "deck busy — track not loaded";

// How long a deck going away waits for its called-off decodes: each stops
// at its next step, a few milliseconds of work; one stuck in a read of a
// share that stopped answering is left behind. Four decks go one after
// another, so quitting waits at most four times this.
constexpr auto kStopWait = std::chrono::milliseconds(200);

// Decode threads not yet ended, over every deck.
std::atomic<int> decodeThreadsRunning{0};

TrackBufferRef decodeFile(const QString& path, double sampleRate, std::stop_token stop)
{
    return AudioFileIO::decode(std::filesystem::path(path.toStdString()), sampleRate, std::nullopt, std::move(stop));
}

QString cutOffWarning(double musicEnd)
{
    const auto whole = static_cast<long long>(musicEnd);
    return QStringLiteral("SILENT AFTER %1:%2 · CUT-OFF FILE? RE-DOWNLOAD IT")
        .arg(whole / 60)
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

std::vector<std::optional<double>> hotCueList(const std::array<double, DeckState::kHotCues>& cells)
{
    std::vector<std::optional<double>> list;
    list.reserve(cells.size());
    for (double seconds : cells)
        list.push_back(seconds < 0.0 ? std::nullopt : std::optional<double>(seconds));
    return list;
}

} // namespace

// What a decode's thread and the deck share. The thread reads the fixed part
// and the stop; `deck` and `ended` under the lock. While the thread holds the
// lock it may post its result to a deck that is still there; the deck, going,
// clears `deck` under the same lock, so nothing reaches it afterwards and a
// result already posted goes with it.
struct DeckModel::DecodeRun {
    StoppableDecoder decoder;
    TrackRecord record;
    double sampleRate = 0.0;
    std::uint64_t generation = 0;
    // Read and cleared on the main thread only.
    std::shared_ptr<LoadDone> done;
    std::stop_source stop;

    std::mutex lock;
    std::condition_variable endedSignal;
    DeckModel* deck = nullptr;
    bool ended = false;

    static void run(const std::shared_ptr<DecodeRun>& self);
};

void DeckModel::DecodeRun::run(const std::shared_ptr<DecodeRun>& self)
{
    const QString& path = self->record.path;
    Decoded decoded;
    try {
        // Called off before it began: nothing is read.
        if (self->stop.stop_requested())
            throw AudioFileError::os("decode " + std::filesystem::path(path.toStdString()).filename().string(),
                                     AudioFileIO::kStopped);
        decoded.buffer = self->decoder(path, self->sampleRate, self->stop.get_token());
        if (!decoded.buffer)
            decoded.error = QString::fromStdString(
                AudioFileError::empty(std::filesystem::path(path.toStdString())).description());
    } catch (const AudioFileError& e) {
        decoded.error = QString::fromStdString(e.description());
    } catch (const std::exception& e) {
        decoded.error = QString::fromUtf8(e.what());
    }
    // A decode called off frees what it read here, whatever the deck does.
    if (self->stop.stop_requested())
        decoded.buffer.reset();
    {
        const std::lock_guard<std::mutex> hold(self->lock);
        self->ended = true;
        if (DeckModel* deck = self->deck) {
            QMetaObject::invokeMethod(
                deck, [deck, self, decoded = std::move(decoded)]() mutable { deck->landDecode(self, std::move(decoded)); },
                Qt::QueuedConnection);
        }
    }
    self->endedSignal.notify_all();
}

DeckModel::DeckModel(int index, bool isAI, QObject* parent)
    : QObject(parent), index_(index), isAI_(isAI), padMode_(launchPadMode()), decoder_(decodeFile)
{
}

DeckModel::~DeckModel()
{
    for (const std::shared_ptr<DecodeRun>& run : runs_)
        run->stop.request_stop();
    const auto until = std::chrono::steady_clock::now() + kStopWait;
    // The completions go here, on the main thread, uncalled.
    std::vector<std::shared_ptr<LoadDone>> dropped;
    for (const std::shared_ptr<DecodeRun>& run : runs_) {
        std::unique_lock<std::mutex> hold(run->lock);
        run->endedSignal.wait_until(hold, until, [&run] { return run->ended; });
        run->deck = nullptr;
        dropped.push_back(std::move(run->done));
    }
}

int DeckModel::decodesRunning()
{
    return decodeThreadsRunning.load();
}

PadMode DeckModel::launchPadMode()
{
    static const PadMode mode = [] {
        std::vector<std::string> arguments;
        for (const QString& a : QCoreApplication::arguments())
            arguments.push_back(a.toStdString());
        return padModeFromArguments(arguments);
    }();
    return mode;
}

void DeckModel::setDecoder(Decoder decoder)
{
    if (!decoder) {
        decoder_ = decodeFile;
        return;
    }
    decoder_ = [decoder = std::move(decoder)](const QString& path, double sampleRate, std::stop_token) {
        return decoder(path, sampleRate);
    };
}

void DeckModel::setDecoder(StoppableDecoder decoder)
{
    decoder_ = decoder ? std::move(decoder) : StoppableDecoder(decodeFile);
}

// --- Loading

void DeckModel::load(const TrackRecord& record, std::function<void()> done)
{
    const std::shared_ptr<DeckVoice> v = voice();
    if (!v) {
        if (done)
            done();
        return;
    }
    const std::uint64_t generation = nextGeneration();
    reloadLoad_ = false;
    pendingRecord_ = record;
    setLoading(true);
    setError(std::nullopt);
    pendingDone_ = std::make_shared<LoadDone>(LoadDone{std::move(done), generation});
    startDecode(record, v->sampleRate(), generation, pendingDone_);
}

void DeckModel::startDecode(const TrackRecord& record, double sampleRate, std::uint64_t generation,
                            std::shared_ptr<LoadDone> done)
{
    auto run = std::make_shared<DecodeRun>();
    run->decoder = decoder_;
    run->record = record;
    run->sampleRate = sampleRate;
    run->generation = generation;
    run->done = std::move(done);
    run->deck = this;
    decoding_ = run;
    runs_.push_back(run);
    // A thread of its own: a load never waits for a thread that decodes
    // another deck's record, a called-off one finishing its step, or one stuck
    // in a read.
    ++decodeThreadsRunning;
    try {
        std::thread([run]() mutable {
            DecodeRun::run(run);
            run.reset();
            --decodeThreadsRunning;
        }).detach();
    } catch (const std::system_error& e) {
        --decodeThreadsRunning;
        run->ended = true;
        QMetaObject::invokeMethod(
            this, [this, run, error = QString::fromUtf8(e.what())] { landDecode(run, Decoded{{}, error}); },
            Qt::QueuedConnection);
    }
}

std::uint64_t DeckModel::nextGeneration()
{
    if (decoding_) {
        decoding_->stop.request_stop();
        decoding_.reset();
    }
    return ++generation_;
}

void DeckModel::landDecode(const std::shared_ptr<DecodeRun>& run, Decoded decoded)
{
    std::erase(runs_, run);
    if (decoding_ == run)
        decoding_.reset();
    const TrackRecord& record = run->record;
    const std::uint64_t generation = run->generation;
    std::shared_ptr<LoadDone> done = std::move(run->done);
    // A decode begun again at a new engine's rate took the load's completion
    // with it: this older one calls nothing.
    auto finish = [&done, generation] {
        if (done)
            done->runFrom(generation);
    };
    if (generation != generation_) {
        // A newer load, install or take-over came after this one: it wins.
        decoded.buffer.reset();
        finish();
        return;
    }
    const std::shared_ptr<DeckVoice> v = voice();
    if (decoded.buffer && v && std::abs(decoded.buffer->sampleRate - v->sampleRate()) > kRateTolerance) {
        // The engine was rebuilt at another rate while decoding: the buffer would
        // play at the wrong speed.
        decoded.buffer.reset();
        startDecode(record, v->sampleRate(), generation, std::move(done));
        return;
    }
    if (!decoded.buffer && track_ && buffer_ && v && !(reloadLoad_ && record.id == track_->id)
        && std::abs(buffer_->sampleRate - v->sampleRate()) > kRateTolerance) {
        // The failed load came in place of decoding the deck's own record again
        // for a new output rate: the deck keeps that record, so decode it now,
        // or the deck would hold nothing its voice can play. That decode's own
        // failure (its file gone) ends there, with its message: tried again it
        // would fail again, for good.
        setError(decoded.error);
        const std::uint64_t again = nextGeneration();
        reloadLoad_ = true;
        pendingRecord_ = *track_;
        pendingDone_ = std::make_shared<LoadDone>(LoadDone{{}, again});
        startDecode(*track_, v->sampleRate(), again, pendingDone_);
        finish();
        return;
    }
    setLoading(false);
    const bool playLanded = std::exchange(playOnLanding_, false) && reloadLoad_;
    if (!decoded.buffer) {
        setError(decoded.error);
        finish();
        return;
    }

    std::shared_ptr<const WaveformData> waveform;
    if (library_)
        waveform = library_->waveform(record.id);
    if (!installBuffer(record, decoded.buffer, std::move(waveform), false)) {
        finish();
        return;
    }
    if (playLanded) {
        // Play was pressed while the record decoded again: it plays now.
        // After what the landing itself set off (the application's play-on
        // of a restart, queued as the load ended), so a deck already asked
        // to play is not stopped by a second press.
        QMetaObject::invokeMethod(
            this,
            [this, generation = generation_, to = voice_] {
                const std::shared_ptr<DeckVoice> v = voice();
                if (generation == generation_ && v && v == to.lock() && !v->asked().playing)
                    send(DeckCommand::play());
            },
            Qt::QueuedConnection);
    }
    if (onLoaded_)
        onLoaded_(record, decoded.buffer);

    const double end = decoded.buffer->musicEnd();
    const double length = decoded.buffer->duration();
    if (length - end > kCutOffSilence) {
        setMusicEnd(end);
        setError(cutOffWarning(end));
    }
    countPlay(record.id);
    emit landed(reloadLoad_);
    finish();
}

void DeckModel::countPlay(const QUuid& id)
{
    // Counted on the library's current record, so analysis, cue or tag changes
    // that landed while the file was decoding are kept.
    if (!library_)
        return;
    std::optional<TrackRecord> current = library_->track(id);
    if (!current)
        return;
    current->plays += 1;
    library_->update(*current);
}

void DeckModel::supersedeLoads()
{
    nextGeneration();
    reloadDue_ = false;
    playOnLanding_ = false;
    setLoading(false);
}

void DeckModel::cancelLoad()
{
    if (!loading_)
        return;
    supersedeLoads();
    // The load came in place of decoding the deck's own record again for a
    // new output's rate: that decode is owed now, or the deck would show its
    // record while its voice holds nothing.
    const std::shared_ptr<DeckVoice> v = voice();
    if (track_ && buffer_ && v && std::abs(buffer_->sampleRate - v->sampleRate()) > kRateTolerance) {
        load(*track_);
        reloadLoad_ = true;
    }
}

void DeckModel::install(const TrackRecord& record, const TrackBufferRef& buffer,
                        std::shared_ptr<const WaveformData> waveform, bool keepPosition)
{
    supersedeLoads();
    installBuffer(record, buffer, std::move(waveform), keepPosition);
}

bool DeckModel::installBuffer(const TrackRecord& record, const TrackBufferRef& buffer,
                              std::shared_ptr<const WaveformData> waveform, bool keepPosition)
{
    const Shown before = shown();
    setTrack(record);
    setMusicEnd(std::nullopt);
    setBuffer(buffer);
    setWaveform(std::move(waveform));
    if (!keepPosition) {
        if (onNewTimeline_)
            onNewTimeline_();
        setTempoFader(0.0);
        setKeyShift(0);
    }
    if (!sendBuffer(buffer, keepPosition)) {
        show(before);
        setError(QString::fromUtf8(kDeckBusy));
        return false;
    }
    if (!keepPosition)
        sendCues(record);
    takeCueRevision();
    return true;
}

DeckModel::Shown DeckModel::shown() const
{
    return Shown{track_, buffer_, waveform_, musicEnd_};
}

void DeckModel::show(const Shown& shown)
{
    setTrack(shown.track);
    setBuffer(shown.buffer);
    setWaveform(shown.waveform);
    setMusicEnd(shown.musicEnd);
}

void DeckModel::takeOver(const TrackRecord& record, const TrackBufferRef& buffer, const WaveformData& waveform,
                         double at)
{
    const std::shared_ptr<DeckVoice> v = voice();
    if (!v)
        return;
    supersedeLoads();
    if (onNewTimeline_)
        onNewTimeline_();
    const Shown before = shown();
    setTrack(record);
    setBuffer(buffer);
    setWaveform(std::make_shared<const WaveformData>(waveform));
    setMusicEnd(std::nullopt);
    setTempoFader(0.0);
    setKeyShift(0);
    TrackBufferRef carried = buffer;
    if (!send(DeckCommand::takeOver(carried, at))) {
        show(before);
        setError(QString::fromUtf8(kDeckBusy));
        return;
    }
    noteSent(record, buffer, true);
    if (record.grid)
        send(DeckCommand::setGrid(record.grid->bpm, record.grid->firstBeat));
    send(DeckCommand::setCuePoint(record.cuePoint));
    for (std::size_t i = 0; i < record.hotCues.size(); ++i)
        send(DeckCommand::setHotCue(int(i), record.hotCues[i].value_or(-1.0)));
    takeCueRevision();
}

bool DeckModel::swapIn(const TrackRecord& record, const TrackBufferRef& buffer,
                       std::shared_ptr<const WaveformData> waveform, double offset)
{
    if (!voice() || !buffer)
        return false;
    supersedeLoads();
    if (onNewTimeline_)
        onNewTimeline_();
    const Shown before = shown();
    setTrack(record);
    setBuffer(buffer);
    setWaveform(std::move(waveform));
    setMusicEnd(std::nullopt);
    TrackBufferRef carried = buffer;
    if (!send(DeckCommand::swap(carried, offset))) {
        show(before);
        setError(QString::fromUtf8(kDeckBusy));
        return false;
    }
    noteSent(record, buffer, true);
    if (record.grid)
        send(DeckCommand::setGrid(record.grid->bpm, record.grid->firstBeat));
    takeCueRevision();
    return true;
}

void DeckModel::attach(const std::shared_ptr<DeckVoice>& voice, bool reloadAudio)
{
    // The last word of the voice going: the deck reads as it stood there
    // until the new one renders.
    reading();
    voice_ = voice;
    // A new voice holds nothing of ours until it takes what is sent below,
    // and says nothing of the set until it has rendered.
    sent_.reset();
    taken_.reset();
    takenBy_.reset();
    renderedFrom_ = voice ? voice->state().timeline().writes : 0;
    emit voiceChanged();
    pushTempo();
    pushKeyShift();
    send(DeckCommand::keyLock(keyLock_));
    send(DeckCommand::quantize(quantize_));
    send(DeckCommand::slip(slip_));
    send(DeckCommand::vinyl(vinyl_));
    // A new voice plays forward, and is never told otherwise until asked:
    // the deck, and every lamp that shows it, says so too.
    if (reverse_) {
        reverse_ = false;
        emit reverseChanged();
    }
    // A new voice counts its own cue changes from 0 and publishes empty cues
    // until it has applied what we send: never harvest that over the record.
    takeCueRevision();
    // Back on an output at the rate its buffer was decoded at while its record
    // decoded again for another (the output moved away and back): that
    // decode is owed no more, and the new voice takes the buffer below at
    // once. A play pressed meanwhile still counts.
    bool playPressed = false;
    if (voice && reloading() && track_ && buffer_ && (reloadDue_ || (pendingRecord_ && pendingRecord_->id == track_->id))
        && std::abs(buffer_->sampleRate - voice->sampleRate()) <= kRateTolerance) {
        playPressed = playOnLanding_;
        supersedeLoads();
        reloadLoad_ = false;
    }
    // A load still pending at another rate than the new voice's begins its
    // decode again at once at that rate, keeping its completion: waiting for
    // the old rate's decode to land first would keep the room waiting for two
    // decodes. One already decoding at this rate (a reload for an earlier
    // restart at the same rate) goes on.
    if (voice && loading_ && pendingRecord_ && pendingDone_ && pendingDone_->generation == generation_
        && (!decoding_ || std::abs(decoding_->sampleRate - voice->sampleRate()) > kRateTolerance)) {
        const std::uint64_t again = nextGeneration();
        pendingDone_->generation = again;
        startDecode(*pendingRecord_, voice->sampleRate(), again, pendingDone_);
    }
    if (!track_)
        return;
    // A buffer decoded at another rate would play at the wrong speed and
    // pitch on this voice: it is never sent, whatever the caller says, and
    // the voice holds nothing until the record is decoded again.
    const bool otherRate = buffer_ && voice && std::abs(buffer_->sampleRate - voice->sampleRate()) > kRateTolerance;
    if (!reloadAudio && buffer_ && !otherRate) {
        if (sendBuffer(buffer_, false))
            sendCues(*track_);
        else
            setError(QString::fromUtf8(kDeckBusy));
        if (playPressed)
            // After what the new output sets off (the application's play-on),
            // so a deck already asked to play is not stopped by it.
            QMetaObject::invokeMethod(
                this,
                [this, generation = generation_, to = voice_] {
                    const std::shared_ptr<DeckVoice> v = this->voice();
                    if (generation == generation_ && v && v == to.lock() && !v->asked().playing)
                        send(DeckCommand::play());
                },
                Qt::QueuedConnection);
        return;
    }
    // Decode again at the new engine's rate, once attach has returned, unless a
    // load is pending (begun again above): a newer choice of track must not be
    // replaced by this reload.
    const bool pending = loading_;
    const std::uint64_t generation = generation_;
    reloadDue_ = !pending;
    QMetaObject::invokeMethod(
        this,
        [this, generation, pending] {
            reloadDue_ = false;
            if (generation == generation_ && !pending && track_) {
                load(*track_);
                reloadLoad_ = true;
            }
        },
        Qt::QueuedConnection);
}

bool DeckModel::sendBuffer(const TrackBufferRef& buffer, bool keepPosition)
{
    if (voice_.expired() || !buffer)
        return true;
    TrackBufferRef carried = buffer;
    if (!send(DeckCommand::load(carried, keepPosition)))
        return false;
    if (track_)
        noteSent(*track_, buffer);
    if (track_ && track_->grid)
        send(DeckCommand::setGrid(track_->grid->bpm, track_->grid->firstBeat));
    return true;
}

void DeckModel::noteSent(const TrackRecord& record, const TrackBufferRef& buffer, bool splice)
{
    const std::shared_ptr<DeckVoice> v = voice();
    if (!v || !buffer)
        return;
    // Read after the command went in. A render already past its commands
    // finishes the write open now (or the next one); the render after it
    // carries the command out and publishes its timeline, and the deck's
    // other cells of that render are published before the write after it.
    const std::int64_t writes = v->state().timeline().writes;
    sent_ = Sent{v, record.id, (writes | 1) + 5, splice};
}

DeckModel::Reading DeckModel::reading() const
{
    const std::shared_ptr<DeckVoice> v = voice();
    Reading r;
    const DeckState::Timeline t = v ? v->state().timeline() : DeckState::Timeline{};
    // A whole write after the attach: the voice renders.
    if (!v || t.writes < (renderedFrom_ | 1) + 1) {
        r = lastReading_;
        r.stood = true;
        return r;
    }
    const DeckState& s = v->state();
    const bool playing = s.playing.load();
    const bool loaded = s.loaded.load();
    r.position = t.position;
    r.duration = s.duration.load();
    if (sent_) {
        const std::shared_ptr<DeckVoice> to = sent_->voice.lock();
        if (to != v) {
            sent_.reset();
        } else if (t.writes >= sent_->takenAt) {
            // The voice has carried the buffer out: it holds it, or nothing
            // when it could not keep it.
            taken_ = loaded ? std::optional<QUuid>(sent_->record) : std::nullopt;
            takenBy_ = v;
            sent_.reset();
        }
    }
    const bool takenHere = takenBy_.lock() == v;
    r.record = takenHere && loaded ? taken_ : std::nullopt;
    r.end = r.duration;
    if (playing && r.record && !reloadDue_ && (loading_ ? !sent_ : sent_ && sent_->splice)) {
        // A decode in flight for a deck that plays, or a splice its voice has
        // not taken yet: the room hears the record the voice holds until the
        // new buffer lands and is taken, so that record plays. A load that
        // landed reads as loading until the voice has taken the new buffer.
        r.state = Reading::State::playing;
    } else if (loading_ || sent_ || reloadDue_) {
        r.state = Reading::State::loading;
    } else if (!r.record) {
        r.state = Reading::State::empty;
    } else {
        if (track_ && *r.record == track_->id && musicEnd_ && *musicEnd_ < r.duration)
            r.end = *musicEnd_;
        if (playing)
            r.state = Reading::State::playing;
        else if (r.position >= r.end - kPlayedOut)
            r.state = Reading::State::playedOut;
        else
            r.state = Reading::State::ready;
    }
    lastReading_ = r;
    return r;
}

bool DeckModel::settling() const
{
    const Reading r = reading();
    return r.stood || (r.loading() && (sent_ || reloadDue_ || (loading_ && reloadLoad_)));
}

void DeckModel::sendCues(const TrackRecord& record)
{
    if (voice_.expired())
        return;
    send(DeckCommand::setCuePoint(record.cuePoint));
    send(DeckCommand::seek(record.cuePoint));
    for (std::size_t i = 0; i < record.hotCues.size(); ++i)
        send(DeckCommand::setHotCue(int(i), record.hotCues[i].value_or(-1.0)));
}

bool DeckModel::send(const DeckCommand& command)
{
    if (const std::shared_ptr<DeckVoice> v = voice())
        return v->send(command); // a refused command releases any buffer it carried
    if (command.carriesBuffer())
        TrackBufferRef::adopt(command.buffer).reset();
    return true;
}

void DeckModel::takeCueRevision()
{
    const std::shared_ptr<DeckVoice> v = voice();
    seenCueRevision_ = v ? v->state().cueRevisionAcquire() : 0;
}

// --- Transport, loops, tempo and key

void DeckModel::playPause()
{
    if (onHands_)
        onHands_();
    // While its record decodes again for a new output's rate the voice holds
    // nothing to play: the press waits for the record, and a second one
    // takes it back, as on a deck that holds it. It is kept here alone, so
    // the voice's own handover does not carry it out a second time.
    if (reloading()) {
        playOnLanding_ = !playOnLanding_;
        return;
    }
    send(DeckCommand::play());
}

void DeckModel::cue(bool down)
{
    if (onHands_)
        onHands_();
    // CUE stands the deck at its cue point, also once its record is back.
    if (down)
        playOnLanding_ = false;
    send(DeckCommand::cue(down));
}

void DeckModel::beatJump(double direction)
{
    send(DeckCommand::beatJump(beatJumpBeats_ * direction));
}

void DeckModel::autoLoop()
{
    send(DeckCommand::autoLoop(autoLoopBeats_));
}

void DeckModel::halveLoop()
{
    setAutoLoopBeats(std::max(autoLoopBeats_ * 0.5, kShortestLoop));
    const std::shared_ptr<DeckVoice> v = voice();
    if (v && v->state().loopActive.load())
        send(DeckCommand::loopResize(0.5));
}

void DeckModel::doubleLoop()
{
    setAutoLoopBeats(std::min(autoLoopBeats_ * 2.0, kLongestLoop));
    const std::shared_ptr<DeckVoice> v = voice();
    if (v && v->state().loopActive.load())
        send(DeckCommand::loopResize(2.0));
}

void DeckModel::cycleTempoRange()
{
    setTempoRange(nextTempoRange(tempoRange_));
}

void DeckModel::pushTempo()
{
    if (const std::shared_ptr<DeckVoice> v = voice())
        v->tempo().store(tempoRatio());
}

void DeckModel::pushKeyShift()
{
    if (const std::shared_ptr<DeckVoice> v = voice())
        v->keyShift().store(double(keyShift_));
}

namespace {

// Assigns and reports whether the value changed.
template <typename T>
bool assign(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

void DeckModel::setTempoRange(TempoRange range)
{
    const bool changed = assign(tempoRange_, range);
    pushTempo();
    if (changed)
        emit tempoRangeChanged();
}

void DeckModel::setTempoFader(double fader)
{
    const bool changed = assign(tempoFader_, fader);
    pushTempo();
    if (changed)
        emit tempoFaderChanged();
}

void DeckModel::setKeyShift(int semitones)
{
    const bool changed = assign(keyShift_, semitones);
    pushKeyShift();
    if (changed)
        emit keyShiftChanged();
}

void DeckModel::setKeyLock(bool on)
{
    const bool changed = assign(keyLock_, on);
    send(DeckCommand::keyLock(on));
    if (changed)
        emit keyLockChanged();
}

void DeckModel::setQuantize(bool on)
{
    const bool changed = assign(quantize_, on);
    send(DeckCommand::quantize(on));
    if (changed)
        emit quantizeChanged();
}

void DeckModel::setSlip(bool on)
{
    const bool changed = assign(slip_, on);
    send(DeckCommand::slip(on));
    if (changed)
        emit slipChanged();
}

void DeckModel::setReverse(bool on)
{
    const bool changed = assign(reverse_, on);
    send(DeckCommand::reverse(on));
    if (changed)
        emit reverseChanged();
}

void DeckModel::setVinyl(bool on)
{
    const bool changed = assign(vinyl_, on);
    send(DeckCommand::vinyl(on));
    if (changed)
        emit vinylChanged();
}

void DeckModel::setBeatJumpBeats(double beats)
{
    if (assign(beatJumpBeats_, beats))
        emit beatJumpBeatsChanged();
}

void DeckModel::setAutoLoopBeats(double beats)
{
    if (assign(autoLoopBeats_, beats))
        emit autoLoopBeatsChanged();
}

void DeckModel::setShift(bool held)
{
    if (assign(shift_, held))
        emit shiftChanged();
}

void DeckModel::setPadMode(PadMode mode)
{
    if (assign(padMode_, mode))
        emit padModeChanged();
}

// --- Plain state

void DeckModel::setLibrary(LibraryStore* library)
{
    if (library_ == library)
        return;
    if (library_)
        disconnect(library_, nullptr, this, nullptr);
    library_ = library;
    if (library_)
        connect(library_, &LibraryStore::tracksChanged, this, &DeckModel::adoptAnalysis);
}

void DeckModel::adoptAnalysis()
{
    // A file loaded straight after its import plays before its analysis has
    // run; once the library holds the result, the deck takes its grid, key,
    // loudness, metrics and waveform, keeping its own cues and everything else.
    if (!library_ || !track_ || track_->analyzed || track_->outpaint)
        return;
    const std::optional<TrackRecord> current = library_->track(track_->id);
    if (!current || !current->analyzed)
        return;
    TrackRecord mine = *track_;
    mine.analyzed = true;
    mine.duration = mine.duration > 0.0 ? mine.duration : current->duration;
    mine.grid = current->grid;
    mine.key = current->key;
    mine.loudnessDB = current->loudnessDB;
    mine.metrics = current->metrics;
    setTrack(mine);
    if (!waveform_)
        if (std::shared_ptr<const WaveformData> waveform = library_->waveform(mine.id))
            setWaveform(std::move(waveform));
    if (mine.grid && !voice_.expired())
        send(DeckCommand::setGrid(mine.grid->bpm, mine.grid->firstBeat));
}

void DeckModel::setTrack(std::optional<TrackRecord> track)
{
    if (assign(track_, track))
        emit trackChanged();
}

void DeckModel::setBuffer(TrackBufferRef buffer)
{
    buffer_ = std::move(buffer);
    emit bufferChanged();
}

void DeckModel::setWaveform(std::shared_ptr<const WaveformData> waveform)
{
    waveform_ = std::move(waveform);
    emit waveformChanged();
}

void DeckModel::setLoading(bool loading)
{
    if (assign(loading_, loading))
        emit loadingChanged();
}

void DeckModel::setError(std::optional<QString> error)
{
    if (assign(error_, error))
        emit errorChanged();
}

void DeckModel::setMusicEnd(std::optional<double> end)
{
    if (assign(musicEnd_, end))
        emit musicEndChanged();
}

void DeckModel::setLive(const Live& live)
{
    if (assign(live_, live))
        emit liveChanged();
}

// --- Polling and cues

void DeckModel::refreshLive()
{
    const std::shared_ptr<DeckVoice> v = voice();
    if (!v) {
        setLive(Live{});
        return;
    }
    const DeckState& s = v->state();
    Live next;
    next.loaded = s.loaded.load();
    next.playing = s.playing.load();
    next.cueing = s.cueing.load();
    next.loopActive = s.loopActive.load();
    next.loopSet = s.loopStart.load() >= 0.0;
    const double position = s.position.load();
    next.atCue = std::abs(position - s.cuePoint.load()) <= kAtCueTolerance;
    next.jogTouched = s.jogTouched.load();
    for (std::size_t i = 0; i < next.hotCues.size(); ++i)
        next.hotCues[i] = s.hotCues[i].load();
    next.parkedAt = next.playing ? 0 : std::int64_t(std::llround(s.position.load() * 100.0));
    setLive(next);
}

void DeckModel::harvestCues()
{
    const std::shared_ptr<DeckVoice> v = voice();
    if (!v || !track_)
        return;
    const DeckState& s = v->state();
    for (int attempt = 0; attempt < kHarvestAttempts; ++attempt) {
        // The count only grows on one voice; a stopped voice's copy may have
        // counted past the cells it left.
        const std::int64_t revision = s.cueRevisionAcquire();
        if (revision <= seenCueRevision_)
            return;
        const double cuePoint = s.cuePoint.load();
        std::array<double, DeckState::kHotCues> hotCues{};
        for (std::size_t i = 0; i < hotCues.size(); ++i)
            hotCues[i] = s.hotCues[i].load();
        // The cells of a later render may have mixed in: keep only a read that
        // the revision brackets unchanged.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (s.cueRevision.load() != revision)
            continue;

        seenCueRevision_ = revision;
        keepCues(cuePoint, hotCues);
        return;
    }
}

void DeckModel::harvestCues(const DeckTransport& stopped)
{
    if (!track_ || stopped.cueRevision_ <= seenCueRevision_)
        return;
    seenCueRevision_ = stopped.cueRevision_;
    keepCues(stopped.cuePoint_, stopped.hotCues_);
}

void DeckModel::keepCues(double cuePoint, const std::array<double, DeckState::kHotCues>& hotCues)
{
    std::vector<std::optional<double>> list = hotCueList(hotCues);
    // Only the cue fields change: the rest of the deck's copy may be older
    // than the library's record (analysis, plays), so the library's own
    // record takes the cues.
    TrackRecord mine = *track_;
    mine.cuePoint = cuePoint;
    mine.hotCues = list;
    setTrack(mine);
    if (library_) {
        if (std::optional<TrackRecord> current = library_->track(mine.id)) {
            current->cuePoint = cuePoint;
            current->hotCues = std::move(list);
            library_->update(*current);
        }
    }
}

void DeckModel::deleteHotCue(int slot)
{
    // Only pad slots exist in the voice; anything else is a caller's slip and
    // must not clear some other cue.
    if (slot < 0 || slot >= DeckState::kHotCues)
        return;
    send(DeckCommand::setHotCue(slot, -1.0));
    if (!track_)
        return;
    auto clear = [slot](TrackRecord& record) {
        // An older record may hold fewer slots than the pads.
        if (record.hotCues.size() <= std::size_t(slot))
            record.hotCues.resize(std::max<std::size_t>(TrackRecord::kHotCueSlots, std::size_t(slot) + 1));
        record.hotCues[std::size_t(slot)] = std::nullopt;
    };
    TrackRecord mine = *track_;
    clear(mine);
    setTrack(mine);
    if (library_) {
        if (std::optional<TrackRecord> current = library_->track(mine.id)) {
            clear(*current);
            library_->update(*current);
        }
    }
}

} // namespace zelvo
