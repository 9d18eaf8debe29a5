#pragma once
// What the waveform views read of the running application, as plain values:
// each deck's models and the cells its voice publishes, the zoom, the pending
// fork and the mixer. The application binds it to the state root; tests hand
// in a scene of their own. Main thread.
#include "generation/ForkPlan.h"
#include "library/BeatGrid.h"
#include "library/WaveformData.h"

#include <QObject>
#include <QString>
#include <QUuid>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace zelvo::kit {

// One deck as a frame sees it. The cells are re-read from the deck's voice on
// every frame, never observed.
struct WaveDeck {
    struct Cells {
        bool loaded = false;
        bool playing = false;
        double position = 0;
        double duration = 0;
        double cuePoint = 0;
        double loopStart = -1;
        double loopEnd = -1;
        bool loopActive = false;
        std::array<double, 8> hotCues{-1, -1, -1, -1, -1, -1, -1, -1};
    };
    int index = 0;
    bool isAI = false;
    bool loading = false;
    bool livePlaying = false; // the deck model's live snapshot
    bool jogTouched = false;
    std::optional<QUuid> track;
    std::optional<BeatGrid> grid;
    std::optional<double> seam; // a generated take's seam
    std::shared_ptr<const WaveformData> waveform;
    std::optional<Cells> voice; // none without a voice
    // The deck model's live snapshot as text; a change redraws resting views.
    QString live;
};

// The fork the generation workflow has planned and not yet finished.
struct PendingFork {
    // The deck and record a fork of the mix was timed against.
    struct Anchor {
        int deck = 0;
        QUuid track;
        double trackTime = 0; // the record's time at the take's time 0
        double bpm = 0;       // the take's tempo
    };
    ForkPlan plan;
    bool isExtension = false;
    // The record the plan is timed in; none for a fork of the mix.
    std::optional<QUuid> source;
    bool mix = false;
    std::optional<Anchor> anchor; // a fork of the mix only
};

class WaveScene {
public:
    virtual ~WaveScene() = default;
    virtual WaveDeck deck(int index) const = 0;
    // Four decks with the FLX10 layout, else two.
    virtual bool fourDecks() const = 0;
    virtual double waveformZoom() const = 0;
    virtual void setWaveformZoom(double zoom) = 0;
    virtual bool anyDeckPlaying() const = 0;
    virtual bool isAudible(int deck) const = 0;
    virtual std::array<bool, 3> partsOff(int deck) const = 0;
    // The engine's master deck; −1 without an engine.
    virtual int masterDeck() const = 0;
    virtual std::optional<PendingFork> pending() const = 0;
    // While the model's deck waits for an extension to land.
    virtual bool extensionWaiting() const = 0;
    // Sends a seek to the deck's voice; false without a voice or when dropped.
    virtual bool seek(int deck, double seconds) = 0;
    // Calls `changed` (in `context`) whenever an observed value changes: the
    // zoom, a deck's live snapshot, waveform or track, the pending plan, the
    // layout or a channel's switched-off parts.
    virtual void observe(QObject* context, std::function<void()> changed) = 0;
};

} // namespace zelvo::kit
