#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a call on the main thread, so a
// terminal's Ctrl+C or a service manager's stop quits through the program's
// normal path. The handler only writes one byte into a pipe; a socket notifier
// on the main thread reads it and runs the callback.
//
// One object per process. Main thread.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace zelvo {

class QuitSignals final : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; `quit` runs on the main thread for each signal
    // received. Main thread.
    explicit QuitSignals(std::function<void()> quit, QObject* parent = nullptr);
    // Puts the default handlers back. Main thread.
    ~QuitSignals() override;

private:
    void received();

    std::function<void()> quit_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace zelvo
