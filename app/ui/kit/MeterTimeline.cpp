#include "ui/kit/MeterTimeline.h"

#include <QWidget>

namespace zelvo::kit {

MeterTimeline::MeterTimeline(QWidget* meter, LiveClock* clock, double fps, std::function<bool()> moving,
                             std::function<bool()> lit)
    : LiveTimeline(meter, clock, fps), moving_(std::move(moving)), lit_(std::move(lit))
{
    follow();
}

void MeterTimeline::follow()
{
    if ((moving_ && moving_()) || (lit_ && lit_())) {
        darkSince_.reset();
        setActive(true);
        return;
    }
    // Already dark: the frame on screen may predate the fall, so one more shows it.
    if (active() && owner())
        owner()->update();
    darkSince_.reset();
    setActive(false);
}

void MeterTimeline::frame()
{
    if ((moving_ && moving_()) || (lit_ && lit_())) {
        darkSince_.reset();
        LiveTimeline::frame();
        return;
    }
    if (!darkSince_) {
        // The first dark frame is drawn; later ones would draw the same.
        darkSince_ = frameTime();
        LiveTimeline::frame();
        return;
    }
    if (frameTime() - *darkSince_ >= kLinger - 1e-9) {
        darkSince_.reset();
        setActive(false);
    }
}

} // namespace zelvo::kit
