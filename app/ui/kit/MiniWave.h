#pragma once
// A record's waveform in miniature, for browser rows: per pixel column a
// centred peak bar of the loudest band and a brighter core that follows the
// low band alone. Drawn at whatever size the row gives it; dimmed while the
// record has no waveform.
//
// Main thread only.
#include "library/WaveformData.h"
#include "ui/kit/FaceWidget.h"

#include <QColor>
#include <QRectF>
#include <memory>
#include <vector>

namespace zelvo::kit {

class Canvas;

// The bars of a miniature waveform `width` × `height` points, in its own
// coordinates: one peak and one core bar per column while points remain.
// Nothing for no waveform, fewer than 2 points or no width. Bands of unequal
// length are read up to the shortest, so no band is read past its end.
struct MiniWaveBars {
    std::vector<QRectF> peaks;
    std::vector<QRectF> cores;
};
MiniWaveBars miniWaveBars(const WaveformData* waveform, double width, double height);

// The opacity of the whole cell: 0.25 without a waveform, else 1.
double miniWaveOpacity(bool hasWaveform);
// Colours of the peak outline and of the low core.
QColor miniWavePeakColour();
QColor miniWaveCoreColour();
// Draws `bars` at `origin` (two batches of aliased rectangles), their colours
// times `opacity`.
void paintMiniWave(Canvas& canvas, QPointF origin, const MiniWaveBars& bars, double opacity = 1.0);

class MiniWave final : public FaceWidget {
    Q_OBJECT
public:
    // `size` in design points (90 × 14 on the stage, 86 × 16 on the faceplate).
    MiniWave(const UiEnv& env, QSizeF size, QWidget* parent = nullptr);

    // The waveform shown; null shows the empty, dimmed cell. Generated takes set
    // `isAI`, which draws alike.
    void setWaveform(std::shared_ptr<const WaveformData> waveform);
    const std::shared_ptr<const WaveformData>& waveform() const { return waveform_; }
    void setIsAI(bool isAI) { isAI_ = isAI; }
    bool isAI() const { return isAI_; }

    QSizeF designSize() const override { return size_; }
    void paintFace(Canvas& canvas) override;

private:
    QSizeF size_;
    std::shared_ptr<const WaveformData> waveform_;
    bool isAI_ = false;
    MiniWaveBars bars_;
    bool barsFresh_ = false;
};

} // namespace zelvo::kit
