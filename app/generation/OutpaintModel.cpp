#include "generation/OutpaintModel.h"

#include "platform/UserDefaults.h"

namespace zelvo {

OutpaintModel::OutpaintModel(UserDefaults& defaults, QObject* parent)
    : QObject(parent), defaults_(defaults), settings_(ForkSettings::restore(defaults))
{
}

void OutpaintModel::setSettings(const ForkSettings& settings)
{
    const bool changed = !(settings == settings_);
    settings_ = settings;
    settings_.store(defaults_);
    if (changed)
        emit settingsChanged();
}

void OutpaintModel::setNotice(const std::optional<QString>& notice)
{
    if (notice == notice_)
        return;
    notice_ = notice;
    emit noticeChanged();
}

void OutpaintModel::setNoticeUntil(const QDateTime& until)
{
    if (until == noticeUntil_)
        return;
    noticeUntil_ = until;
    emit noticeUntilChanged();
}

} // namespace zelvo
