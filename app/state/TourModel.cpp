#include "state/TourModel.h"

#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

namespace zelvo {

const std::array<TourModel::Step, TourModel::kStepCount>& TourModel::allSteps()
{
    static const std::array<Step, kStepCount> steps{Step::welcome, Step::key,     Step::controller,
                                                    Step::lanes,   Step::crate,   Step::machine,
                                                    Step::mixer,   Step::flow,    Step::go};
    return steps;
}

QString TourModel::name(Step step)
{
    switch (step) {
    case Step::welcome: return QStringLiteral("welcome");
    case Step::key: return QStringLiteral("key");
    case Step::controller: return QStringLiteral("controller");
    case Step::lanes: return QStringLiteral("lanes");
    case Step::crate: return QStringLiteral("crate");
    case Step::machine: return QStringLiteral("machine");
    case Step::mixer: return QStringLiteral("mixer");
    case Step::flow: return QStringLiteral("flow");
    case Step::go: return QStringLiteral("go");
    }
    return {};
}

std::optional<TourModel::Step> TourModel::fromRaw(int raw)
{
    if (raw < 0 || raw >= kStepCount)
        return std::nullopt;
    return Step(raw);
}

TourModel::TourModel(QStringList arguments, UserDefaults& defaults, Scheduler& scheduler, QObject* parent)
    : QObject(parent), arguments_(std::move(arguments)), defaults_(defaults), scheduler_(scheduler),
      changedAt_(scheduler.now())
{
}

bool TourModel::seen() const
{
    return defaults_.boolean(QString::fromLatin1(kSeenKey)).value_or(false);
}

void TourModel::startIfFirstRun()
{
    const auto tour = arguments_.indexOf(QStringLiteral("--tour"));
    if (tour >= 0) {
        const QString wanted = tour + 1 < arguments_.size() ? arguments_.at(tour + 1) : QString();
        for (Step s : allSteps()) {
            if (name(s) == wanted) {
                start(s);
                return;
            }
        }
        start(Step::welcome);
        return;
    }
    if (seen() || arguments_.contains(QStringLiteral("--snapshot")) || arguments_.contains(QStringLiteral("--no-tour")))
        return;
    start(Step::welcome);
}

void TourModel::start(Step at)
{
    show(at);
}

void TourModel::next()
{
    if (!step_)
        return;
    if (*step_ == Step::go) {
        finish();
        return;
    }
    show(Step(int(*step_) + 1));
}

void TourModel::back()
{
    if (!step_ || *step_ == Step::welcome)
        return;
    show(Step(int(*step_) - 1));
}

void TourModel::finish()
{
    if (step_) {
        step_.reset();
        emit stepChanged();
    }
    defaults_.setBoolean(QString::fromLatin1(kSeenKey), true);
}

void TourModel::show(Step step)
{
    changedAt_ = scheduler_.now();
    // A restart of the step on screen still renews changedAt, which watchers
    // (the controller's light show) read.
    step_ = step;
    emit stepChanged();
}

} // namespace zelvo
