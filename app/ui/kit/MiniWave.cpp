#include "ui/kit/MiniWave.h"

#include "ui/kit/Canvas.h"
#include "ui/kit/Palette.h"

#include <algorithm>
#include <cmath>

namespace zelvo::kit {

MiniWaveBars miniWaveBars(const WaveformData* waveform, double width, double height)
{
    MiniWaveBars bars;
    if (!waveform || !(width > 0) || !std::isfinite(width) || !std::isfinite(height))
        return bars;
    const std::size_t count = std::min({waveform->low.size(), waveform->mid.size(), waveform->high.size()});
    if (count < 2)
        return bars;
    const double m = height / 2;
    const double step = std::max(double(count) / width, 1.0);
    const auto columns = std::size_t(std::ceil(std::min(width, double(count))));
    bars.peaks.reserve(columns);
    bars.cores.reserve(columns);
    double p = 0;
    for (double x = 0; x < width; x += 1, p += step) {
        const auto i = std::size_t(p);
        if (i >= count)
            break;
        const double l = waveform->low[i] / 255.0;
        const double d = waveform->mid[i] / 255.0;
        const double t = waveform->high[i] / 255.0;
        const double a = std::max({l, d, t});
        bars.peaks.emplace_back(x, m - m * a, 1.0, std::max(2 * m * a, 0.6));
        bars.cores.emplace_back(x, m - 0.6 * m * l, 1.0, std::max(1.2 * m * l, 0.6));
    }
    return bars;
}

double miniWaveOpacity(bool hasWaveform)
{
    return hasWaveform ? 1.0 : 0.25;
}

QColor miniWavePeakColour()
{
    return withAlpha(Palette::bone(), 0.55);
}

QColor miniWaveCoreColour()
{
    return withAlpha(Palette::bone(), 0.9);
}

void paintMiniWave(Canvas& canvas, QPointF origin, const MiniWaveBars& bars, double opacity)
{
    if (bars.peaks.empty())
        return;
    canvas.save();
    canvas.translate(origin);
    canvas.fillRects(bars.peaks, withAlpha(Palette::bone(), 0.55 * opacity));
    canvas.fillRects(bars.cores, withAlpha(Palette::bone(), 0.9 * opacity));
    canvas.restore();
}

MiniWave::MiniWave(const UiEnv& env, QSizeF size, QWidget* parent) : FaceWidget(env, parent), size_(size)
{
    setAttribute(Qt::WA_TranslucentBackground);
    resizeToDesign();
}

void MiniWave::setWaveform(std::shared_ptr<const WaveformData> waveform)
{
    if (waveform_ == waveform)
        return;
    waveform_ = std::move(waveform);
    barsFresh_ = false;
    update();
}

void MiniWave::paintFace(Canvas& canvas)
{
    if (!barsFresh_) {
        bars_ = miniWaveBars(waveform_.get(), size_.width(), size_.height());
        barsFresh_ = true;
    }
    paintMiniWave(canvas, {}, bars_);
}

} // namespace zelvo::kit
