#pragma once
// The two-channel mixer between the decks; a placeholder of its width until
// it is built. Main thread only.
#include "ui/instrument/ModulePlaceholder.h"

namespace zelvo {

class AppModel;

class MixerView final : public ModulePlaceholder {
public:
    static constexpr double kWidth = 448;

    MixerView(AppModel&, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr)
        : ModulePlaceholder(env, QStringLiteral("mixer"), designSize, parent)
    {
        setObjectName(QStringLiteral("instrument.mixer"));
        setDetail(QStringLiteral("2 channel"));
    }
};

} // namespace zelvo
