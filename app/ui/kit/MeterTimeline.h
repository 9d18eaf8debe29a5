#pragma once
// A level meter's live timeline. It runs while what the meter reads can move
// (a deck plays) and, after that, until the meter has drawn a dark frame and
// stood dark for a moment; then it pauses. So a stop never leaves the last lit
// frame standing over silence, and a dark, idle meter costs no frames. Main
// thread.
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
                  std::function<bool()> lit);

    // Re-checks after a start or stop: runs while moving or lit; a meter found
    // dark with nothing moving draws that once and pauses.
    void follow();

    // How long a meter stands dark, on the clock's frames, before it pauses:
    // an echo's next repeat can follow a dark gap.
    static constexpr double kLinger = 0.5;

protected:
    void frame() override;

private:
    std::function<bool()> moving_;
    std::function<bool()> lit_;
    std::optional<double> darkSince_;
};

} // namespace zelvo::kit
