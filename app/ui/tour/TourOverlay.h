#pragma once
// The tour over the whole window: while a step shows it dims the stage, cuts
// a rounded hole around the region the step is about (a breathing ring
// outlines it), and puts the step's card beside it, or the welcome hero in
// the middle. It takes every click that misses the card, the hole included;
// keys reach the tour through the keyboard map.
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/TourSpots.h"
#include "ui/tour/TourCopy.h"
#include "state/TourModel.h"

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QVariantAnimation;

namespace zelvo::tour {

class TourCard;
class TourHero;

// The region a step points at, none for welcome, key and go.
std::optional<TourSpot> spotFor(TourModel::Step step);

class TourOverlay final : public QWidget {
    Q_OBJECT
public:
    using Inputs = std::function<TourCopy::Inputs()>;

    // Covers `root` (its parent) and follows its size. `inputs` says what is
    // plugged in and the download size, read whenever a card is built.
    TourOverlay(TourModel& tour, kit::UiEnv env, Inputs inputs, QWidget* root);
    ~TourOverlay() override;

    // Makes the live widget of a step's card (none for most steps).
    using LiveFactory = std::function<QWidget*(TourModel::Step step)>;
    void setLiveFactory(LiveFactory factory);
    // Rebuilds the card or hero from fresh inputs (a controller came or went)
    // and looks for the step's region again.
    // Queued: one rebuild per event-loop turn, after the event that asked.
    void refresh();
    // The same at once (never from inside the card).
    void refreshNow();
    // The hole the dimmer shows now (empty when none) and the one it moves to.
    QRectF hole() const;
    QRectF targetHole() const { return target_; }
    bool ringShows() const { return real_; }
    QSizeF cardSize() const { return cardSize_; }
    QWidget* cardWidget() const { return layer_; }
    // The card or hero of the step before, while it fades out; null otherwise.
    QWidget* leavingWidget() const { return leaving_; }
    // The step change: the new card or hero fades in while it rises and the
    // old one fades out, 0…1 on a 0.25 s ease-out.
    double stepIn() const { return stepIn_; }
    // The dimmer's opacity now: 0.94 on the welcome step, 0.8 on the others,
    // eased between the two with the step change.
    double dimming() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void onStep();
    void rebuild();
    void dropLayer();
    void dropLeaving();
    void drawShadow(QPainter& p, const QWidget* card, double opacity);
    void findHole(bool jump);
    void placeLayer();
    void startStepIn();
    void applyStepIn(double progress);
    void stopStepIn();
    void springStep(double dt);
    void startClocks();
    void stopClocks();
    void onFrame();
    QRegion ringBand(const QRectF& hole) const;
    double now() const;

    TourModel& tour_;
    kit::UiEnv env_;
    Inputs inputs_;
    LiveFactory live_;
    QPointer<QWidget> root_;
    QWidget* layer_ = nullptr;
    // The previous step's layer while it fades out; it takes no clicks.
    QPointer<QWidget> leaving_;
    // The dimmer's opacity at the step change and the one it eases to.
    double dimFrom_ = 0.8;
    double dimTo_ = 0.8;
    QSizeF cardSize_{420, 280};
    // The hole: where it is, how fast it moves, where it goes (x, y, w, h).
    std::array<double, 4> at_{};
    std::array<double, 4> velocity_{};
    QRectF target_;
    // Where the spring takes the hole: the target, or the point a vanishing
    // hole closes into.
    QRectF goal_;
    bool real_ = false;
    bool moving_ = false;
    bool refreshQueued_ = false;
    double rise_ = 0;
    double stepIn_ = 1;
    // Eases the step change; its time is set from the live clock, so it moves
    // with the frames (and with a test's manual clock).
    QVariantAnimation* stepInCurve_ = nullptr;
    double stepInStarted_ = 0;
    std::uint64_t stepInTick_ = 0;
    std::uint64_t springTick_ = 0;
    std::uint64_t ringTick_ = 0;
    double lastSpring_ = 0;
    QRegion lastBand_;
    // The cards' shadows by card size (the leaving card's and the new one's).
    std::vector<std::pair<QSize, QImage>> shadows_;
};

// Puts the tour over `root`, the window's content. The overlay is the root's
// child and must stay its topmost one.
TourOverlay* welcomeTour(QWidget* root, TourModel& tour, kit::UiEnv env, TourOverlay::Inputs inputs);

} // namespace zelvo::tour
