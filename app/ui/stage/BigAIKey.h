#pragma once
// The one large key that drives the model from the stage: it shows the step
// the application core is on (install, wake, fork, drop, steer, ...) with its
// icon, title and caption, fills with the download's or the render's progress,
// pulses on the beat while a drop waits, and forwards a tap to
// `AppModel::aiPrimary` and a Shift-tap or a 0.6 s hold to `aiSecondary`.
//
// The key draws at 30 frames a second only in its animated steps (and while
// its fill eases); otherwise it re-reads its face on model changes and on the
// state root's tick, and repaints only when the face changed.
//
// The pulse border's double image reaches past the key: the nearest
// `GhostHost` above paints that part.
//
// Main thread only.
#include "state/AppLinks.h"
#include "platform/Scheduler.h"
#include "ui/kit/FaceWidget.h"
#include "ui/kit/LiveCanvas.h"
#include "ui/stage/Ghosts.h"

#include <QString>

#include <optional>

namespace zelvo {

class AppModel;

namespace stage {

class BigAIKey final : public kit::FaceWidget {
    Q_OBJECT
public:
    // Seconds a press must last to count as a hold, and the travel that ends it.
    static constexpr double kHoldSeconds = 0.6;
    static constexpr double kHoldTravel = 10;

    BigAIKey(AppModel& model, kit::UiEnv env, bool compact, QWidget* parent = nullptr);
    ~BigAIKey() override;

    QSizeF designSize() const override;
    bool hitTest(QPointF designPoint) const override;
    void paintFace(kit::Canvas& canvas) override;
    // Re-reads the face and repaints when it differs from the one drawn.
    void refresh() override;

    bool pressed() const { return pressed_; }
    bool animating() const;
    // The fill's share of the key's width as drawn now; none without a fill.
    std::optional<double> shownFill() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Face {
        AIStep step = AIStep::waking;
        QString title;
        QString detail;
        double progress = 0;
        friend bool operator==(const Face&, const Face&) = default;
    };
    Face readFace() const;
    // Takes a new face: restarts the fill's ease when its target moved.
    void take(const Face& face);
    double now() const;
    double clockTime() const;
    bool easing() const;
    void endPress();
    void held();

    AppModel& model_;
    bool compact_;
    kit::LiveTimeline timeline_;
    std::optional<Face> face_;
    // A ghost host above paints the pulse's copies outside the key.
    bool hosted_ = false;
    // The fill eases from `fillFrom_` to the face's progress from `fillSince_`.
    double fillFrom_ = 0;
    double fillSince_ = -1e9;
    bool pressed_ = false;
    QPointF pressAt_;
    Scheduler::TimerId holdTimer_ = 0;
};

} // namespace stage
} // namespace zelvo
