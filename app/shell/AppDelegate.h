#pragma once
// The application shell: the one window with its menus, the window dressing,
// the steps once launching has finished (dress, boot, snapshot) and the
// headless snapshots. Closing the last window quits; quitting runs the state
// root's shutdown once.
//
// Main thread only.
#include "ui/kit/UiEnv.h"

#include <QByteArray>
#include <QObject>
#include <QSizeF>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMainWindow;
class QWidget;

namespace zelvo {

class AppModel;
class Scheduler;
class StandardNeighbours;
class RootView;

// The application's look whatever the desktop's: Fusion style, dark palette.
// Main thread, after the application object exists.
void applyDarkLook();

class AppDelegate final : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 1200;
    static constexpr int kMinimumHeight = 810;
    static constexpr int kDefaultWidth = 1600;
    static constexpr int kDefaultHeight = 1080;
    // A window the stage snapshot draws must be taller than this.
    static constexpr int kSnapshotWindowHeight = 300;
    static constexpr const char* kDressedProperty = "kavri.dressed";

    // Builds the window ("kavri zelvo", RootView inside) and its menus, and
    // hooks the state root's shutdown to the application's quit. `arguments`
    // are the launch arguments; `snapshotDelay` the KAVRI_SNAPSHOT_DELAY value.
    // The model and scheduler outlive the delegate. `neighbours` (may be null)
    // hands the screens the concrete controller and generation models; they
    // too outlive the delegate. Main thread.
    AppDelegate(AppModel& model, Scheduler& scheduler, QStringList arguments,
                std::optional<QByteArray> snapshotDelay = std::nullopt, QObject* parent = nullptr,
                StandardNeighbours* neighbours = nullptr);
    ~AppDelegate() override;

    QMainWindow& window() const { return *window_; }
    // How the shell quits; default: the application's quit. Main thread.
    void setQuit(std::function<void()> quit) { quit_ = std::move(quit); }

    // Once launching has finished: the window dressing, the state root's boot,
    // then the snapshot when "--snapshot <path>" asks for one. Main thread.
    void launched();
    // Dresses every window there is now, and every one that becomes active
    // later and is not dressed yet. Main thread.
    void dressWindows();
    // Dresses one window: background, moving by its background, the forced
    // size. Main thread.
    void dress(QWidget& window);
    // Schedules the snapshot to `path` after the snapshot delay. Main thread.
    void snapshot(const QString& path);

    // The menu action with this object name ("menu.import", "menu.quit",
    // "menu.tour", "menu.guide", "menu.fork", "menu.extend", "menu.drop",
    // "menu.restart"); null when there is none. Main thread.
    QAction* action(const QString& name) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The guided tour over the window's content.
    void addTour(RootView& root, StandardNeighbours& neighbours);
    void buildMenus();
    void stageSnapshot(const QString& path);
    void faceplateSnapshot(const QString& path);
    void quit();

    AppModel& model_;
    Scheduler& scheduler_;
    // What the window's views are built with; outlives the window.
    kit::SystemDesktopServices desktop_;
    std::unique_ptr<kit::UiRuntime> ui_;
    const QStringList arguments_;
    const std::optional<QByteArray> snapshotDelay_;
    const std::optional<QSizeF> forcedSize_;
    QMainWindow* window_ = nullptr;
    std::function<void()> quit_;
    bool watching_ = false;
};

} // namespace zelvo
