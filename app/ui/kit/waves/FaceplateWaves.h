#pragma once
// The classic faceplate's waveform read-outs: the stacked lanes on one glass
// panel around a centred playhead (with the pending fork's window), the
// whole-track overview that seeks where pressed, and the phase meter that
// lights each deck's beat in the bar. Drawn through the kit's canvas from the
// scene on every frame. Main thread.
#include "ui/kit/Displays.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/waves/WaveLane.h"
#include "ui/kit/waves/WaveScene.h"

#include <functional>
#include <vector>

namespace zelvo::kit {


namespace FaceWaves {
// Lane rectangles of the stacked panel: four with four decks, else two, 4 pt apart.
std::vector<QRectF> stackedLanes(QSizeF size, int lanes);
// The badge: deck number, bar.beat with a usable grid, MASTER.
QString badgeText(const WaveDeck& deck, int masterDeck);
// A pinch step: the zoom after magnification `m` since the gesture began.
double pinchZoom(double zoom, double m);
// The seconds an overview press at `x` of `width` seeks to; none without a
// voice, a duration or a width.
std::optional<double> overviewSeek(const WaveDeck& deck, double x, double width);
// Seconds since 2001 on the scheduler's wall clock (integer part in 64 bits).
double wallSeconds(const Scheduler* scheduler);

void drawForkWindow(Canvas& canvas, const ForkSpan& span, const std::function<double(double)>& x, const QRectF& rect,
                    double now);
void drawStackedLane(Canvas& canvas, const WaveDeck& deck, const QRectF& rect, double zoom,
                     const std::optional<ForkSpan>& fork, int masterDeck, double now);
void drawStacked(Canvas& canvas, const WaveScene& scene, QSizeF size, double now);
void drawOverview(Canvas& canvas, const WaveDeck& deck, QSizeF size, double now);
void drawPhaseMeter(Canvas& canvas, const WaveScene& scene, QSizeF size);
// The revision text of the stacked panel.
QString stackedRevision(const WaveScene& scene);
} // namespace FaceWaves

// The stacked lanes on a glass panel of radius 6, redrawn at 30 fps while any
// deck plays, else on a new revision. Pinch (or Ctrl+wheel) zooms every lane.
class StackedWaveforms final : public VFDGlass {
    Q_OBJECT
public:
    StackedWaveforms(WaveScene& scene, const UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);
    LiveCanvas* canvas() const { return canvas_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refreshRate();
    WaveScene& scene_;
    LiveCanvas* canvas_;
    double pinch_ = 1.0; // magnification since the gesture began
};

// One deck's whole track; seeks on press and drag.
class OverviewWaveform final : public LiveCanvas {
    Q_OBJECT
public:
    OverviewWaveform(WaveScene& scene, int deck, const UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void seekAt(QPointF widgetPoint);
    WaveScene& scene_;
    int deck_;
};

// A row of four segments per shown deck, the current beat lit.
class PhaseMeter final : public LiveCanvas {
    Q_OBJECT
public:
    PhaseMeter(WaveScene& scene, const UiEnv& env, QSizeF designSize, QWidget* parent = nullptr);

private:
    WaveScene& scene_;
};

} // namespace zelvo::kit
