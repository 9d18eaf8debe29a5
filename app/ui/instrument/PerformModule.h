#pragma once
// The perform module (mix and effect pages) of the faceplate's module row; a
// placeholder of its width until it is built. Main thread only.
#include "ui/instrument/ModulePlaceholder.h"

namespace zelvo {

class AppModel;

class PerformModule final : public ModulePlaceholder {
public:
    static constexpr double kWidth = 340;

    PerformModule(AppModel&, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr)
        : ModulePlaceholder(env, QStringLiteral("perform"), designSize, parent)
    {
        setObjectName(QStringLiteral("instrument.perform"));
    }
};

} // namespace zelvo
