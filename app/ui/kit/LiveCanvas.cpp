#include "ui/kit/LiveCanvas.h"

#include "ui/kit/DisplayClock.h"

#include <QEvent>

namespace zelvo::kit {

LiveTimeline::LiveTimeline(QWidget* owner, LiveClock* clock, double fps)
    : QObject(owner), owner_(owner), clock_(clock), fps_(fps)
{
    owner->installEventFilter(this);
    if (clock_)
        connect(&clock_->display(), &DisplayClock::visibleChanged, this, [this](bool visible) {
            // Showing the program again draws a fresh frame at once.
            if (visible && id_ && owner_) {
                frameTime_ = clock_->frameTimeNow(fps_);
                owner_->update();
            }
        });
    if (owner->isVisible())
        start();
}

LiveTimeline::~LiveTimeline() { stop(); }

void LiveTimeline::setFps(double fps)
{
    if (fps == fps_)
        return;
    fps_ = fps;
    if (id_) {
        stop();
        start();
    }
}

void LiveTimeline::setActive(bool active)
{
    if (active == active_)
        return;
    active_ = active;
    if (!active)
        stop();
    else if (owner_ && owner_->isVisible())
        start();
}

void LiveTimeline::start()
{
    if (id_ || !clock_ || !active_)
        return;
    frameTime_ = clock_->frameTimeNow(fps_);
    id_ = clock_->subscribe(fps_, [this](double t) {
        frameTime_ = t;
        frame();
    });
}

void LiveTimeline::frame()
{
    if (owner_)
        owner_->update();
}

void LiveTimeline::stop()
{
    if (id_ && clock_)
        clock_->unsubscribe(id_);
    id_ = 0;
}

bool LiveTimeline::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == owner_) {
        if (event->type() == QEvent::Show)
            start();
        else if (event->type() == QEvent::Hide)
            stop();
    }
    return QObject::eventFilter(watched, event);
}

LiveCanvas::LiveCanvas(const UiEnv& env, QSizeF designSize, double fps, Renderer renderer, QWidget* parent)
    : FaceWidget(env, parent), size_(designSize), renderer_(std::move(renderer)), timeline_(this, env.liveClock, fps)
{
    resizeToDesign();
}

void LiveCanvas::setDesignSize(QSizeF size)
{
    if (size == size_)
        return;
    size_ = size;
    resizeToDesign();
    update();
}

void LiveCanvas::setRevision(std::uint64_t revision)
{
    if (revision == revision_)
        return;
    revision_ = revision;
    update();
}

void LiveCanvas::paintFace(Canvas& canvas)
{
    if (renderer_)
        renderer_(canvas, size_, timeline_.fps() > 0 ? timeline_.frameTime() : 0.0);
}

} // namespace zelvo::kit
