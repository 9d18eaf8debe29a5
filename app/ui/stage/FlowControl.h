#pragma once
// The machine strip's bottom row: the flow key (flow mode on or off, stored
// under "set.auto"), flow mode's status sentence and, while flow is on, the
// next queued record. Read again once a second and on model changes.
//
// Main thread only.
#include "ui/kit/FaceWidget.h"
#include "ui/stage/Ghosts.h"

#include <QWidget>

#include <cstdint>

namespace zelvo {

class AppModel;

namespace stage {

class TextLineView;

// The flow key: a capsule with a dot and "flow", paper and ghosted when on.
class FlowKey final : public kit::FaceWidget {
    Q_OBJECT
public:
    FlowKey(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
    QSizeF designSize() const override;
    bool hitTest(QPointF designPoint) const override;
    void paintFace(kit::Canvas& canvas) override;
    bool on() const { return on_; }
    void setOn(bool on);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QSizeF capsule() const;
    AppModel& model_;
    bool on_ = false;
    bool down_ = false;
    Ghosts ghosts_;
};

class FlowControl final : public QWidget {
    Q_OBJECT
public:
    FlowControl(AppModel& model, kit::UiEnv env, QWidget* parent = nullptr);
    ~FlowControl() override;
    void refresh();

private:
    AppModel& model_;
    kit::UiEnv env_;
    FlowKey* key_ = nullptr;
    TextLineView* line_ = nullptr;
    TextLineView* queue_ = nullptr;
    double lastRead_ = -1e300;
};

} // namespace stage
} // namespace zelvo
