#pragma once
// The generation workflow's state: the settings, the phase of the render in
// flight, the learnt render speed, notices, the chain's back-off, a finished
// take waiting for deck 2 and a finished fork of the mix waiting for its drop;
// the render run that turns a planned window into a take; the list of takes of
// a source and their placement on deck 2.
//
// The workflow reaches the rest of the application only through `Links`, held
// weakly: every operation takes a strong reference first and does nothing
// when the application is gone.
//
// Main thread only. A render's heavy steps (context file, decoding and
// splicing, the take file) run on the thread pool; their results come back to
// the main thread before any field changes. `runID` is the only staleness
// guard: a run whose number is no longer current changes no field.
#include "generation/BrainClient.h"
#include "generation/BrainPaths.h"
#include "generation/ForkPlan.h"
#include "generation/ForkSettings.h"
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"
#include "library/WaveformData.h"
#include "models/DropWorkflow.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUuid>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zelvo {

class DeckModel;
class LibraryStore;
class LogSink;
class MixEngine;
class MixerModel;
class Scheduler;
class UserDefaults;

// What the workflow is doing; drives the progress ring and the busy test.
struct OutpaintPhase {
    enum class Kind { rendering, failed, idle, capturing, composing };

    Kind kind = Kind::idle;
    QString stage;         // rendering
    std::int64_t step = 0; // rendering
    std::int64_t total = 0;
    QString message;       // failed

    static OutpaintPhase rendering(QString stage, std::int64_t step, std::int64_t total)
    {
        return {Kind::rendering, std::move(stage), step, total, {}};
    }
    static OutpaintPhase failed(QString message) { return {Kind::failed, {}, 0, 0, std::move(message)}; }
    static OutpaintPhase idle() { return {}; }
    static OutpaintPhase capturing() { return {Kind::capturing, {}, 0, 0, {}}; }
    static OutpaintPhase composing() { return {Kind::composing, {}, 0, 0, {}}; }

    // Rendering, capturing and composing are busy; idle and failed are not.
    bool busy() const { return kind == Kind::rendering || kind == Kind::capturing || kind == Kind::composing; }
    // The progress ring's value, 0 to 1.
    double progress() const;

    friend bool operator==(const OutpaintPhase&, const OutpaintPhase&) = default;
};

class OutpaintModel final : public QObject, public DropWorkflow {
    Q_OBJECT

public:
    // What the workflow uses of the application. Filled by the state root (and
    // by tests); the model holds it weakly.
    struct Links {
        LogSink* log = nullptr;                   // the application log ("app: " lines)
        BrainPaths paths{QString()};              // the model server's folders
        const BrainClient* client = nullptr;      // the model server's client
        std::function<void(bool)> setRenderInFlight;
        LibraryStore* library = nullptr;
        std::array<DeckModel*, 4> decks{};        // index 0 is deck 1, 1 is deck 2
        MixerModel* mixer = nullptr;
        // The model name when the server lists it (or no report came yet), else nothing.
        std::function<std::optional<QString>(const QString& model)> installedModel;
        // The engine's published effective tempo ratio of a deck; nothing without an engine.
        std::function<std::optional<double>(int deck)> effectiveTempo;
        // The running engine (its master tap and published cells); null without one.
        std::function<MixEngine*()> engine;
        // Whether a deck (0…3) is heard in the mix right now.
        std::function<bool(int deck)> isAudible;
    };

    // The deck and record a fork of the mix was timed against.
    struct Anchor {
        int deck = 0;
        QUuid track;
        double trackTime = 0; // the record's time at the take's time 0
        double bpm = 0;       // the take's tempo
        friend bool operator==(const Anchor&, const Anchor&) = default;
    };
    // What a run needs of a fork of the mix; times are seconds of uptime.
    struct MixFork {
        double start = 0; // the take's time 0
        double seam = 0;
        std::optional<Anchor> anchor;
    };
    // A finished fork of the mix waiting for its drop.
    struct ReadyMix {
        TrackRecord record;
        TrackBufferRef buffer;
        std::shared_ptr<const WaveformData> waveform;
        double start = 0;
        std::optional<Anchor> anchor;
    };
    // The take whose ending the chain skips after the user cancelled a render.
    struct ChainSnooze {
        QUuid trackID;
        double duration = 0;
        friend bool operator==(const ChainSnooze&, const ChainSnooze&) = default;
    };
    // A context file the caller wrote, and where the generated audio starts on
    // the splice's timeline.
    struct RoomContext {
        QString path;
        double generatedOrigin = 0;
    };

    // The user-defaults key of the learnt render speed.
    static constexpr const char* renderRateKey = "fork.renderRate";
    // Seconds a notice stays up.
    static constexpr double kNoticeSeconds = 4.0;

    // Settings and render rate from the user defaults; everything else at its
    // initial value. Both objects must outlive the model. Main thread.
    OutpaintModel(UserDefaults& defaults, Scheduler& scheduler, QObject* parent = nullptr);
    ~OutpaintModel() override;

    // The application, held weakly; set once after construction. Main thread.
    void setApp(const std::shared_ptr<Links>& app) { app_ = app; }
    std::shared_ptr<Links> app() const { return app_.lock(); }

    // --- State. Main thread.
    const ForkSettings& settings() const { return settings_; }
    // Stores the settings on every assignment; notifies only on a change.
    void setSettings(const ForkSettings& settings);
    const OutpaintPhase& phase() const { return phase_; }
    double progress() const { return phase_.progress(); }
    bool busy() const { return phase_.busy(); }
    const std::optional<ForkPlan>& pendingPlan() const { return pendingPlan_; }
    bool pendingIsExtension() const { return pendingIsExtension_; }
    // What the pending plan is timed in: the record a fork, extension or
    // re-roll reads, or a fork of the mix (with its anchor when it has one).
    // Set and cleared with the plan.
    struct PendingSource {
        std::optional<QUuid> track;
        bool mix = false;
        std::optional<Anchor> anchor;
        friend bool operator==(const PendingSource&, const PendingSource&) = default;
    };
    const std::optional<PendingSource>& pendingSource() const { return pendingSource_; }
    std::optional<double> lastRenderSeconds() const { return lastRenderSeconds_; }
    const std::optional<QDateTime>& renderStarted() const { return renderStarted_; }
    std::optional<double> renderRate() const { return renderRate_; }
    const std::optional<ChainSnooze>& chainSnooze() const { return chainSnooze_; }
    std::int64_t stretchesWritten() const { return stretchesWritten_; }
    const std::optional<QString>& notice() const { return notice_; }
    const QDateTime& noticeUntil() const { return noticeUntil_; }
    // The notice and its expiry as other parts of the application set them;
    // notify only on a change.
    void setNotice(const std::optional<QString>& notice);
    void setNoticeUntil(const QDateTime& until);
    std::int64_t runID() const { return runID_; }
    std::int64_t chainFailures() const { return chainFailures_; }
    const QDateTime& chainHoldUntil() const { return chainHoldUntil_; }
    // A tap on the chain status sets the distant past.
    void setChainHoldUntil(const QDateTime& date);
    // Lifts the chain's snooze and any hold, so chaining resumes at once.
    void resumeChain();
    // True while a render task exists (running or not yet dropped).
    bool hasTask() const { return task_ != nullptr; }
    const std::optional<ReadyMix>& readyMix() const { return readyMix_; }
    const std::optional<TrackRecord>& bridging() const { return bridging_; }
    const std::optional<TrackRecord>& waitingTake() const { return waitingTake_; }
    const std::optional<QUuid>& bridgedFor() const { return bridgedFor_; }

    // The date every "until" field starts at.
    static QDateTime distantPast();

    // --- Takes. Main thread.

    // The takes of deck 2's source (else of deck 1's record), oldest first.
    std::vector<TrackRecord> takes() const;
    // Index of deck 2's take (a chain segment counts as its first take) in `takes`.
    std::optional<int> takeIndex() const;
    // Puts a take on deck 2, keeping the listener's place; `done` runs on the
    // main thread when the placement has ended (at once with a buffer, after
    // the load without one).
    void placeTake(const TrackRecord& take, const TrackBufferRef& buffer,
                   std::shared_ptr<const WaveformData> waveform, std::function<void()> done = {});

    // --- The render run. Main thread.

    // Starts a render of `plan` and returns at once; the run is kept in `task`.
    // Nothing happens when the application is gone.
    void run(const ForkPlan& plan, const TrackBufferRef& prefix, double prefixOffset, const TrackRecord& source,
             const ForkSettings& settings, const std::optional<TrackRecord>& extending, bool automatic,
             const std::optional<RoomContext>& roomContext, bool live, const std::optional<MixFork>& mix);

    // --- The user's actions. Main thread.

    // Forks what plays: the mix the room hears when `live` allows it, else
    // deck 1. A live fork throws away a render in flight; a flow-mode fork
    // (`live` false) does nothing while busy.
    void fork(bool live);
    // Continues the take on deck 2 from what the room heard, else from the take.
    void extend(bool automatic);
    // Renders deck 2's take again from its source with a new seed.
    void reroll();
    // Stops the render in flight.
    void cancel();
    // Stops the render in flight without a notice and without snoozing the
    // chain: the render gave way, nobody cancelled it.
    void callOff();
    // Puts the previous (−1) or next (+1) take of deck 2's source on deck 2.
    void stepTake(int delta);

    // --- The drop. Main thread.
    DropStatus dropStatus() const override;
    // Drops a ready fork of the mix, or arms (or disarms) the drop of the take
    // on deck 2 onto deck 1's timeline.
    void drop() override;
    // Puts the ready fork of the mix on deck 2 at the place that matches now.
    void dropMix();

    // --- The chain. Main thread.

    // One step of the periodic driver (20 times a second).
    void tick();
    // Seconds before a take's end at which the chain starts the next render.
    double chainLead(const TrackRecord& take) const;
    // "paused · tap", "retry Ns" or "always on".
    QString chainStatus() const;
    // Seconds until the chain renders; nothing when nothing would be chained.
    std::optional<double> chainCountdown() const;

signals:
    void settingsChanged();
    void phaseChanged();
    void pendingPlanChanged();
    void pendingIsExtensionChanged();
    void lastRenderSecondsChanged();
    void renderStartedChanged();
    void renderRateChanged();
    void chainSnoozeChanged();
    void stretchesWrittenChanged();
    void noticeChanged();
    void noticeUntilChanged();
    void runIDChanged();
    void chainFailuresChanged();
    void chainHoldUntilChanged();
    void taskChanged();
    void readyMixChanged();
    void bridgingChanged();
    void waitingTakeChanged();
    void bridgedForChanged();

private:
    class Run;
    friend class Run;

    // A written room capture and the plan it belongs to.
    struct RoomPlan {
        ForkPlan plan;
        RoomContext context;
    };

    // A fresh seed, 1…999999.
    static std::int64_t freshSeed();
    // Throws the render in flight away for a live fork.
    void supersede();
    std::shared_ptr<Links> stopRun();
    // Starts a render of the mix; false when the mix cannot be forked.
    bool forkMix();
    // Deck 1 when it brings a new record that the chain should bridge into.
    DeckModel* bridgeTarget() const;
    // Plans and writes a context of what the room heard for extending `record`.
    std::optional<RoomPlan> roomExtension(const TrackRecord& record, const TrackBufferRef& buffer,
                                          const ForkSettings& settings);
    void setBridging(const std::optional<TrackRecord>& record);
    void setBridgedFor(const std::optional<QUuid>& id);

    // The stored rate, when it is a finite number ≥ 0.
    std::optional<double> storedRenderRate() const;
    void setRenderRate(std::optional<double> rate);
    void setPhase(const OutpaintPhase& phase);
    void setPendingPlan(const std::optional<ForkPlan>& plan);
    void setPendingIsExtension(bool extension);
    void setLastRenderSeconds(std::optional<double> seconds);
    void setRenderStarted(const std::optional<QDateTime>& date);
    void setChainSnooze(const std::optional<ChainSnooze>& snooze);
    void setStretchesWritten(std::int64_t count);
    void setRunID(std::int64_t id);
    void setChainFailures(std::int64_t count);
    void setTask(std::shared_ptr<Run> task);
    void setReadyMix(std::optional<ReadyMix> ready);
    void setWaitingTake(const std::optional<TrackRecord>& take);
    // Shows `text` for kNoticeSeconds.
    void showNotice(const QString& text);
    void note(const QString& line) const;

    // The take's library record; reads the clock and, for a free file name,
    // the outpaints folder and the library.
    TrackRecord makeRecord(const TrackRecord& source, const std::optional<TrackRecord>& extending,
                           const ForkPlan& plan, const ForkSettings& settings, double duration, double elapsed,
                           LibraryStore& library, double segmentStart) const;

    UserDefaults& defaults_;
    Scheduler& scheduler_;

    ForkSettings settings_;
    OutpaintPhase phase_;
    std::optional<ForkPlan> pendingPlan_;
    std::optional<PendingSource> pendingSource_;
    bool pendingIsExtension_ = false;
    std::optional<double> lastRenderSeconds_;
    std::optional<QDateTime> renderStarted_;
    std::optional<double> renderRate_;
    std::optional<ChainSnooze> chainSnooze_;
    std::int64_t stretchesWritten_ = 0;
    std::optional<QString> notice_;
    QDateTime noticeUntil_;
    std::int64_t runID_ = 0;
    std::int64_t chainFailures_ = 0;
    QDateTime chainHoldUntil_;
    std::shared_ptr<Run> task_;
    std::weak_ptr<Links> app_;
    std::optional<ReadyMix> readyMix_;
    std::optional<TrackRecord> bridging_;
    std::optional<TrackRecord> waitingTake_;
    std::optional<QUuid> bridgedFor_;
};

} // namespace zelvo
