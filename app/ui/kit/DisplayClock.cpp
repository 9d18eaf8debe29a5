#include "ui/kit/DisplayClock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace zelvo::kit {

DisplayClock& DisplayClock::shared()
{
    static DisplayClock* clock = new DisplayClock(true);
    return *clock;
}

DisplayClock::DisplayClock(bool watchApplication, QObject* parent) : QObject(parent)
{
    if (watchApplication && QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

void DisplayClock::refresh()
{
    bool seen = false;
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (gui && gui->applicationState() != Qt::ApplicationHidden && gui->applicationState() != Qt::ApplicationSuspended) {
        for (QWindow* w : QGuiApplication::topLevelWindows()) {
            // Offscreen reports a minimised window as exposed: check the state too.
            if (w->isVisible() && !(w->windowStates() & Qt::WindowMinimized) && w->isExposed()) {
                seen = true;
                break;
            }
        }
    }
    setVisible(seen);
}

void DisplayClock::setVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    emit visibleChanged(visible);
}

bool DisplayClock::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::WindowStateChange:
    case QEvent::Expose:
    case QEvent::ApplicationStateChange:
        // The event arrives before the window has settled its new state:
        // recompute once the current events are handled.
        if (!refreshQueued_) {
            refreshQueued_ = true;
            QTimer::singleShot(0, this, [this] {
                refreshQueued_ = false;
                refresh();
            });
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zelvo::kit
