#pragma once
// Joins the four deck models and the mixer model to whatever engine is running:
// wires the decks' callbacks and library, re-attaches decks and re-binds the
// mixer when a new engine comes up, and runs the decks' share of the
// application's 0.05 s tick. The state root owns one; tests drive it without
// the application.
//
// Main thread only.
#include "library/TrackBuffer.h"
#include "library/TrackRecord.h"
#include "platform/Scheduler.h"

#include <QDateTime>
#include <array>
#include <functional>
#include <memory>

namespace zelvo {

class DeckModel;
class LibraryStore;
class MixEngine;
class MixerModel;

class EngineBinder {
public:
    static constexpr int kDecks = 4;
    // Engine rates further apart than this need the tracks decoded again.
    static constexpr double kReloadRateDifference = 0.5;

    // Main thread.
    EngineBinder(std::array<DeckModel*, kDecks> decks, MixerModel& mixer, Scheduler& scheduler);
    ~EngineBinder();
    EngineBinder(const EngineBinder&) = delete;
    EngineBinder& operator=(const EngineBinder&) = delete;

    // Gives every deck the library and its callbacks: a play or cue marks the
    // hands-on time, a new timeline on deck 1 or 2 clears the engine's drop
    // lock, and a finished load goes to `onLoaded` (may be empty). Main thread.
    void wireDecks(LibraryStore* library, std::function<void(const TrackRecord&, const TrackBufferRef&)> onLoaded);

    // The engine handler: pairs the decks with the new engine's voices
    // (reloading each deck's track when its buffer was decoded at a rate more
    // than 0.5 Hz from the engine's), binds the mixer to its cells and hands
    // it the direct-out mute. Main thread.
    void engineInstalled(MixEngine& engine);

    // The output stopped (its engine renders no more, and may be replaced):
    // the mixer keeps the requests that engine had not rendered. Main thread.
    void outputStopped();

    // The decks' part of the tick: for each deck in order, harvest its cues, then
    // refresh its live snapshot; then the requests carried over from a stopped
    // engine go to the running one once their decks are back on it (see
    // `handOverCarried`). Main thread.
    void tick();

    // When the user last put hands on a deck or the crossfader; far in the past
    // (never null) before the first touch. Main thread.
    const QDateTime& handsOnAt() const { return handsOnAt_; }
    // Marks the hands-on time as now. Main thread.
    void noteHandsOn();

    // Mute of the direct outputs; also stored into the running engine. Main thread.
    bool muteDirect() const { return muteDirect_; }
    void setMuteDirect(bool mute);

private:
    // An aligned start once both decks have settled on the new engine and the
    // deck to start holds its record again; a drop once deck 1 plays there
    // (the play-on put it back) and deck 2 has settled: asked sooner, the
    // engine would only cue deck 2 beside a deck 1 that stands.
    void handOverCarried();

    std::array<DeckModel*, kDecks> decks_;
    MixerModel& mixer_;
    Scheduler& scheduler_;
    QDateTime handsOnAt_;
    bool muteDirect_ = false;
    // Callbacks handed to the decks check this, so none reaches a binder that is gone.
    std::shared_ptr<EngineBinder*> self_;
};

} // namespace zelvo
