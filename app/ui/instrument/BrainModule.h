#pragma once
// The model panel of the faceplate's module row; a placeholder of its width
// until it is built. Main thread only.
#include "ui/instrument/ModulePlaceholder.h"

namespace zelvo {

class AppModel;

class BrainModule final : public ModulePlaceholder {
public:
    static constexpr double kWidth = 560;

    BrainModule(AppModel&, const kit::UiEnv& env, QSizeF designSize, QWidget* parent = nullptr)
        : ModulePlaceholder(env, QStringLiteral("zelvo-0"), designSize, parent)
    {
        setObjectName(QStringLiteral("instrument.brain"));
    }
};

} // namespace zelvo
