#pragma once
// The self-updater's state. This build checks no feed: the updater stays idle
// and staging or swapping does nothing.
//
// Main thread only.
#include <QObject>
#include <QString>
#include <QUrl>

namespace zelvo {

class AppUpdate final : public QObject {
    Q_OBJECT
public:
    // idle: nothing to offer; manual: a newer version to download by hand;
    // ready: a verified update staged for the swap at quit.
    struct State {
        enum class Kind { idle, manual, ready };
        Kind kind = Kind::idle;
        QString version; // for manual and ready
        friend bool operator==(const State&, const State&) = default;
    };

    explicit AppUpdate(QObject* parent = nullptr) : QObject(parent) {}

    const State& state() const { return state_; }
    // The update image's address, for a manual download.
    const QUrl& download() const { return download_; }
    // Starts the script that swaps the staged update in once this process has
    // ended, relaunching it on request. Main thread.
    void swapAfterExit(bool relaunch) { (void)relaunch; }

signals:
    void stateChanged();

private:
    State state_;
    QUrl download_;
};

} // namespace zelvo
