#pragma once
// The stage's deck lane: a three-band waveform scrolling past a playhead at
// 36 % of the width, with phrase blocks, beat and bar ticks, a beat flash, the
// loop, the pending fork's window and seam, a take's seam, the extension wait,
// the cue and lettered hot cues. One shared 60 Hz ticker steps every shown
// lane; a lane draws only while something on it moves. Main thread.
#include "ui/kit/waves/WaveScene.h"
#include "ui/kit/waves/WaveTiles.h"

#include <QWidget>
#include <cstdint>
#include <limits>
#include <set>

namespace zelvo {
class Scheduler;
}

namespace zelvo::kit {

class Canvas;
struct UiEnv;

// What a lane keeps between frames.
struct LaneState {
    double flash = 0;
    std::int64_t lastBeat = std::numeric_limits<std::int64_t>::min();
    double lastFrame = 0;
    double zoom = 1.0;
    bool needsStill = true;
};

// A pending fork as drawn on one lane, in that deck's track seconds.
struct ForkSpan {
    double contextStart = 0;
    double seam = 0;
};

namespace WaveLaneMath {
// The seconds the lane spans at a drawn zoom.
inline double spanSeconds(double zoom) { return 10.0 / zoom; }
double targetZoom(double waveformZoom, bool jogTouched);
// One easing step; dt is capped at 0.1 s.
double eased(double zoom, double target, double dt);
// Flash after `dt` seconds of decay.
double decayed(double flash, double dt);
// The strength of a new beat's flash: from the low band under the playhead
// when heard, else the quiet strength; the base strength without points.
double flashStrength(const WaveformData& data, double position, bool audible);
// Whether a step asks for a frame.
bool wantsFrame(const WaveDeck& deck, const LaneState& state, double target, bool forkPending);
// Where a pending fork shows on a deck's lane: `partRule` is the lane's own
// rule (which deck shows forks, which extensions); the deck must also hold the
// record the plan is timed in. A fork of the mix shows only on its anchor's
// deck, mapped from the take's seconds onto that record.
std::optional<ForkSpan> forkOnLane(const std::optional<PendingFork>& pending, const WaveDeck& deck, bool partRule);
// The text of a lane without a loaded record, before upper-casing; empty
// for a deck that holds a record and is not loading (it is not empty).
QString emptyText(const WaveDeck& deck);
} // namespace WaveLaneMath

// Everything one lane frame reads besides the deck.
struct LaneFrame {
    QRectF rect;
    bool thin = false;
    bool audible = false;
    std::array<bool, 3> partsOff{false, false, false};
    double scale = 2;
    double now = 0; // seconds, for pulses and crawls
    double dt = 0;
    std::optional<ForkSpan> fork;
    bool extensionWaiting = false;
};

// Draws one lane (not the playhead) and advances the flash.
void drawLane(Canvas& canvas, WaveTiles& tiles, LaneState& state, const WaveDeck& deck, const LaneFrame& frame);
// The playhead, drawn last.
void drawPlayhead(Canvas& canvas, const QRectF& bounds, bool jogTouched);

class WaveLaneView;

// Steps every shown lane 60 times a second on the platform scheduler; runs
// only while a lane is shown.
class WaveTicker {
public:
    static WaveTicker& shared(Scheduler& scheduler);
    void add(WaveLaneView* lane);
    void remove(WaveLaneView* lane);
    bool running() const { return timer_ != 0; }
    // Steps every lane once (the timer's work; tests call it directly).
    void tick();

private:
    explicit WaveTicker(Scheduler& scheduler) : scheduler_(scheduler) {}
    Scheduler& scheduler_;
    std::set<WaveLaneView*> lanes_;
    std::uint64_t timer_ = 0;
};

class WaveLaneView final : public QWidget {
    Q_OBJECT
public:
    WaveLaneView(WaveScene& scene, const UiEnv& env, double cornerRadius = 0, QWidget* parent = nullptr);
    ~WaveLaneView() override;

    // Shows deck `index`; a change asks for one still frame.
    void setDeck(int index, bool thin);
    int deckIndex() const { return deckIndex_; }
    bool thin() const { return thin_; }
    // Decides whether this refresh draws; true when it asked for a repaint.
    bool step();
    // Draws a frame into `canvas` at `size` (what a paint does).
    void drawFrame(Canvas& canvas, QSizeF size, double scale);
    const LaneState& state() const { return state_; }
    const WaveTiles& tiles() const { return tiles_; }
    int frames() const { return frames_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    WaveScene& scene_;
    Scheduler* scheduler_;
    double radius_;
    int deckIndex_ = 0;
    bool thin_ = false;
    WaveTiles tiles_;
    LaneState state_;
    int frames_ = 0;
};

} // namespace zelvo::kit
