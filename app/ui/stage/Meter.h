#pragma once
// The stage's level meter: one linear level drawn as a vertical capsule bar on
// a 48 dB scale. It holds no peak and applies no decay; the caller hands it the
// reading and decides how often to redraw.
//
// Main thread only (the face maths: any thread).
#include "ui/kit/FaceWidget.h"

#include <QColor>
#include <QSizeF>

namespace zelvo::stage {

// What the meter shows of a level (linear amplitude, 1.0 = full scale).
struct MeterFace {
    // 0 (−48 dBFS and below, silence, negative or not a number) … 1 (0 dBFS and above).
    double fill = 0;
    // `Stage.ghostRed` above 0.94, `Stage.signal` above 0.8, else `Stage.bone`.
    QColor colour;
};
MeterFace meterFace(double level);

// Draws the meter for `level` into a frame of `size` at the origin.
void paintMeter(kit::Canvas& canvas, QSizeF size, double level);

class Meter final : public kit::FaceWidget {
    Q_OBJECT
public:
    // A meter of `size` design points showing `level`.
    Meter(const kit::UiEnv& env, QSizeF size, double level = 0, QWidget* parent = nullptr);

    QSizeF designSize() const override { return size_; }
    void paintFace(kit::Canvas& canvas) override { paintMeter(canvas, size_, level_); }

    double level() const { return level_; }
    // Repaints only when the level differs from the one shown.
    void setLevel(double level);

private:
    QSizeF size_;
    double level_;
};

} // namespace zelvo::stage
