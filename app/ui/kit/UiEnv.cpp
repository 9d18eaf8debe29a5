#include "ui/kit/UiEnv.h"

#include "ui/kit/DisplayClock.h"
#include "ui/kit/LiveClock.h"

#include <QDesktopServices>
#include <algorithm>
#include <cmath>

namespace zelvo::kit {

FaceScaleSource::FaceScaleSource(double scale, QObject* parent)
    : QObject(parent), value_(std::isfinite(scale) && scale > 0 ? scale : 1.0)
{
}

void FaceScaleSource::setValue(double scale)
{
    if (!std::isfinite(scale) || scale <= 0 || scale == value_)
        return;
    value_ = scale;
    emit changed(scale);
}

bool SystemDesktopServices::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

double UiEnv::scale() const { return faceScale ? faceScale->value() : 1.0; }

UiEnv UiEnv::withScale(FaceScaleSource* source) const
{
    UiEnv copy = *this;
    copy.faceScale = source;
    return copy;
}

double faceScaleForWindow(QSizeF size)
{
    const double s = std::min(size.width() / 1600.0, size.height() / 1080.0);
    return std::isfinite(s) && s > 0 ? s : 1.0;
}

double snapshotFaceScale(double designWidth)
{
    const double s = designWidth / 1600.0;
    return std::isfinite(s) && s > 0 ? std::min(s, 1.0) : 1.0;
}

UiRuntime::UiRuntime(Scheduler& scheduler, DesktopServices& desktop, bool snapshotMode, double faceScale,
                     DisplayClock* clock)
    : scheduler_(scheduler), desktop_(desktop), snapshot_(snapshotMode),
      scale_(std::make_unique<FaceScaleSource>(faceScale)), unit_(std::make_unique<FaceScaleSource>(1.0)),
      live_(std::make_unique<LiveClock>(scheduler, clock ? *clock : DisplayClock::shared()))
{
}

UiRuntime::~UiRuntime() = default;

UiEnv UiRuntime::env() const
{
    return UiEnv{snapshot_, scale_.get(), &scheduler_, live_.get(), &desktop_};
}

} // namespace zelvo::kit
