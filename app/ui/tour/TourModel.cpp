#include "ui/tour/TourModel.h"

#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"

namespace zelvo {

TourModel::TourModel(UserDefaults& defaults, Scheduler& scheduler, QObject* parent)
    : QObject(parent), defaults_(defaults), scheduler_(scheduler), changedAt_(scheduler.now())
{
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

void TourModel::show(std::optional<Step> step)
{
    changedAt_ = scheduler_.now();
    if (step == step_)
        return;
    step_ = step;
    emit stepChanged();
}

} // namespace zelvo
