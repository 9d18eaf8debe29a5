#pragma once
// The faceplate's two zoom keys beside the phase meter: "+" zooms the waveform
// views in by 1.5 up to 6, "−" out by 1.5 down to 0.3. The zoom lives in the
// state root; both screens' waveforms read it.
//
// Main thread only.
#include "ui/kit/FaceWidget.h"

namespace zelvo {

class AppModel;

namespace kit {
class HardKey;
}

namespace Zoom {
constexpr double kMost = 6.0;
constexpr double kLeast = 0.3;
constexpr double kStep = 1.5;
// The zoom after a press of "+" or "−". A zoom that is not a finite positive
// number (a bad value from elsewhere) counts as 1, so the keys always recover.
double in(double zoom);
double out(double zoom);
} // namespace Zoom

class ZoomKeys final : public kit::DesignBox {
    Q_OBJECT
public:
    static constexpr double kWidth = 44;
    static constexpr double kKeyHeight = 20;
    static constexpr double kSpacing = 3;
    static constexpr double kHeight = 2 * kKeyHeight + kSpacing;

    ZoomKeys(AppModel& model, const kit::UiEnv& env, QWidget* parent = nullptr);
    kit::HardKey* inKey() const { return in_; }
    kit::HardKey* outKey() const { return out_; }

private:
    kit::HardKey* in_;
    kit::HardKey* out_;
};

} // namespace zelvo
