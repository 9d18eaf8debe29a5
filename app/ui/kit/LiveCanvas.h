#pragma once
// Live redraw for widgets: a timeline repaints its widget on the shared clock's
// frames while the widget is shown; a live canvas is a drawn widget whose
// renderer gets the frame time. Main thread.
#include "ui/kit/FaceWidget.h"
#include "ui/kit/LiveClock.h"

#include <QObject>
#include <QPointer>
#include <cstdint>

namespace zelvo::kit {

// Repaints `owner` on every frame at `fps` while it is shown and a window can
// be seen. Frozen processes and paused displays keep the last frame.
class LiveTimeline : public QObject {
    Q_OBJECT
public:
    LiveTimeline(QWidget* owner, LiveClock* clock, double fps);
    ~LiveTimeline() override;

    // The frame time shown: seconds since 2001 at the frame instant; 0 at rate ≤ 0.
    double frameTime() const { return frameTime_; }
    double fps() const { return fps_; }
    void setFps(double fps);
    // Ticks only while `active` (a key that does not blink needs no frames).
    void setActive(bool active);
    bool active() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // One frame of the clock: repaints the owner.
    virtual void frame();
    QWidget* owner() const { return owner_; }

private:
    void start();
    void stop();

    QPointer<QWidget> owner_;
    LiveClock* clock_;
    double fps_;
    bool active_ = true;
    LiveClock::Id id_ = 0;
    double frameTime_ = 0;
};

class LiveCanvas : public FaceWidget {
    Q_OBJECT
public:
    using Renderer = std::function<void(Canvas&, QSizeF size, double frameTime)>;
    LiveCanvas(const UiEnv& env, QSizeF designSize, double fps, Renderer renderer, QWidget* parent = nullptr);

    QSizeF designSize() const override { return size_; }
    void setDesignSize(QSizeF size);
    // Repaints when `revision` differs from the last one; an equal one repaints nothing.
    void setRevision(std::uint64_t revision);
    std::uint64_t revision() const { return revision_; }
    double frameTime() const { return timeline_.frameTime(); }
    // Frames a second while shown; 0 draws only on a new revision.
    void setFps(double fps) { timeline_.setFps(fps); }
    double fps() const { return timeline_.fps(); }
    void paintFace(Canvas& canvas) override;

private:
    QSizeF size_;
    std::uint64_t revision_ = 0;
    Renderer renderer_;
    LiveTimeline timeline_;
};

} // namespace zelvo::kit
