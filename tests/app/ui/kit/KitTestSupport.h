#pragma once
// Fixtures for the kit's widget tests: a manual scheduler, a display clock
// driven by hand, recorders for desktop services, and a generated adapter file.
#include "platform/Scheduler.h"
#include "ui/kit/DisplayClock.h"
#include "ui/kit/UiEnv.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>
#include <memory>

namespace zelvo::kit::test {

class RecordingDesktop final : public DesktopServices {
public:
    bool openUrl(const QUrl& url) override
    {
        opened << url;
        return true;
    }
    QList<QUrl> opened;
};

// Everything a widget needs, on a manual clock. The display starts visible.
struct KitRig {
    explicit KitRig(double scale = 1.0, bool snapshot = false);
    UiEnv env() const { return runtime->env(); }

    ManualScheduler scheduler;
    RecordingDesktop desktop;
    DisplayClock display;
    std::unique_ptr<UiRuntime> runtime;
};

// Writes a small LoRA adapter file (safetensors with rank, alpha and a .lora_A
// tensor) at `path`.
void writeAdapterFile(const QString& path);
// The colour at a point of an image, ignoring the device pixel ratio.
QColor pixelAt(const QImage& image, QPointF logical);
// Whether two colours agree within ±tolerance in every channel.
bool near(const QColor& a, const QColor& b, int tolerance = 2);

} // namespace zelvo::kit::test
