#pragma once
// The four-channel mixer of the four-deck layout; a placeholder of its width
// until it is built. Main thread only.
#include "ui/instrument/ModulePlaceholder.h"

namespace zelvo {

class AppModel;

class FourChannelMixer final : public ModulePlaceholder {
public:
    static constexpr double kWidth = 560;

    FourChannelMixer(AppModel&, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr)
        : ModulePlaceholder(env, QStringLiteral("mixer"), designSize, parent)
    {
        setObjectName(QStringLiteral("instrument.fourMixer"));
        setDetail(QStringLiteral("4 channel"));
    }
};

} // namespace zelvo
