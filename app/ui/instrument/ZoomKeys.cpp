#include "ui/instrument/ZoomKeys.h"

#include "state/AppModel.h"
#include "ui/kit/HardwareControls.h"

#include <algorithm>
#include <cmath>

namespace zelvo {

namespace Zoom {
namespace {
double usable(double zoom) { return std::isfinite(zoom) && zoom > 0 ? zoom : 1.0; }
} // namespace

double in(double zoom) { return std::min(usable(zoom) * kStep, kMost); }
double out(double zoom) { return std::max(usable(zoom) / kStep, kLeast); }
} // namespace Zoom

ZoomKeys::ZoomKeys(AppModel& model, const kit::UiEnv& env, QWidget* parent)
    : DesignBox(env, QSizeF(kWidth, kHeight), parent)
{
    setObjectName(QStringLiteral("instrument.zoom"));
    AppModel* app = &model;
    in_ = new kit::HardKey(env, QStringLiteral("+"), std::nullopt, false, false, kit::KeyStyle::key, kWidth,
                           kKeyHeight, false, [app] { app->setWaveformZoom(Zoom::in(app->waveformZoom())); },
                           [] {});
    out_ = new kit::HardKey(env, QStringLiteral("\u2212"), std::nullopt, false, false, kit::KeyStyle::key, kWidth,
                            kKeyHeight, false, [app] { app->setWaveformZoom(Zoom::out(app->waveformZoom())); },
                            [] {});
    in_->setObjectName(QStringLiteral("instrument.zoomIn"));
    out_->setObjectName(QStringLiteral("instrument.zoomOut"));
    place(in_, QRectF(0, 0, kWidth, kKeyHeight));
    place(out_, QRectF(0, kKeyHeight + kSpacing, kWidth, kKeyHeight));
}

} // namespace zelvo
