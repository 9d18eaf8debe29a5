#pragma once
// The guided tour's state: which step shows, none while no tour shows. It
// starts on a first run or from the command line ("--tour <step>"), and
// finishing or skipping it is remembered under "tour.seen.v1".
//
// QtCore only. Main thread only.
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <array>
#include <optional>

namespace zelvo {

class Scheduler;
class UserDefaults;

class TourModel final : public QObject {
    Q_OBJECT
public:
    enum class Step { welcome, key, controller, lanes, crate, machine, mixer, flow, go };
    static constexpr int kStepCount = 9;
    static constexpr const char* kSeenKey = "tour.seen.v1";

    // Every step in order, and the word "--tour" takes for each.
    static const std::array<Step, kStepCount>& allSteps();
    static QString name(Step step);
    // The step with raw value `raw`; none outside 0...8.
    static std::optional<Step> fromRaw(int raw);

    // No step shows; changedAt is now. `arguments` is the process's argument
    // list (program first). The references outlive the model. Main thread.
    TourModel(QStringList arguments, UserDefaults& defaults, Scheduler& scheduler, QObject* parent = nullptr);

    const std::optional<Step>& step() const { return step_; }
    const QDateTime& changedAt() const { return changedAt_; }
    bool seen() const;

    void start(Step at);
    void next();
    void back();
    // Hides the tour and remembers that it was seen, also when none showed.
    void finish();
    // Starts at the step "--tour" names (welcome when the name is missing or
    // unknown), whatever was seen; else, on a first run, at welcome unless
    // "--snapshot" or "--no-tour" is given.
    void startIfFirstRun();

signals:
    void stepChanged();

private:
    void show(Step step);

    QStringList arguments_;
    UserDefaults& defaults_;
    Scheduler& scheduler_;
    std::optional<Step> step_;
    QDateTime changedAt_;
};

} // namespace zelvo
