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

} // namespace zelvo
