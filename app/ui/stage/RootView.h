#pragma once
// The window's root view: the stage, or the classic faceplate while
// `AppModel::classicFaceplate` is on, scaled to fit the window at its design
// proportions and centred on the faceplate's backdrop. Switching screens
// leaves the models running underneath.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QWidget>

class QStackedLayout;

namespace zelvo {

class AppModel;
class Instrument;
class OutpaintModel;

namespace stage {
class StageSides;
class StageView;
} // namespace stage

class RootView final : public QWidget {
    Q_OBJECT
public:
    // `outpaint` (may be null): the generation workflow the wave lanes show.
    RootView(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr, OutpaintModel* outpaint = nullptr);
    ~RootView() override;

    // What the stage reads of the controller; the controller model feeds it.
    stage::StageSides& sides() const { return *sides_; }
    stage::StageView* stageView() const { return stage_; }
    Instrument* instrument() const { return instrument_; }
    // A layer over the whole content (the guided tour), kept on top when the
    // screens switch. Not owned beyond Qt's parenting.
    void setOverlay(QWidget* overlay);
    // The scale source fixed at 1 that stage widgets are built with.
    kit::FaceScaleSource* unitScale() const { return unitScale_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showScreen();
    void placeFaceplate();
    // Keeps the least height the stage asks for as the view's minimum, over
    // the floor the window was given.
    void followLeastHeight();

    AppModel& model_;
    kit::UiEnv env_;
    stage::StageSides* sides_ = nullptr;
    kit::FaceScaleSource* unitScale_ = nullptr;
    QStackedLayout* stack_ = nullptr;
    stage::StageView* stage_ = nullptr;
    QWidget* faceplate_ = nullptr;
    Instrument* instrument_ = nullptr;
    QWidget* overlay_ = nullptr;
    int floor_ = 0;  // the minimum height set from outside
    int raised_ = 0; // the minimum height set here last
};

} // namespace zelvo
