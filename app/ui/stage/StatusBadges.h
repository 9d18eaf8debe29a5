#pragma once
// The two status elements the stage's top bar and the faceplate's header
// strip share: the controller badge (which hardware is linked) and the model
// server's lamp with its "zelvo-0" label. Both draw in design points × the
// environment's scale, so the faceplate scales them and the stage shows them
// at 1.
//
// Main thread only.
#include "ui/kit/FaceWidget.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/kit/ThemeViews.h"
#include "ui/stage/Aberration.h"
#include "ui/stage/StatusPresenters.h"

namespace zelvo {

class AppModel;

class ControllerBadge final : public kit::FaceWidget {
    Q_OBJECT
public:
    ControllerBadge(AppModel& app, kit::UiEnv env, QWidget* parent = nullptr);

    const stage::BadgeFace& face() const { return face_; }
    QSizeF designSize() const override;
    void paintFace(kit::Canvas& canvas) override;
    void refresh() override;

private:
    AppModel& app_;
    stage::BadgeFace face_;
    kit::TextLine line_;
};

class BrainLamp final : public kit::FaceWidget {
    Q_OBJECT
public:
    BrainLamp(AppModel& app, kit::UiEnv env, QWidget* parent = nullptr);

    // Design points left of the lamp's disc, where its glow and red copy
    // fall: a layout counts its spacing from the disc.
    static constexpr double kGlowLead = 7;

    // Whether the lamp is lit in the frame shown now.
    bool lit() const;
    double frameTime() const { return timeline_.frameTime(); }
    // The lit lamp's double image as last painted.
    const stage::Aberration& aberration() const { return aberration_; }
    QSizeF designSize() const override;
    void paintFace(kit::Canvas& canvas) override;
    void refresh() override;

private:
    AppModel& app_;
    kit::TextLine line_;
    kit::LiveTimeline timeline_;
    stage::Aberration aberration_;
};

} // namespace zelvo
