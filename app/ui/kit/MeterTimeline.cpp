#include "ui/kit/MeterTimeline.h"

#include <QWidget>

#include <algorithm>

namespace zelvo::kit {

MeterTimeline::MeterTimeline(QWidget* meter, LiveClock* clock, double fps, std::function<bool()> moving,
                             std::function<bool()> lit, double restFps)
    : LiveTimeline(meter, clock, fps), moving_(std::move(moving)), lit_(std::move(lit)), drawFps_(fps),
      restFps_(restFps > 0 ? restFps : 0)
{
    follow();
}

bool MeterTimeline::showing() const { return (moving_ && moving_()) || (lit_ && lit_()); }

void MeterTimeline::setDrawFps(double fps)
{
    drawFps_ = fps;
    if (!resting_)
        setFps(fps);
    else if (restFps_ > 0)
        setFps(std::min(restFps_, fps));
}

void MeterTimeline::follow()
{
    if (showing()) {
        wake();
        return;
    }
    // Already dark: the frame on screen may predate the fall, so one more shows it.
    if (!resting_ && active() && owner())
        owner()->update();
    rest();
}

void MeterTimeline::look()
{
    if (resting_ && showing())
        wake();
}

void MeterTimeline::wake()
{
    darkSince_.reset();
    resting_ = false;
    setFps(drawFps_);
    setActive(true);
}

void MeterTimeline::rest()
{
    darkSince_.reset();
    resting_ = true;
    if (restFps_ > 0) {
        setFps(std::min(restFps_, drawFps_));
        setActive(true);
    } else {
        setActive(false);
    }
}

void MeterTimeline::frame()
{
    if (showing()) {
        // At rest only a reading that lights something draws, and wakes the meter.
        if (resting_)
            wake();
        darkSince_.reset();
        LiveTimeline::frame();
        return;
    }
    if (resting_)
        return;
    if (!darkSince_) {
        // The first dark frame is drawn; later ones would draw the same.
        darkSince_ = frameTime();
        LiveTimeline::frame();
        return;
    }
    if (frameTime() - *darkSince_ >= kLinger - 1e-9)
        rest();
}

} // namespace zelvo::kit
