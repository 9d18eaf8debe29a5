#pragma once
// The main-thread model of one deck: which library track is on it, its decoded
// audio and display waveform, the load workflow, the deck's controls, and the
// snapshot of what its engine voice publishes.
//
// The deck drives its `DeckVoice` only through `DeckVoice::send` and the voice's
// `tempo` and `keyShift` cells, and learns what the engine did by polling the
// voice's `DeckState` (`refreshLive`, `harvestCues`, called by the application's
// tick). It holds the voice and the library weakly: the engine can be rebuilt
// underneath it (`attach` binds the new voice) and without an engine every
// control still updates the model.
//
// Properties notify only when their value changes; the controls that mirror an
// engine cell or send a deck command do so on every assignment.
//
// Main thread only. The one piece of work off the main thread is the decode of
// a load, which runs on a thread of its own and hands its result back to the
// main thread.
#include "audio/DeckState.h"
#include "audio/DeckVoice.h"
#include "controllers/PadMode.h"
#include "library/BeatGrid.h"
#include "library/LibraryStore.h"
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"
#include "library/WaveformData.h"
#include "models/TempoRange.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace zelvo {

class DeckModel final : public QObject {
    Q_OBJECT

public:
    // The facts of the voice's published state that screens and the application
    // redraw or decide on. A playing deck's snapshot leaves out its moving
    // position, so polling a playing deck wakes nobody.
    struct Live {
        bool loaded = false;
        bool playing = false;
        bool cueing = false;
        bool loopActive = false;
        bool loopSet = false;      // a loop start is stored
        bool atCue = true;         // the playhead lies within 0.01 s of the cue point
        bool jogTouched = false;
        std::int64_t parkedAt = 0; // stopped playhead in hundredths of a second; 0 while playing
        std::array<double, DeckState::kHotCues> hotCues{-1, -1, -1, -1, -1, -1, -1, -1}; // −1 empty

        friend bool operator==(const Live&, const Live&) = default;
    };

    // What the room can hear from the deck, from one timeline write of its
    // voice. The record is the one whose load the voice has taken: it has
    // published a complete timeline written after it carried that load out,
    // so a record that just landed counts only once the voice plays it (or
    // stands with it). Position and duration come from the same write.
    struct Reading {
        // loading: a load or reload in flight, or one the voice has not taken
        // yet; such a deck is never ready, stopped or played out. A deck whose
        // voice still plays its record while the new one decodes, or while a
        // splice (a swap, a take-over) waits to be taken, reads as playing
        // that record. ready: it
        // stands with music left. playedOut: it stands at its music's end.
        enum class State { empty, loading, ready, playing, playedOut };
        State state = State::empty;
        // The record the voice holds; none while empty, or while a new voice
        // has not yet taken any.
        std::optional<QUuid> record;
        double position = 0.0;
        double duration = 0.0;
        // The music's end: the cut-off point when it lies before the duration.
        double end = 0.0;
        // The voice has not rendered since it came (the output is being
        // rebuilt, or started and has not rendered yet): the deck reads as it
        // last stood.
        bool stood = false;

        bool playing() const { return state == State::playing; }
        bool loading() const { return state == State::loading; }
        // Stopped with the record it holds: ready or played out.
        bool stopped() const { return state == State::ready || state == State::playedOut; }
        // Seconds of music left on the playhead, never below 0.
        double left() const { return std::max(end - position, 0.0); }
        friend bool operator==(const Reading&, const Reading&) = default;
    };
    // A deck this close to the end of its music has played out.
    static constexpr double kPlayedOut = 0.05;

    // Decodes a whole file at a sample rate; throws on failure (AudioFileError for
    // the file layer's failures). Runs on a decode thread.
    using Decoder = std::function<TrackBufferRef(const QString& path, double sampleRate)>;
    // The same, told when its load has been replaced or its deck is going:
    // it should then give up at its next step, freeing what it read.
    using StoppableDecoder =
        std::function<TrackBufferRef(const QString& path, double sampleRate, std::stop_token stop)>;

    // Seconds of trailing silence beyond which a loaded file counts as cut off.
    static constexpr double kCutOffSilence = 10.0;
    // Distance from the cue point, in seconds, that still counts as on it.
    static constexpr double kAtCueTolerance = 0.01;
    // Bounds of the auto-loop length, in beats.
    static constexpr double kShortestLoop = 1.0 / 32.0;
    static constexpr double kLongestLoop = 64.0;

    // A deck with the initial settings. Main thread.
    DeckModel(int index, bool isAI, QObject* parent = nullptr);
    // Calls off the deck's decodes and waits briefly for those that stop at
    // their next step; one stuck in a read is left to end on its own, and
    // reaches nothing of the deck. Completions of loads still pending do not
    // run.
    ~DeckModel() override;

    // The pad page every deck starts with: parsed once from the launch arguments
    // ("--pad-mode <page>"). Main thread.
    static PadMode launchPadMode();

    // --- Identity and track state. Main thread.
    int index() const { return index_; }
    bool isAI() const { return isAI_; }
    const std::optional<TrackRecord>& track() const { return track_; }
    const TrackBufferRef& buffer() const { return buffer_; }
    const std::shared_ptr<const WaveformData>& waveform() const { return waveform_; }
    // True from the start of a load until the newest load has finished.
    bool loading() const { return loading_; }
    // The record the load in flight decodes; none when nothing loads.
    std::optional<QUuid> loadingRecord() const
    {
        return loading_ && pendingRecord_ ? std::optional<QUuid>(pendingRecord_->id) : std::nullopt;
    }
    // A load failure or the cut-off warning.
    const std::optional<QString>& error() const { return error_; }
    // Where the music of a cut-off file stops, in seconds.
    std::optional<double> musicEnd() const { return musicEnd_; }
    // The loaded track's beat grid.
    std::optional<BeatGrid> grid() const { return track_ ? track_->grid : std::nullopt; }
    // The voice this deck drives; null when there is no engine.
    std::shared_ptr<DeckVoice> voice() const { return voice_.lock(); }
    const Live& live() const { return live_; }
    // The deck as the room hears it (see Reading). Without a voice, or with
    // one that has not rendered since it was attached, the last reading with
    // `stood` set.
    Reading reading() const;
    // The deck is between two states: a buffer sent that its voice has not
    // taken yet, its own reload for a new engine's rate due or decoding, or a
    // voice that has not rendered since it came. It reads as loading, or as
    // it last stood, for a few renders (a reload: its decode): nothing may
    // take it for stopped, played out or done meanwhile.
    bool settling() const;
    // Its own record decodes again, or is about to, for a new engine's rate.
    bool reloading() const { return reloadDue_ || (loading_ && reloadLoad_); }

    // --- Wiring by the state root. Main thread.
    // The deck follows the library's record of its track while the analysis
    // of a track loaded before it was analysed lands (grid, key, waveform).
    void setLibrary(LibraryStore* library);
    LibraryStore* library() const { return library_.data(); }
    // Called when a new timeline starts on the deck (a load, install or take-over
    // that does not keep the position).
    void setOnNewTimeline(std::function<void()> callback) { onNewTimeline_ = std::move(callback); }
    // Called after a load installed its track, with the record and the buffer.
    void setOnLoaded(std::function<void(const TrackRecord&, const TrackBufferRef&)> callback)
    {
        onLoaded_ = std::move(callback);
    }
    // Called when the user plays or cues the deck.
    void setOnHands(std::function<void()> callback) { onHands_ = std::move(callback); }
    // Replaces the decoder loads use (tests). Main thread, between loads.
    void setDecoder(Decoder decoder);
    void setDecoder(StoppableDecoder decoder);
    // Decodes of every deck whose thread has not ended yet: running, or
    // called off and still finishing their step. Each decode has a thread of
    // its own, so a load never queues behind others. Any thread.
    static int decodesRunning();

    // --- Loading. Main thread.

    // Decodes the record's file at the engine's rate on a thread of its own and
    // installs it; counts a play in the library. `done` runs on the main thread
    // once this load has finished, failed or been superseded by a newer load,
    // install or take-over (the newest always wins; a superseded load's decode
    // is called off and `done` runs once it has stopped). Without a voice
    // nothing happens and `done` runs at once.
    void load(const TrackRecord& record, std::function<void()> done = {});
    // Drops a pending load: its decode is called off and installs nothing. Nothing
    // happens without one. One that came in place of the deck's own reload for
    // a new output's rate starts that reload.
    void cancelLoad();
    // Puts an already decoded buffer on the deck. Without `keepPosition` it starts
    // a new timeline: tempo and key back to neutral, the track's cues sent and
    // the deck parked on its cue point. Supersedes a pending load.
    void install(const TrackRecord& record, const TrackBufferRef& buffer, std::shared_ptr<const WaveformData> waveform,
                 bool keepPosition);
    // Replaces the deck's audio without a gap, the new buffer continuing at `at`
    // seconds. Nothing without a voice. Supersedes a pending load.
    void takeOver(const TrackRecord& record, const TrackBufferRef& buffer, const WaveformData& waveform, double at);
    // Hands the deck a buffer that continues the one it plays: the new buffer's
    // first frame lies at `offset` seconds of the old timeline, and the voice
    // moves its position and time marks by −offset, so the same audio goes on.
    // Starts a new timeline for the callback, supersedes a pending load, shows
    // the record, sends its grid; tempo, key and transport stay as they are.
    // False without a voice, or when the voice refused the buffer (the deck then
    // shows what it had before and the busy error).
    bool swapIn(const TrackRecord& record, const TrackBufferRef& buffer, std::shared_ptr<const WaveformData> waveform,
                double offset);
    // Binds the deck to a new engine voice and pushes the deck's state into it;
    // with `reloadAudio` (or no buffer held, or one decoded at another rate
    // than the voice's) the track is decoded again at the new engine's rate,
    // after this returns, and the voice holds nothing meanwhile. A load
    // pending at another rate decodes again at the voice's.
    void attach(const std::shared_ptr<DeckVoice>& voice, bool reloadAudio);

    // --- Transport, loops, tempo and key. Main thread.
    // Play, or pause when playing. Pressed while the deck's own record decodes
    // again for a new output's rate, it plays the deck once that lands (a
    // second press takes it back, CUE calls it off).
    void playPause();
    void cue(bool down);
    // Jumps beatJumpBeats × direction beats (callers pass −1 or +1).
    void beatJump(double direction);
    void autoLoop();
    void halveLoop();
    void doubleLoop();
    void cycleTempoRange();

    // 1 + tempoFader × the range's width.
    double tempoRatio() const { return 1.0 + tempoFader_ * tempoRangeWidth(tempoRange_); }

    TempoRange tempoRange() const { return tempoRange_; }
    double tempoFader() const { return tempoFader_; }
    int keyShift() const { return keyShift_; }
    bool keyLock() const { return keyLock_; }
    bool quantize() const { return quantize_; }
    bool slip() const { return slip_; }
    bool reverse() const { return reverse_; }
    bool vinyl() const { return vinyl_; }
    double beatJumpBeats() const { return beatJumpBeats_; }
    double autoLoopBeats() const { return autoLoopBeats_; }
    bool shift() const { return shift_; }
    PadMode padMode() const { return padMode_; }

    // These reach the engine on every assignment, also of an unchanged value.
    void setTempoRange(TempoRange range);
    void setTempoFader(double fader);
    void setKeyShift(int semitones);
    void setKeyLock(bool on);
    void setQuantize(bool on);
    void setSlip(bool on);
    void setReverse(bool on);
    void setVinyl(bool on);
    // Plain settings.
    void setBeatJumpBeats(double beats);
    void setAutoLoopBeats(double beats);
    void setShift(bool held);
    void setPadMode(PadMode mode);

    // --- Polling (the application's tick) and cues. Main thread.

    // Copies the voice's published state into `live`; notifies only on a change.
    void refreshLive();
    // Takes cue changes the voice made itself into the track and the library.
    void harvestCues();
    // The same for a voice nothing renders any more, from what its stopped
    // copy hands over (`DeckVoice::handoverOnceStopped`): a cue set in its last
    // buffer, or while no output ran, is kept. The voice's own cells are
    // not harvested after.
    void harvestCues(const DeckTransport& stopped);
    // Clears hot cue `slot` (0…7) in the voice, the track and the library.
    void deleteHotCue(int slot);

signals:
    void trackChanged();
    void bufferChanged();
    void waveformChanged();
    void loadingChanged();
    void errorChanged();
    void musicEndChanged();
    void tempoRangeChanged();
    void tempoFaderChanged();
    void keyShiftChanged();
    void keyLockChanged();
    void quantizeChanged();
    void slipChanged();
    void reverseChanged();
    void vinylChanged();
    void beatJumpBeatsChanged();
    void autoLoopBeatsChanged();
    void shiftChanged();
    void padModeChanged();
    void liveChanged();
    void voiceChanged();
    // A load installed its record (also one the deck held already); `reload`
    // when it was the deck's own reload for a new engine's rate.
    void landed(bool reload);

private:
    struct Decoded {
        TrackBufferRef buffer;
        QString error;
    };

    // What a load calls once it has landed, failed or been superseded. A load
    // begun again at a new engine's rate hands it to its newer decode: only
    // the decode of `generation` calls it.
    struct LoadDone {
        std::function<void()> call;
        std::uint64_t generation = 0;
        // Runs the completion once, from the decode it belongs to.
        void runFrom(std::uint64_t decode)
        {
            if (!call || decode != generation)
                return;
            const std::function<void()> run = std::move(call);
            call = {};
            run();
        }
    };

    // One decode's thread and what it shares with the deck.
    struct DecodeRun;

    void startDecode(const TrackRecord& record, double sampleRate, std::uint64_t generation,
                     std::shared_ptr<LoadDone> done);
    void landDecode(const std::shared_ptr<DecodeRun>& run, Decoded decoded);
    // A new generation: the decode of the one before is called off.
    std::uint64_t nextGeneration();
    void supersedeLoads();
    // What the deck shows of its track, kept to put back when a hand-over fails.
    struct Shown {
        std::optional<TrackRecord> track;
        TrackBufferRef buffer;
        std::shared_ptr<const WaveformData> waveform;
        std::optional<double> musicEnd;
    };

    // False when the voice refused the buffer (its ring was full): the deck then
    // shows what it had before and the busy error.
    bool installBuffer(const TrackRecord& record, const TrackBufferRef& buffer,
                       std::shared_ptr<const WaveformData> waveform, bool keepPosition);
    Shown shown() const;
    void show(const Shown& shown);
    // False only when a voice refused the load; true without a voice.
    bool sendBuffer(const TrackBufferRef& buffer, bool keepPosition);
    void sendCues(const TrackRecord& record);
    // False when the voice's ring was full; a carried buffer is released either way.
    bool send(const DeckCommand& command);
    void pushTempo();
    void pushKeyShift();
    void setTrack(std::optional<TrackRecord> track);
    void adoptAnalysis();
    void setBuffer(TrackBufferRef buffer);
    void setWaveform(std::shared_ptr<const WaveformData> waveform);
    void setLoading(bool loading);
    void setError(std::optional<QString> error);
    void setMusicEnd(std::optional<double> end);
    void setLive(const Live& live);
    void takeCueRevision();
    // The cue point and hot cues (seconds, −1 empty) into the track and the
    // library's record.
    void keepCues(double cuePoint, const std::array<double, DeckState::kHotCues>& hotCues);
    void countPlay(const QUuid& id);
    // Notes a buffer the voice was sent for `record`: the voice has taken it
    // once a timeline written after it carried the command out is published.
    // A splice continues what the voice plays.
    void noteSent(const TrackRecord& record, const TrackBufferRef& buffer, bool splice = false);

    const int index_;
    const bool isAI_;
    std::optional<TrackRecord> track_;
    TrackBufferRef buffer_;
    std::shared_ptr<const WaveformData> waveform_;
    bool loading_ = false;
    std::optional<QString> error_;
    std::optional<double> musicEnd_;
    TempoRange tempoRange_ = TempoRange::ten;
    double tempoFader_ = 0.0;
    int keyShift_ = 0;
    bool keyLock_ = true;
    bool quantize_ = true;
    bool slip_ = false;
    bool reverse_ = false;
    bool vinyl_ = true;
    double beatJumpBeats_ = 4.0;
    double autoLoopBeats_ = 4.0;
    bool shift_ = false;
    PadMode padMode_;
    Live live_;
    std::weak_ptr<DeckVoice> voice_;
    QPointer<LibraryStore> library_;
    std::int64_t seenCueRevision_ = 0;
    std::function<void()> onNewTimeline_;
    std::function<void(const TrackRecord&, const TrackBufferRef&)> onLoaded_;
    std::function<void()> onHands_;
    StoppableDecoder decoder_;
    // The decode of the newest generation, and every decode whose result has
    // not come back yet (called-off ones included).
    std::shared_ptr<DecodeRun> decoding_;
    std::vector<std::shared_ptr<DecodeRun>> runs_;

    // The reading's bookkeeping. A buffer sent and not yet seen taken: to
    // which voice, for which record, and the timeline writes from
    // which the voice has published what it did with it.
    struct Sent {
        std::weak_ptr<DeckVoice> voice;
        QUuid record;
        std::int64_t takenAt = 0;
        // A swap or take-over: the voice goes on playing through it.
        bool splice = false;
    };
    mutable std::optional<Sent> sent_;
    // The record whose buffer the voice took, and that voice.
    mutable std::optional<QUuid> taken_;
    mutable std::weak_ptr<DeckVoice> takenBy_;
    // A reload at a new engine's rate is queued and has not started yet.
    bool reloadDue_ = false;
    // The newest load is the deck's own reload.
    bool reloadLoad_ = false;
    // Play was pressed while the deck's own reload was due or decoding (its
    // voice holding nothing): the deck plays once the reload lands.
    bool playOnLanding_ = false;
    // The record the newest load decodes, and what it calls once landed.
    std::optional<TrackRecord> pendingRecord_;
    std::shared_ptr<LoadDone> pendingDone_;
    // The timeline writes from which the attached voice has rendered.
    std::int64_t renderedFrom_ = 0;
    mutable Reading lastReading_;

    // Every load, install and take-over takes a new generation; a decode that
    // lands under an older one has been superseded and installs nothing.
    std::uint64_t generation_ = 0;
};

} // namespace zelvo
