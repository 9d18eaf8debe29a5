// kavri-zelvo: the application object, the state root, the window; the launch
// steps run from the event loop's first turn, and every way of quitting (the
// window, the menu, a snapshot, a state dump, SIGINT, SIGTERM, SIGHUP) ends in
// the state root's shutdown.
#include "shell/AppDelegate.h"
#include "state/AppModel.h"
#include "shell/StandardNeighbours.h"
#include "shell/ModelKeyNeighbours.h"
#include "shell/StatusNeighbours.h"
#include "platform/QuitSignals.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char** argv)
{
#if defined(__GLIBC__)
    // Track and take buffers run to tens of megabytes and are made and freed on
    // worker threads all set long (decodes, splices, every chain stretch). Above
    // a fixed threshold each one is mapped on its own and goes back to the
    // system when freed; with glibc's sliding threshold they land in per-thread
    // arenas, which keep what was freed, and the resident size grows with every
    // thread that ever held a take.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kavri-zelvo"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("kavri zelvo"));
    zelvo::applyDarkLook();
    // First, so a signal while the rest is built quits through the event loop too.
    const zelvo::QuitSignals signalQuit([] { QCoreApplication::quit(); });

    zelvo::QtScheduler scheduler;
    zelvo::UserDefaults defaults;
    zelvo::StandardNeighbours neighbours;
    zelvo::AppModel::Setup setup;
    setup.neighbours = &neighbours;
    zelvo::AppModel model(defaults, scheduler, QCoreApplication::arguments(), setup);
    model.setModelKeyLink(zelvo::makeModelKeyLink(neighbours));
    model.setStatusLink(zelvo::makeStatusLink(neighbours));
    std::optional<QByteArray> snapshotDelay;
    if (qEnvironmentVariableIsSet("KAVRI_SNAPSHOT_DELAY"))
        snapshotDelay = qgetenv("KAVRI_SNAPSHOT_DELAY");
    zelvo::AppDelegate delegate(model, scheduler, QCoreApplication::arguments(), snapshotDelay, nullptr, &neighbours);

    delegate.window().show();
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.launched(); });
    const int status = QApplication::exec();
    // A quit before the loop ran (none is expected) still shuts down.
    model.shutdown();
    return status;
}
