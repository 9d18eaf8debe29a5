#pragma once
// The guided tour's state: which step shows, none while no tour shows. This
// build has no tour screens, so a first run starts no tour (it would take the
// keyboard with nothing on screen); the Help menu can still start one.
//
// Main thread only.
#include <QDateTime>
#include <QObject>
#include <optional>

namespace zelvo {

class Scheduler;
class UserDefaults;

class TourModel final : public QObject {
    Q_OBJECT
public:
    enum class Step { welcome, key, controller, lanes, crate, machine, mixer, flow, go };
    static constexpr const char* kSeenKey = "tour.seen.v1";

    // No step shows; changedAt is now. Both references outlive the model. Main thread.
    TourModel(UserDefaults& defaults, Scheduler& scheduler, QObject* parent = nullptr);

    const std::optional<Step>& step() const { return step_; }
    const QDateTime& changedAt() const { return changedAt_; }

    void start(Step at);
    void next();
    void back();
    // Hides the tour and remembers that it was seen.
    void finish();
    // Would start the tour on a first run; starts none in this build.
    void startIfFirstRun() {}

signals:
    void stepChanged();

private:
    void show(std::optional<Step> step);

    UserDefaults& defaults_;
    Scheduler& scheduler_;
    std::optional<Step> step_;
    QDateTime changedAt_;
};

} // namespace zelvo
