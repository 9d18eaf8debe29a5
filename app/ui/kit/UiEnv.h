#pragma once
// What every screen widget is built with: whether the tree is a one-off still
// render, the faceplate's scale, the scheduler (both clocks and timers), the
// shared live clock and the desktop services. Main thread.
#include "state/DesktopServices.h"

#include <QObject>
#include <QSizeF>
#include <QUrl>
#include <memory>

namespace zelvo {
class Scheduler;
}

namespace zelvo::kit {

class LiveClock;
class DisplayClock;

// The factor by which the drawn faceplate (designed on 1600 × 1080 points) is
// scaled into the window. Notifies only when the value changes.
class FaceScaleSource : public QObject {
    Q_OBJECT
public:
    explicit FaceScaleSource(double scale = 1.0, QObject* parent = nullptr);
    double value() const { return value_; }
    // Non-finite or non-positive scales are ignored.
    void setValue(double scale);

signals:
    void changed(double scale);

private:
    double value_;
};

// Opening places outside the program: the state root's interface.
using zelvo::DesktopServices;
using zelvo::folderUrlOf;

// QDesktopServices behind the interface.
class SystemDesktopServices final : public DesktopServices {
public:
    bool openUrl(const QUrl& url) override;
    // Asks the session's file manager over D-Bus to show the file selected and
    // returns at once; when none answers, the folder opens instead.
    void revealFile(const QString& path) override;
};

struct UiEnv {
    // The view tree is rendered once, off screen, into an image: interactive
    // widgets draw static look-alikes and accept no drops.
    bool snapshotMode = false;
    // Never null in a built environment; the stage passes a source fixed at 1.
    FaceScaleSource* faceScale = nullptr;
    Scheduler* scheduler = nullptr;
    LiveClock* liveClock = nullptr;
    DesktopServices* desktop = nullptr;

    double scale() const;
    // The same environment with another scale source (the stage passes scale 1).
    UiEnv withScale(FaceScaleSource* source) const;
};

// The faceplate's scale in a window of `size`: the smaller of width / 1600 and
// height / 1080 (the design canvas fits the window).
double faceScaleForWindow(QSizeF size);
// The scale of a still render `designWidth` points wide: width / 1600, at most 1.
double snapshotFaceScale(double designWidth);

// Owns what a UiEnv points at, for the program and for tests and the gallery.
// It must outlive every widget built with its environment.
class UiRuntime {
public:
    // `scheduler` and `desktop` must outlive the runtime. `clock` defaults to the
    // process's shared display clock.
    UiRuntime(Scheduler& scheduler, DesktopServices& desktop, bool snapshotMode = false,
              double faceScale = 1.0, DisplayClock* clock = nullptr);
    ~UiRuntime();

    UiEnv env() const;
    FaceScaleSource& faceScale() { return *scale_; }
    FaceScaleSource& unitScale() { return *unit_; }
    LiveClock& liveClock() { return *live_; }

private:
    Scheduler& scheduler_;
    DesktopServices& desktop_;
    bool snapshot_;
    std::unique_ptr<FaceScaleSource> scale_;
    std::unique_ptr<FaceScaleSource> unit_;
    std::unique_ptr<LiveClock> live_;
};

} // namespace zelvo::kit
