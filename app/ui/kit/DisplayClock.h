#pragma once
// Whether any window of the program can be seen. Live views stand still while
// none can. Main thread.
#include <QObject>

namespace zelvo::kit {

class DisplayClock : public QObject {
    Q_OBJECT
public:
    // The process's instance; installs its application event filter on first use.
    static DisplayClock& shared();

    // A clock that does not watch the application (tests drive it by hand).
    explicit DisplayClock(bool watchApplication = false, QObject* parent = nullptr);

    bool visible() const { return visible_; }
    // Recomputes `visible` from the top-level windows: seen when one is visible,
    // not minimised and exposed, and the application is not hidden. Notifies
    // only on a change. X11 reports no occlusion, so a covered window counts as seen.
    void refresh();
    // Sets the value directly (a stand-in for the window system in tests).
    void setVisible(bool visible);

signals:
    void visibleChanged(bool visible);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool visible_ = true;
    bool refreshQueued_ = false;
};

} // namespace zelvo::kit
