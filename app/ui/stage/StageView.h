#pragma once
// The stage, the program's default screen: the status bar, a lane per deck,
// the middle row (the two deck panels around the mixer card, the model's
// machine strip) and the browser. Browsing gives the middle row's space to
// the browser; with four decks the lanes the controller does not drive fold.
// Lanes grow and fold over 0.15 s when the controller's sides move; browsing
// fades the middle row out toward its bottom edge while the lanes and the
// browser take its space, over 0.2 s (still renders and frozen processes show
// the end at once).
//
// Main thread only.
#include "ui/kit/UiEnv.h"
#include "ui/stage/StageMotion.h"
#include "ui/stage/StagePresenters.h"

#include <QWidget>

#include <map>
#include <memory>

class QSpacerItem;
class QVBoxLayout;

namespace zelvo {

class AppModel;
class MachineStrip;
class OutpaintModel;
class StageBrowser;
class StatusBar;

namespace kit {
class WaveScene;
}

namespace stage {

class ControlEchoView;
class DeckLane;
class StageSides;

class StageView final : public QWidget {
    Q_OBJECT
public:
    // `outpaint` (may be null) is the generation workflow whose pending fork
    // the wave lanes draw.
    StageView(AppModel& model, StageSides& sides, kit::UiEnv env, QWidget* parent = nullptr,
              OutpaintModel* outpaint = nullptr);
    ~StageView() override;

    bool browsing() const;
    // The lane of deck `deck`, built or not shown; null before its first showing.
    DeckLane* lane(int deck) const;
    // The middle row shown or coming in; null while browsing (also while the
    // old row is still fading out).
    QWidget* middleRow() const;
    // The lane heights and the browser's minimum are still moving.
    bool moving() const { return laneMotion_.running() || middleMotion_.running(); }
    StageBrowser* browser() const { return browser_; }
    // The machine strip of the middle row on screen; null while browsing.
    MachineStrip* strip() const;
    // The least height the four-deck stage shows whole in (0 otherwise): the
    // window's floor rises to it.
    int leastHeight() const { return leastHeight_; }
    ControlEchoView* echo() const { return echo_; }
    QWidget* lanesBlock() const { return lanesBlock_; }

signals:
    void leastHeightChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Lays the lanes out for the current state, moving them there over `seconds`.
    void layoutLanes(double seconds);
    // Fits the column to the height (see `fitStage`): the browser's floor,
    // whether it shows, the strip's form and the stage's least height.
    StageFit fitColumn();
    void applyFit(const StageFit& fit);
    void applyLanes(double eased);
    void applyMiddle(double eased);
    void rebuildMiddle();
    QWidget* buildMiddle();
    void browsingChanged();
    double motionTime(double seconds) const;

    AppModel& model_;
    StageSides& sides_;
    kit::UiEnv env_;
    std::unique_ptr<kit::WaveScene> scene_;
    QVBoxLayout* column_ = nullptr;
    // The empty space under the middle row while the browser is hidden.
    QSpacerItem* rest_ = nullptr;
    QWidget* lanesBlock_ = nullptr;
    QVBoxLayout* lanesLayout_ = nullptr;
    std::map<int, DeckLane*> lanes_;
    class SlideBox;
    SlideBox* middle_ = nullptr;
    SlideBox* leaving_ = nullptr;
    bool browsingShown_ = false;
    // Lane frame heights: where each moving lane starts, where it ends.
    std::map<int, double> from_, to_;
    double browserFrom_ = 150, browserTo_ = 150, browserShown_ = 150;
    Motion laneMotion_;
    Motion middleMotion_;
    StatusBar* status_ = nullptr;
    StageBrowser* browser_ = nullptr;
    ControlEchoView* echo_ = nullptr;
    OutpaintModel* outpaint_ = nullptr;
    int leastHeight_ = 0;
};

} // namespace stage
} // namespace zelvo
