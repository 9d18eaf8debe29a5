#pragma once
// The stage, the program's default screen: the status bar, a lane per deck,
// the middle row (the two deck panels around the mixer card, the model's
// machine strip) and the browser. Browsing gives the middle row's space to
// the browser; with four decks the lanes the controller does not drive fold.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QWidget>

#include <map>
#include <memory>

class QVBoxLayout;

namespace zelvo {

class AppModel;
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
    QWidget* middleRow() const { return middle_; }
    StageBrowser* browser() const { return browser_; }
    ControlEchoView* echo() const { return echo_; }
    QWidget* lanesBlock() const { return lanesBlock_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutLanes();
    void rebuildMiddle();
    void browsingChanged();

    AppModel& model_;
    StageSides& sides_;
    kit::UiEnv env_;
    std::unique_ptr<kit::WaveScene> scene_;
    QVBoxLayout* column_ = nullptr;
    QWidget* lanesBlock_ = nullptr;
    QVBoxLayout* lanesLayout_ = nullptr;
    std::map<int, DeckLane*> lanes_;
    QWidget* middle_ = nullptr;
    StatusBar* status_ = nullptr;
    StageBrowser* browser_ = nullptr;
    ControlEchoView* echo_ = nullptr;
    OutpaintModel* outpaint_ = nullptr;
};

} // namespace stage
} // namespace zelvo
