#pragma once
// A level meter's live timeline. It draws while what the meter reads can move
// (a deck plays) and, after that, until the meter has drawn a dark frame and
// stood dark for a moment; then it rests. So a stop never leaves the last lit
// frame standing over silence, and a dark, idle meter draws nothing.
// At rest the timeline still reads the meter's level at its rest rate, without
// drawing, and draws again at its own rate as soon as the level lights a
// segment: an echo's repeats after a stop come with no deck change. A rest rate
// of 0 reads nothing at rest on the clock; `follow` and `look`, called from a
// beat the program runs anyway, wake the meter then. Main thread.
#include "ui/kit/LiveCanvas.h"

#include <functional>
#include <optional>

namespace zelvo::kit {

class MeterTimeline final : public LiveTimeline {
    Q_OBJECT
public:
    // `moving`: whether what the meter reads can change (its deck plays);
    // `lit`: whether the meter, drawn now, lights anything (reads its levels once).
    MeterTimeline(QWidget* meter, LiveClock* clock, double fps, std::function<bool()> moving,
                  std::function<bool()> lit, double restFps = 0);

    // Re-checks after a start or stop: draws while moving or lit; a meter found
    // dark with nothing moving draws that once and rests.
    void follow();
    // At rest, reads the level once and wakes the meter when it lights a
    // segment; does nothing while the meter draws.
    void look();
    // The rate while the meter draws; at rest it reads at the lower of this and
    // the rest rate.
    void setDrawFps(double fps);
    double drawFps() const { return drawFps_; }
    bool resting() const { return resting_; }

    // How long a meter stands dark, on the clock's frames, before it rests:
    // an echo's next repeat can follow a dark gap.
    static constexpr double kLinger = 0.5;

protected:
    void frame() override;

private:
    bool showing() const;
    void wake();
    void rest();

    std::function<bool()> moving_;
    std::function<bool()> lit_;
    double drawFps_;
    double restFps_;
    bool resting_ = false;
    std::optional<double> darkSince_;
};

} // namespace zelvo::kit
